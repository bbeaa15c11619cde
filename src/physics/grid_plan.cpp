#include "physics/grid_plan.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Concentration [mol/m^3] of component c in region r of an unscaled record (0 the left
// solution, 1..n a layer, n+1 the right solution), at the largest multiplier the
// calibration gives it: the changed ion is multiplied where the region is a target, and
// its opposite ion follows it to keep the region neutral.
double region_value(const model& md, int r, int c) {
    return r == 0 ? md.cL[c] : r == md.n + 1 ? md.cR[c] : md.cM.at(r).item(c);
}

double largest_concentration(const model& md, int r, int c) {
    const double value = region_value(md, r, c);
    const bool target = std::find(md.targets.begin(), md.targets.end(), r) != md.targets.end();
    if (!target || (c != md.changedIon && c != md.oppositeIon)) return value;
    double largest = 1;
    for (std::size_t i = 1; i < md.multipliers.size(); ++i)
        largest = std::max(largest, md.multipliers[i]);
    const double changed = region_value(md, r, md.changedIon);
    if (c == md.changedIon) return changed * largest;
    // The opposite ion takes up the charge the changed ion gains.
    if (md.z[c] == 0) return value;
    return value + std::fabs(md.z[md.changedIon] * changed * (largest - 1) / md.z[c]);
}

// Sum of z^2 c over the charged components of region r, each multiplied by its factor.
template <class Factor>
double ionic_sum(const model& md, int r, Factor factor) {
    double sum = 0;
    for (int c = 1; c <= md.R; ++c) {
        const double z2 = static_cast<double>(md.z[c]) * md.z[c];
        const double f = factor(c);
        if (z2 > 0 && std::isfinite(f) && f > 0) sum += z2 * largest_concentration(md, r, c) * f;
    }
    return sum;
}

int type_of(const model& md, int l) { return md.grid_type.at(l); }

bool refines_left(int type) { return type == 0 || type == 1; }
bool refines_right(int type) { return type == 0 || type == 2; }

// Cells needed for m cells of width h followed by cells growing by at most q to cover a
// stretch of length S.
int cells_for_stretch(double S, double h, int m, double q) {
    const double rest = S - m * h;
    if (!(rest > h)) return m + 1;
    const double P = std::ceil(std::log1p(rest * (q - 1) / h) / std::log(q));
    return m + static_cast<int>(std::min(P, 1e8));
}

}  // namespace

double edge_debye_length(const model& md, int l, int side) {
    const int s = side == 0 ? l - 1 : l;              // the interface
    const int neighbour = side == 0 ? l - 1 : l + 1;  // the region across it
    const double own = ionic_sum(md, l, [](int) { return 1.0; });
    const double entering = ionic_sum(md, neighbour, [&](int c) {
        const double kf = md.Kif[s][c];
        const double kb = md.Kib[s][c];
        if (!(kf > 0 && kb > 0)) return 0.0;  // no equilibrium across this interface
        return side == 0 ? kf / kb : kb / kf;
    });
    // No region holds a denser atmosphere than kDensestAtmosphere, however large a
    // partition ratio the input gives.
    const double sum = std::min(std::max(own, entering), kDensestAtmosphere);  // [mol/m^3]
    if (!(sum > 0)) return std::numeric_limits<double>::infinity();
    const double F_RT = md.F / (md.Rgas * md.T);
    return std::sqrt(md.epsilon.at(l) / (F_RT * md.F * sum));
}

GridPlan initial_grid_plan(const model& md) {
    GridPlan plan(static_cast<std::size_t>(md.n));
    for (int l = 1; l <= md.n; ++l) {
        LayerGrid& g = plan[static_cast<std::size_t>(l - 1)];
        const int type = type_of(md, l);
        const double d = md.d.at(l);
        g.N = md.N.at(l);
        g.m = std::max(1, md.m.at(l));
        if (type == 3) {
            g.firstStep = d / g.N;
            continue;
        }
        double lambda = std::numeric_limits<double>::infinity();
        if (refines_left(type)) lambda = std::min(lambda, edge_debye_length(md, l, 0));
        if (refines_right(type)) lambda = std::min(lambda, edge_debye_length(md, l, 1));
        // Without ions at an edge nothing needs resolving there: the cells may be as wide
        // as a uniform grid of the input's N makes them.
        double h = std::isfinite(lambda) ? lambda * kFirstStepFraction : d / g.N;
        const double stretch = type == 0 ? d / 2 : d;
        h = std::clamp(h, kSmallestFirstStep * stretch, stretch / (4.0 * (g.m + 1)));
        const int half = cells_for_stretch(stretch, h, g.m, kFirstGrowthRatio);
        const int needed = type == 0 ? 2 * half : half;
        g.N = needed;
        g.firstStep = h;
    }
    return plan;
}

GridPlan refined_plan(const GridPlan& plan) {
    GridPlan finer = plan;
    for (LayerGrid& g : finer) {
        g.N *= 2;
        g.m *= 2;
        g.firstStep /= 2;
    }
    return finer;
}

GridPlan input_grid_plan(const model& md) {
    GridPlan plan(static_cast<std::size_t>(md.n));
    for (int l = 1; l <= md.n; ++l)
        plan[static_cast<std::size_t>(l - 1)] = {md.hDebye, md.N.at(l), md.m.at(l)};
    return plan;
}

long long plan_unknowns(const model& md, const GridPlan& plan) {
    long long unknowns = 0;
    for (const LayerGrid& g : plan) unknowns += (static_cast<long long>(g.N) + 2) * (md.R + 1) - 1;
    return unknowns;
}

void apply_cell_counts(model& md, const GridPlan& plan) {
    for (int l = 1; l <= md.n; ++l) {
        md.N.at(l) = plan[static_cast<std::size_t>(l - 1)].N;
        md.m.at(l) = plan[static_cast<std::size_t>(l - 1)].m;
    }
}

void apply_first_steps(model& md, const GridPlan& plan) {
    md.firstStep.assign(static_cast<std::size_t>(md.n) + 1, 0.0);
    for (int l = 1; l <= md.n; ++l)
        md.firstStep[static_cast<std::size_t>(l)] = plan[static_cast<std::size_t>(l - 1)].firstStep;
}
