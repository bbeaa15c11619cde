#include "driver/calibration_loop.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <numbers>

#include "base/number_text.h"
#include "driver/grid_advice.h"
#include "driver/grid_study.h"
#include "driver/late_stop.h"
#include "driver/point_sequence.h"
#include "driver/point_warnings.h"
#include "driver/stop_signal.h"
#include "experiments/impedance.h"
#include "experiments/integration_run.h"
#include "experiments/linear_impedance.h"
#include "model/errors.h"
#include "model/input_file.h"
#include "model/run_folders.h"
#include "model/state_file.h"
#include "model/text_scanner.h"
#include "model/version.h"
#include "output/calibration_report.h"
#include "output/output_file.h"
#include "output/profiles.h"
#include "output/run_summary.h"
#include "physics/point_order.h"

void write_banner(MessageSink& sink) {
    // The version line centred in the frame of 54 columns.
    const std::string version =
        std::string("version ") + kProgramVersion + " (" + kProgramDate + ")";
    const std::size_t inside = 52 > version.size() ? 52 - version.size() : 0;
    tell(sink,
         "******************************************************\n"
         "*         Tavoline           *\n"
         "*",
         std::string(inside / 2, ' '), version, std::string(inside - inside / 2, ' '),
         "*\n"
         "******************************************************\n");
}

namespace {

// Checks that standard output took everything written to it; when it did not, it is
// entered as a file not written.
void check_standard_output(RunFiles& files) {
    errno = 0;
    std::cout.flush();
    const bool flushed = std::fflush(stdout) == 0;
    if (!flushed || std::ferror(stdout) || !std::cout)
        record_unwritten(files, "standard output", error_text(errno, "a write to it failed"));
}

// The exit status once the files are counted: results that could not be written (3) weigh
// more than a failed integration (2), less than a fault that stopped the run (1) or a
// signal (128 + its number).
int with_unwritten_files(const RunFiles& files, int status) {
    const bool unwritten = !files.unwrittenFiles.empty();
    return (status == 0 || status == 2 || status == 4) && unwritten ? 3 : status;
}

// Adds the grid check's verdict to the points' warnings, sets the status of a run that
// finished with warnings (4 with --strict, which weighs less than a failed point) and
// lists the warnings on standard output.
void settle_warnings(RunSummary& run, const RunOptions& options) {
    if (run.status == "interrupted" || run.status == "stopped") return;
    for (PointSummary& p : run.points) {
        if (!p.ok()) continue;
        if (run.gridCheck)
            if (auto warning = grid_warning(*run.gridCheck, p.point))
                p.warnings.push_back(*warning);
        // A grid that neither the automatic grid's study nor the grid check judged may be
        // millivolts off (a Debye-length first step, one the input gives, a saved state's).
        const bool judged = (run.grid && grid_judged(*run.grid, p.point)) ||
                            (run.gridCheck && grid_judged(*run.gridCheck, p.point));
        if (!judged) p.warnings.push_back(kGridNotChecked);
    }
    const std::vector<std::string> warnings = run_warnings(run);
    if (warnings.empty()) return;
    if (run.status == "finished") {
        run.status = "finished with warnings";
        if (options.strict && run.exitCode == 0) run.exitCode = 4;
    }
    tell(*options.sink, (run.status == "finished with warnings" ? "\nFinished with warnings:\n"
                                                                : "\nWarnings:\n"));
    for (const std::string& warning : warnings) tell(*options.sink, "  ", warning, "\n");
}

// Gathers what the figure set, the tables with units and the library's results are drawn
// from.
class TraceObserver : public PointObserver {
  public:
    explicit TraceObserver(RunTraces& traces) : traces_(traces) {}

    void potentiometric_done(const model& md, const RunSeries& series) override {
        PointTraces& t = traces_.at(md.point);
        const int count = std::min(series.timeSeries.size(), series.potSeries.size());
        t.time.assign(series.timeSeries.data(), series.timeSeries.data() + count);
        t.potential.assign(series.potSeries.data(), series.potSeries.data() + count);
        const ProfileData p = profile_data(md);
        t.nodeX = p.yPos;
        t.concentration = p.conc;
        t.gridX = p.x;
        t.potentialProfile = p.potential;
        t.field = p.field;
    }

