#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "driver/sweep.h"
#include "model/errors.h"
#include "model/text_scanner.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// The program's own binary, so that every combination runs the very build that planned it.
std::string own_executable() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) throw Fault(FaultKind::input, "The program cannot find its own binary: " + ec.message(), false);
    return self.string();
}

// Exit status of a child as the shell states it: its own status, or 128 + the signal.
int exit_status(int waitStatus) {
    return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : WEXITSTATUS(waitStatus);
}

// Starts `args` (found on PATH when args[0] has no slash) with the given file actions and
// waits for it. Returns the raw wait status, or throws when it cannot be started.
int spawn_and_wait(const std::vector<std::string>& args, const posix_spawn_file_actions_t* actions,
                   const std::string& what) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int err = posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ);
    if (err != 0)
        throw Fault(FaultKind::input, what + " cannot be started: " + std::strerror(err), false);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw Fault(FaultKind::input, what + " could not be waited for: " + std::strerror(errno), false);
    return status;
}

// Values that go into the job script's #SBATCH lines, which sbatch reads without any
// quoting: only characters that cannot end or extend a line.
void check_slurm_value(const std::string& option, const std::string& value) {
    for (const char ch : value)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && std::string("_.:,+-").find(ch) == std::string::npos)
            throw InputError("Option " + option + " takes letters, digits and _.:,+- only, found '" +
                             visible_text(value) + "'");
}

std::string job_script(const SweepLayout& layout,
                       const std::vector<long long>& ids, const SlurmOptions& o) {
    std::string name = layout.sweepFile.stem().string();
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_' && ch != '-' && ch != '.') ch = '_';
    std::string s = "#!/bin/sh\n";
    s += "#SBATCH --job-name=" + name + "\n";
    s += "#SBATCH --array=" + array_ranges(ids) +
         (o.maxRunning > 0 ? "%" + std::to_string(o.maxRunning) : "") + "\n";
    s += "#SBATCH --output=slurm-%A_%a.out\n";
    s += "#SBATCH --ntasks=1\n";
    if (!o.partition.empty()) s += "#SBATCH --partition=" + o.partition + "\n";
    if (!o.time.empty()) s += "#SBATCH --time=" + o.time + "\n";
    if (!o.memory.empty()) s += "#SBATCH --mem=" + o.memory + "\n";
    // Paths stand only in the quoted command, never in a comment, where a line end in
    // them would start a command of its own.
    s += "# One combination of the sweep per array task (" + std::to_string(ids.size()) + " of " +
         std::to_string(layout.count) + " still to run when written).\n";
    s += "exec " + shell_quoted(own_executable()) + " sweep task " +
         shell_quoted(layout.sweepFile.string()) + " \"$SLURM_ARRAY_TASK_ID\"\n";
    return s;
}

int run_slurm(const SweepFile& sweep, const SweepLayout& layout, const std::vector<long long>& ids,
              const SlurmOptions& o) {
    const fs::path script = layout.folder / (layout.sweepFile.stem().string() + ".sbatch");
    write_whole(script, job_script(layout, ids, o));
    std::cout << "Job script " << script.string() << " written: " << ids.size()
              << " combinations to run." << std::endl;
    if (o.dryRun) return 0;
    std::vector<std::string> args = {"sbatch", "--chdir", layout.folder.string()};
    if (o.wait) args.push_back("--wait");
    args.push_back(script.string());
    const int status = exit_status(spawn_and_wait(args, nullptr, "sbatch"));
    if (o.wait || status != 0) std::cout << outcome_line(sweep, layout) << std::endl;
    return status == 0 ? 0 : 1;
}

int run_parallel(const SweepFile& sweep, const SweepLayout& layout, const std::vector<long long>& ids,
                 int jobs) {
    // GNU parallel runs each job through a shell: -q quotes every word of the command, and
    // the ids it appends are generated digits.
    std::vector<std::string> args = {"parallel", "--halt", "never", "-j", std::to_string(jobs),
                                     "--joblog", (layout.folder / "parallel.log").string(), "-q",
                                     own_executable(), "sweep", "task", layout.sweepFile.string(),
                                     ":::"};
    for (const long long id : ids) args.push_back(std::to_string(id));
    std::cout << "Running " << ids.size() << " combinations, " << jobs << " at a time." << std::endl;
    const int status = spawn_and_wait(args, nullptr, "GNU parallel (Debian package `parallel`)");
    // parallel's own status counts the jobs that failed; 255 and above say it did not run.
    if (exit_status(status) > 100)
        std::cout << "GNU parallel ended with status " << exit_status(status) << "." << std::endl;
    const std::string line = outcome_line(sweep, layout);
    std::cout << line << std::endl;
    return line.rfind(std::to_string(layout.count) + " finished", 0) == 0 ? 0 : 2;
}

}  // namespace

