#include "model/input_reader.h"

#include "model/errors.h"
#include "output/number_text.h"

namespace {

// Charges are squared as integers when the ionic strength is formed; this bound keeps
// that exact and covers every ion and polyelectrolyte segment in practice.
constexpr int kMaxCharge = 1000;

// Ten times the integrator's rounding unit 1e-16: finer relative tolerances it refuses.
constexpr double kSmallestRtol = 1e-15;

std::string plural(int count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string quoted(const std::string& name) { return "`" + name + "`"; }

}  // namespace

int InputReader::read_int(const std::string& name, int lo, int hi, const std::string& what) {
    const int v = in_.read_int(what.empty() ? "an integer for " + name : what);
    if (v < lo || v > hi)
        fail(name + " must be between " + std::to_string(lo) + " and " + std::to_string(hi) +
             ", found " + std::to_string(v));
    return v;
}

double InputReader::read_real(const std::string& name, Bound bound, const std::string& what) {
    const double v = in_.read_double(what.empty() ? "a number for " + name : what);
    if (bound == Bound::positive && !(v > 0))
        fail(name + " must be greater than 0, found " + number_text(v));
    if (bound == Bound::non_negative && !(v >= 0))
        fail(name + " must not be negative, found " + number_text(v));
    return v;
}

int InputReader::read_int_group(const std::string& name, int lo, int hi) {
    in_.skip_line();
    const int v = read_int(name, lo, hi);
    in_.skip_mark();
    return v;
}

double InputReader::read_real_group(const std::string& name, Bound bound) {
    in_.skip_line();
    const double v = read_real(name, bound);
    in_.skip_mark();
    return v;
}

void InputReader::read_layer_reals(layer_double& field, const std::string& name, Bound bound) {
    in_.skip_line();
    field.init(&md_.layer, md_.n);
    const std::string what = plural(md_.n, "value") + " for " + quoted(name) + " (one per layer)";
    for (md_.layer = 1; md_.layer <= md_.n; ++md_.layer) {
        const std::string label =
            md_.n == 1 ? quoted(name) : quoted(name) + " of layer " + std::to_string(md_.layer);
        field.set(read_real(label, bound, what));
    }
    md_.layer = 1;
    md_.inputLines[name] = in_.value_line();
    in_.skip_mark();
}

// A per-layer choice from lo..hi, written as an integer, kept in a per-layer double.
void InputReader::read_layer_choices(layer_double& field, const std::string& name, int lo, int hi) {
    layer_int choices;
    read_layer_ints(choices, name, lo, hi);
    field.init(&md_.layer, md_.n);
    for (int l = 1; l <= md_.n; ++l) {
        md_.layer = l;
        field.set(choices.at(l));
    }
    md_.layer = 1;
}

void InputReader::read_layer_ints(layer_int& field, const std::string& name, int lo, int hi) {
    in_.skip_line();
    field.init(&md_.layer, md_.n);
    const std::string what = plural(md_.n, "integer") + " for " + quoted(name) + " (one per layer)";
    for (md_.layer = 1; md_.layer <= md_.n; ++md_.layer) {
        const int v = in_.read_int(what);
        if (v < lo || v > hi) {
            const std::string where = md_.n == 1 ? "" : " of layer " + std::to_string(md_.layer);
            fail(quoted(name) + where + " must be between " + std::to_string(lo) + " and " +
                 std::to_string(hi) + ", found " + std::to_string(v));
        }
        field.set(v);
    }
    md_.layer = 1;
    in_.skip_mark();
}

void InputReader::read_component_layers(layer_double_tab& field, int c, const std::string& name,
                                        Bound bound, const std::string& groupWhat) {
    for (md_.layer = 1; md_.layer <= md_.n; ++md_.layer) {
        const std::string label = quoted(name) + " of component " + std::to_string(c) +
                                  " in layer " + std::to_string(md_.layer);
        field.item(c) = read_real(label, bound, groupWhat);
    }
    md_.layer = 1;
    md_.inputLines[name + std::to_string(c)] = in_.value_line();
}

void InputReader::read_interfaces(double (&table)[kMaxSlots][kMaxSlots], int c,
                                  const std::string& name) {
    const std::string what = plural(md_.n + 1, "value") + " for " + quoted(name) +
                             " of component " + std::to_string(c) + " (one per interface)";
    for (int s = 0; s <= md_.n; ++s) {
        const std::string label = quoted(name) + " of component " + std::to_string(c) +
                                  " at interface " + std::to_string(s);
        table[s][c] = read_real(label, Bound::non_negative, what);
    }
    md_.inputLines[name + std::to_string(c)] = in_.value_line();
}

void InputReader::read_complexation(int c) {
    const std::string comp = " of component " + std::to_string(c);
    in_.skip_label("`complexOf`" + comp);
    md_.complexOf[c] = read_int("`complexOf`" + comp, 1, md_.R);
    for (const char* name : {"Kas", "Kdis"}) {
        double(&table)[kMaxSlots][kMaxSlots] = name[1] == 'a' ? md_.Kas : md_.Kdis;
        in_.skip_label(quoted(name) + comp);
        const std::string what =
            plural(md_.n, "value") + " for " + quoted(name) + comp + " (one per layer)";
        for (int l = 1; l <= md_.n; ++l) {
            const std::string label = quoted(name) + comp + " in layer " + std::to_string(l);
            table[l][c] = read_real(label, Bound::non_negative, what);
            md_.inputLines[name + std::to_string(c)] = in_.value_line();
            md_.layer = l;
            // Boundary complexation uses the stability constant Kas/Kdis.
            if (name[1] == 'd' && table[l][c] == 0 && md_.complexing.get() == 1)
                fail(label +
                     " must be greater than 0 in a layer with boundary complexation, "
                     "found 0");
        }
        md_.layer = 1;
    }
}

void InputReader::read_multipliers() {
    md_.multipliers.assign(1, 1.0);
    const std::string what = plural(md_.nCalib, "multiplier") + " (one per calibration point)";
    for (int i = 1; i <= md_.nCalib; ++i)
        md_.multipliers.push_back(
            read_real("multiplier " + std::to_string(i), Bound::positive, what));
}

// Cross-checks of the calibration ions, once the charges are known.
void InputReader::check_components() {
    const auto fail_at = [&](const std::string& message) { in_.fail(calibrationLine_, message); };
    if (md_.changedIon < 1 || md_.changedIon > md_.R)
        fail_at("`changedIon` must be between 1 and " + std::to_string(md_.R) + ", found " +
                std::to_string(md_.changedIon));
    if (md_.oppositeIon < 1 || md_.oppositeIon > md_.R)
        fail_at("`oppositeIon` must be between 1 and " + std::to_string(md_.R) + ", found " +
                std::to_string(md_.oppositeIon));
    if (md_.z[md_.oppositeIon] == 0)
        fail_at("`oppositeIon` " + std::to_string(md_.oppositeIon) +
                " has charge 0 and cannot restore electroneutrality");
    for (int k = 0; k < md_.nTargets; ++k)
        if (md_.targets[k] < 0 || md_.targets[k] > md_.n + 1)
            fail_at("calibration target must be between 0 and " + std::to_string(md_.n + 1) +
                    ", found " + std::to_string(md_.targets[k]));
}

// The method and the applied current density; impedance and chronopotentiometry need a
// current.
void InputReader::read_method() {
    in_.skip_line();
    const std::string what = "2 values for `method` and `currentDensity`";
    md_.method = read_int("`method`", 0, 2, what);
    const int line = in_.value_line();
    md_.currentDensity = read_real("`currentDensity`", Bound::any, what);
    md_.inputLines["currentDensity"] = line;
    if (md_.method > 0 && md_.currentDensity == 0)
        in_.fail(line, "`currentDensity` must not be 0 for `method` " + std::to_string(md_.method) +
                           ", found 0");
    in_.skip_mark();
}

// Grid: grid_type, N and m per layer, each m leaving room for a growing part (P > 0).
void InputReader::read_grid() {
    read_layer_ints(md_.grid_type, "grid_type", 0, 3);
    read_layer_ints(md_.N, "N", 2, 100000000);
    md_.inputLines["N"] = in_.value_line();
    read_layer_ints(md_.m, "m", 0, 100000000);
    for (md_.layer = 1; md_.layer <= md_.n; ++md_.layer) {
        const std::string where = md_.n == 1 ? "" : " of layer " + std::to_string(md_.layer);
        check_grid(md_.grid_type.get(), md_.N.get(), md_.m.get(), where);
    }
    md_.layer = 1;
}

// `m` is read on the current value line, `N` on its recorded one.
void InputReader::check_grid(int type, int N, int mm, const std::string& where) {
    if ((type == 1 || type == 2) && mm >= N)
        fail("`m`" + where + " must be smaller than `N` = " + std::to_string(N) +
             " for grid type " + std::to_string(type) + ", found " + std::to_string(mm));
    if (type == 0 && mm >= N / 2)
        fail("`m`" + where + " must be smaller than `N`/2 = " + std::to_string(N / 2) +
             " for grid type 0, found " + std::to_string(mm));
    if (type == 0 && N % 2 != 0)
        in_.fail(md_.inputLines["N"], "`N`" + where +
                                          " must be even for grid type 0 (its two refined halves "
                                          "meet in the middle), found " +
                                          std::to_string(N));
}

// The grid and the two switches that close every current and legacy file.
void InputReader::read_grid_and_switches() {
    read_grid();
    md_.loadYvec = read_int_group("`loadYvec`", 0, 1);
    md_.inputLines["loadYvec"] = in_.value_line();
    md_.genPS = read_int_group("`genPS`", 0, 1);
}

// The component blocks between their two dashed lines.
void InputReader::read_components(bool legacyLayout) {
    in_.skip_line();
    md_.D.init(&md_.layer, md_.n, md_.R);
    md_.cM.init(&md_.layer, md_.n, md_.R);
    for (int c = 1; c <= md_.R; ++c) read_component(c, legacyLayout);
    check_components();
    in_.skip_line();
}

void InputReader::read_duration() {
    md_.tEnd = read_real_group("`tEnd`", Bound::positive);
    md_.inputLines["tEnd"] = in_.value_line();
}

void InputReader::read_drift() {
    in_.skip_line();
    md_.driftYes = in_.read_int("an integer for `driftYes`");
    in_.skip_mark();
}

// One component block. The current form gives all concentrations behind one label and
// ends with the complexation data; the legacy form labels each region's concentration and
// has no complexation.
void InputReader::read_component(int c, bool legacyLayout) {
    model& md = md_;
    const std::string comp = " of component " + std::to_string(c);
    in_.skip_line();
    in_.skip_label("`D`" + comp);
    read_component_layers(md.D, c, "D", Bound::non_negative,
                          plural(md.n, "value") + " for `D`" + comp + " (one per layer)");
    in_.skip_label("`z`" + comp);
    md.z[c] = read_int("`z`" + comp, -kMaxCharge, kMaxCharge, "an integer charge `z`" + comp);
    if (legacyLayout) {
        in_.skip_label("`cL`" + comp);
        md.cL[c] = read_real("`cL`" + comp, Bound::non_negative);
        md.inputLines["cL" + std::to_string(c)] = in_.value_line();
        in_.skip_label("`cM`" + comp);
        read_component_layers(md.cM, c, "cM", Bound::non_negative,
                              plural(md.n, "value") + " for `cM`" + comp + " (one per layer)");
        in_.skip_label("`cR`" + comp);
        md.cR[c] = read_real("`cR`" + comp, Bound::non_negative);
        md.inputLines["cR" + std::to_string(c)] = in_.value_line();
    } else {
        in_.skip_label("the concentrations" + comp);
        const std::string concWhat = plural(md.n + 2, "value") + " for the concentrations" + comp +
                                     " (left solution, each layer, right solution)";
        md.cL[c] = read_real("`cL`" + comp, Bound::non_negative, concWhat);
        read_component_layers(md.cM, c, "cM", Bound::non_negative, concWhat);
        md.cR[c] = read_real("`cR`" + comp, Bound::non_negative, concWhat);
        md.inputLines["cL" + std::to_string(c)] = in_.value_line();
        md.inputLines["cR" + std::to_string(c)] = in_.value_line();
    }
    in_.skip_label("`Kif`" + comp);
    read_interfaces(md.Kif, c, "Kif");
    in_.skip_label("`Kib`" + comp);
    read_interfaces(md.Kib, c, "Kib");
    if (!legacyLayout) {
        in_.skip_label("`ligand`" + comp);
        md.ligand[c] = in_.read_int("an integer for `ligand`" + comp);
        if (md.ligand[c] < 0 || md.ligand[c] > md.R)
            fail("`ligand`" + comp + " must be between 1 and " + std::to_string(md.R) +
                 " (or 0 for none), found " + std::to_string(md.ligand[c]));
        if (md.ligand[c] > 0) read_complexation(c);
    }
    in_.skip_mark();
}

// The legacy forms give the rescaling method before the four requested scales.
void InputReader::read_rescaling() {
    in_.skip_line();
    const std::string what = "5 values for `rescalingMethod`, `xs`, `ts`, `cmax`, `emax`";
    md_.rescalingMethod = read_int("`rescalingMethod`", 0, 3, what);
    md_.inputLines["scales"] = in_.value_line();
    md_.xs = read_real("`xs`", Bound::non_negative, what);
    md_.ts = read_real("`ts`", Bound::non_negative, what);
    md_.cmax = read_real("`cmax`", Bound::non_negative, what);
    md_.emax = read_real("`emax`", Bound::non_negative, what);
    in_.skip_mark();
}

void InputReader::read_grid_debye() {
    in_.skip_line();
    const std::string what = "2 values for `gridDebyeMethod` and `h_min`";
    md_.gridDebyeMethod = read_int("`gridDebyeMethod`", 1, 3, what);
    md_.h_min = read_real("`h_min`", Bound::non_negative, what);
    in_.skip_mark();
}

void InputReader::read_current_form() {
    model& md = md_;
    md.modelType = read_int_group("`modelType`", 0, 1);
    read_method();
    md.n = read_int_group("`n`", 1, kMaxLayers);
    read_layer_reals(md.d, "d", Bound::positive);
    read_layer_reals(md.epsilon, "epsilon", Bound::positive);
    read_layer_choices(md.complexing, "complexing", 0, 2);
    md.T = read_real_group("`T`", Bound::positive);
    read_duration();
    md.R = read_int_group("`R`", 1, kMaxComponents);

    in_.skip_line();
    const std::string calWhat =
        "4 values for the calibration (target, `changedIon`, `oppositeIon`, `nCalib`)";
    md.nTargets = 1;
    md.targets.assign(1, in_.read_int(calWhat));
    calibrationLine_ = in_.value_line();
    md.changedIon = in_.read_int(calWhat);
    md.oppositeIon = in_.read_int(calWhat);
    md.nCalib = read_int("`nCalib`", 1, 1000000, calWhat);
    in_.skip_mark();

    in_.skip_line();
    read_multipliers();
    in_.skip_mark();
    read_components(false);

    in_.skip_line();
    md.atol = read_real("`atol`", Bound::positive, "2 values for `atol` and `rtol`");
    md.rtol = read_real("`rtol`", Bound::positive, "2 values for `atol` and `rtol`");
    // The integrator works to a relative accuracy no finer than ten rounding units.
    if (!(md.rtol > kSmallestRtol))
        fail("`rtol` must be greater than " + number_text(kSmallestRtol) + ", found " +
             number_text(md.rtol));
    in_.skip_mark();

    in_.skip_line();
    const std::string scaleWhat = "5 values for `xs`, `ts`, `cmax`, `emax`, `h_min`";
    md.xs = read_real("`xs`", Bound::non_negative, scaleWhat);
    md.inputLines["scales"] = in_.value_line();
    md.ts = read_real("`ts`", Bound::non_negative, scaleWhat);
    md.cmax = read_real("`cmax`", Bound::non_negative, scaleWhat);
    md.emax = read_real("`emax`", Bound::non_negative, scaleWhat);
    md.h_min = read_real("`h_min`", Bound::non_negative, scaleWhat);
    in_.skip_mark();
    md.rescalingMethod = (md.xs == 0 || md.ts == 0 || md.cmax == 0 || md.emax == 0) ? 1 : 3;
    md.gridDebyeMethod = md.h_min == 0 ? 1 : 3;

    read_grid_and_switches();
}

void InputReader::read_legacy_form() {
    model& md = md_;
    md.n = read_int_group("`n`", 1, kMaxLayers);
    read_drift();
    read_layer_reals(md.d, "d", Bound::positive);
    md.R = read_int_group("`R`", 1, kMaxComponents);
    read_layer_reals(md.cMixt, "cMixt", Bound::any);
    md.T = read_real_group("`T`", Bound::positive);
    read_layer_reals(md.epsilon, "epsilon", Bound::positive);
    read_duration();

    in_.skip_line();
    const std::string ionWhat = "2 values for `changedIon` and `oppositeIon`";
    md.changedIon = in_.read_int(ionWhat);
    calibrationLine_ = in_.value_line();
    md.oppositeIon = in_.read_int(ionWhat);
    in_.skip_mark();
    in_.skip_line();
    md.nTargets = read_int("`nTargets`", 1, kMaxLayers + 2,
                           "the number of calibration targets, then the targets");
    md.targets.clear();
    for (int k = 0; k < md.nTargets; ++k) {
        md.targets.push_back(in_.read_int(plural(md.nTargets, "calibration target")));
        const int t = md.targets.back();
        if (t < 0 || t > md.n + 1)
            fail("calibration target must be between 0 and " + std::to_string(md.n + 1) +
                 ", found " + std::to_string(t));
    }
    in_.skip_mark();
    in_.skip_line();
    md.nCalib =
        read_int("`nCalib`", 1, 1000000, "the number of calibration points, then the multipliers");
    read_multipliers();
    in_.skip_mark();
    read_method();
    read_components(true);

    read_rescaling();
    read_grid_debye();
    read_grid_and_switches();
    set_legacy_fixed_values();
}

// What the legacy forms do not carry: a Nernst-Planck-Poisson problem without
// complexation, with the tolerances recommended for potentiometry.
void InputReader::set_legacy_fixed_values() {
    model& md = md_;
    md.modelType = 0;
    md.atol = 1e-10;
    md.rtol = md.atol * 1e6;
    md.complexing.init(&md.layer, md.n);
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        md.complexing.set(0);
        for (int c = 1; c <= md.R; ++c) {
            md.ligand[c] = 0;
            md.complexOf[c] = 0;
            md.Kas[l][c] = 1.0;
            md.Kdis[l][c] = 1.0;
        }
    }
    md.layer = 1;
}

