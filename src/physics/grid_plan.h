// The automatic grid: a first step per layer from the space charge its edges can carry, and
// a sequence of grids, each with every cell about half as wide as the one before, along
// which the results converge at the order of the discretisation.
#pragma once

#include <vector>

#include "model/model.h"

// The grid of one layer: the width of the cells at a refined edge, their number and the
// number of cells of that width.
struct LayerGrid {
    double firstStep = 0;  // [m]
    int N = 0;
    int m = 0;
};

// One LayerGrid per layer, layer l at index l - 1.
using GridPlan = std::vector<LayerGrid>;

// The first step of the automatic grid is this fraction of the thinnest local Debye length
// at the layer's edges. Measured on the bundled examples: the interface potentials move by
// less than 1 mV once the first step is below about a fiftieth of that length (a depleted
// edge needs the potential to fall by well under one thermal voltage per cell), and the
// grids refined from a first step of 1/64 are in the range where the error falls by four
// per halving.
constexpr double kFirstStepFraction = 1.0 / 64;

// Sum of z^2 c [mol/m^3] beyond any region's: water itself is 5.5e4 mol/m^3. Bounds the
// atmosphere an extreme partition ratio would put at an edge.
constexpr double kDensestAtmosphere = 1e5;

// Smallest first step as a fraction of the stretch it starts: positions along the layer
// still resolve such a cell to about seven digits.
constexpr double kSmallestFirstStep = 1e-8;

// Largest growth ratio of neighbouring cells on the first automatic grid; every halving of
// the cells takes its square root (1.118, 1.057, 1.028, ...).
constexpr double kFirstGrowthRatio = 1.25;

// The Debye length [m] of the densest ionic atmosphere that can form at the edge of layer l
// on the given side (0 left, 1 right) of an unscaled record: the larger of the layer's own
// sum of z^2 c (fixed sites included) and that of the neighbouring region as it enters
// the layer at transfer equilibrium (c Kif/Kib from the left, c Kib/Kif from the right),
// both at the largest calibration multiplier where the region is a target. Infinite when
// no charged component can be there.
double edge_debye_length(const model& md, int l, int side);

// The first automatic grid of an unscaled record: per layer a first step of
// kFirstStepFraction of the thinnest edge Debye length (the layer's own refined edges
// only), the input's m (at least 1) and the smallest N whose growth ratio stays within
// kFirstGrowthRatio: the input's N is not used, as the refinement decides how many cells
// the layer needs. A uniform layer (grid type 3) keeps its N; its first step is its cell
// width.
GridPlan initial_grid_plan(const model& md);

// The same grid with every cell about half as wide: N and m doubled, first step halved.
GridPlan refined_plan(const GridPlan& plan);

// The grid the input itself gives: its N and m and the first step `hDebye` [m] (scaled
// record) in every layer.
GridPlan input_grid_plan(const model& md);

// Unknowns of the problem on the given grid.
long long plan_unknowns(const model& md, const GridPlan& plan);

// Puts the plan's N and m into an unscaled record (before the problem is prepared); the
// first steps go in after scaling, with apply_first_steps.
void apply_cell_counts(model& md, const GridPlan& plan);
void apply_first_steps(model& md, const GridPlan& plan);
