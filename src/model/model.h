// The one problem-and-state record. `dane` holds what the input file carries; `model`
// adds the derived coefficients, the grid, the state vector and the run state.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "model/layers.h"
#include "numeric/nr.h"

// Fixed maxima: per-component arrays are indexed 1..R, interface rows 0..n, layer rows
// 1..n, so a problem holds at most 19 components and 19 layers.
constexpr int kMaxSlots = 20;
constexpr int kMaxLayers = kMaxSlots - 1;
constexpr int kMaxComponents = kMaxSlots - 1;

using SlotTable = double[kMaxSlots][kMaxSlots];

class dane {
  public:
    dane() = default;
    dane(const dane&) = delete;  // per-layer members point at this record's cursor
    dane& operator=(const dane&) = delete;

    int modelType = 0;  // 0 = Nernst-Planck-Poisson, 1 = Fickian diffusion only
    double F = 0;       // Faraday constant [C/mol]
    double Rgas = 0;    // gas constant [J/(mol K)]
    int n = 0;          // number of layers
    int layer = 0;      // current-layer cursor, 1-based
    layer_int grid_type;
    int rescalingMethod = 0;                    // 0 none, 1 automatic, 2 automatic_x, 3 manual
    int gridDebyeMethod = 0;                    // 1 automatic, 2 automatic_x, 3 manual
    double L = 0;                               // length scale in use [m]
    double tc = 0;                              // time scale in use [s]
    double cScale = 0;                          // concentration scale in use [mol/m^3]
    double eScale = 0;                          // field scale in use [V/m]
    double xs = 0, ts = 0, cmax = 0, emax = 0;  // requested scales, 0 = automatic
    double h_min = 0;                           // requested first grid step [m], 0 = automatic
    layer_int N;                                // cells per layer
    layer_int m;                                // cells in the Debye length per layer
    int loadYvec = 0;
    int genPS = 0;
    int driftYes = 0;                  // legacy flag, kept only to be read
    int R = 0;                         // number of components
    layer_double d;                    // thickness [m]
    layer_double cMixt;                // legacy average solution concentration [mol/m^3]
    layer_double epsilon;              // dielectric constant [C^2/(J m)]
    double T = 0;                      // temperature [K]
    double hDebye = 0;                 // first grid step in use
    // First grid step of each layer [m], index 1..n, when the grid is chosen per layer
    // (the automatic grid); empty: every layer starts with hDebye.
    std::vector<double> firstStep;
    // N and m per layer (layer l at index l - 1) as the input gives them, when the grid in
    // use has its own; the copies of the input write these.
    std::vector<int> inputN, inputM;
    double currentDensity = 0;         // applied current density [A/m^2]
    layer_double_tab D;                // diffusivity per layer and component [m^2/s]
    layer_double_tab cM;               // initial concentration in each layer (scaled)
    double cL[kMaxSlots] = {};         // left solution (scaled)
    double cR[kMaxSlots] = {};         // right solution (scaled)
    SlotTable Kif = {};                // forward transfer constant [interface][component] (scaled)
    SlotTable Kib = {};                // backward transfer constant (scaled)
    int z[kMaxSlots] = {};             // charge
    std::vector<std::string> folders;  // [0] run folder, [i] folder of point i
    std::string fileName;              // file being read or written, for messages
    std::string inputName;
    double atol = 0;
    double rtol = 0;
    double hInit = 0;  // initial step for the integrator; 0 lets it choose
    int changedIon = 0;
    int oppositeIon = 0;
    int nTargets = 0;
    int nCalib = 0;
    std::vector<int> targets;         // 0 = left solution, 1..n = layer, n+1 = right solution
    std::vector<double> multipliers;  // [0] = 1.0, [i] = multiplier of point i
    int method = 0;                   // 0 potentiometry, 1 EIS, 2 chronopotentiometry
    double tEnd = 0;                  // duration of every point (scaled)
    layer_double complexing;          // 0 none, 1 boundary only, 2 full
    int ligand[kMaxSlots] = {};       // ligand component of each component, <= 0 none
    int complexOf[kMaxSlots] = {};    // complex formed by each reactive component
    SlotTable Kas = {};               // association constant [layer][component] (scaled)
    SlotTable Kdis = {};              // dissociation constant [layer][component] (scaled)
    // Line of the input file where a value group stands, for faults found after reading:
    // "N" (cells per layer), "scales" (requested scales), "loadYvec".
    std::map<std::string, int> inputLines;
    // Values the reader took but found implausible (most likely typed in another unit),
    // one line each, to be shown before the run starts.
    std::vector<std::string> inputNotes;
};

