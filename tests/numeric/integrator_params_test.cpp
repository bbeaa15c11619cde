// Construction of the stiff integrator: defaults of every parameter, the refused values
// with their exact messages, the structural case derived from the options, the tolerance
// transformation and its reversal, and every early exit of a run with its message, result
// code and counters. The problem is y' = -y unless a case needs something else.
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

TEST(StiffIntegratorConstruction, ZeroArgumentsTakeTheDefaults) {
    LambdaSystem sys(decay);
    double y = 1.0, rtol = 1e-6, atol = 1e-8;
    StiffOptions o;
    o.rtol = &rtol;
    o.atol = &atol;
    auto s = make_integrator(sys, 1, &y, 1.0, 3.0, o);
    EXPECT_EQ(s->nit, 7);
    EXPECT_EQ(s->facl, 5.0);
    EXPECT_EQ(s->facr, 0.125);
    EXPECT_EQ(s->quot1, 1.0);
    EXPECT_EQ(s->quot2, 1.2);
    EXPECT_EQ(s->thet, 0.001);
    EXPECT_EQ(s->h, 1e-6);
    EXPECT_EQ(s->nmax, 100000);
    EXPECT_EQ(s->safe, 0.9);
    EXPECT_EQ(s->uround, 1e-16);
    EXPECT_EQ(s->h_max, 2.0);
    EXPECT_EQ(s->nind1, 1);
    EXPECT_TRUE(s->predictive);
    EXPECT_EQ(s->ijob, 1);
    EXPECT_EQ(s->m2, 1);  // m1 = 0 gives m2 = n
    // fnewt = max(10 uround / rtol, min(0.03, sqrt(rtol))) with the transformed rtol 1e-5
    EXPECT_NEAR(s->fnewt, std::sqrt(1e-5), 1e-15);
    EXPECT_EQ(s->function_calls + s->steps + s->accepted_steps + s->rejected_steps, 0);
    EXPECT_EQ(s->x_old, 1.0);
    EXPECT_EQ(s->x_dense, 1.0);

    // a step given below 10 uround is replaced as well; backwards, h_max is negative
    StiffOptions back = o;
    back.h = 5e-16;
    auto b = make_integrator(sys, 1, &y, 3.0, 1.0, back);
    EXPECT_EQ(b->h, 1e-6);
    EXPECT_EQ(b->h_max, -2.0);
}

TEST(StiffIntegratorConstruction, NullTolerancesBecomeOwnedScalars) {
    LambdaSystem sys(decay);
    double y[2] = {1.0, 1.0};
    StiffOptions o;
    o.vector_tolerances = 1;
    auto s = make_integrator(sys, 2, y, 0.0, 1.0, o);
    EXPECT_EQ(s->vector_tolerances, 0);
    EXPECT_TRUE(s->owns_rel_tolerance);
    EXPECT_TRUE(s->owns_abs_tolerance);
    // 1e-7 each, transformed: rtol = 0.1 (1e-7)^(2/3), atol keeps the ratio 1
    EXPECT_NEAR(*s->rel_tolerance, 0.1 * std::pow(1e-7, 2.0 / 3.0), 1e-20);
    EXPECT_EQ(*s->abs_tolerance, *s->rel_tolerance);
}

