// The SVG form of a page: a self-contained document (no external fonts, images, scripts or
// links) whose view box is the page in points, y flipped because SVG's y axis points down.
// Coordinates are written to a hundredth of a point. Consecutive line segments in one
// graphics state share one <path>; a polyline is one <polyline> (open) or <polygon>
// (closed); a clip opens a group that ends with the state that set it.
#pragma once

#include <vector>

#include "output/psplot/canvas.h"

class SvgCanvas : public PlotCanvas {
  public:
    // Takes over an open file and writes the document head and a white page of `width` by
    // `height` points.
    SvgCanvas(PlotFile file, double width, double height);

    void set_font(const std::string& name, double size) override;
    void set_line_width(double width) override;
    void save_state() override;
    void restore_state() override;
    void set_gray(double level) override;
    void set_rgb(int red, int green, int blue) override;
    void put_text(const std::string& text, double x, double y, double angle,
                  TextAlign align) override;
    void point_symbol(double x, double y, int code, double size) override;
    void line_segment(double x0, double y0, double x1, double y1) override;
    void path(const double* xs, const double* ys, int n, PathPaint paint) override;
    // Ends the open groups and the document and closes the file.
    bool finish() override;
    const std::string& file_name() const override { return file_.name(); }
    const std::string& failure() const override { return file_.reason(); }

  private:
    struct State {
        int red = 0, green = 0, blue = 0;
        double line_width;
        std::string family;  // generic SVG family standing in for the PostScript font
        bool bold = false, italic = false;
        double font_size;
        int clip_groups = 0;  // groups opened by clips since this state was saved
    };

    void flush_segments();
    std::string colour() const;
    std::string stroke_attributes() const;
    std::string point(double x, double y) const;  // "x,y" in SVG user units

    PlotFile file_;
    double height_;
    std::vector<State> states_;  // back() is the current state
    std::string segments_;       // path data of line segments not yet written
    int clip_count_ = 0;
};
