#include "physics/grid.h"

#include <cmath>
#include <iostream>
#include <sstream>
#include <string>

#include "model/errors.h"

namespace {

// The fixed-point iteration for the growth ratio settles in a few hundred steps where it
// settles at all; near a ratio of 1 it creeps and would run for ever.
constexpr int kMaxRatioIterations = 1000;

std::string num(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

std::string layer_name(int l) { return "Grid: layer " + std::to_string(l); }

// Growth ratio q of the refined stretch: the fixed point of
//   q = (1 - (1 - q) * stretch / h0)^(1/P),
// at which m cells of width h0 followed by P cells h0, h0 q, ..., h0 q^(P-1) fill the
// stretch (half the layer for type 0, the whole layer for types 1 and 2) exactly.
double growth_ratio(int type, double Ls, double h0, int m, int P, bool& settled) {
    const double invP = 1.0 / static_cast<double>(P);
    double q = 2.1;
    double previous = 0;
    settled = false;
    for (int it = 0; it < kMaxRatioIterations; ++it) {
        if (!(std::fabs(q - previous) > 1e-20)) {
            settled = true;
            return q;
        }
        previous = q;
        if (type == 0)
            q = std::pow(1 - ((1 - q) * (Ls - 2 * h0 * m) * 0.5) / h0, invP);
        else
            q = std::pow(1 - ((1 - q) * (Ls - m * h0)) / h0, invP);
    }
    // Rounding can leave the iteration hopping between two neighbouring values.
    if (std::isfinite(q) && std::fabs(q - previous) <= 4 * 2.220446049250313e-16 * q)
        settled = true;
    return q;
}

// Distance of grid point j from the refined edge: m cells of width h0, then cells growing
// by the ratio q.
double edge_distance(int j, int m, double h0, double q) {
    if (j < m) return j * h0;
    return (1 - std::pow(q, static_cast<double>(j - m))) * h0 / (1 - q) + m * h0;
}

void check_layer(const model& md, int l, int type, int N, int m, double Ls, double h0) {
    if (type < 0 || type > 3)
        throw InputError(layer_name(l) + " has grid type " + std::to_string(type) +
                         ", not one of 0 (both edges refined), 1 (left), 2 (right), 3 (uniform)");
    if (N < 2)
        throw InputError(layer_name(l) + " has N = " + std::to_string(N) +
                         " cells; at least 2 are needed");
    if (!(std::isfinite(Ls) && Ls > 0))
        throw InputError(layer_name(l) + " has thickness " + num(md.d.get()) +
                         " m; it must be positive");
    if (type == 3) return;
    if (!(std::isfinite(h0) && h0 > 0))
        throw InputError(layer_name(l) + ": the first grid step is " + num(md.hDebye) +
                         " m; it must be positive");
    if (m < 0)
        throw InputError(layer_name(l) + " has m = " + std::to_string(m) +
                         "; it must not be negative");
    if (type == 0 && N % 2 != 0)
        throw InputError(layer_name(l) + " has grid type 0 with an odd N = " + std::to_string(N) +
                         ": its two refined halves would meet in a middle cell of zero width; "
                         "use an even N");
    const int P = type == 0 ? N / 2 - m : N - m;
    if (P <= 0)
        throw InputError(layer_name(l) + " has m = " + std::to_string(m) +
                         " and N = " + std::to_string(N) + " (grid type " + std::to_string(type) +
                         "), which leaves no growing cells; m must be smaller than " +
                         std::to_string(type == 0 ? N / 2 : N));
}

}  // namespace

void build_grid(model& md) {
    const int n = md.n;
    md.gridX.init(&md.layer, n, md.N, 1);
    md.gridY.init(&md.layer, n, md.N, 2);
    md.gridH.init(&md.layer, n, md.N, 0);

    const double h0 = md.hDebye / md.L;
    for (int l = 1; l <= n; ++l) {
        md.layer = l;
        const int type = md.grid_type.get();
        const int N = md.N.get();
        const int m = md.m.get();
        const double Ls = md.d.get() / md.L;
        const double a = md.xb[l - 1];
        const double b = md.xb[l];
        check_layer(md, l, type, N, m, Ls, h0);

        double* X = md.gridX.row();
        if (type == 3) {
            for (int j = 0; j <= N; ++j) X[j] = a + j * (Ls / N);
        } else {
            const int P = type == 0 ? N / 2 - m : N - m;
            bool settled = false;
            const double q = growth_ratio(type, Ls, h0, m, P, settled);
            if (!settled || !(std::isfinite(q) && q > 1)) {
                // The stretch must be longer than a uniform grid of step h0 would make it.
                const double minimum = (type == 0 ? 2 * (N / 2) : N) * md.hDebye;
                throw InputError(layer_name(l) + " is too thin for its refined grid: thickness " +
                                 num(md.d.get()) + " m, but N = " + std::to_string(N) +
                                 ", m = " + std::to_string(m) + " and a first step of " +
                                 num(md.hDebye) + " m need a thickness above " + num(minimum) +
                                 " m (the growth ratio of the cells does not settle above 1)");
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

        double* H = md.gridH.row();
        double* Y = md.gridY.row();
        for (int k = 0; k < N; ++k) H[k] = X[k + 1] - X[k];
        Y[0] = X[0];
        Y[N + 1] = X[N];
        for (int k = 1; k <= N; ++k) Y[k] = X[k - 1] + H[k - 1] * 0.5;
    }
}

void write_grid_file(model& md) {
    const std::string path = md.folders.at(0) + "/xh.dat";
    md.fileName = path;
    std::ofstream& out = md.outFile;
    out.open(path);
    if (!out.is_open()) {
        std::cout << "File xh.dat cannot be opened"
                  << "\n";
        out.clear();
        return;
    }
    out.precision(15);
    const double L = md.L;
    long r = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const int N = md.N.get();
        const double* X = md.gridX.row();
        const double* Y = md.gridY.row();
        const double* H = md.gridH.row();
        for (int k = 0; k < N; ++k)
            out << r++ << " " << Y[k] * L << " " << X[k] * L << " " << H[k] * L << "\n";
        out << r++ << " " << Y[N] * L << " " << X[N] * L << " - \n";
        out << r++ << " " << Y[N + 1] * L << " - - \n";
    }
    out.close();
}
