// Runs and sweeps as an unlucky user or an attacker meets them: folders and base names that
// GNU parallel, the shell or the option parser could read as code or options, a second run
// of an input under way, a name that is not UTF-8, a file-size limit, a signal while the
// grid check runs, and combination summaries that were interrupted or cannot be read. None
// of these checks a number of the physics: the inputs are the small equilibrium case and
// the bundled example, and only statuses, messages and files are compared.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "model/folder_lock.h"
#include "sweep/sweep.h"
#include "test_util.h"

namespace fs = std::filesystem;
using nlohmann::json;
using testutil::read_file;
using testutil::run_command;
using testutil::write_file;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The program with `args` (already quoted for sh) in `dir`, whose name may be anything.
testutil::RunResult program(const fs::path& dir, const std::string& args) {
    return run_command("cd " + shell_quoted(dir.string()) + " && '" TAVOLINE_EXE "' " + args +
                       " </dev/null");
}

// The equilibrium case with `points` calibration points (multipliers 1, 10, 100, ...).
std::string equilibrium(int points) {
    std::string text = read_file(std::string(TAVOLINE_TEST_DATA) + "/equilibrium.cci");
    std::string multipliers;
    for (int k = 0, m = 1; k < points; ++k, m *= 10) multipliers += std::to_string(m) + " ";
    text.replace(text.find("0 1 2 1\n"), 8, "0 1 2 " + std::to_string(points) + "\n");
    const std::string head = "(multiplier for each point):\n";
    text.replace(text.find(head) + head.size(), 2, multipliers + "\n");
    return text;
}

FolderLock hold(const fs::path& file) {
    FolderLock::Attempt attempt{};
    long holder = 0;
    std::string reason;
    return FolderLock::try_take(file.string(), attempt, holder, reason);
}

std::vector<std::string> files_named(const fs::path& dir, const std::string& suffix) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found.push_back(e.path().string());
    }
    return found;
}

// A sweep of two combinations of the equilibrium case, base `base`, in `dir`.
void two_combinations(const fs::path& dir, const std::string& base) {
    fs::create_directories(dir);
    write_file(dir / (base + ".cci"), equilibrium(1));
    write_file(dir / "t.sweep", "base " + base + "\nN[1] 20 30\n");
}

// Starts the program in `dir` with `args`, standard output to dir/out.txt, and returns its
// process id (0 when it could not be started).
pid_t start_program(const fs::path& dir, std::vector<const char*> args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "out.txt", O_WRONLY | O_CREAT, 0644);
    args.insert(args.begin(), TAVOLINE_EXE);
    args.push_back(nullptr);
    pid_t pid = 0;
    const int started = posix_spawn(&pid, TAVOLINE_EXE, &actions, nullptr,
                                    const_cast<char**>(args.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : 0;
}

}  // namespace

// Folder and base name are data, never code or options: every combination runs its own
// input, nothing else runs, and a second `sweep run` or task of a sweep under way is
// turned away naming the process, leaving the combination as it was.
TEST(HostileRuns, SweepInAFolderOfReplacementStringsWithABaseNamedLikeAnOption) {
    testutil::ScratchDir scratch("hostile");
    const fs::path dir = scratch.path() / "p{= system(\"touch INJECTED\") =}q run{}x";
    two_combinations(dir, "-q");
    auto r = program(dir, "sweep run t.sweep");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "2 finished, 0 failed, 0 missing")) << r.output;
    for (const char* c : {"c0001", "c0002"}) {
        const json summary = json::parse(read_file(dir / "t_sweep" / c / "-q/summary.json"));
        EXPECT_EQ(summary["input"], "-q.cci");
        EXPECT_EQ(summary["status"], "finished");
    }
    EXPECT_TRUE(files_named(scratch.path(), "INJECTED").empty());

    const std::string pid = std::to_string(getpid());
    {
        const FolderLock sweepRun = hold(dir / ".t_sweep.lock");
        r = program(dir, "sweep run --retry-failed t.sweep");
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "is being run by process " + pid)) << r.output;
    }
    const std::string task = read_file(dir / "t_sweep/c0001/task.json");
    const FolderLock combination = hold(dir / "t_sweep/c0001/.task.lock");
    r = program(dir, "sweep task t.sweep 1");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(contains(r.output, "Combination c0001 is being run by process " + pid)) << r.output;
    EXPECT_EQ(read_file(dir / "t_sweep/c0001/task.json"), task);
}

