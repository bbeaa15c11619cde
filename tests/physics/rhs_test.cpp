// Finite-volume Nernst-Planck-Poisson right-hand side, fluxes and membrane potential.
// In every layer dc/dt = -dJ/dx with J = -D dc/dx + z D (F/RT) c E on the cells, one-sided
// second-order -dJ/dx at the two edge elements, interface transfer J = Kif c_l - Kib c_r,
// and eps dE/dt = -F sum z J + i. Checks use exact solutions of the discrete scheme
// (stationary states, quadratic fluxes, linear profiles) and conservation laws.
#include "physics/rhs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "model_builder.h"
#include "physics/flux.h"
#include "physics/grid.h"

namespace {

using testing_model::init_coefficients;
using testing_model::init_layers;
using testing_model::lay_out;

struct LayerShape {
    double Ls;  // scaled thickness
    int N;
    int m;
    int type;
};

// A prepared record in scaled units (L = 1, first step 1): grid built, coefficients
// allocated with D = 1 and no migration, field coefficient 1, no current.
void make_stack(model& md, int R, const std::vector<LayerShape>& layers) {
    init_layers(md, static_cast<int>(layers.size()), R);
    md.L = 1;
    md.hDebye = 1;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const LayerShape& s = layers[l - 1];
        md.d.set(s.Ls);
        md.N.set(s.N);
        md.m.set(s.m);
        md.grid_type.set(s.type);
        md.xb[l] = md.d.get() + md.xb[l - 1];
    }
    lay_out(md);
    init_coefficients(md);
    build_grid(md);
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        md.poissonCoef.set(1);
        for (int c = 1; c <= R; ++c) md.Dscaled.item(c) = 1;
    }
}

double& at(model& md, int l, int c, int k) {
    md.layer = l;
    return md.y[state_index(md, c, k)];
}

std::vector<double> rhs(model& md) {
    // One slot beyond nEq: the field block of the last layer has no element N+1.
    const double sentinel = 12345.0;
    std::vector<double> dydt(md.nEq + 1, std::numeric_limits<double>::quiet_NaN());
    dydt[md.nEq] = sentinel;
    const int cursor = md.layer;
    evaluate_rhs(md, 0.0, md.y.data(), dydt.data());
    EXPECT_EQ(dydt[md.nEq], sentinel);
    EXPECT_EQ(md.layer, cursor);  // the layer cursor is left where it stood
    dydt.pop_back();
    return dydt;
}

// A reproducible non-trivial state: positive concentrations, field of both signs,
// different transport coefficients per layer and component, random transfer constants.
void randomise(model& md, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> conc(0.5, 3.0), field(-2.0, 2.0), coef(0.2, 2.0);
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const int N = md.N.get();
        for (int c = 1; c <= md.R; ++c) {
            md.Dscaled.item(c) = coef(gen);
            md.driftCoef.item(c) = md.z[c] * md.Dscaled.item(c);
            for (int k = 0; k <= N + 1; ++k) at(md, l, c, k) = conc(gen);
        }
        md.poissonCoef.set(coef(gen));
        for (int k = 0; k <= N; ++k) at(md, l, md.R + 1, k) = field(gen);
    }
    for (int s = 0; s <= md.n; ++s)
        for (int c = 1; c <= md.R; ++c) {
            md.Kif[s][c] = coef(gen);
            md.Kib[s][c] = coef(gen);
        }
    for (int c = 1; c <= md.R; ++c) {
        md.cIfLeft[0][c] = conc(gen);
        md.cIfRight[md.n][c] = conc(gen);
    }
}

