// Profiles across the membrane stack in physical units: the grid file xh.dat of the run,
// and at the end of every integration run the state-vector file y.vec, the grid-point
// table xwyn.dat, the concentration-node table ywyn.dat and the six-panel plot wyn.ps.
#pragma once

#include <string>

#include "model/model.h"
#include "output/run_files.h"

// Writes wyn.ps (when genPS is 1), y.vec, xwyn.dat and ywyn.dat into
// folders[point] + "/" + prefix (prefix "" or "spectrum//"). Reads the last sample of
// series.timeSeries as the end time of the run. Leaves md.mpot at the membrane potential
// of the final state (md.mpot * L * eScale is mV); the layer cursor stays where it was.
void write_profiles(model& md, RunFiles& files, const RunSeries& series, const std::string& prefix);

// Writes the grid file xh.dat into the run folder folders[0]: per layer, one line "r y x h"
// per cell (running row number, concentration node, grid point, cell width, in metres),
// then "r y x - " for the last grid point and "r y - - " for the last node.
void write_grid_file(model& md, RunFiles& files);
