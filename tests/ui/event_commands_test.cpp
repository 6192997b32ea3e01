// The edit commands through ExecuteCommand on a private document: nudge
// bursts and clamped moves, the clipboard, mute, groups, new events at the
// playhead, undo's empty selection and the refusals during an export.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "app/command_ids.h"
#include "document/document_rig.h"
#include "document/text_util.h"
#include "operations/selection.h"
#include "ui/command_executor.h"
#include "ui/event_commands.h"

namespace {

struct CommandRig : DocRig {
    CommandContext ctx;
    CommandRig() {
        ctx.doc = Context();
        project->fps = 25;
        project->totalDuration = 30;
    }
    bool Run(int id, double guiTime = 0) {
        ctx.guiTime = guiTime;
        return ExecuteCommand(ctx, id);
    }
    std::vector<float> ResultStarts(int event) const {
        std::vector<float> out;
        for (const RenderResult& r : project->results)
            if (r.eventIdx == event) out.push_back(r.startTime);
        return out;
    }
    std::vector<float> VoiceStarts(int event) const {
        std::vector<float> out;
        for (const PlaybackVoice& v : engine->voices)
            if (v.eventIndex == event) out.push_back(v.startTime);
        return out;
    }
};

}  // namespace

TEST(EventCommands, NudgeBurstsAreUndoStepsAndMovesStayAligned) {
    CommandRig rig;
    rig.AddLayeredEvents(2, 2);  // events at 1 s and 2 s
    rig.BuildVoices();
    SelectEvents(*rig.app, {0, 1});

    // Period held for a second at the key-repeat rate: one undo step.
    double t = 5.0;
    for (int k = 0; k < 20; ++k, t += 0.05) ASSERT_TRUE(rig.Run(kCommandNudgeForward, t));
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_NEAR(rig.project->events[0].time, 1.0f + 20 / 25.0f, 1e-4);
    EXPECT_NEAR(rig.app->currentTime, rig.project->events[0].time, 1e-6) << "the playhead follows the anchor";
    EXPECT_FALSE(rig.app->playing);
    // A pause of more than half a second starts a second step.
    ASSERT_TRUE(rig.Run(kCommandNudgeBack, t + 0.6));
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 2u);

    // Layers and voices moved exactly with their event.
    for (int e = 0; e < 2; ++e) {
        for (float s : rig.ResultStarts(e)) EXPECT_NEAR(s, rig.project->events[size_t(e)].time, 1e-4);
        for (float s : rig.VoiceStarts(e)) EXPECT_NEAR(s, rig.project->events[size_t(e)].time, 1e-4);
    }

    // An event at 0 s nudged back stays put, and so do its layers and voices;
    // the other event moves its full frame.
    rig.project->events[0].time = 0;
    for (RenderResult& r : rig.project->results)
        if (r.eventIdx == 0) r.startTime = 0;
    rig.BuildVoices();
    const float other = rig.project->events[1].time;
    ASSERT_TRUE(rig.Run(kCommandNudgeBack, t + 5));
    EXPECT_EQ(rig.project->events[0].time, 0.0f);
    for (float s : rig.ResultStarts(0)) EXPECT_EQ(s, 0.0f);
    for (float s : rig.VoiceStarts(0)) EXPECT_EQ(s, 0.0f);
    EXPECT_NEAR(rig.project->events[1].time, other - 0.04f, 1e-4);
    for (float s : rig.ResultStarts(1)) EXPECT_NEAR(s, other - 0.04f, 1e-4);

    // Without a selection only the playhead moves, one frame, never below 0.
    ClearSelection(*rig.app);
    const size_t steps = rig.app->undoHistory.undo.size();
    rig.app->currentTime = 0.02f;
    ASSERT_TRUE(rig.Run(kCommandNudgeBack, t + 10));
    EXPECT_EQ(rig.app->currentTime, 0.0f);
    ASSERT_TRUE(rig.Run(kCommandNudgeForward, t + 10.1));
    EXPECT_NEAR(rig.app->currentTime, 0.04f, 1e-6);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), steps);
}

