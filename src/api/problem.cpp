// A problem of the library: read through the program's input reader, written back as
// input text of the current form, and checked by reading that text again.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "api/problem_text.h"
#include "model/errors.h"
#include "model/input_file.h"
#include "model/version.h"

namespace tavoline {

std::string version() { return kProgramVersion; }

Error::Error(ErrorKind kind, const std::string& message, std::string file, int line,
             std::string field, std::string value)
    : std::runtime_error(message),
      kind_(kind),
      file_(std::move(file)),
      line_(line),
      field_(std::move(field)),
      value_(std::move(value)) {}

namespace {

// The shortest text of v that reads back as the same double.
std::string exact(double v) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

template <class T>
std::string joined(const std::vector<T>& values) {
    std::string s;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) s += ' ';
        if constexpr (std::is_floating_point_v<T>)
            s += exact(values[i]);
        else
            s += std::to_string(values[i]);
    }
    return s;
}

// Builds the text line by line, remembering which field each line holds.
struct TextBuilder {
    std::string text;
    std::vector<std::string> fields{""};  // fields[k]: field of line k (1-based)

    void line(const std::string& s, const std::string& field = "") {
        if (!text.empty()) text += '\n';
        text += s;
        fields.push_back(field);
    }
};

Problem problem_of(const model& md) {
    Problem p;
    p.name = md.inputName;
    p.transport = static_cast<Transport>(md.modelType);
    p.method = static_cast<Method>(md.method);
    p.currentDensity = md.currentDensity;
    for (int l = 1; l <= md.n; ++l) {
        Layer layer;
        layer.thickness = md.d.at(l);
        layer.permittivity = md.epsilon.at(l);
        layer.complexing = md.complexing.allocated() ? static_cast<int>(md.complexing.at(l)) : 0;
        layer.gridType = md.grid_type.at(l);
        layer.cells = md.N.at(l);
        layer.debyeCells = md.m.at(l);
        p.layers.push_back(layer);
    }
    p.temperature = md.T;
    p.duration = md.tEnd;
    for (int c = 1; c <= md.R; ++c) {
        Component k;
        k.charge = md.z[c];
        k.left = md.cL[c];
        k.right = md.cR[c];
        for (int l = 1; l <= md.n; ++l) {
            k.diffusivity.push_back(md.D.at(l).item(c));
            k.initial.push_back(md.cM.at(l).item(c));
        }
        for (int s = 0; s <= md.n; ++s) {
            k.kif.push_back(md.Kif[s][c]);
            k.kib.push_back(md.Kib[s][c]);
        }
        k.ligand = md.ligand[c];
        if (k.ligand > 0) {
            k.complex = md.complexOf[c];
            for (int l = 1; l <= md.n; ++l) {
                k.kas.push_back(md.Kas[l][c]);
                k.kdis.push_back(md.Kdis[l][c]);
            }
        }
        p.components.push_back(std::move(k));
    }
    p.target = md.targets.empty() ? 0 : md.targets[0];
    p.changedIon = md.changedIon;
    p.oppositeIon = md.oppositeIon;
    p.multipliers.assign(md.multipliers.begin() + 1, md.multipliers.end());
    p.atol = md.atol;
    p.rtol = md.rtol;
    p.lengthScale = md.xs;
    p.timeScale = md.ts;
    p.concentrationScale = md.cmax;
    p.fieldScale = md.emax;
    // Only a manual first step is a step; the older forms' automatic methods keep an
    // unused value or a divisor there.
    p.firstStep = md.gridDebyeMethod == 3 ? md.h_min : 0.0;
    p.postscript = md.genPS == 1;
    return p;
}

// The "FILE, line N: " that starts a reader's message, when it has one.
void locate(const std::string& message, std::string& file, int& line) {
    const std::size_t at = message.find(", line ");
    if (at == std::string::npos) return;
    const char* first = message.data() + at + 7;
    const char* last = message.data() + message.size();
    int n = 0;
    const auto [end, ec] = std::from_chars(first, last, n);
    if (ec != std::errc() || end == last || *end != ':') return;
    file = message.substr(0, at);
    line = n;
}

// The quoted token after "found " in a reader's message, when it has one.
std::string found_value(const std::string& message) {
    const std::size_t at = message.rfind("found ");
    if (at == std::string::npos) return "";
    std::string rest = message.substr(at + 6);
    if (!rest.empty() && rest.front() == '\'') {
        const std::size_t close = rest.find('\'', 1);
        return close == std::string::npos ? rest.substr(1) : rest.substr(1, close - 1);
    }
    const std::size_t stop = rest.find_first_of(" \n,");
    return rest.substr(0, stop);
}

// A per-layer or per-interface vector of the wrong length would shift every value after
// it in the text; it is refused by its field's name.
void check_size(const std::vector<double>& v, std::size_t expected, const std::string& field,
                const char* per) {
    if (v.size() == expected) return;
    throw Error(ErrorKind::input,
                field + ": " + std::to_string(v.size()) + (v.size() == 1 ? " value" : " values") +
                    ", expected " + std::to_string(expected) + " (one per " + per + ")",
                "", 0, field);
}

