// The saved state y.vec in the working folder, read as the initial state of the first
// calibration point when the input asks for it (`loadYvec` 1).
#pragma once

#include "base/message_sink.h"
#include "model/model.h"

// Reads and checks y.vec into md.savedState (physical units: mol/m^3 and V/m, in the
// state vector's order) and md.t0 (the time it was saved at [s]), before anything is
// written: the count must be nEq, every value a finite number that stays finite when
// divided by its scale (cScale or eScale), every concentration not negative. A file that
// cannot be opened or holds another count tells the size message to `sink` (and waits for
// a key when a person is watching) and throws ReportedError; any other fault throws
// InputError naming y.vec, the line and the value. Needs n, R, N, nEq, layerStart and the
// scales.
void read_state_file(model& md, MessageSink& sink = standard_output());