TEST(EventCommands, CopyPasteAtThePlayheadWithFreshLayers) {
    CommandRig rig;
    rig.AddLayeredEvents(3, 2);  // 1 s, 2 s, 3 s
    rig.project->events[1].sceneLink = 0;
    SelectEvents(*rig.app, {2, 1});
    ASSERT_TRUE(rig.Run(kCommandCopy));
    EXPECT_EQ(rig.app->eventClipboard.events.size(), 2u);
    EXPECT_EQ(rig.app->eventClipboard.earliestTime, 2.0f);

    std::set<int32_t> ids;
    for (const RenderResult& r : rig.project->results) ids.insert(r.id);
    rig.app->currentTime = 10;
    rig.project->totalDuration = 10.5f;
    ASSERT_TRUE(rig.Run(kCommandPaste));
    ASSERT_EQ(rig.project->events.size(), 5u);
    EXPECT_EQ(rig.project->events[3].time, 10.0f) << "the earliest copy lands on the playhead";
    EXPECT_EQ(rig.project->events[4].time, 11.0f);
    EXPECT_EQ(rig.project->events[3].sceneLink, -1) << "a pasted copy keeps no scene link";
    EXPECT_GE(rig.project->totalDuration, 11.5f) << "the project grew to hold the copies";
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{3, 4}));

    int pastedLayers = 0;
    for (const RenderResult& r : rig.project->results) {
        if (r.eventIdx < 3) continue;
        ++pastedLayers;
        EXPECT_FALSE(ids.count(r.id)) << "a pasted layer has an id of its own";
        EXPECT_EQ(r.startTime, rig.project->events[size_t(r.eventIdx)].time);
        ids.insert(r.id);
    }
    EXPECT_EQ(pastedLayers, 4);
    EXPECT_EQ(rig.VoiceStarts(4).size(), 2u) << "the pasted layers play";

    // Undo takes the paste back and leaves nothing selected.
    ASSERT_TRUE(rig.Run(kCommandUndo));
    EXPECT_EQ(rig.project->events.size(), 3u);
    EXPECT_TRUE(rig.app->selectedEvents.empty());
    EXPECT_EQ(rig.app->selectedEvent, -1);
    EXPECT_EQ(rig.app->expandedEvent, -1);
    EXPECT_EQ(rig.app->toastText, "Undo");
}

TEST(EventCommands, MuteGroupAndNewEvents) {
    CommandRig rig;
    rig.AddLayeredEvents(3, 1);
    rig.BuildVoices();
    SelectEvents(*rig.app, {0, 1});
    rig.project->events[0].muted = true;
    ASSERT_TRUE(rig.Run(kCommandMute));  // one was unmuted: all muted
    EXPECT_TRUE(rig.project->events[0].muted && rig.project->events[1].muted);
    EXPECT_FALSE(rig.project->events[2].muted);
    for (const PlaybackVoice& v : rig.engine->voices) EXPECT_EQ(v.muted.load() != 0, v.eventIndex != 2);
    ASSERT_TRUE(rig.Run(kCommandMute));
    EXPECT_FALSE(rig.project->events[0].muted || rig.project->events[1].muted);

    CopyTextField(rig.project->events[2].folder, "Group 1");
    ASSERT_TRUE(rig.Run(kCommandGroup));
    EXPECT_EQ(TextFieldView(rig.project->events[0].folder), "Group 2") << "the first unused number";
    EXPECT_TRUE(rig.app->linkedGroups.count("Group 2"));
    ASSERT_TRUE(rig.Run(kCommandUngroup));
    EXPECT_EQ(TextFieldView(rig.project->events[1].folder), "");
    EXPECT_FALSE(rig.app->linkedGroups.count("Group 2")) << "a folder no event uses is unlinked";

    // A Fill at the playhead takes the last event's keywords and the flat mode.
    CopyTextField(rig.project->events[2].keywords, "door slam");
    rig.app->lastIntensityMode = 1;
    rig.app->currentTime = 7.5f;
    ASSERT_TRUE(rig.Run(kCommandCreateFill));
    const Event& fill = rig.project->events.back();
    EXPECT_EQ(fill.shape, kShapeFill);
    EXPECT_EQ(fill.time, 7.5f);
    EXPECT_EQ(TextFieldView(fill.keywords), "door slam");
    EXPECT_EQ(fill.intensityMode, 1);
    EXPECT_EQ(fill.intensity[0], 0.5f);
    EXPECT_EQ(rig.app->selectedEvent, 3);
}

TEST(EventCommands, AnExportRefusesEditsWithAToast) {
    CommandRig rig;
    rig.AddLayeredEvents(2, 1);
    SelectEvents(*rig.app, {0});
    rig.app->exportRunning.store(true);
    const float before = rig.project->events[0].time;
    for (int id : {kCommandNudgeForward, kCommandMute, kCommandCreateSpot, kCommandPaste, kCommandRender,
                   kCommandRecipeBase, kCommandUndo}) {
        rig.app->toastText.clear();
        EXPECT_FALSE(rig.Run(id, 100)) << id;
        EXPECT_EQ(rig.app->toastText, "Export in progress") << id;
    }
    EXPECT_EQ(rig.project->events[0].time, before);
    EXPECT_EQ(rig.project->events.size(), 2u);
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());

    EXPECT_FALSE(rig.Run(kCommandLauncher));
    EXPECT_FALSE(rig.app->showLauncher);

    // Reading and viewing still run.
    rig.app->toastText.clear();
    EXPECT_TRUE(rig.Run(kCommandCopy));
    EXPECT_TRUE(rig.Run(kCommandTabMixer));
    EXPECT_EQ(rig.app->activeTab, 3);
    EXPECT_TRUE(rig.app->toastText.empty());

    // A full render holds edits back but lets the launcher show.
    rig.app->exportRunning.store(false);
    rig.app->busyTask.busy.store(true);
    EXPECT_FALSE(rig.Run(kCommandMute));
    EXPECT_TRUE(rig.Run(kCommandLauncher));
    EXPECT_TRUE(rig.app->showLauncher);
    rig.app->busyTask.busy.store(false);
}

