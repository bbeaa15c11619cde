#include "physics/state_check.h"

bool has_negative_concentration(const model& md, const double* y, double floor) {
    for (int l = 1; l <= md.n; ++l) {
        const int N = md.N.at(l);
        for (int c = 1; c <= md.R; ++c) {
            const double* conc = y + state_index(md, l, c, 0);
            for (int k = 0; k <= N + 1; ++k)
                if (conc[k] < floor) return true;
        }
    }
    return false;
}
