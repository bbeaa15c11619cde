#include "sweep/sweep_file.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/number_text.h"
#include "model/errors.h"
#include "model/input_file.h"
#include "model/text_scanner.h"
#include "output/input_copy.h"

namespace {

// What an index of a group counts.
enum class Axis { layer, component, interface_, point };

enum class Bound { positive, non_negative, any, whole_from_2, whole_from_0 };

struct GroupInfo {
    const char* name;
    std::vector<Axis> axes;
    Bound bound;
};

const std::vector<GroupInfo>& groups() {
    using A = Axis;
    static const std::vector<GroupInfo> table = {
        {"d", {A::layer}, Bound::positive},
        {"epsilon", {A::layer}, Bound::positive},
        {"N", {A::layer}, Bound::whole_from_2},
        {"m", {A::layer}, Bound::whole_from_0},
        {"D", {A::component, A::layer}, Bound::non_negative},
        {"cM", {A::component, A::layer}, Bound::non_negative},
        {"Kas", {A::component, A::layer}, Bound::non_negative},
        {"Kdis", {A::component, A::layer}, Bound::non_negative},
        {"cL", {A::component}, Bound::non_negative},
        {"cR", {A::component}, Bound::non_negative},
        {"Kif", {A::component, A::interface_}, Bound::non_negative},
        {"Kib", {A::component, A::interface_}, Bound::non_negative},
        {"multipliers", {A::point}, Bound::positive},
        {"T", {}, Bound::positive},
        {"tEnd", {}, Bound::positive},
        {"currentDensity", {}, Bound::any},
        {"atol", {}, Bound::positive},
        {"rtol", {}, Bound::positive},
    };
    return table;
}

const GroupInfo* find_group(const std::string& name) {
    for (const GroupInfo& g : groups())
        if (name == g.name) return &g;
    return nullptr;
}

const char* axis_name(Axis a) {
    switch (a) {
        case Axis::layer:
            return "layer";
        case Axis::component:
            return "component";
        case Axis::interface_:
            return "interface";
        case Axis::point:
            return "point";
    }
    return "";
}

std::string index_form(const GroupInfo& g) {
    std::string s = g.name;
    if (g.axes.empty()) return s;
    s += '[';
    for (size_t k = 0; k < g.axes.size(); ++k) s += (k ? "," : "") + std::string(axis_name(g.axes[k]));
    return s + ']';
}

std::string group_list() {
    std::string s;
    for (const GroupInfo& g : groups()) s += (s.empty() ? "" : ", ") + std::string(g.name);
    return s;
}

[[noreturn]] void fail(const std::string& file, int line, const std::string& message) {
    throw InputError(file + ", line " + std::to_string(line) + ": " + message);
}

std::string found(const std::string& token) { return ", found '" + visible_text(token) + "'"; }

// A value of a `lin` or `log` range without the rounding noise of its arithmetic (twelve
// significant digits), so that `log 1e-13 1e-12 2` runs 1e-13 and not 9.9999999999999e-14.
// strtod, not stod: a subnormal value reads back with ERANGE, which is no fault here.
double without_noise(double v) {
    const double rounded = std::strtod(number_text(v, 12).c_str(), nullptr);
    return std::isfinite(rounded) ? rounded : v;
}

bool parse_number(const std::string& token, double& v) {
    const char* first = token.data();
    const char* last = first + token.size();
    if (first != last && *first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, v);
    return ec == std::errc() && end == last && first != last && std::isfinite(v);
}

bool parse_index(const std::string& token, int& v) {
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
    return ec == std::errc() && end == token.data() + token.size() && !token.empty() && v >= 0;
}

std::vector<std::string> tokens_of(const std::string& line) {
    std::vector<std::string> tokens;
    std::istringstream in(line.substr(0, line.find('#')));
    for (std::string t; in >> t;) tokens.push_back(t);
    return tokens;
}

class SweepReader {
  public:
    explicit SweepReader(const std::string& file) : file_(file) {}

