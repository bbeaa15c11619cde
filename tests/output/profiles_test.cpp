// Profile files after a run. Scales are powers of two (L = 2, cScale = 4, eScale = 0.5,
// tc = 8) so every physical value below is exact and the expected tables are written by
// hand. One layer, N = 4 uniform cells of scaled width a = 0.25, Fickian transport
// (modelType 1), so the flux between cells k and k+1 is -D (c_(k+1) - c_k) / a and the
// edge fluxes are the interface table entries; physical flux = scaled * 4 * 2 / 8.
// Potential at grid point i: -1000 * sum of trapezoids 0.5 * a * (E_(k-1) + E_k) [mV],
// times L * eScale = 1.
#include "output/profiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::vector<double>> rows_of(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);  // header
    std::vector<std::vector<double>> rows;
    while (std::getline(in, line)) {
        std::istringstream row(line);
        rows.emplace_back();
        for (double v; row >> v;) rows.back().push_back(v);
    }
    return rows;
}

// Per layer: the cell count, the grid points (scaled, global positions), the concentration
// nodes per component and the field at the grid points.
struct LayerState {
    int N;
    std::vector<double> gridX;
    std::vector<std::vector<double>> conc;
    std::vector<double> field;
};

void build_model(model& md, const std::vector<LayerState>& layers) {
    md.n = static_cast<int>(layers.size());
    md.R = 2;
    md.modelType = 1;
    md.N.init(&md.layer, md.n);
    md.layerStart.init(&md.layer, md.n);
    md.Dscaled.init(&md.layer, md.n, md.R);
    md.driftCoef.init(&md.layer, md.n, md.R);
    md.nEq = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        md.N.set(layers[l - 1].N);
        md.layerStart.set(md.nEq);
        md.nEq += (layers[l - 1].N + 2) * (md.R + 1) - 1;
        md.Dscaled.item(1) = 1.0;
        md.Dscaled.item(2) = 0.5;
    }
    md.gridX.init(&md.layer, md.n, md.N, 1);
    md.gridY.init(&md.layer, md.n, md.N, 2);
    md.gridH.init(&md.layer, md.n, md.N, 0);
    md.y.assign(md.nEq, 0.0);
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const LayerState& s = layers[l - 1];
        for (int i = 0; i <= s.N; ++i) md.gridX.item(i) = s.gridX[i];
        md.gridY.item(0) = s.gridX[0];
        for (int i = 1; i <= s.N; ++i) {
            md.gridH.item(i - 1) = s.gridX[i] - s.gridX[i - 1];
            md.gridY.item(i) = 0.5 * (s.gridX[i] + s.gridX[i - 1]);
        }
        md.gridY.item(s.N + 1) = s.gridX[s.N];
        for (int c = 1; c <= md.R; ++c)
            for (int i = 0; i <= s.N + 1; ++i) md.y[state_index(md, c, i)] = s.conc[c - 1][i];
        for (int i = 0; i <= s.N; ++i) md.y[state_index(md, md.R + 1, i)] = s.field[i];
    }
    md.z[1] = 2;
    md.z[2] = -1;
    md.L = 2;
    md.cScale = 4;
    md.eScale = 0.5;
    md.tc = 8;
    md.t0 = 10;
    md.totalThickness = layers.back().gridX.back() * md.L;  // m
    md.point = 1;
    md.genPS = 0;
}

const LayerState kOneLayer{
    4, {0, 0.25, 0.5, 0.75, 1}, {{1, 1, 2, 3, 4, 4}, {4, 4, 3, 2, 1, 1}}, {0, 1, 2, 1, 0}};

struct ProfilesFixture : testing::Test {
    model md;
    RunFiles files;
    RunSeries series;
    testutil::ScratchDir scratch{"profiles"};
    const fs::path dir = scratch.path();  // the point folder, with a spectrum sub-folder
    void SetUp() override {
        series.timeSeries.append(0.5);
        series.timeSeries.append(1.5);
        fs::create_directories(dir / "spectrum");
    }
};

