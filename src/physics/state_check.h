// Checks of a state vector that the integrator's error control does not make.
#pragma once

#include "model/model.h"

// True when a concentration of the state y (record layout, scaled) lies below `floor`
// (a negative number: values between it and 0 are within the absolute tolerance and count
// as zero).
bool has_negative_concentration(const model& md, const double* y, double floor);
