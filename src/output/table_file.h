// The result tables are written one after another through the run's shared stream
// `outFile` (RunFiles) (precision 15, default format flags).
#pragma once

#include <ostream>
#include <string>

#include "model/model.h"
#include "output/run_files.h"

// Opens `outFile` on the temporary of `path` (output/output_file.h) and records the name
// in fileName. A file that cannot be opened is reported as "File " + path + gap +
// "cannot be opened. (" + reason + ")\n" (the writers differ in that one blank) and the
// stream stays failed, so the table's lines go nowhere.
void open_table(model& md, RunFiles& files, const std::string& path, const char* gap = "");

// Completes the table: checked, closed and put in place under its name, or reported and
// removed (close_result). Clears the stream's state for the next one. True when the
// table stands complete under its name.
bool close_table(RunFiles& files);

// Writes `v` to `out` as `out << v` does with the tables' flags (general notation, the
// stream's precision), through std::to_chars: the state and profile tables hold a number
// per unknown, and the stream's own conversion costs several times as much.
void put_number(std::ostream& out, double v);
