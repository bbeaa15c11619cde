#include "numeric/integrator.h"

#include <limits>
#include <sstream>

void OdeSystem::jacobian(double, const double*, double**) {}

void OdeSystem::mass(double**) {}

int OdeSystem::output(IntegratorT&) { return 0; }

OdeSystem* OdeSystem::concurrent_evaluator() { return nullptr; }

void IntegratorT::refuse(const std::string& message) const {
    tell(messages_, message, "\n");
    messages_.flush();
    throw IntegratorError(message);
}

IntegratorT::IntegratorT(OdeSystem& system, int n_, double* y_, double x_, double x_end_,
                         const IntegratorOptions& options)
    : n(n_),
      y(y_),
      x(x_),
      x_end(x_end_),
      h(options.h),
      x_old(x_),
      h_old(options.h),
      x_dense(x_),
      messages_(*options.messages),
      system_(system),
      rtol_(options.rtol),
      atol_(options.atol),
      output_(options.output),
      h_max_(options.h_max),
      max_steps_(options.max_steps),
      uround_(options.uround),
      safe_(options.safe),
      threads_(options.threads) {
    if (n == -1) {
        // all bits set: one more than the largest admissible size as an unsigned count
        std::ostringstream message;
        message << "System too big, max. n = " << std::numeric_limits<unsigned>::max() - 1u;
        refuse(message.str());
    }
    if (n <= 0) {
        // an empty or negative size would leave the work vectors without storage
        std::ostringstream message;
        message << " wrong input, n = " << n;
        refuse(message.str());
    }
    const auto un = static_cast<std::size_t>(n);
    const bool one_rtol = rtol_.size() == 1;
    if ((!one_rtol && rtol_.size() != un) || atol_.size() != rtol_.size()) {
        std::ostringstream message;
        message << " tolerances must be 1 or n = " << n << " values each, got " << rtol_.size()
                << " and " << atol_.size();
        refuse(message.str());
    }
    per_component_tolerances_ = !one_rtol;
    if (max_steps_ <= 0) {
        std::ostringstream message;
        message << " wrong input, nmax = " << max_steps_;
        refuse(message.str());
    }
    if (threads_ < 1) {
        std::ostringstream message;
        message << " wrong input, threads = " << threads_;
        refuse(message.str());
    }
    if (!(uround_ > 1e-19 && uround_ < 1.0)) {
        std::ostringstream message;
        message << " coefficients have 20 digits, uround = " << uround_;
        refuse(message.str());
    }
    if (!(safe_ > 0.001 && safe_ < 1.0)) {
        std::ostringstream message;
        message << " curious input for safety factor, safe = " << safe_;
        refuse(message.str());
    }
}

IntegratorT::~IntegratorT() = default;
