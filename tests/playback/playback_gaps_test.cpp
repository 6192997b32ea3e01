// What playback could not play, counted by cause: a block played with no
// voice while the document calls for some, a stretch the device played
// without our frames (from the stream's clock, or the back-end's flags), and
// the stop's log line that sums a stretch; and where an edit leaves the
// playhead.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "playback/audio_output.h"
#include "playback/mixer_rig.h"
#include "playback/output_rig.h"
#include "playback/playback_gaps.h"
#include "playback/transport.h"

namespace {

AudioDeviceInfo Fixed48k() { return FakeAudioBackend::MakeDevice(0, "Fixed 48000", 2, {48000}, 0); }

}  // namespace

TEST(PlaybackGaps, ABlockWithNoVoiceCountsOnlyWhileTheDocumentCallsForVoices) {
    auto e = MakePlayingEngine();
    std::vector<float> l(512), r(512);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_EQ(e->stats.emptyBlocks.load(), 0u) << "a project without layers plays no voice by right";
    e->stats.expectedVoices = 3;
    MixAudioBlock(*e, l.data(), r.data(), 512);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_EQ(e->stats.emptyBlocks.load(), 2u);
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.5f), 0.01f, 0.01f);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_EQ(e->stats.emptyBlocks.load(), 2u);
    e->playing = 0;
    ResetEngineVoices(*e, kRigRate, 0);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_EQ(e->stats.emptyBlocks.load(), 2u) << "a stopped transport plays nothing by right";
    EXPECT_EQ(e->stats.lockedBlocks.load(), 0u);
}

