// Errors that end a run before or during set-up. `main` prints the message and exits
// with status 1; nothing is written to the run folder after one is raised.
#pragma once

#include <stdexcept>
#include <string>

// An input that cannot be run: the message names the file, the line where one applies,
// and the offending value.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A fault whose message has already been written to standard output: `main` exits with
// status 1 without printing it again.
struct ReportedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
