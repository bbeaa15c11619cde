// The input file: reading the current form "#TAVO2" and the legacy forms "#TAVO" and
// "#ML" into the record, and writing the problem as run back out in the current and the
// legacy form.
#pragma once

#include <string>

#include "model/model.h"

// Reads `inputName`.cci into the record, checking every value as it is read. A file that
// cannot be opened, a wrong first line, a value that cannot be read or is out of range
// throws InputError with a message naming the file, the line and the value.
void read_input_file(model& md);

// Reads from text already in memory; `fileName` is used in messages.
void read_input_text(model& md, const std::string& text, const std::string& fileName);

// Writes `inputName`.cci (current form) and then `inputName`_TAVO1.cci (legacy form) into
// the run folder, from the scaled record after set-up, in input units. Each is written
// whole or reported as not written (output/output_file.h); only a written copy is
// announced as generated.
void write_input_copy(model& md);
void write_legacy_copy(model& md);

// Text of both copies, as written to the files. With `exactNumbers` the current form
// writes every real number in the shortest text that reads back as the same double
// (the copies themselves keep six significant digits).
std::string current_form_text(const model& md, bool exactNumbers = false);
std::string legacy_form_text(const model& md);
