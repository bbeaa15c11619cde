#include "physics/initial_state.h"

#include <cassert>
#include <stdexcept>

namespace {

// Uniform concentrations cM and zero field in layer l.
void set_layer_uniform(model& md, int l) {
    const int N = md.N.at(l);
    for (int c = 1; c <= md.R; ++c) {
        const double value = md.cM.at(l).item(c);
        double* yc = md.y.data() + state_index(md, l, c, 0);
        for (int k = 0; k <= N + 1; ++k) yc[k] = value;
    }
    double* E = md.y.data() + state_index(md, l, md.R + 1, 0);
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
        const int N = md.N.at(l);
        for (int c = 1; c <= md.R; ++c) {
            double* yc = md.y.data() + state_index(md, l, c, 0);
            for (int k = 0; k <= N + 1; ++k) yc[k] = md.savedState[i++] / cScale;
        }
        double* E = md.y.data() + state_index(md, l, md.R + 1, 0);
        for (int k = 0; k <= N; ++k) E[k] = md.savedState[i++] / eScale;
    }
}

}  // namespace

double& region_concentration(model& md, int region, int c) {
    assert(region >= 0 && region <= md.n + 1);
    if (region == 0) return md.cL[c];
    if (region == md.n + 1) return md.cR[c];
    return md.cM.at(region).item(c);
}

void restore_electroneutrality(model& md, int region) {
    const int o = md.oppositeIon;
    double S = 0;
    for (int j = 1; j <= md.R; ++j)
        if (j != o) S += static_cast<double>(md.z[j]) * region_concentration(md, region, j);
    region_concentration(md, region, o) = -S / static_cast<double>(md.z[o]);
}

void set_initial_state(model& md) {
    const int n = md.n;
    const int R = md.R;
    const double M = md.multipliers.at(md.point);
    const int ion = md.changedIon;

    for (int t = 0; t < md.nTargets; ++t) {
        double& c = region_concentration(md, md.targets[t], ion);
        c = M * c;
    }
    for (int region = 0; region <= n + 1; ++region) restore_electroneutrality(md, region);

    md.tBegin = 0;
    md.eisRun = 0;

    if (md.y.size() != static_cast<size_t>(md.nEq)) md.y.assign(md.nEq, 0.0);

    if (md.point == 1) {
        if (md.loadYvec == 0) {
            for (int l = 1; l <= n; ++l) set_layer_uniform(md, l);
            md.t0 = 0;
        } else {
            apply_saved_state(md);
        }
    }

    for (int t = 0; t < md.nTargets; ++t) {
        const int p = md.targets[t];
        if (p >= 1 && p <= n) set_layer_uniform(md, p);
    }

    for (int c = 1; c <= R; ++c) {
        md.cIfLeft[0][c] = md.cL[c];
        md.cIfRight[n][c] = md.cR[c];
    }
}
