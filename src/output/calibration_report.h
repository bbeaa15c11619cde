// The calibration analysis of a run (experiments/calibration_analysis.h) as the run shows
// it: an object of summary.json, the first section of report.html, calibration.csv in the
// run folder and a table at the end of standard output.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "experiments/calibration_analysis.h"
#include "model/model.h"
#include "output/run_files.h"
#include "output/run_summary.h"

// The analysis of the run's points so far, over run.linearRange when one was given.
CalibrationAnalysis analyse_run(const RunSummary& run);

// The object "calibration_analysis" of summary.json.
nlohmann::ordered_json analysis_json(const CalibrationAnalysis& a);

// The section "Calibration analysis" of report.html: the line, the detection limit and a
// table of the points.
void write_analysis_section(std::ostream& page, const CalibrationAnalysis& a);

// calibration.csv: a header line with the units, then one line per point.
std::string analysis_csv(const CalibrationAnalysis& a);

// The table at the end of standard output, each line ended.
std::string analysis_text(const CalibrationAnalysis& a);

// Writes runFolder/calibration.csv (a calibration of two or more points only).
void write_calibration_csv(model& md, RunFiles& files, const RunSummary& run);
