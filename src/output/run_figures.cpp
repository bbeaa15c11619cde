#include "output/run_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "base/number_text.h"
#include "output/calibration_report.h"
#include "output/figures/figure.h"
#include "output/output_file.h"

namespace {

using figures::Axis;
using figures::Figure;
using figures::Note;
using figures::Panel;
using figures::Scale;
using figures::Series;
using figures::VerticalMark;

// Palette indices of the point statuses.
constexpr int kFinishedColour = 2;  // green
constexpr int kWarningColour = 4;   // orange
constexpr int kFailedColour = 1;    // vermillion

Axis axis(const std::string& label, Scale scale, double minSpan = 0) {
    Axis a;
    a.label = label;
    a.scale = scale;
    a.minSpan = minSpan;
    return a;
}

Series series(const std::string& label, std::vector<double> x, std::vector<double> y, int colour,
              bool line = true, bool points = false, bool dashed = false) {
    Series s;
    s.label = label;
    s.x = std::move(x);
    s.y = std::move(y);
    s.colour = colour;
    s.line = line;
    s.points = points;
    s.dashed = dashed;
    return s;
}

VerticalMark mark(double x, const std::string& label, int colour) {
    VerticalMark m;
    m.x = x;
    m.label = label;
    m.colour = colour;
    return m;
}

std::string fixed(const char* format, double v) {
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// "1e-05" as "1e-5": the exponent without its padding zeros.
std::string short_number(double v, int digits = 3) {
    std::string t = number_text(v, digits);
    const std::size_t e = t.find('e');
    if (e == std::string::npos) return t;
    std::string exponent = t.substr(e + 1);
    const bool negative = exponent[0] == '-';
    exponent.erase(0, exponent.find_first_not_of("+-"));
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    return t.substr(0, e) + "e" + (negative ? "-" : "") + exponent;
}

// A point as the legends name it: by the changed ion's concentration in the sample.
std::string point_label(const RunSummary& run, int point) {
    for (const PointSummary& p : run.points)
        if (p.point == point && p.sampleConcentration > 0)
            return "point " + std::to_string(point) + ": c = " +
                   short_number(p.sampleConcentration / 1000) + " mol/L";
    return "point " + std::to_string(point);
}

std::string charge_text(int z) {
    if (z == 0) return "0";
    return (z > 0 ? "+" : "\u2212") + std::to_string(std::abs(z));
}

// "10 mHz" style names of decade frequencies.
std::string frequency_text(double f) {
    const int k = static_cast<int>(std::lround(std::log10(f)));
    if (k >= 6) return short_number(std::pow(10.0, k - 6)) + " MHz";
    if (k >= 3) return short_number(std::pow(10.0, k - 3)) + " kHz";
    if (k >= 0) return short_number(std::pow(10.0, k)) + " Hz";
    if (k >= -3) return short_number(std::pow(10.0, k + 3)) + " mHz";
    return short_number(std::pow(10.0, k + 6)) + " \u00b5Hz";
}

// Layer boundaries as vertical marks over x in µm.
void add_layer_marks(Panel& panel, const RunTraces& traces) {
    for (double edge : traces.layerEdges) panel.marks.push_back(mark(edge * 1e6, "layer boundary", -1));
}

// x [m] as µm, with a break (NaN) wherever the position does not advance: the profiles of
// adjacent layers meet at their common boundary and are drawn apart.
void layer_series(Series& s, const std::vector<double>& x, const std::vector<double>& y) {
    const std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && !(x[i] > x[i - 1])) {
            s.x.push_back(std::nan(""));
            s.y.push_back(std::nan(""));
        }
        s.x.push_back(x[i] * 1e6);
        s.y.push_back(y[i]);
    }
}

std::string component_label(const RunTraces& traces, std::size_t c) {
    const int z = c < traces.charges.size() ? traces.charges[c] : 0;
    return "component " + std::to_string(c + 1) + " (z = " + charge_text(z) + ")";
}

