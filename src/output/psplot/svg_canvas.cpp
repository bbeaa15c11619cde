#include "output/psplot/svg_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "base/number_text.h"

namespace {

// Attributes set once on the root element; an element repeats only what differs.
constexpr const char* kRootFamily = "serif";
constexpr double kRootFontSize = 12;
constexpr double kRootLineWidth = 0.5;

// The filled circle of ZapfDingbats (character 108) has a diameter of 0.722 of the font
// size.
constexpr int kCircleCode = 108;
constexpr double kCircleRadius = 0.361;

// A page coordinate to a hundredth of a point, far below what a printer or screen shows.
// Values far off the page keep six significant digits instead.
std::string coordinate(double v) {
    if (!(std::fabs(v) < 1e9)) return number_text(v);
    std::string s = fixed_text(v, 2);
    if (s.find('.') != std::string::npos) {
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.') s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

// A width or size: four significant digits, so hairlines keep their width.
std::string length(double v) { return number_text(v, 4); }

// Appends code point `u` in UTF-8.
void append_utf8(std::string& out, unsigned u) {
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence starting at text[i], 0 when there is none.
std::size_t utf8_length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    std::size_t n = 0;
    unsigned min = 0, u = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, min = 0x80, u = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, min = 0x800, u = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, min = 0x10000, u = lead & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        u = (u << 6) | (byte(i + k) & 0x3F);
    }
    const bool surrogate = u >= 0xD800 && u <= 0xDFFF;
    return u >= min && u <= 0x10FFFF && !surrogate ? n : 0;
}

// Text as XML character data: markup characters as entities, control characters (which
// XML does not allow) left out, and bytes that are not UTF-8 shown as U+FFFD.
std::string escape_xml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '&':
                out += "&amp;";
                continue;
            case '<':
                out += "&lt;";
                continue;
            case '>':
                out += "&gt;";
                continue;
            case '"':
                out += "&quot;";
                continue;
            case '\'':
                out += "&apos;";
                continue;
            default:
                break;
        }
        if (c < 0x20 || c == 0x7F) continue;
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        const std::size_t n = utf8_length(text, i);
        if (n == 0) {
            append_utf8(out, 0xFFFD);
        } else {
            out.append(text, i, n);
            i += n - 1;
        }
    }
    return out;
}

// The Unicode character of a ZapfDingbats code, 0 for codes without a glyph. Most of the
// set lies in the Dingbats block in code order; the exceptions were encoded elsewhere.
unsigned dingbat_unicode(int code) {
    // {code, character} of the exceptions
    static constexpr unsigned kMoved[][2] = {
        {0x25, 0x260E}, {0x2A, 0x261B}, {0x2B, 0x261E}, {0x48, 0x2605}, {0x6C, 0x25CF},
        {0x6E, 0x25A0}, {0x73, 0x25B2}, {0x74, 0x25BC}, {0x75, 0x25C6}, {0x77, 0x25D7},
        {0xA8, 0x2663}, {0xA9, 0x2666}, {0xAA, 0x2665}, {0xAB, 0x2660}, {0xD5, 0x2192},
        {0xD6, 0x2194}, {0xD7, 0x2195}};
    for (const auto& moved : kMoved)
        if (moved[0] == static_cast<unsigned>(code)) return moved[1];
    if (code >= 0x21 && code <= 0x7E) return 0x2700 + (code - 0x20);
    if (code >= 0xA1 && code <= 0xA7) return 0x2761 + (code - 0xA1);
    if (code >= 0xAC && code <= 0xB5) return 0x2460 + (code - 0xAC);  // circled digits
    if (code >= 0xB6 && code <= 0xD4) return 0x2776 + (code - 0xB6);
    if (code >= 0xD8 && code <= 0xEF) return 0x2798 + (code - 0xD8);
    if (code >= 0xF1 && code <= 0xFE) return 0x27B1 + (code - 0xF1);
    return 0;
}

int component(double level) {
    return static_cast<int>(std::lround(255 * std::clamp(level, 0.0, 1.0)));
}

}  // namespace

SvgCanvas::SvgCanvas(PlotFile file, double width, double height)
    : file_(std::move(file)), height_(height) {
    states_.push_back(State{0, 0, 0, kRootLineWidth, kRootFamily, false, false, kRootFontSize, 0});
    const std::string w = length(width), h = length(height);
    file_.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    // PostScript's default miter limit is 10, SVG's 4; spaces in labels count as in
    // PostScript, so they are kept.
    file_.write("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + w +
                "pt\" height=\"" + h + "pt\" viewBox=\"0 0 " + w + " " + h +
                "\" xml:space=\"preserve\" font-family=\"" + kRootFamily + "\" font-size=\"" +
                length(kRootFontSize) + "\" stroke-width=\"" + length(kRootLineWidth) +
                "\" stroke-miterlimit=\"10\">\n");
    file_.write("<rect width=\"" + w + "\" height=\"" + h + "\" fill=\"#fff\"/>\n");
}

void SvgCanvas::set_font(const std::string& name, double size) {
    flush_segments();
    State& s = states_.back();
    // The standard PostScript families by their generic SVG counterparts; any other font
    // falls back to serif, like the Times-Roman a page starts with.
    if (name.starts_with("Helvetica") || name.starts_with("Arial"))
        s.family = "sans-serif";
    else if (name.starts_with("Courier"))
        s.family = "monospace";
    else
        s.family = "serif";
    s.bold = name.find("Bold") != std::string::npos;
    s.italic =
        name.find("Italic") != std::string::npos || name.find("Oblique") != std::string::npos;
    s.font_size = size;
}

