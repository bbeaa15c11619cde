// What a run did, for people and scripts: summary.json (read by scripts; written with a
// JSON library) and report.html (opened in a browser) in the run folder. Both are written
// after every calibration point, so that a long run can be watched, and at the end.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "experiments/calibration_analysis.h"
#include "experiments/linear_impedance.h"
#include "model/model.h"
#include "numeric/integrator.h"
#include "output/run_files.h"
#include "physics/grid_plan.h"

// One integration run of a point (the potentiometric run, or the current-step run of the
// impedance and chronopotentiometric methods).
struct IntegrationSummary {
    int code = 0;              // the integrator's result: 1 reached tEnd, negative failed
    bool interrupted = false;  // stopped between steps by SIGINT or SIGTERM before tEnd
    IntegratorStatistics stats;
    double wallSeconds = 0;
    std::optional<double> finalPotential;  // [mV] of the last accepted step
    std::string failure;                   // why it failed, empty when it did not
    bool outsideDiluteRange = false;       // it failed at a state beyond the dilute range
    bool negativeConcentration = false;    // an accepted step had a negative concentration
    double lowestConcentration = 0;        // [mol/m^3] over the accepted steps
};

// The linear-response spectrum of an impedance point.
struct LinearSpectrumSummary {
    std::string file;          // relative to the run folder, when written
    bool steady = false;       // the operating point (see LinearSpectrum)
    double potentialRate = 0;  // [mV/s] there
    long long unknowns = 0;
    int fallbacks = 0;
    double cpuSeconds = 0;
    std::optional<double> lowFrequencyZ;         // Z' [ohm m²] at the lowest frequency
    std::optional<double> apexFrequency;         // [Hz] where -Z'' is largest
    std::optional<SpectrumAgreement> agreement;  // with the step spectrum, when both ran
    std::string failure;
};

struct PointSummary {
    int point = 0;
    double multiplier = 0;
    std::string folder;  // relative to the run folder; "" for the run folder itself
    IntegrationSummary potentiometric;
    std::optional<IntegrationSummary> currentStep;
    std::string spectrumFile;             // relative to the run folder, when written
    std::optional<double> lowFrequencyZ;  // Z' at the lowest frequency of an impedance run
    std::optional<double> apexFrequency;  // [Hz] where -Z'' of the spectrum is largest
    std::optional<LinearSpectrumSummary> linearSpectrum;
    // The potential transient of the current-step run: (t [s], E [mV]) per reported step.
    std::vector<std::pair<double, double>> transient;
    // Per reported step of the current-step run as `transient`: the lowest ratio of an edge
    // concentration to its value at the switch-on (lowest_edge_ratio).
    std::vector<double> depletion;
    // Of the diffusion-only model, whose potentials do not depend on the grid, at the end of
    // the potentiometric run: every interface flux (interface_flux_table, mol/(m² s)) and
    // the concentration profiles (profile_samples, mol/m³). Empty for Nernst–Planck–Poisson.
    std::vector<double> interfaceFlux, profile;
    // Why the results of a point that ran to its end are doubtful, one named reason each
    // ("not steady: ..."); empty when there is none.
    std::vector<std::string> warnings;
    // The point after a failed one starts from the final state of the last point that
    // finished (0: the initial state); none when it starts from its predecessor's.
    std::optional<int> startedFrom;
    bool ok() const;           // every run of the point reached its end
    bool interrupted() const;  // a run of the point was stopped by a signal
    // "finished", "finished with warnings", "failed" or "interrupted"
    std::string status() const;
    double sampleConcentration = 0;  // [mol/m³] of the changed ion in the first target region
    std::optional<double> drift;     // [mV/s] over the last tenth of the potentiometric run
};

// The reference line of the calibration curve and the detection limits, as in limit.txt.
struct CalibrationLine {
    double slope = 0;            // [mV per decade]
    double slog2 = 0;            // [mV] potential change of a twofold change
    std::vector<double> limits;  // log10 multipliers
};

// What successive grids, each with every cell about half as wide as the one before, say
// about the discretisation error of one result.
struct GridEstimate {
    std::optional<double> order;         // observed, from the last three grids
    bool asymptotic = false;             // the observed order is near the method's
    bool belowNoise = false;             // the last changes are too small to show an order
    std::optional<double> extrapolated;  // Richardson estimate of the grid-converged value
    std::optional<double> low, high;     // interval for the grid-converged value
    // Half the width of the interval: how far the finest grid's value may be from the
    // grid-converged one.
    std::optional<double> half_width() const;
};

// A flux through an interface or a concentration at a place in a layer, on successive grids
// (the diffusion-only model).
struct GridProfileValue {
    int component = 0;    // 1..R
    int region = 0;       // of a flux its interface (0..n), of a concentration its layer (1..n)
    double fraction = 0;  // of a concentration: its place, as a fraction of the layer's thickness
    std::vector<std::optional<double>> values;  // mol/(m² s) or mol/m³, coarse to fine
    double target = 0;  // the value counts as converged within this of the grid-converged one
    GridEstimate estimate;
};

