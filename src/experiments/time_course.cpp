#include "experiments/time_course.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "output/output_file.h"
#include "output/psplot/psplot.h"
#include "output/table_file.h"

namespace {

// One panel of mempot.ps: its box on the page (left, right, bottom, top in points), the
// series, the plot limits and the data extents that set the tick steps.
void draw_panel(PSpage& page, const PlotRange& box, const VecDoub& x, const VecDoub& y,
                const PlotRange& limits, const PlotRange& extents, const char* x_title,
                const char* y_title) {
    PSplot plot(page, box.x_low, box.x_high, box.y_low, box.y_high);
    plot.clear_box();
    plot.draw_axes(limits, extents, x_title, y_title);
    plot.marked_line(x, y);
}

}  // namespace

void write_time_course(model& md, RunFiles& files, const RunSeries& series,
                       const std::string& prefix) {
    const int m = std::min(series.timeSeries.size(), series.potSeries.size());
    VecDoub time(m), pot(m), tcalc(m), log_time(m), log_tcalc(m);
    for (int i = 0; i < m; ++i) {
        time[i] = series.timeSeries[i];  // s, without the offset t0
        pot[i] = series.potSeries[i];    // mV
        tcalc[i] = i < series.tcalcSeries.size() ? series.tcalcSeries[i] : 0.0;  // s
        log_time[i] = time[i] >= 1e-10 ? std::log10(time[i]) : -10.0;
        if (i == 0)
            log_tcalc[i] = -0.6;
        else
            log_tcalc[i] = tcalc[i] >= 1.0 ? std::log10(tcalc[i]) : -0.5;
    }

    const std::string folder = md.folders[md.point] + "/" + prefix;
    open_table(md, files, folder + "et.dat");
    files.outFile << "tproc log(tproc) mempot tcalc \n";
    for (int i = 0; i < m; ++i)
        files.outFile << time[i] + md.t0 << " " << log_time[i] << " " << pot[i] << " " << tcalc[i]
                      << " \n";
    close_table(files);

    // Without a sample there is nothing to scale the plots by.
    if (md.genPS != 1 || m == 0) return;
    md.fileName = folder + "mempot.ps";
    const double lt_min = log_time.minimum(), lt_max = log_time.maximum();
    const double p_min = pot.minimum(), p_max = pot.maximum();
    const double dp = p_max - p_min;
    const double t_max = time.maximum();
    const double dt = t_max - time.minimum();
    const double lc_min = log_tcalc.minimum(), lc_max = log_tcalc.maximum();
    write_plot(files, md.fileName, [&](PSpage& page) {
        draw_panel(page, {70, 290, 580, 790}, log_time, pot,
                   {lt_min - 0.5, lt_max + 1.0, p_min - 0.1 * dp, p_max + 0.1 * dp},
                   {lt_min, lt_max, p_min, p_max}, "log( t[s] )", "Fi [mV]");
        draw_panel(page, {370, 590, 580, 790}, time, pot,
                   {-0.1 * dt, t_max + 0.1 * dt, p_min - 0.1 * dp, p_max + 0.1 * dp},
                   {0, t_max, p_min, p_max}, " t[s] ", "Fi [mV]");
        draw_panel(page, {70, 290, 320, 530}, log_time, log_tcalc,
                   {lt_min - 0.5, lt_max + 0.5, lc_min - 0.5, lc_max + 0.5},
                   {lt_min, lt_max, lc_min, lc_max}, "log t_proc", "log t_calc");
    });
}
