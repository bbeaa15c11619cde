#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/message_sink.h"
#include "driver/stop_signal.h"
#include "model/errors.h"
#include "model/folder_lock.h"
#include "model/text_scanner.h"
#include "sweep/sweep.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// The program's own binary, so that every combination runs the very build that planned it.
std::string own_executable() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        throw Fault(FaultKind::input, "The program cannot find its own binary: " + ec.message(),
                    false);
    return self.string();
}

// Exit status of a child as the shell states it: its own status, or 128 + the signal.
int exit_status(int waitStatus) {
    return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : WEXITSTATUS(waitStatus);
}

// Starts `args` (found on PATH when args[0] has no slash) with the given file actions and
// environment (this process's own when null) and waits for it. Returns the raw wait
// status, or throws when it cannot be started.
int spawn_and_wait(const std::vector<std::string>& args, const posix_spawn_file_actions_t* actions,
                   const std::string& what, const std::vector<std::string>* environment = nullptr) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (environment != nullptr) {
        for (const std::string& e : *environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
    }
    pid_t pid = 0;
    const int err = posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(),
                                 environment != nullptr ? envp.data() : environ);
    if (err != 0)
        throw Fault(FaultKind::input, what + " cannot be started: " + std::strerror(err), false);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw Fault(FaultKind::input,
                        what + " could not be waited for: " + std::strerror(errno), false);
    return status;
}

// Values that go into the job script's #SBATCH lines, which sbatch reads without any
// quoting: only characters that cannot end or extend a line.
void check_slurm_value(const std::string& option, const std::string& value) {
    for (const char ch : value)
        if (!std::isalnum(static_cast<unsigned char>(ch)) &&
            std::string("_.:,+-").find(ch) == std::string::npos)
            throw InputError("Option " + option +
                             " takes letters, digits and _.:,+- only, found '" +
                             visible_text(value) + "'");
}

std::string job_script(const SweepLayout& layout, const std::vector<long long>& ids,
                       const SlurmOptions& o) {
    std::string name = layout.sweepFile.stem().string();
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_' && ch != '-' && ch != '.')
            ch = '_';
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
    s += "exec " + shell_quoted(own_executable()) + " sweep task -- " +
         shell_quoted(layout.sweepFile.string()) + " \"$SLURM_ARRAY_TASK_ID\"\n";
    return s;
}

int run_slurm(const SweepFile& sweep, const SweepLayout& layout, const std::vector<long long>& ids,
              const SlurmOptions& o, MessageSink& sink) {
    const fs::path script = layout.folder / (layout.sweepFile.stem().string() + ".sbatch");
    write_whole(script, job_script(layout, ids, o));
    tell(sink, "Job script ", script.string(), " written: ", ids.size(), " combinations to run.\n");
    sink.flush();
    if (o.dryRun) return 0;
    std::vector<std::string> args = {"sbatch", "--chdir", layout.folder.string()};
    if (o.wait) args.push_back("--wait");
    args.push_back(script.string());
    const int status = exit_status(spawn_and_wait(args, nullptr, "sbatch"));
    if (o.wait || status != 0) {
        tell(sink, outcome_line(sweep, layout), "\n");
        sink.flush();
    }
    return status == 0 ? 0 : 1;
}

// Takes the lock `file` for `what`, refusing (InputError) when another process holds it or
// the lock cannot be taken at all (a symbolic link, a folder or a file that may not be
// opened in its place): a run that went on unguarded could mix with another.
FolderLock take_lock(const fs::path& file, const std::string& what) {
    FolderLock::Attempt attempt = FolderLock::Attempt::failed;
    long holder = 0;
    std::string reason;
    FolderLock lock = FolderLock::try_take(file.string(), attempt, holder, reason);
    if (attempt == FolderLock::Attempt::busy)
        throw InputError(what + " is being run by " +
                         (holder > 0 ? "process " + std::to_string(holder)
                                     : std::string("a process just starting")) +
                         " (which holds " + visible_text(file.string()) +
                         "); this command stops and leaves it alone. Wait for that run to end.");
    if (attempt != FolderLock::Attempt::taken)
        throw InputError(what + " cannot be guarded against a second run: " +
                         visible_text(file.string()) + " cannot be locked (" + reason + ").");
    return lock;
}

