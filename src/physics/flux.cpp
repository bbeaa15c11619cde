#include "physics/flux.h"

#include <algorithm>

#include "physics/rhs.h"

double flux(const model& md, const double* y, int l, int c, int k) {
    const int N = md.N.at(l);
    if (k == 0) return md.jIfRight[l - 1][c];
    if (k == N) return md.jIfLeft[l][c];
    const std::span<const double> h = md.gridH.at(l);
    const double a = h[k - 1];
    const double b = h[k];
    const double u = y[state_index(md, l, c, k)];
    const double v = y[state_index(md, l, c, k + 1)];
    double J = diffusive_flux(a, b, u, v, md.Dscaled.at(l).item(c));
    if (md.modelType == 0)
        J += migration_flux(a, b, u, v, md.driftCoef.at(l).item(c),
                            y[state_index(md, l, md.R + 1, k)]);
    return J;
}

double flux(const model& md, const double* y, int c, int k) { return flux(md, y, md.layer, c, k); }

double potential_integral(const model& md, const double* y, std::vector<double>* profile) {
    double mpot = 0;
    for (int l = 1; l <= md.n; ++l) {
        const int N = md.N.at(l);
        const double* E = y + state_index(md, l, md.R + 1, 0);
        const double* h = md.gridH.at(l).data();
        if (profile != nullptr) profile->push_back(mpot);
        for (int k = 1; k <= N; ++k) {
            // trapezoid rule on cell k; 500 = 0.5 * 1000 (mV)
            mpot = mpot - (E[k] + E[k - 1]) * (h[k - 1] * 500);
            if (profile != nullptr) profile->push_back(mpot);
        }
    }
    return mpot;
}

void membrane_potential(model& md, const double* y) { md.mpot = potential_integral(md, y); }

std::vector<double> interface_flux_table(const model& md, const double* y) {
    // the record's tables hold the solutions' sides of the outer interfaces, which f reads
    InterfaceTables tables = md;
    std::vector<double> rate(static_cast<std::size_t>(md.nEq));
    evaluate_rhs(md, tables, y, rate.data());
    const double unit = md.cScale * md.L / md.tc;  // scaled flux to mol/(m² s)
    std::vector<double> J;
    J.reserve(static_cast<std::size_t>((md.n + 1) * md.R));
    for (int s = 0; s <= md.n; ++s)
        for (int c = 1; c <= md.R; ++c) J.push_back(tables.jIfLeft[s][c] * unit);
    return J;
}

std::vector<double> profile_samples(const model& md, const double* y) {
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(md.n * md.R * kProfilePlaces));
    for (int l = 1; l <= md.n; ++l) {
        const std::span<const double> Y = md.gridY.at(l);  // edges and cell centres (scaled)
        for (int c = 1; c <= md.R; ++c) {
            const double* u = y + state_index(md, l, c, 0);
            for (int j = 0; j < kProfilePlaces; ++j) {
                const double x =
                    md.xb[l - 1] + (md.xb[l] - md.xb[l - 1]) * j / (kProfilePlaces - 1);
                // the node interval [Y[k-1], Y[k]] that holds x
                const auto k = static_cast<std::size_t>(
                    std::clamp<long>(std::upper_bound(Y.begin(), Y.end(), x) - Y.begin(), 1,
                                     static_cast<long>(Y.size()) - 1));
                const double w = (x - Y[k - 1]) / (Y[k] - Y[k - 1]);
                samples.push_back((u[k - 1] + w * (u[k] - u[k - 1])) * md.cScale);
            }
        }
    }
    return samples;
}
