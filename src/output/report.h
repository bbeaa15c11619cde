// The run report: an HTML page in the run folder that states the problem every
// calculation of the run was made with, converted back to input units.
#pragma once

#include <string>

#include "model/model.h"
#include "output/run_files.h"

// Writes folders[0] + "/data.html" from the scaled record (after scaling and grid
// construction; the scales and hDebye must be set) and prints "data.html file generated. \n".
// Moves the layer cursor. A file that cannot be written is reported on standard output
// instead (output/output_file.h) and the run goes on.
void write_run_report(model& md, RunFiles& files);

// The body of data.html: method, calibration, scales, grid, layers and the component table,
// in input units. Moves the layer cursor.
std::string problem_statement(const model& md);
