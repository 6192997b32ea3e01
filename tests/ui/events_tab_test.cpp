// The events tab as a widget in a GUI context without a window: its three
// states, painting and dragging the curves, the sync marker (and the Fill
// and the Bed, which have none), the batch volume drag, the Bed drop
// highlight and zone, and the Clip card's reads (the editor's stroke on its
// own is an edit: operations/curve_strokes).
#include <gtest/gtest.h>

#include <imgui.h>

#include <memory>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/edit_steps.h"
#include "operations/event_settings.h"
#include "operations/undo.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/audio_fixtures.h"
#include "support/imgui_headless.h"
#include "support/temp_dir.h"
#include "ui/curve_editor.h"
#include "ui/curve_lane_logic.h"
#include "ui/drop_handover.h"
#include "ui/events_tab.h"
#include "ui/inspector_logic.h"

namespace {

struct TabRig {
    HeadlessGui gui{900, 900};
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    TabRig() {
        ResetEngineVoices(*engine, 48000, 0);
        project->totalDuration = 60;
        project->fps = 25;
    }
    DocumentContext Ctx() { return MakeDocumentContext(*project, *library, *engine, *app); }
    int Add(int shape, float time = 2) {
        project->events.push_back(MakeEvent(*project, time, shape, 0.5f));
        return int(project->events.size()) - 1;
    }
    void Select(std::initializer_list<int> events) {
        app->selectedEvents = events;
        app->selectedEvent = events.size() ? *events.begin() : -1;
    }
    void Frame() {
        gui.Frame();
        ClearDropZones(gDropZones);
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(gui.width, gui.height));
        ImGui::Begin("##main", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize);
        DrawEventsTabContent(Ctx(), nullptr, 440, 440);
        ImGui::End();
        gui.EndFrame();
    }
    void Frames(int n) {
        for (int i = 0; i < n; ++i) Frame();
    }
    ImVec2 Item(const char* id) {
        auto it = gInspectorReport.items.find(id);
        if (it == gInspectorReport.items.end()) {
            ADD_FAILURE() << "no item " << id;
            return ImVec2(-1, -1);
        }
        return ImVec2(it->second.first, it->second.second);
    }
    // Press at `from`, move in `steps` frames to `to`, release.
    void Drag(ImVec2 from, ImVec2 to, int steps = 4, bool alt = false) {
        ImGui::GetIO().KeyAlt = alt;
        gui.MoveMouse(from.x, from.y);
        Frame();
        gui.SetButton(0, true);
        Frame();
        for (int s = 1; s <= steps; ++s) {
            gui.MoveMouse(from.x + (to.x - from.x) * float(s) / float(steps),
                          from.y + (to.y - from.y) * float(s) / float(steps));
            Frame();
        }
        gui.SetButton(0, false);
        Frame();
        ImGui::GetIO().KeyAlt = false;
        Frame();
    }
};

}  // namespace

TEST(EventsTabWidget, ShowsNothingOneEventOrTheBatchAndNotesItsDropZone) {
    TabRig rig;
    rig.Add(kShapeSpot);
    rig.Add(kShapeBloom, 4);
    rig.Frames(2);
    EXPECT_EQ(gInspectorReport.state, 0);
    EXPECT_TRUE(gInspectorReport.items.empty());
    rig.Select({1});
    rig.Frames(2);
    EXPECT_EQ(gInspectorReport.state, 1);
    EXPECT_EQ(gInspectorReport.items.count("##evgain"), 1u);
    rig.Select({0, 1});
    rig.Frames(2);
    EXPECT_EQ(gInspectorReport.state, 2);
    EXPECT_EQ(gInspectorReport.items.count("##batchgain"), 1u);
    EXPECT_EQ(gInspectorReport.items.count("##evgain"), 0u);
    bool tabZone = false;
    for (const DropZone& z : gDropZones.zones) tabZone |= z.kind == DropZoneKind::TabPanel && z.rect.width > 0;
    EXPECT_TRUE(tabZone);
}

