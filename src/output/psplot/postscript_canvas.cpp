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

}  // namespace

PostScriptCanvas::PostScriptCanvas(PlotFile file) : file_(std::move(file)) {
    file_.print("%%!\n/mt{moveto}def /lt{lineto}def /np{newpath}def\n");
    file_.print("/st{stroke}def /cp{closepath}def /fi{fill}def\n");
    file_.print("/zp {gsave /ZapfDingbats findfont exch ");
    file_.print("scalefont setfont moveto show grestore} def\n");
}

void PostScriptCanvas::set_font(const std::string& name, double size) {
    file_.print("/%s findfont %g scalefont setfont\n", name.c_str(), size);
}

void PostScriptCanvas::set_line_width(double width) { file_.print("%g setlinewidth\n", width); }

void PostScriptCanvas::save_state() { file_.print("gsave\n"); }

void PostScriptCanvas::restore_state() { file_.print("grestore\n"); }

void PostScriptCanvas::set_gray(double level) { file_.print("%g setgray\n", level); }

void PostScriptCanvas::set_rgb(int red, int green, int blue) {
    file_.print("%g %g %g setrgbcolor\n", red / 255.0, green / 255.0, blue / 255.0);
}

void PostScriptCanvas::put_text(const std::string& text, double x, double y, double angle,
                                TextAlign align) {
    file_.print("gsave %g %g translate %g rotate 0 0 mt (%s) ", x, y, angle,
                escape_text(text).c_str());
    // Moved back by the whole width of the run, or by half of it, before it is shown.
    if (align == TextAlign::centre)
        file_.print("dup stringwidth pop 2 div neg 0 rmoveto show grestore\n");
    else
        file_.print("dup stringwidth pop neg 0 rmoveto show grestore\n");
}

void PostScriptCanvas::point_symbol(double x, double y, int code, double size) {
    // The glyph origin lies 0.394 and 0.343 of the size left of and below the centre of
    // the filled circle (character 108), so that glyph centres on (x, y).
    file_.print("(\\%03o) %g %g %g zp\n", static_cast<unsigned>(code), x - 0.394 * size,
                y - 0.343 * size, size);
}

void PostScriptCanvas::line_segment(double x0, double y0, double x1, double y1) {
    file_.print("np %g %g mt %g %g lt st\n", x0, y0, x1, y1);
}

void PostScriptCanvas::path(const double* xs, const double* ys, int n, PathPaint paint) {
    file_.print("np %g %g mt\n", xs[0], ys[0]);
    for (int i = 1; i < n; ++i) file_.print("%g %g lt\n", xs[i], ys[i]);
    switch (paint) {
        case PathPaint::stroke:
            file_.print("st\n");
            break;
        case PathPaint::closed_stroke:
            file_.print("cp st\n");
            break;
        case PathPaint::fill:
            file_.print("cp fi\n");
            break;
        case PathPaint::clip:
            file_.print("cp clip\n");
            break;
    }
}

bool PostScriptCanvas::finish() {
    file_.print("showpage\n");
    return file_.close();
}
