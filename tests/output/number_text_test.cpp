// The exact number text starts its search at the digits of the shortest text that reads
// back: it must give what the search from six digits gives, on values of every kind
// (random bit patterns, powers of two, whose lower rounding interval is half as wide,
// subnormals, decimal fractions).
#include "base/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace {

std::string searched_from_six(double v) {
    for (int digits = 6; digits < 17; ++digits) {
        std::string text = number_text(v, digits);
        if (std::strtod(text.c_str(), nullptr) == v) return text;
    }
    return number_text(v, 17);
}

TEST(ExactNumberText, SameAsTheSearchFromSixDigits) {
    std::mt19937_64 gen(5);
    std::vector<double> values = {0.0, -0.0, 298.15, 1e-5, 0.1, 13.0 / 6.0,
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::infinity()};
    for (int e = -1074; e <= 1023; ++e) values.push_back(std::ldexp(1.0, e));
    for (int k = 0; k < 20000; ++k) {
        const std::uint64_t bits = gen();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isnan(v)) values.push_back(v);
        values.push_back(static_cast<double>(gen() % 1000000) / 1000.0);
    }
    for (double v : values) ASSERT_EQ(exact_number_text(v), searched_from_six(v)) << v;
}

}  // namespace
