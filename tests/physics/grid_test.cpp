// Refined finite-volume grid. A refined edge starts with m+1 cells of the first step h0,
// then widths grow by q so that the cells fill the stretch exactly:
//   m h0 + h0 (q^P - 1)/(q - 1) = stretch,  P = N - m (one edge) or N/2 - m (both edges).
// For N = 100, m = 10, stretch 200, h0 = 1 this gives q = 1.015205..., last cell ~3.83.
#include "physics/grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>

#include "model/errors.h"
#include "model_builder.h"

namespace {

struct LayerShape {
    double Ls;  // scaled thickness
    int N, m, type;
};

// Layers laid end to end, with the scaled first step h0 and the length scale L.
void make_stack(model& md, const std::vector<LayerShape>& layers, double h0, double L = 1) {
    testing_model::init_layers(md, static_cast<int>(layers.size()), 1);
    md.L = L;
    md.hDebye = h0 * L;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        md.d.set(layers[l - 1].Ls * L);
        md.N.set(layers[l - 1].N);
        md.m.set(layers[l - 1].m);
        md.grid_type.set(layers[l - 1].type);
        md.xb[l] = md.d.get() / md.L + md.xb[l - 1];
    }
}

std::vector<double> widths(model& md, int l) {
    md.layer = l;
    return std::vector<double>(md.gridH.row(), md.gridH.row() + md.N.get());
}

TEST(Grid, EveryTypeSpansItsLayerExactly) {
    const double h0 = 0.75;
    for (int type = 0; type <= 3; ++type) {
        model md;
        // The second layer starts away from 0, where edge rounding would show.
        make_stack(md, {{150.0, 40, 5, type}, {120.0, 50, 6, type}}, h0);
        build_grid(md);
        for (int l = 1; l <= 2; ++l) {
            SCOPED_TRACE("type " + std::to_string(type) + " layer " + std::to_string(l));
            md.layer = l;
            const int N = md.N.get();
            const double* X = md.gridX.row();
            const double* Y = md.gridY.row();
            EXPECT_EQ(X[0], md.xb[l - 1]);
            EXPECT_EQ(X[N], md.xb[l]);
            const std::vector<double> h = widths(md, l);
            double sum = 0;
            for (double w : h) sum += w;
            // N additions of values below Ls: a few ulp of Ls each at most.
            EXPECT_NEAR(sum, md.d.get(), 1e-12 * md.d.get());
            EXPECT_EQ(Y[0], X[0]);
            EXPECT_EQ(Y[N + 1], X[N]);
            for (int k = 1; k <= N; ++k)
                EXPECT_NEAR(Y[k], 0.5 * (X[k - 1] + X[k]), 1e-13 * md.xb[l]);
            // m+1 cells of h0 at a refined edge, growing inwards; positions up to 270
            // carry ~6e-14 of rounding into each width.
            const int m = md.m.get();
            const bool left = type == 0 || type == 1, right = type == 0 || type == 2;
            for (int k = 0; k <= m; ++k) {
                if (left) {
                    EXPECT_NEAR(h[k], h0, 1e-12);
                }
                if (right) {
                    EXPECT_NEAR(h[N - 1 - k], h0, 1e-12);
                }
            }
            if (left) {
                EXPECT_GT(h[m + 2], h[m + 1]);
            }
            if (right) {
                EXPECT_GT(h[N - m - 3], h[N - m - 2]);
            }
            if (type == 3) {
                for (double w : h) EXPECT_NEAR(w, md.d.get() / N, 1e-12);
            }
        }
    }
}

TEST(Grid, OneSidedGridsOfTheReferenceLayerMirrorEachOther) {
    model left, right;
    make_stack(left, {{200.0, 100, 10, 1}}, 1.0);
    make_stack(right, {{200.0, 100, 10, 2}}, 1.0);
    build_grid(left);
    build_grid(right);
    const std::vector<double> hl = widths(left, 1), hr = widths(right, 1);
    const double q = hl[20] / hl[19];
    EXPECT_NEAR(q, 1.015205, 1e-6);  // six digits quoted
    EXPECT_NEAR(10 + (std::pow(q, 90) - 1) / (q - 1), 200.0, 1e-8);
    for (int k = 12; k < 100; ++k) EXPECT_NEAR(hl[k] / hl[k - 1], q, 1e-10);
    EXPECT_NEAR(hl[99], 3.83, 0.005);
    // Same distances measured from opposite edges; positions up to 200 round at ~3e-14.
    for (size_t k = 0; k < hl.size(); ++k) EXPECT_NEAR(hl[k], hr[hl.size() - 1 - k], 1e-12);
}

// Barely thicker than N cells of h0: the ratio iteration creeps, but the grid exists.
TEST(Grid, NearlyUniformRefinedGridIsBuilt) {
    model md;
    make_stack(md, {{100.01, 100, 10, 1}}, 1.0);
    build_grid(md);
    // The extra 0.01 spreads over 90 growing cells, the last ~2.2e-4 wider than h0.
    for (double h : widths(md, 1)) EXPECT_NEAR(h, 1.0, 5e-4);
    EXPECT_EQ(md.gridX.item(100), md.xb[1]);
}

TEST(Grid, DoublyRefinedGridIsSymmetric) {
    model md;
    make_stack(md, {{30.0, 10, 1, 3}, {400.0, 120, 12, 0}}, 1.0);
    build_grid(md);
    md.layer = 2;
    EXPECT_NEAR(md.gridX.item(60), 0.5 * (md.xb[1] + md.xb[2]), 4 * 2.2e-16 * md.xb[2]);
    const std::vector<double> h = widths(md, 2);
    for (size_t k = 0; k < h.size(); ++k) EXPECT_NEAR(h[k], h[h.size() - 1 - k], 1e-12);
}

// Layers too thin for the grid their N, m and first step make are rejected with the layer
// named (the grid type, N and m themselves are checked when the input is read).
TEST(Grid, RejectsUndefinedGrids) {
    const std::pair<LayerShape, const char*> cases[] = {
        {{50.0, 100, 10, 1},
         "too thin for its refined grid: thickness 50 m, but N = 100, "
         "m = 10 and a first step of 1 m need a thickness above 100 m"},
        {{100.0, 100, 10, 1}, "too thin"},  // exactly N h0: the ratio creeps towards 1
        {{99.0, 100, 10, 1}, "too thin"},   // the iteration settles just above 1 here
        {{100.0, 100, 10, 0}, "too thin"},
    };
    for (const auto& [shape, expected] : cases) {
        model md;
        make_stack(md, {{20.0, 10, 2, 3}, shape}, 1.0);
        try {
            build_grid(md);
            ADD_FAILURE() << "accepted: " << expected;
        } catch (const InputError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("layer 2"), std::string::npos) << what;
            EXPECT_NE(what.find(expected), std::string::npos) << what;
        }
    }
}

}  // namespace