// Layers of scaled thickness 20 on 6 cells, with an ion (1, z = 1) that binds a ligand
// (2, z = -1) into a complex (3, z = 0), in a random state; layer l complexes as kinds[l-1]
// says (1 at its edges, 2 throughout).
void complexing_stack(model& md, const std::vector<double>& kinds, unsigned seed) {
    const int c = 1, g = 2, x = 3;
    make_stack(md, 3, std::vector<LayerShape>(kinds.size(), {20.0, 6, 1, 0}));
    md.z[1] = 1, md.z[2] = -1, md.z[3] = 0;
    randomise(md, seed);
    md.ligand[c] = g;
    md.complexOf[c] = x;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        md.complexing.set(kinds[static_cast<std::size_t>(l - 1)]);
        md.Kc[l][c] = 0.5 + l;
        md.Kas[l][c] = 3.0;
        md.Kdis[l][c] = 0.5;
    }
}

// Uniform layers whose interfaces are all at transfer equilibrium (Kif c_left = Kib
// c_right), zero field: nothing moves.
TEST(RightHandSide, EquilibriumStateIsStationary) {
    for (int type : {3, 0}) {
        model md;
        make_stack(md, 3, {{12.0, 6, 1, type}, {40.0, 10, 2, type}, {30.0, 8, 1, type}});
        md.z[1] = 1, md.z[2] = -1, md.z[3] = 2;
        for (int l = 1; l <= 3; ++l) {
            md.layer = l;
            for (int c = 1; c <= 3; ++c) md.driftCoef.item(c) = 0.7 * md.z[c];
        }
        // Region r = 0 (left solution), 1..3 (layers), 4 (right solution).
        auto level = [](int r, int c) { return 1.0 + 0.5 * r + 0.25 * c; };
        for (int c = 1; c <= 3; ++c) {
            md.cIfLeft[0][c] = level(0, c);
            md.cIfRight[3][c] = level(4, c);
            for (int l = 1; l <= 3; ++l) {
                md.layer = l;
                for (int k = 0; k <= md.N.get() + 1; ++k) at(md, l, c, k) = level(l, c);
            }
            for (int s = 0; s <= 3; ++s) {
                md.Kif[s][c] = level(s + 1, c);
                md.Kib[s][c] = level(s, c);
            }
        }
        const std::vector<double> dydt = rhs(md);
        for (int i = 0; i < md.nEq; ++i) {
            if (type == 3) {
                // Equal cells: the difference formulas cancel exactly.
                EXPECT_EQ(dydt[i], 0.0) << "element " << i;
            } else {
                // Unequal neighbouring cells: rounding of a^2 u - b^2 u, relative to
                // D c / h^2 ~ 2.
                EXPECT_NEAR(dydt[i], 0.0, 1e-13) << "element " << i;
            }
        }
    }
}

// Sum over the cells of width x dc/dt telescopes to what enters through the left edge
// minus what leaves through the right edge, down to a layer of the fewest cells allowed.
TEST(RightHandSide, CellsConserveMolesUpToTheInterfaceFluxes) {
    model md;
    make_stack(md, 2, {{60.0, 24, 3, 0}, {45.0, 17, 4, 1}, {30.0, 9, 0, 3}, {8.0, 2, 0, 3}});
    md.z[1] = 1, md.z[2] = -2;
    randomise(md, 7);
    const std::vector<double> dydt = rhs(md);
    for (int c = 1; c <= md.R; ++c) {
        double total = 0;
        for (int l = 1; l <= md.n; ++l) {
            md.layer = l;
            const int N = md.N.get();
            double moles = 0;
            for (int j = 1; j <= N; ++j)
                moles += md.gridH.item(j - 1) * dydt[state_index(md, c, j)];
            const double net = md.jIfRight[l - 1][c] - md.jIfLeft[l][c];
            // N fluxes of size ~10 summed: ~N ulp of 10.
            EXPECT_NEAR(moles, net, 1e-12) << "component " << c << " layer " << l;
            total += moles;
        }
        // Without complexation inner interfaces pass on exactly what they take.
        EXPECT_NEAR(total, md.jIfRight[0][c] - md.jIfLeft[md.n][c], 1e-12);
        for (int s = 0; s <= md.n; ++s) EXPECT_EQ(md.jIfLeft[s][c], md.jIfRight[s][c]);
    }
}

