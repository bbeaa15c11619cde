// The SVG twin of every plot page. A page using every primitive is compared with an SVG
// text written by hand: y measured down from the top of an 842-point page, coordinates to
// a hundredth of a point, consecutive segments in one path, a clip as a group that ends
// with its state, markup characters as entities. The pages of real runs (examples b and
// eis) must carry the same tick labels and titles, the same number of points per curve
// and the same dots as their PostScript twins, parse as XML (xmllint) and render to a
// page with ink on it (rsvg-convert, pngtopnm). A twin that cannot be opened or written
// is reported like the PostScript file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/replace_file.h"
#include "output/psplot/psplot.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

bool has_tool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

VecDoub vec(std::initializer_list<double> values) {
    VecDoub v(static_cast<int>(values.size()));
    int i = 0;
    for (double x : values) v[i++] = x;
    return v;
}

// Every piece of `text` between an occurrence of `open` and the next `close`.
std::vector<std::string> between(const std::string& text, const std::string& open,
                                 const std::string& close) {
    std::vector<std::string> found;
    for (auto at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
        at += open.size();
        const auto end = text.find(close, at);
        if (end == std::string::npos) break;
        found.push_back(text.substr(at, end - at));
        at = end;
    }
    return found;
}

// Texts shown on a PostScript page, unescaped.
std::vector<std::string> ps_texts(const std::string& ps) {
    std::vector<std::string> texts;
    for (const std::string& raw : between(ps, " 0 0 mt (", ") dup stringwidth")) {
        std::string t;
        for (std::size_t i = 0; i < raw.size(); ++i) t += raw[i] == '\\' ? raw[++i] : raw[i];
        texts.push_back(t);
    }
    return texts;
}

// Contents of the <text> elements of an SVG page, entities resolved.
std::vector<std::string> svg_texts(const std::string& svg) {
    std::vector<std::string> texts;
    for (const std::string& element : between(svg, "<text ", "</text>")) {
        std::string t = element.substr(element.find('>') + 1);
        for (const auto& [entity, c] : {std::pair{"&lt;", "<"},
                                        {"&gt;", ">"},
                                        {"&quot;", "\""},
                                        {"&apos;", "'"},
                                        {"&amp;", "&"}})
            for (auto at = t.find(entity); at != std::string::npos; at = t.find(entity, at + 1))
                t.replace(at, std::string(entity).size(), c);
        texts.push_back(t);
    }
    return texts;
}

// Number of points of each path built with lineto lines ("np x y mt" alone on its line,
// unlike a line segment).
std::vector<int> ps_path_sizes(const std::string& ps) {
    std::vector<int> sizes;
    std::istringstream lines(ps);
    int n = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("np ") && line.ends_with(" mt")) {
            n = 1;
        } else if (n > 0 && line.ends_with(" lt")) {
            ++n;
        } else if (n > 0) {
            sizes.push_back(n);
            n = 0;
        }
    }
    return sizes;
}

std::vector<int> svg_path_sizes(const std::string& svg) {
    std::vector<int> sizes;
    for (const std::string& points : between(svg, " points=\"", "\""))
        sizes.push_back(static_cast<int>(std::count(points.begin(), points.end(), ',')));
    return sizes;
}

// xmllint's verdict on `svg`: empty when well-formed.
std::string xml_errors(const fs::path& svg) {
    const testutil::RunResult r = testutil::run_command("xmllint --noout '" + svg.string() + "'");
    return r.status == 0 && r.output.empty() ? "" : "xmllint: " + r.output;
}

// Pixels with any channel below half intensity when `svg` is rendered on white, or -1 when
// it does not render.
long dark_pixels(const fs::path& svg) {
    const fs::path png = svg.string() + ".png";
    if (testutil::run_command("rsvg-convert -b white -o '" + png.string() + "' '" + svg.string() +
                              "'")
            .status != 0)
        return -1;
    const testutil::Image image = testutil::read_png(png);
    return image.width > 0 ? image.dark_pixels() : -1;
}

class SvgTwin : public ::testing::Test {
  protected:
    fs::path path(const std::string& name) const { return dir_.path() / name; }
    testutil::ScratchDir dir_{"svgtwin"};
};

}  // namespace

