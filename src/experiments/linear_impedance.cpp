#include "experiments/linear_impedance.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numbers>
#include <sstream>

#include "base/number_text.h"
#include "experiments/impedance.h"
#include "numeric/shifted_solver.h"
#include "output/output_file.h"
#include "physics/flux.h"
#include "physics/jacobian.h"

namespace {

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// A Jacobian row combination must vanish to this share of its rows' size to count as the
// identity it stands for: the finite differences leave ~1e-8 of it.
constexpr double kCombinationTolerance = 1e-6;

// Near zero frequency s I - J is nearly singular along each conserved combination of the
// equations (J has a null space there), and the rounding of the finite differences would
// be amplified by 1 / |s|. Each conserved combination (physics/jacobian.h) that the
// Jacobian confirms replaces the equation it names by the statement that the combination
// of the response stays 0, scaled like the row it replaces. Returns the mask of replaced rows
// (point order).
std::vector<char> keep_conserved_combinations(const model& md, PointOrderJacobian& jac) {
    const int n = md.nEq;
    const int lower = jac.band.lower, upper = jac.band.upper;
    std::vector<int> position(static_cast<std::size_t>(n));
    for (int p = 0; p < n; ++p) position[static_cast<std::size_t>(jac.recordIndex[static_cast<std::size_t>(p)])] = p;
    auto at = [&](int i, int j) -> double& { return jac.rows[i - j + upper][j]; };
    auto in_band = [&](int i, int j) { return j >= 0 && j < n && i - j <= lower && j - i <= upper; };
    std::vector<char> algebraic(static_cast<std::size_t>(n), 0);
    std::vector<double> combined;
    for (const ConservedCombination& c : conserved_combinations(md)) {
        const int row = position[static_cast<std::size_t>(c.terms.front().first)];
        bool fits = true;
        double size = 0;
        for (const auto& [index, weight] : c.terms) fits = fits && in_band(row, position[static_cast<std::size_t>(index)]);
        if (!fits) continue;
        // the combination of the rows, over the columns any of them reaches
        const int first = std::max(0, row - lower - upper), last = std::min(n - 1, row + lower + upper);
        combined.assign(static_cast<std::size_t>(last - first + 1), 0.0);
        for (const auto& [index, weight] : c.terms) {
            const int r = position[static_cast<std::size_t>(index)];
            for (int j = std::max(first, r - lower); j <= std::min(last, r + upper); ++j) {
                combined[static_cast<std::size_t>(j - first)] += weight * at(r, j);
                size = std::max(size, std::fabs(weight * at(r, j)));
            }
        }
        double residue = 0;
        for (double v : combined) residue = std::max(residue, std::fabs(v));
        if (!(residue <= kCombinationTolerance * size) || size == 0) continue;
        double rowSize = 0;
        for (int j = std::max(0, row - lower); j <= std::min(n - 1, row + upper); ++j) {
            rowSize = std::max(rowSize, std::fabs(at(row, j)));
            at(row, j) = 0;
        }
        for (const auto& [index, weight] : c.terms) at(row, position[static_cast<std::size_t>(index)]) = -weight * rowSize;
        algebraic[static_cast<std::size_t>(row)] = 1;
    }
    return algebraic;
}

}  // namespace

