// RADAU5: the three-stage implicit Runge-Kutta method of Radau IIA type, order 5, for stiff
// systems M y' = f(x, y) with an optional constant mass matrix M. Adaptive step size,
// simplified Newton iteration with one real and one complex linear system per iteration,
// reuse of the Jacobian and of the decompositions between steps.
//
// Structural cases (ijob), derived from the constructor's arguments:
//   1 identity mass, full Jacobian        2 identity mass, banded Jacobian
//   3 banded mass, full Jacobian          4 banded mass, banded Jacobian
//   5 full mass, full Jacobian            7 identity mass, Jacobian in Hessenberg form
//   11-15 as ijob - 10 with second-order structure: the first m1 equations read
//         y'(i) = y(i + m2), and the linear systems shrink to order n - m1.
#pragma once

#include <vector>

#include "numeric/integrator.h"
#include "numeric/nr.h"

class StiffIntegratorT : public IntegratorT {
  public:
    // Result codes of run_steps / integrate.
    static constexpr int kReachedEnd = 1;
    static constexpr int kStoppedByOutput = 2;
    static constexpr int kUnsupportedCase = -1;
    static constexpr int kTooManySteps = -2;
    static constexpr int kStepTooSmall = -3;
    static constexpr int kRepeatedlySingular = -4;

    // Parameters in this order; zero stands for the default of each. The tolerances are
    // transformed in place in the caller's storage (rtol -> 0.1 rtol^(2/3), atol keeping
    // its ratio to rtol) once every check has passed, and transformed back by integrate
    // after a successful run. A refused value writes its message to standard output and
    // throws IntegratorError, leaving the caller's tolerances untouched.
    StiffIntegratorT(OdeSystem& system, int n, double* y, double x, double x_end,
                     int vector_tolerances, double* rel_tolerance, double* abs_tolerance,
                     int output_mode, double h, double h_max, int nmax, double uround, double safe,
                     double facl, double facr, int analytic_jacobian, int jac_lower, int jac_upper,
                     int mass_given, int mass_lower, int mass_upper, int nit, bool zero_start,
                     int nind1, int nind2, int nind3, int controller_choice, int m1, int m2,
                     int use_hessenberg, double fnewt, double quot1, double quot2, double thet);
    ~StiffIntegratorT() override;

    // Runs the step loop once. A negative code writes " Computation failed " and leaves the
    // tolerances transformed; otherwise they are transformed back. The code is returned and
    // also kept in result_code.
    int integrate() override;
    int run_steps() override;
    double dense_output(int i) const override;

    // The matrix work of one step (also reachable for tests).
    void compute_jacobian();
    int decompose_real();
    int decompose_complex();
    int solve_stages();
    int estimate_error();

    int analytic_jacobian;
    int jac_lower;
    int jac_upper;
    int mass_given;
    int mass_lower;
    int mass_upper;
    int nit;
    bool zero_start;
    int nind1;
    int nind2;
    int nind3;
    int controller_choice;
    bool predictive = true;
    int m1;
    int m2;
    int reduced_n = 0;
    int use_hessenberg;
    double fnewt;
    double quot1;
    double quot2;
    double thet;
    bool has_mass = false;
    bool banded_jacobian = false;
    int jac_rows = 0;
    int e_rows = 0;
    int mass_rows = 0;
    int ijob = 0;
    int jacobian_calls = 0;
    int decompositions = 0;
    int solves = 0;

    // Band indices derived once from the bandwidths.
    int e_lower = 0;           // lower bandwidth of E1, E2
    int e_upper = 0;           // upper bandwidth of E1, E2
    int jac_band_rows = 0;     // jac_lower + jac_upper + 1
    int mass_band_rows = 0;    // mass_lower + mass_upper + 1
    int e_diag_row = 0;        // position of the diagonal in a column of banded E
    int mass_first_e_row = 0;  // position in a column of banded E for band row 0 of mas
    int mass_diag_row = 0;     // mass_upper + 1

    double gamma_h = 0;
    double alpha_h = 0;
    double beta_h = 0;
    double error_norm = 0;
    bool jacobian_current = true;
    bool hessenberg_pending = true;
    bool first_step = true;
    bool rejected = false;

    std::vector<double> z1, z2, z3;
    std::vector<double> f_start;
    std::vector<double> scale;
    std::vector<double> f1, f2, f3;
    std::vector<double> cont;
    std::vector<int> pivots_real;
    std::vector<int> pivots_complex;
    std::vector<int> hessenberg_swaps;
    // Iteration matrices; banded ones are in the column-wise band storage of the linear
    // solvers (reduced_n columns of e_rows values), while jac and mas keep the band by rows.
    MatDoub e1, e2_re, e2_im;
    MatDoub jac;
    MatDoub mas;

    // How the last integrate ended (0 before the first call).
    int result_code = 0;

  private:
    void compute_method_constants();
    void compute_scale();
    void real_solve(double* b);
    void complex_solve(double* br, double* bi);
    void into_hessenberg_basis(double* v);
    void out_of_hessenberg_basis(double* v);
    void add_second_order_terms(double* v1, double* v2, double* v3);
    void finish_second_order(double* v1, double* v2, double* v3);
    void mass_times(const double* v, double* out);
    int unsupported_case() const;

    // Method constants (closed forms evaluated at the start of run_steps).
    double c1_ = 0, c2_ = 0, c1m1_ = 0, c2m1_ = 0, c1mc2_ = 0;
    double u1_ = 0, alpha_ = 0, beta_ = 0;
};
