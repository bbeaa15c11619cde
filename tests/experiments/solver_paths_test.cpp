// The banded path (point order, band decompositions; the default) against the dense path
// (record order, full Jacobian; --dense) on every bundled example and on a two-layer
// problem with complexation in both layers.
//
// Both paths form bit for bit the same Jacobian entries and solve the same equations with
// the same tolerances; they differ only in the rounding of the eliminations, which the
// simplified Newton iteration damps below its stopping threshold. Whether or not the step
// sequences then part, each run is a solution within the accuracy the tolerances ask for,
// so two runs may differ by the global error that rtol and atol allow and no more: every
// state value by rtol * max|y| + atol (y.vec holds the scaled state that atol applies to),
// every final potential by rtol * max|potential| over the run, and the slope, a
// difference of two potentials per decade, by twice the bound of the potentials. The paths
// agree far closer in practice (about 1e-11 relative); the bound is what is promised.
//
// The dense path must also stay as it was: a digest of every state it writes (each y.vec,
// and the spectrum) is compared with a recorded digest. The digests were recorded anew
// when every calibration point began to run with the tolerances exactly as read: before,
// the integrator's conversion of the tolerances and back drifted them by about 1e-15
// relative per point, which moved the step sequences of the later points and their states
// by far less than the tolerances allow (at most 1e-5 relative in one component of y.vec
// at rtol = 1e-4, 8e-13 of the largest potential); the first point of each run is unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

struct Problem {
    const char* folder;
    const char* name;
    std::uint64_t denseDigest;
};

// The numbers of a text, from `skipLines` lines on.
std::vector<double> numbers_in(const std::string& text, int skipLines = 0) {
    std::istringstream in(text);
    for (std::string line; skipLines > 0 && std::getline(in, line);) --skipLines;
    std::vector<double> v;
    double x;
    while (in >> x) v.push_back(x);
    return v;
}

// Every file called `name` below `root`, in a fixed order.
std::vector<fs::path> files_named(const fs::path& root, const std::string& name) {
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.path().filename() == name) found.push_back(fs::relative(e.path(), root));
    std::sort(found.begin(), found.end());
    return found;
}

// FNV-1a over the texts of the files, in order.
std::uint64_t digest(const fs::path& root, const std::vector<fs::path>& files) {
    std::uint64_t h = 1469598103934665603ull;
    for (const fs::path& f : files)
        for (unsigned char ch : testutil::read_file(root / f)) h = (h ^ ch) * 1099511628211ull;
    return h;
}

int step_lines(const std::string& output) {
    int count = 0;
    for (size_t at = 0; (at = output.find("\nStep ", at)) != std::string::npos; ++at) ++count;
    return count;
}

// atol and rtol from the current-form copy of the input in the run folder.
std::pair<double, double> tolerances(const fs::path& run, const std::string& name) {
    std::istringstream in(testutil::read_file(run / (name + ".cci")));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("-- tolerances", 0) == 0) break;
    double atol = 0, rtol = 0;
    in >> atol >> rtol;
    return {atol, rtol};
}

void PrintTo(const Problem& p, std::ostream* out) { *out << p.name << ".cci"; }

class SolverPaths : public testing::TestWithParam<Problem> {};

}  // namespace

TEST_P(SolverPaths, AgreeWithinTheTolerancesAndDenseResultsStayAsTheyWere) {
    const Problem& p = GetParam();
    testutil::ScratchDir banded("banded"), dense("dense");
    const std::string file = std::string(p.name) + ".cci";
    fs::copy_file(fs::path(p.folder) / file, banded.path() / file);
    fs::copy_file(fs::path(p.folder) / file, dense.path() / file);
    const auto rb = testutil::run_program(banded.path(), p.name);
    const auto rd = testutil::run_command(
        "cd '" + dense.str() + "' && '" TAVOLINE_EXE "' --debye-grid --dense '" + p.name + "' </dev/null");
    ASSERT_EQ(rb.status, 0) << rb.output;
    ASSERT_EQ(rd.status, 0) << rd.output;
    const fs::path runB = banded.path() / p.name;
    const fs::path runD = dense.path() / p.name;

    std::vector<fs::path> states = files_named(runD, "y.vec");
    for (const fs::path& f : files_named(runD, "spectrum.dat")) states.push_back(f);
    EXPECT_EQ(digest(runD, states), p.denseDigest) << "the dense path's results changed";

    const auto [atol, rtol] = tolerances(runD, p.name);
    ASSERT_GT(rtol, 0.0);
    for (const fs::path& f : files_named(runD, "y.vec")) {
        // nEq, the time reached, then the state
        const auto d = numbers_in(testutil::read_file(runD / f));
        const auto b = numbers_in(testutil::read_file(runB / f));
        ASSERT_EQ(d.size(), b.size()) << f;
        ASSERT_GT(d.size(), 2u) << f;
        EXPECT_EQ(b[1], d[1]) << f;
        double largest = 0;
        for (size_t i = 2; i < d.size(); ++i) largest = std::max(largest, std::fabs(d[i]));
        for (size_t i = 2; i < d.size(); ++i)
            ASSERT_NEAR(b[i], d[i], rtol * largest + atol) << f << ", value " << i;
    }
    // a header, then rows of time [s], log10 time, potential [mV], calculation time [s]
    const auto transient = [](const fs::path& f) { return numbers_in(testutil::read_file(f), 1); };
    const std::vector<fs::path> transients = files_named(runD, "et.dat");
    double largestPotential = 0;
    for (const fs::path& f : transients) {
        const auto d = transient(runD / f);
        for (size_t i = 2; i < d.size(); i += 4)
            largestPotential = std::max(largestPotential, std::fabs(d[i]));
    }
    for (const fs::path& f : transients) {
        const auto d = transient(runD / f);
        const auto b = transient(runB / f);
        ASSERT_GE(d.size(), 4u) << f;
        ASSERT_GE(b.size(), 4u) << f;
        EXPECT_NEAR(b[b.size() - 2], d[d.size() - 2], rtol * largestPotential) << f;
    }
    if (fs::exists(runD / "limit.txt")) {
        const auto slope = [](const fs::path& f) {
            const std::string text = testutil::read_file(f);
            return std::stod(text.substr(text.find("slope = ") + 8));
        };
        EXPECT_NEAR(slope(runB / "limit.txt"), slope(runD / "limit.txt"),
                    2 * rtol * largestPotential);
    }
    const int stepsB = step_lines(rb.output);
    const int stepsD = step_lines(rd.output);
    EXPECT_LE(std::abs(stepsB - stepsD), stepsD / 10) << stepsB << " against " << stepsD;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SolverPaths,
    testing::Values(Problem{TAVOLINE_EXAMPLES, "b", 6077213838034562944ull},
                    Problem{TAVOLINE_EXAMPLES, "two_layers", 572723622783523042ull},
                    Problem{TAVOLINE_EXAMPLES, "eis", 5508056651135793908ull},
                    Problem{TAVOLINE_EXAMPLES, "chrono", 2948163368099460106ull},
                    Problem{TAVOLINE_EXAMPLES, "legacy", 16329828071729727338ull},
                    Problem{TAVOLINE_EXAMPLES, "oldest", 17406968859392516979ull},
                    Problem{TAVOLINE_TEST_DATA, "complexing", 9558079767347550557ull}),
    [](const testing::TestParamInfo<Problem>& param) { return std::string(param.param.name); });
