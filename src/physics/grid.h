#pragma once
#include "model/model.h"

// Builds the refined finite-volume grid of every layer (scaled positions and widths).
// Throws InputError when a layer's grid is undefined.
void build_grid(model& md);
