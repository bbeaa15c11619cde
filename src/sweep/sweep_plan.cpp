#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

#include "base/number_text.h"
#include "base/replace_file.h"
#include "model/errors.h"
#include "model/input_file.h"
#include "model/text_scanner.h"
#include "sweep/sweep.h"

namespace fs = std::filesystem;

std::string SweepLayout::folder_name(long long id) const {
    std::string digits = std::to_string(id);
    if (static_cast<int>(digits.size()) < idDigits)
        digits.insert(0, static_cast<size_t>(idDigits) - digits.size(), '0');
    return "c" + digits;
}

fs::path SweepLayout::summary_file(const SweepFile& sweep, long long id) const {
    return combination_folder(id) / sweep.baseName / "summary.json";
}

SweepLayout sweep_layout(const SweepFile& sweep, const std::string& sweepPath) {
    SweepLayout layout;
    layout.sweepFile = fs::absolute(sweepPath).lexically_normal();
    const fs::path beside = layout.sweepFile.parent_path();
    layout.baseInput = beside / (sweep.baseName + ".cci");
    layout.folder = beside / (layout.sweepFile.stem().string() + "_sweep");
    layout.count = combination_count(sweep);
    layout.idDigits = std::max<int>(4, static_cast<int>(std::to_string(layout.count).size()));
    return layout;
}

std::string read_text(const fs::path& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::ostringstream text;
    if (ok) text << in.rdbuf();
    return text.str();
}

void write_whole(const fs::path& path, const std::string& text) {
    const std::string name = path.string();
    std::string reason;
    {
        std::ofstream out(temporary_name(name), std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) reason = error_text(errno);
    }
    if (reason.empty() && put_in_place(name, reason)) return;
    std::remove(temporary_name(name).c_str());
    throw Fault(FaultKind::output, "File " + name + " cannot be written. (" + reason + ")", false);
}

namespace {

// Last line of the run's standard output that says something, for a run that left no
// summary of its own.
std::string last_log_line(const fs::path& log) {
    bool ok = false;
    std::istringstream in(read_text(log, ok));
    std::string line, last;
    while (std::getline(in, line))
        if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
    return last;
}

// What the task record says of a run that ended without a final summary.
std::string ended_how(const nlohmann::json& task, const fs::path& log) {
    const auto code = [&](const char* key) {
        return task.contains(key) && task[key].is_number_integer() ? task[key].get<long long>() : -1;
    };
    std::string how = task.contains("signal")
                          ? "ended by signal " + std::to_string(code("signal"))
                          : "ended with status " + std::to_string(code("exit_code"));
    const std::string last = last_log_line(log);
    return last.empty() ? how : how + ": " + last;
}

// "point K: why" of the first point whose integration failed, or "". The summary has the
// shape summary_fault checks.
std::string first_failure(const nlohmann::json& summary) {
    if (!summary.contains("points") || !summary["points"].is_array()) return "";
    for (const nlohmann::json& p : summary["points"])
        for (const char* run : {"potentiometric", "current_step"})
            if (p.contains(run) && p[run].is_object() && p[run].contains("failure") &&
                p[run]["failure"].is_string())
                return "point " + std::to_string(p.value("point", 0)) + ": " +
                       p[run]["failure"].get<std::string>();
    return "";
}

}  // namespace

std::string summary_fault(const nlohmann::json& summary) {
    if (!summary.is_object()) return "holds no JSON object";
    if (!summary.contains("status") || !summary["status"].is_string())
        return "has no text \"status\"";
    if (summary.contains("message") && !summary["message"].is_null() &&
        !summary["message"].is_string())
        return "has a \"message\" that is not a text";
    if (summary.contains("calibration") && !summary["calibration"].is_null() &&
        !summary["calibration"].is_object())
        return "has a \"calibration\" that is not an object";
    if (!summary.contains("points")) return "";
    if (!summary["points"].is_array()) return "has \"points\" that are not a list";
    for (const nlohmann::json& p : summary["points"]) {
        if (!p.is_object()) return "has a point that is not an object";
        // Point numbers become columns of the results; an input has at most 10^6 points.
        if (p.contains("point") && (!p["point"].is_number_integer() || p["point"].get<long long>() < 1 ||
                                    p["point"].get<long long>() > 1000000))
            return "has a point whose \"point\" is not a number from 1 to 1000000";
    }
    return "";
}

nlohmann::json read_summary(const fs::path& file, std::string& fault) {
    fault.clear();
    bool ok = false;
    const std::string text = read_text(file, ok);
    if (!ok) {
        std::error_code ec;
        if (fs::exists(file, ec)) fault = "summary.json cannot be read";
        return nullptr;
    }
    nlohmann::json summary = nlohmann::json::parse(text, nullptr, false);
    if (summary.is_discarded())
        fault = "summary.json is not JSON";
    else if (const std::string shape = summary_fault(summary); !shape.empty())
        fault = "summary.json " + shape;
    return fault.empty() ? summary : nlohmann::json(nullptr);
}

