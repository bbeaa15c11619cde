// Number texts on values of every kind (random bit patterns, powers of two, whose lower
// rounding interval is half as wide, subnormals, decimal fractions): the general and fixed
// texts are what printf writes, and the exact text starts its search at the digits of the
// shortest text that reads back, so it must give what the search from six digits gives.
#include "base/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

std::string searched_from_six(double v) {
    for (int digits = 6; digits < 17; ++digits) {
        std::string text = number_text(v, digits);
        if (std::strtod(text.c_str(), nullptr) == v) return text;
    }
    return number_text(v, 17);
}

std::vector<double> values_of_every_kind() {
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
    return values;
}

TEST(NumberText, WritesWhatPrintfWrites) {
    std::vector<double> values = values_of_every_kind();
    values.push_back(std::nan(""));
    values.push_back(-std::numeric_limits<double>::infinity());
    values.push_back(-0.004);  // "-0.00"
    char expected[400];
    for (double v : values) {
        for (int digits : {1, 6, 12, 15, 17}) {
            std::snprintf(expected, sizeof expected, "%.*g", digits, v);
            ASSERT_EQ(number_text(v, digits), expected) << digits;
        }
        std::snprintf(expected, sizeof expected, "%.2f", v);
        ASSERT_EQ(fixed_text(v, 2), expected);
    }
}

TEST(ExactNumberText, SameAsTheSearchFromSixDigits) {
    for (double v : values_of_every_kind())
        ASSERT_EQ(exact_number_text(v), searched_from_six(v)) << v;
}

}  // namespace
