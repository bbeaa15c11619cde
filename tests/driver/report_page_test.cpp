// report.html as a browser shows it: headless Chromium loads the page of a five-point run
// from its file, its DOM holds one row per calibration point and one inline svg per plot
// of the run, the page loads without a console message, and a screenshot of the expected
// size is not blank. The page must also be self-contained: no script, no style sheet or
// image from elsewhere, and every link pointing at a file of the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

bool has_chromium() {
    static const bool found = std::system("command -v chromium >/dev/null 2>&1") == 0;
    return found;
}

// Headless Chromium as root on a closed network, with a fresh profile in `profile`.
std::string chromium(const fs::path& profile) {
    return "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
           "--disable-background-networking --disable-component-update --disable-sync "
           "--disable-dev-shm-usage "
           "--user-data-dir='" +
           profile.string() + "' ";
}

}  // namespace

TEST(ReportPage, BrowserShowsPointsAndPlots) {
    if (!has_chromium()) GTEST_SKIP() << "no chromium";
    testutil::ScratchDir dir("report");
    fs::copy_file(fs::path(TAVOLINE_EXAMPLES) / "b.cci", dir.path() / "b.cci");
    ASSERT_EQ(testutil::run_program(dir.path(), "b", "").status, 0);
    const fs::path run = dir.path() / "b";
    const fs::path page = run / "report.html";
    const std::string url = "'file://" + page.string() + "'";

    const std::string html = testutil::read_file(page);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<link"), std::string::npos);
    EXPECT_EQ(html.find(" src="), std::string::npos);
    for (std::size_t at = 0; (at = html.find("<a href=\"", at)) != std::string::npos;) {
        at += 9;
        const std::string target = html.substr(at, html.find('"', at) - at);
        EXPECT_TRUE(fs::exists(run / target)) << target;
    }

    const auto dom = testutil::run_command(chromium(dir.path() / "profile") +
                                           "--enable-logging=stderr --v=0 --dump-dom " + url);
    ASSERT_EQ(dom.status, 0) << dom.output;
    EXPECT_EQ(dom.output.find(":CONSOLE"), std::string::npos) << dom.output;
    // five points, in the table of the points and in the automatic grid's
    EXPECT_EQ(count(dom.output, "<tr class=\"finished\">"), 10);
    for (const char* multiplier : {">1<", ">10<", ">100<", ">1000<", ">10000<"})
        EXPECT_NE(dom.output.find(multiplier), std::string::npos) << multiplier;
    int plots = 0;
    for (const auto& e : fs::recursive_directory_iterator(run))
        if (e.path().extension() == ".svg") ++plots;
    EXPECT_EQ(count(dom.output, "<svg"), plots);
    EXPECT_GE(plots, 12);  // wyn and mempot of five points, curve and tcurve

    const fs::path shot = dir.path() / "report.png";
    const auto r = testutil::run_command(chromium(dir.path() / "profile") +
                                         "--window-size=1000,1400 --screenshot='" + shot.string() +
                                         "' " + url);
    ASSERT_EQ(r.status, 0) << r.output;
    const testutil::Image image = testutil::read_png(shot);
    EXPECT_EQ(image.width, 1000);
    EXPECT_EQ(image.height, 1400);
    EXPECT_GT(image.distinct_levels(), 2);
}
