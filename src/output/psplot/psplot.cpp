#include "output/psplot/psplot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "base/number_text.h"
#include "output/psplot/postscript_canvas.h"
#include "output/psplot/svg_canvas.h"

namespace {

// More ticks than this on one axis would only blacken the edge; a request for them (a
// step far below the range) draws no ticks on that axis instead.
constexpr double kMaxTicks = 100000;

// Makes a limit pair usable for a linear map: a non-finite limit takes its partner's
// value, and a pair without width is opened by a tenth of its value each way (by 1 at 0).
void widen_limits(double& low, double& high) {
    if (!std::isfinite(low)) low = std::isfinite(high) ? high : 0.0;
    if (!std::isfinite(high)) high = low;
    if (low == high) {
        const double v = low;
        const double delta = v != 0.0 ? 0.1 * std::fabs(v) : 1.0;
        low = v - delta;
        high = v + delta;
    }
}

// True when ticks every `step` between `low` and `high` can be drawn in finite time.
bool ticks_drawable(double step, double low, double high) {
    return std::isfinite(step) && step > 0.0 && std::isfinite(low) && std::isfinite(high) &&
           (high - low) / step <= kMaxTicks;
}

// Calls draw(v) for every multiple v of `step` in [min(a, b), max(a, b)], by accumulated
// addition from the first multiple. Stops when the step no longer moves the value.
template <class Draw>
void for_each_tick(double step, double a, double b, Draw draw) {
    const double low = std::min(a, b);
    const double high = std::max(a, b);
    if (!ticks_drawable(step, low, high)) return;
    double v = std::ceil(low / step) * step;
    while (v <= high) {
        draw(v);
        const double next = v + step;
        if (next == v) break;
        v = next;
    }
}

}  // namespace

double auto_scale_step(double r) {
    if (!(r > 0.0) || !std::isfinite(r)) return 0.0;
    const int n = static_cast<int>(std::log10(0.9 * r));
    double step = std::pow(10.0, n);
    if (step < 1.0) step = 0.1 * step;
    if (r / step < 2.0) step = 0.1 * step;
    return step;
}

double auto_scale_range_step(double r) {
    if (!(r > 0.0) || !std::isfinite(r)) return 0.0;
    const int n = static_cast<int>(std::log10(r));
    double step = std::pow(10.0, n);
    if (r / step < 1.2) step = 0.1 * step;
    if (r / step < 2.0) step = 0.2 * step;
    return step;
}

// ---------------------------------------------------------------------------------------
// PSpage

std::string svg_file_name(const std::string& ps_name) {
    if (ps_name.ends_with(".ps")) return ps_name.substr(0, ps_name.size() - 3) + ".svg";
    return ps_name + ".svg";
}

PSpage::PSpage(const std::string& file_name, MessageSink& sink)
    : owner_(this), sink_(&sink), file_name_(file_name) {
    // Both forms or neither: when one cannot be opened, neither is written.
    const auto unopenable = [&](const PlotFile& failed) {
        tell(*sink_,
             "ERROR: failure opening output file for plot\n"
             "     in file psplot at line 15\n"
             "     ",
             failed.name(), ": ", failed.reason(), "\n");
        PlotError error("failure opening output file for plot " + failed.name());
        for (const std::string& name : {file_name_, svg_file_name(file_name_)})
            error.files.push_back({name, failed.reason()});
        return error;
    };
    PlotFile ps(file_name_);
    if (!ps.is_open()) throw unopenable(ps);
    PlotFile svg(svg_file_name(file_name_));
    if (!svg.is_open()) throw unopenable(svg);  // ps, discarded, leaves nothing behind
    canvases_.push_back(make_postscript_canvas(std::move(ps)));
    canvases_.push_back(std::make_unique<SvgCanvas>(std::move(svg), kWidth, kHeight));
    set_font("Times-Roman", 12);
    set_line_width(0.5);
}

PSpage::PSpage(PSpage& page)
    : owner_(page.owner_),
      sink_(page.sink_),
      file_name_(page.file_name_),
      font_name_(page.font_name_),
      font_size_(page.font_size_) {}

PSpage::~PSpage() {
    if (owner_ == this) finish_canvases();
}

void PSpage::set_font(const std::string& name, double size) {
    font_name_ = name;
    font_size_ = size;
    draw_on_all([&](PlotCanvas& c) { c.set_font(font_name_, font_size_); });
}

void PSpage::set_line_width(double width) {
    draw_on_all([&](PlotCanvas& c) { c.set_line_width(width); });
}

void PSpage::save_state() {
    draw_on_all([](PlotCanvas& c) { c.save_state(); });
}

void PSpage::restore_state() {
    draw_on_all([](PlotCanvas& c) { c.restore_state(); });
}

void PSpage::set_gray(double level) {
    draw_on_all([&](PlotCanvas& c) { c.set_gray(level); });
}

