#include "physics/flux.h"

double flux(const model& md, const double* y, int c, int k) {
    const int l = md.layer;
    const int N = md.N.get();
    if (k == 0) return md.jIfRight[l - 1][c];
    if (k == N) return md.jIfLeft[l][c];
    const double a = md.gridH.item(k - 1);
    const double b = md.gridH.item(k);
    const double u = y[state_index(md, c, k)];
    const double v = y[state_index(md, c, k + 1)];
    double J = diffusive_flux(a, b, u, v, md.Dscaled.item(c));
    if (md.modelType == 0)
        J += migration_flux(a, b, u, v, md.driftCoef.item(c), y[state_index(md, md.R + 1, k)]);
    return J;
}

void membrane_potential(model& md, const double* y) {
    md.mpot = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const int N = md.N.get();
        const double* E = y + state_index(md, md.R + 1, 0);
        const double* h = md.gridH.row();
        for (int k = 1; k <= N; ++k) md.mpot = md.mpot - (E[k] + E[k - 1]) * (h[k - 1] * 500);
    }
}
