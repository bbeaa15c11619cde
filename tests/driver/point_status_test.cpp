// What a run says of each point and of itself: a point in the middle of a calibration
// whose integration fails (tests/data/dilute_chain.cci at a multiplier of 1000, where the
// state goes beyond the dilute range) must leave the points after it starting from the
// last good state and keep the calibration line off its potential, and the automatic
// grid's study must stop at such a point on its first grid; a point cut short (tEnd of
// 5 ns, while the diffusion potential across the layer builds up over some 20 ns) must be
// reported as not steady, ending with status 0, or 4 under --strict; an input implying
// concentrations beyond the dilute range is refused before anything is written.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "driver/point_warnings.h"
#include "test_util.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

json summary_of(const fs::path& run) {
    std::ifstream in(run / "summary.json");
    return json::parse(in);
}

// An input of tests/data (one calibration point at multiplier `single`, tEnd 0.01 s) with
// the given calibration points (left solution, ion 1) and duration of every point.
std::string calibration_input(const std::string& multipliers, int count,
                              const std::string& tEnd = "0.01",
                              const std::string& file = "equilibrium.cci",
                              const std::string& single = "1") {
    std::string text = testutil::read_file(std::string(TAVOLINE_TEST_DATA) + "/" + file);
    const auto replace = [&](const std::string& from, const std::string& to) {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
    };
    replace("0 1 2 1\n-- calibration curve points(multiplier for each point):\n" + single + "\n",
            "0 1 2 " + std::to_string(count) +
                "\n-- calibration curve points(multiplier for each point):\n" + multipliers + "\n");
    replace("[s]):\n0.01\n", "[s]):\n" + tEnd + "\n");
    return text;
}

}  // namespace

TEST(PointStatus, AFailedPointIsNeitherTheNextStartNorPartOfTheCalibrationLine) {
    testutil::ScratchDir dir;
    const auto chain = [](const std::string& multipliers, int count) {
        return calibration_input(multipliers, count, "0.01", "dilute_chain.cci", "1000");
    };
    testutil::write_file(dir.path() / "mid.cci", chain("1 10 1000 100 50 20", 6));
    testutil::write_file(dir.path() / "good.cci", chain("1 10 100 50 20", 5));
    const auto r = testutil::run_program(dir.path(), "mid");
    ASSERT_EQ(r.status, 2) << r.output;
    ASSERT_EQ(testutil::run_program(dir.path(), "good").status, 0);
    EXPECT_NE(r.output.find("Calibration point 4 starts from the final state of calibration "
                            "point 2, not from the state of the failed point 3."),
              std::string::npos)
        << r.output;

    const json mid = summary_of(dir.path() / "mid");
    const json good = summary_of(dir.path() / "good");
    ASSERT_EQ(mid["points"].size(), 6u);
    EXPECT_EQ(mid["points"][2]["status"], "failed");
    EXPECT_EQ(mid["points"][2]["potentiometric"]["failure"].get<std::string>().rfind(
                  "outside the dilute range: component 1 reached 5", 0),
              0u)
        << mid["points"][2];
    EXPECT_FALSE(mid["points"][2].contains("started_from_point"));
    EXPECT_EQ(mid["points"][3]["started_from_point"], 2);
    EXPECT_FALSE(mid["points"][4].contains("started_from_point"));
    // Started from point 2's state, points 4 to 6 repeat points 3 to 5 of the run without
    // the failing point, step for step (the same operations on the same numbers).
    // (On the Debye-length grid both runs share; no study judges it, and every point says so.)
    for (int i = 3; i < 6; ++i) {
        EXPECT_EQ(mid["points"][i]["warnings"], json::array({kGridNotChecked})) << i;
        EXPECT_NEAR(mid["points"][i]["final_potential_mV"].get<double>(),
                    good["points"][i - 1]["final_potential_mV"].get<double>(), 1e-9)
            << i;
    }

    // No line through a failed point: no limit.txt, and both summaries say why.
    EXPECT_TRUE(good["calibration"].is_object());
    EXPECT_TRUE(mid["calibration"].is_null());
    EXPECT_EQ(mid["calibration_missing"],
              "calibration point 3 did not finish, so no reference line, slope or detection "
              "limit is computed");
    EXPECT_FALSE(fs::exists(dir.path() / "mid" / "limit.txt"));
    const std::string page = testutil::read_file(dir.path() / "mid" / "report.html");
    EXPECT_NE(page.find("<p id=\"calibration_missing\" class=\"failed\">Not given: calibration "
                        "point 3 did not finish"),
              std::string::npos);
    // The curve holds the five points that finished, in order.
    const std::string curve = testutil::read_file(dir.path() / "mid" / "ccurve.dat");
    EXPECT_EQ(curve.find("\n1000 "), std::string::npos) << curve;
    EXPECT_NE(curve.find("\n10 "), std::string::npos) << curve;
    EXPECT_NE(curve.find("\n100 "), std::string::npos) << curve;
}

