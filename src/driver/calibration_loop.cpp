#include "driver/calibration_loop.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "driver/grid_study.h"
#include "driver/late_stop.h"
#include "driver/point_sequence.h"
#include "driver/stop_signal.h"
#include "experiments/calibration.h"
#include "experiments/impedance.h"
#include "experiments/integration_run.h"
#include "experiments/time_course.h"
#include "model/errors.h"
#include "model/input_file.h"
#include "model/run_folders.h"
#include "model/state_file.h"
#include "model/text_scanner.h"
#include "output/number_text.h"
#include "output/output_file.h"
#include "output/profiles.h"
#include "output/report.h"
#include "output/run_summary.h"
#include "physics/grid.h"
#include "physics/initial_state.h"
#include "physics/point_order.h"
#include "physics/scaling.h"

void write_banner() {
    std::cout << "******************************************************\n"
                 "*         Tavoline           *\n"
                 "*              version 2.0 (22.12.2014)              *\n"
                 "******************************************************\n";
}

namespace {

// "FILE, line L" of a value group of the input, or the file alone when it has no line.
std::string at_line(const model& md, const std::string& group) {
    const auto it = md.inputLines.find(group);
    return it == md.inputLines.end() ? md.fileName
                                     : md.fileName + ", line " + std::to_string(it->second);
}

// Runs a set-up step whose faults concern a value group of the input; a fault gets the
// file and the line of its group (of `fallback` when it names none).
template <class Step>
void at_input_line(const model& md, const std::string& fallback, Step step) {
    try {
        step();
    } catch (const InputError& e) {
        throw InputError(at_line(md, e.group.empty() ? fallback : e.group) + ": " + e.what());
    }
}

// Physical memory of this machine in bytes, 0 when it cannot be read.
double physical_memory_bytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? static_cast<double>(pages) * static_cast<double>(pageSize)
                                     : 0.0;
}

// Refuses a grid whose integration cannot fit in memory, before anything is written. The
// dense path keeps its fixed limit; the banded path needs memory in proportion to nEq
// times the bandwidth and is refused only when that exceeds this machine's memory (or the
// range of the state's indices).
void check_problem_size(const model& md, long long unknowns, SolverPath path) {
    if (path == SolverPath::dense) {
        // The integrator holds four dense matrices of order nEq; beyond this size they would
        // not fit in memory (and a run would take days), so say so instead of failing later.
        if (unknowns <= kMaxUnknowns) return;
        const double gigabytes =
            4.0 * 8.0 * static_cast<double>(unknowns) * static_cast<double>(unknowns) / 1e9;
        throw InputError(at_line(md, "N") + ": the grid gives " + std::to_string(unknowns) +
                         " unknowns; the integrator's dense matrices would need " +
                         number_text(gigabytes) + " GB. Reduce `N` or the number of components " +
                         "(at most " + std::to_string(kMaxUnknowns) + " unknowns).");
    }
    const Bandwidths band = point_order_bandwidths(md);
    const double needed = integration_bytes(unknowns, path, band.lower, band.upper);
    const double available = physical_memory_bytes();
    const bool indexable = unknowns <= kMaxBandedUnknowns;
    if (indexable && (available == 0.0 || needed <= available)) return;
    std::string message = at_line(md, "N") + ": the grid gives " + std::to_string(unknowns) +
                          " unknowns with a Jacobian band of " + std::to_string(band.lower) +
                          " below and " + std::to_string(band.upper) +
                          " above the diagonal; the integrator's band matrices would need " +
                          number_text(needed / 1e9) + " GB";
    message += indexable ? ", more than the " + number_text(available / 1e9) +
                               " GB of memory of this machine."
                         : " (at most " + std::to_string(kMaxBandedUnknowns) + " unknowns).";
    throw InputError(message + " Reduce `N` or the number of components.");
}

}  // namespace

void prepare_problem(model& md, RunSeries& series, SolverPath path, const GridPlan* plan) {
    if (plan != nullptr) {
        // The copies of the input keep its own N and m.
        md.inputN.clear();
        md.inputM.clear();
        for (int l = 1; l <= md.n; ++l) {
            md.inputN.push_back(md.N.at(l));
            md.inputM.push_back(md.m.at(l));
        }
        apply_cell_counts(md, *plan);
    }
    md.layerStart.init(&md.layer, md.n);
    md.F_RT = md.F / (md.Rgas * md.T);
    long long unknowns = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layerStart.at(l) = static_cast<int>(std::min<long long>(unknowns, kMaxBandedUnknowns));
        unknowns += (static_cast<long long>(md.N.at(l)) + 2) * (md.R + 1) - 1;
    }
    check_problem_size(md, unknowns, path);
    md.nEq = static_cast<int>(unknowns);
    md.y.assign(md.nEq, 0.0);
    series.totalPoints = 0;
    md.totalThickness = 0;
    for (int l = 1; l <= md.n; ++l) {
        series.totalPoints += md.N.at(l);
        md.totalThickness += md.d.at(l);
    }
    series.calMult.clear();
    series.calTcalc.clear();
    series.calPot.clear();
    series.calLogMult.clear();
    md.outFile.precision(15);

    at_input_line(md, "scales", [&] { scale_model(md); });
    if (plan != nullptr) apply_first_steps(md, *plan);
    at_input_line(md, "N", [&] { build_grid(md); });
}

