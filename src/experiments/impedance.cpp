#include "experiments/impedance.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "output/output_file.h"
#include "output/psplot/psplot.h"
#include "output/table_file.h"
#include "physics/state_check.h"

namespace {

// Folder of the current calibration point; false (reported) when the record has none.
bool point_folder(const model& md, std::string& folder, MessageSink& sink) {
    if (md.point < 0 || md.point >= static_cast<int>(md.folders.size())) {
        tell(sink, "No run folder for calibration point ", md.point,
             "; the impedance spectrum is not written.\n");
        return false;
    }
    folder = md.folders[md.point];
    return true;
}

// Z'' against Z' in frequency order, the first `count` frequencies.
void write_spectrum_plot(const std::string& path, model& md, RunFiles& files, int count) {
    if (count == 0) {
        tell(*files.messages, "No impedance values to plot; ", path, " is not written.\n");
        return;
    }
    VecDoub zp(count), zb(count);
    for (int k = 0; k < count; ++k) {
        zp[k] = md.Zprim[k];
        zb[k] = md.Zbis[k];
    }
    write_plot(files, path, [&](PSpage& page) {
        PSplot plot(page, 100, 500, 350, 750);
        plot.draw_axes({zp.minimum(), zp.maximum(), zb.minimum(), zb.maximum()}, std::nullopt,
                       "Z'(omega)", "Z''(omega)");
        plot.marked_line(zp, zb);
    });
}

// The transform over one segment of the symmetric bump (1/4 - u^2) that the chord leaves
// on a transient of unit curvature: int_(-1/2)^(1/2) (1/4 - u^2) cos(x u) du at x = w h,
// relative to the segment's midpoint. Below x = 0.01 the closed form loses digits to the
// cancellation of its two terms (1e-16 x 12 / x^2), and its Taylor series holds to x^4 /
// 26880.
double chord_bump(double x) {
    if (std::fabs(x) < 0.01) return 1.0 / 6 - x * x / 240;
    return (4 * std::sin(x / 2) - 2 * x * std::cos(x / 2)) / (x * x * x);
}

}  // namespace

int count_omegas() {
    int count = 0;
    for (double omega = kOmegaFirst; omega < kOmegaLimit; omega = omega * kOmegaRatio) ++count;
    return count;
}

void start_impedance_run(model& md, RunSeries& series) {
    md.tBegin = 0;
    md.eisRun = 1;
    series.potSeries.resize(1);
    series.potSeries[0] = md.mpot * md.eScale * md.L;  // mV
    series.timeSeries.resize(1);
    series.timeSeries[0] = 0;
    series.tcalcSeries.resize(0);
    series.edgeStart = edge_concentrations(md, md.y.data());
    series.depletionSeries.resize(1);
    series.depletionSeries[0] = 1;
}

void compute_spectrum(model& md, const RunSeries& series, MessageSink& sink) {
    md.nOmega = count_omegas();
    md.Zprim.assign(md.nOmega, 0.0);
    md.Zbis.assign(md.nOmega, 0.0);

    const VecDoub& V = series.potSeries;   // mV
    const VecDoub& t = series.timeSeries;  // s
    const int M = std::min(V.size(), t.size());
    if (M == 0) {
        tell(sink, "No potential samples recorded; the impedance spectrum is set to 0.\n");
        return;
    }
    const double scale = md.currentDensity * md.totalThickness;  // A/m
    if (scale == 0) {
        tell(sink,
             "Zero current density or membrane thickness; the impedance spectrum "
             "is set to 0.\n");
        return;
    }
    // Two samples at one time are a jump of the potential: the slope term of that segment
    // would divide by zero, so it is replaced by its limit for a vanishing duration.
    for (int j = 0; j + 1 < M; ++j)
        if (t[j + 1] - t[j] == 0)
            tell(sink, "Potential samples ", j, " and ", j + 1, " have equal times t=", t[j],
                 "; taken as a jump in the impedance spectrum.\n");

    const double V0 = V[0];
    const double Vinf = V[M - 1];
    double omega = kOmegaFirst;
    for (int k = 0; k < md.nOmega; ++k) {
        double Ss = 0;
        double Sc = 0;
        // Integral of the piecewise-linear transient against cos and sin, one segment at a
        // time; sin and cos at t_j are carried over from the previous segment's t_(j+1).
        double sin0 = std::sin(omega * t[0]);
        double cos0 = std::cos(omega * t[0]);
        for (int j = 0; j + 1 < M; ++j) {
            const double sin1 = std::sin(omega * t[j + 1]);
            const double cos1 = std::cos(omega * t[j + 1]);
            const double dt = t[j + 1] - t[j];
            const double dV = V[j + 1] - V[j];
            if (dt != 0) {
                Ss += (cos1 - cos0) * dV / (omega * omega * dt) +
                      (sin1 * (V[j + 1] - Vinf) - sin0 * (V[j] - Vinf)) / omega;
                Sc += (sin1 - sin0) * dV / (omega * omega * dt) +
                      (cos1 * (V[j + 1] - Vinf) - cos0 * (V[j] - Vinf)) / omega;
            } else {
                // (cos w t1 - cos w t0)/dt -> -w sin w t0 and (sin w t1 - sin w t0)/dt ->
                // w cos w t0 as dt -> 0.
                Ss +=
                    -sin0 * dV / omega + (sin1 * (V[j + 1] - Vinf) - sin0 * (V[j] - Vinf)) / omega;
                Sc += cos0 * dV / omega + (cos1 * (V[j + 1] - Vinf) - cos0 * (V[j] - Vinf)) / omega;
            }
            sin0 = sin1;
            cos0 = cos1;
        }
        // 0.001 converts mV to V; the result is per unit area and total thickness.
        md.Zbis[k] = omega * (0.001 * Ss) / scale;
        md.Zprim[k] = (V0 + omega * Sc - Vinf) * (-0.001) / scale;
        omega = omega * kOmegaRatio;
    }
}

