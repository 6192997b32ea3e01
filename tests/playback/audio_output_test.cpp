// The audio output on the fake back-end: the device list and the rate rules,
// the callback at equal and different rates, device loss, rate switches and
// the null output taking over when no device opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "playback/allocation_counter.h"
#include "playback/output_rig.h"

namespace {

std::vector<AudioDeviceInfo> ThreeDevices() {
    return {FakeAudioBackend::MakeDevice(0, "Mono headset", 1),
            FakeAudioBackend::MakeDevice(1, "Speakers", 2),
            FakeAudioBackend::MakeDevice(2, "Interface", 8, {44100, 48000, 96000}, 96000)};
}

AudioDeviceInfo OnlyRate(uint32_t id, uint32_t rate) {
    return FakeAudioBackend::MakeDevice(id, "Fixed " + std::to_string(rate), 2, {rate}, 0);
}

}  // namespace

// ---- Devices and rates -------------------------------------------------------

TEST(AudioOutputDevices, MonoDevicesAreDroppedAndTheDefaultIsOpened) {
    OutputRig rig(ThreeDevices(), 2);
    rig.Open(48000);
    const AudioOutput& o = rig.output;
    ASSERT_EQ(o.devices.size(), 2u);
    EXPECT_EQ(o.devices[0].name, "Speakers");
    EXPECT_EQ(o.devices[0].isDefault, 0);
    EXPECT_EQ(o.devices[1].name, "Interface");
    EXPECT_EQ(o.devices[1].isDefault, 1);
    EXPECT_EQ(o.deviceId, 2u);
    EXPECT_EQ(o.selectedDevice, 1);
    EXPECT_EQ(o.open.load(), 1);
    EXPECT_TRUE(o.errorText.empty());
    ASSERT_EQ(rig.fake->opens.size(), 1u);
    const AudioStreamRequest& s = rig.fake->opens[0];
    EXPECT_EQ(s.deviceId, 2u);
    EXPECT_EQ(s.sampleRate, 48000);
    EXPECT_EQ(s.periodFrames, 512u);
    EXPECT_EQ(s.streamName, "Tessaloom");
    EXPECT_FALSE(rig.fakeNull->StreamRunning());
    // The engine rate was handed to the engine once, before anything ran.
    EXPECT_EQ(rig.rateChanges, std::vector<int32_t>{48000});
    EXPECT_FALSE(rig.streamRanDuringRateChange);
}

TEST(AudioOutputDevices, DeviceRateFollowsTheRules) {
    using D = FakeAudioBackend;
    // Listed: the engine rate itself.
    EXPECT_EQ(ChooseDeviceRate(D::MakeDevice(0, "a", 2, {44100, 48000}, 44100), 48000), 48000);
    // Not listed: the preferred rate, else the last listed one, else the engine rate.
    EXPECT_EQ(ChooseDeviceRate(D::MakeDevice(0, "b", 2, {44100, 96000}, 44100), 48000), 44100);
    EXPECT_EQ(ChooseDeviceRate(D::MakeDevice(0, "c", 2, {44100, 88200}, 0), 48000), 88200);
    EXPECT_EQ(ChooseDeviceRate(D::MakeDevice(0, "d", 2, {}, 0), 96000), 96000);
    EXPECT_EQ(ChooseDeviceRate(D::MakeDevice(0, "e", 2, {}, 22050), 48000), 22050);

    // Through an open: a 44.1 kHz-only device runs at 44.1 kHz under a 48 kHz engine.
    OutputRig rig({OnlyRate(0, 44100)});
    rig.Open(48000);
    EXPECT_EQ(rig.output.deviceRate.load(), 44100);
    EXPECT_EQ(rig.output.engineRate.load(), 48000);
    EXPECT_EQ(rig.fake->opens.back().sampleRate, 44100);
}

// ---- The callback ---------------------------------------------------------

TEST(AudioOutputCallback, WithoutARenderFunctionTheOutputIsSilent) {
    OutputRig rig({OnlyRate(0, 44100)});
    rig.Open(48000, false);
    const std::vector<float> out = rig.Pump(1024);
    ASSERT_EQ(out.size(), 2048u);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float x) { return x == 0.0f; }));
}

