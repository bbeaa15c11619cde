#include "output/figures/figure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

#include "base/number_text.h"

namespace figures {

namespace {

constexpr double kPointsPerMm = 72 / 25.4;
constexpr double kMargin = 8;     // [pt] around everything
constexpr double kTickLength = 4;
constexpr double kDotRadius = 2.6;
constexpr double kSwatch = 20;    // [pt] length of a legend swatch

// Colours that read on a white and on a dark background alike.
constexpr const char* kPalette[] = {"#0072B2", "#D55E00", "#009E73", "#CC79A7",
                                    "#E69F00", "#56B4E9", "#A0522D", "#999933"};
constexpr const char* kGrey = "#8c8c8c";

const char* colour(int index) {
    if (index < 0) return kGrey;
    return kPalette[index % static_cast<int>(std::size(kPalette))];
}

std::string num(double v) { return fixed_text(v, 2); }

std::string escaped(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch == '&')
            out += "&amp;";
        else if (ch == '<')
            out += "&lt;";
        else if (ch == '>')
            out += "&gt;";
        else if (ch == '"')
            out += "&quot;";
        else
            out += ch;
    }
    return out;
}

// "-" as the typographic minus.
std::string with_minus(std::string text) {
    std::string out;
    for (char ch : text) {
        if (ch == '-')
            out += "\u2212";
        else
            out += ch;
    }
    return out;
}

// "1.5e-05" as "1.5e-5", "2e+03" as "2e3".
std::string compact_exponent(const std::string& text) {
    const std::size_t e = text.find('e');
    if (e == std::string::npos) return text;
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);
    std::string sign;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        if (exponent[0] == '-') sign = "-";
        exponent.erase(0, 1);
    }
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    return mantissa + "e" + sign + exponent;
}

std::string printed(const char* format, int precision, double v) {
    char text[48];
    std::snprintf(text, sizeof text, format, precision, v);
    return text;
}

double width_of(const std::string& text, double size) { return text_length(text) * kCharWidth * size; }

// The smallest of 1, 2, 5 times a power of ten that is at least `v` > 0.
double nice_step(double v) {
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * decade >= v * (1 - 1e-12)) return m * decade;
    return 10 * decade;
}

struct Box {
    double x0, y0, x1, y1;
    bool overlaps(const Box& o) const {
        return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1;
    }
};

// A text's box as the tests estimate it: the font size high, from 0.8 of it above the
// baseline.
Box text_box(const std::string& text, double x, double y, double size, const char* anchor) {
    const double w = width_of(text, size);
    double x0 = x;
    if (std::string(anchor) == "middle") x0 = x - w / 2;
    if (std::string(anchor) == "end") x0 = x - w;
    return {x0, y - 0.8 * size, x0 + w, y + 0.2 * size};
}

struct Range {
    double lo = 0, hi = 1;
};

double to_axis(double v, Scale scale) { return scale == Scale::log ? std::log10(v) : v; }

bool usable(double v, Scale scale) {
    return std::isfinite(v) && (scale == Scale::linear || v > 0);
}

// The range of an axis over `values`, in axis units (log10 for a log axis), padded.
Range axis_range(const Axis& axis, const std::vector<double>& values) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (double v : values)
        if (usable(v, axis.scale)) {
            lo = std::min(lo, to_axis(v, axis.scale));
            hi = std::max(hi, to_axis(v, axis.scale));
        }
    if (lo > hi) {
        lo = 0;
        hi = 1;
    }
    const double minSpan = axis.scale == Scale::log
                               ? 0.3  // decades
                               : std::max(axis.minSpan, 1e-3 * std::max(std::fabs(lo), std::fabs(hi)));
    if (hi - lo < minSpan) {
        const double mid = (lo + hi) / 2;
        const double half = minSpan > 0 ? minSpan / 2 : 0.5;
        lo = mid - half;
        hi = mid + half;
    }
    const double pad = 0.04 * (hi - lo);
    Range r{lo - pad, hi + pad};
    if (axis.from && usable(*axis.from, axis.scale)) r.lo = to_axis(*axis.from, axis.scale);
    if (axis.to && usable(*axis.to, axis.scale)) r.hi = to_axis(*axis.to, axis.scale);
    if (!(r.hi > r.lo)) r.hi = r.lo + 1;
    return r;
}

