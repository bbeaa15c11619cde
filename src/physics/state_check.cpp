#include "physics/state_check.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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
    // ln(cmax/cmin) + ln P: F/RT times the widest potential
    const double span = (smallest > 0 ? std::log(largest / smallest) : 0.0) + partition;
    PhysicalBounds bounds;
    bounds.potential = 1000.0 * span / md.F_RT;  // mV
    bounds.concentration = largest * std::exp(partition + charge * span);
    return bounds;
}
