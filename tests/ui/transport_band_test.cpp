// The rules of the window's fixed bands on private objects: the Render and
// lock buttons with their undo steps, the trim and its texts, the meter
// colours, the footer's texts, the transport's playhead and the
// picture's texture, and the band's widgets under a scripted mouse.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/command_ids.h"
#include "app/frame_driver.h"
#include "app/null_frame_backend.h"
#include "document/busy_task.h"
#include "document/event.h"
#include "document/project.h"
#include "document/shortened_text.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/undo.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "support/document_records.h"
#include "support/imgui_headless.h"
#include "support/temp_dir.h"
#include "support/video_fixtures.h"
#include "ui/command_executor.h"
#include "ui/job_protocol_logic.h"
#include "ui/main_bands.h"
#include "ui/transport_actions.h"
#include "ui/transport_logic.h"

namespace {

struct Doc : DocumentRecords {

    explicit Doc(int events = 0, int locked = 0) {
        project->totalDuration = 10;
        project->fps = 25;
        for (int i = 0; i < events; ++i) {
            AddEvent(*project, 1.0f + float(i), kShapeSpot, 0.5f);
            project->events.back().locked = i < locked;
        }
    }
    TransportContext Transport(VideoPlayer* video = nullptr) { return {Context(), video}; }
    CommandContext Commands(VideoPlayer* video = nullptr) {
        CommandContext ctx;
        ctx.doc = Context();
        ctx.video = video;
        return ctx;
    }
    size_t UndoSteps() const { return app->undoHistory.undo.size(); }
};

}  // namespace

TEST(RenderButton, LabelEnableRuleAndTooltipFollowLibraryLocksAndExport) {
    RenderButtonState s = RenderButtonFor(3, 0, false, false);
    EXPECT_STREQ(s.label, "Add Sounds");
    EXPECT_FALSE(s.enabled);
    EXPECT_STREQ(s.tooltip, "No sounds loaded \xE2\x80\x94 scan a folder in Library");

    s = RenderButtonFor(3, 3, true, false);
    EXPECT_STREQ(s.label, "Render");
    EXPECT_FALSE(s.enabled);
    EXPECT_STREQ(s.tooltip, "All events are locked \xE2\x80\x94 unlock to render");

    s = RenderButtonFor(3, 1, true, false);
    EXPECT_TRUE(s.enabled);
    EXPECT_STREQ(s.tooltip, "Render all unlocked events\nRight-click: unlock all + Re-Render");

    s = RenderButtonFor(3, 0, true, false);
    EXPECT_TRUE(s.enabled);
    EXPECT_STREQ(s.tooltip, "Render all events\nRight-click: full Re-Render");

    EXPECT_FALSE(RenderButtonFor(3, 0, true, true).enabled) << "a running export";
    EXPECT_FALSE(RenderButtonFor(0, 0, true, false).enabled) << "nothing to render";
}

TEST(RenderButton, EitherClickIsOneUndoStepAndNothingHappensWhenDisabledOrBusy) {
    Doc doc(3, 1);
    ASSERT_TRUE(PostRenderClick(doc.Context(), true, false));
    EXPECT_EQ(doc.app->renderRequestKind, 1);
    EXPECT_EQ(doc.UndoSteps(), 1u);

    // The right click unlocks everything and replaces every result: one Undo
    // must bring the locks back.
    doc.app->renderRequestKind = 0;
    ASSERT_TRUE(PostRenderClick(doc.Context(), true, true));
    EXPECT_EQ(doc.app->renderRequestKind, 2);
    EXPECT_EQ(doc.UndoSteps(), 2u);
    for (Event& e : doc.project->events) e.locked = false;  // what the job does with request 2
    ASSERT_TRUE(Undo(doc.Context()));
    EXPECT_TRUE(doc.project->events[0].locked);

    Doc allLocked(2, 2);
    EXPECT_FALSE(PostRenderClick(allLocked.Context(), true, true));
    EXPECT_FALSE(PostRenderClick(allLocked.Context(), true, false));
    EXPECT_EQ(allLocked.app->renderRequestKind, 0);
    EXPECT_EQ(allLocked.UndoSteps(), 0u);

    Doc noLibrary(2);
    EXPECT_FALSE(PostRenderClick(noLibrary.Context(), false, false));

    Doc exporting(2);
    exporting.app->exportRunning = true;
    EXPECT_FALSE(PostRenderClick(exporting.Context(), true, false));
    EXPECT_EQ(exporting.UndoSteps(), 0u);

    Doc busy(2);
    busy.app->busyTask.busy = true;
    EXPECT_FALSE(PostRenderClick(busy.Context(), true, false));
    EXPECT_EQ(busy.app->renderRequestKind, 0);
    busy.app->busyTask.busy = false;
}

