#include "driver/point_sequence.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>

#include "base/number_text.h"
#include "driver/grid_advice.h"
#include "driver/grid_study.h"
#include "driver/point_warnings.h"
#include "driver/stop_signal.h"
#include "experiments/calibration.h"
#include "experiments/calibration_analysis.h"
#include "experiments/impedance.h"
#include "experiments/linear_impedance.h"
#include "experiments/time_course.h"
#include "output/calibration_report.h"
#include "output/profiles.h"
#include "output/report.h"
#include "output/run_figures.h"
#include "physics/flux.h"
#include "physics/initial_state.h"

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
    series.depletionSeries.clear();
    md.eisRun = 0;
}

namespace {

// Integrates once and, when the integrator gave up, says so; the point's files are still
// written from the state reached. A run stopped by a signal is marked interrupted.
IntegrationSummary integrate_point(model& md, RunSeries& series, const char* which,
                                   const RunOptions& options) {
    if (options.progress != nullptr)
        options.progress->start_run(md.point, md.nCalib, options.writeFiles ? which : "grid study");
    const auto start = std::chrono::steady_clock::now();
    const RunOutcome run = run_integration(md, series, options);
    if (options.progress != nullptr) options.progress->clear();
    IntegrationSummary s;
    s.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    s.code = run.code;
    s.stats = run.stats;
    s.negativeConcentration = run.negativeConcentration;
    s.lowestConcentration = run.lowestConcentration * md.cScale;  // mol/m^3
    if (series.potSeries.size() > 0)
        s.finalPotential = series.potSeries[series.potSeries.size() - 1];
    s.interrupted = run.code == StiffIntegratorT::kStoppedByOutput && options.stop_requested();
    if (run.succeeded()) return s;
    s.outsideDiluteRange = !run.outsideDiluteRange.empty();
    s.failure = s.outsideDiluteRange
                    ? run.outsideDiluteRange
                    : describe_failure(run.code) + " (code " + std::to_string(run.code) + ")";
    if (options.writeFiles)
        tell(*options.sink, "\nCalibration point ", md.point, " (multiplier ",
             md.multipliers[md.point], "): the ", which, " integration failed: ", s.failure,
             ". Its files describe the state reached.\n");
    return s;
}

// A folder of the run relative to the run folder, "" for the run folder itself.
std::string inside_run(const model& md, const std::string& folder) {
    const std::string rel =
        std::filesystem::path(folder).lexically_relative(md.folders[0]).generic_string();
    return rel == "." ? "" : rel;
}

// Ends the run on the signal received: says so on standard output and in the summaries
// (whose points end with the interrupted one, when a point was under way). Returns the
// exit status, 128 + the signal's number.
int interrupt_run(const model& md, const RunSeries& series, const RunOptions& options,
                  RunSummary& run) {
    const int signal = *options.stopSignal;
    if (!options.writeFiles) return 128 + signal;
    const std::string name = signal_name(signal);
    int complete = static_cast<int>(run.points.size());
    run.message = name;
    if (!run.points.empty() && run.points.back().interrupted()) {
        --complete;
        const bool currentStep = run.points.back().currentStep.has_value();
        const int samples = series.timeSeries.size();
        const double reached = samples > 0 ? series.timeSeries[samples - 1] : 0.0;  // s
        const char* which = currentStep ? "current-step" : "potentiometric";
        tell(*options.sink, "\nCalibration point ", md.point, " (multiplier ",
             md.multipliers[md.point], "): the ", which, " integration was interrupted by ", name,
             " at t = ", reached, " s. Its files describe the state reached.\n");
        run.message += " during calibration point " + std::to_string(md.point) +
                       ", at t = " + number_text(reached) + " s of its " + which + " run";
    } else if (complete > 0) {
        run.message += " after calibration point " + std::to_string(complete);
    } else {
        run.message += " before the first calibration point";
    }
    run.message += "; " + std::to_string(complete) + " of " + std::to_string(md.nCalib) +
                   " calibration points complete";
    tell(*options.sink, "\nThe run was interrupted by ", name, " after ", complete, " of ",
         md.nCalib, " calibration points.\n");
    run.status = "interrupted";
    return 128 + signal;
}

// The frequency [Hz] at which -Z'' of the spectrum in the record is largest: the apex of
// its arc. None when the spectrum is empty.
std::optional<double> apex_frequency(const model& md) {
    const std::size_t count = std::min(md.Zprim.size(), md.Zbis.size());
    std::optional<double> apex;
    double largest = 0;
    double omega = kOmegaFirst;
    for (std::size_t k = 0; k < count; ++k) {
        const double v = std::fabs(md.Zbis[k]);
        if (!apex || v > largest) {
            largest = v;
            apex = omega / (2 * std::numbers::pi);
        }
        omega = omega * kOmegaRatio;
    }
    return apex;
}

// What the summaries keep of a linear spectrum.
LinearSpectrumSummary linear_summary(const LinearSpectrum& s) {
    LinearSpectrumSummary summary;
    summary.steady = s.steady;
    summary.potentialRate = s.potentialRate;
    summary.unknowns = s.unknowns;
    summary.fallbacks = s.fallbacks;
    summary.cpuSeconds = s.cpuSeconds;
    summary.failure = s.failure;
    if (!s.zReal.empty()) summary.lowFrequencyZ = s.zReal.front();
    double largest = -1;
    for (std::size_t k = 0; k < s.omega.size(); ++k)
        if (-s.zImag[k] > largest) {
            largest = -s.zImag[k];
            summary.apexFrequency = s.omega[k] / (2 * std::numbers::pi);
        }
    return summary;
}

// "points 2 and 4" of a list of point numbers.
std::string points_text(const std::vector<int>& points) {
    std::string text = points.size() == 1 ? "point " : "points ";
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i > 0) text += i + 1 == points.size() ? " and " : ", ";
        text += std::to_string(points[i]);
    }
    return text;
}

}  // namespace