// An interrupted combination is not done: collect reports it, and the next run runs it
// again. A summary.json of the wrong shape is reported as unreadable, the other
// combinations are collected, and it is run again too.
TEST(HostileRuns, InterruptedAndUnreadableCombinationsAreReportedAndRunAgain) {
    testutil::ScratchDir scratch("resume");
    const fs::path dir = scratch.path();
    two_combinations(dir, "b");
    ASSERT_EQ(program(dir, "sweep run t.sweep").status, 0);
    const fs::path first = dir / "t_sweep/c0001/b/summary.json";
    json summary = json::parse(read_file(first));
    summary["status"] = "interrupted";
    write_file(first, summary.dump());

    for (const char* wrong : {R"({"status": 7})", R"({"status": "finished", "points": 7})",
                              R"({"status": "finished", "points": [{"point": 1e300}]})", "[1,"}) {
        write_file(dir / "t_sweep/c0002/b/summary.json", wrong);
        const auto r = program(dir, "sweep collect t.sweep");
        EXPECT_EQ(r.status, 0) << wrong << "\n" << r.output;
        const std::string csv = read_file(dir / "t_sweep/sweep_results.csv");
        EXPECT_TRUE(contains(csv, "\n1,c0001,20,interrupted,")) << csv;
        EXPECT_TRUE(contains(csv, "\n2,c0002,30,unreadable,")) << csv;
        EXPECT_TRUE(contains(r.output, "0 finished, 1 failed, 1 missing")) << r.output;
    }
    const auto r = program(dir, "sweep run t.sweep");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "Running 2 combinations")) << r.output;
    EXPECT_TRUE(contains(r.output, "2 finished, 0 failed, 0 missing")) << r.output;
}

// A second run of an input under way is refused before anything is renamed or written,
// naming the process that runs it; once that run has ended, the input runs as always.
TEST(HostileRuns, SecondRunOfAnInputUnderWayIsRefused) {
    testutil::ScratchDir scratch("twice");
    const fs::path dir = scratch.path();
    write_file(dir / "b.cci", equilibrium(1));
    fs::create_directories(dir / "b");
    write_file(dir / "b/notes", "the first run's\n");
    {
        const FolderLock running = hold(dir / ".b.lock");
        const auto r = program(dir, "-q --debye-grid b");
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "Another run of b is under way in this folder (process " +
                                           std::to_string(getpid())))
            << r.output;
        EXPECT_EQ(read_file(dir / "b/notes"), "the first run's\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);
    }
    const auto r = program(dir, "-q --debye-grid b");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(fs::exists(dir / ".b.lock"));

    // A lock that cannot be taken refuses the run too: nothing renamed, the link kept.
    fs::create_symlink("/dev/null", dir / ".b.lock");
    const auto entries = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    const auto linked = program(dir, "-q --debye-grid b");
    EXPECT_EQ(linked.status, 1) << linked.output;
    EXPECT_TRUE(contains(linked.output, ".b.lock cannot be locked (")) << linked.output;
    EXPECT_TRUE(fs::is_symlink(dir / ".b.lock"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), entries);
}

