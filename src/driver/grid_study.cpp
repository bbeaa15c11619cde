#include "driver/grid_study.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <sstream>

#include "driver/point_sequence.h"
#include "driver/problem_setup.h"
#include "experiments/impedance.h"
#include "model/errors.h"
#include "model/input_file.h"
#include "physics/flux.h"

namespace {

using Transient = std::vector<std::pair<double, double>>;

// The potential of a transient at time t, linear between its reported steps; none past its
// last step (beyond rounding).
std::optional<double> potential_at(const Transient& tr, double t) {
    if (tr.empty() || t > tr.back().first * (1 + 1e-12)) return std::nullopt;
    const auto it = std::lower_bound(tr.begin(), tr.end(), t,
                                     [](const auto& a, double v) { return a.first < v; });
    if (it == tr.end()) return tr.back().second;
    if (it == tr.begin() || it->first == t) return it->second;
    const auto& a = *(it - 1);
    return a.second + (t - a.first) / (it->first - a.first) * (it->second - a.second);
}

// Whether the points of the record's method run a current step (impedance alone from the
// linearised system does not).
bool runs_current_step(const model& md, const RunOptions& options) {
    return md.method == 2 || (md.method == 1 && options.impedance != ImpedanceSpectra::linear);
}

// Whether the run's value (on the study's chosen grid) of the values v, estimated as e, is
// within `target` of the grid-converged value: the whole interval for it is.
bool within_target(const GridStudy& study, const GridEstimate& e,
                   const std::vector<std::optional<double>>& v, double target) {
    const auto used = static_cast<std::size_t>(study.chosen);
    if (!e.low || !e.high || used >= v.size() || !v[used]) return false;
    return std::max(std::fabs(*e.low - *v[used]), std::fabs(*e.high - *v[used])) <= target;
}

// The diffusion-only model's potentials do not depend on the grid (no field acts on the
// ions): its study judges instead what the grid does change, the flux of every component
// through every interface and its concentration profile in every layer at the end of the
// potentiometric run. The measure is the potential target's: a relative error δ of a
// concentration moves a Nernst potential by (RT/F)·δ, so the target `accuracy` corresponds
// to δ = accuracy·F/(RT) (0.39 % for 0.1 mV at 298 K). Sets up the values of point s of the
// record `md` and what their targets derive from (see set_profile_targets).
void add_profile_values(const GridStudy& study, const model& md, GridPointStudy& s) {
    s.relativeTarget = study.potentialTarget * 1e-3 * md.F / (md.Rgas * md.T);  // mV to V
    // D/d [m/s] of every layer, D its largest diffusivity; the smallest of the layers
    // where anything diffuses
    s.diffusionRate = 0;
    for (int l = 1; l <= md.n; ++l) {
        double D = 0;
        for (int c = 1; c <= md.R; ++c) D = std::max(D, md.D.at(l).item(c));
        const double rate = D / md.d.at(l);
        if (rate > 0 && (s.diffusionRate == 0 || rate < s.diffusionRate)) s.diffusionRate = rate;
    }
    // mol/m³: atol holds scaled concentrations; the study's is the input's over its divisor
    s.absoluteTolerance = md.atol / study.toleranceDivisor * md.cScale;
    for (int i = 0; i <= md.n; ++i)
        for (int c = 1; c <= md.R; ++c) s.fluxes.push_back({c, i, 0, {}, 0, {}});
    for (int l = 1; l <= md.n; ++l)
        for (int c = 1; c <= md.R; ++c)
            for (int j = 0; j < kProfilePlaces; ++j)
                s.concentrations.push_back(
                    {c, l, static_cast<double>(j) / (kProfilePlaces - 1), {}, 0, {}});
}

// The targets of the diffusion-only model's values of point s, from their values on the
// study's last grid:
// - a concentration within δ of the largest concentration of its component (profiles are
//   compared at kProfilePlaces fixed places of every layer, its edges, which set the
//   transfer, included; relative to each value itself the nearly empty part of a depleted
//   profile would ask for any accuracy), and never below 8 times the integrator's absolute
//   tolerance, so that the changes the estimate takes for noise (an eighth of the target)
//   are not the integrator's;
// - a flux within δ of the largest flux magnitude through any interface of the point, and
//   never below δ·D·c_max/d, the steady flux that the point's largest concentration would
//   drive through a layer (the one where D/d is smallest) against none at its other face:
//   a point at rest has only rounding for fluxes, and a steady flux off by less than that
//   moves no concentration difference across that layer by more than δ·c_max, the
//   concentrations' target.
void set_profile_targets(GridPointStudy& s) {
    std::vector<double> largest;  // per component (index c - 1)
    for (const GridProfileValue& v : s.concentrations) {
        if (largest.size() < static_cast<std::size_t>(v.component))
            largest.resize(static_cast<std::size_t>(v.component), 0.0);
        double& l = largest[static_cast<std::size_t>(v.component - 1)];
        if (v.values.back()) l = std::max(l, std::fabs(*v.values.back()));
    }
    double largestFlux = 0;
    for (const GridProfileValue& v : s.fluxes)
        if (v.values.back()) largestFlux = std::max(largestFlux, std::fabs(*v.values.back()));
    const double cmax = largest.empty() ? 0 : *std::max_element(largest.begin(), largest.end());
    for (GridProfileValue& v : s.concentrations)
        v.target = std::max(s.relativeTarget * largest[static_cast<std::size_t>(v.component - 1)],
                            8 * s.absoluteTolerance);
    for (GridProfileValue& v : s.fluxes)
        v.target = s.relativeTarget * std::max(largestFlux, cmax * s.diffusionRate);
}

// The values of calibration point p on the study's last grid, from its summary `done`
// (null: the run did not reach it), into the study's point p (created on the first grid).
// `currentStep`: the point runs a current step, whose transient is compared.
void add_point_result(GridStudy& study, int p, const PointSummary* done, const model& md,
                      bool currentStep) {
    const std::size_t grid = study.grids.size() - 1;
    const double tEnd = md.tEnd * md.tc;  // [s]
    while (static_cast<int>(study.points.size()) < p) {
        GridPointStudy s;
        s.point = static_cast<int>(study.points.size()) + 1;
        s.multiplier = md.multipliers[static_cast<std::size_t>(s.point)];
        if (currentStep)
            for (int j = 1; j <= kTransientSamples; ++j)
                s.sampleTimes.push_back(tEnd * j / kTransientSamples);
        s.transient.resize(s.sampleTimes.size());
        if (md.modelType == 1) add_profile_values(study, md, s);
        study.points.push_back(s);
    }
    GridPointStudy& s = study.points[static_cast<std::size_t>(p - 1)];
    s.potential.resize(grid + 1);
    s.lowZ.resize(grid + 1);
    s.apex.resize(grid + 1);
    for (auto& t : s.transient) t.resize(grid + 1);
    for (auto& v : s.fluxes) v.values.resize(grid + 1);
    for (auto& v : s.concentrations) v.values.resize(grid + 1);
    if (done == nullptr) return;
    if (!done->ok()) {
        const IntegrationSummary* outside =
            done->potentiometric.outsideDiluteRange                      ? &done->potentiometric
            : done->currentStep && done->currentStep->outsideDiluteRange ? &*done->currentStep
                                                                         : nullptr;
        if (outside != nullptr && !s.outsideDiluteRange) {
            s.outsideDiluteRange = true;
            s.failure = outside->failure + " (grid " + std::to_string(grid + 1) + ")";
        }
        if (s.failure.empty())
            s.failure = "the integration failed on grid " + std::to_string(grid + 1);
        return;
    }
    s.potential[grid] = done->potentiometric.finalPotential;
    if (md.method == 1) {
        s.lowZ[grid] = done->lowFrequencyZ;
        s.apex[grid] = done->apexFrequency;
    }
    for (std::size_t j = 0; j < s.sampleTimes.size(); ++j)
        s.transient[j][grid] = potential_at(done->transient, s.sampleTimes[j]);
    if (md.method == 2) s.transitionTime = transition_time(done->transient, done->depletion);
    if (done->interfaceFlux.size() == s.fluxes.size())
        for (std::size_t k = 0; k < s.fluxes.size(); ++k)
            s.fluxes[k].values[grid] = done->interfaceFlux[k];
    if (done->profile.size() == s.concentrations.size())
        for (std::size_t k = 0; k < s.concentrations.size(); ++k)
            s.concentrations[k].values[grid] = done->profile[k];
}

// The results of one run of the calibration on the study's last grid.
void add_grid_results(GridStudy& study, const RunSummary& run, const model& md, bool currentStep) {
    for (int p = 1; p <= md.nCalib; ++p) {
        const PointSummary* done = nullptr;
        for (const PointSummary& r : run.points)
            if (r.point == p) done = &r;
        add_point_result(study, p, done, md, currentStep);
    }
}

// The chronopotentiogram counts as converged within the relative target of its largest
// potential before the transition (the potential target at least).
double transient_target(const GridStudy& study, const GridPointStudy& s) {
    double largest = 0;
    for (std::size_t j = 0; j < s.sampleTimes.size(); ++j)
        if (!(s.transitionTime && s.sampleTimes[j] > *s.transitionTime) && s.transient[j].back())
            largest = std::max(largest, std::fabs(*s.transient[j].back()));
    return std::max(study.potentialTarget, study.impedanceTarget * largest);
}

// Estimates every value of point s and decides whether it has converged: the final
// potential and the chronopotentiogram before its transition within the potential target,
// the low-frequency impedance within its relative target.
void estimate_point(const GridStudy& study, GridPointStudy& s) {
    const double noise = study.potentialTarget / 8;
    const auto within = [&study](const GridEstimate& e, const std::vector<std::optional<double>>& v,
                                 double target) { return within_target(study, e, v, target); };
    s.potentialEstimate = estimate_grid_error(s.potential, noise);
    s.converged = within(s.potentialEstimate, s.potential, study.potentialTarget);
    if (!s.lowZ.empty() && s.lowZ.back()) {
        const double target = study.impedanceTarget * std::fabs(*s.lowZ.back());
        s.lowZEstimate = estimate_grid_error(s.lowZ, target / 8);
        // The apex is read off the spectrum's frequencies, one per cent apart: changes
        // within that step are the spacing, not the grid.
        s.apexEstimate = estimate_grid_error(
            s.apex, s.apex.back() ? 1.01 * (kOmegaRatio - 1) * *s.apex.back() : 0);
        s.converged = s.converged && within(s.lowZEstimate, s.lowZ, target);
    }
    set_profile_targets(s);
    for (auto* values : {&s.fluxes, &s.concentrations})
        for (GridProfileValue& v : *values) {
            v.estimate = estimate_grid_error(v.values, v.target / 8);
            s.converged = s.converged && within(v.estimate, v.values, v.target);
        }
    s.transientEstimates.clear();
    s.unresolvedFrom.reset();
    // The chronopotentiogram's samples lie between the integrator's steps, whose placement
    // differs from grid to grid: changes below half the target are that noise, not the
    // grid's error.
    const double transientTarget = transient_target(study, s);
    for (std::size_t j = 0; j < s.sampleTimes.size(); ++j) {
        s.transientEstimates.push_back(
            estimate_grid_error(s.transient[j], std::max(noise, transientTarget / 2)));
        const bool ok = within(s.transientEstimates.back(), s.transient[j], transientTarget);
        const bool pastTransition = s.transitionTime && s.sampleTimes[j] > *s.transitionTime;
        if (!ok && pastTransition && !s.unresolvedFrom) s.unresolvedFrom = s.sampleTimes[j];
        // Past the transition the potential grows without bound in this model (nothing
        // limits it, such as water splitting), and no grid resolves it: that part is
        // reported as not resolved instead of holding up the rest.
        if (!ok && !pastTransition) s.converged = false;
    }
}

void estimate_study(GridStudy& study) {
    study.converged = !study.points.empty();
    for (GridPointStudy& s : study.points) {
        estimate_point(study, s);
        study.converged = study.converged && s.converged;
    }
}

// Whether values (coarse to fine) are expected to be within `target` on the next grid.
// Changes below `noise` on the last three grids stay noise. Otherwise the last change
// shrinks by 2^p, p the observed order where the last three grids give one in the
// asymptotic range (at most the method's; none there: no guess), the method's where there
// are only two; the Richardson interval of the next grid is then kSafetyFactor times that
// change over 2^p - 1.
bool expected_within(const std::vector<std::optional<double>>& values, double target,
                     double noise) {
    const std::size_t n = values.size();
    if (n < 2 || !values[n - 1] || !values[n - 2]) return false;
    const GridEstimate e = estimate_grid_error(values, noise);
    if (e.belowNoise) return true;
    double p = kGridOrder;
    if (n >= 3 && values[n - 3]) {
        if (!e.asymptotic) return false;
        p = std::min(*e.order, static_cast<double>(kGridOrder));
    }
    const double shrink = std::pow(2.0, p);
    const double next = std::fabs(*values[n - 1] - *values[n - 2]) / shrink;
    return kSafetyFactor * next / (shrink - 1) <= target;
}

// Whether the next grid is expected to end the study: the study has two grids or more (so
// that the next makes the three an estimate needs), and every value it judges of every
// point is expected within its target there. A wrong guess costs no run: the study would
// have run that grid anyway, and goes on from it.
bool next_grid_expected_last(const GridStudy& study) {
    if (study.grids.size() < 2 || study.points.empty()) return false;
    const double noise = study.potentialTarget / 8;  // as estimate_point judges them
    for (const GridPointStudy& s : study.points) {
        if (!expected_within(s.potential, study.potentialTarget, noise)) return false;
        if (!s.lowZ.empty() && s.lowZ.back()) {
            const double target = study.impedanceTarget * std::fabs(*s.lowZ.back());
            if (!expected_within(s.lowZ, target, target / 8)) return false;
        }
        for (const auto* values : {&s.fluxes, &s.concentrations})
            for (const GridProfileValue& v : *values)
                if (!expected_within(v.values, v.target, v.target / 8)) return false;
        const double transientTarget = transient_target(study, s);
        for (std::size_t j = 0; j < s.sampleTimes.size(); ++j)
            if (!(s.transitionTime && s.sampleTimes[j] > *s.transitionTime) &&
                !expected_within(s.transient[j], transientTarget,
                                 std::max(noise, transientTarget / 2)))
                return false;
    }
    return true;
}

RunOptions silent_options(const RunOptions& options) {
    RunOptions silent = options;
    silent.quiet = true;
    silent.announce = false;
    silent.writeFiles = false;
    silent.checkGrid = false;
    // the study judges the step spectrum where there is one; a linear one beside it would
    // only cost time
    if (silent.impedance == ImpedanceSpectra::both) silent.impedance = ImpedanceSpectra::step;
    return silent;
}

// The drift of a point's potential at the end of its run on the study's last grid.
void add_drift(GridStudy& study, const PointSummary& point) {
    if (point.point >= 1 && point.point <= static_cast<int>(study.points.size()))
        study.points[static_cast<std::size_t>(point.point - 1)].drift = point.drift;
}

// Runs the whole calibration of the input on `plan` without writing, with the study's
// tolerances; false when a signal asked the run to stop.
bool run_on_grid(const ProblemSource& source, const GridPlan& plan, const RunOptions& options,
                 GridStudy& study) {
    model md;
    RunSeries series;
    source.load(md);
    prepare_problem(md, series, options.path, &plan);
    study.grids.push_back(plan);
    study.unknowns.push_back(md.nEq);
    study.atol = md.atol / study.toleranceDivisor;
    study.rtol = md.rtol / study.toleranceDivisor;
    RunSummary run;
    RunOptions silent = silent_options(options);
    silent.toleranceDivisor = study.toleranceDivisor;
    RunFiles files;  // nothing is written: silent options
    run_point_sequence(md, files, series, silent, run);
    if (options.stop_requested()) return false;
    add_grid_results(study, run, md, runs_current_step(md, options));
    for (const PointSummary& r : run.points) add_drift(study, r);
    return true;
}

// Whether some point has no final potential on the last two grids.
bool failed_twice(const GridStudy& study) {
    for (const GridPointStudy& s : study.points) {
        const std::size_t n = s.potential.size();
        if (n >= 2 && !s.potential[n - 1] && !s.potential[n - 2]) return true;
    }
    return false;
}

std::string plan_text(const GridPlan& plan) {
    std::ostringstream s;
    s.precision(3);
    for (std::size_t l = 0; l < plan.size(); ++l)
        s << (l ? "; " : "") << "layer " << l + 1 << ": N = " << plan[l].N << ", m = " << plan[l].m
          << ", first step " << plan[l].firstStep << " m";
    return s.str();
}

// Largest change of the final potentials between the last two grids [mV].
double largest_change(const GridStudy& study) {
    double largest = 0;
    for (const GridPointStudy& s : study.points) {
        const std::size_t n = s.potential.size();
        if (n >= 2 && s.potential[n - 1] && s.potential[n - 2])
            largest = std::max(largest, std::fabs(*s.potential[n - 1] - *s.potential[n - 2]));
    }
    return largest;
}

std::string number(double v) {
    std::ostringstream s;
    s.precision(6);
    s << v;
    return s.str();
}

std::string value_text(const std::optional<double>& v, const char* unit) {
    return v ? number(*v) + unit : std::string("none");
}

// "grid-converged value in [a, b] UNIT", or why there is no interval.
std::string estimate_text(const GridEstimate& e, const char* unit) {
    if (e.low && e.high) {
        std::string text =
            "grid-converged value in [" + number(*e.low) + ", " + number(*e.high) + "]" + unit;
        if (e.order) text += " (observed order " + number(*e.order) + ")";
        return text;
    }
    if (e.order) return "not in the asymptotic range (observed order " + number(*e.order) + ")";
    return "not in the asymptotic range";
}

// The worst of the diffusion-only model's values against their targets: "at most E UNIT
// from the grid-converged value (target T UNIT) at WHERE", for the value whose distance (the
// farther end of its interval from the run's value) is the largest share of its target, or
// "not in the asymptotic range at WHERE" for a value that has no interval.
std::string profile_text(const GridStudy& study, const std::vector<GridProfileValue>& values,
                         bool fluxes, const char* unit) {
    const auto used = static_cast<std::size_t>(study.chosen);
    const GridProfileValue* worst = nullptr;
    double worstShare = -1, worstDistance = 0;
    for (const GridProfileValue& v : values) {
        const GridEstimate& e = v.estimate;
        double distance = 0, share = HUGE_VAL;
        if (e.low && e.high && used < v.values.size() && v.values[used]) {
            distance =
                std::max(std::fabs(*e.low - *v.values[used]), std::fabs(*e.high - *v.values[used]));
            share = v.target > 0 ? distance / v.target : (distance > 0 ? HUGE_VAL : 0);
        }
        if (share > worstShare) {
            worst = &v;
            worstShare = share;
            worstDistance = distance;
        }
        if (share == HUGE_VAL) break;
    }
    if (worst == nullptr) return "none";
    const std::string where = fluxes ? "interface " + std::to_string(worst->region) +
                                           ", component " + std::to_string(worst->component)
                                     : "component " + std::to_string(worst->component) +
                                           ", layer " + std::to_string(worst->region) +
                                           " at x/d = " + number(worst->fraction);
    if (worstShare == HUGE_VAL) return "not in the asymptotic range at " + where;
    return "at most " + number(worstDistance) + unit + " from the grid-converged value (target " +
           number(worst->target) + unit + ") at " + where;
}

}  // namespace