    void current_step_done(const model& md, const RunSeries& series) override {
        PointTraces& t = traces_.at(md.point);
        if (md.method == 2) {
            std::vector<std::pair<double, double>> transient;
            for (int i = 0; i < std::min(series.timeSeries.size(), series.potSeries.size()); ++i)
                transient.emplace_back(series.timeSeries[i], series.potSeries[i]);
            const std::vector<double> depletion(
                series.depletionSeries.data(),
                series.depletionSeries.data() +
                    std::min(series.depletionSeries.size(), static_cast<int>(transient.size())));
            t.transitionTime = transition_time(transient, depletion);
        }
        if (md.method == 1) {
            // Zprim and Zbis are per total thickness [ohm m² / m]: times the thickness they
            // are the impedance of a square metre of membrane [ohm m²].
            t.frequency.clear();
            t.zReal.clear();
            t.zImaginaryNegative.clear();
            double omega = kOmegaFirst;
            const std::size_t n = std::min(md.Zprim.size(), md.Zbis.size());
            for (std::size_t k = 0; k < n; ++k) {
                t.frequency.push_back(omega / (2 * std::numbers::pi));
                t.zReal.push_back(md.Zprim[k] * md.totalThickness);
                t.zImaginaryNegative.push_back(md.Zbis[k] * md.totalThickness);
                omega = omega * kOmegaRatio;
            }
        }
    }

    void linear_spectrum_done(const model& md, const LinearSpectrum& s) override {
        PointTraces& t = traces_.at(md.point);
        t.linearFrequency.clear();
        t.linearZReal = s.zReal;
        t.linearZImaginaryNegative.clear();
        for (std::size_t k = 0; k < s.omega.size(); ++k) {
            t.linearFrequency.push_back(s.omega[k] / (2 * std::numbers::pi));
            t.linearZImaginaryNegative.push_back(-s.zImag[k]);
        }
    }

  private:
    RunTraces& traces_;
};

}  // namespace

int run_program(const std::string& inputName, const RunOptions& options) {
    model md;
    return run_calibration(md, inputName, options).exitCode;
}

RunSummary run_calibration(model& md, const std::string& inputName, const RunOptions& options) {
    write_banner(*options.sink);
    check_input_name(inputName);
    return run_calibration(md, ProblemSource::from_file(inputName), options);
}