// Ticks of a log axis whose positions (log10) are `logs`, if their labels fit.
bool labels_fit(const std::vector<std::string>& labels, double spacing, bool horizontal) {
    if (labels.size() < 2) return !labels.empty();
    if (!horizontal) return spacing >= 1.6 * kTickSize;
    double widest = 0;
    for (const std::string& l : labels) widest = std::max(widest, width_of(l, kTickSize));
    return spacing >= widest + 0.8 * kTickSize;
}

struct PanelLayout {
    Range x, y;
    Ticks xt, yt;
    double left = 0, right = 0, top = 0, bottom = 0;  // plot box [pt], y down
    double px(double v, Scale s) const { return left + (to_axis(v, s) - x.lo) / (x.hi - x.lo) * (right - left); }
    double py(double v, Scale s) const { return bottom - (to_axis(v, s) - y.lo) / (y.hi - y.lo) * (bottom - top); }
};

struct LegendEntry {
    std::string label;
    int colour;
    bool line, points, dashed;
};

class Writer {
  public:
    explicit Writer(const Figure& f) : figure_(f) {
        width_ = f.widthMm * kPointsPerMm;
        height_ = f.heightMm * kPointsPerMm;
    }

    std::string render();

  private:
    void text(const std::string& t, double x, double y, double size, const char* anchor,
              const char* role, bool rotated = false);
    bool free(const Box& b) const;
    void draw_panel(const Panel& p, const PanelLayout& l);
    void draw_series(const Series& s, const Panel& p, const PanelLayout& l);
    void draw_notes(const Panel& p, const PanelLayout& l);
    double legend_column() const;
    int legend_columns() const;
    double legend_height() const;
    void draw_legend(double top);

    const Figure& figure_;
    double width_, height_;
    std::string body_;
    std::vector<Box> boxes_;
    std::vector<LegendEntry> legend_;
};

// `role` names the text's part of the figure as a class (fig-title, fig-tick, fig-label,
// fig-legend, fig-note), for whoever reads the document.
void Writer::text(const std::string& t, double x, double y, double size, const char* anchor,
                  const char* role, bool rotated) {
    const std::string shown = t;
    body_ += std::string("<text class=\"fig-fg ") + role + "\" x=\"" + num(x) + "\" y=\"" + num(y) + "\" font-size=\"" +
             num(size) + "\"";
    if (std::string(anchor) != "start") body_ += std::string(" text-anchor=\"") + anchor + "\"";
    if (rotated) body_ += " transform=\"rotate(-90 " + num(x) + " " + num(y) + ")\"";
    body_ += ">" + escaped(shown) + "</text>\n";
    if (rotated) {
        // the box turned by a quarter: along y, centred on (x, y) for a middle anchor
        const double w = width_of(t, size);
        boxes_.push_back({x - 0.8 * size, y - w / 2, x + 0.2 * size, y + w / 2});
    } else {
        boxes_.push_back(text_box(t, x, y, size, anchor));
    }
}

bool Writer::free(const Box& b) const {
    return std::none_of(boxes_.begin(), boxes_.end(), [&](const Box& o) { return o.overlaps(b); });
}

// The legend is a grid: every column as wide as the widest entry.
double Writer::legend_column() const {
    double widest = 0;
    for (const LegendEntry& e : legend_)
        widest = std::max(widest, kSwatch + 5 + width_of(e.label, kLegendSize) + 14);
    return widest;
}

int Writer::legend_columns() const {
    const double column = legend_column();
    return std::max(1, static_cast<int>((width_ - 2 * kMargin) / column));
}

double Writer::legend_height() const {
    if (legend_.empty()) return 0;
    const int columns = legend_columns();
    const int rows = (static_cast<int>(legend_.size()) + columns - 1) / columns;
    return rows * 1.7 * kLegendSize + 4;
}

