// Result files are whole or absent. Every file is written under a temporary name and
// renamed into place only when complete, so whatever stops a write (a full disk, a folder
// that may not be written, a signal) leaves complete files and no temporaries: tables end
// with a line end, PostScript with "showpage\n", SVG with "</svg>\n", y.vec holds nEq + 2
// numbers. A file that could not be written is named on standard output and the run ends
// with status 3; SIGTERM ends it with 128 + 15 after the integration step under way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "test_util.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Why a file of the run folder is not whole, or "" when it is.
std::string incomplete(const fs::path& file) {
    const std::string name = file.filename().string();
    const std::string text = testutil::read_file(file);
    if (name.ends_with(".tmp")) return "a temporary file was left";
    if (name == "y.vec") {
        std::istringstream in(text);
        double nEq = 0, value = 0;
        int count = 0;
        in >> nEq;
        while (in >> value) ++count;
        return count == nEq + 1 ? "" : "holds " + std::to_string(count) + " values after nEq";
    }
    if (name == "summary.json") return json::accept(text) ? "" : "is no JSON";
    const auto ends = [&](const char* end) { return text.ends_with(end) ? "" : "is cut"; };
    if (name == "data.html") return ends("</body></html>");
    if (name == "report.html") return ends("</html>\n");
    if (name.ends_with(".ps")) return ends("showpage\n");
    if (name.ends_with(".svg")) return ends("</svg>\n");
    if (name.ends_with(".dat") || name.ends_with(".txt") || name.ends_with(".csv"))
        return ends("\n");
    // The input copies end with the PostScript switch, the legacy form with a line end.
    if (name.ends_with(".cci"))
        return text.ends_with("0-No);\n1") || text.ends_with("0-No);\n1\n") ? "" : "is cut";
    return "is of no known kind";
}

void expect_whole_files(const fs::path& run) {
    for (const auto& e : fs::recursive_directory_iterator(run)) {
        if (e.is_regular_file()) {
            EXPECT_EQ(incomplete(e.path()), "") << e.path();
        }
    }
}

// A file system mounted on `dir` for the life of the object; ok() false when the mount
// was refused (not root, or no right to mount in this container).
class Mount {
  public:
    Mount(const char* source, const fs::path& dir, const char* type, unsigned long flags,
          const char* options)
        : dir_(dir) {
        mounted_ = mount(source, dir.c_str(), type, flags, options) == 0;
    }
    ~Mount() {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    bool ok() const { return mounted_; }

  private:
    fs::path dir_;
    bool mounted_ = false;
};

void copy_example(const std::string& name, const fs::path& dir) {
    fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / (name + ".cci"), dir / (name + ".cci"));
}

}  // namespace

// b writes about 2.5 MB; a file system of 48 kB fills up during the first point. The run
// goes on to its last point, names every file it could not write, and leaves only whole
// ones.
TEST(ResultFiles, FullDiskLeavesWholeFilesAndEndsWithStatusThree) {
    testutil::ScratchDir scratch("full");
    Mount tmpfs("tmpfs", scratch.path(), "tmpfs", 0, "size=48k");
    if (!tmpfs.ok()) GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root)";
    copy_example("b", scratch.path());
    const auto r = testutil::run_program(scratch.path(), "b");
    EXPECT_EQ(r.status, 3) << r.output;

    // "File X cannot be written. (why)" (some tables have no blank before "cannot"), or a
    // plot's "     X: why"
    const std::regex failed(R"((File (\S+?) ?cannot be (opened|written)\. \(|     (\S+): ).*\n)");
    std::set<std::string> named;
    for (std::sregex_iterator it(r.output.begin(), r.output.end(), failed), end; it != end; ++it)
        named.insert((*it)[2].matched ? (*it)[2].str() : (*it)[4].str());
    EXPECT_TRUE(named.count("./b/10000/y.vec")) << r.output;  // the run went on to the end
    EXPECT_NE(r.output.find("No space left on device"), std::string::npos);
    EXPECT_NE(r.output.find(" result files could not be written; see the messages above.\n"),
              std::string::npos);
    expect_whole_files(scratch.path() / "b");
    if (fs::exists(scratch.path() / "b" / "summary.json")) {  // an earlier one, if any
        const json s = json::parse(testutil::read_file(scratch.path() / "b" / "summary.json"));
        for (const json& f : s.value("unwritten_files", json::array()))
            EXPECT_TRUE(named.count("./b/" + f["file"].get<std::string>())) << f;
    }
}

