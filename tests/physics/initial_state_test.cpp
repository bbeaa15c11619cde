// Initial state of a calibration point: the point's multiplier on the changed ion at its
// targets, electroneutrality sum z c = 0 restored through the opposite ion in every
// region, and the state vector: uniform layers with zero field, or a saved y.vec, at the
// first point; the previous end state with the target layers reset afterwards.
#include "physics/initial_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/calibration_loop.h"
#include "model/errors.h"
#include "model/state_file.h"
#include "model_builder.h"

namespace {

using testing_model::init_layers;
using testing_model::lay_out;

// Runs in an empty working folder with standard input from /dev/null (never a
// terminal), both restored afterwards.
class InitialState : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        savedStdin_ = dup(0);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        close(null);
    }
    void TearDown() override {
        dup2(savedStdin_, 0);
        close(savedStdin_);
        std::filesystem::current_path(previous_);
    }

    // Two layers of N = 3 and 4; cation 1 (z = +1, the changed ion), anion 2 (z = -1,
    // the opposite ion), divalent cation 3; concentrations already scaled.
    void build(model& md) {
        init_layers(md, 2, 3);
        md.layer = 1;
        md.N.set(3);
        md.layer = 2;
        md.N.set(4);
        md.z[1] = 1, md.z[2] = -1, md.z[3] = 2;
        md.changedIon = 1;
        md.oppositeIon = 2;
        for (int c = 1; c <= 3; ++c) {
            md.cL[c] = 0.5 * c;
            md.cR[c] = 0.25 * c;
            for (int l = 1; l <= 2; ++l) {
                md.layer = l;
                md.cM.item(c) = 0.1 * c + l;
            }
        }
        md.nCalib = 2;
        md.multipliers = {1.0, 10.0, 100.0};
        md.cScale = 4.0;
        md.eScale = 0.5;
        lay_out(md);
        md.point = 1;
    }

    static double charge(const model& md, const double* c) {
        double sum = 0;
        for (int k = 1; k <= md.R; ++k) sum += md.z[k] * c[k];
        return sum;
    }

    static std::vector<double> layer_row(const model& md, int l) {
        std::vector<double> row(md.R + 1, 0.0);
        for (int c = 1; c <= md.R; ++c) row[c] = md.cM.at(l).item(c);
        return row;
    }

    static void expect_uniform(model& md, int l) {
        md.layer = l;
        const int N = md.N.get();
        for (int c = 1; c <= md.R; ++c)
            for (int k = 0; k <= N + 1; ++k)
                EXPECT_EQ(md.y[state_index(md, c, k)], md.cM.item(c)) << "layer " << l;
        for (int k = 0; k <= N; ++k) EXPECT_EQ(md.y[state_index(md, md.R + 1, k)], 0.0);
    }

    testing_model::TempDir dir_{"initial_state"};
    std::filesystem::path previous_;
    int savedStdin_ = -1;
};

TEST_F(InitialState, FirstPointStartsUniformAndNeutral) {
    model md;
    build(md);
    md.t0 = 9.0;
    md.eisRun = 1;
    md.tBegin = 3.0;
    set_initial_state(md);

    // z = +1, -1, +2: 1 x 0.5 + 2 x 1.5 = 3.5 must be balanced by the anion.
    EXPECT_DOUBLE_EQ(md.cL[2], 3.5);
    EXPECT_EQ(charge(md, md.cL), 0.0);
    EXPECT_EQ(charge(md, md.cR), 0.0);
    for (int l = 1; l <= 2; ++l) {
        const std::vector<double> row = layer_row(md, l);
        EXPECT_NEAR(charge(md, row.data()), 0.0, 1e-15);
        expect_uniform(md, l);
    }
    EXPECT_EQ(md.t0, 0.0);
    EXPECT_EQ(md.tBegin, 0.0);
    EXPECT_EQ(md.eisRun, 0);
    for (int c = 1; c <= 3; ++c) {
        EXPECT_EQ(md.cIfLeft[0][c], md.cL[c]);
        EXPECT_EQ(md.cIfRight[2][c], md.cR[c]);
    }
}

