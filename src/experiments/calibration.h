// Calibration curve of a potentiometric calculation, written into the run folder.
#pragma once

#include <optional>

#include "model/model.h"
#include "output/run_files.h"
#include "output/run_summary.h"

// Prints the point's calculation time; from the third point on rewrites ccurve.dat,
// tcurve.dat and, when genPS is 1, curve.ps and tcurve.ps from the collected series; after
// the last point of a calculation with at least five points writes limit.txt with the
// slope of the reference line through the second and third points, the potential change
// of a twofold concentration change on it, and every log multiplier where the curve
// leaves that line by more than that change. Called once per point, after the collection
// of the point's results. Returns what limit.txt holds when it was written. A file that
// cannot be written is reported and recorded in files.unwrittenFiles; the others still are.
// Without `withLimit` (a point the line would use is missing) limit.txt is not written.
std::optional<CalibrationLine> write_calibration_curve(model& md, RunFiles& files,
                                                       const RunSeries& series,
                                                       bool withLimit = true);
