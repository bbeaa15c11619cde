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
#include "physics/jacobian.h"

namespace {

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// A Jacobian row combination must vanish to this share of its rows' size to count as the
// identity it stands for: the finite differences leave ~1e-8 of it.
constexpr double kCombinationTolerance = 1e-6;

// Whether the Jacobian's rows combine to zero as the combination says, over the columns
// first..last, to kCombinationTolerance of the largest term; row(index, j) is the row of
// record index `index` at the solver's column j.
template <class Row>
bool confirmed(const ConservedCombination& c, Row row, int first, int last) {
    double size = 0;
    std::vector<double> combined(static_cast<std::size_t>(last - first + 1), 0.0);
    for (const auto& [index, weight] : c.terms)
        for (int j = first; j <= last; ++j) {
            const double v = weight * row(index, j);
            combined[static_cast<std::size_t>(j - first)] += v;
            size = std::max(size, std::fabs(v));
        }
    double residue = 0;
    for (double v : combined) residue = std::max(residue, std::fabs(v));
    return size > 0 && residue <= kCombinationTolerance * size;
}

// Near zero frequency s I - J is nearly singular along each conserved combination of the
// equations (J has a null space there), and the rounding of the finite differences would
// be amplified by 1 / |s|. Each conserved combination (physics/jacobian.h) that the
// Jacobian confirms replaces the equation it names by the statement that the combination
// of the response stays 0, scaled like the row it replaces. Returns the mask of replaced
// rows (point order).
std::vector<char> keep_conserved_combinations(const model& md, PointOrderJacobian& jac) {
    const int n = md.nEq;
    const int lower = jac.band.lower, upper = jac.band.upper;
    std::vector<int> position(static_cast<std::size_t>(n));
    for (int p = 0; p < n; ++p)
        position[static_cast<std::size_t>(jac.recordIndex[static_cast<std::size_t>(p)])] = p;
    auto in_band = [&](int i, int j) { return j >= 0 && j < n && i - j <= lower && j - i <= upper; };
    auto at = [&](int i, int j) -> double& { return jac.rows[i - j + upper][j]; };
    // row `index` (record) at column j (point order), 0 outside the band
    auto row = [&](int index, int j) {
        const int i = position[static_cast<std::size_t>(index)];
        return in_band(i, j) ? at(i, j) : 0.0;
    };
    // all are confirmed on the Jacobian as formed, before any row is replaced
    std::vector<ConservedCombination> kept;
    for (const ConservedCombination& c : conserved_combinations(md)) {
        const int r = position[static_cast<std::size_t>(c.terms.front().first)];
        bool fits = true;
        for (const auto& term : c.terms)
            fits = fits && in_band(r, position[static_cast<std::size_t>(term.first)]);
        if (fits && confirmed(c, row, std::max(0, r - lower - upper), std::min(n - 1, r + lower + upper)))
            kept.push_back(c);
    }
    std::vector<char> algebraic(static_cast<std::size_t>(n), 0);
    for (const ConservedCombination& c : kept) {
        const int r = position[static_cast<std::size_t>(c.terms.front().first)];
        double rowSize = 0;
        for (int j = std::max(0, r - lower); j <= std::min(n - 1, r + upper); ++j) {
            rowSize = std::max(rowSize, std::fabs(at(r, j)));
            at(r, j) = 0;
        }
        for (const auto& [index, weight] : c.terms)
            at(r, position[static_cast<std::size_t>(index)]) = -weight * rowSize;
        algebraic[static_cast<std::size_t>(r)] = 1;
    }
    return algebraic;
}

// The dense path's form of the same: the unknowns that confirmed combinations name are
// eliminated (each is a combination of the others), which leaves an ordinary linear system
// of the remaining unknowns without the null space,
//   s x_f = (J_ff + J_fa C) x_f + b_f,  x_a = C x_f,
// and the potential's weights become w_f + C^T w_a.
struct ReducedSystem {
    MatDoub jac;
    std::vector<double> current, weights;
    std::vector<int> position;  // [record index]: the reduced unknown, -1 when eliminated
    std::vector<int> unknown;   // [reduced unknown]: its record index
};

ReducedSystem eliminate_conserved(const model& md, const MatDoub& jac,
                                  const std::vector<double>& current,
                                  const std::vector<double>& weights) {
    const int n = md.nEq;
    auto row = [&](int index, int j) { return jac[index][j]; };
    // C row by row over the free unknowns (record indices), for the eliminated unknowns
    std::vector<std::vector<std::pair<int, double>>> expression(static_cast<std::size_t>(n));
    std::vector<char> eliminated(static_cast<std::size_t>(n), 0);
    for (const ConservedCombination& c : conserved_combinations(md)) {
        const int a = c.terms.front().first;
        if (!confirmed(c, row, 0, n - 1)) continue;
        std::vector<std::pair<int, double>> e;
        for (std::size_t t = 1; t < c.terms.size(); ++t) {
            const auto [index, weight] = c.terms[t];
            if (eliminated[static_cast<std::size_t>(index)] != 0) {
                for (const auto& [g, coefficient] : expression[static_cast<std::size_t>(index)])
                    e.emplace_back(g, -weight * coefficient);
            } else {
                e.emplace_back(index, -weight);
            }
        }
        expression[static_cast<std::size_t>(a)] = std::move(e);
        eliminated[static_cast<std::size_t>(a)] = 1;
    }
    std::vector<int> position(static_cast<std::size_t>(n), -1);
    int free = 0;
    for (int i = 0; i < n; ++i)
        if (eliminated[static_cast<std::size_t>(i)] == 0) position[static_cast<std::size_t>(i)] = free++;
    ReducedSystem r;
    r.position = position;
    for (int i = 0; i < n; ++i)
        if (position[static_cast<std::size_t>(i)] >= 0) r.unknown.push_back(i);
    r.jac.resize(free, free);
    r.current.assign(static_cast<std::size_t>(free), 0.0);
    r.weights.assign(static_cast<std::size_t>(free), 0.0);
    for (int i = 0; i < n; ++i) {
        const int pi = position[static_cast<std::size_t>(i)];
        if (pi < 0) {
            for (const auto& [g, coefficient] : expression[static_cast<std::size_t>(i)])
                r.weights[static_cast<std::size_t>(position[static_cast<std::size_t>(g)])] +=
                    weights[static_cast<std::size_t>(i)] * coefficient;
            continue;
        }
        r.current[static_cast<std::size_t>(pi)] = current[static_cast<std::size_t>(i)];
        r.weights[static_cast<std::size_t>(pi)] += weights[static_cast<std::size_t>(i)];
        for (int j = 0; j < n; ++j) {
            const double v = jac[i][j];
            if (v == 0) continue;
            const int pj = position[static_cast<std::size_t>(j)];
            if (pj >= 0) {
                r.jac[pi][pj] += v;
                continue;
            }
            for (const auto& [g, coefficient] : expression[static_cast<std::size_t>(j)])
                r.jac[pi][position[static_cast<std::size_t>(g)]] += v * coefficient;
        }
    }
    return r;
}

// The conserved amounts (physics/jacobian.h) that the Jacobian confirms, as weight vectors
// in the solver's order (`position[record index]`, -1 where the solver has no unknown).
// `row(index, j)` is the Jacobian's row of record index `index` at solver column j.
template <class Row>
std::vector<std::vector<double>> confirmed_amounts(const model& md, const std::vector<int>& position,
                                                   int n, Row row) {
    std::vector<std::vector<double>> list;
    for (const ConservedCombination& c : conserved_amounts(md)) {
        std::vector<double> w(static_cast<std::size_t>(n), 0.0);
        bool inside = true;
        for (const auto& [index, weight] : c.terms) {
            const int p = position[static_cast<std::size_t>(index)];
            inside = inside && p >= 0;
            if (p >= 0) w[static_cast<std::size_t>(p)] = weight;
        }
        if (inside && confirmed(c, row, 0, n - 1)) list.push_back(std::move(w));
    }
    return list;
}

// Each conserved amount w makes s I - J nearly singular at low frequency along the
// direction v of steady states that differ in that amount (J v = 0), and the solutions
// carry rounding errors amplified by 1 / |s| along v; the true response keeps w x = 0
// (the current changes no such amount). The projection x - V (W^T V)^-1 W^T x removes
// those errors. V is found once: (s0 I - J) v = w at a shift far below the lowest
// frequency points along v. Only the potential p x of the response is wanted, so what is
// kept is p V (W^T V)^-1, and each solution costs the few products W^T x.
class AmountProjection {
  public:
    AmountProjection(const std::vector<std::vector<double>>& amounts, ShiftedSolver& solver,
                     double s0, const std::vector<double>& potential) {
        const std::size_t q = amounts.size();
        if (q == 0) return;
        const std::size_t n = potential.size();
        std::vector<std::vector<double>> v;
        std::vector<double> vi(n);
        for (const std::vector<double>& w : amounts) {
            std::vector<double> x(n);
            if (!solver.solve(s0, 0.0, w.data(), x.data(), vi.data())) return;
            v.push_back(std::move(x));
        }
        // G = W^T V and p V, then p V G^-1 by solving G^T y = (p V)^T
        std::vector<double> g(q * q, 0.0), pv(q, 0.0);
        for (std::size_t a = 0; a < q; ++a) {
            for (std::size_t b = 0; b < q; ++b)
                for (std::size_t i = 0; i < n; ++i) g[a * q + b] += amounts[a][i] * v[b][i];
            for (std::size_t i = 0; i < n; ++i) pv[a] += potential[i] * v[a][i];
        }
        coefficient_ = solve_transposed(g, pv, q);
        for (const std::vector<double>& w : amounts) {
            std::vector<std::pair<std::size_t, double>> terms;
            for (std::size_t i = 0; i < n; ++i)
                if (w[i] != 0) terms.emplace_back(i, w[i]);
            terms_.push_back(std::move(terms));
        }
    }

