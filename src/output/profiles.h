// Profiles across the membrane stack in physical units: the grid file xh.dat of the run,
// and at the end of every integration run the state-vector file y.vec, the grid-point
// table xwyn.dat, the concentration-node table ywyn.dat and the six-panel plot wyn.ps.
#pragma once

#include <string>
#include <vector>

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

// Profiles of the whole stack in physical units. Layers are concatenated in order; a point
// on an interface occurs twice, as the last point of the left layer and the first of the
// right one.
struct ProfileData {
    std::vector<double> x;                  // grid points [m]
    std::vector<double> yPos;               // concentration nodes [m]
    std::vector<std::vector<double>> conc;  // [c-1][node], mol/m^3
    std::vector<std::vector<double>> flux;  // [c-1][grid point], mol/(m^2 s)
    std::vector<double> field;              // V/m
    std::vector<double> potential;          // mV
    std::vector<double> zcSum;              // sum of z_c c_c per node
    std::vector<double> zjSum;              // sum of z_c J_c per grid point
    double mpot = 0;                        // membrane potential, scaled units x 1000
};

// The profiles of the record's state in physical units.
ProfileData profile_data(const model& md);
