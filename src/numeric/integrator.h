// Common part of the one-step integrators for y' = f(x, y) (or M y' = f(x, y)): problem
// size and state, interval, tolerances, step-size limits, safety factors and run
// statistics, with their checks, and the interface through which an integrator reaches the
// system it integrates.
#pragma once

#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "base/fault.h"
#include "base/message_sink.h"

class IntegratorT;

// The system an integrator advances. The integrator calls these operations and nothing
// else; it keeps no pointer handed to them beyond the call.
class OdeSystem {
  public:
    virtual ~OdeSystem() = default;

    // Writes f(x, y) into f (n values). Called with the caller's state and with the
    // integrator's own work vectors. Returns 0, or non-zero when f cannot be evaluated at
    // this state (for instance outside the physical domain); see StiffIntegratorT for how
    // the integrator answers.
    virtual int rhs(double x, const double* y, double* f) = 0;

    // Fills the Jacobian df/dy in the integrator's layout (full: jac[i - m1][j] for rows
    // i >= m1; banded: jac[i - j + jac_upper][j]). Called only for an analytic Jacobian.
    virtual void jacobian(double x, const double* y, double** jac);

    // Fills the constant mass matrix (full: mas[i][j]; banded: mas[i - j + mass_upper][j]),
    // once at the start of a run. Called only when a mass matrix was announced.
    virtual void mass(double** mas);

    // Called after the initial point and after every accepted step when output is on; it may
    // read x, y and statistics(), and set x_dense to evaluate dense_output. A negative
    // result stops the integration.
    virtual int output(IntegratorT& integrator);

    // A second evaluator of the same f that may run on another thread at the same time as
    // this one: it shares nothing that rhs() writes, and gives the same values bit for bit.
    // Asked for once, by an integrator that forms its Jacobian's column groups on two
    // threads; the system owns it. Null (the default): f is evaluated on one thread only.
    virtual OdeSystem* concurrent_evaluator();
};

// A parameter fault found while an integrator is built. Its message is the text that the
// integrator has also written to standard output.
struct IntegratorError : Fault {
    explicit IntegratorError(const std::string& message)
        : Fault(FaultKind::numerical, message, true) {}
};

// Threads of an integration unless told otherwise: two on a machine with two cores or more.
inline int default_integrator_threads() { return std::thread::hardware_concurrency() >= 2 ? 2 : 1; }

// Settings of any one-step integrator, with their defaults and units.
struct IntegratorOptions {
    // Error weights atol + rtol |y_i|: one value for every component, or n values (one
    // per component). Must satisfy atol > 0 and rtol > 10 uround. Never changed by the
    // integrator.
    std::vector<double> rtol = {1e-7};
    std::vector<double> atol = {1e-7};  // in the units of y
    // Call OdeSystem::output after the initial point and after every accepted step.
    bool output = false;
    double h = 1e-6;  // initial step size (units of x); a value below 10 uround takes 1e-6
    double h_max = std::numeric_limits<double>::infinity();  // largest step size (units of x)
    int max_steps = 100000;  // the run ends when this many step attempts have begun
    double uround = 1e-16;   // unit roundoff of the arithmetic, 1e-19 < uround < 1
    double safe = 0.9;       // safety factor of the step-size prediction, 0.001 < safe < 1
    double facl = 5.0;       // a new step is never smaller than h / facl (facl >= 1)
    double facr = 0.125;     // a new step is never larger than h / facr (facr <= 1)
    // Threads of the integration, >= 1. An integrator whose step holds independent pieces of
    // linear algebra runs them on that many threads at once (the stiff one: 2, its real and
    // complex Newton systems; a larger count acts as its number of pieces). The results are
    // the same bit for bit with any count.
    int threads = default_integrator_threads();
    // Where refused values and the reasons a run ended early are told.
    MessageSink* messages = &standard_output();
};

// What a run did. Every attempt ends as accepted, rejected by the error test or a Newton
// failure, so after a run that reached its end steps = accepted + rejected + newton_failures.
struct IntegratorStatistics {
    int steps = 0;            // step attempts begun
    int accepted = 0;         // accepted steps
    int rejected = 0;         // attempts rejected by the error test, the first step's included
    int newton_failures = 0;  // attempts abandoned by the Newton iteration (h reduced)
    int jacobians = 0;        // Jacobians formed
    int real_decompositions = 0;     // completed decompositions of the real iteration matrix
    int complex_decompositions = 0;  // completed decompositions of the complex one
    long long rhs_calls = 0;            // evaluations of f for the method itself
    long long jacobian_rhs_calls = 0;   // evaluations of f for finite-difference Jacobians
    // Block-tridiagonal decompositions whose first solve had a componentwise backward error
    // above StiffIntegratorT::kBlockBackwardErrorLimit: pivoting inside the blocks was not
    // enough, and the Newton systems are solved less accurately than by a band LU.
    int inaccurate_block_solves = 0;

    // Every evaluation of f, the Jacobians' included.
    long long all_rhs_calls() const { return rhs_calls + jacobian_rhs_calls; }
    // Counts of several runs added up.
    IntegratorStatistics& operator+=(const IntegratorStatistics& other) {
        steps += other.steps;
        accepted += other.accepted;
        rejected += other.rejected;
        newton_failures += other.newton_failures;
        jacobians += other.jacobians;
        real_decompositions += other.real_decompositions;
        complex_decompositions += other.complex_decompositions;
        rhs_calls += other.rhs_calls;
        jacobian_rhs_calls += other.jacobian_rhs_calls;
        inaccurate_block_solves += other.inaccurate_block_solves;
        return *this;
    }
};

class IntegratorT {
  public:
    // Stores the problem and applies the checks of the common settings. A refused value
    // writes its message and a line end to options.messages and throws IntegratorError.
    // The state y is the caller's storage, advanced in place; it must outlive the integrator.
    IntegratorT(OdeSystem& system, int n, double* y, double x, double x_end,
                const IntegratorOptions& options);
    virtual ~IntegratorT();

    IntegratorT(const IntegratorT&) = delete;
    IntegratorT& operator=(const IntegratorT&) = delete;

    // Integrates from x to x_end in place in y; returns the result code of run_steps.
    virtual int integrate() = 0;
    // The method's step loop; returns its result code.
    virtual int run_steps() = 0;
    // Component i of the continuous solution of the last accepted step at x_dense.
    virtual double dense_output(int i) const = 0;

    const IntegratorStatistics& statistics() const { return stats_; }
    // How the last integrate ended (0 before the first call).
    int result_code() const { return result_code_; }

    const int n;
    double* const y;
    double x;
    // End of the interval (x_end < x integrates backwards); a caller may move it and call
    // integrate() again to go on from x.
    double x_end;
    double h;
    // The last accepted step runs from x_old to x = x_old + h_old; dense_output evaluates
    // its continuous solution at x_dense, which the caller sets.
    double x_old;
    double h_old;
    double x_dense;

  protected:
    // Writes message and a line end to the messages' sink, then throws IntegratorError.
    [[noreturn]] void refuse(const std::string& message) const;

    MessageSink& messages_;
    OdeSystem& system_;
    IntegratorStatistics stats_;
    int result_code_ = 0;

    bool per_component_tolerances_ = false;
    std::vector<double> rtol_;  // the caller's tolerances, as given
    std::vector<double> atol_;
    bool output_;
    double h_max_;
    int max_steps_;
    double uround_;
    double safe_;
    int threads_;  // >= 1
};
