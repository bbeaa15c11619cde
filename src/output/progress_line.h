// A one-line progress display for a terminal: calibration point k of n, which run, the
// simulated time as a share of tEnd, the steps of the run and the time since the program
// started, rewritten in place (carriage return) at most four times a second.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

class ProgressLine {
  public:
    explicit ProgressLine(std::ostream& out);

    // A new integration run: point `point` of `points`, `which` run ("potentiometric", ...).
    void start_run(int point, int points, const std::string& which);
    // After an accepted step: `share` of the run's interval done (0..1), `steps` so far.
    // Shown when a quarter of a second has passed since the last display, or at the end.
    void step(double share, int steps);
    // Clears the line, so that the next output starts on a clean line.
    void clear();

  private:
    using Clock = std::chrono::steady_clock;
    void show(double share, int steps);

    std::ostream& out_;
    Clock::time_point started_;
    Clock::time_point shown_;
    std::string run_;
    std::size_t width_ = 0;  // characters of the line on screen
};
