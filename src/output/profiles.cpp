#include "output/profiles.h"

#include <iostream>
#include <vector>

#include "physics/flux.h"

namespace {

// Profiles of the whole stack in physical units. Layers are concatenated in order; a point
// on an interface occurs twice, as the last point of the left layer and the first of the
// right one.
struct Profiles {
    std::vector<double> x;                  // grid points [m]
    std::vector<double> yPos;               // concentration nodes [m]
    std::vector<std::vector<double>> conc;  // [c-1][node], mol/m^3
    std::vector<std::vector<double>> flux;  // [c-1][grid point], mol/(m^2 s)
    std::vector<double> field;              // V/m
    std::vector<double> potential;          // mV
    std::vector<double> zcSum;              // sum of z_c c_c per node
    std::vector<double> zjSum;              // sum of z_c J_c per grid point
};

Profiles build_profiles(model& md) {
    Profiles p;
    p.conc.resize(md.R);
    p.flux.resize(md.R);
    const double* y = md.y.data();
    const int R = md.R;

    // Potential by the trapezoid rule on every cell, running on across interfaces: the
    // potential is continuous there even where the field is not. 500 = 0.5 * 1000 (mV).
    md.mpot = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const int N = md.N.get();
        const double* X = md.gridX.row();
        const double* Y = md.gridY.row();
        const double* h = md.gridH.row();
        for (int i = 0; i <= N; ++i) p.x.push_back(X[i] * md.L);
        for (int i = 0; i <= N + 1; ++i) p.yPos.push_back(Y[i] * md.L);
        for (int c = 1; c <= R; ++c) {
            for (int i = 0; i <= N + 1; ++i)
                p.conc[c - 1].push_back(y[state_index(md, c, i)] * md.cScale);
            for (int i = 0; i <= N; ++i)
                p.flux[c - 1].push_back(flux(md, y, c, i) * md.cScale * md.L / md.tc);
        }
        const int e0 = state_index(md, R + 1, 0);
        for (int i = 0; i <= N; ++i) p.field.push_back(y[e0 + i] * md.eScale);

        p.potential.push_back(p.potential.empty() ? 0.0 : p.potential.back());
        for (int i = 1; i <= N; ++i) {
            md.mpot = md.mpot - 500 * h[i - 1] * (y[e0 + i - 1] + y[e0 + i]);
            p.potential.push_back(md.mpot * md.L * md.eScale);
        }
    }

    p.zcSum.assign(p.yPos.size(), 0.0);
    p.zjSum.assign(p.x.size(), 0.0);
    for (int c = 1; c <= R; ++c) {
        for (size_t i = 0; i < p.zcSum.size(); ++i) p.zcSum[i] += md.z[c] * p.conc[c - 1][i];
        for (size_t i = 0; i < p.zjSum.size(); ++i) p.zjSum[i] += md.z[c] * p.flux[c - 1][i];
    }
    return p;
}

// Opens md.outFile on path for one table; a failure is reported and the lines then go
// nowhere.
void open_table(model& md, const std::string& path) {
    md.fileName = path;
    md.outFile.precision(15);
    md.outFile.open(path);
    if (!md.outFile) std::cout << "File " << path << "cannot be opened. \n";
}

void close_table(model& md) {
    md.outFile.close();
    md.outFile.clear();
}

// y.vec: nEq, the end time [s], then the state in state-vector order in physical units
// (concentrations mol/m^3, field V/m), every token followed by one blank, no line end.
void write_state_file(model& md, const RunSeries& series, const std::string& path) {
    double tEndRun = md.t0;
    if (series.timeSeries.size() > 0) {
        tEndRun = series.timeSeries[series.timeSeries.size() - 1] + md.t0;
    } else {
        std::cout << "No time samples recorded; y.vec is written with the time offset " << md.t0
                  << " s as its time.\n";
    }
    open_table(md, path);
    std::ostream& out = md.outFile;
    out << md.nEq << " " << tEndRun << " ";
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const int N = md.N.get();
        for (int c = 1; c <= md.R; ++c)
            for (int i = 0; i <= N + 1; ++i) out << md.y[state_index(md, c, i)] * md.cScale << " ";
        for (int i = 0; i <= N; ++i) out << md.y[state_index(md, md.R + 1, i)] * md.eScale << " ";
    }
    close_table(md);
}

void write_grid_point_table(model& md, const Profiles& p, const std::string& path) {
    open_table(md, path);
    std::ostream& out = md.outFile;
    out << "x E mempot";
    for (int c = 1; c <= md.R; ++c) out << " j" << c;
    out << " zjSum \n";
    for (size_t i = 0; i < p.x.size(); ++i) {
        out << p.x[i] << " " << p.field[i] << " " << p.potential[i];
        for (int c = 1; c <= md.R; ++c) out << " " << p.flux[c - 1][i];
        out << " " << p.zjSum[i] << "\n";
    }
    close_table(md);
}

void write_node_table(model& md, const Profiles& p, const std::string& path) {
    open_table(md, path);
    std::ostream& out = md.outFile;
    out << "y";
    for (int c = 1; c <= md.R; ++c) out << " c" << c;
    out << " zcSum \n";
    for (size_t i = 0; i < p.yPos.size(); ++i) {
        out << p.yPos[i];
        for (int c = 1; c <= md.R; ++c) out << " " << p.conc[c - 1][i];
        out << " " << p.zcSum[i] << "\n";
    }
    close_table(md);
}

}  // namespace

void write_profiles(model& md, const RunSeries& series, const std::string& prefix) {
    if (md.point < 0 || md.point >= static_cast<int>(md.folders.size())) {
        std::cout << "No run folder for calibration point " << md.point
                  << "; the profile files are not written.\n";
        return;
    }
    const std::string base = md.folders[md.point] + "/" + prefix;
    const Profiles p = build_profiles(md);
    write_state_file(md, series, base + "y.vec");
    write_grid_point_table(md, p, base + "xwyn.dat");
    write_node_table(md, p, base + "ywyn.dat");
}
