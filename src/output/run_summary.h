// What a run did, for people and scripts: summary.json (read by scripts; written with a
// JSON library) and report.html (opened in a browser) in the run folder. Both are written
// after every calibration point, so that a long run can be watched, and at the end.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/model.h"
#include "numeric/integrator.h"

// One integration run of a point (the potentiometric run, or the current-step run of the
// impedance and chronopotentiometric methods).
struct IntegrationSummary {
    int code = 0;              // the integrator's result: 1 reached tEnd, negative failed
    bool interrupted = false;  // stopped between steps by SIGINT or SIGTERM before tEnd
    IntegratorStatistics stats;
    double wallSeconds = 0;
    std::optional<double> finalPotential;  // [mV] of the last accepted step
    std::string failure;                   // why it failed, empty when it did not
    bool negativeConcentration = false;    // an accepted step had a negative concentration
};

struct PointSummary {
    int point = 0;
    double multiplier = 0;
    std::string folder;  // relative to the run folder; "" for the run folder itself
    IntegrationSummary potentiometric;
    std::optional<IntegrationSummary> currentStep;
    std::string spectrumFile;             // relative to the run folder, when written
    std::optional<double> lowFrequencyZ;  // Z' at the lowest frequency of an impedance run
    bool ok() const;                      // every run of the point reached its end
    bool interrupted() const;             // a run of the point was stopped by a signal
};

// The reference line of the calibration curve and the detection limits, as in limit.txt.
struct CalibrationLine {
    double slope = 0;            // [mV per decade]
    double slog2 = 0;            // [mV] potential change of a twofold change
    std::vector<double> limits;  // log10 multipliers
};

// One calibration point repeated on the refined grid: its value on the run's grid, on the
// refined one, and the Richardson estimate of the error left in the run's value,
// (refined - coarse) 2^p / (2^p - 1) for a discretisation of order p.
struct GridCheckValue {
    std::optional<double> coarse;
    std::optional<double> refined;
    std::optional<double> change() const;
    std::optional<double> estimated_error(int order) const;
};

struct GridCheckPoint {
    int point = 0;
    double multiplier = 0;
    GridCheckValue potential;            // final membrane potential [mV]
    std::optional<GridCheckValue> lowZ;  // impedance: Z' at the lowest frequency
    std::string refinedFailure;          // why the refined run failed, empty when it did not
    bool converged = false;              // estimates within the tolerances below
};

// The grid check of a run (--check-grid): every point again with every cell about half as
// wide. `skipped` says why it could not be made, when it could not.
struct GridCheck {
    int order = 0;                  // assumed order of the spatial discretisation
    double potentialTolerance = 0;  // [mV]
    double impedanceTolerance = 0;  // relative
    std::vector<GridCheckPoint> points;
    std::string skipped;
};

struct RunSummary {
    std::string inputName;  // without .cci
    std::string runFolder;  // as given to the program's folders
    std::string path;       // "banded" or "dense"
    int bandLower = 0;      // of the banded path
    int bandUpper = 0;
    // "running", "finished", "failed", "stopped" (a fault) or "interrupted" (a signal)
    std::string status = "running";
    int exitCode = 0;
    std::string message;  // why the run stopped or was interrupted, when it was
    std::vector<PointSummary> points;
    std::optional<CalibrationLine> calibration;
    std::optional<GridCheck> gridCheck;  // only when it was asked for
};

// "Potentiometry", "Electrochemical Impedance Spectroscopy" or "Chronopotentiometry".
std::string method_name(int method);

// Writes runFolder/summary.json. Lists every file found in the run folder then, and, when
// there are any, the files that could not be written (md.unwrittenFiles) with the reason.
// Written whole or reported as not written (output/output_file.h); the run goes on.
void write_summary_json(model& md, const RunSummary& run);

// Writes runFolder/report.html: the problem in brief, the run's status, a table of the
// calibration points, the slope and detection limits, the files that could not be written
// (when there are any), every plot of the run inline (its SVG) and links to every file.
// Self-contained: no script, no external resource.
void write_report_page(model& md, const RunSummary& run);
