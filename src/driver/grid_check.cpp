#include "driver/grid_check.h"

#include <cmath>
#include <exception>
#include <iostream>
#include <optional>
#include <sstream>

#include "driver/calibration_loop.h"
#include "experiments/impedance.h"
#include "model/input_file.h"
#include "physics/flux.h"
#include "physics/initial_state.h"

namespace {

// Partition ratio Kif/Kib of component c at interface s; infinite when only Kif is set.
double partition_ratio(const model& md, int s, int c) { return md.Kif[s][c] / md.Kib[s][c]; }

bool transfers(const model& md, int s, int c) { return md.Kif[s][c] != 0 || md.Kib[s][c] != 0; }

bool held_in_layer(const model& md, int l, int c) {
    if (md.z[c] == 0 || !(md.cM.at(l).item(c) > 0)) return false;
    return md.D.at(l).item(c) == 0 || (!transfers(md, l - 1, c) && !transfers(md, l, c));
}

bool unequal_partition(const model& md, int s) {
    double first = 0;
    bool seen = false;
    for (int c = 1; c <= md.R; ++c) {
        if (md.z[c] == 0 || !transfers(md, s, c)) continue;
        const double ratio = partition_ratio(md, s, c);
        if (seen && ratio != first) return true;
        first = ratio;
        seen = true;
    }
    return false;
}

const PointSummary* coarse_point(const RunSummary& run, int point) {
    for (const PointSummary& p : run.points)
        if (p.point == point) return &p;
    return nullptr;
}

// "RESULT (FAILURE)" of an integration that did not reach its end.
std::string failure_text(const RunOutcome& r) {
    return describe_failure(r.code) + " (code " + std::to_string(r.code) + ")";
}

// Runs one calibration point of the refined problem as the run did, writing nothing; returns
// false when a signal asked the run to stop.
bool refine_point(model& md, RunSeries& series, const PointSummary& coarse,
                  const RunOptions& options, GridCheckPoint& p) {
    set_initial_state(md);
    if (options.progress != nullptr) options.progress->start_run(md.point, md.nCalib, "grid-check");
    const RunOutcome run = run_integration(md, series, options);
    if (options.progress != nullptr) options.progress->clear();
    if (options.stop_requested()) return false;
    if (coarse.potentiometric.code > 0) p.potential.coarse = coarse.potentiometric.finalPotential;
    if (run.succeeded() && series.potSeries.size() > 0)
        p.potential.refined = series.potSeries[series.potSeries.size() - 1];
    else
        p.refinedFailure = "potentiometric run: " + failure_text(run);
    if (md.method == 1 && run.succeeded()) {
        GridCheckValue z;
        if (coarse.ok()) z.coarse = coarse.lowFrequencyZ;
        membrane_potential(md, md.y.data());  // the start of the potential transient
        start_impedance_run(md, series);
        const RunOutcome step = run_integration(md, series, options);
        if (options.stop_requested()) return false;
        if (step.succeeded()) {
            compute_spectrum(md, series);
            if (!md.Zprim.empty()) z.refined = md.Zprim[0];
        } else {
            p.refinedFailure = "current-step run: " + failure_text(step);
        }
        p.lowZ = z;
    }
    end_point(md, series);
    const auto potentialError = p.potential.estimated_error(kGridOrder);
    p.converged = potentialError && std::fabs(*potentialError) <= kPotentialTolerance;
    if (p.lowZ) {
        const auto zError = p.lowZ->estimated_error(kGridOrder);
        p.converged = p.converged && zError &&
                      std::fabs(*zError) <= kImpedanceTolerance * std::fabs(*p.lowZ->refined);
    }
    return true;
}

std::string value_text(const std::optional<double>& v, const char* unit) {
    if (!v) return "none";
    std::ostringstream s;
    s << *v << unit;
    return s.str();
}

void print_value(const GridCheckValue& v, const char* what, const char* unit) {
    std::cout << what << " " << value_text(v.coarse, unit) << " on the run's grid, "
              << value_text(v.refined, unit) << " on the refined grid";
    // The estimate is a correction: the grid-converged value lies about e from the run's.
    if (const auto e = v.estimated_error(kGridOrder))
        std::cout << ", change " << value_text(v.change(), unit)
                  << "; grid-converged value estimated at " << value_text(*v.coarse + *e, unit)
                  << ", " << value_text(e, unit) << " from the run's value";
}

void print_grid_check(const GridCheck& check) {
    if (!check.skipped.empty())
        std::cout << "\nGrid check not completed: " << check.skipped << "\n";
    int coarse = 0;
    for (const GridCheckPoint& p : check.points) {
        std::cout << "\nGrid check, calibration point " << p.point << " (multiplier "
                  << p.multiplier << "): ";
        print_value(p.potential, "final potential", " mV");
        if (p.lowZ) print_value(*p.lowZ, "; Z' at the lowest frequency", "");
        if (!p.refinedFailure.empty()) std::cout << "; the refined " << p.refinedFailure;
        std::cout << (p.converged ? "; within the tolerance.\n" : "; NOT CONVERGED.\n");
        if (!p.converged) ++coarse;
    }
    if (check.points.empty()) return;
    std::cout << "\nGrid check (Richardson estimates for order " << check.order << ", tolerance "
              << check.potentialTolerance << " mV";
    if (check.points.front().lowZ) std::cout << " and " << 100 * check.impedanceTolerance << " %";
    std::cout << "): ";
    if (coarse == 0)
        std::cout << "every point is within the tolerance of the grid limit.\n";
    else
        std::cout << coarse << " of " << check.points.size()
                  << " points are not converged: the grid is too coarse. Raise N and lower h_min "
                     "(a twentieth of the Debye length resolves charged interfaces), then check "
                     "again.\n";
}

}  // namespace

