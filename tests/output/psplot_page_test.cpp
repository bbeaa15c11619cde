// Byte-exact text of the PostScript plotter, checked against texts written by hand from
// the operation formats: a page with one plot (prolog, clearing, frame, ticks with labels,
// axis titles, a dot, a line), the tick-step rules, and pages with degenerate ranges that
// must still hold finite numbers only.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "output/psplot/psplot.h"
#include "test_util.h"

namespace {

class PSplotTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (dir_.path() / name).string(); }

    // Text a page writes between its prolog and "showpage".
    static std::string body(const std::string& text) {
        const std::string head = "0.5 setlinewidth\n";
        const auto begin = text.find(head) + head.size();
        const auto end = text.rfind("showpage\n");
        return text.substr(begin, end - begin);
    }

    static bool all_numbers_finite(const std::string& text) {
        return text.find("nan") == std::string::npos && text.find("inf") == std::string::npos;
    }

    testutil::ScratchDir dir_{"psplot"};
};

VecDoub vec(std::initializer_list<double> values) {
    VecDoub v(static_cast<int>(values.size()));
    int i = 0;
    for (double x : values) v[i++] = x;
    return v;
}

const char* const kProlog =
    "%!\n"
    "/mt{moveto}def /lt{lineto}def /np{newpath}def\n"
    "/st{stroke}def /cp{closepath}def /fi{fill}def\n"
    "/zp {gsave /ZapfDingbats findfont exch scalefont setfont moveto show grestore} def\n"
    "/Times-Roman findfont 12 scalefont setfont\n"
    "0.5 setlinewidth\n";

}  // namespace

TEST_F(PSplotTest, PageWithOnePlotMatchesHandWrittenText) {
    {
        PSpage page(path("one.ps"));
        PSplot plot(page, 100, 500, 350, 750);
        plot.clear_box();  // before set_limits: data units are points
        plot.set_limits(0, 2, 0, 10);
        plot.draw_frame();
        plot.draw_scales(1, 0.5, 10, 5, 2, 1, 1, 0);
        plot.x_label("t [s]");
        plot.y_label("Fi [mV]");
        plot.dot(1, 5, 5);
        plot.line_plot(vec({0, 1, 2}), vec({0, 5, 10}));
        page.close();
    }
    const std::string centred = " dup stringwidth pop 2 div neg 0 rmoveto show grestore\n";
    const std::string expected =
        std::string(kProlog) +
        // clear_box
        "gsave\n1 setgray\nnp 100 350 mt\n500 350 lt\n500 750 lt\n100 750 lt\ncp fi\n"
        "grestore\n"
        // draw_frame
        "np 100 350 mt\n500 350 lt\n500 750 lt\n100 750 lt\ncp st\n"
        // x major ticks 0, 1, 2 with labels below the box, ticks up and down
        "gsave 100 336 translate 0 rotate 0 0 mt (0)" +
        centred +
        "np 100 350 mt 100 358 lt st\nnp 100 750 mt 100 742 lt st\n"
        "gsave 300 336 translate 0 rotate 0 0 mt (1)" +
        centred +
        "np 300 350 mt 300 358 lt st\nnp 300 750 mt 300 742 lt st\n"
        "gsave 500 336 translate 0 rotate 0 0 mt (2)" +
        centred +
        "np 500 350 mt 500 358 lt st\nnp 500 750 mt 500 742 lt st\n"
        // x minor ticks every 0.5, under the major ones too
        "np 100 350 mt 100 354 lt st\nnp 100 750 mt 100 746 lt st\n"
        "np 200 350 mt 200 354 lt st\nnp 200 750 mt 200 746 lt st\n"
        "np 300 350 mt 300 354 lt st\nnp 300 750 mt 300 746 lt st\n"
        "np 400 350 mt 400 354 lt st\nnp 400 750 mt 400 746 lt st\n"
        "np 500 350 mt 500 354 lt st\nnp 500 750 mt 500 746 lt st\n"
        // y: mode 1 draws unlabelled ticks on the left only
        "np 100 350 mt 108 350 lt st\nnp 100 750 mt 108 750 lt st\n"
        "np 100 350 mt 104 350 lt st\nnp 100 550 mt 104 550 lt st\n"
        "np 100 750 mt 104 750 lt st\n"
        // titles: x centred 2 font sizes + 8 below, y rotated 3 font sizes + 8 left
        "gsave 300 318 translate 0 rotate 0 0 mt (t [s])" +
        centred + "gsave 56 550 translate 90 rotate 0 0 mt (Fi [mV])" + centred +
        // dot at page (300, 550)
        "(\\154) 298.03 548.285 5 zp\n"
        // line
        "np 100 350 mt\n300 550 lt\n500 750 lt\nst\n"
        "showpage\n";
    EXPECT_EQ(testutil::read_file(path("one.ps")), expected);
}

