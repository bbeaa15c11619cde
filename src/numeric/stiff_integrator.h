// RADAU5: the three-stage implicit Runge-Kutta method of Radau IIA type, order 5, for stiff
// systems M y' = f(x, y) with an optional constant mass matrix M. Adaptive step size,
// simplified Newton iteration with one real and one complex linear system per iteration,
// reuse of the Jacobian and of the decompositions between steps.
//
// Threads: with options.threads >= 2 the integrator owns a helper thread, on which the
// complex system is formed, decomposed and solved while the real one is on the caller's
// thread. The two share nothing they write, and each is computed by the same operations in
// the same order as with one thread, so every result is the same bit for bit. The
// right-hand side, the Jacobian and the output are only ever called on the caller's thread.
//
// Tolerances: the integrator works with rtol' = 0.1 rtol^(2/3) and atol' = rtol' atol/rtol
// internally; it keeps these to itself and never writes to the caller's values, so a
// second integrate() or a new integrator runs with the tolerances exactly as given.
//
// A right-hand side that returns non-zero:
// - for a Newton stage or the error estimate's extra evaluation: the step attempt is
//   abandoned and retried with half the step (a Newton failure), as for a diverging
//   iteration; the state stays at the last accepted point;
// - at the initial point, at a newly accepted point or for a finite-difference Jacobian
//   column (states the step size cannot move away from): the run ends with
//   kRhsRefused, y at the last accepted point.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "numeric/integrator.h"
#include "numeric/block_tridiagonal.h"
#include "numeric/difference_jacobian.h"
#include "numeric/nr.h"
#include "numeric/square_matrix.h"

// How the Jacobian is stored and the linear systems solved.
enum class JacobianStructure {
    full,        // n x n
    band,        // jac_lower sub- and jac_upper super-diagonals (full when jac_lower >= n - m1)
    hessenberg,  // full, reduced to upper Hessenberg form once per Jacobian (n >= 3, no mass)
    // block-tridiagonal in the blocks of StiffOptions::block_sizes (identity mass matrix, no
    // second-order structure); formed by differences like a band of jac_lower and jac_upper
    // diagonals, of which it keeps what lies in the blocks: every other element of the band
    // must be zero
    blocks,
};

// The matrix M of M y' = f(x, y).
enum class MassMatrix {
    identity,
    full,  // filled by OdeSystem::mass as mas[i][j]
    band,  // mass_lower and mass_upper diagonals, mas[i - j + mass_upper][j]
};

// Settings of the stiff integrator: the common ones and the method's own.
struct StiffOptions : IntegratorOptions {
    bool analytic_jacobian = false;  // OdeSystem::jacobian instead of finite differences
    JacobianStructure jacobian = JacobianStructure::full;
    int jac_lower = 0;  // bandwidths of a band Jacobian
    int jac_upper = 0;
    std::vector<int> block_sizes;  // of a block-tridiagonal Jacobian, summing to n
    // With a block-tridiagonal Jacobian: groups of columns that no row shares, with the rows
    // of every column (column_groups of the elements that may be non-zero, each in the
    // blocks): the differences perturb each group together, often fewer groups than the
    // band needs. Null: as for the band. Shared, not copied.
    std::shared_ptr<const ColumnGroups> jacobian_groups;
    MassMatrix mass = MassMatrix::identity;
    int mass_lower = 0;  // bandwidths of a band mass matrix (at most the Jacobian's)
    int mass_upper = 0;
    int nit = 7;              // largest number of Newton iterations per step, > 0
    bool zero_start = false;  // Newton starts from zero instead of the extrapolated stages
    // Differential-algebraic index of the components, in this order in y: nind1 of index
    // 1 (unset: all others), then nind2 of index 2, then nind3 of index 3.
    std::optional<int> nind1;
    int nind2 = 0;
    int nind3 = 0;
    bool predictive = true;  // predictive step-size controller; false: the classical one
    // Second-order structure: the first m1 equations are y'(i) = y(i + m2) (m2 unset: m1);
    // m1 must be a multiple of m2.
    int m1 = 0;
    std::optional<int> m2;
    // Newton stopping tolerance; unset: max(10 uround / rtol', min(0.03, sqrt(rtol'))).
    std::optional<double> fnewt;
    double quot1 = 1.0;  // the step size is kept when quot1 <= hnew / h <= quot2
    double quot2 = 1.2;
    double thet = 0.001;  // the Jacobian is reused while the Newton contraction <= thet;
                          // negative: a new one after every accepted step
    // With threads >= 2 the helper thread is used only when one real solve takes at least
    // this many multiply-adds (band: rows x (2 lower + upper + 1), else rows^2): on smaller
    // systems handing the complex system over costs more time than the overlap saves.
    long long parallel_min_work = 200000;
};