TEST(LockButton, UnlocksEveryEventInOneUndoStep) {
    Doc doc(4, 3);
    EXPECT_EQ(CountLockedEvents(*doc.project), 3);
    EXPECT_EQ(LockButtonTooltip(3), "Unlock all (3 locked)");
    ASSERT_TRUE(UnlockAllEvents(doc.Context()));
    EXPECT_EQ(CountLockedEvents(*doc.project), 0);
    EXPECT_EQ(LockButtonTooltip(0), "All events unlocked");
    EXPECT_EQ(doc.UndoSteps(), 1u);
    EXPECT_TRUE(doc.app->modified);
    EXPECT_FALSE(UnlockAllEvents(doc.Context())) << "nothing left to unlock";
    EXPECT_EQ(doc.UndoSteps(), 1u);
    ASSERT_TRUE(Undo(doc.Context()));
    EXPECT_EQ(CountLockedEvents(*doc.project), 3);

    doc.app->exportRunning = true;
    EXPECT_FALSE(UnlockAllEvents(doc.Context()));
    EXPECT_EQ(CountLockedEvents(*doc.project), 3);
}

TEST(MasterTrim, DragArithmeticDecibelTextAndMeterColours) {
    EXPECT_FLOAT_EQ(TrimGainAfterDrag(0.5f, 100), 1.3f);  // 100 points add 0.8
    EXPECT_FLOAT_EQ(TrimGainAfterDrag(1.0f, 100), 1.5f);  // clamped at 1.5
    EXPECT_FLOAT_EQ(TrimGainAfterDrag(0.3f, -100), 0.0f);
    EXPECT_FLOAT_EQ(TrimGainAfterDrag(0.7f, -25), 0.5f);

    EXPECT_EQ(GainDbText(0.0005f), "-60.0 dB");
    EXPECT_EQ(GainDbText(0.0f), "-60.0 dB");
    EXPECT_EQ(GainDbText(1.0f), "0.0 dB");
    EXPECT_EQ(GainDbText(0.5f), "-6.0 dB");
    EXPECT_EQ(GainDbText(1.5f), "3.5 dB");

    const uint32_t normal = 1, warning = 2, clip = 3;
    EXPECT_EQ(MeterFillColor(0.95f, normal, warning, clip), clip);
    EXPECT_EQ(MeterFillColor(0.9f, normal, warning, clip), warning);
    EXPECT_EQ(MeterFillColor(0.75f, normal, warning, clip), warning);
    EXPECT_EQ(MeterFillColor(0.7f, normal, warning, clip), normal);
    EXPECT_EQ(MeterFillColor(0.0f, normal, warning, clip), normal);
}

TEST(BandTexts, FooterShapeButtonsAndCaption) {
    EXPECT_EQ(FooterCountsText(3, 48000, 24), "3 events   48 kHz   24 fps");
    EXPECT_EQ(FooterCountsText(1, 44100, 29.97f), "1 events   44 kHz   30 fps");
    EXPECT_EQ(LiveBlockText("Rendering...", 2, 5, 7), "Rendering...  event 2 / 5  \xC2\xB7  7 clips");
    EXPECT_EQ(LiveBlockText("Rendering...", 0, 0, 7), "Rendering...  7 clips");

    const char* names[4] = {"Spot", "Bloom", "Contour", "Fill"};
    for (int shape = 0; shape < 4; ++shape) {
        const std::string tip = ShapeButtonTooltip(shape);
        EXPECT_EQ(tip, "Add " + std::string(names[shape]) + " event at playhead [" + std::to_string(shape + 1) + "]");
        EXPECT_EQ(ShapeButtonLabel("I", shape), "I  " + std::string(names[shape]) + "##shp" + std::to_string(shape));
    }
    EXPECT_EQ(VideoCaptionText(1280, 720, 23.976f, 12.04f), "1280x720  24.0fps  12.0s");

}

