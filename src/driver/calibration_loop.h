// The program's run: banner, input, set-up once, then the calibration points one after
// another.
#pragma once

#include <string>

#include "driver/point_sequence.h"
#include "driver/problem_setup.h"
#include "driver/problem_source.h"
#include "experiments/integration_run.h"
#include "model/model.h"
#include "output/run_summary.h"

void write_banner(MessageSink& sink);

// Runs the whole program on the input `inputName`.cci; returns the exit status. After every
// calibration point and at the end, summary.json and report.html in the run folder say
// how far the run got; a fault that stops the run is recorded there too, then rethrown.
int run_program(const std::string& inputName, const RunOptions& options);

// The same run on the record `md` (fresh), which it leaves as the run ended; returns what
// the run did, its exit status in exitCode.
RunSummary run_calibration(model& md, const std::string& inputName, const RunOptions& options);

// The run of the problem `source` on the record `md` (fresh): as the program's with
// options.writeFiles (without the banner and the check of the input's name), otherwise
// wholly in memory: no run folder, no lock, no file, the messages to options.sink only.
RunSummary run_calibration(model& md, const ProblemSource& source, const RunOptions& options);

// The run options the command line and the library share, checked in one place so that
// both refuse the same values with the same message (InputError): an accuracy that is not
// a positive finite number of mV, fewer than one thread, a linear range not of the form
// 1 <= FROM < TO. run_calibration checks them first.
void check_run_options(const RunOptions& options);

// The impedance spectra named `name` ("step", "linear" or "both"); InputError otherwise.
ImpedanceSpectra impedance_spectra_named(const std::string& name);
