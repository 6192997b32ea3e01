// The Settings tab: its combos' fallbacks, the timecode fields' text, the
// update texts and the output devices read and switched off the UI thread.
// What its controls change is tested with the operations (project_settings_test).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "document/project.h"
#include "operations/app_state.h"
#include "platform/fake_audio_backend.h"
#include "playback/audio_output.h"
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

TEST(SettingsTimecode, FieldsShowFramesAtTheRateAndTakeOnlyDigitsAndColons) {
    auto shown = [](const Project& p, float seconds) {
        char text[kTimecodeFieldBytes];
        FormatTimecodeField(p, seconds, text, sizeof text);
        return std::string(text);
    };
    Project p;
    p.fps = 0;  // without a frame rate the fields count 25
    EXPECT_EQ(shown(p, 1.4f), "00:00:01:10");
    p.fps = 24;
    EXPECT_EQ(shown(p, 3661.5f), "01:01:01:12");

    EXPECT_TRUE(TimecodeCharAccepted('7'));
    EXPECT_TRUE(TimecodeCharAccepted(':'));
    for (unsigned c : {unsigned('-'), unsigned('a'), unsigned(' '), 0x100u + '1', 0x2236u})
        EXPECT_FALSE(TimecodeCharAccepted(c)) << c;
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
