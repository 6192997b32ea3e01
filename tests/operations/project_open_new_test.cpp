// Opening a project replaces the document and the state around it (settings,
// libraries, video, voices rebuilt in the background) and reopens the output
// at the project's rate; a new project leaves no voice, cache, gain or lock
// behind; neither lets a mixing audio thread read a freed event.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "document/busy_task.h"
#include "document/event.h"
#include "library/file_caches.h"
#include "library/file_registry.h"
#include "operations/project_disk.h"
#include "operations/project_lifecycle.h"
#include "operations/voice_streaming.h"
#include "operations/voice_sync.h"
#include "platform/fake_audio_backend.h"
#include "playback/audio_output.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"
#include "render/alloy_morph.h"
#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"
#include "support/lifecycle_rig.h"

namespace fs = std::filesystem;

namespace {

// A rendered document: `events` Spots, the first with a layer of `sound`.
Project RenderedDocument(int events, const std::string& sound) {
    Project doc = SpotDocument(events);
    RenderResult r;
    r.eventIdx = 0;
    r.filepath = sound;
    r.fileId = FileRegistry::Instance().FileRefForPath(sound).id;
    r.name = "tone";
    r.sourceDuration = 0.5f;
    r.duration = 0.5f;
    r.startTime = 1;
    doc.results.push_back(r);
    doc.rendered = true;
    return doc;
}

std::string WriteTone(const std::string& path) {
    AudioSpec spec;
    spec.seconds = 0.5;
    EXPECT_TRUE(WriteTestAudio(path, spec));
    return path;
}

// One voice per event, reading that event's intensity curve while it mixes.
void InstallCurveVoices(AudioEngine& engine, Project& project) {
    ResetEngineVoices(engine, engine.sampleRate.load(), 0);
    for (size_t i = 0; i < project.events.size(); ++i) {
        PlaybackVoice v;
        v.left.assign(4800, 0.05f);
        v.sampleCount = 4800;
        v.length = 0.1f;
        v.eventIndex = static_cast<int32_t>(i);
        v.resultIndex = -1;
        v.intensityCurve = project.events[i].intensity.data();
        v.intensityCount = 256;
        InstallPlaybackVoice(engine, std::move(v), 0.005f, 0.005f);
    }
    engine.cacheReady.store(1);
}

}  // namespace