void Writer::draw_legend(double top) {
    const double column = legend_column();
    const int columns = legend_columns();
    for (std::size_t i = 0; i < legend_.size(); ++i) {
        const LegendEntry& e = legend_[i];
        const double x = kMargin + column * static_cast<double>(static_cast<int>(i) % columns);
        const double y = top + kLegendSize + 1.7 * kLegendSize * static_cast<double>(static_cast<int>(i) / columns);
        const double mid = y - 0.3 * kLegendSize;
        if (e.line)
            body_ += "<line x1=\"" + num(x) + "\" y1=\"" + num(mid) + "\" x2=\"" + num(x + kSwatch) +
                     "\" y2=\"" + num(mid) + "\" stroke=\"" + colour(e.colour) +
                     "\" stroke-width=\"1.6\"" + (e.dashed ? " stroke-dasharray=\"4 3\"" : "") +
                     "/>\n";
        if (e.points)
            body_ += "<circle cx=\"" + num(x + kSwatch / 2) + "\" cy=\"" + num(mid) + "\" r=\"" +
                     num(kDotRadius) + "\" fill=\"" + colour(e.colour) + "\"/>\n";
        text(e.label, x + kSwatch + 5, y, kLegendSize, "start", "fig-legend");
    }
}

void Writer::draw_series(const Series& s, const Panel& p, const PanelLayout& l) {
    const std::size_t n = std::min(s.x.size(), s.y.size());
    const std::string c = colour(s.colour);
    if (s.line) {
        std::string pts;
        int count = 0;
        auto flush = [&] {
            if (count >= 2)
                body_ += "<polyline class=\"fig-curve\" fill=\"none\" stroke=\"" + c +
                         "\" stroke-width=\"1.4\" stroke-linejoin=\"round\"" +
                         (s.dashed ? " stroke-dasharray=\"5 3\"" : "") + " points=\"" + pts +
                         "\"/>\n";
            pts.clear();
            count = 0;
        };
        for (std::size_t i = 0; i < n; ++i) {
            if (!usable(s.x[i], p.x.scale) || !usable(s.y[i], p.y.scale)) {
                flush();
                continue;
            }
            if (count > 0) pts += ' ';
            pts += num(l.px(s.x[i], p.x.scale)) + "," + num(l.py(s.y[i], p.y.scale));
            ++count;
        }
        flush();
    }
    if (s.points)
        for (std::size_t i = 0; i < n; ++i)
            if (usable(s.x[i], p.x.scale) && usable(s.y[i], p.y.scale))
                body_ += "<circle class=\"fig-curve\" cx=\"" + num(l.px(s.x[i], p.x.scale)) + "\" cy=\"" +
                         num(l.py(s.y[i], p.y.scale)) + "\" r=\"" + num(kDotRadius) +
                         "\" fill=\"" + c + "\"/>\n";
}

void Writer::draw_notes(const Panel& p, const PanelLayout& l) {
    for (const Note& note : p.notes) {
        if (!usable(note.x, p.x.scale) || !usable(note.y, p.y.scale)) continue;
        const double x = l.px(note.x, p.x.scale), y = l.py(note.y, p.y.scale);
        const double w = width_of(note.text, kNoteSize);
        // right above, left above, right below, left below the point
        const double offsets[4][2] = {{4, -4}, {-4 - w, -4}, {4, 4 + 0.8 * kNoteSize},
                                      {-4 - w, 4 + 0.8 * kNoteSize}};
        for (const auto& o : offsets) {
            const Box b = text_box(note.text, x + o[0], y + o[1], kNoteSize, "start");
            if (b.x0 < l.left + 1 || b.x1 > l.right - 1 || b.y0 < l.top + 1 ||
                b.y1 > l.bottom - 1 || !free(b))
                continue;
            body_ += "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) +
                     "\" r=\"1.8\" class=\"fig-fg\"/>\n";
            text(note.text, x + o[0], y + o[1], kNoteSize, "start", "fig-note");
            break;
        }
    }
}

