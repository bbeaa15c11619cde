#include "numeric/stiff_integrator.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "numeric/difference_jacobian.h"
#include "numeric/helper_thread.h"
#include "numeric/linear_solvers.h"

namespace {

// T transforms the decoupled stage increments back to the stage increments; TI = T^-1
// decouples the stage system into one real and one complex system.
constexpr double kT[3][3] = {
    {0.09123239487089295, -0.1412552950209542, -0.030029194105147424},
    {0.241717932707107, 0.20412935229379994, 0.3829421127572619},
    {0.966048182615093, 1.0, 0.0},
};
constexpr double kTI[3][3] = {
    {4.325579890063155, 0.33919925181580984, 0.5417705399358749},
    {-4.178718591551905, -0.32768282076106237, 0.47662355450055044},
    {-0.5028726349457868, 2.571926949855605, -0.5960392048282249},
};

// Tuning of the step loop.
// A given initial step below 10 uround is meaningless; this one is small for any scaled problem.
constexpr double kDefaultInitialStep = 1e-6;
// A first step reaching within 0.01 % of x_end takes the whole interval: no sliver step.
constexpr double kLastStepStretch = 1.0001;
// The step is too small once 0.1 |h| no longer changes x in the last place.
constexpr double kSmallStepFraction = 0.1;
// Singular iteration matrices tolerated per run; each halves h.
constexpr int kMaxSingularMatrices = 5;
// The previous step's convergence factor is damped by this power before it is reused.
constexpr double kFacconExponent = 0.8;
// A Newton contraction at or above this is divergence: give up the attempt.
constexpr double kDivergentContraction = 0.99;
// Bounds of the predicted Newton shortfall qnewt, which sets the reduced step
// 0.8 qnewt^(-1/(nit + 3 - newt)) h: a wild estimate neither collapses nor inflates h.
constexpr double kMinNewtonShortfall = 1e-4;
constexpr double kMaxNewtonShortfall = 20.0;
// Safety factor on the step size predicted from a slowly converging Newton iteration.
constexpr double kSlowNewtonSafety = 0.8;
// h after a Newton failure or a singular matrix: halving always makes progress towards
// the small steps where the iteration converges.
constexpr double kNewtonFailureFactor = 0.5;
// A first step rejected by the error test has no error history to predict from: cut hard.
constexpr double kFirstRejectionFactor = 0.1;
// The local error estimate behaves like h^4, so the step scales with its 4th root.
constexpr double kErrorExponent = 0.25;
// Floor of the error norm, so that a vanishing estimate cannot give an infinite step.
constexpr double kMinErrorNorm = 1e-10;
// Floor of the previous step's error in the predictive controller.
constexpr double kMinPreviousError = 0.01;
// Share of the complex iteration matrix's blocks eliminated from the top, on the thread
// that also decomposes the real one: a complex decomposition costs about 2.5 real ones on
// the blocks of a transport system, and a complex solve about 3 real ones (measured).
// Meeting E1 in the middle too, each thread taking half of both matrices (so that the
// error estimate's solve with E1 is shared as well), was measured: no faster at 2e4
// unknowns, 9 % slower at 1e6.
constexpr double kComplexTopShare = 0.3;
// Upper bound of the default Newton stopping tolerance; tighter iterations gain nothing
// against an error test at rtol'.
constexpr double kMaxDefaultFnewt = 0.03;

// (a, b, c) <- M (a, b, c), component by component
void apply_3x3(const double (&m)[3][3], const double* a, const double* b, const double* c,
               double* ra, double* rb, double* rc, int n) {
    for (int i = 0; i < n; ++i) {
        const double ai = a[i];
        const double bi = b[i];
        const double ci = c[i];
        ra[i] = m[0][0] * ai + m[0][1] * bi + m[0][2] * ci;
        rb[i] = m[1][0] * ai + m[1][1] * bi + m[1][2] * ci;
        rc[i] = m[2][0] * ai + m[2][1] * bi + m[2][2] * ci;
    }
}

bool is_supported(int ijob) {
    switch (ijob) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 7:
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:
            return true;
        default:
            return false;
    }
}

// Messages are formatted on a fresh stream, so that numbers appear in the default format
// (six significant digits) whatever the caller did to its own stream's settings.
template <class... Parts>
void print_line(MessageSink& sink, const Parts&... parts) {
    tell(sink, parts..., "\n");
    sink.flush();
}

void exit_message(MessageSink& sink, double x) { print_line(sink, " exit of RADAU5 at x = ", x); }

template <class... Parts>
[[noreturn]] void refuse_values(MessageSink& sink, const Parts&... parts) {
    std::ostringstream message;
    (message << ... << parts);
    print_line(sink, message.str());
    throw IntegratorError(message.str());
}

// The positional arguments as options: zero (null) takes the default.
StiffOptions positional_options(int n, int vector_tolerances, const double* rel_tolerance,
                                const double* abs_tolerance, int output_mode, double h,
                                double h_max, double x, double x_end, int nmax, double uround,
                                double safe, double facl, double facr, int analytic_jacobian,
                                int jac_lower, int jac_upper, int mass_given, int mass_lower,
                                int mass_upper, int nit, bool zero_start, int nind1, int nind2,
                                int nind3, int controller_choice, int m1, int m2,
                                int use_hessenberg, double fnewt, double quot1, double quot2,
                                double thet) {
    StiffOptions o;
    // a null pointer makes both tolerances scalar
    const bool per_component =
        vector_tolerances != 0 && rel_tolerance != nullptr && abs_tolerance != nullptr && n > 0;
    const std::size_t count = per_component ? static_cast<std::size_t>(n) : 1;
    if (rel_tolerance != nullptr) o.rtol.assign(rel_tolerance, rel_tolerance + count);
    if (abs_tolerance != nullptr) o.atol.assign(abs_tolerance, abs_tolerance + count);
    o.output = output_mode != 0;
    o.h = h;
    o.h_max = h_max != 0.0 ? h_max : x_end - x;
    if (nmax != 0) o.max_steps = nmax;
    if (uround != 0.0) o.uround = uround;
    if (safe != 0.0) o.safe = safe;
    if (facl != 0.0) o.facl = facl;
    if (facr != 0.0) o.facr = facr;
    o.analytic_jacobian = analytic_jacobian != 0;
    const int reduced_n = n - m1;
    o.jacobian = jac_lower < reduced_n   ? JacobianStructure::band
                 : use_hessenberg != 0 ? JacobianStructure::hessenberg
                                       : JacobianStructure::full;
    o.jac_lower = jac_lower;
    o.jac_upper = jac_upper;
    if (mass_given != 0) o.mass = mass_lower == reduced_n ? MassMatrix::full : MassMatrix::band;
    o.mass_lower = mass_lower;
    o.mass_upper = mass_upper;
    if (nit != 0) o.nit = nit;
    o.zero_start = zero_start;
    o.nind1 = nind1 != 0 ? nind1 : n;
    o.nind2 = nind2;
    o.nind3 = nind3;
    o.predictive = controller_choice <= 1;
    o.m1 = m1;
    if (m2 != 0) o.m2 = m2;
    if (fnewt != 0.0) o.fnewt = fnewt;
    if (quot1 != 0.0) o.quot1 = quot1;
    if (quot2 != 0.0) o.quot2 = quot2;
    if (thet != 0.0) o.thet = thet;
    return o;
}

}  // namespace

