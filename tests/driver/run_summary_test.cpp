// summary.json as a script reads it: one run of each method, checked against the run's own
// tables (ccurve.dat, limit.txt, et.dat) and folder, and a run whose integration fails.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

json summary_of(const fs::path& run) {
    std::ifstream in(run / "summary.json");
    return json::parse(in);
}

// The potentials [mV] of an et.dat: a header, then one row per accepted step of time, log
// time, potential and calculation time.
std::vector<double> potentials(const fs::path& etDat) {
    std::istringstream in(testutil::read_file(etDat));
    std::string line;
    std::getline(in, line);
    std::vector<double> v;
    double t, logt, potential, tcalc;
    while (in >> t >> logt >> potential >> tcalc) v.push_back(potential);
    return v;
}

std::set<std::string> files_below(const fs::path& run) {
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(run))
        if (e.is_regular_file()) files.insert(fs::relative(e.path(), run).generic_string());
    return files;
}

}  // namespace

TEST(RunSummary, EachMethodWritesWhatItsTablesHold) {
    testutil::ScratchDir dir;
    for (const char* name : {"b", "eis", "chrono"}) {
        SCOPED_TRACE(name);
        fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / (std::string(name) + ".cci"),
                      dir.path() / (std::string(name) + ".cci"));
        const auto r = testutil::run_program(dir.path(), name, "");
        ASSERT_EQ(r.status, 0) << r.output;
        const fs::path run = dir.path() / name;
        const json s = summary_of(run);
        EXPECT_EQ(s["input"], std::string(name) + ".cci");
        EXPECT_EQ(s["status"], "finished");
        EXPECT_EQ(s["exit_code"], 0);
        EXPECT_EQ(s["solver_path"], "banded");
        ASSERT_EQ(s["points"].size(), s["points_planned"].get<std::size_t>());
        for (const json& p : s["points"]) {
            EXPECT_EQ(p["status"], "finished");
            const fs::path folder = run / p["folder"].get<std::string>();
            // y.vec opens with the number of state values it holds
            std::istringstream state(testutil::read_file(folder / "y.vec"));
            long long stateValues = -1;
            state >> stateValues;
            EXPECT_EQ(s["unknowns"].get<long long>(), stateValues);
            const std::vector<double> et = potentials(folder / "et.dat");
            ASSERT_FALSE(et.empty());
            // et.dat keeps 15 significant digits
            EXPECT_NEAR(p["final_potential_mV"].get<double>(), et.back(),
                        1e-14 * std::fabs(et.back()));
            const json& work = p["potentiometric"];
            EXPECT_EQ(work["accepted"].get<std::size_t>(), et.size());
            // every Jacobian takes at least one right-hand side beyond those of the steps
            EXPECT_GT(work["rhs_calls"].get<long long>(),
                      3 * work["accepted"].get<long long>() + work["jacobians"].get<long long>());
            if (s["method"] != "Potentiometry") {
                ASSERT_TRUE(p.contains("current_step"));
                EXPECT_EQ(p["current_step"]["status"], "finished");
                EXPECT_TRUE(fs::exists(run / p["spectrum"].get<std::string>()));
            }
        }
        // the listing holds exactly the files of the folder
        std::set<std::string> listed;
        for (const json& f : s["files"]) listed.insert(f.get<std::string>());
        EXPECT_EQ(listed, files_below(run));
    }
    // The calibration of b: slope and limits as limit.txt states them.
    const json b = summary_of(dir.path() / "b");
    const std::string limit = testutil::read_file(dir.path() / "b" / "limit.txt");
    std::ostringstream expected;
    expected.precision(15);
    expected << "slope = " << b["calibration"]["slope_mV_per_decade"].get<double>() << "\n";
    EXPECT_EQ(limit.rfind(expected.str(), 0), 0u) << limit;
    // the converged b levels off once, at the top (log10 of the multiplier 10^3.7)
    EXPECT_EQ(limit.find("limit = 3.7 \n"), limit.size() - 13) << limit;
    EXPECT_EQ(b["calibration"]["detection_limits_log10"], json::array({3.7}));
}

// The rate constant of 1e200 m/s makes the integration fail at once: the summary says which
// point failed, why, and the status the program ended with.
TEST(RunSummary, FailedPointShows) {
    testutil::ScratchDir dir;
    const std::string text = testutil::failing_input();
    testutil::write_file(dir.path() / "huge.cci", text);
    const auto r = testutil::run_program(dir.path(), "huge");
    ASSERT_EQ(r.status, 2) << r.output;
    const json s = summary_of(dir.path() / "huge");
    EXPECT_EQ(s["status"], "failed");
    EXPECT_EQ(s["exit_code"], 2);
    ASSERT_EQ(s["points"].size(), 1u);
    const json& p = s["points"][0];
    EXPECT_EQ(p["status"], "failed");
    EXPECT_EQ(p["potentiometric"]["result_code"], -3);
    EXPECT_EQ(p["potentiometric"]["failure"], "the step size became too small (code -3)");
    const std::string page = testutil::read_file(dir.path() / "huge" / "report.html");
    EXPECT_NE(page.find("potentiometric run failed: the step size became too small"),
              std::string::npos);
}