TEST_F(PSplotTest, PageOperationsWriteTheirFormats) {
    {
        PSpage page(path("ops.ps"));
        page.set_color_index(4);  // no such colour: nothing
        page.set_color_index(1);
        page.set_rgb(0, 51, 255);
        page.set_font("Helvetica", 9.5);
        page.put_right_text("x", 10, 20.5, 45);
        page.point_symbol(100, 200, 108, 5);
        page.polyline(vec({1, 2, 3}), vec({4, 5, 6, 7, 8}), 0, 1, 1);
        page.polyline(vec({1, 2}), vec({3, 4}), 0, 0, 1);
        page.polyline(VecDoub(), VecDoub(), 0, 0, 0);  // nothing to draw
        page.put_centered_text("a(b) c) \\", 0, 0, 0);
    }  // destruction closes the page
    EXPECT_EQ(body(testutil::read_file(path("ops.ps"))),
              "1 0 0 setrgbcolor\n"
              "0 0.2 1 setrgbcolor\n"
              "/Helvetica findfont 9.5 scalefont setfont\n"
              "gsave 10 20.5 translate 45 rotate 0 0 mt (x) "
              "dup stringwidth pop neg 0 rmoveto show grestore\n"
              "(\\154) 98.03 198.285 5 zp\n"
              "np 1 4 mt\n2 5 lt\n3 6 lt\ncp fi\n"
              "np 1 3 mt\n2 4 lt\ncp clip\n"
              // balanced parentheses stay, a lone one and a backslash are escaped
              "gsave 0 0 translate 0 rotate 0 0 mt (a(b) c\\) \\\\) "
              "dup stringwidth pop 2 div neg 0 rmoveto show grestore\n");
    const std::string text = testutil::read_file(path("ops.ps"));
    EXPECT_EQ(text.substr(text.size() - 10), "\nshowpage\n");
}

TEST_F(PSplotTest, PlotTakesFontOfPageAtConstruction) {
    PSpage page(path("font.ps"));
    page.set_font("Courier", 10);
    PSplot plot(page, 100, 500, 350, 750);
    page.set_font("Times-Roman", 20);  // does not reach the existing plot
    EXPECT_EQ(plot.font_name(), "Courier");
    EXPECT_EQ(plot.font_size(), 10);
}

TEST_F(PSplotTest, UnopenableFileReportsAndThrows) {
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(PSpage(path("missing/dir/x.ps")), PlotError);
    const std::string why = path("missing/dir/x.ps") + ": No such file or directory\n";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "ERROR: failure opening output file for plot\n"
              "     in file psplot at line 15\n     " +
                  why);
    try {
        PSpage page(path("missing/y.ps"));
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("missing/y.ps"), std::string::npos);
    }
}

TEST(PSplotSteps, AutoScaleRules) {
    // auto_scale: 10^trunc(log10(0.9 r)), /10 below 1, /10 again when r/step < 2.
    EXPECT_DOUBLE_EQ(auto_scale_step(7), 1);
    EXPECT_DOUBLE_EQ(auto_scale_step(1.5), 0.1);    // 1.5/1 < 2
    EXPECT_DOUBLE_EQ(auto_scale_step(100), 10);     // log10(90) -> 1
    EXPECT_DOUBLE_EQ(auto_scale_step(0.5), 0.1);    // step 1, then 0.5/1 < 2
    EXPECT_DOUBLE_EQ(auto_scale_step(0.05), 0.01);  // 10^-1 is below 1: 0.01
    // auto_scale_range: 10^trunc(log10 r), /10 when r/step < 1.2, /5 when then < 2.
    EXPECT_DOUBLE_EQ(auto_scale_range_step(1.5), 0.2);
    EXPECT_DOUBLE_EQ(auto_scale_range_step(1.1), 0.1);
    EXPECT_DOUBLE_EQ(auto_scale_range_step(7), 1);
    EXPECT_DOUBLE_EQ(auto_scale_range_step(10), 1);
    // No width, no step (the ticks are then left out, not looped over).
    EXPECT_EQ(auto_scale_step(0), 0);
    EXPECT_EQ(auto_scale_range_step(0), 0);
}

TEST_F(PSplotTest, AutoScaleDrawsTheStepsItChooses) {
    // Two paths to the same ticks: auto_scale on a range of 7 x 1.5 and draw_scales with
    // steps 1 (minor 0.2) and 0.1 (minor 0.02).
    {
        PSpage a(path("auto.ps"));
        PSplot pa(a, 100, 500, 350, 750);
        pa.set_limits(0, 7, 0, 1.5);
        pa.auto_scale();
        PSpage b(path("manual.ps"));
        PSplot pb(b, 100, 500, 350, 750);
        pb.set_limits(0, 7, 0, 1.5);
        pb.draw_scales(1, 0.2, 0.1, 0.02, 2, 2, 1, 1);
    }
    EXPECT_EQ(testutil::read_file(path("auto.ps")), testutil::read_file(path("manual.ps")));
}

