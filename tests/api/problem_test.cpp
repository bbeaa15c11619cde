// A problem written back as text reads as the same problem, for every bundled input of
// every form; a problem that cannot be written in full is refused by its field.
#include <gtest/gtest.h>

#include <filesystem>

#include "tavoline/tavoline.h"

namespace fs = std::filesystem;

namespace {

TEST(ProblemText, EveryExampleReadsBackAsTheSameProblem) {
    int read = 0;
    for (const auto& entry : fs::directory_iterator(TAVOLINE_EXAMPLES)) {
        if (entry.path().extension() != ".cci") continue;
        const tavoline::Problem p = tavoline::Problem::from_file(entry.path().string());
        tavoline::Problem back = tavoline::Problem::from_text(p.to_text(), p.name);
        // The current form keeps every field (the older forms' settings it cannot hold
        // do not become fields); exact numbers read back as the same doubles.
        EXPECT_TRUE(back == p) << entry.path() << "\n" << p.to_text();
        ++read;
    }
    EXPECT_GE(read, 7);
}

TEST(ProblemText, FaultsNameTheField) {
    tavoline::Problem p = tavoline::Problem::from_file(TAVOLINE_EXAMPLES "/b.cci");
    p.temperature = -3;
    try {
        p.validate();
        FAIL() << "a negative temperature was accepted";
    } catch (const tavoline::Error& e) {
        EXPECT_EQ(e.kind(), tavoline::ErrorKind::input);
        EXPECT_EQ(e.field(), "temperature");
        EXPECT_EQ(e.value(), "-3");
        EXPECT_GT(e.line(), 0);
    }
    p = tavoline::Problem::from_file(TAVOLINE_EXAMPLES "/b.cci");
    p.components[2].initial.push_back(1);  // two values for one layer
    try {
        p.validate();
        FAIL() << "a second layer's value for one layer was accepted";
    } catch (const tavoline::Error& e) {
        EXPECT_EQ(e.field(), "components[2].initial");
    }
}

}  // namespace
