// The figure set of whole runs as pictures: for a calibration (b), an impedance (eis) and a
// chronopotentiometric run (chrono) every expected figure exists and renders to a picture
// that is not blank; no two of its texts overlap (boxes estimated from position, anchor,
// font size and character count, as a reader would see them); every axis names its unit;
// a figure of more than one curve has a legend.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

struct TextBox {
    std::string text, role;
    double x0, y0, x1, y1;
};

std::string attribute(const std::string& tag, const std::string& name) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = tag.find(key);
    if (at == std::string::npos) return "";
    const std::size_t from = at + key.size();
    return tag.substr(from, tag.find('"', from) - from);
}

// Every element `name` of the document: its opening tag and, for text, its content.
std::vector<std::pair<std::string, std::string>> elements(const std::string& svg,
                                                          const std::string& name) {
    std::vector<std::pair<std::string, std::string>> found;
    for (std::size_t at = 0; (at = svg.find("<" + name + " ", at)) != std::string::npos;) {
        const std::size_t end = svg.find('>', at);
        std::string content;
        if (name == "text") content = svg.substr(end + 1, svg.find("</text>", end) - end - 1);
        found.emplace_back(svg.substr(at, end - at), content);
        at = end;
    }
    return found;
}

int characters(const std::string& text) {
    int n = 0;
    for (unsigned char ch : text)
        if ((ch & 0xC0) != 0x80) ++n;
    return n;
}

std::vector<TextBox> text_boxes(const std::string& svg) {
    std::vector<TextBox> boxes;
    for (const auto& [tag, raw] : elements(svg, "text")) {
        const std::string content = std::regex_replace(raw, std::regex("&[a-z]+;"), "x");
        const double x = std::stod(attribute(tag, "x")), y = std::stod(attribute(tag, "y"));
        const double size = std::stod(attribute(tag, "font-size"));
        const double w = 0.6 * size * characters(content);
        const std::string anchor = attribute(tag, "text-anchor");
        const double shift = anchor == "middle" ? w / 2 : anchor == "end" ? w : 0;
        TextBox b{content, attribute(tag, "class"), x - shift, y - 0.8 * size, x - shift + w,
                  y + 0.2 * size};
        if (attribute(tag, "transform").starts_with("rotate(-90"))
            b = {content, b.role, x - 0.8 * size, y - (w - shift), x + 0.2 * size, y + shift};
        boxes.push_back(b);
    }
    return boxes;
}

int count_role(const std::vector<TextBox>& boxes, const std::string& role) {
    int n = 0;
    for (const TextBox& b : boxes) n += b.role.find(role) != std::string::npos;
    return n;
}

void check_figure(const fs::path& svgFile) {
    SCOPED_TRACE(svgFile.string());
    const std::string svg = testutil::read_file(svgFile);
    const std::vector<TextBox> boxes = text_boxes(svg);
    for (std::size_t i = 0; i < boxes.size(); ++i)
        for (std::size_t j = i + 1; j < boxes.size(); ++j) {
            const TextBox &a = boxes[i], &b = boxes[j];
            EXPECT_FALSE(a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1)
                << "'" << a.text << "' overlaps '" << b.text << "'";
        }
    int labels = 0;
    for (const TextBox& b : boxes)
        if (b.role.find("fig-label") != std::string::npos) {
            ++labels;
            EXPECT_TRUE(std::regex_search(b.text, std::regex("\\[[^\\]]+\\]"))) << b.text;
        }
    EXPECT_GE(labels, 2);
    std::set<std::string> curves;  // one colour per curve
    for (const auto& [tag, content] : elements(svg, "polyline"))
        if (attribute(tag, "class") == "fig-curve") curves.insert(attribute(tag, "stroke"));
    for (const auto& [tag, content] : elements(svg, "circle"))
        if (attribute(tag, "class") == "fig-curve") curves.insert(attribute(tag, "fill"));
    if (curves.size() > 1) {
        EXPECT_GE(count_role(boxes, "fig-legend"), static_cast<int>(curves.size()));
    }

    const fs::path png = svgFile.string() + ".png";
    const auto r = testutil::run_command("rsvg-convert -o '" + png.string() + "' '" +
                                         svgFile.string() + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    const testutil::Image image = testutil::read_png(png);
    EXPECT_GT(image.width, 400);
    EXPECT_GT(image.distinct_levels(), 10);
    EXPECT_GT(image.dark_pixels(), 1000);
}

}  // namespace

TEST(Figures, EveryRunDrawsReadableFigures) {
    if (testutil::run_command("command -v rsvg-convert && command -v pngtopnm").status != 0)
        GTEST_SKIP() << "no rsvg-convert or pngtopnm";
    const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
        {"b",
         {"calibration", "time_course", "concentrations_1", "concentrations_5",
          "potential_profiles"}},
        {"eis", {"calibration", "time_course", "concentrations_2", "nyquist", "bode"}},
        {"chrono", {"time_course", "chronopotentiogram", "concentrations_1"}}};
    for (const auto& [name, expected] : runs) {
        SCOPED_TRACE(name);
        testutil::ScratchDir dir("figures_" + name);
        fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / (name + ".cci"), dir.path() / (name + ".cci"));
        ASSERT_EQ(testutil::run_program(dir.path(), name).status, 0);
        const fs::path run = dir.path() / name;
        for (const std::string& figure : expected)
            EXPECT_TRUE(fs::exists(run / "figures" / (figure + ".svg"))) << figure;
        for (const auto& e : fs::directory_iterator(run / "figures"))
            if (e.path().extension() == ".svg") check_figure(e.path());
        // the tables name every column with its unit, and the summary lists them
        const std::string summary = testutil::read_file(run / "summary.json");
        for (const char* table : {"points.csv", "time_course.csv", "concentration_profiles.csv",
                                  "potential_profiles.csv"})
            EXPECT_NE(summary.find(table), std::string::npos) << table;
        if (name == "eis") {
            const std::string spectrum = testutil::read_file(run / "spectrum.csv");
            EXPECT_EQ(spectrum.substr(0, spectrum.find('\n')),
                      "point,f [Hz],Z' [ohm m2],-Z'' [ohm m2],|Z| [ohm m2],phase [deg]");
        }
        const std::string report = testutil::read_file(run / "report.html");
        EXPECT_LT(report.find("<h2>Figures</h2>"), report.find("<h2>Plots of profiles, time courses, curves and spectra</h2>"));
    }
}
