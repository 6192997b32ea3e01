// The curve lanes' sampling and the painting stroke: one undo step, its
// event kept by index, and no writing once the document changed under it.
#include <gtest/gtest.h>

#include <cmath>

#include "document/document_rig.h"
#include "operations/undo.h"
#include "ui/curve_lane_logic.h"

namespace {

// 1000 points across 0 .. 10 s.
const TimelineView kView{0, 1000, 0, 10};

// Three events selected: a Clip, a Bed and a Contour over 2 .. 6 s.
struct StrokeRig : DocRig {
    StrokeRig() {
        for (int shape : {kShapeClip, kShapeBed, kShapeContour}) {
            Event e = MakeEvent(*project, 2, shape, 0.5f);
            e.duration = 4;
            e.syncOffset = 0;
            e.locked = true;
            FillCurve(e.weight, 0.1f);
            project->events.push_back(e);
        }
        app->selectedEvents = {0, 1, 2};
    }
    // One frame of a stroke at time t, value v, in the weight lane (0 .. 100 high).
    bool PaintAt(float t, float v) {
        return PaintCurveStroke(Context(), kView, MapRange(kView, t), 100 * (1 - v), t, 0, 100);
    }
};

}  // namespace

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

TEST(CurveStroke, OneUndoStepPaintsTheSelectedEventUnderThePointerAndSmoothsOnRelease) {
    StrokeRig rig;
    AppState& app = *rig.app;
    BeginCurveStroke(app, kCurveLaneWeight);
    EXPECT_FALSE(rig.PaintAt(8, 0.9f)) << "no selected event under the pointer";
    EXPECT_TRUE(app.undoHistory.undo.empty()) << "nothing painted, no undo step";
    EXPECT_TRUE(rig.PaintAt(3, 0.9f));
    EXPECT_EQ(app.paintEvent, 2) << "the Clip and the Bed are passed over";
    EXPECT_EQ(app.undoHistory.undo.size(), 1u);
    EXPECT_FALSE(rig.project->events[2].locked) << "painting unlocks it";
    for (float t : {3.2f, 3.6f, 4.0f, 7.5f}) EXPECT_TRUE(rig.PaintAt(t, 0.9f));
    EXPECT_EQ(app.undoHistory.undo.size(), 1u) << "one step for the whole stroke";
    EXPECT_NEAR(rig.project->events[2].weight[255], 0.9f, 1e-5f)
        << "past the span's end the stroke paints the event's end";
    EXPECT_EQ(rig.project->events[0].weight[100], 0.1f);
    EXPECT_EQ(rig.project->events[1].weight[100], 0.1f);

    const Curve256 painted = rig.project->events[2].weight;
    const int lo = app.paintMinIndex, hi = app.paintMaxIndex;
    EndCurveStroke(rig.Context());
    const Curve256& smoothed = rig.project->events[2].weight;
    EXPECT_NE(smoothed, painted) << "smoothed on release";
    for (int i = 0; i < lo; ++i) EXPECT_EQ(smoothed[size_t(i)], painted[size_t(i)]) << "outside the range: " << i;
    EXPECT_FALSE(app.curvePainting);
    EXPECT_LT(lo, hi);
}

TEST(CurveStroke, NothingUnderThePointerOrAClipOrABedWritesAndSmoothsNothing) {
    StrokeRig rig;
    rig.app->selectedEvents = {0, 1};  // the Clip and the Bed only
    const Project before = *rig.project;
    BeginCurveStroke(*rig.app, kCurveLaneIntensity);
    EXPECT_FALSE(rig.PaintAt(3, 0.2f));
    EXPECT_FALSE(rig.PaintAt(9, 0.2f));
    EndCurveStroke(rig.Context());
    for (size_t i = 0; i < before.events.size(); ++i) {
        EXPECT_EQ(rig.project->events[i].intensity, before.events[i].intensity);
        EXPECT_EQ(rig.project->events[i].weight, before.events[i].weight);
    }
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());
}

TEST(CurveStroke, AnUndoOrADeletionDuringTheStrokeEndsItWithoutWriting) {
    StrokeRig rig;
    AppState& app = *rig.app;
    BeginCurveStroke(app, kCurveLaneWeight);
    ASSERT_TRUE(rig.PaintAt(3, 0.9f));
    // Ctrl+Z while the button is still held: the event list is replaced.
    ASSERT_TRUE(RunUndoCommand(rig.Context(), false));
    const std::vector<Event> restored = rig.project->events;
    app.selectedEvents = {0, 1, 2};  // even with the selection back
    EXPECT_FALSE(rig.PaintAt(4, 0.9f));
    EXPECT_TRUE(app.paintAbandoned);
    EXPECT_FALSE(rig.PaintAt(5, 0.9f));
    EndCurveStroke(rig.Context());
    for (size_t i = 0; i < restored.size(); ++i) EXPECT_EQ(rig.project->events[i].weight, restored[i].weight);
    EXPECT_NEAR(rig.project->events[2].weight[100], 0.1f, 1e-6f) << "the undo took the first dab away";

    // A deletion during the stroke: the index would now name another event.
    BeginCurveStroke(app, kCurveLaneWeight);
    app.selectedEvents = {2};
    ASSERT_TRUE(rig.PaintAt(3, 0.9f));
    rig.project->events.erase(rig.project->events.begin());
    EXPECT_FALSE(rig.PaintAt(4, 0.9f));
    EndCurveStroke(rig.Context());
    EXPECT_FALSE(app.curvePainting);

    // While an export runs no stroke begins.
    rig.app->exportRunning = true;
    app.selectedEvents = {1};
    rig.project->events[1].shape = kShapeFill;
    BeginCurveStroke(app, kCurveLaneWeight);
    EXPECT_FALSE(rig.PaintAt(3, 0.9f));
    EXPECT_TRUE(app.paintAbandoned);
    EndCurveStroke(rig.Context());
    EXPECT_NEAR(rig.project->events[1].weight[100], 0.1f, 1e-6f);
    rig.app->exportRunning = false;
}
