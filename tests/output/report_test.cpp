// Run report data.html: the HTML summary of the problem, written from the scaled record
// with every value converted back to input units by the scales. The expected pages below
// are written by hand from the report's layout; values are chosen so that the scaled
// numbers times the scales print exactly with six significant digits.
#include "output/report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;

void init_layers(model& md) {
    md.N.init(&md.layer, md.n);
    md.m.init(&md.layer, md.n);
    md.d.init(&md.layer, md.n);
    md.epsilon.init(&md.layer, md.n);
    md.D.init(&md.layer, md.n, md.R);
    md.cM.init(&md.layer, md.n, md.R);
}

// Two layers, a 1:1 salt, impedance method, automatic scaling. Scales: L = 2e-9 m,
// tc = 0.5 s, so rate constants print as scaled * 4e-9; cScale = 20.
void two_layer_problem(model& md, const fs::path& dir) {
    md.n = 2;
    md.R = 2;
    init_layers(md);
    md.method = 1;
    md.nTargets = 2;
    md.targets = {0, 3};
    md.changedIon = 1;
    md.oppositeIon = 2;
    md.nCalib = 3;
    md.multipliers = {1.0, 10, 100, 1000};
    md.rescalingMethod = 1;
    md.gridDebyeMethod = 1;
    md.L = 2e-9;
    md.tc = 0.5;
    md.cScale = 20;
    md.eScale = 1.25e7;
    md.hDebye = 2e-9;
    md.T = 298.15;
    md.tEnd = 20;  // scaled: 10 s
    const int N[] = {10, 20}, m[] = {3, 4};
    const double d[] = {1e-6, 2e-6}, eps[] = {7.08e-10, 3.5e-10};
    const double D1[] = {1e-9, 1e-10}, D2[] = {2e-9, 5e-11}, cM1[] = {0.05, 0.25};
    for (int l = 1; l <= 2; ++l) {
        md.layer = l;
        md.N.set(N[l - 1]);
        md.m.set(m[l - 1]);
        md.d.set(d[l - 1]);
        md.epsilon.set(eps[l - 1]);
        md.D.item(1) = D1[l - 1];
        md.D.item(2) = D2[l - 1];
        md.cM.item(1) = cM1[l - 1];
        md.cM.item(2) = 0.3;
    }
    md.z[1] = 1;
    md.z[2] = -1;
    md.cL[1] = 5;
    md.cL[2] = 5;
    md.cR[1] = 0.5;
    md.cR[2] = 0.5;
    md.Kif[0][1] = 2.5e8;
    md.Kif[0][2] = 5e8;
    md.folders = {dir.string()};
}

