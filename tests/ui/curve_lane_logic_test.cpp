// The curve lanes' sampling, what a click takes and the painted value under
// the mouse.
#include <gtest/gtest.h>

#include <cmath>

#include "document/event.h"
#include "document/project.h"
#include "ui/curve_lane_logic.h"

TEST(CurveLane, ColumnsNeverNarrowerThanTwoPointsAndValuesClampedToTheLane) {
    EXPECT_FLOAT_EQ(CurveLaneStepsFor(0, 100).step, 2);
    EXPECT_EQ(CurveLaneStepsFor(0, 100).count, 50);
    EXPECT_FLOAT_EQ(CurveLaneStepsFor(0, 1200).step, 10);
    EXPECT_EQ(CurveLaneStepsFor(0, 1200).count, 120);
    EXPECT_EQ(CurveLaneStepsFor(0, 1).count, 0);
    for (float w : {7.0f, 359.0f, 361.0f, 5000.0f}) {
        const CurveLaneSteps s = CurveLaneStepsFor(10, 10 + w);
        EXPECT_GE(s.step, 2);
        EXPECT_LE(s.count, 180) << w;
    }
    EXPECT_EQ(CurveLaneStepsFor(5, 5).count, 0);

    Curve256 curve;
    for (int i = 0; i < 256; ++i) curve[size_t(i)] = float(i) / 255.0f;
    EXPECT_NEAR(CurveLaneValue(curve, 50, 0, 100, 1, 0), 0.5f, 1e-5f);
    EXPECT_EQ(CurveLaneValue(curve, 90, 0, 100, 1, 0.5f), 1.0f) << "above 1 draws at the top";
    EXPECT_EQ(CurveLaneValue(curve, 10, 0, 100, 1, -0.5f), 0.0f) << "below 0 at the bottom";
    EXPECT_NEAR(CurveLaneValue(curve, 100, 0, 100, 2, 0), 1.0f, 1e-5f);
    EXPECT_EQ(CurveLaneValue(curve, 5, 5, 5, 1, 0), 0.0f) << "an empty span reads its first point";
}

TEST(CurveLane, AClickTakesTheLowestIndexUnderItAndTheLaneTopPaintsOne) {
    Project project;
    std::vector<Event> events;
    for (float t : {4.0f, 2.0f}) {
        Event e = MakeEvent(project, t, kShapeSpot, 0.5f);
        e.duration = 3;
        e.syncOffset = 1;
        events.push_back(e);
    }
    EXPECT_EQ(LowestEventAt(events, 3.5f), 0) << "both hold it: the lower index";
    EXPECT_EQ(LowestEventAt(events, 1.0f), 1) << "the span starts before the sync point";
    EXPECT_EQ(LowestEventAt(events, 6.5f), -1);
    EXPECT_EQ(LaneStrokeValue(100, 100, 50), 1.0f);
    EXPECT_EQ(LaneStrokeValue(150, 100, 50), 0.0f);
    EXPECT_EQ(LaneStrokeValue(400, 100, 50), 0.0f) << "below the lane paints its bottom";
    EXPECT_LT(LaneStrokeValue(120, 100, 0), 0.0f) << "a lane without height paints nothing";
}