TEST(EventsTabWidget, AltDragOnTheWeightCurvePaintsAndAPlainDragMovesItsOffset) {
    TabRig rig;
    const int e = rig.Add(kShapeBloom);
    rig.Select({e});
    rig.Frames(2);
    const ImVec2 w = rig.Item("##cW");
    const Curve256 before = rig.project->events[0].weight;

    rig.Drag(ImVec2(w.x - 40, w.y - 10), ImVec2(w.x + 40, w.y - 10), 4, true);
    const Event& painted = rig.project->events[0];
    EXPECT_NE(painted.weight, before);
    EXPECT_FLOAT_EQ(painted.weightOffset, 0.0f);  // painting does not move the offset
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_FALSE(rig.app->curvePainting);  // the stroke ended with the release

    const Curve256 afterPaint = painted.weight;
    rig.Drag(ImVec2(w.x, w.y), ImVec2(w.x, w.y - 20));
    EXPECT_GT(rig.project->events[0].weightOffset, 0.05f);  // up raises
    EXPECT_EQ(rig.project->events[0].weight, afterPaint);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 2u);  // one step at the press
}

TEST(EventsTabWidget, DraggingTheSyncMarkerSetsTheOffsetAndRebuildsIntensity) {
    TabRig rig;
    const int e = rig.Add(kShapeBloom, 5);
    rig.project->events[0].duration = 4;
    rig.project->events[0].syncOffset = 1;
    rig.project->events[0].intensityMode = 0;
    rig.Select({e});
    rig.Frames(2);
    const float left = gInspectorReport.curveLeft, width = gInspectorReport.curveWidth;
    const float y = gInspectorReport.curveTop + gInspectorReport.curveHeight / 2;
    const Curve256 before = rig.project->events[0].intensity;
    const float markerX = left + width / 4;
    rig.Drag(ImVec2(markerX, y), ImVec2(left + width * 0.75f, y));
    const Event& ev = rig.project->events[0];
    EXPECT_NEAR(ev.syncOffset, 3.0f, 4.0f * 2 / width);
    EXPECT_NE(ev.intensity, before);
    EXPECT_FLOAT_EQ(rig.app->currentTime, 5.0f);
    EXPECT_FLOAT_EQ(ev.intensityScale, 1.0f);  // the curve's own drag stayed out
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
}

// A Fill or a Bed follows its drawn curve whatever mode it was made with (a
// Fill at the playhead takes the last mode chosen): looking at one writes
// nothing, it shows no sync marker to drag, and moving its sync point leaves
// its curve.
TEST(EventsTabWidget, AFillOrABedFollowsItsCurveAndLookingAtItWritesNothing) {
    for (int shape : {kShapeFill, kShapeBed}) {
        TabRig rig;
        const int e = rig.Add(shape, 5);
        Event& ev = rig.project->events[0];
        ev.intensityMode = 0;
        ev.duration = 4;
        ev.syncOffset = 1;
        FillCurve(ev.intensity, 0.4f);
        const Curve256 before = ev.intensity;
        rig.Select({e});
        rig.Frames(2);
        const float left = gInspectorReport.curveLeft, width = gInspectorReport.curveWidth;
        const float y = gInspectorReport.curveTop + gInspectorReport.curveHeight / 2;
        rig.Drag(ImVec2(left + width / 4, y), ImVec2(left + width * 0.75f, y));
        EXPECT_EQ(ev.intensityMode, 0) << shape << ": the saved mode stays";
        EXPECT_EQ(ev.syncOffset, 1.0f) << shape;
        EXPECT_EQ(ev.intensity, before) << shape;
        EXPECT_TRUE(rig.app->undoHistory.undo.empty()) << shape;

        ASSERT_TRUE(BeginEdit(rig.Ctx(), "Sync point"));
        ASSERT_TRUE(SetSyncMarker(rig.Ctx(), e, 3));
        EXPECT_EQ(ev.intensity, before) << shape << ": no curve around the sync point";
        ev.shape = kShapeScatter;  // a shape that follows its mode
        ASSERT_TRUE(SetSyncMarker(rig.Ctx(), e, 2));
        EXPECT_NE(ev.intensity, before);
    }
}

