#pragma once
#include "model/model.h"

// Time derivative of the discretised transport system: dydt = f(y); t is ignored.
// Rewrites the interface tables (cIf*, jIf*); the layer cursor stays where it was.
// Allocates nothing.
void evaluate_rhs(model& md, double t, const double* y, double* dydt);
