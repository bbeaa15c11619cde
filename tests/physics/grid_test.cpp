// Refined finite-volume grid. A refined edge starts with m+1 cells of the first step h0,
// then widths grow geometrically by q so that the cells fill the stretch exactly:
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

using testing_model::init_layers;

// A stack of layers given by scaled thickness, N, m and grid type, with the scaled first
// step h0 and the length scale L (1: scaled and metric values coincide).
struct LayerSpec {
    double Ls;
    int N;
    int m;
    int type;
};

void make_stack(model& md, const std::vector<LayerSpec>& layers, double h0, double L = 1) {
    init_layers(md, static_cast<int>(layers.size()), 1);
    md.L = L;
    md.hDebye = h0 * L;
    md.xb[0] = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const LayerSpec& s = layers[l - 1];
        md.d.set(s.Ls * L);
        md.N.set(s.N);
        md.m.set(s.m);
        md.grid_type.set(s.type);
        md.xb[l] = md.d.get() / md.L + md.xb[l - 1];
    }
}

std::vector<double> widths(model& md, int l) {
    md.layer = l;
    const int N = md.N.get();
    return std::vector<double>(md.gridH.row(), md.gridH.row() + N);
}

TEST(Grid, EveryTypeSpansItsLayerExactly) {
    for (int type = 0; type <= 3; ++type) {
        model md;
        // Two layers, so the second one starts away from 0 and edge rounding can show.
        make_stack(md, {{150.0, 40, 5, type}, {237.3, 60, 8, type}}, 1.0);
        build_grid(md);
        for (int l = 1; l <= 2; ++l) {
            md.layer = l;
            const int N = md.N.get();
            const double* X = md.gridX.row();
            const double* Y = md.gridY.row();
            SCOPED_TRACE("type " + std::to_string(type) + " layer " + std::to_string(l));
            EXPECT_EQ(X[0], md.xb[l - 1]);
            EXPECT_EQ(X[N], md.xb[l]);
            double sum = 0;
            for (double h : widths(md, l)) {
                EXPECT_GT(h, 0);
                sum += h;
            }
            // N additions of values below Ls: a few ulp of Ls each at most.
            EXPECT_NEAR(sum, md.d.get(), 1e-12 * md.d.get());
            EXPECT_EQ(Y[0], X[0]);
            EXPECT_EQ(Y[N + 1], X[N]);
            for (int k = 1; k <= N; ++k)
                EXPECT_NEAR(Y[k], 0.5 * (X[k - 1] + X[k]), 1e-13 * md.xb[l]);
        }
    }
}

TEST(Grid, RefinedEdgesStartWithTheFirstStep) {
    const double h0 = 0.75;
    const int N = 50, m = 6;
    for (int type = 0; type <= 2; ++type) {
        model md;
        make_stack(md, {{20.0, 10, 2, 3}, {120.0, N, m, type}}, h0);
        build_grid(md);
        const std::vector<double> h = widths(md, 2);
        SCOPED_TRACE("type " + std::to_string(type));
        // Positions near 20..140 carry ~3e-14 absolute rounding into each width.
        const double tol = 1e-12;
        const bool left = type == 0 || type == 1;
        const bool right = type == 0 || type == 2;
        for (int k = 0; k <= m; ++k) {
            if (left) {
                EXPECT_NEAR(h[k], h0, tol);
            }
            if (right) {
                EXPECT_NEAR(h[N - 1 - k], h0, tol);
            }
        }
        // Beyond the first m+1 cells the widths grow towards the unrefined side.
        if (left) {
            EXPECT_GT(h[m + 2], h[m + 1]);
        }
        if (right) {
            EXPECT_GT(h[N - m - 3], h[N - m - 2]);
        }
    }
}

TEST(Grid, GrowthRatioOfTheReferenceLayer) {
    model md;
    make_stack(md, {{200.0, 100, 10, 1}}, 1.0);
    build_grid(md);
    const std::vector<double> h = widths(md, 1);
    const double q = h[20] / h[19];
    // q solves 10 + (q^90 - 1)/(q - 1) = 200; six digits quoted, so 1e-6.
    EXPECT_NEAR(q, 1.015205, 1e-6);
    EXPECT_NEAR(10 + (std::pow(q, 90) - 1) / (q - 1), 200.0, 1e-8);
    // Every growing cell is q times the previous one (ratio of two widths: ~1e-13).
    for (int k = 12; k < 100; ++k) EXPECT_NEAR(h[k] / h[k - 1], q, 1e-10);
    EXPECT_NEAR(h[99], 3.83, 0.005);
}

TEST(Grid, OneSidedGridsMirrorEachOther) {
    model left, right;
    make_stack(left, {{200.0, 100, 10, 1}}, 1.0);
    make_stack(right, {{200.0, 100, 10, 2}}, 1.0);
    build_grid(left);
    build_grid(right);
    const std::vector<double> hl = widths(left, 1);
    const std::vector<double> hr = widths(right, 1);
    // Same distances measured from opposite edges; positions up to 200 round at ~3e-14.
    for (size_t k = 0; k < hl.size(); ++k) EXPECT_NEAR(hl[k], hr[hl.size() - 1 - k], 1e-12);
}

