#include "physics/scaling.h"

#include <cmath>
#include <sstream>
#include <string>

#include "model/errors.h"

namespace {

bool positive_finite(double v) { return std::isfinite(v) && v > 0; }

std::string num(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

// Averages of the inputs that the automatic scales are built from.
struct Means {
    double I = 0;   // mean of sum z^2 c over the layers and the two solutions (unscaled)
    double em = 0;  // geometric mean of the dielectric constants
    double Tm = 0;  // geometric mean of 10 D/d^2 over all layers and components
};

// Why the Debye length sqrt(em / (F_RT F I)) is not a positive finite number.
std::string debye_cause(const model& md, const Means& mean) {
    if (!positive_finite(mean.I)) {
        std::string s =
            "the mean charge concentration (sum of z^2 c over the layers and both solutions) "
            "is " +
            num(mean.I);
        if (mean.I == 0) s += ": every charged component has concentration 0";
        return s;
    }
    if (!positive_finite(mean.em))
        return "the geometric mean of the dielectric constants of the layers is " + num(mean.em);
    if (!positive_finite(md.F_RT))
        return "F/(R T) is " + num(md.F_RT) + " at temperature T = " + num(md.T) + " K";
    if (md.gridDebyeMethod == 2 && !positive_finite(md.h_min))
        return "the requested divisor h_min is " + num(md.h_min);
    return "the Debye length over- or underflowed";
}

std::string first_step_cause(const model& md, const Means& mean) {
    switch (md.gridDebyeMethod) {
        case 1:
        case 2:
            return debye_cause(md, mean);
        case 3:
            return "the requested first step h_min is " + num(md.h_min);
        default:
            return "gridDebyeMethod " + std::to_string(md.gridDebyeMethod) +
                   " is not 1 (automatic), 2 (automatic_x) or 3 (manual)";
    }
}

// Why the geometric mean of the non-zero rates 10 D/d^2 is not a positive finite number.
std::string rate_cause(const model& md, const Means& mean) {
    for (int l = 1; l <= md.n; ++l) {
        if (!positive_finite(md.d.at(l)))
            return "layer " + std::to_string(l) + " has thickness " + num(md.d.at(l)) + " m";
        for (int c = 1; c <= md.R; ++c)
            if (md.D.at(l).item(c) != 0 && !positive_finite(md.D.at(l).item(c)))
                return "component " + std::to_string(c) + " in layer " + std::to_string(l) +
                       " has diffusivity " + num(md.D.at(l).item(c));
    }
    return "the geometric mean of the non-zero 10 D/d^2 over all layers and components is " +
           num(mean.Tm) + " (its product over- or underflowed)";
}

[[noreturn]] void bad_scale(const std::string& what, double v, const std::string& cause) {
    throw InputError(
        "Scaling: the " + what + " is " + num(v) + ", not a positive finite number: " + cause,
        "scales");
}

// A scale in use must be a positive finite number. When it is not, the cause is the
// requested value where the method uses one (automatic_x divides by it, manual takes it)
// and it is not positive finite, else what the automatic value is built from.
template <class Cause>
void check_scale(int method, const char* scale, double value, const char* request, double requested,
                 Cause automatic_cause) {
    if (positive_finite(value)) return;
    if (method != 1 && !positive_finite(requested))
        bad_scale(scale, value, std::string("the requested ") + request + " is " + num(requested));
    bad_scale(scale, value, automatic_cause());
}

void check_scales(const model& md, const Means& mean) {
    const int method = md.rescalingMethod;
    if (method == 0) return;
    const bool automatic = method == 1 || method == 2;
    check_scale(method, "length scale L", md.L, "length scale xs", md.xs, [&] {
        return "it is built from the grid Debye length hDebye = " + num(md.hDebye) + ", and " +
               first_step_cause(md, mean);
    });
    check_scale(method, "time scale tc", md.tc, "time scale ts", md.ts,
                [&] { return rate_cause(md, mean); });
    check_scale(method, "concentration scale cScale", md.cScale, "concentration scale cmax",
                md.cmax, [&] { return debye_cause(md, mean); });
    check_scale(method, "field scale eScale", md.eScale, "field scale emax", md.emax, [&] {
        if (automatic && !positive_finite(md.F_RT))
            return "F/(R T) is " + num(md.F_RT) + " at temperature T = " + num(md.T) + " K";
        return std::string("the product F/(R T) L emax over- or underflowed");
    });
}

// The first grid step matters only where some layer has a refined grid.
void check_first_step(const model& md, const Means& mean) {
    bool refined = false;
    for (int l = 1; l <= md.n; ++l) {
        const int type = md.grid_type.at(l);
        if (type >= 0 && type <= 2) refined = true;
    }
    if (!refined) return;
    const double h0 = md.hDebye / md.L;
    if (!positive_finite(md.hDebye) || !positive_finite(h0))
        throw InputError("Scaling: the grid Debye length (first grid step) hDebye is " +
                             num(md.hDebye) +
                             ", not a positive finite number: " + first_step_cause(md, mean),
                         "scales");
}

}  // namespace

void scale_model(model& md) {
    const int n = md.n;
    const int R = md.R;

    Means mean;

    // Mean charge concentration over the n layers and the two bulk solutions.
    double I = 0;
    for (int c = 1; c <= R; ++c) {
        const int z2 = md.z[c] * md.z[c];
        for (int l = 1; l <= n; ++l) I += z2 * md.cM.at(l).item(c);
        I += z2 * md.cL[c];
        I += z2 * md.cR[c];
    }
    I = I / (n + 2);
    mean.I = I;

    double epsProduct = 1;
    for (int l = 1; l <= n; ++l) epsProduct *= md.epsilon.at(l);
    const double em = std::pow(epsProduct, 1.0 / n);
    mean.em = em;

    switch (md.gridDebyeMethod) {
        case 1:
            md.hDebye = std::pow(em / (md.F_RT * md.F * I), 0.5);
            break;
        case 2:
            md.hDebye = std::pow(em / (md.F_RT * md.F * I), 0.5) / md.h_min;
            break;
        case 3:
            md.hDebye = md.h_min;
            break;
        default:
            break;
    }

    // Immobile components (D = 0, such as fixed sites) set no rate of their own and are left
    // out of the mean; without them the product runs over all R n rates in the same order.
    double P = 1;
    int rates = 0;
    for (int l = 1; l <= n; ++l) {
        const double dl = md.d.at(l);
        for (int c = 1; c <= R; ++c) {
            const double Dlc = md.D.at(l).item(c);
            if (Dlc == 0) continue;
            P = (Dlc / (dl * dl)) * 10 * P;
            ++rates;
        }
    }
    if (rates == 0 && (md.rescalingMethod == 1 || md.rescalingMethod == 2))
        throw InputError(
            "Scaling: every component has diffusivity D = 0 in every layer, so nothing moves "
            "and the automatic time scale (a geometric mean over the non-zero rates 10 D/d^2) "
            "has no rate to be built from; give a non-zero D to a mobile component, or the "
            "four scales xs, ts, cmax and emax by hand (manual rescaling)",
            "D1");
    const double Tm = std::pow(P, 1.0 / rates);
    mean.Tm = Tm;

    switch (md.rescalingMethod) {
        case 0:
            md.L = 1;
            md.tc = 1;
            md.cScale = 1;
            md.eScale = 1;
            break;
        case 1:
            md.L = md.hDebye;
            md.tc = Tm;
            md.cScale = I / 0.1;
            md.eScale = 1 / (md.F_RT * md.L);
            break;
        case 2:
            md.L = md.hDebye / md.xs;
            md.tc = Tm / md.ts;
            md.cScale = (I / 0.1) / md.cmax;
            md.eScale = 1 / (md.F_RT * md.L * md.emax);
            break;
        case 3:
            md.L = md.xs;
            md.tc = md.ts;
            md.cScale = md.cmax;
            md.eScale = md.emax;
            break;
        default:
            break;
    }
    check_scales(md, mean);
    check_first_step(md, mean);

    md.Dscaled.init(&md.layer, n, R);
    md.driftCoef.init(&md.layer, n, R);
    md.poissonCoef.init(&md.layer, n);
    md.currentCoef.init(&md.layer, n);

    const double L = md.L;
    const double tc = md.tc;
    const double cScale = md.cScale;
    const double eScale = md.eScale;

    // A value that the scales carry out of range (to infinity, or a non-zero value to zero)
    // would make the problem another one; it is refused, naming its value group.
    const auto scaled = [&](double value, double original, const std::string& what,
                            const std::string& group) {
        if (std::isfinite(value) && (value != 0 || original == 0)) return value;
        throw InputError("Scaling: " + what + " = " + num(original) + " becomes " + num(value) +
                             " in the problem's units (L = " + num(L) + " m, tc = " + num(tc) +
                             " s, cmax = " + num(cScale) + " mol/m^3, Emax = " + num(eScale) +
                             " V/m); it is too large or too small to compute with",
                         group);
    };
    const auto of = [](const char* name, int c) {
        return std::string("`") + name + "` of component " + std::to_string(c);
    };

    md.xb[0] = 0;
    for (int l = 1; l <= n; ++l) {
        const double d = md.d.at(l);
        md.xb[l] = scaled(d / L, d, "`d` of layer " + std::to_string(l), "d") + md.xb[l - 1];
    }

    md.tEnd = scaled(md.tEnd / tc, md.tEnd, "`tEnd`", "tEnd");
    for (int c = 1; c <= R; ++c) {
        const std::string k = std::to_string(c);
        md.cL[c] = scaled(md.cL[c] / cScale, md.cL[c], of("cL", c), "cL" + k);
        for (int l = 1; l <= n; ++l) {
            double& cm = md.cM.at(l).item(c);
            cm = scaled(cm / cScale, cm, of("cM", c), "cM" + k);
        }
        md.cR[c] = scaled(md.cR[c] / cScale, md.cR[c], of("cR", c), "cR" + k);
    }

    for (int l = 1; l <= n; ++l) {
        const double eps = md.epsilon.at(l);
        md.poissonCoef.at(l) = scaled((cScale * L * md.F) / (eps * eScale), eps,
                                      "`epsilon` of layer " + std::to_string(l), "epsilon");
        md.currentCoef.at(l) = scaled((tc / (eps * eScale)) * md.currentDensity, md.currentDensity,
                                      "`currentDensity`", "currentDensity");
    }

    for (int c = 1; c <= R; ++c) {
        const std::string k = std::to_string(c);
        for (int s = 0; s <= n; ++s)
            md.Kif[s][c] = scaled((tc / L) * md.Kif[s][c], md.Kif[s][c], of("Kif", c), "Kif" + k);
        for (int s = 0; s <= n; ++s)
            md.Kib[s][c] = scaled((tc / L) * md.Kib[s][c], md.Kib[s][c], of("Kib", c), "Kib" + k);
        for (int l = 1; l <= n; ++l) {
            const double Dlc = md.D.at(l).item(c);
            md.Dscaled.at(l).item(c) = scaled((tc / (L * L)) * Dlc, Dlc, of("D", c), "D" + k);
            md.driftCoef.at(l).item(c) = scaled(Dlc * (md.z[c] * ((tc * eScale / L) * md.F_RT)),
                                                Dlc * md.z[c], of("D", c), "D" + k);
        }
    }

    for (int l = 1; l <= n; ++l) {
        const double complexing = md.complexing.at(l);
        if (!(complexing > 0)) continue;
        for (int c = 1; c <= R; ++c) {
            if (md.ligand[c] <= 0) continue;
            const std::string k = std::to_string(c);
            const double kas = md.Kas[l][c];
            const double kdis = md.Kdis[l][c];
            // the stability Kas/Kdis serves boundary complexation only
            md.Kc[l][c] = complexing == 1 ? scaled((cScale * kas) / kdis, kas,
                                                   of("Kas", c) + " / `Kdis`", "Kas" + k)
                                          : (cScale * kas) / kdis;
            md.Kdis[l][c] = scaled(tc * kdis, kdis, of("Kdis", c), "Kdis" + k);
            md.Kas[l][c] = scaled((tc * cScale) * kas, kas, of("Kas", c), "Kas" + k);
        }
    }
}
