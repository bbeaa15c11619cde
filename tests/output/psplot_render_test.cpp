// Pages from the plotter must be valid PostScript: each one is rendered with Ghostscript,
// which must exit 0 without reporting an error. Covers a realistic plot and the
// degenerate ones (flat curve, single point, equal and non-finite limits).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "output/psplot/psplot.h"
#include "test_util.h"

namespace {

class PSplotRender : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testutil::has_ghostscript()) GTEST_SKIP() << "no gs";
    }

    std::string path(const std::string& name) const { return (dir_.path() / name).string(); }

    // Renders `ps`; fails the test when gs exits non-zero or reports an error.
    void expect_renders(const std::string& ps) const {
        const testutil::RunResult r = testutil::render_postscript(ps);
        EXPECT_EQ(r.status, 0) << ps << "\n" << r.output;
        EXPECT_EQ(r.output.find("Error"), std::string::npos) << ps << "\n" << r.output;
    }

    testutil::ScratchDir dir_{"psrender"};
};

// One plot drawn the way the result writers draw theirs.
void standard_plot(PSpage& page, double left, double right, double bottom, double top, VecDoub_I& x,
                   VecDoub_I& y) {
    PSplot plot(page, left, right, bottom, top);
    plot.clear_box();
    const double dy = y.maximum() - y.minimum();
    plot.set_limits(x.minimum() - 0.5, x.maximum() + 1.0, y.minimum() - 0.1 * dy,
                    y.maximum() + 0.1 * dy);
    plot.draw_frame();
    plot.auto_scale_range(x.minimum(), x.maximum(), y.minimum(), y.maximum());
    plot.x_label("log( t[s] )");
    plot.y_label("Fi [mV]");
    for (int i = 0; i < x.size(); ++i) plot.dot(x[i], y[i], 5);
    plot.line_plot(x, y);
}

}  // namespace

TEST_F(PSplotRender, RealisticAndDegeneratePlotsRender) {
    const int n = 40;
    VecDoub logt(n), pot(n), flat(n), one_x(1), one_y(1);
    for (int i = 0; i < n; ++i) {
        logt[i] = -6 + 0.25 * i;
        pot[i] = 59.2 * std::tanh(0.4 * (logt[i] + 2)) - 12.5;
        flat[i] = 42;
    }
    one_x[0] = 3;
    one_y[0] = -7;
    {
        PSpage page(path("realistic.ps"));
        standard_plot(page, 70, 290, 580, 790, logt, pot);
        standard_plot(page, 370, 590, 580, 790, logt, flat);
        standard_plot(page, 70, 290, 320, 530, one_x, one_y);

        const double nan = std::numeric_limits<double>::quiet_NaN();
        PSplot odd(page, 370, 590, 320, 530);
        odd.clear_box();
        odd.set_limits(nan, nan, 0, 0);
        odd.draw_frame();
        odd.auto_scale();
        odd.x_label("unbalanced ( label \\");
        odd.y_label("y");
        odd.line_plot(pot, flat);
        page.close();
    }
    expect_renders(path("realistic.ps"));
}

TEST_F(PSplotRender, ColoursFillsAndClipRender) {
    {
        PSpage page(path("ops.ps"));
        VecDoub xs(3), ys(3);
        xs[0] = 100, xs[1] = 300, xs[2] = 200;
        ys[0] = 100, ys[1] = 100, ys[2] = 300;
        for (int k = 0; k < 5; ++k) page.set_color_index(k);
        page.set_gray(0.5);
        page.save_state();
        page.polyline(xs, ys, 0, 1, 0);
        page.restore_state();
        page.save_state();
        page.polyline(xs, ys, 0, 0, 1);
        page.line_segment(0, 0, 600, 800);
        page.restore_state();
        page.put_right_text("right", 300, 400, 30);
        page.point_symbol(300, 500, 108, 8);
    }
    expect_renders(path("ops.ps"));
}