TEST(StiffIntegratorConstruction, RefusedValuesPrintTheirMessages) {
    double rtol = 1e-6, atol = 1e-8;
    auto base = [&] {
        rtol = 1e-6;
        atol = 1e-8;
        StiffOptions o;
        o.rtol = &rtol;
        o.atol = &atol;
        return o;
    };
    expect_refused(-1, base(), "System too big, max. n = 4294967294");

    StiffOptions o = base();
    o.nmax = -5;
    expect_refused(1, o, " wrong input, nmax = -5");
    o = base();
    o.uround = 1e-19;  // the bound is strict
    expect_refused(1, o, " coefficients have 20 digits, uround = 1e-19");
    o.uround = 1.0;
    expect_refused(1, o, " coefficients have 20 digits, uround = 1");
    o = base();
    o.safe = 0.001;
    expect_refused(1, o, " curious input for safety factor, safe = 0.001");
    o.safe = 1.0;
    expect_refused(1, o, " curious input for safety factor, safe = 1");

    o = base();
    double small_rtol = 1e-15;  // not above 10 uround
    o.rtol = &small_rtol;
    expect_refused(1, o, " tolerances are too small");
    o = base();
    double zero_atol = 0.0;
    o.atol = &zero_atol;
    expect_refused(1, o, " tolerances are too small");

    o = base();
    o.facl = 0.5;
    expect_refused(1, o, " curious input facl, facr = 0.50.125");
    o = base();
    o.facr = 2.0;
    expect_refused(1, o, " curious input facl, facr = 52");
    o = base();
    o.nit = -3;
    expect_refused(1, o, " curious input nit = -3");
    o = base();
    o.nind1 = 1;
    o.nind2 = 1;
    expect_refused(1, o, " curious input for nind1, nind2, nind3 = 110");
    o = base();
    o.m1 = 1;
    o.m2 = 1;
    expect_refused(1, o, " curious input for m1, m2 = 11");
    o.m1 = -1;
    o.m2 = 0;  // m2 = 0 takes m1
    expect_refused(1, o, " curious input for m1, m2 = -1-1");
    o.m1 = 3;  // not whole blocks of m2
    o.m2 = 2;
    expect_refused(5, o, " curious input for m1, m2 = 32");
    o.m1 = 2;  // a banded Jacobian needs the blocks to fill n
    o.m2 = 2;
    o.jac_lower = 1;
    o.jac_upper = 1;
    expect_refused(5, o, " curious input for m1, m2 = 22");
    o = base();
    expect_refused(0, o, " wrong input, n = 0");
    expect_refused(-3, o, " wrong input, n = -3");
    o = base();
    o.fnewt = 1e-12;  // not above uround / rtol = 1e-16 / 1e-5
    expect_refused(1, o, " curious input for fnewt = 1e-12");
    o = base();
    o.quot1 = 1.5;
    expect_refused(1, o, " curious input for quot1, quot2 = 1.51.2");
    o = base();
    o.quot2 = 0.9;
    expect_refused(1, o, " curious input for quot1, quot2 = 10.9");
    o = base();
    o.thet = 1.0;
    expect_refused(1, o, " curious input for thet = 1");

    o = base();
    o.jac_lower = 1;
    o.jac_upper = 1;
    o.mass_given = 1;
    o.mass_lower = 4;  // full mass with a banded Jacobian
    expect_refused(4, o, "bandwith of 'mas' not smaller than bandwith of 'jac'");
    o.mass_lower = 2;
    o.mass_upper = 0;
    expect_refused(4, o, "bandwith of 'mas' not smaller than bandwith of 'jac'");
}

TEST(StiffIntegratorConstruction, BoundaryValuesAccepted) {
    LambdaSystem sys(decay);
    double y = 1.0, rtol = 1e-6, atol = 1e-8;
    StiffOptions o;
    o.rtol = &rtol;
    o.atol = &atol;
    o.uround = 1.1e-19;
    o.thet = -1.0;
    EXPECT_NO_THROW(make_integrator(sys, 1, &y, 0.0, 1.0, o));
}

TEST(StiffIntegratorConstruction, VectorToleranceFaultNamesTheComponentAndChangesNothing) {
    LambdaSystem sys(decay);
    double y[3] = {1, 1, 1};
    double rtol[3] = {1e-6, 1e-6, 1e-20};
    double atol[3] = {1e-8, 1e-8, 1e-8};
    StiffOptions o;
    o.vector_tolerances = 1;
    o.rtol = rtol;
    o.atol = atol;
    testing::internal::CaptureStdout();
    EXPECT_THROW(make_integrator(sys, 3, y, 0.0, 1.0, o), IntegratorError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " tolerances('2) are too small\n");
    // a refused construction must not leave the caller's tolerances transformed
    EXPECT_EQ(rtol[0], 1e-6);
    EXPECT_EQ(atol[1], 1e-8);

    double r = 1e-6, a = 1e-8;
    StiffOptions late;
    late.rtol = &r;
    late.atol = &a;
    late.thet = 2.0;  // refused after the tolerance checks
    testing::internal::CaptureStdout();
    EXPECT_THROW(make_integrator(sys, 1, y, 0.0, 1.0, late), IntegratorError);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, 1e-6);
    EXPECT_EQ(a, 1e-8);
}

