// The timeline panel as a widget: a GUI context without a window, a fixed
// display and a scripted mouse over a private document. What only exists in
// the widgets: which press the ruler's row takes, the wheel's anchor, the
// move's dead zone, a stroke held through an undo, and refusals during an
// export.
#include <gtest/gtest.h>

#include <cmath>

#include "document/event.h"
#include "document/text_util.h"
#include "operations/undo.h"
#include "ui/event_context_menu.h"
#include "ui/event_menu_logic.h"
#include "ui/timeline_rig.h"

namespace {

// Events at 2, 10 and 20 s over a 30 s project at 25 frames a second.
struct PanelRig : TimelineRig {
    PanelRig() {
        project->totalDuration = 30;
        project->fps = 25;
        for (float t : {2.0f, 10.0f, 20.0f}) {
            Event e = MakeEvent(*project, t, kShapeFill, 0.5f);
            e.duration = 3;
            e.syncOffset = 0;
            FillCurve(e.weight, 0.2f);
            project->events.push_back(e);
        }
        Frame();  // the geometry of the first frame
    }
};

}  // namespace

TEST(TimelinePanel, ARulerPressNearAnEdgeDragsItAnyOtherSeeksAndStopsPlayback) {
    PanelRig rig;
    AppState& app = *rig.app;
    app.workAreaIn = 5;
    app.workAreaOut = 20;
    rig.project->scenes.resize(1);
    rig.project->scenes[0].inTime = 5;
    rig.project->scenes[0].outTime = 20;
    app.activeScene = 0;
    app.selectedEvents = {1};
    app.selectedEvent = 1;
    app.playing = true;
    rig.engine->playing = 1;
    app.currentTime = 3;
    rig.Frame();

    // Within 8 points of the in point: the edge follows, nothing else moves.
    rig.Press(rig.X(5) + 6, rig.RulerY());
    EXPECT_EQ(app.rulerDragMode, 1);
    rig.Move(rig.X(8.013f), rig.RulerY());
    EXPECT_FLOAT_EQ(app.workAreaIn, 8.0f) << "rounded to a frame";
    EXPECT_FLOAT_EQ(rig.project->scenes[0].inTime, 8.0f) << "the active scene follows";
    EXPECT_EQ(app.undoHistory.undo.size(), 1u) << "one undo step for the scene's edge";
    rig.Move(rig.X(25), rig.RulerY());
    EXPECT_FLOAT_EQ(app.workAreaIn, 20 - 0.01f);
    rig.Release();
    EXPECT_EQ(app.rulerDragMode, 0);
    EXPECT_EQ(app.undoHistory.undo.size(), 1u);
    EXPECT_EQ(app.selectedEvents, (std::set<int>{1}));
    EXPECT_TRUE(app.playing);
    EXPECT_EQ(app.currentTime, 3);

    // Anywhere else: the selection goes, playback stops, the playhead follows.
    rig.Press(rig.X(24), rig.RulerY());
    EXPECT_TRUE(app.selectedEvents.empty());
    EXPECT_EQ(app.selectedEvent, -1);
    EXPECT_FALSE(app.playing);
    EXPECT_EQ(rig.engine->playing.load(), 0);
    EXPECT_NEAR(app.currentTime, 24, 0.021f);
    EXPECT_FLOAT_EQ(app.currentTime * 25, std::round(app.currentTime * 25)) << "on a frame";
    rig.Move(rig.X(26.4f), rig.RulerY());
    EXPECT_NEAR(app.currentTime, 26.4f, 0.041f);
    EXPECT_FLOAT_EQ(app.currentTime * 25, std::round(app.currentTime * 25));
    EXPECT_NEAR(double(rig.engine->position.load()), double(app.currentTime) * 48000, 1.0)
        << "playback follows the scrub";
    rig.Move(rig.X(40), rig.RulerY());
    EXPECT_FLOAT_EQ(app.currentTime, 30) << "clamped to the project";
    rig.Release();
    rig.Move(rig.X(12), rig.RulerY());
    EXPECT_FLOAT_EQ(app.currentTime, 30) << "only while held";
    EXPECT_FLOAT_EQ(app.workAreaIn, 20 - 0.01f);
    EXPECT_EQ(app.undoHistory.undo.size(), 1u);
}

