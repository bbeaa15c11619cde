#include "base/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

// The texts come from std::to_chars, which writes with a precision what printf writes in
// the "C" locale ("%.*g", "%.*f"), at a fraction of its cost: the plots and tables of a run
// hold hundreds of thousands of numbers.

std::string number_text(double v, int digits) {
    // Enough for the longest "%.*g" text of a double at up to 17 digits.
    char buffer[40];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, digits).ptr;
    return std::string(buffer, end);
}

std::string fixed_text(double v, int decimals) {
    // the largest double has 309 digits before the point
    char buffer[400];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals);
    if (error != std::errc()) return number_text(v);
    return std::string(buffer, end);
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
