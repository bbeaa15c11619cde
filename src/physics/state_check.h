// Checks of a state vector that the integrator's error control does not make.
#pragma once

#include <vector>

#include "model/model.h"

// True when a concentration of the state y (record layout, scaled) lies below `floor`
// (a negative number: values between it and 0 are within the absolute tolerance and count
// as zero).
bool has_negative_concentration(const model& md, const double* y, double floor);

// The lowest and the highest concentration of the state y (record layout, scaled).
struct ConcentrationRange {
    double lowest = 0;
    double highest = 0;
};
ConcentrationRange concentration_range(const model& md, const double* y);

// The concentrations at the layer edges of the state y (record layout, scaled), as
// [((l - 1) * 2 + side) * R + c - 1], side 0 the left edge of layer l, 1 its right edge.
std::vector<double> edge_concentrations(const model& md, const double* y);

// How far the edge concentrations of y have fallen from `start` (edge_concentrations of an
// earlier state): the lowest ratio c/c_start over the layer edges and the components that
// made at least a hundredth of the largest concentration at their edge in `start`. A trace
// component that leaves an edge carries no share of the current worth the name; the
// potential does not follow it. 1 when no component qualifies.
double lowest_edge_ratio(const model& md, const std::vector<double>& start, const double* y);

// What the inputs of the point now in the record allow at zero current, far from any
// transient: every membrane potential within ±`potential` [mV], every concentration at
// or below `concentration` (scaled).
//
// A potential at zero current is made of the interfaces' partition and Donnan potentials
// and the layers' diffusion potentials. The first lie between the Nernst potentials of the
// ions; each is at most (RT/F)·ln of the largest over the smallest concentration given
// (solutions, layers, fixed sites), plus ln of the largest partition ratio Kif/Kib (either
// way) of every interface it crosses. A diffusion potential is not bounded by
// concentration ratios (a liquid junction of two salts at one concentration has one of
// tens of mV); it is bounded by Henderson's junction between the compositions that a
// layer's two edges approach, which counts an ion present on one side only like any other
// (Nernst–Planck–Poisson model only). A concentration at equilibrium is one given, carried across
// the interfaces by their partition ratios and raised by a Boltzmann factor exp(|z|·F·ψ/RT) whose
// potential ψ lies within that bound: at most cmax · P · (cmax/cmin · P)^|z|max, P the product of
// the interfaces' largest ratios. The charged edges of a membrane do reach a good part of that:
// space charge packs counter-ions there.
struct PhysicalBounds {
    double concentration = 0;  // scaled
    double potential = 0;      // [mV]
};
PhysicalBounds physical_bounds(const model& md);
