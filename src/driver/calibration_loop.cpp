#include "driver/calibration_loop.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "experiments/calibration.h"
#include "experiments/impedance.h"
#include "experiments/integration_run.h"
#include "experiments/time_course.h"
#include "model/errors.h"
#include "model/input_file.h"
#include "model/run_folders.h"
#include "model/text_scanner.h"
#include "output/profiles.h"
#include "output/report.h"
#include "physics/grid.h"
#include "physics/initial_state.h"
#include "physics/point_order.h"
#include "physics/scaling.h"

void write_banner() {
    std::cout << "******************************************************\n"
                 "*         Tavoline           *\n"
                 "*              version 2.0 (22.12.2014)              *\n"
                 "******************************************************\n";
}

namespace {

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
void check_problem_size(model& md, long long unknowns, SolverPath path) {
    if (path == SolverPath::dense) {
        // The integrator holds four dense matrices of order nEq; beyond this size they would
        // not fit in memory (and a run would take days), so say so instead of failing later.
        if (unknowns <= kMaxUnknowns) return;
        const double gigabytes =
            4.0 * 8.0 * static_cast<double>(unknowns) * static_cast<double>(unknowns) / 1e9;
        throw InputError(md.fileName + ": the grid gives " + std::to_string(unknowns) +
                         " unknowns; the integrator's dense matrices would need " +
                         number_text(gigabytes) + " GB. Reduce `N` or the number of components " +
                         "(at most " + std::to_string(kMaxUnknowns) + " unknowns).");
    }
    const Bandwidths band = point_order_bandwidths(md);
    const double needed = integration_bytes(unknowns, path, band.lower, band.upper);
    const double available = physical_memory_bytes();
    const bool indexable = unknowns <= kMaxBandedUnknowns;
    if (indexable && (available == 0.0 || needed <= available)) return;
    std::string message = md.fileName + ": the grid gives " + std::to_string(unknowns) +
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

void set_up(model& md, RunSeries& series, SolverPath path) {
    md.layerStart.init(&md.layer, md.n);
    md.F_RT = md.F / (md.Rgas * md.T);
    long long unknowns = 0;
    for (md.layer = 1; md.layer <= md.n; ++md.layer) {
        md.layerStart.set(static_cast<int>(std::min<long long>(unknowns, kMaxBandedUnknowns)));
        unknowns += (static_cast<long long>(md.N.get()) + 2) * (md.R + 1) - 1;
    }
    check_problem_size(md, unknowns, path);
    md.nEq = static_cast<int>(unknowns);
    md.y.assign(md.nEq, 0.0);
    series.totalPoints = 0;
    md.totalThickness = 0;
    for (md.layer = 1; md.layer <= md.n; ++md.layer) {
        series.totalPoints += md.N.get();
        md.totalThickness += md.d.get();
    }
    series.calMult.clear();
    series.calTcalc.clear();
    series.calPot.clear();
    series.calLogMult.clear();
    md.outFile.precision(15);
    make_run_folders(md, ".");
    scale_model(md);
    build_grid(md);
    write_grid_file(md);
    write_input_copy(md);
    write_run_report(md);
}

bool collect_point_results(model& md, RunSeries& series) {
    if (md.nCalib < 2) return true;
    if (series.potSeries.size() == 0) return false;
    series.calMult.append(md.multipliers[md.point]);
    series.calPot.append(series.potSeries[series.potSeries.size() - 1]);
    series.calTcalc.append(md.t_calc);
    series.calLogMult.append(std::log10(md.multipliers[md.point]));
    const double shift = (md.point - 1) * md.tEnd * md.tc;
    for (int i = 0; i < series.potSeries.size(); ++i) {
        series.allPot.append(series.potSeries[i]);
        series.allTime.append(series.timeSeries[i] + shift);
    }
    return true;
}

namespace {

// Concentrations of a target region: the left solution, a layer, or the right solution.
double* region_concentration(model& md, int target, int c) {
    if (target == 0) return &md.cL[c];
    if (target == md.n + 1) return &md.cR[c];
    md.layer = target;
    return &md.cM.item(c);
}

}  // namespace

void end_point(model& md, RunSeries& series) {
    const double mult = md.multipliers[md.point];
    for (int k = 0; k < md.nTargets; ++k) {
        const int t = md.targets[k];
        if (t < 0 || t > md.n + 1) continue;
        *region_concentration(md, t, md.changedIon) /= mult;
    }
    const int o = md.oppositeIon;
    for (int k = 0; k < md.nTargets; ++k) {
        const int t = md.targets[k];
        if (t < 0 || t > md.n + 1) continue;
        double sum = 0;
        for (int j = 1; j <= md.R; ++j)
            if (j != o) sum += md.z[j] * *region_concentration(md, t, j);
        *region_concentration(md, t, o) = -sum / md.z[o];
    }
    if (md.method != 0) {
        md.Zprim.clear();
        md.Zbis.clear();
    }
    series.potSeries.clear();
    series.timeSeries.clear();
    series.tcalcSeries.clear();
    md.eisRun = 0;
}

namespace {

// Integrates once and, when the integrator gave up, says so; the point's files are still
// written from the state reached.
bool integrate_point(model& md, RunSeries& series, const char* which, SolverPath path) {
    const RunOutcome run = run_integration(md, series, path);
    if (run.succeeded()) return true;
    std::cout << "\nCalibration point " << md.point << " (multiplier " << md.multipliers[md.point]
              << "): the " << which << " integration failed: " << describe_failure(run.code)
              << " (code " << run.code << "). Its files describe the state reached.\n";
    return false;
}

}  // namespace

int run_program(const std::string& inputName, SolverPath path) {
    model md;
    RunSeries series;
    md.inputName = inputName;
    write_banner();
    read_input_file(md);
    set_up(md, series, path);

    int failedPoints = 0;
    for (md.point = 1; md.point <= md.nCalib; ++md.point) {
        set_initial_state(md);
        bool ok = integrate_point(md, series, "potentiometric", path);
        write_profiles(md, series, "");
        write_time_course(md, series, "");
        if (!collect_point_results(md, series)) {
            std::cout << "\nCalibration point " << md.point
                      << ": no integration step was completed, so the point adds nothing to "
                         "the calibration curve.\n";
            ok = false;
        }
        write_calibration_curve(md, series);
        if (md.method > 0) {
            start_impedance_run(md, series);
            ok = integrate_point(md, series, "current-step", path) && ok;
            write_profiles(md, series, "spectrum//");
            write_time_course(md, series, "spectrum//");
            compute_spectrum(md, series);
            write_spectrum(md);
        }
        end_point(md, series);
        if (!ok) ++failedPoints;
    }
    if (failedPoints > 0) {
        std::cout << "\nThe integration failed at " << failedPoints << " of " << md.nCalib
                  << " calibration points; see the messages above.\n";
        return 2;
    }
    return 0;
}
