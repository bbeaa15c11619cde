#include "output/input_copy.h"

#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "base/number_text.h"
#include "output/output_file.h"

namespace {

// Writes values with the stream's default formatting (six significant digits), or with
// `exact` in the shortest text that reads back as the same double.
struct CopyWriter {
    CopyWriter(const model& m, bool exactNumbers) : md(m), exact(exactNumbers) {}

    const model& md;
    const bool exact;
    std::ostringstream out;

    template <class T>
    void put(const T& v) {
        if constexpr (std::is_floating_point_v<T>)
            if (exact) {
                out << exact_number_text(v);
                return;
            }
        out << v;
    }

    // One value per layer, value(l) for layer l, blank-separated; with `leading` every
    // value, the first too, is preceded by a blank.
    template <class F>
    void per_layer(F value, bool leading = false) {
        for (int l = 1; l <= md.n; ++l) {
            if (leading || l > 1) out << ' ';
            put(value(l));
        }
    }
    // Rate constants of component c at every interface, in input units [m/s], each
    // preceded by a blank.
    void interfaces(const SlotTable& table, int c) {
        for (int s = 0; s <= md.n; ++s) {
            out << ' ';
            put(table[s][c] * md.L / md.tc);
        }
    }

    void comment(const std::string& text) { out << '\n' << text << '\n'; }
    void line(const char* text) { out << '\n' << text; }
    template <class T>
    void values(const T& first) {
        put(first);
    }
    template <class T, class... Rest>
    void values(const T& first, const Rest&... rest) {
        put(first);
        out << ' ';
        values(rest...);
    }
};

std::string dashes(int count) { return std::string(count, '-'); }

// How one form labels the lines of a component block.
struct ComponentLabels {
    const char* D;
    const char* z;
    const char* Kif;
    const char* Kib;
};

// One component block: its head, diffusivities and charge, then what `concentrations`
// writes, then the rate constants at the interfaces.
template <class Concentrations>
void write_component(CopyWriter& w, int c, const ComponentLabels& labels,
                     Concentrations concentrations) {
    const model& md = w.md;
    w.out << "\n---- Component " << c << dashes(47);
    w.line(labels.D);
    w.per_layer([&](int l) { return md.D.at(l).item(c); }, true);
    w.line(labels.z);
    w.out << md.z[c];
    concentrations();
    w.line(labels.Kif);
    w.interfaces(md.Kif, c);
    w.line(labels.Kib);
    w.interfaces(md.Kib, c);
}

// A per-layer count as the input gives it: `inUse` unless the grid in use replaced it.
int as_read(const std::vector<int>& read, int inUse, int l) {
    return read.empty() ? inUse : read.at(static_cast<std::size_t>(l - 1));
}

// The grid of both forms, each group headed "-- <name><layers>...", then the y.vec switch
// and genPS, which each form explains in its own words.
void write_grid_and_switches(CopyWriter& w, const std::string& layers, const char* genPSComment) {
    const model& md = w.md;
    w.comment("-- grid_type" + layers + ":");
    w.per_layer([&](int l) { return md.grid_type.at(l); });
    w.comment("-- N" + layers + " (number of points in discretization):");
    w.per_layer([&](int l) { return as_read(md.inputN, md.N.at(l), l); });
    w.comment("-- m" + layers + " (number of points in Debye length):");
    w.per_layer([&](int l) { return as_read(md.inputM, md.m.at(l), l); });
    w.comment("-- Load initial concentration from file y.vec (1-Yes, 0-No);");
    w.values(md.loadYvec);
    w.comment(genPSComment);
    w.values(md.genPS);
}

// Value of the complexation constants in input units, undoing their scaling where the
// scaling ran (complexing layer, reactive component).
bool complexation_scaled(const model& md, int l, int c) {
    return md.ligand[c] > 0 && md.complexing.allocated() && md.complexing.at(l) > 0;
}
double unscaled_kas(const model& md, int l, int c) {
    return complexation_scaled(md, l, c) ? md.Kas[l][c] / (md.tc * md.cScale) : md.Kas[l][c];
}
double unscaled_kdis(const model& md, int l, int c) {
    return complexation_scaled(md, l, c) ? md.Kdis[l][c] / md.tc : md.Kdis[l][c];
}

// The copies lie in the run folder under the input's own name, without any folder part
// that the input name carried.
std::string base_name(const std::string& inputName) {
    const size_t slash = inputName.find_last_of("/\\");
    return slash == std::string::npos ? inputName : inputName.substr(slash + 1);
}

}  // namespace

