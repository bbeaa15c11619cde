// Time course of a run: et.dat against texts written by hand from its format (time shift
// t0, log time of a zero time, line ends), the log calculation times the third panel of
// mempot.ps draws, the shorter calculation-time series of an impedance run, file faults,
// and rendering of the plot with Ghostscript.
#include "experiments/time_course.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "output/psplot/psplot.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

VecDoub vec(std::initializer_list<double> values) {
    VecDoub v(static_cast<int>(values.size()));
    int i = 0;
    for (double x : values) v[i++] = x;
    return v;
}

class TimeCourseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir_ / "1" / "spectrum");
        md_.folders = {dir_.string(), (dir_ / "1").string()};
        md_.point = 1;
    }

    testutil::ScratchDir scratch_{"timecourse"};
    const fs::path dir_ = scratch_.path();
    model md_;
    RunFiles files_;
    RunSeries s_;
};

}  // namespace

TEST_F(TimeCourseTest, TableShiftsTimeByT0Only) {
    s_.timeSeries = vec({0, 0.5, 2, 100});
    s_.potSeries = vec({1.5, -2, 3.25, 40});
    s_.tcalcSeries = vec({0, 0, 1, 10});
    md_.t0 = 100;
    md_.genPS = 0;
    write_time_course(md_, files_, s_, "");
    // Zero time has log time -10; the log column ignores t0; every line ends in a blank.
    EXPECT_EQ(testutil::read_file(dir_ / "1" / "et.dat"),
              "tproc log(tproc) mempot tcalc \n"
              "100 -10 1.5 0 \n"
              "100.5 -0.301029995663981 -2 0 \n"
              "102 0.301029995663981 3.25 1 \n"
              "200 2 40 10 \n");
    EXPECT_FALSE(fs::exists(dir_ / "1" / "mempot.ps"));
    EXPECT_EQ(s_.timeSeries.size(), 4);  // series left as they were
}

TEST_F(TimeCourseTest, ImpedanceRunWritesIntoSpectrumFolder) {
    // After the impedance set-up the calculation-time series lags by one sample.
    s_.timeSeries = vec({0, 1e-3, 1});
    s_.potSeries = vec({20, 25, 30});
    s_.tcalcSeries = vec({0, 3});
    md_.genPS = 1;
    write_time_course(md_, files_, s_, "spectrum//");
    EXPECT_EQ(testutil::read_file(dir_ / "1" / "spectrum" / "et.dat"),
              "tproc log(tproc) mempot tcalc \n"
              "0 -10 20 0 \n"
              "0.001 -3 25 3 \n"
              "1 0 30 0 \n");
    EXPECT_TRUE(fs::exists(dir_ / "1" / "spectrum" / "mempot.ps"));
    EXPECT_EQ(md_.fileName, (dir_ / "1" / "spectrum//mempot.ps").string());
}

TEST_F(TimeCourseTest, CalculationTimePanelUsesLogSubstitutes) {
    // Log calculation times: the first sample always -0.6 (though 5 s), below 1 s -0.5,
    // else log10: -0.6, -0.5, 0, 2. Log times -10, -10 (below 1e-10), 0, 2.
    s_.timeSeries = vec({0, 1e-12, 1, 100});
    s_.potSeries = vec({1, 2, 3, 4});
    s_.tcalcSeries = vec({5, 0.5, 1, 100});
    md_.genPS = 1;
    write_time_course(md_, files_, s_, "");
    const std::string text = testutil::read_file(dir_ / "1" / "mempot.ps");

    // Third panel: box 70..290 x 320..530, limits half a decade beyond the data:
    // x -10.5..2.5, y -1.1..2.5.
    std::vector<std::string> dots;
    const double lx[] = {-10, -10, 0, 2}, ly[] = {-0.6, -0.5, 0, 2};
    for (int i = 0; i < 4; ++i) {
        char line[96];
        const double px = 70 + 220 * (lx[i] + 10.5) / 13;
        const double py = 320 + 210 * (ly[i] + 1.1) / 3.6;
        std::snprintf(line, sizeof line, "(\\154) %g %g 5 zp\n", px - 1.97, py - 1.715);
        dots.push_back(line);
    }
    std::size_t at = text.find("(log t_proc)");
    ASSERT_NE(at, std::string::npos);
    for (const auto& dot : dots) {
        at = text.find(dot, at);
        EXPECT_NE(at, std::string::npos) << dot;
    }
    EXPECT_NE(text.find("(log t_calc)"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 9), "showpage\n");
}

TEST_F(TimeCourseTest, UnopenableFilesAreReported) {
    md_.folders[1] = (dir_ / "absent").string();
    s_.timeSeries = vec({1});
    s_.potSeries = vec({1});
    s_.tcalcSeries = vec({0});
    md_.genPS = 0;
    ::testing::internal::CaptureStdout();
    write_time_course(md_, files_, s_, "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "File " + (dir_ / "absent" / "et.dat").string() +
                  "cannot be opened. (No such file or directory)\n");
    md_.genPS = 1;  // the plot is still attempted; its failure is recorded, the run goes on
    ::testing::internal::CaptureStdout();
    write_time_course(md_, files_, s_, "");
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("mempot.ps: No such file"),
              std::string::npos);
    std::string unwritten;
    for (const auto& [file, reason] : files_.unwrittenFiles)
        unwritten += fs::path(file).filename().string() + " ";
    EXPECT_EQ(unwritten, "et.dat mempot.ps mempot.svg ");
}

TEST_F(TimeCourseTest, PlotsRenderIncludingSingleFlatSample) {
    if (!testutil::has_ghostscript()) GTEST_SKIP() << "no gs";
    const int n = 30;
    VecDoub t(n), p(n), c(n);
    for (int i = 0; i < n; ++i) {
        t[i] = 1e-6 * std::pow(2.0, i);
        p[i] = 50 - 30 * std::exp(-t[i] / 10);
        c[i] = 0.1 * i;
    }
    s_.timeSeries = t;
    s_.potSeries = p;
    s_.tcalcSeries = c;
    md_.genPS = 1;
    write_time_course(md_, files_, s_, "");
    s_.timeSeries = vec({0});
    s_.potSeries = vec({12});
    s_.tcalcSeries = VecDoub();
    write_time_course(md_, files_, s_, "spectrum//");
    for (const fs::path& ps : {dir_ / "1" / "mempot.ps", dir_ / "1" / "spectrum" / "mempot.ps"}) {
        const testutil::RunResult r = testutil::render_postscript(ps);
        EXPECT_TRUE(testutil::rendered_cleanly(r)) << ps << "\n" << r.output;
        const std::string text = testutil::read_file(ps);
        EXPECT_EQ(text.find("nan"), std::string::npos);
        EXPECT_EQ(text.find("inf"), std::string::npos);
    }
}

TEST_F(TimeCourseTest, EmptyRunWritesHeaderOnly) {
    md_.genPS = 1;
    write_time_course(md_, files_, s_, "");
    EXPECT_EQ(testutil::read_file(dir_ / "1" / "et.dat"), "tproc log(tproc) mempot tcalc \n");
    EXPECT_FALSE(fs::exists(dir_ / "1" / "mempot.ps"));
}
