// The one general-notation number text of the program's messages, reports and plots.
#pragma once

#include <string>

// `v` in general notation with `digits` significant digits ("%.*g"): what printf's "%g"
// and a default-formatted stream (six digits) both write.
std::string number_text(double v, int digits = 6);

// `v` in general notation with the fewest digits, six at least, that read back as exactly
// `v`: "1e-05", "298.15", "0.1" and "2.16666666667" where "%g" would give 2.16667.
std::string exact_number_text(double v);

// `v` with `decimals` digits after the point ("%.*f").
std::string fixed_text(double v, int decimals);
