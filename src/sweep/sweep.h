// Parameter sweeps on disk: planning the combination folders, running them through GNU
// parallel on this machine or as a Slurm job array, and collecting their results.
//
// The sweep file NAME.sweep lies beside its base input BASE.cci. Its combinations go to the
// sweep folder NAME_sweep/ beside it: one folder per combination, named from its id only
// (c0001, c0002, ...), holding the generated input BASE.cci, so that a run of it writes
// cXXXX/BASE/summary.json; the manifest sweep.csv; the results sweep_results.csv and the
// plot sweep_plot.svg; and for Slurm the job script NAME.sbatch.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/message_sink.h"
#include "sweep/sweep_file.h"

// Where a sweep's files lie.
struct SweepLayout {
    std::filesystem::path sweepFile;  // absolute
    std::filesystem::path baseInput;  // BASE.cci beside the sweep file
    std::filesystem::path folder;     // NAME_sweep
    int idDigits = 4;                 // digits of the combination folders' numbers
    long long count = 0;              // combinations

    std::string folder_name(long long id) const;  // "c0007"
    std::filesystem::path combination_folder(long long id) const { return folder / folder_name(id); }
    // cXXXX/BASE/summary.json
    std::filesystem::path summary_file(const SweepFile& sweep, long long id) const;
};

SweepLayout sweep_layout(const SweepFile& sweep, const std::string& sweepPath);

// What became of a combination.
enum class Outcome {
    missing,   // no result yet (never run, its folder removed, or its run interrupted)
    running,   // summary.json says the run is under way, or it ended without saying more
    finished,  // its run ended with status "finished"
    failed,    // the run ended otherwise ("failed", "stopped"), crashed, or left a
               // summary.json that cannot be read
};

struct CombinationState {
    Outcome outcome = Outcome::missing;
    // the run's status word, "crashed", "unreadable" (summary.json cannot be read or has
    // not the shape of a run summary), or empty
    std::string status;
    std::string message;  // why it did not finish, empty otherwise
    bool recorded = false;  // the run's own summary.json holds its final status
};

// Reads cXXXX/BASE/summary.json and the task record cXXXX/task.json of combination `id`.
// Only a final status other than "interrupted" makes a combination done (recorded).
CombinationState combination_state(const SweepFile& sweep, const SweepLayout& layout, long long id);

// Why `summary` has not the shape of a run's summary.json, as far as the sweep commands read
// it ("has no text \"status\"", ...); empty when it has.
std::string summary_fault(const nlohmann::json& summary);

// A run's summary.json: the object, or null when the file is absent or, with `fault` saying
// why, cannot be read, is not JSON or has not the shape summary_fault checks.
nlohmann::json read_summary(const std::filesystem::path& file, std::string& fault);

// "K finished, F failed, M missing" over every combination.
std::string outcome_line(const SweepFile& sweep, const SweepLayout& layout);

// Writes the input of every combination whose folder or input is missing, and the manifest
// sweep.csv. Every input is generated and read back first; a fault (InputError) leaves the
// disk as it was. A combination folder holding an input other than the one the sweep file
// now gives is refused, so that results of two different studies never mix. Returns the
// number of inputs written.
long long plan_sweep(const SweepFile& sweep, const SweepLayout& layout);

struct SlurmOptions {
    bool dryRun = false;
    bool wait = false;  // sbatch --wait: return when the array has ended
    std::string partition, time, memory;
    int maxRunning = 0;  // the array's %M; 0: no limit
};

// The commands: each returns the exit status and tells its messages to `sink`.
int sweep_plan_command(const std::string& sweepPath, MessageSink& sink);
int sweep_run_command(const std::string& sweepPath, int jobs, bool retryFailed,
                      const SlurmOptions* slurm, MessageSink& sink);
int sweep_task_command(const std::string& sweepPath, long long id, MessageSink& sink);
int sweep_collect_command(const std::string& sweepPath, const std::string& result,
                          const std::string& against, MessageSink& sink);

// Helpers of the sweep commands. read_text: the whole file, `ok` false when it cannot be
// opened. write_whole: the file written under a temporary name and put in place when
// complete; Fault (output) when that fails. csv_field: the text quoted for CSV when needed.
std::string read_text(const std::filesystem::path& path, bool& ok);
void write_whole(const std::filesystem::path& path, const std::string& text);
std::string csv_field(const std::string& text);
// The base input's text; InputError naming the sweep file's base line when it cannot be read.
std::string read_base_text(const SweepFile& sweep, const SweepLayout& layout);

// The sweep command line (`tavoline sweep ...`, argv[0] being "sweep"); its messages, the
// help text and its faults go to `sink`.
int run_sweep_main(int argc, char** argv, MessageSink& sink = standard_output());

// Slurm's array notation of the ids (ascending), ranges joined: "1-3,7,9-12".
std::string array_ranges(const std::vector<long long>& ids);

// How `sweep run` starts GNU parallel in the sweep folder: its arguments, a fixed command
// template and the generated ids only, and the environment entries (NAME=VALUE, to add to
// this process's own) that carry the program's binary and the sweep file to the template,
// so that parallel never reads a path as a replacement string, an option or code.
struct ParallelStart {
    std::vector<std::string> args;
    std::vector<std::string> environment;
};
ParallelStart parallel_start(const std::string& executable, const std::string& sweepFile,
                             const std::vector<long long>& ids, int jobs);

// This process's environment with `entries` (NAME=VALUE) set, replacing any of those names.
std::vector<std::string> environment_with(const std::vector<std::string>& entries);

// `text` in single quotes for sh, each ' written as '\''.
std::string shell_quoted(const std::string& text);
