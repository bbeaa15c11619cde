#include "physics/grid.h"

#include <cmath>
#include <sstream>
#include <string>

#include "model/errors.h"

namespace {

// The fixed-point iteration for the growth ratio settles in tens of steps for usual layers,
// but creeps when the layer is barely thicker than N cells of the first step (about 1e5
// steps at 0.01 % above, 1e6 at 0.001 %); beyond the cap the layer is treated as too thin.
constexpr int kMaxRatioIterations = 10000000;

std::string num(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

// First grid step of layer l [m].
double first_step(const model& md, int l) {
    return md.firstStep.empty() ? md.hDebye : md.firstStep.at(static_cast<std::size_t>(l));
}

std::string layer_name(int l) { return "Grid: layer " + std::to_string(l); }

// Length of the refined stretch in units of h0 beyond its m cells of width h0: half the
// layer for type 0, the whole layer for types 1 and 2. A growth ratio above 1 exists
// only when it exceeds the number P of growing cells.
double stretch_cells(int type, double Ls, double h0, int m) {
    return type == 0 ? ((Ls - 2 * h0 * m) * 0.5) / h0 : (Ls - m * h0) / h0;
}

// Growth ratio q of the refined stretch: the fixed point of
//   q = (1 - (1 - q) * stretch / h0)^(1/P),
// at which m cells of width h0 followed by P cells h0, h0 q, ..., h0 q^(P-1) fill the
// stretch exactly. Returns 0 when the iteration does not settle within the cap.
double growth_ratio(int type, double Ls, double h0, int m, int P) {
    const double invP = 1.0 / static_cast<double>(P);
    double q = 2.1;
    double previous = 0;
    for (int it = 0; it < kMaxRatioIterations; ++it) {
        if (!(std::fabs(q - previous) > 1e-20)) return q;
        previous = q;
        if (type == 0)
            q = std::pow(1 - ((1 - q) * (Ls - 2 * h0 * m) * 0.5) / h0, invP);
        else
            q = std::pow(1 - ((1 - q) * (Ls - m * h0)) / h0, invP);
    }
    return 0;
}

// Distance of grid point j from the refined edge: m cells of width h0, then cells growing
// by the ratio q.
double edge_distance(int j, int m, double h0, double q) {
    if (j < m) return j * h0;
    return (1 - std::pow(q, static_cast<double>(j - m))) * h0 / (1 - q) + m * h0;
}

// What only the scales decide: a positive finite first step for a refined grid. The grid
// type, N and m were checked when the input was read.
void check_layer(const model& md, int l, int type, double h0) {
    if (type == 3) return;
    if (!(std::isfinite(h0) && h0 > 0))
        throw InputError(layer_name(l) + ": the first grid step is " + num(first_step(md, l)) +
                             " m; it must be positive",
                         "scales");
}

}  // namespace

void build_grid(model& md) {
    const int n = md.n;
    md.gridX.init(&md.layer, n, md.N, 1);
    md.gridY.init(&md.layer, n, md.N, 2);
    md.gridH.init(&md.layer, n, md.N, 0);

    for (int l = 1; l <= n; ++l) {
        const double h0 = first_step(md, l) / md.L;
        const int type = md.grid_type.at(l);
        const int N = md.N.at(l);
        const int m = md.m.at(l);
        const double Ls = md.d.at(l) / md.L;
        const double a = md.xb[l - 1];
        const double b = md.xb[l];
        check_layer(md, l, type, h0);

        double* X = md.gridX.at(l).data();
        if (type == 3) {
            for (int j = 0; j <= N; ++j) X[j] = a + j * (Ls / N);
        } else {
            const int P = type == 0 ? N / 2 - m : N - m;
            const double q =
                stretch_cells(type, Ls, h0, m) > P ? growth_ratio(type, Ls, h0, m, P) : 0;
            // The geometric cells must close the stretch; rounding near q = 1 is the only
            // thing that separates them, so a millionth is generous.
            const double closure = (type == 0 ? Ls * 0.5 : Ls) - edge_distance(P + m, m, h0, q);
            if (!(std::isfinite(q) && q > 1) || !(std::fabs(closure) <= 1e-6 * Ls)) {
                // The stretch must be longer than a uniform grid of step h0 would make it.
                const double minimum = (type == 0 ? 2 * (N / 2) : N) * first_step(md, l);
                throw InputError(layer_name(l) + " is too thin for its refined grid: thickness " +
                                     num(md.d.at(l)) + " m, but N = " + std::to_string(N) +
                                     ", m = " + std::to_string(m) + " and a first step of " +
                                     num(first_step(md, l)) + " m need a thickness above " + num(minimum) +
                                     " m (the cells cannot grow from the first step to fill it)",
                                 "N");
            }
            if (type == 0) {
                for (int j = 0; j <= N / 2; ++j) {
                    const double s = edge_distance(j, m, h0, q);
                    X[j] = a + s;
                    X[N - j] = b - s;
                }
            } else if (type == 1) {
                for (int j = 0; j <= N; ++j) X[j] = a + edge_distance(j, m, h0, q);
            } else {
                for (int j = 0; j <= N; ++j) X[N - j] = b - edge_distance(j, m, h0, q);
            }
        }
        // The far edge of a one-sided or uniform grid is reached through a sum that may be
        // off in the last bit; neighbouring layers must share their interface exactly.
        X[0] = a;
        X[N] = b;

        double* H = md.gridH.at(l).data();
        double* Y = md.gridY.at(l).data();
        for (int k = 0; k < N; ++k) {
            H[k] = X[k + 1] - X[k];
            if (!(H[k] > 0 && std::isfinite(H[k])))
                throw InputError(layer_name(l) + ": cell " + std::to_string(k + 1) + " has width " +
                                     num(H[k] * md.L) + " m; thickness " + num(md.d.at(l)) +
                                     " m and first step " + num(first_step(md, l)) +
                                     " m do not give a usable grid for N = " + std::to_string(N),
                                 "N");
        }
        Y[0] = X[0];
        Y[N + 1] = X[N];
        for (int k = 1; k <= N; ++k) Y[k] = X[k - 1] + H[k - 1] * 0.5;
    }
}