    // What the projection takes from the potential p x of a solution x.
    double correction(const std::vector<double>& x) const {
        double c = 0;
        for (std::size_t a = 0; a < terms_.size(); ++a) {
            double wx = 0;
            for (const auto& [i, weight] : terms_[a]) wx += weight * x[i];
            c += coefficient_[a] * wx;
        }
        return c;
    }

  private:
    // y with G^T y = r, by Gaussian elimination with partial pivoting (q is the number of
    // closed components, a few at most)
    static std::vector<double> solve_transposed(const std::vector<double>& g, std::vector<double> r,
                                                std::size_t q) {
        std::vector<double> a(q * q);
        for (std::size_t i = 0; i < q; ++i)
            for (std::size_t j = 0; j < q; ++j) a[i * q + j] = g[j * q + i];
        for (std::size_t c = 0; c < q; ++c) {
            std::size_t p = c;
            for (std::size_t i = c + 1; i < q; ++i)
                if (std::fabs(a[i * q + c]) > std::fabs(a[p * q + c])) p = i;
            for (std::size_t j = 0; j < q; ++j) std::swap(a[c * q + j], a[p * q + j]);
            std::swap(r[c], r[p]);
            for (std::size_t i = c + 1; i < q; ++i) {
                const double f = a[i * q + c] / a[c * q + c];
                for (std::size_t j = c; j < q; ++j) a[i * q + j] -= f * a[c * q + j];
                r[i] -= f * r[c];
            }
        }
        for (std::size_t c = q; c-- > 0;) {
            for (std::size_t j = c + 1; j < q; ++j) r[c] -= a[c * q + j] * r[j];
            r[c] /= a[c * q + c];
        }
        return r;
    }