std::optional<double> GridEstimate::half_width() const {
    if (!low || !high) return std::nullopt;
    return (*high - *low) / 2;
}

GridEstimate estimate_grid_error(const std::vector<std::optional<double>>& values, double noise) {
    GridEstimate e;
    const std::size_t n = values.size();
    if (n < 3 || !values[n - 1] || !values[n - 2] || !values[n - 3]) return e;
    const double fine = *values[n - 1];
    const double d1 = fine - *values[n - 2];            // last change
    const double d0 = *values[n - 2] - *values[n - 3];  // the one before
    if (d0 != 0 && d1 != 0 && (d0 > 0) == (d1 > 0) && std::fabs(d1) < std::fabs(d0))
        e.order = std::log2(d0 / d1);
    e.asymptotic = e.order && std::fabs(*e.order - kGridOrder) <= kOrderTolerance;
    e.belowNoise = std::fabs(d1) <= noise && std::fabs(d0) <= noise;
    if (e.asymptotic) {
        // Richardson: the error of the finest value is d1 / (2^p - 1); an observed order
        // above the method's is not trusted beyond it.
        const double p = std::min(*e.order, static_cast<double>(kGridOrder));
        const double delta = d1 / (std::pow(2.0, p) - 1);
        e.extrapolated = fine + delta;
        e.low = fine - kSafetyFactor * std::fabs(delta);
        e.high = fine + kSafetyFactor * std::fabs(delta);
    } else if (e.belowNoise) {
        // Changes this small say nothing of an order; the last one bounds the error as a
        // first-order estimate would.
        const double bound = kSafetyFactor * std::max(std::fabs(d1), std::fabs(d0));
        e.low = fine - bound;
        e.high = fine + bound;
    }
    return e;
}