void InputReader::read_oldest_form() {
    model& md = md_;
    read_rescaling();
    in_.skip_line();
    in_.skip_line();
    read_drift();

    md.n = 1;
    md.layer = 1;
    md.N.init(&md.layer, 1);
    md.N.set(read_int_group("`N`", 2, 100000000));
    md.inputLines["N"] = in_.value_line();
    md.m.init(&md.layer, 1);
    md.m.set(read_int_group("`m`", 0, 100000000));
    check_grid(0, md.N.get(), md.m.get(), "");
    md.d.init(&md.layer, 1);
    md.d.set(read_real_group("`d`", Bound::positive));
    read_grid_debye();
    md.grid_type.init(&md.layer, 1);
    md.grid_type.set(0);
    md.R = read_int_group("`R`", 1, kMaxComponents);
    md.cMixt.init(&md.layer, 1);
    md.cMixt.set(read_real_group("`cMixt`", Bound::any));
    md.T = read_real_group("`T`", Bound::positive);
    md.epsilon.init(&md.layer, 1);
    md.epsilon.set(read_real_group("`epsilon`", Bound::positive));
    read_duration();

    in_.skip_line();
    md.D.init(&md.layer, 1, md.R);
    md.cM.init(&md.layer, 1, md.R);
    md.layer = 1;
    for (int c = 1; c <= md.R; ++c) {
        const std::string comp = " of component " + std::to_string(c);
        auto labelled = [&](const std::string& name, Bound bound) {
            in_.skip_label(quoted(name) + comp);
            in_.skip_label(quoted(name) + comp);
            const double v = read_real(quoted(name) + comp, bound);
            md.inputLines[name + std::to_string(c)] = in_.value_line();
            return v;
        };
        md.D.item(c) = labelled("D", Bound::non_negative);
        in_.skip_label("`z`" + comp);
        in_.skip_label("`z`" + comp);
        md.z[c] = read_int("`z`" + comp, -kMaxCharge, kMaxCharge, "an integer charge `z`" + comp);
        md.cL[c] = labelled("cL", Bound::non_negative);
        md.cM.item(c) = labelled("cM", Bound::non_negative);
        md.cR[c] = labelled("cR", Bound::non_negative);
        // At each interface the backward constant stands before the forward one.
        md.Kib[0][c] = labelled("Kib", Bound::non_negative);
        md.Kif[0][c] = labelled("Kif", Bound::non_negative);
        md.Kib[1][c] = labelled("Kib", Bound::non_negative);
        md.Kif[1][c] = labelled("Kif", Bound::non_negative);
        in_.skip_mark();
    }

    md.nTargets = 1;
    md.changedIon = 1;
    md.oppositeIon = 1;
    md.nCalib = 1;
    md.targets.assign(1, 1);
    md.multipliers.assign(2, 1.0);
    md.method = 0;
    md.genPS = 0;
    md.loadYvec = 0;
    md.currentDensity = 1e-4;
    if (md.z[1] == 0)
        in_.fail(in_.value_line(),
                 "component 1 restores electroneutrality in this form and must be charged, "
                 "found `z` = 0");
    set_legacy_fixed_values();
    md.rtol = 1e-4;
}
