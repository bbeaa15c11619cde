#include "driver/grid_advice.h"

namespace {

// Partition ratio Kif/Kib of component c at interface s; infinite when only Kif is set.
double partition_ratio(const model& md, int s, int c) { return md.Kif[s][c] / md.Kib[s][c]; }

bool transfers(const model& md, int s, int c) { return md.Kif[s][c] != 0 || md.Kib[s][c] != 0; }

bool held_in_layer(const model& md, int l, int c) {
    if (md.z[c] == 0 || !(md.cM.at(l).item(c) > 0)) return false;
    return md.D.at(l).item(c) == 0 || (!transfers(md, l - 1, c) && !transfers(md, l, c));
}

bool unequal_partition(const model& md, int s) {
    double first = 0;
    bool seen = false;
    for (int c = 1; c <= md.R; ++c) {
        if (md.z[c] == 0 || !transfers(md, s, c)) continue;
        const double ratio = partition_ratio(md, s, c);
        if (seen && ratio != first) return true;
        first = ratio;
        seen = true;
    }
    return false;
}

}  // namespace

bool edges_charged(const model& md) {
    bool charged = false;
    for (int l = 1; l <= md.n && !charged; ++l)
        for (int c = 1; c <= md.R && !charged; ++c) charged = held_in_layer(md, l, c);
    for (int s = 0; s <= md.n && !charged; ++s) charged = unequal_partition(md, s);
    return charged;
}

bool grid_advice_due(const model& md) { return md.gridDebyeMethod == 1 && edges_charged(md); }

void print_grid_advice(MessageSink& sink) {
    tell(sink,
         "\nThe layer edges are charged and the first grid step is the automatic one (a "
         "Debye length of the mean ionic strength), which can leave interface potentials "
         "millivolts off; run again with --check-grid to estimate the grid error.\n");
}

void print_point_grid_advice(int point, bool failed, MessageSink& sink) {
    tell(sink, "\nCalibration point ", point, ": ",
         (failed ? "the integration failed" : "a concentration turned negative"),
         "; the grid may be too coarse for this problem. Run again with --check-grid to "
         "see how much the results change on a finer grid.\n");
}
