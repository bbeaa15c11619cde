// Calibration curve files against texts written by hand from their formats: nothing
// before the third point, ccurve.dat and tcurve.dat (with its origin row) from the third,
// limit.txt after the last of at least five points for an ideal 59 mV/decade electrode
// and for curves that leave the reference line, repeated multipliers, and rendering of
// curve.ps and tcurve.ps with Ghostscript.
#include "experiments/calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

class CalibrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        md_.folders = {dir_.string()};
        md_.genPS = 0;
    }

    // Collects point `p` as the driver does: multiplier, end potential, calculation time,
    // and a two-sample time course of a point lasting 10 s.
    void collect(int p, double mult, double pot, double tcalc) {
        s_.calMult.append(mult);
        s_.calPot.append(pot);
        s_.calTcalc.append(tcalc);
        s_.calLogMult.append(std::log10(mult));
        s_.allTime.append(5 + 10.0 * (p - 1));
        s_.allPot.append(pot - 1);
        s_.allTime.append(10 + 10.0 * (p - 1));
        s_.allPot.append(pot);
    }

    // Runs points 1..count with the given log multipliers and end potentials; returns
    // what the last call printed.
    std::string run_points(const double* log_mult, const double* pot, int count) {
        md_.nCalib = count;
        std::string out;
        for (int p = 1; p <= count; ++p) {
            collect(p, std::pow(10.0, log_mult[p - 1]), pot[p - 1], p);
            s_.calLogMult[p - 1] = log_mult[p - 1];  // exact, not through pow and log10
            md_.point = p;
            ::testing::internal::CaptureStdout();
            write_calibration_curve(md_, files_, s_);
            out = ::testing::internal::GetCapturedStdout();
        }
        return out;
    }

    testutil::ScratchDir scratch_{"calibration"};
    const fs::path dir_ = scratch_.path();
    model md_;
    RunFiles files_;
    RunSeries s_;
};

}  // namespace

TEST_F(CalibrationTest, FilesStartAtTheThirdPoint) {
    md_.nCalib = 4;
    const double mult[] = {1, 10, 0.5};
    const double pot[] = {-12.25, 47, 0.125};
    for (int p = 1; p <= 3; ++p) {
        collect(p, mult[p - 1], pot[p - 1], 2 * p);
        md_.point = p;
        md_.t_calc = 7;
        ::testing::internal::CaptureStdout();
        write_calibration_curve(md_, files_, s_);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n\ncalculations time [s]: 7\n");
        EXPECT_EQ(fs::exists(dir_ / "ccurve.dat"), p == 3) << p;
        EXPECT_EQ(fs::exists(dir_ / "tcurve.dat"), p == 3) << p;
    }
    EXPECT_EQ(testutil::read_file(dir_ / "ccurve.dat"),
              "multiplier NPP_Potential NPP_calc_time \n"
              "1 -12.25 2\n"
              "10 47 4\n"
              "0.5 0.125 6\n");
    EXPECT_EQ(testutil::read_file(dir_ / "tcurve.dat"),
              "tproc mempot \n"
              " 0 0 \n"
              "5 -13.25 \n"
              "10 -12.25 \n"
              "15 46 \n"
              "20 47 \n"
              "25 -0.875 \n"
              "30 0.125 \n");
    EXPECT_FALSE(fs::exists(dir_ / "limit.txt"));  // fewer than five points
    EXPECT_FALSE(fs::exists(dir_ / "curve.ps"));   // genPS is 0
}

TEST_F(CalibrationTest, LimitFileOnlyAfterLastOfFivePoints) {
    // Ideal electrode, 59 mV per decade: every deviation is 0, so only the two header
    // lines; slog2 = 59 log10(2).
    const double L[] = {0, 1, 2, 3, 4};
    const double P[] = {0, 59, 118, 177, 236};
    md_.nCalib = 5;
    for (int p = 1; p <= 4; ++p) {
        collect(p, std::pow(10.0, L[p - 1]), P[p - 1], 0);
        md_.point = p;
        ::testing::internal::CaptureStdout();
        write_calibration_curve(md_, files_, s_);
        ::testing::internal::GetCapturedStdout();
        EXPECT_FALSE(fs::exists(dir_ / "limit.txt")) << p;
    }
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    s_ = RunSeries();
    run_points(L, P, 5);
    EXPECT_EQ(testutil::read_file(dir_ / "limit.txt"), "slope = 59\nslog2 = 17.7607697441749\n");
}

