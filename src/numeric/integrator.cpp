#include "numeric/integrator.h"

#include <iostream>
#include <limits>
#include <sstream>

void OdeSystem::jacobian(double, const double*, double**) {}

void OdeSystem::mass(double**) {}

int OdeSystem::output(IntegratorT&) { return 0; }

void IntegratorT::refuse(const std::string& message) {
    std::cout << message << std::endl;
    throw IntegratorError(message);
}

IntegratorT::IntegratorT(OdeSystem& system, int n_, double* y_, double x_, double x_end_,
                         int vector_tolerances_, double* rel_tolerance_, double* abs_tolerance_,
                         int output_mode_, double h_, double h_max_, int nmax_, double uround_,
                         double safe_, double facl_, double facr_)
    : n(n_),
      y(y_),
      x(x_),
      x_end(x_end_),
      vector_tolerances(vector_tolerances_),
      rel_tolerance(rel_tolerance_),
      abs_tolerance(abs_tolerance_),
      output_mode(output_mode_),
      h(h_),
      h_max(h_max_),
      nmax(nmax_),
      uround(uround_),
      safe(safe_),
      facl(facl_),
      facr(facr_),
      x_old(x_),
      h_old(h_),
      x_dense(x_),
      system_(system) {
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
    if (rel_tolerance == nullptr) {
        own_rel_tolerance_ = std::make_unique<double>(1e-7);
        rel_tolerance = own_rel_tolerance_.get();
        vector_tolerances = 0;
        owns_rel_tolerance = true;
    }
    if (abs_tolerance == nullptr) {
        own_abs_tolerance_ = std::make_unique<double>(1e-7);
        abs_tolerance = own_abs_tolerance_.get();
        vector_tolerances = 0;
        owns_abs_tolerance = true;
    }
    if (h_max == 0.0) h_max = x_end - x;
    if (nmax == 0) nmax = 100000;
    if (nmax <= 0) {
        std::ostringstream message;
        message << " wrong input, nmax = " << nmax;
        refuse(message.str());
    }
    if (uround == 0.0) uround = 1e-16;
    if (!(uround > 1e-19 && uround < 1.0)) {
        std::ostringstream message;
        message << " coefficients have 20 digits, uround = " << uround;
        refuse(message.str());
    }
    if (safe == 0.0) safe = 0.9;
    if (!(safe > 0.001 && safe < 1.0)) {
        std::ostringstream message;
        message << " curious input for safety factor, safe = " << safe;
        refuse(message.str());
    }
}

IntegratorT::~IntegratorT() = default;
