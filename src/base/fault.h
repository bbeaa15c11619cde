// The one base of the program's faults. Every error the program reports derives from it,
// with its kind and whether its message already stands on standard output (some are
// printed where they happen, in the program's own words, before the run is ended). It sits in
// the lowest layer so that the integrator can raise one too; it knows nothing else.
#pragma once

#include <stdexcept>
#include <string>

enum class FaultKind {
    input,      // the input file, y.vec or the command line cannot be run
    numerical,  // the integrator refused its parameters
    output,     // a result file could not be opened or written
};

class Fault : public std::runtime_error {
  public:
    Fault(FaultKind kind, const std::string& message, bool printed)
        : std::runtime_error(message), kind_(kind), printed_(printed) {}

    FaultKind kind() const { return kind_; }
    // True when the message (and its line end) is already on standard output.
    bool printed() const { return printed_; }

  private:
    FaultKind kind_;
    bool printed_;
};
