// The Trace tab's decisions: the automatic start and the worker slot, the
// views and pills, folder names, the marker import, the import of accepted
// items with their gains and recipes, undo, and the preview hand-over.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <thread>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/document_context.h"
#include "operations/trace_job.h"
#include "operations/undo.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "recipes/event_preset.h"
#include "support/temp_dir.h"
#include "ui/trace_panel_logic.h"
#include "ui/trace_view_logic.h"

namespace {

struct TraceRig {
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    TracePanelState panel;
    std::vector<EventPreset> recipes;
    TraceRig() {
        ResetEngineVoices(*engine, 48000, 0);
        project->totalDuration = 10;
        project->fps = 25;
        app->opticalDetail = 0.5f;
    }
    DocumentContext Ctx() { return MakeDocumentContext(*project, *library, *engine, *app); }

    // A present trace at 10 frames a second whose composite is `peak` at the
    // frames listed and 0.05 elsewhere.
    void MakeTrace(float seconds, std::initializer_list<std::pair<int, float>> peaks) {
        OpticalTrace& t = app->opticalTrace;
        t.fps = 10;
        t.duration = seconds;
        t.frames.assign(size_t(seconds * 10) + 2, TraceFrame{});
        for (size_t i = 0; i < t.frames.size(); ++i) {
            t.frames[i].time = float(i) / 10;
            t.frames[i].composite = 0.05f;
        }
        for (auto [i, v] : peaks) t.frames[size_t(i)].composite = v;
        t.analysedCount.store(int32_t(t.frames.size()));
        t.present.store(true);
    }
    SuggestedEvent& Suggest(float time, float confidence = 0.9f, bool accepted = true) {
        SuggestedEvent s;
        s.time = time;
        s.confidence = confidence;
        s.suggestedDuration = 0.8f;
        s.suggestedSyncOffset = 0.2f;
        s.suggestedWeightCenter = 0.6f;
        s.suggestedSpread = 0.25f;
        s.accepted = accepted;
        app->opticalTrace.suggestions.push_back(s);
        return app->opticalTrace.suggestions.back();
    }
    MarkerEvent& Mark(float time) {
        MarkerEvent m;
        m.time = time;
        m.duration = 2;
        app->importedMarkers.push_back(m);
        return app->importedMarkers.back();
    }
    EventPreset& Recipe(const char* name, int shape) {
        EventPreset r;
        CopyTextField(r.name, name);
        r.shape = shape;
        recipes.push_back(r);
        return recipes.back();
    }
};

// The fake worker of the start tests: it ends when released, as a trace
// that read nothing would, clearing the running flag last.
std::atomic<AppState*> gFakeTraceApp{nullptr};
std::atomic<bool> gFakeTraceRelease{false};
void EndingLauncher(std::thread& slot, std::function<void()>) {
    slot = std::thread([] {
        while (!gFakeTraceRelease.load()) std::this_thread::yield();
        gFakeTraceApp.load()->traceRunning.store(false);
    });
}

struct LauncherGuard {
    explicit LauncherGuard(AppState& app) : app(app) {
        gFakeTraceApp.store(&app);
        gFakeTraceRelease.store(false);
        observer.traceLauncher = &EndingLauncher;
        app.observer = &observer;
    }
    ~LauncherGuard() { app.observer = nullptr; }
    AppState& app;
    JobObserver observer;
};

}  // namespace

TEST(TracePanelStart, WaitsForAQueuedTaskAndJoinsAnEndedWorkerBeforeReusingTheSlot) {
    TraceRig rig;
    LauncherGuard launcher(*rig.app);
    VideoPlayer player;
    player.loaded = true;
    player.path = "/nowhere/fake.mp4";
    player.duration = 4;

    // A busy task is queued: nothing starts.
    rig.app->busyTask.busy.store(true);
    TracePanelFrameStart(*rig.app, *rig.project, player, rig.panel);
    EXPECT_FALSE(rig.app->traceRunning.load());
    EXPECT_FALSE(rig.app->busyTask.worker.joinable());
    EXPECT_EQ(ChooseTraceView(*rig.app), TraceView::Nothing);

    // The task ended but its finished thread still sits in the slot:
    // assigning over it would end the process, so it is joined first.
    rig.app->busyTask.busy.store(false);
    rig.app->busyTask.worker = std::thread([] {});
    rig.app->hoveredTraceItem = {kTraceListPicture, 3};
    TracePanelFrameStart(*rig.app, *rig.project, player, rig.panel);
    EXPECT_EQ(rig.app->hoveredTraceItem.list, -1);
    EXPECT_TRUE(rig.app->busyTask.workerIsTrace);
    EXPECT_EQ(ChooseTraceView(*rig.app), TraceView::Reading);
    EXPECT_EQ(rig.app->opticalTrace.frames.size(), 42u);  // sized before the worker runs
    // Running: not joined.
    TracePanelFrameStart(*rig.app, *rig.project, player, rig.panel);
    EXPECT_TRUE(rig.app->busyTask.worker.joinable());

    // The fake trace ends; a later frame joins it and the slot is free.
    gFakeTraceRelease.store(true);
    while (rig.app->traceRunning.load()) std::this_thread::yield();
    rig.app->opticalTrace.present.store(true);  // the worker's result
    TracePanelFrameStart(*rig.app, *rig.project, player, rig.panel);
    EXPECT_FALSE(rig.app->busyTask.worker.joinable());
    EXPECT_EQ(ChooseTraceView(*rig.app), TraceView::NoResult);
}

