// calibration.csv and the table at the end of standard output, against texts written by
// hand: three points on the line E = 100 + 59 x (x = log10 of c in mol/L, c = 1, 10, 100
// mol/m³: x = -3, -2, -1; E = -77, -18, 41 mV) and a fourth, failed point without a
// potential. The line through the three is exact: slope 59, standard error 0.
#include "output/calibration_report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

CalibrationAnalysis three_on_a_line() {
    return analyse_calibration({{1, 1, -77.0, 0.5, true},
                                {2, 10, -18.0, -0.25, true},
                                {3, 100, 41.0, std::nullopt, true},
                                {4, 1000, std::nullopt, std::nullopt, false}},
                               std::nullopt);
}

TEST(CalibrationReport, CsvTable) {
    EXPECT_EQ(analysis_csv(three_on_a_line()),
              "point,concentration [mol/m3],concentration [mol/L],final potential [mV],"
              "drift [mV/s],fit\n"
              "1,1,0.001,-77,0.5,linear\n"
              "2,10,0.01,-18,-0.25,linear\n"
              "3,100,0.1,41,,linear\n"
              "4,1000,1,,,\n");
}

TEST(CalibrationReport, StandardOutputTable) {
    EXPECT_EQ(analysis_text(three_on_a_line()),
              "\nCalibration analysis (the changed ion in the sample):\n"
              "point   c [mol/L]      E [mV]   drift [mV/s]  fit\n"
              "    1   1.000e-03      -77.00       5.00e-01  linear\n"
              "    2   1.000e-02      -18.00      -2.50e-01  linear\n"
              "    3   1.000e-01       41.00              -  linear\n"
              "    4   1.000e+00           -              -\n"
              "Slope 59.00 +/- 0.00 mV/decade over points 1, 2, 3 (found automatically: "
              "residuals within 1 mV); detection limit not found: no point lies below the "
              "linear range.\n");
}

}  // namespace