void PSpage::set_rgb(int red, int green, int blue) {
    draw_on_all([&](PlotCanvas& c) { c.set_rgb(red, green, blue); });
}

void PSpage::set_color_index(int k) {
    // Black, red, green, blue.
    static constexpr int kColours[4][3] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    if (k < 0 || k > 3) return;
    set_rgb(kColours[k][0], kColours[k][1], kColours[k][2]);
}

void PSpage::put_centered_text(const std::string& text, double x, double y, double angle) {
    draw_on_all([&](PlotCanvas& c) { c.put_text(text, x, y, angle, TextAlign::centre); });
}

void PSpage::put_right_text(const std::string& text, double x, double y, double angle) {
    draw_on_all([&](PlotCanvas& c) { c.put_text(text, x, y, angle, TextAlign::end); });
}

void PSpage::point_symbol(double x, double y, int code, double size) {
    draw_on_all([&](PlotCanvas& c) { c.point_symbol(x, y, code, size); });
}

void PSpage::line_segment(double x0, double y0, double x1, double y1) {
    draw_on_all([&](PlotCanvas& c) { c.line_segment(x0, y0, x1, y1); });
}

void PSpage::polyline(VecDoub_I& xs, VecDoub_I& ys, int close, int fill, int clip) {
    const int n = std::min(xs.size(), ys.size());
    if (n <= 0) return;  // no first point to move to
    const PathPaint paint = fill    ? PathPaint::fill
                            : clip  ? PathPaint::clip
                            : close ? PathPaint::closed_stroke
                                    : PathPaint::stroke;
    draw_on_all([&](PlotCanvas& c) { c.path(xs.data(), ys.data(), n, paint); });
}

void PSpage::close() {
    if (owner_->canvases_.empty()) return;
    std::vector<PlotFileFailure> failed = owner_->finish_canvases();
    if (failed.empty()) return;
    std::string names;
    for (const PlotFileFailure& f : failed) names += (names.empty() ? "" : " and ") + f.name;
    PlotError error("failure writing output file for plot " + names);
    error.files = std::move(failed);
    throw error;
}

std::vector<PlotFileFailure> PSpage::finish_canvases() {
    std::vector<PlotFileFailure> failed;
    for (const std::unique_ptr<PlotCanvas>& canvas : canvases_)
        if (!canvas->finish()) failed.push_back({canvas->file_name(), canvas->failure()});
    canvases_.clear();
    if (failed.empty()) return failed;
    tell(*sink_, "ERROR: failure writing output file for plot ");
    for (std::size_t i = 0; i < failed.size(); ++i)
        tell(*sink_, i > 0 ? " and " : "", failed[i].name);
    tell(*sink_, "\n");
    for (const PlotFileFailure& f : failed) tell(*sink_, "     ", f.name, ": ", f.reason, "\n");
    return failed;
}

// ---------------------------------------------------------------------------------------
// PSplot

PSplot::PSplot(PSpage& page, double page_left, double page_right, double page_bottom,
               double page_top)
    : PSpage(page),
      page_left_(page_left),
      page_bottom_(page_bottom),
      page_right_(page_right),
      page_top_(page_top) {
    set_limits(page_left, page_right, page_bottom, page_top);
}

void PSplot::set_limits(double x_low, double x_high, double y_low, double y_high) {
    widen_limits(x_low, x_high);
    widen_limits(y_low, y_high);
    x_low_ = x_low;
    x_high_ = x_high;
    y_low_ = y_low;
    y_high_ = y_high;
    frame_x_[0] = x_low_;
    frame_x_[1] = x_high_;
    frame_x_[2] = x_high_;
    frame_x_[3] = x_low_;
    frame_y_[0] = y_low_;
    frame_y_[1] = y_low_;
    frame_y_[2] = y_high_;
    frame_y_[3] = y_high_;
}

double PSplot::to_page_x(double x) const {
    return page_left_ + (page_right_ - page_left_) * (x - x_low_) / (x_high_ - x_low_);
}

double PSplot::to_page_y(double y) const {
    return page_bottom_ + (page_top_ - page_bottom_) * (y - y_low_) / (y_high_ - y_low_);
}

void PSplot::polyline(VecDoub_I& xs, VecDoub_I& ys, int close, int fill, int clip) {
    const int n = std::min(xs.size(), ys.size());
    VecDoub px(n), py(n);
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        const double x = to_page_x(xs[i]);
        const double y = to_page_y(ys[i]);
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        px[kept] = x;
        py[kept] = y;
        ++kept;
    }
    if (kept < n) {
        VecDoub fx(kept), fy(kept);
        for (int i = 0; i < kept; ++i) {
            fx[i] = px[i];
            fy[i] = py[i];
        }
        PSpage::polyline(fx, fy, close, fill, clip);
        return;
    }
    PSpage::polyline(px, py, close, fill, clip);
}

