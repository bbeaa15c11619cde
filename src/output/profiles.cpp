#include "output/profiles.h"

#include <span>
#include <vector>

#include "output/output_file.h"
#include "output/psplot/psplot.h"
#include "output/table_file.h"
#include "physics/flux.h"

ProfileData profile_data(const model& md) {
    ProfileData p;
    p.conc.resize(md.R);
    p.flux.resize(md.R);
    const double* y = md.y.data();
    const int R = md.R;
    for (int l = 1; l <= md.n; ++l) {
        const int N = md.N.at(l);
        for (double x : md.gridX.at(l)) p.x.push_back(x * md.L);
        for (double x : md.gridY.at(l)) p.yPos.push_back(x * md.L);
        for (int c = 1; c <= R; ++c) {
            for (int i = 0; i <= N + 1; ++i)
                p.conc[c - 1].push_back(y[state_index(md, l, c, i)] * md.cScale);
            for (int i = 0; i <= N; ++i)
                p.flux[c - 1].push_back(flux(md, y, l, c, i) * md.cScale * md.L / md.tc);
        }
        const int e0 = state_index(md, l, R + 1, 0);
        for (int i = 0; i <= N; ++i) p.field.push_back(y[e0 + i] * md.eScale);
    }
    p.mpot = potential_integral(md, y, &p.potential);
    for (double& v : p.potential) v = v * md.L * md.eScale;

    p.zcSum.assign(p.yPos.size(), 0.0);
    p.zjSum.assign(p.x.size(), 0.0);
    for (int c = 1; c <= R; ++c) {
        for (size_t i = 0; i < p.zcSum.size(); ++i) p.zcSum[i] += md.z[c] * p.conc[c - 1][i];
        for (size_t i = 0; i < p.zjSum.size(); ++i) p.zjSum[i] += md.z[c] * p.flux[c - 1][i];
    }
    return p;
}