TEST(TracePanelViews, ViewsCountsAndPillsKeepOneSourceVisible) {
    TraceRig rig;
    EXPECT_EQ(ChooseTraceView(*rig.app), TraceView::Nothing);
    rig.app->traceRunning.store(true);
    EXPECT_EQ(ChooseTraceView(*rig.app), TraceView::Reading);
    rig.app->traceRunning.store(false);

    // A present trace whose suggestions all fall under the line, or are scenes.
    rig.MakeTrace(10, {});
    rig.Suggest(1, 0.05f);
    rig.Suggest(2).type = 2;
    EXPECT_EQ(ChooseTraceView(*rig.app), TraceView::NoResult);
    EXPECT_EQ(CountTraceItems(*rig.app).accepted, 0);

    rig.Suggest(3);
    rig.Suggest(4, 0.9f, false);
    EXPECT_EQ(ChooseTraceView(*rig.app), TraceView::Data);
    TraceCounts c = CountTraceItems(*rig.app);
    EXPECT_EQ(c.visiblePicture, 2);
    EXPECT_EQ(c.accepted, 1);
    EXPECT_EQ(CountBoxLines(c).count, "2  events");
    // One source alone: its pill neither hides nor has a tooltip.
    EXPECT_EQ(PlanTracePill(*rig.app, true, TracePill::Picture).tooltip, nullptr);
    EXPECT_STREQ(PlanTracePill(*rig.app, true, TracePill::Markers).tooltip, "Import Pro Tools session text markers");
    EXPECT_EQ(ClickTracePill(*rig.app, true, TracePill::Picture), TracePillAction::None);
    EXPECT_EQ(rig.app->traceSourceFilter, -1);

    rig.Mark(5);
    rig.Mark(6).accepted = false;
    c = CountTraceItems(*rig.app);
    EXPECT_EQ(c.items, 4);
    EXPECT_EQ(c.accepted, 2);
    EXPECT_EQ(CountBoxLines(c).count, "4  events");
    // Hide the picture; then hiding the markers too is refused.
    EXPECT_STREQ(PlanTracePill(*rig.app, true, TracePill::Picture).tooltip, "Hide picture events");
    ClickTracePill(*rig.app, true, TracePill::Picture);
    EXPECT_EQ(rig.app->traceSourceFilter, 1);
    EXPECT_EQ(CountTraceItems(*rig.app).accepted, 1);
    ClickTracePill(*rig.app, true, TracePill::Markers);
    EXPECT_EQ(rig.app->traceSourceFilter, 1);
    EXPECT_STREQ(PlanTracePill(*rig.app, true, TracePill::Picture).tooltip, "Show picture events");
    ClickTracePill(*rig.app, true, TracePill::Picture);
    EXPECT_EQ(rig.app->traceSourceFilter, -1);

    // Markers alone.
    rig.app->traceSourceFilter = 0;
    ClearPictureSource(*rig.app);
    EXPECT_EQ(rig.app->traceSourceFilter, -1);
    c = CountTraceItems(*rig.app);
    EXPECT_EQ(CountBoxLines(c).count, "2  markers imported");
    EXPECT_EQ(CountBoxLines(c).detail, "from Pro Tools \xC2\xB7 review on the timeline");
    EXPECT_STREQ(PlanTracePill(*rig.app, false, TracePill::Picture).tooltip, "Load a video to read light and motion");
    EXPECT_EQ(ClickTracePill(*rig.app, false, TracePill::Picture), TracePillAction::ChooseVideo);
    ClearMarkerSource(*rig.app, *rig.project);
    EXPECT_EQ(ChooseTraceView(*rig.app), TraceView::Nothing);
}

