// A point whose integration fails still leaves its files, says so, and the run ends with
// status 2. A forward rate constant of 1e200 m/s makes every trial state overflow, so the
// integrator gives up at the first step with "step size too small".
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "driver/calibration_loop.h"
#include "experiments/integration_run.h"
#include "model/input_file.h"
#include "physics/initial_state.h"
#include "test_util.h"

TEST(FailedRun, PointFilesAreWrittenAndTheRunEndsWithStatusTwo) {
    testutil::ScratchDir dir;
    const std::string text = testutil::failing_input();
    testutil::write_file(dir.path() / "huge.cci", text);
    const auto r = testutil::run_program(dir.path(), "huge");
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find(" Computation failed \n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Calibration point 1 (multiplier 1): the potentiometric integration "
                            "failed: the step size became too small (code -3)."),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("The integration failed at 1 of 1 calibration points"),
              std::string::npos);
    for (const char* f : {"y.vec", "xwyn.dat", "ywyn.dat", "et.dat"})
        EXPECT_TRUE(std::filesystem::exists(dir.path() / "huge" / f)) << f;
}

// The integrator converts the tolerances in place and converts them back only after a
// successful run: after a failed one the record must still hold the tolerances as read,
// or the next calibration point would run with other ones.
TEST(FailedRun, NextPointKeepsTheTolerancesAsRead) {
    testutil::ScratchDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::string text = testutil::failing_input();
    model md;
    RunFiles files;
    RunSeries series;
    md.inputName = "huge";
    std::ostringstream quiet;
    std::streambuf* saved = std::cout.rdbuf(quiet.rdbuf());
    read_input_text(md, text, "huge.cci");
    const double rtol = md.rtol, atol = md.atol;
    set_up(md, files, series, SolverPath::banded);
    md.point = 1;
    set_initial_state(md);
    const RunOutcome run = run_integration(md, series, RunOptions{});
    std::cout.rdbuf(saved);
    std::filesystem::current_path(previous);
    ASSERT_LT(run.code, 0);
    EXPECT_EQ(md.rtol, rtol);
    EXPECT_EQ(md.atol, atol);
}
