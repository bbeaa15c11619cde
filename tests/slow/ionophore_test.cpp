// The ionophore example on the automatic grid: a K+-selective membrane (sites, ionophore,
// complex) between a sample of 0.1 M down to 1e-7 M K+ and an inner solution of 0.1 M KCl.
// Over its linear range the calibration analysis must find the Nernstian slope
// RT ln10 / F = 59.156 mV/decade within 0.5, and, where the curve levels off, a detection
// limit in mol/L below that range. A linear range beyond the input's points is refused
// before anything is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "test_util.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

TEST(IonophoreExample, NernstianSlopeAndDetectionLimit) {
    testutil::ScratchDir dir("ionophore");
    fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / "ionophore.cci", dir.path() / "ionophore.cci");
    const auto bad = testutil::run_command(
        "cd '" + dir.str() + "' && '" TAVOLINE_EXE "' -q --linear-range 2:9 ionophore </dev/null");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.output.find("--linear-range 2:9: the input has 7 calibration points"),
              std::string::npos)
        << bad.output;
    EXPECT_FALSE(fs::exists(dir.path() / "ionophore"));

    const auto r = testutil::run_command("cd '" + dir.str() +
                                         "' && '" TAVOLINE_EXE "' -q ionophore </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    const json a = json::parse(testutil::read_file(dir.path() / "ionophore/summary.json"))
                       .at("calibration_analysis");
    const double nernst = 8.314462618 * 298.15 / 96485.33212 * std::log(10.0) * 1000;  // mV
    ASSERT_TRUE(a.at("slope_mV_per_decade").is_number()) << a.dump(2);
    EXPECT_NEAR(a.at("slope_mV_per_decade").get<double>(), nernst, 0.5) << a.dump(2);
    const auto linear = a.at("linear_range").at("points").get<std::vector<int>>();
    EXPECT_GE(linear.size(), 3u);
    ASSERT_TRUE(a.at("detection_limit_mol_per_L").is_number()) << a.dump(2);
    const double limit = a.at("detection_limit_mol_per_L").get<double>();
    // below the lowest concentration of the linear range, above the lowest of all
    const auto& points = a.at("points");
    const double lowestLinear =
        points.at(linear.back() - 1).at("concentration_mol_per_L").get<double>();
    EXPECT_LT(limit, lowestLinear);
    EXPECT_GT(limit, 1e-7);
    // the sample concentrations: 10 mol/m^3 times the multipliers 1, 0.1, ...
    EXPECT_DOUBLE_EQ(points.at(2).at("concentration_mol_per_m3").get<double>(), 0.1);
    EXPECT_DOUBLE_EQ(points.at(2).at("concentration_mol_per_L").get<double>(), 1e-4);
    // settled and grid-converged at every point, far below the detection limit too
    EXPECT_EQ(json::parse(testutil::read_file(dir.path() / "ionophore/summary.json"))
                  .at("status"),
              "finished");

    const std::string csv = testutil::read_file(dir.path() / "ionophore/calibration.csv");
    EXPECT_EQ(csv.substr(0, csv.find('\n') + 1),
              "point,concentration [mol/m3],concentration [mol/L],final potential [mV],"
              "drift [mV/s],fit\n");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 8);
    const std::string page = testutil::read_file(dir.path() / "ionophore/report.html");
    EXPECT_LT(page.find("<h2>Calibration analysis</h2>"), page.find("<h2>Calibration points</h2>"));
    EXPECT_NE(r.output.rfind("Calibration analysis"), std::string::npos);
    EXPECT_GT(r.output.rfind("detection limit"), r.output.rfind("** iteration number 7"));
}

}  // namespace
