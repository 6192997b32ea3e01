// The curve painting brush: one dab, a run of dabs between two points, and
// the range it reports.
#include <gtest/gtest.h>

#include <cmath>

#include "document/curve.h"

TEST(CurvePaint, ASingleDabMovesTheThreeNeighboursEachSideBy89ths59thsAndNothing) {
    Curve256 curve;
    FillCurve(curve, 0.0f);
    int lo = 256, hi = -1;
    PaintCurveSegment(curve, 100.0f / 256.0f, 0.9f, -1, -1, lo, hi);
    EXPECT_FLOAT_EQ(curve[100], 0.9f) << "the centre takes the value";
    EXPECT_FLOAT_EQ(curve[99], 0.9f * 8 / 9);
    EXPECT_FLOAT_EQ(curve[101], 0.9f * 8 / 9);
    EXPECT_FLOAT_EQ(curve[98], 0.9f * 5 / 9);
    EXPECT_FLOAT_EQ(curve[102], 0.9f * 5 / 9);
    EXPECT_EQ(curve[97], 0.0f);
    EXPECT_EQ(curve[103], 0.0f);
    EXPECT_EQ(curve[96], 0.0f);
    EXPECT_EQ(lo, 97);
    EXPECT_EQ(hi, 103);
}

TEST(CurvePaint, AFastStrokeLeavesNoGapAndTheLastDabLandsOnThePointer) {
    Curve256 curve;
    FillCurve(curve, 0.0f);
    int lo = 256, hi = -1;
    PaintCurveSegment(curve, 0.0f, 0.5f, -1, -1, lo, hi);
    PaintCurveSegment(curve, 1.0f, 0.5f, 0.0f, 0.5f, lo, hi);  // the whole width in one frame: 512 dabs
    for (int i = 0; i < 256; ++i) ASSERT_NEAR(curve[size_t(i)], 0.5f, 1e-6f) << i;
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 255);

    // At x = 1 the dab's centre is index 256: only 253..255 are in reach.
    FillCurve(curve, 0.0f);
    lo = 256, hi = -1;
    PaintCurveSegment(curve, 1.0f, 1.0f, -1, -1, lo, hi);
    EXPECT_EQ(lo, 253);
    EXPECT_EQ(hi, 255);
    EXPECT_FLOAT_EQ(curve[255], 8.0f / 9);
    EXPECT_FLOAT_EQ(curve[254], 5.0f / 9);
    EXPECT_EQ(curve[252], 0.0f);

    // A slope between two points ends exactly on the second.
    FillCurve(curve, 0.0f);
    PaintCurveSegment(curve, 0.5f, 1.0f, 0.25f, 0.0f, lo, hi);
    EXPECT_FLOAT_EQ(curve[128], 1.0f);
    EXPECT_LT(curve[80], curve[110]);

    // Points that are not numbers paint nothing.
    Curve256 untouched = curve;
    PaintCurveSegment(curve, NAN, 0.5f, -1, -1, lo, hi);
    PaintCurveSegment(curve, 0.5f, INFINITY, -1, -1, lo, hi);
    EXPECT_EQ(curve, untouched);
}
