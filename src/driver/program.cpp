#include "driver/program.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <sstream>
#include <string>

#include "driver/calibration_loop.h"
#include "driver/stop_signal.h"
#include "model/errors.h"
#include "model/version.h"
#include "numeric/integrator.h"
#include "sweep/sweep.h"

namespace {

struct CommandLine {
    std::string inputName = "b";
    SolverPath path = SolverPath::banded;
    bool quiet = false;
    bool checkGrid = false;
    bool debyeGrid = false;
    bool strict = false;
    double accuracy = 0.1;
    std::optional<PointRange> linearRange;
    int threads = default_integrator_threads();
    std::string impedance = "both";
};

// "FROM:TO", two whole numbers; none when the text is not of that form (whether they make a
// range is checked with the other run options, as for the library's).
std::optional<PointRange> point_range(const std::string& text) {
    PointRange r;
    char colon = 0;
    std::istringstream in(text);
    if (!(in >> r.from >> colon >> r.to) || colon != ':' || in.peek() != EOF) return std::nullopt;
    return r;
}

// Reads the command line into `line`. Returns -1 to go on, or the exit status when the
// line asked for help (0) or could not be read (1, with the reason and the usage).
int read_command_line(int argc, char** argv, CommandLine& line) {
    CLI::App app("Tavoline: ion transport through a stack of membrane layers.", "tavoline");
    app.add_option("NAME", line.inputName,
                   "input file NAME.cci in the working folder (NAME.cci names it too); results "
                   "go to NAME/")
        ->capture_default_str();
    bool dense = false;
    app.set_version_flag(
        "--version", std::string(kProgramName) + " " + kProgramVersion + " (" + kProgramDate + ")");
    app.add_flag("-q,--quiet", line.quiet,
                 "no \"Step\" line per integration step; messages and the final lines stay");
    app.add_flag("--dense", dense,
                 "integrate with the full Jacobian and dense decompositions, in the record's "
                 "order of unknowns (at most 20000 unknowns); default: band decompositions in "
                 "point order");
    app.add_flag("--check-grid", line.checkGrid,
                 "after the run, repeat every calibration point on two grids, every cell about "
                 "half as wide each time, and report the observed order and an interval for the "
                 "grid-converged results; writes no further file");
    app.add_flag("--debye-grid", line.debyeGrid,
                 "an automatic first grid step is one Debye length of the mean ionic strength, "
                 "with the input's N and m (the grid of earlier versions); default: the grid is "
                 "refined until the results agree within --accuracy");
    app.add_flag("--strict", line.strict,
                 "a run whose points finished with warnings (not steady, negative "
                 "concentrations, outside physical bounds, grid not converged) ends with "
                 "status 4 instead of 0");
    app.add_option("--accuracy", line.accuracy,
                   "target of the automatic grid for every final potential [mV]")
        ->capture_default_str();
    app.add_option("--threads", line.threads,
                   "threads of each integration: with 2, a large problem's real and complex "
                   "Newton systems are decomposed and solved at the same time, and its Jacobian "
                   "is formed half on each, more act as 2; the results are the same with any "
                   "number; default: 2 on a machine with two cores or more, else 1")
        ->type_name("N")
        ->check([](const std::string& text) {
            const bool whole =
                !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
            return whole ? std::string() : "expected a whole number of at least 1";
        })
        ->capture_default_str();
    app.add_option("--impedance", line.impedance,
                   "spectra of an impedance run: step (from the potential transient of a current "
                   "step, spectrum.dat), linear (small-signal, from the system linearised at "
                   "each point's end state, linear_spectrum.csv; no current step is run, so each "
                   "point starts from the end state of the potentiometric run before), or both")
        ->capture_default_str();
    std::string linearRange;
    app.add_option("--linear-range", linearRange,
                   "calibration points FROM:TO that make the linear range of the calibration "
                   "analysis; default: found automatically")
        ->type_name("FROM:TO")
        ->check([](const std::string& text) {
            return point_range(text) ? std::string() : "expected FROM:TO, 1 <= FROM < TO";
        });
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        std::cout << "tavoline: " << e.what() << "\n" << app.help();
        return 1;
    }
    line.path = dense ? SolverPath::dense : SolverPath::banded;
    if (!linearRange.empty()) line.linearRange = point_range(linearRange);
    // The input may be named with its file name: `tavoline dir/b.cci` runs dir/b. A name
    // that is only the extension (".cci", "dir/.cci") is left as it is.
    const std::string extension = ".cci";
    const std::string& name = line.inputName;
    if (name.ends_with(extension) && name.size() > extension.size() &&
        name[name.size() - extension.size() - 1] != '/')
        line.inputName.resize(name.size() - extension.size());
    return -1;
}

}  // namespace

int run_main(int argc, char** argv) {
    // A file or a pipe (a batch job's log, `| tee`) gets every line when it is written, as a
    // terminal does, not a block at a time; the bytes are the same.
    if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    ignore_file_size_signal();
    // `tavoline sweep ...` works on a sweep file; every other command line runs one input.
    if (argc > 1 && std::string(argv[1]) == "sweep") return run_sweep_main(argc - 1, argv + 1);
    CommandLine line;
    if (const int status = read_command_line(argc, argv, line); status >= 0) return status;
    RunOptions options;
    options.path = line.path;
    options.quiet = line.quiet;
    options.checkGrid = line.checkGrid;
    options.debyeGrid = line.debyeGrid;
    options.blockMatrices = !line.debyeGrid;  // the earlier versions' arithmetic with their grid
    options.accuracy = line.accuracy;
    options.strict = line.strict;
    options.linearRange = line.linearRange;
    options.threads = line.threads;
    // SIGINT and SIGTERM end the run between integration steps (driver/stop_signal.h).
    options.stopSignal = catch_stop_signals();
    // A progress line on standard error when that is a terminal, unless the "Step" lines
    // already go to the same terminal.
    std::optional<ProgressLine> progress;
    if (isatty(STDERR_FILENO) && (line.quiet || !isatty(STDOUT_FILENO))) {
        progress.emplace(std::cerr);
        options.progress = &*progress;
    }
    try {
        // refused with the library's words, before anything is written or printed
        options.impedance = impedance_spectra_named(line.impedance);
        check_run_options(options);
        return run_program(line.inputName, options);
    } catch (const Fault& fault) {
        // Some faults are printed where they happen, in the program's own words; every
        // message appears once.
        if (!fault.printed()) std::cout << fault.what() << "\n";
        return 1;
    } catch (const std::bad_alloc&) {
        std::cout << "Not enough memory for this problem.\n";
        return 1;
    } catch (const std::exception& e) {
        std::cout << e.what() << "\n";
        return 1;
    } catch (...) {
        std::cout << "The run stopped on an unknown error.\n";
        return 1;
    }
}
