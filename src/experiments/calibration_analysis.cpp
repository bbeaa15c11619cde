#include "experiments/calibration_analysis.h"

#include <algorithm>
#include <cmath>

#include "base/number_text.h"

namespace {

// E = a + b·x with x = log10(c / (mol/L)); c is in mol/m³, and 1 mol/L = 1000 mol/m³.
double log_molar(double concentration) { return std::log10(concentration / 1000.0); }

struct LineFit {
    double slope = 0, intercept = 0, maxResidual = 0;
    std::optional<double> slopeError;
};

// Least squares through (x, E) of the given samples; none when the x do not differ.
std::optional<LineFit> fit_line(const std::vector<const CalibrationSample*>& s) {
    const double n = static_cast<double>(s.size());
    double mx = 0, my = 0;
    for (const CalibrationSample* p : s) {
        mx += log_molar(p->concentration);
        my += *p->potential;
    }
    mx /= n;
    my /= n;
    double sxx = 0, sxy = 0;
    for (const CalibrationSample* p : s) {
        const double dx = log_molar(p->concentration) - mx;
        sxx += dx * dx;
        sxy += dx * (*p->potential - my);
    }
    if (!(sxx > 0)) return std::nullopt;
    LineFit f;
    f.slope = sxy / sxx;
    f.intercept = my - f.slope * mx;
    double ssr = 0;
    for (const CalibrationSample* p : s) {
        const double r = *p->potential - (f.intercept + f.slope * log_molar(p->concentration));
        ssr += r * r;
        f.maxResidual = std::max(f.maxResidual, std::fabs(r));
    }
    // standard error of the slope: sqrt(SSR / (n - 2) / Sxx)
    if (s.size() > 2) f.slopeError = std::sqrt(ssr / (n - 2) / sxx);
    return f;
}

// Whether every point of the run lies within kLinearTolerance of the least-squares line
// through the other points of the run.
bool each_on_line_of_others(const std::vector<const CalibrationSample*>& run) {
    for (std::size_t i = 0; i < run.size(); ++i) {
        std::vector<const CalibrationSample*> others = run;
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
        const auto f = fit_line(others);
        if (!f) return false;
        const double off =
            *run[i]->potential - (f->intercept + f->slope * log_molar(run[i]->concentration));
        if (std::fabs(off) > kLinearTolerance) return false;
    }
    return true;
}

}  // namespace

CalibrationAnalysis analyse_calibration(const std::vector<CalibrationSample>& points,
                                        const std::optional<PointRange>& range) {
    CalibrationAnalysis a;
    a.points = points;
    a.automatic = !range.has_value();
    // usable points by ascending concentration (ties by point number)
    std::vector<const CalibrationSample*> usable;
    for (const CalibrationSample& p : a.points)
        if (p.ok && p.potential && p.concentration > 0) usable.push_back(&p);
    std::stable_sort(usable.begin(), usable.end(),
                     [](const CalibrationSample* l, const CalibrationSample* r) {
                         return l->concentration < r->concentration;
                     });

    // [first, last) of `usable`: the linear range
    std::size_t first = 0, last = 0;
    std::optional<LineFit> line;
    if (range) {
        std::vector<const CalibrationSample*> chosen;
        for (std::size_t i = 0; i < usable.size(); ++i)
            if (usable[i]->point >= range->from && usable[i]->point <= range->to) {
                if (chosen.empty()) first = i;
                chosen.push_back(usable[i]);
                last = i + 1;
            }
        if (chosen.size() >= 2) line = fit_line(chosen);
        if (!line)
            a.note = "the linear range " + std::to_string(range->from) + ":" +
                     std::to_string(range->to) +
                     " holds fewer than two finished points of different concentration";
    } else {
        // the longest run, and among those the highest, in which every point lies on the
        // line through the others
        for (std::size_t len = usable.size(); len >= 3 && !line; --len)
            for (std::size_t start = usable.size() - len + 1; start-- > 0 && !line;) {
                const std::vector<const CalibrationSample*> run(usable.begin() + start,
                                                                usable.begin() + start + len);
                const auto f = fit_line(run);
                if (f && std::fabs(f->slope) >= kMinimumResponse && each_on_line_of_others(run)) {
                    line = f;
                    first = start;
                    last = start + len;
                }
            }
        if (!line)
            a.note = usable.size() < 3 ? "fewer than three finished points"
                                       : "no three consecutive points lie on a line within " +
                                             number_text(kLinearTolerance) + " mV";
    }
    if (!line) return a;
    a.slope = line->slope;
    a.slopeError = line->slopeError;
    a.intercept = line->intercept;
    a.maxResidual = line->maxResidual;
    for (std::size_t i = first; i < last; ++i)
        if (!range || (usable[i]->point >= range->from && usable[i]->point <= range->to))
            a.linearPoints.push_back(usable[i]->point);
    std::sort(a.linearPoints.begin(), a.linearPoints.end());

    // the low-concentration asymptote, below the linear range
    if (first == 0) {
        a.note = "no point lies below the linear range";
        return a;
    }
    const double twofold = std::fabs(a.slope) * std::log10(2.0);  // [mV]
    const double flat = twofold / 2;                              // [mV]
    const CalibrationSample& lowest = *usable[0];
    const double offLine =
        *lowest.potential - (a.intercept + a.slope * log_molar(lowest.concentration));
    if (!(a.slope != 0) || std::fabs(offLine) <= twofold) {
        a.note =
            "the curve does not level off within the calibration: the lowest point lies "
            "within a twofold concentration change of the line";
        return a;
    }
    double sum = 0;
    for (std::size_t i = 0; i < first; ++i) {
        if (std::fabs(*usable[i]->potential - *lowest.potential) > flat) break;
        a.lowPoints.push_back(usable[i]->point);
        sum += *usable[i]->potential;
    }
    a.lowPotential = sum / static_cast<double>(a.lowPoints.size());
    std::sort(a.lowPoints.begin(), a.lowPoints.end());
    // a + b·x = E_low  →  c = 10^x mol/L
    a.detectionLimit = std::pow(10.0, (*a.lowPotential - a.intercept) / a.slope);
    return a;
}

std::optional<double> final_drift(std::span<const double> time, std::span<const double> potential,
                                  double duration) {
    const std::size_t n = std::min(time.size(), potential.size());
    if (n < 2) return std::nullopt;
    const double tEnd = time[n - 1];
    const double tFrom = std::max(time[0], tEnd - duration / 10);
    if (!(tFrom < tEnd)) return std::nullopt;
    // the last sample at or before tFrom, then E(tFrom) between it and the next one
    std::size_t i = 0;
    while (i + 2 < n && time[i + 1] <= tFrom) ++i;
    const double w = time[i + 1] > time[i] ? (tFrom - time[i]) / (time[i + 1] - time[i]) : 0.0;
    const double eFrom = potential[i] + w * (potential[i + 1] - potential[i]);
    return (potential[n - 1] - eFrom) / (tEnd - tFrom);
}