// Nothing can be made where the run folder should go, not even the run's lock: the run
// stops before computing anything, with status 1 and the lock file named, and the input
// stays as it was.
TEST(ResultFiles, ReadOnlyWorkingFolderStopsTheRun) {
    testutil::ScratchDir scratch("readonly");
    const fs::path source = scratch.path() / "source", view = scratch.path() / "view";
    fs::create_directories(source);
    fs::create_directories(view);
    copy_example("b", source);
    const bool root = geteuid() == 0;
    // Root writes whatever the permissions say; a read-only view of the folder (a bind
    // mount) stops it too.
    Mount bind(root ? source.c_str() : nullptr, view, nullptr, MS_BIND, nullptr);
    if (root && (!bind.ok() ||
                 mount(nullptr, view.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr)))
        GTEST_SKIP() << "no read-only bind mount here";
    if (!root) fs::permissions(source, fs::perms::owner_write, fs::perm_options::remove);
    const std::string input = testutil::read_file(source / "b.cci");
    const auto r = testutil::run_program(root ? view : source, "b");
    if (!root) fs::permissions(source, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("The run folder of b cannot be guarded against a second run: .b.lock "
                            "cannot be locked ("),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("iteration number"), std::string::npos) << r.output;
    EXPECT_EQ(std::distance(fs::directory_iterator(source), fs::directory_iterator()), 1);
    EXPECT_EQ(testutil::read_file(source / "b.cci"), input);
}

// A file in the place of the run folder stops the run before anything is written.
TEST(ResultFiles, FileWhereTheRunFolderShouldBeStopsTheRun) {
    testutil::ScratchDir scratch("runfile");
    copy_example("b", scratch.path());
    testutil::write_file(scratch.path() / "b", "notes\n");
    const auto r = testutil::run_program(scratch.path(), "b");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("The run folder ./b cannot be made"), std::string::npos) << r.output;
    EXPECT_EQ(testutil::read_file(scratch.path() / "b"), "notes\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 2);
}

// Standard output that takes nothing (a full disk) is a result not written: status 3, and
// summary.json says so; the files are all there.
TEST(ResultFiles, StandardOutputThatCannotBeWrittenGivesStatusThree) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    testutil::ScratchDir scratch("stdout");
    copy_example("chrono", scratch.path());
    const auto r = testutil::run_command("(cd '" + scratch.str() +
                                         "' && '" TAVOLINE_EXE "' chrono </dev/null >/dev/full)");
    EXPECT_EQ(r.status, 3) << r.output;
    const json s = json::parse(testutil::read_file(scratch.path() / "chrono" / "summary.json"));
    EXPECT_EQ(s["status"], "finished");
    EXPECT_EQ(s["exit_code"], 3);
    ASSERT_EQ(s["unwritten_files"].size(), 1u);
    EXPECT_EQ(s["unwritten_files"][0]["file"], "standard output");
    expect_whole_files(scratch.path() / "chrono");
}

// SIGTERM while the second of three points is integrated: the first point's files stand,
// the second keeps the files of the state it reached, the third has none, and the run ends
// with 128 + 15, summary.json and report.html saying "interrupted".
TEST(ResultFiles, SigtermEndsTheRunAfterTheStepUnderWay) {
    testutil::ScratchDir scratch("signal");
    std::string text = testutil::read_file(fs::path(TAVOLINE_EXAMPLES) / "b.cci");
    // 4000 cells make a point last most of a second (longer under the sanitizers).
    text = std::regex_replace(text, std::regex(R"((-- N \[layers\][^\n]*\n)40\n)"), "$014000\n");
    text = std::regex_replace(text, std::regex("\n0 1 2 5\n"), "\n0 1 2 3\n");
    text = std::regex_replace(text, std::regex("\n1 10 100 1000 10000\n"), "\n1 10 100\n");
    testutil::write_file(scratch.path() / "s.cci", text);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(scratch.str().c_str()) != 0 || !freopen("s.out", "w", stdout)) _exit(126);
        execl(TAVOLINE_EXE, "tavoline", "-q", "--debye-grid", "s", static_cast<char*>(nullptr));
        _exit(127);
    }
    const fs::path run = scratch.path() / "s";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!fs::exists(run / "1" / "mempot.svg") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // into the second point
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string output = testutil::read_file(scratch.path() / "s.out");
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM) << output;

    const json s = json::parse(testutil::read_file(run / "summary.json"));
    EXPECT_EQ(s["status"], "interrupted");
    EXPECT_EQ(s["exit_code"], 128 + SIGTERM);
    ASSERT_GE(s["points"].size(), 1u);
    ASSERT_LE(s["points"].size(), 2u);
    EXPECT_EQ(s["points"][0]["status"], "finished");
    if (s["points"].size() == 2) {  // the usual case: the signal came during the integration
        EXPECT_EQ(s["points"][1]["status"], "interrupted");
        EXPECT_NE(output.find("Calibration point 2 (multiplier 10): the potentiometric "
                              "integration was interrupted by SIGTERM at t = "),
                  std::string::npos)
            << output;
        EXPECT_TRUE(fs::exists(run / "10" / "y.vec"));
    }
    EXPECT_NE(output.find("The run was interrupted by SIGTERM after 1 of 3 calibration points.\n"),
              std::string::npos)
        << output;
    EXPECT_NE(testutil::read_file(run / "report.html").find("class=\"stopped interrupted\""),
              std::string::npos);
    EXPECT_TRUE(fs::is_empty(run / "100"));
    for (const char* f : {"y.vec", "xwyn.dat", "ywyn.dat", "et.dat", "wyn.svg", "mempot.ps"})
        EXPECT_TRUE(fs::exists(run / "1" / f)) << f;
    expect_whole_files(run);
}