void Writer::draw_panel(const Panel& p, const PanelLayout& l) {
    const double w = l.right - l.left, h = l.bottom - l.top;
    // grid
    std::string grid;
    for (double v : l.xt.values) {
        const double x = l.px(v, p.x.scale);
        grid += "M" + num(x) + " " + num(l.top) + "V" + num(l.bottom);
    }
    for (double v : l.yt.values) {
        const double y = l.py(v, p.y.scale);
        grid += "M" + num(l.left) + " " + num(y) + "H" + num(l.right);
    }
    if (!grid.empty())
        body_ += "<path class=\"fig-grid\" stroke-width=\"0.6\" fill=\"none\" d=\"" + grid + "\"/>\n";
    // marks
    for (const VerticalMark& m : p.marks) {
        if (!usable(m.x, p.x.scale)) continue;
        const double x = l.px(m.x, p.x.scale);
        if (x < l.left || x > l.right) continue;
        body_ += "<line x1=\"" + num(x) + "\" y1=\"" + num(l.top) + "\" x2=\"" + num(x) +
                 "\" y2=\"" + num(l.bottom) + "\" stroke=\"" + colour(m.colour) +
                 "\" stroke-width=\"1.1\"" + (m.dashed ? " stroke-dasharray=\"4 3\"" : "") + "/>\n";
    }
    for (const Series& s : p.series) draw_series(s, p, l);
    // frame and ticks
    body_ += "<rect class=\"fig-axis\" fill=\"none\" stroke-width=\"0.9\" x=\"" + num(l.left) +
             "\" y=\"" + num(l.top) + "\" width=\"" + num(w) + "\" height=\"" + num(h) + "\"/>\n";
    std::string ticks;
    for (std::size_t i = 0; i < l.xt.values.size(); ++i) {
        const double x = l.px(l.xt.values[i], p.x.scale);
        ticks += "M" + num(x) + " " + num(l.bottom) + "v" + num(kTickLength);
        text(l.xt.labels[i], x, l.bottom + kTickLength + 2 + 0.8 * kTickSize, kTickSize, "middle", "fig-tick");
    }
    for (std::size_t i = 0; i < l.yt.values.size(); ++i) {
        const double y = l.py(l.yt.values[i], p.y.scale);
        ticks += "M" + num(l.left) + " " + num(y) + "h" + num(-kTickLength);
        text(l.yt.labels[i], l.left - kTickLength - 2, y + 0.3 * kTickSize, kTickSize, "end", "fig-tick");
    }
    if (!ticks.empty())
        body_ += "<path class=\"fig-axis\" stroke-width=\"0.9\" fill=\"none\" d=\"" + ticks + "\"/>\n";
    text(p.x.label, l.left + w / 2, l.bottom + kTickLength + 2 + kTickSize + 4 + 0.8 * kLabelSize,
         kLabelSize, "middle", "fig-label");
    text(p.y.label, kMargin + 0.8 * kLabelSize, l.top + h / 2, kLabelSize, "middle", "fig-label",
         true);
}