TEST(ProjectOpen, TheFileReplacesTheDocumentAndTheStateAroundIt) {
    LifecycleRig rig;
    AppState& app = *rig.app;
    AudioEngine& engine = *rig.engine;
    FakeDialogs::Install(app);
    FakeDialogs::openAnswer = rig.File("chosen.mp4");

    const std::string libA = rig.File("libA"), libB = rig.File("libB");
    fs::create_directories(libA);
    fs::create_directories(libB);
    WriteTone(libA + "/a.wav");  // a scan of an empty folder makes no library
    WriteTone(libB + "/b.wav");
    const std::string sound = WriteTone(rig.File("tone.wav"));
    Project written = RenderedDocument(3, sound);
    Scene scene;
    scene.inTime = 1;
    scene.outTime = 2;
    written.scenes.push_back(scene);
    const std::string path = rig.File("Night/Night.tlproj");
    ASSERT_TRUE(WriteProjectAt(path, written, [&](ProjectSaveContext& s) {
        s.projectDescription = "Night scene";
        s.libraryPaths = {libA, rig.File("gone"), libB};
        s.videoPath = rig.File("gone.mp4");
        s.videoStartTime = 2.5f;
        s.workAreaIn = 2;
        s.workAreaOut = 4;
        s.gains = {0.5f, 0.6f, 0.7f, 0.8f, 0.9f};
        s.reverb.decay = 0.9f;
        s.exportSettings.exportWavClips = true;
        s.linkedGroups = {"Doors"};
    }));

    // What the previous project left behind.
    *rig.project = SpotDocument(1);
    app.undoHistory.undo.emplace_back();
    app.selectedEvent = 0;
    app.selectedEvents = {0};
    app.currentTime = 12;
    app.importedMarkers.emplace_back();
    app.renderRequestKind = 3;
    app.linkedGroups = {"old"};
    app.exportSettings.exportWavStems = true;
    engine.reverb.macro = 0.9f;

    ASSERT_TRUE(OpenProject(rig.ctx, path));
    EXPECT_EQ(rig.project->events.size(), 3u);
    EXPECT_TRUE(rig.project->rendered);
    EXPECT_EQ(rig.project->scenes.size(), 1u);
    EXPECT_TRUE(app.undoHistory.undo.empty());
    EXPECT_EQ(app.selectedEvent, -1);
    EXPECT_TRUE(app.selectedEvents.empty());
    EXPECT_EQ(app.currentTime, 0);
    EXPECT_FLOAT_EQ(app.viewDuration, rig.project->totalDuration);
    EXPECT_TRUE(app.importedMarkers.empty());
    EXPECT_EQ(app.renderRequestKind, 0);
    EXPECT_EQ(app.linkedGroups, (std::set<std::string>{"Doors"}));
    EXPECT_EQ(app.projectDescription, "Night scene");
    EXPECT_EQ(app.projectName, "Night");
    EXPECT_TRUE(app.exportSettings.exportWavClips);
    EXPECT_FALSE(app.exportSettings.exportWavStems);
    EXPECT_FLOAT_EQ(app.workAreaIn, 2);
    EXPECT_FLOAT_EQ(engine.masterGain.load(), 0.5f);
    EXPECT_FLOAT_EQ(engine.refGain.load(), 0.6f);
    EXPECT_FLOAT_EQ(engine.groupGain[2].load(), 0.9f);
    EXPECT_FLOAT_EQ(engine.reverb.decay.load(), 0.9f);
    EXPECT_FLOAT_EQ(engine.reverb.macro.load(), 0.9f);  // a preference, not in the file

    // The missing video was asked for; the chosen one loads on the next frame.
    ASSERT_FALSE(FakeDialogs::titles.empty());
    EXPECT_EQ(app.pendingVideoReloadPath, rig.File("chosen.mp4"));
    EXPECT_FLOAT_EQ(app.pendingVideoStartTime, 2.5f);
    EXPECT_EQ(app.toastText, "Opened (some files missing)");

    // Both existing library folders are scanned or waiting; a save keeps them,
    // also once the scan has finished.
    ProjectSaveContext save = FillProjectSaveContext(rig.ctx);
    EXPECT_NE(std::find(save.libraryPaths.begin(), save.libraryPaths.end(), libA), save.libraryPaths.end());
    EXPECT_NE(std::find(save.libraryPaths.begin(), save.libraryPaths.end(), libB), save.libraryPaths.end());
    while (rig.library->scanRunning.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    save = FillProjectSaveContext(rig.ctx);
    EXPECT_NE(std::find(save.libraryPaths.begin(), save.libraryPaths.end(), libA), save.libraryPaths.end());
    EXPECT_NE(std::find(save.libraryPaths.begin(), save.libraryPaths.end(), libB), save.libraryPaths.end());
    EXPECT_EQ(save.videoPath, rig.File("chosen.mp4"));

    EXPECT_EQ(app.recentProjects.front(), path);
    EXPECT_EQ(rig.preferencesSaved, 1);
    EXPECT_EQ(ReadWholeFile(path + ".lock"), "pid=" + std::to_string(::getpid()) + "\n");

    // The stored layers get their voices back in the background, without a render.
    EXPECT_TRUE(app.busyTask.busy.load());
    EXPECT_EQ(BusyStatusText(app.busyTask), "Loading audio...");
    ASSERT_TRUE(FinishBusyTask(app));
    EXPECT_EQ(engine.voices.size(), 1u);
}

TEST(ProjectOpen, AProjectAtAnotherRateReopensTheOutputAndKeepsPlaying) {
    LifecycleRig rig;
    AudioEngine& engine = *rig.engine;
    AudioOutput output;
    auto api = std::make_unique<FakeAudioBackend>();
    api->devices = {FakeAudioBackend::MakeDevice(0, "Interface", 2, {44100, 48000, 96000}, 48000)};
    FakeAudioBackend* fake = api.get();
    output.api = std::move(api);
    auto null = std::make_unique<FakeAudioBackend>();
    null->devices = {FakeAudioBackend::MakeDevice(0, "null", 2, {}, 0)};
    output.nullOutput = std::move(null);
    output.onEngineRateChange = [&engine](int32_t rate) { engine.sampleRate.store(rate); };
    OpenAudioOutput(output, nullptr, &engine.playing, 48000);
    rig.ctx.output = &output;
    engine.playing.store(1);

    const std::string path = rig.File("Fast/Fast.tlproj");
    ASSERT_TRUE(WriteProjectAt(path, SpotDocument(1), [](ProjectSaveContext& s) { s.projectSampleRate = 96000; }));
    ASSERT_TRUE(OpenProject(rig.ctx, path));
    EXPECT_EQ(rig.app->projectSampleRate, 96000);
    EXPECT_EQ(output.engineRate.load(), 96000);
    ASSERT_FALSE(fake->opens.empty());
    EXPECT_EQ(fake->opens.back().sampleRate, 96000u);
    EXPECT_EQ(engine.sampleRate.load(), 96000);
    EXPECT_EQ(engine.playing.load(), 1);

    // The same rate reopens nothing.
    const size_t opens = fake->opens.size();
    ASSERT_TRUE(OpenProject(rig.ctx, path));
    EXPECT_EQ(fake->opens.size(), opens);
    CloseAudioOutput(output);
}

TEST(ProjectNew, LeavesNoVoiceCacheGainOrLockAndKeepsTheSettings) {
    LifecycleRig rig;
    AppState& app = *rig.app;
    AudioEngine& engine = *rig.engine;
    const std::string sound = WriteTone(rig.File("tone.wav"));
    *rig.project = RenderedDocument(2, sound);
    Project& doc = *rig.project;
    doc.scaleType = 5;
    doc.totalDuration = 90;
    doc.fps = 30;
    doc.startTC = 3600;
    doc.bannedFiles = {rig.File("banned.wav")};
    doc.bannedFileIds = {"00112233445566aa"};
    doc.userShapes.emplace_back();
    doc.scenes.emplace_back();
    ASSERT_TRUE(SaveProject(rig.ctx, rig.File("Old/Old.tlproj")));
    app.modified = true;
    app.undoHistory.undo.emplace_back();
    InstallCurveVoices(engine, doc);
    engine.playing.store(1);
    app.playing = true;
    engine.masterGain.store(0.5f);
    engine.groupGain[1].store(0.25f);
    app.workAreaIn = 3;
    std::vector<float> left, right;
    int rate = 0;
    bool stereo = false;
    ASSERT_TRUE(LoadProcessedClip(sound, 0, 0.5f, 48000, false, left, right, rate, stereo));
    ASSERT_NE(GetWaveformPeaks(sound.c_str()), nullptr);

    ASSERT_TRUE(NewProject(rig.ctx));
    EXPECT_TRUE(engine.voices.empty());
    EXPECT_EQ(engine.stats.voiceCount.load(), 0);
    EXPECT_EQ(engine.cacheReady.load(), 0);
    EXPECT_EQ(GetProcessedClipCacheStats(gProcessedClipCache).entries, 0u);
    EXPECT_EQ(GetAlloyCacheStats(gAlloyCache).entries, 0u);
    EXPECT_EQ(FindWaveformPeaks(sound), nullptr);
    EXPECT_FLOAT_EQ(engine.masterGain.load(), 1.0f);
    EXPECT_FLOAT_EQ(engine.groupGain[1].load(), 1.0f);
    EXPECT_EQ(engine.playing.load(), 0);
    EXPECT_FALSE(app.playing);

    EXPECT_FALSE(fs::exists(rig.File("Old/Old.tlproj.lock")));
    EXPECT_TRUE(app.crashLockPath.empty());
    EXPECT_TRUE(app.projectPath.empty());
    EXPECT_TRUE(app.projectName.empty());
    EXPECT_FALSE(app.modified);
    EXPECT_TRUE(app.undoHistory.undo.empty());
    EXPECT_EQ(app.toastText, "New project");
    EXPECT_FLOAT_EQ(app.toastTimer, 2);
    EXPECT_FLOAT_EQ(app.workAreaIn, -1);

    EXPECT_TRUE(doc.events.empty());
    EXPECT_TRUE(doc.results.empty());
    EXPECT_FALSE(doc.rendered);
    EXPECT_TRUE(doc.bannedFiles.empty());
    EXPECT_TRUE(doc.bannedFileIds.empty());
    EXPECT_TRUE(doc.userShapes.empty());
    EXPECT_TRUE(doc.scenes.empty());
    EXPECT_FLOAT_EQ(doc.totalDuration, 30);
    EXPECT_FLOAT_EQ(doc.fps, 24);
    EXPECT_FLOAT_EQ(doc.startTC, 0);
    EXPECT_EQ(doc.scaleType, 5);
}

// The audio thread mixes voices that read their events' curves while the
// document is replaced over and over; ASan and TSan see any read of a freed
// event or any unsynchronised access.
TEST(ProjectNew, ReplacingTheDocumentUnderAMixingAudioThreadIsSafe) {
    LifecycleRig rig;
    AudioEngine& engine = *rig.engine;
    const std::string path = rig.File("Mix/Mix.tlproj");
    ASSERT_TRUE(WriteProjectAt(path, SpotDocument(12)));

    *rig.project = SpotDocument(8);
    InstallCurveVoices(engine, *rig.project);
    engine.playing.store(1);
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        std::vector<float> left(512), right(512);
        while (!stop.load()) {
            engine.position.store(0);  // keep every voice under the playhead
            MixAudioBlock(engine, left.data(), right.data(), 512);
            blocks.fetch_add(1);
        }
    });
    for (int round = 0; round < 6; ++round) {
        ASSERT_TRUE(round % 2 ? NewProject(rig.ctx) : OpenProject(rig.ctx, path));
        EXPECT_TRUE(engine.voices.empty());
        for (int i = 0; i < 5; ++i) AddEvent(*rig.project, float(i), kShapeSpot, 0.5f);
        InstallCurveVoices(engine, *rig.project);
        const int seen = blocks.load();
        while (blocks.load() < seen + 3) std::this_thread::yield();
    }
    stop.store(true);
    audio.join();
    EXPECT_GT(blocks.load(), 18);
}