namespace {

// y.vec: nEq, the end time [s], then the state in state-vector order in physical units
// (concentrations mol/m^3, field V/m), every token followed by one blank, no line end.
void write_state_file(model& md, RunFiles& files, const RunSeries& series,
                      const std::string& path) {
    double tEndRun = md.t0;
    if (series.timeSeries.size() > 0) {
        tEndRun = series.timeSeries[series.timeSeries.size() - 1] + md.t0;
    } else {
        tell(*files.messages, "No time samples recorded; y.vec is written with the time offset ",
             md.t0, " s as its time.\n");
    }
    open_table(md, files, path);
    std::ostream& out = files.outFile;
    out << md.nEq << " " << tEndRun << " ";
    for (int l = 1; l <= md.n; ++l) {
        const int N = md.N.at(l);
        for (int c = 1; c <= md.R; ++c)
            for (int i = 0; i <= N + 1; ++i) {
                put_number(out, md.y[state_index(md, l, c, i)] * md.cScale);
                out << ' ';
            }
        for (int i = 0; i <= N; ++i) {
            put_number(out, md.y[state_index(md, l, md.R + 1, i)] * md.eScale);
            out << ' ';
        }
    }
    close_table(files);
}

// A table of one row per point: the leading columns, the R per-component columns named
// `component` + c, and their charge sum named `sum`; the header ends with a blank, every
// row right after its last number.
void write_point_table(model& md, RunFiles& files, const std::string& path, const char* leadNames,
                       const std::vector<const std::vector<double>*>& lead, const char* component,
                       const std::vector<std::vector<double>>& values, const char* sum,
                       const std::vector<double>& sums) {
    open_table(md, files, path);
    std::ostream& out = files.outFile;
    out << leadNames;
    for (int c = 1; c <= md.R; ++c) out << " " << component << c;
    out << " " << sum << " \n";
    for (size_t i = 0; i < sums.size(); ++i) {
        for (size_t j = 0; j < lead.size(); ++j) {
            if (j > 0) out << ' ';
            put_number(out, (*lead[j])[i]);
        }
        for (int c = 1; c <= md.R; ++c) {
            out << ' ';
            put_number(out, values[c - 1][i]);
        }
        out << ' ';
        put_number(out, sums[i]);
        out << '\n';
    }
    close_table(files);
}

VecDoub to_vec(const std::vector<double>& values) {
    VecDoub v(static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) v[static_cast<int>(i)] = values[i];
    return v;
}

// One panel of wyn.ps: the curves share the horizontal data and are drawn in order, the
// colour index switched to c after curve c when `coloured` (1 black, 2 red, 3 green,
// 4 and above blue), and back to black after the last. The vertical range is widened by a
// tenth of the data span on each side, the horizontal one by a tenth of the stack.
void plot_panel(PSpage& page, const double box[4], const std::vector<double>& horizontal,
                const std::vector<const std::vector<double>*>& curves, const char* yLabel,
                bool coloured, double thickness) {
    double vmin = (*curves[0])[0], vmax = vmin;
    for (const std::vector<double>* curve : curves)
        for (double v : *curve) {
            if (v < vmin) vmin = v;
            if (v > vmax) vmax = v;
        }
    PSplot plot(page, box[0], box[1], box[2], box[3]);
    plot.clear_box();
    plot.set_limits(-0.1 * thickness, 1.1 * thickness, vmin - 0.1 * (vmax - vmin),
                    vmax + 0.1 * (vmax - vmin));
    plot.draw_frame();
    plot.auto_scale_range(0, thickness, vmin, vmax);
    plot.x_label("x");
    plot.y_label(yLabel);
    const VecDoub xs = to_vec(horizontal);
    for (size_t c = 0; c < curves.size(); ++c) {
        const VecDoub vs = to_vec(*curves[c]);
        for (int i = 0; i < xs.size() && i < vs.size(); ++i) plot.dot(xs[i], vs[i], 5);
        plot.line_plot(xs, vs);
        if (coloured) plot.set_color_index(static_cast<int>(c) + 1);
    }
    if (coloured) plot.set_color_index(0);
}

// Six panels: concentrations and their charge sum over the concentration nodes; fluxes,
// their charge sum, the field and the potential over the grid points.
void write_profile_plot(model& md, RunFiles& files, const ProfileData& p, const std::string& path) {
    if (p.x.empty() || md.R < 1) {
        tell(*files.messages, "No profiles to plot; ", path, " is not written.\n");
        return;
    }
    std::vector<const std::vector<double>*> conc, flux;
    for (int c = 0; c < md.R; ++c) {
        conc.push_back(&p.conc[c]);
        flux.push_back(&p.flux[c]);
    }
    const double T = md.totalThickness;
    static constexpr double topLeft[4] = {70, 290, 580, 790}, topRight[4] = {370, 590, 580, 790};
    static constexpr double midLeft[4] = {70, 290, 320, 530}, midRight[4] = {370, 590, 320, 530};
    static constexpr double lowLeft[4] = {70, 290, 50, 270}, lowRight[4] = {370, 590, 50, 270};
    write_plot(files, path, [&](PSpage& page) {
        plot_panel(page, topLeft, p.yPos, conc, "c [mol/m3]", true, T);
        plot_panel(page, topRight, p.yPos, {&p.zcSum}, "zc_SUM", false, T);
        plot_panel(page, midLeft, p.x, flux, "J", true, T);
        plot_panel(page, midRight, p.x, {&p.zjSum}, "zJ_SUM", false, T);
        plot_panel(page, lowLeft, p.x, {&p.field}, "E(x, T_end)", false, T);
        plot_panel(page, lowRight, p.x, {&p.potential}, "Potential (x, T_end)", false, T);
    });
}

}  // namespace

void write_profiles(model& md, RunFiles& files, const RunSeries& series,
                    const std::string& prefix) {
    if (md.point < 0 || md.point >= static_cast<int>(md.folders.size())) {
        tell(*files.messages, "No run folder for calibration point ", md.point,
             "; the profile files are not written.\n");
        return;
    }
    const std::string base = md.folders[md.point] + "/" + prefix;
    const ProfileData p = profile_data(md);
    md.mpot = p.mpot;
    if (md.genPS == 1) {
        md.fileName = base + "wyn.ps";
        write_profile_plot(md, files, p, md.fileName);
    }
    write_state_file(md, files, series, base + "y.vec");
    write_point_table(md, files, base + "xwyn.dat", "x E mempot", {&p.x, &p.field, &p.potential},
                      "j", p.flux, "zjSum", p.zjSum);
    write_point_table(md, files, base + "ywyn.dat", "y", {&p.yPos}, "c", p.conc, "zcSum", p.zcSum);
}

void write_grid_file(model& md, RunFiles& files) {
    open_table(md, files, md.folders.at(0) + "/xh.dat", " ");
    std::ostream& out = files.outFile;
    const double L = md.L;
    long r = 0;
    for (int l = 1; l <= md.n; ++l) {
        const int N = md.N.at(l);
        const std::span<const double> X = md.gridX.at(l), Y = md.gridY.at(l), H = md.gridH.at(l);
        for (int k = 0; k < N; ++k)
            out << r++ << " " << Y[k] * L << " " << X[k] * L << " " << H[k] * L << "\n";
        out << r++ << " " << Y[N] * L << " " << X[N] * L << " - \n";
        out << r++ << " " << Y[N + 1] * L << " - - \n";
    }
    close_table(files);
}