LinearSpectrum linear_spectrum(model& md, SolverPath path, double accuracy) {
    const double started = cpu_seconds();
    LinearSpectrum s;
    const int n = md.nEq;
    const auto un = static_cast<std::size_t>(n);
    s.unknowns = n;
    s.potentialRate = potential_rate(md, md.y.data());
    s.steady = std::fabs(s.potentialRate) * md.tEnd * md.tc <= accuracy;

    const std::vector<double> current = applied_current_column(md);
    std::vector<int> recordIndex;  // empty: the record's order
    std::optional<ShiftedSolver> solver;
    std::vector<char> algebraic;
    if (path == SolverPath::banded) {
        PointOrderJacobian jac = transport_jacobian_banded(md, md.y.data());
        algebraic = keep_conserved_combinations(md, jac);
        solver = ShiftedSolver::band(n, jac.band.lower, jac.band.upper, jac.rows.ptr());
        solver->set_algebraic_rows(algebraic);
        recordIndex = std::move(jac.recordIndex);
    } else {
        const MatDoub jac = transport_jacobian_dense(md, md.y.data());
        solver = ShiftedSolver::full(n, jac.ptr());
    }
    std::vector<double> b(un), xr(un), xi(un), record(un);
    for (std::size_t p = 0; p < un; ++p) {
        b[p] = recordIndex.empty() ? current[p] : current[recordIndex[p]];
        // a kept combination of the current's column is 0: the current adds to every field alike
        if (!algebraic.empty() && algebraic[p] != 0) b[p] = 0;
    }
    // the potential of a state in the solver's order [V], linear in the state
    auto potential = [&](const std::vector<double>& x) {
        if (recordIndex.empty()) return potential_integral(md, x.data()) * md.eScale * md.L * 1e-3;
        for (std::size_t p = 0; p < un; ++p) record[recordIndex[p]] = x[p];
        return potential_integral(md, record.data()) * md.eScale * md.L * 1e-3;
    };

    const int count = count_omegas();
    double omega = kOmegaFirst;
    for (int k = 0; k < count; ++k, omega = omega * kOmegaRatio) {
        // the integration runs in scaled time t / tc
        if (!solver->solve(0.0, omega * md.tc, b.data(), xr.data(), xi.data())) {
            s.failure = "the linearised system is singular at omega = " + number_text(omega) + " rad/s";
            break;
        }
        s.omega.push_back(omega);
        s.zReal.push_back(-potential(xr));
        s.zImag.push_back(-potential(xi));
    }
    s.fallbacks = solver->fallbacks();
    s.cpuSeconds = cpu_seconds() - started;
    return s;
}

std::optional<SpectrumAgreement> compare_spectra(const LinearSpectrum& linear,
                                                 const std::vector<double>& zPrim,
                                                 const std::vector<double>& zBis, double thickness,
                                                 double firstStep, double tEnd) {
    SpectrumAgreement a;
    a.bandLow = kStepBandLow / tEnd;
    a.bandHigh = firstStep > 0 ? kStepBandHigh / firstStep : 0;
    const std::size_t count = std::min({linear.omega.size(), zPrim.size(), zBis.size()});
    for (std::size_t k = 0; k < count; ++k) {
        const double omega = linear.omega[k];
        if (omega < a.bandLow || omega > a.bandHigh) continue;
        // the step spectrum holds Z' and -Z'' per thickness
        const double dr = zPrim[k] * thickness - linear.zReal[k];
        const double di = -zBis[k] * thickness - linear.zImag[k];
        const double size = std::hypot(linear.zReal[k], linear.zImag[k]);
        const double difference = size > 0 ? std::hypot(dr, di) / size : std::hypot(dr, di);
        ++a.frequencies;
        if (difference > a.largestDifference || a.frequencies == 1) {
            a.largestDifference = difference;
            a.atOmega = omega;
        }
    }
    if (a.frequencies == 0) return std::nullopt;
    return a;
}

void write_linear_spectrum(RunFiles& files, const std::string& path, const LinearSpectrum& s) {
    std::ostringstream out;
    out << "omega [rad/s],f [Hz],Z' [ohm m2],Z'' [ohm m2]\n";
    for (std::size_t k = 0; k < s.omega.size(); ++k)
        out << exact_number_text(s.omega[k]) << ","
            << exact_number_text(s.omega[k] / (2 * std::numbers::pi)) << ","
            << exact_number_text(s.zReal[k]) << "," << exact_number_text(s.zImag[k]) << "\n";
    write_result(files, path, out.str());
}