    SweepFile read(const std::string& text) {
        SweepFile sweep;
        sweep.fileName = file_;
        std::istringstream in(text);
        std::string raw;
        int line = 0;
        bool combineSeen = false;
        while (std::getline(in, raw)) {
            ++line;
            const std::vector<std::string> t = tokens_of(raw);
            if (t.empty()) continue;
            if (sweep.baseLine == 0) {
                read_base(t, line, sweep);
            } else if (t[0] == "combine") {
                if (combineSeen || !sweep.parameters.empty())
                    fail(file_, line, "`combine` stands once, before the parameters" + found(t[0]));
                if (t.size() != 2 || (t[1] != "grid" && t[1] != "zip"))
                    fail(file_, line, "expected `combine grid` or `combine zip`" +
                                          found(t.size() > 1 ? t[1] : t[0]));
                sweep.zip = t[1] == "zip";
                combineSeen = true;
            } else {
                sweep.parameters.push_back(read_parameter(t, line, sweep));
            }
        }
        if (sweep.baseLine == 0) fail(file_, line, "expected `base NAME`, found the end of the file");
        if (sweep.parameters.empty())
            fail(file_, line, "expected a parameter to vary, found the end of the file");
        check_count(sweep);
        return sweep;
    }

  private:
    void read_base(const std::vector<std::string>& t, int line, SweepFile& sweep) {
        if (t[0] != "base" || t.size() != 2)
            fail(file_, line, "expected `base NAME` (the base input) first" + found(t[0]));
        std::string name = t[1];
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cci") == 0)
            name.resize(name.size() - 4);
        // The base lies beside the sweep file; a folder part would put the generated
        // inputs' results somewhere else than their combination folders.
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            fail(file_, line, "the base input must be a file name beside the sweep file" +
                                  found(t[1]));
        sweep.baseName = name;
        sweep.baseLine = line;
    }

    SweepParameter read_parameter(const std::vector<std::string>& t, int line,
                                  const SweepFile& sweep) {
        SweepParameter p;
        p.line = line;
        const std::string& head = t[0];
        const size_t open = head.find('[');
        p.group = head.substr(0, open);
        const GroupInfo* g = find_group(p.group);
        if (!g)
            fail(file_, line, "expected a parameter group (" + group_list() + ")" + found(head));
        if (open != std::string::npos) {
            if (head.back() != ']') fail(file_, line, "expected " + index_form(*g) + found(head));
            std::istringstream list(head.substr(open + 1, head.size() - open - 2));
            for (std::string item; std::getline(list, item, ',');) {
                int v = 0;
                if (!parse_index(item, v)) fail(file_, line, "expected " + index_form(*g) + found(head));
                p.index.push_back(v);
            }
        }
        if (p.index.size() != g->axes.size()) fail(file_, line, "expected " + index_form(*g) + found(head));
        p.label = p.group;
        for (size_t k = 0; k < p.index.size(); ++k)
            p.label += (k ? "," : "[") + std::to_string(p.index[k]) + (k + 1 == p.index.size() ? "]" : "");
        for (const SweepParameter& q : sweep.parameters)
            if (q.label == p.label)
                fail(file_, line, "`" + p.label + "` is already varied on line " +
                                      std::to_string(q.line) + found(head));
        if (t.size() < 2) fail(file_, line, "expected values after `" + p.label + "`, found none");
        read_values(t, line, p);
        for (const double v : p.values) check_bound(*g, p, v, line);
        return p;
    }

    double number(const std::string& token, int line, const std::string& what) {
        double v = 0;
        if (!parse_number(token, v)) fail(file_, line, "expected " + what + found(token));
        return v;
    }

    void read_values(const std::vector<std::string>& t, int line, SweepParameter& p) {
        if (t[1] == "lin" || t[1] == "log") {
            const std::string form = "`" + t[1] + " FROM TO COUNT`";
            if (t.size() != 5)
                fail(file_, line, "expected " + form + found(t.size() > 5 ? t[5] : t[1]));
            const double a = number(t[2], line, "a number for FROM of " + form);
            const double b = number(t[3], line, "a number for TO of " + form);
            int k = 0;
            if (!parse_index(t[4], k) || k < 1 || k > kMaxCombinations)
                fail(file_, line, "expected a COUNT from 1 to " + std::to_string(kMaxCombinations) +
                                      " for " + form + found(t[4]));
            p.logSpaced = t[1] == "log";
            if (p.logSpaced && !(a > 0 && b > 0))
                fail(file_, line, "`log` needs FROM and TO greater than 0" + found(a > 0 ? t[3] : t[2]));
            for (int i = 0; i < k; ++i) {
                const double s = k == 1 ? 0.0 : static_cast<double>(i) / (k - 1);
                const double v = p.logSpaced
                                     ? std::pow(10.0, std::log10(a) + s * (std::log10(b) - std::log10(a)))
                                     : a + s * (b - a);
                p.values.push_back(i == k - 1 ? b : without_noise(v));
            }
        } else {
            for (size_t i = 1; i < t.size(); ++i)
                p.values.push_back(number(t[i], line, "a number for `" + p.label + "`"));
        }
    }

