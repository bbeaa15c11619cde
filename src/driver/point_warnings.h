// Why the results of a calibration point that ran to its end may still not be what the
// model predicts: each check gives one named reason, which the point's summary, standard
// output, summary.json and report.html carry.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/model.h"
#include "output/run_summary.h"

// The warnings of the potentiometric run `run` of the point now in the record, from its
// potential series (series, as the run left it), the state it reached (md.y) and the
// lowest concentration it went through. `accuracy` [mV] is the target of every final
// potential (--accuracy). None for a run that did not reach its end.
std::vector<std::string> potentiometric_warnings(const model& md, const RunSeries& series,
                                                 const IntegrationSummary& run, double accuracy);

// The warning of a point whose grid no study judged: its results may depend on the grid.
inline constexpr const char* kGridNotChecked =
    "grid not checked: no grid study compared the results on this grid with those on finer "
    "ones (the automatic grid does; or run with --check-grid)";

// Whether the study took point `point` (it then has a verdict on its grid).
bool grid_judged(const GridStudy& study, int point);

// The warning of point `point` when the grid study says its results are not converged on
// the grid the run used; none when it is, or the study did not take the point.
std::optional<std::string> grid_warning(const GridStudy& study, int point);
