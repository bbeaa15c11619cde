// Small helpers for the integrator tests: every constructor argument with its "default"
// value 0, and systems given by lambdas.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "numeric/stiff_integrator.h"

struct StiffOptions {
    int vector_tolerances = 0;
    double* rtol = nullptr;
    double* atol = nullptr;
    int output_mode = 0;
    double h = 0, h_max = 0;
    int nmax = 0;
    double uround = 0, safe = 0, facl = 0, facr = 0;
    int analytic_jacobian = 0;
    int jac_lower = -1;  // -1: full (n)
    int jac_upper = 0;
    int mass_given = 0, mass_lower = 0, mass_upper = 0;
    int nit = 0;
    bool zero_start = false;
    int nind1 = 0, nind2 = 0, nind3 = 0;
    int controller_choice = 0;
    int m1 = 0, m2 = 0;
    int use_hessenberg = 0;
    double fnewt = 0, quot1 = 0, quot2 = 0, thet = 0;
};

inline std::unique_ptr<StiffIntegratorT> make_integrator(OdeSystem& system, int n, double* y,
                                                         double x, double x_end,
                                                         const StiffOptions& o) {
    return std::make_unique<StiffIntegratorT>(
        system, n, y, x, x_end, o.vector_tolerances, o.rtol, o.atol, o.output_mode, o.h, o.h_max,
        o.nmax, o.uround, o.safe, o.facl, o.facr, o.analytic_jacobian,
        o.jac_lower < 0 ? n : o.jac_lower, o.jac_upper, o.mass_given, o.mass_lower, o.mass_upper,
        o.nit, o.zero_start, o.nind1, o.nind2, o.nind3, o.controller_choice, o.m1, o.m2,
        o.use_hessenberg, o.fnewt, o.quot1, o.quot2, o.thet);
}

// A system given by its right-hand side and, optionally, Jacobian, mass matrix and output.
class LambdaSystem : public OdeSystem {
  public:
    using Rhs = std::function<void(double, const double*, double*)>;
    using Jac = std::function<void(double, const double*, double**)>;
    using Mass = std::function<void(double**)>;
    using Output = std::function<int(IntegratorT&)>;

    explicit LambdaSystem(Rhs rhs) : rhs_(std::move(rhs)) {}

    int rhs(double x, const double* y, double* f) override {
        ++rhs_calls;
        rhs_(x, y, f);
        return 0;
    }
    void jacobian(double x, const double* y, double** jac) override {
        ++jacobian_calls;
        if (jac_) jac_(x, y, jac);
    }
    void mass(double** mas) override {
        ++mass_calls;
        if (mass_) mass_(mas);
    }
    int output(IntegratorT& integrator) override {
        ++output_calls;
        return output_ ? output_(integrator) : 0;
    }

    Jac jac_;
    Mass mass_;
    Output output_;
    int rhs_calls = 0;
    int jacobian_calls = 0;
    int mass_calls = 0;
    int output_calls = 0;

  private:
    Rhs rhs_;
};
