// Whole runs of the program on small problems whose answers are known without it:
// conservation in a closed membrane, zero potential at equilibrium and by symmetry, the
// diffusion potential of a liquid junction, and the files and plots a run leaves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

// Runs the program on tests/data/NAME.cci (or examples/NAME.cci) in a scratch folder.
testutil::RunResult run_data_file(const testutil::ScratchDir& dir, const std::string& folder,
                                  const std::string& name) {
    fs::copy_file(fs::path(folder) / (name + ".cci"), dir.path() / (name + ".cci"));
    return testutil::run_program(dir.path(), name);
}

std::vector<double> numbers_in(const std::string& text) {
    std::istringstream in(text);
    std::vector<double> v;
    double x;
    while (in >> x) v.push_back(x);
    return v;
}

// Potentials [mV] of the "Step" lines of a run's output, in order.
std::vector<double> step_potentials(const std::string& output) {
    std::vector<double> v;
    size_t at = 0;
    while ((at = output.find(", m_pot=", at)) != std::string::npos) {
        at += 8;
        v.push_back(std::strtod(output.c_str() + at, nullptr));
    }
    return v;
}

// Cell widths [m] of each layer from xh.dat, whose layer blocks are N lines with a width
// followed by two lines without one.
std::vector<std::vector<double>> cell_widths(const fs::path& xh, const std::vector<int>& N) {
    std::istringstream in(testutil::read_file(xh));
    std::vector<std::vector<double>> widths;
    std::string line;
    for (int cells : N) {
        widths.emplace_back();
        for (int k = 0; k < cells + 2; ++k) {
            std::getline(in, line);
            const auto v = numbers_in(line);
            if (k < cells) widths.back().push_back(v.at(3));
        }
    }
    return widths;
}

}  // namespace

// Two layers with no transfer at the outer interfaces and an open interface between them:
// the salt redistributes, but the amount of every component (sum of cell width times cell
// concentration) stays what it was, 100 * 2e-7 + 10 * 2e-7 mol/m^2.
TEST(EndToEnd, ClosedMembraneConservesEveryComponent) {
    testutil::ScratchDir dir;
    const auto r = run_data_file(dir, TAVOLINE_TEST_DATA, "closed");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto y = numbers_in(testutil::read_file(dir.path() / "closed" / "y.vec"));
    const int N = 20, R = 2;
    ASSERT_EQ(y.size(), 2u + 2 * ((N + 2) * (R + 1) - 1));
    const auto widths = cell_widths(dir.path() / "closed" / "xh.dat", {N, N});
    double total[R] = {0, 0}, firstLayer[R] = {0, 0};
    size_t pos = 2;
    for (int l = 0; l < 2; ++l) {
        for (int c = 0; c < R; ++c) {
            for (int k = 1; k <= N; ++k) {
                const double moles = widths[l][k - 1] * y[pos + k];
                total[c] += moles;
                if (l == 0) firstLayer[c] += moles;
            }
            pos += N + 2;
        }
        pos += N + 1;
    }
    const double initial = 100 * 2e-7 + 10 * 2e-7;
    for (int c = 0; c < R; ++c) {
        // The scheme conserves the amount exactly; what remains is rounding over ~130 steps
        // and the 15 digits of y.vec: 1e-12 relative leaves a wide margin.
        EXPECT_NEAR(total[c], initial, 1e-12 * initial) << "component " << c + 1;
        // ... and the salt did move: the first layer lost a visible share of its 2e-5.
        EXPECT_LT(firstLayer[c], 0.9 * 100 * 2e-7) << "component " << c + 1;
    }
}