int run_point_sequence(model& md, RunFiles& files, RunSeries& series, const RunOptions& options,
                       RunSummary& run) {
    const bool write = options.writeFiles;
    int failedPoints = 0;
    // A point starts from the final state of the point before it; after a failed point,
    // whose state is no solution, from that of the last point that finished, or from the
    // initial state when none has.
    std::vector<double> goodState;
    int goodPoint = 0;
    bool previousFailed = false;
    std::vector<int> uncollected;  // points whose potential the calibration curve lacks
    for (md.point = 1; md.point <= md.nCalib; ++md.point) {
        if (options.stop_requested()) return interrupt_run(md, series, options, run);
        PointSummary summary;
        summary.point = md.point;
        summary.multiplier = md.multipliers[md.point];
        if (write) summary.folder = inside_run(md, md.folders[md.point]);
        if (previousFailed) {
            md.y = goodState;
            summary.startedFrom = goodPoint;
            if (write)
                tell(*options.sink, "\nCalibration point ", md.point, " starts from ",
                     (goodPoint == 0
                          ? std::string("the initial state")
                          : "the final state of calibration point " + std::to_string(goodPoint)),
                     ", not from the state of the failed point ", md.point - 1, ".\n");
        }
        set_initial_state(md);
        if (md.point == 1) goodState = md.y;
        // mol/m³: the record holds concentrations scaled by cScale
        if (md.nTargets > 0)
            summary.sampleConcentration =
                region_concentration(md, md.targets[0], md.changedIon) * md.cScale;
        if (write) tell(*options.sink, "\n** iteration number ", md.point, "\n");
        summary.potentiometric = integrate_point(md, series, "potentiometric", options);
        summary.drift = final_drift(
            {series.timeSeries.data(), static_cast<std::size_t>(series.timeSeries.size())},
            {series.potSeries.data(), static_cast<std::size_t>(series.potSeries.size())},
            md.tEnd * md.tc);
        bool ok = summary.potentiometric.code > 0;
        if (write) {
            write_profiles(md, files, series, "");
            write_time_course(md, files, series, "");
        }
        if (md.modelType == 1) {
            summary.interfaceFlux = interface_flux_table(md, md.y.data());
            summary.profile = profile_samples(md, md.y.data());
        }
        if (options.observer != nullptr) options.observer->potentiometric_done(md, series);
        if (summary.interrupted()) {
            run.points.push_back(summary);
            return interrupt_run(md, series, options, run);
        }
        summary.warnings =
            potentiometric_warnings(md, series, summary.potentiometric, options.accuracy);
        if (run.grid && !run.grid->pending)
            if (auto warning = grid_warning(*run.grid, md.point))
                summary.warnings.push_back(*warning);
        // on a pending grid the study judges the point once it is done; its warning then
        // goes here
        const std::size_t gridWarningAt = summary.warnings.size();
        // A failed run's last potential is no result: it stays out of the curve.
        if (!ok || !collect_point_results(md, series)) {
            if (write && ok)
                tell(*options.sink, "\nCalibration point ", md.point,
                     ": no integration step was completed, so the point adds nothing "
                     "to the calibration curve.\n");
            ok = false;
            uncollected.push_back(md.point);
        }
        if (write) {
            if (auto line = write_calibration_curve(md, files, series, uncollected.empty()))
                run.calibration = line;
            // limit.txt is written after the last of five or more points
            if (md.point == md.nCalib && md.nCalib > 4 && !uncollected.empty())
                run.calibrationMissing = "calibration " + points_text(uncollected) +
                                         " did not finish, so no reference line, "
                                         "slope or detection limit is computed";
            else if (md.point == md.nCalib && md.nCalib > 4 && !run.calibration)
                run.calibrationMissing =
                    "calibration points 2 and 3 have the same multiplier, so the reference "
                    "line of limit.txt has no slope and limit.txt is not written";
        }
        std::optional<LinearSpectrum> linear;
        if (md.method == 1 && options.impedance != ImpedanceSpectra::step && ok) {
            linear = linear_spectrum(md, options.path, options.accuracy);
            summary.linearSpectrum = linear_summary(*linear);
            if (options.impedance == ImpedanceSpectra::linear) {
                // what the grid study and check judge, per total thickness as from the step
                if (summary.linearSpectrum->lowFrequencyZ)
                    summary.lowFrequencyZ =
                        *summary.linearSpectrum->lowFrequencyZ / md.totalThickness;
                summary.apexFrequency = summary.linearSpectrum->apexFrequency;
            }
            if (options.observer != nullptr) options.observer->linear_spectrum_done(md, *linear);
            if (write && !linear->omega.empty()) {
                const std::string name = md.folders[md.point] + "/linear_spectrum.csv";
                write_linear_spectrum(files, name, *linear);
                summary.linearSpectrum->file = summary.folder.empty()
                                                   ? "linear_spectrum.csv"
                                                   : summary.folder + "/linear_spectrum.csv";
            }
        }
        const bool stepRun =
            md.method > 1 || (md.method == 1 && options.impedance != ImpedanceSpectra::linear);
        if (stepRun) {
            start_impedance_run(md, series);
            summary.currentStep = integrate_point(md, series, "current-step", options);
            ok = summary.currentStep->code > 0 && ok;
            if (write) {
                write_profiles(md, files, series, "spectrum//");
                write_time_course(md, files, series, "spectrum//");
            }
            if (summary.interrupted()) {
                run.points.push_back(summary);
                return interrupt_run(md, series, options, run);
            }
            compute_spectrum(md, series, *options.sink);
            if (options.observer != nullptr) options.observer->current_step_done(md, series);
            if (!md.Zprim.empty()) summary.lowFrequencyZ = md.Zprim[0];
            summary.apexFrequency = apex_frequency(md);
            for (int i = 0; i < std::min(series.timeSeries.size(), series.potSeries.size()); ++i)
                summary.transient.emplace_back(series.timeSeries[i], series.potSeries[i]);
            summary.depletion.assign(series.depletionSeries.data(),
                                     series.depletionSeries.data() +
                                         std::min(series.depletionSeries.size(),
                                                  static_cast<int>(summary.transient.size())));
            if (linear && series.timeSeries.size() > 1)
                summary.linearSpectrum->agreement =
                    compare_spectra(*linear, md.Zprim, md.Zbis, md.totalThickness,
                                    series.timeSeries, series.potSeries, md.tEnd * md.tc);
            if (write) {
                write_spectrum(md, files);
                summary.spectrumFile =
                    summary.folder.empty() ? "spectrum.dat" : summary.folder + "/spectrum.dat";
            }
        }
        if (linear && ok)
            for (std::string& w :
                 linear_spectrum_warnings(*linear, summary.linearSpectrum->agreement))
                summary.warnings.push_back(std::move(w));
        if (run.grid && run.grid->pending) {
            add_pending_point(*run.grid, summary, md, stepRun);
            if (auto warning = grid_warning(*run.grid, md.point))
                summary.warnings.insert(
                    summary.warnings.begin() + static_cast<std::ptrdiff_t>(gridWarningAt),
                    std::move(*warning));
        }
        end_point(md, series);
        if (!ok) ++failedPoints;
        previousFailed = !summary.ok();
        if (!previousFailed) {
            goodState = md.y;
            goodPoint = md.point;
        }
        const bool negative = summary.potentiometric.negativeConcentration ||
                              (summary.currentStep && summary.currentStep->negativeConcentration);
        // a finer grid does not bring a state beyond the dilute range back into it
        const bool outside = summary.potentiometric.outsideDiluteRange ||
                             (summary.currentStep && summary.currentStep->outsideDiluteRange);
        if (write && (!ok || negative) && !outside)
            print_point_grid_advice(md.point, !ok, *options.sink);
        if (write && summary.ok() && !summary.warnings.empty()) {
            tell(*options.sink, "\nCalibration point ", md.point, " (multiplier ",
                 md.multipliers[md.point], ") finished with warnings:\n");
            for (const std::string& warning : summary.warnings)
                tell(*options.sink, "  ", warning, "\n");
        }
        run.points.push_back(summary);
        if (write) write_run_summaries(md, files, run);
    }
    if (options.stop_requested()) return interrupt_run(md, series, options, run);
    if (failedPoints > 0) {
        if (write)
            tell(*options.sink, "\nThe integration failed at ", failedPoints, " of ", md.nCalib,
                 " calibration points; see the messages above.\n");
        return 2;
    }
    return 0;
}

void write_run_summaries(model& md, RunFiles& files, const RunSummary& run) {
    // first, so that the summaries list them
    write_calibration_csv(md, files, run);
    write_run_tables(files, run);
    write_run_figures(files, run);
    write_summary_json(md, files, run);
    write_report_page(md, files, run);
}