    void check_bound(const GroupInfo& g, const SweepParameter& p, double v, int line) {
        const std::string shown = found(number_text(v));
        const std::string name = "`" + p.label + "`";
        switch (g.bound) {
            case Bound::positive:
                if (!(v > 0)) fail(file_, line, name + " must be greater than 0" + shown);
                break;
            case Bound::non_negative:
                if (!(v >= 0)) fail(file_, line, name + " must not be negative" + shown);
                break;
            case Bound::whole_from_2:
            case Bound::whole_from_0: {
                const double lo = g.bound == Bound::whole_from_2 ? 2 : 0;
                if (v != std::floor(v) || v < lo || v > 1e8)
                    fail(file_, line, name + " takes whole numbers from " + number_text(lo) +
                                          " to 100000000" + shown);
                break;
            }
            case Bound::any:
                break;
        }
    }

    void check_count(const SweepFile& sweep) {
        const SweepParameter& first = sweep.parameters.front();
        long long count = 1;
        for (const SweepParameter& p : sweep.parameters) {
            if (sweep.zip && p.values.size() != first.values.size())
                fail(file_, p.line, "`combine zip` needs lists of equal length: `" + first.label +
                                        "` has " + std::to_string(first.values.size()) +
                                        " values" + found(std::to_string(p.values.size())));
            if (!sweep.zip) count *= static_cast<long long>(p.values.size());
            if (count > kMaxCombinations)
                fail(file_, p.line, "the sweep holds more than " +
                                        std::to_string(kMaxCombinations) + " combinations" +
                                        found(p.label));
        }
    }

    std::string file_;
};

}  // namespace

SweepFile read_sweep_text(const std::string& text, const std::string& fileName) {
    return SweepReader(fileName).read(text);
}

SweepFile read_sweep_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError("File " + path + " cannot be opened.");
    std::ostringstream text;
    text << in.rdbuf();
    return read_sweep_text(text.str(), path);
}

long long combination_count(const SweepFile& sweep) {
    if (sweep.zip) return static_cast<long long>(sweep.parameters.front().values.size());
    long long count = 1;
    for (const SweepParameter& p : sweep.parameters) count *= static_cast<long long>(p.values.size());
    return count;
}

std::vector<double> combination_values(const SweepFile& sweep, long long id) {
    std::vector<double> values(sweep.parameters.size());
    long long rest = id - 1;
    for (size_t k = sweep.parameters.size(); k-- > 0;) {
        const std::vector<double>& v = sweep.parameters[k].values;
        const long long size = static_cast<long long>(v.size());
        values[k] = sweep.zip ? v[static_cast<size_t>(id - 1)] : v[static_cast<size_t>(rest % size)];
        if (!sweep.zip) rest /= size;
    }
    return values;
}

void check_sweep_against(const SweepFile& sweep, const model& base) {
    const auto fail_at = [&](int line, const std::string& message) {
        fail(sweep.fileName, line, message);
    };
    // The current form states scales as given or automatic, and the first grid step as
    // given or automatic; the legacy forms' scales relative to the automatic ones have no
    // place in it.
    if (base.rescalingMethod == 2 || base.gridDebyeMethod == 2)
        fail_at(sweep.baseLine, "the base input's scales or first grid step are relative to the "
                                "automatic ones, which the current form cannot state" +
                                    found(sweep.baseName + ".cci"));
    for (const SweepParameter& p : sweep.parameters) {
        const GroupInfo& g = *find_group(p.group);
        for (size_t k = 0; k < g.axes.size(); ++k) {
            const int v = p.index[k];
            int lo = 1, hi = 0;
            switch (g.axes[k]) {
                case Axis::layer:
                    hi = base.n;
                    break;
                case Axis::component:
                    hi = base.R;
                    break;
                case Axis::interface_:
                    lo = 0;
                    hi = base.n;
                    break;
                case Axis::point:
                    hi = base.nCalib;
                    break;
            }
            if (v < lo || v > hi)
                fail_at(p.line, "the base input has " + std::string(axis_name(g.axes[k])) + "s " +
                                    std::to_string(lo) + " to " + std::to_string(hi) +
                                    found(p.label));
        }
        if ((p.group == "Kas" || p.group == "Kdis") && base.ligand[p.index[0]] <= 0)
            fail_at(p.line, "component " + std::to_string(p.index[0]) +
                                " forms no complex in the base input" + found(p.label));
    }
}

