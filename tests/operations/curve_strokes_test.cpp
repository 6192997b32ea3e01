// Painting an event's curve: the timeline lane's stroke and the curve
// editor's, each one undo step, its event kept by index, and no writing once
// the document changed under it.
#include <gtest/gtest.h>

#include <cmath>

#include "document/document_rig.h"
#include "operations/curve_strokes.h"
#include "operations/undo.h"

namespace {

// The lane shows 100 points a second.
constexpr float kPointsPerSecond = 100;

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
    // One frame of a stroke at time t, value v.
    bool PaintAt(float t, float v) { return PaintCurveStroke(Context(), t, v, kPointsPerSecond); }
};

}  // namespace

TEST(CurveStroke, OneUndoStepPaintsTheSelectedEventUnderThePointerAndSmoothsOnRelease) {
    StrokeRig rig;
    AppState& app = *rig.app;
    BeginCurveStroke(app, kCurveLaneWeight);
    EXPECT_FALSE(rig.PaintAt(8, 0.9f)) << "no selected event under the pointer";
    EXPECT_FALSE(PaintCurveStroke(rig.Context(), 3, 0.9f, 0.4f)) << "an event under 2 points wide";
    EXPECT_TRUE(app.undoHistory.undo.empty()) << "nothing painted, no undo step";
    EXPECT_FALSE(app.modified);
    EXPECT_TRUE(rig.PaintAt(3, 0.9f));
    EXPECT_EQ(app.paintEvent, 2) << "the Clip and the Bed are passed over";
    EXPECT_EQ(app.undoHistory.undo.size(), 1u);
    EXPECT_FALSE(rig.project->events[2].locked) << "painting unlocks it";
    EXPECT_TRUE(app.modified);
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

TEST(InspectorCurveStroke, ReleaseSmoothsOnlyTheTouchedStretchAndOffsetsOnlyChangeTheDisplay) {
    DocRig rig;
    const DocumentContext ctx = rig.Context();
    const int e = AddEvent(*rig.project, 2, kShapeBloom, 0.5f);
    Event& ev = rig.project->events[0];
    ev.weightOffset = 0.3f;
    ev.locked = true;
    for (int i = 0; i < 256; ++i) ev.weight[size_t(i)] = (i % 2) ? 0.2f : 0.4f;  // rough: smoothing shows
    const Curve256 before = ev.weight;
    ASSERT_TRUE(PaintInspectorCurveStroke(ctx, e, kCurveLaneWeight, 0.5f, 0.9f));
    ASSERT_TRUE(PaintInspectorCurveStroke(ctx, e, kCurveLaneWeight, 0.52f, 0.9f));
    EXPECT_TRUE(rig.app->modified);
    // The painted height is stored as is, whatever the offset shows.
    EXPECT_FLOAT_EQ(rig.project->events[0].weight[128], 0.9f);
    const int lo = rig.app->paintMinIndex, hi = rig.app->paintMaxIndex;
    EndInspectorCurveStroke(ctx, e, kCurveLaneIntensity);  // another curve's end leaves it running
    EXPECT_TRUE(rig.app->curvePainting);
    EndInspectorCurveStroke(ctx, e, kCurveLaneWeight);
    EXPECT_FALSE(rig.app->curvePainting);
    const Curve256& after = rig.project->events[0].weight;
    for (int i = 0; i < 256; ++i) {
        if (i >= lo && i <= hi) continue;
        EXPECT_EQ(after[size_t(i)], before[size_t(i)]) << i;
    }
    EXPECT_NE(after[size_t(lo)], before[size_t(lo)]);  // smoothed at the stretch's edge
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_FALSE(rig.project->events[0].locked);
}

TEST(InspectorCurveStroke, AnUndoOrARefusalEndsItWithoutWritingUntilItsRelease) {
    DocRig rig;
    const DocumentContext ctx = rig.Context();
    const int e = AddEvent(*rig.project, 2, kShapeBloom, 0.5f);
    ASSERT_TRUE(PaintInspectorCurveStroke(ctx, e, kCurveLaneIntensity, 0.25f, 1.0f));
    ASSERT_TRUE(Undo(ctx));  // the document the stroke began on is gone
    const Curve256 restored = rig.project->events[0].intensity;
    EXPECT_FALSE(PaintInspectorCurveStroke(ctx, e, kCurveLaneIntensity, 0.75f, 1.0f));
    EXPECT_FALSE(PaintInspectorCurveStroke(ctx, e, kCurveLaneIntensity, 0.8f, 1.0f)) << "still the dead stroke";
    EndInspectorCurveStroke(ctx, e, kCurveLaneIntensity);
    EXPECT_EQ(rig.project->events[0].intensity, restored);
    EXPECT_FALSE(rig.app->curvePainting);

    // While an export runs the stroke is refused once and stays refused, with
    // no undo step, until its release; the next press may paint again.
    const size_t steps = rig.app->undoHistory.undo.size();
    rig.app->exportRunning = true;
    EXPECT_FALSE(PaintInspectorCurveStroke(ctx, e, kCurveLaneWeight, 0.5f, 1.0f));
    rig.app->exportRunning = false;
    EXPECT_FALSE(PaintInspectorCurveStroke(ctx, e, kCurveLaneWeight, 0.5f, 1.0f));
    EXPECT_EQ(rig.app->undoHistory.undo.size(), steps);
    EndInspectorCurveStroke(ctx, e, kCurveLaneWeight);
    EXPECT_FALSE(rig.app->curvePainting);
    EXPECT_TRUE(PaintInspectorCurveStroke(ctx, e, kCurveLaneWeight, 0.5f, 1.0f));
}