TEST(PointStatus, ADriftingPotentialIsNotSteadyAndFailsOnlyAStrictRun) {
    testutil::ScratchDir dir;
    testutil::write_file(dir.path() / "short.cci", calibration_input("1 10", 2, "5e-09"));
    const auto r = testutil::run_program(dir.path(), "short", "");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\nFinished with warnings:\n  point 2: not steady: the potential "
                            "still drifts by "),
              std::string::npos)
        << r.output;
    const json s = summary_of(dir.path() / "short");
    EXPECT_EQ(s["status"], "finished with warnings");
    EXPECT_EQ(s["exit_code"], 0);
    EXPECT_EQ(s["points"][0]["status"], "finished");
    EXPECT_FALSE(s["points"][0].contains("warnings"));
    ASSERT_EQ(s["points"][1]["warnings"].size(), 1u);
    EXPECT_EQ(s["points"][1]["warnings"][0].get<std::string>().rfind("not steady: ", 0), 0u);
    EXPECT_EQ(s["points"][1]["status"], "finished with warnings");
    ASSERT_EQ(s["warnings"].size(), 1u);
    EXPECT_EQ(s["warnings"][0], "point 2: " + s["points"][1]["warnings"][0].get<std::string>());

    // The headline in its own colour, with the reasons.
    const std::string page = testutil::read_file(dir.path() / "short" / "report.html");
    EXPECT_NE(page.find(".warnings{color:#a60}"), std::string::npos);
    EXPECT_NE(page.find("<p id=\"status\" class=\"warnings\">Finished with warnings: point 2: "
                        "not steady: the potential still drifts by "),
              std::string::npos);
    EXPECT_NE(page.find("<tr class=\"warnings\"><td class=\"num\">2</td>"), std::string::npos);

    const auto strict = testutil::run_command("cd '" + dir.path().string() +
                                              "' && '" TAVOLINE_EXE "' --strict short </dev/null");
    EXPECT_EQ(strict.status, 4) << strict.output;
    EXPECT_EQ(summary_of(dir.path() / "short")["exit_code"], 4);

    // Run to its end, the same calibration is steady: no warning, no new key.
    testutil::write_file(dir.path() / "long.cci", calibration_input("1 10", 2, "1e-06"));
    const auto settled = testutil::run_command("cd '" + dir.path().string() +
                                               "' && '" TAVOLINE_EXE "' --strict long </dev/null");
    EXPECT_EQ(settled.status, 0) << settled.output;
    const json l = summary_of(dir.path() / "long");
    EXPECT_EQ(l["status"], "finished");
    EXPECT_FALSE(l.contains("warnings"));
    EXPECT_EQ(testutil::read_file(dir.path() / "long" / "report.html").find("warnings"),
              std::string::npos);
}

// The same state beyond the dilute range on the automatic grid: no finer grid mends it, so
// the study stops on its first grid, and the run proper fails the point with the reason.
TEST(PointStatus, AStateBeyondTheDiluteRangeEndsTheGridStudyOnItsFirstGrid) {
    testutil::ScratchDir dir;
    testutil::write_file(
        dir.path() / "chain.cci",
        testutil::read_file(std::string(TAVOLINE_TEST_DATA) + "/dilute_chain.cci"));
    const auto r = testutil::run_command("cd '" + dir.path().string() +
                                         "' && '" TAVOLINE_EXE "' --quiet chain </dev/null");
    EXPECT_EQ(r.status, 2) << r.output;
    const json s = summary_of(dir.path() / "chain");
    ASSERT_EQ(s["grid"]["grids"].size(), 1u) << s["grid"];
    EXPECT_EQ(s["grid"]["note"].get<std::string>().rfind(
                  "calibration point 1 went outside the dilute range: component 1 reached ", 0),
              0u)
        << s["grid"]["note"];
    EXPECT_EQ(s["points"][0]["status"], "failed");
    EXPECT_NE(s["points"][0]["potentiometric"]["failure"].get<std::string>().find(
                  " mol/L) at the right edge of layer 1 at t = "),
              std::string::npos)
        << s["points"][0];
    // a finer grid does not bring the state back: no advice to try one
    EXPECT_EQ(r.output.find("Run again with --check-grid"), std::string::npos) << r.output;
}

