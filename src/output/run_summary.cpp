#include "output/run_summary.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

#include "base/number_text.h"
#include "model/version.h"
#include "output/calibration_report.h"
#include "output/output_file.h"
#include "output/report.h"
#include "output/run_figures.h"
#include "output/utf8_text.h"

namespace fs = std::filesystem;

namespace {

using json = nlohmann::ordered_json;  // keys in the order written

// Every regular file below the run folder, relative to it, '/'-separated and sorted.
std::vector<std::string> run_files(const std::string& runFolder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(runFolder, ec), end; !ec && it != end;
         it.increment(ec))
        if (it->is_regular_file(ec))
            files.push_back(fs::relative(it->path(), runFolder).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

// The file `name` of the run folder, always listed even before it is first written.
void list_own(std::vector<std::string>& files, const std::string& name) {
    if (std::find(files.begin(), files.end(), name) == files.end()) {
        files.push_back(name);
        std::sort(files.begin(), files.end());
    }
}

json integration_json(const IntegrationSummary& s) {
    json j;
    j["result_code"] = s.code;
    j["status"] = s.interrupted ? "interrupted" : s.code > 0 ? "finished" : "failed";
    j["failure"] = s.failure.empty() ? json(nullptr) : json(s.failure);
    j["final_potential_mV"] = s.finalPotential ? json(*s.finalPotential) : json(nullptr);
    j["steps"] = s.stats.steps;
    j["accepted"] = s.stats.accepted;
    j["rejected"] = s.stats.rejected;
    j["jacobians"] = s.stats.jacobians;
    // pairs of decompositions, complete when the complex half is
    j["decompositions"] = s.stats.complex_decompositions;
    j["rhs_calls"] = s.stats.all_rhs_calls();
    j["wall_seconds"] = s.wallSeconds;
    return j;
}

// Text of the page: & < > and quotes escaped, and every ill-formed UTF-8 sequence (a file
// name of other bytes) replaced by U+FFFD, as in summary.json.
std::string escaped(const std::string& text) {
    std::string out;
    for (char ch : valid_utf8(text)) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

// A link target: each path segment percent-encoded where it is not a plain character.
std::string href(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : path) {
        if (std::isalnum(ch) || ch == '/' || ch == '.' || ch == '_' || ch == '-') {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    return out;
}

// An SVG file for inlining: without its XML declaration, and with every id (and every
// reference to one) prefixed, so that the plots of one page cannot take each other's
// clip paths.
std::string inline_svg(const fs::path& file, const std::string& prefix) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string svg = text.str();
    const std::size_t start = svg.find("<svg");
    if (start == std::string::npos) return "";
    svg.erase(0, start);
    for (const std::string key : {"id=\"", "url(#", "href=\"#"}) {
        for (std::size_t at = 0; (at = svg.find(key, at)) != std::string::npos;) {
            at += key.size();
            svg.insert(at, prefix);
            at += prefix.size();
        }
    }
    return svg;
}

std::string point_status(const PointSummary& p) {
    std::string status;
    for (const IntegrationSummary* s :
         {&p.potentiometric, p.currentStep ? &*p.currentStep : nullptr}) {
        if (s == nullptr || (s->code > 0 && !s->interrupted)) continue;
        if (!status.empty()) status += "; ";
        status += s == &p.potentiometric ? "potentiometric run " : "current-step run ";
        status += s->interrupted ? "interrupted" : "failed: " + s->failure;
    }
    if (status.empty()) {
        status = p.status();
        for (std::size_t i = 0; i < p.warnings.size(); ++i)
            status += (i == 0 ? ": " : "; ") + p.warnings[i];
    }
    if (p.startedFrom)
        status += "; started from " + (*p.startedFrom == 0 ? std::string("the initial state")
                                                           : "the final state of point " +
                                                                 std::to_string(*p.startedFrom));
    return status;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// A file of the run as the summaries name it: relative to the run folder when it lies
// inside, as given otherwise.
std::string run_relative(const std::string& runFolder, const std::string& path) {
    const fs::path rel = fs::path(path).lexically_relative(runFolder);
    if (rel.empty() || *rel.begin() == "..") return path;
    return rel.generic_string();
}

// The files that could not be written, run-relative, without `own` (the file being
// written, which is listed only when its next writing fails too).
std::vector<std::pair<std::string, std::string>> unwritten(const RunFiles& runFiles,
                                                           const std::string& runFolder,
                                                           const std::string& own) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& [path, reason] : runFiles.unwrittenFiles) {
        const std::string name = run_relative(runFolder, path);
        if (name != own) files.emplace_back(name, reason);
    }
    return files;
}

std::string status_class(const std::string& status) {
    if (status == "finished with warnings") return "warnings";
    return status == "interrupted" ? "stopped interrupted" : status;
}

std::string joined(const std::vector<std::string>& texts) {
    std::string out;
    for (std::size_t i = 0; i < texts.size(); ++i) out += (i ? "; " : "") + texts[i];
    return out;
}

}  // namespace

bool PointSummary::ok() const {
    return potentiometric.code > 0 && (!currentStep || currentStep->code > 0) && !interrupted();
}

bool PointSummary::interrupted() const {
    return potentiometric.interrupted || (currentStep && currentStep->interrupted);
}

std::string PointSummary::status() const {
    if (interrupted()) return "interrupted";
    if (!ok()) return "failed";
    return warnings.empty() ? "finished" : "finished with warnings";
}

std::vector<std::string> run_warnings(const RunSummary& run) {
    std::vector<std::string> all;
    for (const PointSummary& p : run.points)
        for (const std::string& w : p.warnings)
            all.push_back("point " + std::to_string(p.point) + ": " + w);
    return all;
}

std::string method_name(int method) {
    switch (method) {
        case 0:
            return "Potentiometry";
        case 1:
            return "Electrochemical Impedance Spectroscopy";
        case 2:
            return "Chronopotentiometry";
        default:
            return "method " + std::to_string(method);
    }
}

namespace {

json optional_json(const std::optional<double>& v) { return v ? json(*v) : json(nullptr); }

json optional_values(const std::vector<std::optional<double>>& values) {
    json list = json::array();
    for (const auto& v : values) list.push_back(optional_json(v));
    return list;
}

json estimate_json(const GridEstimate& e) {
    return {{"observed_order", optional_json(e.order)},
            {"asymptotic", e.asymptotic},
            {"extrapolated", optional_json(e.extrapolated)},
            {"interval", e.low && e.high ? json::array({*e.low, *e.high}) : json(nullptr)},
            {"estimated_error", optional_json(e.half_width())}};
}

json study_json(const GridStudy& study) {
    json j;
    j["refinement"] =
        "every cell halved from one grid to the next: N and m doubled, first "
        "step halved in every layer";
    j["grids"] = json::array();
    for (std::size_t g = 0; g < study.grids.size(); ++g) {
        json layers = json::array();
        for (const LayerGrid& l : study.grids[g])
            layers.push_back({{"first_step_m", l.firstStep}, {"N", l.N}, {"m", l.m}});
        j["grids"].push_back(
            {{"layers", layers}, {"unknowns", g < study.unknowns.size() ? study.unknowns[g] : 0}});
    }
    j["grid_used"] = study.chosen;
    j["method_order"] = study.methodOrder;
    j["potential_target_mV"] = study.potentialTarget;
    j["impedance_target_relative"] = study.impedanceTarget;
    j["converged"] = study.converged;
    j["note"] = study.note.empty() ? json(nullptr) : json(study.note);
    if (study.automatic) {
        j["atol"] = study.atol;
        j["rtol"] = study.rtol;
        j["tolerance_divisor"] = study.toleranceDivisor;
        j["time_error_mV"] = optional_json(study.timeError);
    }
    json points = json::array();
    for (const GridPointStudy& p : study.points) {
        json jp;
        jp["point"] = p.point;
        jp["multiplier"] = p.multiplier;
        jp["final_potential_mV"] = {{"values", optional_values(p.potential)},
                                    {"estimate", estimate_json(p.potentialEstimate)}};
        if (!p.lowZ.empty() && p.lowZ.back()) {
            jp["low_frequency_Zprim"] = {{"values", optional_values(p.lowZ)},
                                         {"estimate", estimate_json(p.lowZEstimate)}};
            jp["apex_frequency_Hz"] = {{"values", optional_values(p.apex)},
                                       {"estimate", estimate_json(p.apexEstimate)}};
        }
        if (!p.sampleTimes.empty()) {
            json samples = json::array();
            for (std::size_t k = 0; k < p.sampleTimes.size(); ++k)
                samples.push_back({{"t_s", p.sampleTimes[k]},
                                   {"values_mV", optional_values(p.transient[k])},
                                   {"estimate", k < p.transientEstimates.size()
                                                    ? estimate_json(p.transientEstimates[k])
                                                    : json(nullptr)}});
            jp["chronopotentiogram"] = samples;
            jp["transition_time_s"] = optional_json(p.transitionTime);
            jp["not_resolved_from_s"] = optional_json(p.unresolvedFrom);
        }
        if (!p.fluxes.empty() || !p.concentrations.empty()) {
            jp["relative_target"] = p.relativeTarget;
            json fluxes = json::array();
            for (const GridProfileValue& v : p.fluxes)
                fluxes.push_back({{"interface", v.region},
                                  {"component", v.component},
                                  {"values_mol_per_m2_s", optional_values(v.values)},
                                  {"target_mol_per_m2_s", v.target},
                                  {"estimate", estimate_json(v.estimate)}});
            jp["interface_fluxes"] = fluxes;
            json profiles = json::array();
            for (const GridProfileValue& v : p.concentrations)
                profiles.push_back({{"layer", v.region},
                                    {"component", v.component},
                                    {"fraction", v.fraction},
                                    {"values_mol_per_m3", optional_values(v.values)},
                                    {"target_mol_per_m3", v.target},
                                    {"estimate", estimate_json(v.estimate)}});
            jp["concentrations"] = profiles;
        }
        jp["failure"] = p.failure.empty() ? json(nullptr) : json(p.failure);
        jp["converged"] = p.converged;
        if (study.automatic) {
            jp["drift_mV_per_s"] = optional_json(p.drift);
            jp["reason"] = p.reason.empty() ? json(nullptr) : json(p.reason);
        }
        points.push_back(jp);
    }
    j["points"] = points;
    return j;
}

json linear_spectrum_json(const LinearSpectrumSummary& s) {
    json j;
    j["file"] = s.file.empty() ? json(nullptr) : json(s.file);
    j["operating_point"] = {{"steady", s.steady}, {"potential_rate_mV_per_s", s.potentialRate}};
    j["unknowns"] = s.unknowns;
    j["low_frequency_Z_real_ohm_m2"] = optional_json(s.lowFrequencyZ);
    j["apex_frequency_Hz"] = optional_json(s.apexFrequency);
    j["band_LU_fallbacks"] = s.fallbacks;
    j["cpu_seconds"] = s.cpuSeconds;
    if (s.agreement) {
        const SpectrumAgreement& a = *s.agreement;
        j["agreement_with_step"] = {{"band_rad_per_s", {a.bandLow, a.bandHigh}},
                                    {"frequencies", a.frequencies},
                                    {"largest_relative_difference", a.largestDifference},
                                    {"at_rad_per_s", a.atOmega}};
    }
    if (!s.failure.empty()) j["failure"] = s.failure;
    return j;
}

std::string optional_text(const std::optional<double>& v) {
    return v ? number_text(*v) : std::string("-");
}

// The linear spectra of the points and how they agree with the step spectra.
void write_linear_section(std::ostream& page, const RunSummary& run) {
    if (std::none_of(run.points.begin(), run.points.end(),
                     [](const PointSummary& p) { return p.linearSpectrum.has_value(); }))
        return;
    page << "<h2>Impedance from the linearised system</h2>\n<p>Small-signal spectra at each "
            "point's end state, exact at every frequency; compared with the step spectrum "
            "where the step method holds (from "
         << number_text(kStepBandLow)
         << "/tEnd up to where the chords between the "
            "transient's samples shift the step spectrum by "
         << number_text(100 * kStepChordShare) << " %, at most " << number_text(kStepBandHigh)
         << "/(first time step of the transient)).</p>\n<table id=\"linear_spectra\">\n"
            "<thead><tr><th>Point</th><th>Operating point</th><th>Z\u2032 at lowest f "
            "[\u03a9\u00b7m\u00b2]</th><th>Apex of \u2212Z\u2033 [Hz]</th><th>Step band "
            "[rad/s]</th><th>Largest difference to step</th><th>CPU [s]</th></tr></thead>\n"
            "<tbody>\n";
    for (const PointSummary& p : run.points) {
        if (!p.linearSpectrum) continue;
        const LinearSpectrumSummary& s = *p.linearSpectrum;
        page << "<tr><td class=\"num\">" << p.point << "</td><td>"
             << (s.steady ? "steady" : "not steady") << " (" << number_text(s.potentialRate)
             << " mV/s)</td><td class=\"num\">" << optional_text(s.lowFrequencyZ)
             << "</td><td class=\"num\">" << optional_text(s.apexFrequency) << "</td>";
        if (s.agreement)
            page << "<td class=\"num\">" << number_text(s.agreement->bandLow) << " \u2013 "
                 << number_text(s.agreement->bandHigh) << "</td><td class=\"num\">"
                 << number_text(100 * s.agreement->largestDifference) << " % at "
                 << number_text(s.agreement->atOmega) << " rad/s</td>";
        else
            page << "<td>-</td><td>-</td>";
        page << "<td class=\"num\">" << number_text(s.cpuSeconds) << "</td></tr>\n";
    }
    page << "</tbody>\n</table>\n";
}

std::string interval_text(const GridEstimate& e) {
    if (e.low && e.high) return "[" + number_text(*e.low) + ", " + number_text(*e.high) + "]";
    return "not in the asymptotic range";
}

// A grid study as a table: per point the final potential on every grid, the observed
// order and the interval for the grid-converged value.
void write_grid_section(std::ostream& page, const GridStudy& study) {
    if (study.automatic) {
        page << "<h2>Grid</h2>\n<p>The grid was refined, every cell halved each time, until "
                "every final potential agreed within "
             << number_text(study.potentialTarget) << " mV between grids: ";
    } else {
        page << "<h2>Grid check</h2>\n<p>Every point again on two grids, every cell halved "
                "each time: ";
    }
    page << study.grids.size() << " grids; the run used grid " << study.chosen + 1 << " (";
    if (static_cast<std::size_t>(study.chosen) < study.grids.size()) {
        const GridPlan& used = study.grids[static_cast<std::size_t>(study.chosen)];
        for (std::size_t l = 0; l < used.size(); ++l)
            page << (l ? "; " : "") << "layer " << l + 1 << ": N = " << used[l].N
                 << ", m = " << used[l].m << ", first step " << number_text(used[l].firstStep)
                 << " m";
    }
    page << "). The interval holds the grid-converged value by Richardson extrapolation at the "
            "observed order, with a safety factor of 1.25.";
    if (study.automatic)
        page << " The integrator ran with atol " << number_text(study.atol) << " and rtol "
             << number_text(study.rtol)
             << (study.toleranceDivisor != 1 ? ", tighter than the input's," : "")
             << " (time error of a final potential on the first grid: "
             << (study.timeError ? number_text(*study.timeError) + " mV" : "not measured") << ").";
    page << "</p>\n";
    if (!study.note.empty())
        page << "<p class=\"failed\">" << (study.automatic ? "Not converged: " : "Not completed: ")
             << escaped(study.note) << "</p>\n";
    page << "<table id=\"" << (study.automatic ? "grid" : "grid_check")
         << "\">\n<thead><tr><th>Point</th><th>Potentials [mV], coarse to fine</th>"
            "<th>Observed order</th><th>Grid-converged [mV]</th><th>Converged</th>"
            "</tr></thead>\n<tbody>\n";
    for (const GridPointStudy& p : study.points) {
        page << "<tr class=\"" << (p.converged ? "finished" : "failed") << "\"><td class=\"num\">"
             << p.point << "</td><td class=\"num\">";
        for (std::size_t g = 0; g < p.potential.size(); ++g)
            page << (g ? ", " : "") << optional_text(p.potential[g]);
        page << "</td><td class=\"num\">" << optional_text(p.potentialEstimate.order) << "</td><td>"
             << interval_text(p.potentialEstimate) << "</td><td>" << (p.converged ? "yes" : "no");
        if (p.transitionTime) page << "; transition at " << number_text(*p.transitionTime) << " s";
        if (p.unresolvedFrom)
            page << "; not resolved from " << number_text(*p.unresolvedFrom) << " s";
        if (!p.failure.empty()) page << "; " << escaped(p.failure);
        if (!p.reason.empty()) page << "; " << escaped(p.reason);
        page << "</td></tr>\n";
    }
    page << "</tbody>\n</table>\n";
}

}  // namespace

void write_summary_json(model& md, RunFiles& runFiles, const RunSummary& run) {
    json j;
    j["program"] = kProgramName;
    j["version"] = kProgramVersion;
    j["input"] = run.inputName + ".cci";
    j["run_folder"] = fs::path(run.runFolder).lexically_normal().generic_string();
    j["model"] = md.modelType == 0 ? "Nernst-Planck-Poisson" : "diffusion only";
    j["method"] = method_name(md.method);
    j["unknowns"] = run.unknowns;
    j["solver_path"] = run.path;
    if (run.path == "banded")
        j["bandwidths"] = {{"lower", run.bandLower}, {"upper", run.bandUpper}};
    j["status"] = run.status;
    j["exit_code"] = run.exitCode;
    j["message"] = run.message.empty() ? json(nullptr) : json(run.message);
    if (const auto warnings = run_warnings(run); !warnings.empty()) j["warnings"] = warnings;
    j["points_planned"] = md.nCalib;
    json points = json::array();
    for (const PointSummary& p : run.points) {
        json jp;
        jp["point"] = p.point;
        jp["multiplier"] = p.multiplier;
        jp["folder"] = p.folder;
        jp["status"] = p.status();
        if (!p.warnings.empty()) jp["warnings"] = p.warnings;
        if (p.startedFrom) jp["started_from_point"] = *p.startedFrom;
        const auto& potential = p.potentiometric.finalPotential;
        jp["final_potential_mV"] = potential ? json(*potential) : json(nullptr);
        jp["potentiometric"] = integration_json(p.potentiometric);
        if (p.currentStep) jp["current_step"] = integration_json(*p.currentStep);
        jp["spectrum"] = p.spectrumFile.empty() ? json(nullptr) : json(p.spectrumFile);
        if (p.linearSpectrum) jp["linear_spectrum"] = linear_spectrum_json(*p.linearSpectrum);
        points.push_back(jp);
    }
    j["points"] = points;
    if (run.calibration) {
        j["calibration"] = {{"slope_mV_per_decade", run.calibration->slope},
                            {"slog2_mV", run.calibration->slog2},
                            {"detection_limits_log10", run.calibration->limits}};
    } else {
        j["calibration"] = nullptr;
        if (!run.calibrationMissing.empty()) j["calibration_missing"] = run.calibrationMissing;
    }
    if (md.nCalib >= 2) j["calibration_analysis"] = analysis_json(analyse_run(run));
    if (run.grid) j["grid"] = study_json(*run.grid);
    if (run.gridCheck) j["grid_check"] = study_json(*run.gridCheck);
    std::vector<std::string> files = run_files(run.runFolder);
    list_own(files, "summary.json");
    j["files"] = files;
    const auto failed = unwritten(runFiles, run.runFolder, "summary.json");
    if (!failed.empty()) {
        json list = json::array();
        for (const auto& [name, reason] : failed)
            list.push_back({{"file", name}, {"reason", reason}});
        j["unwritten_files"] = list;
    }
    // A name or message that is not UTF-8 (a file name of other bytes) cannot stand in
    // JSON: each ill-formed sequence becomes U+FFFD (output/utf8_text.h).
    write_result(runFiles, run.runFolder + "/summary.json",
                 j.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

void write_report_page(model& md, RunFiles& runFiles, const RunSummary& run) {
    const std::vector<std::string> warnings = run_warnings(run);
    std::ostringstream page;
    page << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
         << kProgramName << " run " << escaped(run.inputName) << "</title>\n<style>\n"
         << "body{font-family:sans-serif;margin:1.5em auto;max-width:60em;padding:0 1em}\n"
         << "table{border-collapse:collapse}td,th{border:1px solid #999;padding:.2em .6em}\n"
         << "td.num{text-align:right}.finished{color:#060}.failed,.stopped{color:#a00}\n"
         << (warnings.empty() ? "" : ".warnings{color:#a60}\n")
         << "figure{margin:1em 0}figure svg{width:100%;max-width:42em;height:auto;"
            "border:1px solid #ddd}\n"
         << ":root{color-scheme:light dark}\n"
         << "@media (prefers-color-scheme:dark){body{background:#1d1f21;color:#e6e6e6}"
            "a{color:#8ab4f8}td,th{border-color:#666}figure svg{border-color:#444}"
            ".finished{color:#6c6}.failed,.stopped{color:#f77}"
         << (warnings.empty() ? "" : ".warnings{color:#fb5}") << "}\n"
         << "</style>\n</head>\n<body>\n<h1>" << kProgramName << " run " << escaped(run.inputName)
         << "</h1>\n";

    page << "<p>" << escaped(method_name(md.method)) << ", "
         << (md.modelType == 0 ? "Nernst-Planck-Poisson" : "diffusion only") << ", " << run.unknowns
         << " unknowns, " << escaped(run.path) << " solver.</p>\n";
    std::string status;
    if (run.status == "running") {
        status = "Running: " + std::to_string(run.points.size()) + " of " +
                 std::to_string(md.nCalib) + " calibration points done.";
    } else if (run.status == "finished") {
        status = "Finished: every calibration point ran to its end.";
    } else if (run.status == "finished with warnings") {
        status = "Finished with warnings: " + joined(warnings) + ".";
    } else if (run.status == "failed") {
        status = "Finished, but the integration failed at some points (see the table).";
        if (!warnings.empty()) status += " Warnings: " + joined(warnings) + ".";
    } else if (run.status == "interrupted") {
        status = "Interrupted: " + run.message;
    } else {
        status = "Stopped: " + run.message;
    }
    page << "<p id=\"status\" class=\"" << escaped(status_class(run.status)) << "\">"
         << escaped(status) << "</p>\n";
    // The figure set first: calibration, time courses, profiles, spectra.
    int figures = 0;
    std::string figureSection;
    for (const RunFigure& f : run_figures(run, runFiles.traces)) {
        const fs::path file = fs::path(run.runFolder) / f.file;
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) continue;
        ++figures;
        figureSection += "<figure>\n<figcaption><a href=\"" + href(f.file) + "\">" +
                         escaped(f.caption) + "</a></figcaption>\n" +
                         inline_svg(file, "figure" + std::to_string(figures) + "-") +
                         "\n</figure>\n";
    }
    if (figures > 0)
        page << "<h2>Figures</h2>\n<div id=\"figures\">\n" << figureSection << "</div>\n";
    if (md.nCalib >= 2) write_analysis_section(page, analyse_run(run));

    page << "<h2>Calibration points</h2>\n<table id=\"points\">\n<thead><tr><th>Point</th>"
            "<th>Multiplier</th><th>Final potential [mV]</th><th>Steps</th><th>Status</th>"
            "</tr></thead>\n<tbody>\n";
    for (const PointSummary& p : run.points) {
        const auto& pot = p.potentiometric.finalPotential;
        const std::string row = p.interrupted() ? "stopped" : status_class(p.status());
        page << "<tr class=\"" << row << "\"><td class=\"num\">" << p.point
             << "</td><td class=\"num\">" << number_text(p.multiplier) << "</td><td class=\"num\">"
             << (pot ? number_text(*pot) : std::string("-")) << "</td><td class=\"num\">"
             << p.potentiometric.stats.steps
             << (p.currentStep ? " + " + std::to_string(p.currentStep->stats.steps) : std::string())
             << "</td><td>" << escaped(point_status(p)) << "</td></tr>\n";
    }
    page << "</tbody>\n</table>\n";

    if (run.calibration) {
        page << "<h2>Calibration line</h2>\n<p>Slope " << number_text(run.calibration->slope)
             << " mV per decade; a twofold change of concentration changes the potential by "
             << number_text(run.calibration->slog2) << " mV.</p>\n<p>Detection limits (log10 of "
             << "the multiplier): ";
        if (run.calibration->limits.empty()) page << "none found";
        for (std::size_t i = 0; i < run.calibration->limits.size(); ++i)
            page << (i ? ", " : "") << number_text(run.calibration->limits[i]);
        page << ".</p>\n";
    } else if (!run.calibrationMissing.empty()) {
        page << "<h2>Calibration line</h2>\n<p id=\"calibration_missing\" class=\"failed\">"
             << "Not given: " << escaped(run.calibrationMissing) << ".</p>\n";
    }

    write_linear_section(page, run);
    if (run.grid) write_grid_section(page, *run.grid);
    if (run.gridCheck) write_grid_section(page, *run.gridCheck);

    const auto failed = unwritten(runFiles, run.runFolder, "report.html");
    if (!failed.empty()) {
        page << "<h2>Files not written</h2>\n<ul id=\"unwritten\" class=\"failed\">\n";
        for (const auto& [name, reason] : failed)
            page << "<li>" << escaped(name) << ": " << escaped(reason) << "</li>\n";
        page << "</ul>\n";
    }

    std::vector<std::string> files = run_files(run.runFolder);
    list_own(files, "report.html");
    // The run's own plots (calibration curve, spectrum) first, then those of the points.
    std::vector<std::string> svgs;
    for (const std::string& f : files)
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".svg") == 0 && !f.starts_with("figures/"))
            svgs.push_back(f);
    std::stable_partition(svgs.begin(), svgs.end(),
                          [](const std::string& f) { return f.find('/') == std::string::npos; });
    page << "<h2>Plots of profiles, time courses, curves and spectra</h2>\n";
    int plots = 0;
    for (const std::string& f : svgs) {
        ++plots;
        page << "<figure>\n<figcaption><a href=\"" << href(f) << "\">" << escaped(f)
             << "</a></figcaption>\n"
             << inline_svg(fs::path(run.runFolder) / f, "plot" + std::to_string(plots) + "-")
             << "\n</figure>\n";
    }
    if (plots == 0) page << "<p>No plots were written.</p>\n";

    // data.html's statement, its title a heading of this page's level
    std::string problem = problem_statement(md);
    replace_all(problem, "<h1>", "<h3>");
    replace_all(problem, "</h1>", "</h3>");
    page << "<h2>Problem</h2>\n<div id=\"problem\">" << problem << "</div>\n";
    page << "<h2>Files</h2>\n<ul id=\"files\">\n";
    for (const std::string& f : files)
        page << "<li><a href=\"" << href(f) << "\">" << escaped(f) << "</a></li>\n";
    page << "</ul>\n</body>\n</html>\n";
    write_result(runFiles, run.runFolder + "/report.html", page.str());
}