std::string Writer::render() {
    for (const Panel& p : figure_.panels) {
        for (const Series& s : p.series)
            if (!s.label.empty() &&
                std::none_of(legend_.begin(), legend_.end(),
                             [&](const LegendEntry& e) { return e.label == s.label; }))
                legend_.push_back({s.label, s.colour, s.line, s.points, s.dashed});
        for (const VerticalMark& m : p.marks)
            if (!m.label.empty() &&
                std::none_of(legend_.begin(), legend_.end(),
                             [&](const LegendEntry& e) { return e.label == m.label; }))
                legend_.push_back({m.label, m.colour, true, false, m.dashed});
    }
    const double titleBottom = figure_.title.empty() ? kMargin : kMargin + kTitleSize + 6;
    const double legendH = legend_height();
    const double legendTop = height_ - kMargin - legendH;
    const double bottomText = kTickLength + 2 + kTickSize + 4 + kLabelSize + 6;
    const std::size_t n = figure_.panels.size();
    const double slot = n == 0 ? 0 : (legendTop - titleBottom) / static_cast<double>(n);

    std::vector<PanelLayout> layouts(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Panel& p = figure_.panels[i];
        std::vector<double> xs, ys;
        for (const Series& s : p.series) {
            const std::size_t m = std::min(s.x.size(), s.y.size());
            for (std::size_t k = 0; k < m; ++k)
                if (usable(s.x[k], p.x.scale) && usable(s.y[k], p.y.scale)) {
                    xs.push_back(s.x[k]);
                    ys.push_back(s.y[k]);
                }
        }
        for (const VerticalMark& m : p.marks) xs.push_back(m.x);
        layouts[i].x = axis_range(p.x, xs);
        layouts[i].y = axis_range(p.y, ys);
        layouts[i].top = titleBottom + static_cast<double>(i) * slot + 0.6 * kTickSize + 2;
        layouts[i].bottom = titleBottom + static_cast<double>(i + 1) * slot - bottomText;
    }
    // The left edge from the widest y tick label, the right one from the half of the
    // last x tick label; the plots of all panels share both edges. Repeated because equal
    // scales and tick counts depend on the box.
    double left = kMargin + kLabelSize + 40, right = width_ - kMargin - 12;
    for (int pass = 0; pass < 4; ++pass) {
        double newLeft = 0, newRight = width_ - kMargin;
        for (std::size_t i = 0; i < n; ++i) {
            const Panel& p = figure_.panels[i];
            PanelLayout& l = layouts[i];
            l.left = left;
            l.right = right;
            if (p.equalScale) {
                // equal units per point: the range that is too short for its side grows
                const double ux = (l.x.hi - l.x.lo) / (l.right - l.left);
                const double uy = (l.y.hi - l.y.lo) / (l.bottom - l.top);
                if (ux > uy)
                    l.y.hi = l.y.lo + ux * (l.bottom - l.top);
                else
                    l.x.hi = l.x.lo + uy * (l.right - l.left);
            }
            l.yt = choose_ticks(l.y.lo, l.y.hi, p.y.scale, l.bottom - l.top, false);
            l.xt = choose_ticks(l.x.lo, l.x.hi, p.x.scale, l.right - l.left, true);
            double widest = 0;
            for (const std::string& s : l.yt.labels) widest = std::max(widest, width_of(s, kTickSize));
            newLeft = std::max(newLeft, kMargin + kLabelSize + 6 + widest + kTickLength + 4);
            if (!l.xt.labels.empty())
                newRight = std::min(newRight,
                                    width_ - kMargin - width_of(l.xt.labels.back(), kTickSize) / 2);
        }
        newRight = std::min(newRight, width_ - kMargin - 12);
        if (std::fabs(newLeft - left) < 0.5 && std::fabs(newRight - right) < 0.5) break;
        left = newLeft;
        right = newRight;
    }

    if (!figure_.title.empty()) text(figure_.title, width_ / 2, kMargin + 0.8 * kTitleSize, kTitleSize, "middle", "fig-title");
    for (std::size_t i = 0; i < n; ++i) draw_panel(figure_.panels[i], layouts[i]);
    draw_legend(legendTop + 2);
    for (std::size_t i = 0; i < n; ++i) draw_notes(figure_.panels[i], layouts[i]);

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(figure_.widthMm) +
           "mm\" height=\"" + num(figure_.heightMm) + "mm\" viewBox=\"0 0 " + num(width_) + " " +
           num(height_) + "\" font-family=\"sans-serif\">\n";
    svg +=
        "<style>.fig-bg{fill:#fff}.fig-fg{fill:#1a1a1a}.fig-axis{stroke:#1a1a1a}"
        ".fig-grid{stroke:#e4e4e4}@media (prefers-color-scheme:dark){.fig-bg{fill:#1d1f21}"
        ".fig-fg{fill:#e6e6e6}.fig-axis{stroke:#e6e6e6}.fig-grid{stroke:#3b3e42}}</style>\n";
    svg += "<rect class=\"fig-bg\" x=\"0\" y=\"0\" width=\"" + num(width_) + "\" height=\"" +
           num(height_) + "\"/>\n";
    svg += body_;
    svg += "</svg>\n";
    return svg;
}

}  // namespace