// Full complexation c + g <-> x inside a layer: the reaction terms add to zero over c + x
// and over g + x, and vanish at chemical equilibrium x = (Kas/Kdis) c g.
TEST(RightHandSide, VolumeComplexationConservesIonAndLigand) {
    const int c = 1, g = 2, x = 3;
    model with, without;
    for (model* md : {&with, &without}) {
        make_stack(*md, 3, {{30.0, 8, 1, 0}, {30.0, 8, 1, 0}});
        md->z[1] = 1, md->z[2] = -1, md->z[3] = 0;
        randomise(*md, 11);
        md->ligand[c] = g;
        md->complexOf[c] = x;
        md->Kas[2][c] = 3.0;
        md->Kdis[2][c] = 0.5;
        md->Kc[2][c] = 6.0;
    }
    with.layer = 2;
    with.complexing.set(2);
    const std::vector<double> a = rhs(with);
    const std::vector<double> b = rhs(without);
    with.layer = 2;
    for (int j = 0; j <= with.N.get() + 1; ++j) {
        const int ic = state_index(with, c, j), ig = state_index(with, g, j),
                  ix = state_index(with, x, j);
        const double rc = a[ic] - b[ic], rg = a[ig] - b[ig], rx = a[ix] - b[ix];
        EXPECT_NE(rc, 0.0);
        // Each difference carries the rounding of a transport term of size ~10.
        EXPECT_NEAR(rc + rx, 0.0, 1e-13);
        EXPECT_NEAR(rg + rx, 0.0, 1e-13);
    }
    // Layer 1 does not complex; the boundary reaction is not switched on by full complexing.
    for (int s = 0; s <= 2; ++s)
        for (int k = 1; k <= 3; ++k) EXPECT_EQ(with.jIfLeft[s][k], with.jIfRight[s][k]);
    with.layer = 2;
    for (int j = 0; j < with.layerStart.get(); ++j) EXPECT_EQ(a[j], b[j]);

    // At equilibrium the complex neither forms nor dissociates.
    with.layer = 2;
    for (int j = 0; j <= with.N.get() + 1; ++j)
        at(with, 2, x, j) = (3.0 / 0.5) * at(with, 2, c, j) * at(with, 2, g, j);
    const std::vector<double> eq = rhs(with);
    model& ref = without;
    ref.layer = 2;
    for (int j = 0; j <= ref.N.get() + 1; ++j) at(ref, 2, x, j) = at(with, 2, x, j);
    const std::vector<double> eqRef = rhs(ref);
    with.layer = 2;
    for (int j = 0; j <= with.N.get() + 1; ++j) {
        const int ic = state_index(with, c, j);
        // x ~ 50: the two reaction terms cancel to a few ulp of 50 x 0.5.
        EXPECT_NEAR(eq[ic], eqRef[ic], 1e-12);
    }
}

// At each edge of a boundary-complexing layer the outside region books the whole
// transfer of the ion as free ion; the layer splits the same amount into free ion plus
// complex. Where two such layers touch, the second pass (left edge of the right layer)
// decides.
TEST(RightHandSide, BoundaryComplexationBooksTheWholeTransfer) {
    const int c = 1, x = 3;
    auto setup = [](model& md, const std::vector<double>& kinds) { complexing_stack(md, kinds, 5); };
    // 1e-15: one subtraction of values ~10 on each side.
    const double tol = 1e-14;

    model single;
    setup(single, {0, 1, 0, 0});
    rhs(single);
    EXPECT_NEAR(single.jIfRight[1][c] + single.jIfRight[1][x], single.jIfLeft[1][c], tol);
    EXPECT_NEAR(single.jIfLeft[2][c] + single.jIfLeft[2][x], single.jIfRight[2][c], tol);
    EXPECT_NE(single.jIfLeft[1][c], single.jIfRight[1][c]);

    model pair;
    setup(pair, {0, 1, 1, 0});
    rhs(pair);
    EXPECT_NEAR(pair.jIfRight[1][c] + pair.jIfRight[1][x], pair.jIfLeft[1][c], tol);
    EXPECT_NEAR(pair.jIfLeft[3][c] + pair.jIfLeft[3][x], pair.jIfRight[3][c], tol);
    EXPECT_NEAR(pair.jIfRight[2][c] + pair.jIfRight[2][x], pair.jIfLeft[2][c], tol);

    // Kinds between 0 and 1 switch on neither reaction.
    model none, fraction;
    setup(none, {0, 0, 0, 0});
    setup(fraction, {0.5, 0.99, 0, 0});
    EXPECT_EQ(rhs(none), rhs(fraction));
}

