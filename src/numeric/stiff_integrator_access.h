// Reaches the pieces of one step of the stiff integrator (Jacobian, decompositions, stage
// solve, error estimate) to drive or time them one by one: for tests and benchmarks only;
// the program runs the integrator through integrate().
#pragma once

#include <vector>

#include "numeric/stiff_integrator.h"

struct StiffIntegratorAccess {
    static int ijob(const StiffIntegratorT& s) { return s.ijob_; }
    static bool compute_jacobian(StiffIntegratorT& s) { return s.compute_jacobian(); }
    static void set_shifts(StiffIntegratorT& s, double gamma, double alpha, double beta) {
        s.gamma_h_ = gamma;
        s.alpha_h_ = alpha;
        s.beta_h_ = beta;
    }
    static int decompose_real(StiffIntegratorT& s) { return s.decompose_real(); }
    static int decompose_complex(StiffIntegratorT& s) { return s.decompose_complex(); }
    // both, on two threads when the integrator has them, as a step decomposes them
    static int decompose_pair(StiffIntegratorT& s) { return s.decompose_pair(); }
    static int solve_stages(StiffIntegratorT& s) { return s.solve_stages(); }
    static int estimate_error(StiffIntegratorT& s) { return s.estimate_error(); }
    static double error_norm(const StiffIntegratorT& s) { return s.error_norm_; }
    // z1..z3 (k = 0..2), f1..f3 (k = 3..5), f_start (6), scale (7)
    static std::vector<double>& vec(StiffIntegratorT& s, int k) {
        std::vector<double>* const all[] = {&s.z1_, &s.z2_, &s.z3_, &s.f1_,
                                            &s.f2_, &s.f3_, &s.f_start_, &s.scale_};
        return *all[k];
    }
};