std::string current_form_text(const model& md, bool exactNumbers) {
    const int n = md.n;
    CopyWriter w(md, exactNumbers);
    w.out << "#TAVO2";
    w.comment("-- Model (0=Nernst-Planck-Poisson, 1=Fickian Diffusion only): ");
    w.values(md.modelType);
    w.comment(
        "-- Electrochemical Method (0-Potentiometry, 1- EIS, 2 - Chronopotentiometry) and "
        "value of current density [A/(m^2)]:");
    w.values(md.method, md.currentDensity);
    w.comment("-- n - number of layers (phases):");
    w.values(n);
    w.comment("-- d [layers] (thicknesses of the respective layers [m]):");
    w.per_layer([&](int l) { return md.d.at(l); });
    w.comment(
        "-- epsilon [layers] (dielectric constant [C^2/(J*m)] in each layer, e.g. vacuum "
        "8.85419e-12):");
    w.per_layer([&](int l) { return md.epsilon.at(l); });
    w.comment("-- complexing [layers] (0=no, 1=boundary only, 2=full complexing):");
    w.per_layer([&](int l) { return md.complexing.at(l); });
    w.comment("-- T (absolute temperature [K]):");
    w.values(md.T);
    w.comment("-- tEnd (duration of every calibration point [s]):");
    w.values(md.tEnd * md.tc);
    w.comment("-- R (number of components):");
    w.values(md.R);
    w.comment(
        "-- calibration curve parameters(target layer, changed ion number, opposite ion "
        "number, number of calibration points):");
    w.values(md.targets.empty() ? 0 : md.targets[0], md.changedIon, md.oppositeIon, md.nCalib);
    w.comment("-- calibration curve points(multiplier for each point):");
    for (int i = 1; i <= md.nCalib; ++i) {
        if (i > 1) w.out << ' ';
        w.put(md.multipliers[i]);
    }
    w.line(dashes(68).c_str());
    static constexpr ComponentLabels kLabels{
        "Diffusivity [layers]     :", "Ion charge \t             : ", "Kif [layers+1]           :",
        "Kib [layers+1]           :"};
    for (int c = 1; c <= md.R; ++c) {
        write_component(w, c, kLabels, [&] {
            w.line("Concentrations [layers+2]: ");
            w.put(md.cL[c] * md.cScale);
            w.per_layer([&](int l) { return md.cM.at(l).item(c) * md.cScale; }, true);
            w.out << ' ';
            w.put(md.cR[c] * md.cScale);
        });
        w.line("reactive with ligand     : ");
        w.out << md.ligand[c];
        if (md.ligand[c] > 0) {
            w.line("forms complex            : ");
            w.out << md.complexOf[c];
            w.line("Kas [layers]             :");
            for (int l = 1; l <= n; ++l) {
                w.out << ' ';
                w.put(unscaled_kas(md, l, c));
            }
            w.line("Kdis [layers]            :");
            for (int l = 1; l <= n; ++l) {
                w.out << ' ';
                w.put(unscaled_kdis(md, l, c));
            }
        }
    }
    w.line(dashes(68).c_str());
    w.comment(
        "-- tolerances (absolute and relative) // (atol = 1e-10 for Potentiometry, 1e-18 "
        "for EIS; rtol = atol *1e6) :");
    w.values(md.atol, md.rtol);
    w.comment("-- xs, ts, cmax, emax, h_min (in [m]) // (0=authomatic) :");
    // The grid step written is the one that reproduces this grid when the copy is read
    // back: under the divisor method the requested value is not itself a step, and under
    // the automatic method a legacy input may carry an unused one, which the current form
    // would take as a manual step; 0 keeps it automatic.
    const double hWritten = md.gridDebyeMethod == 3   ? md.h_min
                            : md.gridDebyeMethod == 2 ? md.hDebye
                                                      : 0.0;
    w.values(md.L, md.tc, md.cScale, md.eScale, hWritten);
    write_grid_and_switches(w, " [layers]", "-- Generate PostScript Files (1-Yes, 0-No);");
    return w.out.str();
}