struct StiffIntegratorAccess;
class HelperThread;

class StiffIntegratorT : public IntegratorT {
  public:
    // Result codes of run_steps / integrate.
    static constexpr int kReachedEnd = 1;
    static constexpr int kStoppedByOutput = 2;
    static constexpr int kUnsupportedCase = -1;
    static constexpr int kTooManySteps = -2;
    static constexpr int kStepTooSmall = -3;
    static constexpr int kRepeatedlySingular = -4;
    static constexpr int kRhsRefused = -5;
    // The first real solve after a block-tridiagonal decomposition counts as inaccurate when
    // its residual exceeds, in some row, this share of the row's terms (componentwise
    // backward error: a backward-stable solve leaves some hundred roundings, measured up to
    // 3e-11 on the bundled examples; a block without the pivot that its neighbour holds
    // loses digits wholesale, 1e-5 measured) ...
    static constexpr double kBlockBackwardErrorLimit = 1e-8;
    // ... plus this share of the residual that would move the solution by one error weight
    // (the Newton iteration stops at some hundredths of a weight).
    static constexpr double kBlockWeightShare = 1e-3;

    // Checks the options (a refused value writes its message to standard output and throws
    // IntegratorError) and allocates all work storage.
    StiffIntegratorT(OdeSystem& system, int n, double* y, double x, double x_end,
                     const StiffOptions& options);

    // The positional form: every argument 0 (null, false) stands for its default. The
    // tolerances are read from the caller's storage (one value, or n when
    // vector_tolerances is non-zero; null: 1e-7) and never written. jac_lower < n - m1
    // selects a band Jacobian, mass_given a mass matrix (full when mass_lower = n - m1),
    // controller_choice >= 2 the classical controller.
    StiffIntegratorT(OdeSystem& system, int n, double* y, double x, double x_end,
                     int vector_tolerances, const double* rel_tolerance,
                     const double* abs_tolerance, int output_mode, double h, double h_max,
                     int nmax, double uround, double safe, double facl, double facr,
                     int analytic_jacobian, int jac_lower, int jac_upper, int mass_given,
                     int mass_lower, int mass_upper, int nit, bool zero_start, int nind1,
                     int nind2, int nind3, int controller_choice, int m1, int m2,
                     int use_hessenberg, double fnewt, double quot1, double quot2, double thet);
    ~StiffIntegratorT() override;

    // Runs the step loop once. A negative code writes " Computation failed ". The code is
    // returned and kept in result_code().
    int integrate() override;
    int run_steps() override;
    double dense_output(int i) const override;

  private:
    friend struct StiffIntegratorAccess;
    struct StepControl;
    enum class Attempt { proceed, retry, stop };  // how a phase of the step loop ends

    // the matrix work of one step
    bool compute_jacobian();
    template <class Store>
    bool grouped_jacobian(Store& store);
    bool refresh_stale_jacobian();
    int decompose_real();
    int decompose_complex();
    int decompose(bool complex_shift);
    int decompose_pair();
    void form_blocks(bool real, bool complex, int row_first, int row_end);
    double block_backward_error(const double* b, const double* solution) const;
    void reduce_jacobian_to_hessenberg();
    template <class RealPart, class ComplexPart>
    void side_by_side(RealPart& real_part, ComplexPart& complex_part);
    int solve_stages();
    int estimate_error();

