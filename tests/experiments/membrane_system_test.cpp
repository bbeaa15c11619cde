// The right-hand side a run hands its integrator.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "driver/problem_setup.h"
#include "driver/problem_source.h"
#include "experiments/integration_run.h"
#include "physics/initial_state.h"

namespace {

// With two threads the integrator forms half of every Jacobian's column groups through a
// second evaluator. On a problem with complexation in both layers, away from its initial
// state, that evaluator gives the run's own f bit for bit, whether the run's evaluator has
// just been used (its interface tables filled) or not, and while the run's own evaluates
// on another thread (under ThreadSanitizer: without touching what that one writes).
TEST(MembraneSystem, ConcurrentEvaluatorGivesTheRunsRates) {
    model md;
    RunSeries series;
    ProblemSource::from_file(TAVOLINE_TEST_DATA "/complexing").load(md);
    prepare_problem(md, series, SolverPath::banded);
    md.point = 1;
    set_initial_state(md);
    const std::vector<int> order = point_order(md);
    const auto n = static_cast<std::size_t>(md.nEq);
    std::vector<double> y(n);
    for (std::size_t p = 0; p < n; ++p)
        y[p] = md.y[static_cast<std::size_t>(order[p])] * (1 + 1e-3 * static_cast<double>(p % 7));
    RunOptions options;
    MembraneSystem system(md, series, order, options);
    OdeSystem* second = system.concurrent_evaluator();
    ASSERT_NE(second, nullptr);
    std::vector<double> f1(n), f2(n);
    ASSERT_EQ(second->rhs(0, y.data(), f2.data()), 0);
    ASSERT_EQ(system.rhs(0, y.data(), f1.data()), 0);
    EXPECT_EQ(0, std::memcmp(f1.data(), f2.data(), n * sizeof(double)));
    y[n / 2] *= 1.5;
    ASSERT_EQ(system.rhs(0, y.data(), f1.data()), 0);
    ASSERT_EQ(second->rhs(0, y.data(), f2.data()), 0);
    EXPECT_EQ(0, std::memcmp(f1.data(), f2.data(), n * sizeof(double)));
    std::vector<double> y2 = y, f3(n);
    y2[n / 3] *= 0.5;
    std::thread other([&] {
        for (int k = 0; k < 20; ++k) second->rhs(0, y2.data(), f3.data());
    });
    for (int k = 0; k < 20; ++k) system.rhs(0, y.data(), f1.data());
    other.join();
    EXPECT_EQ(0, std::memcmp(f1.data(), f2.data(), n * sizeof(double)));
    ASSERT_EQ(system.rhs(0, y2.data(), f2.data()), 0);
    EXPECT_EQ(0, std::memcmp(f3.data(), f2.data(), n * sizeof(double)));
}

}  // namespace
