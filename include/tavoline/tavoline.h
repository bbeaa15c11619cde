// Tavoline as a library: a membrane problem built in memory (from an input file in any of
// its forms, from input text, or field by field in SI units), run without touching the
// disk unless asked, and its results as plain vectors.
//
//     tavoline::Problem p = tavoline::Problem::from_file("b.cci");
//     p.components[0].kif[0] *= 10;
//     tavoline::Result r = tavoline::run(p);
//     for (const auto& point : r.points) use(point.concentration, *point.final_potential);
//
// An impedance problem gives each point the spectrum of a current step's transient, the
// small-signal one of the linearised system at the point's end state, or both
// (Options::impedance).
//
// A problem is checked by the program's own input reader, with its messages; a field
// that fails is named in the error. Nothing here holds global state: runs on different
// problems may go on in different threads.
#pragma once

#include <csignal>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavoline {

// The library's version, "MAJOR.MINOR" as the program reports it.
std::string version();

// What kind of fault ended a call: an input that cannot be run (the problem, a saved
// state), a numerical refusal of the integrator, or a result file that could not be
// written.
enum class ErrorKind { input, numerical, output };

// The one exception of the library. `file` and `line` locate an input fault in the text
// it was read from (the file, or the problem's own text), `field` names the problem field
// of that line for a problem built in memory, `value` is the offending token when one is
// known.
class Error : public std::runtime_error {
  public:
    Error(ErrorKind kind, const std::string& message, std::string file = {}, int line = 0,
          std::string field = {}, std::string value = {});
    ErrorKind kind() const { return kind_; }
    const std::string& file() const { return file_; }
    int line() const { return line_; }
    const std::string& field() const { return field_; }
    const std::string& value() const { return value_; }

  private:
    ErrorKind kind_;
    std::string file_;
    int line_;
    std::string field_;
    std::string value_;
};

// Where the messages of a run go: the progress of the integration, the grid study, the
// notes and the analysis table, in the program's words.
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void write(std::string_view text) = 0;
    virtual void flush() {}
};

// One layer of the membrane stack, left to right.
struct Layer {
    double thickness = 0;     // [m]
    double permittivity = 0;  // [C^2/(J m)]
    int complexing = 0;       // 0 none, 1 at the boundaries only, 2 throughout the layer
    int gridType = 0;         // 0 refined at both edges, 1 left, 2 right, 3 uniform
    int cells = 40;           // N, cells of the layer (the automatic grid chooses its own)
    int debyeCells = 3;       // m, cells within the first Debye length
    bool operator==(const Layer&) const = default;
};

// One species. Per-layer vectors hold one value per layer, per-interface vectors one per
// interface (layers + 1: left solution | layer 1 | ... | layer n | right solution). At an
// interface the flux from left to right is kif·c_left − kib·c_right.
struct Component {
    std::string name;  // a label for messages and tables; may be empty
    int charge = 0;
    std::vector<double> diffusivity;  // [m^2/s] per layer
    double left = 0;                  // [mol/m^3] left solution (the sample)
    std::vector<double> initial;      // [mol/m^3] per layer, at the start
    double right = 0;                 // [mol/m^3] right solution
    std::vector<double> kif;          // [m/s] per interface
    std::vector<double> kib;          // [m/s] per interface
    int ligand = 0;                   // component (1-based) it binds to; 0 none
    int complex = 0;                  // component (1-based) the pair forms, with a ligand
    std::vector<double> kas;          // [m^3/(mol s)] association, per layer, with a ligand
    std::vector<double> kdis;         // [1/s] dissociation, per layer, with a ligand
    bool operator==(const Component&) const = default;
};

enum class Transport { nernstPlanckPoisson = 0, diffusion = 1 };
enum class Method { potentiometry = 0, impedance = 1, chronopotentiometry = 2 };

