// A whole run of the program for the benches: every calibration point of the input
// `inputName`.cci in the working folder, through the program's own calibration loop (its
// files written as the program writes them), standard output discarded, and the
// integration counters summed over every run.
#pragma once

#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "driver/calibration_loop.h"
#include "physics/point_order.h"

struct WholeRun {
    IntegratorStatistics total;  // counters summed over every integration
    int code = 0;                // of the last integration
    int runs = 0;      // integrations
    int nEq = 0;
    Bandwidths band;  // of the point order
    std::vector<double> potentials;  // final potential of every point [mV], none: NaN
};

inline void add_counters(WholeRun& result, const IntegrationSummary& run) {
    result.code = run.code;
    result.total += run.stats;
    ++result.runs;
}

// On the grid of a Debye-length first step unless `automatic`, which first refines the
// automatic grid until the results agree (the refinement's integrations are not counted).
// Each integration works with `threads` threads; `blocks` false holds the banded path's
// Newton matrices as a band instead of in blocks.
inline WholeRun run_whole(const std::string& inputName, SolverPath path, bool automatic = false,
                          int threads = default_integrator_threads(), bool blocks = true) {
    RunOptions options;
    options.path = path;
    options.threads = threads;
    options.blockMatrices = blocks;
    options.quiet = true;
    options.debyeGrid = !automatic;
    // Standard output goes to a string for the length of the run, even when it throws.
    struct Silence {
        std::ostringstream sink;
        std::streambuf* saved = std::cout.rdbuf(sink.rdbuf());
        ~Silence() { std::cout.rdbuf(saved); }
    } silence;
    model md;
    const RunSummary summary = run_calibration(md, inputName, options);
    WholeRun result;
    for (const PointSummary& point : summary.points) {
        add_counters(result, point.potentiometric);
        result.potentials.push_back(
            point.potentiometric.finalPotential.value_or(std::numeric_limits<double>::quiet_NaN()));
        if (point.currentStep) add_counters(result, *point.currentStep);
    }
    result.nEq = md.nEq;
    result.band = {summary.bandLower, summary.bandUpper};
    return result;
}
