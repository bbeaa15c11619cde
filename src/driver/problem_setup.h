// What runs once before the first calibration point: the problem prepared from the record
// as read (state layout, size check, scaling, grid), then the run folder and the files that
// describe the problem.
#pragma once

#include "experiments/integration_run.h"
#include "model/model.h"
#include "output/run_files.h"
#include "physics/grid_plan.h"

// Largest number of unknowns a dense run accepts: the integrator's four dense matrices of
// this order take 12.8 GB.
constexpr long long kMaxUnknowns = 20000;

// Largest number of unknowns a banded run accepts, whatever the memory: indices into the
// state and its work vectors (four times nEq long) stay within int.
constexpr long long kMaxBandedUnknowns = 500000000;

// Everything that runs once before the first calibration point, in this order: state
// layout, constants, the size check of the chosen solver path, totals, run folders,
// scaling, grid and its file, input copies and the run report.
void set_up(model& md, RunFiles& files, RunSeries& series, SolverPath path,
            const GridPlan* plan = nullptr);

// The part of set_up that writes nothing: state layout, constants, size check, totals,
// scaling and grid. Given a plan, the grid is the plan's (its N and m, and its first step in
// every layer) instead of the input's; the scales stay those of the input.
void prepare_problem(model& md, RunSeries& series, SolverPath path, const GridPlan* plan = nullptr);