TEST(RunReport, TwoLayerPageMatchesLayout) {
    const testutil::ScratchDir dir("report");
    model md;
    RunFiles files;
    two_layer_problem(md, dir.path());
    testing::internal::CaptureStdout();
    write_run_report(md, files);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "data.html file generated. \n");

    const std::string expected =
        "<html><head><title>Tavoline 2.0 data.html file</title></head><body>"
        "<h1>Tavoline 2.0</h1>"
        "<b>Electrochemical method: Electrochemical Impedance Spectroscopy</b><br> All "
        "calculations in this folder were performed for following data:<br><br>"
        "<b>The calibration curve was calculated for: </b><br>"
        "c<sub>iL</sub>, c<sub>iR</sub> of jon number 1 multiplied by following values:<br>\n"
        "10, 100, 1000. <br>"
        "The concentrations of jon number 2 were changed to provide electroneutrality.<br>"
        "Automatic rescalization. <br>"
        "<b>Rescalization constants equals:</b><br>L = 2e-09, <br>t<sub>c</sub> = 0.5, "
        "<br>c<sub>max</sub> = 20, <br>E<sub>max</sub> = 1.25e+07, "
        "<br><br><b>Grid description:</b><br>\n"
        "Grid debay was calculated by program.\n"
        "<br>Grid_Debye_Length equals: 2e-09 m"
        "<br><br><b>Number of layers = 2; </b><br>r = 2 (number of components); <br>"
        "T = 298.15  (absolute temperature);<br>"
        "t<sub>end</sub> = 10  (time of the process duration [s]);<br><br>"
        "<b>layer 1 :</b><br>N = 10 (number of points in discretization);<br>"
        "m = 3(number of points in Debye length);<br>d = 1e-06 (membrane thickness [m]);<br>"
        "epsilon = 7.08e-10 (dielectric constant);<br><br>"
        "<b>layer 2 :</b><br>N = 20 (number of points in discretization);<br>"
        "m = 4(number of points in Debye length);<br>d = 2e-06 (membrane thickness [m]);<br>"
        "epsilon = 3.5e-10 (dielectric constant);<br><br>"
        "<b>Other values: </b><br>"
        "<table border=\"3\"><tr align = \"center\"><td></td><td>z<sub>i</sub></td>"
        "<td>D<sub>i</sub>1</td><td>D<sub>i</sub>2</td><td>c<sub>iL</sub></td>"
        "<td>c<sub>iM</sub>1</td><td>c<sub>iM</sub>2</td><td>c<sub>iR</sub></td>"
        "<td>k<sub>if</sub>0</td><td>k<sub>ib</sub>0</td><td>k<sub>if</sub>1</td>"
        "<td>k<sub>ib</sub>1</td><td>k<sub>if</sub>2</td><td>k<sub>ib</sub>2</td>"
        "<tr align=\"center\"><td>Component 1 </td><td> 1 </td><td>1e-09 </td><td>1e-10 </td>"
        "<td>100</td><td>1</td><td>5</td><td>10</td>"
        "<td>1</td><td>0</td><td>0</td><td>0</td><td>0</td><td>0</td>"
        "<tr align=\"center\"><td>Component 2 </td><td> -1 </td><td>2e-09 </td><td>5e-11 </td>"
        "<td>*tpe</td><td>*tpe</td><td>*tpe</td><td>*tpe</td>"
        "<td>2</td><td>0</td><td>0</td><td>0</td><td>0</td><td>0</td>"
        "</table>*tpe = to provide electroneutrality</body></html>";
    EXPECT_EQ(testutil::read_file(dir.path() / "data.html"), expected);
}

// Chronopotentiometry has no method name; no rescaling writes no constants block; a single
// calibration point lists one multiplier; a layer target is named by its number.
TEST(RunReport, ChronopotentiometryUnscaledSinglePoint) {
    const testutil::ScratchDir dir("report");
    model md;
    RunFiles files;
    two_layer_problem(md, dir.path());
    md.method = 2;
    md.nTargets = 1;
    md.targets = {2};
    md.nCalib = 1;
    md.multipliers = {1.0, 0.5};
    md.rescalingMethod = 0;
    md.gridDebyeMethod = 3;
    testing::internal::CaptureStdout();
    write_run_report(md, files);
    testing::internal::GetCapturedStdout();

    const std::string page = testutil::read_file(dir.path() / "data.html");
    const std::string head =
        "<html><head><title>Tavoline 2.0 data.html file</title></head><body>"
        "<h1>Tavoline 2.0</h1>"
        "<b>Electrochemical method: </b><br> All calculations in this folder were performed "
        "for following data:<br><br>"
        "<b>The calibration curve was calculated for: </b><br>"
        "c<sub>iM</sub> of layer 2 of jon number 1 multiplied by following values:<br>\n"
        "0.5. <br>"
        "The concentrations of jon number 2 were changed to provide electroneutrality.<br>"
        "No rescalization used. <br>"
        "<br><br><b>Grid description:</b><br>\n"
        "Grid debay was provided manualy.\n"
        "<br>Grid_Debye_Length equals: 2e-09 m";
    EXPECT_EQ(page.substr(0, head.size()), head);
}

// A report that cannot be written is reported as such, not as generated.
TEST(RunReport, UnwritableFolderIsReported) {
    const testutil::ScratchDir dir("report");
    model md;
    RunFiles files;
    two_layer_problem(md, dir.path());
    md.folders = {"/nonexistent/tavoline/run"};
    testing::internal::CaptureStdout();
    write_run_report(md, files);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "File /nonexistent/tavoline/run/data.html cannot be opened. (No such file or "
              "directory)\n");
}

}  // namespace
