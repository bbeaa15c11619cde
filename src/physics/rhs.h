#pragma once
#include "model/model.h"

// Time derivative of the discretised transport system: dydt = f(y); t is ignored.
// Rewrites the interface tables and moves the layer cursor. Allocates nothing.
void evaluate_rhs(model& md, double t, const double* y, double* dydt);