TEST(EventCommands, CutUndoAndWhatEscapeClearsFirst) {
    CommandRig rig;
    rig.AddLayeredEvents(3, 1);
    rig.BuildVoices();
    AppState& app = *rig.app;
    SelectEvents(app, {0, 2});
    ASSERT_TRUE(rig.Run(kCommandCut));
    EXPECT_EQ(rig.project->events.size(), 1u);
    EXPECT_EQ(app.eventClipboard.events.size(), 2u);
    EXPECT_EQ(rig.engine->voices.size(), 1u) << "the cut events' voices went with them";
    app.selectedEvent = 0;
    app.selectedEvents = {0};
    app.expandedEvent = 0;
    ASSERT_TRUE(rig.Run(kCommandUndo));
    EXPECT_EQ(rig.project->events.size(), 3u);
    EXPECT_TRUE(app.selectedEvents.empty());
    EXPECT_EQ(app.selectedEvent, -1);
    EXPECT_EQ(app.expandedEvent, -1);

    // In and out points: one that is not on the right side of the new point goes.
    app.currentTime = 5;
    ASSERT_TRUE(rig.Run(kCommandSetOutPoint));
    app.currentTime = 6;
    app.activeScene = 0;
    ASSERT_TRUE(rig.Run(kCommandSetInPoint));
    EXPECT_EQ(app.workAreaIn, 6.0f);
    EXPECT_EQ(app.workAreaOut, -1.0f);
    EXPECT_EQ(app.activeScene, -1);
    app.currentTime = 8;
    ASSERT_TRUE(rig.Run(kCommandSetOutPoint));
    EXPECT_EQ(app.workAreaOut, 8.0f);

    // Escape: first draw mode, then the work area, then the selection.
    SelectEvents(app, {1});
    ASSERT_TRUE(rig.Run(kCommandDrawMode));
    ASSERT_TRUE(app.curveDrawMode);
    rig.Run(kCommandEscape);
    EXPECT_FALSE(app.curveDrawMode);
    EXPECT_EQ(app.workAreaIn, 6.0f);
    rig.Run(kCommandEscape);
    EXPECT_EQ(app.workAreaIn, -1.0f);
    EXPECT_EQ(app.workAreaOut, -1.0f);
    EXPECT_EQ(app.selectedEvent, 1);
    rig.Run(kCommandEscape);
    EXPECT_EQ(app.selectedEvent, -1);
}

namespace {
std::string gOpenedUrl;
std::string gVideoAnswer;
std::string AnswerVideo(const char*, const char*) { return gVideoAnswer; }
}  // namespace

TEST(WindowCommands, GuideVideoAndZoom) {
    CommandRig rig;
    AppState& app = *rig.app;
    // The guide opens through the open-URL hook, and only when it is there.
    TempDir exe;
    app.exeDir = exe.path();
    app.openUrlCallback = [](const std::string& url) { gOpenedUrl = url; };
    gOpenedUrl.clear();
    EXPECT_FALSE(rig.Run(kCommandUserGuide));
    EXPECT_TRUE(gOpenedUrl.empty());
    ASSERT_TRUE(WriteWholeFile(exe.File("Tessaloom User Guide.pdf"), "%PDF-1.4"));
    EXPECT_TRUE(rig.Run(kCommandUserGuide));
    EXPECT_EQ(gOpenedUrl, exe.File("Tessaloom User Guide.pdf"));

    // Import Video hands the chosen file to the frame as a drop would.
    app.openFileDialog = AnswerVideo;
    gVideoAnswer = "/films/reel 1.mov";
    EXPECT_TRUE(rig.Run(kCommandImportVideo));
    EXPECT_EQ(app.droppedVideoPath, "/films/reel 1.mov");

    // Zoom in and out around the playhead, then the whole project.
    app.viewStart = 0;
    app.viewDuration = 30;
    app.currentTime = 12;
    rig.Run(kCommandZoomIn);
    EXPECT_NEAR(app.viewDuration, 21.0f, 1e-4);
    EXPECT_LE(app.viewStart, 12.0f);
    EXPECT_GE(app.viewStart + app.viewDuration, 12.0f);
    rig.Run(kCommandZoomOut);
    EXPECT_NEAR(app.viewDuration, 29.4f, 1e-3);
    rig.Run(kCommandZoomFit);
    EXPECT_EQ(app.viewStart, 0.0f);
    EXPECT_EQ(app.viewDuration, 30.0f);
}