StiffIntegratorT::StiffIntegratorT(
    OdeSystem& system, int n_, double* y_, double x_, double x_end_, int vector_tolerances,
    const double* rel_tolerance, const double* abs_tolerance, int output_mode, double h_,
    double h_max, int nmax, double uround, double safe, double facl, double facr,
    int analytic_jacobian, int jac_lower, int jac_upper, int mass_given, int mass_lower,
    int mass_upper, int nit, bool zero_start, int nind1, int nind2, int nind3,
    int controller_choice, int m1, int m2, int use_hessenberg, double fnewt, double quot1,
    double quot2, double thet)
    : StiffIntegratorT(system, n_, y_, x_, x_end_,
                       positional_options(n_, vector_tolerances, rel_tolerance, abs_tolerance,
                                          output_mode, h_, h_max, x_, x_end_, nmax, uround, safe,
                                          facl, facr, analytic_jacobian, jac_lower, jac_upper,
                                          mass_given, mass_lower, mass_upper, nit, zero_start,
                                          nind1, nind2, nind3, controller_choice, m1, m2,
                                          use_hessenberg, fnewt, quot1, quot2, thet)) {}

StiffIntegratorT::StiffIntegratorT(OdeSystem& system, int n_, double* y_, double x_,
                                   double x_end_, const StiffOptions& o)
    : IntegratorT(system, n_, y_, x_, x_end_, o),
      facl_(o.facl),
      facr_(o.facr),
      analytic_jacobian_(o.analytic_jacobian),
      jac_lower_(o.jac_lower),
      jac_upper_(o.jac_upper),
      mass_lower_(o.mass_lower),
      mass_upper_(o.mass_upper),
      nit_(o.nit),
      zero_start_(o.zero_start),
      nind2_(o.nind2),
      nind3_(o.nind3),
      predictive_(o.predictive),
      m1_(o.m1),
      quot1_(o.quot1),
      quot2_(o.quot2),
      thet_(o.thet) {
    // Tolerances: atol > 0 and rtol > 10 uround for every pair, then the internal pair
    // rtol' = 0.1 rtol^(2/3), atol' = rtol' atol/rtol (the method's error estimate is one
    // order lower than its accuracy, hence the power).
    for (std::size_t i = 0; i < rtol_.size(); ++i) {
        if (atol_[i] > 0.0 && rtol_[i] > 10.0 * uround_) continue;
        if (!per_component_tolerances_) refuse(" tolerances are too small");
        refuse_values(messages_, " tolerances('", i, ") are too small");
    }
    for (std::size_t i = 0; i < rtol_.size(); ++i) {
        const double quot = atol_[i] / rtol_[i];
        rtol_internal_.push_back(0.1 * std::pow(rtol_[i], 2.0 / 3.0));
        atol_internal_.push_back(rtol_internal_.back() * quot);
    }
    const double first_rtol = rtol_internal_[0];

    if (std::fabs(h) < 10.0 * uround_) h = kDefaultInitialStep;

    if (facl_ < 1.0 || facr_ > 1.0)
        refuse_values(messages_, " curious input facl, facr = ", facl_, facr_);
    if (nit_ <= 0) refuse_values(messages_, " curious input nit = ", nit_);

    nind1_ = o.nind1.value_or(n - nind2_ - nind3_);
    if (nind1_ + nind2_ + nind3_ != n || nind1_ < 0 || nind2_ < 0 || nind3_ < 0)
        refuse_values(messages_, " curious input for nind1, nind2, nind3 = ", nind1_, nind2_,
                      nind3_);

    reduced_n_ = n - m1_;
    m2_ = m1_ == 0 ? n : o.m2.value_or(m1_);
    if (m2_ == 0) m2_ = m1_;
    // The reduction eliminates whole blocks of m2 components, so m1 must be a multiple of
    // m2; otherwise components would be left out of it and the stages come out wrong.
    if (m1_ < 0 || m2_ < 0 || m1_ + m2_ > n || (m2_ > 0 && m1_ % m2_ != 0))
        refuse_values(messages_, " curious input for m1, m2 = ", m1_, m2_);

    fnewt_ = o.fnewt.value_or(
        std::max(10.0 * uround_ / first_rtol, std::min(kMaxDefaultFnewt, std::sqrt(first_rtol))));
    if (uround_ / first_rtol >= fnewt_)
        refuse_values(messages_, " curious input for fnewt = ", fnewt_);

    if (quot1_ > 1.0 || quot2_ < 1.0)
        refuse_values(messages_, " curious input for quot1, quot2 = ", quot1_, quot2_);
    if (thet_ >= 1.0) refuse_values(messages_, " curious input for thet = ", thet_);

    has_mass_ = o.mass != MassMatrix::identity;
    blocked_ = o.jacobian == JacobianStructure::blocks;
    if (blocked_) {
        long long total = 0;
        for (int size : o.block_sizes) total += size > 0 ? size : n + 1LL;
        if (total != n) refuse(" curious input for block_sizes");
        if (has_mass_ || m1_ != 0)
            refuse(" block-tridiagonal Jacobian with a mass matrix or second-order structure");
    }
    banded_jacobian_ =
        blocked_ || (o.jacobian == JacobianStructure::band && jac_lower_ < reduced_n_);
    if (banded_jacobian_) {
        // Negative bandwidths would index outside the band storage.
        if (jac_lower_ < 0 || jac_upper_ < 0)
            refuse_values(messages_, " curious input for jac_lower, jac_upper = ", jac_lower_,
                          jac_upper_);
        // With second-order structure the banded Jacobian is stored block by block of m2
        // columns and the reduced system is the last block, so the blocks must fill n.
        if (m1_ > 0 && m1_ + m2_ != n)
            refuse_values(messages_, " curious input for m1, m2 = ", m1_, m2_);
        jac_rows_ = jac_lower_ + jac_upper_ + 1;
        e_rows_ = jac_lower_ + jac_rows_;
    } else {
        jac_lower_ = reduced_n_;
        jac_upper_ = reduced_n_;
        jac_rows_ = reduced_n_;
        e_rows_ = reduced_n_;
    }
    if (has_mass_) {
        if (o.mass == MassMatrix::full) {
            mass_lower_ = reduced_n_;
            mass_upper_ = reduced_n_;
            mass_rows_ = reduced_n_;
            ijob_ = 5;
        } else {
            if (mass_lower_ < 0 || mass_upper_ < 0)
                refuse_values(messages_,
                              " curious input for mass_lower, mass_upper = ", mass_lower_,
                              mass_upper_);
            mass_rows_ = mass_lower_ + mass_upper_ + 1;
            ijob_ = banded_jacobian_ ? 4 : 3;
        }
        if (mass_lower_ > jac_lower_ || mass_upper_ > jac_upper_)
            refuse("bandwith of 'mas' not smaller than bandwith of 'jac'");
    } else {
        mass_rows_ = 0;
        ijob_ = banded_jacobian_ ? 2 : 1;
        if (ijob_ == 1 && n >= 3 && o.jacobian == JacobianStructure::hessenberg) ijob_ = 7;
    }
    mass_rows_ = std::max(mass_rows_, 1);
    if (m1_ >= 1) ijob_ += 10;

    e_diag_row_ = jac_lower_ + jac_upper_;
    mass_first_e_row_ = e_diag_row_ - mass_upper_;
    mass_band_rows_ = mass_lower_ + mass_upper_ + 1;

    const auto un = static_cast<std::size_t>(n);
    for (auto* v : {&z1_, &z2_, &z3_, &f_start_, &scale_, &f1_, &f2_, &f3_}) v->assign(un, 0.0);
    cont_.assign(4 * un, 0.0);
    if (ijob_ == 7) hessenberg_swaps_.assign(un, 0);
    if (has_mass_) mas_.resize(mass_rows_, n);
    if (blocked_) {
        block_e1_ = BlockTridiagonal(o.block_sizes, false);
        block_e2_ = BlockTridiagonal(block_e1_, true);
        block_jac_ = BlockTridiagonal(block_e1_, false, false);
        if (const ColumnGroups* g = o.jacobian_groups.get()) {
            bool fits = g->rowStart.size() == static_cast<std::size_t>(n) + 1 &&
                        g->groupColumns.size() == static_cast<std::size_t>(n);
            for (std::size_t e = 0; fits && e < un; ++e) {
                const int j = g->groupColumns[e];
                fits = j >= 0 && j < n && g->rowStart[e] >= 0 &&
                       g->rowStart[e + 1] <= static_cast<int>(g->rows.size());
                for (int r = g->rowStart[e]; fits && r < g->rowStart[e + 1]; ++r) {
                    const int i = g->rows[static_cast<std::size_t>(r)];
                    fits = i >= 0 && i < n && block_jac_.holds(i, j);
                }
            }
            if (!fits) refuse(" curious input for jacobian_groups");
            column_groups_ = o.jacobian_groups;
        }
        // E2's elimination meets in the middle at this share of its blocks from the top, so
        // that with two threads this thread's part (E1 and E2's top) and the helper's (E2's
        // bottom) take about as long; the share is the same with one thread, and with it
        // every number.
        block_e2_.set_middle(static_cast<int>(kComplexTopShare * block_e2_.blocks()));
    } else {
        jac_.resize(jac_rows_, n);
        const SquareMatrix::Layout layout = banded_jacobian_ ? SquareMatrix::Layout::band
                                            : ijob_ == 7     ? SquareMatrix::Layout::hessenberg
                                                             : SquareMatrix::Layout::full;
        e1_ = SquareMatrix(layout, reduced_n_, false, jac_lower_, jac_upper_);
        e2_ = SquareMatrix(layout, reduced_n_, true, jac_lower_, jac_upper_);
    }
    compute_method_constants();
    const long long rows = reduced_n_;
    const long long solve_work =
        blocked_           ? static_cast<long long>(block_jac_.entries())
        : banded_jacobian_ ? rows * (2LL * jac_lower_ + jac_upper_ + 1)
                           : rows * rows;
    if (threads_ >= 2 && solve_work >= o.parallel_min_work) {
        helper_ = std::make_unique<HelperThread>();
        // grouped differences split between the threads column group by group
        if (column_groups_ != nullptr) helper_system_ = system_.concurrent_evaluator();
    }
}

