#pragma once
#include "model/model.h"

// Time derivative of the discretised transport system: dydt = f(y); t is ignored.
// Rewrites the interface tables (cIf*, jIf*); the layer cursor stays where it was.
// Allocates nothing.
void evaluate_rhs(model& md, double t, const double* y, double* dydt);

// The same from a record that is only read, into the interface tables `tables`: two
// evaluations on one record, each with tables of its own, may run on two threads at once.
void evaluate_rhs(const model& md, InterfaceTables& tables, const double* y, double* dydt);
