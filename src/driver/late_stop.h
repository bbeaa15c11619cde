// A signal that comes after the calibration points, while the grid check runs or the
// final summaries are written, ends the run as interrupted too: the points stand, and
// standard output, summary.json and report.html say that the run did not end on its own.
#pragma once

#include <string>

#include "experiments/integration_run.h"
#include "output/run_summary.h"

// When a signal asked the run to stop and the run is not marked interrupted yet, marks it
// so (status "interrupted", exit code 128 + the signal's number, a message naming the
// signal and `phase`, e.g. "during the grid check"), says so on standard output and
// returns true. Returns false otherwise and changes nothing.
bool interrupted_after_points(const RunOptions& options, int pointsPlanned,
                              const std::string& phase, RunSummary& run);