// A second thread evaluates f from the record, only read, into interface tables of its
// own: rates and tables come out as the record's own evaluation gives them, bit for bit,
// and the record's tables are left as they were.
TEST(RightHandSide, EvaluationIntoTablesOfItsOwnIsTheRecords) {
    model md;
    complexing_stack(md, {1, 2, 0}, 9);
    const InterfaceTables before = md;
    InterfaceTables own = md;
    std::vector<double> ownRates(static_cast<std::size_t>(md.nEq));
    evaluate_rhs(static_cast<const model&>(md), own, md.y.data(), ownRates.data());
    EXPECT_EQ(0, std::memcmp(&before, static_cast<const InterfaceTables*>(&md), sizeof before));
    EXPECT_EQ(rhs(md), ownRates);
    EXPECT_EQ(0, std::memcmp(&own, static_cast<const InterfaceTables*>(&md), sizeof own));
    EXPECT_NE(0, std::memcmp(&own, &before, sizeof own));
}

// Gauss's law dE/dx = poissonCoef sum z c holds in a cell for all time when its rate of
// change vanishes: (dE_j - dE_{j-1})/h - poissonCoef sum z dc_j = 0, with or without an
// applied current, since both field equations are fed by the same fluxes.
TEST(RightHandSide, FieldKeepsGaussLawInEveryCell) {
    model md;
    make_stack(md, 3, {{60.0, 24, 3, 0}, {45.0, 17, 4, 2}});
    md.z[1] = 2, md.z[2] = -1, md.z[3] = 1;
    randomise(md, 19);
    for (int l = 1; l <= 2; ++l) {
        md.layer = l;
        md.currentCoef.set(0.75 * l);
    }
    for (int eis : {0, 1}) {
        md.eisRun = eis;
        const std::vector<double> dydt = rhs(md);
        for (int l = 1; l <= 2; ++l) {
            md.layer = l;
            const double pc = md.poissonCoef.get();
            for (int j = 1; j <= md.N.get(); ++j) {
                double charge = 0;
                for (int c = 1; c <= md.R; ++c) charge += md.z[c] * dydt[state_index(md, c, j)];
                const double dEdx =
                    (dydt[state_index(md, md.R + 1, j)] - dydt[state_index(md, md.R + 1, j - 1)]) /
                    md.gridH.item(j - 1);
                // Charge fluxes ~30 differenced over cells of width ~1.
                EXPECT_NEAR(dEdx, pc * charge, 1e-11) << "layer " << l << " cell " << j;
            }
        }
    }
}

