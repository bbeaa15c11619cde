// Impedance spectrum from the potential transient of a galvanostatic step: after the
// potentiometric run of a point a second run with the current switched on records the
// transient, which is integrated piecewise linearly against sine and cosine.
#pragma once

#include "base/message_sink.h"
#include "model/model.h"
#include "output/run_files.h"

// First and ratio of the angular-frequency grid [rad/s]: w_0 = 1e-4, w_(k+1) = 1.01 w_k,
// for as long as w < 1e8 (2777 frequencies).
constexpr double kOmegaFirst = 1e-4;
constexpr double kOmegaRatio = 1.01;
constexpr double kOmegaLimit = 1e8;

// Number of angular frequencies of the grid above.
int count_omegas();

// Prepares the second run of a point: tBegin = 0, eisRun = 1; the potential series
// restarts with the membrane potential in mV left in md.mpot by the profile writer, the
// time series with 0, the calculation-time series empty. The state vector is kept.
void start_impedance_run(model& md, RunSeries& series);

// Fills nOmega, Zprim and Zbis [ohm m^2 / m] from series.potSeries [mV] and
// series.timeSeries [s]. Two samples at equal times are taken as a jump of the potential
// (the limit of a segment whose duration tends to zero) and reported on standard output;
// an empty series or a zero current density times thickness gives a zero spectrum, also
// reported (to `sink`).
void compute_spectrum(model& md, const RunSeries& series, MessageSink& sink = standard_output());

// Writes folders[point] + "/spectrum.dat" (precision 15 through files.outFile) and, when
// genPS is 1, folders[point] + "/spectrum.ps" (Z'' against Z', frequency order).
void write_spectrum(model& md, RunFiles& files);