int run_parallel(const SweepFile& sweep, const SweepLayout& layout,
                 const std::vector<long long>& ids, int jobs,
                 const volatile std::sig_atomic_t* stopSignal, MessageSink& sink) {
    const ParallelStart start =
        parallel_start(own_executable(), layout.sweepFile.string(), ids, jobs);
    const std::vector<std::string> environment = environment_with(start.environment);
    // parallel runs in the sweep folder, where its job log goes under a fixed name.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, layout.folder.c_str());
    // Said before parallel starts, whose own output goes to the same standard output.
    tell(sink, "Running ", ids.size(), " combinations, ", jobs, " at a time.\n");
    sink.flush();
    int status = 0;
    try {
        status = spawn_and_wait(start.args, &actions, "GNU parallel (Debian package `parallel`)",
                                &environment);
    } catch (...) {
        posix_spawn_file_actions_destroy(&actions);
        throw;
    }
    posix_spawn_file_actions_destroy(&actions);
    // parallel's own status counts the jobs that failed; 255 and above say it did not run.
    if (exit_status(status) > 100) {
        tell(sink, "GNU parallel ended with status ", exit_status(status), ".\n");
        sink.flush();
    }
    const std::string line = outcome_line(sweep, layout);
    tell(sink, line, "\n");
    sink.flush();
    if (const int signal = *stopSignal; signal != 0) {
        tell(sink, "The sweep run was interrupted by ", signal_name(signal),
             "; the next `sweep run` runs the interrupted combinations again.\n");
        sink.flush();
        return 128 + signal;
    }
    return line.rfind(std::to_string(layout.count) + " finished", 0) == 0 ? 0 : 2;
}

}  // namespace

ParallelStart parallel_start(const std::string& executable, const std::string& sweepFile,
                             const std::vector<long long>& ids, int jobs) {
    ParallelStart start;
    // parallel hands its command to a shell, expanding replacement strings ({}, {.},
    // {= perl =}) in it even where -q quotes it: the template is fixed text, the paths reach
    // it as variables the shell expands after parallel is done, and "--" keeps a name from
    // being read as an option. Only the ids, generated digits, go through parallel.
    start.args = {"parallel",
                  "--halt",
                  "never",
                  "-j",
                  std::to_string(jobs),
                  "--joblog",
                  "parallel.log",
                  "\"$TAVOLINE_PROGRAM\" sweep task -- \"$TAVOLINE_SWEEP_FILE\" {}",
                  ":::"};
    for (const long long id : ids) start.args.push_back(std::to_string(id));
    // The template is written for a POSIX shell, whatever the user's login shell is.
    start.environment = {"TAVOLINE_PROGRAM=" + executable, "TAVOLINE_SWEEP_FILE=" + sweepFile,
                         "PARALLEL_SHELL=/bin/sh"};
    return start;
}

std::vector<std::string> environment_with(const std::vector<std::string>& entries) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        const bool replaced =
            std::any_of(entries.begin(), entries.end(),
                        [&](const std::string& n) { return n.compare(0, name.size(), name) == 0; });
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), entries.begin(), entries.end());
    return env;
}

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

int sweep_plan_command(const std::string& sweepPath, MessageSink& sink) {
    const SweepFile sweep = read_sweep_file(sweepPath);
    const SweepLayout layout = sweep_layout(sweep, sweepPath);
    const long long written = plan_sweep(sweep, layout);
    tell(sink, layout.count, " combinations in ", layout.folder.string(), " (", written,
         " inputs written); manifest sweep.csv.\n");
    sink.flush();
    return 0;
}

