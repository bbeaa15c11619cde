// What the figures and tables of a run are drawn from, gathered point by point while the
// run goes on: plain vectors in physical units, no record.
#pragma once

#include <optional>
#include <vector>

struct PointTraces {
    int point = 0;  // 0: not reached
    std::vector<double> time, potential;  // potentiometric run: t [s], E [mV] per step
    std::vector<double> nodeX;            // [m] concentration nodes, layer after layer
    std::vector<std::vector<double>> concentration;  // [component][node] [mol/m³]
    std::vector<double> gridX;                       // [m] grid points, layer after layer
    std::vector<double> potentialProfile;            // [mV] at the grid points
    std::vector<double> field;                       // [V/m] at the grid points
    // impedance: frequency [Hz], Z' and -Z'' [ohm m²] (Z = Z' + i Z'')
    std::vector<double> frequency, zReal, zImaginaryNegative;
    // the same from the linearised system (experiments/linear_impedance.h)
    std::vector<double> linearFrequency, linearZReal, linearZImaginaryNegative;
    std::optional<double> transitionTime;  // [s] of the chronopotentiogram, when it has one
};

struct RunTraces {
    int method = 0;                  // 0 potentiometry, 1 impedance, 2 chronopotentiometry
    int changedIon = 0;              // component number of the calibration's changed ion
    std::vector<int> charges;        // z of components 1..R
    std::vector<double> layerEdges;  // [m] 0, d1, d1 + d2, ...
    std::vector<PointTraces> points;  // [point - 1]

    PointTraces& at(int point) {
        if (static_cast<int>(points.size()) < point) points.resize(static_cast<std::size_t>(point));
        PointTraces& p = points[static_cast<std::size_t>(point - 1)];
        p.point = point;
        return p;
    }
};