bool changes_stalled(const std::vector<std::optional<double>>& values, double noise) {
    const std::size_t n = values.size();
    if (n < 4) return false;
    for (std::size_t g = n - 4; g < n; ++g)
        if (!values[g]) return false;
    const auto change = [&](std::size_t g) { return std::fabs(*values[g] - *values[g - 1]); };
    const double d0 = change(n - 3), d1 = change(n - 2), d2 = change(n - 1);
    if (!(d2 > noise)) return false;
    return d2 >= d1 || (d1 > noise && d1 > d0 / 2 && d2 > d1 / 2);
}

std::optional<double> transition_time(const std::vector<std::pair<double, double>>& transient,
                                      const std::vector<double>& depletion) {
    if (transient.size() < 4 || depletion.size() != transient.size()) return std::nullopt;
    // A transition is the salt at an interface running out. Below the limiting current an
    // edge concentration settles near c0 (1 - i/i_lim), and the potential with it, however
    // fast it rose at first (at 0.997 i_lim the lowest edge of a blocked-anion layer keeps
    // 5e-4 of its start, the space charge at the edge taking its share); past Sand's time
    // it falls to nearly nothing (1e-11 and below in the tests' salt layer and in a
    // blocked-anion layer at twice its limiting current).
    if (*std::min_element(depletion.begin(), depletion.end()) > kExhaustedRatio)
        return std::nullopt;
    Transient edge;  // (t [s], lowest edge concentration ratio)
    for (std::size_t i = 0; i < transient.size(); ++i)
        edge.emplace_back(transient[i].first, depletion[i]);
    const double tEnd = transient.back().first;
    const double rise = transient.back().second - transient.front().second;
    const double sign = rise < 0 ? -1 : 1;
    // The integrator's steps crowd where the potential moves fast; on evenly spaced times
    // the median rate is that of the quiet part of the run.
    constexpr int kSamples = 400;
    std::vector<double> times, rates;
    double previous = 0;
    for (int k = 0; k <= kSamples; ++k) {
        const double t = tEnd * k / kSamples;
        const double e = potential_at(transient, t).value_or(transient.back().second);
        if (k > 0 && t >= 0.01 * tEnd) {
            times.push_back(t);
            rates.push_back(sign * (e - previous) * kSamples / tEnd);
        }
        previous = e;
    }
    if (rates.size() < 3) return std::nullopt;
    std::vector<double> sorted = rates;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2),
                     sorted.end());
    const double median = std::fabs(sorted[sorted.size() / 2]);
    // The transition starts where the potential rises at least 20 times faster than it
    // does over most of the run, once the edge concentration is down to a few per cent: a
    // potential that follows ln c turns steep only there (Sand's c0 (1 - sqrt(t/tau))
    // reaches 5 % at 0.90 tau, the edge inside the space charge earlier still; the steep
    // rise comes at about 1 %, 0.98 tau), while an
    // earlier steep part, such as the charging of the layers after the switch-on, is not
    // the transition.
    for (std::size_t k = 0; k < rates.size(); ++k) {
        const double ratio = potential_at(edge, times[k] - 0.5 * tEnd / kSamples).value_or(1);
        if (rates[k] > 20 * median && median > 0 && ratio <= kRisingRatio)
            return times[k] - 0.5 * tEnd / kSamples;
    }
    // Where the run goes on long past the transition, its steep part is too much of the run
    // for the median to be the quiet part's: the transition is then where the lowest edge
    // concentration falls through kTransitionRatio of its start, between Sand's time and
    // 2 % before it (a 10 um blocked-anion layer at twice its limiting current: -0.4 %; the
    // salt layer of tests/data/sand_transition.cci: -2.1 %).
    for (std::size_t i = 1; i < depletion.size(); ++i)
        if (depletion[i] <= kTransitionRatio) {
            const double a = depletion[i - 1], b = depletion[i];
            const double w = a > b ? (a - kTransitionRatio) / (a - b) : 1;
            return transient[i - 1].first + w * (transient[i].first - transient[i - 1].first);
        }
    return std::nullopt;
}

