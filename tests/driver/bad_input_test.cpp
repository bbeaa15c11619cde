// Bad input never runs: every fault ends the program with status 1 and one message that
// names the file, the line and the value, and nothing is written to the run folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "test_util.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        const size_t eol = text.find('\n', start);
        lines.push_back(text.substr(start, eol - start));
        if (eol == std::string::npos) break;
        start = eol + 1;
    }
    return lines;
}

std::string join(const std::vector<std::string>& lines) {
    std::string s;
    for (size_t i = 0; i < lines.size(); ++i) s += (i ? "\n" : "") + lines[i];
    return s;
}

// The bundled one-layer example with line `line` (1-based) replaced.
std::string example_with(const std::string& example, int line, const std::string& replacement) {
    auto lines = lines_of(testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/" + example));
    lines.at(line - 1) = replacement;
    return join(lines);
}

struct BadCase {
    const char* title;
    const char* example;
    int line;
    const char* replacement;
    const char* message;
};

// Line numbers refer to examples/b.cci and examples/legacy.cci.
const BadCase kCases[] = {
    {"unreadable thickness", "b.cci", 9, "abc",
     "b.cci, line 9: expected 1 value for `d` (one per layer), found 'abc'"},
    {"layers 0", "b.cci", 7, "0", "b.cci, line 7: `n` must be between 1 and 19, found 0"},
    {"layers 20", "b.cci", 7, "20", "b.cci, line 7: `n` must be between 1 and 19, found 20"},
    {"components 0", "b.cci", 19, "0", "b.cci, line 19: `R` must be between 1 and 19, found 0"},
    {"components 20", "b.cci", 19, "20", "b.cci, line 19: `R` must be between 1 and 19, found 20"},
    {"one cell", "b.cci", 54, "1", "b.cci, line 54: `N` must be between 2 and 100000000, found 1"},
    {"grid type 4", "b.cci", 52, "4",
     "b.cci, line 52: `grid_type` must be between 0 and 3, found 4"},
    {"m too large", "b.cci", 56, "20",
     "b.cci, line 56: `m` must be smaller than `N`/2 = 20 for grid type 0, found 20"},
    {"no calibration point", "b.cci", 21, "0 1 2 0",
     "b.cci, line 21: `nCalib` must be between 1 and 1000000, found 0"},
    {"target beyond the right solution", "b.cci", 21, "3 1 2 5",
     "b.cci, line 21: calibration target must be between 0 and 2, found 3"},
    {"changed ion 4", "b.cci", 21, "0 4 2 5",
     "b.cci, line 21: `changedIon` must be between 1 and 3, found 4"},
    {"opposite ion 0", "b.cci", 21, "0 1 0 5",
     "b.cci, line 21: `oppositeIon` must be between 1 and 3, found 0"},
    {"charge beyond the bound", "b.cci", 27, "Ion charge \t             : 100000",
     "b.cci, line 27: `z` of component 1 must be between -1000 and 1000, found 100000"},
    {"neutral opposite ion", "b.cci", 34, "Ion charge \t             : 0",
     "b.cci, line 21: `oppositeIon` 2 has charge 0 and cannot restore electroneutrality"},
    {"ligand 5", "b.cci", 31, "reactive with ligand     : 5",
     "b.cci, line 31: `ligand` of component 1 must be between 1 and 3 (or 0 for none), found 5"},
    {"complex 7", "b.cci", 31,
     "reactive with ligand     : 2\nforms complex            : 7\nKas [layers]             : 1\n"
     "Kdis [layers]            : 1",
     "b.cci, line 32: `complexOf` of component 1 must be between 1 and 3, found 7"},
    {"negative Kas", "b.cci", 31,
     "reactive with ligand     : 2\nforms complex            : 3\nKas [layers]             : -1\n"
     "Kdis [layers]            : 1",
     "b.cci, line 33: `Kas` of component 1 in layer 1 must not be negative, found -1"},
    {"negative Kdis", "b.cci", 31,
     "reactive with ligand     : 2\nforms complex            : 3\nKas [layers]             : 1\n"
     "Kdis [layers]            : -2",
     "b.cci, line 34: `Kdis` of component 1 in layer 1 must not be negative, found -2"},
    {"negative thickness", "b.cci", 9, "-1e-05",
     "b.cci, line 9: `d` must be greater than 0, found -1e-05"},
    {"zero permittivity", "b.cci", 11, "0",
     "b.cci, line 11: `epsilon` must be greater than 0, found 0"},
    {"zero temperature", "b.cci", 15, "0", "b.cci, line 15: `T` must be greater than 0, found 0"},
    {"zero duration", "b.cci", 17, "0", "b.cci, line 17: `tEnd` must be greater than 0, found 0"},
    {"negative diffusivity", "b.cci", 26, "Diffusivity [layers]     : -1e-11",
     "b.cci, line 26: `D` of component 1 in layer 1 must not be negative, found -1e-11"},
    {"negative concentration", "b.cci", 28, "Concentrations [layers+2]: 0.01 -50 1",
     "b.cci, line 28: `cM` of component 1 in layer 1 must not be negative, found -50"},
    {"negative forward constant", "b.cci", 29, "Kif [layers+1]           : 0.001 -0.001",
     "b.cci, line 29: `Kif` of component 1 at interface 1 must not be negative, found -0.001"},
    {"negative backward constant", "b.cci", 30, "Kib [layers+1]           : -1 0.001",
     "b.cci, line 30: `Kib` of component 1 at interface 0 must not be negative, found -1"},
    {"zero multiplier", "b.cci", 23, "1 10 0 1000 10000",
     "b.cci, line 23: multiplier 3 must be greater than 0, found 0"},
    {"zero atol", "b.cci", 48, "0 0.0001",
     "b.cci, line 48: `atol` must be greater than 0, found 0"},
    {"negative rtol", "b.cci", 48, "1e-10 -1",
     "b.cci, line 48: `rtol` must be greater than 0, found -1"},
    {"model type 2", "b.cci", 3, "2",
     "b.cci, line 3: `modelType` must be between 0 and 1, found 2"},
    {"method 3", "b.cci", 5, "3 1", "b.cci, line 5: `method` must be between 0 and 2, found 3"},
    {"impedance without current", "b.cci", 5, "1 0",
     "b.cci, line 5: `currentDensity` must not be 0 for `method` 1, found 0"},
    {"complexing outside 0, 1, 2", "b.cci", 13, "3",
     "b.cci, line 13: `complexing` must be between 0 and 2, found 3"},
    {"fractional complexing", "b.cci", 13, "0.5",
     "b.cci, line 13: expected 1 integer for `complexing` (one per layer), found '0.5'"},
    {"negative ligand", "b.cci", 31, "reactive with ligand     : -1",
     "b.cci, line 31: `ligand` of component 1 must be between 1 and 3 (or 0 for none), found -1"},
    {"two signs", "b.cci", 27, "Ion charge 	             : +-1",
     "b.cci, line 27: expected an integer charge `z` of component 1, found '+-1'"},
    {"control byte in a value", "b.cci", 15,
     "29\x01"
     "8",
     "b.cci, line 15: expected a number for `T`, found '29\\x018'"},
    {"odd N under grid type 0", "b.cci", 54, "41",
     "b.cci, line 54: `N` must be even for grid type 0 (its two refined halves meet in the "
     "middle), found 41"},
    {"rtol finer than the integrator works", "b.cci", 48, "1e-10 1e-30",
     "b.cci, line 48: `rtol` must be greater than 1e-15, found 1e-30"},
    {"not a number", "b.cci", 15, "nan", "b.cci, line 15: expected a number for `T`, found 'nan'"},
    {"comment where a value belongs", "b.cci", 9, "",
     "b.cci, line 10: expected 1 value for `d` (one per layer), found '--' (a comment line where "
     "values belong: check the number of values above it)"},
    {"unit word after the temperature", "b.cci", 15, "298.15 K",
     "b.cci, line 15: expected a number for `T` and nothing more, found 'K'; values are in K, "
     "written without a unit word"},
    {"charged membrane", "b.cci", 28, "Concentrations [layers+2]: 0.01 45 1",
     "b.cci, line 35: layer 1 is not electroneutral: the net charge of its other components is "
     "-5 mol/m^3, of the same sign as the opposite ion (component 2, charge -1), which would "
     "need a concentration of -5 mol/m^3 to balance it"},
    {"legacy rescaling method 4", "legacy.cci", 53, "4 0 0 0 0",
     "legacy.cci, line 53: `rescalingMethod` must be between 0 and 3, found 4"},
    {"legacy grid method 0", "legacy.cci", 55, "0 0",
     "legacy.cci, line 55: `gridDebyeMethod` must be between 1 and 3, found 0"},
    {"legacy without targets", "legacy.cci", 21, "0",
     "legacy.cci, line 21: `nTargets` must be between 1 and 21, found 0"},
};

// The case's title where test listings show the parameter.
void PrintTo(const BadCase& bad, std::ostream* out) { *out << bad.title; }

class BadInput : public testing::TestWithParam<BadCase> {};

}  // namespace

