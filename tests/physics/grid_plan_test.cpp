// The automatic grid's first step against the Debye length of a known ionic strength, and
// the grids it builds: the growth of neighbouring cells bounded, every cell halved by a
// refinement.
#include "physics/grid_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "model_builder.h"
#include "physics/grid.h"

namespace {

// One 10 um layer of a 1:1 salt at 100 mol/m^3 between solutions of the same salt at
// `solution` mol/m^3 (left) and 100 (right); both ions pass the left interface with the
// partition Kif/Kib = `partition`.
void salt_layer(model& md, double solution, double partition, int type = 0) {
    testing_model::init_layers(md, 1, 2);
    md.layer = 1;
    md.d.set(1e-5);
    md.epsilon.set(7.08e-10);
    md.N.set(40);
    md.m.set(3);
    md.grid_type.set(type);
    md.z[1] = 1;
    md.z[2] = -1;
    for (int c = 1; c <= 2; ++c) {
        md.cM.at(1).item(c) = 100;
        md.cL[c] = solution;
        md.cR[c] = 100;
        md.Kif[0][c] = partition * 1e-3;
        md.Kib[0][c] = 1e-3;
        md.Kif[1][c] = md.Kib[1][c] = 1e-3;
    }
    md.multipliers = {1.0, 1.0};
}

// Widths of the cells of layer 1 once the plan's grid is built (L = 1 m).
std::vector<double> built_widths(model& md, const GridPlan& plan) {
    apply_cell_counts(md, plan);
    apply_first_steps(md, plan);
    md.L = 1;
    md.xb[1] = md.d.at(1);
    build_grid(md);
    const auto row = md.gridH.at(1);
    return std::vector<double>(row.data(), row.data() + md.N.at(1));
}

}  // namespace

// Sum z^2 c = 200 mol/m^3 at 298.15 K and eps = 7.08e-10 F/m: lambda = 9.7087e-10 m. A
// partition of 10 at the left edge puts ten times the salt there, so lambda / sqrt(10).
TEST(GridPlan, FirstStepFollowsTheDensestEdge) {
    model md;
    salt_layer(md, 100, 1);
    EXPECT_NEAR(edge_debye_length(md, 1, 0), 9.7087e-10, 1e-13);
    EXPECT_NEAR(initial_grid_plan(md)[0].firstStep, 9.7087e-10 * kFirstStepFraction, 1e-16);

    salt_layer(md, 100, 10);
    EXPECT_NEAR(edge_debye_length(md, 1, 0), 9.7087e-10 / std::sqrt(10.0), 1e-13);
    EXPECT_NEAR(edge_debye_length(md, 1, 1), 9.7087e-10, 1e-13);

    // A left solution raised a hundredfold by the calibration counts at its largest.
    salt_layer(md, 1, 1);
    md.targets = {0};
    md.changedIon = 1;
    md.oppositeIon = 2;
    md.multipliers = {1.0, 1.0, 1000.0};
    EXPECT_NEAR(edge_debye_length(md, 1, 0), 9.7087e-10 / std::sqrt(10.0), 1e-13);
}

TEST(GridPlan, GrowthIsBoundedAndRefinementHalvesEveryCell) {
    for (int type : {0, 1, 2}) {
        SCOPED_TRACE(type);
        model md;
        salt_layer(md, 100, 1, type);
        const GridPlan plan = initial_grid_plan(md);
        const std::vector<double> h = built_widths(md, plan);
        double growth = 0;
        for (std::size_t k = 1; k < h.size(); ++k)
            growth = std::max(growth, std::max(h[k] / h[k - 1], h[k - 1] / h[k]));
        EXPECT_LE(growth, kFirstGrowthRatio * (1 + 1e-9));
        const double edge = type == 2 ? h.back() : h.front();
        // An edge reached from the far side is a difference of positions: last bits only.
        EXPECT_NEAR(edge, plan[0].firstStep, 1e-9 * plan[0].firstStep);

        // The refined grid: twice the cells, the edge cells half as wide, and the cells
        // growing by about the square root of the ratio.
        model finer;
        salt_layer(finer, 100, 1, type);
        const std::vector<double> f = built_widths(finer, refined_plan(plan));
        ASSERT_EQ(f.size(), 2 * h.size());
        EXPECT_NEAR(type == 2 ? f.back() : f.front(), edge / 2, 1e-9 * edge);
        double fineGrowth = 0;
        for (std::size_t k = 1; k < f.size(); ++k)
            fineGrowth = std::max(fineGrowth, std::max(f[k] / f[k - 1], f[k - 1] / f[k]));
        EXPECT_NEAR(fineGrowth, std::sqrt(growth), 0.01);
    }
}
