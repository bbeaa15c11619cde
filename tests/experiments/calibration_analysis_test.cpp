// The calibration analysis on exact synthetic calibrations, c the sample concentration in
// mol/L (the analysis takes mol/m³, 1000 times as much) and x = log10(c):
//  - a Nernstian line E = E0 + S·x: slope S to rounding, standard error 0, E0 at 1 mol/L;
//  - the line with a constant floor, E = max(E0 + S·x, Ef): its corner, the intersection
//    of the two asymptotes, lies at x* = (Ef - E0)/S by construction; a bend at the top
//    or a longer floor leaves the line's points as the linear range;
//  - the curve E = E0 + S·log10(c + cDL), whose asymptotes meet at cDL exactly; its points
//    near cDL lie off both asymptotes, so the estimate is close but not exact;
// and the drift of a potential series against hand-computed differences.
#include "experiments/calibration_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kS = 59.16;  // mV/decade
constexpr double kE0 = 350;   // mV at 1 mol/L

// One finished point per log10 concentration [mol/L], ascending point numbers.
std::vector<CalibrationSample> samples(const std::vector<double>& logc, double (*E)(double)) {
    std::vector<CalibrationSample> out;
    for (std::size_t i = 0; i < logc.size(); ++i)
        out.push_back({static_cast<int>(i) + 1, 1000 * std::pow(10.0, logc[i]), E(logc[i]),
                       std::nullopt, true});
    return out;
}

double nernstian(double x) { return kE0 + kS * x; }
double with_floor(double x) { return std::max(kE0 + kS * x, kE0 + kS * -5.5); }
double nikolsky(double x) { return kE0 + kS * std::log10(std::pow(10.0, x) + 1e-6); }

const std::vector<double> kDecades = {-8, -7, -6, -5, -4, -3, -2, -1};

