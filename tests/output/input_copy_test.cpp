// The two copies of the input that a run writes, compared with texts written by hand from
// the file layouts, and the round trip read -> copy -> read.
#include <gtest/gtest.h>

#include "model/input_file.h"
#include "output/input_copy.h"
#include "test_util.h"

namespace {

const std::string kD47(47, '-');
const std::string kD68(68, '-');
const std::string kD93(93, '-');

// A two-layer problem with one complexing component (1 + 2 -> 3 in layer 1), held in
// scaled form with the scales L = 2, tc = 4, cScale = 10, eScale = 0.5, so that undoing
// the scaling gives the round input values back.
void fill_scaled_problem(model& md) {
    md.F = 96485.3;
    md.Rgas = 8.314;
    md.n = 2;
    md.R = 3;
    md.modelType = 0;
    md.method = 1;
    md.currentDensity = 0.5;
    md.L = 2;
    md.tc = 4;
    md.cScale = 10;
    md.eScale = 0.5;
    md.d.init(&md.layer, 2);
    md.epsilon.init(&md.layer, 2);
    md.complexing.init(&md.layer, 2);
    md.grid_type.init(&md.layer, 2);
    md.N.init(&md.layer, 2);
    md.m.init(&md.layer, 2);
    md.D.init(&md.layer, 2, 3);
    md.cM.init(&md.layer, 2, 3);
    const double d[] = {1e-05, 2e-05}, eps[] = {1e-10, 7.08e-10}, cx[] = {1, 0};
    const int gt[] = {0, 3}, N[] = {10, 20}, m[] = {2, 0};
    const double D[3][2] = {{1e-11, 2e-11}, {1e-11, 1e-11}, {1e-12, 1e-12}};
    const double conc[3][4] = {{1, 2, 3, 4}, {1, 2, 3, 4}, {0, 0, 0, 0}};
    for (int l = 1; l <= 2; ++l) {
        md.layer = l;
        md.d.set(d[l - 1]);
        md.epsilon.set(eps[l - 1]);
        md.complexing.set(cx[l - 1]);
        md.grid_type.set(gt[l - 1]);
        md.N.set(N[l - 1]);
        md.m.set(m[l - 1]);
        for (int c = 1; c <= 3; ++c) {
            md.D.item(c) = D[c - 1][l - 1];
            md.cM.item(c) = conc[c - 1][l] / 10;
        }
    }
    md.layer = 1;
    md.T = 298.15;
    md.tEnd = 10.0 / 4;
    md.nTargets = 1;
    md.targets = {0};
    md.changedIon = 1;
    md.oppositeIon = 2;
    md.nCalib = 2;
    md.multipliers = {1.0, 10, 0.5};
    md.z[1] = 1;
    md.z[2] = -1;
    md.z[3] = 0;
    for (int c = 1; c <= 3; ++c) {
        md.cL[c] = conc[c - 1][0] / 10;
        md.cR[c] = conc[c - 1][3] / 10;
    }
    // Rate constants are held times tc/L = 2.
    const double kif[] = {0.1, 0.2, 0.3}, kib[] = {0.4, 0.5, 0.6};
    for (int s = 0; s <= 2; ++s) {
        md.Kif[s][1] = kif[s] * 2;
        md.Kib[s][1] = kib[s] * 2;
    }
    md.ligand[1] = 2;
    md.complexOf[1] = 3;
    // Complexation constants are scaled only in the complexing layer 1.
    md.Kas[1][1] = 100 * 40;
    md.Kdis[1][1] = 1 * 4;
    md.Kas[2][1] = 200;
    md.Kdis[2][1] = 2;
    md.atol = 1e-10;
    md.rtol = 0.0001;
    md.gridDebyeMethod = 1;
    md.h_min = 0;
    md.loadYvec = 0;
    md.genPS = 1;
}

std::string component_block_current(int c, const std::string& D, int z, const std::string& conc,
                                    const std::string& kif, const std::string& kib,
                                    const std::string& tail) {
    return "\n---- Component " + std::to_string(c) + kD47 + "\nDiffusivity [layers]     : " + D +
           "\nIon charge \t             : " + std::to_string(z) +
           "\nConcentrations [layers+2]: " + conc + "\nKif [layers+1]           : " + kif +
           "\nKib [layers+1]           : " + kib + "\nreactive with ligand     : " + tail;
}

}  // namespace

