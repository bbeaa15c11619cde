#include "driver/stop_signal.h"

namespace {

// The program's one process-wide mutable value: a signal handler may do no more than
// store into a volatile std::sig_atomic_t, and the run reads it between integration steps.
volatile std::sig_atomic_t stopSignal = 0;

void note_stop_signal(int signal) {
    if (stopSignal == 0) stopSignal = signal;
}

}  // namespace

const volatile std::sig_atomic_t* catch_stop_signals() {
    struct sigaction action = {};
    action.sa_handler = note_stop_signal;
    sigemptyset(&action.sa_mask);
    // SA_RESTART: a write under way when the signal comes completes instead of failing
    // with EINTR, so no result file is lost to the interruption itself.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return &stopSignal;
}

void ignore_file_size_signal() { std::signal(SIGXFSZ, SIG_IGN); }

std::string signal_name(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "signal " + std::to_string(signal);
    }
}