    std::vector<std::vector<std::pair<std::size_t, double>>> terms_;  // W, sparse
    std::vector<double> coefficient_;                                  // p V G^-1
};

}  // namespace

LinearSpectrum linear_spectrum(model& md, SolverPath path, double accuracy, bool blocks) {
    const double started = cpu_seconds();
    LinearSpectrum s;
    s.unknowns = md.nEq;
    const std::vector<double> rate = state_rate(md, md.y.data());
    const std::vector<double> current = applied_current_column(md);
    const std::vector<double> weights = potential_weights(md);
    std::optional<ShiftedSolver> solver;
    std::vector<double> b, w, f;  // in the solver's order: current, potential weights, rate
    std::vector<std::vector<double>> amounts;
    if (path == SolverPath::banded) {
        PointOrderJacobian jac = transport_jacobian_banded(md, md.y.data());
        const int n = md.nEq, lower = jac.band.lower, upper = jac.band.upper;
        std::vector<int> position(static_cast<std::size_t>(n));
        for (int p = 0; p < n; ++p)
            position[static_cast<std::size_t>(jac.recordIndex[static_cast<std::size_t>(p)])] = p;
        amounts = confirmed_amounts(md, position, n, [&](int index, int j) {
            const int i = position[static_cast<std::size_t>(index)];
            return j - i <= upper && i - j <= lower ? jac.rows[i - j + upper][j] : 0.0;
        });
        const std::vector<char> algebraic = keep_conserved_combinations(md, jac);
        solver = ShiftedSolver::band(n, lower, upper, jac.rows.ptr(), blocks);
        for (std::size_t p = 0; p < jac.recordIndex.size(); ++p) {
            // the current adds to every field alike, so a kept combination of it is 0, and
            // so is one of the rates
            const auto index = static_cast<std::size_t>(jac.recordIndex[p]);
            b.push_back(algebraic[p] != 0 ? 0.0 : current[index]);
            f.push_back(algebraic[p] != 0 ? 0.0 : rate[index]);
            w.push_back(weights[index]);
        }
        solver->set_algebraic_rows(algebraic);
    } else {
        const MatDoub jac = transport_jacobian_dense(md, md.y.data());
        ReducedSystem r = eliminate_conserved(md, jac, current, weights);
        amounts = confirmed_amounts(md, r.position, r.jac.nrows(), [&](int index, int j) {
            return jac[index][r.unknown[static_cast<std::size_t>(j)]];
        });
        solver = ShiftedSolver::full(r.jac.nrows(), r.jac.ptr());
        b = std::move(r.current);
        w = std::move(r.weights);
        f = eliminate_conserved(md, jac, rate, weights).current;
    }
    const AmountProjection projection(amounts, *solver, 1e-6 * kOmegaFirst * md.tc, w);
    std::vector<double> xr(b.size()), xi(b.size());
    // The drift over one more tEnd: a backward Euler step of that length from the operating
    // point, x = (I / tEnd - J)^-1 f. The rate f itself carries the fast modes' rates at
    // the integrator's tolerance, amplified by their stiffness; the step damps them and
    // keeps the slow drift that the spectrum would see.
    if (solver->solve(1.0 / md.tEnd, 0.0, f.data(), xr.data(), xi.data())) {
        double drift = -projection.correction(xr);
        for (std::size_t i = 0; i < w.size(); ++i) drift += w[i] * xr[i];
        s.potentialRate = drift * md.eScale * md.L / (md.tEnd * md.tc);
    } else {
        s.potentialRate = potential_rate(md, md.y.data());
    }
    s.steady = std::fabs(s.potentialRate) * md.tEnd * md.tc <= accuracy;
    // volts per unit of the weighted sum; Z = -E
    const double volts = md.eScale * md.L * 1e-3;
    const int count = count_omegas();
    double omega = kOmegaFirst;
    for (int k = 0; k < count; ++k, omega = omega * kOmegaRatio) {
        // the integration runs in scaled time t / tc
        if (!solver->solve(0.0, omega * md.tc, b.data(), xr.data(), xi.data())) {
            s.failure = "the linearised system is singular at omega = " + number_text(omega) + " rad/s";
            break;
        }
        double er = -projection.correction(xr), ei = -projection.correction(xi);
        for (std::size_t i = 0; i < w.size(); ++i) {
            er += w[i] * xr[i];
            ei += w[i] * xi[i];
        }
        s.omega.push_back(omega);
        s.zReal.push_back(-er * volts);
        s.zImag.push_back(-ei * volts);
    }
    s.fallbacks = solver->fallbacks();
    s.cpuSeconds = cpu_seconds() - started;
    return s;
}

