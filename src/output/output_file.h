// Result files are written whole or not at all. The text of a file goes to a temporary
// file beside it (replace_file.h), which is renamed over the final name only when the last
// write, the flush and the close have succeeded; so whoever reads the run folder (a script
// polling it, a browser showing report.html) finds the complete new file, the complete one
// it replaces, or none, never a cut one. A file that fails (a full disk, a folder that is
// gone or may not be written) is reported once on standard output with its path and the
// reason, its temporary is removed, and it is entered in the run's unwrittenFiles (RunFiles),
// which makes the run end with status 3; a later complete write of the same file takes it
// out again. The run goes on either way.
#pragma once

#include <fstream>
#include <string>

#include "base/replace_file.h"
#include "output/psplot/psplot.h"
#include "output/run_files.h"

// Opens `out` (binary, truncating, state cleared) on the temporary of `path`. When it
// cannot be opened, prints "File " + path + gap + "cannot be opened. (" + reason + ")\n",
// enters `path` in unwrittenFiles and returns false; `out` stays closed and failed, so
// what is written to it goes nowhere.
bool open_result(RunFiles& files, std::ofstream& out, const std::string& path,
                 const char* gap = " ");

// Completes a file that open_result opened: checks `out` after the last write, flushes and
// closes it, and puts the temporary in place. When any of these fails, prints "File " +
// path + " cannot be written. (" + reason + ")\n", removes the temporary, enters `path` in
// unwrittenFiles and returns false. A stream that is not open (already reported) gives
// false and nothing more.
bool close_result(RunFiles& files, std::ofstream& out, const std::string& path);

// Writes `text` as the whole of `path` through open_result and close_result.
bool write_result(RunFiles& files, const std::string& path, const std::string& text);

// The record of files that could not be written: entered with the reason, or taken out
// after a complete write.
void record_unwritten(RunFiles& files, const std::string& path, const std::string& reason);
void record_written(RunFiles& files, const std::string& path);

// Records the outcome of the plot `ps_name` and its SVG twin: the files a PlotError names
// (null: none) as unwritten, the others as written.
void record_plot(RunFiles& files, const std::string& ps_name, const PlotError* error);

// Writes the plot page `ps_name` and its SVG twin as draw(page) draws it. A plot file that
// cannot be opened or written has been reported by the plotter; it is recorded, and the
// run goes on.
template <class Draw>
void write_plot(RunFiles& files, const std::string& ps_name, Draw draw) {
    try {
        PSpage page(ps_name, *files.messages);
        draw(page);
        page.close();
    } catch (const PlotError& e) {
        record_plot(files, ps_name, &e);
        return;
    }
    record_plot(files, ps_name, nullptr);
}
