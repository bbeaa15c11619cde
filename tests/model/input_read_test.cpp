// Reading the three input forms: what each carries, what the legacy forms fill in, and
// how the primitive operations treat comment lines.
#include <gtest/gtest.h>

#include <filesystem>

#include "model/errors.h"
#include "model/input_file.h"
#include "test_util.h"

namespace {

std::string example(const std::string& name) {
    return testutil::read_file(std::string(TAVOLINE_EXAMPLES) + "/" + name);
}

}  // namespace

TEST(InputRead, CurrentFormFillsTheRecord) {
    model md;
    read_input_text(md, example("two_layers.cci"), "two_layers.cci");
    EXPECT_EQ(md.F, 96485.3);
    EXPECT_EQ(md.Rgas, 8.314);
    EXPECT_EQ(md.n, 2);
    EXPECT_EQ(md.R, 3);
    EXPECT_EQ(md.nCalib, 3);
    EXPECT_EQ(md.multipliers, (std::vector<double>{1.0, 1, 10, 100}));
    EXPECT_EQ(md.nTargets, 1);
    EXPECT_EQ(md.targets, std::vector<int>{0});
    EXPECT_EQ(md.rescalingMethod, 1);
    EXPECT_EQ(md.gridDebyeMethod, 1);
    EXPECT_EQ(md.driftYes, 0);
    EXPECT_EQ(md.hInit, 0);
    EXPECT_EQ(md.cL[1], 0.1);
    EXPECT_EQ(md.cR[2], 1);
    EXPECT_EQ(md.Kif[2][1], 0.001);
    md.layer = 2;
    EXPECT_EQ(md.d.get(), 5e-06);
    EXPECT_EQ(md.D.item(1), 2e-11);
    EXPECT_EQ(md.cM.item(3), 10);
    EXPECT_EQ(md.N.get(), 30);
    EXPECT_EQ(md.m.get(), 3);
}

TEST(InputRead, ScaleSelectionFollowsTheRequestedValues) {
    std::string text = example("b.cci");
    const std::string scales = "0 0 0 0 0";
    const size_t at = text.find(scales);
    ASSERT_NE(at, std::string::npos);
    model a;
    read_input_text(a, text.replace(at, scales.size(), "0 1 1 1 1e-09"), "b.cci");
    EXPECT_EQ(a.rescalingMethod, 1);  // one automatic scale makes all four automatic
    EXPECT_EQ(a.gridDebyeMethod, 3);
    EXPECT_EQ(a.h_min, 1e-09);
    model b;
    read_input_text(b, text.replace(at, 13, "2 3 4 5 00000"), "b.cci");
    EXPECT_EQ(b.rescalingMethod, 3);
    EXPECT_EQ(b.gridDebyeMethod, 1);
}

// The first character of a comment line is discarded unseen, and values may stand on
// several lines; CR LF line ends read as line ends.
TEST(InputRead, CommentsValuesAndLineEndsAreRead) {
    std::string text = example("two_layers.cci");
    const std::string d = "1e-05 5e-06";
    text.replace(text.find(d), d.size(), "1e-05\n   5e-06");
    const size_t tcomment = text.find("-- T (absolute");
    text[tcomment] = 'X';
    std::string crlf;
    for (char ch : text) {
        if (ch == '\n') crlf += '\r';
        crlf += ch;
    }
    model md;
    read_input_text(md, crlf, "crlf.cci");
    md.layer = 2;
    EXPECT_EQ(md.d.get(), 5e-06);
    EXPECT_EQ(md.T, 298.15);
    EXPECT_EQ(md.genPS, 1);
}

