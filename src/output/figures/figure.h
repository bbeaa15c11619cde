// Publication figures as SVG documents, drawn from plain data: panels of curves and point
// sets on linear or logarithmic axes, each axis labelled with its quantity and unit, and a
// legend below the panels. Knows nothing of the simulation: callers hand over vectors and
// labels.
//
// Layout in points (1/72 in): the figure is widthMm x heightMm; tick labels, axis labels,
// title and legend are sans-serif text whose width is taken as kCharWidth x font size per
// character, so that the tick count can be chosen for labels that never touch. Notes (text
// beside a data point) that would overlap any text already placed are left out.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace figures {

// Estimated advance of one character of the sans-serif font, in units of its size: wide
// enough for digits, capitals and most lower-case letters.
inline constexpr double kCharWidth = 0.6;

enum class Scale { linear, log };

struct Axis {
    std::string label;  // quantity and unit, "E [mV]"
    Scale scale = Scale::linear;
    // Smallest span of the range, in the axis's unit (linear axes): nearly constant data
    // are shown on a range this wide rather than on their rounding noise. The span is also
    // at least 1e-3 of the largest magnitude.
    double minSpan = 0;
    std::optional<double> from, to;  // fixed ends; none: from the data
};

// A curve or a set of points. Non-finite values, and non-positive ones on a log axis,
// break the line.
struct Series {
    std::string label;  // legend text; empty: no legend entry
    std::vector<double> x, y;
    int colour = 0;  // index into the palette
    bool line = true;
    bool points = false;  // a dot at every value
    bool dashed = false;
};

// A vertical line across the panel (a layer boundary, a transition time, a detection
// limit); with a label it has a legend entry.
struct VerticalMark {
    double x = 0;
    std::string label;
    int colour = -1;  // -1: grey
    bool dashed = true;
};

// A short text beside a data point, with a dot on the point; left out when it would
// overlap other text.
struct Note {
    double x = 0, y = 0;
    std::string text;
};

struct Panel {
    Axis x, y;
    std::vector<Series> series;
    std::vector<VerticalMark> marks;
    std::vector<Note> notes;
    bool equalScale = false;  // one unit is as long on both axes (extends a range)
};

struct Figure {
    std::string title;
    double widthMm = 160;
    double heightMm = 110;
    std::vector<Panel> panels;  // stacked top to bottom
};

// Text sizes [pt].
inline constexpr double kTitleSize = 11;
inline constexpr double kLabelSize = 10;
inline constexpr double kTickSize = 9;
inline constexpr double kLegendSize = 9;
inline constexpr double kNoteSize = 8;

// The figure as a complete SVG document (with its XML declaration).
std::string render_svg(const Figure& figure);

// Tick values for an axis of `length` points over [lo, hi]: the most ticks, at 1, 2 or 5
// times a power of ten (log axes: powers of ten, every one or every few), whose labels
// (tick_labels) keep a gap along the axis: their estimated widths on a horizontal axis,
// 1.6 times the font size on a vertical one.
struct Ticks {
    std::vector<double> values;
    std::vector<std::string> labels;
};
Ticks choose_ticks(double lo, double hi, Scale scale, double length, bool horizontal);

// The labels of ticks `step` apart (linear; log: powers of ten or 1, 2, 5 times them), in one
// notation for the whole axis, each distinct.
std::vector<std::string> tick_labels(const std::vector<double>& ticks, double step, Scale scale);

// Number of characters of a UTF-8 text (code points), for width estimates.
int text_length(const std::string& text);

}  // namespace figures
