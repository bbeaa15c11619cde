#include "output/calibration_report.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "base/number_text.h"
#include "output/output_file.h"

namespace {

using json = nlohmann::ordered_json;

bool contains(const std::vector<int>& list, int point) {
    return std::find(list.begin(), list.end(), point) != list.end();
}

// What the analysis made of a point: "linear", "low" or "".
const char* role(const CalibrationAnalysis& a, int point) {
    if (contains(a.linearPoints, point)) return "linear";
    if (contains(a.lowPoints, point)) return "low";
    return "";
}

// "3, 4, 5" or "none"
std::string point_list(const std::vector<int>& points) {
    if (points.empty()) return "none";
    std::string text;
    for (std::size_t i = 0; i < points.size(); ++i)
        text += (i ? ", " : "") + std::to_string(points[i]);
    return text;
}

std::string format(const char* conversion, double v) {
    char text[64];
    std::snprintf(text, sizeof text, conversion, v);
    return text;
}

// One sentence on the line and the detection limit, for the page and standard output.
std::string line_sentence(const CalibrationAnalysis& a, const char* plusMinus) {
    if (a.linearPoints.empty()) return "No calibration line: " + a.note + ".";
    std::string text = "Slope " + format("%.2f", a.slope);
    if (a.slopeError) text += std::string(plusMinus) + format("%.2f", *a.slopeError);
    text += " mV/decade over points " + point_list(a.linearPoints) +
            (a.automatic ? " (found automatically: residuals within " +
                               number_text(kLinearTolerance) + " mV)"
                         : " (chosen)") +
            "; detection limit ";
    if (a.detectionLimit)
        text += format("%.3g", *a.detectionLimit) + " mol/L (the line meets the mean " +
                format("%.2f", *a.lowPotential) + " mV of points " + point_list(a.lowPoints) + ")";
    else
        text += "not found: " + a.note;
    return text + ".";
}

json optional_json(const std::optional<double>& v) { return v ? json(*v) : json(nullptr); }

}  // namespace

CalibrationAnalysis analyse_run(const RunSummary& run) {
    std::vector<CalibrationSample> samples;
    for (const PointSummary& p : run.points)
        samples.push_back(
            {p.point, p.sampleConcentration, p.potentiometric.finalPotential, p.drift, p.ok()});
    return analyse_calibration(samples, run.linearRange);
}

json analysis_json(const CalibrationAnalysis& a) {
    json points = json::array();
    for (const CalibrationSample& p : a.points) {
        // the changed ion's concentration in the sample: mol/m³, and mol/L = mol/m³ / 1000
        points.push_back({{"point", p.point},
                          {"concentration_mol_per_m3", p.concentration},
                          {"concentration_mol_per_L", p.concentration / 1000},
                          {"final_potential_mV", optional_json(p.potential)},
                          {"drift_mV_per_s", optional_json(p.drift)},
                          {"fit", role(a, p.point)}});
    }
    const bool fitted = !a.linearPoints.empty();
    json j;
    j["points"] = points;
    j["linear_range"] = {
        {"automatic", a.automatic}, {"tolerance_mV", kLinearTolerance}, {"points", a.linearPoints}};
    j["slope_mV_per_decade"] = fitted ? json(a.slope) : json(nullptr);
    j["slope_standard_error_mV_per_decade"] = fitted ? optional_json(a.slopeError) : nullptr;
    j["intercept_mV_at_1_mol_per_L"] = fitted ? json(a.intercept) : json(nullptr);
    j["max_residual_mV"] = fitted ? json(a.maxResidual) : json(nullptr);
    j["low_segment"] = {{"points", a.lowPoints}, {"potential_mV", optional_json(a.lowPotential)}};
    j["detection_limit_mol_per_L"] = optional_json(a.detectionLimit);
    j["note"] = a.note.empty() ? json(nullptr) : json(a.note);
    return j;
}

void write_analysis_section(std::ostream& page, const CalibrationAnalysis& a) {
    // the sentence holds only digits, point numbers and fixed words: nothing to escape
    page << "<h2>Calibration analysis</h2>\n<p id=\"analysis\">" << line_sentence(a, " &plusmn; ")
         << " Concentrations are those of the changed ion in the sample; the drift is the "
            "potential change over the last 10 % of the point.</p>\n"
            "<table id=\"analysis_points\">\n<thead><tr><th>Point</th><th>c [mol/m³]</th>"
            "<th>c [mol/L]</th><th>Final potential [mV]</th><th>Drift [mV/s]</th><th>Fit</th>"
            "</tr></thead>\n<tbody>\n";
    for (const CalibrationSample& p : a.points)
        page << "<tr><td class=\"num\">" << p.point << "</td><td class=\"num\">"
             << number_text(p.concentration) << "</td><td class=\"num\">"
             << number_text(p.concentration / 1000) << "</td><td class=\"num\">"
             << (p.potential ? number_text(*p.potential) : "-") << "</td><td class=\"num\">"
             << (p.drift ? number_text(*p.drift, 3) : "-") << "</td><td>" << role(a, p.point)
             << "</td></tr>\n";
    page << "</tbody>\n</table>\n";
}

std::string analysis_csv(const CalibrationAnalysis& a) {
    std::ostringstream out;
    out << "point,concentration [mol/m3],concentration [mol/L],final potential [mV],"
           "drift [mV/s],fit\n";
    for (const CalibrationSample& p : a.points)
        // 12 digits: the concentration comes back from scaled values, exact to ~1e-15 only
        out << p.point << "," << number_text(p.concentration, 12) << ","
            << number_text(p.concentration / 1000, 12) << ","
            << (p.potential ? exact_number_text(*p.potential) : "") << ","
            << (p.drift ? exact_number_text(*p.drift) : "") << "," << role(a, p.point) << "\n";
    return out.str();
}

std::string analysis_text(const CalibrationAnalysis& a) {
    std::ostringstream out;
    out << "\nCalibration analysis (the changed ion in the sample):\n"
        << "point   c [mol/L]      E [mV]   drift [mV/s]  fit\n";
    for (const CalibrationSample& p : a.points) {
        char row[128];
        std::snprintf(row, sizeof row, "%5d  %10.3e  %10s  %13s  %s", p.point,
                      p.concentration / 1000,
                      p.potential ? format("%.2f", *p.potential).c_str() : "-",
                      p.drift ? format("%.2e", *p.drift).c_str() : "-", role(a, p.point));
        std::string text = row;
        text.erase(text.find_last_not_of(' ') + 1);
        out << text << "\n";
    }
    out << line_sentence(a, " +/- ") << "\n";
    return out.str();
}

void write_calibration_csv(model& md, RunFiles& files, const RunSummary& run) {
    if (md.nCalib < 2) return;
    write_result(files, run.runFolder + "/calibration.csv", analysis_csv(analyse_run(run)));
}