TEST(BandTexts, HighlightsEaseAndSettleWithinTheirThreshold) {
    float v = 0;
    int frames = 0;
    while (EaseHighlight(v, 1.0f, 1.0f / 60) && frames < 1000) {
        EXPECT_GT(1.0f - v, kHighlightSettled);
        ++frames;
    }
    EXPECT_EQ(v, 1.0f);
    EXPECT_GT(frames, 10) << "eases over several frames at 12 per second";
    EXPECT_LT(frames, 60);
    EXPECT_FALSE(EaseHighlight(v, 1.0f, 1.0f / 60));
    EXPECT_FLOAT_EQ(ExportBarFill(0.5f), 60.0f);
    EXPECT_FLOAT_EQ(ExportBarFill(2.0f), kExportBarWidth);
    EXPECT_FLOAT_EQ(ExportBarFill(-1.0f), 0.0f);
}

// The export's line in a room: the longest that fits beside the bar, then
// the longest that fits alone, then the shortest cut by the one rule. The
// band hands the line to the footer when none fits whole.
TEST(BandTexts, TheExportsLineIsTheLongestThatFitsItsRoom) {
    const std::vector<std::string> lines = {"Tessaloom closes when the export ends \u2014 Exporting mix... 81%",
                                            "Closes when the export ends \u2014 81%"};
    auto width = [](const std::string& text) { return 7.0f * float(CodePointCount(text)); };
    const float longest = width(lines[0]), shortest = width(lines[1]), bar = kExportBarWidth + 5;

    ExportLineChoice c = ChooseExportLine(lines, longest + bar, bar, width);
    EXPECT_EQ(c.text, lines[0]);
    EXPECT_TRUE(c.withBar && c.whole);
    c = ChooseExportLine(lines, longest, bar, width);
    EXPECT_EQ(c.text, lines[1]) << "the short line with its bar rather than the long one alone";
    EXPECT_TRUE(c.withBar);
    c = ChooseExportLine(lines, longest, 0, width);
    EXPECT_EQ(c.text, lines[0]) << "no share known: no bar to make room for";
    EXPECT_FALSE(c.withBar);
    c = ChooseExportLine(lines, shortest + 10, bar, width);
    EXPECT_EQ(c.text, lines[1]);
    EXPECT_TRUE(c.whole && !c.withBar);

    c = ChooseExportLine(lines, shortest - 1, bar, width);
    EXPECT_FALSE(c.whole);
    EXPECT_EQ(c.text, "Closes when the export ends \u2014 8\u2026");
    EXPECT_LE(width(c.text), shortest - 1);
    EXPECT_EQ(ChooseExportLine(lines, 3, bar, width).text, "") << "not even the \u2026";
    EXPECT_EQ(ChooseExportLine({}, 500, bar, width).text, "");
}

TEST(TransportActions, PlayStopStepAndTheStopAtTheProjectsEnd) {
    Doc doc(2);
    AppState& app = *doc.app;
    AudioEngine& engine = *doc.engine;
    engine.sampleRate = 48000;
    engine.cacheReady = 1;  // the voices are built: the engine takes the transport
    app.currentTime = 2.0f;

    ExecuteCommand(doc.Commands(), kCommandPlayStop);
    EXPECT_TRUE(app.playing);
    EXPECT_EQ(engine.playing.load(), 1);
    EXPECT_EQ(engine.position.load(), 96000) << "the engine starts at the playhead";

    // The playhead follows the engine's clock.
    engine.position = 48000 * 3;
    SyncPlaybackAndPicture(doc.Transport());
    EXPECT_FLOAT_EQ(app.currentTime, 3.0f);

    ExecuteCommand(doc.Commands(), kCommandPlayStop);
    EXPECT_FALSE(app.playing);
    EXPECT_EQ(engine.playing.load(), 0);
    engine.position = 48000 * 5;
    SyncPlaybackAndPicture(doc.Transport());
    EXPECT_FLOAT_EQ(app.currentTime, 3.0f) << "a paused playhead stays";

    StepTransport(doc.Transport(), 1);
    EXPECT_FLOAT_EQ(app.currentTime, 3.04f);
    EXPECT_NEAR(double(engine.position.load()), 3.04 * 48000, 1.0);
    StepTransport(doc.Transport(), -1000);
    EXPECT_FLOAT_EQ(app.currentTime, 0.0f);
    app.currentTime = 9.99f;
    StepTransport(doc.Transport(), 5);
    EXPECT_FLOAT_EQ(app.currentTime, 10.0f) << "kept within the project";

    ExecuteCommand(doc.Commands(), kCommandPlayStop);
    StopTransport(doc.Transport());
    EXPECT_FALSE(app.playing);
    EXPECT_EQ(app.currentTime, 0.0f);
    EXPECT_EQ(engine.position.load(), 0);

    // Reaching the end stops playback and returns to the start.
    app.currentTime = 9.0f;
    ExecuteCommand(doc.Commands(), kCommandPlayStop);
    engine.position = 48000 * 10 + 100;
    SyncPlaybackAndPicture(doc.Transport());
    EXPECT_FALSE(app.playing);
    EXPECT_EQ(engine.playing.load(), 0);
    EXPECT_EQ(app.currentTime, 0.0f);
    EXPECT_EQ(engine.position.load(), 0);
}