bool automatic_grid_applies(const model& md, const RunOptions& options) {
    return !options.debyeGrid && md.loadYvec != 1 &&
           (md.gridDebyeMethod == 1 || md.gridDebyeMethod == 2);
}

namespace {

// The line of a grid that has run: its changes, and whether the study has converged.
void tell_grid_result(const GridStudy& study, MessageSink& sink) {
    // the diffusion-only model is judged by its fluxes and profiles, its potentials being 0
    const bool profiles = !study.points.empty() && !study.points.front().fluxes.empty();
    if (study.grids.size() > 1 && profiles)
        tell(sink, ": interface fluxes and concentration profiles compared");
    else if (study.grids.size() > 1)
        tell(sink, ": final potentials changed by up to ", number(largest_change(study)), " mV");
    tell(sink, (study.converged ? "; converged.\n" : ".\n"));
}

std::string changes_text(const std::vector<std::optional<double>>& values) {
    std::string text;
    for (std::size_t g = 1; g < values.size(); ++g)
        if (values[g] && values[g - 1])
            text += (text.empty() ? "" : ", ") + number(*values[g] - *values[g - 1]);
    return text + " mV";
}

// Why point s has not converged, where the study can tell: a potential that has not
// settled at tEnd (it moved by more than the target over the last tenth of tEnd, as the
// "not steady" warning says), changes that no longer shrink, or a time-integration error
// the tightest tolerances tried left above what the study judges.
std::string point_reason(const GridStudy& study, const GridPointStudy& s) {
    const double noise = study.potentialTarget / 8;
    const bool stalled = changes_stalled(s.potential, noise);
    std::string reason;
    if (s.drift && std::fabs(*s.drift) * study.tEnd / 10 > study.potentialTarget)
        reason = "not settled at tEnd: the potential still drifts by " + number(*s.drift) +
                 " mV/s (" + number(*s.drift * study.tEnd / 10) +
                 " mV over the last tenth of tEnd), so its final value depends on how fast "
                 "each grid and each step lets the membrane settle";
    if (stalled)
        reason += (reason.empty() ? "" : "; ") +
                  std::string("its changes from grid to grid no longer shrink (") +
                  changes_text(s.potential) + ")";
    if (study.timeError && *study.timeError > noise)
        reason += (reason.empty() ? "" : "; ") + std::string("the time-integration error, ") +
                  number(*study.timeError) + " mV on the first grid, is above " + number(noise) +
                  " mV with the tightest tolerances tried";
    return reason;
}

// Names, for every point that has not converged, why it has not, where the study can tell.
void explain_points(GridStudy& study) {
    for (GridPointStudy& s : study.points) s.reason = s.converged ? "" : point_reason(study, s);
}

// The points whose changes no longer shrink, as "points 2 and 5"; empty when none.
std::string stalled_points(const GridStudy& study) {
    std::vector<int> points;
    for (const GridPointStudy& s : study.points)
        if (!s.converged && changes_stalled(s.potential, study.potentialTarget / 8))
            points.push_back(s.point);
    std::string text;
    for (std::size_t i = 0; i < points.size(); ++i)
        text += (i == 0 ? (points.size() == 1 ? "point " : "points ")
                        : (i + 1 == points.size() ? " and " : ", ")) +
                std::to_string(points[i]);
    return text;
}

// Whether the study stops after its last grid: converged, a point failed on the last two
// grids (finer grids do not mend it), or the changes of a point no longer shrink (finer
// grids would cost more without converging); the note says why, and every point that has
// not converged gets its reason.
bool study_ends(GridStudy& study) {
    if (study.converged) return true;
    explain_points(study);
    for (const GridPointStudy& s : study.points)
        if (s.outsideDiluteRange) {
            study.note = "calibration point " + std::to_string(s.point) + " went " + s.failure;
            return true;
        }
    if (failed_twice(study)) {
        study.note =
            "a calibration point failed on the last two grids; finer grids do not "
            "mend it";
        return true;
    }
    if (const std::string stalled = stalled_points(study); !stalled.empty()) {
        study.note = "the changes of the final potential of " + stalled +
                     " no longer shrink from grid to grid, and finer grids would cost more "
                     "without converging";
        return true;
    }
    return false;
}

// At most this many tenfold tightenings of the input's tolerances on the first grid: the
// default ones (atol 1e-10, rtol 1e-4) down to 1e-13 and 1e-7, still far above rounding.
constexpr int kMaxTightenings = 3;

// Largest difference of a final potential between the one-grid studies a and b [mV]; none
// when a point has no final potential in one of them.
std::optional<double> largest_difference(const GridStudy& a, const GridStudy& b) {
    if (a.points.empty() || a.points.size() != b.points.size()) return std::nullopt;
    double largest = 0;
    for (std::size_t p = 0; p < a.points.size(); ++p) {
        const std::optional<double>& u = a.points[p].potential.back();
        const std::optional<double>& v = b.points[p].potential.back();
        if (!u || !v) return std::nullopt;
        largest = std::max(largest, std::fabs(*u - *v));
    }
    return largest;
}

// Chooses the integrator's tolerances on the study's first (and only) grid. The grid is
// judged on changes down to an eighth of the target; the time-integration error of a final
// potential must lie below that, or the study refines the grid to remove an error that the
// grid does not set. The error is measured as the change of every final potential when the
// calibration runs again with atol and rtol ten times tighter (the error of a step-size
// controlled integration shrinks with its tolerances, so the change is about the error of
// the looser run); while it is above an eighth of the target, the tighter tolerances become
// the study's and are checked in turn. The study keeps the results of the tolerances it
// settles on, so that its first grid is judged with them. False when a signal asked the run
// to stop.
bool settle_tolerances(const ProblemSource& source, const RunOptions& options, GridStudy& study) {
    const double noise = study.potentialTarget / 8;
    for (int k = 1; k <= kMaxTightenings; ++k) {
        GridStudy tighter;
        tighter.automatic = true;
        tighter.toleranceDivisor = study.toleranceDivisor * 10;
        if (!run_on_grid(source, study.grids.back(), options, tighter)) return false;
        const std::optional<double> change = largest_difference(study, tighter);
        tell(*options.sink, "Time error on grid 1: with atol ", number(tighter.atol), " and rtol ",
             number(tighter.rtol), " ");
        if (!change) {
            tell(*options.sink,
                 "a calibration point has no final potential; the study keeps "
                 "atol ",
                 number(study.atol), " and rtol ", number(study.rtol), ".\n");
            return true;
        }
        study.timeError = change;
        tell(*options.sink, "the final potentials change by up to ", number(*change), " mV");
        if (*change <= noise) {
            tell(*options.sink, ", within ", number(noise), " mV: the study keeps atol ",
                 number(study.atol), " and rtol ", number(study.rtol), ".\n");
            return true;
        }
        study.toleranceDivisor = tighter.toleranceDivisor;
        study.atol = tighter.atol;
        study.rtol = tighter.rtol;
        study.points = std::move(tighter.points);
        tell(*options.sink, ", more than ", number(noise), " mV: the study takes the tighter ",
             (k < kMaxTightenings ? "ones and checks them in turn.\n"
                                  : "ones, the tightest it tries.\n"));
    }
    return true;
}

// The lines of a study that ended without converging: why, and the tolerances the run
// keeps.
void tell_not_converged(GridStudy& study, const RunOptions& options) {
    explain_points(study);
    tell(*options.sink, "The automatic grid did not converge to ", number(options.accuracy),
         " mV (", study.note, "); the run uses the finest grid reached");
    if (study.toleranceDivisor != 1)
        tell(*options.sink, ", with atol ", number(study.atol), " and rtol ", number(study.rtol));
    tell(*options.sink, ".\n");
}

// The finer grid after the study's last (the first grid when it has none), or none when
// the refinements or the unknowns would run out (the note says so).
std::optional<GridPlan> next_plan(const model& first, const GridPlan& initial, GridStudy& study) {
    if (study.grids.empty()) return initial;
    if (static_cast<int>(study.grids.size()) > kMaxRefinements) {
        study.note =
            "the results still change after " + std::to_string(kMaxRefinements) + " refinements";
        return std::nullopt;
    }
    GridPlan finer = refined_plan(study.grids.back());
    if (plan_unknowns(first, finer) > kMaxAutomaticUnknowns) {
        study.note = "the next grid would have " + std::to_string(plan_unknowns(first, finer)) +
                     " unknowns, more than " + std::to_string(kMaxAutomaticUnknowns);
        return std::nullopt;
    }
    return finer;
}

// Runs finer and finer grids, without writing, until the study ends (see study_ends) or
// cannot go on, or until the next grid is expected to be the last: that grid is then
// added as pending, for the run to go on writing its files.
void refine_further(const ProblemSource& source, const RunOptions& options, const model& first,
                    const GridPlan& initial, GridStudy& study) {
    for (;;) {
        const std::optional<GridPlan> plan = next_plan(first, initial, study);
        if (!plan) break;
        const bool firstGrid = study.grids.empty();
        try {
            if (next_grid_expected_last(study)) {
                // set up once here, so that a grid that cannot be run ends the study as
                // below rather than the run
                model probe;
                RunSeries series;
                source.load(probe);
                prepare_problem(probe, series, options.path, &*plan);
                study.grids.push_back(*plan);
                study.unknowns.push_back(probe.nEq);
                study.chosen = static_cast<int>(study.grids.size()) - 1;
                study.pending = true;
                tell(*options.sink, "Grid ", study.grids.size(), " (", study.unknowns.back(),
                     " unknowns; ", plan_text(*plan),
                     "): the changes so far promise the targets on this grid; the run "
                     "proper goes on it, writing its files.\n");
                return;
            }
            if (!run_on_grid(source, *plan, options, study) ||
                (firstGrid && !settle_tolerances(source, options, study))) {
                study.note = "the run was asked to stop";
                break;
            }
        } catch (const InputError& e) {
            if (firstGrid) throw;
            study.note = std::string("the next grid could not be run: ") + e.what();
            break;
        }
        study.chosen = static_cast<int>(study.grids.size()) - 1;
        estimate_study(study);
        tell(*options.sink, "Grid ", study.grids.size(), " (", study.unknowns.back(), " unknowns; ",
             plan_text(*plan), ")");
        tell_grid_result(study, *options.sink);
        if (study_ends(study)) break;
    }
    if (study.grids.empty()) return;
    study.chosen = static_cast<int>(study.grids.size()) - 1;
    if (!study.converged) tell_not_converged(study, options);
}

// The first automatic grid of the input, as the refinement starts from.
GridPlan first_plan(const ProblemSource& source, const RunOptions& options, const model& first) {
    GridPlan plan = initial_grid_plan(first);
    if (first.gridDebyeMethod == 2) {
        // The divisor method asks for a first step of at most a Debye length over h_min.
        model scaled;
        source.load(scaled);
        RunSeries series;
        prepare_problem(scaled, series, options.path);
        for (LayerGrid& g : plan) g.firstStep = std::min(g.firstStep, scaled.hDebye);
    }
    return plan;
}

}  // namespace