TEST_F(SvgTwin, PageWithEveryPrimitiveMatchesHandWrittenText) {
    {
        PSpage page(path("all.ps").string());
        page.set_line_width(2);
        page.line_segment(0, 0, 10, 20);
        page.line_segment(10, 20, 30.004, 841.996);  // same path as the first
        page.set_rgb(255, 0, 51);
        page.put_right_text("a<b & \"c\" 'd'", 100, 200, 90);
        page.save_state();
        page.set_gray(0.5);  // 127.5 rounds to 128
        page.set_font("Helvetica-BoldOblique", 9.5);
        page.polyline(vec({0, 100, 0}), vec({0, 0, 100}), 0, 0, 1);
        page.put_centered_text("x\x01y", 50, 10, 0);  // XML has no place for \x01
        page.point_symbol(20, 20, 108, 10);
        page.restore_state();                  // back to red, serif 12, no clip
        page.point_symbol(300, 400, 110, 10);  // the black square as a character
        page.polyline(vec({1, 2}), vec({3, 4}), 1, 0, 0);
        page.polyline(vec({1, 2, 3}), vec({3, 4}), 0, 1, 0);
        page.restore_state();  // nothing saved: no effect
        page.save_state();
        page.polyline(vec({0, 595, 595}), vec({0, 0, 842}), 0, 0, 1);  // left open
        page.polyline(vec({5, 6}), vec({7, 8}), 0, 0, 0);
        page.close();
    }
    EXPECT_EQ(
        testutil::read_file(path("all.svg")),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"595pt\" "
        "height=\"842pt\" viewBox=\"0 0 595 842\" xml:space=\"preserve\" font-family=\"serif\" "
        "font-size=\"12\" stroke-width=\"0.5\" stroke-miterlimit=\"10\">\n"
        "<rect width=\"595\" height=\"842\" fill=\"#fff\"/>\n"
        "<path d=\"M0,842 10,822M10,822 30,0\" fill=\"none\" stroke=\"#000\" "
        "stroke-width=\"2\"/>\n"
        "<text x=\"100\" y=\"642\" transform=\"rotate(-90 100 642)\" text-anchor=\"end\" "
        "fill=\"#f03\">a&lt;b &amp; &quot;c&quot; &apos;d&apos;</text>\n"
        "<clipPath id=\"clip1\"><polygon points=\"0,842 100,842 0,742\"/></clipPath>\n"
        "<g clip-path=\"url(#clip1)\">\n"
        "<text x=\"50\" y=\"832\" text-anchor=\"middle\" font-family=\"sans-serif\" "
        "font-size=\"9.5\" font-weight=\"bold\" font-style=\"italic\" fill=\"#808080\">xy</text>\n"
        // ZapfDingbats circle: diameter 0.722 of the size, centred on the point
        "<circle cx=\"20\" cy=\"822\" r=\"3.61\" fill=\"#808080\"/>\n"
        "</g>\n"
        // the square's origin as in PostScript, 0.394 and 0.343 sizes off the centre
        "<text x=\"296.06\" y=\"445.43\" font-size=\"10\" fill=\"#f03\">\u25a0</text>\n"
        "<polygon points=\"1,839 2,838\" fill=\"none\" stroke=\"#f03\" stroke-width=\"2\"/>\n"
        "<polygon points=\"1,839 2,838\" fill=\"#f03\"/>\n"
        "<clipPath id=\"clip2\"><polygon points=\"0,842 595,842 595,0\"/></clipPath>\n"
        "<g clip-path=\"url(#clip2)\">\n"
        "<polyline points=\"5,835 6,834\" fill=\"none\" stroke=\"#f03\" stroke-width=\"2\"/>\n"
        "</g>\n"
        "</svg>\n");
    if (has_tool("xmllint")) {
        EXPECT_EQ(xml_errors(path("all.svg")), "");
    }
    if (has_tool("rsvg-convert") && has_tool("pngtopnm")) {
        EXPECT_GT(dark_pixels(path("all.svg")), 100);
    }
}