TEST(InputRead, LegacyFormCarriesTargetsAndMethodsAndFillsTheRest) {
    std::string text = example("legacy.cci");
    const std::string targets = "\n1 0\n";
    text.replace(text.find(targets), targets.size(), "\n2 0 2\n");
    model md;
    read_input_text(md, text, "legacy.cci");
    EXPECT_EQ(md.driftYes, 1);
    EXPECT_EQ(md.nTargets, 2);
    EXPECT_EQ(md.targets, (std::vector<int>{0, 2}));
    EXPECT_EQ(md.nCalib, 3);
    EXPECT_EQ(md.multipliers, (std::vector<double>{1.0, 1, 10, 100}));
    EXPECT_EQ(md.rescalingMethod, 1);
    EXPECT_EQ(md.gridDebyeMethod, 1);
    EXPECT_EQ(md.modelType, 0);
    EXPECT_EQ(md.atol, 1e-10);
    EXPECT_EQ(md.rtol, 1e-10 * 1e6);
    md.layer = 1;
    EXPECT_EQ(md.cMixt.get(), 10);
    EXPECT_EQ(md.complexing.get(), 0);
    for (int c = 1; c <= 3; ++c) {
        EXPECT_EQ(md.ligand[c], 0);
        EXPECT_EQ(md.complexOf[c], 0);
        EXPECT_EQ(md.Kas[1][c], 1.0);
        EXPECT_EQ(md.Kdis[1][c], 1.0);
    }
    EXPECT_EQ(md.cL[1], 0.1);
    EXPECT_EQ(md.cM.item(1), 20);
    EXPECT_EQ(md.cR[1], 1);
}

TEST(InputRead, OldestFormIsOneLayerOnePointWithBackwardBeforeForward) {
    std::string text = example("oldest.cci");
    // Give the four rate constants of component 1 distinct values.
    const char* labels[] = {
        "kb: backward, left  [m/s]     : 0.001", "kf: forward, left  [m/s]      : 0.001",
        "kb: backward, right [m/s]     : 0.001", "kf: forward, right [m/s]      : 0.001"};
    const char* values[] = {"1", "2", "3", "4"};
    for (int k = 0; k < 4; ++k) {
        const std::string label = labels[k];
        const size_t at = text.find(label);
        ASSERT_NE(at, std::string::npos);
        text.replace(at + label.size() - 5, 5, values[k]);
    }
    model md;
    read_input_text(md, text, "oldest.cci");
    EXPECT_EQ(md.n, 1);
    EXPECT_EQ(md.Kib[0][1], 1);
    EXPECT_EQ(md.Kif[0][1], 2);
    EXPECT_EQ(md.Kib[1][1], 3);
    EXPECT_EQ(md.Kif[1][1], 4);
    EXPECT_EQ(md.nCalib, 1);
    EXPECT_EQ(md.multipliers, (std::vector<double>{1.0, 1.0}));
    EXPECT_EQ(md.targets, std::vector<int>{1});
    EXPECT_EQ(md.changedIon, 1);
    EXPECT_EQ(md.oppositeIon, 1);
    EXPECT_EQ(md.method, 0);
    EXPECT_EQ(md.genPS, 0);
    EXPECT_EQ(md.loadYvec, 0);
    EXPECT_EQ(md.currentDensity, 1e-4);
    EXPECT_EQ(md.modelType, 0);
    EXPECT_EQ(md.atol, 1e-10);
    EXPECT_EQ(md.rtol, 1e-4);
    md.layer = 1;
    EXPECT_EQ(md.grid_type.get(), 0);
    EXPECT_EQ(md.N.get(), 30);
    EXPECT_EQ(md.m.get(), 3);
    EXPECT_EQ(md.d.get(), 1e-05);
    EXPECT_EQ(md.complexing.get(), 0);
    EXPECT_EQ(md.D.item(3), 1e-13);
    EXPECT_EQ(md.z[2], -1);
    EXPECT_EQ(md.cM.item(1), 20);
    EXPECT_EQ(md.tEnd, 5);
}

