#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

#include "driver/sweep.h"
#include "model/errors.h"
#include "model/input_file.h"
#include "model/text_scanner.h"
#include "output/number_text.h"
#include "output/replace_file.h"

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
    std::string how = task.contains("signal")
                          ? "ended by signal " + std::to_string(task["signal"].get<int>())
                          : "ended with status " + std::to_string(task.value("exit_code", -1));
    const std::string last = last_log_line(log);
    return last.empty() ? how : how + ": " + last;
}

// "point K: why" of the first point whose integration failed, or "".
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

CombinationState combination_state(const SweepFile& sweep, const SweepLayout& layout,
                                   long long id) {
    CombinationState state;
    bool haveSummary = false, haveTask = false;
    const std::string summaryText = read_text(layout.summary_file(sweep, id), haveSummary);
    const fs::path folder = layout.combination_folder(id);
    const std::string taskText = read_text(folder / "task.json", haveTask);
    const nlohmann::json task = nlohmann::json::parse(taskText, nullptr, false);
    const bool taskEnded = haveTask && task.is_object();
    if (haveSummary) {
        const nlohmann::json summary = nlohmann::json::parse(summaryText, nullptr, false);
        if (summary.is_object() && summary.value("status", "") != "running") {
            state.status = summary.value("status", "");
            state.recorded = true;
            state.outcome = state.status == "finished" ? Outcome::finished : Outcome::failed;
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