int text_length(const std::string& text) {
    int n = 0;
    for (unsigned char ch : text)
        if ((ch & 0xC0) != 0x80) ++n;
    return n;
}

std::vector<std::string> tick_labels(const std::vector<double>& ticks, double step, Scale scale) {
    std::vector<std::string> labels;
    if (scale == Scale::log) {
        for (double v : ticks) {
            const double k = std::floor(std::log10(v) + 1e-9);
            std::string t;
            if (k < -3 || k > 4)
                t = compact_exponent(printed("%.*e", 0, v));
            else
                t = printed("%.*f", k < 0 ? static_cast<int>(-k) : 0, v);
            labels.push_back(with_minus(t));
        }
        return labels;
    }
    double largest = 0;
    for (double v : ticks) largest = std::max(largest, std::fabs(v));
    const bool scientific = largest >= 1e5 || (largest > 0 && largest < 1e-3);
    const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
    for (double v : ticks) {
        if (std::fabs(v) < step * 1e-9) v = 0;
        std::string t;
        if (scientific) {
            const int digits =
                v == 0 ? 0
                       : std::max(0, static_cast<int>(std::floor(std::log10(std::fabs(v)) + 1e-9)) -
                                         static_cast<int>(std::floor(std::log10(step) + 1e-9)));
            t = v == 0 ? "0" : compact_exponent(printed("%.*e", std::min(digits, 12), v));
        } else {
            t = printed("%.*f", std::min(decimals, 12), v);
        }
        labels.push_back(with_minus(t));
    }
    return labels;
}

Ticks choose_ticks(double lo, double hi, Scale scale, double length, bool horizontal) {
    Ticks best;
    if (!(hi > lo) || !(length > 0)) return best;
    if (scale == Scale::log) {
        // decades, every one or every few
        const int first = static_cast<int>(std::ceil(lo - 1e-9));
        const int last = static_cast<int>(std::floor(hi + 1e-9));
        if (last - first >= 1) {
            for (int every : {1, 2, 3, 5, 10, 20, 50}) {
                Ticks t;
                for (int k = first; k <= last; ++k)
                    if (k % every == 0) t.values.push_back(std::pow(10.0, k));
                t.labels = tick_labels(t.values, 1, scale);
                const double spacing = every * length / (hi - lo);
                if (t.values.size() >= 2 && labels_fit(t.labels, spacing, horizontal)) return t;
                if (t.values.size() == 1 && best.values.empty()) best = t;
            }
            return best;
        }
        // less than a decade: 1, 2 and 5 times powers of ten when they fit
        Ticks t;
        for (int k = first - 1; k <= last + 1; ++k)
            for (double m : {1.0, 2.0, 5.0}) {
                const double v = m * std::pow(10.0, k);
                if (std::log10(v) >= lo - 1e-9 && std::log10(v) <= hi + 1e-9) t.values.push_back(v);
            }
        t.labels = tick_labels(t.values, 1, scale);
        double closest = length;
        for (std::size_t i = 1; i < t.values.size(); ++i)
            closest = std::min(closest, (std::log10(t.values[i]) - std::log10(t.values[i - 1])) *
                                            length / (hi - lo));
        if (!t.values.empty() && labels_fit(t.labels, closest, horizontal)) return t;
        return best;
    }
    for (int n = 12; n >= 2; --n) {
        const double step = nice_step((hi - lo) / n);
        Ticks t;
        const long long k0 = static_cast<long long>(std::ceil(lo / step - 1e-9));
        const long long k1 = static_cast<long long>(std::floor(hi / step + 1e-9));
        for (long long k = k0; k <= k1 && k - k0 < 100; ++k) t.values.push_back(static_cast<double>(k) * step);
        t.labels = tick_labels(t.values, step, scale);
        if (t.values.size() >= 2 && labels_fit(t.labels, step * length / (hi - lo), horizontal))
            return t;
        if (t.values.size() == 1 && best.values.empty()) best = t;
    }
    return best;
}

std::string render_svg(const Figure& figure) { return Writer(figure).render(); }

}  // namespace figures
