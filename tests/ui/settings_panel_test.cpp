// The Settings tab: its combos' fallbacks, the timecode fields, the voice
// rebuilds its controls ask for, the sample-rate sequence, the track layout,
// the update texts and the output devices read and switched off the UI thread.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "document/busy_task.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "platform/fake_audio_backend.h"
#include "playback/audio_engine.h"
#include "playback/audio_output.h"
#include "playback/transport.h"
#include "operations/output_devices.h"
#include "ui/settings_panel_logic.h"

namespace {

// ---------------------------------------------------------------------------
// Combos
// ---------------------------------------------------------------------------

TEST(SettingsCombos, CurrentEntriesAndTheirFallbacks) {
    EXPECT_STREQ(kSampleRateItems[size_t(SampleRateItemIndex(96000))].text, "96000 Hz");
    EXPECT_STREQ(kSampleRateItems[size_t(SampleRateItemIndex(22050))].text, "48000 Hz");
    EXPECT_STREQ(kFrameRateItems[size_t(FrameRateItemIndex(29.97f))].text, "29.97");
    EXPECT_STREQ(kFrameRateItems[size_t(FrameRateItemIndex(23.976f))].text, "23.976");
    EXPECT_STREQ(kFrameRateItems[size_t(FrameRateItemIndex(23.9f))].text, "24");
    EXPECT_STREQ(kAutoSaveIntervalItems[size_t(AutoSaveIntervalIndex(600.5f))].text, "10 min");
    EXPECT_STREQ(kAutoSaveIntervalItems[size_t(AutoSaveIntervalIndex(1000))].text, "5 min");
    ASSERT_EQ(kScaleMenuItems.size(), 7u);
    EXPECT_TRUE(kScaleMenuItems[4].separatorBefore);
    EXPECT_EQ(kScaleMenuItems[4].scaleType, 11);
    EXPECT_EQ(kScaleMenuItems[6].scaleType, 16);
}

// ---------------------------------------------------------------------------
// Timecode fields
// ---------------------------------------------------------------------------

std::string Shown(const Project& p, float seconds) {
    char text[kTimecodeFieldBytes];
    FormatTimecodeField(p, seconds, text, sizeof text);
    return text;
}

TEST(SettingsTimecode, TypedTimecodesAndTheFieldsOwnClamps) {
    Project p;
    p.fps = 24;
    EXPECT_TRUE(ApplyStartTimecode(p, "00:00:10"));
    EXPECT_FLOAT_EQ(p.startTC, 10.0f);
    EXPECT_FALSE(ApplyStartTimecode(p, "10"));
    EXPECT_FALSE(ApplyStartTimecode(p, "00:10"));
    EXPECT_FLOAT_EQ(p.startTC, 10.0f) << "fewer than three numbers change nothing";
    EXPECT_TRUE(ApplyStartTimecode(p, "25:70:00:00"));
    EXPECT_EQ(Shown(p, p.startTC), "23:59:00:00");
    EXPECT_TRUE(ApplyStartTimecode(p, "01:02:03:30"));
    EXPECT_EQ(Shown(p, p.startTC), "01:02:03:23") << "frames stop at the rate";

    EXPECT_TRUE(ApplyTimelineDuration(p, "00:00:00:05"));
    EXPECT_EQ(p.totalDuration, 1.0f) << "never below one second";

    // Without a frame rate the fields count 25.
    p.fps = 0;
    EXPECT_TRUE(ApplyStartTimecode(p, "00:00:01:24"));
    EXPECT_FLOAT_EQ(p.startTC, 1.96f);
    EXPECT_EQ(Shown(p, 1.4f), "00:00:01:10");
    // 29.97 counts 30 frames a second and reads back what it wrote.
    p.fps = 29.97f;
    ASSERT_TRUE(ApplyStartTimecode(p, "00:10:00:29"));
    EXPECT_EQ(Shown(p, p.startTC), "00:10:00:29");

    EXPECT_TRUE(TimecodeCharAccepted('7'));
    EXPECT_TRUE(TimecodeCharAccepted(':'));
    for (unsigned c : {unsigned('-'), unsigned('a'), unsigned(' '), 0x100u + '1', 0x2236u})
        EXPECT_FALSE(TimecodeCharAccepted(c)) << c;
}

TEST(SettingsTimecode, AVideoStartedLateLengthensTheTimeline) {
    Project p;
    p.fps = 25;
    p.totalDuration = 30;
    std::atomic<float> start{0};
    EXPECT_TRUE(ApplyVideoStart(p, start, 20.0f, "00:00:40:00"));
    EXPECT_EQ(start.load(), 40.0f);
    EXPECT_EQ(p.totalDuration, 60.0f);
    EXPECT_TRUE(ApplyVideoStart(p, start, 20.0f, "00:00:05:00"));
    EXPECT_EQ(p.totalDuration, 60.0f) << "never shortened";
    EXPECT_FALSE(ApplyVideoStart(p, start, 20.0f, "5"));
    EXPECT_EQ(start.load(), 5.0f);
}

// ---------------------------------------------------------------------------
// Rebuilds and the sample rate
// ---------------------------------------------------------------------------

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

    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
};