TEST(TracePanelImport, FolderNamesNeverRepeat) {
    EXPECT_EQ(MarkerFolderName("/a/b.c/Reel.final.txt"), "Markers: Reel.final");
    EXPECT_EQ(MarkerFolderName("C:\\cues\\Reel.final.txt"), "Markers: Reel.final");
    EXPECT_EQ(MarkerFolderName(""), "Markers");

    TraceRig rig;
    EXPECT_EQ(NextPictureImportFolder(*rig.project), "Picture: Import 1");
    Event e;
    CopyTextField(e.folder, "Picture: Import 2");
    rig.project->events.push_back(e);
    // One folder counted, but "2" is taken: the next unused number.
    EXPECT_EQ(NextPictureImportFolder(*rig.project), "Picture: Import 3");
}

TEST(TracePanelImport, SpotGainsCurvesRecipesDurationAndOneUndoStep) {
    TraceRig rig;
    rig.MakeTrace(10, {{20, 0.8f}, {50, 0.4f}, {51, 0.2f}});
    rig.Suggest(2.0f);                // local peak 0.8: the norm
    rig.Suggest(5.05f);               // frames 50 and 51 within ±0.15 s: peak 0.4
    CopyTextField(rig.Suggest(8.0f).presetName, "Door");  // peak 0.05 → gain floor
    rig.Suggest(9.0f, 0.9f, false);   // not accepted
    rig.Recipe("Whoosh", kShapeSpot).weightCenter = 0.7f;
    CopyTextField(rig.Recipe("Door", kShapeSpot).keywords, "door slam");
    ChooseTraceRecipe(*rig.app, rig.panel, rig.recipes, 0);
    EXPECT_FLOAT_EQ(rig.app->opticalTrace.suggestions[0].suggestedWeightCenter, 0.7f);
    EXPECT_FLOAT_EQ(rig.app->opticalTrace.suggestions[3].suggestedWeightCenter, 0.6f);  // not accepted

    const Project before = *rig.project;
    ASSERT_EQ(ImportAcceptedTraceItems(rig.Ctx(), rig.panel, rig.recipes, 1.0f), 3);
    ASSERT_EQ(rig.project->events.size(), 3u);
    const Event& a = rig.project->events[0];
    EXPECT_FLOAT_EQ(a.time, 3.0f);  // the video's start offset added
    EXPECT_STREQ(a.folder, "Picture: Import 1");
    EXPECT_FLOAT_EQ(a.gain, 1.0f);
    EXPECT_FLOAT_EQ(rig.project->events[1].gain, 0.5f);
    EXPECT_FLOAT_EQ(rig.project->events[2].gain, 0.1f);
    ASSERT_TRUE(a.hasTraceGain);
    EXPECT_FLOAT_EQ(*std::max_element(a.traceGain.begin(), a.traceGain.end()), 1.0f);
    EXPECT_FLOAT_EQ(a.traceGain[0], 0.05f / 0.8f);  // 1.8 s, before the peak
    EXPECT_STREQ(a.presetName, "Whoosh");
    // The suggestion's own preset name beats the chosen recipe.
    EXPECT_STREQ(rig.project->events[2].presetName, "Door");
    EXPECT_STREQ(rig.project->events[2].keywords, "door slam");
    // Ends 1 s past the latest event's end (the recipe set the durations).
    float latest = 0;
    for (const Event& e : rig.project->events) latest = std::max(latest, e.time - e.syncOffset + e.duration);
    EXPECT_GT(latest, 10.0f);
    EXPECT_FLOAT_EQ(rig.project->totalDuration, latest + 1);
    EXPECT_EQ(rig.app->savedViewStart, -1);

    // A second import makes its own folder.
    ASSERT_EQ(ImportAcceptedTraceItems(rig.Ctx(), rig.panel, rig.recipes, 1.0f), 3);
    EXPECT_STREQ(rig.project->events[3].folder, "Picture: Import 2");

    ASSERT_TRUE(Undo(rig.Ctx()));
    ASSERT_TRUE(Undo(rig.Ctx()));
    EXPECT_EQ(rig.project->events.size(), before.events.size());
    EXPECT_FLOAT_EQ(rig.project->totalDuration, before.totalDuration);  // the length it grew goes too
    EXPECT_FALSE(Undo(rig.Ctx()));
}

