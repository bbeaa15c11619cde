// Advice for a run on a grid that may be too coarse for its charged layer edges.
#pragma once

#include "base/message_sink.h"
#include "model/model.h"

// True when some layer edge carries space charge at rest: a charged component held inside a
// layer (D = 0, or no transfer through either edge of a layer that holds it), or two charged
// components with different partition ratios Kif/Kib at one interface.
bool edges_charged(const model& md);

// True when the first grid step is one Debye length of the mean ionic strength (on
// --debye-grid) and the layer edges are charged, so interface potentials may be resolved
// poorly: the run then suggests --check-grid once.
bool grid_advice_due(const model& md);

// The advisory line printed once per run when grid_advice_due().
void print_grid_advice(MessageSink& sink);

// The advisory line printed once for a point that failed or went through a negative
// concentration.
void print_point_grid_advice(int point, bool failed, MessageSink& sink);
