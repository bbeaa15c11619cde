#include "output/psplot/postscript_canvas.h"

#include <utility>
#include <vector>

namespace {

// Parentheses delimit PostScript strings and the backslash escapes within them. Balanced
// parentheses are legal inside a string and are kept as they are; a backslash or a
// parenthesis without a partner is escaped so the page stays valid.
std::string escape_text(const std::string& text) {
    std::vector<bool> unmatched(text.size(), false);
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '(') {
            open.push_back(i);
        } else if (text[i] == ')') {
            if (open.empty())
                unmatched[i] = true;
            else
                open.pop_back();
        }
    }
    for (std::size_t i : open) unmatched[i] = true;

    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' || unmatched[i]) out += '\\';
        out += text[i];
    }
    return out;
}

// Every primitive is written at once; nothing is kept between them.
class PostScriptCanvas : public PlotCanvas {
  public:
    // Takes over an open file and writes the prolog (the procedures mt, lt, np, st, cp, fi
    // and zp); font and line width are left to the caller.
    explicit PostScriptCanvas(PlotFile file) : file_(std::move(file)) {
        file_.print("%%!\n/mt{moveto}def /lt{lineto}def /np{newpath}def\n");
        file_.print("/st{stroke}def /cp{closepath}def /fi{fill}def\n");
        file_.print("/zp {gsave /ZapfDingbats findfont exch ");
        file_.print("scalefont setfont moveto show grestore} def\n");
    }

    void set_font(const std::string& name, double size) override {
        file_.print("/%s findfont %g scalefont setfont\n", name.c_str(), size);
    }
    void set_line_width(double width) override { file_.print("%g setlinewidth\n", width); }
    void save_state() override { file_.print("gsave\n"); }
    void restore_state() override { file_.print("grestore\n"); }
    void set_gray(double level) override { file_.print("%g setgray\n", level); }
    void set_rgb(int red, int green, int blue) override {
        file_.print("%g %g %g setrgbcolor\n", red / 255.0, green / 255.0, blue / 255.0);
    }

    void put_text(const std::string& text, double x, double y, double angle,
                  TextAlign align) override {
        file_.print("gsave %g %g translate %g rotate 0 0 mt (%s) ", x, y, angle,
                    escape_text(text).c_str());
        // Moved back by the whole width of the run, or by half of it, before it is shown.
        if (align == TextAlign::centre)
            file_.print("dup stringwidth pop 2 div neg 0 rmoveto show grestore\n");
        else
            file_.print("dup stringwidth pop neg 0 rmoveto show grestore\n");
    }

    void point_symbol(double x, double y, int code, double size) override {
        // The glyph origin lies 0.394 and 0.343 of the size left of and below the centre of
        // the filled circle (character 108), so that glyph centres on (x, y).
        file_.print("(\\%03o) %g %g %g zp\n", static_cast<unsigned>(code), x - 0.394 * size,
                    y - 0.343 * size, size);
    }

    void line_segment(double x0, double y0, double x1, double y1) override {
        file_.print("np %g %g mt %g %g lt st\n", x0, y0, x1, y1);
    }

    void path(const double* xs, const double* ys, int n, PathPaint paint) override {
        // How the path ends, in the order of PathPaint.
        static constexpr const char* kPaintEnd[] = {"st\n", "cp st\n", "cp fi\n", "cp clip\n"};
        file_.print("np %g %g mt\n", xs[0], ys[0]);
        for (int i = 1; i < n; ++i) file_.print("%g %g lt\n", xs[i], ys[i]);
        file_.write(kPaintEnd[static_cast<int>(paint)]);
    }

    // Writes "showpage" and closes the file.
    bool finish() override {
        file_.print("showpage\n");
        return file_.close();
    }
    const std::string& file_name() const override { return file_.name(); }
    const std::string& failure() const override { return file_.reason(); }

  private:
    PlotFile file_;
};

}  // namespace

std::unique_ptr<PlotCanvas> make_postscript_canvas(PlotFile file) {
    return std::make_unique<PostScriptCanvas>(std::move(file));
}