namespace {

// The points of the run on the record `md` (loaded) and the grid `plan` (null: the
// input's), with its files set up when it writes them; what they did goes to `run`, whose
// grid study is `study`. A fault that stops the run is recorded in the summaries, then
// rethrown.
void run_points(model& md, const RunOptions& options, const std::optional<GridStudy>& study,
                const GridPlan* plan, RunSeries& series, RunFiles& files, RunSummary& run) {
    const bool write = options.writeFiles;
    files.messages = options.sink;
    if (write)
        set_up(md, files, series, options.path, plan);
    else {
        prepare_problem(md, series, options.path, plan);
        if (md.loadYvec == 1) read_state_file(md, *options.sink);
    }

    // The figure set, the tables with units and the library's results are drawn from
    // traces gathered point by point.
    RunOptions sequenceOptions = options;
    TraceObserver traceObserver(files.traces);
    sequenceOptions.observer = &traceObserver;
    files.traces.method = md.method;
    files.traces.changedIon = md.changedIon;
    files.traces.charges.assign(md.z + 1, md.z + 1 + md.R);
    double edge = 0;
    files.traces.layerEdges = {0};
    for (int l = 1; l <= md.n; ++l) files.traces.layerEdges.push_back(edge += md.d.at(l));

    run.inputName = md.inputName;
    if (write) run.runFolder = md.folders[0];
    run.path = solver_path_name(options.path);
    run.grid = study;
    run.linearRange = options.linearRange;
    const Bandwidths band = point_order_bandwidths(md);
    run.bandLower = band.lower;
    run.bandUpper = band.upper;
    run.unknowns = md.nEq;
    try {
        run.exitCode = run_point_sequence(md, files, series, sequenceOptions, run);
    } catch (const std::exception& e) {
        // The run stops with status 1; the summaries say where and why.
        if (options.progress != nullptr) options.progress->clear();
        run.status = "stopped";
        run.exitCode = 1;
        run.message = "calibration point " + std::to_string(md.point) + ": " + e.what();
        if (write) write_run_summaries(md, files, run);
        throw;
    }
}

// A complete pass of the run proper that is being repeated on a finer grid: its folder is
// kept aside under `folder` until the repeat has given at least as many points, so that a
// signal meanwhile loses nothing; it is never an "earlier run".
struct KeptPass {
    std::string folder;
    RunFiles files;
    RunSummary run;
};

int points_complete(const RunSummary& run) {
    return static_cast<int>(std::count_if(run.points.begin(), run.points.end(),
                                          [](const PointSummary& p) { return !p.interrupted(); }));
}

// Moves the run folder of the pass just ended aside for the repeat (replacing a pass kept
// before it, which this one supersedes); a folder that cannot be moved ends the run.
void keep_pass_aside(const model& md, RunFiles& files, const RunSummary& run,
                     std::optional<KeptPass>& kept) {
    namespace fs = std::filesystem;
    const fs::path folder = md.folders[0];
    const fs::path aside = folder.string() + ".first-pass";
    std::error_code ec;
    fs::remove_all(aside, ec);
    fs::rename(folder, aside, ec);
    if (ec)
        throw InputError("The run folder " + folder.string() +
                         " cannot be moved aside for the repeated run (" + ec.message() + ").");
    kept = KeptPass{aside.string(), std::move(files), run};
}

}  // namespace

void check_run_options(const RunOptions& options) {
    if (!(options.accuracy > 0) || !std::isfinite(options.accuracy))
        throw InputError("--accuracy " + number_text(options.accuracy) +
                         ": expected a positive, finite number of mV");
    if (options.threads < 1)
        throw InputError("--threads " + std::to_string(options.threads) +
                         ": expected a whole number of at least 1");
    if (const auto& r = options.linearRange; r && (r->from < 1 || r->to <= r->from))
        throw InputError("--linear-range " + std::to_string(r->from) + ":" + std::to_string(r->to) +
                         ": expected FROM:TO, 1 <= FROM < TO");
}

ImpedanceSpectra impedance_spectra_named(const std::string& name) {
    if (name == "step") return ImpedanceSpectra::step;
    if (name == "linear") return ImpedanceSpectra::linear;
    if (name == "both") return ImpedanceSpectra::both;
    throw InputError("--impedance " + visible_text(name) + ": expected step, linear or both");
}