StiffIntegratorT::~StiffIntegratorT() = default;

void StiffIntegratorT::compute_method_constants() {
    const double sq6 = std::sqrt(6.0);
    c1_ = (4.0 - sq6) / 10.0;
    c2_ = (4.0 + sq6) / 10.0;
    c1m1_ = c1_ - 1.0;
    c2m1_ = c2_ - 1.0;
    c1mc2_ = c1_ - c2_;
    const double cr81 = std::pow(81.0, 1.0 / 3.0);
    const double cr9 = std::pow(9.0, 1.0 / 3.0);
    u1_ = 30.0 / (6.0 + cr81 - cr9);
    const double a = (12.0 - cr81 + cr9) / 60.0;
    const double b = (cr81 + cr9) * std::sqrt(3.0) / 60.0;
    const double cno = a * a + b * b;
    alpha_ = a / cno;
    beta_ = b / cno;
}

int StiffIntegratorT::integrate() {
    const int code = run_steps();
    result_code_ = code;
    if (code < 0) print_line(messages_, " Computation failed ");
    return code;
}

double StiffIntegratorT::dense_output(int i) const {
    const auto k = static_cast<std::size_t>(i);
    const auto un = static_cast<std::size_t>(n);
    const double s = (x_dense - x) / h_old;
    return cont_[k] + s * (cont_[un + k] +
                           (s - c2m1_) * (cont_[2 * un + k] + (s - c1m1_) * cont_[3 * un + k]));
}

void StiffIntegratorT::compute_scale() {
    for (int i = 0; i < n; ++i) {
        const std::size_t t = per_component_tolerances_ ? static_cast<std::size_t>(i) : 0;
        scale_[i] = rtol_internal_[t] * std::fabs(y[i]) + atol_internal_[t];
    }
}

int StiffIntegratorT::unsupported_case() const {
    print_line(messages_, "Not a value ijob. \tijob = ", ijob_);
    return kUnsupportedCase;
}

int StiffIntegratorT::rhs_refused() {
    exit_message(messages_, x);
    print_line(messages_, " the right-hand side cannot be evaluated at this state");
    return kRhsRefused;
}

// ---------------------------------------------------------------------------------------
// Jacobian

bool StiffIntegratorT::compute_jacobian() {
    ++stats_.jacobians;
    double* const state = y;
    auto rhs = [this](const double* v, double* f) { return system_.rhs(x, v, f); };
    if (blocked_) {
        // the band's elements outside the blocks (and the pattern) are zero: only those in
        // them are kept
        BlockTridiagonal& jac = block_jac_;
        auto store = [&jac](int i, int j, double v) {
            if (double* const e = jac.element_re(i, j)) *e = v;
        };
        if (column_groups_ != nullptr) {
            if (!grouped_jacobian(store)) return false;
        } else if (!band_jacobian_by_differences_to(rhs, state, f_start_.data(), uround_, jac_lower_,
                                             jac_upper_, 0, n, store, f1_.data(), f2_.data(),
                                             cont_.data(), stats_.jacobian_rhs_calls))
            return false;
    } else if (analytic_jacobian_) {
        system_.jacobian(x, state, jac_.ptr());
    } else if (!banded_jacobian_) {
        if (!full_jacobian_by_differences(rhs, n, state, f_start_.data(), uround_, m1_,
                                          jac_.ptr(), cont_.data(), stats_.jacobian_rhs_calls))
            return false;
    } else if (!band_jacobian_by_differences(rhs, state, f_start_.data(), uround_, jac_lower_,
                                             jac_upper_, m1_, m2_, jac_.ptr(), f1_.data(),
                                             f2_.data(), cont_.data(),
                                             stats_.jacobian_rhs_calls)) {
        return false;
    }
    jacobian_current_ = true;
    hessenberg_pending_ = true;
    return true;
}

// The Jacobian by groups of columns: with a helper system, the helper thread forms the
// second half of the groups on a copy of y while this thread forms the first half. Every
// column is the same difference of the same two evaluations either way, so the Jacobian
// is the same bit for bit. The stage vectors z1 and z2 serve the helper as its copy of y
// and its work: they are set anew from the dense output before the next Newton iteration.
template <class Store>
bool StiffIntegratorT::grouped_jacobian(Store& store) {
    const ColumnGroups& groups = *column_groups_;
    auto rhs = [this](const double* v, double* f) { return system_.rhs(x, v, f); };
    if (helper_system_ == nullptr)
        return sparse_jacobian_by_differences(rhs, y, f_start_.data(), uround_, groups, 0,
                                              groups.groups(), store, f1_.data(), f2_.data(),
                                              cont_.data(), stats_.jacobian_rhs_calls);
    const int middle = groups.groups() / 2;
    std::copy(y, y + n, z1_.begin());
    long long helper_calls = 0;
    bool helper_ok = true;
    auto second_half = [&] {
        auto helper_rhs = [this](const double* v, double* f) {
            return helper_system_->rhs(x, v, f);
        };
        helper_ok = sparse_jacobian_by_differences(
            helper_rhs, z1_.data(), f_start_.data(), uround_, groups, middle, groups.groups(),
            store, f1_.data(), f2_.data(), z2_.data(), helper_calls);
    };
    helper_->start(second_half);
    const bool ok = sparse_jacobian_by_differences(rhs, y, f_start_.data(), uround_, groups, 0,
                                                   middle, store, f1_.data(), f2_.data(),
                                                   cont_.data(), stats_.jacobian_rhs_calls);
    helper_->wait();
    stats_.jacobian_rhs_calls += helper_calls;
    return ok && helper_ok;
}

