#include "physics/state_check.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

bool has_negative_concentration(const model& md, const double* y, double floor) {
    for (int l = 1; l <= md.n; ++l) {
        const int N = md.N.at(l);
        for (int c = 1; c <= md.R; ++c) {
            const double* conc = y + state_index(md, l, c, 0);
            for (int k = 0; k <= N + 1; ++k)
                if (conc[k] < floor) return true;
        }
    }
    return false;
}

ConcentrationRange concentration_range(const model& md, const double* y) {
    ConcentrationRange range;
    bool first = true;
    for (int l = 1; l <= md.n; ++l) {
        const int N = md.N.at(l);
        for (int c = 1; c <= md.R; ++c) {
            const double* conc = y + state_index(md, l, c, 0);
            for (int k = 0; k <= N + 1; ++k) {
                if (first || conc[k] < range.lowest) range.lowest = conc[k];
                if (first || conc[k] > range.highest) range.highest = conc[k];
                first = false;
            }
        }
    }
    return range;
}

std::vector<double> edge_concentrations(const model& md, const double* y) {
    std::vector<double> edges;
    edges.reserve(static_cast<std::size_t>(2 * md.n * md.R));
    for (int l = 1; l <= md.n; ++l)
        for (const int k : {0, md.N.at(l) + 1})
            for (int c = 1; c <= md.R; ++c) edges.push_back(y[state_index(md, l, c, k)]);
    return edges;
}

double lowest_edge_ratio(const model& md, const std::vector<double>& start, const double* y) {
    const auto R = static_cast<std::size_t>(md.R);
    double lowest = 1;
    std::size_t at = 0;
    for (int l = 1; l <= md.n; ++l)
        for (const int k : {0, md.N.at(l) + 1}) {
            if (at + R > start.size()) return lowest;
            const double largest = *std::max_element(start.begin() + static_cast<long>(at),
                                                     start.begin() + static_cast<long>(at + R));
            for (int c = 1; c <= md.R; ++c, ++at)
                if (start[at] > 0 && start[at] >= 0.01 * largest)
                    lowest = std::min(lowest, y[state_index(md, l, c, k)] / start[at]);
        }
    return lowest;
}

namespace {

// F/RT times the widest diffusion potential across layer l at zero current, from the two
// compositions its edges approach: each neighbouring region's (a solution, or a layer's
// initial one) carried across the interface by its partition ratio, the layer's own for a
// component that does not cross. Henderson's junction, whose concentrations mix linearly
// between the two, has the diffusion potential
//   (RT/F) · Σ z_i D_i Δc_i / Σ z_i² D_i Δc_i · ln(S_L / S_R),   S = Σ z_i² D_i c_i,
// and so at most Σ |z_i| D_i |Δc_i| · ln(S_L/S_R) / (S_L − S_R) in units of RT/F (the limit
// Σ |z_i| D_i |Δc_i| / S for S_L = S_R). An ion present on one side only adds to it like
// any other: this is what bounds a liquid junction of two salts. Infinite when mobile ions
// change between the edges but one edge holds none (a junction with pure solvent).
double diffusion_span(const model& md, int l) {
    double left = 0, right = 0, change = 0;  // S_L, S_R, Σ |z| D |Δc|
    for (int c = 1; c <= md.R; ++c) {
        const double D = md.D.at(l).item(c);
        if (md.z[c] == 0 || !(D > 0)) continue;
        const double own = md.cM.at(l).item(c);
        const double outerLeft = l == 1 ? md.cL[c] : md.cM.at(l - 1).item(c);
        const double outerRight = l == md.n ? md.cR[c] : md.cM.at(l + 1).item(c);
        // c_right / c_left = Kif / Kib at an interface in equilibrium
        const double* fl = md.Kif[l - 1];
        const double* bl = md.Kib[l - 1];
        const double* fr = md.Kif[l];
        const double* br = md.Kib[l];
        const double cl = fl[c] > 0 && bl[c] > 0 ? outerLeft * fl[c] / bl[c] : own;
        const double cr = fr[c] > 0 && br[c] > 0 ? outerRight * br[c] / fr[c] : own;
        const double weight = static_cast<double>(md.z[c]) * md.z[c] * D;
        left += weight * cl;
        right += weight * cr;
        change += std::abs(md.z[c]) * D * std::fabs(cl - cr);
    }
    if (change == 0) return 0;
    if (!(left > 0) || !(right > 0)) return std::numeric_limits<double>::infinity();
    if (left == right) return change / left;
    return change * std::log(left / right) / (left - right);
}

}  // namespace

PhysicalBounds physical_bounds(const model& md) {
    double largest = 0;
    double smallest = 0;  // positive, 0 while none seen
    const auto take = [&](double c) {
        if (!(c > 0)) return;
        largest = std::max(largest, c);
        smallest = smallest == 0 ? c : std::min(smallest, c);
    };
    for (int c = 1; c <= md.R; ++c) {
        take(md.cL[c]);
        take(md.cR[c]);
        for (int l = 1; l <= md.n; ++l) take(md.cM.at(l).item(c));
    }
    // ln of the largest partition ratio, either way, of every interface
    double partition = 0;
    for (int f = 0; f <= md.n; ++f) {
        double widest = 0;
        for (int c = 1; c <= md.R; ++c) {
            const double forward = md.Kif[f][c];
            const double backward = md.Kib[f][c];
            if (forward > 0 && backward > 0)
                widest = std::max(widest, std::fabs(std::log(forward / backward)));
        }
        partition += widest;
    }
    int charge = 1;  // the largest |z|
    for (int c = 1; c <= md.R; ++c) charge = std::max(charge, std::abs(md.z[c]));
    // ln(cmax/cmin) + ln P + the diffusion potentials: F/RT times the widest potential
    double span = (smallest > 0 ? std::log(largest / smallest) : 0.0) + partition;
    if (md.modelType == 0)
        for (int l = 1; l <= md.n; ++l) span += diffusion_span(md, l);
    PhysicalBounds bounds;
    bounds.potential = 1000.0 * span / md.F_RT;  // mV
    bounds.concentration = largest * std::exp(partition + charge * span);
    return bounds;
}
