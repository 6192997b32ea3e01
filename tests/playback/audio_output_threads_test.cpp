// The audio output with streams that run on threads of their own: the null
// output keeping time, the real RtAudio back-end (on a machine without a
// sound card it must fall back to the null output), and rate switches from a
// worker while the interface thread polls.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "platform/null_audio_output.h"
#include "platform/rtaudio_backend.h"
#include "playback/audio_output.h"
#include "playback/mixer_rig.h"
#include "playback/reverb.h"
#include "support/wait_until.h"

namespace {

using Clock = std::chrono::steady_clock;

// Engine frames the playhead moves per second of wall-clock time, over `span`.
double MeasurePlayheadRate(const AudioEngine& engine, std::chrono::milliseconds span) {
    const int64_t p0 = engine.position.load();
    const Clock::time_point t0 = Clock::now();
    std::this_thread::sleep_for(span);
    const int64_t p1 = engine.position.load();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return double(p1 - p0) / seconds;
}

// The measurement closest to `expected` of up to five windows, stopping at
// the first within `tolerance`. A loaded machine may starve the stream's
// thread for longer than the output catches up on (it then drops the time
// rather than burst), which says nothing of its pacing; a pacing fault shows
// in every window.
double PlayheadRateNear(const AudioEngine& engine, double expected, double tolerance) {
    double closest = 0;
    for (int window = 0; window < 5; ++window) {
        const double rate = MeasurePlayheadRate(engine, std::chrono::milliseconds(600));
        if (window == 0 || std::fabs(rate - expected) < std::fabs(closest - expected)) closest = rate;
        if (std::fabs(closest - expected) <= tolerance) break;
    }
    return closest;
}

// An output whose render function mixes `engine`, which follows the rate.
void Connect(AudioOutput& output, AudioEngine& engine) {
    output.onEngineRateChange = [&engine](int32_t rate) {
        engine.sampleRate.store(rate);
        InitReverb(engine.reverbState, rate);
    };
    OpenAudioOutput(
        output, [&engine](float* l, float* r, int32_t frames) { MixAudioBlock(engine, l, r, frames); },
        &engine.playing, engine.sampleRate.load());
}

// A device whose stream thread starts at open and learns of the start through
// a plain flag, as RtAudio's PulseAudio thread does when it finds the stream
// already running: nothing orders what the opener wrote before the start
// against the thread's first callback, except what the output itself does.
class LooseStartBackend : public AudioBackend {
public:
    ~LooseStartBackend() override { CloseStream(); }
    std::string Name() const override { return "fake"; }
    std::vector<uint32_t> DeviceIds() override { return {0}; }
    bool GetDeviceInfo(uint32_t, AudioDeviceInfo& info) override {
        info = AudioDeviceInfo{};
        info.name = "loose";
        info.outputChannels = 2;
        info.sampleRates = {44100, 48000};
        return true;
    }
    uint32_t DefaultOutputDevice() override { return 0; }
    bool OpenStream(const AudioStreamRequest& request, uint32_t& grantedFrames, std::string&) override {
        grantedFrames = 256;
        started_.store(false, std::memory_order_relaxed);
        stop_.store(false, std::memory_order_relaxed);
        thread_ = std::thread([this, request] {
            std::vector<float> out(2 * 256);
            while (!stop_.load(std::memory_order_relaxed)) {
                if (started_.load(std::memory_order_relaxed)) {
                    request.callback(out.data(), nullptr, 256, 0.0, 0, request.user);
                    callbacks.fetch_add(1, std::memory_order_relaxed);
                }
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
        return true;
    }
    bool StartStream(std::string&) override {
        started_.store(true, std::memory_order_relaxed);
        return true;
    }
    void StopStream() override { started_.store(false, std::memory_order_relaxed); }
    void CloseStream() override {
        stop_.store(true, std::memory_order_relaxed);
        if (thread_.joinable()) thread_.join();
    }
    bool IsStreamOpen() override { return thread_.joinable(); }
    bool IsStreamRunning() override { return started_.load(std::memory_order_relaxed); }

    std::atomic<uint64_t> callbacks{0};

private:
    std::thread thread_;
    std::atomic<bool> started_{false}, stop_{false};
};

}  // namespace

TEST(AudioOutputStreams, TheNullOutputMovesThePlayheadAtTheEngineRate) {
    auto engine = MakePlayingEngine(44100);
    AudioOutput output;
    output.nullOutput = std::make_unique<NullAudioOutput>();  // and no device at all
    Connect(output, *engine);
    ASSERT_EQ(output.nullRunning.load(), 1);
    EXPECT_EQ(output.errorText, "Could not open audio device");
    // Within a few periods of slack on a loaded machine.
    EXPECT_NEAR(PlayheadRateNear(*engine, 44100.0, 0.15 * 44100), 44100.0, 0.15 * 44100);

    CloseAudioOutput(output);
    // Closed: the null output's thread was joined (its stop joins it) and the
    // output dropped, so nothing is left that could move the playhead.
    EXPECT_EQ(output.nullRunning.load(), 0);
    EXPECT_EQ(output.nullOutput, nullptr);
}

// On a machine with a sound card the device runs instead; either way the
// transport moves, and nothing is printed on stderr.
TEST(AudioOutputStreams, RealRtAudioOpensOrFallsBackToTheNullOutput) {
    auto engine = MakePlayingEngine(48000);
    AudioOutput output;
    testing::internal::CaptureStderr();
    output.api = CreateRtAudioBackend();
    output.nullOutput = std::make_unique<NullAudioOutput>();
    Connect(output, *engine);
    HandleAudioDeviceLoss(output);  // a retry (no device) or a check (device) changes nothing
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(stderrText, "");

    AudioOutputStatus status;
    ASSERT_TRUE(TryReadAudioOutputStatus(output, status));
    std::printf("[test] audio back-end %s: open %d, null output %d, %d Hz\n", output.api->Name().c_str(),
                int(status.open), int(status.nullRunning), status.deviceRate);
    if (!status.open) {
        EXPECT_EQ(status.errorText, "Could not open audio device");
        EXPECT_TRUE(status.nullRunning);
        EXPECT_EQ(status.deviceRate, 48000);
    }
    EXPECT_NEAR(PlayheadRateNear(*engine, 48000.0, 0.15 * 48000), 48000.0, 0.15 * 48000);
    CloseAudioOutput(output);
    EXPECT_EQ(output.open.load(), 0);
    EXPECT_EQ(output.nullRunning.load(), 0);
}

// The settings panel switches rates from a worker while the interface thread
// polls for loss and reads the status; the reverb is re-initialised at each
// switch while the stream thread mixes with it in between.
TEST(AudioOutputStreams, RateSwitchesFromAWorkerWhileTheInterfacePolls) {
    auto engine = MakePlayingEngine(48000);
    engine->reverb.enabled = 1;
    InstallPlaybackVoice(*engine, ConstantVoice(0, 30, 0.25f), 0.05f, 0.05f);
    AudioOutput output;
    output.api = std::make_unique<NullAudioOutput>();  // a "device" with a thread of its own
    output.nullOutput = std::make_unique<NullAudioOutput>();
    Connect(output, *engine);
    ASSERT_EQ(output.open.load(), 1);

    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 12; ++i) {
            SwitchAudioDevice(output, i % 2 ? 48000 : 44100);
            RefreshOutputDevices(output);
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        done = true;
    });
    // Polled at least once, however early the worker is through (a loaded
    // machine may not run this thread before it).
    int statusReads = 0;
    do {
        HandleAudioDeviceLoss(output);
        AudioOutputStatus status;
        statusReads += TryReadAudioOutputStatus(output, status) ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    } while (!done.load());
    worker.join();
    EXPECT_GT(statusReads, 0);
    EXPECT_EQ(output.open.load(), 1);
    EXPECT_EQ(output.engineRate.load(), 48000);
    EXPECT_EQ(engine->sampleRate.load(), 48000);
    EXPECT_EQ(engine->playing.load(), 1);
    // The last stream runs on: the playhead moves again.
    const int64_t before = engine->position.load();
    EXPECT_TRUE(WaitUntil([&] { return engine->position.load() > before; }));
    CloseAudioOutput(output);
}

// Each open prepares the callback's buffers after the device's thread exists;
// the first callback of every stream must see them prepared (ThreadSanitizer
// reports the race otherwise), reopened at both rates.
TEST(AudioOutputStreams, AThreadRunningFromTheOpenSeesThePreparedBuffers) {
    auto engine = MakePlayingEngine(48000);
    AudioOutput output;
    auto backend = std::make_unique<LooseStartBackend>();
    LooseStartBackend& device = *backend;
    output.api = std::move(backend);
    Connect(output, *engine);
    ASSERT_EQ(output.open.load(), 1);
    for (int32_t rate : {44100, 48000, 44100}) {
        SwitchAudioDevice(output, rate);
        ASSERT_EQ(output.open.load(), 1);
        const uint64_t calls = device.callbacks.load();
        const int64_t before = engine->position.load();
        EXPECT_TRUE(WaitUntil([&] { return device.callbacks.load() > calls + 4 && engine->position.load() > before; }))
            << "at " << rate << " Hz";
    }
    CloseAudioOutput(output);
}