TEST_F(SvgTwin, EveryPlotOfARunHasAnEquivalentSvg) {
    for (const char* name : {"b", "eis"}) {
        fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / (std::string(name) + ".cci"),
                      path(std::string(name) + ".cci"));
        const testutil::RunResult r = testutil::run_program(dir_.path(), name);
        ASSERT_EQ(r.status, 0) << r.output;
    }
    const bool lint = has_tool("xmllint");
    const bool render = has_tool("rsvg-convert") && has_tool("pngtopnm");
    int pages = 0;
    std::set<std::string> rendered;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
        if (entry.path().extension() != ".ps") continue;
        ++pages;
        const fs::path svg = fs::path(svg_file_name(entry.path().string()));
        ASSERT_TRUE(fs::exists(svg)) << svg;
        const std::string ps_text = testutil::read_file(entry.path());
        const std::string svg_text = testutil::read_file(svg);
        const std::vector<std::string> labels = ps_texts(ps_text);
        EXPECT_GE(labels.size(), 4u) << entry.path();  // two titles and some ticks at least
        EXPECT_EQ(svg_texts(svg_text), labels) << svg;
        const std::vector<int> paths = ps_path_sizes(ps_text);
        EXPECT_GE(paths.size(), 2u) << entry.path();  // a frame and a curve at least
        EXPECT_EQ(svg_path_sizes(svg_text), paths) << svg;
        EXPECT_EQ(between(svg_text, "<circle ", "/>").size(),
                  between(ps_text, "(\\154) ", " zp\n").size())
            << svg;
        if (lint) {
            EXPECT_EQ(xml_errors(svg), "") << svg;
        }
        // Rendering takes a tenth of a second a page; one page of each kind is enough.
        if (render && rendered.insert(svg.filename().string()).second) {
            EXPECT_GT(dark_pixels(svg), 1000) << svg;
        }
    }
    // b: curve, tcurve and two plots for each of five points; eis: three plots for each
    // of two points plus the two of its spectrum runs.
    EXPECT_EQ(pages, 2 + 5 * 2 + 2 * 5);
    EXPECT_EQ(rendered.size(), render ? 5u : 0u);
    if (!lint || !render) GTEST_SKIP() << "xmllint, rsvg-convert or pngtopnm missing";
}

TEST_F(SvgTwin, UnopenableTwinLeavesNeitherFile) {
    const std::string svg = path("x.svg").string();
    fs::create_directory(temporary_name(svg));  // where the twin would be written
    ::testing::internal::CaptureStdout();
    try {
        PSpage page(path("x.ps").string());
        FAIL() << "no exception";
    } catch (const PlotError& e) {
        EXPECT_NE(std::string(e.what()).find("x.svg"), std::string::npos) << e.what();
        ASSERT_EQ(e.files.size(), 2u);  // both forms or neither
        EXPECT_EQ(e.files[1].reason, "Is a directory");
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "ERROR: failure opening output file for plot\n"
              "     in file psplot at line 15\n     " +
                  svg + ": Is a directory\n");
    EXPECT_FALSE(fs::exists(path("x.ps")));
    EXPECT_FALSE(fs::exists(temporary_name(path("x.ps").string())));
}

// A rewrite that fails leaves the earlier complete file, and no temporary; the twin that
// could be written stands.
TEST_F(SvgTwin, TwinThatCannotBeWrittenIsReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string svg = path("full.svg").string();
    { PSpage page(path("full.ps").string()); }
    const std::string earlier = testutil::read_file(svg);
    ASSERT_EQ(earlier.substr(earlier.size() - 7), "</svg>\n");
    const std::string message = "ERROR: failure writing output file for plot " + svg + "\n     " +
                                svg + ": No space left on device\n";
    fs::create_symlink("/dev/full", temporary_name(svg));  // every write fails
    {
        PSpage page(path("full.ps").string());
        page.line_segment(0, 0, 1, 1);
        ::testing::internal::CaptureStdout();
        try {
            page.close();
            ADD_FAILURE() << "no exception";
        } catch (const PlotError& e) {
            ASSERT_EQ(e.files.size(), 1u);
            EXPECT_EQ(e.files[0].name, svg);
        }
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), message);
        EXPECT_FALSE(page.is_open());
    }
    EXPECT_EQ(testutil::read_file(svg), earlier);
    EXPECT_FALSE(fs::exists(fs::symlink_status(temporary_name(svg))));
    const std::string ps = testutil::read_file(path("full.ps"));
    EXPECT_NE(ps.find("lt st\nshowpage\n"), std::string::npos);  // the new page, complete
    // A page closed by its destructor (as when unwinding) reports without throwing.
    fs::create_symlink("/dev/full", temporary_name(svg));
    ::testing::internal::CaptureStdout();
    { PSpage page(path("full.ps").string()); }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), message);
}
