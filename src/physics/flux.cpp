#include "physics/flux.h"

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