std::optional<SpectrumAgreement> compare_spectra(const LinearSpectrum& linear,
                                                 const std::vector<double>& zPrim,
                                                 const std::vector<double>& zBis, double thickness,
                                                 const VecDoub& time, const VecDoub& potential,
                                                 double tEnd) {
    SpectrumAgreement a;
    a.bandLow = kStepBandLow / tEnd;
    const double firstStep = time.size() > 1 ? time[1] - time[0] : 0;
    a.bandHigh = firstStep > 0
                     ? std::min(kStepBandHigh / firstStep,
                                resolved_omega(time, potential, a.bandLow, kStepChordShare))
                     : 0;
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

std::vector<std::string> linear_spectrum_warnings(const LinearSpectrum& s,
                                                  const std::optional<SpectrumAgreement>& a) {
    std::vector<std::string> warnings;
    if (!s.steady)
        warnings.push_back("linear spectrum from a state that is not steady: the potential "
                           "drifts by " + number_text(s.potentialRate) + " mV/s at the end of the run");
    if (!s.failure.empty()) warnings.push_back("linear spectrum incomplete: " + s.failure);
    if (a && a->largestDifference > kSpectraAgreement)
        warnings.push_back("step and linear spectra differ by " +
                           number_text(100 * a->largestDifference) + " % at " +
                           number_text(a->atOmega) + " rad/s, inside the band where both hold (" +
                           number_text(a->bandLow) + " to " + number_text(a->bandHigh) + " rad/s)");
    return warnings;
}