// After a rejection the Jacobian is formed anew unless it belongs to the current point.
bool StiffIntegratorT::refresh_stale_jacobian() {
    return jacobian_current_ || compute_jacobian();
}

// ---------------------------------------------------------------------------------------
// Iteration matrices E1 = gamma M - J and E2 = (alpha + i beta) M - J

// Runs real_part() on this thread and complex_part() on the helper thread at the same time,
// or one after the other without a helper; returns when both are done.
template <class RealPart, class ComplexPart>
void StiffIntegratorT::side_by_side(RealPart& real_part, ComplexPart& complex_part) {
    if (helper_ == nullptr) {
        real_part();
        complex_part();
        return;
    }
    helper_->start(complex_part);
    real_part();
    helper_->wait();
}

// The Hessenberg form of a new Jacobian, once, before either iteration matrix is formed
// from it (both read it).
void StiffIntegratorT::reduce_jacobian_to_hessenberg() {
    if (!hessenberg_pending_) return;
    reduce_to_hessenberg(n, 0, n, jac_.ptr(), hessenberg_swaps_.data());
    hessenberg_pending_ = false;
}

int StiffIntegratorT::decompose_real() { return decompose(false); }

int StiffIntegratorT::decompose_complex() { return decompose(true); }

// Forms E = s M - J for the shift s = gamma (real matrix E1) or alpha + i beta (complex
// matrix E2, held as real and imaginary parts), in the storage of the structural case, and
// decomposes it. Returns 0, the zero-pivot column of the decomposition, or -1.
int StiffIntegratorT::decompose(bool complex_shift) {
    if (!is_supported(ijob_)) return unsupported_case();
    const double sr = complex_shift ? alpha_h_ : gamma_h_;  // real part of the shift
    const double si = beta_h_;                               // imaginary part (complex only)
    if (blocked_) {
        form_blocks(!complex_shift, complex_shift, 0, n);
        return complex_shift ? block_e2_.factor() : block_e1_.factor();
    }
    SquareMatrix& e = complex_shift ? e2_ : e1_;
    double** const er = e.re();
    double** const ei = complex_shift ? e.im() : nullptr;
    // E(r, c) = -j
    auto set_minus = [&](double* er_row, double* ei_row, int c, double j) {
        er_row[c] = -j;
        if (ei_row != nullptr) ei_row[c] = 0.0;
    };
    // E(r, c) += s m (the imaginary part was 0)
    auto add_shift = [&](double* er_row, double* ei_row, int c, double m) {
        er_row[c] = er_row[c] + sr * m;
        if (ei_row != nullptr) ei_row[c] = si * m;
    };
    auto im_row = [&](int r) { return ei != nullptr ? ei[r] : nullptr; };

    const int nm1 = reduced_n_;
    const int col0 = ijob_ > 10 ? m1_ : 0;  // Jacobian column of E's column 0
    const int base = base_case();
    switch (base) {
        case 1:
        case 3:
            for (int j = 0; j < nm1; ++j) {
                const double* jr = jac_[j] + col0;
                for (int i = 0; i < nm1; ++i) set_minus(er[j], im_row(j), i, jr[i]);
            }
            if (base == 1) {
                for (int i = 0; i < nm1; ++i) add_shift(er[i], im_row(i), i, 1.0);
            } else {
                for (int i = 0; i < nm1; ++i) {
                    const int jlo = std::max(0, i - mass_upper_);
                    const int jhi = std::min(nm1, i + mass_lower_ + 1);
                    for (int j = jlo; j < jhi; ++j)
                        add_shift(er[j], im_row(j), i, mas_[j - i + mass_upper_][i]);
                }
            }
            break;
        case 2:
        case 4:
            // column i of E from column col0 + i of the Jacobian's band (stored by rows);
            // the fill-in positions 0 .. jac_lower-1 are left to the decomposition
            for (int i = 0; i < nm1; ++i) {
                for (int j = 0; j < jac_rows_; ++j)
                    set_minus(er[i], im_row(i), jac_lower_ + j, jac_[j][col0 + i]);
                if (base == 2) {
                    add_shift(er[i], im_row(i), e_diag_row_, 1.0);
                } else {
                    for (int j = 0; j < mass_band_rows_; ++j)
                        add_shift(er[i], im_row(i), mass_first_e_row_ + j, mas_[j][i]);
                }
            }
            break;
        case 5:
            for (int j = 0; j < nm1; ++j) {
                const double* jr = jac_[j] + col0;
                const double* mr = mas_[j];
                double* ir = im_row(j);
                for (int i = 0; i < nm1; ++i) {
                    er[j][i] = sr * mr[i] - jr[i];
                    if (ir != nullptr) ir[i] = si * mr[i];
                }
            }
            break;
        case 7:
            reduce_jacobian_to_hessenberg();
            for (int i = 0; i < n - 1; ++i) set_minus(er[i + 1], im_row(i + 1), i, jac_[i + 1][i]);
            for (int j = 0; j < n; ++j)
                for (int i = j; i < n; ++i) set_minus(er[j], im_row(j), i, jac_[j][i]);
            for (int i = 0; i < n; ++i) add_shift(er[i], im_row(i), i, 1.0);
            return e.factor();
    }

    if (ijob_ > 10) {
        // Second-order structure: the eliminated components add
        // sum over blocks k of J(., i + k m2) / s^(mm - k) to column i (banded: band row j
        // of the Jacobian goes to position j + jac_lower of column i of E).
        const int mm = m1_ / m2_;
        const double abno = sr * sr + si * si;
        const double alp = sr / abno;
        const double bet = si / abno;
        for (int i = 0; i < m2_; ++i) {
            for (int j = 0; j < jac_rows_; ++j) {
                const int r = banded_jacobian_ ? i : j;
                const int c = banded_jacobian_ ? j + jac_lower_ : i;
                if (!complex_shift) {
                    double s = 0.0;
                    for (int k = 0; k < mm; ++k) s = (s + jac_[j][i + k * m2_]) / sr;
                    er[r][c] = er[r][c] - s;
                    continue;
                }
                // 1 / (alpha + i beta) = alp - i bet
                double sumr = 0.0;
                double sumi = 0.0;
                for (int k = 0; k < mm; ++k) {
                    const double sums = sumr + jac_[j][i + k * m2_];
                    sumr = sums * alp + sumi * bet;
                    sumi = sumi * alp - sums * bet;
                }
                er[r][c] = er[r][c] - sumr;
                ei[r][c] = ei[r][c] - sumi;
            }
        }
    }
    return e.factor();
}

// ---------------------------------------------------------------------------------------
// Solves with the decomposed iteration matrices

void StiffIntegratorT::real_solve(double* b) {
    if (blocked_)
        block_e1_.solve(b);
    else
        e1_.solve(b);
}

void StiffIntegratorT::complex_solve(double* br, double* bi) {
    if (blocked_)
        block_e2_.solve(br, bi);
    else
        e2_.solve(br, bi);
}

void StiffIntegratorT::into_hessenberg_basis(double* v) {
    ::into_hessenberg_basis(n, jac_.ptr(), hessenberg_swaps_.data(), v);
}

void StiffIntegratorT::out_of_hessenberg_basis(double* v) {
    ::out_of_hessenberg_basis(n, jac_.ptr(), hessenberg_swaps_.data(), v);
}