using ProfileFiles = ProfilesFixture;

TEST_F(ProfileFiles, OneLayerTablesAndStateFile) {
    build_model(md, {kOneLayer});
    md.folders = {"unused", dir.string()};
    md.jIfRight[0][1] = -3;  // into the layer through interface 0
    md.jIfRight[0][2] = 1;
    md.jIfLeft[1][1] = -5;  // out through interface 1
    md.jIfLeft[1][2] = 3;
    write_profiles(md, files, series, "");

    EXPECT_EQ(testutil::read_file(dir / "xwyn.dat"),
              "x E mempot j1 j2 zjSum \n"
              "0 0 0 -3 1 -7\n"
              "0.5 0.5 -125 -4 2 -10\n"
              "1 1 -500 -4 2 -10\n"
              "1.5 0.5 -875 -4 2 -10\n"
              "2 0 -1000 -5 3 -13\n");
    EXPECT_EQ(testutil::read_file(dir / "ywyn.dat"),
              "y c1 c2 zcSum \n"
              "0 4 16 -8\n"
              "0.25 4 16 -8\n"
              "0.75 8 12 4\n"
              "1.25 12 8 16\n"
              "1.75 16 4 28\n"
              "2 16 4 28\n");
    // nEq = 6 * 3 - 1 = 17, the end time 1.5 s + t0, then the state in physical units.
    EXPECT_EQ(testutil::read_file(dir / "y.vec"),
              "17 11.5 4 4 8 12 16 16 16 16 12 8 4 4 0 0.5 1 0.5 0 ");
    // The membrane potential stays in mpot: mpot * L * eScale = -1000 mV.
    EXPECT_EQ(md.mpot * md.L * md.eScale, -1000);
    EXPECT_FALSE(fs::exists(dir / "wyn.ps"));
}

// Two layers: the interface appears as two rows with one potential (the potential is
// continuous even though the field jumps there), and the running sum goes on.
TEST_F(ProfileFiles, InterfaceRowRepeatedWithEqualPotential) {
    const LayerState second{2, {1, 1.5, 2}, {{6, 6, 7, 7}, {1, 1, 2, 2}}, {8, 4, 2}};
    build_model(md, {kOneLayer, second});
    md.folders = {"unused", dir.string()};
    write_profiles(md, files, series, "");

    const auto x = rows_of(dir / "xwyn.dat");
    ASSERT_EQ(x.size(), 4u + 2u + 2u);
    for (const auto& row : x) ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(x[4][0], x[5][0]);  // the interface position twice
    EXPECT_EQ(x[4][2], x[5][2]);  // one potential
    EXPECT_NE(x[4][1], x[5][1]);  // two fields
    EXPECT_EQ(x[4][2], -1000);    // end of layer 1, as in the one-layer case
    // Layer 2: -500 * 0.5 * (8 + 4) = -3000, then -500 * 0.5 * (4 + 2) = -1500.
    EXPECT_EQ(x[6][2], -4000);
    EXPECT_EQ(x[7][2], -5500);
    EXPECT_EQ(rows_of(dir / "ywyn.dat").size(), 6u + 4u);

    std::istringstream yvec(testutil::read_file(dir / "y.vec"));
    int count = 0;
    for (double v; yvec >> v;) ++count;
    EXPECT_EQ(count, 2 + md.nEq);
    EXPECT_EQ(md.nEq, 17 + 11);
}

