// The point order of the unknowns and its declared bandwidths. The Jacobian of the
// transport system is formed column by column by finite differences in point order; an
// unknown that an equation does not read leaves that equation's derivative bit for bit
// unchanged, so every entry outside the declared band must be exactly zero, and the band
// must be reached (to within one) by entries that are not. The same holds for the declared
// blocks of the block-tridiagonal form and for the declared pattern of every equation, whose
// columns then fall into fewer groups for the differences than the band's.
#include "physics/point_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "model_builder.h"
#include "numeric/block_tridiagonal.h"
#include "physics/grid.h"
#include "physics/rhs.h"

namespace {

struct Stack {
    std::string name;
    int modelType;                // 0 Nernst-Planck-Poisson, 1 diffusion only
    int R;                        // components; with complexation 1 + 2 -> 3
    std::vector<int> N;           // cells per layer
    std::vector<int> complexing;  // per layer
    bool current;
};

// A scaled problem with uniform grids, every coefficient non-zero and a random state of
// positive concentrations, so that every coupling the equations have shows in the Jacobian.
void build(model& md, const Stack& s) {
    const int n = static_cast<int>(s.N.size());
    testing_model::init_layers(md, n, s.R);
    md.modelType = s.modelType;
    md.L = 1;
    md.hDebye = 1;
    for (int l = 1; l <= n; ++l) {
        md.layer = l;
        md.d.set(2.0 * s.N[l - 1]);
        md.N.set(s.N[l - 1]);
        md.m.set(1);
        md.grid_type.set(3);
        md.complexing.set(s.complexing[l - 1]);
        md.xb[l] = md.d.get() + md.xb[l - 1];
    }
    testing_model::lay_out(md);
    testing_model::init_coefficients(md);
    build_grid(md);
    const bool reactive =
        std::any_of(s.complexing.begin(), s.complexing.end(), [](int k) { return k > 0; });
    if (reactive) {
        md.ligand[1] = 2;
        md.complexOf[1] = 3;
    }
    md.eisRun = s.current ? 1 : 0;
    for (int c = 1; c <= s.R; ++c) {
        md.z[c] = c % 2 == 1 ? 1 : -1;
        md.cL[c] = 1.0 + 0.1 * c;
        md.cR[c] = 0.7 + 0.2 * c;
    }
    for (int l = 0; l <= n; ++l)
        for (int c = 1; c <= s.R; ++c) {
            md.Kif[l][c] = 0.4 + 0.1 * c;
            md.Kib[l][c] = 0.3 + 0.05 * l;
            md.Kc[l][c] = 0.8;
            md.Kas[l][c] = 1.5;
            md.Kdis[l][c] = 0.6;
        }
    for (int l = 1; l <= n; ++l) {
        md.layer = l;
        md.poissonCoef.set(2.0);
        md.currentCoef.set(0.5);
        for (int c = 1; c <= s.R; ++c) {
            md.Dscaled.item(c) = 1.0 + 0.25 * c;
            md.driftCoef.item(c) = 0.8 * md.z[c];
        }
    }
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(0.5, 1.5);
    for (double& v : md.y) v = u(gen);
}

TEST(PointOrder, IsAPermutationThatKeepsEachLayerInPlace) {
    model md;
    build(md, {"", 0, 3, {4, 2, 5}, {0, 0, 0}, false});
    const std::vector<int> order = point_order(md);
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < md.nEq; ++i) ASSERT_EQ(sorted[i], i);
    // the second layer (N = 2) starts with node 0: components 1..3, then its field at 0
    md.layer = 2;
    const int start = md.layerStart.get();
    EXPECT_EQ(order[start], state_index(md, 1, 0));
    EXPECT_EQ(order[start + 2], state_index(md, 3, 0));
    EXPECT_EQ(order[start + 3], state_index(md, 4, 0));
    EXPECT_EQ(order[start + 4], state_index(md, 1, 1));
}

TEST(PointOrder, JacobianLiesInTheDeclaredBandAndBlocks) {
    const Stack stacks[] = {
        {"one layer, two ions", 0, 2, {8}, {0}, false},
        {"two layers under current", 0, 3, {6, 7}, {0, 0}, true},
        {"three layers, diffusion only", 1, 2, {5, 6, 4}, {0, 0, 0}, false},
        {"boundary complexation", 0, 3, {6, 5}, {1, 0}, false},
        {"volume complexation", 0, 3, {5, 6}, {2, 2}, true},
        {"three layers, every kind", 0, 4, {6, 5, 7}, {1, 2, 0}, true},
        {"two-cell middle layer", 0, 2, {5, 2, 5}, {0, 0, 0}, false},
    };
    for (const Stack& s : stacks) {
        SCOPED_TRACE(s.name);
        model md;
        build(md, s);
        const std::vector<int> order = point_order(md);
        const Bandwidths band = point_order_bandwidths(md);
        const BlockTridiagonal blocks(point_order_blocks(md), false);
        const SparsePattern pattern = point_order_pattern(md);
        const int n = md.nEq;
        ASSERT_EQ(blocks.order(), n);
        ASSERT_EQ(pattern.rowStart.size(), static_cast<std::size_t>(n) + 1);
        EXPECT_LT(column_groups(n, pattern).groups(), band.lower + band.upper + 1);
        std::vector<double> y = md.y, f0(n), f(n);
        evaluate_rhs(md, 0.0, y.data(), f0.data());
        int lower = 0, upper = 0;
        for (int q = 0; q < n; ++q) {
            const int col = order[q];
            const double saved = y[col];
            y[col] = saved + 1e-3 * (1.0 + saved);
            evaluate_rhs(md, 0.0, y.data(), f.data());
            y[col] = saved;
            for (int p = 0; p < n; ++p) {
                if (f[order[p]] == f0[order[p]]) continue;
                ASSERT_LE(p - q, band.lower) << "row " << p << ", column " << q;
                ASSERT_LE(q - p, band.upper) << "row " << p << ", column " << q;
                ASSERT_TRUE(blocks.holds(p, q)) << "row " << p << ", column " << q;
                ASSERT_TRUE(std::binary_search(pattern.columns.begin() + pattern.rowStart[p],
                                               pattern.columns.begin() + pattern.rowStart[p + 1], q))
                    << "row " << p << ", column " << q;
                lower = std::max(lower, p - q);
                upper = std::max(upper, q - p);
            }
        }
        EXPECT_GE(lower, band.lower - 1);
        EXPECT_GE(upper, band.upper - 1);
    }
}

// The bandwidths are measured from the layers' edges without walking the grid, so a
// grid far too large to run is still sized at once: one layer of R ions reaches three
// nodes of R + 1 unknowns each way.
TEST(PointOrder, BandwidthsOfAHugeGridComeWithoutTheGrid) {
    model md;
    testing_model::init_layers(md, 1, 4);
    md.layer = 1;
    md.N.set(400000000);
    md.layerStart.set(0);
    const Bandwidths band = point_order_bandwidths(md);
    EXPECT_EQ(band.lower, 15);
    EXPECT_EQ(band.upper, 15);
}

}  // namespace
