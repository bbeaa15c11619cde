// The result tables are written one after another through the record's shared stream
// `outFile` (precision 15, default format flags).
#pragma once

#include <string>

#include "model/model.h"

// Opens `outFile` on path (truncating) and records the name in fileName. A file that
// cannot be opened is reported as "File " + path + gap + "cannot be opened. \n" (the
// writers differ in that one blank) and the stream stays failed, so the table's lines go
// nowhere.
void open_table(model& md, const std::string& path, const char* gap = "");

// Closes the table and clears the stream's state for the next one.
void close_table(model& md);
