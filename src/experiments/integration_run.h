// One integration run of a calibration point: the stiff integrator advances the record's
// state vector from tBegin to tEnd, and a progress report after every accepted step
// prints a "Step" line and records potential, time and calculation time.
#pragma once

#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/message_sink.h"
#include "experiments/calibration_analysis.h"
#include "model/model.h"
#include "numeric/stiff_integrator.h"
#include "output/progress_line.h"
#include "physics/point_order.h"

// How the integrator forms and solves its Newton systems.
//   banded: the unknowns in point order (physics/point_order.h), a finite-difference
//           Jacobian by groups of columns, band decompositions of order nEq with a
//           bandwidth of a few times R; the record's state is permuted in and out.
//   dense:  the record's order, a full finite-difference Jacobian (nEq right-hand sides)
//           and dense decompositions of order nEq.
enum class SolverPath { banded, dense };

// "banded" or "dense".
const char* solver_path_name(SolverPath path);

// How the runs of a program go: the solver path, whether the "Step" line of every
// integration step is printed, a progress line to keep up to date (none: null), and the
// number of a signal asking the run to stop (0 until one came; null: never asked), and
// whether the run ends with a grid check.
// Told what each calibration point produced, while its state is at hand: after the
// potentiometric run (the record holds its final state, the series its potential against
// time) and after the current-step run of impedance and chronopotentiometry (the series
// holds the transient, the record the spectrum of an impedance point).
struct LinearSpectrum;
class PointObserver {
  public:
    virtual ~PointObserver() = default;
    virtual void potentiometric_done(const model& md, const RunSeries& series) = 0;
    virtual void current_step_done(const model& md, const RunSeries& series) = 0;
    // The linear-response spectrum of an impedance point, at its potentiometric end state.
    virtual void linear_spectrum_done(const model& /*md*/, const LinearSpectrum& /*spectrum*/) {}
};

// Which impedance spectra an impedance run computes: that of earlier versions from the transient
// of a current step, the small-signal one of the linearised system, or both.
enum class ImpedanceSpectra { step, linear, both };

struct RunOptions {
    SolverPath path = SolverPath::banded;
    bool quiet = false;
    ProgressLine* progress = nullptr;
    const volatile std::sig_atomic_t* stopSignal = nullptr;
    bool checkGrid = false;  // repeat every point on two refined grids after the run
    bool announce = true;    // the "** NPP problem integrated" line before each integration
    bool writeFiles = true;  // the points write their files and print their messages
    bool debyeGrid = false;  // an automatic first step is one Debye length, as given
    double accuracy = 0.1;   // [mV] target of the automatic grid for every final potential
    bool strict = false;     // a run that finished with warnings ends with status 4
    MessageSink* sink = &standard_output();  // where the run's messages go
    PointObserver* observer = nullptr;       // none: the points are not watched
    std::optional<PointRange> linearRange;   // of the calibration analysis; none: found
    // Of impedance runs; with `linear` alone the current step is not run, and each point
    // starts from the potentiometric end state of the point before.
    ImpedanceSpectra impedance = ImpedanceSpectra::both;
    // The banded path's Newton matrices: block-tridiagonal, one block per grid point
    // (physics/point_order.h); false: the band, wide enough for the one-sided differences
    // at the layer edges, as in earlier versions (their numbers bit for bit; the program
    // and the library choose it with the Debye grid).
    bool blockMatrices = true;
    // Threads of each integration (IntegratorOptions::threads); the results do not depend on it.
    int threads = default_integrator_threads();
    // The integrator runs with the input's atol and rtol divided by this: above 1 where the
    // automatic grid found the input's tolerances too loose for its target (the time error
    // of a final potential near the differences between grids it judges).
    double toleranceDivisor = 1;

    bool stop_requested() const { return stopSignal != nullptr && *stopSignal != 0; }
};

// How a run ended: the integrator's result code (1 reached tEnd, 2 stopped by the
// progress report because a stop was requested, negative a failure) and its counters.
// rhsCalls counts every evaluation of the right-hand side, those that form a Jacobian
// included.
struct RunOutcome {
    int code = 0;
    IntegratorStatistics stats;
    bool negativeConcentration = false;  // an accepted step had a concentration below -atol
    double lowestConcentration = 0;      // over the accepted steps (scaled)
    // Where an accepted step left the dilute range (model/dilute_range.h), which ended the
    // run with code kOutsideDiluteRange; empty when none did.
    std::string outsideDiluteRange;

    bool succeeded() const { return code > 0; }
};

// Result code of a run that an accepted step ended by reaching a concentration beyond the
// dilute range: a failure, as no grid or tolerance makes that state a solution of the model.
constexpr int kOutsideDiluteRange = -20;