TEST(StiffIntegratorConstruction, StructuralCaseFollowsTheOptions) {
    LambdaSystem sys([](double, const double* y, double* f) {
        for (int i = 0; i < 4; ++i) f[i] = -y[i];
    });
    double y[4] = {1, 1, 1, 1};
    double rtol = 1e-6, atol = 1e-6;
    struct Case {
        int n, jl, ju, mass, ml, mu, m1, m2, hess, ijob;
    };
    const Case cases[] = {
        {4, 4, 0, 0, 0, 0, 0, 0, 0, 1},  // full Jacobian
        {4, 1, 1, 0, 0, 0, 0, 0, 0, 2},  // banded Jacobian
        {4, 4, 0, 1, 1, 1, 0, 0, 0, 3},  // banded mass, full Jacobian
        {4, 2, 1, 1, 1, 0, 0, 0, 0, 4},  // banded mass, banded Jacobian
        {4, 4, 0, 1, 4, 0, 0, 0, 0, 5},  // full mass
        {3, 3, 0, 0, 0, 0, 0, 0, 1, 7},  // Hessenberg
        {2, 2, 0, 0, 0, 0, 0, 0, 1, 1},  // Hessenberg needs n >= 3
        {4, 2, 0, 0, 0, 0, 2, 2, 0, 11}, {4, 1, 0, 0, 0, 0, 2, 2, 0, 12},
        {4, 2, 0, 1, 0, 0, 2, 2, 0, 13}, {4, 2, 0, 1, 2, 0, 2, 2, 0, 15},
        {4, 2, 0, 0, 0, 0, 2, 0, 1, 17},  // Hessenberg with m1: not a supported case
    };
    for (const Case& c : cases) {
        StiffOptions o;
        o.rtol = &rtol;
        o.atol = &atol;
        o.jac_lower = c.jl;
        o.jac_upper = c.ju;
        o.mass_given = c.mass;
        o.mass_lower = c.ml;
        o.mass_upper = c.mu;
        o.m1 = c.m1;
        o.m2 = c.m2;
        o.use_hessenberg = c.hess;
        rtol = atol = 1e-6;
        auto s = make_integrator(sys, c.n, y, 0.0, 1.0, o);
        EXPECT_EQ(s->ijob, c.ijob) << "expected case " << c.ijob;
        EXPECT_EQ(s->reduced_n, c.n - c.m1);
        if (c.ijob == 2) {
            EXPECT_EQ(s->jac_rows, 3);
            EXPECT_EQ(s->e_rows, 4);
        }
        if (c.ijob == 5) {
            EXPECT_EQ(s->mass_upper, 4);
        }
    }
    StiffOptions classic;
    classic.rtol = &rtol;
    classic.atol = &atol;
    classic.controller_choice = 2;
    rtol = atol = 1e-6;
    EXPECT_FALSE(make_integrator(sys, 4, y, 0.0, 1.0, classic)->predictive);
}