    // phases of the step loop; a phase that stops the run leaves its result in `code`
    int start_run(StepControl& c);
    Attempt decompose_matrices(StepControl& c, int& code);
    Attempt begin_attempt(StepControl& c, int& code);
    void starting_values();
    Attempt newton_iteration(StepControl& c, int& code);
    Attempt give_up_attempt(StepControl& c, double factor, int& code);
    void choose_step_size(StepControl& c);
    Attempt reject_step(StepControl& c, int& code);
    Attempt accept_step(StepControl& c, int& code, bool& keep_decompositions);
    int call_output();
    int rhs_refused();

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
    int base_case() const { return ijob_ > 10 ? ijob_ - 10 : ijob_; }

    // method parameters after defaults and checks
    double facl_;
    double facr_;
    bool analytic_jacobian_;
    int jac_lower_;
    int jac_upper_;
    int mass_lower_;
    int mass_upper_;
    int nit_;
    bool zero_start_;
    int nind1_ = 0;
    int nind2_;
    int nind3_;
    bool predictive_;
    int m1_;
    int m2_ = 0;
    int reduced_n_ = 0;
    double fnewt_ = 0;
    double quot1_;
    double quot2_;
    double thet_;
    // tolerances of the error weights, rtol' and atol' of the header comment
    std::vector<double> rtol_internal_;
    std::vector<double> atol_internal_;

    // structure: ijob 1 identity mass, full Jacobian; 2 identity, band; 3 band mass, full;
    // 4 band mass, band; 5 full mass, full; 7 identity, Hessenberg; 11-15 as ijob - 10
    // with second-order structure (linear systems of order n - m1)
    bool has_mass_ = false;
    bool banded_jacobian_ = false;
    int jac_rows_ = 0;
    int e_rows_ = 0;
    int mass_rows_ = 0;
    int ijob_ = 0;
    int e_diag_row_ = 0;        // position of the diagonal in a column of banded E
    int mass_first_e_row_ = 0;  // position in a column of banded E for band row 0 of mas
    int mass_band_rows_ = 0;    // mass_lower + mass_upper + 1

    // state of the Newton iteration and the step loop
    double gamma_h_ = 0;
    double alpha_h_ = 0;
    double beta_h_ = 0;
    double error_norm_ = 0;
    bool jacobian_current_ = true;
    bool hessenberg_pending_ = true;
    bool first_step_ = true;
    bool check_block_solve_ = false;  // the next real solve is the first of new block factors
    bool rejected_ = false;

    std::vector<double> z1_, z2_, z3_;
    std::vector<double> f_start_;
    std::vector<double> scale_;
    std::vector<double> f1_, f2_, f3_;
    std::vector<double> cont_;  // dense-output coefficients (4n), first n also scratch
    std::vector<int> hessenberg_swaps_;
    // Iteration matrices E1 (real) and E2 (complex) with their factors, of order reduced_n,
    // in the Jacobian's structure; jac and mas keep a band by rows.
    SquareMatrix e1_, e2_;
    MatDoub jac_;
    MatDoub mas_;
    // the same for a block-tridiagonal Jacobian (then the only ones allocated)
    bool blocked_ = false;
    BlockTridiagonal block_jac_, block_e1_, block_e2_;
    std::shared_ptr<const ColumnGroups> column_groups_;  // null: by the band

    // runs the complex system's work when the integration has two threads; null: one thread
    std::unique_ptr<HelperThread> helper_;
    // evaluates f on the helper thread for half the Jacobian's column groups; null: the
    // Jacobian is formed on this thread
    OdeSystem* helper_system_ = nullptr;

    // method constants (closed forms evaluated at the start of run_steps)
    double c1_ = 0, c2_ = 0, c1m1_ = 0, c2m1_ = 0, c1mc2_ = 0;
    double u1_ = 0, alpha_ = 0, beta_ = 0;
};