TEST_F(SettingsDocument, RebuildsQueueOneTaskAndOtherwiseWaitForAFreeFrame) {
    EXPECT_EQ(ApplyScaleType(Context(), 1), RebuildRequest::NotNeeded);
    EXPECT_EQ(project->scaleType, 1);
    EXPECT_FALSE(app->busyTask.busy.load());

    AddResult(1, 0, 1);
    EXPECT_EQ(SetNormalizeLoudness(Context(), false), RebuildRequest::Queued);
    EXPECT_EQ(engine->normalizeLoudness, 0) << "the engine's copy follows";
    EXPECT_STREQ(BusyStatusText(app->busyTask).c_str(), "Applying loudness normalization...");
    EXPECT_FALSE(app->deferredRebuild.load());
    // A task is queued: the scale changes, no second task, the rebuild waits.
    EXPECT_EQ(ApplyScaleType(Context(), 2), RebuildRequest::Deferred);
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
    EXPECT_EQ(CommitLoudnessTarget(Context()), RebuildRequest::Queued);
    EXPECT_EQ(engine->groupTargetLufs[1], -20.0f);
    EXPECT_STREQ(BusyStatusText(app->busyTask).c_str(), "Adjusting loudness target...");
}

TEST_F(SettingsDocument, ARateChangeKeepsThePlayheadTime) {
    AudioOutput noOutput;  // headless: no stream runs
    engine->sampleRate.store(48000);
    SeekPlayback(*engine, 2.5);
    ASSERT_EQ(engine->position.load(), 120000);
    EXPECT_EQ(ChangeProjectSampleRate(Context(), noOutput, 96000), RebuildRequest::NotNeeded);
    EXPECT_EQ(app->projectSampleRate, 96000);
    EXPECT_EQ(engine->sampleRate.load(), 96000);
    EXPECT_EQ(engine->reverbState.sampleRate, 96000) << "the reverb at the new rate";
    EXPECT_EQ(engine->position.load(), 240000);
    EXPECT_DOUBLE_EQ(GetPlaybackTime(*engine), 2.5);

    // The same rate again does nothing; with results the voices are rebuilt.
    SeekPlayback(*engine, 1.0);
    EXPECT_EQ(ChangeProjectSampleRate(Context(), noOutput, 96000), RebuildRequest::NotNeeded);
    EXPECT_EQ(engine->position.load(), 96000);
    AddResult(0, 0, 1);
    EXPECT_EQ(ChangeProjectSampleRate(Context(), noOutput, 44100), RebuildRequest::Queued);
    EXPECT_STREQ(BusyStatusText(app->busyTask).c_str(), "Changing sample rate...");
    EXPECT_DOUBLE_EQ(GetPlaybackTime(*engine), 1.0);

    // A rate the table does not list shows "48000 Hz", and picking that sets it.
    app->projectSampleRate = 22050;
    EXPECT_STREQ(kSampleRateItems[size_t(SampleRateItemIndex(app->projectSampleRate))].text, "48000 Hz");
    ChangeProjectSampleRate(Context(), noOutput, kSampleRateItems[size_t(SampleRateItemIndex(22050))].rate);
    EXPECT_EQ(app->projectSampleRate, 48000);
    EXPECT_EQ(engine->sampleRate.load(), 48000);
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
    ChangeProjectSampleRate(Context(), output, 96000);
    ASSERT_EQ(api->opens.size(), 2u);
    EXPECT_EQ(api->opens.back().sampleRate, 96000);
    EXPECT_EQ(playingAtOpen.back(), 0);
    EXPECT_EQ(engine->playing.load(), 1);
    EXPECT_EQ(engine->sampleRate.load(), 96000);
    EXPECT_DOUBLE_EQ(GetPlaybackTime(*engine), 3.0);
    CloseAudioOutput(output);
}

TEST_F(SettingsDocument, TracksAreNumberedInTheExportsGroupOrder) {
    // FX A (group 1): three overlapping layers; FX B (2): none; BG (0): one.
    AddResult(1, 0, 4);
    AddResult(1, 1, 4);
    AddResult(1, 2, 4);
    AddResult(0, 0, 4);
    project->groups[1].trackCount = 2;
    project->groups[0].trackCount = 8;
    EXPECT_EQ(ApplyTrackBudget(Context()), RebuildRequest::Queued);
    EXPECT_STREQ(BusyStatusText(app->busyTask).c_str(), "Applying track budget...");
    const auto& r = project->results;
    EXPECT_EQ(r[0].track, 0);
    EXPECT_EQ(r[1].track, 1);
    EXPECT_EQ(r[2].track, 2);
    // BG after FX A's max(count 2, used 3); the empty FX B counts 0.
    EXPECT_EQ(r[3].track, 3);
    EXPECT_EQ(project->groups[1].usedTracks, 3);
    EXPECT_EQ(ClampTrackCount(0), 1);
    EXPECT_EQ(ClampTrackCount(99), 48);
}

// ---------------------------------------------------------------------------
// Update texts
// ---------------------------------------------------------------------------