void check_sizes(const Problem& p) {
    const std::size_t n = p.layers.size();
    if (n == 0) throw Error(ErrorKind::input, "layers: the problem has no layer", "", 0, "layers");
    if (p.components.empty())
        throw Error(ErrorKind::input, "components: the problem has no component", "", 0,
                    "components");
    if (p.multipliers.empty())
        throw Error(ErrorKind::input, "multipliers: the problem has no calibration point", "", 0,
                    "multipliers");
    for (std::size_t c = 0; c < p.components.size(); ++c) {
        const Component& k = p.components[c];
        const std::string at = "components[" + std::to_string(c) + "].";
        check_size(k.diffusivity, n, at + "diffusivity", "layer");
        check_size(k.initial, n, at + "initial", "layer");
        check_size(k.kif, n + 1, at + "kif", "interface");
        check_size(k.kib, n + 1, at + "kib", "interface");
        if (k.ligand > 0) {
            check_size(k.kas, n, at + "kas", "layer");
            check_size(k.kdis, n, at + "kdis", "layer");
        } else {
            // without a ligand the complexation constants would be dropped unread
            const auto unused = [&](bool given, const char* name) {
                if (given)
                    throw Error(ErrorKind::input,
                                at + name + ": given, but the component binds no ligand (ligand " +
                                    std::to_string(k.ligand) + ")",
                                "", 0, at + name);
            };
            unused(k.complex != 0, "complex");
            unused(!k.kas.empty(), "kas");
            unused(!k.kdis.empty(), "kdis");
        }
    }
}

}  // namespace

Error input_error(const std::string& message, const std::vector<std::string>* fields) {
    std::string file;
    int line = 0;
    locate(message, file, line);
    std::string field;
    if (fields != nullptr && line > 0 && static_cast<std::size_t>(line) < fields->size())
        field = (*fields)[static_cast<std::size_t>(line)];
    return Error(ErrorKind::input, message, file, line, field, found_value(message));
}

Error library_error(const Fault& fault, const std::vector<std::string>* fields) {
    if (fault.kind() == FaultKind::input) return input_error(fault.what(), fields);
    return Error(fault.kind() == FaultKind::numerical ? ErrorKind::numerical : ErrorKind::output,
                 fault.what());
}