// Second-order structure: the first m1_ unknowns are eliminated from the stage systems. The
// recursion over the blocks k = mm-1 .. 0 divides by gamma (real system) and by
// alpha + i beta (complex system); v2, v3 may be null when only the real system is solved.
void StiffIntegratorT::add_second_order_terms(double* v1, double* v2, double* v3) {
    const double fac1 = gamma_h_;
    const double alphn = alpha_h_;
    const double betan = beta_h_;
    const double abno = alphn * alphn + betan * betan;
    const int mm = m1_ / m2_;
    for (int j = 0; j < m2_; ++j) {
        double sum1 = 0.0;
        double sum2 = 0.0;
        double sum3 = 0.0;
        for (int k = mm - 1; k >= 0; --k) {
            const int q = j + k * m2_;
            sum1 = (v1[q] + sum1) / fac1;
            if (v2 != nullptr) {
                const double sh = (v2[q] + sum2) / abno;
                const double ss = (v3[q] + sum3) / abno;
                sum2 = sh * alphn + ss * betan;
                sum3 = ss * alphn - sh * betan;
            }
            int rlo = 0;
            int rhi = reduced_n_;
            int shift = 0;  // storage row of J(r, q) is r + shift
            if (banded_jacobian_) {
                rlo = std::max(0, j - jac_upper_);
                rhi = std::min(reduced_n_, j + jac_lower_ + 1);
                shift = jac_upper_ - j;
            }
            for (int r = rlo; r < rhi; ++r) {
                const double jrq = jac_[r + shift][q];
                v1[m1_ + r] = v1[m1_ + r] + jrq * sum1;
                if (v2 != nullptr) {
                    v2[m1_ + r] = v2[m1_ + r] + jrq * sum2;
                    v3[m1_ + r] = v3[m1_ + r] + jrq * sum3;
                }
            }
        }
    }
}

void StiffIntegratorT::finish_second_order(double* v1, double* v2, double* v3) {
    const double fac1 = gamma_h_;
    const double alphn = alpha_h_;
    const double betan = beta_h_;
    const double abno = alphn * alphn + betan * betan;
    for (int i = m1_ - 1; i >= 0; --i) {
        v1[i] = (v1[i] + v1[m2_ + i]) / fac1;
        if (v2 != nullptr) {
            const double s2 = v2[i] + v2[m2_ + i];
            const double s3 = v3[i] + v3[m2_ + i];
            v3[i] = (s3 * alphn - s2 * betan) / abno;
            v2[i] = (s2 * alphn + s3 * betan) / abno;
        }
    }
}

// out[m1_ + i] = sum over j of M(i, j) v[m1_ + j], M of order reduced_n_, full or banded
void StiffIntegratorT::mass_times(const double* v, double* out) {
    const int base = base_case();
    for (int i = 0; i < reduced_n_; ++i) {
        double sum = 0.0;
        if (base == 5) {
            const double* mr = mas_[i];
            for (int j = 0; j < reduced_n_; ++j) sum = sum + mr[j] * v[m1_ + j];
        } else {
            const int jlo = std::max(0, i - mass_lower_);
            const int jhi = std::min(reduced_n_, i + mass_upper_ + 1);
            for (int j = jlo; j < jhi; ++j) sum = sum + mas_[i - j + mass_upper_][j] * v[m1_ + j];
        }
        out[m1_ + i] = sum;
    }
}

int StiffIntegratorT::solve_stages() {
    if (!is_supported(ijob_)) return unsupported_case();
    const double fac1 = gamma_h_;
    const double alphn = alpha_h_;
    const double betan = beta_h_;
    const int base = base_case();
    const bool identity_mass = base == 1 || base == 2 || base == 7;
    const int plain_rows = identity_mass ? n : m1_;
    for (int i = 0; i < plain_rows; ++i) {
        const double s2 = -f2_[i];
        const double s3 = -f3_[i];
        z1_[i] = z1_[i] - f1_[i] * fac1;
        z2_[i] = z2_[i] + (s2 * alphn - s3 * betan);
        z3_[i] = z3_[i] + (s3 * alphn + s2 * betan);
    }
    if (!identity_mass) {
        for (int i = 0; i < reduced_n_; ++i) {
            double s1 = 0.0;
            double s2 = 0.0;
            double s3 = 0.0;
            if (base == 5) {
                const double* mr = mas_[i];
                for (int j = 0; j < reduced_n_; ++j) {
                    const double bb = mr[j];
                    s1 = s1 - bb * f1_[m1_ + j];
                    s2 = s2 - bb * f2_[m1_ + j];
                    s3 = s3 - bb * f3_[m1_ + j];
                }
            } else {
                const int jlo = std::max(0, i - mass_lower_);
                const int jhi = std::min(reduced_n_, i + mass_upper_ + 1);
                for (int j = jlo; j < jhi; ++j) {
                    const double bb = mas_[i - j + mass_upper_][j];
                    s1 = s1 - bb * f1_[m1_ + j];
                    s2 = s2 - bb * f2_[m1_ + j];
                    s3 = s3 - bb * f3_[m1_ + j];
                }
            }
            const int r = m1_ + i;
            z1_[r] = z1_[r] + s1 * fac1;
            z2_[r] = z2_[r] + (s2 * alphn - s3 * betan);
            z3_[r] = z3_[r] + (s3 * alphn + s2 * betan);
        }
    }

    if (ijob_ > 10) add_second_order_terms(z1_.data(), z2_.data(), z3_.data());
    if (blocked_) {
        // z1 and E2's top part here, E2's bottom part on the helper; then E2's middle
        // block, and the back-substitution of both parts side by side, the helper's with
        // the check of z1 when it is the first solve of new factors
        using Part = BlockTridiagonal::Part;
        const bool check = check_block_solve_;
        check_block_solve_ = false;
        auto real_part = [this, check] {
            if (check) std::copy(z1_.begin(), z1_.end(), cont_.begin());
            block_e1_.solve(z1_.data());
            block_e2_.solve_part(Part::top, z2_.data(), z3_.data());
        };
        auto complex_part = [this] { block_e2_.solve_part(Part::bottom, z2_.data(), z3_.data()); };
        side_by_side(real_part, complex_part);
        block_e2_.solve_middle(z2_.data(), z3_.data());
        auto top_back = [this] { block_e2_.back_part(Part::top, z2_.data(), z3_.data()); };
        auto bottom_back = [this, check] {
            block_e2_.back_part(Part::bottom, z2_.data(), z3_.data());
            if (check && block_backward_error(cont_.data(), z1_.data()) > 1.0)
                ++stats_.inaccurate_block_solves;
        };
        side_by_side(top_back, bottom_back);
        return 0;
    }
    // z1 belongs to the real system, z2 and z3 to the complex one: the two parts touch
    // different vectors and only read the matrices.
    auto real_part = [this] {
        if (ijob_ == 7) into_hessenberg_basis(z1_.data());
        real_solve(z1_.data() + m1_);
        if (ijob_ == 7) out_of_hessenberg_basis(z1_.data());
    };
    auto complex_part = [this] {
        if (ijob_ == 7) {
            into_hessenberg_basis(z2_.data());
            into_hessenberg_basis(z3_.data());
        }
        complex_solve(z2_.data() + m1_, z3_.data() + m1_);
        if (ijob_ == 7) {
            out_of_hessenberg_basis(z2_.data());
            out_of_hessenberg_basis(z3_.data());
        }
    };
    side_by_side(real_part, complex_part);
    if (ijob_ > 10) finish_second_order(z1_.data(), z2_.data(), z3_.data());
    return 0;
}

// ---------------------------------------------------------------------------------------
// Local error estimate

