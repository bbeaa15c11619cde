// Construction of the stiff integrator and the edges of a run: the positional form against
// the options it stands for, the refused values with their exact messages, the caller's
// tolerances (never written), a right-hand side that refuses a state, and every early exit
// of a run with its message, result code and statistics. The problem is y' = -y unless a
// case needs something else.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "numeric/stiff_integrator.h"
#include "ode_test_support.h"

namespace {

void decay(double, const double* y, double* f) { f[0] = -y[0]; }

// Builds with the given options and expects the refusal: the message on standard output
// followed by a line end, and the same text carried by the exception.
void expect_refused(int n, const StiffOptions& o, const std::string& message) {
    LambdaSystem sys(decay);
    std::vector<double> y(n > 0 ? n : 1, 1.0);
    testing::internal::CaptureStdout();
    try {
        make_integrator(sys, n, y.data(), 0.0, 1.0, o);
        ADD_FAILURE() << "accepted, expected: " << message;
    } catch (const IntegratorError& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), message + "\n");
}

// The positional constructor with every argument 0 (null, false) except those set here.
struct Positional {
    int vector_tolerances = 0;
    const double* rtol = nullptr;
    const double* atol = nullptr;
    double h = 0, h_max = 0;
    int nmax = 0;
    int jac_lower = -1;  // -1: n
    int jac_upper = 0;
    int mass_given = 0, mass_lower = 0, mass_upper = 0;
    int nind1 = 0, nind2 = 0;
    int controller_choice = 0, m1 = 0, m2 = 0, use_hessenberg = 0;

    std::unique_ptr<StiffIntegratorT> build(OdeSystem& sys, int n, double* y, double x,
                                            double x_end) const {
        return std::make_unique<StiffIntegratorT>(
            sys, n, y, x, x_end, vector_tolerances, rtol, atol, 1, h, h_max, nmax, 0.0, 0.0, 0.0,
            0.0, 0, jac_lower < 0 ? n : jac_lower, jac_upper, mass_given, mass_lower, mass_upper,
            0, false, nind1, nind2, 0, controller_choice, m1, m2, use_hessenberg, 0.0, 0.0, 0.0,
            0.0);
    }
};

// y' = A y, A lower-bidiagonal with a stiff first component; y(0) = (1, 1, 1)
void chain(double, const double* y, double* f) {
    f[0] = -1e3 * y[0];
    f[1] = y[0] - y[1];
    f[2] = y[1] - 0.5 * y[2];
}

struct ForwarderCase {
    const char* name;
    Positional positional;
    StiffOptions options;
};

void PrintTo(const ForwarderCase& c, std::ostream* out) { *out << c.name; }

class PositionalForm : public testing::TestWithParam<ForwarderCase> {};

// The positional form must run exactly as the options it maps its zeros to: the same
// states bit for bit, with the same statistics.
TEST_P(PositionalForm, RunsExactlyAsItsOptions) {
    const ForwarderCase& c = GetParam();
    double y_pos[3] = {1, 1, 1}, y_opt[3] = {1, 1, 1};
    LambdaSystem sp(chain), so(chain);
    auto p = c.positional.build(sp, 3, y_pos, 0.0, 2.0);
    StiffOptions o = c.options;
    o.output = true;
    auto s = make_integrator(so, 3, y_opt, 0.0, 2.0, o);
    ASSERT_EQ(p->integrate(), StiffIntegratorT::kReachedEnd);
    ASSERT_EQ(s->integrate(), StiffIntegratorT::kReachedEnd);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(y_pos[i], y_opt[i]) << i;
    EXPECT_EQ(p->statistics().steps, s->statistics().steps);
    EXPECT_EQ(p->statistics().jacobians, s->statistics().jacobians);
    EXPECT_EQ(p->statistics().rhs_calls, s->statistics().rhs_calls);
    EXPECT_EQ(sp.output_calls, so.output_calls);
    EXPECT_GT(so.output_calls, 2);
}

const double kRtol[3] = {1e-6, 1e-5, 1e-4};
const double kAtol[3] = {1e-8, 1e-7, 1e-6};

