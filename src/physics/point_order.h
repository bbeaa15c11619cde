// The order in which the integrator holds the unknowns of the transport system. The record
// keeps each layer as blocks (every concentration of component 1 across the layer, then
// component 2, ..., then the field), so the Jacobian couples unknowns N apart. Point by
// point instead (the R concentrations of node 0 and the field at grid point 0, then node
// 1, ..., the R concentrations of the last node; the layers one after another), every
// equation couples only unknowns a few places away, and the Jacobian is a band matrix.
#pragma once

#include <vector>

#include "model/model.h"
#include "numeric/difference_jacobian.h"

// Lower and upper bandwidth of the Jacobian of evaluate_rhs in point order: no equation
// at position p depends on an unknown before p - lower or after p + upper.
struct Bandwidths {
    int lower = 0;
    int upper = 0;
};

// The bandwidths of the record's problem in point order, derived from the couplings that
// evaluate_rhs has: the fluxes between neighbouring nodes and across interfaces, the
// one-sided differences at layer edges (which reach three grid points into the layer), the
// field equation (the charge flux at its grid point), and complexation between the
// components of one node. Needs n, R, N, layerStart, modelType, complexing and ligand;
// costs a few operations per layer, so it serves to size a run before anything is made.
Bandwidths point_order_bandwidths(const model& md);

// The blocks of a block-tridiagonal Jacobian in point order (numeric/block_tridiagonal.h):
// sizes of consecutive groups of positions such that every equation reads only unknowns of
// its own group and the two next to it. Inside a layer a group is the R + 1 unknowns of
// one grid point; the one-sided differences at a layer's edges read three grid points
// deep, so groups there span several points. Derived from the same couplings as the
// bandwidths, row by row.
std::vector<int> point_order_blocks(const model& md);

// The unknowns every equation reads, in point order: equation p reads the positions
// columns[rowStart[p] .. rowStart[p+1]) (increasing, its own among them). Derived from the
// same couplings; a finite-difference Jacobian may perturb together any unknowns that no
// equation reads two of (numeric/difference_jacobian.h).
SparsePattern point_order_pattern(const model& md);

// recordIndex[p] is the index in the record's state vector (md.y) of the unknown at
// position p of the point order; it is a permutation of 0 .. nEq-1.
std::vector<int> point_order(const model& md);
