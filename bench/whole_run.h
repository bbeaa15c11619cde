// The calibration loop of the program for the benches: every point of the input
// `inputName`.cci in the working folder, with the point's files written as by the program,
// standard output discarded, and the integration counters summed over every run.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

#include "driver/calibration_loop.h"
#include "experiments/impedance.h"
#include "experiments/integration_run.h"
#include "model/input_file.h"
#include "output/profiles.h"
#include "physics/initial_state.h"
#include "physics/point_order.h"

struct WholeRun {
    RunOutcome total;  // counters summed over every integration; code of the last
    int runs = 0;      // integrations
    int nEq = 0;
    Bandwidths band;  // of the point order
};

inline void add_counters(RunOutcome& total, const RunOutcome& run) {
    total.code = run.code;
    total.steps += run.steps;
    total.accepted += run.accepted;
    total.rejected += run.rejected;
    total.rhsCalls += run.rhsCalls;
    total.jacobians += run.jacobians;
    total.decompositions += run.decompositions;
}

inline WholeRun run_whole(const std::string& inputName, SolverPath path) {
    model md;
    RunSeries series;
    md.inputName = inputName;
    WholeRun result;
    RunOptions options;
    options.path = path;
    options.quiet = true;
    std::ostringstream quiet;
    std::streambuf* saved = std::cout.rdbuf(quiet.rdbuf());
    read_input_file(md);
    set_up(md, series, path);
    for (md.point = 1; md.point <= md.nCalib; ++md.point) {
        set_initial_state(md);
        add_counters(result.total, run_integration(md, series, options));
        ++result.runs;
        write_profiles(md, series, "");
        collect_point_results(md, series);
        if (md.method > 0) {
            start_impedance_run(md, series);
            add_counters(result.total, run_integration(md, series, options));
            ++result.runs;
        }
        end_point(md, series);
        quiet.str("");
    }
    std::cout.rdbuf(saved);
    result.nEq = md.nEq;
    result.band = point_order_bandwidths(md);
    return result;
}
