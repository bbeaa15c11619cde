#include "experiments/calibration.h"

#include <algorithm>
#include <cmath>

#include "output/output_file.h"
#include "output/psplot/psplot.h"
#include "output/table_file.h"

namespace {

VecDoub head(const VecDoub& v, int count) {
    VecDoub out(count);
    for (int i = 0; i < count; ++i) out[i] = v[i];
    return out;
}

// Potential against log multiplier, the vertical range opened by a tenth of the span on
// each side.
void plot_curve(model& md, RunFiles& files, const VecDoub& log_mult, const VecDoub& pot) {
    md.fileName = md.folders[0] + "/curve.ps";
    write_plot(files, md.fileName, [&](PSpage& page) {
        PSplot plot(page, 100, 500, 350, 750);
        plot.clear_box();
        const double p_min = pot.minimum(), p_max = pot.maximum();
        plot.draw_axes({log_mult.minimum() - 0.7, log_mult.maximum() + 0.7,
                        1.1 * p_min - 0.1 * p_max, 1.1 * p_max - 0.1 * p_min},
                       std::nullopt, "log c", "Fi [mV]");
        plot.marked_line(log_mult, pot);
    });
}

// Potential over all points on one time axis.
void plot_chained_course(model& md, RunFiles& files, const VecDoub& time, const VecDoub& pot) {
    md.fileName = md.folders[0] + "/tcurve.ps";
    write_plot(files, md.fileName, [&](PSpage& page) {
        PSplot plot(page, 100, 500, 350, 750);
        plot.clear_box();
        const double t_max = time.maximum();
        const double v_min = pot.minimum(), v_max = pot.maximum();
        const double dv = v_max - v_min;
        plot.draw_axes({-0.1 * t_max, 1.1 * t_max, v_min - 0.1 * dv, v_max + 0.1 * dv},
                       PlotRange{0, t_max, v_min, v_max}, " t[s] ", "Fi [mV]");
        plot.marked_line(time, pot);
    });
}

// Slope of the reference line through the second and third points, its potential change
// for a twofold concentration change (slog2), and every log multiplier where the curve's
// deviation from that line rises through slog2. Each segment is examined at ten evenly
// spaced sub-points, its own end being the next segment's start.
std::optional<CalibrationLine> write_limit(model& md, RunFiles& files, const VecDoub& L,
                                           const VecDoub& P) {
    if (L[1] == L[2]) {
        tell(*files.messages,
             "limit.txt not written: calibration points 2 and 3 have the same "
             "multiplier, so the reference line has no slope\n");
        return std::nullopt;
    }
    open_table(md, files, md.folders[0] + "/limit.txt");
    const double slope = (P[1] - P[2]) / (L[1] - L[2]);
    const double b = P[2] - L[2] * slope;
    const double slog2 = std::fabs(std::log10(2.0) * slope);
    files.outFile << "slope = " << slope << "\nslog2 = " << slog2 << "\n";
    CalibrationLine line{slope, slog2, {}};

    double d = 0;  // deviation at the previous sub-point, 0 before the first
    for (int i = 0; i + 1 < L.size(); ++i) {
        if (L[i] == L[i + 1]) {
            // Repeated multiplier: the segment has no slope and no sub-points.
            tell(*files.messages, "limit.txt: segment between calibration points ", i + 1, " and ",
                 i + 2, " skipped, equal multipliers\n");
            continue;
        }
        const double s_i = (P[i] - P[i + 1]) / (L[i] - L[i + 1]);
        const double b_i = P[i] - L[i] * s_i;
        for (int k = 0; k < 10; ++k) {
            const double x = L[i] + 0.1 * k * (L[i + 1] - L[i]);
            const double d_prev = d;
            d = std::fabs((slope - s_i) * x + (b - b_i));
            if (d_prev < slog2 && d > slog2) {
                files.outFile << "limit = " << x << " \n";
                line.limits.push_back(x);
            }
        }
    }
    close_table(files);
    return line;
}

}  // namespace

std::optional<CalibrationLine> write_calibration_curve(model& md, RunFiles& files,
                                                       const RunSeries& series, bool withLimit) {
    tell(*files.messages, "\n\ncalculations time [s]: ", md.t_calc, "\n");
    const int p = md.point;
    if (p <= 2) return std::nullopt;

    // One element per point so far; the series hold exactly that many after the
    // collection step.
    const int count = std::min({p, series.calMult.size(), series.calPot.size(),
                                series.calTcalc.size(), series.calLogMult.size()});
    open_table(md, files, md.folders[0] + "/ccurve.dat");
    files.outFile << "multiplier NPP_Potential NPP_calc_time \n";
    for (int i = 0; i < count; ++i)
        files.outFile << series.calMult[i] << " " << series.calPot[i] << " " << series.calTcalc[i]
                      << "\n";
    close_table(files);

    const VecDoub log_mult = head(series.calLogMult, count);
    const VecDoub pot = head(series.calPot, count);
    const int samples = std::min(series.allTime.size(), series.allPot.size());
    const VecDoub all_time = head(series.allTime, samples);
    const VecDoub all_pot = head(series.allPot, samples);
    if (md.genPS == 1) {
        if (count > 0) plot_curve(md, files, log_mult, pot);
        if (samples > 0) plot_chained_course(md, files, all_time, all_pot);
    }

    open_table(md, files, md.folders[0] + "/tcurve.dat");
    files.outFile << "tproc mempot \n 0 0 \n";
    for (int i = 0; i < samples; ++i) files.outFile << all_time[i] << " " << all_pot[i] << " \n";
    close_table(files);

    if (withLimit && p > 4 && p == md.nCalib && count > 4)
        return write_limit(md, files, log_mult, pot);
    return std::nullopt;
}
