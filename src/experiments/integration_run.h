// One integration run of a calibration point: the stiff integrator advances the record's
// state vector in place from tBegin to tEnd, and a progress report after every accepted
// step prints a "Step" line and records potential, time and calculation time.
#pragma once

#include <string>

#include "model/model.h"

// How a run ended: the integrator's result code (1 reached tEnd, 2 stopped by the
// progress report, negative a failure) and its counters.
struct RunOutcome {
    int code = 0;
    int steps = 0;
    int accepted = 0;
    int rejected = 0;
    int functionCalls = 0;
    int jacobians = 0;
    int decompositions = 0;

    bool succeeded() const { return code > 0; }
};

// Integrates the record's state over one calibration point. Throws IntegratorError when the
// integrator refuses its parameters.
RunOutcome run_integration(model& md, RunSeries& series);

// Progress report of the state now in md.y at scaled time x after `step` accepted steps:
// computes the membrane potential, appends it (mV), the time (s) and the calculation time
// (s) to the run series when step > 0, and prints the "Step" line.
void report_progress(model& md, RunSeries& series, double x, int step);

// Words for a failure code of the integrator.
std::string describe_failure(int code);
