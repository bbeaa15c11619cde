// Single-page plots, written as PostScript and as an SVG twin beside it.
//
// A `PSpage` owns the output files and draws the prolog, graphics-state commands, text and
// lines in page coordinates (points, origin at the lower-left corner of the page). A
// `PSplot` is a rectangular region on a page that maps data coordinates linearly onto its
// box and draws a frame, tick marks with labels, axis titles, polylines and dots. The page
// hands every primitive to two canvases (canvas.h): the PostScript file NAME.ps, every
// number written with printf's "%g" and every line ended by a single line feed, and the
// same drawing as NAME.svg.
//
// Typical use: construct the page; for each plot: construct it, clear_box, set_limits,
// draw_frame, auto_scale or auto_scale_range, x_label, y_label (or draw_axes for all of
// these but clear_box), dot and/or line_plot (or marked_line); finally close the page.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/fault.h"
#include "base/message_sink.h"
#include "numeric/nr.h"
#include "output/psplot/canvas.h"

// A plot file that cannot be opened, or that did not take all that was written to it. The
// standard message has already been told to the page's sink when this is thrown; what()
// names the file as well.
struct PlotError : Fault {
    explicit PlotError(const std::string& message) : Fault(FaultKind::output, message, true) {}
    std::vector<PlotFileFailure> files;  // the files of the page not written, and why
};

// Major step of `PSplot::auto_scale` for a range of width r (> 0): the power of ten below
// 0.9 r, a tenth of it when below 1, and a tenth again when that leaves fewer than two
// steps in the range.
double auto_scale_step(double r);

// Major step of `PSplot::auto_scale_range` for a data extent of width r (> 0): the power
// of ten below r, a tenth of it when r holds fewer than 1.2 of them, then a fifth of it
// when r holds fewer than two.
double auto_scale_range_step(double r);

// Name of the SVG twin of the PostScript file `ps_name`: its ".ps" ending replaced by
// ".svg", or ".svg" appended to a name without that ending.
std::string svg_file_name(const std::string& ps_name);

// Limits of a plot, or the extents of its data: x_low..x_high across, y_low..y_high up.
struct PlotRange {
    double x_low, x_high, y_low, y_high;
};

class PSpage {
  public:
    // A page of kWidth by kHeight points (A4, the size PostScript interpreters assume for
    // a file that names none).
    static constexpr double kWidth = 595;
    static constexpr double kHeight = 842;

    // Opens `file_name` and its SVG twin (svg_file_name) for writing and draws the prolog,
    // the font Times-Roman 12 and the line width 0.5. Each file is written under a
    // temporary name and takes its own name only when complete (PlotFile). When either
    // file cannot be opened the plotter's error message, followed by the file and the
    // reason, is told to `sink` and PlotError is thrown, naming both files; no file is
    // left behind then. The page's later messages go to `sink` too, which must outlive it.
    explicit PSpage(const std::string& file_name, MessageSink& sink = standard_output());
    // Closes the files (as `close` does) when they are still open; a file that did not
    // take everything is reported to the page's sink, without an exception.
    virtual ~PSpage();

    PSpage(const PSpage&) = delete;
    PSpage& operator=(const PSpage&) = delete;

    void set_font(const std::string& name, double size);
    void set_line_width(double width);
    void save_state();
    void restore_state();
    void set_gray(double level);                 // 0 black .. 1 white
    void set_rgb(int red, int green, int blue);  // components 0..255
    // 0 black, 1 red, 2 green, 3 blue; any other index writes nothing.
    void set_color_index(int k);
    // Text centred on (x, y), rotated by `angle` degrees about that point.
    void put_centered_text(const std::string& text, double x, double y, double angle);
    // Text ending at (x, y), rotated by `angle` degrees about that point.
    void put_right_text(const std::string& text, double x, double y, double angle);
    // ZapfDingbats character `code` of `size` points, placed so that its centre falls on
    // (x, y).
    void point_symbol(double x, double y, int code, double size);
    void line_segment(double x0, double y0, double x1, double y1);
    // Path through the first min(len xs, len ys) points in page coordinates; closed when
    // any flag is set, then filled (fill), made the clip path (clip) or stroked.
    virtual void polyline(VecDoub_I& xs, VecDoub_I& ys, int close, int fill, int clip);
    // Ends the page ("showpage" in PostScript) and closes both files; the page takes no
    // more drawing. A file that did not take everything written to it (a full disk, say)
    // is not put in place; it is reported to the page's sink, one line of the files and
    // one with the reason per file, and then PlotError names it. The other file stands.
    void close();

