// The figure set and the tables with units of a run, beside the PostScript pages and .dat
// files: figures/*.svg (calibration, time courses, profiles, spectra, chronopotentiogram)
// and points.csv, time_course.csv, concentration_profiles.csv, potential_profiles.csv,
// spectrum.csv and chronopotentiogram.csv in the run folder. Drawn from the run's summary
// and the traces the run gathered (files.traces); rewritten after every point.
#pragma once

#include <string>
#include <vector>

#include "output/run_files.h"
#include "output/run_summary.h"

// A figure of the run: its file name below the run folder and its caption.
struct RunFigure {
    std::string file;  // "figures/calibration.svg"
    std::string caption;
};

// The figures the run has so far, in the order the report shows them: calibration, time
// courses, profiles, spectra.
std::vector<RunFigure> run_figures(const RunSummary& run, const RunTraces& traces);

// Writes every figure of run_figures into runFolder/figures. A file that cannot be written
// is reported and recorded (output/output_file.h); the run goes on.
void write_run_figures(RunFiles& files, const RunSummary& run);

// Writes the tables with units into the run folder, each a header row naming every column
// with its unit in brackets, then one row per value.
void write_run_tables(RunFiles& files, const RunSummary& run);