// After the impedance run all four files go to the point folder's spectrum sub-folder.
// The six panels render; in the two per-component panels component 1 is drawn black,
// then the colour switches to red for component 2, green after it, and back to black.
TEST_F(ProfileFiles, SpectrumPrefixAndSixPanelPlot) {
    build_model(md, {kOneLayer});
    md.folders = {"unused", dir.string()};
    md.genPS = 1;
    write_profiles(md, files, series, "spectrum//");
    for (const char* name : {"wyn.ps", "y.vec", "xwyn.dat", "ywyn.dat"})
        EXPECT_TRUE(fs::exists(dir / "spectrum" / name)) << name;
    EXPECT_FALSE(fs::exists(dir / "y.vec"));

    const std::string ps = testutil::read_file(dir / "spectrum" / "wyn.ps");
    std::string colours;
    for (size_t at = ps.find(" setrgbcolor"); at != std::string::npos;
         at = ps.find(" setrgbcolor", at + 1))
        colours += ps.substr(ps.rfind('\n', at) + 1, at - ps.rfind('\n', at) - 1) + ";";
    EXPECT_EQ(colours, "1 0 0;0 1 0;0 0 0;1 0 0;0 1 0;0 0 0;");
    for (const char* label :
         {"(c [mol/m3])", "(zc_SUM)", "(J)", "(zJ_SUM)", "(E(x, T_end))", "(Potential (x, T_end))"})
        EXPECT_NE(ps.find(label), std::string::npos) << label;
    if (testutil::has_ghostscript()) {  // without it only the text of the plot is checked
        const auto r = testutil::render_postscript(dir / "spectrum" / "wyn.ps");
        EXPECT_TRUE(testutil::rendered_cleanly(r)) << r.output;
    }
}

TEST_F(ProfileFiles, UnwritableFolderIsReportedPerFile) {
    build_model(md, {kOneLayer});
    md.folders = {"unused", "/nonexistent/tavoline"};
    testing::internal::CaptureStdout();
    write_profiles(md, files, series, "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "File /nonexistent/tavoline/y.veccannot be opened. (No such file or directory)\n"
              "File /nonexistent/tavoline/xwyn.datcannot be opened. (No such file or directory)\n"
              "File /nonexistent/tavoline/ywyn.datcannot be opened. (No such file or directory)\n");
}

// Without any recorded step the end time is unknown: y.vec gets the time offset alone and
// the gap is reported instead of reading past the empty series.
TEST_F(ProfileFiles, EmptyTimeSeriesIsReported) {
    build_model(md, {kOneLayer});
    md.folders = {"unused", dir.string()};
    series.timeSeries.resize(0);
    testing::internal::CaptureStdout();
    write_profiles(md, files, series, "");
    EXPECT_NE(testing::internal::GetCapturedStdout().find(
                  "No time samples recorded; y.vec is written with the time offset"),
              std::string::npos);
    EXPECT_EQ(testutil::read_file(dir / "y.vec").substr(0, 6), "17 10 ");
}

// xh.dat of the two-layer stack above in metres (L = 2): per cell the row number, node,
// grid point and width; then the last grid point and the last node, their gaps as "-".
TEST_F(ProfileFiles, GridFileListsEveryLayersCellsInMetres) {
    const LayerState second{2, {1, 1.5, 2}, {{6, 6, 7, 7}, {1, 1, 2, 2}}, {8, 4, 2}};
    build_model(md, {kOneLayer, second});
    md.folders = {dir.string()};
    write_grid_file(md, files);
    EXPECT_EQ(testutil::read_file(dir / "xh.dat"),
              "0 0 0 0.5\n"
              "1 0.25 0.5 0.5\n"
              "2 0.75 1 0.5\n"
              "3 1.25 1.5 0.5\n"
              "4 1.75 2 - \n"
              "5 2 - - \n"
              "6 2 2 1\n"
              "7 2.5 3 1\n"
              "8 3.5 4 - \n"
              "9 4 - - \n");

    md.folders = {dir.string() + "/missing"};
    testing::internal::CaptureStdout();
    write_grid_file(md, files);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "File " + dir.string() +
                  "/missing/xh.dat cannot be opened. (No such file or "
                  "directory)\n");
}

}  // namespace
