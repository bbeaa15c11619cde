#include "driver/calibration_loop.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "driver/grid_check.h"
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

void prepare_problem(model& md, RunSeries& series, SolverPath path, double firstStepFactor) {
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
    md.hDebye *= firstStepFactor;
    at_input_line(md, "N", [&] { build_grid(md); });
}

void set_up(model& md, RunSeries& series, SolverPath path) {
    // Everything the input and y.vec decide is checked before the first file is written.
    prepare_problem(md, series, path);
    if (md.loadYvec == 1) read_state_file(md);

    keep_earlier_run(md);
    make_run_folders(md, ".");
    write_grid_file(md);
    write_input_copy(md);
    write_run_report(md);
}

bool collect_point_results(const model& md, RunSeries& series) {
    if (md.nCalib < 2) return true;
    if (series.potSeries.size() == 0) return false;
    series.calMult.append(md.multipliers[md.point]);
    series.calPot.append(series.potSeries[series.potSeries.size() - 1]);
    series.calTcalc.append(md.t_calc);
    series.calLogMult.append(std::log10(md.multipliers[md.point]));
    const double shift = (md.point - 1) * md.tEnd * md.tc;
    for (int i = 0; i < series.potSeries.size(); ++i) {
        series.allPot.append(series.potSeries[i]);
        series.allTime.append(series.timeSeries[i] + shift);
    }
    return true;
}

void end_point(model& md, RunSeries& series) {
    const double mult = md.multipliers[md.point];
    for (int k = 0; k < md.nTargets; ++k)
        region_concentration(md, md.targets[k], md.changedIon) /= mult;
    for (int k = 0; k < md.nTargets; ++k) restore_electroneutrality(md, md.targets[k]);
    if (md.method != 0) {
        md.Zprim.clear();
        md.Zbis.clear();
    }
    series.potSeries.clear();
    series.timeSeries.clear();
    series.tcalcSeries.clear();
    md.eisRun = 0;
}