// Play and pause, a nudge, the stop button and the project's end each stop
// the whole transport: both flags cleared and the picture paused with them.
TEST(TransportActions, EveryStopClearsBothFlagsAndPausesThePicture) {
    TempDir dir;
    TestVideoSpec spec;
    spec.seconds = 4;
    spec.width = 64;
    spec.height = 36;
    ASSERT_TRUE(MakeTestVideo(dir.File("reel.mp4"), spec));
    auto video = std::make_unique<VideoPlayer>();
    ASSERT_TRUE(LoadReferenceVideo(*video, dir.File("reel.mp4")));
    Doc doc(2);
    AppState& app = *doc.app;
    AudioEngine& engine = *doc.engine;
    engine.sampleRate = 48000;
    auto play = [&](float at) {
        app.currentTime = at;
        ExecuteCommand(doc.Commands(video.get()), kCommandPlayStop);
        ASSERT_TRUE(app.playing);
        ASSERT_EQ(engine.playing.load(), 1);
        ASSERT_TRUE(video->playing) << "inside the picture's span it plays";
    };
    auto expectStopped = [&](const char* how) {
        EXPECT_FALSE(app.playing) << how;
        EXPECT_EQ(engine.playing.load(), 0) << how;
        EXPECT_FALSE(video->playing) << how;
        EXPECT_EQ(engine.position.load(), int64_t(double(app.currentTime) * 48000)) << how;
    };

    play(1.0f);
    ExecuteCommand(doc.Commands(video.get()), kCommandPlayStop);
    expectStopped("pause");
    play(1.0f);
    ExecuteCommand(doc.Commands(video.get()), kCommandNudgeForward);
    expectStopped("nudge");
    EXPECT_FLOAT_EQ(app.currentTime, 1.04f);
    play(2.0f);
    StopTransport(doc.Transport(video.get()));
    expectStopped("stop button");
    EXPECT_EQ(app.currentTime, 0.0f);
    play(3.0f);
    engine.position = 48000 * 10 + 100;
    SyncPlaybackAndPicture(doc.Transport(video.get()));
    expectStopped("the project's end");
    EXPECT_EQ(app.currentTime, 0.0f);

    // Outside the picture's span playback runs and the picture waits.
    app.currentTime = 6.0f;
    ExecuteCommand(doc.Commands(video.get()), kCommandPlayStop);
    EXPECT_TRUE(app.playing);
    EXPECT_FALSE(video->playing);
    CloseReferenceVideo(*video);
}

TEST(VideoTexture, UploadsOnlyNewPicturesAndReusesTheTextureOfTheSameSize) {
    NullFrameBackend backend(640, 360);
    FrameDriver frames;
    frames.backend = &backend;
    auto player = std::make_unique<VideoPlayer>();
    VideoTextureState tex;

    SyncVideoTexture(tex, frames, *player);
    EXPECT_EQ(tex.texture, nullptr) << "no video, no texture";
    EXPECT_FALSE(LayoutVideoFor(tex, *player).hasVideo);

    auto show = [&](int w, int h, uint64_t counter) {
        player->loaded = true;
        player->shown.width = w;
        player->shown.height = h;
        player->shown.rgba.assign(size_t(w) * h * 4, 128);
        player->shown.counter = counter;
    };
    show(32, 18, 1);
    frames.presentRequested = false;
    SyncVideoTexture(tex, frames, *player);
    ASSERT_NE(tex.texture, nullptr);
    EXPECT_TRUE(frames.presentRequested) << "a new picture under the same handle must be presented";
    const TextureHandle first = tex.texture;
    LayoutVideo layout = LayoutVideoFor(tex, *player);
    EXPECT_TRUE(layout.hasVideo);
    EXPECT_EQ(layout.pixelWidth, 32);

    SyncVideoTexture(tex, frames, *player);
    EXPECT_EQ(tex.uploads, 1) << "the same picture is not uploaded again";

    show(32, 18, 2);
    SyncVideoTexture(tex, frames, *player);
    EXPECT_EQ(tex.texture, first);
    EXPECT_EQ(backend.textureUpdates, 1);

    show(64, 36, 3);
    SyncVideoTexture(tex, frames, *player);
    EXPECT_NE(tex.texture, nullptr);
    EXPECT_EQ(backend.liveTextures.size(), 1u) << "the old size's texture is released";
    EXPECT_EQ(tex.width, 64);

    player->loaded = false;
    SyncVideoTexture(tex, frames, *player);
    EXPECT_EQ(tex.texture, nullptr);
    EXPECT_TRUE(backend.liveTextures.empty());
    player->shown = VideoPicture{};
}