// Fickian diffusion only: the field never enters, and under an applied current it grows
// at the layer's constant rate.
TEST(RightHandSide, FickianModelIgnoresTheField) {
    model md;
    make_stack(md, 2, {{30.0, 8, 1, 0}, {50.0, 12, 2, 1}});
    md.z[1] = 1, md.z[2] = -1;
    randomise(md, 3);
    md.modelType = 1;
    for (int l = 1; l <= 2; ++l) {
        md.layer = l;
        md.currentCoef.set(0.25 * l);
    }
    const std::vector<double> still = rhs(md);
    md.eisRun = 1;
    const std::vector<double> driven = rhs(md);
    for (int l = 1; l <= 2; ++l) {
        md.layer = l;
        for (int k = 0; k <= md.N.get(); ++k) {
            const int i = state_index(md, md.R + 1, k);
            EXPECT_EQ(still[i], 0.0);
            EXPECT_EQ(driven[i], md.currentCoef.get());
            md.y[i] = -5.0 * md.y[i] + 1.0;
        }
    }
    const std::vector<double> otherField = rhs(md);
    for (int l = 1; l <= 2; ++l) {
        md.layer = l;
        for (int c = 1; c <= md.R; ++c)
            for (int k = 0; k <= md.N.get() + 1; ++k) {
                const int i = state_index(md, c, k);
                EXPECT_EQ(still[i], driven[i]);
                EXPECT_EQ(still[i], otherField[i]);
            }
    }
}

// A flux J(x) = p + q x + r x^2 at the grid points of an unequal grid: the cells give the
// exact mean slope and the two edge formulas, being second order, the exact -dJ/dx.
TEST(RightHandSide, EdgeFormulasAreExactForQuadraticFlux) {
    const double p = 0.3, q = -1.7, r = 0.45, D = 0.8;
    auto J = [&](double xx) { return p + q * xx + r * xx * xx; };
    for (const std::vector<double>& widths :
         {std::vector<double>{0.7, 1.3}, std::vector<double>{0.7, 1.3, 2.1, 0.9, 1.6}}) {
        model md;
        const int N = static_cast<int>(widths.size());
        make_stack(md, 1, {{5.0, N, 0, 3}});
        md.modelType = 1;
        md.layer = 1;
        md.Dscaled.item(1) = D;
        std::vector<double> x(N + 1, 0.0);
        for (int k = 0; k < N; ++k) {
            md.gridH.item(k) = widths[k];
            x[k + 1] = x[k] + widths[k];
        }
        // J(0) = cL through Kif = 1, Kib = 0; J(N) = cR through Kif = 0, Kib = -1.
        md.Kif[0][1] = 1, md.Kib[0][1] = 0;
        md.Kif[1][1] = 0, md.Kib[1][1] = -1;
        md.cIfLeft[0][1] = J(x[0]);
        md.cIfRight[1][1] = J(x[N]);
        // Interior J(k) = -2 D (u[k+1] - u[k]) / (h[k-1] + h[k]).
        at(md, 1, 1, 1) = 10.0;
        for (int k = 1; k < N; ++k)
            at(md, 1, 1, k + 1) = at(md, 1, 1, k) - J(x[k]) * (widths[k - 1] + widths[k]) / (2 * D);
        const std::vector<double> dydt = rhs(md);
        // Values ~10 differenced and divided by widths ~1: ~1e-14; margin x100.
        const double tol = 1e-12;
        EXPECT_NEAR(dydt[0], -(q + 2 * r * x[0]), tol) << "N = " << N;
        EXPECT_NEAR(dydt[N + 1], -(q + 2 * r * x[N]), tol) << "N = " << N;
        for (int j = 1; j <= N; ++j)
            EXPECT_NEAR(dydt[j], -(q + r * (x[j] + x[j - 1])), tol) << "cell " << j;
    }
}

TEST(Flux, LinearProfileOnUniformGridGivesFicksLaw) {
    model md;
    make_stack(md, 1, {{18.0, 9, 0, 3}});
    md.layer = 1;
    md.Dscaled.item(1) = 2.5;
    md.driftCoef.item(1) = 3.0;  // no field, so no migration
    const double slope = -0.35;
    for (int k = 1; k <= 9; ++k) at(md, 1, 1, k) = 7.0 + slope * (2.0 * k - 1.0);
    md.layer = 1;
    // Cell centres 2 apart, values ~7: rounding ~1e-15.
    for (int k = 1; k < 9; ++k) EXPECT_NEAR(flux(md, md.y.data(), 1, k), -2.5 * slope, 1e-14);
}