ProblemText problem_text(const Problem& p, bool fromSource) {
    ProblemText out;
    if (fromSource && p.source && p.source->layers == p.layers &&
        p.source->components == p.components && p.source->multipliers == p.multipliers) {
        // An unchanged problem runs from the text it was read from, whatever its form,
        // unless a field outside the layers and components changed.
        const Problem reread = Problem::from_text(p.source->text, p.source->fileName);
        Problem mine = p;
        mine.source.reset();
        Problem theirs = reread;
        theirs.source.reset();
        theirs.name = mine.name;
        if (mine == theirs) {
            out.text = p.source->text;
            out.fileName = p.source->fileName;
            return out;
        }
    }
    if (p.source && p.source->targets.size() > 1)
        throw Error(ErrorKind::input,
                    p.source->fileName +
                        ": a changed problem is run as input text of the current form, which "
                        "has one calibration target; this input has " +
                        std::to_string(p.source->targets.size()),
                    p.source->fileName, 0, "target");
    check_sizes(p);
    out.fileName = p.name.empty() ? "problem" : p.name;
    out.fileName += " (problem)";
    TextBuilder b;
    const std::size_t n = p.layers.size();
    const auto layer_values = [&](auto get) {
        std::vector<double> v;
        for (const Layer& l : p.layers) v.push_back(get(l));
        return joined(v);
    };
    const auto layer_ints = [&](auto get) {
        std::vector<int> v;
        for (const Layer& l : p.layers) v.push_back(get(l));
        return joined(v);
    };
    b.line("#TAVO2");
    b.line("-- transport (0 Nernst-Planck-Poisson, 1 diffusion only)");
    b.line(std::to_string(static_cast<int>(p.transport)), "transport");
    b.line(
        "-- method (0 potentiometry, 1 impedance, 2 chronopotentiometry), current density [A/m^2]");
    b.line(std::to_string(static_cast<int>(p.method)) + " " + exact(p.currentDensity),
           "method, currentDensity");
    b.line("-- number of layers");
    b.line(std::to_string(n), "layers");
    b.line("-- thickness [m]");
    b.line(layer_values([](const Layer& l) { return l.thickness; }), "layers[].thickness");
    b.line("-- permittivity [C^2/(J m)]");
    b.line(layer_values([](const Layer& l) { return l.permittivity; }), "layers[].permittivity");
    b.line("-- complexing");
    b.line(layer_ints([](const Layer& l) { return l.complexing; }), "layers[].complexing");
    b.line("-- temperature [K]");
    b.line(exact(p.temperature), "temperature");
    b.line("-- duration [s]");
    b.line(exact(p.duration), "duration");
    b.line("-- number of components");
    b.line(std::to_string(p.components.size()), "components");
    b.line("-- target, changed ion, opposite ion, number of calibration points");
    b.line(std::to_string(p.target) + " " + std::to_string(p.changedIon) + " " +
               std::to_string(p.oppositeIon) + " " + std::to_string(p.multipliers.size()),
           "target, changedIon, oppositeIon, multipliers");
    b.line("-- multipliers");
    b.line(joined(p.multipliers), "multipliers");
    b.line(std::string(68, '-'));
    for (std::size_t c = 0; c < p.components.size(); ++c) {
        const Component& k = p.components[c];
        const std::string at = "components[" + std::to_string(c) + "].";
        std::string head = "---- Component " + std::to_string(c + 1);
        if (!k.name.empty()) {
            // A label is a comment: one line, whatever the caller gave.
            std::string label = k.name;
            for (char& ch : label)
                if (ch == '\n' || ch == '\r') ch = ' ';
            head += " " + label;
        }
        b.line(head);
        b.line("Diffusivity : " + joined(k.diffusivity), at + "diffusivity");
        b.line("Charge : " + std::to_string(k.charge), at + "charge");
        std::vector<double> conc{k.left};
        conc.insert(conc.end(), k.initial.begin(), k.initial.end());
        conc.push_back(k.right);
        b.line("Concentrations : " + joined(conc), at + "left, initial, right");
        b.line("Kif : " + joined(k.kif), at + "kif");
        b.line("Kib : " + joined(k.kib), at + "kib");
        b.line("Ligand : " + std::to_string(k.ligand), at + "ligand");
        if (k.ligand > 0) {
            b.line("Complex : " + std::to_string(k.complex), at + "complex");
            b.line("Kas : " + joined(k.kas), at + "kas");
            b.line("Kdis : " + joined(k.kdis), at + "kdis");
        }
    }
    b.line(std::string(68, '-'));
    b.line("-- atol, rtol");
    b.line(exact(p.atol) + " " + exact(p.rtol), "atol, rtol");
    b.line("-- scales: length [m], time [s], concentration [mol/m^3], field [V/m]; first step [m]");
    b.line(exact(p.lengthScale) + " " + exact(p.timeScale) + " " + exact(p.concentrationScale) +
               " " + exact(p.fieldScale) + " " + exact(p.firstStep),
           "lengthScale, timeScale, concentrationScale, fieldScale, firstStep");
    b.line("-- grid type");
    b.line(layer_ints([](const Layer& l) { return l.gridType; }), "layers[].gridType");
    b.line("-- cells");
    b.line(layer_ints([](const Layer& l) { return l.cells; }), "layers[].cells");
    b.line("-- cells in the first Debye length");
    b.line(layer_ints([](const Layer& l) { return l.debyeCells; }), "layers[].debyeCells");
    b.line("-- initial state from y.vec");
    b.line("0");
    b.line("-- PostScript files");
    b.line(p.postscript ? "1" : "0", "postscript");
    b.text += '\n';
    out.text = std::move(b.text);
    out.fields = std::move(b.fields);
    return out;
}

void read_problem(model& md, const ProblemText& text) {
    try {
        read_input_text(md, text.text, text.fileName);
    } catch (const Fault& f) {
        throw library_error(f, text.fields.empty() ? nullptr : &text.fields);
    }
}

Problem Problem::from_text(const std::string& text, const std::string& source) {
    model md;
    md.inputName = source;
    read_problem(md, ProblemText{text, source, {}});
    Problem p = problem_of(md);
    p.name = source;
    p.source = Source{text, source, p.layers, p.components, p.multipliers, md.targets};
    return p;
}

Problem Problem::from_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(ErrorKind::input, "File " + path + " cannot be opened.", path);
    std::ostringstream text;
    text << in.rdbuf();
    Problem p = from_text(text.str(), path);
    // The run's name is the file's, without its folder and ".cci".
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (name.size() > 4 && name.ends_with(".cci")) name.resize(name.size() - 4);
    p.name = name;
    return p;
}

std::string Problem::to_text() const { return problem_text(*this, false).text; }

void Problem::validate() const {
    model md;
    read_problem(md, problem_text(*this));
}

bool Problem::operator==(const Problem& o) const {
    return name == o.name && transport == o.transport && method == o.method &&
           currentDensity == o.currentDensity && layers == o.layers &&
           temperature == o.temperature && duration == o.duration && components == o.components &&
           target == o.target && changedIon == o.changedIon && oppositeIon == o.oppositeIon &&
           multipliers == o.multipliers && atol == o.atol && rtol == o.rtol &&
           lengthScale == o.lengthScale && timeScale == o.timeScale &&
           concentrationScale == o.concentrationScale && fieldScale == o.fieldScale &&
           firstStep == o.firstStep && postscript == o.postscript;
}

}  // namespace tavoline