TEST(SettingsUpdates, AvailableDismissedOffAndTheAgeOfTheLastCheck) {
    auto app = std::make_unique<AppState>();
    app->updateAvailable = true;
    app->updateAvailableVersion = "2026.9";
    EXPECT_TRUE(ShowsUpdateAvailable(*app));
    app->dismissedUpdateVersion = "2026.9";
    EXPECT_FALSE(ShowsUpdateAvailable(*app)) << "a dismissed version shows the latest-version line";
    ASSERT_EQ(UpToDateLines(*app, "2026.8", true).size(), 1u);
    EXPECT_EQ(UpToDateLines(*app, "2026.8", true)[0], "You're on 2026.8 \xE2\x80\x94 the latest version.");
    // With nowhere to ask, no check ever ran: the checks are off, whatever the setting.
    const std::vector<std::string> off = {"Automatic update checks are off.", "This app never connects on its own."};
    EXPECT_EQ(UpToDateLines(*app, "2026.8", false), off);
    app->updateCheckEnabled = false;
    EXPECT_EQ(UpToDateLines(*app, "2026.8", true), off);
    EXPECT_EQ(UpdateNoteLine("Faster export"), "  \xE2\x80\xA2 Faster export");

    const int64_t now = 1'800'000'000;
    EXPECT_EQ(LastCheckedText(now, 0), "");
    EXPECT_EQ(LastCheckedText(now, now - 59), "Last checked just now.");
    EXPECT_EQ(LastCheckedText(now, now - 59 * 60), "Last checked 59 min ago.");
    EXPECT_EQ(LastCheckedText(now, now - 90 * 60), "Last checked 1 hr ago.");
    EXPECT_EQ(LastCheckedText(now, now - 26 * 3600), "Last checked 1 day ago.");
    EXPECT_EQ(LastCheckedText(now, now - 49 * 3600), "Last checked 2 days ago.");
    EXPECT_EQ(LastCheckedText(now, now + 500), "Last checked just now.") << "a clock set back";
}

// ---------------------------------------------------------------------------
// Output devices
// ---------------------------------------------------------------------------

TEST(SettingsDevices, MenuNamesAndTheEntryShown) {
    OutputDevice d{3, "Interface", 1};
    EXPECT_EQ(DeviceMenuName(d), "Interface (Default)");
    d.isDefault = 0;
    EXPECT_EQ(DeviceMenuName(d), "Interface");
    AudioOutputStatus s;
    s.open = true;
    s.devices = {{0, "A", 0}, {1, "B", 1}, {2, "C", 0}};
    s.selectedDevice = 1;
    s.deviceName = "C";
    EXPECT_EQ(ShownDeviceIndex(s), 2) << "by name when the index names another device";
    s.deviceName = "B";
    EXPECT_EQ(ShownDeviceIndex(s), 1);
    s.deviceName = "Gone";
    EXPECT_EQ(ShownDeviceIndex(s), -1);
    s.open = false;
    s.deviceName = "B";
    EXPECT_EQ(ShownDeviceIndex(s), -1) << "no device stream: \"Default\"";
}

// The worker reads the list and switches while the interface thread keeps
// taking copies (trying the output's mutex, never waiting on it).
TEST(SettingsDevices, TheWorkerListsAndSwitchesOffTheInterfaceThread) {
    AudioOutput output;
    auto fake = std::make_unique<FakeAudioBackend>();
    fake->devices = {FakeAudioBackend::MakeDevice(0, "Built-in"), FakeAudioBackend::MakeDevice(1, "Interface")};
    FakeAudioBackend* api = fake.get();
    output.api = std::move(fake);
    std::atomic<uint8_t> playing{1};
    OpenAudioOutput(output, nullptr, &playing, 48000);

    AudioDeviceWorker worker;
    DeviceListView view;
    UpdateDeviceListView(view, worker, output);
    ASSERT_TRUE(view.valid);
    ASSERT_EQ(view.status.devices.size(), 2u);

    // A device appears; the list is read on the worker.
    {
        std::lock_guard<std::mutex> lock(output.mutex);
        api->devices.push_back(FakeAudioBackend::MakeDevice(2, "Headphones"));
    }
    RequestDeviceRefresh(worker, output);
    for (int i = 0; i < 5000 && view.status.devices.size() != 3; ++i) {
        UpdateDeviceListView(view, worker, output);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_EQ(view.status.devices.size(), 3u);

    RequestDeviceSwitch(worker, output, "Headphones", 2);
    for (int i = 0; i < 5000 && view.status.deviceName != "Headphones"; ++i) {
        UpdateDeviceListView(view, worker, output);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_EQ(view.status.deviceName, "Headphones");
    EXPECT_EQ(ShownDeviceIndex(view.status), 2);
    EXPECT_EQ(playing.load(), 1);
    StopAudioDeviceWorker(worker);
    RequestDeviceRefresh(worker, output);  // after the stop: nothing starts
    EXPECT_FALSE(worker.thread.joinable());
    CloseAudioOutput(output);
}

}  // namespace
