// What playback could not play, counted by cause: a block played with no
// voice while the document calls for some, a stretch the device played
// without our frames (from the stream's clock, or the back-end's flags), and
// the stop's log line that sums a stretch; and where an edit leaves the
// playhead.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

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

// The stream's callback while another thread holds the engine's lock: each
// block tries the lock once and, finding it taken, plays what the audio
// thread holds itself (the audition) and nothing of the voices, counted as
// a locked block, the playhead in place. None waits: the holder lets go only
// after the callbacks have run on this very thread, and one try is made per
// block, no more. With the lock back the voices play on from where they were.
TEST(MixerLock, ABlockThatFindsTheLockTakenPlaysWhatItHoldsAndNeverWaits) {
    auto e = MakePlayingEngine();
    InstallPlaybackVoice(*e, ConstantVoice(0, 10, 0.5f), 0.01f, 0.01f);
    OutputRig rig({Fixed48k()});
    OpenAudioOutput(
        rig.output, [&e](float* l, float* r, int32_t n) { MixAudioBlock(*e, l, r, n); }, &e->playing, kRigRate);
    ASSERT_TRUE(rig.output.open.load());
    const std::vector<float> before = rig.Pump(8 * 512);  // past the fade-in
    ASSERT_GT(std::fabs(before.back()), 0.1f);

    for (const bool audition : {false, true}) {
        SCOPED_TRACE(audition ? "with an audition" : "without");
        constexpr float kAudition = 0.25f;
        if (audition) StartAudition(*e, std::make_shared<const std::vector<float>>(size_t(kRigRate), kAudition), kRigRate);
        const int64_t position = e->position.load();
        const uint64_t locked = e->stats.lockedBlocks.load(), missed = e->mutex.MissedMixTries();
        std::atomic<bool> held{false}, release{false};
        std::thread holder([&] {
            EngineLock lock(e->mutex);
            held = true;
            while (!release.load()) std::this_thread::yield();
        });
        while (!held.load()) std::this_thread::yield();
        const std::vector<float> during = rig.Pump(6 * 512);
        release = true;
        holder.join();

        ASSERT_EQ(during.size(), size_t(6 * 512 * 2));
        const float expected = audition ? kAudition : 0.0f;
        EXPECT_EQ(std::count(during.begin(), during.end(), expected), std::ptrdiff_t(during.size()))
            << "a block without the lock played something besides what the audio thread holds";
        EXPECT_EQ(e->stats.lockedBlocks.load() - locked, 6u);
        EXPECT_EQ(e->mutex.MissedMixTries() - missed, 6u) << "a block tried the lock more than once";
        EXPECT_EQ(e->position.load(), position) << "the playhead moved without the voices";

        const std::vector<float> after = rig.Pump(8 * 512);
        EXPECT_EQ(e->stats.lockedBlocks.load() - locked, 6u);
        EXPECT_EQ(e->position.load(), position + 8 * 512);
        if (audition) {
            EXPECT_GT(after.back(), before.back() + 0.1f) << "the voices and the audition play on once the lock is back";
        } else {
            EXPECT_NEAR(after.back(), before.back(), 1e-6f) << "the voices play on once the lock is back";
        }
        StopAudition(*e);
    }
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
// late; one that does not plays them, later. A dry stretch ends once the
// queue holds a quarter period again (a few frames of sound between two
// stretches are not heard apart), and counts when it lasted half a period.
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
    double queue = 0, owed = 0, stretch = 0;
    bool dry = false, playing = false;
    auto endStretch = [&] {
        if (dry && stretch >= 0.5 * period) ++run.gaps;
        dry = false;
        stretch = 0;
    };
    const double perMicro = clockShare * rate / 1.0e6;
    // The device consumes from `from` to `to`; a queue that empties is a gap.
    auto consume = [&](double span) {
        if (!playing) return;
        const double need = span * perMicro;
        if (need <= queue) {
            queue -= need;
            return;
        }
        dry = true;
        stretch += need - queue;
        run.gapFrames += need - queue;
        if (skips) owed += need - queue;
        queue = 0;
    };
    for (int n = 0; n < callbacks; ++n) {
        const double held = delay(n);
        consume(held);
        t += held;
        const OutputGapStep step = WatchOutputClock(run.watch, int64_t(t), period, rate);
        if (step.gaps > 0) {
            run.counted += step.gaps;
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
        if (queue >= 0.25 * period) endStretch();
        // The device starts once the queue is full (the first time).
        if (!playing && queue + period > capacity) playing = true;
    }
    endStretch();
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

// Two stalls close together are two silences of the device, and two gaps:
// the second may come while the watch still follows the first (the level
// not yet steady again), however soon after the stream caught up, at any
// distance, on a device that drops late frames or one that plays them.
TEST(OutputGaps, EachSilenceIsAGapOfItsOwnHoweverCloseToTheOneBefore) {
    auto jitter = [](int n) { return double((n * 7919) % 2000); };
    for (bool skips : {false, true}) {
        for (int apart : {2, 6, 12, 23, 40, 120}) {
            SCOPED_TRACE(testing::Message() << (skips ? "dropping late frames, " : "playing them late, ") << apart
                                            << " callbacks apart");
            auto pairs = [&](int n) {
                if (n == 2000 || n == 2000 + apart || n == 5000 || n == 5000 + apart) return 300000.0;
                return jitter(n);
            };
            DeviceQueueRun run = RunDeviceQueue(7000, pairs, skips);
            // A device that drops late frames is still silent a few callbacks on.
            if (!skips || apart >= 12) {
                EXPECT_EQ(run.gaps, 4) << "the device played sound between the two of a pair";
            }
            EXPECT_EQ(run.counted, run.gaps);
            EXPECT_NEAR(double(run.countedFrames), run.gapFrames, 4 * 640.0);
            EXPECT_GE(run.late, 4u);
        }
    }
}

// A server that takes a second to begin playing what the stream queued as it
// started (its first writes go in at once, then the next waits): no
// silence of ours. Afterwards the queue those first writes told is the
// watch's, and a stall that outlasts it is one gap.
TEST(OutputGaps, AStreamThatIsSlowToStartIsNoGap) {
    constexpr int32_t kRate = 48000;
    constexpr uint32_t kPeriod = 512;
    const double periodMicros = 1.0e6 * kPeriod / kRate;
    OutputClockWatch watch;
    int gaps = 0;
    int64_t gapFrames = 0;
    double t = 5.0e6;
    auto callback = [&](double after) {
        t += after;
        const OutputGapStep step = WatchOutputClock(watch, int64_t(t), kPeriod, kRate);
        gaps += step.gaps;
        gapFrames += step.gapFrames;
    };
    for (int n = 0; n < 14; ++n) callback(15.0);  // 14 periods queued at once
    callback(1.0e6);                             // the server starts a second later
    for (int n = 0; n < 400; ++n) callback(periodMicros);
    EXPECT_EQ(gaps, 0);
    callback(periodMicros + 300000.0);  // 300 ms late: the queue of 150 ms runs dry
    for (int n = 0; n < 13; ++n) callback(20.0);  // the queue refills at once
    for (int n = 0; n < 400; ++n) callback(periodMicros);
    EXPECT_EQ(gaps, 1);
    EXPECT_NEAR(double(gapFrames), 0.3 * kRate - 14 * kPeriod, 2.0 * kPeriod);
}

// A back-end that flags its underflows says so itself: each flagged
// callback while the transport plays is one gap and one late callback, of a
// length the flags do not tell; the stop's line says so. One while it is
// stopped is no gap of playback: it counts apart.
TEST(OutputGaps, AFlaggedUnderflowIsOneGapOfUnknownLengthOnlyWhilePlaying) {
    OutputRig rig({Fixed48k()});
    rig.fake->gapSource = OutputGapSource::Flags;
    rig.Open(48000);
    ASSERT_EQ(rig.output.gapSource.load(), OutputGapSource::Flags);
    rig.fake->nextStatus = 2;  // RTAUDIO_OUTPUT_UNDERFLOW, before anything plays
    rig.Pump(512);
    rig.Pump(4 * 512);
    EXPECT_EQ(rig.output.outputGaps.load(), 0u);
    EXPECT_EQ(rig.output.lateCallbacks.load(), 0u);
    EXPECT_EQ(rig.output.stoppedOutputGaps.load(), 1u);

    PlaybackGapWatch watch;
    auto e = MakePlayingEngine();
    e->playing = 0;
    WatchPlaybackGaps(watch, *e, rig.output);
    e->playing = 1;
    rig.playing = 1;
    WatchPlaybackGaps(watch, *e, rig.output);
    rig.Pump(4 * 512);
    EXPECT_EQ(rig.output.outputGaps.load(), 0u);
    rig.fake->nextStatus = 2;
    rig.Pump(512);
    rig.Pump(512);
    EXPECT_EQ(rig.output.outputGaps.load(), 1u);
    EXPECT_EQ(rig.output.lateCallbacks.load(), 1u);
    EXPECT_EQ(rig.output.underruns.load(), 2u);
    EXPECT_EQ(rig.output.stoppedOutputGaps.load(), 1u);
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
