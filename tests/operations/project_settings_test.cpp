// The project's settings: typed timecodes and their clamps, the unsaved flag
// only on a change, timing refused while an export owns the document, the
// voice rebuilds the other settings ask for (now or on a free frame), the
// sample-rate sequence and the track layout.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "document/busy_task.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/project_settings.h"
#include "platform/fake_audio_backend.h"
#include "playback/audio_engine.h"
#include "playback/audio_output.h"
#include "playback/transport.h"
#include "support/quiet_stdout.h"

namespace {

class SettingsDocument : public testing::Test {
protected:
    DocumentContext Context() { return MakeDocumentContext(*project, *library, *engine, *app); }
    void AddResult(int group, float start, float duration) {
        if (project->events.empty()) project->events.emplace_back();
        RenderResult r;
        r.eventIdx = 0;
        r.group = group;
        r.startTime = start;
        r.duration = duration;
        project->results.push_back(r);
    }
    std::string Shown(float seconds) const {
        char text[32];
        FormatTimecode(*project, seconds, text, sizeof text);
        return text;
    }
    // Whether the call set the unsaved flag (cleared before it).
    template <class F>
    bool Marks(F&& change) {
        app->modified = false;
        change();
        return app->modified;
    }

    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
};

// ---------------------------------------------------------------------------
// Timing
// ---------------------------------------------------------------------------

TEST_F(SettingsDocument, TypedTimecodesAndTheFieldsOwnClamps) {
    project->fps = 24;
    EXPECT_TRUE(SetStartTimecode(Context(), "00:00:10"));
    EXPECT_FLOAT_EQ(project->startTC, 10.0f);
    EXPECT_FALSE(SetStartTimecode(Context(), "10"));
    EXPECT_FALSE(SetStartTimecode(Context(), "00:10"));
    EXPECT_FLOAT_EQ(project->startTC, 10.0f) << "fewer than three numbers change nothing";
    EXPECT_TRUE(SetStartTimecode(Context(), "25:70:00:00"));
    EXPECT_EQ(Shown(project->startTC), "23:59:00:00");
    EXPECT_TRUE(SetStartTimecode(Context(), "01:02:03:30"));
    EXPECT_EQ(Shown(project->startTC), "01:02:03:23") << "frames stop at the rate";

    EXPECT_TRUE(SetTimelineDuration(Context(), "00:00:00:05"));
    EXPECT_EQ(project->totalDuration, 1.0f) << "never below one second";

    // Without a frame rate the fields count 25.
    project->fps = 0;
    EXPECT_TRUE(SetStartTimecode(Context(), "00:00:01:24"));
    EXPECT_FLOAT_EQ(project->startTC, 1.96f);
    // 29.97 counts 30 frames a second and reads back what it wrote.
    project->fps = 29.97f;
    ASSERT_TRUE(SetStartTimecode(Context(), "00:10:00:29"));
    EXPECT_EQ(Shown(project->startTC), "00:10:00:29");
}

TEST_F(SettingsDocument, AVideoStartedLateLengthensTheTimeline) {
    project->fps = 25;
    project->totalDuration = 30;
    std::atomic<float> start{0};
    EXPECT_TRUE(SetVideoStart(Context(), start, 20.0f, "00:00:40:00"));
    EXPECT_EQ(start.load(), 40.0f);
    EXPECT_EQ(project->totalDuration, 60.0f);
    EXPECT_TRUE(SetVideoStart(Context(), start, 20.0f, "00:00:05:00"));
    EXPECT_EQ(project->totalDuration, 60.0f) << "never shortened";
    EXPECT_FALSE(SetVideoStart(Context(), start, 20.0f, "5"));
    EXPECT_EQ(start.load(), 5.0f);
}

// Each keystroke of a timecode field is a call: only one that moves a value
// marks the project; while an export runs the timing it reads stays.
TEST_F(SettingsDocument, OnlyAChangeMarksTheProjectAndTimingWaitsForTheExport) {
    project->fps = 24;
    EXPECT_TRUE(Marks([&] { SetStartTimecode(Context(), "00:00:02:00"); }));
    EXPECT_FALSE(Marks([&] { SetStartTimecode(Context(), "00:00:02"); })) << "the same time typed again";
    EXPECT_FALSE(Marks([&] { SetStartTimecode(Context(), "00:0"); }));
    EXPECT_TRUE(Marks([&] { SetFrameRate(Context(), 25); }));
    EXPECT_FALSE(Marks([&] { SetFrameRate(Context(), 25); }));
    EXPECT_FALSE(SetFrameRate(Context(), 0));
    EXPECT_FALSE(Marks([&] { SetScaleRoot(Context(), project->scaleRoot); }));
    EXPECT_TRUE(Marks([&] { SetProjectDescription(*app, "Reel 2, temp mix"); }));
    EXPECT_FALSE(Marks([&] { SetProjectDescription(*app, "Reel 2, temp mix"); }));
    EXPECT_TRUE(Marks([&] { SetTraceThreshold(*app, 0.5f); }));
    EXPECT_FALSE(Marks([&] { SetTraceThreshold(*app, 0.5f); }));

    const float duration = project->totalDuration, target = project->groups[1].targetLUFS;
    const int tracks = project->groups[1].trackCount;
    app->exportRunning.store(true);
    std::atomic<float> start{3};
    QuietStdout(true);
    EXPECT_FALSE(Marks([&] {
        SetFrameRate(Context(), 30);
        SetStartTimecode(Context(), "00:00:09:00");
        SetTimelineDuration(Context(), "00:05:00:00");
        SetVideoStart(Context(), start, 10, "00:00:09:00");
        SetLoudnessTarget(Context(), 1, -30);
        SetGroupTrackCount(Context(), 1, 3);
    }));
    QuietStdout(false);
    EXPECT_EQ(project->fps, 25.0f);
    EXPECT_FLOAT_EQ(project->startTC, 2.0f);
    EXPECT_EQ(project->totalDuration, duration);
    EXPECT_EQ(start.load(), 3.0f);
    EXPECT_EQ(project->groups[1].targetLUFS, target);
    EXPECT_EQ(project->groups[1].trackCount, tracks);
    // The description is read by no task.
    EXPECT_TRUE(SetProjectDescription(*app, "Reel 3"));
}

// ---------------------------------------------------------------------------
// Rebuilds and the sample rate
// ---------------------------------------------------------------------------

TEST_F(SettingsDocument, RebuildsQueueOneTaskAndOtherwiseWaitForAFreeFrame) {
    EXPECT_EQ(SetScaleType(Context(), 1), RebuildRequest::NotNeeded);
    EXPECT_EQ(project->scaleType, 1);
    EXPECT_TRUE(app->modified);
    EXPECT_FALSE(app->busyTask.busy.load());

    AddResult(1, 0, 1);
    EXPECT_EQ(SetNormalizeLoudness(Context(), false), RebuildRequest::Queued);
    EXPECT_EQ(engine->normalizeLoudness, 0) << "the engine's copy follows";
    EXPECT_STREQ(BusyStatusText(app->busyTask).c_str(), "Applying loudness normalization...");
    EXPECT_FALSE(app->deferredRebuild.load());
    // A task is queued: the scale changes, no second task, the rebuild waits.
    EXPECT_EQ(SetScaleType(Context(), 2), RebuildRequest::Deferred);
    EXPECT_EQ(project->scaleType, 2);
    EXPECT_TRUE(app->deferredRebuild.load());
    EXPECT_STREQ(BusyStatusText(app->busyTask).c_str(), "Applying loudness normalization...");
    app->deferredRebuild.store(false);

    // During an export nothing is queued either.
    app->busyTask.busy.store(false);
    app->busyTask.job = nullptr;
    app->exportRunning.store(true);
    project->groups[1].targetLUFS = -20;
    EXPECT_EQ(CommitLoudnessTarget(Context()), RebuildRequest::Deferred);
    EXPECT_NE(engine->groupTargetLufs[1], -20.0f) << "the export's voices keep their targets";
    EXPECT_FALSE(app->busyTask.busy.load());
    EXPECT_TRUE(app->deferredRebuild.load());
    app->exportRunning.store(false);
    EXPECT_TRUE(SetLoudnessTarget(Context(), 1, -70));
    EXPECT_EQ(project->groups[1].targetLUFS, -60.0f) << "the field's range";
    EXPECT_EQ(CommitLoudnessTarget(Context()), RebuildRequest::Queued);
    EXPECT_EQ(engine->groupTargetLufs[1], -60.0f);
    EXPECT_STREQ(BusyStatusText(app->busyTask).c_str(), "Adjusting loudness target...");
}

TEST_F(SettingsDocument, ARateChangeKeepsThePlayheadTime) {
    AudioOutput noOutput;  // headless: no stream runs
    engine->sampleRate.store(48000);
    SeekPlayback(*engine, 2.5);
    ASSERT_EQ(engine->position.load(), 120000);
    QuietStdout(true);
    EXPECT_EQ(ChangeProjectSampleRate(Context(), noOutput, 96000), RebuildRequest::NotNeeded);
    EXPECT_EQ(app->projectSampleRate, 96000);
    EXPECT_TRUE(app->modified);
    EXPECT_EQ(engine->sampleRate.load(), 96000);
    EXPECT_EQ(engine->reverbState.sampleRate, 96000) << "the reverb at the new rate";
    EXPECT_EQ(engine->position.load(), 240000);
    EXPECT_DOUBLE_EQ(GetPlaybackTime(*engine), 2.5);

    // The same rate again does nothing; with results the voices are rebuilt.
    SeekPlayback(*engine, 1.0);
    EXPECT_FALSE(Marks([&] { ChangeProjectSampleRate(Context(), noOutput, 96000); }));
    EXPECT_EQ(engine->position.load(), 96000);
    AddResult(0, 0, 1);
    EXPECT_EQ(ChangeProjectSampleRate(Context(), noOutput, 44100), RebuildRequest::Queued);
    EXPECT_STREQ(BusyStatusText(app->busyTask).c_str(), "Changing sample rate...");
    EXPECT_DOUBLE_EQ(GetPlaybackTime(*engine), 1.0);
    QuietStdout(false);
}

TEST_F(SettingsDocument, ARunningStreamReopensAtTheNewRateWithTheTransportPaused) {
    AudioOutput output;
    auto fake = std::make_unique<FakeAudioBackend>();
    fake->devices = {FakeAudioBackend::MakeDevice(0, "Card", 2, {44100, 48000, 96000})};
    FakeAudioBackend* api = fake.get();
    output.api = std::move(fake);
    std::vector<uint8_t> playingAtOpen;
    api->onOpen = [&](const AudioStreamRequest&) { playingAtOpen.push_back(engine->playing.load()); };
    // The program's rate hook: engine rate, reverb and playhead while no stream runs.
    output.onEngineRateChange = [this](int32_t rate) {
        const double t = GetPlaybackTime(*engine);
        engine->sampleRate.store(rate);
        SeekPlayback(*engine, t);
    };
    OpenAudioOutput(output, nullptr, &engine->playing, 48000);
    engine->playing.store(1);
    SeekPlayback(*engine, 3.0);
    QuietStdout(true);
    ChangeProjectSampleRate(Context(), output, 96000);
    QuietStdout(false);
    ASSERT_EQ(api->opens.size(), 2u);
    EXPECT_EQ(api->opens.back().sampleRate, 96000);
    EXPECT_EQ(playingAtOpen.back(), 0);
    EXPECT_EQ(engine->playing.load(), 1);
    EXPECT_EQ(engine->sampleRate.load(), 96000);
    EXPECT_DOUBLE_EQ(GetPlaybackTime(*engine), 3.0);
    CloseAudioOutput(output);
}

// ---------------------------------------------------------------------------
// Track budget
// ---------------------------------------------------------------------------

TEST_F(SettingsDocument, TracksAreNumberedInTheExportsGroupOrder) {
    // FX A (group 1): three overlapping layers; FX B (2): none; BG (0): one.
    AddResult(1, 0, 4);
    AddResult(1, 1, 4);
    AddResult(1, 2, 4);
    AddResult(0, 0, 4);
    EXPECT_TRUE(SetGroupTrackCount(Context(), 1, 2));
    EXPECT_FALSE(SetGroupTrackCount(Context(), 0, project->groups[0].trackCount)) << "unchanged";
    EXPECT_EQ(ApplyTrackBudget(Context()), RebuildRequest::Queued);
    EXPECT_STREQ(BusyStatusText(app->busyTask).c_str(), "Applying track budget...");
    const auto& r = project->results;
    EXPECT_EQ(r[0].track, 0);
    EXPECT_EQ(r[1].track, 1);
    EXPECT_EQ(r[2].track, 2);
    // BG after FX A's max(count 2, used 3); the empty FX B counts 0.
    EXPECT_EQ(r[3].track, 3);
    EXPECT_EQ(project->groups[1].usedTracks, 3);

    // Counts stay within 1..48; while an export runs the layout waits for a free frame.
    app->busyTask.busy.store(false);
    app->busyTask.job = nullptr;
    EXPECT_TRUE(SetGroupTrackCount(Context(), 2, 99));
    EXPECT_EQ(project->groups[2].trackCount, 48);
    EXPECT_TRUE(SetGroupTrackCount(Context(), 2, 0));
    EXPECT_EQ(project->groups[2].trackCount, 1);
    app->exportRunning.store(true);
    app->modified = false;
    EXPECT_EQ(SetTrackBudget(Context(), true), RebuildRequest::Deferred);
    EXPECT_TRUE(project->budgetMode);
    EXPECT_TRUE(app->modified);
    EXPECT_TRUE(app->deferredRebuild.load());
    EXPECT_EQ(project->results[2].track, 2) << "the export's tracks stay";
}

}  // namespace