TEST_F(PSplotTest, TickLabelsAndMirroredLimits) {
    EXPECT_EQ(PSplot::tick_text(1e-16), "0");
    EXPECT_EQ(PSplot::tick_text(-2.7755575615628914e-17), "0");
    EXPECT_EQ(PSplot::tick_text(1e-15), "1e-15");
    EXPECT_EQ(PSplot::tick_text(0.30000000000000004), "0.3");
    EXPECT_EQ(PSplot::tick_text(-1234567), "-1.23457e+06");

    {
        PSpage page(path("mirror.ps"));
        PSplot plot(page, 100, 500, 350, 750);
        // x runs high to low, y low to high; steps make the accumulated y values pass
        // within rounding of zero: -0.2 + 0.1 + 0.1 = 2.8e-17.
        plot.set_limits(2, 0, -0.2, 0.2);
        plot.draw_scales(1, 0, 0.1, 0, 2, 2, 0, 0);
    }
    const std::string right = " dup stringwidth pop neg 0 rmoveto show grestore\n";
    const std::string centred = " dup stringwidth pop 2 div neg 0 rmoveto show grestore\n";
    EXPECT_EQ(body(testutil::read_file(path("mirror.ps"))),
              // x = 0, 1, 2 in increasing value land at 500, 300, 100
              "gsave 500 336 translate 0 rotate 0 0 mt (0)" + centred +
                  "np 500 350 mt 500 358 lt st\n"
                  "gsave 300 336 translate 0 rotate 0 0 mt (1)" +
                  centred +
                  "np 300 350 mt 300 358 lt st\n"
                  "gsave 100 336 translate 0 rotate 0 0 mt (2)" +
                  centred +
                  "np 100 350 mt 100 358 lt st\n"
                  // y = -0.2, -0.1, ~0, 0.1, 0.2 at 350, 450, 550, 650, 750; labels end 4
                  // points left of the box, lowered by 0.3 font sizes
                  "gsave 96 346.4 translate 0 rotate 0 0 mt (-0.2)" +
                  right +
                  "np 100 350 mt 108 350 lt st\n"
                  "gsave 96 446.4 translate 0 rotate 0 0 mt (-0.1)" +
                  right +
                  "np 100 450 mt 108 450 lt st\n"
                  "gsave 96 546.4 translate 0 rotate 0 0 mt (0)" +
                  right +
                  "np 100 550 mt 108 550 lt st\n"
                  "gsave 96 646.4 translate 0 rotate 0 0 mt (0.1)" +
                  right +
                  "np 100 650 mt 108 650 lt st\n"
                  "gsave 96 746.4 translate 0 rotate 0 0 mt (0.2)" +
                  right + "np 100 750 mt 108 750 lt st\n");
}

TEST_F(PSplotTest, DegenerateRangesStayFiniteAndTerminate) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    {
        PSpage page(path("flat.ps"));
        // A flat curve: equal limits on y, one point on x.
        PSplot flat(page, 70, 290, 580, 790);
        flat.set_limits(3, 3, 50, 50);
        EXPECT_DOUBLE_EQ(flat.y_low(), 45);  // opened by a tenth of the value
        EXPECT_DOUBLE_EQ(flat.y_high(), 55);
        flat.draw_frame();
        flat.auto_scale_range(3, 3, 50, 50);
        flat.dot(3, 50, 5);
        flat.line_plot(vec({3, 3}), vec({50, 50}));

        // Zero and non-finite limits.
        PSplot zero(page, 370, 590, 580, 790);
        zero.set_limits(0, 0, nan, inf);
        EXPECT_DOUBLE_EQ(zero.x_low(), -1);
        EXPECT_DOUBLE_EQ(zero.x_high(), 1);
        zero.auto_scale();
        zero.dot(nan, 1, 5);  // left out
        zero.line_plot(vec({0, nan, 1}), vec({0, 1, inf}));

        // Steps that cannot advance or are not steps at all.
        PSplot odd(page, 70, 290, 320, 530);
        odd.set_limits(1e16, 1e16 + 4, 0, 1);
        odd.draw_scales(1, 1e-300, 0, -1, 2, 2, 1, 1);
        odd.draw_scales(nan, inf, nan, 0.5, 1, 1, 0, 0);
    }
    const std::string text = testutil::read_file(path("flat.ps"));
    EXPECT_TRUE(all_numbers_finite(text)) << text;
    // The NaN-bearing line keeps its one finite point, (0, 0) at the box centre; the
    // NaN dot is left out, so only the flat plot's dot is drawn.
    EXPECT_NE(text.find("np 480 685 mt\nst\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("zp\n"), text.rfind("zp\n"));
}
