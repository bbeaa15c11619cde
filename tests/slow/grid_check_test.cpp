// Whole runs on problems whose answers are known without the program, for immobile sites
// under automatic scales, for the automatic grid and for the grid check.
//
// donnan_one_edge: a 1 um layer of immobile sites X = 50 mol/m^3 (D = 0) with a 1:1 salt,
// open to a 10 mol/m^3 solution on the left and closed on the right. At rest the cation
// inside is c+ = X/2 + sqrt(X^2/4 + c0^2) = 51.926 mol/m^3 and the potential of the closed
// edge against the open one is the Donnan potential -(RT/F) ln(c+/c0) = -42.319 mV.
// sand_transition: a 50 um layer of a 1:1 salt at c0 = 10 mol/m^3 (D = 1e-9 m^2/s both
// ions, so t+ = 1/2) before a cation-exchange membrane, under i = 200 A/m^2. The salt at the
// membrane is used up at Sand's transition time tau = pi D (c0 F)^2 / (4 (1 - t+)^2 i^2)
// = 0.0731 s; the diffusion length sqrt(D tau) = 8.5 um stays well inside the layer.
// nernst_slope (validation): an ideal cation-selective membrane between a left solution of
// 0.01, 0.1 and 1 mol/m^3 and a right one of 0.1: E = (RT/F) ln(cL/cR), +-59.156 mV at the
// first and last point.
// blocked anion, chronopotentiometry: 10 um of a 1:1 salt at 1 mol/m^3 (D+ = 1e-9,
// D- = 2e-9 m^2/s) whose cation crosses both faces fast and whose anion crosses neither,
// under 1 A/m^2, a fortieth of its limiting current 4 F D+ c0 / L = 38.6 A/m^2. The potential
// settles at the bulk resistance over the cation's transport number (Bruce-Vincent),
// R_b / t+ = 3 L / kappa, kappa = F^2/(RT) (D+ + D-) c0: -2.663 mV; the two transfer
// resistances add 5e-5 mV and the concentration polarisation's nonlinearity 1e-3 relative.
// fick_transient (validation/fick_flux.cci for 0.01 s): 10 um between 100 and 10 mol/m^3,
// D = 1e-9 m^2/s, transfer fast (K = 100 m/s, 2e-6 of the layer's resistance), after a
// tenth of d^2/D. The flux into the layer is J(0,t) = D dc/d (1 + 2 sum exp(-n^2 pi^2 D t/d^2)).
// ion_selective: 1 um of sites X = 1000 mol/m^3 (D = 0) between solutions of 1 mol/m^3;
// the left one raised tenfold moves the potential by the Nernstian RT ln10 / F = 59.159 mV.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "driver/point_warnings.h"
#include "test_util.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr double kRT_F = 8.314 * 298.15 / 96485.3;  // V

testutil::RunResult run_in(const testutil::ScratchDir& dir, const std::string& name,
                           const std::string& text, const std::string& options) {
    testutil::write_file(dir.path() / (name + ".cci"), text);
    return testutil::run_command("cd '" + dir.path().string() + "' && '" TAVOLINE_EXE "' -q " +
                                 options + " " + name + " </dev/null");
}

std::string validation(const std::string& name) {
    return testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/../validation/" + name + ".cci");
}

std::string data(const std::string& name) {
    return testutil::read_file(std::string(TAVOLINE_TEST_DATA) + "/" + name + ".cci");
}

