// Impedance from the linearised system: at the end state y* of a point's potentiometric
// run (the operating point), with the Jacobian J of the transport system and the column b
// of the applied current, the state's response to a current density e^(i omega t) is
// x(omega) = (i omega I - J)^-1 b, and the impedance is minus the membrane potential's
// response: Z = -dE/di [ohm m²]. Exact for small signals at every frequency, with no time
// integration; one complex solve per frequency (numeric/shifted_solver.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "experiments/integration_run.h"
#include "model/model.h"
#include "output/run_files.h"

// Where the step method's spectrum can be trusted (see compare_spectra) [rad/s]: from
// kStepBandLow / tEnd up to the frequency where the transient's samples stop resolving it,
// and at most kStepBandHigh / (first time step of the transient). Below, the transient has
// not shown enough of the slow response (its tail is cut off at tEnd). Above, the
// piecewise-linear transient misses the fast response: the chords between the
// integrator's samples shift the spectrum by their own estimate (resolved_omega in
// experiments/impedance.h) by more than kStepChordShare of |Z|, and within the first step
// the samples show nothing of the transient's shape, so that estimate cannot reach there.
// The chords' share grows as (w h)^2 with the steps h the integrator takes while the
// potential still bends, tenths of a fast arc's time constant (0.15 to 0.4 at rtol 1e-6),
// not with the first step: on a bulk R || C layer at rtol 1e-6 the first step alone put
// the limit 4 to 50 times above where the step spectrum is 1 % off, and it was 30 % off
// inside. 1 %, a fifth of kSpectraAgreement, leaves the rest of it to what the chords do
// not explain.
constexpr double kStepBandLow = 10;
constexpr double kStepBandHigh = 1;
constexpr double kStepChordShare = 0.01;
// Inside that band the two spectra of a point agree within a few per cent (the bundled
// impedance example: 2.4 %; a blocked-anion layer: 0.3 %); a larger difference means the
// step spectrum is not to be trusted there (too large a current, an unsettled transient,
// a transient cut off before its slow response settled) and is reported as a warning.
constexpr double kSpectraAgreement = 0.05;

struct LinearSpectrum {
    std::vector<double> omega;         // [rad/s], the step method's grid
    std::vector<double> zReal, zImag;  // [ohm m²], Z = Z' + i Z''
    // [mV/s] at the operating point: the drift of a backward Euler step of one tEnd on the
    // linearised system, divided by tEnd (the slow drift, without the fast modes' noise)
    double potentialRate = 0;
    bool steady = false;               // |potentialRate| tEnd within the accuracy target
    long long unknowns = 0;
    int fallbacks = 0;                 // frequencies solved again by the band LU
    double cpuSeconds = 0;
    std::string failure;               // why the spectrum is incomplete, when it is
};

// The linear spectrum at the state in md.y, on the solver path's matrix (banded: point
// order, dense: the record's order). `accuracy` [mV] decides whether the operating point
// counts as steady. The record is left as it was found. With `blocks` false the banded
// path factors the whole band at every frequency (for comparison).
LinearSpectrum linear_spectrum(model& md, SolverPath path, double accuracy, bool blocks = true);

// How the step spectrum (Z' and -Z'' per total thickness [ohm m² / m], as in spectrum.dat)
// agrees with the linear one inside the band where the step method is valid.
struct SpectrumAgreement {
    double bandLow = 0, bandHigh = 0;  // [rad/s]
    int frequencies = 0;               // of the grid inside the band
    double largestDifference = 0;      // max |Z_step - Z_linear| / |Z_linear| there
    double atOmega = 0;                // [rad/s] where it is largest
};

// None when the band holds no frequency of the grid. time [s] and potential [mV] are the
// step run's transient as the spectrum was computed from it (series.timeSeries and
// series.potSeries), tEnd [s] its duration, thickness [m] the total thickness.
std::optional<SpectrumAgreement> compare_spectra(const LinearSpectrum& linear,
                                                 const std::vector<double>& zPrim,
                                                 const std::vector<double>& zBis, double thickness,
                                                 const VecDoub& time, const VecDoub& potential,
                                                 double tEnd);

// Writes `path` (through files, whole or not at all): a header with units, then per
// frequency omega [rad/s], f [Hz], Z' and Z'' [ohm m2], comma-separated, exact numbers.
void write_linear_spectrum(RunFiles& files, const std::string& path, const LinearSpectrum& s);

// The warnings a linear spectrum gives its point: an operating point that is not steady, a
// spectrum cut short, and disagreement with the step spectrum inside the band.
std::vector<std::string> linear_spectrum_warnings(const LinearSpectrum& s,
                                                  const std::optional<SpectrumAgreement>& a);