Figure calibration_figure(const RunSummary& run, const RunTraces& traces) {
    const CalibrationAnalysis a = analyse_run(run);
    Figure f;
    f.title = "Calibration";
    Panel p;
    p.x = axis("c of component " + std::to_string(traces.changedIon) + " in the sample [mol/L]",
           Scale::log);
    p.y = axis("E [mV]", Scale::linear, 0.1);
    Series finished = series("finished", {}, {}, kFinishedColour, false, true);
    Series warnings = series("finished with warnings", {}, {}, kWarningColour, false, true);
    Series failed = series("failed", {}, {}, kFailedColour, false, true);
    for (const CalibrationSample& s : a.points) {
        if (!s.potential || s.concentration <= 0) continue;
        std::string status = "failed";
        for (const PointSummary& ps : run.points)
            if (ps.point == s.point) status = ps.status();
        Series& into = status == "finished" ? finished
                       : status == "finished with warnings" ? warnings
                                                             : failed;
        into.x.push_back(s.concentration / 1000);
        into.y.push_back(*s.potential);
    }
    if (!a.linearPoints.empty()) {
        // the line over the points it used, carried on to the detection limit
        double lo = INFINITY, hi = -INFINITY;
        for (const CalibrationSample& s : a.points)
            if (std::find(a.linearPoints.begin(), a.linearPoints.end(), s.point) !=
                a.linearPoints.end()) {
                lo = std::min(lo, std::log10(s.concentration / 1000));
                hi = std::max(hi, std::log10(s.concentration / 1000));
            }
        if (a.detectionLimit) lo = std::min(lo, std::log10(*a.detectionLimit));
        std::string label = "fit: " + fixed("%.2f", a.slope);
        if (a.slopeError) label += " \u00b1 " + fixed("%.2f", *a.slopeError);
        label += " mV/decade over points " + std::to_string(a.linearPoints.front()) + "\u2013" +
                 std::to_string(a.linearPoints.back());
        Series line = series(label, {}, {}, 0, true, false);
        for (double lc : {lo, hi}) {
            line.x.push_back(std::pow(10.0, lc));
            line.y.push_back(a.intercept + a.slope * lc);
        }
        p.series.push_back(line);
    }
    if (a.detectionLimit && a.lowPotential) {
        double lowest = *a.detectionLimit;
        for (const CalibrationSample& s : a.points)
            if (s.concentration > 0) lowest = std::min(lowest, s.concentration / 1000);
        p.series.push_back(series("low-concentration level " + fixed("%.2f", *a.lowPotential) + " mV",
                            {lowest, *a.detectionLimit},
                            {*a.lowPotential, *a.lowPotential},
                            6,
                            true,
                            false,
                            true));
        p.marks.push_back(mark(*a.detectionLimit,
                               "detection limit " + short_number(*a.detectionLimit) + " mol/L", 3));
    }
    for (Series* s : {&finished, &warnings, &failed})
        if (!s->x.empty()) p.series.push_back(*s);
    f.panels.push_back(p);
    return f;
}

Figure time_course_figure(const RunSummary& run, const RunTraces& traces) {
    Figure f;
    f.title = "Potential against time, every calibration point";
    Panel p;
    p.x = axis("t [s]", Scale::log);
    p.y = axis("E [mV]", Scale::linear, 0.1);
    int colour = 0;
    for (const PointTraces& t : traces.points) {
        if (t.point == 0 || t.time.empty()) continue;
        Series s = series(point_label(run, t.point), t.time, t.potential, colour++);
        p.series.push_back(s);
    }
    f.panels.push_back(p);
    return f;
}

Figure concentration_figure(const RunSummary& run, const RunTraces& traces, const PointTraces& t) {
    Figure f;
    f.title = "Final concentrations, " + point_label(run, t.point);
    Panel p;
    // a log axis when the concentrations span more than three decades
    double lo = INFINITY, hi = 0;
    for (const auto& c : t.concentration)
        for (double v : c)
            if (v > 0) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
    const bool log = hi > 0 && hi / lo > 1e3;
    p.x = axis("x [\u00b5m]", Scale::linear);
    p.y = axis("c [mol/m\u00b3]", log ? Scale::log : Scale::linear, 1e-12);
    add_layer_marks(p, traces);
    for (std::size_t c = 0; c < t.concentration.size(); ++c) {
        Series s = series(component_label(traces, c), {}, {}, static_cast<int>(c));
        layer_series(s, t.nodeX, t.concentration[c]);
        p.series.push_back(s);
    }
    f.panels.push_back(p);
    return f;
}