json summary(const testutil::ScratchDir& dir, const std::string& name) {
    return json::parse(testutil::read_file(dir.path() / name / "summary.json"));
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The input with the grid lines N, m and the requested first step h_min [m] replaced (the
// input's own N must be `fromN` and its m `fromM`).
std::string with_grid(std::string text, int N, int m, double h, int fromN = 20, int fromM = 3) {
    const auto replace = [&](const std::string& from, const std::string& to) {
        const auto at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    };
    replace("discretization):\n" + std::to_string(fromN), "discretization):\n" + std::to_string(N));
    replace("Debye length):\n" + std::to_string(fromM), "Debye length):\n" + std::to_string(m));
    std::ostringstream hs;
    hs.precision(17);
    hs << h;
    replace("0 0 0 0 0\n-- grid", "0 0 0 0 " + hs.str() + "\n-- grid");
    return text;
}

// The interval a check reports for the grid-converged value of `value` holds `exact`;
// the estimate from the first two grids alone at the assumed order 2 (v0 + 4/3 (v1 - v0))
// misses it by more than `miss`.
void expect_interval_holds(const json& value, double exact, double miss) {
    const json& v = value["values"];
    ASSERT_EQ(v.size(), 3u) << value;
    const double twoGrid = v[0].get<double>() + 4.0 / 3 * (v[1].get<double>() - v[0].get<double>());
    EXPECT_GT(std::fabs(twoGrid - exact), miss) << value;
    const json& interval = value["estimate"]["interval"];
    ASSERT_TRUE(interval.is_array()) << value;
    EXPECT_LE(interval[0].get<double>(), exact) << value;
    EXPECT_GE(interval[1].get<double>(), exact) << value;
}

const double kDonnan = -1000 * kRT_F * std::log((25 + std::sqrt(625.0 + 100.0)) / 10);  // mV

}  // namespace

TEST(ImmobileSites, NernstianResponseUnderAutomaticScales) {
    testutil::ScratchDir dir;
    const auto r = run_in(dir, "ise", data("ion_selective"), "");
    ASSERT_EQ(r.status, 0) << r.output;
    const json points = summary(dir, "ise")["points"];
    const double slope = points[1]["final_potential_mV"].get<double>() -
                         points[0]["final_potential_mV"].get<double>();
    // Co-ions inside are c0^2/X <= 0.1 mol/m^3: the ideal slope holds to 1e-4 mV. The grid
    // (first step a fortieth of the Debye length) leaves 0.13 mV at N = 60 and 0.16 mV at
    // N = 120 (measured); 0.3 mV bounds it.
    EXPECT_NEAR(slope, 1000 * kRT_F * std::log(10.0), 0.3);
}

TEST(ImmobileSites, NothingMovingIsRefusedWithItsLine) {
    std::string text = data("ion_selective");
    const std::string mobile = "Diffusivity [layers]     : 1e-11";
    for (auto at = text.find(mobile); at != std::string::npos; at = text.find(mobile))
        text.replace(at, mobile.size(), "Diffusivity [layers]     : 0");
    testutil::ScratchDir dir;
    const auto r = run_in(dir, "ise", text, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ise.cci, line 26: Scaling: every component has diffusivity D = 0"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(dir.path() / "ise"));
}

// The default grid of a Donnan edge: refined until the potential agrees within 0.1 mV, on
// the closed form within that, and said so on standard output, in summary.json and in the
// report. The copies of the input keep the input's grid as read.
TEST(AutomaticGrid, DonnanEdgeConvergesToTheClosedForm) {
    testutil::ScratchDir dir;
    const auto r = run_in(dir, "dn", data("donnan_one_edge"), "");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(count(r.output, "Grid error, calibration point 1"), 1) << r.output;
    EXPECT_EQ(count(r.output, "run again with --check-grid"), 0);
    const json s = summary(dir, "dn");
    const double potential = s["points"][0]["final_potential_mV"].get<double>();
    EXPECT_NEAR(potential, kDonnan, 0.1);
    const json& grid = s["grid"];
    EXPECT_TRUE(grid["converged"].get<bool>()) << grid;
    const int used = grid["grid_used"].get<int>();
    EXPECT_EQ(used + 1, static_cast<int>(grid["grids"].size()));
    const json& value = grid["points"][0]["final_potential_mV"];
    EXPECT_EQ(value["values"][used].get<double>(), potential);
    EXPECT_LE(value["estimate"]["interval"][0].get<double>(), kDonnan);
    EXPECT_GE(value["estimate"]["interval"][1].get<double>(), kDonnan);
    const int N = grid["grids"][used]["layers"][0]["N"].get<int>();
    EXPECT_GT(N, 20);
    // xh.dat holds the grid used, N + 2 lines; the copy of the input the grid as read.
    EXPECT_EQ(count(testutil::read_file(dir.path() / "dn" / "xh.dat"), "\n"), N + 2);
    EXPECT_NE(testutil::read_file(dir.path() / "dn" / "dn.cci").find("discretization):\n20\n"),
              std::string::npos);
    EXPECT_NE(testutil::read_file(dir.path() / "dn" / "report.html").find("<table id=\"grid\">"),
              std::string::npos);
}

// Three grids and the observed order give an interval that holds the closed form where the
// estimate from one halving at an assumed order misses it: a Donnan edge on 12 cells, and
// the last point of an ideal ion-selective membrane whose edge turns from depletion to
// accumulation.
TEST(GridCheck, IntervalHoldsTheClosedFormWhereOneHalvingMisses) {
    testutil::ScratchDir donnan, nernst;
    const auto d =
        run_in(donnan, "dn", with_grid(data("donnan_one_edge"), 12, 2, 1e-10), "--check-grid");
    ASSERT_EQ(d.status, 0) << d.output;
    const json dp = summary(donnan, "dn")["grid_check"]["points"][0];
    expect_interval_holds(dp["final_potential_mV"], kDonnan, 0.5);
    EXPECT_FALSE(dp["converged"].get<bool>());  // the run's value itself is 15 mV off

    const auto n = run_in(
        nernst, "ns", with_grid(validation("nernst_slope"), 160, 3, 6e-11, 160, 4), "--check-grid");
    ASSERT_EQ(n.status, 0) << n.output;
    const json np = summary(nernst, "ns")["grid_check"]["points"][2];
    expect_interval_holds(np["final_potential_mV"], 1000 * kRT_F * std::log(10.0), 0.1);
    EXPECT_EQ(count(n.output, "points are not within the target of the grid limit"), 1) << n.output;
}

// On the Debye-length first step a charged edge is far from the asymptotic range: the check
// says so instead of giving a number, and leaves the run folder as a run without it does.
TEST(GridCheck, DebyeGridOfAChargedEdgeIsNotInTheAsymptoticRange) {
    testutil::ScratchDir plain, checked;
    const auto p = run_in(plain, "dn", data("donnan_one_edge"), "--debye-grid");
    const auto c = run_in(checked, "dn", data("donnan_one_edge"), "--debye-grid --check-grid");
    ASSERT_EQ(p.status, 0) << p.output;
    ASSERT_EQ(c.status, 0) << c.output;
    EXPECT_EQ(count(p.output, "run again with --check-grid"), 1);
    EXPECT_EQ(count(c.output, "not in the asymptotic range"), 1) << c.output;
    EXPECT_EQ(count(c.output, "NOT CONVERGED"), 1) << c.output;
    const json point = summary(checked, "dn")["grid_check"]["points"][0];
    EXPECT_TRUE(point["final_potential_mV"]["estimate"]["interval"].is_null());
    // The check's verdict is the point's warning; the run without it says that no study
    // judged its grid, and so do its standard output and its page.
    EXPECT_EQ(summary(plain, "dn")["points"][0]["warnings"], json::array({kGridNotChecked}));
    EXPECT_EQ(count(p.output, std::string("  point 1: ") + kGridNotChecked), 1) << p.output;
    EXPECT_EQ(count(c.output, "grid not checked"), 0) << c.output;
    EXPECT_NE(testutil::read_file(plain.path() / "dn" / "report.html").find("grid not checked"),
              std::string::npos);
    EXPECT_EQ(summary(checked, "dn")["status"], "finished with warnings");
    EXPECT_EQ(summary(checked, "dn")["points"][0]["warnings"][0],
              "grid not converged: the grid check does not find the run's results within its "
              "targets of the grid-converged ones");
    for (const auto& entry : fs::recursive_directory_iterator(plain.path() / "dn")) {
        const fs::path rel = fs::relative(entry.path(), plain.path());
        // Files with calculation times (et.dat, the summaries, the pages) differ anyway.
        const std::string ext = rel.extension().string();
        if (!entry.is_regular_file() || (ext != ".dat" && ext != ".vec") ||
            rel.filename() == "et.dat")
            continue;
        EXPECT_EQ(testutil::read_file(entry.path()), testutil::read_file(checked.path() / rel))
            << rel;
    }
    EXPECT_EQ(summary(plain, "dn")["files"], summary(checked, "dn")["files"]);

    // A point whose integration fails gets the advice once.
    testutil::ScratchDir failing;
    const auto f = run_in(failing, "fail", testutil::failing_input(), "--debye-grid");
    EXPECT_EQ(f.status, 2);
    EXPECT_EQ(count(f.output,
                    "Calibration point 1: the integration failed; the grid may be too "
                    "coarse for this problem. Run again with --check-grid"),
              1)
        << f.output;
}

// An impedance run: the check repeats the current step too; its value on the run's grid is
// the spectrum's own lowest-frequency Z'.
TEST(GridCheck, ImpedanceRunsCompareTheLowFrequencyResistance) {
    testutil::ScratchDir dir;
    const auto r =
        run_in(dir, "eis", testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/eis.cci"),
               "--debye-grid --check-grid");
    ASSERT_EQ(r.status, 0) << r.output;
    const json run = summary(dir, "eis");
    const json& points = run["grid_check"]["points"];
    ASSERT_EQ(points.size(), 2u);
    for (std::size_t k = 0; k < points.size(); ++k) {
        const json& z = points[k]["low_frequency_Zprim"];
        ASSERT_TRUE(z.is_object()) << points[k];
        std::istringstream spectrum(testutil::read_file(
            dir.path() / "eis" / run["points"][k]["spectrum"].get<std::string>()));
        std::string header;
        double omega = 0, zprim = 0;
        std::getline(spectrum, header);
        spectrum >> omega >> zprim;
        // the table keeps 15 significant digits
        EXPECT_NEAR(z["values"][0].get<double>(), zprim, 1e-13 * zprim);
        EXPECT_EQ(z["values"].size(), 3u);
        EXPECT_TRUE(points[k]["apex_frequency_Hz"].is_object());
    }
}

// Chronopotentiometry above the limiting current: the transition is found at Sand's time,
// and the part after it, where successive grids disagree, is marked as not resolved
// instead of holding up the grid. The transition's steep rise starts shortly before the
// concentration reaches zero (found 0.6 % early); 2 % holds that and the finite rate of
// transfer.
// The grid the study expects to be its last is run once, writing its files. Where it is
// not the last after all (here the chronopotentiometry example's potentials change at the
// integrator's noise, 1e-8 mV, which the first two grids take for convergence), the
// refinement goes on and the run is repeated: the files then hold the finest grid's
// results, those the study reports on it.
TEST(AutomaticGrid, ExpectedLastGridThatIsNotIsRunAgainOnTheFinestReached) {
    testutil::ScratchDir dir;
    const auto r =
        run_in(dir, "chrono", testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/chrono.cci"),
               "--accuracy 1e-8");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(count(r.output, "the run proper goes on it, writing its files"), 1) << r.output;
    EXPECT_EQ(count(r.output, "The results still change: the refinement goes on"), 1);
    EXPECT_EQ(count(r.output, "** iteration number 1\n"), 2);
    const json s = summary(dir, "chrono");
    const json& grid = s["grid"];
    const int used = grid["grid_used"].get<int>();
    EXPECT_EQ(used + 1, static_cast<int>(grid["grids"].size()));
    EXPECT_GT(used, 2);
    for (std::size_t p = 0; p < s["points"].size(); ++p)
        EXPECT_EQ(s["points"][p]["final_potential_mV"].get<double>(),
                  grid["points"][p]["final_potential_mV"]["values"][used].get<double>());
    const int N = grid["grids"][used]["layers"][0]["N"].get<int>();
    EXPECT_EQ(count(testutil::read_file(dir.path() / "chrono" / "xh.dat"), "\n"), N + 2);
}

// A liquid junction integrated with tolerances too loose for the target of 0.01 mV: its
// final potential moves by 0.002 mV on the first grid when they are ten times tighter, more
// than the eighth of the target the grid is judged to. The study takes the tighter ones,
// which move it by 0.0003 mV only when tightened again, and the run proper uses them too:
// it gives, bit for bit, what the same input with the tighter tolerances written in it
// gives (a tolerance one rounding apart moves the potential by as much as its time error).
// The copies of the input keep its own tolerances.
TEST(AutomaticGrid, ToleranceTooLooseForTheTargetIsTightened) {
    const auto with_tolerances = [](double atol, double rtol) {
        std::ostringstream line;
        line.precision(17);
        line << atol << " " << rtol;
        std::string text = data("junction");
        const auto at = text.find("\n1e-10 1e-06\n");
        EXPECT_NE(at, std::string::npos);
        return text.replace(at + 1, 11, line.str());
    };
    testutil::ScratchDir dir, tight;
    const auto r = run_in(dir, "lj", with_tolerances(1e-5, 0.1), "--accuracy 0.01");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(count(r.output, "the study takes the tighter ones and checks them in turn"), 1)
        << r.output;
    const auto t = run_in(tight, "lj", with_tolerances(1e-5 / 10, 0.1 / 10), "--accuracy 0.01");
    ASSERT_EQ(t.status, 0) << t.output;
    const json s = summary(dir, "lj");
    const json& grid = s["grid"];
    EXPECT_TRUE(grid["converged"].get<bool>()) << grid;
    EXPECT_EQ(grid["tolerance_divisor"].get<double>(), 10);
    EXPECT_EQ(grid["atol"].get<double>(), 1e-5 / 10);
    EXPECT_EQ(grid["rtol"].get<double>(), 0.1 / 10);
    EXPECT_LE(grid["time_error_mV"].get<double>(), 0.01 / 8);
    EXPECT_EQ(summary(tight, "lj")["grid"]["tolerance_divisor"].get<double>(), 1);
    EXPECT_EQ(s["points"][0]["final_potential_mV"].get<double>(),
              summary(tight, "lj")["points"][0]["final_potential_mV"].get<double>());
    EXPECT_NE(testutil::read_file(dir.path() / "lj" / "lj.cci").find("\n1e-05 0.1\n"),
              std::string::npos);
}

TEST(AutomaticGrid, ChronopotentiogramPastTheTransitionIsNotResolved) {
    testutil::ScratchDir dir;
    const auto r = run_in(dir, "sand", data("sand_transition"), "");
    ASSERT_EQ(r.status, 0) << r.output;
    const double F = 96485.3, c0 = 10, D = 1e-9, i = 200;
    const double sand = M_PI * D * (c0 * F) * (c0 * F) / (4 * 0.25 * i * i);
    const json point = summary(dir, "sand")["grid"]["points"][0];
    ASSERT_TRUE(point["transition_time_s"].is_number()) << point;
    EXPECT_NEAR(point["transition_time_s"].get<double>(), sand, 0.02 * sand);
    ASSERT_TRUE(point["not_resolved_from_s"].is_number()) << point;
    EXPECT_GT(point["not_resolved_from_s"].get<double>(), point["transition_time_s"].get<double>());
    EXPECT_TRUE(point["converged"].get<bool>());
    EXPECT_EQ(count(r.output, "the chronopotentiogram is not resolved from t = "), 1) << r.output;
}

// A chronopotentiogram that settles has no transition: it is judged whole. On a first step
// of 10 nm the blocked-anion layer ends 0.55 mV from the closed form, which the check's
// interval holds; it says NOT CONVERGED and which samples miss.
TEST(GridCheck, SettlingChronopotentiogramIsJudgedWhole) {
    std::string text = data("blocked_anion");
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"\n1 0.01\n", "\n2 1\n"},
                                   {"\n1e-04\n", "\n1e-05\n"},
                                   {"\n20\n", "\n0.2\n"}}) {
        const auto at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    }
    testutil::ScratchDir dir;
    const auto r = run_in(dir, "ba", with_grid(text, 40, 4, 1e-8, 40, 4), "--check-grid");
    ASSERT_EQ(r.status, 0) << r.output;
    const json point = summary(dir, "ba")["grid_check"]["points"][0];
    EXPECT_TRUE(point["transition_time_s"].is_null()) << point;
    EXPECT_FALSE(point["converged"].get<bool>());
    EXPECT_EQ(count(r.output,
                    "the chronopotentiogram is not within 0.1 mV of its grid-converged "
                    "values at 20 of 20 times; NOT CONVERGED"),
              1)
        << r.output;
    const double closed = -3000 * 1e-5 / (96485.3 / kRT_F * 3e-9);  // mV at 1 A/m^2
    const json& last = point["chronopotentiogram"].back();
    EXPECT_GT(std::fabs(last["values_mV"][0].get<double>() - closed), 0.5) << last;
    // the interval holds the closed form within its nonlinearity, 3e-3 mV
    EXPECT_LE(last["estimate"]["interval"][0].get<double>(), closed + 3e-3) << last;
    EXPECT_GE(last["estimate"]["interval"][1].get<double>(), closed - 3e-3) << last;
}

