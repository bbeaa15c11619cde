// Profiles across the membrane stack at the end of an integration run: the state-vector
// file y.vec, the grid-point table xwyn.dat, the concentration-node table ywyn.dat and
// the six-panel plot wyn.ps, all in physical units.
#pragma once

#include <string>

#include "model/model.h"

// Writes wyn.ps (when genPS is 1), y.vec, xwyn.dat and ywyn.dat into
// folders[point] + "/" + prefix (prefix "" or "spectrum//"). Reads the last sample of
// series.timeSeries as the end time of the run. Leaves md.mpot at the membrane potential
// of the final state (md.mpot * L * eScale is mV) and moves the layer cursor.
void write_profiles(model& md, const RunSeries& series, const std::string& prefix);
