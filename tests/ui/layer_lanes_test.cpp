// The rendered layers, the scenes row and the trace view as widgets: a GUI
// context without a window over a private document. What only exists in the
// widgets: the waveform painter on odd input, a Clip trim from press to
// release, a scene drawn across the row, the threshold drag, and the layer
// area drawn while another thread rewrites the results.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "document/event.h"
#include "document/text_util.h"
#include "library/file_caches.h"
#include "render/clip_bed_events.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"
#include "ui/timeline_frame.h"
#include "ui/timeline_rig.h"

namespace {

// A 4 s sine as a Clip at 5 s over a 30 s project, rendered, with its peaks.
struct LayerRig : TimelineRig {
    TempDir dir;
    std::string file;
    LayerRig() {
        project->totalDuration = 30;
        project->fps = 25;
        file = dir.File("tone.wav");
        AudioSpec spec;
        spec.seconds = 4;
        EXPECT_TRUE(WriteTestAudio(file, spec));
        Event e = MakeEvent(*project, 5, kShapeClip, 0.5f);
        e.syncOffset = 0;
        CopyTextField(e.pinnedFile, file);
        project->events.push_back(e);
        EXPECT_TRUE(RebuildClipEvent(*project, 0));
        GetWaveformPeaks(file.c_str());
        project->rendered = true;
        Frame();
    }
    float LayerRowY() const { return gTimelineGeometry.layersTop + 18 + 12; }
};

size_t VerticesOf(float f1, int peakCount) {
    HeadlessGui gui(400, 200);
    gui.Frame();
    ImGui::Begin("##w");
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const int before = draw->VtxBuffer.Size;
    std::vector<float> peaks(size_t(peakCount), 0.5f);
    DrawLayerWaveform(draw, 10, 10, 300, 40, 0xFF336699, peakCount ? peaks.data() : nullptr, peakCount, 0.1f, 0.1f,
                      peakCount ? peaks.data() : nullptr, false, 0.5f, f1, false, true);
    const size_t added = size_t(draw->VtxBuffer.Size - before);
    ImGui::End();
    gui.EndFrame();
    return added;
}

}  // namespace

TEST(LayerLanes, TheWaveformPainterTakesNoPeaksAndAVisibleEndPastTheFile) {
    const size_t background = VerticesOf(1.0f, 0);
    EXPECT_GT(background, 0u);                // the block itself
    EXPECT_GT(VerticesOf(1.0001f, 5), background);  // peaks read within the array
    EXPECT_GT(VerticesOf(1.0001f, 1), background);
}

TEST(LayerLanes, ALeftEdgeDragTrimsTheClipAsOneStepAndRebuildsOnce) {
    LayerRig rig;
    ASSERT_GT(gTimelineGeometry.layersTop, 0);
    const size_t depth = rig.app->undoHistory.undo.size();
    const int64_t opens = ClipBedFileOpenCount();
    const float y = rig.LayerRowY();
    rig.Press(rig.X(5) + 2, y);
    EXPECT_EQ(rig.app->trimmingResult, 0);
    EXPECT_EQ(rig.app->trimEdge, 1);
    rig.Move(rig.X(6), y);
    rig.Move(rig.X(6.5f), y);
    EXPECT_EQ(ClipBedFileOpenCount(), opens);  // nothing is rebuilt while dragging
    rig.Release();
    const Event& e = rig.project->events[0];
    EXPECT_NEAR(e.clipSourceOffset, 1.5f, 0.05f);
    EXPECT_NEAR(rig.project->results[0].startTime, 6.5f, 0.05f);
    EXPECT_NEAR(rig.project->results[0].duration, 2.5f, 0.05f);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), depth + 1);
    EXPECT_EQ(ClipBedFileOpenCount(), opens + 1);
    EXPECT_EQ(rig.app->trimmingResult, -1);

    // During an export a press on the edge only selects.
    rig.app->exportRunning = true;
    rig.Press(rig.X(6.5f) + 2, y);
    EXPECT_EQ(rig.app->trimmingResult, -1);
    rig.Release();
    EXPECT_EQ(rig.app->undoHistory.undo.size(), depth + 1);
}