// Returns 0, kUnsupportedCase, or kRhsRefused when the extra evaluation at y + err was
// refused (the attempt is then given up like a failed Newton iteration).
int StiffIntegratorT::estimate_error() {
    if (!is_supported(ijob_)) return unsupported_case();
    const double sq6 = std::sqrt(6.0);
    const double dd1 = -(13.0 + 7.0 * sq6) / 3.0;
    const double dd2 = (-13.0 + 7.0 * sq6) / 3.0;
    const double dd3 = -1.0 / 3.0;
    const double hee1 = dd1 / h;
    const double hee2 = dd2 / h;
    const double hee3 = dd3 / h;
    const int base = base_case();
    const bool identity_mass = base == 1 || base == 2 || base == 7;

    if (identity_mass) {
        for (int i = 0; i < n; ++i) {
            f2_[i] = hee1 * z1_[i] + hee2 * z2_[i] + hee3 * z3_[i];
            cont_[i] = f2_[i] + f_start_[i];
        }
    } else {
        for (int i = 0; i < n; ++i) f1_[i] = hee1 * z1_[i] + hee2 * z2_[i] + hee3 * z3_[i];
        for (int i = 0; i < m1_; ++i) f2_[i] = f1_[i];
        mass_times(f1_.data(), f2_.data());
        for (int i = 0; i < n; ++i) cont_[i] = f2_[i] + f_start_[i];
    }

    auto solve_error_system = [this]() {
        double* v = cont_.data();
        if (ijob_ == 7) into_hessenberg_basis(v);
        if (ijob_ > 10) add_second_order_terms(v, nullptr, nullptr);
        real_solve(v + m1_);
        if (ijob_ == 7) out_of_hessenberg_basis(v);
        if (ijob_ > 10) finish_second_order(v, nullptr, nullptr);
    };
    auto weighted_norm = [this]() {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            const double r = cont_[i] / scale_[i];
            sum = sum + r * r;
        }
        return std::max(std::sqrt(sum / n), kMinErrorNorm);
    };

    solve_error_system();
    error_norm_ = weighted_norm();
    if (error_norm_ >= 1.0 && (first_step_ || rejected_)) {
        // A large first estimate on a first or retried step is often a stiff component
        // that the estimate overweights; one more evaluation at y + err filters it.
        for (int i = 0; i < n; ++i) cont_[i] = y[i] + cont_[i];
        const int refused = system_.rhs(x, cont_.data(), f1_.data());
        ++stats_.rhs_calls;
        if (refused != 0) return kRhsRefused;
        for (int i = 0; i < n; ++i) cont_[i] = f1_[i] + f2_[i];
        solve_error_system();
        error_norm_ = weighted_norm();
    }
    return 0;
}


// ---------------------------------------------------------------------------------------
// Step loop

// What the step loop carries from one phase to the next.
struct StiffIntegratorT::StepControl {
    double posneg = 1.0;  // direction of integration, +1 or -1
    double hmaxn = 0.0;   // largest |h|
    double cfac = 0.0;    // safe (1 + 2 nit): the step-size safety factor shrinks with newt
    bool last = false;    // the current step ends at x_end
    double hopt = 0.0;    // step size handed back after the last step
    double faccon = 1.0;  // Newton convergence factor theta / (1 - theta)
    double hhfac = 0.0;   // factor of the last change of h (for the index weights)
    int nsing = 0;        // singular iteration matrices met in this run
    double theta = 0.0;   // last Newton contraction estimate
    double thqold = 0.0;  // previous contraction quotient
    double dynold = 0.0;  // previous Newton increment norm
    double hnew = 0.0;    // predicted next step size
    double quot = 1.0;    // h / hnew
    double hacc = 0.0;    // size of the previous accepted step (predictive controller)
    double erracc = 0.0;  // its error norm
    double xph = 0.0;     // x + h of the current attempt
    int newt = 0;         // Newton iterations of the current attempt
};

int StiffIntegratorT::run_steps() {
    compute_method_constants();
    if (x_end == x) {
        // An empty interval is reached at once; the step-size rules below would divide by
        // its zero length.
        const int code = call_output();
        return code != 0 ? code : kReachedEnd;
    }
    StepControl c;
    if (const int code = start_run(c); code != 0) return code;
    bool keep_decompositions = false;
    int code = 0;
    for (;;) {
        if (!keep_decompositions) {
            const Attempt a = decompose_matrices(c, code);
            if (a == Attempt::stop) return code;
            if (a == Attempt::retry) continue;
        }
        keep_decompositions = false;
        if (begin_attempt(c, code) == Attempt::stop) return code;
        const Attempt newton = newton_iteration(c, code);
        if (newton == Attempt::stop) return code;
        if (newton == Attempt::retry) continue;
        const int estimate = estimate_error();
        if (estimate == kUnsupportedCase) return kUnsupportedCase;
        if (estimate == kRhsRefused) {
            if (give_up_attempt(c, kNewtonFailureFactor, code) == Attempt::stop) return code;
            continue;
        }
        choose_step_size(c);
        if (!(error_norm_ < 1.0)) {
            if (reject_step(c, code) == Attempt::stop) return code;
            continue;
        }
        if (accept_step(c, code, keep_decompositions) == Attempt::stop) return code;
    }
}

// Output after the initial point or an accepted step; a negative answer stops the run.
int StiffIntegratorT::call_output() {
    if (!output_) return 0;
    std::copy(y, y + n, cont_.begin());
    if (system_.output(*this) < 0) {
        exit_message(messages_, x);
        return kStoppedByOutput;
    }
    return 0;
}

// First step size, output of the initial point, error weights, f and Jacobian at x.
int StiffIntegratorT::start_run(StepControl& c) {
    c.posneg = std::fabs(x_end - x) / (x_end - x);
    c.hmaxn = std::min(std::fabs(h_max_), std::fabs(x_end - x));
    c.cfac = safe_ * (1 + 2 * nit_);
    if (has_mass_) system_.mass(mas_.ptr());

    h = c.posneg * std::min(std::fabs(h), c.hmaxn);
    h_old = h;
    c.last = false;
    if ((x + kLastStepStretch * h - x_end) * c.posneg >= 0.0) {
        h = x_end - x;
        c.last = true;
    }
    c.hopt = h;
    c.faccon = 1.0;
    if (const int code = call_output(); code != 0) return code;
    compute_scale();

    c.hhfac = h;
    const int refused = system_.rhs(x, y, f_start_.data());
    ++stats_.rhs_calls;
    if (refused != 0 || !compute_jacobian()) return rhs_refused();
    c.theta = std::fabs(thet_);
    c.hnew = h;
    return 0;
}

// E1 and then E2 for the current shifts, counted once decomposed. Returns 0, the first
// non-zero result of the two decompositions (E1's first), or kUnsupportedCase.
int StiffIntegratorT::decompose_pair() {
    int ier = 0;
    if (blocked_) {
        // E1 and E2's top part (to its middle block) on this thread, E2's bottom part on the
        // helper (one after the other without it), each formed from the Jacobian where it is
        // factored; E1 with E2's rows in one pass over the Jacobian's. Then E2's middle
        // block.
        const int middle = block_e2_.middle() < 0 ? block_e2_.blocks() - 1 : block_e2_.middle();
        int bottom_row = 0;  // E2's bottom part starts here
        for (int k = 0; k <= middle; ++k)
            bottom_row += block_e2_.sizes()[static_cast<std::size_t>(k)];
        int ier_real = 0;
        int ier_top = 0;
        int ier_bottom = 0;
        auto real_part = [&] {
            form_blocks(true, true, 0, bottom_row);
            form_blocks(true, false, bottom_row, n);
            ier_real = block_e1_.factor();
            ier_top = block_e2_.factor_part(BlockTridiagonal::Part::top);
        };
        auto complex_part = [&] {
            form_blocks(false, true, bottom_row, n);
            ier_bottom = block_e2_.factor_part(BlockTridiagonal::Part::bottom);
        };
        side_by_side(real_part, complex_part);
        const int ier_middle = block_e2_.factor_middle();
        check_block_solve_ = true;
        ier = ier_real;
        if (ier == 0) {
            ++stats_.real_decompositions;
            ier = ier_top != 0 ? ier_top : ier_bottom != 0 ? ier_bottom : ier_middle;
        }
    } else if (helper_ != nullptr && is_supported(ijob_)) {
        // E1 and E2 only read the Jacobian and the mass matrix, once any Hessenberg reduction
        // is done: they are formed and decomposed at the same time. E2 decomposed after a
        // singular E1 is never used: the retry forms both anew, as with one thread, which
        // leaves E2 alone then.
        if (ijob_ == 7) reduce_jacobian_to_hessenberg();
        int ier_real = 0;
        int ier_complex = 0;
        auto real_part = [&] { ier_real = decompose_real(); };
        auto complex_part = [&] { ier_complex = decompose_complex(); };
        side_by_side(real_part, complex_part);
        ier = ier_real;
        if (ier == 0) {
            ++stats_.real_decompositions;
            ier = ier_complex;
        }
    } else {
        ier = decompose_real();
        if (ier == 0) {
            ++stats_.real_decompositions;
            ier = decompose_complex();
        }
    }
    if (ier == 0) ++stats_.complex_decompositions;
    return ier;
}

