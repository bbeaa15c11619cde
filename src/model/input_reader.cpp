#include "model/input_reader.h"

#include <cmath>

#include "base/number_text.h"
#include "model/dilute_range.h"
#include "model/errors.h"

namespace {

// Charges are squared as integers when the ionic strength is formed; this bound keeps
// that exact and covers every ion and polyelectrolyte segment in practice.
constexpr int kMaxCharge = 1000;

// Ten times the integrator's rounding unit 1e-16: finer relative tolerances it refuses.
constexpr double kSmallestRtol = 1e-15;

// Initial charge that the opposite ion cannot balance, sum over c of z_c c_c in mol/m^3,
// is tolerated up to rounding: concentrations written with six significant digits (as the
// program's own copies of an input are) move the sum by at most 5e-6 of sum |z_c| c_c, and
// twice that is allowed. Below 1e-9 mol/m^3 (1e-12 mol/L, a thousandth of the lowest
// activities that potentiometry resolves) a charge matters to no result, whatever the
// region holds.
constexpr double kChargeRelative = 1e-5;
constexpr double kChargeFloor = 1e-9;

// Bounds beyond which a value is most likely written in another unit: a temperature in
// degrees Celsius or in mK, a concentration in mmol/m^3 (the strongest solutions hold
// about 2e4 mol/m^3), a thickness in um or mm (membranes are thinner than a centimetre).
constexpr double kLowestT = 200;
constexpr double kHighestT = 400;
constexpr double kHighestConcentration = 2e4;
constexpr double kThickestLayer = 1e-2;

std::string plural(int count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string quoted(const std::string& name) { return "`" + name + "`"; }

// What follows a component block.
const char* const kNextComponent = "the next component's header or the closing dashes";

// Units of the values as the file gives them, for the message about a unit word.
const char* const kThickness = "m";
const char* const kPermittivity = "C^2/(J*m)";
const char* const kTemperature = "K";
const char* const kConcentration = "mol/m^3";

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
    in_.end_group("an integer for " + name);
    return v;
}

double InputReader::read_real_group(const std::string& name, Bound bound, const char* unit) {
    in_.skip_line();
    in_.set_unit(unit);
    const double v = read_real(name, bound);
    in_.end_group("a number for " + name);
    return v;
}

void InputReader::read_layer_reals(layer_double& field, const std::string& name, Bound bound,
                                   const char* unit) {
    in_.skip_line();
    in_.set_unit(unit);
    field.init(&md_.layer, md_.n);
    const std::string what = plural(md_.n, "value") + " for " + quoted(name) + " (one per layer)";
    for (md_.layer = 1; md_.layer <= md_.n; ++md_.layer) {
        const std::string label =
            md_.n == 1 ? quoted(name) : quoted(name) + " of layer " + std::to_string(md_.layer);
        field.set(read_real(label, bound, what));
    }
    md_.layer = 1;
    md_.inputLines[name] = in_.value_line();
    in_.end_group(what);
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
    in_.end_group(what);
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
    in_.end_values(groupWhat);
}

void InputReader::read_interfaces(double (&table)[kMaxSlots][kMaxSlots], int c,
                                  const std::string& name) {
    in_.set_unit("m/s");
    const std::string what = plural(md_.n + 1, "value") + " for " + quoted(name) +
                             " of component " + std::to_string(c) + " (one per interface)";
    for (int s = 0; s <= md_.n; ++s) {
        const std::string label = quoted(name) + " of component " + std::to_string(c) +
                                  " at interface " + std::to_string(s);
        table[s][c] = read_real(label, Bound::non_negative, what);
    }
    md_.inputLines[name + std::to_string(c)] = in_.value_line();
    in_.end_values(what);
}

void InputReader::read_complexation(int c) {
    const std::string comp = " of component " + std::to_string(c);
    in_.skip_label("`complexOf`" + comp);
    md_.complexOf[c] = read_int("`complexOf`" + comp, 1, md_.R);
    in_.end_values("an integer for `complexOf`" + comp);
    for (const char* name : {"Kas", "Kdis"}) {
        double(&table)[kMaxSlots][kMaxSlots] = name[1] == 'a' ? md_.Kas : md_.Kdis;
        in_.skip_label(quoted(name) + comp);
        // c + ligand -> complex at Kas·c·[ligand], back at Kdis·[complex]
        in_.set_unit(name[1] == 'a' ? "m^3/(mol*s)" : "1/s");
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
        in_.end_values(what);
    }
}

std::string InputReader::multipliers_what() const {
    return plural(md_.nCalib, "multiplier") + " (one per calibration point)";
}

void InputReader::read_multipliers() {
    md_.multipliers.assign(1, 1.0);
    const std::string what = multipliers_what();
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
    in_.set_unit("A/m^2", "`currentDensity`");
    md_.currentDensity = read_real("`currentDensity`", Bound::any, what);
    md_.inputLines["currentDensity"] = line;
    if (md_.method > 0 && md_.currentDensity == 0)
        in_.fail(line, "`currentDensity` must not be 0 for `method` " + std::to_string(md_.method) +
                           ", found 0");
    in_.end_group(what);
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
    md_.tEnd = read_real_group("`tEnd`", Bound::positive, "s");
    md_.inputLines["tEnd"] = in_.value_line();
}

void InputReader::read_drift() {
    in_.skip_line();
    md_.driftYes = in_.read_int("an integer for `driftYes`");
    in_.end_group("an integer for `driftYes`");
}

// One component block. The current form gives all concentrations behind one label and
// ends with the complexation data; the legacy form labels each region's concentration and
// has no complexation.
void InputReader::read_component(int c, bool legacyLayout) {
    model& md = md_;
    const std::string comp = " of component " + std::to_string(c);
    in_.skip_line();
    in_.skip_label("`D`" + comp);
    in_.set_unit("m^2/s");
    read_component_layers(md.D, c, "D", Bound::non_negative,
                          plural(md.n, "value") + " for `D`" + comp + " (one per layer)");
    in_.skip_label("`z`" + comp);
    const std::string zWhat = "an integer charge `z`" + comp;
    md.z[c] = read_int("`z`" + comp, -kMaxCharge, kMaxCharge, zWhat);
    in_.end_values(zWhat);
    if (legacyLayout) {
        const auto solution = [&](const char* name) {
            in_.skip_label(quoted(name) + comp);
            in_.set_unit(kConcentration);
            const double v = read_real(quoted(name) + comp, Bound::non_negative);
            md.inputLines[name + std::to_string(c)] = in_.value_line();
            in_.end_values("a number for " + quoted(name) + comp);
            return v;
        };
        md.cL[c] = solution("cL");
        in_.skip_label("`cM`" + comp);
        in_.set_unit(kConcentration);
        read_component_layers(md.cM, c, "cM", Bound::non_negative,
                              plural(md.n, "value") + " for `cM`" + comp + " (one per layer)");
        md.cR[c] = solution("cR");
    } else {
        in_.skip_label("the concentrations" + comp);
        in_.set_unit(kConcentration);
        const std::string concWhat = plural(md.n + 2, "value") + " for the concentrations" + comp +
                                     " (left solution, each layer, right solution)";
        md.cL[c] = read_real("`cL`" + comp, Bound::non_negative, concWhat);
        for (md.layer = 1; md.layer <= md.n; ++md.layer)
            md.cM.item(c) = read_real("`cM`" + comp + " in layer " + std::to_string(md.layer),
                                      Bound::non_negative, concWhat);
        md.layer = 1;
        md.cR[c] = read_real("`cR`" + comp, Bound::non_negative, concWhat);
        for (const char* name : {"cL", "cM", "cR"})
            md.inputLines[name + std::to_string(c)] = in_.value_line();
        in_.end_values(concWhat);
    }
    in_.skip_label("`Kif`" + comp);
    read_interfaces(md.Kif, c, "Kif");
    in_.skip_label("`Kib`" + comp);
    read_interfaces(md.Kib, c, "Kib");
    if (!legacyLayout) {
        in_.skip_label("`ligand`" + comp);
        const std::string ligandWhat = "an integer for `ligand`" + comp;
        md.ligand[c] = in_.read_int(ligandWhat);
        if (md.ligand[c] < 0 || md.ligand[c] > md.R)
            fail("`ligand`" + comp + " must be between 1 and " + std::to_string(md.R) +
                 " (or 0 for none), found " + std::to_string(md.ligand[c]));
        in_.end_values(ligandWhat);
        if (md.ligand[c] > 0) read_complexation(c);
    }
    in_.end_group("the values of component " + std::to_string(c), kNextComponent);
}

// The legacy forms give the rescaling method before the four requested scales.
void InputReader::read_rescaling() {
    in_.skip_line();
    const std::string what = "5 values for `rescalingMethod`, `xs`, `ts`, `cmax`, `emax`";
    md_.rescalingMethod = read_int("`rescalingMethod`", 0, 3, what);
    md_.inputLines["scales"] = in_.value_line();
    read_scales(what, false);
    in_.end_group(what);
}

// The four requested scales, each in its own unit; with `atFirst` the scales' line is the
// line of `xs`.
void InputReader::read_scales(const std::string& what, bool atFirst) {
    in_.set_unit(kThickness, "`xs`");
    md_.xs = read_real("`xs`", Bound::non_negative, what);
    if (atFirst) md_.inputLines["scales"] = in_.value_line();
    in_.set_unit("s", "`ts`");
    md_.ts = read_real("`ts`", Bound::non_negative, what);
    in_.set_unit(kConcentration, "`cmax`");
    md_.cmax = read_real("`cmax`", Bound::non_negative, what);
    in_.set_unit("V/m", "`emax`");
    md_.emax = read_real("`emax`", Bound::non_negative, what);
}

void InputReader::read_grid_debye() {
    in_.skip_line();
    const std::string what = "2 values for `gridDebyeMethod` and `h_min`";
    md_.gridDebyeMethod = read_int("`gridDebyeMethod`", 1, 3, what);
    in_.set_unit(kThickness, "`h_min`");
    md_.h_min = read_real("`h_min`", Bound::non_negative, what);
    in_.end_group(what);
}

void InputReader::read_current_form() {
    model& md = md_;
    md.modelType = read_int_group("`modelType`", 0, 1);
    read_method();
    md.n = read_int_group("`n`", 1, kMaxLayers);
    read_layer_reals(md.d, "d", Bound::positive, kThickness);
    read_layer_reals(md.epsilon, "epsilon", Bound::positive, kPermittivity);
    read_layer_choices(md.complexing, "complexing", 0, 2);
    md.T = read_real_group("`T`", Bound::positive, kTemperature);
    md.inputLines["T"] = in_.value_line();
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
    in_.end_group(calWhat);

    in_.skip_line();
    read_multipliers();
    in_.end_group(multipliers_what());
    read_components(false);

    in_.skip_line();
    const std::string tolWhat = "2 values for `atol` and `rtol`";
    md.atol = read_real("`atol`", Bound::positive, tolWhat);
    md.rtol = read_real("`rtol`", Bound::positive, tolWhat);
    // The integrator works to a relative accuracy no finer than ten rounding units.
    if (!(md.rtol > kSmallestRtol))
        fail("`rtol` must be greater than " + number_text(kSmallestRtol) + ", found " +
             number_text(md.rtol));
    in_.end_group(tolWhat);

    in_.skip_line();
    const std::string scaleWhat = "5 values for `xs`, `ts`, `cmax`, `emax`, `h_min`";
    read_scales(scaleWhat, true);
    in_.set_unit(kThickness, "`h_min`");
    md.h_min = read_real("`h_min`", Bound::non_negative, scaleWhat);
    in_.end_group(scaleWhat);
    md.rescalingMethod = (md.xs == 0 || md.ts == 0 || md.cmax == 0 || md.emax == 0) ? 1 : 3;
    md.gridDebyeMethod = md.h_min == 0 ? 1 : 3;

    read_grid_and_switches();
}

void InputReader::read_legacy_form() {
    model& md = md_;
    md.n = read_int_group("`n`", 1, kMaxLayers);
    read_drift();
    read_layer_reals(md.d, "d", Bound::positive, kThickness);
    md.R = read_int_group("`R`", 1, kMaxComponents);
    read_layer_reals(md.cMixt, "cMixt", Bound::any, kConcentration);
    md.T = read_real_group("`T`", Bound::positive, kTemperature);
    md.inputLines["T"] = in_.value_line();
    read_layer_reals(md.epsilon, "epsilon", Bound::positive, kPermittivity);
    read_duration();

    in_.skip_line();
    const std::string ionWhat = "2 values for `changedIon` and `oppositeIon`";
    md.changedIon = in_.read_int(ionWhat);
    calibrationLine_ = in_.value_line();
    md.oppositeIon = in_.read_int(ionWhat);
    in_.end_group(ionWhat);
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
    in_.end_group("`nTargets` and " + plural(md.nTargets, "calibration target"));
    in_.skip_line();
    md.nCalib =
        read_int("`nCalib`", 1, 1000000, "the number of calibration points, then the multipliers");
    read_multipliers();
    in_.end_group("`nCalib` and " + multipliers_what());
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
    md.d.set(read_real_group("`d`", Bound::positive, kThickness));
    md.inputLines["d"] = in_.value_line();
    read_grid_debye();
    md.grid_type.init(&md.layer, 1);
    md.grid_type.set(0);
    md.R = read_int_group("`R`", 1, kMaxComponents);
    md.cMixt.init(&md.layer, 1);
    md.cMixt.set(read_real_group("`cMixt`", Bound::any, kConcentration));
    md.T = read_real_group("`T`", Bound::positive, kTemperature);
    md.inputLines["T"] = in_.value_line();
    md.epsilon.init(&md.layer, 1);
    md.epsilon.set(read_real_group("`epsilon`", Bound::positive, kPermittivity));
    read_duration();

    in_.skip_line();
    md.D.init(&md.layer, 1, md.R);
    md.cM.init(&md.layer, 1, md.R);
    md.layer = 1;
    for (int c = 1; c <= md.R; ++c) {
        const std::string comp = " of component " + std::to_string(c);
        auto labelled = [&](const std::string& name, const char* unit) {
            in_.skip_label(quoted(name) + comp);
            in_.skip_label(quoted(name) + comp);
            in_.set_unit(unit);
            const double v = read_real(quoted(name) + comp, Bound::non_negative);
            md.inputLines[name + std::to_string(c)] = in_.value_line();
            in_.end_values("a number for " + quoted(name) + comp);
            return v;
        };
        md.D.item(c) = labelled("D", "m^2/s");
        in_.skip_label("`z`" + comp);
        in_.skip_label("`z`" + comp);
        const std::string zWhat = "an integer charge `z`" + comp;
        md.z[c] = read_int("`z`" + comp, -kMaxCharge, kMaxCharge, zWhat);
        in_.end_values(zWhat);
        md.cL[c] = labelled("cL", kConcentration);
        md.cM.item(c) = labelled("cM", kConcentration);
        md.cR[c] = labelled("cR", kConcentration);
        // At each interface the backward constant stands before the forward one.
        md.Kib[0][c] = labelled("Kib", "m/s");
        md.Kif[0][c] = labelled("Kif", "m/s");
        md.Kib[1][c] = labelled("Kib", "m/s");
        md.Kif[1][c] = labelled("Kif", "m/s");
        in_.end_group("the values of component " + std::to_string(c), kNextComponent);
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

namespace {

// Concentration of component c as read (mol/m^3) in a region: 0 the left solution,
// 1..n that layer, n+1 the right solution.
double read_concentration(const model& md, int region, int c) {
    if (region == 0) return md.cL[c];
    if (region == md.n + 1) return md.cR[c];
    return md.cM.at(region).item(c);
}

// Key of md.inputLines for the concentration of component c in a region.
std::string concentration_key(int region, int n, int c) {
    return (region == 0 ? "cL" : region == n + 1 ? "cR" : "cM") + std::to_string(c);
}

}  // namespace

// Every region is made neutral at the start of each point by giving the opposite ion the
// concentration -sum_{c != o} z_c c_c / z_o. Complexes are components of their own and
// count with their charge. When the others' net charge has the sign of the opposite ion,
// that concentration is negative: the region would run charged against a negative amount,
// and its first integration fails or gives nonsense. Such an input is refused.
void InputReader::check_initial_charge() {
    const model& md = md_;
    const int o = md.oppositeIon;
    for (int region = 0; region <= md.n + 1; ++region) {
        double charge = 0;
        double magnitude = 0;
        for (int c = 1; c <= md.R; ++c) {
            if (c == o) continue;
            const double conc = read_concentration(md, region, c);
            charge += static_cast<double>(md.z[c]) * conc;
            magnitude += std::abs(static_cast<double>(md.z[c])) * conc;
        }
        if (charge * md.z[o] <= 0 || std::abs(charge) <= kChargeRelative * magnitude + kChargeFloor)
            continue;
        const auto line = md.inputLines.find(concentration_key(region, md.n, o));
        in_.fail(line == md.inputLines.end() ? calibrationLine_ : line->second,
                 region_name(region, md.n) +
                     " is not electroneutral: the net charge of its other components is " +
                     number_text(charge) + " mol/m^3, of the same sign as the opposite ion " +
                     "(component " + std::to_string(o) + ", charge " + std::to_string(md.z[o]) +
                     "), which would need a concentration of " + number_text(-charge / md.z[o]) +
                     " mol/m^3 to balance it");
    }
}

void InputReader::check_dilute_range() {
    const std::optional<DiluteExcess> excess = dilute_range_excess(md_);
    if (!excess) return;
    const int c = excess->parts.front().component;
    const std::string key = excess->interface < 0 ? concentration_key(excess->layer, md_.n, c)
                                                  : "Kif" + std::to_string(c);
    const auto line = md_.inputLines.find(key);
    in_.fail(line == md_.inputLines.end() ? calibrationLine_ : line->second,
             dilute_excess_text(*excess, md_.n));
}

void InputReader::add_plausibility_notes() {
    model& md = md_;
    const auto note = [&](const std::string& key, const std::string& text) {
        const auto line = md.inputLines.find(key);
        md.inputNotes.push_back(
            "Note: " + in_.file_name() +
            (line == md.inputLines.end() ? "" : ", line " + std::to_string(line->second)) + ": " +
            text);
    };
    if (md.T < kLowestT || md.T > kHighestT)
        note("T", "`T` is " + number_text(md.T) + " K, outside " + number_text(kLowestT) + " to " +
                      number_text(kHighestT) + " K; check that it is in K.");

    // One note for all concentrations, naming the first one beyond the bound.
    int beyond = 0;
    std::string key;
    std::string first;
    for (int c = 1; c <= md.R; ++c)
        for (int region = 0; region <= md.n + 1; ++region) {
            const double conc = read_concentration(md, region, c);
            if (!(conc > kHighestConcentration)) continue;
            if (beyond++ == 0) {
                key = concentration_key(region, md.n, c);
                first = "component " + std::to_string(c) + " in " + region_name(region, md.n) +
                        " has " + number_text(conc) + " mol/m^3";
            }
        }
    if (beyond > 0)
        note(key, first +
                      (beyond > 1 ? " (and " + std::to_string(beyond - 1) + " more concentrations)"
                                  : "") +
                      ", above " + number_text(kHighestConcentration) +
                      " mol/m^3; check that concentrations are in mol/m^3 (1 mol/L = 1000 "
                      "mol/m^3).");

    for (int l = 1; l <= md.n; ++l)
        if (md.d.at(l) > kThickestLayer) {
            note("d", "`d` of layer " + std::to_string(l) + " is " + number_text(md.d.at(l)) +
                          " m, above 1 cm; check that thicknesses are in m.");
            break;
        }
}
