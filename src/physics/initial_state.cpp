#include "physics/initial_state.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "model/errors.h"

#ifdef _WIN32
#include <io.h>
#define TAVOLINE_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define TAVOLINE_ISATTY(fd) isatty(fd)
#endif

namespace {

// Opposite-ion concentration that makes the region c[1..R] electrically neutral.
void neutralise(const model& md, double* c) {
    const int o = md.oppositeIon;
    double S = 0;
    for (int j = 1; j <= md.R; ++j)
        if (j != o) S += static_cast<double>(md.z[j]) * c[j];
    c[o] = -S / static_cast<double>(md.z[o]);
}

// The same for the layer row of cM (components 1..R through the cursor).
void neutralise_layer(model& md) {
    const int o = md.oppositeIon;
    double S = 0;
    for (int j = 1; j <= md.R; ++j)
        if (j != o) S += static_cast<double>(md.z[j]) * md.cM.item(j);
    md.cM.item(o) = -S / static_cast<double>(md.z[o]);
}

void check_calibration(const model& md) {
    const int R = md.R;
    if (md.changedIon < 1 || md.changedIon > R)
        throw InputError("Calibration: the changed ion " + std::to_string(md.changedIon) +
                         " is not one of the components 1.." + std::to_string(R));
    if (md.oppositeIon < 1 || md.oppositeIon > R)
        throw InputError("Calibration: the opposite ion " + std::to_string(md.oppositeIon) +
                         " is not one of the components 1.." + std::to_string(R));
    if (md.z[md.oppositeIon] == 0)
        throw InputError("Calibration: the opposite ion " + std::to_string(md.oppositeIon) +
                         " has charge 0 and cannot restore electroneutrality");
    for (int t = 0; t < md.nTargets; ++t) {
        const int p = md.targets.at(t);
        if (p < 0 || p > md.n + 1)
            throw InputError("Calibration: target " + std::to_string(p) +
                             " is not 0 (left solution), a layer 1.." + std::to_string(md.n) +
                             " or " + std::to_string(md.n + 1) + " (right solution)");
    }
}

// Uniform concentrations cM and zero field in the current layer.
void set_layer_uniform(model& md) {
    const int N = md.N.get();
    for (int c = 1; c <= md.R; ++c) {
        const double value = md.cM.item(c);
        double* yc = md.y.data() + state_index(md, c, 0);
        for (int k = 0; k <= N + 1; ++k) yc[k] = value;
    }
    double* E = md.y.data() + state_index(md, md.R + 1, 0);
    for (int k = 0; k <= N; ++k) E[k] = 0;
}

// A y.vec that does not fit the problem: the size message, one key when a person is
// watching, then the end of the run.
[[noreturn]] void wrong_size() {
    std::cout << "Input data error: wrong input vector size" << std::flush;
    if (TAVOLINE_ISATTY(0)) {
        char ch;
        std::cin >> ch;
    }
    throw ReportedError("Input data error: wrong input vector size");
}

// Reads the state saved by the profile writer: the count nEq, the end time [s], then the
// state in state-vector order in physical units (mol/m^3, V/m). Everything is read before
// y is touched.
void load_state(model& md) {
    const std::string name = "y.vec";
    std::ifstream in(name);
    if (!in.is_open()) {
        std::cout << "File " << name << " cannot be opened.\n";
        wrong_size();
    }
    int count = 0;
    if (!(in >> count) || count != md.nEq) wrong_size();

    double time = 0;
    if (!(in >> time))
        throw InputError("y.vec: the time after the count " + std::to_string(count) +
                         " is missing or not a number");
    std::vector<double> values(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (!(in >> values[i])) {
            if (in.eof())
                throw InputError("y.vec: holds only " + std::to_string(i) + " of the " +
                                 std::to_string(count) + " state values its count promises");
            in.clear();
            std::string token;
            in >> token;
            throw InputError("y.vec: state value " + std::to_string(i + 1) + " of " +
                             std::to_string(count) + " is not a number: \"" + token + "\"");
        }
    }

    md.t0 = time;
    const double cScale = md.cScale;
    const double eScale = md.eScale;
    size_t i = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const int N = md.N.get();
        for (int c = 1; c <= md.R; ++c) {
            double* yc = md.y.data() + state_index(md, c, 0);
            for (int k = 0; k <= N + 1; ++k) yc[k] = values[i++] / cScale;
        }
        double* E = md.y.data() + state_index(md, md.R + 1, 0);
        for (int k = 0; k <= N; ++k) E[k] = values[i++] / eScale;
    }
}

}  // namespace

void set_initial_state(model& md) {
    check_calibration(md);
    const int n = md.n;
    const int R = md.R;
    const double M = md.multipliers.at(md.point);
    const int ion = md.changedIon;

    for (int t = 0; t < md.nTargets; ++t) {
        const int p = md.targets[t];
        if (p == 0) {
            md.cL[ion] = M * md.cL[ion];
        } else if (p == n + 1) {
            md.cR[ion] = M * md.cR[ion];
        } else {
            md.layer = p;
            md.cM.item(ion) = M * md.cM.item(ion);
        }
    }

    neutralise(md, md.cL);
    for (int l = 1; l <= n; ++l) {
        md.layer = l;
        neutralise_layer(md);
    }
    neutralise(md, md.cR);

    md.tBegin = 0;
    md.eisRun = 0;

    if (md.y.size() != static_cast<size_t>(md.nEq)) md.y.assign(md.nEq, 0.0);

    if (md.point == 1) {
        if (md.loadYvec == 0) {
            for (int l = 1; l <= n; ++l) {
                md.layer = l;
                set_layer_uniform(md);
            }
            md.t0 = 0;
        } else {
            load_state(md);
        }
    }

    for (int t = 0; t < md.nTargets; ++t) {
        const int p = md.targets[t];
        if (p < 1 || p > n) continue;
        md.layer = p;
        set_layer_uniform(md);
    }

    for (int c = 1; c <= R; ++c) {
        md.cIfLeft[0][c] = md.cL[c];
        md.cIfRight[n][c] = md.cR[c];
    }

    std::cout << "\n** iteration number " << md.point << "\n";
}