bool edges_charged(const model& md) {
    bool charged = false;
    for (int l = 1; l <= md.n && !charged; ++l)
        for (int c = 1; c <= md.R && !charged; ++c) charged = held_in_layer(md, l, c);
    for (int s = 0; s <= md.n && !charged; ++s) charged = unequal_partition(md, s);
    return charged;
}

bool grid_advice_due(const model& md) { return md.gridDebyeMethod == 1 && edges_charged(md); }

void print_grid_advice() {
    std::cout << "\nThe layer edges are charged and the first grid step is the automatic one (a "
                 "Debye length of the mean ionic strength), which can leave interface potentials "
                 "millivolts off; run again with --check-grid to estimate the grid error.\n";
}

void print_point_grid_advice(int point, bool failed) {
    std::cout << "\nCalibration point " << point << ": "
              << (failed ? "the integration failed" : "a concentration turned negative")
              << "; the grid may be too coarse for this problem. Run again with --check-grid to "
                 "see how much the results change on a finer grid.\n";
}

GridCheck check_grid(const std::string& inputName, const RunSummary& run,
                     const RunOptions& options) {
    GridCheck check;
    check.order = kGridOrder;
    check.potentialTolerance = kPotentialTolerance;
    check.impedanceTolerance = kImpedanceTolerance;
    std::cout << "\nGrid check: every calibration point again with N and m doubled and the "
                 "first grid step halved in every layer; no file is written.\n";
    RunOptions refined = options;
    refined.quiet = true;
    refined.announce = false;
    model md;
    RunSeries series;
    md.inputName = inputName;
    try {
        read_input_file(md);
        if (md.loadYvec == 1) {
            check.skipped =
                "the run starts from the saved state y.vec, which fits its own grid only";
        } else {
            for (md.layer = 1; md.layer <= md.n; ++md.layer) {
                md.N.set(2 * md.N.get());
                md.m.set(2 * md.m.get());
            }
            prepare_problem(md, series, options.path, 0.5);
            for (md.point = 1; md.point <= md.nCalib; ++md.point) {
                const PointSummary* coarse = coarse_point(run, md.point);
                if (coarse == nullptr || coarse->interrupted()) break;
                GridCheckPoint p;
                p.point = md.point;
                p.multiplier = md.multipliers[md.point];
                if (!refine_point(md, series, *coarse, refined, p)) {
                    check.skipped = "the run was asked to stop";
                    break;
                }
                check.points.push_back(p);
            }
        }
    } catch (const std::exception& e) {
        // The run's own results stand; the check says why it could not be made.
        check.skipped = e.what();
    }
    print_grid_check(check);
    return check;
}