std::string shell_quoted(const std::string& text) {
    std::string s = "'";
    for (const char ch : text) s += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return s + "'";
}

std::string array_ranges(const std::vector<long long>& ids) {
    std::string s;
    for (size_t i = 0; i < ids.size();) {
        size_t j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
        s += (s.empty() ? "" : ",") + std::to_string(ids[i]) +
             (j > i ? "-" + std::to_string(ids[j]) : "");
        i = j + 1;
    }
    return s;
}

int sweep_plan_command(const std::string& sweepPath) {
    const SweepFile sweep = read_sweep_file(sweepPath);
    const SweepLayout layout = sweep_layout(sweep, sweepPath);
    const long long written = plan_sweep(sweep, layout);
    std::cout << layout.count << " combinations in " << layout.folder.string() << " (" << written
              << " inputs written); manifest sweep.csv." << std::endl;
    return 0;
}

int sweep_run_command(const std::string& sweepPath, int jobs, bool retryFailed,
                      const SlurmOptions* slurm) {
    if (slurm) {
        check_slurm_value("--partition", slurm->partition);
        check_slurm_value("--time", slurm->time);
        check_slurm_value("--mem", slurm->memory);
    }
    const SweepFile sweep = read_sweep_file(sweepPath);
    const SweepLayout layout = sweep_layout(sweep, sweepPath);
    // Folders removed since the last plan are planned again; present ones are kept.
    plan_sweep(sweep, layout);
    std::vector<long long> pending;
    for (long long id = 1; id <= layout.count; ++id) {
        const CombinationState state = combination_state(sweep, layout, id);
        const bool done = state.recorded && (state.outcome == Outcome::finished || !retryFailed);
        if (!done) pending.push_back(id);
    }
    if (pending.empty()) {
        std::cout << "Nothing to run: " << outcome_line(sweep, layout) << "." << std::endl;
        return 0;
    }
    if (slurm) return run_slurm(sweep, layout, pending, *slurm);
    if (jobs <= 0) jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return run_parallel(sweep, layout, pending, jobs);
}

int sweep_task_command(const std::string& sweepPath, long long id) {
    const SweepFile sweep = read_sweep_file(sweepPath);
    const SweepLayout layout = sweep_layout(sweep, sweepPath);
    if (id < 1 || id > layout.count)
        throw InputError("Combination " + std::to_string(id) + " of " + sweepPath +
                         " does not exist: its ids run from 1 to " + std::to_string(layout.count) + ".");
    const fs::path folder = layout.combination_folder(id);
    if (!fs::exists(folder / (sweep.baseName + ".cci")))
        throw InputError("Combination folder " + folder.string() +
                         " holds no input; plan the sweep first (tavoline sweep plan).");
    std::error_code ec;
    fs::remove(folder / "task.json", ec);
    // The run goes on in a child process in the combination's folder, its output to
    // run.log there, so that a crash or a signal ends only this combination and is recorded.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "run.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    int status = 0;
    try {
        status = spawn_and_wait({own_executable(), "--quiet", sweep.baseName}, &actions, "The run");
    } catch (...) {
        posix_spawn_file_actions_destroy(&actions);
        throw;
    }
    posix_spawn_file_actions_destroy(&actions);
    nlohmann::json record = {{"id", id}, {"folder", layout.folder_name(id)}};
    if (WIFSIGNALED(status))
        record["signal"] = WTERMSIG(status);
    else
        record["exit_code"] = WEXITSTATUS(status);
    write_whole(folder / "task.json", record.dump(1) + "\n");
    const CombinationState state = combination_state(sweep, layout, id);
    std::cout << layout.folder_name(id) << ": " << (state.status.empty() ? "no result" : state.status)
              << (state.message.empty() ? "" : " (" + state.message + ")") << std::endl;
    return exit_status(status);
}
