// Ending a run cleanly on SIGINT or SIGTERM. The handler only notes the signal; the
// integration stops after its next accepted step (RunOptions::stopSignal), the driver
// writes what the point in progress reached, reports the run as interrupted and ends with
// status 128 + the signal's number.
#pragma once

#include <csignal>
#include <string>

// Installs the handlers of SIGINT and SIGTERM and returns the flag they set: the number
// of the first of them received, 0 before. A handler serves once: the same signal sent
// again ends the program at once, the default way, for a user who will not wait. SIGPIPE
// is ignored, so that standard output closed by its reader (`tavoline b | head`) fails
// its writes, which the run reports with status 3, instead of ending the program between
// a result file's temporary and its renaming.
const volatile std::sig_atomic_t* catch_stop_signals();

// Ignores SIGXFSZ, which a write beyond the file-size limit (ulimit -f) raises and which
// would end the program between a result file's temporary and its renaming: the write
// fails instead (EFBIG), and the file is reported as not written like any other.
void ignore_file_size_signal();

// "SIGINT", "SIGTERM", or "signal N" for another number.
std::string signal_name(int signal);
