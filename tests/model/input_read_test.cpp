// Reading the three input forms: what each carries, what the legacy forms fill in, and
// how the primitive operations treat comment lines.
#include <gtest/gtest.h>

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

TEST(InputRead, ExtraValueInAGroupIsReportedWhereTheCommentIsMet) {
    std::string text = example("b.cci");
    text.replace(text.find("\n298.15\n"), 8, "\n298.15 300\n");
    model md;
    try {
        read_input_text(md, text, "b.cci");
        FAIL() << "accepted a second temperature";
    } catch (const InputError& e) {
        EXPECT_STREQ(e.what(),
                     "b.cci, line 16: expected a number for `tEnd`, found '--' (a comment line "
                     "where values belong: check the number of values above it)");
    }
}
