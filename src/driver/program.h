#pragma once

// Runs the whole program: banner, input, set-up, calibration loop. Returns the exit
// status; every error that escapes is reported here on standard output.
int run_main(int argc, char** argv);