TEST(InputCopy, CurrentFormMatchesTheLayoutWrittenByHand) {
    model md;
    fill_scaled_problem(md);
    const std::string expected =
        "#TAVO2\n"
        "-- Model (0=Nernst-Planck-Poisson, 1=Fickian Diffusion only): \n0\n"
        "-- Electrochemical Method (0-Potentiometry, 1- EIS, 2 - Chronopotentiometry) and value "
        "of current density [A/(m^2)]:\n1 0.5\n"
        "-- n - number of layers (phases):\n2\n"
        "-- d [layers] (thicknesses of the respective layers [m]):\n1e-05 2e-05\n"
        "-- epsilon [layers] (dielectric constant [C^2/(J*m)] in each layer, e.g. vacuum "
        "8.85419e-12):\n1e-10 7.08e-10\n"
        "-- complexing [layers] (0=no, 1=boundary only, 2=full complexing):\n1 0\n"
        "-- T (absolute temperature [K]):\n298.15\n"
        "-- tEnd (duration of every calibration point [s]):\n10\n"
        "-- R (number of components):\n3\n"
        "-- calibration curve parameters(target layer, changed ion number, opposite ion "
        "number, number of calibration points):\n0 1 2 2\n"
        "-- calibration curve points(multiplier for each point):\n10 0.5\n" +
        kD68 +
        component_block_current(1, "1e-11 2e-11", 1, "1 2 3 4", "0.1 0.2 0.3", "0.4 0.5 0.6",
                                "2\nforms complex            : 3"
                                "\nKas [layers]             : 100 200"
                                "\nKdis [layers]            : 1 2") +
        component_block_current(2, "1e-11 1e-11", -1, "1 2 3 4", "0 0 0", "0 0 0", "0") +
        component_block_current(3, "1e-12 1e-12", 0, "0 0 0 0", "0 0 0", "0 0 0", "0") + "\n" +
        kD68 +
        "\n-- tolerances (absolute and relative) // (atol = 1e-10 for Potentiometry, 1e-18 for "
        "EIS; rtol = atol *1e6) :\n1e-10 0.0001\n"
        "-- xs, ts, cmax, emax, h_min (in [m]) // (0=authomatic) :\n2 4 10 0.5 0\n"
        "-- grid_type [layers]:\n0 3\n"
        "-- N [layers] (number of points in discretization):\n10 20\n"
        "-- m [layers] (number of points in Debye length):\n2 0\n"
        "-- Load initial concentration from file y.vec (1-Yes, 0-No);\n0\n"
        "-- Generate PostScript Files (1-Yes, 0-No);\n1";
    EXPECT_EQ(current_form_text(md), expected);
}

TEST(InputCopy, LegacyFormMatchesTheLayoutWrittenByHand) {
    model md;
    fill_scaled_problem(md);
    md.driftYes = 1;  // the legacy copy always says 0
    auto block = [](int c, const std::string& D, int z, const std::string& cl,
                    const std::string& cm, const std::string& cr, const std::string& kif,
                    const std::string& kib) {
        return "\n---- Component " + std::to_string(c) + kD47 + "\nDiffusivity[layers]\t: " + D +
               "\nIon charge \t  : " + std::to_string(z) + "\nCL            : " + cl +
               "\nCM[layers]    : " + cm + "\nCR            : " + cr + "\nKif[layers+1] : " + kif +
               "\nKib[layers+1] : " + kib;
    };
    const std::string expected =
        "#TAVO\n"
        "-- n - number of layers (phases):\n2\n"
        "-- driftYes (1-Yes, 0-No):\n0\n"
        "-- d[layers] (membrane thickness [m]):\n1e-05 2e-05\n"
        "-- duzeR (number of components):\n3\n"
        "-- cMixt (average solution molarconcentration [mol/m^3]):\n0 0\n"
        "-- T (absolute temperature [K]):\n298.15\n"
        "-- epsilon[layers] (dielectric constant [C^2/(J*m)], e.g. vacuum 8.85419e-12):\n"
        "1e-10 7.08e-10\n"
        "-- tEnd (time of the process duration [s]):\n10\n"
        "-- calibration curve ions(changed ion number, opposite ion number):\n1 2\n"
        "-- calibration curve parameters (number of parameters, list of parameters):\n1 0\n"
        "-- calibration curve iterations(number of iterations, list of multipliers):\n2 10 0.5\n"
        "-- Generate Spectrum (1-Yes, 0-No) and value of current density [A/(m^2)]:\n1 0.5\n" +
        kD93 + block(1, "1e-11 2e-11", 1, "1", "2 3", "4", "0.1 0.2 0.3", "0.4 0.5 0.6") +
        block(2, "1e-11 1e-11", -1, "1", "2 3", "4", "0 0 0", "0 0 0") +
        block(3, "1e-12 1e-12", 0, "0", "0 0", "0", "0 0 0", "0 0 0") + "\n" + kD93 +
        "\n-- rescalling method (0-no, 1-authomatic, 2-authomatic_x, 3-manual); rescaled "
        "variables - L, tc, cmax, emax:\n3 2 4 10 0.5\n"
        "-- grid_Debay method (1-automatic, 2-authomatic_x, 3-manual); Grid Debay Length (first "
        "step of space discretization [m]):\n1 0\n"
        "-- grid_type[layer]:\n0 3\n"
        "-- N[layer] (number of points in discretization):\n10 20\n"
        "-- m[layer] (number of points in Debye length):\n2 0\n"
        "-- Load initial concentration from file y.vec (1-Yes, 0-No);\n0\n"
        "-- Generate xwyn, ywyn files continuously (1-Yes, 0-No);\n1\n";
    EXPECT_EQ(legacy_form_text(md), expected);
}

