// Integration statistics of whole runs: for each input named on the command line (the
// name without .cci, read from the working folder), the number of unknowns and, summed over
// every integration of the run, the steps, rejections, Jacobians, decompositions and
// right-hand-side calls (those of the Jacobians included), with the wall time of the
// run. `--dense` before the names selects the dense path.
#include <chrono>
#include <cstdio>
#include <string>

#include "whole_run.h"

int main(int argc, char** argv) {
    std::printf("%-12s %6s %7s %7s %9s %10s %9s %10s %9s\n", "input", "nEq", "runs", "steps",
                "rejected", "jacobians", "decomps", "rhs calls", "time [s]");
    SolverPath path = SolverPath::banded;
    for (int a = 1; a < argc; ++a) {
        if (std::string(argv[a]) == "--dense") {
            path = SolverPath::dense;
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        const WholeRun run = run_whole(argv[a], path);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-12s %6d %7d %7d %9d %10d %9d %10lld %9.3f\n", argv[a], run.nEq, run.runs,
                    run.total.steps, run.total.rejected, run.total.jacobians,
                    run.total.complex_decompositions, run.total.all_rhs_calls(), seconds);
    }
    return 0;
}
