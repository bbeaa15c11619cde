// One integration run of a calibration point: the stiff integrator advances the record's
// state vector from tBegin to tEnd, and a progress report after every accepted step
// prints a "Step" line and records potential, time and calculation time.
#pragma once

#include <string>

#include "model/model.h"

// How the integrator forms and solves its Newton systems.
//   banded: the unknowns in point order (physics/point_order.h), a finite-difference
//           Jacobian by groups of columns, band decompositions of order nEq with a
//           bandwidth of a few times R; the record's state is permuted in and out.
//   dense:  the record's order, a full finite-difference Jacobian (nEq right-hand sides)
//           and dense decompositions of order nEq.
enum class SolverPath { banded, dense };

// "banded" or "dense".
const char* solver_path_name(SolverPath path);

// How a run ended: the integrator's result code (1 reached tEnd, 2 stopped by the
// progress report, negative a failure) and its counters. rhsCalls counts every
// evaluation of the right-hand side, those that form a Jacobian included.
struct RunOutcome {
    int code = 0;
    int steps = 0;
    int accepted = 0;
    int rejected = 0;
    long long rhsCalls = 0;
    int jacobians = 0;
    int decompositions = 0;

    bool succeeded() const { return code > 0; }
};

// Integrates the record's state over one calibration point; md.y holds the state reached,
// also when the integration fails. Throws IntegratorError when the integrator refuses its
// parameters.
RunOutcome run_integration(model& md, RunSeries& series, SolverPath path);

// Bytes the integrator and the permuted copies of the banded path take for nEq unknowns
// with the given bandwidths (dense: lower = upper = nEq), for the size check at set-up.
double integration_bytes(long long nEq, SolverPath path, long long lower, long long upper);

// Progress report of the state now in md.y at scaled time x after `step` accepted steps:
// computes the membrane potential, appends it (mV), the time (s) and the calculation time
// (s) to the run series when step > 0, and prints the "Step" line.
void report_progress(model& md, RunSeries& series, double x, int step);

// Words for a failure code of the integrator.
std::string describe_failure(int code);
