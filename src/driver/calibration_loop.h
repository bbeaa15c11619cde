// The program's run: banner, input, set-up once, then the calibration points one after
// another.
#pragma once

#include <string>

#include "experiments/integration_run.h"
#include "model/model.h"
#include "driver/point_sequence.h"
#include "output/run_summary.h"
#include "physics/grid_plan.h"

// Largest number of unknowns a dense run accepts: the integrator's four dense matrices of
// this order take 12.8 GB.
constexpr long long kMaxUnknowns = 20000;

// Largest number of unknowns a banded run accepts, whatever the memory: indices into the
// state and its work vectors (four times nEq long) stay within int.
constexpr long long kMaxBandedUnknowns = 500000000;

void write_banner();

// Everything that runs once before the first calibration point, in this order: state
// layout, constants, the size check of the chosen solver path, totals, run folders,
// scaling, grid and its file, input copies and the run report.
void set_up(model& md, RunSeries& series, SolverPath path, const GridPlan* plan = nullptr);

// The part of set_up that writes nothing: state layout, constants, size check, totals,
// scaling and grid. Given a plan, the grid is the plan's (its N and m, and its first step in
// every layer) instead of the input's; the scales stay those of the input.
void prepare_problem(model& md, RunSeries& series, SolverPath path,
                     const GridPlan* plan = nullptr);

// Runs the whole program on the input `inputName`.cci; returns the exit status. After every
// calibration point and at the end, summary.json and report.html in the run folder say
// how far the run got; a fault that stops the run is recorded there too, then rethrown.
int run_program(const std::string& inputName, const RunOptions& options);

// The same run on the record `md` (fresh), which it leaves as the run ended; returns what
// the run did, its exit status in exitCode.
RunSummary run_calibration(model& md, const std::string& inputName, const RunOptions& options);