void PSplot::line_plot(VecDoub_I& xs, VecDoub_I& ys) { polyline(xs, ys, 0, 0, 0); }

void PSplot::draw_axes(const PlotRange& limits, const std::optional<PlotRange>& tick_extents,
                       const std::string& x_title, const std::string& y_title) {
    set_limits(limits.x_low, limits.x_high, limits.y_low, limits.y_high);
    draw_frame();
    if (tick_extents)
        auto_scale_range(tick_extents->x_low, tick_extents->x_high, tick_extents->y_low,
                         tick_extents->y_high);
    else
        auto_scale();
    x_label(x_title);
    y_label(y_title);
}

void PSplot::marked_line(VecDoub_I& xs, VecDoub_I& ys) {
    const int n = std::min(xs.size(), ys.size());
    for (int i = 0; i < n; ++i) dot(xs[i], ys[i], 5);
    line_plot(xs, ys);
}

void PSplot::draw_frame() { polyline(frame_x_, frame_y_, 1, 0, 0); }

void PSplot::clear_box() {
    save_state();
    set_gray(1);
    polyline(frame_x_, frame_y_, 1, 1, 0);
    restore_state();
}

void PSplot::dot(double x, double y, double size) {
    const double px = to_page_x(x);
    const double py = to_page_y(y);
    if (!std::isfinite(px) || !std::isfinite(py)) return;
    point_symbol(px, py, 108, size);
}

void PSplot::x_label(const std::string& text) {
    put_centered_text(text, 0.5 * (page_left_ + page_right_), page_bottom_ - 2 * font_size() - 8,
                      0);
}

void PSplot::y_label(const std::string& text) {
    put_centered_text(text, page_left_ - 3 * font_size() - 8, 0.5 * (page_bottom_ + page_top_), 90);
}

std::string PSplot::tick_text(double value) {
    if (std::fabs(value) < 1e-15) return "0";
    return number_text(value);
}

void PSplot::draw_scales(double x_major, double x_minor, double y_major, double y_minor, int x_mode,
                         int y_mode, int top, int right) {
    if (x_mode || top) {
        for_each_tick(x_major, x_low_, x_high_, [&](double x) {
            const std::string label = tick_text(x);
            const double px = to_page_x(x);
            if (x_mode > 1) put_centered_text(label, px, page_bottom_ - font_size() - 2, 0);
            if (x_mode != 0) line_segment(px, page_bottom_, px, page_bottom_ + major_tick_);
            if (top != 0) line_segment(px, page_top_, px, page_top_ - major_tick_);
        });
        for_each_tick(x_minor, x_low_, x_high_, [&](double x) {
            const double px = to_page_x(x);
            if (x_mode != 0) line_segment(px, page_bottom_, px, page_bottom_ + minor_tick_);
            if (top != 0) line_segment(px, page_top_, px, page_top_ - minor_tick_);
        });
    }
    if (y_mode || right) {
        for_each_tick(y_major, y_low_, y_high_, [&](double y) {
            const std::string label = tick_text(y);
            const double py = to_page_y(y);
            if (y_mode > 1) put_right_text(label, page_left_ - 4, py - 0.3 * font_size(), 0);
            if (y_mode != 0) line_segment(page_left_, py, page_left_ + major_tick_, py);
            if (right != 0) line_segment(page_right_, py, page_right_ - major_tick_, py);
        });
        for_each_tick(y_minor, y_low_, y_high_, [&](double y) {
            const double py = to_page_y(y);
            if (y_mode != 0) line_segment(page_left_, py, page_left_ + minor_tick_, py);
            if (right != 0) line_segment(page_right_, py, page_right_ - minor_tick_, py);
        });
    }
}

void PSplot::auto_scale() {
    const double x_step = auto_scale_step(std::fabs(x_high_ - x_low_));
    const double y_step = auto_scale_step(std::fabs(y_high_ - y_low_));
    draw_scales(x_step, 0.2 * x_step, y_step, 0.2 * y_step, 2, 2, 1, 1);
}

void PSplot::auto_scale_range(double x0, double x1, double y0, double y1) {
    const double rx = std::fabs(x1 - x0);
    const double ry = std::fabs(y1 - y0);
    // A data extent without width (a flat curve, a single sample) has no scale of its
    // own; the limits, which set_limits keeps open, supply one.
    const double x_step = rx > 0.0 && std::isfinite(rx)
                              ? auto_scale_range_step(rx)
                              : auto_scale_step(std::fabs(x_high_ - x_low_));
    const double y_step = ry > 0.0 && std::isfinite(ry)
                              ? auto_scale_range_step(ry)
                              : auto_scale_step(std::fabs(y_high_ - y_low_));
    draw_scales(x_step, 0.2 * x_step, y_step, 0.2 * y_step, 2, 2, 1, 1);
}