GridStudy refine_automatic_grid(const ProblemSource& source, const RunOptions& options) {
    GridStudy study;
    study.automatic = true;
    study.methodOrder = kGridOrder;
    study.potentialTarget = options.accuracy;
    study.impedanceTarget = kImpedanceTolerance;
    model first;
    source.load(first);
    study.tEnd = first.tEnd;  // [s] as read, before scaling
    if (first.modelType == 1)
        tell(*options.sink,
             "\nAutomatic grid: the calibration runs on successively finer grids, every "
             "cell halved each time, until every interface flux and concentration profile "
             "agrees within ",
             number(100 * options.accuracy * 1e-3 * first.F / (first.Rgas * first.T)), " % (what ",
             number(options.accuracy),
             " mV is as a relative change of a concentration); only the run on the last grid "
             "writes files.\n");
    else
        tell(*options.sink,
             "\nAutomatic grid: the calibration runs on successively finer grids, every "
             "cell halved each time, until every final potential agrees within ",
             number(options.accuracy), " mV; only the run on the last grid writes files.\n");
    refine_further(source, options, first, first_plan(source, options, first), study);
    return study;
}

void add_pending_point(GridStudy& study, const PointSummary& point, const model& md,
                       bool currentStep) {
    add_point_result(study, point.point, &point, md, currentStep);
    add_drift(study, point);
    estimate_point(study, study.points[static_cast<std::size_t>(point.point - 1)]);
}