// Binds the integrator's operations to the one record of a run: the right-hand side is the
// transport system, the output is the progress report, which stops the integration once
// options.stop_requested() (after the step it reports). Given a point order (recordIndex[p]
// is the record index of the integrator's unknown p) the integrator holds the unknowns
// permuted: the right-hand side gathers them into the record's layout (into md.y, which
// between two reports holds the states the integrator tries) and scatters the derivatives
// back, and the report first puts the accepted state into md.y, so that the physics and
// every output see the record's layout only. Without one the integrator works on md.y
// itself. The Jacobian is formed by finite differences and there is no mass matrix, so the
// defaults of those stay unused. `options` (quiet, progress line, stop signal) must outlive
// the system.
class MembraneSystem : public OdeSystem {
  public:
    MembraneSystem(model& md, RunSeries& series, std::vector<int> recordIndex,
                   const RunOptions& options);

    int rhs(double x, const double* y, double* f) override;
    int output(IntegratorT& integrator) override;
    // f on a copy of the record, made on the first call.
    OdeSystem* concurrent_evaluator() override;

    // Copies a state held in the integrator's order into md.y.
    void to_record(const double* y);

    // Whether an accepted step so far had a concentration below minus the absolute
    // tolerance: the grid or the tolerances may be too coarse for the problem.
    bool negative_concentration_seen() const { return negativeSeen_; }

    // The lowest concentration of the accepted steps so far (scaled; 0 before the first).
    double lowest_concentration() const { return lowest_; }

    // Where the first accepted step beyond the dilute range reached it (which concentration,
    // where, when), which also ends the integration; empty while none has. Only components
    // that cross an interface of their layer count: the amount of one that crosses neither
    // (fixed sites, a confined carrier) is fixed by the input, and space charge may pack it
    // into the first nanometre of a charged edge (up to 235 mol/L of sites in the bundled
    // example b.cci at its lowest sample concentration) without bearing on the potential,
    // which the ions that cross set at transfer equilibrium.
    const std::string& outside_dilute_range() const { return outside_; }

  private:
    bool permuted() const { return !recordIndex_.empty(); }

    model& md_;
    RunSeries& series_;
    const RunOptions& options_;
    std::vector<int> recordIndex_;    // empty: the record's own order
    std::vector<double> recordRate_;  // f in the record's layout (the state goes to md.y)
    double negativeFloor_;            // -atol as read (scaled concentration)
    double diluteCeiling_;            // kDiluteLimit (scaled concentration)
    // (layer, component) of the components that cross an interface of the layer: those the
    // dilute range is checked on (see output())
    std::vector<std::pair<int, int>> crossing_;
    std::string outside_;
    std::unique_ptr<OdeSystem> concurrent_;
    bool negativeSeen_ = false;
    double lowest_ = 0;
    bool anyStep_ = false;
};

// The stiff integrator of a run on the record's problem, advancing `state` (nEq values:
// md.y on the dense path, the point-order copy on the banded one) from tBegin to tEnd with
// the record's tolerances divided by `toleranceDivisor` and its first step, output after
// every step, identity mass matrix and a finite-difference Jacobian of the given bandwidths
// (lower = nEq: full), held in block-tridiagonal form when `blocks` gives the block sizes,
// by groups of the columns that no equation shares when `pattern` gives what every
// equation reads. Throws
// IntegratorError when the integrator refuses its parameters; the integrator tells
// `messages` why it refused or ended early. It works with `threads` threads (>= 1).
std::unique_ptr<StiffIntegratorT> make_run_integrator(
    const model& md, OdeSystem& system, double* state, Bandwidths band,
    MessageSink& messages = standard_output(), int threads = default_integrator_threads(),
    std::vector<int> blocks = {}, SparsePattern pattern = {}, double toleranceDivisor = 1);

// Integrates the record's state over one calibration point; md.y holds the state reached,
// also when the integration fails. Throws IntegratorError when the integrator refuses its
// parameters.
RunOutcome run_integration(model& md, RunSeries& series, const RunOptions& options);

// Bytes the integrator and the permuted copies of the banded path take for nEq unknowns
// with the given bandwidths (dense: lower = upper = nEq), for the size check at set-up.
double integration_bytes(long long nEq, SolverPath path, long long lower, long long upper);

// Progress report of the state now in md.y at scaled time x after `step` accepted steps:
// computes the membrane potential, appends it (mV), the time (s) and the calculation time
// (s) to the run series when step > 0, and writes the "Step" line to `sink` (null: none).
void report_progress(model& md, RunSeries& series, double x, int step, MessageSink* sink);

// Words for a failure code of the integrator.
std::string describe_failure(int code);