TEST(LayerLanes, AnArmedDragAcrossTheScenesRowMakesASceneAndOpensItsRename) {
    LayerRig rig;
    const float y = gTimelineGeometry.scenesTop + 8;
    // Unarmed, an empty press clears the work area.
    rig.app->workAreaIn = 1;
    rig.app->workAreaOut = 2;
    rig.app->activeScene = -1;
    rig.Click(rig.X(20), y);
    EXPECT_FLOAT_EQ(rig.app->workAreaIn, -1);

    // The arm button sits in the label column, right of "Scenes".
    bool armed = false;
    for (float x = gTimelineGeometry.x0 - 30; x < gTimelineGeometry.x0 && !armed; x += 4) {
        rig.Click(x, y);
        // Armed: the empty row shows the text cursor.
        rig.Move(rig.X(10), y);
        armed = ImGui::GetMouseCursor() == ImGuiMouseCursor_TextInput;
    }
    ASSERT_TRUE(armed);
    rig.Press(rig.X(2), y);
    rig.Move(rig.X(6), y);
    rig.Move(rig.X(8), y);
    rig.Release();
    ASSERT_EQ(rig.project->scenes.size(), 1u);
    EXPECT_EQ(std::string(TextFieldView(rig.project->scenes[0].name)), "Scene 1");
    EXPECT_NEAR(rig.project->scenes[0].inTime, 2, 0.05f);
    EXPECT_NEAR(rig.project->scenes[0].outTime, 8, 0.05f);
    EXPECT_EQ(rig.app->renamingScene, 0);
    EXPECT_TRUE(rig.app->sceneRenameIsNew);
    EXPECT_EQ(rig.app->activeScene, 0);

    // A drag of a single frame makes nothing and clears the active scene.
    rig.Frames(2);
    rig.Press(rig.X(20), y);
    rig.Move(rig.X(20) + 1, y);
    rig.Release();
    EXPECT_EQ(rig.project->scenes.size(), 1u);
    EXPECT_EQ(rig.app->activeScene, -1);
}

TEST(LayerLanes, DraggingTheThresholdLineChangesTheDetailAndADoubleClickResetsIt) {
    TimelineRig rig;
    rig.project->totalDuration = 30;
    rig.app->activeTab = 1;
    OpticalTrace& trace = rig.app->opticalTrace;
    trace.fps = 10;
    trace.duration = 20;
    trace.frames.resize(200);
    for (size_t i = 0; i < trace.frames.size(); ++i) trace.frames[i].composite = float(i % 20) / 20;
    trace.present = true;
    rig.Frame();
    ASSERT_GT(gTimelineGeometry.traceTop, 0);
    const float top = gTimelineGeometry.traceTop;
    const float height = gTimelineGeometry.lanesBottom - top;
    const float lineY = top + height - 0.359125f * height;
    rig.Press(rig.X(10), std::round(lineY));
    EXPECT_TRUE(rig.app->thresholdDragging);
    rig.Move(rig.X(10), std::round(top + height * 0.8f));
    rig.Release();
    EXPECT_FALSE(rig.app->thresholdDragging);
    EXPECT_NEAR(rig.app->opticalDetail, 1 - std::sqrt(0.2f / 0.85f), 0.02f);
}

TEST(LayerLanes, TheAreaDrawsItsLastBlocksWhileARenderRewritesTheResults) {
    LayerRig rig;
    rig.Frames(2);
    rig.app->busyTask.busy = true;  // a full render owns the results now
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread render([&] {
        for (int round = 0; !stop.load(); round = ++rounds) {
            std::vector<RenderResult> results(3);
            for (RenderResult& r : results) {
                r.startTime = float(round % 10);
                r.duration = 1;
                r.filepath = "elsewhere.wav";
            }
            rig.project->results = std::move(results);
        }
    });
    while (rounds.load() == 0) std::this_thread::yield();
    for (int i = 0; i < 20; ++i) {
        rig.Frame();
        EXPECT_GT(gTimelineGeometry.layersTop, 0);  // the area is drawn, from its old list
    }
    stop = true;
    render.join();
    rig.app->busyTask.busy = false;
    rig.Frame();
    EXPECT_GT(rounds.load(), 0);
}
