#include "physics/rhs.h"

#include "physics/flux.h"

namespace {

// Edge concentrations of every layer into the interface tables, then the first-order
// transfer flux J = Kif c_left - Kib c_right through every interface.
void interface_fluxes(const model& md, InterfaceTables& t, const double* y) {
    const int n = md.n;
    const int R = md.R;
    for (int l = 1; l <= n; ++l) {
        const int N = md.N.at(l);
        const double* yl = y + md.layerStart.at(l);
        const int stride = N + 2;
        for (int c = 1; c <= R; ++c) {
            const double* yc = yl + stride * (c - 1);
            t.cIfLeft[l][c] = yc[N + 1];
            t.cIfRight[l - 1][c] = yc[0];
        }
    }
    for (int s = 0; s <= n; ++s) {
        for (int c = 1; c <= R; ++c) {
            t.jIfLeft[s][c] = md.Kif[s][c] * t.cIfLeft[s][c] - md.Kib[s][c] * t.cIfRight[s][c];
            t.jIfRight[s][c] = t.jIfLeft[s][c];
        }
    }
}

// Transfer at both edges of a boundary-complexing layer l: outside the layer the ion c
// moves enhanced by 1 + K [ligand]; inside, free ion plus complex x drive it back. The
// outside region books the whole transfer as c; the layer books the simple flux as c and
// the excess as complex. An interface shared by two such layers is processed twice: as
// the right edge of the left layer, then as the left edge of the right one.
void boundary_complexation(const model& md, InterfaceTables& t, int l) {
    for (int c = 1; c <= md.R; ++c) {
        if (md.ligand[c] <= 0) continue;
        const int g = md.ligand[c];
        const int x = md.complexOf[c];
        const double K = md.Kc[l][c];
        const int s = l - 1;
        t.jIfLeft[s][c] = (1 + K * t.cIfRight[s][g]) * md.Kif[s][c] * t.cIfLeft[s][c] -
                           (t.cIfRight[s][x] + t.cIfRight[s][c]) * md.Kib[s][c];
        t.jIfRight[s][x] = t.jIfLeft[s][c] - t.jIfRight[s][c];
        t.jIfRight[l][c] = (t.cIfLeft[l][x] + t.cIfLeft[l][c]) * md.Kif[l][c] -
                            (1 + K * t.cIfLeft[l][g]) * md.Kib[l][c] * t.cIfRight[l][c];
        t.jIfLeft[l][x] = t.jIfRight[l][c] - t.jIfLeft[l][c];
    }
}

// Conservation law -dJ/dx for every component of layer l, and, for the
// Nernst-Planck-Poisson model, the charge flux sum_c z_c J_c accumulated (in increasing c)
// into the field block.
void layer_transport(const model& md, const InterfaceTables& t, int l, const double* y,
                     double* dydt) {
    const int R = md.R;
    const int N = md.N.at(l);
    const int stride = N + 2;
    const int base = md.layerStart.at(l);
    const double* h = md.gridH.at(l).data();
    const double* E = y + base + stride * R;
    double* dE = dydt + base + stride * R;
    const bool poisson = md.modelType == 0;
    if (poisson)
        for (int k = 0; k <= N; ++k) dE[k] = 0;

    for (int c = 1; c <= R; ++c) {
        const double* u = y + base + stride * (c - 1);
        double* du = dydt + base + stride * (c - 1);
        const double Ds = md.Dscaled.at(l).item(c);
        const double drift = md.driftCoef.at(l).item(c);
        const double zc = md.z[c];

        // J(c, 0) is what enters through interface l-1, J(c, N) what leaves through l. The
        // fluxes at the inner grid points 1 .. N-1 are held in du until the rates replace
        // them: no loop below carries a value from one point to the next, so each runs on
        // the vector units.
        const double J0 = t.jIfRight[l - 1][c];
        const double JN = t.jIfLeft[l][c];
        if (poisson) {
            for (int k = 1; k < N; ++k)
                du[k] = diffusive_flux(h[k - 1], h[k], u[k], u[k + 1], Ds) +
                        migration_flux(h[k - 1], h[k], u[k], u[k + 1], drift, E[k]);
            dE[0] += zc * J0;
            for (int k = 1; k < N; ++k) dE[k] += zc * du[k];
            dE[N] += zc * JN;
        } else {
            for (int k = 1; k < N; ++k) du[k] = diffusive_flux(h[k - 1], h[k], u[k], u[k + 1], Ds);
        }
        // (a layer has two cells at least)
        const double J1 = du[1];
        const double J2 = N >= 3 ? du[2] : JN;
        const double JN1 = du[N - 1];
        const double JN2 = N >= 3 ? du[N - 2] : J0;
        // Cell k lies between grid points k-1 and k; from the right, so that each flux is
        // read before its place takes the rate.
        du[N] = -(JN - JN1) / h[N - 1];
        for (int k = N - 1; k >= 2; --k) du[k] = -(du[k] - du[k - 1]) / h[k - 1];
        du[1] = -(du[1] - J0) / h[0];

        // Edge elements: -dJ/dx at grid points 0 and N by second-order one-sided differences.
        const double h0 = h[0];
        const double h1 = h[1];
        du[0] = -((h0 + h1) * (h0 + h1) * J1 - h1 * (2 * h0 + h1) * J0 - h0 * h0 * J2) /
                (h1 * h0 * (h1 + h0));
        const double a = h[N - 1];
        const double b = h[N - 2];
        du[N + 1] =
            -((2 * a + b) * b * JN - (a + b) * (a + b) * JN1 + a * a * JN2) / (a * b * (a + b));
    }

    // Field: eps dE/dt = -F sum_c z_c J_c (+ the applied current below).
    if (poisson) {
        const double pc = md.poissonCoef.at(l);
        for (int k = 0; k <= N; ++k) dE[k] = -pc * dE[k];
    } else {
        for (int k = 0; k <= N; ++k) dE[k] = 0;
    }
    if (md.eisRun != 0) {
        const double cc = md.currentCoef.at(l);
        for (int k = 0; k <= N; ++k) dE[k] += cc;
    }
}

// Complexation c + g <-> x at every element of layer l, the edges included.
void volume_complexation(const model& md, int l, const double* y, double* dydt) {
    const int N = md.N.at(l);
    const int stride = N + 2;
    const int base = md.layerStart.at(l);
    for (int c = 1; c <= md.R; ++c) {
        if (md.ligand[c] <= 0) continue;
        const int g = md.ligand[c];
        const int x = md.complexOf[c];
        const double kdis = md.Kdis[l][c];
        const double kas = md.Kas[l][c];
        const double* yc = y + base + stride * (c - 1);
        const double* yg = y + base + stride * (g - 1);
        const double* yx = y + base + stride * (x - 1);
        double* dc = dydt + base + stride * (c - 1);
        double* dg = dydt + base + stride * (g - 1);
        double* dx = dydt + base + stride * (x - 1);
        for (int j = 0; j <= N + 1; ++j) {
            const double r = kdis * yx[j] - kas * yc[j] * yg[j];
            dc[j] += r;
            dg[j] += r;
            dx[j] -= r;
        }
    }
}

}  // namespace

void evaluate_rhs(const model& md, InterfaceTables& tables, const double* y, double* dydt) {
    const int n = md.n;
    interface_fluxes(md, tables, y);
    for (int l = 1; l <= n; ++l)
        if (md.complexing.at(l) == 1) boundary_complexation(md, tables, l);
    for (int l = 1; l <= n; ++l) {
        layer_transport(md, tables, l, y, dydt);
        if (md.complexing.at(l) > 1) volume_complexation(md, l, y, dydt);
    }
}

void evaluate_rhs(model& md, double /*t*/, const double* y, double* dydt) {
    evaluate_rhs(md, static_cast<InterfaceTables&>(md), y, dydt);
}