StiffOptions tolerances(double r, double a) { return with_tolerances(r, a); }
StiffOptions band_options() {
    StiffOptions o = tolerances(1e-6, 1e-8);
    o.jacobian = JacobianStructure::band;
    o.jac_lower = 1;
    return o;
}
StiffOptions hessenberg_options() {
    StiffOptions o = tolerances(1e-6, 1e-8);
    o.jacobian = JacobianStructure::hessenberg;
    return o;
}
StiffOptions classical_options() {
    StiffOptions o = tolerances(1e-6, 1e-8);
    o.predictive = false;
    return o;
}
StiffOptions per_component_options() {
    StiffOptions o;
    o.rtol.assign(kRtol, kRtol + 3);
    o.atol.assign(kAtol, kAtol + 3);
    return o;
}
StiffOptions diagonal_mass_options() {
    StiffOptions o = tolerances(1e-6, 1e-8);
    o.mass = MassMatrix::band;  // bandwidths 0: a diagonal mass matrix (identity here)
    return o;
}
StiffOptions small_step_options() {
    StiffOptions o = tolerances(1e-6, 1e-8);
    o.h = 5e-16;  // below 10 uround: the default step
    o.h_max = 0.5;
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    StiffIntegratorConstruction, PositionalForm,
    testing::Values(
        ForwarderCase{"defaults", {0, &kRtol[0], &kAtol[0]}, tolerances(1e-6, 1e-8)},
        // null tolerances: 1e-7 each and scalar, whatever vector_tolerances says
        ForwarderCase{"null_tolerances", {1}, StiffOptions{}},
        ForwarderCase{"per_component", {1, kRtol, kAtol}, per_component_options()},
        ForwarderCase{"band", {0, &kRtol[0], &kAtol[0], 0, 0, 0, 1}, band_options()},
        ForwarderCase{
            "hessenberg",
            {0, &kRtol[0], &kAtol[0], 0, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
            hessenberg_options()},
        ForwarderCase{"classical_controller",
                      {0, &kRtol[0], &kAtol[0], 0, 0, 0, -1, 0, 0, 0, 0, 0, 0, 2},
                      classical_options()},
        ForwarderCase{"diagonal_mass", {0, &kRtol[0], &kAtol[0], 0, 0, 0, -1, 0, 1},
                      diagonal_mass_options()},
        ForwarderCase{"small_first_step", {0, &kRtol[0], &kAtol[0], 5e-16, 0.5},
                      small_step_options()}),
    [](const testing::TestParamInfo<ForwarderCase>& c) { return c.param.name; });

TEST(StiffIntegratorConstruction, RefusedValuesPrintTheirMessages) {
    const StiffOptions base = with_tolerances(1e-6, 1e-8);
    expect_refused(-1, base, "System too big, max. n = 4294967294");
    expect_refused(0, base, " wrong input, n = 0");
    expect_refused(-3, base, " wrong input, n = -3");

    // one option changed from the base at a time
    struct Refusal {
        int n;
        std::function<void(StiffOptions&)> change;
        const char* message;
    };
    const Refusal refusals[] = {
        {1, [](StiffOptions& o) { o.max_steps = -5; }, " wrong input, nmax = -5"},
        // the uround bound is strict
        {1, [](StiffOptions& o) { o.uround = 1e-19; },
         " coefficients have 20 digits, uround = 1e-19"},
        {1, [](StiffOptions& o) { o.uround = 1.0; }, " coefficients have 20 digits, uround = 1"},
        {1, [](StiffOptions& o) { o.safe = 0.001; },
         " curious input for safety factor, safe = 0.001"},
        {1, [](StiffOptions& o) { o.safe = 1.0; }, " curious input for safety factor, safe = 1"},
        {1, [](StiffOptions& o) { o.rtol = {1e-15}; }, " tolerances are too small"},
        {1, [](StiffOptions& o) { o.atol = {0.0}; }, " tolerances are too small"},
        {2, [](StiffOptions& o) { o.atol = {1e-8, 1e-8}; },
         " tolerances must be 1 or n = 2 values each, got 1 and 2"},
        {3,
         [](StiffOptions& o) {
             o.rtol = {1e-6, 1e-6, 1e-20};
             o.atol = {1e-8, 1e-8, 1e-8};
         },
         " tolerances('2) are too small"},
        {1, [](StiffOptions& o) { o.facl = 0.5; }, " curious input facl, facr = 0.50.125"},
        {1, [](StiffOptions& o) { o.facr = 2.0; }, " curious input facl, facr = 52"},
        {1, [](StiffOptions& o) { o.nit = -3; }, " curious input nit = -3"},
        {1,
         [](StiffOptions& o) {
             o.nind1 = 1;
             o.nind2 = 1;
         },
         " curious input for nind1, nind2, nind3 = 110"},
        {1,
         [](StiffOptions& o) {
             o.m1 = 1;
             o.m2 = 1;
         },
         " curious input for m1, m2 = 11"},
        {1, [](StiffOptions& o) { o.m1 = -1; }, " curious input for m1, m2 = -1-1"},
        // not whole blocks of m2
        {5,
         [](StiffOptions& o) {
             o.m1 = 3;
             o.m2 = 2;
         },
         " curious input for m1, m2 = 32"},
        // a banded Jacobian needs the blocks to fill n
        {5,
         [](StiffOptions& o) {
             o.m1 = 2;
             o.m2 = 2;
             o.jacobian = JacobianStructure::band;
             o.jac_lower = 1;
             o.jac_upper = 1;
         },
         " curious input for m1, m2 = 22"},
        // not above uround / rtol' = 1e-16 / 1e-5
        {1, [](StiffOptions& o) { o.fnewt = 1e-12; }, " curious input for fnewt = 1e-12"},
        {1, [](StiffOptions& o) { o.quot1 = 1.5; }, " curious input for quot1, quot2 = 1.51.2"},
        {1, [](StiffOptions& o) { o.quot2 = 0.9; }, " curious input for quot1, quot2 = 10.9"},
        {1, [](StiffOptions& o) { o.thet = 1.0; }, " curious input for thet = 1"},
        // a full mass matrix with a banded Jacobian, and a mass band wider than the Jacobian's
        {4,
         [](StiffOptions& o) {
             o.jacobian = JacobianStructure::band;
             o.jac_lower = o.jac_upper = 1;
             o.mass = MassMatrix::full;
         },
         "bandwith of 'mas' not smaller than bandwith of 'jac'"},
        {4,
         [](StiffOptions& o) {
             o.jacobian = JacobianStructure::band;
             o.jac_lower = o.jac_upper = 1;
             o.mass = MassMatrix::band;
             o.mass_lower = 2;
         },
         "bandwith of 'mas' not smaller than bandwith of 'jac'"},
    };
    for (const Refusal& r : refusals) {
        StiffOptions o = base;
        r.change(o);
        expect_refused(r.n, o, r.message);
    }

    // the positional form keeps its own spelling of the same checks
    LambdaSystem sys(decay);
    double y = 1.0, rtol = 1e-6, atol = 1e-8;
    Positional p{0, &rtol, &atol};
    p.nind1 = 1;
    p.nind2 = 1;
    testing::internal::CaptureStdout();
    EXPECT_THROW(p.build(sys, 1, &y, 0.0, 1.0), IntegratorError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              " curious input for nind1, nind2, nind3 = 110\n");
}

TEST(StiffIntegratorConstruction, BoundaryValuesAccepted) {
    LambdaSystem sys(decay);
    double y = 1.0;
    StiffOptions o = with_tolerances(1e-6, 1e-8);
    o.uround = 1.1e-19;
    o.thet = -1.0;
    EXPECT_NO_THROW(make_integrator(sys, 1, &y, 0.0, 1.0, o));
}

// Runs the integrator, capturing standard output.
std::string run_captured(StiffIntegratorT& s, int& code) {
    testing::internal::CaptureStdout();
    code = s.integrate();
    return testing::internal::GetCapturedStdout();
}

std::string fmt(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

TEST(StiffIntegratorTolerances, CallerValuesAreNeverWritten) {
    LambdaSystem sys(decay);
    double y = 1.0, rtol = 1e-6, atol = 1e-6;
    Positional p{0, &rtol, &atol};
    auto s = p.build(sys, 1, &y, 0.0, 1.0);
    EXPECT_EQ(rtol, 1e-6);
    ASSERT_EQ(s->integrate(), StiffIntegratorT::kReachedEnd);
    EXPECT_EQ(rtol, 1e-6);
    EXPECT_EQ(atol, 1e-6);

    // a second integrate() on the same object goes on with the same tolerances: its error
    // over [1, 2] is that of a fresh integrator over [1, 2] within a factor 3 (observed
    // 1.9); with the tolerances converted twice (rtol' = 1e-6 instead of 1e-5) it would be
    // about ten times smaller
    s->x_end = 2.0;
    ASSERT_EQ(s->integrate(), StiffIntegratorT::kReachedEnd);
    EXPECT_EQ(rtol, 1e-6);
    EXPECT_EQ(atol, 1e-6);
    double fresh_y = std::exp(-1.0);
    LambdaSystem fresh_sys(decay);
    auto fresh = p.build(fresh_sys, 1, &fresh_y, 1.0, 2.0);
    ASSERT_EQ(fresh->integrate(), StiffIntegratorT::kReachedEnd);
    const double err_again = std::fabs(y - std::exp(-2.0));
    const double err_fresh = std::fabs(fresh_y - std::exp(-2.0));
    EXPECT_LT(err_again, 3.0 * err_fresh);
    EXPECT_GT(err_again, err_fresh / 3.0);

    // a failed run (step limit) and per-component tolerances: untouched as well
    double yv[2] = {1.0, 2.0}, rv[2] = {1e-6, 1e-4}, av[2] = {1e-8, 1e-3};
    LambdaSystem two([](double, const double* v, double* f) {
        f[0] = -v[0];
        f[1] = -2.0 * v[1];
    });
    Positional pv{1, rv, av};
    pv.nmax = 3;
    auto v = pv.build(two, 2, yv, 0.0, 100.0);
    int code = 0;
    run_captured(*v, code);
    EXPECT_EQ(code, StiffIntegratorT::kTooManySteps);
    EXPECT_EQ(rv[0], 1e-6);
    EXPECT_EQ(rv[1], 1e-4);
    EXPECT_EQ(av[0], 1e-8);
    EXPECT_EQ(av[1], 1e-3);
}

TEST(StiffIntegratorRun, OutputCallbackStopsTheRun) {
    double y = 1.0;
    StiffOptions o = with_tolerances(1e-6, 1e-8);
    o.output = true;

    LambdaSystem at_start(decay);
    at_start.output_ = [](IntegratorT&) { return -1; };
    auto s = make_integrator(at_start, 1, &y, 0.0, 1.0, o);
    int code = 0;
    EXPECT_EQ(run_captured(*s, code), " exit of RADAU5 at x = 0\n");
    EXPECT_EQ(code, StiffIntegratorT::kStoppedByOutput);
    EXPECT_EQ(s->result_code(), StiffIntegratorT::kStoppedByOutput);
    EXPECT_EQ(s->statistics().steps, 0);
    EXPECT_EQ(y, 1.0);

    LambdaSystem later(decay);
    double y_seen = 0.0;
    later.output_ = [&](IntegratorT& it) {
        y_seen = it.y[0];
        return it.statistics().accepted == 3 ? -1 : 0;
    };
    auto t = make_integrator(later, 1, &y, 0.0, 1.0, o);
    const std::string out = run_captured(*t, code);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(t->statistics().accepted, 3);
    EXPECT_EQ(later.output_calls, 4);  // initial point and three steps
    EXPECT_EQ(y, y_seen);
    EXPECT_EQ(out, " exit of RADAU5 at x = " + fmt(t->x) + "\n");
}

TEST(StiffIntegratorRun, FailuresReportMessageAndCode) {
    const StiffOptions base = with_tolerances(1e-6, 1e-8);
    int code = 0;
    {
        // the third attempt reaches nmax = 3 and is not made
        LambdaSystem sys(decay);
        double y = 1.0;
        StiffOptions o = base;
        o.max_steps = 3;
        auto s = make_integrator(sys, 1, &y, 0.0, 100.0, o);
        const std::string out = run_captured(*s, code);
        EXPECT_EQ(code, StiffIntegratorT::kTooManySteps);
        EXPECT_EQ(s->statistics().steps, 3);
        EXPECT_EQ(out, " exit of RADAU5 at x = " + fmt(s->x) +
                           "\n more than nmax = 3 steps are needed\n Computation failed \n");
        EXPECT_NEAR(y, std::exp(-s->x), 1e-6);  // y holds the last accepted state
    }
    {
        // at x = 1e16 a step of 1e-6 is below 10 |x| uround; the numbers keep the default
        // format even when the caller has changed std::cout's
        LambdaSystem sys(decay);
        double y = 1.0;
        auto s = make_integrator(sys, 1, &y, 1e16, 1e16 + 10.0, base);
        const auto flags = std::cout.flags();
        const auto precision = std::cout.precision(15);
        std::cout << std::fixed;
        const std::string out = run_captured(*s, code);
        std::cout.flags(flags);
        std::cout.precision(precision);
        EXPECT_EQ(out,
                  " exit of RADAU5 at x = 1e+16\n step size too small, h = 1e-06\n"
                  " Computation failed \n");
        EXPECT_EQ(code, StiffIntegratorT::kStepTooSmall);
        EXPECT_EQ(y, 1.0);
    }
    {
        // zero mass and zero Jacobian: E1 = 0 at every step size
        LambdaSystem sys([](double, const double*, double* f) { f[0] = 0.0; });
        sys.mass_ = [](double** m) { m[0][0] = 0.0; };
        double y = 1.0;
        StiffOptions o = base;
        o.mass = MassMatrix::band;
        auto s = make_integrator(sys, 1, &y, 0.0, 1.0, o);
        EXPECT_EQ(run_captured(*s, code),
                  " exit of RADAU5 at x = 0\n matrix is repeatedly singular, ier= 1\n"
                  " Computation failed \n");
        EXPECT_EQ(code, StiffIntegratorT::kRepeatedlySingular);
        EXPECT_EQ(sys.mass_calls, 1);
        EXPECT_EQ(s->statistics().complex_decompositions, 0);
    }
    {
        // Hessenberg form with second-order structure is not a supported case
        LambdaSystem sys([](double, const double* y, double* f) {
            for (int i = 0; i < 4; ++i) f[i] = -y[i];
        });
        double y[4] = {1, 1, 1, 1};
        StiffOptions o = base;
        o.m1 = 2;
        o.jacobian = JacobianStructure::hessenberg;
        auto s = make_integrator(sys, 4, y, 0.0, 1.0, o);
        EXPECT_EQ(run_captured(*s, code), "Not a value ijob. \tijob = 17\n Computation failed \n");
        EXPECT_EQ(code, StiffIntegratorT::kUnsupportedCase);
    }
    {
        // a right-hand side that refuses the initial state: nothing to retry
        LambdaSystem sys(decay);
        sys.refuses_ = [](double, const double* v) { return v[0] > 0.5; };
        double y = 1.0;
        auto s = make_integrator(sys, 1, &y, 0.0, 1.0, base);
        EXPECT_EQ(run_captured(*s, code),
                  " exit of RADAU5 at x = 0\n the right-hand side cannot be evaluated at this "
                  "state\n Computation failed \n");
        EXPECT_EQ(code, StiffIntegratorT::kRhsRefused);
        EXPECT_EQ(y, 1.0);
    }
}

TEST(StiffIntegratorRun, RefusedStageRejectsTheStepAndRetriesSmaller) {
    // y' = -2 sqrt(y), y = (1 - x)^2, defined for y >= 0 only. One step over [0, 0.9]
    // follows the linearisation y' = -1 - y into y(0.9) = 2 e^-0.9 - 1 < 0: the refused
    // stage halves the step, and the run goes on to the right answer.
    LambdaSystem sys([](double, const double* y, double* f) { f[0] = -2.0 * std::sqrt(y[0]); });
    sys.refuses_ = [](double, const double* y) { return y[0] < 0.0; };
    double y = 1.0;
    StiffOptions o = with_tolerances(1e-8, 1e-10);
    o.h = 1.0;
    auto s = make_integrator(sys, 1, &y, 0.0, 0.9, o);
    ASSERT_EQ(s->integrate(), StiffIntegratorT::kReachedEnd);
    const IntegratorStatistics& st = s->statistics();
    EXPECT_GE(sys.refusals, 1);
    EXPECT_GE(st.newton_failures, sys.refusals);  // each refusal gave up one attempt
    EXPECT_EQ(st.steps, st.accepted + st.rejected + st.newton_failures);
    EXPECT_NEAR(y, 0.01, 1e-7);
}

TEST(StiffIntegratorRun, EmptyIntervalIsReachedAtOnce) {
    LambdaSystem sys(decay);
    double y = 2.0;
    StiffOptions o = with_tolerances(1e-6, 1e-8);
    o.output = true;
    auto s = make_integrator(sys, 1, &y, 5.0, 5.0, o);
    int code = 0;
    EXPECT_EQ(run_captured(*s, code), "");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(y, 2.0);
    EXPECT_EQ(s->statistics().steps, 0);
    EXPECT_EQ(sys.output_calls, 1);
}

TEST(StiffIntegratorRun, StatisticsAgreeWithWhatTheSystemSaw) {
    auto rhs = [](double, const double* y, double* f) {
        f[0] = -1e3 * (y[0] - y[1]);
        f[1] = -y[1];
    };
    StiffOptions o = with_tolerances(1e-6, 1e-8);
    o.output = true;
    for (double thet : {0.001, -1.0}) {
        LambdaSystem sys(rhs);
        double y[2] = {0.0, 1.0};
        o.thet = thet;
        auto s = make_integrator(sys, 2, y, 0.0, 5.0, o);
        ASSERT_EQ(s->integrate(), 1);
        const IntegratorStatistics& st = s->statistics();
        EXPECT_EQ(sys.output_calls, st.accepted + 1);
        EXPECT_EQ(sys.rhs_calls, st.rhs_calls + st.jacobian_rhs_calls);
        EXPECT_EQ(st.jacobian_rhs_calls, 2 * st.jacobians);  // one per column
        EXPECT_EQ(st.steps, st.accepted + st.rejected + st.newton_failures);
        EXPECT_EQ(st.real_decompositions, st.complex_decompositions);  // none singular
        EXPECT_EQ(s->x, 5.0);
        EXPECT_DOUBLE_EQ(s->x_old + s->h_old, 5.0);
        if (thet > 0) {
            EXPECT_LT(st.jacobians, st.accepted);  // linear: the Jacobian is reused
        } else {
            EXPECT_EQ(st.jacobians, st.accepted);  // a new one after each step but the last
        }
    }
}

TEST(StiffIntegratorRun, FirstStepRules) {
    StiffOptions o = with_tolerances(1e-4, 1e-4);
    o.output = true;
    o.h = 1.0;
    {
        // an initial step that reaches x_end is the whole interval and the last step
        // (y' = 1 is integrated exactly, so the error test cannot reject it)
        LambdaSystem sys([](double, const double*, double* f) { f[0] = 1.0; });
        double y = 1.0;
        StiffOptions longer = o;
        longer.h = 1.5;
        auto s = make_integrator(sys, 1, &y, 0.0, 1.0, longer);
        ASSERT_EQ(s->integrate(), 1);
        EXPECT_EQ(s->statistics().accepted, 1);
        EXPECT_EQ(s->h_old, 1.0);
        EXPECT_NEAR(y, 2.0, 1e-15);
    }
    {
        // y = sin(50 x): the first attempts with h = 1 are far too long; each rejection
        // before the first accepted step divides h by exactly 10, and each is counted
        LambdaSystem sys([](double x, const double* y, double* f) {
            f[0] = -(y[0] - std::sin(50.0 * x)) + 50.0 * std::cos(50.0 * x);
        });
        IntegratorStatistics at_first;
        double h_first = 0.0;
        sys.output_ = [&](IntegratorT& it) {
            if (it.statistics().accepted == 1) {
                at_first = it.statistics();
                h_first = it.h_old;
            }
            return 0;
        };
        double y = 0.0;
        auto s = make_integrator(sys, 1, &y, 0.0, 1.0, o);
        ASSERT_EQ(s->integrate(), 1);
        ASSERT_GT(at_first.steps, 1);
        double expected = 1.0;
        for (int k = 1; k < at_first.steps; ++k) expected = 0.1 * expected;
        EXPECT_EQ(h_first, expected);
        EXPECT_EQ(at_first.rejected, at_first.steps - 1);
        EXPECT_NEAR(y, std::sin(50.0), 1e-3);
    }
}

}  // namespace