TEST(TimelinePanel, TheWheelZoomsAroundTheTimeUnderTheMouseAndTheMiddleButtonPans) {
    PanelRig rig;
    AppState& app = *rig.app;
    const float y = rig.WeightLaneY(0.5f);
    const float x = rig.X(11.3f);
    rig.Move(x, y);
    const float anchor = UnmapRange(rig.View(), x);
    rig.Wheel(1);
    EXPECT_FLOAT_EQ(app.viewDuration, 30 * 0.85f);
    EXPECT_NEAR(UnmapRange(rig.View(), x), anchor, 1e-4f) << "the time under the mouse stays";
    rig.Wheel(1);
    rig.Wheel(-1);
    EXPECT_NEAR(app.viewDuration, 30 * 0.85f * 0.85f * 1.18f, 1e-3f);
    EXPECT_NEAR(UnmapRange(rig.View(), x), anchor, 1e-4f);
    rig.Move(x, rig.RulerY());
    const float before = app.viewDuration;
    rig.Wheel(1);
    EXPECT_EQ(app.viewDuration, before) << "the wheel zooms over the lanes only";

    // Middle-drag: the time under the mouse moves with it.
    app.viewStart = 5;
    app.viewDuration = 10;
    rig.Move(x, y);
    const float grabbed = UnmapRange(rig.View(), x);
    rig.gui.SetButton(2, true);
    rig.Frame();
    rig.Move(x + 100, y);
    rig.Move(x + 150, y);
    rig.gui.SetButton(2, false);
    rig.Frame();
    EXPECT_NEAR(UnmapRange(rig.View(), x + 150), grabbed, 1e-3f);
}

TEST(TimelinePanel, APressSelectsADragPastThreePointsMovesByWholeFrames) {
    PanelRig rig;
    AppState& app = *rig.app;
    Project& project = *rig.project;
    const float y = rig.EventLaneY();

    // Unselected: the press selects and nothing moves.
    rig.Press(rig.X(10), y);
    rig.Move(rig.X(10) + 40, y);
    rig.Release();
    EXPECT_EQ(app.selectedEvents, (std::set<int>{1}));
    EXPECT_EQ(project.events[1].time, 10);
    EXPECT_TRUE(app.undoHistory.undo.empty());

    // Selected, dragged less than 3 points: the undo step exists, nothing moved.
    rig.Press(rig.X(10), y);
    rig.Move(rig.X(10) + 2.5f, y);
    rig.Release();
    EXPECT_EQ(project.events[1].time, 10);
    EXPECT_EQ(app.undoHistory.undo.size(), 1u);

    // Past the dead zone: by the frames dragged, the playhead along.
    const float pps = rig.View().width / app.viewDuration;
    const float grab = rig.X(10);
    rig.Press(grab, y);
    rig.Move(grab + 61, y);
    const float frames = std::round(61 / pps * 25);
    EXPECT_FLOAT_EQ(project.events[1].time, 10 + frames / 25);
    EXPECT_EQ(app.currentTime, project.events[1].time);
    rig.Move(grab - 30 * pps, y);
    EXPECT_EQ(project.events[1].time, 0) << "stopped at 0 s";
    rig.Release();
    EXPECT_EQ(app.undoHistory.undo.size(), 2u) << "one step per move";
    EXPECT_FALSE(app.movingSelection);

    // During an export the press selects but nothing moves or resizes.
    app.exportRunning = true;
    rig.Press(rig.X(20), y);
    rig.Release();
    rig.Press(rig.X(20), y);
    rig.Move(rig.X(24), y);
    rig.Release();
    EXPECT_EQ(project.events[2].time, 20);
    rig.Press(rig.X(23), y);  // the selected event's end
    rig.Move(rig.X(27), y);
    rig.Release();
    EXPECT_EQ(project.events[2].duration, 3);
    EXPECT_EQ(app.undoHistory.undo.size(), 2u);
    app.exportRunning = false;
}

TEST(TimelinePanel, TheEndEdgeResizesAndAnEmptyPressDrawsABox) {
    PanelRig rig;
    AppState& app = *rig.app;
    const float y = rig.EventLaneY();
    rig.Click(rig.X(20), y);
    rig.Press(rig.X(23) + 4, y);
    EXPECT_EQ(app.resizingEvent, 2);
    rig.Move(rig.X(26.02f), y);
    EXPECT_FLOAT_EQ(rig.project->events[2].duration, 6);
    EXPECT_FLOAT_EQ(app.currentTime, 26) << "the playhead shows the new end";
    rig.Release();
    EXPECT_EQ(app.resizingEvent, -1);
    EXPECT_EQ(app.undoHistory.undo.size(), 1u);

    rig.Press(rig.X(6), y);
    EXPECT_TRUE(app.boxSelecting);
    rig.Move(rig.X(14), y);
    rig.Release();
    EXPECT_EQ(app.selectedEvents, (std::set<int>{1}));
    rig.Press(rig.X(6), y);
    rig.Move(rig.X(6) + 4, y);
    rig.Release();
    EXPECT_TRUE(app.selectedEvents.empty()) << "a box of 5 points or less clears";
}

