// Whether a run's answers depend on its grid: advice when they may, and the check itself,
// which repeats every calibration point on a grid whose every cell is about half as wide
// and estimates the discretisation error left in the run's results.
#pragma once

#include <string>

#include "experiments/integration_run.h"
#include "model/model.h"
#include "output/run_summary.h"

// Assumed order of the spatial discretisation in the Richardson estimate. Measured on a
// Donnan layer refined from N = 80 to 640 cells, halving every cell each time: the error of
// the interface potential falls by 3.4, 3.8 and 3.9. Coarser than that (the automatic first
// step at N = 20) the change overstates the error, so the estimate stays on the safe side.
constexpr int kGridOrder = 2;

// A point's results count as independent of the grid when the estimated error of the final
// potential is within this many millivolts (a tenth of a millivolt is about the reading of a
// laboratory potentiometer) and that of the low-frequency impedance within this fraction.
constexpr double kPotentialTolerance = 0.1;
constexpr double kImpedanceTolerance = 0.01;

// True when some layer edge carries space charge at rest: a charged component held inside a
// layer (D = 0, or no transfer through either edge of a layer that holds it), or two charged
// components with different partition ratios Kif/Kib at one interface.
bool edges_charged(const model& md);

// True when the first grid step is the automatic one (one Debye length of the mean ionic
// strength) and the layer edges are charged, so interface potentials may be resolved
// poorly: the run then suggests --check-grid once.
bool grid_advice_due(const model& md);

// The advisory line printed once per run when grid_advice_due().
void print_grid_advice();

// The advisory line printed once for a point that failed or went through a negative
// concentration.
void print_point_grid_advice(int point, bool failed);

// Reads `inputName`.cci again, refines the grid of every layer (N and m doubled, the first
// step halved, the scales kept), repeats every calibration point of `run` without writing
// any file, prints a report on standard output and returns it for summary.json.
GridCheck check_grid(const std::string& inputName, const RunSummary& run,
                     const RunOptions& options);