// Reading the copy gives the problem back: the same values in input units, with manual
// rescaling at the scales that were in use.
TEST(InputCopy, RoundTripReadsTheSameProblemWithManualScales) {
    model md;
    fill_scaled_problem(md);
    model back;
    read_input_text(back, current_form_text(md), "copy.cci");
    EXPECT_EQ(back.rescalingMethod, 3);
    EXPECT_EQ(back.gridDebyeMethod, 1);
    EXPECT_EQ(back.xs, 2);
    EXPECT_EQ(back.ts, 4);
    EXPECT_EQ(back.cmax, 10);
    EXPECT_EQ(back.emax, 0.5);
    EXPECT_EQ(back.n, 2);
    EXPECT_EQ(back.R, 3);
    EXPECT_EQ(back.method, 1);
    EXPECT_EQ(back.currentDensity, 0.5);
    EXPECT_EQ(back.tEnd, 10);
    EXPECT_EQ(back.nCalib, 2);
    EXPECT_EQ(back.multipliers, (std::vector<double>{1.0, 10, 0.5}));
    EXPECT_EQ(back.targets, std::vector<int>{0});
    EXPECT_EQ(back.ligand[1], 2);
    EXPECT_EQ(back.complexOf[1], 3);
    EXPECT_EQ(back.Kas[1][1], 100);
    EXPECT_EQ(back.Kdis[2][1], 2);
    for (int c = 1; c <= 3; ++c) {
        EXPECT_EQ(back.z[c], md.z[c]);
        // Input units are the scaled values times cScale, to six digits.
        EXPECT_NEAR(back.cL[c], md.cL[c] * 10, 1e-12);
        EXPECT_NEAR(back.cR[c], md.cR[c] * 10, 1e-12);
        for (int s = 0; s <= 2; ++s) EXPECT_DOUBLE_EQ(back.Kif[s][c], md.Kif[s][c] / 2);
        for (int l = 1; l <= 2; ++l) {
            back.layer = md.layer = l;
            EXPECT_EQ(back.D.item(c), md.D.item(c));
            EXPECT_NEAR(back.cM.item(c), md.cM.item(c) * 10, 1e-12);
        }
    }
    for (int l = 1; l <= 2; ++l) {
        back.layer = md.layer = l;
        EXPECT_EQ(back.d.get(), md.d.get());
        EXPECT_EQ(back.grid_type.get(), md.grid_type.get());
        EXPECT_EQ(back.N.get(), md.N.get());
        EXPECT_EQ(back.m.get(), md.m.get());
        EXPECT_EQ(back.complexing.get(), md.complexing.get());
    }
    // A second copy of the copy is the same text.
    back.L = 2;
    back.tc = 4;
    back.cScale = 10;
    back.eScale = 0.5;
    back.tEnd /= 4;
    for (int c = 1; c <= 3; ++c) {
        back.cL[c] /= 10;
        back.cR[c] /= 10;
        for (int l = 1; l <= 2; ++l) {
            back.layer = l;
            back.cM.item(c) /= 10;
        }
        for (int s = 0; s <= 2; ++s) {
            back.Kif[s][c] *= 2;
            back.Kib[s][c] *= 2;
        }
    }
    back.Kas[1][1] *= 40;
    back.Kdis[1][1] *= 4;
    back.gridDebyeMethod = 1;
    EXPECT_EQ(current_form_text(back), current_form_text(md));
}

// The legacy copy read back runs as a plain Nernst-Planck-Poisson problem.
TEST(InputCopy, LegacyCopyReadsBackWithItsFixedValues) {
    model md;
    fill_scaled_problem(md);
    model back;
    read_input_text(back, legacy_form_text(md), "copy_TAVO1.cci");
    EXPECT_EQ(back.modelType, 0);
    EXPECT_EQ(back.atol, 1e-10);
    EXPECT_DOUBLE_EQ(back.rtol, 1e-4);
    EXPECT_EQ(back.rescalingMethod, 3);
    EXPECT_EQ(back.driftYes, 0);
    for (int l = 1; l <= 2; ++l) {
        back.layer = l;
        EXPECT_EQ(back.complexing.get(), 0);
        for (int c = 1; c <= 3; ++c) {
            EXPECT_EQ(back.Kas[l][c], 1.0);
            EXPECT_EQ(back.Kdis[l][c], 1.0);
        }
    }
    EXPECT_EQ(back.ligand[1], 0);
    EXPECT_EQ(back.Kib[2][1], 0.6);
}

TEST(InputCopy, FilesGoIntoTheRunFolderUnderTheInputsOwnName) {
    testutil::ScratchDir dir;
    model md;
    RunFiles files;
    fill_scaled_problem(md);
    md.inputName = "sub/probe";
    md.folders = {dir.str(), dir.str(), dir.str()};
    testing::internal::CaptureStdout();
    write_input_copy(md, files);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "\nInput file in #TAVO2 format generated.\nInput file in #TAVO format generated.\n");
    EXPECT_EQ(testutil::read_file(dir.path() / "probe.cci"), current_form_text(md));
    EXPECT_EQ(testutil::read_file(dir.path() / "probe_TAVO1.cci"), legacy_form_text(md));
}
