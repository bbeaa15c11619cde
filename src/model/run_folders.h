// The run folder tree: the run folder named after the input, one folder per calibration
// point named after its multiplier, and a "spectrum" folder inside each point folder when
// the method asks for a second run.
#pragma once

#include <string>

#include "model/model.h"

// Fills `folders` (element 0 the run folder, element i the folder of point i) and creates
// the folders. A point whose multiplier text repeats an earlier point's gets the text
// followed by "_" and its point number, so that no point overwrites another's results.
void make_run_folders(model& md, const std::string& base);
