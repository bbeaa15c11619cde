#include "base/number_text.h"

#include <cstdlib>
#include <cstdio>

std::string number_text(double v, int digits) {
    // Enough for the longest "%.*g" text of a double at up to 17 digits.
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
    return buffer;
}

std::string exact_number_text(double v) {
    // The general notation of the copies where six digits already hold the value, with
    // more digits only where they are needed (at most 17 for any double).
    for (int digits = 6; digits < 17; ++digits) {
        std::string text = number_text(v, digits);
        if (std::strtod(text.c_str(), nullptr) == v) return text;
    }
    return number_text(v, 17);
}
