#pragma once
#include "model/model.h"

// Applies the current point's multiplier, restores electroneutrality, sets the state
// vector (uniform, or at the first point the saved state md.savedState read from y.vec
// beforehand, target layers reset) and the bulk interface values, and announces the point.
void set_initial_state(model& md);

// Concentration (scaled) of component c in a calibration region: 0 the left solution,
// 1..n that layer, n+1 the right solution.
double& region_concentration(model& md, int region, int c);

// Gives the opposite ion of a calibration region the concentration that makes the region
// electrically neutral, sum over c of z_c c_c = 0.
void restore_electroneutrality(model& md, int region);