TEST_P(BadInput, EndsWithStatusOneAndNamesLineAndValue) {
    const BadCase& bad = GetParam();
    testutil::ScratchDir dir;
    const std::string name =
        std::string(bad.example).substr(0, std::string(bad.example).size() - 4);
    testutil::write_file(dir.path() / bad.example,
                         example_with(bad.example, bad.line, bad.replacement));
    const auto r = testutil::run_program(dir.path(), name);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(std::string(bad.message) + "\n"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / name)) << "run folder written";
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInput, testing::ValuesIn(kCases),
                         [](const auto& p) { return testutil::case_name(p.param.title); });

TEST(BadInputFile, MissingFileAndWrongMagic) {
    testutil::ScratchDir dir;
    auto r = testutil::run_program(dir.path(), "absent");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("File absent.cci cannot be opened.\nFile absent.cci is not a correct "
                            "input file.\n"),
              std::string::npos)
        << r.output;

    // A trailing blank makes the magic wrong.
    testutil::write_file(dir.path() / "b.cci", example_with("b.cci", 1, "#TAVO2 "));
    r = testutil::run_program(dir.path(), "b");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("File b.cci is not a correct input file.\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "b"));

    testutil::write_file(dir.path() / "e.cci", "");
    r = testutil::run_program(dir.path(), "e");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("File e.cci is not a correct input file.\n"), std::string::npos);
}

