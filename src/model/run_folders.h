// The run folder tree: the run folder named after the input, one folder per calibration
// point named after its multiplier, and a "spectrum" folder inside each point folder when
// the method asks for a second run.
#pragma once

#include <cstddef>
#include <string>

#include "model/model.h"

// Fills `folders` (element 0 the run folder, element i the folder of point i) and creates
// the folders. A point whose multiplier text repeats an earlier point's gets the text
// followed by "_" and its point number, so that no point overwrites another's results.
void make_run_folders(model& md, const std::string& base);

// Longest input name (without folder part and .cci) a run accepts: the names made from it
// (NAME_TAVO1.cci, NAME.previous-DATE-K) must stay within a file name's 255 bytes.
constexpr std::size_t kMaxInputName = 200;

// Refuses (InputError) an input name that names no file NAME.cci in a folder: empty, ".",
// "..", ending in "/", or longer than kMaxInputName. Checked before the input is read, so
// that no run folder can fall on the working folder or the input file.
void check_input_name(const std::string& inputName);

// Keeps an earlier run: when the run folder of this input exists, it is renamed to
// NAME.previous-YYYY-MM-DDTHH-MM-SS (a number added when that exists too) and a line on
// standard output says so, so that the files of two runs never mix. Something other than a
// folder in its place is refused with InputError. The first change a run makes on disk.
void keep_earlier_run(const model& md);