// The same salt at the same concentration everywhere, and a membrane with fixed sites that
// is mirror-symmetric between two equal solutions: no potential in either. In the second
// the Donnan potentials at the two interfaces (tens of millivolts each) cancel.
TEST(EndToEnd, MembraneAtEquilibriumKeepsZeroPotential) {
    for (const char* name : {"equilibrium", "donnan"}) {
        testutil::ScratchDir dir;
        const auto r = run_data_file(dir, TAVOLINE_TEST_DATA, name);
        ASSERT_EQ(r.status, 0) << r.output;
        const auto pots = step_potentials(r.output);
        ASSERT_GE(pots.size(), 2u) << name;
        EXPECT_EQ(pots.front(), 0) << name;  // uniform start, zero field
        // The grid and the equations are mirror images of each other, so only rounding
        // separates the two sides: 1e-9 mV is far above it and far below any physics.
        for (double p : pots) EXPECT_LT(std::fabs(p), 1e-9) << name;
    }
    // The symmetric membrane does build space charge inside: its field is not zero.
    testutil::ScratchDir dir;
    ASSERT_EQ(run_data_file(dir, TAVOLINE_TEST_DATA, "donnan").status, 0);
    std::istringstream rows(testutil::read_file(dir.path() / "donnan" / "xwyn.dat"));
    std::string header, first;
    std::getline(rows, header);
    std::getline(rows, first);
    EXPECT_GT(std::fabs(numbers_in(first).at(1)), 1e6);  // V/m at the left edge
}

// A layer of one 1:1 salt between 100 and 10 mol/m^3 with fast transfer at both edges
// reaches the linear steady profile, and the potential of the right edge against the left
// is the diffusion potential (RT/F) (D+ - D-)/(D+ + D-) ln(c1/c2).
TEST(EndToEnd, LiquidJunctionReachesTheDiffusionPotential) {
    testutil::ScratchDir dir;
    const auto r = run_data_file(dir, TAVOLINE_TEST_DATA, "junction");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto pots = step_potentials(r.output);
    ASSERT_FALSE(pots.empty());
    const double RT_F = 8.314 * 298.15 / 96485.3;
    const double Dp = 2e-9, Dm = 1e-9;
    const double expected = 1000 * RT_F * (Dp - Dm) / (Dp + Dm) * std::log(100.0 / 10.0);
    // Measured on this grid type: the error falls from 0.69 mV (N = 20) to 0.063 mV
    // (N = 40) and 0.003 mV (N = 80, used here); the edge offset J/K (K = 10 m/s) is
    // 1e-4 relative. 0.05 mV (0.25 %) bounds both with margin.
    EXPECT_NEAR(pots.back(), expected, 0.05);
}

// The bundled examples run to completion, leave every file of their method, and every
// plot renders with Ghostscript.
TEST(EndToEnd, ExamplesLeaveTheirFilesAndPlotsRender) {
    testutil::ScratchDir dir;
    for (const char* name : {"b", "eis"}) {
        const auto r = run_data_file(dir, TAVOLINE_EXAMPLES, name);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("Step 0: t=0, m_pot=0, t_calc="), std::string::npos);
    }
    const fs::path b = dir.path() / "b";
    for (const char* f : {"xh.dat", "b.cci", "b_TAVO1.cci", "data.html", "ccurve.dat", "tcurve.dat",
                          "curve.ps", "tcurve.ps", "limit.txt"})
        EXPECT_TRUE(fs::exists(b / f)) << f;
    for (const char* point : {"1", "10", "100", "1000", "10000"})
        for (const char* f : {"y.vec", "xwyn.dat", "ywyn.dat", "et.dat", "wyn.ps", "mempot.ps"})
            EXPECT_TRUE(fs::exists(b / point / f)) << point << "/" << f;
    const fs::path eis = dir.path() / "eis";
    for (const char* point : {"1", "10"}) {
        for (const char* f : {"spectrum.dat", "spectrum.ps", "et.dat"})
            EXPECT_TRUE(fs::exists(eis / point / f)) << point << "/" << f;
        for (const char* f : {"y.vec", "xwyn.dat", "ywyn.dat", "et.dat", "wyn.ps", "mempot.ps"})
            EXPECT_TRUE(fs::exists(eis / point / "spectrum" / f)) << point << "/spectrum/" << f;
    }

    if (!testutil::has_ghostscript()) GTEST_SKIP() << "no Ghostscript";
    int rendered = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        if (entry.path().extension() != ".ps") continue;
        const testutil::RunResult r = testutil::render_postscript(entry.path(), "/dev/null", 20);
        EXPECT_EQ(r.status, 0) << entry.path() << "\n" << r.output;
        EXPECT_EQ(r.output.find("Error"), std::string::npos) << entry.path() << "\n" << r.output;
        ++rendered;
    }
    EXPECT_GE(rendered, 5 * 2 + 2 + 2 * 2 * 2 + 2 * 1);
}
