// Work and time of the stiff integrator on two reference problems, and the time of one
// full real LU decomposition of orders 500 and 2000.
//
// Robertson's kinetics over t = 0 .. 4e10 (rtol 1e-6, atol 1e-10) and a 1-D
// reaction-diffusion problem of 500 unknowns, u_t = d u_xx + u^2 (1 - u) on (0, 1) with
// u = 0 at both ends (rtol = atol = 1e-6), integrated with the full finite-difference
// Jacobian that the simulator uses and, for comparison, with the banded one.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "numeric/linear_solvers.h"
#include "numeric/nr.h"
#include "numeric/stiff_integrator.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Robertson : public OdeSystem {
  public:
    int rhs(double, const double* y, double* f) override {
        ++calls;
        f[0] = -0.04 * y[0] + 1e4 * y[1] * y[2];
        f[2] = 3e7 * y[1] * y[1];
        f[1] = -f[0] - f[2];
        return 0;
    }
    long calls = 0;
};

class ReactionDiffusion : public OdeSystem {
  public:
    explicit ReactionDiffusion(int n) : n_(n), dx_(1.0 / (n + 1)) {}
    int rhs(double, const double* u, double* f) override {
        ++calls;
        const double d = 1e-2 / (dx_ * dx_);
        for (int i = 0; i < n_; ++i) {
            const double l = i > 0 ? u[i - 1] : 0.0;
            const double r = i < n_ - 1 ? u[i + 1] : 0.0;
            f[i] = d * (l - 2.0 * u[i] + r) + u[i] * u[i] * (1.0 - u[i]);
        }
        return 0;
    }
    long calls = 0;

  private:
    int n_;
    double dx_;
};

void report(const char* name, const StiffIntegratorT& s, long rhs_calls, double time, int code) {
    const IntegratorStatistics& st = s.statistics();
    std::printf(
        "%-34s code %d  steps %d  accepted %d  rejected %d  Newton failures %d  jacobians %d  "
        "decompositions %d + %d  rhs (method) %lld  rhs (Jacobian) %lld  rhs (seen) %ld  "
        "time %.3f s\n",
        name, code, st.steps, st.accepted, st.rejected, st.newton_failures, st.jacobians,
        st.real_decompositions, st.complex_decompositions, st.rhs_calls, st.jacobian_rhs_calls,
        rhs_calls, time);
}

void run_robertson() {
    Robertson sys;
    double y[3] = {1.0, 0.0, 0.0};
    StiffOptions options;
    options.rtol = {1e-6};
    options.atol = {1e-10};
    const auto start = Clock::now();
    StiffIntegratorT s(sys, 3, y, 0.0, 4e10, options);
    const int code = s.integrate();
    report("Robertson, full Jacobian", s, sys.calls, seconds_since(start), code);
    std::printf("  y(4e10) = %.6e %.6e %.6e\n", y[0], y[1], y[2]);
}

void run_reaction_diffusion(bool banded) {
    const int n = 500;
    ReactionDiffusion sys(n);
    std::vector<double> u(n);
    for (int i = 0; i < n; ++i) {
        const double x = (i + 1.0) / (n + 1);
        u[i] = std::exp(-200.0 * (x - 0.5) * (x - 0.5));
    }
    StiffOptions options;
    options.rtol = {1e-6};
    options.atol = {1e-6};
    if (banded) {
        options.jacobian = JacobianStructure::band;
        options.jac_lower = 1;
        options.jac_upper = 1;
    }
    const auto start = Clock::now();
    StiffIntegratorT s(sys, n, u.data(), 0.0, 10.0, options);
    const int code = s.integrate();
    report(banded ? "reaction-diffusion 500, banded" : "reaction-diffusion 500, full", s, sys.calls,
           seconds_since(start), code);
}

void time_decomposition(int n, int repeats) {
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    MatDoub source(n, n), a(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) source[i][j] = dist(gen) + (i == j ? 4.0 : 0.0);
    std::vector<int> pivots(n);
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        for (int i = 0; i < n; ++i) std::copy(source[i], source[i] + n, a[i]);
        const auto start = Clock::now();
        const int code = decompose_full(n, a.ptr(), pivots.data());
        best = std::min(best, seconds_since(start));
        if (code != 0) std::printf("  unexpected zero pivot %d\n", code);
    }
    std::printf("decompose_full, order %4d: %.4f s (best of %d)\n", n, best, repeats);
}

void time_complex_decomposition(int n) {
    std::mt19937 gen(2);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    MatDoub ar(n, n), ai(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            ar[i][j] = dist(gen) + (i == j ? 4.0 : 0.0);
            ai[i][j] = i == j ? 3.0 : 0.0;  // as in E2 = (alpha + i beta) I - J
        }
    std::vector<int> pivots(n);
    const auto start = Clock::now();
    decompose_full_complex(n, ar.ptr(), ai.ptr(), pivots.data());
    std::printf("decompose_full_complex, order %4d: %.4f s\n", n, seconds_since(start));
}

}  // namespace

int main() {
    run_robertson();
    run_reaction_diffusion(false);
    run_reaction_diffusion(true);
    time_decomposition(500, 5);
    time_decomposition(2000, 1);
    time_complex_decomposition(500);
    return 0;
}