TEST(Grid, DoublyRefinedGridIsSymmetric) {
    model md;
    make_stack(md, {{30.0, 10, 1, 3}, {400.0, 120, 12, 0}}, 1.0);
    build_grid(md);
    md.layer = 2;
    const double* X = md.gridX.row();
    const double a = md.xb[1], b = md.xb[2];
    EXPECT_NEAR(X[60], 0.5 * (a + b), 4 * 2.2e-16 * b);
    const std::vector<double> h = widths(md, 2);
    for (size_t k = 0; k < h.size(); ++k) EXPECT_NEAR(h[k], h[h.size() - 1 - k], 1e-12);
}

TEST(Grid, UniformGridHasEqualCells) {
    model md;
    make_stack(md, {{7.0, 9, 0, 3}}, 1.0);
    build_grid(md);
    for (double h : widths(md, 1)) EXPECT_NEAR(h, 7.0 / 9, 1e-15);
}

// Inputs for which no grid exists must be rejected with the layer named.
TEST(Grid, RejectsUndefinedGrids) {
    struct Case {
        LayerSpec spec;
        const char* expected;
    };
    const Case cases[] = {
        {{50.0, 100, 10, 1}, "too thin"},   // 100 cells of h0 = 1 already need 100
        {{100.0, 100, 10, 1}, "too thin"},  // exactly N h0: the ratio creeps towards 1
        {{100.0, 100, 10, 0}, "too thin"},
        {{300.0, 20, 20, 1}, "no growing cells"},  // P = N - m = 0
        {{300.0, 20, 10, 0}, "no growing cells"},  // P = N/2 - m = 0
        {{300.0, 21, 3, 0}, "odd N"},
        {{300.0, 1, 0, 3}, "at least 2"},
        {{300.0, 20, 2, 4}, "grid type 4"},
    };
    for (const Case& c : cases) {
        model md;
        make_stack(md, {{20.0, 10, 2, 3}, c.spec}, 1.0);
        try {
            build_grid(md);
            ADD_FAILURE() << "accepted: " << c.expected;
        } catch (const InputError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("layer 2"), std::string::npos) << what;
            EXPECT_NE(what.find(c.expected), std::string::npos) << what;
        }
    }
}

TEST(Grid, TooThinMessageGivesTheThicknessThatWorks) {
    model md;
    make_stack(md, {{5e-8, 100, 10, 1}}, 1e-9);
    try {
        build_grid(md);
        FAIL() << "accepted a layer thinner than its cells";
    } catch (const InputError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("5e-08 m"), std::string::npos) << what;
        EXPECT_NE(what.find("1e-07 m"), std::string::npos) << what;  // N h0
    }
}

TEST(GridFile, TwoLayersOfFourCells) {
    testing_model::TempDir dir("xh");
    model md;
    // Scaled thicknesses 4 and 1 + 2^-10: every position and width is a short binary
    // fraction, so the file shows them exactly.
    make_stack(md, {{4.0, 4, 0, 3}, {1.0009765625, 4, 0, 3}}, 1.0);
    md.folders = {dir.str()};
    build_grid(md);
    write_grid_file(md);

    std::ifstream in(dir.path() / "xh.dat");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "0 0 0 1\n"
              "1 0.5 1 1\n"
              "2 1.5 2 1\n"
              "3 2.5 3 1\n"
              "4 3.5 4 - \n"
              "5 4 - - \n"
              "6 4 4 0.250244140625\n"
              "7 4.1251220703125 4.250244140625 0.250244140625\n"
              "8 4.3753662109375 4.50048828125 0.250244140625\n"
              "9 4.6256103515625 4.750732421875 0.250244140625\n"
              "10 4.8758544921875 5.0009765625 - \n"
              "11 5.0009765625 - - \n");
}

TEST(GridFile, WrittenInMetres) {
    testing_model::TempDir dir("xh_metres");
    model md;
    make_stack(md, {{4.0, 2, 0, 3}}, 1.0, 0.5);  // scaled 4 is 2 m
    md.folders = {dir.str()};
    build_grid(md);
    write_grid_file(md);
    std::ifstream in(dir.path() / "xh.dat");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "0 0 0 1\n1 0.5 1 1\n2 1.5 2 - \n3 2 - - \n");
}

TEST(GridFile, UnwritableFolderIsReported) {
    model md;
    make_stack(md, {{4.0, 2, 0, 3}}, 1.0);
    md.folders = {"/nonexistent/tavoline/folder"};
    build_grid(md);
    testing::internal::CaptureStdout();
    write_grid_file(md);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "File xh.dat cannot be opened\n");
}

}  // namespace
