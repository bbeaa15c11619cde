#include "model/dilute_range.h"

#include <algorithm>
#include <cmath>

#include "base/number_text.h"

namespace {

double file_value(const model& md, int r, int c) {
    return r == 0 ? md.cL[c] : r == md.n + 1 ? md.cR[c] : md.cM.at(r).item(c);
}

bool is_target(const model& md, int r) {
    return std::find(md.targets.begin(), md.targets.end(), r) != md.targets.end();
}

// Every component's concentration [mol/m^3] in region r as a point of multiplier M sets it:
// the changed ion multiplied in a target, then the opposite ion at the value that makes the
// region neutral (in this order, as the points set them).
void region_at(const model& md, int r, double M, double (&out)[kMaxSlots]) {
    for (int c = 1; c <= md.R; ++c) out[c] = file_value(md, r, c);
    if (is_target(md, r) && md.changedIon >= 1 && md.changedIon <= md.R) out[md.changedIon] *= M;
    const int o = md.oppositeIon;
    if (o < 1 || o > md.R || md.z[o] == 0) return;
    double S = 0;
    for (int j = 1; j <= md.R; ++j)
        if (j != o) S += static_cast<double>(md.z[j]) * out[j];
    out[o] = std::max(0.0, -S / static_cast<double>(md.z[o]));
}

// The largest concentration of every component in region r over the calibration points.
void largest_in_region(const model& md, int r, double (&out)[kMaxSlots]) {
    std::fill(std::begin(out), std::end(out), 0.0);
    double at[kMaxSlots];
    const std::size_t points = std::max<std::size_t>(md.multipliers.size(), 2);
    for (std::size_t i = 1; i < points; ++i) {
        region_at(md, r, i < md.multipliers.size() ? md.multipliers[i] : 1.0, at);
        for (int c = 1; c <= md.R; ++c) out[c] = std::max(out[c], at[c]);
    }
}

std::string amount_text(double conc) {
    return number_text(conc) + " mol/m^3 (" + number_text(conc / 1000) + " mol/L)";
}

}  // namespace

std::string region_name(int region, int n) {
    if (region == 0) return "the left solution";
    if (region == n + 1) return "the right solution";
    return "layer " + std::to_string(region);
}

std::optional<DiluteExcess> dilute_range_excess(const model& md) {
    double conc[kMaxSlots + 1][kMaxSlots];
    for (int r = 0; r <= md.n + 1; ++r) largest_in_region(md, r, conc[r]);
    for (int l = 1; l <= md.n; ++l) {
        DiluteExcess own;
        own.layer = l;
        own.from = l;
        for (int c = 1; c <= md.R; ++c)
            if (conc[l][c] > kDiluteLimit)
                own.parts.push_back({c, conc[l][c], 0, 0, 1, conc[l][c], is_target(md, l)});
        if (!own.parts.empty()) return own;
        for (int side = 0; side <= 1; ++side) {
            DiluteExcess edge;
            edge.layer = l;
            edge.interface = side == 0 ? l - 1 : l;
            edge.from = side == 0 ? l - 1 : l + 1;
            for (int c = 1; c <= md.R; ++c) {
                const double kf = md.Kif[edge.interface][c];
                const double kb = md.Kib[edge.interface][c];
                if (!(kf > 0 && kb > 0)) continue;  // no equilibrium across the interface
                // J = Kif c_left - Kib c_right vanishes at c_right/c_left = Kif/Kib
                const double ratio = side == 0 ? kf / kb : kb / kf;
                const double implied = conc[edge.from][c] * ratio;
                if (implied > kDiluteLimit)
                    edge.parts.push_back({c, conc[edge.from][c], kf, kb, ratio, implied,
                                          is_target(md, edge.from) && c == md.changedIon});
            }
            if (!edge.parts.empty()) return edge;
        }
    }
    return std::nullopt;
}

std::string dilute_excess_text(const DiluteExcess& excess, int n) {
    const std::string limit = "That is beyond the " + amount_text(kDiluteLimit) +
                              " within which a dilute-solution model holds, and no grid makes "
                              "such a result right";
    std::string text;
    if (excess.interface < 0) {
        for (std::size_t k = 0; k < excess.parts.size(); ++k) {
            const DiluteExcess::Part& p = excess.parts[k];
            text += (k == 0 ? "component " : ", component ") + std::to_string(p.component) +
                    " has " + amount_text(p.implied);
        }
        return text + " in " + region_name(excess.layer, n) + ". " + limit +
               ". Lower the concentration (1 mol/L = 1000 mol/m^3).";
    }
    const int s = excess.interface;
    text = "at interface " + std::to_string(s) + " (between " + region_name(s, n) + " and " +
           region_name(s + 1, n) + "), transfer equilibrium would bring ";
    for (std::size_t k = 0; k < excess.parts.size(); ++k) {
        const DiluteExcess::Part& p = excess.parts[k];
        text += (k == 0 ? "component " : ", and component ") + std::to_string(p.component) +
                (k == 0 ? " at the edge of " + region_name(excess.layer, n) : std::string()) +
                " to " + amount_text(p.implied) + ", " + number_text(p.ratio) + " times its " +
                number_text(p.source) + " mol/m^3 in " + region_name(excess.from, n) +
                (p.calibrated ? " at the largest calibration multiplier" : "") + " (`Kif` " +
                number_text(p.kif) + " m/s, `Kib` " + number_text(p.kib) + " m/s)";
    }
    return text + ". " + limit + ". Lower the partition ratio Kif/Kib or the concentration.";
}