namespace {

void apply_value(model& md, const SweepParameter& p, double v) {
    const std::string& g = p.group;
    const int i0 = p.index.empty() ? 0 : p.index[0];
    const int i1 = p.index.size() < 2 ? 0 : p.index[1];
    if (g == "d" || g == "epsilon" || g == "N" || g == "m") {
        md.layer = i0;
        if (g == "d") md.d.set(v);
        if (g == "epsilon") md.epsilon.set(v);
        if (g == "N") md.N.set(static_cast<int>(v));
        if (g == "m") md.m.set(static_cast<int>(v));
    } else if (g == "D" || g == "cM") {
        md.layer = i1;
        (g == "D" ? md.D : md.cM).item(i0) = v;
    } else if (g == "Kas") {
        md.Kas[i1][i0] = v;
    } else if (g == "Kdis") {
        md.Kdis[i1][i0] = v;
    } else if (g == "cL") {
        md.cL[i0] = v;
    } else if (g == "cR") {
        md.cR[i0] = v;
    } else if (g == "Kif") {
        md.Kif[i1][i0] = v;
    } else if (g == "Kib") {
        md.Kib[i1][i0] = v;
    } else if (g == "multipliers") {
        md.multipliers[static_cast<size_t>(i0)] = v;
    } else if (g == "T") {
        md.T = v;
    } else if (g == "tEnd") {
        md.tEnd = v;
    } else if (g == "currentDensity") {
        md.currentDensity = v;
    } else if (g == "atol") {
        md.atol = v;
    } else if (g == "rtol") {
        md.rtol = v;
    }
    md.layer = 1;
}

// The scales line of the current form as the base input asked for them: given scales, all
// automatic (zeros), or the unit scales of an unscaled legacy input; then the first grid
// step, given or automatic (0).
std::string requested_scales(const model& md) {
    std::string s;
    if (md.rescalingMethod == 3)
        s = exact_number_text(md.xs) + ' ' + exact_number_text(md.ts) + ' ' +
            exact_number_text(md.cmax) + ' ' + exact_number_text(md.emax);
    else if (md.rescalingMethod == 0)
        s = "1 1 1 1";
    else
        s = "0 0 0 0";
    return s + ' ' + exact_number_text(md.gridDebyeMethod == 3 ? md.h_min : 0.0);
}

}  // namespace

std::string combination_input_text(const SweepFile& sweep, const std::string& baseText,
                                   const std::string& baseFile, const std::vector<double>& values,
                                   long long id) {
    model md;
    read_input_text(md, baseText, baseFile);
    for (size_t k = 0; k < values.size(); ++k) apply_value(md, sweep.parameters[k], values[k]);
    // The writer turns the scaled record of a run back into input units by multiplying
    // with the scales in use; unit scales leave the record as read, and the scales line
    // is then put back as the base asked for it.
    md.L = md.tc = md.cScale = md.eScale = 1;
    std::string text = current_form_text(md, true);
    const std::string scalesComment = "-- xs, ts, cmax, emax, h_min";
    const size_t comment = text.find(scalesComment);
    const size_t start = text.find('\n', comment) + 1;
    const size_t end = text.find('\n', start);
    text.replace(start, end - start, requested_scales(md));
    try {
        model check;
        read_input_text(check, text, sweep.baseName + ".cci");
    } catch (const InputError& e) {
        std::string shown;
        for (size_t k = 0; k < values.size(); ++k)
            shown += (k ? ", " : "") + sweep.parameters[k].label + " = " + exact_number_text(values[k]);
        throw InputError(sweep.fileName + ": combination " + std::to_string(id) + " (" + shown +
                         ") gives an input the reader refuses: " + e.what());
    }
    return text;
}
