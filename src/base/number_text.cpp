#include "base/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

std::string number_text(double v, int digits) {
    // Enough for the longest "%.*g" text of a double at up to 17 digits.
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
    return buffer;
}

std::string exact_number_text(double v) {
    // The general notation of the copies where six digits already hold the value, with
    // more digits only where they are needed (at most 17 for any double). No text of fewer
    // digits than the shortest one that reads back as v can read back, so the search
    // starts there, and nearly always ends at its first try.
    int first = 6;
    if (std::isfinite(v) && v != 0.0) {
        char shortest[40];
        const auto end = std::to_chars(shortest, shortest + sizeof shortest, v,
                                       std::chars_format::scientific).ptr;
        int mantissa = 0;
        for (const char* c = shortest; c < end && *c != 'e'; ++c) mantissa += *c >= '0' && *c <= '9';
        first = std::max(first, mantissa);
    }
    for (int digits = first; digits < 17; ++digits) {
        std::string text = number_text(v, digits);
        if (std::strtod(text.c_str(), nullptr) == v) return text;
    }
    return number_text(v, 17);
}
