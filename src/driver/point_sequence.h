// The calibration points of a prepared problem, one after another: each point sets its
// initial state, integrates, collects its results and, when the run writes files, writes
// them. The same sequence serves the run itself, the grid refinement that chooses the
// automatic grid, and the grid check.
#pragma once

#include "experiments/integration_run.h"
#include "model/model.h"
#include "output/run_files.h"
#include "output/run_summary.h"

// Appends the point's results to the calibration series (only when there are two or
// more points). Returns false, recording nothing, when the run reported no step.
bool collect_point_results(const model& md, RunSeries& series);

// Undoes the point's concentration change, restores electroneutrality at the targets
// and empties the run series.
void end_point(model& md, RunSeries& series);

// Runs every calibration point of the prepared record `md` and appends one summary per
// point done (or interrupted) to run.points, with the warnings of each point that ran to
// its end (driver/point_warnings.h; the grid's from run.grid, when set). A point after a
// failed one starts from the final state of the last point that finished (or the initial
// state), and a point whose potentiometric run failed stays out of the calibration curve;
// when that keeps limit.txt from being written, run.calibrationMissing says why. With options.writeFiles the points write
// their files, the summaries are rewritten after every point and the sequence prints its
// messages; without, it writes and prints nothing of its own. Returns the exit status: 0,
// 2 when the integration of a point failed, or 128 + the signal's number when a signal
// ended the sequence (an interrupted point keeps the files of the state it reached, but
// adds nothing to the calibration curve and gets no current-step run or spectrum).
int run_point_sequence(model& md, RunFiles& files, RunSeries& series, const RunOptions& options,
                       RunSummary& run);

// summary.json and report.html of the run as it stands.
void write_run_summaries(model& md, RunFiles& files, const RunSummary& run);