TEST(BadInputFile, PrematureEndNamesTheMissingValue) {
    testutil::ScratchDir dir;
    auto lines = lines_of(testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/b.cci"));
    lines.resize(29);  // ends after the forward constants of component 1
    testutil::write_file(dir.path() / "b.cci", join(lines) + "\n");
    const auto r = testutil::run_program(dir.path(), "b");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("b.cci, line 30: expected the label of `Kib` of component 1, found the "
                            "end of the file\n"),
              std::string::npos)
        << r.output;
}

// Faults found after reading (in the scales, the grid, the size, y.vec, the run folder's
// place) end the run with status 1, a message naming the file, the line and the value, and
// the working folder exactly as it was.
TEST(BadInputFile, FaultsAfterReadingLeaveTheDiskUntouched) {
    struct Case {
        int line;
        const char* replacement;
        const char* yvec;  // contents of y.vec, or null for none
        const char* message;
    };
    const std::string state = std::to_string(3 * 42 + 41);  // nEq of b
    std::string negative = state + " 10 ";
    for (int i = 0; i < 3 * 42 + 41; ++i) negative += i == 5 ? "-1 " : "1 ";
    const Case cases[] = {
        {58, "1", nullptr,
         "File y.vec cannot be opened.\nInput data error: wrong input vector size\ny.vec in the "
         "working folder cannot be read (No such file or directory), and b.cci, line 58 asks to "
         "start from it (`load y.vec` = 1): put the saved state there, or set that value to 0.\n"},
        {58, "1", "12 0 1 2",
         "Input data error: wrong input vector size\ny.vec holds 12 state "
         "values; the problem has 167 unknowns.\n"},
        {58, "1", "167 0 1 2 1e999", "y.vec, line 1: expected state value 3 of 167, found '1e999'"},
        {58, "1", negative.c_str(),
         "y.vec, line 1: state value 6 (the concentration of component 1 at node 5 of layer 1) "
         "must not be negative, found -1"},
        {30, "Kib [layers+1]           : 1e300 0.001", nullptr,
         "b.cci, line 30: Scaling: `Kib` of component 1 = 1e+300 becomes inf"},
        {9, "1e-08", nullptr, "b.cci, line 54: Grid: layer 1 is too thin for its refined grid"},
        {54, "100000000", nullptr,
         "b.cci, line 54: the grid gives 400000007 unknowns with a Jacobian band of 12 below and "
         "12 above the diagonal; the integrator's band matrices would need "},
    };
    for (const Case& c : cases) {
        testutil::ScratchDir dir;
        testutil::write_file(dir.path() / "b.cci", example_with("b.cci", c.line, c.replacement));
        if (c.yvec != nullptr) testutil::write_file(dir.path() / "y.vec", c.yvec);
        const auto r = testutil::run_program(dir.path(), "b");
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        int entries = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            (void)e;
            ++entries;
        }
        EXPECT_EQ(entries, c.yvec != nullptr ? 2 : 1) << c.message;
    }
}

