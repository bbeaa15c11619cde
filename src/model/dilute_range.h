// The range of concentrations within which the model holds. The transport equations are
// those of a dilute, ideal solution: every ion a point charge moving through a continuum
// solvent, its activity equal to its concentration, the solvent's own concentration
// constant and no salt precipitating. A problem whose inputs or whose states reach
// concentrations of mol/L is outside that model, and no grid makes its answer right.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/model.h"

// Highest concentration of any component [mol/m^3] within which the model is run: 5 mol/L.
// Water is 55.5 mol/L, so 5 mol/L of an ion and as much of its counter-ion leave about five
// water molecules per ion, fewer than one hydration shell (K+ and Na+ hold six to eight in
// their first); the Debye length there, 0.14 nm in water and a quarter of that in a membrane
// of relative permittivity 5, is below an ion's own radius, so the continuum of point charges
// the Poisson equation describes no longer exists; and the salts of potentiometric practice
// saturate about there (KCl at 4.0 mol/L at 25 °C, the saturated KCl of reference
// electrodes and salt bridges, NaCl at 5.4 mol/L). The activity coefficients of 1:1 salts
// are already 0.6 to 0.7 at 1 mol/L, so results above 1 mol/L are approximate; the limit
// admits them, the 3 mol/L and saturated KCl of reference electrodes included, and refuses
// what no solution holds.
constexpr double kDiluteLimit = 5000;

// A concentration the input implies beyond kDiluteLimit at the edge of a layer (or in the
// layer itself): per component, the concentration [mol/m^3] it comes from, in the region
// `from`, and the ratio of transfer constants that carries it across the interface.
struct DiluteExcess {
    int interface = -1;  // -1: the layer's own concentration
    int layer = 0;       // 1..n
    int from = 0;        // region: 0 left solution, 1..n a layer, n+1 right solution
    struct Part {
        int component = 0;
        double source = 0;        // [mol/m^3] in `from`
        double kif = 0, kib = 0;  // [m/s] at the interface (0 for the layer's own)
        double ratio = 1;         // concentration at the edge over `source`
        double implied = 0;       // [mol/m^3]
        bool calibrated = false;  // `source` is the changed ion at the largest multiplier
    };
    std::vector<Part> parts;  // every component beyond the limit there
};

// The first layer, in order, whose own concentrations or whose edges at transfer
// equilibrium reach beyond kDiluteLimit, from an unscaled record as read. Concentrations
// are those the calibration sets: the changed ion in its targets at every point's
// multiplier, the opposite ion at the value that makes each region neutral. At an
// interface whose both transfer constants are positive the transfer kinetics hold
// c_right/c_left = Kif/Kib, so the edge of a layer approaches the neighbouring region's
// concentration times that ratio (Kib/Kif from the right). None when all stay within it.
std::optional<DiluteExcess> dilute_range_excess(const model& md);

// The name of a region in messages: "the left solution", "layer 2", "the right solution".
std::string region_name(int region, int n);

// The message of an excess, without the file and line: what the input implies where, and
// why it is refused.
std::string dilute_excess_text(const DiluteExcess& excess, int n);