TEST(TracePanelImport, BloomMarkersScenesWorkAreaAndNothingToImport) {
    TraceRig rig;
    // Nothing accepted: no event, no undo step.
    rig.MakeTrace(10, {});
    rig.Suggest(1, 0.9f, false);
    EXPECT_EQ(ImportAcceptedTraceItems(rig.Ctx(), rig.panel, rig.recipes, 0), 0);
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());

    SuggestedEvent& s = rig.Suggest(2);
    s.hasIntensityCurve = true;
    for (size_t i = 0; i < 256; ++i) s.intensityCurve[i] = float(i) / 255;
    rig.Suggest(7);  // outside the work area
    rig.Mark(3).syncRatio = 0.25f;
    rig.Mark(8);     // outside
    rig.app->markerFilePath = "/cues/Reel.final.txt";
    MarkerScene scene;
    scene.time = 12;  // past the project's end before the import
    CopyTextField(scene.name, "Dock");
    rig.app->importedMarkerScenes.push_back(scene);
    scene.time = 1;
    CopyTextField(scene.name, "Open");
    rig.app->importedMarkerScenes.push_back(scene);
    rig.app->workAreaIn = 1;
    rig.app->workAreaOut = 5;
    ChooseTraceRecipe(*rig.app, rig.panel, rig.recipes, 5);  // past the list: none
    EXPECT_EQ(rig.panel.recipeIndex, -1);
    rig.Recipe("Swell", kShapeBloom);
    ChooseTraceRecipe(*rig.app, rig.panel, rig.recipes, 0);
    // "(none)" keeps the Bloom shape but applies no recipe over the curves.
    ChooseTraceRecipe(*rig.app, rig.panel, rig.recipes, -1);
    ASSERT_TRUE(rig.panel.recipeNonSpot);

    ASSERT_EQ(ImportAcceptedTraceItems(rig.Ctx(), rig.panel, rig.recipes, 0), 2);
    const Event& pic = rig.project->events[0];
    EXPECT_EQ(pic.shape, kShapeBloom);
    EXPECT_FALSE(pic.hasTraceGain);
    EXPECT_FLOAT_EQ(pic.intensity[255], 1.0f);
    EXPECT_FLOAT_EQ(pic.intensity[51], 0.2f);
    const Event& mk = rig.project->events[1];
    EXPECT_STREQ(mk.folder, "Markers: Reel.final");
    EXPECT_FLOAT_EQ(mk.time, 3);
    EXPECT_FLOAT_EQ(mk.syncOffset, 0.5f);
    // The scenes are sorted and inserted; the last ends at the grown duration
    // and every one lasts at least a frame.
    ASSERT_EQ(rig.project->scenes.size(), 2u);
    EXPECT_STREQ(rig.project->scenes[0].name, "Open");
    EXPECT_FLOAT_EQ(rig.project->scenes[0].outTime, 12);
    EXPECT_GE(rig.project->scenes[1].outTime, rig.project->scenes[1].inTime + 1.0f / 25 - 1e-5f);
    EXPECT_TRUE(rig.app->importedMarkerScenes.empty());
    ASSERT_TRUE(Undo(rig.Ctx()));
    EXPECT_TRUE(rig.project->scenes.empty());
    EXPECT_TRUE(rig.project->events.empty());
}

TEST(TracePanelImport, QueuedReviewImportTakesTheListedItemsOnly) {
    TraceRig rig;
    rig.MakeTrace(10, {});
    rig.Suggest(1, 0.01f);  // under the line, listed: still imported
    rig.Suggest(2);
    rig.Suggest(3, 0.9f, false);
    rig.Mark(4);
    rig.app->traceReviewImport.picture = {0, 2, 9};
    rig.app->traceReviewImport.markers = {0};
    rig.app->traceImportRequest = true;
    EXPECT_EQ(RunQueuedReviewImport(rig.Ctx(), rig.panel, rig.recipes, 0), 2);
    EXPECT_FALSE(rig.app->traceImportRequest);
    EXPECT_FLOAT_EQ(rig.project->events[0].time, 1);
    EXPECT_STREQ(rig.project->events[1].folder, "Markers");
    EXPECT_EQ(RunQueuedReviewImport(rig.Ctx(), rig.panel, rig.recipes, 0), 0);
}