CombinationState combination_state(const SweepFile& sweep, const SweepLayout& layout,
                                   long long id) {
    CombinationState state;
    bool haveTask = false;
    std::string fault;
    const nlohmann::json summary = read_summary(layout.summary_file(sweep, id), fault);
    const fs::path folder = layout.combination_folder(id);
    const std::string taskText = read_text(folder / "task.json", haveTask);
    const nlohmann::json task = nlohmann::json::parse(taskText, nullptr, false);
    const bool taskEnded = haveTask && task.is_object();
    if (!fault.empty()) {
        // Not known how the run ended: reported as such, and run again.
        state.outcome = Outcome::failed;
        state.status = "unreadable";
        state.message = fault;
        return state;
    }
    if (summary.is_object()) {
        const std::string status = summary["status"].get<std::string>();
        if (status == "interrupted") {
            // Stopped on request: not done, so run again by the next `sweep run`.
            state.outcome = Outcome::missing;
            state.status = status;
            state.message = summary.value("message", nlohmann::json()).is_string()
                                ? summary["message"].get<std::string>()
                                : "";
            return state;
        }
        if (status != "running") {
            state.status = status;
            state.recorded = true;
            const bool finished =
                state.status == "finished" || state.status == "finished with warnings";
            state.outcome = finished ? Outcome::finished : Outcome::failed;
            if (summary.contains("message") && summary["message"].is_string())
                state.message = summary["message"].get<std::string>();
            else
                state.message = first_failure(summary);
            return state;
        }
        state.outcome = Outcome::running;
        state.status = "running";
    }
    if (taskEnded) {
        state.outcome = Outcome::failed;
        state.status = "crashed";
        state.message = ended_how(task, folder / "run.log");
    }
    return state;
}

std::string outcome_line(const SweepFile& sweep, const SweepLayout& layout) {
    long long finished = 0, failed = 0, missing = 0;
    for (long long id = 1; id <= layout.count; ++id) {
        const Outcome o = combination_state(sweep, layout, id).outcome;
        if (o == Outcome::finished)
            ++finished;
        else if (o == Outcome::failed)
            ++failed;
        else
            ++missing;
    }
    return std::to_string(finished) + " finished, " + std::to_string(failed) + " failed, " +
           std::to_string(missing) + " missing";
}

std::string read_base_text(const SweepFile& sweep, const SweepLayout& layout) {
    bool ok = false;
    std::string text = read_text(layout.baseInput, ok);
    if (!ok)
        throw InputError(sweep.fileName + ", line " + std::to_string(sweep.baseLine) +
                         ": the base input cannot be opened, found '" +
                         visible_text(layout.baseInput.string()) + "'");
    return text;
}

long long plan_sweep(const SweepFile& sweep, const SweepLayout& layout) {
    const std::string baseText = read_base_text(sweep, layout);
    const std::string baseFile = layout.baseInput.string();
    {
        model base;
        read_input_text(base, baseText, baseFile);
        check_sweep_against(sweep, base);
    }
    std::error_code ec;
    if (fs::exists(layout.folder, ec) && !fs::is_directory(layout.folder, ec))
        throw InputError("The sweep folder " + layout.folder.string() +
                         " is taken by something that is not a folder.");
    // First every input is generated, read back and compared with what stands on disk;
    // only then is anything written.
    std::vector<long long> toWrite;
    std::ostringstream manifest;
    manifest << "id,folder";
    for (const SweepParameter& p : sweep.parameters) manifest << ',' << csv_field(p.label);
    manifest << '\n';
    for (long long id = 1; id <= layout.count; ++id) {
        const std::vector<double> values = combination_values(sweep, id);
        manifest << id << ',' << layout.folder_name(id);
        for (const double v : values) manifest << ',' << exact_number_text(v);
        manifest << '\n';
        const std::string text = combination_input_text(sweep, baseText, baseFile, values, id);
        const fs::path input = layout.combination_folder(id) / (sweep.baseName + ".cci");
        bool exists = false;
        const std::string onDisk = read_text(input, exists);
        if (!exists)
            toWrite.push_back(id);
        else if (onDisk != text)
            throw InputError(sweep.fileName + ": " + input.string() +
                             " holds another input than the sweep file now gives; remove the "
                             "sweep folder " + layout.folder.string() +
                             " (or move it away) to plan this sweep anew.");
    }
    for (const long long id : toWrite) {
        const fs::path dir = layout.combination_folder(id);
        fs::create_directories(dir);
        write_whole(dir / (sweep.baseName + ".cci"),
                    combination_input_text(sweep, baseText, baseFile, combination_values(sweep, id), id));
    }
    fs::create_directories(layout.folder);
    write_whole(layout.folder / "sweep.csv", manifest.str());
    return static_cast<long long>(toWrite.size());
}

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string s = "\"";
    for (const char ch : text) s += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return s + "\"";
}
