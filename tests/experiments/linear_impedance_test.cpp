// The linear-response spectrum through the whole run path (input text, set-up, operating
// point, Jacobian, solver, potential), on a stack whose impedance is known in closed form:
// in the diffusion-only model the field of each layer only integrates the applied current,
// so a stack of layers is a series of capacitors, Z = sum_l d_l / (i omega epsilon_l).
// Both solver paths must give it at every frequency, and must agree with each other on a
// Nernst-Planck-Poisson layer too: the banded path keeps the conserved combinations as
// algebraic rows of the band, the dense path eliminates them and reduces the rest to
// Hessenberg form, two independent ways to the same response.
#include "experiments/linear_impedance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "driver/calibration_loop.h"
#include "driver/problem_source.h"
#include "test_util.h"

namespace {

const char* kCapacitorStack = R"(#TAVO2
-- Model (0=Nernst-Planck-Poisson, 1=Fickian Diffusion only):
1
-- Electrochemical Method (0-Potentiometry, 1- EIS, 2 - Chronopotentiometry) and value of current density [A/(m^2)]:
1 0.5
-- n - number of layers (phases):
2
-- d [layers] (thicknesses of the respective layers [m]):
1e-05 3e-05
-- epsilon [layers] (dielectric constant [C^2/(J*m)] in each layer, e.g. vacuum 8.85419e-12):
1e-10 4e-10
-- complexing [layers] (0=no, 1=boundary only, 2=full complexing):
0 0
-- T (absolute temperature [K]):
298.15
-- tEnd (duration of every calibration point [s]):
1
-- R (number of components):
2
-- calibration curve parameters(target layer, changed ion number, opposite ion number, number of calibration points):
0 1 2 1
-- calibration curve points(multiplier for each point):
1
--------------------------------------------------------------------
---- Component 1-----------------------------------------------
Diffusivity [layers]     : 1e-11 1e-11
Ion charge               : 1
Concentrations [layers+2]: 10 10 10 10
Kif [layers+1]           : 0.001 0.001 0.001
Kib [layers+1]           : 0.001 0.001 0.001
reactive with ligand     : 0
---- Component 2-----------------------------------------------
Diffusivity [layers]     : 1e-11 1e-11
Ion charge               : -1
Concentrations [layers+2]: 10 10 10 10
Kif [layers+1]           : 0.001 0.001 0.001
Kib [layers+1]           : 0.001 0.001 0.001
reactive with ligand     : 0
--------------------------------------------------------------------
-- tolerances (absolute and relative):
1e-12 1e-06
-- xs, ts, cmax, emax, h_min (in [m]) // (0=authomatic) :
0 0 0 0 1e-7
-- grid_type [layers]:
0 0
-- N [layers] (number of points in discretization):
30 30
-- m [layers] (number of points in Debye length):
4 4
-- Load initial concentration from file y.vec (1-Yes, 0-No);
0
-- Generate PostScript Files (1-Yes, 0-No);
0
)";

TEST(LinearImpedance, CapacitorStackOnBothPathsAtEveryFrequency) {
    for (const SolverPath path : {SolverPath::banded, SolverPath::dense}) {
        RunOptions options;
        options.writeFiles = false;
        options.quiet = true;
        options.announce = false;
        options.impedance = ImpedanceSpectra::linear;
        options.path = path;
        NullSink quiet;
        options.sink = &quiet;
        model md;
        const RunSummary run =
            run_calibration(md, ProblemSource{"stack", kCapacitorStack, "stack.cci"}, options);
        ASSERT_EQ(run.points.size(), 1u);
        ASSERT_TRUE(run.points[0].linearSpectrum);
        EXPECT_FALSE(run.points[0].currentStep);  // linear alone runs no current step
        const PointTraces& t = run.traces.points.at(0);
        ASSERT_EQ(t.linearFrequency.size(), 2777u);
        const double elastance = 1e-5 / 1e-10 + 3e-5 / 4e-10;  // sum d / epsilon [V m / C]
        double worst = 0;
        for (std::size_t k = 0; k < t.linearFrequency.size(); ++k) {
            const double omega = 2 * std::numbers::pi * t.linearFrequency[k];
            const std::complex<double> z(t.linearZReal[k], -t.linearZImaginaryNegative[k]);
            const std::complex<double> expected = elastance / std::complex<double>(0, omega);
            worst = std::max(worst, std::abs(z - expected) / std::abs(expected));
        }
        // exact arithmetic gives the closed form; what is left is rounding of the scaled
        // system (and of the finite differences of rows that are zero here)
        EXPECT_LT(worst, 1e-12) << solver_path_name(path);
    }
}

TEST(LinearImpedance, BandedAndDensePathsAgreeOnABlockedAnionLayer) {
    const std::string path = TAVOLINE_TEST_DATA "/blocked_anion.cci";
    std::vector<PointTraces> spectra;
    for (const SolverPath solver : {SolverPath::banded, SolverPath::dense}) {
        RunOptions options;
        options.writeFiles = false;
        options.quiet = true;
        options.announce = false;
        options.debyeGrid = true;  // a small grid: the dense path costs n^2 per frequency
        options.impedance = ImpedanceSpectra::linear;
        options.path = solver;
        NullSink quiet;
        options.sink = &quiet;
        model md;
        spectra.push_back(run_calibration(md, ProblemSource{"blocked_anion", testutil::read_file(path), path},
                                          options)
                              .traces.points.at(0));
    }
    ASSERT_EQ(spectra[0].linearFrequency.size(), 2777u);
    ASSERT_EQ(spectra[1].linearFrequency.size(), 2777u);
    double worst = 0;
    for (std::size_t k = 0; k < 2777; ++k) {
        const std::complex<double> a(spectra[0].linearZReal[k], spectra[0].linearZImaginaryNegative[k]);
        const std::complex<double> b(spectra[1].linearZReal[k], spectra[1].linearZImaginaryNegative[k]);
        worst = std::max(worst, std::abs(a - b) / std::abs(b));
    }
    // The two Jacobians' finite differences differ (grouped columns against single ones) by
    // about 1e-8 of their entries, and so do the spectra (4e-8 at worst).
    EXPECT_LT(worst, 1e-6);
}