TEST(StiffIntegratorRun, TolerancesAreTransformedAndRestoredAfterSuccess) {
    LambdaSystem sys(decay);
    double y = 1.0, rtol = 1e-6, atol = 1e-8;
    StiffOptions o;
    o.rtol = &rtol;
    o.atol = &atol;
    auto s = make_integrator(sys, 1, &y, 0.0, 1.0, o);
    // 0.1 (1e-6)^(2/3) = 1e-5, ratio 0.01 kept; pow leaves a few ulps
    EXPECT_NEAR(rtol, 1e-5, 1e-19);
    EXPECT_NEAR(atol, 1e-7, 1e-21);
    EXPECT_EQ(s->integrate(), StiffIntegratorT::kReachedEnd);
    EXPECT_EQ(s->result_code, 1);
    EXPECT_NEAR(rtol, 1e-6, 1e-19);
    EXPECT_NEAR(atol, 1e-8, 1e-21);

    double yv[2] = {1.0, 2.0}, rv[2] = {1e-6, 1e-4}, av[2] = {1e-8, 1e-3};
    LambdaSystem sys2([](double, const double* v, double* f) {
        f[0] = -v[0];
        f[1] = -2.0 * v[1];
    });
    StiffOptions ov;
    ov.vector_tolerances = 1;
    ov.rtol = rv;
    ov.atol = av;
    auto v = make_integrator(sys2, 2, yv, 0.0, 1.0, ov);
    EXPECT_NEAR(rv[1], 0.1 * std::pow(1e-4, 2.0 / 3.0), 1e-17);
    EXPECT_NEAR(av[1] / rv[1], 10.0, 1e-13);
    v->integrate();
    EXPECT_NEAR(rv[0], 1e-6, 1e-19);
    EXPECT_NEAR(rv[1], 1e-4, 1e-17);
    EXPECT_NEAR(av[1], 1e-3, 1e-16);
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

TEST(StiffIntegratorRun, OutputCallbackStopsTheRun) {
    double y = 1.0, rtol = 1e-6, atol = 1e-8;
    StiffOptions o;
    o.rtol = &rtol;
    o.atol = &atol;
    o.output_mode = 1;

    LambdaSystem at_start(decay);
    at_start.output_ = [](IntegratorT&) { return -1; };
    auto s = make_integrator(at_start, 1, &y, 0.0, 1.0, o);
    int code = 0;
    EXPECT_EQ(run_captured(*s, code), " exit of RADAU5 at x = 0\n");
    EXPECT_EQ(code, StiffIntegratorT::kStoppedByOutput);
    EXPECT_EQ(s->steps, 0);
    EXPECT_EQ(s->accepted_steps, 0);
    EXPECT_EQ(y, 1.0);

    LambdaSystem later(decay);
    double y_seen = 0.0;
    later.output_ = [&](IntegratorT& it) {
        y_seen = it.y[0];
        return it.accepted_steps == 3 ? -1 : 0;
    };
    y = 1.0;
    rtol = 1e-6;
    atol = 1e-8;
    auto t = make_integrator(later, 1, &y, 0.0, 1.0, o);
    const std::string out = run_captured(*t, code);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(t->accepted_steps, 3);
    EXPECT_EQ(later.output_calls, 4);  // initial point and three steps
    EXPECT_EQ(y, y_seen);
    EXPECT_EQ(out, " exit of RADAU5 at x = " + fmt(t->x) + "\n");
}

TEST(StiffIntegratorRun, FailuresReportMessageAndCode) {
    double rtol = 1e-6, atol = 1e-8;
    auto opts = [&] {
        rtol = 1e-6;
        atol = 1e-8;
        StiffOptions o;
        o.rtol = &rtol;
        o.atol = &atol;
        return o;
    };
    int code = 0;
    {
        // the third attempt reaches nmax = 3 and is not made
        LambdaSystem sys(decay);
        double y = 1.0;
        StiffOptions o = opts();
        o.nmax = 3;
        auto s = make_integrator(sys, 1, &y, 0.0, 100.0, o);
        const std::string out = run_captured(*s, code);
        EXPECT_EQ(code, StiffIntegratorT::kTooManySteps);
        EXPECT_EQ(s->steps, 3);
        EXPECT_EQ(out, " exit of RADAU5 at x = " + fmt(s->x) +
                           "\n more than nmax = 3 steps are needed\n Computation failed \n");
        EXPECT_NEAR(rtol, 1e-5, 1e-19);         // left transformed after a failure
        EXPECT_NEAR(y, std::exp(-s->x), 1e-6);  // y holds the last accepted state
    }
    {
        // at x = 1e16 a step of 1e-6 is below 10 |x| uround; the numbers keep the default
        // format even when the caller has changed std::cout's
        LambdaSystem sys(decay);
        double y = 1.0;
        auto s = make_integrator(sys, 1, &y, 1e16, 1e16 + 10.0, opts());
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
        StiffOptions o = opts();
        o.mass_given = 1;
        auto s = make_integrator(sys, 1, &y, 0.0, 1.0, o);
        EXPECT_EQ(run_captured(*s, code),
                  " exit of RADAU5 at x = 0\n matrix is repeatedly singular, ier= 1\n"
                  " Computation failed \n");
        EXPECT_EQ(code, StiffIntegratorT::kRepeatedlySingular);
        EXPECT_EQ(sys.mass_calls, 1);
        EXPECT_EQ(s->decompositions, 0);
    }
    {
        LambdaSystem sys([](double, const double* y, double* f) {
            for (int i = 0; i < 4; ++i) f[i] = -y[i];
        });
        double y[4] = {1, 1, 1, 1};
        StiffOptions o = opts();
        o.m1 = 2;
        o.use_hessenberg = 1;
        auto s = make_integrator(sys, 4, y, 0.0, 1.0, o);
        EXPECT_EQ(run_captured(*s, code), "Not a value ijob. \tijob = 17\n Computation failed \n");
        EXPECT_EQ(code, StiffIntegratorT::kUnsupportedCase);
    }
}

TEST(StiffIntegratorRun, EmptyIntervalIsReachedAtOnce) {
    LambdaSystem sys(decay);
    double y = 2.0, rtol = 1e-6, atol = 1e-8;
    StiffOptions o;
    o.rtol = &rtol;
    o.atol = &atol;
    o.output_mode = 1;
    auto s = make_integrator(sys, 1, &y, 5.0, 5.0, o);
    int code = 0;
    EXPECT_EQ(run_captured(*s, code), "");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(y, 2.0);
    EXPECT_EQ(s->steps, 0);
    EXPECT_EQ(sys.output_calls, 1);
}

TEST(StiffIntegratorRun, CountersAgreeWithWhatTheSystemSaw) {
    LambdaSystem sys([](double, const double* y, double* f) {
        f[0] = -1e3 * (y[0] - y[1]);
        f[1] = -y[1];
    });
    double y[2] = {0.0, 1.0}, rtol = 1e-6, atol = 1e-8;
    StiffOptions o;
    o.rtol = &rtol;
    o.atol = &atol;
    o.output_mode = 1;
    auto s = make_integrator(sys, 2, y, 0.0, 5.0, o);
    ASSERT_EQ(s->integrate(), 1);
    EXPECT_EQ(sys.output_calls, s->accepted_steps + 1);
    // finite-difference columns are evaluated but not counted in function_calls
    EXPECT_EQ(sys.rhs_calls, s->function_calls + 2 * s->jacobian_calls);
    EXPECT_GE(s->steps, s->accepted_steps + s->rejected_steps);
    EXPECT_GE(s->solves, s->accepted_steps);
    EXPECT_GE(s->decompositions, 1);
    EXPECT_LT(s->jacobian_calls, s->accepted_steps);  // linear: the Jacobian is reused
    EXPECT_EQ(s->x, 5.0);
    EXPECT_DOUBLE_EQ(s->x_old + s->h_old, 5.0);

    // thet < 0: a new Jacobian after every accepted step but the last
    LambdaSystem again([](double, const double* v, double* f) {
        f[0] = -1e3 * (v[0] - v[1]);
        f[1] = -v[1];
    });
    y[0] = 0.0;
    y[1] = 1.0;
    o.thet = -1.0;
    auto t = make_integrator(again, 2, y, 0.0, 5.0, o);
    ASSERT_EQ(t->integrate(), 1);
    EXPECT_EQ(t->jacobian_calls, t->accepted_steps);
}

TEST(StiffIntegratorRun, FirstStepRules) {
    double rtol = 1e-4, atol = 1e-4;
    StiffOptions o;
    o.rtol = &rtol;
    o.atol = &atol;
    o.output_mode = 1;
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
        EXPECT_EQ(s->accepted_steps, 1);
        EXPECT_EQ(s->h_old, 1.0);
        EXPECT_NEAR(y, 2.0, 1e-15);
    }
    {
        // y = sin(50 x): the first attempts with h = 1 are far too long; each rejection
        // before the first accepted step divides h by exactly 10 and is not counted
        LambdaSystem sys([](double x, const double* y, double* f) {
            f[0] = -(y[0] - std::sin(50.0 * x)) + 50.0 * std::cos(50.0 * x);
        });
        int steps_at_first = -1, rejected_at_first = -1;
        double h_first = 0.0;
        sys.output_ = [&](IntegratorT& it) {
            if (it.accepted_steps == 1) {
                steps_at_first = it.steps;
                rejected_at_first = it.rejected_steps;
                h_first = it.h_old;
            }
            return 0;
        };
        double y = 0.0;
        rtol = atol = 1e-4;
        auto s = make_integrator(sys, 1, &y, 0.0, 1.0, o);
        ASSERT_EQ(s->integrate(), 1);
        ASSERT_GT(steps_at_first, 1);
        double expected = 1.0;
        for (int k = 1; k < steps_at_first; ++k) expected = 0.1 * expected;
        EXPECT_EQ(h_first, expected);
        EXPECT_EQ(rejected_at_first, 0);
        EXPECT_NEAR(y, std::sin(50.0), 1e-3);
    }
}

}  // namespace
