// Integration statistics of whole runs: for each input named on the command line (the
// name without .cci, read from the working folder), the number of unknowns and, summed over
// every integration of the run, the steps, rejections, Jacobians, decompositions and
// right-hand-side calls, with the wall time of the integrations. The run's files are
// written as by the program itself; its standard output is discarded.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "driver/calibration_loop.h"
#include "experiments/impedance.h"
#include "experiments/integration_run.h"
#include "model/input_file.h"
#include "physics/initial_state.h"

namespace {

void add(RunOutcome& total, const RunOutcome& run) {
    total.steps += run.steps;
    total.accepted += run.accepted;
    total.rejected += run.rejected;
    total.rhsCalls += run.rhsCalls;
    total.jacobians += run.jacobians;
    total.decompositions += run.decompositions;
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("%-12s %6s %7s %7s %9s %10s %9s %10s %9s\n", "input", "nEq", "runs", "steps",
                "rejected", "jacobians", "decomps", "rhs calls", "time [s]");
    SolverPath path = SolverPath::banded;
    for (int a = 1; a < argc; ++a) {
        if (std::string(argv[a]) == "--dense") {
            path = SolverPath::dense;
            continue;
        }
        model md;
        RunSeries series;
        md.inputName = argv[a];
        RunOutcome total;
        int runs = 0;
        std::ostringstream quiet;
        std::streambuf* saved = std::cout.rdbuf(quiet.rdbuf());
        const auto start = std::chrono::steady_clock::now();
        read_input_file(md);
        set_up(md, series, path);
        for (md.point = 1; md.point <= md.nCalib; ++md.point) {
            set_initial_state(md);
            add(total, run_integration(md, series, path));
            ++runs;
            collect_point_results(md, series);
            if (md.method > 0) {
                start_impedance_run(md, series);
                add(total, run_integration(md, series, path));
                ++runs;
            }
            end_point(md, series);
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout.rdbuf(saved);
        std::printf("%-12s %6d %7d %7d %9d %10d %9d %10lld %9.3f\n", argv[a], md.nEq, runs,
                    total.steps, total.rejected, total.jacobians, total.decompositions,
                    total.rhsCalls, seconds);
    }
    return 0;
}
