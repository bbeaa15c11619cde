// The copies of the input as run: the problem written back out, from the scaled record
// after set-up and in input units, in the current form "#TAVO2" and the legacy form "#TAVO".
#pragma once

#include <string>

#include "model/model.h"
#include "output/run_files.h"

// Writes `inputName`.cci (current form) and then `inputName`_TAVO1.cci (legacy form) into
// the run folder, from the scaled record after set-up, in input units. Each is written
// whole or reported as not written (output/output_file.h); only a written copy is
// announced as generated.
void write_input_copy(model& md, RunFiles& files);
void write_legacy_copy(model& md, RunFiles& files);

// Text of both copies, as written to the files. With `exactNumbers` the current form
// writes every real number in the shortest text that reads back as the same double
// (the copies themselves keep six significant digits).
std::string current_form_text(const model& md, bool exactNumbers = false);
std::string legacy_form_text(const model& md);
