#include "physics/initial_state.h"

#include <iostream>
#include <stdexcept>

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

// The state read from y.vec (physical units) into y, scaled.
void apply_saved_state(model& md) {
    if (md.savedState.size() != static_cast<std::size_t>(md.nEq))
        throw std::logic_error("the saved state was not read before the first point");
    const double cScale = md.cScale;
    const double eScale = md.eScale;
    std::size_t i = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        const int N = md.N.get();
        for (int c = 1; c <= md.R; ++c) {
            double* yc = md.y.data() + state_index(md, c, 0);
            for (int k = 0; k <= N + 1; ++k) yc[k] = md.savedState[i++] / cScale;
        }
        double* E = md.y.data() + state_index(md, md.R + 1, 0);
        for (int k = 0; k <= N; ++k) E[k] = md.savedState[i++] / eScale;
    }
}

}  // namespace

void set_initial_state(model& md) {
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
            apply_saved_state(md);
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
