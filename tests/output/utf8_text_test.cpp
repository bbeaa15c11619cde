// Names that are not UTF-8 reach summary.json (through the JSON writer's "replace" handler)
// and report.html (through valid_utf8): both must carry the same text, valid UTF-8 must
// pass unchanged, and nothing may throw. Random byte strings from the bytes that decide
// UTF-8's rules (leads of every length, the edges of the continuation ranges, surrogates,
// overlong leads, bytes never valid) check the two against each other.
#include "output/utf8_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

TEST(Utf8Text, ReplacesIllFormedSequencesAsTheJsonWriterDoes) {
    EXPECT_EQ(valid_utf8("f\xE9.cci"), "f\xEF\xBF\xBD.cci");
    const std::string valid = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
    EXPECT_EQ(valid_utf8(valid), valid);
    EXPECT_EQ(valid_utf8("\xF0\x9F\x98"), "\xEF\xBF\xBD");  // cut at the end: one
    EXPECT_EQ(valid_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate

    const unsigned char pool[] = {0x41, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                  0xDF, 0xE0, 0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0x00};
    std::mt19937 random(19);
    for (int trial = 0; trial < 20000; ++trial) {
        std::string bytes;
        for (int n = static_cast<int>(random() % 9); n > 0; --n)
            bytes += static_cast<char>(pool[random() % sizeof pool]);
        const std::string dumped =
            nlohmann::json(bytes).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        ASSERT_EQ(nlohmann::json::parse(dumped).get<std::string>(), valid_utf8(bytes))
            << nlohmann::json(valid_utf8(bytes)).dump();
    }
}
