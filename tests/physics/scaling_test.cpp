// Scales of the dimensionless equations. Under automatic rescaling the length is the
// Debye length of the mean ionic strength, sqrt(eps RT / (F^2 sum z^2 c)); for a 1:1 salt
// of 100 mol/m^3 in eps = 7.08e-10 at 298.15 K that is 9.7087e-10 m, with F/RT = 38.924/V.
// The scaled equations must describe the same physics whatever the scales: the SI
// right-hand side equals the scaled one multiplied back by the scales.
#include "physics/scaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "model/errors.h"
#include "model_builder.h"
#include "physics/grid.h"
#include "physics/rhs.h"

namespace {

using testing_model::init_layers;
using testing_model::lay_out;

// One layer of 1:1 salt, concentration c everywhere, refined at the left edge.
void salt_layer(model& md, double c) {
    init_layers(md, 1, 2);
    md.layer = 1;
    md.d.set(1e-4);
    md.epsilon.set(7.08e-10);
    md.N.set(50);
    md.m.set(5);
    md.grid_type.set(1);
    md.z[1] = 1, md.z[2] = -1;
    for (int k = 1; k <= 2; ++k) {
        md.D.item(k) = 1e-9;
        md.cM.item(k) = c;
        md.cL[k] = c;
        md.cR[k] = c;
    }
    md.rescalingMethod = 1;
    md.gridDebyeMethod = 1;
    lay_out(md);
}

TEST(Scaling, AutomaticScalesOfAMonovalentSalt) {
    model md;
    salt_layer(md, 100.0);
    scale_model(md);
    EXPECT_NEAR(md.F_RT, 38.924, 5e-4);
    EXPECT_NEAR(md.hDebye, 9.7087e-10, 5e-15);  // five digits quoted
    EXPECT_EQ(md.L, md.hDebye);
    EXPECT_NEAR(md.cScale, 20 * 100.0, 1e-10);  // I = 2 c, ten times that
    // One scaled potential unit is the thermal voltage RT/F.
    EXPECT_NEAR(md.eScale * md.L, md.Rgas * md.T / md.F, 1e-16);
    // Geometric mean of 10 D/d^2 = 10 * 1e-9 / 1e-8.
    EXPECT_NEAR(md.tc, 1.0, 1e-14);
    md.layer = 1;
    // With these scales the field equation's coefficient is cScale L^2 F F_RT / eps =
    // (I/0.1) / I = 10, and the migration coefficient is z times the scaled diffusivity.
    EXPECT_NEAR(md.poissonCoef.get(), 10.0, 1e-13);
    EXPECT_NEAR(md.driftCoef.item(2), -md.Dscaled.item(2), 1e-15 * md.Dscaled.item(2));
    EXPECT_NEAR(md.cM.item(1), 0.05, 1e-16);
    EXPECT_NEAR(md.xb[1], 1e-4 / md.hDebye, 1e-9);
}

// Whatever the method, a scaled input multiplied back by its scales is the input again:
// the duration by tc, layer edges by L, concentrations by cScale, transfer constants by
// L/tc. Two roundings apart: 4 ulp.
TEST(Scaling, ScaledInputsConvertBackToTheirPhysicalValues) {
    for (int method = 0; method <= 3; ++method) {
        model md;
        salt_layer(md, 100.0);
        md.rescalingMethod = method;
        md.gridDebyeMethod = method == 3 ? 3 : 1;
        md.xs = 2e-9, md.ts = 0.5, md.cmax = 40.0, md.emax = 1e6, md.h_min = 3e-9;
        md.tEnd = 12.5;
        md.cL[1] = 30.0;
        md.Kif[0][1] = 2e-5, md.Kib[1][2] = 7e-6;
        scale_model(md);
        const model& scaled = md;
        const auto expect_back = [method](double back, double input) {
            EXPECT_NEAR(back, input, 4 * std::numeric_limits<double>::epsilon() * input)
                << "method " << method;
        };
        expect_back(scaled.tEnd * scaled.tc, 12.5);
        expect_back(scaled.xb[1] * scaled.L, 1e-4);
        expect_back(scaled.cM.at(1).item(2) * scaled.cScale, 100.0);
        expect_back(scaled.cL[1] * scaled.cScale, 30.0);
        expect_back(scaled.Kif[0][1] * scaled.L / scaled.tc, 2e-5);
        expect_back(scaled.Kib[1][2] * scaled.L / scaled.tc, 7e-6);
    }
}

// Complexation constants change only where a complexing layer meets a reactive ion, and
// the stability Kc agrees with the ratio of the scaled rate constants.
TEST(Scaling, ComplexationConstantsWhereTheyApply) {
    model md;
    init_layers(md, 2, 3);
    for (int l = 1; l <= 2; ++l) {
        md.layer = l;
        md.d.set(1e-5);
        md.epsilon.set(5e-10);
        md.N.set(10);
        md.grid_type.set(3);
        for (int c = 1; c <= 3; ++c) {
            md.D.item(c) = 1e-10;
            md.cM.item(c) = 10.0;
            md.Kas[l][c] = 4.0;
            md.Kdis[l][c] = 0.25;
        }
    }
    md.z[1] = 1, md.z[2] = -1, md.z[3] = 0;
    md.ligand[1] = 2, md.complexOf[1] = 3;
    md.layer = 2;
    md.complexing.set(2);
    md.rescalingMethod = 1;
    md.gridDebyeMethod = 1;
    lay_out(md);
    scale_model(md);
    EXPECT_EQ(md.Kas[1][1], 4.0);
    EXPECT_EQ(md.Kdis[1][1], 0.25);
    EXPECT_EQ(md.Kas[2][2], 4.0);
    EXPECT_EQ(md.Kdis[2][2], 0.25);
    EXPECT_NE(md.Kas[2][1], 4.0);
    EXPECT_NEAR(md.Kc[2][1], md.Kas[2][1] / md.Kdis[2][1], 1e-15 * md.Kc[2][1]);
    EXPECT_NEAR(md.Kc[2][1], md.cScale * 16.0, 1e-15 * md.Kc[2][1]);
}

// Two layers, a cation, an anion ligand and its neutral complex, boundary complexation
// in layer 1 and full complexation in layer 2, under an applied current; physical
// state in mol/m^3 and V/m.
void physical_problem(model& md, int method) {
    init_layers(md, 2, 3);
    const double d[] = {2e-8, 3e-8}, eps[] = {7e-10, 3e-10}, kind[] = {1, 2};
    const int N[] = {20, 30};
    for (int l = 1; l <= 2; ++l) {
        md.layer = l;
        md.d.set(d[l - 1]);
        md.epsilon.set(eps[l - 1]);
        md.N.set(N[l - 1]);
        md.grid_type.set(3);
        md.complexing.set(kind[l - 1]);
        for (int c = 1; c <= 3; ++c) {
            md.D.item(c) = 1e-10 * (c + l);
            md.cM.item(c) = 5.0 * c + l;
            // Reactions as fast as the transport, so that they show in the comparison.
            md.Kas[l][c] = 2e7 * l;
            md.Kdis[l][c] = 3e8 / l;
        }
    }
    md.z[1] = 1, md.z[2] = -1, md.z[3] = 0;
    md.ligand[1] = 2, md.complexOf[1] = 3;
    for (int c = 1; c <= 3; ++c) {
        md.cL[c] = 7.0 + c;
        md.cR[c] = 2.0 * c;
        for (int s = 0; s <= 2; ++s) {
            md.Kif[s][c] = 0.1 * (1 + s + c);
            md.Kib[s][c] = 0.2 * (2 + s);
        }
    }
    md.currentDensity = 50.0;
    md.modelType = 0;
    md.rescalingMethod = method;
    md.gridDebyeMethod = 1;
    md.xs = 3e-9, md.ts = 2e-4, md.cmax = 17.0, md.emax = 4e6;
    lay_out(md);
    scale_model(md);
    build_grid(md);

    // The same physical state, handed over in the record's units.
    std::mt19937 gen(23);
    std::uniform_real_distribution<double> conc(1.0, 30.0), field(-3e6, 3e6);
    for (int l = 1; l <= 2; ++l) {
        md.layer = l;
        for (int c = 1; c <= 3; ++c)
            for (int k = 0; k <= md.N.get() + 1; ++k)
                md.y[state_index(md, c, k)] = conc(gen) / md.cScale;
        for (int k = 0; k <= md.N.get(); ++k) md.y[state_index(md, 4, k)] = field(gen) / md.eScale;
    }
    for (int c = 1; c <= 3; ++c) {
        md.cIfLeft[0][c] = md.cL[c];
        md.cIfRight[2][c] = md.cR[c];
    }
    md.eisRun = 1;
}

TEST(Scaling, ScaledEquationsDescribeTheSamePhysics) {
    model si;
    physical_problem(si, 0);
    std::vector<double> reference(si.nEq);
    evaluate_rhs(si, 0, si.y.data(), reference.data());

    for (int method : {1, 2, 3}) {
        model md;
        physical_problem(md, method);
        std::vector<double> scaled(md.nEq);
        evaluate_rhs(md, 0, md.y.data(), scaled.data());
        for (int l = 1; l <= 2; ++l) {
            md.layer = l;
            si.layer = l;
            for (int c = 1; c <= 4; ++c) {
                const int last = c == 4 ? md.N.get() : md.N.get() + 1;
                const double back = (c == 4 ? md.eScale : md.cScale) / md.tc;
                double largest = 0;
                for (int k = 0; k <= last; ++k)
                    largest = std::max(largest, std::fabs(reference[state_index(si, c, k)]));
                for (int k = 0; k <= last; ++k) {
                    // Different roundings of the same terms, which partly cancel:
                    // 1e-9 of the block's largest rate.
                    EXPECT_NEAR(scaled[state_index(md, c, k)] * back,
                                reference[state_index(si, c, k)], 1e-9 * largest)
                        << "method " << method << " layer " << l << " block " << c << " point "
                        << k;
                }
            }
        }
    }
}

// Inputs whose scales come out zero, infinite or undefined, or whose values the scales
// carry out of range, are refused before the grid, with the scale and its cause named.
// Immobile sites (D = 0) are fine with scales given by hand; only an input in which nothing
// moves has no automatic time scale.
TEST(Scaling, RejectsUndefinedScales) {
    auto manual = [](model& md, double h) {
        md.rescalingMethod = 3, md.gridDebyeMethod = 3;
        md.xs = 1e-9, md.ts = 1, md.cmax = 1, md.emax = 1, md.h_min = h;
    };
    const std::pair<std::function<void(model&)>, std::vector<std::string>> cases[] = {
        {[](model& md) { salt_layer(md, 0.0); }, {"length scale", "concentration", "is 0"}},
        {[](model& md) { md.rescalingMethod = 2, md.xs = 0, md.ts = md.cmax = md.emax = 1; },
         {"length scale", "xs is 0"}},
        {[&](model& md) { manual(md, 1e-9), md.emax = 0; }, {"field scale", "emax is 0"}},
        {[&](model& md) { manual(md, 0); }, {"grid Debye length", "h_min is 0"}},
        {[](model& md) { md.D.item(1) = md.D.item(2) = 0; },
         {"every component has diffusivity D = 0", "by hand"}},
        {[](model& md) {
             md.complexing.set(1);
             md.ligand[1] = md.complexOf[1] = 2;
             md.Kas[1][1] = 1, md.Kdis[1][1] = 0;
         },
         {"`Kas` of component 1 / `Kdis` = 1 becomes inf"}},
    };
    for (const auto& [change, parts] : cases) {
        model md;
        salt_layer(md, 100.0);
        md.layer = 1;
        change(md);
        std::string what = "accepted";
        try {
            scale_model(md);
        } catch (const InputError& e) {
            what = e.what();
        }
        for (const std::string& part : parts) EXPECT_NE(what.find(part), std::string::npos) << what;
    }

    model immobile;
    salt_layer(immobile, 100.0);
    immobile.layer = 1;
    immobile.D.item(2) = 0;
    manual(immobile, 1e-10);
    ASSERT_NO_THROW(scale_model(immobile));
    immobile.layer = 1;
    EXPECT_EQ(immobile.Dscaled.item(2), 0.0);
    EXPECT_EQ(immobile.driftCoef.item(2), 0.0);
    EXPECT_NO_THROW(build_grid(immobile));
}

// The automatic time scale is the geometric mean of 10 D/d^2 over the mobile components
// of every layer. Without a zero D the value is the one recorded before immobile components
// were admitted, to the last bit; with one, the mean runs over the remaining rates.
TEST(Scaling, TimeScaleIsTheMeanOverTheMobileComponents) {
    const double D[2][3] = {{1.3e-9, 2.1e-11, 7e-12}, {4.4e-10, 9.9e-12, 3.3e-13}};
    const double d[2] = {2.5e-6, 7.3e-5};
    const auto two_layers = [&](model& md) {
        init_layers(md, 2, 3);
        for (int l = 1; l <= 2; ++l) {
            md.layer = l;
            md.d.set(d[l - 1]);
            md.epsilon.set(7.08e-10);
            md.N.set(20);
            md.m.set(2);
            md.grid_type.set(0);
            for (int c = 1; c <= 3; ++c) {
                md.D.item(c) = D[l - 1][c - 1];
                md.cM.item(c) = 10.0;
            }
        }
        md.z[1] = 1, md.z[2] = -1, md.z[3] = 1;
        md.rescalingMethod = 1;
        md.gridDebyeMethod = 1;
        lay_out(md);
    };
    model all;
    two_layers(all);
    scale_model(all);
    EXPECT_EQ(all.tc, 0x1.65a58bd4568b2p+0);  // recorded

    model sites;
    two_layers(sites);
    sites.layer = 2;
    sites.D.item(3) = 0;
    scale_model(sites);
    double logSum = 0;
    for (int l = 0; l < 2; ++l)
        for (int c = 0; c < 3; ++c)
            if (!(l == 1 && c == 2)) logSum += std::log(10 * D[l][c] / (d[l] * d[l]));
    EXPECT_NEAR(sites.tc, std::exp(logSum / 5), 1e-13 * sites.tc);
    sites.layer = 2;
    EXPECT_EQ(sites.Dscaled.item(3), 0.0);
}

}  // namespace
