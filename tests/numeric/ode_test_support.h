// Small helpers for the integrator tests: systems given by lambdas and a builder.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "numeric/stiff_integrator.h"

inline std::unique_ptr<StiffIntegratorT> make_integrator(OdeSystem& system, int n, double* y,
                                                         double x, double x_end,
                                                         const StiffOptions& o) {
    return std::make_unique<StiffIntegratorT>(system, n, y, x, x_end, o);
}

// Options with one relative and one absolute tolerance, everything else default.
inline StiffOptions with_tolerances(double rtol, double atol) {
    StiffOptions o;
    o.rtol = {rtol};
    o.atol = {atol};
    return o;
}

// A system given by its right-hand side and, optionally, Jacobian, mass matrix, output and
// a test that makes the right-hand side refuse a state.
class LambdaSystem : public OdeSystem {
  public:
    using Rhs = std::function<void(double, const double*, double*)>;
    using Jac = std::function<void(double, const double*, double**)>;
    using Mass = std::function<void(double**)>;
    using Output = std::function<int(IntegratorT&)>;
    using Refuses = std::function<bool(double, const double*)>;

    explicit LambdaSystem(Rhs rhs) : rhs_(std::move(rhs)) {}

    int rhs(double x, const double* y, double* f) override {
        ++rhs_calls;
        if (refuses_ && refuses_(x, y)) {
            ++refusals;
            return 1;
        }
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
    // With `concurrent` set: a second system on the same rhs (which must then be safe to
    // call from two threads), counting its own calls.
    OdeSystem* concurrent_evaluator() override {
        if (concurrent && second_ == nullptr) second_ = std::make_unique<LambdaSystem>(rhs_);
        return second_.get();
    }
    const LambdaSystem* second() const { return second_.get(); }

    Jac jac_;
    Mass mass_;
    Output output_;
    Refuses refuses_;
    int rhs_calls = 0;
    int refusals = 0;
    int jacobian_calls = 0;
    int mass_calls = 0;
    int output_calls = 0;
    bool concurrent = false;

  private:
    Rhs rhs_;
    std::unique_ptr<LambdaSystem> second_;
};