// The diffusion-only model's potentials are 0 on every grid; its grid is judged by the
// interface fluxes and the concentration profiles. The automatic grid converges to the
// closed-form flux within its target; a coarse grid the check calls NOT CONVERGED.
TEST(GridCheck, DiffusionOnlyModelIsJudgedByItsFluxes) {
    std::string text = validation("fick_flux");
    const auto at = text.find("\n2.0\n");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 5, "\n0.01\n");
    testutil::ScratchDir automatic, coarse;
    const auto a = run_in(automatic, "fk", text, "");
    ASSERT_EQ(a.status, 0) << a.output;
    const json grid = summary(automatic, "fk")["grid"];
    EXPECT_TRUE(grid["converged"].get<bool>()) << grid;
    const json& flux = grid["points"][0]["interface_fluxes"][0];  // interface 0, component 1
    ASSERT_EQ(flux["interface"], 0);
    ASSERT_EQ(flux["component"], 1);
    const double D = 1e-9, d = 1e-5, t = 0.01;
    double series = 1;
    for (int n = 1; n < 20; ++n) series += 2 * std::exp(-n * n * M_PI * M_PI * D * t / (d * d));
    const double exact = D * 90 / d * series;
    EXPECT_NEAR(flux["values_mol_per_m2_s"][grid["grid_used"].get<int>()].get<double>(), exact,
                flux["target_mol_per_m2_s"].get<double>());
    EXPECT_NEAR(flux["target_mol_per_m2_s"].get<double>(), 0.00389 * exact, 1e-3 * 0.00389 * exact);

    const auto c = run_in(coarse, "fk", with_grid(text, 20, 3, 1e-7, 40, 3), "--check-grid");
    ASSERT_EQ(c.status, 0) << c.output;
    const json point = summary(coarse, "fk")["grid_check"]["points"][0];
    EXPECT_EQ(point["final_potential_mV"]["values"], json::array({0.0, 0.0, 0.0}));
    EXPECT_FALSE(point["converged"].get<bool>()) << point;
    EXPECT_EQ(count(c.output, "NOT CONVERGED"), 1) << c.output;
}