bool complete_pending_grid(GridStudy& study, const ProblemSource& source,
                           const RunOptions& options) {
    study.pending = false;
    estimate_study(study);
    tell(*options.sink, "\nGrid ", study.grids.size());
    tell_grid_result(study, *options.sink);
    if (study_ends(study)) {
        if (!study.converged) tell_not_converged(study, options);
        return true;
    }
    model first;
    source.load(first);
    if (!next_plan(first, {}, study)) {
        tell_not_converged(study, options);
        return true;
    }
    study.note.clear();
    tell(*options.sink,
         "The results still change: the refinement goes on, and the run is repeated on the "
         "grid it reaches, its files replacing these.\n");
    refine_further(source, options, first, {}, study);
    return false;
}

GridStudy check_grid(const ProblemSource& source, const GridPlan& plan, const RunSummary& run,
                     const RunOptions& options) {
    GridStudy study;
    study.methodOrder = kGridOrder;
    study.potentialTarget = options.accuracy;
    study.impedanceTarget = kImpedanceTolerance;
    study.toleranceDivisor = options.toleranceDivisor;  // those of the run checked
    tell(*options.sink,
         "\nGrid check: every calibration point again on two grids, every cell halved "
         "each time; no file is written.\n");
    try {
        model md;
        source.load(md);
        if (md.loadYvec == 1) {
            study.note = "the run starts from the saved state y.vec, which fits its own grid only";
        } else {
            study.grids.push_back(plan);
            study.unknowns.push_back(plan_unknowns(md, plan));
            RunSeries series;
            prepare_problem(md, series, options.path, &plan);
            add_grid_results(study, run, md, runs_current_step(md, options));
            GridPlan finer = plan;
            for (int k = 0; k < 2; ++k) {
                finer = refined_plan(finer);
                if (!run_on_grid(source, finer, options, study)) {
                    study.note = "the run was asked to stop";
                    break;
                }
            }
            estimate_study(study);
        }
    } catch (const std::exception& e) {
        // The run's own results stand; the check says why it could not be made.
        study.note = e.what();
    }
    print_grid_study(study, *options.sink);
    return study;
}

