// Common part of the one-step integrators for y' = f(x, y) (or M y' = f(x, y)): problem
// size and state, interval, tolerances, step-size limits, safety factors and run counters,
// with their defaults and checks, and the interface through which an integrator reaches the
// system it integrates.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "numeric/fault.h"

class IntegratorT;

// The system an integrator advances. The integrator calls these operations and nothing
// else; it keeps no pointer handed to them beyond the call.
class OdeSystem {
  public:
    virtual ~OdeSystem() = default;

    // Writes f(x, y) into f (n values). Called with the caller's state and with the
    // integrator's own work vectors. The result is ignored.
    virtual int rhs(double x, const double* y, double* f) = 0;

    // Fills the Jacobian df/dy in the integrator's layout (full: jac[i - m1][j] for rows
    // i >= m1; banded: jac[i - j + jac_upper][j]). Called only for an analytic Jacobian.
    virtual void jacobian(double x, const double* y, double** jac);

    // Fills the constant mass matrix (full: mas[i][j]; banded: mas[i - j + mass_upper][j]),
    // once at the start of a run. Called only when a mass matrix was announced.
    virtual void mass(double** mas);

    // Called after the initial point and after every accepted step when output is on; it may
    // read x, y, accepted_steps, and set x_dense to evaluate
    // dense_output. A negative result stops the integration.
    virtual int output(IntegratorT& integrator);
};

// A parameter fault found while an integrator is built. Its message is the text that the
// integrator has also written to standard output.
struct IntegratorError : Fault {
    explicit IntegratorError(const std::string& message)
        : Fault(FaultKind::numerical, message, true) {}
};

class IntegratorT {
  public:
    // Stores the arguments and applies the defaults and checks; a zero h_max, nmax, uround
    // or safe and a null tolerance pointer stand for their defaults. A refused value writes
    // its message and a line end to standard output and throws IntegratorError.
    // The state y and tolerances are the caller's storage and must outlive the integrator.
    IntegratorT(OdeSystem& system, int n, double* y, double x, double x_end, int vector_tolerances,
                double* rel_tolerance, double* abs_tolerance, int output_mode, double h,
                double h_max, int nmax, double uround, double safe, double facl, double facr);
    virtual ~IntegratorT();

    IntegratorT(const IntegratorT&) = delete;
    IntegratorT& operator=(const IntegratorT&) = delete;

    // Integrates from x to x_end in place in y; returns the result code of run_steps.
    virtual int integrate() = 0;
    // The method's step loop; returns its result code.
    virtual int run_steps() = 0;
    // Component i of the continuous solution of the last accepted step at x_dense.
    virtual double dense_output(int i) const = 0;

    int n;
    double* y;
    double x;
    double x_end;
    int vector_tolerances;
    double* rel_tolerance;
    double* abs_tolerance;
    bool owns_rel_tolerance = false;
    bool owns_abs_tolerance = false;
    int output_mode;
    double h;
    double h_max;
    int nmax;
    double uround;
    double safe;
    double facl;
    double facr;
    int function_calls = 0;
    // Evaluations of f made to form finite-difference Jacobians (one per column, or per
    // group of columns for a banded Jacobian); not part of function_calls, so the two
    // together count every call of OdeSystem::rhs.
    int jacobian_function_calls = 0;
    int steps = 0;
    int accepted_steps = 0;
    int rejected_steps = 0;
    double x_old;
    double h_old;
    double x_dense;

  protected:
    // Writes message and a line end to standard output, then throws IntegratorError.
    [[noreturn]] static void refuse(const std::string& message);

    OdeSystem& system_;

  private:
    std::unique_ptr<double> own_rel_tolerance_;
    std::unique_ptr<double> own_abs_tolerance_;
};
