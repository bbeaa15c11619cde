#include "driver/problem_setup.h"

#include <unistd.h>

#include <algorithm>
#include <string>

#include "base/number_text.h"
#include "model/errors.h"
#include "model/input_file.h"
#include "model/run_folders.h"
#include "model/state_file.h"
#include "output/input_copy.h"
#include "output/profiles.h"
#include "output/report.h"
#include "physics/grid.h"
#include "physics/point_order.h"
#include "physics/scaling.h"

namespace {

// "FILE, line L" of a value group of the input, or the file alone when it has no line.
std::string at_line(const model& md, const std::string& group) {
    const auto it = md.inputLines.find(group);
    return it == md.inputLines.end() ? md.fileName
                                     : md.fileName + ", line " + std::to_string(it->second);
}

// Runs a set-up step whose faults concern a value group of the input; a fault gets the
// file and the line of its group (of `fallback` when it names none).
template <class Step>
void at_input_line(const model& md, const std::string& fallback, Step step) {
    try {
        step();
    } catch (const InputError& e) {
        throw InputError(at_line(md, e.group.empty() ? fallback : e.group) + ": " + e.what());
    }
}

// Physical memory of this machine in bytes, 0 when it cannot be read.
double physical_memory_bytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? static_cast<double>(pages) * static_cast<double>(pageSize)
                                     : 0.0;
}

// Refuses a grid whose integration cannot fit in memory, before anything is written. The
// dense path keeps its fixed limit; the banded path needs memory in proportion to nEq
// times the bandwidth and is refused only when that exceeds this machine's memory (or the
// range of the state's indices).
void check_problem_size(const model& md, long long unknowns, SolverPath path) {
    if (path == SolverPath::dense) {
        // The integrator holds four dense matrices of order nEq; beyond this size they would
        // not fit in memory (and a run would take days), so say so instead of failing later.
        if (unknowns <= kMaxUnknowns) return;
        const double gigabytes =
            4.0 * 8.0 * static_cast<double>(unknowns) * static_cast<double>(unknowns) / 1e9;
        throw InputError(at_line(md, "N") + ": the grid gives " + std::to_string(unknowns) +
                         " unknowns; the integrator's dense matrices would need " +
                         number_text(gigabytes) + " GB. Reduce `N` or the number of components " +
                         "(at most " + std::to_string(kMaxUnknowns) + " unknowns).");
    }
    const Bandwidths band = point_order_bandwidths(md);
    const double needed = integration_bytes(unknowns, path, band.lower, band.upper);
    const double available = physical_memory_bytes();
    const bool indexable = unknowns <= kMaxBandedUnknowns;
    if (indexable && (available == 0.0 || needed <= available)) return;
    std::string message = at_line(md, "N") + ": the grid gives " + std::to_string(unknowns) +
                          " unknowns with a Jacobian band of " + std::to_string(band.lower) +
                          " below and " + std::to_string(band.upper) +
                          " above the diagonal; the integrator's band matrices would need " +
                          number_text(needed / 1e9) + " GB";
    message += indexable ? ", more than the " + number_text(available / 1e9) +
                               " GB of memory of this machine."
                         : " (at most " + std::to_string(kMaxBandedUnknowns) + " unknowns).";
    throw InputError(message + " Reduce `N` or the number of components.");
}

}  // namespace

void prepare_problem(model& md, RunSeries& series, SolverPath path, const GridPlan* plan) {
    if (plan != nullptr) {
        // The copies of the input keep its own N and m.
        md.inputN.clear();
        md.inputM.clear();
        for (int l = 1; l <= md.n; ++l) {
            md.inputN.push_back(md.N.at(l));
            md.inputM.push_back(md.m.at(l));
        }
        apply_cell_counts(md, *plan);
    }
    md.layerStart.init(&md.layer, md.n);
    md.F_RT = md.F / (md.Rgas * md.T);
    long long unknowns = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layerStart.at(l) = static_cast<int>(std::min<long long>(unknowns, kMaxBandedUnknowns));
        unknowns += (static_cast<long long>(md.N.at(l)) + 2) * (md.R + 1) - 1;
    }
    check_problem_size(md, unknowns, path);
    md.nEq = static_cast<int>(unknowns);
    md.y.assign(md.nEq, 0.0);
    series.totalPoints = 0;
    md.totalThickness = 0;
    for (int l = 1; l <= md.n; ++l) {
        series.totalPoints += md.N.at(l);
        md.totalThickness += md.d.at(l);
    }
    series.calMult.clear();
    series.calTcalc.clear();
    series.calPot.clear();
    series.calLogMult.clear();

    at_input_line(md, "scales", [&] { scale_model(md); });
    if (plan != nullptr) apply_first_steps(md, *plan);
    at_input_line(md, "N", [&] { build_grid(md); });
}

void set_up(model& md, RunFiles& files, RunSeries& series, SolverPath path, const GridPlan* plan) {
    // Everything the input and y.vec decide is checked before the first file is written.
    prepare_problem(md, series, path, plan);
    if (md.loadYvec == 1) read_state_file(md, *files.messages);

    keep_earlier_run(md, *files.messages);
    make_run_folders(md, ".", *files.messages);
    write_grid_file(md, files);
    write_input_copy(md, files);
    write_run_report(md, files);
}