TEST(AudioOutputCallback, EqualRatesPassTheRenderOutputUnchanged) {
    OutputRig rig(ThreeDevices(), 1);
    rig.Open(48000);
    // Periods the device did not promise are handled too (split or short).
    std::vector<float> out = rig.Pump(512);
    for (uint32_t n : {100u, 3000u, 512u}) {
        std::vector<float> more = rig.Pump(n, n);
        out.insert(out.end(), more.begin(), more.end());
    }
    ASSERT_EQ(out.size(), 2u * 4124u);
    EXPECT_EQ(rig.signal.framesRendered.load(), 4124);
    for (int n = 0; n < 4124; ++n) {
        ASSERT_EQ(out[2 * n], float(SignalSource::Left(1000, n, 48000))) << n;
        ASSERT_EQ(out[2 * n + 1], float(SignalSource::Right(1000, n, 48000))) << n;
    }
}

// Device frame i plays engine position i x engine/device rate: a frame lost
// or repeated at a block edge would move the sine by a whole sample.
TEST(AudioOutputCallback, ResamplingIsContinuousAndConsumesExactlyTheRatio) {
    struct Case {
        int32_t engine;
        uint32_t device;
    };
    for (Case c : {Case{48000, 44100}, Case{44100, 48000}, Case{192000, 44100}, Case{96000, 88200}}) {
        SCOPED_TRACE(std::to_string(c.engine) + " into " + std::to_string(c.device));
        OutputRig rig({OnlyRate(0, c.device)});
        rig.fake->grantPeriod = 441;  // a device that picks its own period
        rig.Open(c.engine);
        ASSERT_EQ(rig.output.deviceRate.load(), int32_t(c.device));
        // One second of device time in periods of varying length.
        std::vector<float> out;
        const uint32_t periods[] = {441, 441, 1000, 37, 441, 2500};
        for (size_t p = 0; out.size() < size_t(c.device) * 2; ++p) {
            const uint32_t n = std::min<uint32_t>(periods[p % 6], c.device - uint32_t(out.size() / 2));
            std::vector<float> block = rig.Pump(n, n);
            ASSERT_EQ(block.size(), size_t(n) * 2);
            out.insert(out.end(), block.begin(), block.end());
        }
        // Exactly one second of engine frames, give or take the few held back.
        EXPECT_NEAR(double(rig.signal.framesRendered.load()), double(c.engine), 4.0);

        const double ratio = double(c.engine) / c.device;
        // The sine's highest frequency relative to the engine rate sets the
        // interpolation error; a lost frame would be off by 2 pi 1000 / rate.
        const double oneFrameError = 2.0 * M_PI * 1000.0 / c.engine;
        double worst = 0;
        for (uint32_t i = 0; i < c.device; ++i) {
            const double pos = i * ratio;
            worst = std::max(worst, std::fabs(out[2 * i] - SignalSource::Left(1000, pos, c.engine)));
            worst = std::max(worst, std::fabs(out[2 * i + 1] - SignalSource::Right(1000, pos, c.engine)));
        }
        EXPECT_LT(worst, 0.05 * oneFrameError);
    }
}

TEST(AudioOutputCallback, SteadyStateBlocksAllocateNothing) {
    for (uint32_t deviceRate : {48000u, 44100u}) {
        SCOPED_TRACE(deviceRate);
        OutputRig rig({OnlyRate(0, deviceRate)});
        rig.Open(48000);
        std::vector<float> out(2 * 4096);
        AudioOutput* user = &rig.output;
        StartCountingAllocations();
        for (int b = 0; b < 200; ++b)
            AudioStreamCallback(out.data(), nullptr, b % 7 == 0 ? 4096 : 512, 0.0, 0, user);
        EXPECT_EQ(StopCountingAllocations(), 0);
    }
}

// ---- Device loss -------------------------------------------------------------