TEST(Flux, MigrationAtAnInteriorPoint) {
    model md;
    make_stack(md, 1, {{8.0, 4, 0, 3}});
    md.layer = 1;
    md.gridH.item(1) = 1.0;  // cell 2
    md.gridH.item(2) = 3.0;  // cell 3
    md.Dscaled.item(1) = 0.5;
    md.driftCoef.item(1) = 4.0;
    at(md, 1, 1, 2) = 2.0;
    at(md, 1, 1, 3) = 6.0;
    at(md, 1, 2, 2) = 0.25;  // field at grid point 2
    md.layer = 1;
    // Diffusion: -D (6 - 2) / ((1 + 3)/2) = -1. Concentration at the grid point, linear
    // between centres 0.5 before and 1.5 after it: 0.75 * 2 + 0.25 * 6 = 3; migration
    // 3 * 4 * 0.25 = 3. All exact in binary.
    EXPECT_EQ(flux(md, md.y.data(), 1, 2), 2.0);
    md.modelType = 1;
    EXPECT_EQ(flux(md, md.y.data(), 1, 2), -1.0);
}

TEST(Flux, EdgesReturnTheInterfaceTables) {
    model md;
    make_stack(md, 2, {{8.0, 4, 0, 3}, {8.0, 5, 0, 3}});
    std::fill(md.y.begin(), md.y.end(), std::numeric_limits<double>::quiet_NaN());
    md.jIfRight[1][2] = 0.125;
    md.jIfLeft[2][2] = -3.5;
    md.layer = 2;
    EXPECT_EQ(flux(md, md.y.data(), 2, 0), 0.125);
    EXPECT_EQ(flux(md, md.y.data(), 2, 5), -3.5);
}

TEST(MembranePotential, TrapezoidIntegralOfTheField) {
    model md;
    make_stack(md, 1, {{120.0, 40, 4, 0}, {75.0, 30, 3, 1}, {10.0, 5, 0, 3}});
    const double d = 205.0;
    membrane_potential(md, md.y.data());
    EXPECT_EQ(md.mpot, 0.0);

    const double E = 0.0375;
    for (int l = 1; l <= 3; ++l) {
        md.layer = l;
        for (int k = 0; k <= md.N.get(); ++k) at(md, l, 2, k) = E;
    }
    membrane_potential(md, md.y.data());
    // 75 trapezoids of values ~1: ~75 ulp of mpot ~ 8000.
    EXPECT_NEAR(md.mpot, -1000 * E * d, 1e-10);

    // The trapezoid rule is exact for a linear field E(x) = e0 + e1 x as well.
    const double e0 = -0.2, e1 = 0.003;
    for (int l = 1; l <= 3; ++l) {
        md.layer = l;
        for (int k = 0; k <= md.N.get(); ++k) at(md, l, 2, k) = e0 + e1 * md.gridX.item(k);
    }
    membrane_potential(md, md.y.data());
    EXPECT_NEAR(md.mpot, -1000 * (e0 * d + 0.5 * e1 * d * d), 1e-9);

    // The running sum at every grid point is the potential -1000 (e0 x + e1 x^2 / 2) there;
    // an interface point comes twice, once per layer, and the last value is mpot.
    std::vector<double> profile;
    EXPECT_EQ(potential_integral(md, md.y.data(), &profile), md.mpot);
    std::size_t i = 0;
    for (int l = 1; l <= 3; ++l)
        for (double x : std::as_const(md).gridX.at(l)) {
            ASSERT_LT(i, profile.size());
            EXPECT_NEAR(profile[i++], -1000 * (e0 * x + 0.5 * e1 * x * x), 1e-9) << "point " << i;
        }
    EXPECT_EQ(i, profile.size());
    EXPECT_EQ(profile.back(), md.mpot);
}

}  // namespace
