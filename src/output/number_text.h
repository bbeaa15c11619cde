// The one general-notation number text of the program's messages, reports and plots.
#pragma once

#include <string>

// `v` in general notation with `digits` significant digits ("%.*g"): what printf's "%g"
// and a default-formatted stream (six digits) both write.
std::string number_text(double v, int digits = 6);
