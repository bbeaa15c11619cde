// The input file: reading the current form "#TAVO2" and the legacy forms "#TAVO" and
// "#ML" into the record. The copies of the problem as run are written by
// output/input_copy.h.
#pragma once

#include <string>

#include "model/model.h"

// Reads `inputName`.cci into the record, checking every value as it is read. A file that
// cannot be opened, a wrong first line, a value that cannot be read or is out of range
// throws InputError with a message naming the file, the line and the value.
void read_input_file(model& md);

// Reads from text already in memory; `fileName` is used in messages.
void read_input_text(model& md, const std::string& text, const std::string& fileName);