TEST_F(CalibrationTest, LimitWhereCurveLeavesReferenceLine) {
    // Reference line through (1, 59) and (2, 118): slope 59, intercept 0. The segment
    // 2..3 has slope 32, deviation |27 x - 54| = 2.7 k at x = 2 + 0.1 k, rising through
    // 17.76 at k = 7; the last segment stays above it.
    const double L[] = {0, 1, 2, 3, 4};
    const double P[] = {0, 59, 118, 150, 160};
    run_points(L, P, 5);
    EXPECT_EQ(testutil::read_file(dir_ / "limit.txt"),
              "slope = 59\nslog2 = 17.7607697441749\nlimit = 2.7 \n");
}

TEST_F(CalibrationTest, FirstSubPointCountsFromZeroDeviation) {
    // The first segment, (0, 40) to (1, 59), is 40 mV off the reference line at x = 0,
    // and the deviation before the first sub-point is taken as 0.
    const double L[] = {0, 1, 2, 3, 4};
    const double P[] = {40, 59, 118, 177, 236};
    run_points(L, P, 5);
    EXPECT_EQ(testutil::read_file(dir_ / "limit.txt"),
              "slope = 59\nslog2 = 17.7607697441749\nlimit = 0 \n");
}

TEST_F(CalibrationTest, RepeatedMultipliersNeverDivideByZero) {
    // Points 3 and 4 share a multiplier: that segment is skipped and said so.
    const double L[] = {0, 1, 2, 2, 3};
    const double P[] = {0, 59, 118, 120, 177};
    std::string out = run_points(L, P, 5);
    EXPECT_NE(out.find("segment between calibration points 3 and 4 skipped"), std::string::npos)
        << out;
    const std::string limit = testutil::read_file(dir_ / "limit.txt");
    EXPECT_EQ(limit.rfind("slope = 59\nslog2 = 17.7607697441749\n", 0), 0u) << limit;
    EXPECT_EQ(limit.find("nan"), std::string::npos) << limit;
    EXPECT_EQ(limit.find("inf"), std::string::npos) << limit;

    // Points 2 and 3 share one: no reference line, so no limit file.
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    s_ = RunSeries();
    const double L2[] = {0, 1, 1, 2, 3};
    out = run_points(L2, P, 5);
    EXPECT_NE(out.find("limit.txt not written"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir_ / "limit.txt"));
}

TEST_F(CalibrationTest, PlotsRenderEvenForFlatCurve) {
    if (!testutil::has_ghostscript()) GTEST_SKIP() << "no gs";
    md_.genPS = 1;
    for (int flat = 0; flat < 2; ++flat) {
        const double L[] = {0, -1, -2, -3, -4, -5};
        const double P[] = {0, -59, -115, -160, -178, -181};
        const double F[] = {3, 3, 3, 3, 3, 3};  // a flat curve: zero span everywhere
        s_ = RunSeries();
        run_points(L, flat ? F : P, 6);
        for (const char* name : {"curve.ps", "tcurve.ps"}) {
            const fs::path ps = dir_ / name;
            const testutil::RunResult r = testutil::render_postscript(ps);
            EXPECT_EQ(r.status, 0) << ps << "\n" << r.output;
            EXPECT_EQ(r.output.find("Error"), std::string::npos) << ps << "\n" << r.output;
            const std::string page = testutil::read_file(ps);
            EXPECT_EQ(page.find("nan"), std::string::npos) << ps;
            EXPECT_EQ(page.find("inf"), std::string::npos) << ps;
        }
    }
}