// A 1 um layer of a 1:1 salt between equal solutions (validation/impedance_bulk.cci),
// with loose tolerances (rtol 1e-6). With fast transfer (K = 1 m/s) it is its bulk
// resistance in parallel with its geometric capacitance, one arc of time constant 0.27 us,
// which the integrator crosses in steps of 0.15 to 0.4 of it: the step spectrum is off by
// 30 % at 1e8 rad/s, below 1/(first step), and only by the chords between its samples, so
// the band must end before and no warning be given. With slow transfer (K = 1e-6 m/s) a
// charge-transfer arc of ms follows; a transient of tEnd = 0.1 ms is cut off long before
// it settles, and that must still be reported.
const char* kBulkLayer = R"(#TAVO2
-- Model (0=Nernst-Planck-Poisson, 1=Fickian Diffusion only):
0
-- Electrochemical Method (0-Potentiometry, 1- EIS, 2 - Chronopotentiometry) and value of current density [A/(m^2)]:
1 1
-- n - number of layers (phases):
1
-- d [layers] (thicknesses of the respective layers [m]):
1e-06
-- epsilon [layers] (dielectric constant [C^2/(J*m)] in each layer, e.g. vacuum 8.85419e-12):
3e-10
-- complexing [layers] (0=no, 1=boundary only, 2=full complexing):
0
-- T (absolute temperature [K]):
298.15
-- tEnd (duration of every calibration point [s]):
0.0001
-- R (number of components):
2
-- calibration curve parameters(target layer, changed ion number, opposite ion number, number of calibration points):
0 1 2 1
-- calibration curve points(multiplier for each point):
1
--------------------------------------------------------------------
---- Component 1-----------------------------------------------
Diffusivity [layers]     : 2e-11
Ion charge               : 1
Concentrations [layers+2]: 10 10 10
Kif [layers+1]           : K K
Kib [layers+1]           : K K
reactive with ligand     : 0
---- Component 2-----------------------------------------------
Diffusivity [layers]     : 1e-11
Ion charge               : -1
Concentrations [layers+2]: 10 10 10
Kif [layers+1]           : K K
Kib [layers+1]           : K K
reactive with ligand     : 0
--------------------------------------------------------------------
-- tolerances (absolute and relative):
1e-12 1e-06
-- xs, ts, cmax, emax, h_min (in [m]) // (0=authomatic) :
0 0 0 0 0
-- grid_type [layers]:
0
-- N [layers] (number of points in discretization):
40
-- m [layers] (number of points in Debye length):
3
-- Load initial concentration from file y.vec (1-Yes, 0-No);
0
-- Generate PostScript Files (1-Yes, 0-No);
0
)";

// The bulk layer with transfer rate constant `transfer` [m/s], step and linear spectra.
RunSummary run_bulk_layer(const std::string& transfer) {
    std::string text = kBulkLayer;
    for (std::size_t at = text.find(" K"); at != std::string::npos; at = text.find(" K", at))
        text.replace(at + 1, 1, transfer);
    RunOptions options;
    options.writeFiles = false;
    options.quiet = true;
    options.announce = false;
    options.debyeGrid = true;  // 125 unknowns; the arcs do not depend on the grid
    NullSink quiet;
    options.sink = &quiet;
    model md;
    return run_calibration(md, ProblemSource{"bulk", text, "bulk.cci"}, options);
}

bool warns_of_disagreement(const PointSummary& p) {
    return std::any_of(p.warnings.begin(), p.warnings.end(), [](const std::string& w) {
        return w.find("step and linear spectra differ") != std::string::npos;
    });
}

TEST(LinearImpedance, StepBandEndsWhereTheTransientIsResolved) {
    const RunSummary run = run_bulk_layer("1");
    ASSERT_EQ(run.points.size(), 1u);
    const PointSummary& p = run.points[0];
    ASSERT_TRUE(p.linearSpectrum && p.linearSpectrum->agreement);
    EXPECT_FALSE(warns_of_disagreement(p));
    // cut where the chords fail (2.4e7 rad/s), not at the arc: its apex is at 1/tau = 3.8e6
    EXPECT_GT(p.linearSpectrum->agreement->bandHigh, 3 / 2.66e-7);
}

TEST(LinearImpedance, TransientCutOffBeforeTheSlowArcSettlesIsReported) {
    const RunSummary run = run_bulk_layer("1e-6");
    ASSERT_EQ(run.points.size(), 1u);
    const PointSummary& p = run.points[0];
    ASSERT_TRUE(p.linearSpectrum && p.linearSpectrum->agreement);
    // 16 % at the band's low end, 10 / tEnd
    EXPECT_TRUE(warns_of_disagreement(p));
}

}  // namespace