TEST(AudioOutputLoss, AStoppedOrSilentStreamReopensOnTheNewDefault) {
    for (bool keepsReportingRunning : {false, true}) {
        SCOPED_TRACE(keepsReportingRunning ? "stream still says it runs" : "stream stopped");
        OutputRig rig(ThreeDevices(), 2);
        rig.Open(48000);
        rig.Pump(2048);
        HandleAudioDeviceLoss(rig.output);  // callbacks came: nothing happens
        EXPECT_EQ(rig.fake->attempts.size(), 1u);

        rig.fake->Unplug(2, keepsReportingRunning);
        rig.fake->defaultDevice = 1;
        std::vector<float> scratch;
        EXPECT_FALSE(rig.fake->Pump(scratch));  // the callback no longer comes
        HandleAudioDeviceLoss(rig.output);
        const AudioOutput& o = rig.output;
        EXPECT_EQ(o.open.load(), 1);
        EXPECT_EQ(o.deviceId, 1u);
        EXPECT_EQ(o.errorText, "Audio device disconnected \xE2\x80\x94 switched to default");
        EXPECT_EQ(TakeAudioDeviceNotice(rig.output), o.errorText);
        EXPECT_EQ(TakeAudioDeviceNotice(rig.output), "") << "the notice is told once";
        ASSERT_EQ(o.devices.size(), 1u);
        EXPECT_EQ(o.selectedDevice, 0);
        EXPECT_EQ(rig.fake->CurrentStream().deviceId, 1u);
        EXPECT_EQ(rig.Pump(512).size(), 1024u);
        // The new stream runs: the next poll leaves it alone.
        HandleAudioDeviceLoss(rig.output);
        EXPECT_EQ(rig.fake->opens.size(), 2u);
    }
}

TEST(AudioOutputLoss, WithNoDeviceLeftTheNullOutputRunsUntilOneReturns) {
    OutputRig rig({FakeAudioBackend::MakeDevice(0, "USB")});
    rig.Open(48000);
    rig.playing = 1;
    rig.fake->Unplug(0);
    HandleAudioDeviceLoss(rig.output);
    AudioOutput& o = rig.output;
    EXPECT_EQ(o.open.load(), 0);
    EXPECT_EQ(o.errorText, "Audio device lost \xE2\x80\x94 could not reopen");
    EXPECT_TRUE(o.devices.empty());
    // The null output pulls the same callback at the engine rate.
    ASSERT_TRUE(rig.fakeNull->StreamRunning());
    EXPECT_EQ(rig.fakeNull->CurrentStream().sampleRate, 48000);
    const int64_t before = rig.signal.framesRendered.load();
    EXPECT_EQ(rig.Pump(1024).size(), 2048u);
    EXPECT_EQ(rig.signal.framesRendered.load() - before, 1024);

    EXPECT_EQ(TakeAudioDeviceNotice(rig.output), o.errorText);

    // Polls keep trying quietly and keep the status, without a new notice.
    HandleAudioDeviceLoss(rig.output);
    EXPECT_EQ(o.errorText, "Audio device lost \xE2\x80\x94 could not reopen");
    EXPECT_EQ(TakeAudioDeviceNotice(rig.output), "");
    EXPECT_TRUE(rig.fakeNull->StreamRunning());

    rig.fake->devices.push_back(FakeAudioBackend::MakeDevice(5, "Headphones"));
    rig.fake->defaultDevice = 5;
    HandleAudioDeviceLoss(rig.output);
    EXPECT_EQ(o.open.load(), 1);
    EXPECT_EQ(o.deviceId, 5u);
    EXPECT_EQ(o.errorText, "Audio device disconnected \xE2\x80\x94 switched to default");
    EXPECT_EQ(TakeAudioDeviceNotice(rig.output), o.errorText);
    EXPECT_FALSE(rig.fakeNull->StreamRunning());
    EXPECT_EQ(rig.playing.load(), 1);
}

TEST(AudioOutputLoss, NoDeviceAtStartLeavesTheNullOutputRunningAndTheNotice) {
    OutputRig rig({});
    // A machine without sound is no fault: one line tells it, no alarm before it.
    testing::internal::CaptureStdout();
    rig.Open(44100);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Audio] no device: the null output keeps time at 44100 Hz\n");
    AudioOutput& o = rig.output;
    EXPECT_EQ(o.open.load(), 0);
    EXPECT_EQ(o.errorText, "Could not open audio device");
    EXPECT_EQ(o.selectedDevice, -1);
    ASSERT_TRUE(rig.fakeNull->StreamRunning());
    EXPECT_EQ(rig.fakeNull->CurrentStream().sampleRate, 44100);
    EXPECT_EQ(rig.rateChanges, std::vector<int32_t>{44100});

    HandleAudioDeviceLoss(rig.output);
    EXPECT_EQ(o.errorText, "Could not open audio device");
    EXPECT_EQ(TakeAudioDeviceNotice(rig.output), "") << "no loss: the status alone tells it";
    rig.fake->devices = {OnlyRate(3, 48000)};
    rig.fake->defaultDevice = 3;
    HandleAudioDeviceLoss(rig.output);
    EXPECT_EQ(o.open.load(), 1);
    EXPECT_TRUE(o.errorText.empty());
    EXPECT_EQ(o.deviceRate.load(), 48000);  // resampling from the 44.1 kHz engine
    EXPECT_FALSE(rig.streamRanDuringRateChange);
}

