// Events, shapes and curves: creation defaults, generators and sampling.
#include <gtest/gtest.h>

#include <cmath>

#include "document/event.h"
#include "document/project.h"

TEST(AddEvent, EveryShapeTakesItsRowOfDefaults) {
    struct Row { int shape; float duration, spread; int mode; float sync; bool stereo; };
    const Row rows[] = {
        {kShapeSpot, 1.5f, 0.0f, 0, 0.0f, true},  {kShapeBloom, 4.0f, 0.3f, 0, 2.0f, true},
        {kShapeContour, 4.0f, 0.3f, 2, 0.0f, true}, {kShapeFill, 8.0f, 0.1f, 2, 0.0f, true},
        {kShapeScatter, 4.0f, 0.5f, 0, 0.0f, true}, {kShapeClip, 2.0f, 0.0f, 0, 0.0f, true},
        {kShapeBed, 8.0f, 0.0f, 2, 0.0f, true},
    };
    Project project;
    project.groups[1].stereo = false;  // Spot, Scatter and Clip follow group 1
    for (const Row& row : rows) {
        int i = AddEvent(project, 3.0f, row.shape, 0.4f);
        ASSERT_EQ(i, static_cast<int>(project.events.size()) - 1);
        const Event& e = project.events[i];
        EXPECT_FLOAT_EQ(e.duration, row.duration) << row.shape;
        EXPECT_FLOAT_EQ(e.spread, row.spread) << row.shape;
        EXPECT_EQ(e.intensityMode, row.mode) << row.shape;
        EXPECT_FLOAT_EQ(e.syncOffset, row.sync) << row.shape;
        bool groupOneShape = row.shape == kShapeSpot || row.shape == kShapeScatter || row.shape == kShapeClip;
        EXPECT_EQ(e.stereo, !groupOneShape) << row.shape;
        EXPECT_EQ(e.userShapeIdx, -1);
        EXPECT_FLOAT_EQ(e.time, 3.0f);
    }
}

TEST(AddEvent, OutOfRangeShapeUsesSpotRow) {
    Project project;
    int i = AddEvent(project, 0.0f, 42, 0.3f);
    EXPECT_FLOAT_EQ(project.events[i].duration, 1.5f);
    EXPECT_FLOAT_EQ(project.events[i].weight[100], 0.3f);
    EXPECT_FLOAT_EQ(project.events[i].intensity[100], 0.5f);
}

TEST(AddEvent, BloomIntensityPeaksAtTheSyncPoint) {
    Project project;
    const Event& e = project.events[AddEvent(project, 1.0f, kShapeBloom, 0.5f)];
    EXPECT_FLOAT_EQ(e.syncOffset, 2.0f);
    EXPECT_NEAR(e.intensity[0], 0.0f, 1e-6f);
    EXPECT_NEAR(e.intensity[255], 0.0f, 1e-6f);
    int best = 0;
    for (int i = 1; i < 256; ++i)
        if (e.intensity[i] > e.intensity[best]) best = i;
    EXPECT_TRUE(best == 127 || best == 128) << best;
}

TEST(AddEvent, ScatterCurvesAreSparseAndReproducible) {
    Project project;
    Event e = project.events[AddEvent(project, 0.0f, kShapeScatter, 0.9f)];
    const float lo = 0.9f - 0.2f * 0.5f;  // 0.8 as the generator computes it in single precision
    for (float v : e.weight) EXPECT_TRUE(v == lo || (v > lo && v <= 1.0f)) << v;
    Project again;
    Event f = again.events[AddEvent(again, 0.0f, kShapeScatter, 0.9f)];
    EXPECT_EQ(e.weight, f.weight);
    EXPECT_EQ(e.intensity, f.intensity);
    Curve256 c137;
    FillRandomSparseCurve(c137, 0.15f, 0.8f, 137);
    EXPECT_EQ(e.intensity, c137);
}

TEST(Curves, CosinePeaksAndFlatSparse) {
    Curve256 c;
    FillCosineCurve(c, 0.0f, 0.0f, 1.0f);
    EXPECT_NEAR(c[0], 1.0f, 1e-6f);
    EXPECT_NEAR(c[255], 0.0f, 1e-6f);
    for (int i = 1; i < 256; ++i) EXPECT_LE(c[i], c[i - 1]);
    FillCosineCurve(c, 1.0f, 0.0f, 1.0f);
    EXPECT_NEAR(c[0], 0.0f, 1e-6f);
    EXPECT_NEAR(c[255], 1.0f, 1e-6f);
    for (int i = 1; i < 256; ++i) EXPECT_GE(c[i], c[i - 1]);
    FillCosineCurve(c, 0.5f, 0.0f, 1.0f);
    EXPECT_NEAR(c[0], 0.0f, 1e-6f);
    EXPECT_NEAR(c[255], 0.0f, 1e-6f);
    FillRandomSparseCurve(c, 0.3f, 0.3f, 99);
    for (float v : c) EXPECT_FLOAT_EQ(v, 0.3f);
}

TEST(Curves, SmoothingRangeIsClippedAndEmptyRangesDoNothing) {
    Curve256 c;
    FillCurve(c, 0.0f);
    for (int i = 128; i < 256; ++i) c[i] = 1.0f;
    Curve256 before = c;
    SmoothCurveRange(c, 10, 5);
    EXPECT_EQ(c, before);
    SmoothCurveRange(c, 120, 1000);
    EXPECT_EQ(c[100], before[100]);        // outside the range
    EXPECT_GT(c[127], 0.0f);               // the step is softened from below
    EXPECT_LT(c[128], 1.0f);               // and from above
    EXPECT_NEAR(c[255], 1.0f, 1e-6f);      // clamped neighbours keep the flat end flat
}

TEST(Curves, SamplingClampsAndInterpolates) {
    Curve256 c;
    for (int i = 0; i < 256; ++i) c[i] = static_cast<float>(i);
    EXPECT_FLOAT_EQ(SampleCurve256(c, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(SampleCurve256(c, 1.0f), 255.0f);
    EXPECT_FLOAT_EQ(SampleCurve256(c, 2.0f), 255.0f);
    EXPECT_FLOAT_EQ(SampleCurve256(c, -1.0f), 0.0f);
    EXPECT_FLOAT_EQ(SampleCurve256(c, std::nanf("")), 0.0f);
    EXPECT_NEAR(SampleCurve256(c, 0.5f), 127.5f, 1e-3f);
}

TEST(MixGroups, OverridesAndFirstTracks) {
    Event e;
    e.shape = kShapeFill;
    e.groupOverride = 2;
    EXPECT_EQ(EventMixGroup(e), 0);
    e.shape = kShapeSpot;
    EXPECT_EQ(EventMixGroup(e), 2);
    e.groupOverride = 0;
    EXPECT_EQ(EventMixGroup(e), 1);
    e.shape = kShapeBed;
    e.groupOverride = -1;
    EXPECT_EQ(EventMixGroup(e), 0);

    Project p;
    p.groups[1].usedTracks = 3;
    p.groups[2].usedTracks = 0;
    EXPECT_EQ(GroupFirstTrack(p.groups, 1), 0);
    EXPECT_EQ(GroupFirstTrack(p.groups, 2), 8);
    EXPECT_EQ(GroupFirstTrack(p.groups, 0), 8);
    p.groups[2].usedTracks = 12;
    EXPECT_EQ(GroupFirstTrack(p.groups, 0), 20);
}
