// GNU parallel expands replacement strings ({}, {1}, {.}, {= perl =}) wherever they stand in
// its command, quoted or not, and reads a leading '-' as an option. `sweep run` must start
// it so that no path reaches it as text: whatever the folder of the program and of the
// sweep file is called, every combination's command gets exactly the words
// `sweep task -- SWEEPFILE ID`, and nothing else runs. Checked with the real parallel on
// hostile names and on random ones drawn from the characters that parallel, the shell and
// the program's option parser treat specially; the program is replaced by a script that
// records its arguments.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <random>

#include "sweep/sweep.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

// Runs parallel as parallel_start says, in `folder`; returns its exit status.
int run_parallel(const ParallelStart& start, const fs::path& folder) {
    const std::vector<std::string> env = environment_with(start.environment);
    std::vector<char*> argv, envp;
    for (const std::string& a : start.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int err = posix_spawnp(&pid, "parallel", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(SweepParallel, NoPathIsReadAsAReplacementStringAnOptionOrCode) {
    if (testutil::run_command("parallel --version </dev/null >/dev/null").status != 0)
        GTEST_SKIP() << "GNU parallel is not installed";
    std::vector<std::string> names = {"p{= system(\"touch INJECTED\") =}q",
                                      "run{}x",
                                      "{1}{.}{#}{%}{}{+.}",
                                      "-q",
                                      "--",
                                      "a'b\"c\\d",
                                      "new\nline",
                                      "f\xE9",
                                      "$(touch INJECTED)",
                                      "`touch INJECTED`",
                                      "::: 5",
                                      "a b\tc;|&<>*",
                                      "{=1=}"};
    const std::string alphabet = "{}=-'\"\\$`;|&<>()*? \n\t:.%#@!~\xE9\xFFqx1";
    std::mt19937 random(19);
    while (names.size() < 20) {
        std::string name;
        for (std::size_t n = 1 + random() % 12; n > 0; --n)
            name += alphabet[random() % alphabet.size()];
        if (name != "." && name != "..") names.push_back(name);
    }
    testutil::ScratchDir scratch("parallel");
    for (const std::string& name : names) {
        SCOPED_TRACE(testing::PrintToString(name));
        const fs::path folder = scratch.path() / name;
        const fs::path work = folder / "work";
        fs::create_directories(work);
        const fs::path program = folder / name;  // the binary's own name hostile too
        testutil::write_file(program, "#!/bin/sh\nprintf '%s\\0' \"$@\" >> \"$RECORD\"\n");
        fs::permissions(program, fs::perms::owner_all);
        const std::string sweepFile = (folder / (name + ".sweep")).string();

        ParallelStart start = parallel_start(program.string(), sweepFile, {1, 12}, 1);
        start.environment.push_back("RECORD=" + (folder / "record").string());
        ASSERT_EQ(run_parallel(start, work), 0);

        const std::string words =
            std::string("sweep") + '\0' + "task" + '\0' + "--" + '\0' + sweepFile + '\0';
        EXPECT_EQ(testutil::read_file(folder / "record"), words + "1" + '\0' + words + "12" + '\0');
    }
    // Nothing but the scripts, their records and the job logs was made.
    for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
        const std::string file = entry.path().filename().string();
        if (!entry.is_regular_file()) continue;
        EXPECT_TRUE(file == "record" || file == "parallel.log" ||
                    file == entry.path().parent_path().filename().string())
            << entry.path();
    }
}
