#include <algorithm>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/number_text.h"
#include "model/errors.h"
#include "model/text_scanner.h"
#include "output/psplot/psplot.h"
#include "sweep/sweep.h"

namespace fs = std::filesystem;

namespace {

using nlohmann::json;

struct Row {
    long long id = 0;
    std::vector<double> values;
    CombinationState state;
    json summary;  // null when there is none
};

// A number of summary.json as JSON writes it (shortest text that reads back the same);
// empty for null or absent.
std::string number_field(const json& j) { return j.is_number() ? j.dump() : ""; }

const json& calibration_of(const json& summary) {
    static const json none = json::object();
    return summary.is_object() && summary.contains("calibration") && summary["calibration"].is_object()
               ? summary["calibration"]
               : none;
}

// Final potential of point k (1-based), null when that point has none.
json final_potential(const json& summary, int k) {
    if (!summary.is_object() || !summary.contains("points")) return nullptr;
    for (const json& p : summary["points"])
        if (p.value("point", 0) == k && p.contains("final_potential_mV")) return p["final_potential_mV"];
    return nullptr;
}

// The result columns: their names and how to take them from a summary.
struct ResultColumn {
    std::string name;
    json (*take)(const json& summary, int k);
    int k = 0;
};

std::vector<ResultColumn> result_columns(int points) {
    std::vector<ResultColumn> cols = {
        {"slope_mV_per_decade",
         [](const json& s, int) -> json { return calibration_of(s).value("slope_mV_per_decade", json()); }},
        {"slog2_mV", [](const json& s, int) -> json { return calibration_of(s).value("slog2_mV", json()); }},
        {"detection_limit_log10",
         [](const json& s, int) -> json {
             const json& limits = calibration_of(s).value("detection_limits_log10", json());
             return limits.is_array() && !limits.empty() ? limits[0] : json();
         }},
    };
    for (int k = 1; k <= points; ++k)
        cols.push_back({"final_potential_mV_" + std::to_string(k), final_potential, k});
    return cols;
}

void plot_result(const SweepFile& sweep, const SweepLayout& layout, const std::vector<Row>& rows,
                 const ResultColumn& result, size_t against, MessageSink& sink) {
    const SweepParameter& param = sweep.parameters[against];
    // One line per combination of the other parameters, its points in order of the value.
    std::map<std::string, std::vector<std::pair<double, double>>> lines;
    for (const Row& row : rows) {
        if (row.state.outcome != Outcome::finished) continue;
        const json y = result.take(row.summary, result.k);
        if (!y.is_number()) continue;
        std::string key;
        for (size_t k = 0; k < row.values.size(); ++k)
            if (k != against)
                key += (key.empty() ? "" : ", ") + sweep.parameters[k].label + " = " +
                       exact_number_text(row.values[k]);
        const double x = param.logSpaced ? std::log10(row.values[against]) : row.values[against];
        lines[key].emplace_back(x, y.get<double>());
    }
    if (lines.empty()) {
        tell(sink, "No finished combination gives ", result.name, "; no plot written.\n");
        sink.flush();
        return;
    }
    double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
    for (auto& [key, pts] : lines) {
        std::sort(pts.begin(), pts.end());
        for (const auto& [x, y] : pts) {
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    }
    const std::string file = (layout.folder / "sweep_plot.ps").string();
    try {
        PSpage page(file, sink);
        PSplot plot(page, 100, 500, 350, 750);
        plot.clear_box();
        const double dx = x1 - x0, dy = y1 - y0;
        plot.set_limits(x0 - 0.1 * dx, x1 + 0.1 * dx, y0 - 0.1 * dy, y1 + 0.1 * dy);
        plot.draw_frame();
        plot.auto_scale_range(x0, x1, y0, y1);
        plot.x_label(param.logSpaced ? "log10 " + param.label : param.label);
        plot.y_label(result.name);
        int colour = 0;
        for (const auto& [key, pts] : lines) {
            VecDoub xs(static_cast<int>(pts.size())), ys(static_cast<int>(pts.size()));
            for (size_t i = 0; i < pts.size(); ++i) xs[static_cast<int>(i)] = pts[i].first, ys[static_cast<int>(i)] = pts[i].second;
            page.set_color_index(colour++ % 4);
            for (const auto& [x, y] : pts) plot.dot(x, y, 5);
            plot.line_plot(xs, ys);
            // The legend under the plot names the other parameters' values of each line.
            const int row = colour - 1;
            if (!key.empty() && row < 12) page.put_centered_text(key, 300, 300 - 16.0 * row, 0);
        }
        page.set_color_index(0);
        page.close();
    } catch (const PlotError&) {
        return;  // the plotter has said which file and why
    }
    tell(sink, "Plot of ", result.name, " against ", param.label, ": ", svg_file_name(file), "\n");
    sink.flush();
}

}  // namespace

int sweep_collect_command(const std::string& sweepPath, const std::string& resultName,
                          const std::string& against, MessageSink& sink) {
    const SweepFile sweep = read_sweep_file(sweepPath);
    const SweepLayout layout = sweep_layout(sweep, sweepPath);
    std::vector<Row> rows;
    int points = 0;
    for (long long id = 1; id <= layout.count; ++id) {
        Row row;
        row.id = id;
        row.values = combination_values(sweep, id);
        row.state = combination_state(sweep, layout, id);
        // A summary that cannot be read or has another shape is left out (null); its row
        // says so through the combination's state.
        std::string fault;
        row.summary = read_summary(layout.summary_file(sweep, id), fault);
        if (row.summary.is_object() && row.summary.contains("points"))
            for (const json& p : row.summary["points"]) points = std::max(points, p.value("point", 0));
        rows.push_back(std::move(row));
    }
    const std::vector<ResultColumn> columns = result_columns(points);
    // The plot's choices are checked before anything is written.
    const std::string wanted = resultName.empty() ? "slope_mV_per_decade" : resultName;
    const auto result = std::find_if(columns.begin(), columns.end(),
                                     [&](const ResultColumn& c) { return c.name == wanted; });
    if (result == columns.end()) {
        std::string names;
        for (const ResultColumn& c : columns) names += (names.empty() ? "" : ", ") + c.name;
        throw InputError("Option --plot expects one of " + names + ", found '" + visible_text(wanted) + "'");
    }
    // By default the first parameter that takes more than one value.
    size_t param = 0;
    while (against.empty() && param + 1 < sweep.parameters.size() &&
           sweep.parameters[param].values.size() < 2)
        ++param;
    if (!against.empty()) {
        std::string names;
        while (param < sweep.parameters.size() && sweep.parameters[param].label != against)
            names += (names.empty() ? "" : ", ") + sweep.parameters[param++].label;
        if (param == sweep.parameters.size())
            throw InputError("Option --against expects a varied parameter (" + names + "), found '" +
                             visible_text(against) + "'");
    }

    std::ostringstream csv;
    csv << "id,folder";
    for (const SweepParameter& p : sweep.parameters) csv << ',' << csv_field(p.label);
    csv << ",status,message,slope_mV_per_decade,slog2_mV,detection_limits_log10";
    for (int k = 1; k <= points; ++k) csv << ",final_potential_mV_" << k;
    csv << '\n';
    for (const Row& row : rows) {
        csv << row.id << ',' << layout.folder_name(row.id);
        for (const double v : row.values) csv << ',' << exact_number_text(v);
        csv << ',' << (row.state.status.empty() ? "missing" : row.state.status) << ','
            << csv_field(row.state.message);
        const json& cal = calibration_of(row.summary);
        csv << ',' << number_field(cal.value("slope_mV_per_decade", json())) << ','
            << number_field(cal.value("slog2_mV", json())) << ',';
        const json limits = cal.value("detection_limits_log10", json());
        if (limits.is_array())
            for (size_t i = 0; i < limits.size(); ++i) csv << (i ? " " : "") << number_field(limits[i]);
        for (int k = 1; k <= points; ++k) csv << ',' << number_field(final_potential(row.summary, k));
        csv << '\n';
    }
    fs::create_directories(layout.folder);
    write_whole(layout.folder / "sweep_results.csv", csv.str());
    tell(sink, "Results of ", layout.count,
         " combinations: ", (layout.folder / "sweep_results.csv").string(), "\n");
    sink.flush();
    plot_result(sweep, layout, rows, *result, param, sink);
    tell(sink, outcome_line(sweep, layout), "\n");
    sink.flush();
    return 0;
}
