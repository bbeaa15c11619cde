// Error estimates from successive grids against sequences whose limit and order are known,
// and the transition time of a chronopotentiogram against Sand's closed form.
#include "driver/grid_study.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// v_k = limit + C r^-k on grids k = 0..count-1: the error of a method of order log2(r).
std::vector<std::optional<double>> converging(double limit, double C, double r, int count) {
    std::vector<std::optional<double>> v;
    for (int k = 0; k < count; ++k) v.push_back(limit + C * std::pow(r, -k));
    return v;
}

}  // namespace

TEST(GridEstimate, RichardsonRecoversTheLimitAndOrder) {
    // Second order: the extrapolation is exact, the interval holds the limit.
    GridEstimate e = estimate_grid_error(converging(-42.3, 3.0, 4.0, 4), 0);
    ASSERT_TRUE(e.order && e.extrapolated && e.low && e.high);
    EXPECT_NEAR(*e.order, 2.0, 1e-9);
    EXPECT_NEAR(*e.extrapolated, -42.3, 1e-12);
    EXPECT_LE(*e.low, -42.3);
    EXPECT_GE(*e.high, -42.3);
    // The finest value is 3/64 from the limit; the safety factor widens the bound by 1.25.
    EXPECT_NEAR(*e.half_width(), 1.25 * 3.0 / 64, 1e-12);

    // First order is in range and extrapolates with its own order.
    e = estimate_grid_error(converging(5.0, -1.0, 2.0, 3), 0);
    ASSERT_TRUE(e.asymptotic && e.extrapolated);
    EXPECT_NEAR(*e.extrapolated, 5.0, 1e-12);

    // Fourth order is far from the method's: no number, unless the changes are noise.
    e = estimate_grid_error(converging(1.0, 2.0, 16.0, 3), 0);
    EXPECT_FALSE(e.asymptotic);
    EXPECT_FALSE(e.low);
    e = estimate_grid_error(converging(1.0, 2.0, 16.0, 3), 2.0);
    EXPECT_TRUE(e.belowNoise);
    ASSERT_TRUE(e.low && e.high);
    EXPECT_LE(*e.low, 1.0);
    EXPECT_GE(*e.high, 1.0);

    // Changes that turn, grow, or a grid that failed: no estimate.
    EXPECT_FALSE(estimate_grid_error({1.0, 2.0, 1.5}, 0).low);
    EXPECT_FALSE(estimate_grid_error({1.0, 1.1, 1.3}, 0).low);
    EXPECT_FALSE(estimate_grid_error({1.0, std::nullopt, 1.3}, 0).low);
    EXPECT_FALSE(estimate_grid_error({1.0, 1.5}, 0).low);
}

// The refinement stops where finer grids do not help: a change that grows, or two in a row
// that shrink less than twofold. The changes of a second-order grid, those below the noise,
// and a pre-asymptotic rise on the first grids do not stop it.
TEST(GridRefinement, StopsWhereTheChangesNoLongerShrink) {
    const double noise = 0.1 / 8;  // of the default target, 0.1 mV
    // The ionophore membrane of 100 um on the default tolerances: changes 3.35, 1.16, 0.10,
    // 1.02 mV from grid 2 on; the fifth grid's change, grown tenfold, stops the study
    // before a sixth grid that costs most of an hour.
    const std::vector<std::optional<double>> stalled = {0.0, 3.35, 4.51, 4.61, 3.59};
    EXPECT_FALSE(changes_stalled({stalled.begin(), stalled.end() - 1}, noise));
    EXPECT_TRUE(changes_stalled(stalled, noise));
    // Shrinking by 1.5 twice: an observed order below 1 two grids in a row.
    EXPECT_TRUE(changes_stalled({0.0, 1.0, 1.6, 2.0, 2.27}, noise));
    // Second order, however many grids; and changes at the noise, which converge as they are.
    EXPECT_FALSE(changes_stalled(converging(-42.3, 3.0, 4.0, 7), noise));
    EXPECT_FALSE(changes_stalled({1.0, 1.01, 0.999, 1.01, 1.0}, noise));
    // A change that rises from the first grids to the third, then shrinks fourfold.
    EXPECT_FALSE(changes_stalled({0.0, 0.1, 0.3, 0.35}, noise));
    // Fewer than four grids, or a grid without the value: no verdict.
    EXPECT_FALSE(changes_stalled({0.0, 1.0, 3.0}, noise));
    EXPECT_FALSE(changes_stalled({0.0, 1.0, std::nullopt, 3.0, 6.0}, noise));
}

// Sand: at constant current the surface concentration of a diffusing species falls as
// c(0,t) = c0 (1 - sqrt(t/tau)); a potential following ln c(0,t) rises steeply just before
// tau. The edge concentration goes with it (its ratio to c0 is the depletion).
TEST(TransitionTime, OnlyWhereAnEdgeConcentrationRunsOut) {
    const double tau = 0.073;  // s
    const auto sand = [tau](double tEnd) {
        std::pair<std::vector<std::pair<double, double>>, std::vector<double>> run;
        for (int k = 0; k <= 400; ++k) {
            const double t = tEnd * k / 400;
            const double c = std::max(1 - std::sqrt(std::min(t / tau, 1.0)), 1e-12);
            run.first.emplace_back(t, -25.7 * std::log(c));
            run.second.push_back(c);
        }
        return run;
    };
    auto [transient, depletion] = sand(0.08);
    auto found = transition_time(transient, depletion);
    ASSERT_TRUE(found);
    // The rise turns steep shortly before the concentration reaches zero: within 3 %.
    EXPECT_NEAR(*found, tau, 0.03 * tau);

    // The potential of this model stays finite at tau (the space charge at the edge takes
    // over) and rises on steadily after it: where that is most of the run, the steep part
    // is too much of it for the median rate to be the quiet part's. The edge concentration
    // still marks the transition, where it falls through a thousandth: (1 - 1e-3)^2 tau,
    // 0.2 % early, interpolated between samples 0.55 % of tau apart: within 0.6 %.
    std::tie(transient, depletion) = sand(0.16);
    for (std::size_t k = 0; k < transient.size(); ++k)
        transient[k].second =
            -25.7 * std::log(depletion[k] + 0.01) + 20000 * std::max(transient[k].first - tau, 0.0);
    found = transition_time(transient, depletion);
    ASSERT_TRUE(found);
    EXPECT_NEAR(*found, tau, 0.006 * tau);

    // Below the limiting current the edge concentration settles above nothing, however steep
    // the potential's early rise and however still it is after: no transition, where the
    // rate alone (the fault this guards against) would take the first samples.
    std::vector<std::pair<double, double>> settling;
    std::vector<double> settled;
    for (int k = 0; k <= 400; ++k) {
        const double t = 0.2 * k / 400;
        const double c = 5e-4 + (1 - 5e-4) * std::exp(-t / 0.004);
        settling.emplace_back(t, 25.7 * std::log(c));
        settled.push_back(c);
    }
    EXPECT_FALSE(transition_time(settling, settled));
    // Nor without depletion at all.
    EXPECT_FALSE(transition_time(settling, std::vector<double>(settling.size(), 1.0)));
}
