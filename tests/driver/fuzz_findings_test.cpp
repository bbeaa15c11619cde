// Small inputs that the fuzz targets of tests/fuzz and the mutated whole-program runs found
// mishandled. A refused input ends with status 1 and one message that names the file, the
// line and the value, and leaves the working folder as it was. An accepted input writes a
// copy in the current form that runs again as the same problem: the copy of the copy is
// the copy itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

struct Edit {
    int line;  // 1-based
    const char* text;
};

// An example input with some lines replaced.
std::string edited(const std::string& example, const std::vector<Edit>& edits) {
    const std::string text = testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/" + example);
    std::vector<std::string> lines;
    for (size_t start = 0; start <= text.size();) {
        const size_t eol = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, eol - start));
        start = eol + 1;
    }
    for (const Edit& e : edits) lines.at(e.line - 1) = e.text;
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

std::vector<std::string> entries_of(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// y.vec for examples/b.cci (167 unknowns) with every value `value`.
std::string uniform_state(const std::string& value) {
    std::string s = "167 0";
    for (int i = 0; i < 167; ++i) s += " " + value;
    return s + "\n";
}

struct RefusedCase {
    const char* title;
    const char* example;
    std::vector<Edit> edits;
    std::string yvec;                   // contents of y.vec, empty for none
    std::vector<std::string> messages;  // what the message must hold
};

// examples/b.cci: line 50 holds the scales xs, ts, cmax, emax, h_min, line 58 loadYvec.
const RefusedCase kRefused[] = {
    // A finite saved concentration divided by a concentration scale below 1 overflowed to
    // inf; the run integrated the infinite state and wrote "inf" into its own y.vec.
    {"saved state overflowing the concentration scale",
     "b.cci",
     {{50, "1e-09 1 0.001 1e+07 0"}, {58, "1"}},
     uniform_state("1e+306"),
     {"y.vec, line 1: state value 1 (the concentration of component 1 at node 0 of layer 1) = "
      "1e+306 becomes inf in the problem's units (cmax = 0.001 mol/m^3)"}},
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.title; }

class FoundRefused : public testing::TestWithParam<RefusedCase> {};

TEST_P(FoundRefused, EndsWithStatusOneNamingTheValueAndWritesNothing) {
    const RefusedCase& c = GetParam();
    testutil::ScratchDir dir;
    testutil::write_file(dir.path() / c.example, edited(c.example, c.edits));
    if (!c.yvec.empty()) testutil::write_file(dir.path() / "y.vec", c.yvec);
    const auto before = entries_of(dir.path());
    const std::string name = std::filesystem::path(c.example).stem().string();
    const auto r = testutil::run_program(dir.path(), name);
    EXPECT_EQ(r.status, 1) << r.output;
    for (const std::string& m : c.messages)
        EXPECT_NE(r.output.find(m), std::string::npos) << m << "\n" << r.output;
    EXPECT_EQ(entries_of(dir.path()), before);
}

struct CopyCase {
    const char* title;
    const char* example;
    std::vector<Edit> edits;
};

// examples/legacy.cci: line 17 holds tEnd, line 55 the grid Debye method and h_min.
const CopyCase kCopies[] = {
    // Under the automatic grid Debye method the legacy forms still carry a first step,
    // which the method ignores; the copy wrote it as a manual first step of 4 m, and the
    // copy was refused: "layer 1 is too thin for its refined grid".
    {"automatic first step beside an ignored requested one",
     "legacy.cci",
     {{17, "0.01"}, {55, "1 4"}}},
};

void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.title; }

class FoundCopy : public testing::TestWithParam<CopyCase> {};

TEST_P(FoundCopy, CopyRunsAgainAndCopiesItself) {
    const CopyCase& c = GetParam();
    testutil::ScratchDir first, second;
    const std::string name = std::filesystem::path(c.example).stem().string();
    testutil::write_file(first.path() / c.example, edited(c.example, c.edits));
    auto r = testutil::run_program(first.path(), name);
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string copy = testutil::read_file(first.path() / name / c.example);
    testutil::write_file(second.path() / c.example, copy);
    r = testutil::run_program(second.path(), name);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(testutil::read_file(second.path() / name / c.example), copy);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Cases, FoundRefused, testing::ValuesIn(kRefused),
                         [](const auto& p) { return testutil::case_name(p.param.title); });
INSTANTIATE_TEST_SUITE_P(Cases, FoundCopy, testing::ValuesIn(kCopies),
                         [](const auto& p) { return testutil::case_name(p.param.title); });