int sweep_run_command(const std::string& sweepPath, int jobs, bool retryFailed,
                      const SlurmOptions* slurm, MessageSink& sink) {
    if (slurm) {
        check_slurm_value("--partition", slurm->partition);
        check_slurm_value("--time", slurm->time);
        check_slurm_value("--mem", slurm->memory);
    }
    const SweepFile sweep = read_sweep_file(sweepPath);
    const SweepLayout layout = sweep_layout(sweep, sweepPath);
    // One `sweep run` of a sweep at a time, from planning to the last combination, so that
    // two never run one combination at once or count each other's runs as done.
    const FolderLock lock =
        take_lock(layout.folder.parent_path() / ("." + layout.folder.filename().string() + ".lock"),
                  "The sweep " + visible_text(layout.sweepFile.string()));
    // Ctrl-C reaches parallel and every combination's run as well; this process waits for
    // them to end and says what they left.
    const volatile std::sig_atomic_t* stopSignal = catch_stop_signals();
    // Folders removed since the last plan are planned again; present ones are kept.
    plan_sweep(sweep, layout);
    std::vector<long long> pending;
    for (long long id = 1; id <= layout.count; ++id) {
        const CombinationState state = combination_state(sweep, layout, id);
        const bool done = state.recorded && (state.outcome == Outcome::finished || !retryFailed);
        if (!done) pending.push_back(id);
    }
    if (pending.empty()) {
        tell(sink, "Nothing to run: ", outcome_line(sweep, layout), ".\n");
        sink.flush();
        return 0;
    }
    if (const int signal = *stopSignal; signal != 0) {
        tell(sink, "The sweep run was interrupted by ", signal_name(signal),
             " before any combination was started.\n");
        sink.flush();
        return 128 + signal;
    }
    if (slurm) return run_slurm(sweep, layout, pending, *slurm, sink);
    if (jobs <= 0) jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return run_parallel(sweep, layout, pending, jobs, stopSignal, sink);
}

int sweep_task_command(const std::string& sweepPath, long long id, MessageSink& sink) {
    const SweepFile sweep = read_sweep_file(sweepPath);
    const SweepLayout layout = sweep_layout(sweep, sweepPath);
    if (id < 1 || id > layout.count)
        throw InputError("Combination " + std::to_string(id) + " of " + sweepPath +
                         " does not exist: its ids run from 1 to " + std::to_string(layout.count) +
                         ".");
    const fs::path folder = layout.combination_folder(id);
    if (!fs::exists(folder / (sweep.baseName + ".cci")))
        throw InputError("Combination folder " + folder.string() +
                         " holds no input; plan the sweep first (tavoline sweep plan).");
    // One run of a combination at a time, whoever started it (a local sweep, a Slurm array).
    const FolderLock lock =
        take_lock(folder / ".task.lock", "Combination " + layout.folder_name(id));
    // A signal ends the run in the child; this process waits and records how it ended.
    const volatile std::sig_atomic_t* stopSignal = catch_stop_signals();
    if (const int signal = *stopSignal; signal != 0) {  // asked to stop before it began
        tell(sink, layout.folder_name(id), ": not started, ", signal_name(signal), "\n");
        sink.flush();
        return 128 + signal;
    }
    std::error_code ec;
    fs::remove(folder / "task.json", ec);
    // The run goes on in a child process in the combination's folder, its output to
    // run.log there, so that a crash or a signal ends only this combination and is recorded.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "run.log",
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    int status = 0;
    try {
        status = spawn_and_wait({own_executable(), "--quiet", "--", sweep.baseName}, &actions,
                                "The run");
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
    tell(sink, layout.folder_name(id), ": ", state.status.empty() ? "no result" : state.status,
         state.message.empty() ? "" : " (" + state.message + ")", "\n");
    sink.flush();
    return exit_status(status);
}