// The mixer's try outlasts a short hold (another thread's edit met by
// chance) but not a holder that keeps the lock: the block then goes silent
// after a bounded moment instead of waiting.
TEST(PlaybackGaps, TheMixersTryOutlastsAShortHoldButNeverWaitsForALongOne) {
    EngineMutex mutex;
    std::atomic<bool> held{false}, trying{false}, release{false};
    std::thread holder([&] {
        std::lock_guard<EngineMutex> lock(mutex);
        held = true;
        while (!trying.load()) std::this_thread::yield();
        // Still held when the first try comes, gone well within the budget.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!held.load()) std::this_thread::yield();
    trying = true;
    EXPECT_TRUE(mutex.TryLockForMix(int64_t(2e9))) << "a hold of a millisecond silenced the block";
    mutex.UnlockAfterMix();
    holder.join();

    held = false;
    std::thread keeper([&] {
        std::lock_guard<EngineMutex> lock(mutex);
        held = true;
        while (!release.load()) std::this_thread::yield();
    });
    while (!held.load()) std::this_thread::yield();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(mutex.TryLockForMix(2000000));
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    release = true;
    keeper.join();
    EXPECT_GE(waited, 0.002);
    EXPECT_LT(waited, 1.0) << "the try waited for the holder";
}

namespace {

// A device that takes `rate` frames a second off a queue of `capacity`
// frames (silence when it is empty) and a stream thread that hands it
// `period` frames a callback, writing as soon as there is room: what the
// watch sees at each callback's start, against what the device really
// played. `delay(n)` is how long callback n's thread is held before it
// starts (microseconds), `clockShare` the device's clock against the
// system's (above 1: a fast device). A device that `skips` plays on from
// where its clock is after running dry, dropping the frames that come too
// late; one that does not plays them, later.
struct DeviceQueueRun {
    int gaps = 0;             // the device's dry stretches
    double gapFrames = 0;     // and the frames it played as silence
    OutputClockWatch watch;
    int counted = 0;          // the watch's gaps
    int64_t countedFrames = 0;
    uint64_t late = 0;
};

template <typename Delay>
DeviceQueueRun RunDeviceQueue(int callbacks, Delay delay, bool skips = false, double capacity = 9600,
                              double clockShare = 1.0, uint32_t period = 512, int32_t rate = 48000) {
    DeviceQueueRun run;
    double t = 1.0e6;  // microseconds
    double queue = 0, owed = 0;
    bool dry = false, playing = false;
    const double perMicro = clockShare * rate / 1.0e6;
    // The device consumes from `from` to `to`; a queue that empties is a gap.
    auto consume = [&](double span) {
        if (!playing) return;
        const double need = span * perMicro;
        if (need <= queue) {
            queue -= need;
            return;
        }
        if (!dry) ++run.gaps;
        dry = true;
        run.gapFrames += need - queue;
        if (skips) owed += need - queue;
        queue = 0;
    };
    for (int n = 0; n < callbacks; ++n) {
        const double held = delay(n);
        consume(held);
        t += held;
        const OutputGapStep step = WatchOutputClock(run.watch, int64_t(t), period, rate);
        if (step.gap) {
            ++run.counted;
            run.countedFrames += step.gapFrames;
            run.late += step.lateCallbacks;
        }
        consume(150);  // the mix
        t += 150;
        // The write: in at once when there is room, else as room comes.
        if (queue + period > capacity) {
            const double wait = (queue + period - capacity) / perMicro;
            consume(wait);
            t += wait;
        }
        const double dropped = std::min(owed, double(period));
        owed -= dropped;
        queue += double(period) - dropped;
        if (queue > 0) dry = false;
        // The device starts once the queue is full (the first time).
        if (!playing && queue + period > capacity) playing = true;
    }
    return run;
}

}  // namespace

// The stream's clock against the frames delivered: a stream that keeps up
// (jittery wake-ups, callbacks late by less than the queue holds, a device
// clock 100 ppm off the system's either way) shows no gap; each time the
// queue runs dry shows one, of the frames the device played as silence.
TEST(OutputGaps, TheClockFindsEveryStretchTheDevicePlayedWithoutUsAndNoOther) {
    auto jitter = [](int n) { return double((n * 7919) % 2000); };
    for (bool skips : {false, true}) {
        DeviceQueueRun clean = RunDeviceQueue(20000, jitter, skips);
        EXPECT_EQ(clean.gaps, 0);
        EXPECT_EQ(clean.counted, 0);
        EXPECT_EQ(clean.late, 0u);

        // Held up to 180 ms, with a queue of 200 ms: late, but never dry.
        auto shortHolds = [&](int n) { return n % 500 == 499 ? 180000.0 - 1000.0 * (n % 7) : jitter(n); };
        for (double share : {1.0, 1.0001, 0.9999}) {
            DeviceQueueRun late = RunDeviceQueue(60000, shortHolds, skips, 9600, share);  // about ten minutes
            EXPECT_EQ(late.gaps, 0) << share;
            EXPECT_EQ(late.counted, 0) << share;
        }

        // Held 300, 260 and 900 ms among the rest: three dry stretches, each
        // counted once with its length, and one late callback each.
        auto stalls = [&](int n) {
            if (n == 3000) return 300000.0;
            if (n == 3300) return 260000.0;
            if (n == 9000) return 900000.0;
            return n % 500 == 499 ? 150000.0 : jitter(n);
        };
        DeviceQueueRun dry = RunDeviceQueue(12000, stalls, skips);
        EXPECT_EQ(dry.gaps, 3) << skips;
        EXPECT_EQ(dry.counted, 3) << skips;
        EXPECT_NEAR(double(dry.countedFrames), dry.gapFrames, 3 * 640.0) << skips;
        // The callbacks that came while the device had nothing: the three
        // late ones, and where the device drops late frames, those whose
        // frames it dropped.
        EXPECT_GE(dry.late, 3u);
        if (!skips) {
            EXPECT_EQ(dry.late, 3u);
        }

        // A stall that outlasts the queue by less than half a period is no
        // gap to count; one that outlasts it by two periods is.
        EXPECT_EQ(RunDeviceQueue(4000, [](int n) { return n == 2000 ? 200000.0 + 2000.0 : 0.0; }, skips).counted, 0);
        DeviceQueueRun justOver =
            RunDeviceQueue(4000, [](int n) { return n == 2000 ? 200000.0 + 21333.0 : 0.0; }, skips);
        EXPECT_EQ(justOver.gaps, 1);
        EXPECT_EQ(justOver.counted, 1);
    }
}

// A back-end that flags its underflows says so itself: each flagged
// callback is one gap and one late callback, of a length the flags do not
// tell; the stop's line says so.
TEST(OutputGaps, AFlaggedUnderflowIsOneGapOfUnknownLength) {
    OutputRig rig({Fixed48k()});
    rig.fake->gapSource = OutputGapSource::Flags;
    rig.Open(48000);
    ASSERT_EQ(rig.output.gapSource.load(), OutputGapSource::Flags);
    PlaybackGapWatch watch;
    auto e = MakePlayingEngine();
    e->playing = 0;
    WatchPlaybackGaps(watch, *e, rig.output);
    e->playing = 1;
    WatchPlaybackGaps(watch, *e, rig.output);
    rig.Pump(4 * 512);
    EXPECT_EQ(rig.output.outputGaps.load(), 0u);
    rig.fake->nextStatus = 2;  // RTAUDIO_OUTPUT_UNDERFLOW
    rig.Pump(512);
    rig.Pump(512);
    EXPECT_EQ(rig.output.outputGaps.load(), 1u);
    EXPECT_EQ(rig.output.lateCallbacks.load(), 1u);
    EXPECT_EQ(rig.output.underruns.load(), 1u);
    testing::internal::CaptureStdout();
    e->playing = 0;
    WatchPlaybackGaps(watch, *e, rig.output);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("1 output gaps (length unknown), 1 late callbacks"), std::string::npos) << said;
}

TEST(PlaybackGaps, TheStopSumsWhatTheStretchCouldNotPlay) {
    auto e = MakePlayingEngine();
    e->playing = 0;
    AudioOutput output;
    PlaybackGapWatch watch;
    e->stats.lockedBlocks = 5;  // before this stretch
    testing::internal::CaptureStdout();
    e->playing = 1;
    WatchPlaybackGaps(watch, *e, output);
    e->stats.lockedBlocks += 2;
    e->stats.lateVoiceBlocks += 1;
    e->stats.emptyBlocks += 4;
    output.outputGaps += 2;
    output.outputGapFrames += 4800;
    output.lateCallbacks += 3;
    output.deviceRate = 48000;
    output.gapSource = OutputGapSource::Clock;
    WatchPlaybackGaps(watch, *e, output);  // still playing: nothing said
    e->playing = 0;
    WatchPlaybackGaps(watch, *e, output);
    WatchPlaybackGaps(watch, *e, output);  // once per stop
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.rfind("[Audio] Playback stopped: 7 silent blocks (lock taken 2, voice late 1, no voices 4), 2 output "
                         "gaps (100 ms), 3 late callbacks; the engine's lock held at most ",
                         0),
              0u)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << "once per stop";
}

// After an edit the playhead goes to the designer's time only while the
// transport is stopped; while playing it stays where the audio thread has
// it, and the reverb is cleared only when the playhead really moves.
TEST(SettlePlayhead, PlayingItStaysStoppedItMovesAndTheReverbClearsOnlyOnAJump) {
    auto e = MakePlayingEngine();
    e->position = 123456;
    e->reverbClearRequested = 0;
    SettlePlayhead(*e, 1.0);
    EXPECT_EQ(e->position.load(), 123456);
    EXPECT_EQ(e->reverbClearRequested.load(), 0);

    e->playing = 0;
    SettlePlayhead(*e, 1.0);
    EXPECT_EQ(e->position.load(), kRigRate);
    EXPECT_EQ(e->reverbClearRequested.exchange(0), 1);
    SettlePlayhead(*e, 1.0);  // already there
    EXPECT_EQ(e->reverbClearRequested.load(), 0);
}