    bool is_open() const { return !owner_->canvases_.empty(); }
    const std::string& file_name() const { return file_name_; }
    const std::string& font_name() const { return font_name_; }
    double font_size() const { return font_size_; }

  protected:
    // A region sharing the canvases and the sink of `page` (a plot): copies the file and
    // font names and the font size, owns nothing.
    explicit PSpage(PSpage& page);

  private:
    // Calls draw(canvas) for each canvas of the page; nothing once the page is closed.
    template <class Draw>
    void draw_on_all(Draw draw) {
        for (const std::unique_ptr<PlotCanvas>& canvas : owner_->canvases_) draw(*canvas);
    }
    // Finishes every canvas; the files that failed, reported to the sink.
    std::vector<PlotFileFailure> finish_canvases();

    PSpage* owner_;  // the page that owns the canvases: itself, or the page a plot lies on
    MessageSink* sink_;  // where the page's faults are told: the owning page's sink
    std::vector<std::unique_ptr<PlotCanvas>> canvases_;  // on the owning page only
    std::string file_name_;
    std::string font_name_;
    double font_size_ = 0;
};

class PSplot : public PSpage {
  public:
    // A plot box on `page`, edges in points; data units equal points until set_limits.
    // Writes nothing. The plot must not outlive the page.
    PSplot(PSpage& page, double page_left, double page_right, double page_bottom, double page_top);

    // Data values mapped onto the box edges; a reversed pair mirrors the axis. A pair of
    // equal limits is widened by a tenth of its value each way (by 1 at zero), and a
    // non-finite limit takes the value of its partner, so the mapping stays finite.
    void set_limits(double x_low, double x_high, double y_low, double y_high);
    double to_page_x(double x) const;
    double to_page_y(double y) const;

    // Data-coordinate path; points with a non-finite coordinate are left out.
    void polyline(VecDoub_I& xs, VecDoub_I& ys, int close, int fill, int clip) override;
    void line_plot(VecDoub_I& xs, VecDoub_I& ys);  // open stroked line
    void draw_frame();                             // closed outline of the box
    void clear_box();                              // box filled white
    // Filled disc of `size` points centred on data point (x, y); skipped when the point
    // is not finite.
    void dot(double x, double y, double size);
    void x_label(const std::string& text);
    void y_label(const std::string& text);
    // "%g" text of a tick value; magnitudes below 1e-15 (rounding residue of accumulated
    // steps) read "0".
    static std::string tick_text(double value);

    // Tick marks at every multiple of the steps within the limits. Per axis, mode 0 draws
    // nothing on the bottom (left) edge, 1 ticks, 2 or more ticks and labels; top (right)
    // non-zero adds unlabelled ticks on the opposite edge. Steps that are not positive and
    // finite, and limits that are not finite, draw nothing on that axis.
    void draw_scales(double x_major, double x_minor, double y_major, double y_minor, int x_mode,
                     int y_mode, int top, int right);
    // Ticks with steps chosen from the plot's limits.
    void auto_scale();
    // Ticks with steps chosen from the data extents x0..x1, y0..y1 (the ticks still cover
    // the limits). An extent of zero width takes the steps from the limits instead.
    void auto_scale_range(double x0, double x1, double y0, double y1);

    // The frame of a plot: set_limits, draw_frame, ticks with steps from the limits
    // (auto_scale) or, when `tick_extents` is given, from those data extents
    // (auto_scale_range), then both axis titles.
    void draw_axes(const PlotRange& limits, const std::optional<PlotRange>& tick_extents,
                   const std::string& x_title, const std::string& y_title);
    // One data series: a dot of 5 points on each of the first min(len xs, len ys) points,
    // then the open line through them.
    void marked_line(VecDoub_I& xs, VecDoub_I& ys);

    double page_left() const { return page_left_; }
    double page_right() const { return page_right_; }
    double page_bottom() const { return page_bottom_; }
    double page_top() const { return page_top_; }
    double x_low() const { return x_low_; }
    double x_high() const { return x_high_; }
    double y_low() const { return y_low_; }
    double y_high() const { return y_high_; }

  private:
    double page_left_, page_bottom_, page_right_, page_top_;
    double x_low_ = 0, y_low_ = 0, x_high_ = 0, y_high_ = 0;
    VecDoub frame_x_{4};  // box corners in data units
    VecDoub frame_y_{4};
    double major_tick_ = 8.0;  // tick lengths in points
    double minor_tick_ = 4.0;
};
