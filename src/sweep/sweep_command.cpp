#include <CLI/CLI.hpp>
#include <new>

#include "base/fault.h"
#include "base/message_sink.h"
#include "sweep/sweep.h"

int run_sweep_main(int argc, char** argv, MessageSink& sink) {
    CLI::App app("Parameter sweeps: many inputs from one base input, run on this machine with "
                 "GNU parallel or on a cluster as a Slurm job array.",
                 "tavoline sweep");
    app.require_subcommand(1);
    std::string file;
    const char* fileHelp = "sweep file NAME.sweep, beside its base input";

    CLI::App* plan = app.add_subcommand("plan", "write one folder with its input per combination, "
                                                "and the manifest sweep.csv");
    plan->add_option("FILE", file, fileHelp)->required();

    CLI::App* run = app.add_subcommand(
        "run", "run the combinations not yet done (planning the missing ones first)");
    run->add_option("FILE", file, fileHelp)->required();
    int jobs = 0;
    bool retryFailed = false, slurm = false;
    SlurmOptions so;
    run->add_option("-j,--jobs", jobs, "combinations at a time with GNU parallel (default: cores)")
        ->check(CLI::PositiveNumber);
    run->add_flag("--retry-failed", retryFailed,
                  "run again the combinations whose run ended without finishing");
    run->add_flag("--slurm", slurm, "write a Slurm job-array script and submit it with sbatch");
    run->add_flag("--dry-run", so.dryRun, "with --slurm: only write the script");
    run->add_flag("--wait", so.wait, "with --slurm: return when the array has ended (sbatch --wait)");
    run->add_option("--partition", so.partition, "with --slurm: the partition");
    run->add_option("--time", so.time, "with --slurm: time limit per combination, e.g. 2:00:00");
    run->add_option("--mem", so.memory, "with --slurm: memory per combination, e.g. 4G");
    run->add_option("--max-running", so.maxRunning,
                    "with --slurm: combinations running at once (the array's %M)")
        ->check(CLI::PositiveNumber);

    CLI::App* task = app.add_subcommand("task", "run one combination (used by run)");
    long long id = 0;
    task->add_option("FILE", file, fileHelp)->required();
    task->add_option("ID", id, "combination id, 1..K")->required();

    CLI::App* collect = app.add_subcommand(
        "collect", "merge the results into sweep_results.csv and plot one of them");
    collect->add_option("FILE", file, fileHelp)->required();
    std::string result, against;
    collect->add_option("--plot", result, "result to plot (default slope_mV_per_decade)");
    collect->add_option("--against", against, "varied parameter on the x axis (default the first)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        tell(sink, app.help());
        return 0;
    } catch (const CLI::ParseError& e) {
        tell(sink, "tavoline sweep: ", e.what(), "\n", app.help());
        return 1;
    }
    if (!slurm && (so.dryRun || so.wait || !so.partition.empty() || !so.time.empty() ||
                   !so.memory.empty() || so.maxRunning > 0)) {
        tell(sink,
             "tavoline sweep: --dry-run, --wait, --partition, --time, --mem and "
             "--max-running go with --slurm\n");
        return 1;
    }
    try {
        if (plan->parsed()) return sweep_plan_command(file, sink);
        if (run->parsed())
            return sweep_run_command(file, jobs, retryFailed, slurm ? &so : nullptr, sink);
        if (task->parsed()) return sweep_task_command(file, id, sink);
        return sweep_collect_command(file, result, against, sink);
    } catch (const std::bad_alloc&) {
        tell(sink, "Not enough memory for this sweep.\n");
    } catch (const std::exception& e) {
        tell(sink, e.what(), "\n");
    }
    return 1;
}
