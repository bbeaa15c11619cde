#pragma once
#include "model/model.h"

// Scaled flux of component c at grid point k of the current layer.
double flux(const model& md, const double* y, int c, int k);

// Membrane potential of the state y into md.mpot (scaled units x 1000).
void membrane_potential(model& md, const double* y);
