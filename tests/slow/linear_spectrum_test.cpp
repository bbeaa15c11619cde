// The impedance of the linearised system against what it did not compute with:
// - a layer of a binary electrolyte whose cation crosses both interfaces freely and whose
//   anion is blocked (tests/data/blocked_anion.cci) has, for small signals, the bulk arc
//   R_b || C_g in series with the finite-length diffusion impedance of the salt,
//     Z = R_b / (1 + i w R_b C_g) + R_b (t-/t+) tanh(sqrt(i w tau)) / sqrt(i w tau),
//   R_b = L RT / (F^2 c0 (D+ + D-)), C_g = eps / L, tau = L^2 / (4 D_s),
//   D_s = 2 D+ D- / (D+ + D-), whose Warburg apex lies at w tau = 2.54 and whose dc limit
//   is R_b / t+. The linear spectrum must match it within 0.5 % at every frequency (it does
//   within 0.1 %: the closed form itself neglects the space charge at the edges, of order
//   Debye length / L = 1e-4, and the grid adds its share), and the step spectrum must
//   agree with the linear one inside the band where the step method holds;
// - the bundled impedance example, through the program: both spectra on the Nyquist figure,
//   their agreement inside the band in summary.json.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <numbers>
#include <string>

#include "driver/calibration_loop.h"
#include "driver/problem_source.h"
#include "test_util.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::complex<double> blocked_anion_impedance(double omega) {
    const double F = 96485.33212, RT = 8.314462618 * 298.15;
    const double c0 = 1, Dp = 1e-9, Dm = 2e-9, L = 1e-4, eps = 6.95e-10;
    const double Rb = L * RT / (F * F * c0 * (Dp + Dm));
    const double Cg = eps / L;
    const double tp = Dp / (Dp + Dm);
    const double tau = L * L / (4 * (2 * Dp * Dm / (Dp + Dm)));
    const std::complex<double> x = std::sqrt(std::complex<double>(0, omega * tau));
    return Rb / (1.0 + std::complex<double>(0, omega * Rb * Cg)) + Rb * (1 - tp) / tp * std::tanh(x) / x;
}

TEST(LinearSpectrum, BlockedAnionLayerMatchesTheClosedFormAndTheStepSpectrum) {
    const std::string path = TAVOLINE_TEST_DATA "/blocked_anion.cci";
    RunOptions options;
    options.writeFiles = false;
    options.quiet = true;
    options.announce = false;
    NullSink quiet;
    options.sink = &quiet;
    model md;
    const RunSummary run = run_calibration(
        md, ProblemSource{"blocked_anion", testutil::read_file(path), path}, options);
    ASSERT_EQ(run.status, "finished");
    const PointTraces& t = run.traces.points.at(0);
    ASSERT_EQ(t.linearFrequency.size(), 2777u);
    double worst = 0, apexOmega = 0, apex = 0;
    for (std::size_t k = 0; k < t.linearFrequency.size(); ++k) {
        const double omega = 2 * std::numbers::pi * t.linearFrequency[k];
        const std::complex<double> z(t.linearZReal[k], -t.linearZImaginaryNegative[k]);
        const std::complex<double> expected = blocked_anion_impedance(omega);
        worst = std::max(worst, std::abs(z - expected) / std::abs(expected));
        if (omega < 100 && t.linearZImaginaryNegative[k] > apex) {
            apex = t.linearZImaginaryNegative[k];
            apexOmega = omega;
        }
    }
    EXPECT_LT(worst, 0.005);
    // the diffusion arc's apex at w tau = 2.54 (tau = 1.875 s), to the 1 % grid spacing
    EXPECT_NEAR(apexOmega * 1.875, 2.5406, 0.03);
    const LinearSpectrumSummary& s = *run.points.at(0).linearSpectrum;
    EXPECT_TRUE(s.steady);
    ASSERT_TRUE(s.agreement);
    EXPECT_LT(s.agreement->largestDifference, 0.005);
    EXPECT_GT(s.agreement->frequencies, 1000);
}

TEST(LinearSpectrum, BundledExampleShowsBothSpectraAndTheirAgreement) {
    testutil::ScratchDir dir("eis");
    fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / "eis.cci", dir.path() / "eis.cci");
    const auto r =
        testutil::run_command("cd '" + dir.str() + "' && '" TAVOLINE_EXE "' -q eis </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    const json summary = json::parse(testutil::read_file(dir.path() / "eis/summary.json"));
    EXPECT_EQ(summary.at("status"), "finished");
    for (const json& p : summary.at("points")) {
        const json& l = p.at("linear_spectrum");
        EXPECT_TRUE(l.at("operating_point").at("steady").get<bool>());
        const json& a = l.at("agreement_with_step");
        EXPECT_LT(a.at("largest_relative_difference").get<double>(), 0.05) << a.dump();
        const std::string csv = testutil::read_file(dir.path() / "eis" / l.at("file").get<std::string>());
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2778);
    }
    const std::string nyquist = testutil::read_file(dir.path() / "eis/figures/nyquist.svg");
    EXPECT_NE(nyquist.find("c = 0.01 mol/L, step"), std::string::npos);
    EXPECT_NE(nyquist.find("c = 0.01 mol/L, linear"), std::string::npos);
}

}  // namespace