Figure potential_profile_figure(const RunSummary& run, const RunTraces& traces) {
    Figure f;
    f.title = "Final potential profiles";
    Panel p;
    p.x = axis("x [\u00b5m]", Scale::linear);
    p.y = axis("potential [mV]", Scale::linear, 0.1);
    add_layer_marks(p, traces);
    int colour = 0;
    for (const PointTraces& t : traces.points) {
        if (t.point == 0 || t.gridX.empty()) continue;
        Series s = series(point_label(run, t.point), {}, {}, colour++);
        layer_series(s, t.gridX, t.potentialProfile);
        p.series.push_back(s);
    }
    f.panels.push_back(p);
    return f;
}

// One spectrum of a point: f [Hz], Z' and -Z'' [ohm m²].
struct SpectrumView {
    const std::vector<double>& f;
    const std::vector<double>& zReal;
    const std::vector<double>& zImaginaryNegative;
    bool empty() const { return f.empty(); }
    // |Z| and the phase of Z = Z' + i Z'' (Z'' = -(-Z'')), in degrees.
    double magnitude(std::size_t k) const { return std::hypot(zReal[k], zImaginaryNegative[k]); }
    double phase(std::size_t k) const {
        return std::atan2(-zImaginaryNegative[k], zReal[k]) * 180 / 3.14159265358979323846;
    }
};

SpectrumView step_spectrum(const PointTraces& t) { return {t.frequency, t.zReal, t.zImaginaryNegative}; }
SpectrumView linear_spectrum(const PointTraces& t) {
    return {t.linearFrequency, t.linearZReal, t.linearZImaginaryNegative};
}

bool has_spectrum(const PointTraces& t) { return !t.frequency.empty() || !t.linearFrequency.empty(); }

// The point's spectra with their legend labels: the step one solid, the linear one dashed;
// the names say which only when a point has both.
std::vector<std::pair<SpectrumView, std::string>> spectra_of(const RunSummary& run,
                                                             const PointTraces& t) {
    std::vector<std::pair<SpectrumView, std::string>> list;
    const bool both = !t.frequency.empty() && !t.linearFrequency.empty();
    if (!t.frequency.empty())
        list.emplace_back(step_spectrum(t), point_label(run, t.point) + (both ? ", step" : ""));
    if (!t.linearFrequency.empty())
        list.emplace_back(linear_spectrum(t), point_label(run, t.point) + ", linear");
    return list;
}

Figure nyquist_figure(const RunSummary& run, const RunTraces& traces) {
    Figure f;
    f.title = "Impedance (Nyquist), decade frequencies marked";
    Panel p;
    p.x = axis("Z\u2032 [\u03a9\u00b7m\u00b2]", Scale::linear, 1e-12);
    p.y = axis("\u2212Z\u2033 [\u03a9\u00b7m\u00b2]", Scale::linear, 1e-12);
    p.equalScale = true;
    int colour = 0;
    for (const PointTraces& t : traces.points) {
        if (!has_spectrum(t)) continue;
        bool marked = false;
        for (const auto& [v, label] : spectra_of(run, t)) {
            const bool dashed = &v.f == &t.linearFrequency && !t.frequency.empty();
            p.series.push_back(series(label, v.zReal, v.zImaginaryNegative, colour, true, false, dashed));
            if (marked) continue;
            marked = true;
            // the sample nearest each decade of frequency
            for (int k = static_cast<int>(std::ceil(std::log10(v.f.front())));
                 k <= std::floor(std::log10(v.f.back())); ++k) {
                std::size_t best = 0;
                for (std::size_t i = 1; i < v.f.size(); ++i)
                    if (std::fabs(std::log10(v.f[i]) - k) < std::fabs(std::log10(v.f[best]) - k))
                        best = i;
                p.notes.push_back({v.zReal[best], v.zImaginaryNegative[best],
                                   frequency_text(std::pow(10.0, k))});
            }
        }
        ++colour;
    }
    f.panels.push_back(p);
    return f;
}

