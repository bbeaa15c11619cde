#pragma once
#include <vector>

#include "model/model.h"

// Scaled flux of component c (1..R) at grid point k (0..N) of layer l, positive towards
// the right solution. At the layer edges it is the interface transfer flux of the last
// right-hand-side evaluation; inside, the Nernst-Planck flux from the two neighbouring
// cells.
double flux(const model& md, const double* y, int l, int c, int k);

// The same in the layer the cursor stands on.
double flux(const model& md, const double* y, int c, int k);

// The flux of every component through every interface in the state y, from an evaluation
// of the transport equations at y itself [mol/(m² s)], as [s * R + c - 1] for interface s
// (0..n) and component c, booked by the region on the interface's left (they differ only
// where a layer complexes at its edges).
std::vector<double> interface_flux_table(const model& md, const double* y);

// Places of a layer where the grid study compares concentration profiles: kProfilePlaces
// evenly spaced fractions of its thickness, both edges included.
constexpr int kProfilePlaces = 9;

// Concentrations of every component at the kProfilePlaces places of every layer in the
// state y [mol/m³], as [((l - 1) * R + c - 1) * kProfilePlaces + j] for the place
// j / (kProfilePlaces - 1) of layer l: linear between the concentration nodes, which are
// the edges and the cell centres.
std::vector<double> profile_samples(const model& md, const double* y);

// Membrane potential of the state y: -1000 times the trapezoid integral of the scaled
// field over all layers, so that the result times eScale * L is millivolts. The sum runs
// on across interfaces: the potential is continuous there even where the field is not.
// When `profile` is given, the running sum at every grid point is appended to it, layer
// after layer, starting with 0; a point on an interface occurs twice with one value.
double potential_integral(const model& md, const double* y, std::vector<double>* profile = nullptr);

// The membrane potential of the state y into md.mpot.
void membrane_potential(model& md, const double* y);

// Diffusive part of the flux at the grid point between a cell of width a holding u and a
// cell of width b holding v, for the scaled diffusivity Ds. Algebraically
// -2 Ds (v - u) / (a + b); this grouping is the one every result is computed with.
inline double diffusive_flux(double a, double b, double u, double v, double Ds) {
    return ((a * a * v - b * b * u) + (b * u + a * v) * (b - a)) * (Ds * (-2)) /
           ((a * b) * (a + b));
}

// Migration part: the concentration interpolated linearly from the two cell centres to
// the grid point, times the scaled migration coefficient and the field E there.
inline double migration_flux(double a, double b, double u, double v, double drift, double E) {
    return ((b * u + a * v) / (a + b)) * drift * E;
}