TEST(CalibrationAnalysis, NernstianLineGivesItsSlopeAndNoDetectionLimit) {
    const auto a = analyse_calibration(samples({-6, -5, -4, -3, -2, -1}, nernstian), std::nullopt);
    ASSERT_EQ(a.linearPoints, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    // sums of a few terms of size 1e3: rounding of order 1e-13 relative
    EXPECT_NEAR(a.slope, kS, 1e-9);
    EXPECT_NEAR(a.intercept, kE0, 1e-9);
    ASSERT_TRUE(a.slopeError);
    EXPECT_LT(*a.slopeError, 1e-9);
    EXPECT_FALSE(a.detectionLimit);
    EXPECT_FALSE(a.note.empty());
}

TEST(CalibrationAnalysis, FloorMeetsTheLineAtTheCorner) {
    const auto a = analyse_calibration(samples(kDecades, with_floor), std::nullopt);
    EXPECT_EQ(a.linearPoints, (std::vector<int>{4, 5, 6, 7, 8}));
    EXPECT_EQ(a.lowPoints, (std::vector<int>{1, 2, 3}));
    EXPECT_NEAR(a.slope, kS, 1e-9);
    ASSERT_TRUE(a.detectionLimit);
    EXPECT_NEAR(std::log10(*a.detectionLimit), -5.5, 1e-10);
}

TEST(CalibrationAnalysis, NikolskyCurveGivesItsDetectionLimit) {
    const auto a =
        analyse_calibration(samples({-9, -8, -7, -6, -5, -4, -3, -2, -1}, nikolsky), std::nullopt);
    // 1e-5 M lies 2.4 mV above the line, 1e-4 M 0.26 mV: the fit keeps the latter only
    EXPECT_EQ(a.linearPoints, (std::vector<int>{6, 7, 8, 9}));
    EXPECT_NEAR(a.slope, kS, 0.2);  // the 0.26 mV of 1e-4 M tilt the line by ~0.1
    // 1e-9..1e-7 M lie 0.03, 0.26 and 2.4 mV above the floor, 1e-6 M (the corner) 17.8
    EXPECT_EQ(a.lowPoints, (std::vector<int>{1, 2, 3}));
    ASSERT_TRUE(a.detectionLimit);
    // their mean raises the floor by 0.9 mV, 3.6 % in concentration: 5 % margin
    EXPECT_NEAR(*a.detectionLimit, 1e-6, 5e-8);
}

TEST(CalibrationAnalysis, ChosenRangeAndFailedPoints) {
    auto points = samples(kDecades, with_floor);
    points[6].ok = false;  // 1e-2 M failed
    points[6].potential = 0;
    const auto a = analyse_calibration(points, PointRange{5, 8});
    EXPECT_FALSE(a.automatic);
    EXPECT_EQ(a.linearPoints, (std::vector<int>{5, 6, 8}));
    EXPECT_NEAR(a.slope, kS, 1e-9);
    ASSERT_TRUE(a.detectionLimit);
    EXPECT_NEAR(std::log10(*a.detectionLimit), -5.5, 1e-10);
    // automatically, the failed point takes no part either
    EXPECT_EQ(analyse_calibration(points, std::nullopt).linearPoints,
              (std::vector<int>{4, 5, 6, 8}));

    // two points give a line without a standard error; one gives none
    const auto two = analyse_calibration(points, PointRange{7, 8});
    EXPECT_TRUE(two.linearPoints.empty());
    const auto pair = analyse_calibration(points, PointRange{5, 6});
    EXPECT_NEAR(pair.slope, kS, 1e-9);
    EXPECT_FALSE(pair.slopeError);
}

TEST(CalibrationAnalysis, BendsAtEitherEndAreLeftOut) {
    // the highest point 20 mV short of the line, as when the counter-ion enters
    auto top = samples({-6, -5, -4, -3, -2, -1}, nernstian);
    *top[5].potential -= 20;
    const auto a = analyse_calibration(top, std::nullopt);
    EXPECT_EQ(a.linearPoints, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_NEAR(a.slope, kS, 1e-9);
    // five points on the floor, three on the line: the flat run is no linear range
    const auto floor = analyse_calibration(
        samples(kDecades, [](double x) { return std::max(kE0 + kS * x, kE0 + kS * -3.5); }),
        std::nullopt);
    EXPECT_EQ(floor.linearPoints, (std::vector<int>{6, 7, 8}));
    ASSERT_TRUE(floor.detectionLimit);
    EXPECT_NEAR(std::log10(*floor.detectionLimit), -3.5, 1e-10);
}

TEST(CalibrationAnalysis, CurvedTopGivesNoAutomaticLine) {
    const auto a = analyse_calibration(samples({-3, -2, -1}, [](double x) { return x * x * 10; }),
                                       std::nullopt);
    EXPECT_TRUE(a.linearPoints.empty());
    EXPECT_FALSE(a.detectionLimit);
    EXPECT_FALSE(a.note.empty());
}

TEST(FinalDrift, ChangeOverTheLastTenthOfThePoint) {
    // E = t², samples at t = 1..10 s, point of 15 s: from t = 8.5 (E interpolated between
    // 64 and 81: 72.5) to t = 10 (100): 27.5 mV / 1.5 s
    std::vector<double> t, E;
    for (int i = 1; i <= 10; ++i) {
        t.push_back(i);
        E.push_back(i * i);
    }
    EXPECT_NEAR(*final_drift(t, E, 15), 27.5 / 1.5, 1e-12);
    // a point of 10 s: from the sample at 9 s, (100 - 81) / 1
    EXPECT_NEAR(*final_drift(t, E, 10), 19, 1e-12);
    // a tenth longer than the series: from its first sample, (100 - 1) / 9
    EXPECT_NEAR(*final_drift(t, E, 1000), 11, 1e-12);
    EXPECT_FALSE(final_drift(std::span(t).first(1), std::span(E).first(1), 10));
}

}  // namespace
