// The linearisation of the transport system at a state: the Jacobian df/dy of
// evaluate_rhs, the column of the applied current, and the membrane potential as a linear
// function of the state. The Jacobian is the finite-difference one that the stiff
// integrator forms (numeric/difference_jacobian.h), on the banded path in point order and
// on the dense path in the record's order, so that a small-signal analysis sees the
// matrix the integration saw.
#pragma once

#include <vector>

#include "model/model.h"
#include "numeric/nr.h"
#include "physics/point_order.h"

// The Jacobian in point order, as a band by rows: rows[i - j + band.upper][j] is
// df_i/dy_j for the unknowns at positions i and j; recordIndex[p] is the record index of
// position p (physics/point_order.h).
struct PointOrderJacobian {
    std::vector<int> recordIndex;
    Bandwidths band;
    MatDoub rows;
};

// Unit roundoff the differences are formed with: the integrator's.
constexpr double kJacobianRoundoff = 1e-16;

// At the state y (record layout). The record is left as it was found (the interface
// tables that evaluate_rhs rewrites are restored).
PointOrderJacobian transport_jacobian_banded(model& md, const double* y);

// The full Jacobian at y in the record's order: jac[i][j] = df_i/dy_j. As above.
MatDoub transport_jacobian_dense(model& md, const double* y);

// d(dy/dt)/d(current density) in the record's layout [per A/m²]: the applied-current term
// of the field equations (scaled time and field), zero elsewhere.
std::vector<double> applied_current_column(const model& md);

// Combinations of the equations that vanish identically, each a conserved quantity of
// the discretised system (weights of record indices; the first term has weight 1 and
// names the equation a caller may replace by it):
// - Gauss's law in its time-differentiated form keeps E_k - E_(k-1) - poissonCoef h_(k-1)
//   sum_c z_c c_(c,k) constant in every cell k = 1..N of every layer: the field changes
//   with the charge flux, the cell's charge with the difference of the fluxes at its faces,
//   and the applied current adds to every field alike (diffusion only: E_k - E_(k-1));
// - the edge elements' one-sided differences are the quadratic extrapolation of the
//   neighbouring cells' rates: c_0 - a c_1 - b c_2 with a = (2 h_0 + h_1) / (h_0 + h_1),
//   b = -h_0 / (h_0 + h_1), and its mirror image at the right edge, for every component.
// Reactions inside a layer break the second kind; a caller checks each against the
// Jacobian before it relies on it.
struct ConservedCombination {
    std::vector<std::pair<int, double>> terms;
};
std::vector<ConservedCombination> conserved_combinations(const model& md);

// Amounts that no flux changes: a component that crosses neither interface of a layer
// (Kif = Kib = 0 at both) and takes part in no reaction there keeps its amount in the
// layer, sum over the cells k = 1..N of h_(k-1) c_(c,k) (the edge elements follow their
// neighbours). Unlike the combinations above these reach across the whole layer.
std::vector<ConservedCombination> conserved_amounts(const model& md);

// The membrane potential as a linear function of the state: weights w (record layout, on
// the field unknowns) with potential_integral(md, y) = sum_i w_i y_i.
std::vector<double> potential_weights(const model& md);

// f(y), the scaled time derivative of the state y (record layout), the record left as found.
std::vector<double> state_rate(model& md, const double* y);

// The rate of the membrane potential [mV/s] at the state y: its derivative along f(y).
double potential_rate(model& md, const double* y);