void print_grid_study(const GridStudy& study, MessageSink& sink) {
    const char* what = study.automatic ? "Grid error" : "Grid check";
    if (!study.note.empty() && !study.automatic)
        tell(sink, "\nGrid check not completed: ", study.note, "\n");
    for (const GridPointStudy& s : study.points) {
        tell(sink, "\n", what, ", calibration point ", s.point, " (multiplier ", s.multiplier,
             "): final potential");
        for (std::size_t g = 0; g < s.potential.size(); ++g)
            tell(sink, (g ? ", " : " "), value_text(s.potential[g], ""));
        tell(sink, " mV on ", s.potential.size(), " grids; ",
             estimate_text(s.potentialEstimate, " mV"));
        if (!s.lowZ.empty() && s.lowZ.back())
            tell(sink, "; Z' at the lowest frequency ", estimate_text(s.lowZEstimate, ""),
                 "; apex of the arc at ", value_text(s.apex.back(), " Hz"), ", ",
                 estimate_text(s.apexEstimate, " Hz"));
        if (!s.fluxes.empty())
            tell(sink, "; interface fluxes ", profile_text(study, s.fluxes, true, " mol/(m2 s)"));
        if (!s.concentrations.empty())
            tell(sink, "; concentrations at ", kProfilePlaces, " places per layer ",
                 profile_text(study, s.concentrations, false, " mol/m3"));
        if (s.transitionTime) tell(sink, "; transition time ", number(*s.transitionTime), " s");
        if (!s.sampleTimes.empty()) {
            // the samples the verdict counts: those before a transition
            const double target = transient_target(study, s);
            int missed = 0;
            for (std::size_t j = 0; j < s.sampleTimes.size() && j < s.transientEstimates.size();
                 ++j)
                if (!(s.transitionTime && s.sampleTimes[j] > *s.transitionTime) &&
                    !within_target(study, s.transientEstimates[j], s.transient[j], target))
                    ++missed;
            if (missed > 0)
                tell(sink, "; the chronopotentiogram is not within ", number(target), " mV of ",
                     "its grid-converged values at ", missed, " of ", s.sampleTimes.size(),
                     " times");
        }
        if (s.unresolvedFrom)
            tell(sink,
                 "; the chronopotentiogram is not resolved from t = ", number(*s.unresolvedFrom),
                 " s on");
        if (!s.failure.empty()) tell(sink, "; ", s.failure);
        tell(sink, (s.converged ? "; within the target.\n" : "; NOT CONVERGED"));
        if (!s.converged) tell(sink, (s.reason.empty() ? "" : ": "), s.reason, ".\n");
    }
    if (study.automatic || study.points.empty()) return;
    const auto coarse = std::count_if(study.points.begin(), study.points.end(),
                                      [](const GridPointStudy& s) { return !s.converged; });
    tell(sink, "\nGrid check (target ", number(study.potentialTarget), " mV");
    if (!study.points.front().fluxes.empty())
        tell(sink, "; ", number(100 * study.points.front().relativeTarget),
             " % for the interface fluxes and the concentrations");
    if (!study.points.front().lowZ.empty() && study.points.front().lowZ.front())
        tell(sink, " and ", number(100 * study.impedanceTarget), " % for Z'");
    tell(sink, "): ");
    if (coarse == 0)
        tell(sink, "every point of the run is within the target of the grid limit.\n");
    else
        tell(sink, coarse, " of ", study.points.size(),
             " points are not within the target of the grid limit: the grid is too "
             "coarse. Run without --debye-grid and without h_min for a grid refined "
             "until the results agree, or refine it and check again.\n");
}