// A whole problem in SI units, as an input file of the current form holds it. Components
// are numbered from 1 where the problem refers to one (changedIon, ligand, complex), as in
// the file.
struct Problem {
    std::string name = "problem";  // the run's name: its folder when files are written
    Transport transport = Transport::nernstPlanckPoisson;
    Method method = Method::potentiometry;
    double currentDensity = 0;  // [A/m^2] of impedance and chronopotentiometry
    std::vector<Layer> layers;
    double temperature = 298.15;  // [K]
    double duration = 0;          // [s] of every calibration point
    std::vector<Component> components;
    int target = 0;       // where the calibration changes: 0 left solution, 1..n a layer, n+1 right
    int changedIon = 1;   // component whose concentration is multiplied
    int oppositeIon = 2;  // component that keeps the target electroneutral
    std::vector<double> multipliers{1.0};  // one per calibration point
    double atol = 1e-10;                   // integrator tolerances
    double rtol = 1e-4;
    // Requested scales (0: automatic) and first grid step (0: the automatic grid).
    double lengthScale = 0;         // [m]
    double timeScale = 0;           // [s]
    double concentrationScale = 0;  // [mol/m^3]
    double fieldScale = 0;          // [V/m]
    double firstStep = 0;           // [m]
    bool postscript = true;         // PostScript plots beside the SVG ones, when files are written

    // Reads an input file of any form; `name` becomes the file's name without ".cci".
    static Problem from_file(const std::string& path);
    // Reads input text of any form; `source` names it in messages.
    static Problem from_text(const std::string& text, const std::string& source = "problem");

    // The problem as input text of the current form, every number written so that it
    // reads back as the same double.
    std::string to_text() const;
    // Checks the problem as the program checks an input file; throws Error naming the
    // field that fails.
    void validate() const;

    bool operator==(const Problem& other) const;

    // The text and source name the problem was read from, kept so that an unchanged
    // problem of an older form runs exactly as that file does.
    struct Source {
        std::string text;
        std::string fileName;
        std::vector<Layer> layers;
        std::vector<Component> components;
        std::vector<double> multipliers;
        std::vector<int> targets;  // every calibration target of the older forms
    };
    std::optional<Source> source;
};

// Which spectra an impedance run computes: from the transient of a current step, from the
// linearised system at each point's end state (no current-step run), or both.
enum class ImpedanceSpectra { step, linear, both };

// The spectra named "step", "linear" or "both", as the program's --impedance takes them;
// Error (input, field "impedance") for any other name.
ImpedanceSpectra impedance_spectra(const std::string& name);

// How to run.
struct Options {
    bool dense = false;      // the dense linear-algebra path instead of the banded one
    bool debyeGrid = false;  // an automatic first step of one Debye length, not refined, and
                             // the Newton matrices as a band: earlier versions bit for bit
    double accuracy = 0.1;   // [mV] target of the automatic grid for every final potential
    bool checkGrid = false;  // repeat every point on two refined grids after the run
    bool strict = false;     // finished with warnings gives exit code 4
    std::optional<std::pair<int, int>> linearRange;  // points FROM..TO of the calibration line
    // Of an impedance problem: the spectra it computes.
    ImpedanceSpectra impedance = ImpedanceSpectra::both;
    // Write the run folder (named after the problem) in the current working folder, as the
    // program does; otherwise nothing is written.
    bool writeFiles = false;
    bool quiet = true;  // no line per integration step
    // Threads of each integration: with 2, a large problem's real and complex Newton systems
    // are decomposed and solved at the same time; more act as 2; 0 or less: 2 on a machine
    // with two cores or more, else 1. The results are the same with any number.
    int threads = 0;
    MessageSink* messages = nullptr;  // none: standard output
    // Polled between steps: a non-zero value, the number of the signal that asks for it,
    // stops the run after the step in progress (the result says "interrupted").
    const volatile std::sig_atomic_t* stop = nullptr;
};

// Integrator statistics of one run.
struct Statistics {
    long steps = 0;
    long accepted = 0;
    long rejected = 0;
    long rhsCalls = 0;
    long jacobians = 0;
    long decompositions = 0;
    double wallSeconds = 0;
};

// Final profiles across the stack, layers concatenated left to right (a node on an
// interface appears twice, once for each layer).
struct Profiles {
    std::vector<double> x;                           // concentration nodes [m]
    std::vector<std::vector<double>> concentration;  // [component][node] [mol/m^3]
    std::vector<double> gridX;                       // grid points [m]
    std::vector<double> field;                       // [V/m] at the grid points
    std::vector<double> potential;                   // [mV] at the grid points
};

// An impedance spectrum: Z = Z' − i Z'' per frequency.
struct Spectrum {
    std::vector<double> frequency;  // [Hz]
    std::vector<double> real;       // Z' [ohm m^2]
    std::vector<double> imaginary;  // −Z'' [ohm m^2]
};