TEST(EventsTabWidget, BatchGainDragMovesEverySelectedEventAndTheirVoices) {
    TabRig rig;
    const int a = rig.Add(kShapeSpot), b = rig.Add(kShapeFill, 6);
    rig.project->events[0].gain = DbToGain(-6);
    rig.project->events[1].gain = DbToGain(-12);
    // A layer of b with its voice, linked as a build links them.
    RenderResult layer;
    layer.placeholder = true;
    layer.eventIdx = b;
    layer.startTime = 6;
    layer.duration = 1;
    layer.id = 7;
    rig.project->results.push_back(layer);
    PlaybackVoice v;
    v.eventIndex = b;
    v.resultIndex = 0;
    v.resultId = 7;
    v.startTime = v.plainStartTime = 6;
    v.length = 1;
    rig.engine->voices.push_back(v);
    rig.Select({a, b});
    rig.Frames(2);
    const ImVec2 g = rig.Item("##batchgain");
    rig.Drag(g, ImVec2(g.x - 30, g.y));
    const float da = GainToDb(rig.project->events[0].gain), db = GainToDb(rig.project->events[1].gain);
    EXPECT_LT(da, -6.5f);
    EXPECT_NEAR(da - db, 6.0f, 0.01f);  // both moved by the same decibels
    EXPECT_FLOAT_EQ(rig.engine->voices[0].eventGain.load(), rig.project->events[1].gain);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u) << "the whole drag is one step";
    EXPECT_TRUE(rig.app->modified);
    // A second drag is a second step; undo takes back that drag alone.
    const float afterFirst = rig.project->events[0].gain;
    rig.Frames(30);  // half a second: the next press is no double-click
    rig.Drag(g, ImVec2(g.x - 20, g.y));
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 2u);
    EXPECT_LT(rig.project->events[0].gain, afterFirst);
    ASSERT_TRUE(Undo(rig.Ctx()));
    EXPECT_FLOAT_EQ(rig.project->events[0].gain, afterFirst);
}

TEST(EventsTabWidget, ABedShowsTheDropHighlightAndAClipCardReadsItsFileOnce) {
    TabRig rig;
    const int bed = rig.Add(kShapeBed);
    rig.Select({bed});
    rig.Frame();
    EXPECT_FALSE(gInspectorReport.bedHighlight);
    rig.app->dragHasAudio = true;  // the drop target's fields (no hover under SDL 2.26)
    rig.app->dragHoverX = 200;
    rig.app->dragHoverY = 60;
    rig.Frame();
    EXPECT_TRUE(gInspectorReport.bedHighlight);
    EXPECT_FLOAT_EQ(gInspectorReport.bedHighlightAlpha, 180.0f);
    rig.app->dragHoverX = 700;  // over the list beside it
    rig.Frame();
    EXPECT_FLOAT_EQ(gInspectorReport.bedHighlightAlpha, 70.0f);
    rig.app->dragHasAudio = false;

    TempDir dir;
    AudioSpec spec;
    spec.seconds = 0.25;
    const std::string path = dir.File("door_slam_take_with_a_long_name.wav");
    ASSERT_TRUE(WriteTestAudio(path, spec));
    const int clip = rig.Add(kShapeClip);
    CopyTextField(rig.project->events[size_t(clip)].pinnedFile, path);
    rig.Select({clip});
    gClipHeaderCache = ClipHeaderCache{};
    rig.Frames(100);
    EXPECT_EQ(gClipHeaderCache.opens, 1);
    EXPECT_EQ(gInspectorReport.items.count("##evoffTC"), 1u);
}
