// Calibration analysis for the chemist: per point the sample concentration and the final
// potential, the least-squares line over the linear range with the standard error of its
// slope, and the detection limit as a concentration, defined as the intersection of the
// extrapolated linear segment with the low-concentration asymptote. Pure computation: no
// output, no record.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

// One calibration point as the analysis takes it.
struct CalibrationSample {
    int point = 0;                    // 1-based point number
    double concentration = 0;         // [mol/m³] of the changed ion in the sample
    std::optional<double> potential;  // [mV] final potential
    std::optional<double> drift;      // [mV/s] over the last 10 % of the point
    bool ok = false;                  // the point ran to its end
};

// Points FROM..TO (1-based, inclusive) chosen by the user as the linear range.
struct PointRange {
    int from = 0;
    int to = 0;
};

struct CalibrationAnalysis {
    std::vector<CalibrationSample> points;  // as given
    // The points of the linear range (point numbers, ascending), empty when no line was
    // fitted; `automatic` when the range was found, not given.
    std::vector<int> linearPoints;
    bool automatic = true;
    double slope = 0;                      // [mV/decade] of E against log10(c / (mol/L))
    std::optional<double> slopeError;      // [mV/decade] standard error; none for 2 points
    double intercept = 0;                  // [mV] the line's E at c = 1 mol/L
    double maxResidual = 0;                // [mV] largest |E - line| over the range
    std::vector<int> lowPoints;            // the low-concentration asymptote's points
    std::optional<double> lowPotential;    // [mV] their mean potential
    std::optional<double> detectionLimit;  // [mol/L]
    std::string note;  // why there is no line or no detection limit, when there is none
};

// Largest residual [mV] a fit may leave for its points to count as one linear range: ten
// times the automatic grid's default accuracy, so that discretisation noise does not cut
// the range, and well below the 2.6 mV by which a monovalent ion's curve leaves the
// line a decade above its detection limit (59.16·log10(1.1)).
inline constexpr double kLinearTolerance = 1.0;

// Smallest slope [mV/decade] of a linear range found automatically, so that a flat run of
// points below the detection limit is not taken for one: a sixth of the Nernstian slope
// of a divalent ion.
inline constexpr double kMinimumResponse = 5.0;

// Analyses the calibration. Points that failed, have no potential or a concentration
// <= 0 take no part in a fit. The linear range is `range` when given, otherwise the
// longest run of at least 3 consecutive usable points (ordered by concentration) in which
// every point lies within kLinearTolerance of the least-squares line through the other
// points of the run, and whose slope is at least kMinimumResponse; among runs of equal
// length the one of the highest concentrations. (The residual of a fit through all points
// would let a point 2.4 mV off join a long run, its deviation spread over the others, and
// tilt the slope by half a mV; a curve that bends at both ends, by the detection limit
// below and the failing exclusion of the counter-ion above, keeps its middle.)
// With s2 = |slope|·log10(2), the potential change of a twofold concentration change on
// the line, the low-concentration asymptote is made of the usable points below the linear
// range, taken from the lowest concentration upward while their potential lies within
// s2/2 of the lowest point's (a point c + c_DL of a curve E = a + S·log10(c + c_DL) is
// within s2/2 of its plateau only below 0.41·c_DL, and the corner point at c_DL, s2 off
// both asymptotes, stays out); its potential is their mean. It exists only when the
// lowest point lies more than s2 off the extrapolated line, so that the curve has
// levelled off within the calibration. The detection limit is where the line reaches
// that potential.
CalibrationAnalysis analyse_calibration(const std::vector<CalibrationSample>& points,
                                        const std::optional<PointRange>& range);

// The drift of a point's potential [mV/s]: its change over the last tenth of the point's
// `duration` [s], from the potential at t_last - duration/10 (interpolated linearly between
// the samples around it; the first sample when the series starts later) to the last
// sample. `time` [s] ascending and `potential` [mV] are the series of the point's
// accepted steps. None with fewer than two samples.
std::optional<double> final_drift(std::span<const double> time, std::span<const double> potential,
                                  double duration);