// An input named by its absolute path runs into the folder beside it, under its lock,
// whatever the working folder.
TEST(HostileRuns, AnAbsoluteInputPathRunsBesideTheInput) {
    testutil::ScratchDir scratch("absolute");
    const fs::path in = scratch.path() / "in", elsewhere = scratch.path() / "runs";
    fs::create_directories(in);
    fs::create_directories(elsewhere);
    write_file(in / "s.cci", equilibrium(1));
    const auto r = program(elsewhere, "-q --debye-grid " + shell_quoted((in / "s").string()));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(fs::exists(in / "s" / "summary.json"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

// A file name of other bytes than UTF-8 runs every point; summary.json and report.html
// carry it with U+FFFD in place of the byte.
TEST(HostileRuns, NameThatIsNotUtf8RunsEveryPoint) {
    testutil::ScratchDir scratch("latin1");
    const fs::path dir = scratch.path();
    write_file(dir / "f\xE9.cci", equilibrium(3));
    const auto r = program(dir, "-q --debye-grid 'f\xE9'");
    ASSERT_EQ(r.status, 0) << r.output;
    const json summary = json::parse(read_file(dir / "f\xE9/summary.json"));
    EXPECT_EQ(summary["input"], "f\xEF\xBF\xBD.cci");
    EXPECT_EQ(summary["points"].size(), 3u);
    EXPECT_TRUE(contains(read_file(dir / "f\xE9/report.html"), " run f\xEF\xBF\xBD</title>"));
    EXPECT_TRUE(fs::exists(dir / "f\xE9/100/y.vec"));
}

// A write beyond the file-size limit fails like a full disk: the file is named, its
// temporary removed, and the run ends with status 3 instead of being killed.
TEST(HostileRuns, FileSizeLimitIsAWriteFailure) {
    testutil::ScratchDir scratch("fsize");
    const fs::path dir = scratch.path();
    fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / "b.cci", dir / "b.cci");
    // sh counts the limit in blocks of 512 bytes: 4 KiB, less than the run's larger files.
    const auto r = run_command("cd " + shell_quoted(dir.string()) +
                               " && ulimit -f 8 && exec '" TAVOLINE_EXE
                               "' -q --debye-grid b </dev/null >out.txt");
    EXPECT_EQ(r.status, 3) << r.output;
    const std::string out = read_file(dir / "out.txt");
    EXPECT_TRUE(contains(out, "cannot be written. (File too large)")) << out;
    EXPECT_TRUE(files_named(dir, ".tmp").empty());
}

// SIGTERM while the grid check runs (after the last point's summary) ends the run as
// interrupted, with status 143, on standard output, in summary.json and in report.html.
TEST(HostileRuns, SignalDuringTheGridCheckIsAnInterruption) {
    testutil::ScratchDir scratch("gridstop");
    const fs::path dir = scratch.path();
    fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / "b.cci", dir / "b.cci");
    const pid_t pid = start_program(dir, {"-q", "--debye-grid", "--check-grid", "b"});
    ASSERT_GT(pid, 0);
    // The last point's summary says "running" until the grid check has ended.
    bool sent = false;
    int status = 0;
    while (!sent && waitpid(pid, &status, WNOHANG) == 0) {
        const json s = json::parse(read_file(dir / "b/summary.json"), nullptr, false);
        if (s.is_object() && s["status"] == "running" && s["points"].size() == 5)
            sent = kill(pid, SIGTERM) == 0;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (sent) waitpid(pid, &status, 0);
    ASSERT_TRUE(sent) << "the run ended before the test saw its last point";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 143) << status;
    EXPECT_TRUE(contains(read_file(dir / "out.txt"), "The run was interrupted by SIGTERM"));
    const json summary = json::parse(read_file(dir / "b/summary.json"));
    EXPECT_EQ(summary["status"], "interrupted");
    EXPECT_EQ(summary["exit_code"], 143);
    EXPECT_TRUE(contains(read_file(dir / "b/report.html"), "Interrupted: SIGTERM"));
}

// Standard output to a file (a batch job's log) gets each line when it is written: the
// automatic grid's first line is there while the run still goes on, not at its end.
TEST(HostileRuns, StandardOutputToAFileArrivesLineByLine) {
    testutil::ScratchDir scratch("lines");
    const fs::path dir = scratch.path();
    fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / "ionophore.cci", dir / "ionophore.cci");
    const pid_t pid = start_program(dir, {"-q", "ionophore"});
    ASSERT_GT(pid, 0);
    // The first grid of the ionophore's refinement runs for seconds (seven points of 1000 s):
    // the line that opens the refinement must be read before the line of that grid is
    // written. Held in a buffer, it would come with a later flush, together with that line.
    bool seen = false;
    int status = 0;
    while (!seen && waitpid(pid, &status, WNOHANG) == 0) {
        const std::string out = read_file(dir / "out.txt");
        if (contains(out, "\nGrid 1 (")) break;
        seen = contains(out, "Automatic grid: ");
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (seen) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(seen) << "the output arrived only when the run ended:\n"
                      << read_file(dir / "out.txt");
}

// When the grid the run proper went on turns out not to be the last, the run is repeated on
// a finer one. Its first pass is no earlier run: without a signal only the repeat's folder
// remains; with SIGTERM once the repeat is under way, the first pass's complete points
// stay in the run folder, whose summary says "interrupted", and nothing else is left.
TEST(HostileRuns, ARepeatedRunLosesNoPointAndLeavesNoEarlierRun) {
    testutil::ScratchDir scratch("repeat");
    const fs::path dir = scratch.path();
    fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / "two_layers.cci", dir / "two_layers.cci");
    const auto plain = program(dir, "-q --accuracy 0.04 two_layers");
    ASSERT_TRUE(contains(plain.output, "The results still change")) << plain.output;
    EXPECT_EQ(plain.status, 0) << plain.output;
    EXPECT_FALSE(contains(plain.output, "earlier run")) << plain.output;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

    fs::remove_all(dir / "two_layers");
    const pid_t pid = start_program(dir, {"-q", "--accuracy", "0.04", "two_layers"});
    ASSERT_GT(pid, 0);
    bool sent = false;
    int status = 0;
    while (!sent && waitpid(pid, &status, WNOHANG) == 0) {
        if (contains(read_file(dir / "out.txt"), "The results still change"))
            sent = kill(pid, SIGTERM) == 0;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (sent) waitpid(pid, &status, 0);
    ASSERT_TRUE(sent) << "the run ended before it was repeated";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 143) << status;
    const json summary = json::parse(read_file(dir / "two_layers/summary.json"));
    EXPECT_EQ(summary["status"], "interrupted");
    EXPECT_EQ(summary["points"].size(), 3u);
    for (const json& p : summary["points"]) {  // on the first pass's grid, not converged there
        EXPECT_TRUE(p["final_potential_mV"].is_number()) << p;
        EXPECT_NE(p["status"], "interrupted");
    }
    EXPECT_TRUE(contains(summary["message"].get<std::string>(), "3 of 3 calibration points"));
    // the input, the run folder and the captured output: no other folder
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);
}