Figure bode_figure(const RunSummary& run, const RunTraces& traces) {
    Figure f;
    f.title = "Impedance (Bode)";
    f.heightMm = 150;
    Panel mag, ph;
    mag.x = ph.x = axis("f [Hz]", Scale::log);
    mag.y = axis("|Z| [\u03a9\u00b7m\u00b2]", Scale::log);
    ph.y = axis("phase [\u00b0]", Scale::linear, 1);
    int colour = 0;
    for (const PointTraces& t : traces.points) {
        if (!has_spectrum(t)) continue;
        for (const auto& [v, label] : spectra_of(run, t)) {
            const bool dashed = &v.f == &t.linearFrequency && !t.frequency.empty();
            Series m = series(label, v.f, {}, colour, true, false, dashed);
            Series a = series(label, v.f, {}, colour, true, false, dashed);
            for (std::size_t k = 0; k < v.f.size(); ++k) {
                m.y.push_back(v.magnitude(k));
                a.y.push_back(v.phase(k));
            }
            mag.series.push_back(m);
            ph.series.push_back(a);
        }
        ++colour;
    }
    f.panels = {mag, ph};
    return f;
}

Figure chrono_figure(const RunSummary& run, const RunTraces& traces) {
    Figure f;
    f.title = "Chronopotentiogram";
    Panel p;
    p.x = axis("t [s]", Scale::linear);
    p.y = axis("E [mV]", Scale::linear, 0.1);
    int colour = 0;
    for (const PointSummary& ps : run.points) {
        if (ps.transient.empty()) continue;
        Series s = series(point_label(run, ps.point), {}, {}, colour);
        for (const auto& [t, e] : ps.transient) {
            s.x.push_back(t);
            s.y.push_back(e);
        }
        p.series.push_back(s);
        if (ps.point <= static_cast<int>(traces.points.size()))
            if (const auto& tt = traces.points[static_cast<std::size_t>(ps.point - 1)].transitionTime)
                p.marks.push_back(mark(*tt,
                                       "transition time " + short_number(*tt) + " s (point " +
                                           std::to_string(ps.point) + ")",
                                       colour));
        ++colour;
    }
    f.panels.push_back(p);
    return f;
}

std::vector<std::pair<RunFigure, Figure>> build(const RunSummary& run, const RunTraces& traces) {
    std::vector<std::pair<RunFigure, Figure>> all;
    if (run.points.size() >= 2)
        all.push_back({{"figures/calibration.svg",
                        "Calibration: final potential against the changed ion's concentration"},
                       calibration_figure(run, traces)});
    const bool anyTime = std::any_of(traces.points.begin(), traces.points.end(),
                                     [](const PointTraces& t) { return !t.time.empty(); });
    if (anyTime)
        all.push_back({{"figures/time_course.svg", "Potential against time of every point"},
                       time_course_figure(run, traces)});
    if (std::any_of(run.points.begin(), run.points.end(),
                    [](const PointSummary& p) { return !p.transient.empty(); }) &&
        traces.method == 2)
        all.push_back({{"figures/chronopotentiogram.svg", "Chronopotentiogram of every point"},
                       chrono_figure(run, traces)});
    for (const PointTraces& t : traces.points)
        if (t.point > 0 && !t.nodeX.empty())
            all.push_back({{"figures/concentrations_" + std::to_string(t.point) + ".svg",
                            "Final concentration profiles of " + point_label(run, t.point)},
                           concentration_figure(run, traces, t)});
    if (std::any_of(traces.points.begin(), traces.points.end(),
                    [](const PointTraces& t) { return !t.gridX.empty(); }))
        all.push_back({{"figures/potential_profiles.svg", "Final potential profiles"},
                       potential_profile_figure(run, traces)});
    if (std::any_of(traces.points.begin(), traces.points.end(), has_spectrum)) {
        all.push_back({{"figures/nyquist.svg", "Impedance spectrum (Nyquist)"},
                       nyquist_figure(run, traces)});
        all.push_back({{"figures/bode.svg", "Impedance spectrum (Bode)"}, bode_figure(run, traces)});
    }
    return all;
}

std::string csv_number(double v) { return exact_number_text(v); }

}  // namespace