// Ctrl+A then ";" import what the panel's button offers, whatever the
// threshold, the scene beds or the source filter; a suggestion the line hid
// after it was selected is not imported unseen.
TEST(TracePanelImport, SelectAllThenApplyImportsWhatThePanelCounts) {
    TraceRig rig;
    rig.MakeTrace(20, {});
    rig.app->opticalDetail = 0.35f;  // the line at 0.359
    for (int i = 0; i < 12; ++i) rig.Suggest(1.0f + i, i < 5 ? 0.5f : 0.2f);  // 7 under the line
    rig.Suggest(14, 0.9f, false);
    rig.Suggest(15, 0.95f).type = 2;  // a scene bed
    rig.Mark(16);
    rig.Mark(17).accepted = false;
    for (const int filter : {-1, 0, 1}) {
        rig.app->traceSourceFilter = filter;
        const int offered = CountTraceItems(*rig.app).accepted;
        SelectAllTraceSuggestions(*rig.app);
        ASSERT_TRUE(QueueTraceReviewImport(*rig.app));
        EXPECT_EQ(RunQueuedReviewImport(rig.Ctx(), rig.panel, rig.recipes, 0), offered) << filter;
        EXPECT_EQ(offered, filter == -1 ? 6 : filter == 0 ? 5 : 1);
    }
    rig.app->traceSourceFilter = 0;
    SelectAllTraceSuggestions(*rig.app);
    rig.app->opticalDetail = 0.1f;  // the line at 0.69
    ASSERT_TRUE(QueueTraceReviewImport(*rig.app));  // the switched-off one still shows
    EXPECT_EQ(RunQueuedReviewImport(rig.Ctx(), rig.panel, rig.recipes, 0), 0);
}

TEST(TracePanelGains, FewFramesOrNoRateGiveAFlatCurve) {
    OpticalTrace trace;
    Curve256 curve;
    trace.frames.assign(1, TraceFrame{});
    trace.present.store(true);
    TraceGainCurve(trace, 1, 0, 1, curve);
    EXPECT_FLOAT_EQ(curve[100], 1.0f);
    trace.frames.assign(50, TraceFrame{});
    trace.fps = 0;
    TraceGainCurve(trace, 1, 0, 1, curve);
    EXPECT_FLOAT_EQ(curve[200], 1.0f);
    EXPECT_EQ(TraceLocalPeak(trace, 1), 0.0f);
}

TEST(TracePanelMarkers, UnreadableFileToastsAndKeepsTheNothingView) {
    TraceRig rig;
    EXPECT_FALSE(ImportMarkerFile(*rig.app, *rig.project, "/nowhere/cues.txt", {}));
    EXPECT_FALSE(rig.app->toastText.empty());
    EXPECT_EQ(ChooseTraceView(*rig.app), TraceView::Nothing);

    const std::string fixture = std::string(TL_SHARED_DIR) + "/fixtures/session-text/markers-rulers-and-tracks.txt";
    rig.app->traceSourceFilter = 0;
    ASSERT_TRUE(ImportMarkerFile(*rig.app, *rig.project, fixture, {}));
    EXPECT_EQ(rig.app->importedMarkers.size(), 7u);
    EXPECT_EQ(rig.app->traceSourceFilter, -1);
    EXPECT_EQ(CountBoxLines(CountTraceItems(*rig.app)).count, "7  markers imported");
    EXPECT_EQ(ImportAcceptedTraceItems(rig.Ctx(), rig.panel, rig.recipes, 0), 7);
    EXPECT_STREQ(rig.project->events[6].folder, "Markers: markers-rulers-and-tracks");
}

TEST(TracePanelPreview, ReadsAnyChannelCountAndTogglesBesideTheAudioThread) {
    TempDir dir;
    const std::string path = dir.File("p_preview.wav");
    SF_INFO info{};
    info.samplerate = 24000;
    info.channels = 3;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> frames(3 * 2400);
    for (size_t i = 0; i < 2400; ++i) {
        frames[3 * i] = 0.3f;
        frames[3 * i + 1] = 0.6f;
        frames[3 * i + 2] = 0;
    }
    sf_writef_float(f, frames.data(), 2400);
    sf_close(f);

    std::vector<float> mono;
    int rate = 0;
    ASSERT_TRUE(ReadPreviewMono(path, mono, rate, 1000));
    EXPECT_EQ(mono.size(), 1000u);  // the cap
    EXPECT_NEAR(mono[10], 0.3f, 1e-6);
    EXPECT_EQ(rate, 24000);
    EXPECT_FALSE(ReadPreviewMono(dir.File("none.wav"), mono, rate));

    auto engine = std::make_unique<AudioEngine>();
    ResetEngineVoices(*engine, 48000, 0);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> l(256), r(256);
        while (!stop.load()) MixAudioBlock(*engine, l.data(), r.data(), 256);
    });
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(StartTracePreview(*engine, path));
        EXPECT_EQ(engine->auditionLength.load(), 4800);  // 0.1 s at the output rate
        StopAuditionSound(*engine);
        EXPECT_FALSE(AuditionSoundPlaying(*engine));
    }
    stop.store(true);
    audio.join();
}
