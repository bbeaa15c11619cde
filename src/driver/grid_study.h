// Whether a run's answers depend on its grid. The automatic grid refines until successive
// grids agree within the target accuracy; the grid check repeats every calibration point on
// two refinements of the run's grid; both estimate the discretisation error from the
// observed order of convergence.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "driver/problem_source.h"
#include "experiments/integration_run.h"
#include "model/model.h"
#include "output/run_summary.h"
#include "physics/grid_plan.h"

// Order of the spatial discretisation: second-order fluxes on the refined grid. Measured
// on examples/b, refining the automatic grid from N = 100 to 1600 per layer, the changes of
// every final potential fall by 3.9 to 5.2 per halving of the cells.
constexpr int kGridOrder = 2;

// An observed order within this distance of kGridOrder counts as the asymptotic range,
// where the Richardson estimate can be believed.
constexpr double kOrderTolerance = 1.0;

// Safety factor on the Richardson estimate of a three-grid study: the interval for the
// grid-converged value reaches this many estimated errors on each side of the finest value.
constexpr double kSafetyFactor = 1.25;

// The low-frequency impedance counts as converged within this fraction, and so does the
// chronopotentiogram, of its largest potential.
constexpr double kImpedanceTolerance = 0.01;

// The automatic grid refines at most this many times beyond its first grid, and never to
// more unknowns than this.
constexpr int kMaxRefinements = 6;
constexpr long long kMaxAutomaticUnknowns = 2000000;

// Number of times at which a chronopotentiogram is compared between grids.
constexpr int kTransientSamples = 20;

// What successive values (coarse to fine, every cell halved each time) say about the
// discretisation error of the last one. Changes below `noise` count as agreement whatever
// their ratio.
GridEstimate estimate_grid_error(const std::vector<std::optional<double>>& values, double noise);

// Whether the changes of values (coarse to fine, every cell halved each time) no longer
// shrink, so that finer grids would cost more without converging: on four grids or more
// (the first is often too coarse for its change to tell), the last change above `noise` and
// not smaller than the one before, or the last two changes each above `noise` and more
// than half the one before it. A second-order grid shrinks a change fourfold per halving;
// a change that grows, or two refinements in a row below the observed order 1 that the
// estimate still believes, say that something the grid does not control sets the
// differences (the time-integration error, a potential that has not settled).
bool changes_stalled(const std::vector<std::optional<double>>& values, double noise);

// The transition time of a chronopotentiogram (t [s], E [mV]) whose edge concentrations
// fell as `depletion` says (per sample of the transient, the lowest ratio of an edge
// concentration to its value at the switch-on, lowest_edge_ratio). None unless some edge
// concentration falls below kExhaustedRatio of its start within the run: a potential that
// settles, however fast it rose, has no transition. Then where the potential's steep rise
// starts, the rate of rise at least 20 times its median over the run (on evenly spaced
// times past the first hundredth of the run), with an edge concentration below
// kRisingRatio of its start; failing such a rise, where the edge concentration falls
// through kTransitionRatio.
std::optional<double> transition_time(const std::vector<std::pair<double, double>>& transient,
                                      const std::vector<double>& depletion);
constexpr double kExhaustedRatio = 1e-6;
constexpr double kRisingRatio = 0.05;
constexpr double kTransitionRatio = 1e-3;

// Whether the input asks for the automatic grid: an automatic first step (method 1, or 2
// with its divisor), not --debye-grid, and no saved state to start from.
bool automatic_grid_applies(const model& md, const RunOptions& options);

// Refines the automatic grid of the input `source` from initial_grid_plan until every
// result agrees within the targets, running the calibration without writing any file;
// tells options.sink one line per grid and returns the study (its chosen grid is the one
// to run). When the changes so far promise that the next grid meets the targets, that
// grid is not run here: it ends the study as `pending`, for the run proper to go on it
// and hand its results to add_pending_point, then to complete_pending_grid.
GridStudy refine_automatic_grid(const ProblemSource& source, const RunOptions& options);

// Calibration point `point` of the run on a study's pending grid, once the point is done:
// its values are entered and estimated, so that its grid warning can be given.
void add_pending_point(GridStudy& study, const PointSummary& point, const model& md,
                       bool currentStep);

// After the run on the pending grid: estimates the study and tells its line. True when the
// run stands (the study converged, or cannot go further); otherwise the refinement goes on
// as in refine_automatic_grid, and the run is to be repeated on the study's chosen grid
// (pending again when that grid was left to the run).
bool complete_pending_grid(GridStudy& study, const ProblemSource& source,
                           const RunOptions& options);

// The grid check: every calibration point again on two refinements of `plan` (the run's
// grid), without writing any file; the run's own results are the first grid. Prints the
// report and returns it.
GridStudy check_grid(const ProblemSource& source, const GridPlan& plan, const RunSummary& run,
                     const RunOptions& options);

// The lines of a study: one per point with its values and error estimate.
void print_grid_study(const GridStudy& study, MessageSink& sink);