TEST(TimelinePanel, ADrawModeStrokeIsOneUndoStepAndUndoDuringItIsClean) {
    PanelRig rig;
    AppState& app = *rig.app;
    Project& project = *rig.project;
    rig.Click(rig.X(10), rig.EventLaneY());
    ASSERT_TRUE(SetCurveDrawMode(app, project, true));
    rig.Frame();
    rig.Press(rig.X(11), rig.WeightLaneY(0.8f));
    rig.Move(rig.X(11.5f), rig.WeightLaneY(0.8f));
    rig.Release();
    EXPECT_NEAR(SampleCurve256(project.events[1].weight, 0.4f), 0.8f, 0.1f) << "raised under the stroke";
    EXPECT_NEAR(SampleCurve256(project.events[1].weight, 0.95f), 0.2f, 1e-4f) << "untouched away from it";
    EXPECT_EQ(app.undoHistory.undo.size(), 1u);
    EXPECT_FALSE(app.curvePainting);

    // Alt held, Ctrl+Z while the stroke is held: the stroke stops writing
    // into the document the undo put in place.
    rig.Modifiers(false, false, true);
    rig.Press(rig.X(11), rig.WeightLaneY(0.9f));
    rig.Move(rig.X(11.2f), rig.WeightLaneY(0.9f));
    ASSERT_EQ(app.undoHistory.undo.size(), 2u);
    ASSERT_TRUE(RunUndoCommand(rig.Context(), false));
    const Curve256 undone = project.events[1].weight;
    app.selectedEvents = {1};
    for (float t : {11.4f, 11.8f, 12.2f}) rig.Move(rig.X(t), rig.WeightLaneY(0.95f));
    rig.Release();
    rig.Modifiers(false, false, false);
    EXPECT_EQ(project.events[1].weight, undone);
    EXPECT_FALSE(app.curvePainting);

    // Without Alt or draw mode a click in a lane selects the lowest event there.
    app.selectedEvents.clear();
    rig.Frame();
    EXPECT_FALSE(app.curveDrawMode) << "no event selected: draw mode has ended";
    rig.Click(rig.X(2.5f), rig.WeightLaneY(0.5f));
    EXPECT_EQ(app.selectedEvents, (std::set<int>{0}));
}

TEST(TimelinePanel, ATimeAreaUnderAPointDrawsAndTakesNothing) {
    PanelRig rig;
    rig.gui.width = 70;  // the label column takes it all
    rig.layout = ComputeUILayout(70, 720, 13, false, {});
    rig.Move(60, rig.layout.titleBarHeight + rig.layout.videoHeight + rig.layout.transportHeight + 60);
    rig.Wheel(1);
    rig.Click(60, rig.layout.titleBarHeight + rig.layout.videoHeight + rig.layout.transportHeight + 10);
    EXPECT_FALSE(gTimelineGeometry.drawn);
    EXPECT_EQ(rig.app->viewDuration, 30);
    EXPECT_EQ(rig.app->viewStart, 0);
    EXPECT_EQ(rig.app->currentTime, 0);
}

TEST(TimelinePanel, DeletingTheSelectionIsOneStepAndRenumbersTheLayers) {
    PanelRig rig;
    Project& project = *rig.project;
    for (int e = 0; e < 3; ++e) {
        RenderResult r;
        r.eventIdx = e;
        r.startTime = project.events[size_t(e)].time;
        project.results.push_back(r);
    }
    rig.app->selectedEvents = {0, 1};
    rig.app->selectedEvent = 1;
    ASSERT_TRUE(DeleteSelectedEvents(rig.Context()));
    ASSERT_EQ(project.events.size(), 1u);
    EXPECT_EQ(project.events[0].time, 20);
    ASSERT_EQ(project.results.size(), 1u);
    EXPECT_EQ(project.results[0].eventIdx, 0);
    EXPECT_TRUE(rig.app->selectedEvents.empty());
    EXPECT_EQ(rig.app->selectedEvent, -1);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_FALSE(DeleteSelectedEvents(rig.Context())) << "nothing selected";
}