// The oldest form's one layer is refined at both ends (grid type 0): N must be even and m
// below N/2, each fault reported at the line of its value.
TEST(InputRead, OldestFormRefusesAnOddGridAndTooWideARefinement) {
    const struct {
        const char* from;
        const char* to;
        const char* message;
    } cases[] = {
        {"\n30\n", "\n31\n",
         "oldest.cci, line 9: `N` must be even for grid type 0 (its two refined halves meet in "
         "the middle), found 31"},
        {"\n3\n-- d", "\n15\n-- d",
         "oldest.cci, line 11: `m` must be smaller than `N`/2 = 15 for grid type 0, found 15"},
    };
    for (const auto& c : cases) {
        std::string text = example("oldest.cci");
        const size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        text.replace(at, std::string(c.from).size(), c.to);
        model md;
        try {
            read_input_text(md, text, "oldest.cci");
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const InputError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

namespace {

// An example with the first occurrence of `from` replaced by `to`.
std::string edited(const char* file, const std::string& from, const std::string& to) {
    std::string text = file[0] == '@'
                           ? testutil::read_file(std::string(TAVOLINE_TEST_DATA) + "/" + (file + 1))
                           : example(file);
    const size_t at = text.find(from);
    if (at == std::string::npos) ADD_FAILURE() << file << " has no " << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

struct Refused {
    const char* file;  // in examples/, or in tests/data/ after '@'
    const char* from;
    const char* to;
    const char* message;
};

}  // namespace

// Nothing of a line passes unread: an extra value or a unit word after a group, a line of
// numbers where a comment or a label belongs, and an initial charge that the opposite ion
// cannot balance are refused at their own line, in every form.
TEST(InputRead, StrayTextAndChargedRegionsAreRefusedAtTheirLine) {
    const Refused cases[] = {
        {"b.cci", "\n298.15\n", "\n298.15 K\n",
         "b.cci, line 15: expected a number for `T` and nothing more, found 'K'; values are in K, "
         "written without a unit word"},
        {"b.cci", "\n298.15\n", "\n298.15\n300\n",
         "b.cci, line 16: found the extra value '300' on a line of its own where a comment line "
         "belongs, after a number for `T`"},
        {"b.cci", "1e-11\n", "1e-12 5e-12\n",
         "b.cci, line 26: expected 1 value for `D` of component 1 (one per layer) and nothing "
         "more, found the extra value '5e-12'"},
        {"b.cci", "1e-11\n", "1e-11\n5e-12\n",
         "b.cci, line 27: found the extra value '5e-12' on a line of its own where the label of "
         "`z` of component 1 belongs"},
        {"b.cci", "0.01 50 1\n", "0.01 50 1 7\n",
         "b.cci, line 28: expected 3 values for the concentrations of component 1 (left solution, "
         "each layer, right solution) and nothing more, found the extra value '7'"},
        {"b.cci", "0.01 50 1\n", "0.01 50 10 mM\n",
         "b.cci, line 28: expected 3 values for the concentrations of component 1 (left solution, "
         "each layer, right solution) and nothing more, found 'mM'; values are in mol/m^3, "
         "written without a unit word"},
        {"b.cci", "ligand     : 0\n", "ligand     : 0\n0\n",
         "b.cci, line 32: found the extra value '0' on a line of its own where the next "
         "component's header or the closing dashes belongs, after the values of component 1"},
        {"b.cci", "0 0 0 0 0\n", "0 0 0 0 1e-09 m\n",
         "b.cci, line 50: expected 5 values for `xs`, `ts`, `cmax`, `emax`, `h_min` and nothing "
         "more, found 'm'; `h_min` is in m, written without a unit word"},
        {"two_layers.cci", "1e-05 5e-06", "1e-05 m 5e-06",
         "two_layers.cci, line 9: expected 2 values for `d` (one per layer), found 'm'; values "
         "are in m, written without a unit word"},
        {"b.cci", "#TAVO2\n", "#TAV02\n",
         "b.cci, line 1: expected #TAVO2 (or the older #TAVO or #ML), found '#TAV02'\nFile b.cci "
         "is not a correct input file."},
        {"legacy.cci", "CL            : 0.1\n", "CL            : 0.1 mM\n",
         "legacy.cci, line 30: expected a number for `cL` of component 1 and nothing more, found "
         "'mM'; values are in mol/m^3, written without a unit word"},
        {"legacy.cci", "\n1 0\n", "\n1 0 3\n",
         "legacy.cci, line 21: expected `nTargets` and 1 calibration target and nothing more, "
         "found the extra value '3'"},
        {"oldest.cci", "[mol/m^3]        : 20\n", "[mol/m^3]        : 20 20\n",
         "oldest.cci, line 31: expected a number for `cM` of component 1 and nothing more, found "
         "the extra value '20'"},
        {"oldest.cci", "\n298.15\n", "\n298.15 K\n",
         "oldest.cci, line 21: expected a number for `T` and nothing more, found 'K'; values are "
         "in K, written without a unit word"},
        // Layer 1 without its complex: 45 free cations against 50 sites.
        {"@complexing.cci", "0.1 50 10 1", "0.1 45 10 1",
         "complexing.cci, line 38: layer 1 is not electroneutral: the net charge of its other "
         "components is -5 mol/m^3, of the same sign as the opposite ion (component 2, charge "
         "-1), which would need a concentration of -5 mol/m^3 to balance it"},
        {"legacy.cci", "CR            : 0\n", "CR            : 3\n",
         "legacy.cci, line 40: the right solution is not electroneutral: the net charge of its "
         "other components is -2 mol/m^3, of the same sign as the opposite ion (component 2, "
         "charge -1), which would need a concentration of -2 mol/m^3 to balance it"},
        // 1e-4 of the charges present: more than rounding of written values explains.
        {"b.cci", "0.01 50 1\n", "0.01 49.99 1\n",
         "b.cci, line 35: layer 1 is not electroneutral: the net charge of its other components "
         "is -0.01 mol/m^3"},
    };
    for (const Refused& c : cases) {
        const std::string name = c.file[0] == '@' ? c.file + 1 : c.file;
        model md;
        try {
            read_input_text(md, edited(c.file, c.from, c.to), name);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const InputError& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, std::string(c.message).size()), c.message);
        }
    }
}

// What is not a fault: a byte-order mark, values spread over lines, a region whose opposite
// ion the program sets (whatever the file gives for it), and a charge at the level of
// rounding.
TEST(InputRead, MarkSplitValuesAndBalancedRegionsAreAccepted) {
    const struct {
        const char* file;
        const char* from;
        const char* to;
    } cases[] = {
        {"b.cci", "#TAVO2", "\xEF\xBB\xBF#TAVO2"},    {"oldest.cci", "#ML", "\xEF\xBB\xBF#ML"},
        {"b.cci", "0.01 50 1\n", "0.01\n50\n1\n"},    {"b.cci", "0.01 0 1\n", "0.5 7 0\n"},
        {"b.cci", "0.01 50 1\n", "0.01 49.9999 1\n"},
    };
    for (const auto& c : cases) {
        model md;
        EXPECT_NO_THROW(read_input_text(md, edited(c.file, c.from, c.to), c.file)) << c.to;
        EXPECT_EQ(md.T, 298.15) << c.to;
    }
}

// Values most likely typed in another unit are read, with one note each; the bundled
// inputs give none. The concentrations noted stay in the right solution: the cation's
// transfer constants keep it out of the layer (1/1000 of it at the edge), and the fixed
// sites cross no interface, so nothing beyond the dilute range enters the layer.
TEST(InputRead, ImplausibleUnitsAreNoted) {
    model md;
    std::string text = edited("b.cci", "\n298.15\n", "\n25\n");
    text.replace(text.find("0.01 50 1"), 9, "0.01 50 30001");
    text.replace(text.find("0.001 0.001\nKib"), 11, "0.001 1");
    text.replace(text.find("0 50 0"), 6, "0 50 30000");
    text.replace(text.find("\n1e-05\n"), 7, "\n0.05\n");
    read_input_text(md, text, "b.cci");
    EXPECT_EQ(md.inputNotes,
              (std::vector<std::string>{
                  "Note: b.cci, line 15: `T` is 25 K, outside 200 to 400 K; check that it is in K.",
                  "Note: b.cci, line 28: component 1 in the right solution has 30001 mol/m^3 (and "
                  "1 more concentrations), above 20000 mol/m^3; check that concentrations are in "
                  "mol/m^3 (1 mol/L = 1000 mol/m^3).",
                  "Note: b.cci, line 9: `d` of layer 1 is 0.05 m, above 1 cm; check that "
                  "thicknesses are in m."}));

    for (const char* dir : {TAVOLINE_EXAMPLES, TAVOLINE_TEST_DATA})
        for (const auto& e : std::filesystem::directory_iterator(dir)) {
            // bad_*.cci: inputs the reader must refuse
            if (e.path().extension() != ".cci" || e.path().filename().string().starts_with("bad_"))
                continue;
            model bundled;
            read_input_text(bundled, testutil::read_file(e.path()), e.path().filename());
            EXPECT_TRUE(bundled.inputNotes.empty()) << e.path() << ": " << bundled.inputNotes[0];
        }
}
