// Drawing primitives below the plot pages.
//
// A `PlotCanvas` is one output format of a page: it receives the primitives a `PSpage` is
// asked for, in page coordinates (points, origin at the lower-left corner), and writes them
// in its own language. It keeps the graphics state the primitives imply (font, line width,
// colour, clip) the way PostScript does: set by the set_ calls, saved and restored as a
// whole, and the clip path only narrowed until the state that set it is restored.
//
// All plot logic (scaling, ticks, guards against empty or non-finite data) stays above this
// interface, so every canvas draws the same plot.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

// Which point of a text run lies on the given position.
enum class TextAlign { centre, end };

// What a path does once built: stroke it open, close and stroke it, close and fill it, or
// close it and narrow the clip path to it.
enum class PathPaint { stroke, closed_stroke, fill, clip };

class PlotCanvas {
  public:
    virtual ~PlotCanvas() = default;

    virtual void set_font(const std::string& name, double size) = 0;
    virtual void set_line_width(double width) = 0;
    virtual void save_state() = 0;
    virtual void restore_state() = 0;
    virtual void set_gray(double level) = 0;                 // 0 black .. 1 white
    virtual void set_rgb(int red, int green, int blue) = 0;  // components 0..255
    // Text on the baseline through (x, y), rotated by `angle` degrees counterclockwise about
    // that point; `align` says which point of the run lies there.
    virtual void put_text(const std::string& text, double x, double y, double angle,
                          TextAlign align) = 0;
    // ZapfDingbats character `code` of `size` points, its centre on (x, y).
    virtual void point_symbol(double x, double y, int code, double size) = 0;
    virtual void line_segment(double x0, double y0, double x1, double y1) = 0;
    // Path through the n >= 1 points (xs[i], ys[i]).
    virtual void path(const double* xs, const double* ys, int n, PathPaint paint) = 0;
    // Ends the page and closes the file. False when the file did not take everything
    // written to it.
    virtual bool finish() = 0;
    // The file the canvas writes, for messages.
    virtual const std::string& file_name() const = 0;
    // Why the file could not be written, once finish returned false.
    virtual const std::string& failure() const = 0;
};

// A plot file that could not be written, and why.
struct PlotFileFailure {
    std::string name;
    std::string reason;
};

// An output file of a canvas, written whole or not at all: opened at construction under a
// temporary name beside `name` (base/replace_file.h), and put in place by close only when
// every write, the final flush and the close succeeded. Writing to a file that failed to
// open, or after close, does nothing; a failed write is remembered until close. A file
// destroyed or discarded before close leaves nothing behind.
class PlotFile {
  public:
    explicit PlotFile(const std::string& name);
    ~PlotFile() { discard(); }
    PlotFile(PlotFile&&) = default;
    PlotFile& operator=(PlotFile&&) = delete;

    const std::string& name() const { return name_; }
    bool is_open() const { return file_ != nullptr; }
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void write(const std::string& text);
    // Closes the file and puts it in place; false when the opening, any write, the final
    // flush, the close or the renaming failed (the temporary is gone then).
    bool close();
    // Closes the file and removes its temporary.
    void discard();
    // Why the file could not be opened or written; empty while nothing failed.
    const std::string& reason() const { return reason_; }

  private:
    void fail(int errnum);

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::string name_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    bool failed_ = false;
    std::string reason_;
};
