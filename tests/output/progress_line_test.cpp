// The terminal progress line: shown at the start of a run, then at most every quarter of a
// second (the end of a run always), and cleared without leaving text behind.
#include "output/progress_line.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(ProgressLine, ThrottlesAndClears) {
    std::ostringstream out;
    ProgressLine line(out);
    line.start_run(2, 5, "potentiometric");
    EXPECT_EQ(out.str().rfind("\rpoint 2 of 5, potentiometric: t   0.0 % of tEnd, 0 steps, ", 0),
              0u)
        << out.str();
    const std::size_t shown = out.str().size();
    line.step(0.5, 10);  // within a quarter of a second of the last display
    EXPECT_EQ(out.str().size(), shown);
    line.step(1.0, 20);  // the end of the run is always shown
    EXPECT_NE(out.str().find("t 100.0 % of tEnd, 20 steps"), std::string::npos);
    out.str("");
    line.clear();
    const std::string cleared = out.str();
    ASSERT_GE(cleared.size(), 2u);
    EXPECT_EQ(cleared.front(), '\r');
    EXPECT_EQ(cleared.back(), '\r');
    EXPECT_EQ(cleared.find_first_not_of(" \r"), std::string::npos);
}
