#include "output/number_text.h"

#include <cstdio>

std::string number_text(double v, int digits) {
    // Enough for the longest "%.*g" text of a double at up to 17 digits.
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
    return buffer;
}
