// A run of the library: the program's calibration run on a problem's text, its messages
// sent to the caller's sink, and what each point produced gathered as plain vectors.
#include <cmath>
#include <numbers>

#include "api/problem_text.h"
#include "driver/calibration_loop.h"
#include "driver/problem_source.h"
#include "experiments/impedance.h"
#include "output/calibration_report.h"
#include "output/profiles.h"

namespace tavoline {

namespace {

// The caller's sink as the program's.
class ForwardSink : public ::MessageSink {
  public:
    explicit ForwardSink(tavoline::MessageSink& to) : to_(to) {}
    void write(std::string_view text) override { to_.write(text); }
    void flush() override { to_.flush(); }

  private:
    tavoline::MessageSink& to_;
};

Profiles profiles_of(const model& md) {
    const ProfileData data = profile_data(md);
    Profiles p;
    p.x = data.yPos;
    p.concentration = data.conc;
    p.gridX = data.x;
    p.field = data.field;
    p.potential = data.potential;
    return p;
}

// Keeps, per point, the potential against time and the final profiles of the
// potentiometric run, and the transient and spectrum of the current step.
class Collector : public PointObserver {
  public:
    std::vector<PointResult> points;

    void potentiometric_done(const model& md, const RunSeries& series) override {
        PointResult& p = at(md.point);
        const int count = std::min(series.timeSeries.size(), series.potSeries.size());
        p.time.assign(series.timeSeries.data(), series.timeSeries.data() + count);
        p.potential.assign(series.potSeries.data(), series.potSeries.data() + count);
        p.profiles = profiles_of(md);
    }
    void current_step_done(const model& md, const RunSeries& series) override {
        PointResult& p = at(md.point);
        const int count = std::min(series.timeSeries.size(), series.potSeries.size());
        p.transientTime.assign(series.timeSeries.data(), series.timeSeries.data() + count);
        p.transientPotential.assign(series.potSeries.data(), series.potSeries.data() + count);
        if (md.method != 1) return;
        Spectrum s;
        double omega = kOmegaFirst;
        const std::size_t n = std::min(md.Zprim.size(), md.Zbis.size());
        // The record holds the spectrum per membrane thickness [ohm m^2 / m].
        for (std::size_t k = 0; k < n; ++k) {
            s.frequency.push_back(omega / (2 * std::numbers::pi));
            s.real.push_back(md.Zprim[k] * md.totalThickness);
            s.imaginary.push_back(md.Zbis[k] * md.totalThickness);
            omega *= kOmegaRatio;
        }
        p.spectrum = std::move(s);
    }

  private:
    PointResult& at(int point) {
        if (static_cast<int>(points.size()) < point) points.resize(static_cast<std::size_t>(point));
        return points[static_cast<std::size_t>(point - 1)];
    }
};

Statistics statistics_of(const IntegrationSummary& s) {
    Statistics t;
    t.steps = s.stats.steps;
    t.accepted = s.stats.accepted;
    t.rejected = s.stats.rejected;
    t.rhsCalls = s.stats.all_rhs_calls();
    t.jacobians = s.stats.jacobians;
    t.decompositions = s.stats.real_decompositions + s.stats.complex_decompositions;
    t.wallSeconds = s.wallSeconds;
    return t;
}

GridReport grid_report(const GridStudy& study) {
    GridReport g;
    for (const GridPlan& plan : study.grids) {
        std::vector<GridLayer> layers;
        for (const LayerGrid& l : plan) layers.push_back({l.N, l.m, l.firstStep});
        g.grids.push_back(std::move(layers));
    }
    g.unknowns = study.unknowns;
    g.used = study.chosen;
    g.converged = study.converged;
    g.note = study.note;
    for (const GridPointStudy& p : study.points) {
        g.potentials.push_back(p.potential);
        const GridEstimate& e = p.potentialEstimate;
        if (e.low && e.high)
            g.intervals.emplace_back(std::make_pair(*e.low, *e.high));
        else
            g.intervals.emplace_back(std::nullopt);
    }
    return g;
}

}  // namespace

Result run(const Problem& problem, const Options& options) {
    const ProblemText text = problem_text(problem);
    ProblemSource source;
    source.inputName = problem.name.empty() ? "problem" : problem.name;
    source.text = text.text;
    source.fileName = text.fileName;

    RunOptions core;
    core.path = options.dense ? SolverPath::dense : SolverPath::banded;
    core.quiet = options.quiet;
    core.stopSignal = options.stop;
    core.checkGrid = options.checkGrid;
    core.writeFiles = options.writeFiles;
    core.debyeGrid = options.debyeGrid;
    core.accuracy = options.accuracy;
    core.strict = options.strict;
    if (options.threads >= 1) core.threads = options.threads;
    if (options.linearRange)
        core.linearRange = PointRange{options.linearRange->first, options.linearRange->second};
    std::optional<ForwardSink> forward;
    if (options.messages != nullptr) {
        forward.emplace(*options.messages);
        core.sink = &*forward;
    }
    Collector collector;
    core.observer = &collector;

    model md;
    RunSummary summary;
    try {
        summary = run_calibration(md, source, core);
    } catch (const Fault& f) {
        throw library_error(f, text.fields.empty() ? nullptr : &text.fields);
    }

    Result r;
    r.status = summary.status;
    r.exitCode = summary.exitCode;
    r.message = summary.message;
    r.warnings = run_warnings(summary);
    if (options.writeFiles) r.runFolder = summary.runFolder;
    for (const PointSummary& s : summary.points) {
        if (static_cast<int>(collector.points.size()) < s.point)
            collector.points.resize(static_cast<std::size_t>(s.point));
        PointResult& p = collector.points[static_cast<std::size_t>(s.point - 1)];
        p.point = s.point;
        p.multiplier = s.multiplier;
        p.concentration = s.sampleConcentration;
        p.finalPotential = s.potentiometric.finalPotential;
        p.status = s.status();
        p.warnings = s.warnings;
        p.failure = s.potentiometric.failure;
        if (p.failure.empty() && s.currentStep) p.failure = s.currentStep->failure;
        p.drift = s.drift;
        p.startedFrom = s.startedFrom;
        p.statistics = statistics_of(s.potentiometric);
    }
    collector.points.resize(summary.points.size());
    r.points = std::move(collector.points);
    if (md.nCalib >= 2 && !summary.points.empty()) {
        const CalibrationAnalysis a = analyse_run(summary);
        CalibrationFit fit;
        fit.linearPoints = a.linearPoints;
        fit.automatic = a.automatic;
        fit.slope = a.slope;
        fit.slopeError = a.slopeError;
        fit.intercept = a.intercept;
        fit.detectionLimit = a.detectionLimit;
        fit.note = a.note;
        r.calibration = std::move(fit);
    }
    if (summary.grid) r.grid = grid_report(*summary.grid);
    if (summary.gridCheck) r.gridCheck = grid_report(*summary.gridCheck);
    return r;
}

}  // namespace tavoline