// What one evaluation of the transport equations leaves at the interfaces, per interface
// and component: the concentrations on either side and the flux as each side books it.
struct InterfaceTables {
    SlotTable cIfLeft = {};   // concentration left of each interface
    SlotTable cIfRight = {};  // concentration right of each interface
    SlotTable jIfLeft = {};   // interface flux as booked by the region on the left
    SlotTable jIfRight = {};  // interface flux as booked by the region on the right
};

class model : public dane, public InterfaceTables {
  public:
    double mpot = 0;                 // membrane potential, scaled units x 1000
    layer_double_vec gridX;          // grid points, N+1 per layer (scaled)
    layer_double_vec gridY;          // concentration nodes, N+2 per layer (scaled)
    layer_double_vec gridH;          // cell widths, N per layer (scaled)
    int tStart = 0, tNow = 0;        // wall-clock marks [s]
    int t_calc = 0;                  // elapsed calculation time [s]
    double F_RT = 0;                 // F/(Rgas T) [1/V]
    double t0 = 0;                   // time offset of a loaded initial state [s]
    std::vector<double> savedState;  // y.vec as read [mol/m^3, V/m], empty unless loaded
    layer_double poissonCoef;
    layer_double currentCoef;
    layer_double_tab Dscaled;
    layer_double_tab driftCoef;
    double xb[kMaxSlots] = {};  // scaled layer boundaries
    layer_int layerStart;       // index in y of the first unknown of each layer
    double tBegin = 0;          // start time of the next integration (scaled)
    std::vector<double> y;      // state vector, nEq values
    int nEq = 0;
    int point = 0;                    // current calibration point, 1..nCalib
    int eisRun = 0;                   // 1 while the impedance run of a point is under way
    std::vector<double> Zprim, Zbis;  // impedance per angular frequency
    int nOmega = 0;
    double totalThickness = 0;  // sum of d [m]
    SlotTable Kc = {};          // scaled complex stability cScale*Kas/Kdis
};

// Index in the state vector of block c (components 1..R, field R+1) at point i of layer l.
inline int state_index(const model& md, int l, int c, int i) {
    return md.layerStart.at(l) + (md.N.at(l) + 2) * (c - 1) + i;
}

// The same in the layer the cursor stands on.
inline int state_index(const model& md, int c, int i) { return state_index(md, md.layer, c, i); }

// The run-wide result series, created empty at start-up and living beside the record.
struct RunSeries {
    VecDoub potSeries;    // membrane potential [mV] per reported step of the current run
    VecDoub timeSeries;   // time [s] per reported step
    VecDoub tcalcSeries;  // calculation time [s] per reported step
    // Of a current-step run, per reported step as timeSeries (the first: the switch-on, 1):
    // how far the edge concentrations have fallen from their values at the switch-on
    // (lowest_edge_ratio), which edgeStart holds (scaled).
    VecDoub depletionSeries;
    std::vector<double> edgeStart;
    VecDoub calMult;      // multiplier per calibration point
    VecDoub calLogMult;   // log10 of the multiplier
    VecDoub calPot;       // end potential [mV] per point
    VecDoub calTcalc;     // calculation time [s] per point
    VecDoub allTime;      // time on one continuous axis over all points [s]
    VecDoub allPot;       // potential over all points [mV]
    int totalPoints = 0;  // sum of N over all layers
};
