#include "physics/state_check.h"

bool has_negative_concentration(model& md, const double* y, double floor) {
    const int layer = md.layer;
    bool negative = false;
    for (int l = 1; l <= md.n && !negative; ++l) {
        md.layer = l;
        const int N = md.N.get();
        for (int c = 1; c <= md.R && !negative; ++c) {
            const double* conc = y + state_index(md, c, 0);
            for (int k = 0; k <= N + 1; ++k)
                if (conc[k] < floor) {
                    negative = true;
                    break;
                }
        }
    }
    md.layer = layer;
    return negative;
}