void set_up(model& md, RunSeries& series, SolverPath path, const GridPlan* plan) {
    // Everything the input and y.vec decide is checked before the first file is written.
    prepare_problem(md, series, path, plan);
    if (md.loadYvec == 1) read_state_file(md);

    keep_earlier_run(md);
    make_run_folders(md, ".");
    write_grid_file(md);
    write_input_copy(md);
    write_run_report(md);
}

namespace {

// Checks that standard output took everything written to it; when it did not, it is
// entered as a file not written.
void check_standard_output(model& md) {
    errno = 0;
    std::cout.flush();
    const bool flushed = std::fflush(stdout) == 0;
    if (!flushed || std::ferror(stdout) || !std::cout)
        record_unwritten(md, "standard output", error_text(errno, "a write to it failed"));
}

// The exit status once the files are counted: results that could not be written (3) weigh
// more than a failed integration (2), less than a fault that stopped the run (1) or a
// signal (128 + its number).
int with_unwritten_files(const model& md, int status) {
    return (status == 0 || status == 2) && !md.unwrittenFiles.empty() ? 3 : status;
}

}  // namespace

int run_program(const std::string& inputName, const RunOptions& options) {
    model md;
    return run_calibration(md, inputName, options).exitCode;
}

RunSummary run_calibration(model& md, const std::string& inputName, const RunOptions& options) {
    RunSeries series;
    md.inputName = inputName;
    write_banner();
    check_input_name(inputName);
    read_input_file(md);
    for (const std::string& note : md.inputNotes) std::cout << note << "\n";
    const FolderLock lock = lock_run_folder(inputName);  // held until the run has ended

    // The automatic grid is chosen before anything is written: the calibration runs on
    // finer and finer grids until its results agree, then once more on the grid chosen,
    // writing its files.
    std::optional<GridStudy> study;
    if (automatic_grid_applies(md, options)) study = refine_automatic_grid(inputName, options);
    const GridPlan* plan = study && !study->grids.empty()
                               ? &study->grids[static_cast<std::size_t>(study->chosen)]
                               : nullptr;
    set_up(md, series, options.path, plan);

    RunSummary run;
    run.inputName = md.inputName;
    run.runFolder = md.folders[0];
    run.path = solver_path_name(options.path);
    run.grid = study;
    const Bandwidths band = point_order_bandwidths(md);
    run.bandLower = band.lower;
    run.bandUpper = band.upper;
    try {
        run.exitCode = run_point_sequence(md, series, options, run);
    } catch (const std::exception& e) {
        // The run stops with status 1; the summaries say where and why.
        if (options.progress != nullptr) options.progress->clear();
        run.status = "stopped";
        run.exitCode = 1;
        run.message = "calibration point " + std::to_string(md.point) + ": " + e.what();
        write_run_summaries(md, run);
        throw;
    }
    if (run.status == "running") run.status = run.exitCode == 0 ? "finished" : "failed";
    if (run.grid && run.status != "interrupted") print_grid_study(*run.grid);
    if (options.checkGrid && run.status != "interrupted")
        run.gridCheck = check_grid(md.inputName, plan ? *plan : input_grid_plan(md), run, options);
    else if (!options.checkGrid && !run.grid && grid_advice_due(md))
        print_grid_advice();
    interrupted_after_points(options, md.nCalib,
                             options.checkGrid ? "during the grid check" : "after the last point",
                             run);
    check_standard_output(md);  // before the summaries, so that they can say so
    run.exitCode = with_unwritten_files(md, run.exitCode);
    write_run_summaries(md, run);
    if (interrupted_after_points(options, md.nCalib, "while the results were written", run)) {
        check_standard_output(md);
        write_run_summaries(md, run);
    }
    if (const std::size_t n = md.unwrittenFiles.size(); n > 0) {
        std::cout << "\n"
                  << n << (n == 1 ? " result file" : " result files")
                  << " could not be written; see the messages above.\n";
        check_standard_output(md);
    }
    run.exitCode = with_unwritten_files(md, run.exitCode);  // the summaries may have failed too
    return run;
}