namespace {

// Integrates once and, when the integrator gave up, says so; the point's files are still
// written from the state reached. A run stopped by a signal is marked interrupted.
IntegrationSummary integrate_point(model& md, RunSeries& series, const char* which,
                                   const RunOptions& options) {
    if (options.progress != nullptr) options.progress->start_run(md.point, md.nCalib, which);
    const auto start = std::chrono::steady_clock::now();
    const RunOutcome run = run_integration(md, series, options);
    if (options.progress != nullptr) options.progress->clear();
    IntegrationSummary s;
    s.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    s.code = run.code;
    s.stats = run.stats;
    s.negativeConcentration = run.negativeConcentration;
    if (series.potSeries.size() > 0)
        s.finalPotential = series.potSeries[series.potSeries.size() - 1];
    s.interrupted = run.code == StiffIntegratorT::kStoppedByOutput && options.stop_requested();
    if (run.succeeded()) return s;
    s.failure = describe_failure(run.code) + " (code " + std::to_string(run.code) + ")";
    std::cout << "\nCalibration point " << md.point << " (multiplier " << md.multipliers[md.point]
              << "): the " << which << " integration failed: " << s.failure
              << ". Its files describe the state reached.\n";
    return s;
}

// A folder of the run relative to the run folder, "" for the run folder itself.
std::string inside_run(const model& md, const std::string& folder) {
    const std::string rel =
        std::filesystem::path(folder).lexically_relative(md.folders[0]).generic_string();
    return rel == "." ? "" : rel;
}

void write_run_summaries(model& md, const RunSummary& run) {
    write_summary_json(md, run);
    write_report_page(md, run);
}

// Ends the run on the signal received: says so on standard output and in the summaries
// (whose points end with the interrupted one, when a point was under way). Returns the
// exit status, 128 + the signal's number.
int interrupt_run(const model& md, const RunSeries& series, const RunOptions& options,
                  RunSummary& run) {
    const int signal = *options.stopSignal;
    const std::string name = signal_name(signal);
    int complete = static_cast<int>(run.points.size());
    run.message = name;
    if (!run.points.empty() && run.points.back().interrupted()) {
        --complete;
        const bool currentStep = run.points.back().currentStep.has_value();
        const int samples = series.timeSeries.size();
        const double reached = samples > 0 ? series.timeSeries[samples - 1] : 0.0;  // s
        const char* which = currentStep ? "current-step" : "potentiometric";
        std::cout << "\nCalibration point " << md.point << " (multiplier "
                  << md.multipliers[md.point] << "): the " << which
                  << " integration was interrupted by " << name << " at t = " << reached
                  << " s. Its files describe the state reached.\n";
        run.message += " during calibration point " + std::to_string(md.point) +
                       ", at t = " + number_text(reached) + " s of its " + which + " run";
    } else if (complete > 0) {
        run.message += " after calibration point " + std::to_string(complete);
    } else {
        run.message += " before the first calibration point";
    }
    run.message += "; " + std::to_string(complete) + " of " + std::to_string(md.nCalib) +
                   " calibration points complete";
    std::cout << "\nThe run was interrupted by " << name << " after " << complete << " of "
              << md.nCalib << " calibration points.\n";
    run.status = "interrupted";
    return 128 + signal;
}

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

// The calibration points one after another; returns the exit status: 0, 2 when the
// integration of a point failed, or 128 + the signal's number when a signal ended the run.
// An interrupted point keeps the files of the state it reached, but adds nothing to the
// calibration curve and gets no current-step run or spectrum.
int run_points(model& md, RunSeries& series, const RunOptions& options, RunSummary& run) {
    int failedPoints = 0;
    for (md.point = 1; md.point <= md.nCalib; ++md.point) {
        if (options.stop_requested()) return interrupt_run(md, series, options, run);
        PointSummary summary;
        summary.point = md.point;
        summary.multiplier = md.multipliers[md.point];
        summary.folder = inside_run(md, md.folders[md.point]);
        set_initial_state(md);
        std::cout << "\n** iteration number " << md.point << "\n";
        summary.potentiometric = integrate_point(md, series, "potentiometric", options);
        bool ok = summary.potentiometric.code > 0;
        write_profiles(md, series, "");
        write_time_course(md, series, "");
        if (summary.interrupted()) {
            run.points.push_back(summary);
            return interrupt_run(md, series, options, run);
        }
        if (!collect_point_results(md, series)) {
            std::cout << "\nCalibration point " << md.point
                      << ": no integration step was completed, so the point adds nothing to "
                         "the calibration curve.\n";
            ok = false;
        }
        if (auto line = write_calibration_curve(md, series)) run.calibration = line;
        if (md.method > 0) {
            start_impedance_run(md, series);
            summary.currentStep = integrate_point(md, series, "current-step", options);
            ok = summary.currentStep->code > 0 && ok;
            write_profiles(md, series, "spectrum//");
            write_time_course(md, series, "spectrum//");
            if (summary.interrupted()) {
                run.points.push_back(summary);
                return interrupt_run(md, series, options, run);
            }
            compute_spectrum(md, series);
            if (!md.Zprim.empty()) summary.lowFrequencyZ = md.Zprim[0];
            write_spectrum(md);
            summary.spectrumFile =
                summary.folder.empty() ? "spectrum.dat" : summary.folder + "/spectrum.dat";
        }
        end_point(md, series);
        if (!ok) ++failedPoints;
        const bool negative = summary.potentiometric.negativeConcentration ||
                              (summary.currentStep && summary.currentStep->negativeConcentration);
        if (!ok || negative) print_point_grid_advice(md.point, !ok);
        run.points.push_back(summary);
        write_run_summaries(md, run);
    }
    if (options.stop_requested()) return interrupt_run(md, series, options, run);
    if (failedPoints > 0) {
        std::cout << "\nThe integration failed at " << failedPoints << " of " << md.nCalib
                  << " calibration points; see the messages above.\n";
        return 2;
    }
    return 0;
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
    set_up(md, series, options.path);

    RunSummary run;
    run.inputName = md.inputName;
    run.runFolder = md.folders[0];
    run.path = solver_path_name(options.path);
    const Bandwidths band = point_order_bandwidths(md);
    run.bandLower = band.lower;
    run.bandUpper = band.upper;
    try {
        run.exitCode = run_points(md, series, options, run);
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
    if (options.checkGrid && run.status != "interrupted")
        run.gridCheck = check_grid(md.inputName, run, options);
    else if (!options.checkGrid && grid_advice_due(md))
        print_grid_advice();
    check_standard_output(md);  // before the summaries, so that they can say so
    run.exitCode = with_unwritten_files(md, run.exitCode);
    write_run_summaries(md, run);
    if (const std::size_t n = md.unwrittenFiles.size(); n > 0) {
        std::cout << "\n"
                  << n << (n == 1 ? " result file" : " result files")
                  << " could not be written; see the messages above.\n";
        check_standard_output(md);
    }
    run.exitCode = with_unwritten_files(md, run.exitCode);  // the summaries may have failed too
    return run;
}