std::vector<RunFigure> run_figures(const RunSummary& run, const RunTraces& traces) {
    std::vector<RunFigure> list;
    for (const auto& [file, figure] : build(run, traces)) list.push_back(file);
    return list;
}

void write_run_figures(RunFiles& files, const RunSummary& run) {
    const auto all = build(run, files.traces);
    if (all.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(run.runFolder + "/figures", ec);  // a failure shows at the write
    for (const auto& [file, figure] : all)
        write_result(files, run.runFolder + "/" + file.file, figures::render_svg(figure));
}

void write_run_tables(RunFiles& files, const RunSummary& run) {
    const RunTraces& traces = files.traces;
    const std::string folder = run.runFolder + "/";
    {
        std::ostringstream out;
        out << "point,multiplier,concentration [mol/m3],final potential [mV],status,drift [mV/s]\n";
        for (const PointSummary& p : run.points) {
            const auto& e = p.potentiometric.finalPotential;
            out << p.point << "," << csv_number(p.multiplier) << ","
                << number_text(p.sampleConcentration, 12) << "," << (e ? csv_number(*e) : "")
                << "," << p.status() << "," << (p.drift ? csv_number(*p.drift) : "") << "\n";
        }
        write_result(files, folder + "points.csv", out.str());
    }
    if (traces.points.empty()) return;
    std::ostringstream time, nodes, grid;
    time << "point,t [s],E [mV]\n";
    nodes << "point,x of concentration node [m]";
    for (std::size_t c = 0; c < traces.charges.size(); ++c)
        nodes << ",c" << c + 1 << " [mol/m3]";
    nodes << "\n";
    grid << "point,x of grid point [m],potential [mV]\n";
    for (const PointTraces& t : traces.points) {
        for (std::size_t i = 0; i < std::min(t.time.size(), t.potential.size()); ++i)
            time << t.point << "," << csv_number(t.time[i]) << "," << csv_number(t.potential[i]) << "\n";
        for (std::size_t i = 0; i < t.nodeX.size(); ++i) {
            nodes << t.point << "," << csv_number(t.nodeX[i]);
            for (const auto& c : t.concentration) nodes << "," << (i < c.size() ? csv_number(c[i]) : "");
            nodes << "\n";
        }
        for (std::size_t i = 0; i < std::min(t.gridX.size(), t.potentialProfile.size()); ++i)
            grid << t.point << "," << csv_number(t.gridX[i]) << ","
                 << csv_number(t.potentialProfile[i]) << "\n";
    }
    write_result(files, folder + "time_course.csv", time.str());
    write_result(files, folder + "concentration_profiles.csv", nodes.str());
    write_result(files, folder + "potential_profiles.csv", grid.str());
    // the step spectra in spectrum.csv, the linear ones in linear_spectra.csv (a point's own
    // linear_spectrum.csv may lie in the run folder)
    for (const bool linear : {false, true}) {
        if (traces.method != 1) break;
        std::ostringstream out;
        out << "point,f [Hz],Z' [ohm m2],-Z'' [ohm m2],|Z| [ohm m2],phase [deg]\n";
        bool any = false;
        for (const PointTraces& t : traces.points) {
            const SpectrumView v = linear ? linear_spectrum(t) : step_spectrum(t);
            any = any || !v.empty();
            for (std::size_t k = 0; k < v.f.size(); ++k)
                out << t.point << "," << csv_number(v.f[k]) << "," << csv_number(v.zReal[k]) << ","
                    << csv_number(v.zImaginaryNegative[k]) << "," << csv_number(v.magnitude(k))
                    << "," << csv_number(v.phase(k)) << "\n";
        }
        if (any || !linear)
            write_result(files, folder + (linear ? "linear_spectra.csv" : "spectrum.csv"), out.str());
    }
    if (traces.method == 2) {
        std::ostringstream out;
        out << "point,t [s],E [mV]\n";
        for (const PointSummary& p : run.points)
            for (const auto& [t, e] : p.transient)
                out << p.point << "," << csv_number(t) << "," << csv_number(e) << "\n";
        write_result(files, folder + "chronopotentiogram.csv", out.str());
    }
}
