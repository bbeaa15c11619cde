// Hand-built model records for the physics tests: the per-layer storage of a record with
// n layers and R components, and the state-vector layout that set-up derives from N.
#pragma once

#include "model/model.h"
#include "test_util.h"

namespace testing_model {

// Allocates every per-layer member that the input reader would, sets the physical
// constants and a room temperature. Layer values stay 0 until the test sets them.
inline void init_layers(model& md, int n, int R) {
    md.F = 96485.3;
    md.Rgas = 8.314;
    md.T = 298.15;
    md.n = n;
    md.R = R;
    md.grid_type.init(&md.layer, n);
    md.N.init(&md.layer, n);
    md.m.init(&md.layer, n);
    md.d.init(&md.layer, n);
    md.cMixt.init(&md.layer, n);
    md.epsilon.init(&md.layer, n);
    md.D.init(&md.layer, n, R);
    md.cM.init(&md.layer, n, R);
    md.complexing.init(&md.layer, n);
    md.layerStart.init(&md.layer, n);
}

// The set-up steps that precede scaling: F/RT, layer offsets, nEq, the state vector.
inline void lay_out(model& md) {
    md.F_RT = md.F / (md.Rgas * md.T);
    md.nEq = 0;
    for (int l = 1; l <= md.n; ++l) {
        md.layer = l;
        md.layerStart.set(md.nEq);
        md.nEq += (md.N.get() + 2) * (md.R + 1) - 1;
    }
    md.y.assign(md.nEq, 0.0);
}

// The derived coefficients and grid arrays, allocated without running the scaling, for
// tests that set scaled coefficients directly.
inline void init_coefficients(model& md) {
    md.Dscaled.init(&md.layer, md.n, md.R);
    md.driftCoef.init(&md.layer, md.n, md.R);
    md.poissonCoef.init(&md.layer, md.n);
    md.currentCoef.init(&md.layer, md.n);
    md.gridX.init(&md.layer, md.n, md.N, 1);
    md.gridY.init(&md.layer, md.n, md.N, 2);
    md.gridH.init(&md.layer, md.n, md.N, 0);
}

// A fresh empty folder under the system's temporary directory, removed on destruction.
using TempDir = testutil::ScratchDir;

}  // namespace testing_model