void SvgCanvas::set_line_width(double width) {
    flush_segments();
    states_.back().line_width = width;
}

void SvgCanvas::save_state() {
    flush_segments();
    states_.push_back(states_.back());
    states_.back().clip_groups = 0;
}

void SvgCanvas::restore_state() {
    flush_segments();
    // Without a saved state there is nothing to return to; the page's first state stays.
    if (states_.size() < 2) return;
    for (int g = 0; g < states_.back().clip_groups; ++g) file_.write("</g>\n");
    states_.pop_back();
}

void SvgCanvas::set_gray(double level) {
    flush_segments();
    const int c = component(level);
    states_.back().red = states_.back().green = states_.back().blue = c;
}

void SvgCanvas::set_rgb(int red, int green, int blue) {
    flush_segments();
    State& s = states_.back();
    s.red = std::clamp(red, 0, 255);
    s.green = std::clamp(green, 0, 255);
    s.blue = std::clamp(blue, 0, 255);
}

void SvgCanvas::put_text(const std::string& text, double x, double y, double angle,
                         TextAlign align) {
    flush_segments();
    const State& s = states_.back();
    std::string e = "<text x=\"" + coordinate(x) + "\" y=\"" + coordinate(height_ - y) + "\"";
    // Counterclockwise on the page is clockwise-negative once y points down.
    if (angle != 0)
        e += " transform=\"rotate(" + length(-angle) + " " + coordinate(x) + " " +
             coordinate(height_ - y) + ")\"";
    e += align == TextAlign::centre ? " text-anchor=\"middle\"" : " text-anchor=\"end\"";
    if (s.family != kRootFamily) e += " font-family=\"" + s.family + "\"";
    if (s.font_size != kRootFontSize) e += " font-size=\"" + length(s.font_size) + "\"";
    if (s.bold) e += " font-weight=\"bold\"";
    if (s.italic) e += " font-style=\"italic\"";
    if (colour() != "#000") e += " fill=\"" + colour() + "\"";
    file_.write(e + ">" + escape_xml(text) + "</text>\n");
}

void SvgCanvas::point_symbol(double x, double y, int code, double size) {
    flush_segments();
    const std::string fill = colour() == "#000" ? "" : " fill=\"" + colour() + "\"";
    if (code == kCircleCode) {
        file_.write("<circle cx=\"" + coordinate(x) + "\" cy=\"" + coordinate(height_ - y) +
                    "\" r=\"" + length(kCircleRadius * size) + "\"" + fill + "/>\n");
        return;
    }
    const unsigned u = dingbat_unicode(code);
    if (u == 0) return;
    // Other characters sit where PostScript puts their origin, which centres the circle.
    std::string glyph;
    append_utf8(glyph, u);
    file_.write("<text x=\"" + coordinate(x - 0.394 * size) + "\" y=\"" +
                coordinate(height_ - (y - 0.343 * size)) + "\" font-size=\"" + length(size) + "\"" +
                fill + ">" + glyph + "</text>\n");
}

void SvgCanvas::line_segment(double x0, double y0, double x1, double y1) {
    segments_ += "M" + point(x0, y0) + " " + point(x1, y1);
}

void SvgCanvas::path(const double* xs, const double* ys, int n, PathPaint paint) {
    flush_segments();
    std::string points;
    for (int i = 0; i < n; ++i) {
        if (i > 0) points += ' ';
        points += point(xs[i], ys[i]);
    }
    switch (paint) {
        case PathPaint::stroke:
            file_.write("<polyline points=\"" + points + "\"" + stroke_attributes() + "/>\n");
            break;
        case PathPaint::closed_stroke:
            file_.write("<polygon points=\"" + points + "\"" + stroke_attributes() + "/>\n");
            break;
        case PathPaint::fill:
            file_.write("<polygon points=\"" + points + "\"" +
                        (colour() == "#000" ? "" : " fill=\"" + colour() + "\"") + "/>\n");
            break;
        case PathPaint::clip: {
            // The new clip lies inside the groups of the earlier ones, so it narrows them.
            const std::string id = "clip" + std::to_string(++clip_count_);
            file_.write("<clipPath id=\"" + id + "\"><polygon points=\"" + points +
                        "\"/></clipPath>\n<g clip-path=\"url(#" + id + ")\">\n");
            ++states_.back().clip_groups;
            break;
        }
    }
}

bool SvgCanvas::finish() {
    flush_segments();
    for (const State& s : states_)
        for (int g = 0; g < s.clip_groups; ++g) file_.write("</g>\n");
    states_.resize(1);
    states_.back().clip_groups = 0;
    file_.write("</svg>\n");
    return file_.close();
}

void SvgCanvas::flush_segments() {
    if (segments_.empty()) return;
    file_.write("<path d=\"" + segments_ + "\"" + stroke_attributes() + "/>\n");
    segments_.clear();
}

std::string SvgCanvas::colour() const {
    const State& s = states_.back();
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", s.red, s.green, s.blue);
    // #rrggbb with doubled digits has the short form #rgb.
    if (buffer[1] == buffer[2] && buffer[3] == buffer[4] && buffer[5] == buffer[6])
        return {'#', buffer[1], buffer[3], buffer[5]};
    return buffer;
}

std::string SvgCanvas::stroke_attributes() const {
    std::string a = " fill=\"none\" stroke=\"" + colour() + "\"";
    if (states_.back().line_width != kRootLineWidth)
        a += " stroke-width=\"" + length(states_.back().line_width) + "\"";
    return a;
}

std::string SvgCanvas::point(double x, double y) const {
    return coordinate(x) + "," + coordinate(height_ - y);
}