// How the step spectrum agrees with the linear one inside the band where the step method
// is valid: from 10 / duration up to where the chords between the transient's samples
// shift the step spectrum by 1 % of |Z|, at most 1 / (the transient's first time step).
struct SpectrumAgreement {
    double bandLow = 0, bandHigh = 0;  // [rad/s]
    int frequencies = 0;               // of the spectrum inside the band
    double largestDifference = 0;      // max |Z_step − Z_linear| / |Z_linear| there
    double atOmega = 0;                // [rad/s] where it is largest
};

// The small-signal spectrum of the linearised system at the end state of a point's
// potentiometric run, on the step spectrum's frequencies; none with ImpedanceSpectra::step
// or when that run failed.
struct LinearSpectrum : Spectrum {
    double potentialRate = 0;  // [mV/s] at the end state
    bool steady = false;       // |potentialRate| times the duration within Options::accuracy
    std::optional<SpectrumAgreement> agreement;  // when both spectra ran
    std::string failure;                         // why the spectrum is incomplete, when it is
};

struct PointResult {
    int point = 0;
    double multiplier = 0;
    double concentration = 0;              // [mol/m^3] of the changed ion in the target
    std::optional<double> finalPotential;  // [mV]
    std::string status;                    // "finished", "finished with warnings", ...
    std::vector<std::string> warnings;
    std::string failure;             // why the point failed, when it did
    std::optional<double> drift;     // [mV/s] over the last tenth of the point
    std::optional<int> startedFrom;  // after a failed point: the point it restarted from
    Statistics statistics;
    std::vector<double> time;          // [s] E(t) of the potentiometric run
    std::vector<double> potential;     // [mV]
    Profiles profiles;                 // at the end of the potentiometric run
    std::optional<Spectrum> spectrum;  // of an impedance point, from the current step
    // of an impedance point, from the linearised system
    std::optional<LinearSpectrum> linearSpectrum;
    std::vector<double> transientTime;       // [s] chronopotentiogram of the current step
    std::vector<double> transientPotential;  // [mV]
};

// The least-squares line over the linear range and the detection limit.
struct CalibrationFit {
    std::vector<int> linearPoints;         // point numbers of the linear range
    bool automatic = true;                 // the range was found, not given
    double slope = 0;                      // [mV/decade]; 0 without a line (no linearPoints)
    std::optional<double> slopeError;      // [mV/decade]
    double intercept = 0;                  // [mV] at 1 mol/L
    std::optional<double> detectionLimit;  // [mol/L]
    std::string note;                      // why a line or limit is missing
};

// The grid a run used and what the automatic refinement found.
struct GridLayer {
    int cells = 0;
    int debyeCells = 0;
    double firstStep = 0;  // [m]
};
struct GridReport {
    std::vector<std::vector<GridLayer>> grids;  // every grid run, coarse to fine
    std::vector<long long> unknowns;
    int used = 0;  // index of the grid the results come from
    bool converged = false;
    std::string note;
    // Per point: the final potential on every grid and the interval [mV] for the
    // grid-converged value (none when the estimate cannot give one).
    std::vector<std::vector<std::optional<double>>> potentials;
    std::vector<std::optional<std::pair<double, double>>> intervals;
    // Per point: why it did not converge, where the study can tell (empty otherwise).
    std::vector<std::string> reasons;
    // The integrator's tolerances the refinement and the run used (the input's, or tighter
    // where the input's left a time error near the target), and the time error [mV] of a
    // final potential measured on the first grid (none when not measured).
    double atol = 0, rtol = 0;
    std::optional<double> timeError;
};

struct Result {
    std::string status;  // of the worst point: "finished", "finished with warnings", ...
    int exitCode = 0;    // as the program's exit status
    std::string message;
    std::vector<std::string> warnings;  // "point K: reason"
    std::vector<PointResult> points;
    std::optional<CalibrationFit> calibration;
    std::optional<GridReport> grid;       // the automatic grid's refinement
    std::optional<GridReport> gridCheck;  // with Options::checkGrid
    std::string runFolder;                // when files were written
};

// Runs every calibration point of the problem. Throws Error for a problem that cannot
// be run (options included, refused as the program refuses them; with writeFiles, a name
// that is not a plain folder name); a point that fails is a result (its status says so),
// not an exception.
Result run(const Problem& problem, const Options& options = {});

}  // namespace tavoline
