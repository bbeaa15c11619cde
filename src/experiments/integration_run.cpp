#include "experiments/integration_run.h"

#include <ctime>
#include <iostream>

#include "numeric/stiff_integrator.h"
#include "physics/flux.h"
#include "physics/rhs.h"

namespace {

// Binds the integrator's operations to the one record of the run: the right-hand side is
// the transport system, the output is the progress report. The Jacobian is computed by
// finite differences and there is no mass matrix, so the defaults of those stay unused.
class MembraneSystem : public OdeSystem {
  public:
    MembraneSystem(model& md, RunSeries& series) : md_(md), series_(series) {}

    int rhs(double x, const double* y, double* f) override {
        evaluate_rhs(md_, x, y, f);
        return 0;
    }

    int output(IntegratorT& integrator) override {
        report_progress(md_, series_, integrator.x, integrator.accepted_steps);
        return 0;
    }

  private:
    model& md_;
    RunSeries& series_;
};

int wall_clock_seconds() { return static_cast<int>(std::time(nullptr)); }

}  // namespace

RunOutcome run_integration(model& md, RunSeries& series) {
    MembraneSystem system(md, series);
    // Full finite-difference Jacobian (lower bandwidth nEq), identity mass matrix, one
    // tolerance pair for all unknowns; every other parameter takes its default.
    StiffIntegratorT integrator(system, md.nEq, md.y.data(), md.tBegin, md.tEnd, 0, &md.rtol,
                                &md.atol, 1, md.hInit, 0.0, 0, 0.0, 0.0, 0.0, 0.0, 0, md.nEq, 0, 0,
                                0, 0, 0, false, 0, 0, 0, 0, 0, 0, 0, 0.0, 0.0, 0.0, 0.0);
    std::cout << "** NPP problem integrated with RADAU5 **\n\n";
    md.tStart = wall_clock_seconds();
    RunOutcome outcome;
    outcome.code = integrator.integrate();
    outcome.steps = integrator.steps;
    outcome.accepted = integrator.accepted_steps;
    outcome.rejected = integrator.rejected_steps;
    outcome.functionCalls = integrator.function_calls;
    outcome.jacobians = integrator.jacobian_calls;
    outcome.decompositions = integrator.decompositions;
    return outcome;
}

void report_progress(model& md, RunSeries& series, double x, int step) {
    membrane_potential(md, md.y.data());
    md.tNow = wall_clock_seconds();
    md.t_calc = md.tNow - md.tStart;
    const double millivolts = md.mpot * md.eScale * md.L;
    const double seconds = x * md.tc;
    if (step > 0) {
        series.potSeries.append(millivolts);
        series.timeSeries.append(seconds);
        series.tcalcSeries.append(md.t_calc);
    }
    std::cout << "Step " << step << ": t=" << seconds << ", m_pot=" << millivolts
              << ", t_calc=" << md.t_calc << ";\n";
}

std::string describe_failure(int code) {
    switch (code) {
        case StiffIntegratorT::kUnsupportedCase:
            return "the integrator does not support this structure of the system";
        case StiffIntegratorT::kTooManySteps:
            return "the largest number of integration steps was reached";
        case StiffIntegratorT::kStepTooSmall:
            return "the step size became too small";
        case StiffIntegratorT::kRepeatedlySingular:
            return "the iteration matrix was repeatedly singular";
        default:
            return "the integrator stopped with code " + std::to_string(code);
    }
}
