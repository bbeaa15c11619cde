// A run of the library: the program's calibration run on a problem's text, its messages
// sent to the caller's sink, and what each point produced as plain vectors.
#include <algorithm>

#include "api/problem_text.h"
#include "driver/calibration_loop.h"
#include "driver/problem_source.h"
#include "output/calibration_report.h"

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

// A point's results from the run's traces of it.
void take_traces(PointResult& p, PointTraces& t) {
    p.time = std::move(t.time);
    p.potential = std::move(t.potential);
    p.profiles.x = std::move(t.nodeX);
    p.profiles.concentration = std::move(t.concentration);
    p.profiles.gridX = std::move(t.gridX);
    p.profiles.field = std::move(t.field);
    p.profiles.potential = std::move(t.potentialProfile);
    if (!t.frequency.empty())
        p.spectrum =
            Spectrum{std::move(t.frequency), std::move(t.zReal), std::move(t.zImaginaryNegative)};
    if (p.linearSpectrum) {
        p.linearSpectrum->frequency = std::move(t.linearFrequency);
        p.linearSpectrum->real = std::move(t.linearZReal);
        p.linearSpectrum->imaginary = std::move(t.linearZImaginaryNegative);
    }
}

// A linear spectrum's summary numbers; its values come from the traces.
LinearSpectrum linear_spectrum_of(const LinearSpectrumSummary& s) {
    LinearSpectrum l;
    l.potentialRate = s.potentialRate;
    l.steady = s.steady;
    if (s.agreement) {
        const ::SpectrumAgreement& a = *s.agreement;
        l.agreement =
            SpectrumAgreement{a.bandLow, a.bandHigh, a.frequencies, a.largestDifference, a.atOmega};
    }
    l.failure = s.failure;
    return l;
}

::ImpedanceSpectra impedance_spectra(ImpedanceSpectra s) {
    switch (s) {
        case ImpedanceSpectra::step:
            return ::ImpedanceSpectra::step;
        case ImpedanceSpectra::linear:
            return ::ImpedanceSpectra::linear;
        default:
            return ::ImpedanceSpectra::both;
    }
}

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
    g.atol = study.atol;
    g.rtol = study.rtol;
    g.timeError = study.timeError;
    for (const GridPointStudy& p : study.points) {
        g.potentials.push_back(p.potential);
        g.reasons.push_back(p.reason);
        const GridEstimate& e = p.potentialEstimate;
        if (e.low && e.high)
            g.intervals.emplace_back(std::make_pair(*e.low, *e.high));
        else
            g.intervals.emplace_back(std::nullopt);
    }
    return g;
}

}  // namespace

ImpedanceSpectra impedance_spectra(const std::string& name) {
    try {
        switch (::impedance_spectra_named(name)) {
            case ::ImpedanceSpectra::step:
                return ImpedanceSpectra::step;
            case ::ImpedanceSpectra::linear:
                return ImpedanceSpectra::linear;
            default:
                return ImpedanceSpectra::both;
        }
    } catch (const Fault& f) {
        throw Error(ErrorKind::input, f.what(), "", 0, "impedance", name);
    }
}

Result run(const Problem& problem, const Options& options) {
    // A run that writes makes NAME/ in the working folder (and may keep an earlier one
    // aside): a name with a folder in it, or '.' or '..', would reach outside it.
    const std::string& name = problem.name;
    if (options.writeFiles &&
        (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos))
        throw Error(ErrorKind::input,
                    "name '" + name +
                        "': a run that writes files needs a plain name for its folder in the "
                        "working folder (no '/', not '.' or '..')",
                    "", 0, "name", name);
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
    core.blockMatrices = !options.debyeGrid;  // the earlier versions' arithmetic with their grid
    core.accuracy = options.accuracy;
    core.strict = options.strict;
    core.impedance = impedance_spectra(options.impedance);
    if (options.threads != 0) core.threads = options.threads;  // 0: the default; < 0 refused
    if (options.linearRange)
        core.linearRange = PointRange{options.linearRange->first, options.linearRange->second};
    try {
        check_run_options(core);
    } catch (const Fault& f) {
        // "--linear-range 3:2: ..." names the option; the field is its keyword here
        const std::string message = f.what();
        std::string field = message.substr(2, message.find(' ') - 2);
        std::replace(field.begin(), field.end(), '-', '_');
        throw Error(ErrorKind::input, message, "", 0, field);
    }
    std::optional<ForwardSink> forward;
    if (options.messages != nullptr) {
        forward.emplace(*options.messages);
        core.sink = &*forward;
    }
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
        PointResult p;
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
        for (const auto& [t, e] : s.transient) {
            p.transientTime.push_back(t);
            p.transientPotential.push_back(e);
        }
        if (s.linearSpectrum) p.linearSpectrum = linear_spectrum_of(*s.linearSpectrum);
        if (static_cast<std::size_t>(s.point) <= summary.traces.points.size())
            take_traces(p, summary.traces.points[static_cast<std::size_t>(s.point - 1)]);
        r.points.push_back(std::move(p));
    }
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
