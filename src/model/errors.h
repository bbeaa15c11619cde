// Errors that end a run before or during set-up. `main` prints the message and exits
// with status 1; nothing is written to the run folder after one is raised.
#pragma once

#include <string>

#include "base/fault.h"

// An input that cannot be run: the message names the file, the line where one applies,
// and the offending value. A fault found after reading (in scaling or the grid) names the
// value group it concerns, so that the line of that group can be added to the message.
struct InputError : Fault {
    explicit InputError(const std::string& message, std::string group_ = "")
        : Fault(FaultKind::input, message, false), group(std::move(group_)) {}
    std::string group;  // key of dane::inputLines, or empty
};

// An input fault whose message (with its line end) is already on standard output.
struct ReportedError : Fault {
    explicit ReportedError(const std::string& message) : Fault(FaultKind::input, message, true) {}
};