// The bundled example with a partition ratio Kif/Kib of 40 for the cation at the left edge
// (4 mol/L at the edge at the largest multiplier, within the dilute range): on the Debye
// grid the integration runs to its end at every point, but through negative concentrations
// to potentials of volts, which no ion's Nernst potential across the stack reaches (a few
// hundred mV for these concentrations and that ratio).
TEST(PointStatus, AnImpossibleResultIsNeverAPlainFinish) {
    testutil::ScratchDir dir;
    std::string text = testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/b.cci");
    const std::string kif = "Kif [layers+1]           : 0.001 0.001";
    const std::size_t at = text.find(kif);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, kif.size(), "Kif [layers+1]           : 0.04 0.001");
    testutil::write_file(dir.path() / "partition.cci", text);
    const auto r = testutil::run_program(dir.path(), "partition");
    EXPECT_EQ(r.status, 0) << r.output;
    const json s = summary_of(dir.path() / "partition");
    EXPECT_EQ(s["status"], "finished with warnings");
    const json& last = s["points"].back();
    EXPECT_GT(std::fabs(last["final_potential_mV"].get<double>()), 1000);
    ASSERT_EQ(last["warnings"].size(), 3u) << last;  // and "grid not checked"
    EXPECT_EQ(last["warnings"][0].get<std::string>().rfind("negative concentration: down to -", 0),
              0u);
    EXPECT_EQ(last["warnings"][1].get<std::string>().rfind(
                  "outside physical bounds: the final potential ", 0),
              0u);
    const std::string page = testutil::read_file(dir.path() / "partition" / "report.html");
    EXPECT_EQ(page.find("class=\"finished\">Finished"), std::string::npos);
}

// Liquid junctions of two salts at one concentration, each ion but the common anion on
// one side only: 0.1 M HCl | 0.1 M KCl (26.8 mV; Henderson gives 26.8 mV with these
// diffusivities) and 0.1 M NaCl | 0.1 M KCl (-4.36 mV). No concentration ratio bounds
// them, Henderson's junction does: a strict run on the automatic grid ends plainly.
TEST(PointStatus, ALiquidJunctionOfTwoSaltsIsWithinThePhysicalBounds) {
    testutil::ScratchDir dir;
    const std::string biionic =
        testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/../validation/junction_biionic.cci");
    for (const char* cation : {"9.311e-09", "1.334e-09"}) {
        SCOPED_TRACE(cation);
        std::string text = biionic;
        const auto replace = [&](const std::string& from, const std::string& to) {
            const std::size_t at = text.find(from);
            ASSERT_NE(at, std::string::npos) << from;
            text.replace(at, from.size(), to);
        };
        replace(": 1.334e-09", std::string(": ") + cation);
        replace("100 50 0\n", "100 100 0\n");  // the layer starts as the left solution
        replace("0 50 100\n", "0 0 100\n");
        testutil::write_file(dir.path() / "j.cci", text);
        const auto r = testutil::run_program(dir.path(), "j", "--strict");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(summary_of(dir.path() / "j")["status"], "finished");
    }
}

// Points 2 and 3 at one multiplier give limit.txt's reference line no slope: the file is
// not written, and the summary says why rather than nothing. (The largest multiplier, 100,
// keeps the sample's 10 mol/m^3 within the dilute range.)
TEST(PointStatus, AReferenceLineWithoutSlopeIsNamedAsMissing) {
    testutil::ScratchDir dir;
    testutil::write_file(dir.path() / "same.cci", calibration_input("0.1 1 1 10 100", 5));
    ASSERT_EQ(testutil::run_program(dir.path(), "same").status, 0);
    const json s = summary_of(dir.path() / "same");
    EXPECT_TRUE(s["calibration"].is_null());
    EXPECT_EQ(s["calibration_missing"].get<std::string>().rfind(
                  "calibration points 2 and 3 have the same multiplier", 0),
              0u);
    EXPECT_FALSE(fs::exists(dir.path() / "same" / "limit.txt"));
}

// The bundled example with a partition ratio Kif/Kib of 1000 for the cation at the left
// edge: at the largest multiplier the sample's 100 mol/m^3 would stand at 100 mol/L at the
// membrane's edge. The input is refused at the line of the transfer constants, naming the
// interface, the component, both constants and the concentration, and nothing is written.
TEST(PointStatus, AnInputBeyondTheDiluteRangeIsRefusedBeforeAnythingIsWritten) {
    testutil::ScratchDir dir;
    std::string text = testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/b.cci");
    const std::string kif = "Kif [layers+1]           : 0.001 0.001";
    const std::size_t at = text.find(kif);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, kif.size(), "Kif [layers+1]           : 1 0.001");
    testutil::write_file(dir.path() / "partition.cci", text);
    const auto r = testutil::run_program(dir.path(), "partition");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(
        r.output.find("partition.cci, line 29: at interface 0 (between the left solution and layer "
                      "1), transfer equilibrium would bring component 1 at the edge of layer 1 to "
                      "100000 mol/m^3 (100 mol/L), 1000 times its 100 mol/m^3 in the left solution "
                      "at the largest calibration multiplier (`Kif` 1 m/s, `Kib` 0.001 m/s). That "
                      "is beyond the 5000 mol/m^3 (5 mol/L) within which a dilute-solution model "
                      "holds"),
        std::string::npos)
        << r.output;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}
