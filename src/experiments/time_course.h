// Time course of one integration run: the table et.dat and the three-panel plot
// mempot.ps in the folder of the current calibration point.
#pragma once

#include <string>

#include "model/model.h"
#include "output/run_files.h"

// Writes folders[point] + "/" + prefix + "et.dat" from the run's samples (timeSeries,
// potSeries, tcalcSeries), then, when genPS is 1, mempot.ps beside it: membrane potential
// against log time and against time, and log calculation time against log time. `prefix`
// is "" after the potentiometric run and "spectrum//" after the impedance run. Times in
// the first column are shifted by t0; the logarithms and the plots are not. A missing
// calculation time (the impedance run records one sample fewer of it) is written as 0.
// The series are left unchanged. A file that cannot be written is reported and recorded
// in files.unwrittenFiles (output/output_file.h); the rest is still written.
void write_time_course(model& md, RunFiles& files, const RunSeries& series,
                       const std::string& prefix);