// ---- Rate switches ---------------------------------------------------------

TEST(AudioOutputSwitch, SameRateOpensNothingNewRatePausesTheTransport) {
    OutputRig rig(ThreeDevices(), 2);
    rig.Open(48000);
    rig.playing = 1;
    SwitchAudioDevice(rig.output, 48000);
    EXPECT_EQ(rig.fake->attempts.size(), 1u);

    std::vector<uint8_t> playingAtOpen;
    rig.fake->onOpen = [&](const AudioStreamRequest&) { playingAtOpen.push_back(rig.playing.load()); };
    SwitchAudioDevice(rig.output, 96000);
    EXPECT_EQ(playingAtOpen, std::vector<uint8_t>{0});
    EXPECT_EQ(rig.playing.load(), 1);
    EXPECT_EQ(rig.output.engineRate.load(), 96000);
    EXPECT_EQ(rig.fake->opens.back().sampleRate, 96000);
    EXPECT_EQ(rig.fake->opens.back().deviceId, 2u);
    EXPECT_EQ(rig.rateChanges, (std::vector<int32_t>{48000, 96000}));
    EXPECT_FALSE(rig.streamRanDuringRateChange);

    // A stopped transport stays stopped.
    rig.playing = 0;
    SwitchAudioDevice(rig.output, 44100);
    EXPECT_EQ(rig.playing.load(), 0);
}

TEST(AudioOutputSwitch, AFailedReopenKeepsTheAskedRateForTheNextPoll) {
    OutputRig rig(ThreeDevices(), 1);
    rig.Open(48000);
    rig.fake->failEveryOpen = true;
    SwitchAudioDevice(rig.output, 44100);
    AudioOutput& o = rig.output;
    EXPECT_EQ(o.open.load(), 0);
    EXPECT_EQ(o.errorText, "Could not open audio device");
    EXPECT_EQ(o.engineRate.load(), 44100);
    ASSERT_TRUE(rig.fakeNull->StreamRunning());
    EXPECT_EQ(rig.fakeNull->CurrentStream().sampleRate, 44100);
    // The old stream is closed, not left half open.
    EXPECT_FALSE(rig.fake->IsStreamOpen());

    rig.fake->failEveryOpen = false;
    HandleAudioDeviceLoss(rig.output);
    EXPECT_EQ(o.open.load(), 1);
    EXPECT_EQ(rig.fake->opens.back().sampleRate, 44100);
    EXPECT_EQ(o.deviceRate.load(), 44100);
}

TEST(AudioOutputSwitch, AStartFailureClosesTheStreamAndCloseClearsOpen) {
    OutputRig rig(ThreeDevices(), 1);
    rig.fake->failStart = true;
    // A device that is there but fails is worth the alarm.
    testing::internal::CaptureStdout();
    rig.Open(48000);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Audio] could not start device 1 through fake"), std::string::npos) << log;
    EXPECT_NE(log.find("[Audio] Could not open audio device\n"), std::string::npos) << log;
    EXPECT_EQ(rig.output.open.load(), 0);
    EXPECT_FALSE(rig.fake->IsStreamOpen());
    EXPECT_EQ(rig.output.errorText, "Could not open audio device");

    rig.fake->failStart = false;
    EXPECT_TRUE(OpenAudioStream(rig.output, 2, 48000));
    EXPECT_EQ(rig.output.selectedDevice, 1);
    EXPECT_FALSE(rig.fakeNull->StreamRunning());
    CloseAudioOutput(rig.output);
    EXPECT_EQ(rig.output.open.load(), 0);
    EXPECT_EQ(rig.output.api, nullptr);
    // Nothing to poll once closed.
    HandleAudioDeviceLoss(rig.output);
}
