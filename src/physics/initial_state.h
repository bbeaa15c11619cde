#pragma once
#include "model/model.h"

// Applies the current point's multiplier, restores electroneutrality, sets the state
// vector (uniform, or at the first point the saved state md.savedState read from y.vec
// beforehand, target layers reset) and the bulk interface values, and announces the point.
void set_initial_state(model& md);
