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

// How far up the frequency grid the step spectrum is resolved by its samples. Between two
// samples t_j < t_(j+1) (h = t_(j+1) - t_j) the spectrum takes the transient as its chord,
// which lies off a transient of curvature V'' by (V''/2) (t - t_j) (t_(j+1) - t); that
// shifts the spectrum's j d Z by i w int (chord - V) e^(-i w t) dt, per segment
//   i w (V''/2) h^3 e^(-i w t_j) int_0^1 s (1 - s) e^(-i w h s) ds,
// about w V'' h^3 / 12 while w h < 1 and saturating beyond. Summed over the segments, with
// each segment's V'' from the second divided differences of the samples around it, this
// is the leading term of the spectrum's error, and its size relative to |j d Z| is what
// the samples can say of their own resolution (on R || C transients it is within 20 %
// of the actual error up to where that reaches 2 %). Returns the last frequency of the
// grid (kOmegaFirst, times kOmegaRatio) from omegaLow [rad/s] up below which that share
// stays within `share`; 0 when it exceeds it at the first. t [s] and V [mV] as in
// series.timeSeries and series.potSeries; equal times are a jump, exact for the method.
double resolved_omega(const VecDoub& t, const VecDoub& V, double omegaLow, double share);

// Writes folders[point] + "/spectrum.dat" (precision 15 through files.outFile) and, when
// genPS is 1, folders[point] + "/spectrum.ps" (Z'' against Z', frequency order).
void write_spectrum(model& md, RunFiles& files);
