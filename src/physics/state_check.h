// Checks of a state vector that the integrator's error control does not make.
#pragma once

#include "model/model.h"

// True when a concentration of the state y (record layout, scaled) lies below `floor`
// (a negative number: values between it and 0 are within the absolute tolerance and count
// as zero).
bool has_negative_concentration(const model& md, const double* y, double floor);

// The lowest and the highest concentration of the state y (record layout, scaled).
struct ConcentrationRange {
    double lowest = 0;
    double highest = 0;
};
ConcentrationRange concentration_range(const model& md, const double* y);

// What the inputs of the point now in the record allow at zero current, far from any
// transient: every concentration at or below `concentration` (scaled), every membrane
// potential within ±`potential` [mV].
//
// At equilibrium an ion crosses each interface in the ratio Kif/Kib of its transfer
// constants, times a Boltzmann factor whose potential is itself set by the concentrations
// on either side; so no concentration exceeds the largest one given (solutions, layers,
// fixed sites) times the largest partition ratio of every interface in turn. A potential
// at zero current lies between the Nernst potentials of the ions, each at most
// (RT/F)·ln of the largest over the smallest concentration given, plus ln of each
// interface's largest partition ratio.
struct PhysicalBounds {
    double concentration = 0;  // scaled
    double potential = 0;      // [mV]
};
PhysicalBounds physical_bounds(const model& md);