// How far `solution` misses E1 x = b (E1 = gamma I - J from the block Jacobian), in units
// of what a backward-stable solve may leave: max over the rows of |b - E1 x|_i divided by
// kBlockBackwardErrorLimit (|b| + |E1| |x|)_i + kBlockWeightShare gamma scale_i. The first
// term bounds the componentwise backward error; the second lets pass rows whose residual
// moves x by less than a small share of its error weight, as rows of components far below
// atol do (their terms rounded against the rest of the system). Above 1: inaccurate.
double StiffIntegratorT::block_backward_error(const double* b, const double* solution) const {
    double worst = 0.0;
    for (int i = 0; i < n; ++i) {
        const double* const row = block_jac_.row_re(i);
        const int first = block_jac_.first_column(i);
        const int width = block_jac_.width(i);
        double residual = b[i] - gamma_h_ * solution[i];
        double size = std::fabs(b[i]) + std::fabs(gamma_h_ * solution[i]);
        for (int q = 0; q < width; ++q) {
            const double term = row[q] * solution[first + q];
            residual += term;
            size += std::fabs(term);
        }
        const double allowed = kBlockBackwardErrorLimit * size +
                               kBlockWeightShare * std::fabs(gamma_h_) * scale_[static_cast<std::size_t>(i)];
        if (allowed > 0.0) worst = std::max(worst, std::fabs(residual) / allowed);
    }
    return worst;
}

// E1 = gamma I - J and E2 = (alpha + i beta) I - J from the block Jacobian, whose layout
// they share: one pass over its elements for the matrices asked for.
void StiffIntegratorT::form_blocks(bool real, bool complex, int row_first, int row_end) {
    // the rows' values lie one after another, in the same places in all three matrices
    const double* const j = block_jac_.values_re();
    const auto at = [&](int r) {
        return r < n ? static_cast<std::size_t>(block_jac_.row_re(r) - j) : block_jac_.entries();
    };
    const std::size_t first = at(row_first);
    const std::size_t end = at(row_end);
    double* const e1 = block_e1_.values_re();
    double* const e2r = block_e2_.values_re();
    double* const e2i = block_e2_.values_im();
    if (real && complex) {
        for (std::size_t i = first; i < end; ++i) {
            const double v = -j[i];
            e1[i] = v;
            e2r[i] = v;
            e2i[i] = 0.0;
        }
    } else if (real) {
        for (std::size_t i = first; i < end; ++i) e1[i] = -j[i];
    } else {
        for (std::size_t i = first; i < end; ++i) {
            e2r[i] = -j[i];
            e2i[i] = 0.0;
        }
    }
    for (int r = row_first; r < row_end; ++r) {
        const std::size_t d = block_jac_.diagonal_at(r);
        if (real) e1[d] = e1[d] + gamma_h_;
        if (complex) {
            e2r[d] = e2r[d] + alpha_h_;
            e2i[d] = beta_h_;
        }
    }
}

// E1 and E2 for the current h. A singular matrix halves h and asks for a retry.
StiffIntegratorT::Attempt StiffIntegratorT::decompose_matrices(StepControl& c, int& code) {
    gamma_h_ = u1_ / h;
    alpha_h_ = alpha_ / h;
    beta_h_ = beta_ / h;
    const int ier = decompose_pair();
    if (ier == kUnsupportedCase) {
        code = kUnsupportedCase;
        return Attempt::stop;
    }
    if (ier != 0) {
        ++c.nsing;
        if (c.nsing >= kMaxSingularMatrices) {
            exit_message(messages_, x);
            print_line(messages_, " matrix is repeatedly singular, ier= ", ier);
            code = kRepeatedlySingular;
            return Attempt::stop;
        }
        h = h * kNewtonFailureFactor;
        c.hhfac = kNewtonFailureFactor;
        rejected_ = true;
        c.last = false;
        if (!refresh_stale_jacobian()) {
            code = rhs_refused();
            return Attempt::stop;
        }
        return Attempt::retry;
    }
    return Attempt::proceed;
}

// Counts the attempt, checks the step limits, applies the index weights and sets the
// Newton starting values.
StiffIntegratorT::Attempt StiffIntegratorT::begin_attempt(StepControl& c, int& code) {
    ++stats_.steps;
    if (stats_.steps >= max_steps_) {
        exit_message(messages_, x);
        print_line(messages_, " more than nmax = ", max_steps_, " steps are needed");
        code = kTooManySteps;
        return Attempt::stop;
    }
    if (kSmallStepFraction * std::fabs(h) <= std::fabs(x) * uround_) {
        exit_message(messages_, x);
        print_line(messages_, " step size too small, h = ", h);
        code = kStepTooSmall;
        return Attempt::stop;
    }
    // algebraic components of index 2 and 3 are weighted by h and h^2
    if (nind2_ != 0)
        for (int i = nind1_; i < nind1_ + nind2_; ++i) scale_[i] = scale_[i] / c.hhfac;
    if (nind3_ != 0)
        for (int i = nind1_ + nind2_; i < nind1_ + nind2_ + nind3_; ++i)
            scale_[i] = scale_[i] / (c.hhfac * c.hhfac);
    c.xph = x + h;
    starting_values();
    return Attempt::proceed;
}

// Newton starting values: zero, or the last collocation polynomial extrapolated to the
// stages of the new step.
void StiffIntegratorT::starting_values() {
    const auto un = static_cast<std::size_t>(n);
    if (first_step_ || zero_start_) {
        for (auto* v : {&z1_, &z2_, &z3_, &f1_, &f2_, &f3_}) std::fill(v->begin(), v->end(), 0.0);
        return;
    }
    const double c3q = h / h_old;
    const double c1q = c1_ * c3q;
    const double c2q = c2_ * c3q;
    for (std::size_t i = 0; i < un; ++i) {
        const double ak1 = cont_[un + i];
        const double ak2 = cont_[2 * un + i];
        const double ak3 = cont_[3 * un + i];
        z1_[i] = c1q * (ak1 + (c1q - c2m1_) * (ak2 + (c1q - c1m1_) * ak3));
        z2_[i] = c2q * (ak1 + (c2q - c2m1_) * (ak2 + (c2q - c1m1_) * ak3));
        z3_[i] = c3q * (ak1 + (c3q - c2m1_) * (ak2 + (c3q - c1m1_) * ak3));
    }
    apply_3x3(kTI, z1_.data(), z2_.data(), z3_.data(), f1_.data(), f2_.data(), f3_.data(), n);
}

