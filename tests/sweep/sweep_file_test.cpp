// A sweep file names a base input and the values of some of its groups. Every fault in one
// is reported with the sweep file, the line and the value; the combinations and the inputs
// generated for them are checked against the bundled one-layer example b.cci.
#include <gtest/gtest.h>

#include "model/errors.h"
#include "model/input_file.h"
#include "sweep/sweep_file.h"
#include "test_util.h"

namespace {

std::string example_text() {
    return testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/b.cci");
}

// Reads `sweep` and checks it against b.cci; the message of the fault, or "" when none.
std::string fault_of(const std::string& sweep) {
    try {
        const SweepFile s = read_sweep_text(sweep, "s.sweep");
        model base;
        read_input_text(base, example_text(), "b.cci");
        check_sweep_against(s, base);
    } catch (const InputError& e) {
        return e.what();
    }
    return "";
}

struct BadSweep {
    const char* title;
    const char* text;
    const char* message;
};

const BadSweep kBad[] = {
    {"no base", "# only a comment\nd[1] 1e-5\n",
     "s.sweep, line 2: expected `base NAME` (the base input) first, found 'd[1]'"},
    {"base in another folder", "base ../b\nd[1] 1e-5\n",
     "s.sweep, line 1: the base input must be a file name beside the sweep file, found '../b'"},
    {"nothing varied", "base b\n\n", "s.sweep, line 2: expected a parameter to vary, found the end of the file"},
    {"unknown group", "base b\nthickness[1] 1e-5\n",
     "s.sweep, line 2: expected a parameter group (d, epsilon, N, m, D, cM, Kas, Kdis, cL, cR, "
     "Kif, Kib, multipliers, T, tEnd, currentDensity, atol, rtol), found 'thickness[1]'"},
    {"index missing", "base b\nD[1] 1e-11\n",
     "s.sweep, line 2: expected D[component,layer], found 'D[1]'"},
    {"index on a scalar", "base b\nT[1] 300\n", "s.sweep, line 2: expected T, found 'T[1]'"},
    {"no values", "base b\nT\n", "s.sweep, line 2: expected values after `T`, found none"},
    {"not a number", "base b\nT 300 warm\n",
     "s.sweep, line 2: expected a number for `T`, found 'warm'"},
    {"count of lin", "base b\nd[1] lin 1e-6 1e-5 0\n",
     "s.sweep, line 2: expected a COUNT from 1 to 100000 for `lin FROM TO COUNT`, found '0'"},
    {"log through zero", "base b\ncL[1] log 0 1 3\n",
     "s.sweep, line 2: `log` needs FROM and TO greater than 0, found '0'"},
    {"thickness 0", "base b\nd[1] lin 0 1e-5 2\n",
     "s.sweep, line 2: `d[1]` must be greater than 0, found '0'"},
    {"cells not whole", "base b\nN[1] lin 20 30 4\n",
     "s.sweep, line 2: `N[1]` takes whole numbers from 2 to 100000000, found '23.3333'"},
    {"varied twice", "base b\nT 300\nT 310\n",
     "s.sweep, line 3: `T` is already varied on line 2, found 'T'"},
    {"zip of unequal lists", "base b\ncombine zip\nT 300 310\nd[1] 1e-5\n",
     "s.sweep, line 4: `combine zip` needs lists of equal length: `T` has 2 values, found '1'"},
    {"combine twice", "base b\nT 300\ncombine zip\n",
     "s.sweep, line 3: `combine` stands once, before the parameters, found 'combine'"},
    {"too many combinations", "base b\nT lin 300 310 1000\nd[1] lin 1e-6 1e-5 1000\n",
     "s.sweep, line 3: the sweep holds more than 100000 combinations, found 'd[1]'"},
    {"layer beyond the base", "base b\nd[2] 1e-5\n",
     "s.sweep, line 2: the base input has layers 1 to 1, found 'd[2]'"},
    {"interface beyond the base", "base b\nKif[1,2] 1e-3\n",
     "s.sweep, line 2: the base input has interfaces 0 to 1, found 'Kif[1,2]'"},
    {"point beyond the base", "base b\nmultipliers[6] 10\n",
     "s.sweep, line 2: the base input has points 1 to 5, found 'multipliers[6]'"},
    {"complexation of a free ion", "base b\nKas[1,1] 1\n",
     "s.sweep, line 2: component 1 forms no complex in the base input, found 'Kas[1,1]'"},
};

class SweepFileFault : public testing::TestWithParam<BadSweep> {};

TEST_P(SweepFileFault, NamesFileLineAndValue) {
    EXPECT_EQ(fault_of(GetParam().text), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Cases, SweepFileFault, testing::ValuesIn(kBad),
                         [](const testing::TestParamInfo<BadSweep>& param) {
                             std::string s = param.param.title;
                             for (char& ch : s)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return s;
                         });

// lin spaces evenly and ends on TO exactly, log spaces evenly in log10, values are kept as the
// input copy writes them; the full grid varies the last parameter fastest, zip pairs values.
TEST(SweepFile, CombinationsOfGridAndZip) {
    const SweepFile grid = read_sweep_text(
        "base b.cci  # the bundled example\nd[1] lin 1e-6 2e-6 3\nD[1,1] log 1e-12 1e-10 3\n",
        "s.sweep");
    EXPECT_EQ(grid.baseName, "b");
    ASSERT_EQ(combination_count(grid), 9);
    EXPECT_EQ(combination_values(grid, 1), (std::vector<double>{1e-6, 1e-12}));
    EXPECT_EQ(combination_values(grid, 2), (std::vector<double>{1e-6, 1e-11}));
    EXPECT_EQ(combination_values(grid, 6), (std::vector<double>{1.5e-6, 1e-10}));
    EXPECT_EQ(combination_values(grid, 9), (std::vector<double>{2e-6, 1e-10}));

    const SweepFile zip = read_sweep_text(
        "base b\ncombine zip\nT 290 300 310\nmultipliers[2] lin 1 3.3333333 3\n", "s.sweep");
    ASSERT_EQ(combination_count(zip), 3);
    EXPECT_EQ(combination_values(zip, 2), (std::vector<double>{300, 2.16666665}));

    // A range reaching into subnormal numbers is read, not refused with a library fault.
    const SweepFile tiny = read_sweep_text("base b\nd[1] log 4.9e-324 1e-300 3\n", "s.sweep");
    EXPECT_EQ(combination_values(tiny, 1), (std::vector<double>{4.9e-324}));
}

// The generated input differs from the base only in the varied values, the automatic scales
// stay automatic, and the reader takes it back with the new values.
TEST(SweepFile, GeneratedInputIsTheBaseWithTheNewValues) {
    const SweepFile s =
        read_sweep_text("base b\nd[1] 2e-5\nKif[2,1] 0.5\nN[1] 20\ntEnd 7\n", "s.sweep");
    const std::string text =
        combination_input_text(s, example_text(), "b.cci", combination_values(s, 1), 1);
    std::string expected = example_text();
    const auto change = [&](const std::string& from, const std::string& to) {
        const size_t at = expected.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        expected.replace(at, from.size(), to);
    };
    change("\n1e-05\n", "\n2e-05\n");
    change("\n10\n", "\n7\n");
    change("Kif [layers+1]           : 0.001 0.001\nKib [layers+1]           : 0.001 0.001\n"
           "reactive with ligand     : 0\n---- Component 3",
           "Kif [layers+1]           : 0.001 0.5\nKib [layers+1]           : 0.001 0.001\n"
           "reactive with ligand     : 0\n---- Component 3");
    change("\n40\n", "\n20\n");
    EXPECT_EQ(text, expected);
}

// Nothing of the base input or of a varied value is rounded on the way into a combination:
// the copies' six digits would turn T = 298.123456789 into 298.123.
TEST(SweepFile, GeneratedInputKeepsEveryDigit) {
    std::string base = example_text();
    base.replace(base.find("\n298.15\n"), 8, "\n298.123456789\n");
    const SweepFile s = read_sweep_text("base b\nd[1] 1.23456789e-5\n", "s.sweep");
    model md;
    read_input_text(md, combination_input_text(s, base, "b.cci", combination_values(s, 1), 1),
                    "c.cci");
    EXPECT_EQ(md.T, 298.123456789);
    EXPECT_EQ(md.d.at(1), 1.23456789e-5);
}

TEST(SweepFile, CombinationTheReaderRefusesNamesItsValues) {
    const SweepFile s = read_sweep_text("base b\nN[1] 18 19\n", "s.sweep");
    try {
        combination_input_text(s, example_text(), "b.cci", combination_values(s, 2), 2);
        FAIL() << "an odd N on grid type 0 was accepted";
    } catch (const InputError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "s.sweep: combination 2 (N[1] = 19) gives an input the reader refuses: b.cci, "
                  "line 54: `N` must be even for grid type 0 (its two refined halves meet in the "
                  "middle), found 19");
    }
}

}  // namespace
