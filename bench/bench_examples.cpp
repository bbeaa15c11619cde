// Integration statistics and cost of whole runs: for each input named on the command line
// (the name without .cci, read from the working folder), the run on the grid of a
// Debye-length first step and the run on the automatic grid (refined until its results
// agree; the grid expected to be the last is the run that writes the files, and any other
// last grid is run once more to write them): the number of unknowns of the grid run
// and, summed over the integrations of that last run, the steps, rejections, Jacobians,
// decompositions and right-hand-side calls (those of the Jacobians included), then the CPU
// time of the whole command and the ratio of the automatic grid's to the Debye grid's.
// `--dense` before the names selects the dense path, `--threads N` the threads of each
// integration (default: the program's); the wall time of the whole command follows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <string>

#include "whole_run.h"

namespace {

// CPU seconds of this process so far.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double print_run(const char* input, const char* grid, SolverPath path, bool automatic,
                 int threads) {
    const double start = cpu_seconds();
    const double wall = wall_seconds();
    const WholeRun run = run_whole(input, path, automatic, threads);
    const double seconds = cpu_seconds() - start;
    std::printf("%-12s %-9s %6d %7d %7d %9d %10d %9d %10lld %8.3f %8.3f", input, grid, run.nEq,
                run.runs, run.total.steps, run.total.rejected, run.total.jacobians,
                run.total.complex_decompositions, run.total.all_rhs_calls(), seconds,
                wall_seconds() - wall);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("%-12s %-9s %6s %7s %7s %9s %10s %9s %10s %8s %8s %6s\n", "input", "grid",
                "nEq", "runs", "steps", "rejected", "jacobians", "decomps", "rhs calls", "cpu [s]",
                "wall [s]", "ratio");
    SolverPath path = SolverPath::banded;
    int threads = default_integrator_threads();
    for (int a = 1; a < argc; ++a) {
        if (std::string(argv[a]) == "--threads" && a + 1 < argc) {
            threads = std::max(1, std::atoi(argv[++a]));
            continue;
        }
        if (std::string(argv[a]) == "--dense") {
            path = SolverPath::dense;
            continue;
        }
        const double debye = print_run(argv[a], "debye", path, false, threads);
        std::printf("\n");
        const double automatic = print_run(argv[a], "automatic", path, true, threads);
        std::printf(" %6.1f\n", automatic / debye);
    }
    return 0;
}