RunSummary run_calibration(model& md, const ProblemSource& source, const RunOptions& options) {
    const bool write = options.writeFiles;
    check_run_options(options);
    source.load(md);
    if (options.linearRange && options.linearRange->to > md.nCalib)
        throw InputError("--linear-range " + std::to_string(options.linearRange->from) + ":" +
                         std::to_string(options.linearRange->to) + ": the input has " +
                         std::to_string(md.nCalib) + " calibration points");
    for (const std::string& note : md.inputNotes) tell(*options.sink, note, "\n");
    // held until the run has ended; a run that writes nothing needs none
    const FolderLock lock = write ? lock_run_folder(source.inputName) : FolderLock();

    // The automatic grid is chosen before anything is written: the calibration runs on
    // finer and finer grids until its results agree. The run proper then goes on the grid
    // chosen, writing its files. When the study left the grid it expects to be its last
    // to the run, the run's results complete the study; should that grid not be the last
    // after all, the refinement goes on and the run is repeated on the grid it reaches.
    std::optional<GridStudy> study;
    if (automatic_grid_applies(md, options)) study = refine_automatic_grid(source, options);
    RunSeries series;
    RunFiles files;
    RunSummary run;
    RunOptions runOptions = options;
    const GridPlan* plan = nullptr;
    std::optional<KeptPass> kept;
    for (bool again = false;; again = true) {
        if (again) {
            if (write) keep_pass_aside(md, files, run, kept);
            // a fresh record (it cannot be assigned: its per-layer members point at its
            // own cursor), series, files and summary for the repeated run
            std::destroy_at(&md);
            std::construct_at(&md);
            source.load(md);
            series = RunSeries();
            files = RunFiles();
            run = RunSummary();
        }
        plan = study && !study->grids.empty()
                   ? &study->grids[static_cast<std::size_t>(study->chosen)]
                   : nullptr;
        // the run's result is the one the study judged: on its grid, with its tolerances
        if (study) runOptions.toleranceDivisor = study->toleranceDivisor;
        run_points(md, runOptions, study, plan, series, files, run);
        if (!run.grid || !run.grid->pending) break;
        study = run.grid;
        plan = &study->grids[static_cast<std::size_t>(study->chosen)];
        bool stands = true;
        if (run.exitCode > 128) {
            // interrupted: the study ends with the points the run has given it
            study->pending = false;
            study->note = "the run was asked to stop";
        } else {
            stands = complete_pending_grid(*study, source, options);
        }
        run.grid = study;
        if (stands) break;
    }
    if (kept) {
        namespace fs = std::filesystem;
        std::error_code ec;
        if (run.exitCode > 128 && points_complete(run) < points_complete(kept->run)) {
            // Interrupted before the repeat caught up: the pass kept aside is the run's
            // result, back in its place, and says that the run was interrupted.
            const std::string folder = md.folders[0];
            fs::remove_all(folder, ec);
            fs::rename(kept->folder, folder, ec);
            if (!ec) {
                files = std::move(kept->files);
                run = std::move(kept->run);
                if (run.grid) {
                    run.grid->pending = false;
                    run.grid->note = "the run was asked to stop";
                }
                interrupted_after_points(options, md.nCalib, "while the run was repeated", run);
            }
        } else {
            fs::remove_all(kept->folder, ec);  // the repeat stands
        }
    }
    if (run.status == "running") run.status = run.exitCode == 0 ? "finished" : "failed";
    if (!write && run.exitCode > 128) run.status = "interrupted";
    if (run.grid && run.status != "interrupted") print_grid_study(*run.grid, *options.sink);
    if (options.checkGrid && run.status != "interrupted")
        run.gridCheck = check_grid(source, plan ? *plan : input_grid_plan(md), run, runOptions);
    else if (!options.checkGrid && !run.grid && grid_advice_due(md))
        print_grid_advice(*options.sink);
    settle_warnings(run, options);
    if (md.nCalib >= 2 && (run.status == "finished" || run.status == "finished with warnings" ||
                           run.status == "failed"))
        tell(*options.sink, analysis_text(analyse_run(run)));
    interrupted_after_points(options, md.nCalib,
                             options.checkGrid ? "during the grid check" : "after the last point",
                             run);
    if (!write) {
        run.traces = std::move(files.traces);
        return run;
    }
    check_standard_output(files);  // before the summaries, so that they can say so
    run.exitCode = with_unwritten_files(files, run.exitCode);
    write_run_summaries(md, files, run);
    if (interrupted_after_points(options, md.nCalib, "while the results were written", run)) {
        check_standard_output(files);
        write_run_summaries(md, files, run);
    }
    if (const std::size_t n = files.unwrittenFiles.size(); n > 0) {
        tell(*options.sink, "\n", n, (n == 1 ? " result file" : " result files"),
             " could not be written; see the messages above.\n");
        check_standard_output(files);
    }
    run.exitCode = with_unwritten_files(files, run.exitCode);  // the summaries may have failed too
    run.traces = std::move(files.traces);
    return run;
}