// New while the streaming workers have a queue of voices to prepare: the
// queue is gone at once, what they were decoding is dropped as it ends, and
// they fall idle (the main loop idles again) instead of working for a voice
// set that no longer exists.
// ...and the streaming window's counts read zero at once and stay so.
TEST(ProjectNew, TheStreamingWorkersFallIdleWithinAFrame) {
    LifecycleRig rig;
    AppState& app = *rig.app;
    AudioEngine& engine = *rig.engine;
    const std::string sound = WriteTone(rig.File("tone.wav"));
    Project& doc = *rig.project;
    doc = SpotDocument(1);
    doc.totalDuration = 400;
    for (int k = 0; k < 120; ++k) {
        RenderResult r;
        r.eventIdx = 0;
        r.filepath = sound;
        r.startTime = 299.0f + 0.01f * float(k);
        r.duration = r.sourceDuration = 0.5f;
        doc.results.push_back(r);
    }
    doc.rendered = true;
    engine.streamVoices = 1;
    engine.streamWindow = 2.0f;
    const DocumentContext ctx = MakeDocumentContext(doc, *rig.library, engine, app);
    RebuildCache(ctx, true);  // the playhead at 0: every voice without its samples
    ASSERT_EQ(engine.voices.size(), 120u);
    app.voiceStreamer = std::make_unique<VoiceStreamer>(1);
    SeekPlayback(engine, 300.0);
    PrepareVoicesAtPlayhead(ctx);  // one worker, a queue of the rest
    {
        std::lock_guard<std::mutex> lock(app.voiceStreamer->mutex);
        ASSERT_GT(app.voiceStreamer->queue.size(), 50u);
    }
    ASSERT_GT(engine.stats.waitingVoices.load(), 50);

    ASSERT_TRUE(NewProject(rig.ctx));
    // The counts describe the voices there are: none.
    EXPECT_EQ(engine.stats.loadedVoices.load(), 0);
    EXPECT_EQ(engine.stats.waitingVoices.load(), 0);
    {
        std::lock_guard<std::mutex> lock(app.voiceStreamer->mutex);
        EXPECT_TRUE(app.voiceStreamer->queue.empty()) << "the queue outlived the voice set";
    }
    PrepareVoicesAtPlayhead(MakeDocumentContext(doc, *rig.library, engine, app));  // the next frame
    EXPECT_EQ(engine.stats.loadedVoices.load(), 0);
    EXPECT_EQ(engine.stats.waitingVoices.load(), 0);
    // What was being decoded ends and is dropped: no more work for anyone.
    auto busy = [&] {
        std::lock_guard<std::mutex> lock(app.voiceStreamer->mutex);
        return app.voiceStreamer->decoding > 0;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (busy() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(VoiceStreamerIdle(app)) << "the workers still had work after New";
}