// Abandons the attempt as a Newton failure: h scaled by `factor`, the Jacobian renewed
// unless current.
StiffIntegratorT::Attempt StiffIntegratorT::give_up_attempt(StepControl& c, double factor,
                                                             int& code) {
    ++stats_.newton_failures;
    c.hhfac = factor;
    h = factor * h;
    rejected_ = true;
    c.last = false;
    if (!refresh_stale_jacobian()) {
        code = rhs_refused();
        return Attempt::stop;
    }
    return Attempt::retry;
}

// Simplified Newton iteration on the transformed stage increments. Converged: the stage
// increments are in z1..z3; retry: h was reduced.
StiffIntegratorT::Attempt StiffIntegratorT::newton_iteration(StepControl& c, int& code) {
    const auto un = static_cast<std::size_t>(n);
    c.newt = 0;
    c.faccon = std::pow(std::max(c.faccon, uround_), kFacconExponent);
    c.theta = std::fabs(thet_);
    const double stage_x[3] = {x + c1_ * h, x + c2_ * h, c.xph};
    std::vector<double>* const stage_z[3] = {&z1_, &z2_, &z3_};
    for (;;) {
        if (c.newt >= nit_) return give_up_attempt(c, kNewtonFailureFactor, code);
        // stage functions f(x + c_k h, y + Z_k), then transformed by TI
        for (int k = 0; k < 3; ++k) {
            std::vector<double>& z = *stage_z[k];
            for (std::size_t i = 0; i < un; ++i) cont_[i] = y[i] + z[i];
            const int refused = system_.rhs(stage_x[k], cont_.data(), z.data());
            ++stats_.rhs_calls;
            if (refused != 0) return give_up_attempt(c, kNewtonFailureFactor, code);
        }
        apply_3x3(kTI, z1_.data(), z2_.data(), z3_.data(), z1_.data(), z2_.data(), z3_.data(), n);

        if (solve_stages() == kUnsupportedCase) {
            code = kUnsupportedCase;
            return Attempt::stop;
        }
        ++c.newt;

        double dyno = 0.0;
        for (std::size_t i = 0; i < un; ++i) {
            const double denom = scale_[i];
            const double d1 = z1_[i] / denom;
            const double d2 = z2_[i] / denom;
            const double d3 = z3_[i] / denom;
            dyno = dyno + (d1 * d1 + d2 * d2 + d3 * d3);
        }
        dyno = std::sqrt(dyno / (3 * n));

        if (c.newt > 1 && c.newt < nit_) {
            const double thq = dyno / c.dynold;
            c.theta = c.newt == 2 ? thq : std::sqrt(thq * c.thqold);
            c.thqold = thq;
            if (c.theta >= kDivergentContraction)
                return give_up_attempt(c, kNewtonFailureFactor, code);
            c.faccon = c.theta / (1.0 - c.theta);
            const double dyth =
                c.faccon * dyno * std::pow(c.theta, nit_ - 1 - c.newt) / fnewt_;
            if (dyth >= 1.0) {
                // convergence too slow for this h: retry with the h it would allow
                const double qnewt =
                    std::max(kMinNewtonShortfall, std::min(kMaxNewtonShortfall, dyth));
                return give_up_attempt(
                    c, kSlowNewtonSafety * std::pow(qnewt, -1.0 / (4 + nit_ - 1 - c.newt)),
                    code);
            }
        }
        c.dynold = std::max(dyno, uround_);
        for (std::size_t i = 0; i < un; ++i) {
            f1_[i] = f1_[i] + z1_[i];
            f2_[i] = f2_[i] + z2_[i];
            f3_[i] = f3_[i] + z3_[i];
        }
        apply_3x3(kT, f1_.data(), f2_.data(), f3_.data(), z1_.data(), z2_.data(), z3_.data(), n);
        if (!(c.faccon * dyno > fnewt_)) return Attempt::proceed;
    }
}

// Step size predicted from the error estimate, with a safety factor that shrinks as the
// Newton iteration needed more iterations.
void StiffIntegratorT::choose_step_size(StepControl& c) {
    const double fac = std::min(safe_, c.cfac / (c.newt + 2 * nit_));
    c.quot = std::max(facr_, std::min(facl_, std::pow(error_norm_, kErrorExponent) / fac));
    c.hnew = h / c.quot;
}

// The error test failed: retry with the predicted step (a tenth of it on the first step).
StiffIntegratorT::Attempt StiffIntegratorT::reject_step(StepControl& c, int& code) {
    rejected_ = true;
    c.last = false;
    if (first_step_) {
        h = kFirstRejectionFactor * h;
        c.hhfac = kFirstRejectionFactor;
    } else {
        c.hhfac = c.hnew / h;
        h = c.hnew;
    }
    ++stats_.rejected;
    if (!refresh_stale_jacobian()) {
        code = rhs_refused();
        return Attempt::stop;
    }
    return Attempt::retry;
}

// Advances x and y, stores the collocation polynomial for dense output, reports the step
// and prepares the next one: its size, and whether the Jacobian and the decompositions
// can be kept.
StiffIntegratorT::Attempt StiffIntegratorT::accept_step(StepControl& c, int& code,
                                                        bool& keep_decompositions) {
    const auto un = static_cast<std::size_t>(n);
    first_step_ = false;
    ++stats_.accepted;
    if (predictive_) {
        // predictive controller: also uses the size and error of the previous step
        if (stats_.accepted > 1) {
            double facgus = (c.hacc / h) *
                            std::pow(error_norm_ * error_norm_ / c.erracc, kErrorExponent) / safe_;
            facgus = std::max(facr_, std::min(facl_, facgus));
            c.quot = std::max(c.quot, facgus);
            c.hnew = h / c.quot;
        }
        c.hacc = h;
        c.erracc = std::max(kMinPreviousError, error_norm_);
    }
    x_old = x;
    h_old = h;
    x = c.xph;
    for (std::size_t i = 0; i < un; ++i) {
        y[i] = y[i] + z3_[i];
        const double z1i = z1_[i];
        const double z2i = z2_[i];
        cont_[un + i] = (z2i - z3_[i]) / c2m1_;
        const double ak = (z1i - z2i) / c1mc2_;
        const double acont3 = (ak - z1i / c1_) / c2_;
        cont_[2 * un + i] = (ak - cont_[un + i]) / c1m1_;
        cont_[3 * un + i] = cont_[2 * un + i] - acont3;
    }
    compute_scale();
    code = call_output();
    if (code != 0) return Attempt::stop;
    jacobian_current_ = false;
    if (c.last) {
        h = c.hopt;
        code = kReachedEnd;
        return Attempt::stop;
    }
    const int refused = system_.rhs(x, y, f_start_.data());
    ++stats_.rhs_calls;
    if (refused != 0) {
        code = rhs_refused();
        return Attempt::stop;
    }
    c.hnew = c.posneg * std::min(std::fabs(c.hnew), c.hmaxn);
    c.hopt = std::min(h, c.hnew);
    if (rejected_) c.hnew = c.posneg * std::min(std::fabs(c.hnew), std::fabs(h));
    rejected_ = false;
    if ((x + c.hnew / quot1_ - x_end) * c.posneg >= 0.0) {
        h = x_end - x;
        c.last = true;
    } else {
        const double qt = c.hnew / h;
        c.hhfac = h;
        if (c.theta <= thet_ && qt >= quot1_ && qt <= quot2_) {
            keep_decompositions = true;  // same h, Jacobian and decompositions
            return Attempt::proceed;
        }
        h = c.hnew;
    }
    c.hhfac = h;
    if (c.theta > thet_ && !compute_jacobian()) {
        code = rhs_refused();
        return Attempt::stop;
    }
    return Attempt::proceed;
}
