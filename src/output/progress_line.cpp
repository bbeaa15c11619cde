#include "output/progress_line.h"

#include <algorithm>
#include <cstdio>

ProgressLine::ProgressLine(std::ostream& out)
    : out_(out), started_(Clock::now()), shown_(started_ - std::chrono::seconds(1)) {}

void ProgressLine::start_run(int point, int points, const std::string& which) {
    run_ = "point " + std::to_string(point) + " of " + std::to_string(points) + ", " + which;
    show(0.0, 0);
}

void ProgressLine::step(double share, int steps) {
    if (share < 1.0 && Clock::now() - shown_ < std::chrono::milliseconds(250)) return;
    show(share, steps);
}

void ProgressLine::clear() {
    if (width_ == 0) return;
    out_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    width_ = 0;
}

void ProgressLine::show(double share, int steps) {
    shown_ = Clock::now();
    const double elapsed = std::chrono::duration<double>(shown_ - started_).count();
    char tail[96];
    std::snprintf(tail, sizeof tail, ": t %5.1f %% of tEnd, %d steps, %.1f s", 100.0 * share, steps,
                  elapsed);
    const std::string line = run_ + tail;
    out_ << '\r' << line;
    if (line.size() < width_) out_ << std::string(width_ - line.size(), ' ');
    out_ << std::flush;
    width_ = std::max(width_, line.size());
}
