#include "driver/late_stop.h"

#include "driver/stop_signal.h"

bool interrupted_after_points(const RunOptions& options, int pointsPlanned,
                              const std::string& phase, RunSummary& run) {
    if (!options.stop_requested() || run.status == "interrupted") return false;
    const int signal = *options.stopSignal;
    const std::string name = signal_name(signal);
    int complete = 0;
    for (const PointSummary& p : run.points)
        if (!p.interrupted()) ++complete;
    run.status = "interrupted";
    run.exitCode = 128 + signal;
    run.message = name + " " + phase + "; " + std::to_string(complete) + " of " +
                  std::to_string(pointsPlanned) + " calibration points complete";
    tell(*options.sink, "\nThe run was interrupted by ", name, " ", phase, ", after ", complete,
         " of ", pointsPlanned, " calibration points.\n");
    return true;
}
