// The PostScript form of a page: every primitive becomes one or a few lines of text using
// the procedures the prolog defines. Numbers are written with printf's "%g"; every line
// ends with a single line feed.
#pragma once

#include "output/psplot/canvas.h"

class PostScriptCanvas : public PlotCanvas {
  public:
    // Takes over an open file and writes the prolog (the procedures mt, lt, np, st, cp, fi
    // and zp); font and line width are left to the caller.
    explicit PostScriptCanvas(PlotFile file);

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
    // Writes "showpage" and closes the file.
    bool finish() override;
    const std::string& file_name() const override { return file_.name(); }
    const std::string& failure() const override { return file_.reason(); }

  private:
    PlotFile file_;
};