std::string legacy_form_text(const model& md) {
    const int n = md.n;
    CopyWriter w(md, false);
    w.out << "#TAVO";
    w.comment("-- n - number of layers (phases):");
    w.values(n);
    w.comment("-- driftYes (1-Yes, 0-No):");
    w.values(0);
    w.comment("-- d[layers] (membrane thickness [m]):");
    w.per_layer([&](int l) { return md.d.at(l); });
    w.comment("-- duzeR (number of components):");
    w.values(md.R);
    w.comment("-- cMixt (average solution molarconcentration [mol/m^3]):");
    w.per_layer([](int) { return 0; });
    w.comment("-- T (absolute temperature [K]):");
    w.values(md.T);
    w.comment("-- epsilon[layers] (dielectric constant [C^2/(J*m)], e.g. vacuum 8.85419e-12):");
    w.per_layer([&](int l) { return md.epsilon.at(l); });
    w.comment("-- tEnd (time of the process duration [s]):");
    w.values(md.tEnd * md.tc);
    w.comment("-- calibration curve ions(changed ion number, opposite ion number):");
    w.values(md.changedIon, md.oppositeIon);
    w.comment("-- calibration curve parameters (number of parameters, list of parameters):");
    w.out << md.nTargets;
    for (int k = 0; k < md.nTargets; ++k) w.out << ' ' << md.targets[k];
    w.comment("-- calibration curve iterations(number of iterations, list of multipliers):");
    w.out << md.nCalib;
    for (int i = 1; i <= md.nCalib; ++i) w.out << ' ' << md.multipliers[i];
    w.comment("-- Generate Spectrum (1-Yes, 0-No) and value of current density [A/(m^2)]:");
    w.values(md.method, md.currentDensity);
    w.line(dashes(93).c_str());
    static constexpr ComponentLabels kLabels{
        "Diffusivity[layers]\t:", "Ion charge \t  : ", "Kif[layers+1] :", "Kib[layers+1] :"};
    for (int c = 1; c <= md.R; ++c) {
        write_component(w, c, kLabels, [&] {
            w.line("CL            : ");
            w.out << md.cL[c] * md.cScale;
            w.line("CM[layers]    :");
            w.per_layer([&](int l) { return md.cM.at(l).item(c) * md.cScale; }, true);
            w.line("CR            : ");
            w.out << md.cR[c] * md.cScale;
        });
    }
    w.line(dashes(93).c_str());
    w.comment(
        "-- rescalling method (0-no, 1-authomatic, 2-authomatic_x, 3-manual); rescaled "
        "variables - L, tc, cmax, emax:");
    w.values(3, md.L, md.tc, md.cScale, md.eScale);
    w.comment(
        "-- grid_Debay method (1-automatic, 2-authomatic_x, 3-manual); Grid Debay Length "
        "(first step of space discretization [m]):");
    w.values(md.gridDebyeMethod, md.h_min);
    write_grid_and_switches(w, "[layer]",
                            "-- Generate xwyn, ywyn files continuously (1-Yes, 0-No);");
    w.out << '\n';
    return w.out.str();
}

void write_input_copy(model& md, RunFiles& files) {
    md.fileName = md.folders[0] + "/" + base_name(md.inputName) + ".cci";
    if (write_result(files, md.fileName, current_form_text(md)))
        tell(*files.messages, "\nInput file in #TAVO2 format generated.");
    write_legacy_copy(md, files);
}

void write_legacy_copy(model& md, RunFiles& files) {
    md.fileName = md.folders[0] + "/" + base_name(md.inputName) + "_TAVO1.cci";
    tell(*files.messages, "\n");  // ends the line of the current form's copy
    if (write_result(files, md.fileName, legacy_form_text(md)))
        tell(*files.messages, "Input file in #TAVO format generated.\n");
}