// One calibration point on successive grids, coarse to fine.
struct GridPointStudy {
    int point = 0;
    double multiplier = 0;
    std::vector<std::optional<double>> potential;  // final potential [mV]
    std::vector<std::optional<double>> lowZ;       // Z' at the lowest frequency
    std::vector<std::optional<double>> apex;       // [Hz] apex of the impedance arc
    std::vector<double> sampleTimes;               // [s] where the transient is compared
    std::vector<std::vector<std::optional<double>>> transient;  // [sample][grid] E [mV]
    GridEstimate potentialEstimate, lowZEstimate, apexEstimate;
    std::vector<GridEstimate> transientEstimates;  // per sample time
    std::optional<double> transitionTime;          // [s] steepest rise of the transient
    std::optional<double> unresolvedFrom;          // [s] from here on the last grids disagree
    std::string failure;                           // a grid on which the point failed, and why
    bool outsideDiluteRange = false;  // failed beyond the dilute range (no grid mends it)
    bool converged = false;           // every estimate within the targets
    // Of the diffusion-only model, whose potentials do not depend on the grid: the interface
    // fluxes and the concentration profiles at the end of the potentiometric run, judged
    // against `relativeTarget` (the potential target as a relative change of a
    // concentration, accuracy·F/(RT)), and what the targets derive from: the smallest D/d
    // of a layer [m/s] (D its largest diffusivity) and the integrator's absolute tolerance
    // [mol/m³].
    std::vector<GridProfileValue> fluxes, concentrations;
    double relativeTarget = 0;
    double diffusionRate = 0;
    double absoluteTolerance = 0;
    // [mV/s] over the last tenth of tEnd, on the finest grid
    std::optional<double> drift;
    // why the point did not converge, where the study can tell
    std::string reason;
};

// A grid study: the automatic grid (refined until the results agree) or the check of a
// run's grid (--check-grid: the run's grid and two refinements of it).
struct GridStudy {
    bool automatic = false;
    std::vector<GridPlan> grids;  // coarse to fine
    std::vector<long long> unknowns;
    int chosen = 0;              // the grid the run used
    int methodOrder = 0;         // order of the spatial discretisation
    double potentialTarget = 0;  // [mV]
    double impedanceTarget = 0;  // relative
    std::vector<GridPointStudy> points;
    bool converged = false;
    std::string note;  // why the study stopped early or was not made, when it was
    // The last grid is the run's own, expected to be the study's last: its results come in
    // point by point as the run goes (the automatic grid only).
    bool pending = false;
    // The integrator's tolerances the study and the run ran with: the input's atol and rtol
    // divided by toleranceDivisor (1: the input's own; 10, 100 or 1000), chosen on the
    // first grid so that the time-integration error stays below what the study judges (the
    // automatic grid only).
    double toleranceDivisor = 1;
    double atol = 0, rtol = 0;  // as the integrator used them
    // [mV] largest difference of a final potential on the first grid between the study's
    // tolerances and ten times tighter ones: the time-integration error; none when not
    // measured.
    std::optional<double> timeError;
    double tEnd = 0;  // [s] duration of every point's run
};

struct RunSummary {
    std::string inputName;  // without .cci
    std::string runFolder;  // as given to the program's folders
    std::string path;       // "banded" or "dense"
    int bandLower = 0;      // of the banded path
    int bandUpper = 0;
    long long unknowns = 0;  // of the grid the points ran on
    // "running", "finished", "finished with warnings", "failed", "stopped" (a fault) or
    // "interrupted" (a signal)
    std::string status = "running";
    int exitCode = 0;
    std::string message;  // why the run stopped or was interrupted, when it was
    std::vector<PointSummary> points;
    std::optional<CalibrationLine> calibration;
    // Why the calibration line and the detection limits are not given although the run
    // has the points for them (a point they would use failed); empty otherwise.
    std::string calibrationMissing;
    std::optional<PointRange> linearRange;  // of the calibration analysis, when chosen
    std::optional<GridStudy> grid;          // the automatic grid's refinement, when it ran
    std::optional<GridStudy> gridCheck;     // only when it was asked for
    // What each point produced (E(t), final profiles, spectrum), as the run hands it to
    // its caller at the end.
    RunTraces traces;
};

// Every point's warnings as "point K: reason", in the order of the points.
std::vector<std::string> run_warnings(const RunSummary& run);

// "Potentiometry", "Electrochemical Impedance Spectroscopy" or "Chronopotentiometry".
std::string method_name(int method);

// Writes runFolder/summary.json. Lists every file found in the run folder then, and, when
// there are any, the files that could not be written (files.unwrittenFiles) with the reason.
// Written whole or reported as not written (output/output_file.h); the run goes on.
void write_summary_json(model& md, RunFiles& files, const RunSummary& run);

// Writes runFolder/report.html: the problem in brief, the run's status, a table of the
// calibration points, the slope and detection limits, the files that could not be written
// (when there are any), every plot of the run inline (its SVG) and links to every file.
// It leads with the figure set (output/run_figures.h); the plots of the PostScript pages
// (their SVG twins) follow under "Plots of profiles, time courses, curves and spectra". Light and
// dark colours follow the reader's setting. Self-contained: no script, no external resource.
void write_report_page(model& md, RunFiles& files, const RunSummary& run);
