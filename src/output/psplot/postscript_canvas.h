// The PostScript form of a page: every primitive becomes one or a few lines of text using
// the procedures the prolog defines. Numbers are written with printf's "%g"; every line
// ends with a single line feed.
#pragma once

#include <memory>

#include "output/psplot/canvas.h"

// Takes over an open file and writes the prolog (the procedures mt, lt, np, st, cp, fi and
// zp); font and line width are left to the caller.
std::unique_ptr<PlotCanvas> make_postscript_canvas(PlotFile file);