double resolved_omega(const VecDoub& t, const VecDoub& V, double omegaLow, double share) {
    const int M = std::min(t.size(), V.size());
    if (M < 2) return 0;
    const auto segments = static_cast<std::size_t>(M - 1);
    // Per segment: duration h [s], potential change [mV], midpoint [s] and curvature V''
    // [mV/s^2]; a jump (h = 0) has no curvature and is taken exactly.
    std::vector<double> h(segments), dV(segments), middle(segments), curvature(segments, 0.0);
    for (std::size_t j = 0; j < segments; ++j) {
        h[j] = t[j + 1] - t[j];
        dV[j] = V[j + 1] - V[j];
        middle[j] = 0.5 * (t[j] + t[j + 1]);
    }
    // second divided difference of the samples around node j (1 <= j <= M - 2), where both
    // segments beside it last
    auto second = [&](std::size_t j) {
        return 2 * (dV[j] / h[j] - dV[j - 1] / h[j - 1]) / (h[j - 1] + h[j]);
    };
    for (std::size_t j = 0; j < segments; ++j) {
        if (h[j] <= 0) continue;
        double sum = 0;
        int count = 0;
        if (j >= 1 && h[j - 1] > 0) {
            sum += second(j);
            ++count;
        }
        if (j + 1 < segments && h[j + 1] > 0) {
            sum += second(j + 1);
            ++count;
        }
        if (count > 0) curvature[j] = sum / count;
    }

    double last = 0;
    double omega = kOmegaFirst;
    const int count = count_omegas();
    for (int k = 0; k < count; ++k, omega = omega * kOmegaRatio) {
        if (omega < omegaLow) continue;
        // j d Z [mV] as the step spectrum takes it, segment by segment: the transform of
        // the chord's slope, dV e^(-i w t_mid) sin(w h / 2) / (w h / 2); and the chord's
        // error before its factor i w: (V''/2) h^3 e^(-i w t_mid) chord_bump(w h)
        std::complex<double> spectrum = 0, error = 0;
        for (std::size_t j = 0; j < segments; ++j) {
            const std::complex<double> phase = std::polar(1.0, -omega * middle[j]);
            const double x = omega * h[j];
            const double sinc = x == 0 ? 1.0 : std::sin(x / 2) / (x / 2);
            spectrum += dV[j] * sinc * phase;
            error += 0.5 * curvature[j] * h[j] * h[j] * h[j] * chord_bump(x) * phase;
        }
        if (omega * std::abs(error) > share * std::abs(spectrum)) break;
        last = omega;
    }
    return last;
}

void write_spectrum(model& md, RunFiles& files) {
    std::string folder;
    if (!point_folder(md, folder, *files.messages)) return;

    const int count =
        std::min({md.nOmega, static_cast<int>(md.Zprim.size()), static_cast<int>(md.Zbis.size())});
    open_table(md, files, folder + "/spectrum.dat", " ");
    files.outFile << "Omega Zprim Zbis\n";
    double omega = kOmegaFirst;
    for (int k = 0; k < count; ++k) {
        files.outFile << omega << " " << md.Zprim[k] << " " << md.Zbis[k] << "\n";
        omega = omega * kOmegaRatio;
    }
    close_table(files);

    if (md.genPS == 1) {
        md.fileName = folder + "/spectrum.ps";
        write_spectrum_plot(md.fileName, md, files, count);
    }
}