// ---------------------------------------------------------------------------
// The band itself with a scripted mouse, on the program's objects
// ---------------------------------------------------------------------------

namespace {

class TransportBandWidget : public testing::Test {
protected:
    void SetUp() override {
        layout = ComputeUILayout(gui.width, gui.height, 18, false, LayoutVideo{});
        Reset();
    }
    void TearDown() override { Reset(); }
    static void Reset() {
        gProject.events.clear();
        gSoundLibrary.libraries.clear();
        gAppState.undoHistory = UndoHistory{};
        gAppState.renderRequestKind = 0;
        gAudioEngine.masterGain = 1.0f;
    }
    void Step(float x, float y, bool left, bool right = false) {
        gui.MoveMouse(x, y);
        gui.SetButton(0, left);
        gui.SetButton(1, right);
        gui.Frame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(layout.displayWidth, layout.transportHeight));
        ImGui::Begin("##transport", nullptr, ImGuiWindowFlags_NoDecoration);
        DrawTransportBand(gAppState, layout);
        ImGui::End();
        gui.EndFrame();
    }
    ImVec2 Centre(const char* key) {
        const BandRect& r = gBands.rects[key];
        return ImVec2(r.x + r.width / 2, r.y + r.height / 2);
    }

    HeadlessGui gui;
    UILayout layout;
};

}  // namespace

TEST_F(TransportBandWidget, TrimDragsByPointsAndADoubleClickResetsIt) {
    gAudioEngine.masterGain = 0.5f;
    Step(0, 0, false);
    const ImVec2 c = Centre("masterTr");
    // Pressed inside the trim, let go 100 points to the right (past its end).
    const float x0 = gBands.rects["masterTr"].x + 2;
    Step(x0, c.y, false);
    Step(x0, c.y, true);
    for (int i = 1; i <= 4; ++i) Step(x0 + 25.0f * float(i), c.y, true);
    Step(x0 + 100, c.y, false);
    EXPECT_NEAR(gAudioEngine.masterGain.load(), 1.3f, 1e-4f) << "100 points add 0.8";

    for (int i = 0; i < 2; ++i) {
        Step(c.x, c.y, true);
        Step(c.x, c.y, false);
    }
    EXPECT_FLOAT_EQ(gAudioEngine.masterGain.load(), 1.0f);
}

TEST_F(TransportBandWidget, RightClickOnADisabledRenderDoesNothing) {
    gSoundLibrary.libraries.emplace_back();
    AddEvent(gProject, 1.0f, kShapeSpot, 0.5f);
    gProject.events.back().locked = true;
    Step(0, 0, false);
    EXPECT_EQ(gBands.renderLabel, "Render");
    EXPECT_FALSE(gBands.renderEnabled);
    const ImVec2 c = Centre("render");
    Step(c.x, c.y, false);
    Step(c.x, c.y, false, true);
    Step(c.x, c.y, false, false);
    EXPECT_EQ(gAppState.renderRequestKind, 0);
    EXPECT_TRUE(gAppState.undoHistory.undo.empty());

    gProject.events.back().locked = false;
    Step(c.x, c.y, false, true);
    Step(c.x, c.y, false, false);
    EXPECT_EQ(gAppState.renderRequestKind, 2);
    EXPECT_EQ(gAppState.undoHistory.undo.size(), 1u);
}