TEST_F(InitialState, MultipliersActOnTheInputConcentration) {
    model md;
    build(md);
    md.targets = {0, 2, 3};
    md.nTargets = 3;
    set_initial_state(md);
    EXPECT_DOUBLE_EQ(md.cL[1], 5.0);
    EXPECT_DOUBLE_EQ(md.cR[1], 2.5);
    md.layer = 2;
    EXPECT_DOUBLE_EQ(md.cM.item(1), 21.0);

    // The run moves layer 1 (not a target) and layer 2 away from uniform.
    for (double& v : md.y) v += 0.125;
    const std::vector<double> afterRun = md.y;
    RunSeries series;
    end_point(md, series);

    md.point = 2;
    set_initial_state(md);
    // 100 times the input, not 10 x 100.
    EXPECT_DOUBLE_EQ(md.cL[1], 50.0);
    EXPECT_DOUBLE_EQ(md.cR[1], 25.0);
    md.layer = 2;
    EXPECT_DOUBLE_EQ(md.cM.item(1), 210.0);
    EXPECT_NEAR(charge(md, md.cL), 0.0, 1e-13);
    EXPECT_NEAR(charge(md, md.cR), 0.0, 1e-13);
    const std::vector<double> row = layer_row(md, 2);
    EXPECT_NEAR(charge(md, row.data()), 0.0, 1e-13);

    expect_uniform(md, 2);
    md.layer = 2;
    const int firstOfLayer2 = md.layerStart.get();
    for (int i = 0; i < firstOfLayer2; ++i) EXPECT_EQ(md.y[i], afterRun[i]);
    EXPECT_DOUBLE_EQ(md.cIfLeft[0][1], 50.0);
}

TEST_F(InitialState, SavedStateIsReadBack) {
    model md;
    build(md);
    md.loadYvec = 1;
    md.targets = {1};
    md.nTargets = 1;
    // The profile writer's layout: count, end time [s], the state in physical units,
    // every token followed by one blank, precision 15.
    std::vector<double> physical(md.nEq);
    for (int i = 0; i < md.nEq; ++i) physical[i] = 1.0 / (3.0 + i) + 0.01 * i;
    {
        std::ofstream out("y.vec");
        out.precision(15);
        out << md.nEq << " " << 42.5 << " ";
        for (double v : physical) out << v << " ";
    }
    testing::internal::CaptureStdout();
    read_state_file(md);
    set_initial_state(md);
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(md.t0, 42.5);
    expect_uniform(md, 1);  // a target layer is reset after a load as well
    md.layer = 2;
    const int N = md.N.get();
    for (int c = 1; c <= 4; ++c) {
        const double scale = c == 4 ? md.eScale : md.cScale;
        for (int k = 0; k <= (c == 4 ? N : N + 1); ++k) {
            const int i = state_index(md, c, k);
            // Fifteen significant digits in the file: relative error below 5e-15.
            EXPECT_NEAR(md.y[i] * scale, physical[i], 1e-14 * physical[i]) << "element " << i;
        }
    }
}

TEST_F(InitialState, UnusableSavedStateIsRefusedWhenRead) {
    auto attempt = [&](const std::string* contents, std::string& out) -> std::string {
        model md;
        build(md);
        md.loadYvec = 1;
        md.y.assign(md.nEq, -7.0);
        std::filesystem::remove("y.vec");
        if (contents) std::ofstream("y.vec") << *contents;
        std::string error;
        testing::internal::CaptureStdout();
        try {
            read_state_file(md);
            error = "none";
        } catch (const ReportedError&) {
            error = "reported";
        } catch (const InputError& e) {
            error = std::string("input: ") + e.what();
        }
        out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(md.savedState.empty());
        return error;
    };
    const std::string sizeMessage = "Input data error: wrong input vector size";
    std::string out;

    EXPECT_EQ(attempt(nullptr, out), "reported");
    EXPECT_EQ(out, "File y.vec cannot be opened.\n" + sizeMessage +
                       "\ny.vec in the working folder cannot be read (No such file or directory), "
                       "and the input asks to start from it (`load y.vec` = 1): put the saved "
                       "state there, or set that value to 0.\n");

    model probe;
    build(probe);
    const std::string nEq = std::to_string(probe.nEq);
    const std::string shortCount = std::to_string(probe.nEq - 1) + " 0 1 2 3 ";
    EXPECT_EQ(attempt(&shortCount, out), "reported");
    EXPECT_EQ(out, sizeMessage + "\ny.vec holds " + std::to_string(probe.nEq - 1) +
                       " state values; the problem has " + nEq + " unknowns.\n");

    const std::string fewer = nEq + " 0 1 2 3 ";
    std::string error = attempt(&fewer, out);
    EXPECT_EQ(error, "input: y.vec, line 1: expected state value 4 of " + nEq +
                         ", found the end of the file");

    std::string garbled = nEq + " 0 1 2 x3 ";
    for (int i = 0; i < probe.nEq; ++i) garbled += "1 ";
    error = attempt(&garbled, out);
    EXPECT_EQ(error, "input: y.vec, line 1: expected state value 3 of " + nEq + ", found 'x3'");
}

}  // namespace