// Names that name no input file, and a file where the run folder should be, are refused
// before anything is written; a second run keeps the first one's folder aside.
TEST(BadInputFile, RunFolderAndNames) {
    testutil::ScratchDir dir;
    testutil::write_file(dir.path() / "b.cci",
                         testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/b.cci"));
    testutil::write_file(dir.path() / ".cci",
                         testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/b.cci"));
    const std::string in = "cd '" + dir.str() + "' && '" TAVOLINE_EXE "' --debye-grid ";
    for (const char* name : {"''", ".", "..", "sub/"}) {
        const auto r = testutil::run_command(in + name + " </dev/null");
        EXPECT_EQ(r.status, 1) << name << r.output;
        EXPECT_NE(r.output.find("names no input file"), std::string::npos) << r.output;
    }
    const auto tooLong = testutil::run_command(in + std::string(201, 'x') + " </dev/null");
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_NE(tooLong.output.find("has 201 characters; at most 200"), std::string::npos);

    testutil::write_file(dir.path() / "b", "not a folder");
    auto r = testutil::run_program(dir.path(), "b");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("The run folder ./b cannot be made: something other than a folder"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(testutil::read_file(dir.path() / "b"), "not a folder");
    std::filesystem::remove(dir.path() / "b");

    ASSERT_EQ(testutil::run_program(dir.path(), "b").status, 0);
    r = testutil::run_program(dir.path(), "b");
    ASSERT_EQ(r.status, 0);
    const auto kept = r.output.find("held an earlier run; it is kept as ./b.previous-");
    ASSERT_NE(kept, std::string::npos) << r.output;
    int previous = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().rfind("b.previous-", 0) == 0) {
            ++previous;
            EXPECT_TRUE(std::filesystem::exists(e.path() / "limit.txt"));
        }
    EXPECT_EQ(previous, 1);
    EXPECT_EQ(testutil::read_file(dir.path() / ".cci"), testutil::read_file(dir.path() / "b.cci"));
}

// `tavoline sub/b.cci` reads sub/b.cci. A value in an unlikely unit is noted before the
// run goes on, here to a fault of the set-up.
TEST(CommandLine, NameWithItsExtensionAndNotes) {
    testutil::ScratchDir dir;
    std::filesystem::create_directory(dir.path() / "sub");
    auto lines = lines_of(example_with("b.cci", 15, "25"));
    lines.at(53) = "100000000";
    testutil::write_file(dir.path() / "sub" / "b.cci", join(lines));
    const auto r = testutil::run_command(
        "cd '" + dir.str() + "' && '" TAVOLINE_EXE "' --debye-grid sub/b.cci </dev/null");
    EXPECT_EQ(r.status, 1);
    const auto note = r.output.find(
        "Note: sub/b.cci, line 15: `T` is 25 K, outside 200 to 400 K; check that it is in K.\n");
    const auto fault = r.output.find("sub/b.cci, line 54: the grid gives 400000007 unknowns");
    ASSERT_NE(note, std::string::npos) << r.output;
    ASSERT_NE(fault, std::string::npos) << r.output;
    EXPECT_LT(note, fault);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "sub" / "b"));
}

// The command line: an unknown option is refused with the usage, a run option's value out of
// its range with the words the library uses too (tests/python); --dense keeps the fixed size
// limit of the dense matrices, which the banded default does not have.
TEST(CommandLine, UnknownOptionAndDenseSizeLimit) {
    testutil::ScratchDir dir;
    const std::string in = "cd '" + dir.str() + "' && '" TAVOLINE_EXE "' --debye-grid ";
    auto r = testutil::run_command(in + "--fast b </dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("--fast"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Usage: tavoline [OPTIONS] [NAME]"), std::string::npos) << r.output;
    for (const auto& [option, message] : std::vector<std::pair<std::string, std::string>>{
             {"--impedance fast", "--impedance fast: expected step, linear or both\n"},
             {"--accuracy nan", "--accuracy nan: expected a positive, finite number of mV\n"},
             {"--accuracy 0", "--accuracy 0: expected a positive, finite number of mV\n"},
             {"--threads 0", "--threads 0: expected a whole number of at least 1\n"},
             {"--linear-range 3:2", "--linear-range 3:2: expected FROM:TO, 1 <= FROM < TO\n"}}) {
        r = testutil::run_command(in + option + " b </dev/null");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, message);
    }

    testutil::write_file(dir.path() / "b.cci", example_with("b.cci", 54, "6000"));
    r = testutil::run_command(in + "--dense b </dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("b.cci, line 54: the grid gives 24007 unknowns; the integrator's dense "
                            "matrices would need "),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "b"));
}

// --quiet drops the per-step lines only; --version names the program.
TEST(CommandLine, QuietAndVersion) {
    testutil::ScratchDir dir;
    const std::string in = "cd '" + dir.str() + "' && '" TAVOLINE_EXE "' --debye-grid ";
    auto r = testutil::run_command(in + "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "Tavoline 2.0 (22.12.2014)\n");
    testutil::write_file(dir.path() / "b.cci", example_with("b.cci", 1, "#TAVO2"));
    r = testutil::run_command(in + "--quiet b </dev/null");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("Step "), std::string::npos);
    EXPECT_NE(r.output.find("** iteration number 5"), std::string::npos);
    EXPECT_NE(r.output.find("calculations time [s]: "), std::string::npos);
}
