#include "driver/point_warnings.h"

#include <algorithm>
#include <cmath>

#include "base/number_text.h"
#include "physics/state_check.h"

namespace {

// The integrator holds each step's local error within atol + rtol·|c|, that is atol near
// zero; the global error of a run of many steps can add up to a few times that. A
// concentration ten times further below zero is no longer rounding: the grid or the
// tolerances are too coarse for the problem, or the problem has no sound solution.
constexpr double kNegativeFactor = 10;

// Transients at an interface may overshoot the equilibrium bounds of the inputs
// (state_check.h) for a while, but not by an order of magnitude: a state beyond ten
// times the largest concentration, or twice the widest potential, the inputs allow is
// not a solution of the model. A potential within the accuracy every final potential is
// held to counts as zero, so that a stack of equal solutions (bound 0) passes.
constexpr double kConcentrationMargin = 10;
constexpr double kPotentialMargin = 2;

// The share of tEnd at the end of a run over which the potential must have settled.
constexpr double kSettlingShare = 0.1;

// The potential [mV] of the series at time t [s], linear between samples.
double potential_at(const RunSeries& series, double t) {
    const int count = std::min(series.timeSeries.size(), series.potSeries.size());
    if (t <= series.timeSeries[0]) return series.potSeries[0];
    for (int i = 1; i < count; ++i) {
        if (series.timeSeries[i] < t) continue;
        const double t0 = series.timeSeries[i - 1], t1 = series.timeSeries[i];
        const double w = t1 > t0 ? (t - t0) / (t1 - t0) : 1.0;
        return series.potSeries[i - 1] + w * (series.potSeries[i] - series.potSeries[i - 1]);
    }
    return series.potSeries[count - 1];
}

// Not steady: over the last tenth of tEnd the potential moved by more than the accuracy
// every final potential is held to, so the final potential is not the steady one within
// that accuracy. The warning gives the drift as a rate, which does not depend on how long
// the run was.
std::optional<std::string> drift_warning(const model& md, const RunSeries& series,
                                         double accuracy) {
    const int count = std::min(series.timeSeries.size(), series.potSeries.size());
    if (count < 2) return std::nullopt;
    const double end = series.timeSeries[count - 1];             // s
    const double from = end - kSettlingShare * md.tEnd * md.tc;  // s
    if (!(from > 0)) return std::nullopt;
    const double change = series.potSeries[count - 1] - potential_at(series, from);  // mV
    if (!(std::fabs(change) > accuracy)) return std::nullopt;
    return "not steady: the potential still drifts by " + number_text(change / (end - from)) +
           " mV/s over the last 10 % of tEnd (" + number_text(change) + " mV)";
}

}  // namespace

std::vector<std::string> potentiometric_warnings(const model& md, const RunSeries& series,
                                                 const IntegrationSummary& run, double accuracy) {
    std::vector<std::string> warnings;
    if (run.code <= 0 || run.interrupted) return warnings;
    if (run.lowestConcentration < -kNegativeFactor * md.atol * md.cScale)
        warnings.push_back("negative concentration: down to " +
                           number_text(run.lowestConcentration) + " mol/m3");
    if (auto drift = drift_warning(md, series, accuracy)) warnings.push_back(*drift);
    const PhysicalBounds bounds = physical_bounds(md);
    const double allowed = kPotentialMargin * bounds.potential + accuracy;  // mV
    if (run.finalPotential && std::fabs(*run.finalPotential) > allowed)
        warnings.push_back("outside physical bounds: the final potential " +
                           number_text(*run.finalPotential) + " mV lies beyond the ±" +
                           number_text(allowed) + " mV the inputs allow");
    const double highest = concentration_range(md, md.y.data()).highest;
    if (highest > kConcentrationMargin * bounds.concentration)
        warnings.push_back(
            "outside physical bounds: a concentration of " + number_text(highest * md.cScale) +
            " mol/m3 exceeds " + number_text(kConcentrationMargin) + " times the " +
            number_text(bounds.concentration * md.cScale) + " mol/m3 the inputs allow");
    return warnings;
}

bool grid_judged(const GridStudy& study, int point) {
    return std::any_of(study.points.begin(), study.points.end(),
                       [point](const GridPointStudy& p) { return p.point == point; });
}

std::optional<std::string> grid_warning(const GridStudy& study, int point) {
    for (const GridPointStudy& p : study.points)
        if (p.point == point && !p.converged)
            return std::string("grid not converged: the grid ") +
                   (study.automatic ? "study" : "check") +
                   " does not find the run's results within its targets of the grid-converged "
                   "ones" +
                   (p.reason.empty() ? "" : "; " + p.reason);
    return std::nullopt;
}
