#pragma once
#include "model/model.h"

// Chooses the length, time, concentration and field scales and the first grid step,
// then rewrites the record in place in dimensionless values with its derived
// coefficients. Throws InputError when a scale comes out zero, negative or not finite.
void scale_model(model& md);
