// The steps of the calibration loop that belong to the driver: collecting a point's
// results and undoing its concentration change.
#include "driver/calibration_loop.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// One layer, components +1, -1 and +2; the opposite ion is component 2.
void fill_three_ions(model& md) {
    md.n = 1;
    md.R = 3;
    md.layer = 1;
    md.cM.init(&md.layer, 1, 3);
    md.z[1] = 1;
    md.z[2] = -1;
    md.z[3] = 2;
    md.changedIon = 1;
    md.oppositeIon = 2;
    md.cL[1] = 10, md.cL[3] = 1, md.cL[2] = 12;
    md.cR[1] = 20, md.cR[3] = 2, md.cR[2] = 24;
    md.cM.item(1) = 5, md.cM.item(3) = 0, md.cM.item(2) = 5;
}

}  // namespace

TEST(EndOfPoint, DividesTheMultiplierOutAtEveryTargetAndRestoresElectroneutrality) {
    model md;
    RunSeries series;
    fill_three_ions(md);
    md.nTargets = 2;
    md.targets = {0, 2};  // both solutions
    md.multipliers = {1.0, 10};
    md.point = 1;
    // The state at the end of the point: the changed ion ten times the input value.
    md.cL[1] = 100;
    md.cR[1] = 200;
    md.eisRun = 1;
    series.potSeries.append(1);
    series.timeSeries.append(1);
    series.tcalcSeries.append(1);
    end_point(md, series);
    EXPECT_EQ(md.cL[1], 10);
    EXPECT_EQ(md.cR[1], 20);
    EXPECT_EQ(md.cL[2], 10 + 2 * 1);  // -(z1 c1 + z3 c3) / z2
    EXPECT_EQ(md.cR[2], 20 + 2 * 2);
    EXPECT_EQ(md.cM.item(1), 5);  // the layer was no target
    EXPECT_EQ(series.potSeries.size(), 0);
    EXPECT_EQ(series.timeSeries.size(), 0);
    EXPECT_EQ(series.tcalcSeries.size(), 0);
    EXPECT_EQ(md.eisRun, 0);
}

TEST(EndOfPoint, LayerTargetChangesThatLayersConcentrations) {
    model md;
    RunSeries series;
    fill_three_ions(md);
    md.nTargets = 1;
    md.targets = {1};
    md.multipliers = {1.0, 0.5};
    md.point = 1;
    md.cM.item(1) = 2.5;
    end_point(md, series);
    EXPECT_EQ(md.cM.item(1), 5);
    EXPECT_EQ(md.cM.item(2), 5);
    EXPECT_EQ(md.cL[1], 10);
}

namespace {

void expect_nothing_collected(const RunSeries& series) {
    EXPECT_EQ(series.calPot.size(), 0);
    EXPECT_EQ(series.calMult.size(), 0);
    EXPECT_EQ(series.calTcalc.size(), 0);
    EXPECT_EQ(series.calLogMult.size(), 0);
    EXPECT_EQ(series.allPot.size(), 0);
    EXPECT_EQ(series.allTime.size(), 0);
}

}  // namespace

TEST(CollectPoint, SinglePointCollectsNothing) {
    model md;
    RunSeries series;
    md.nCalib = 1;
    md.point = 1;
    md.multipliers = {1.0, 10};
    series.potSeries.append(5);
    series.timeSeries.append(1);
    EXPECT_TRUE(collect_point_results(md, series));
    expect_nothing_collected(series);
}

TEST(CollectPoint, AppendsEndPotentialAndShiftsTimesOntoOneAxis) {
    model md;
    RunSeries series;
    md.nCalib = 3;
    md.point = 2;
    md.multipliers = {1.0, 10, 100};
    md.tEnd = 5;  // scaled; tEnd * tc = 10 s per point
    md.tc = 2;
    md.t_calc = 7;
    for (double t : {1.0, 4.0, 10.0}) {
        series.timeSeries.append(t);
        series.potSeries.append(t * 3);
    }
    EXPECT_TRUE(collect_point_results(md, series));
    ASSERT_EQ(series.calPot.size(), 1);
    EXPECT_EQ(series.calPot[0], 30);
    EXPECT_EQ(series.calMult[0], 100);
    EXPECT_EQ(series.calLogMult[0], 2);
    EXPECT_EQ(series.calTcalc[0], 7);
    ASSERT_EQ(series.allTime.size(), 3);
    EXPECT_EQ(series.allTime[0], 11);
    EXPECT_EQ(series.allTime[2], 20);
    EXPECT_EQ(series.allPot[1], 12);
}

TEST(CollectPoint, RunWithoutStepsRecordsNothing) {
    model md;
    RunSeries series;
    md.nCalib = 2;
    md.point = 1;
    md.multipliers = {1.0, 10, 100};
    EXPECT_FALSE(collect_point_results(md, series));
    expect_nothing_collected(series);
}
