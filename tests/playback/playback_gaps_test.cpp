// What playback could not play, counted by cause: a block played with no
// voice while the document calls for some, a callback that came late, and
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

namespace {

AudioDeviceInfo Fixed48k() { return FakeAudioBackend::MakeDevice(0, "Fixed 48000", 2, {48000}, 0); }

}  // namespace

TEST(PlaybackGaps, ABlockWithNoVoiceCountsOnlyWhileTheDocumentCallsForVoices) {
    auto e = MakePlayingEngine();
    std::vector<float> l(512), r(512);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_EQ(e->emptyBlocks.load(), 0u) << "a project without layers plays no voice by right";
    e->expectedVoices = 3;
    MixAudioBlock(*e, l.data(), r.data(), 512);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_EQ(e->emptyBlocks.load(), 2u);
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.5f), 0.01f, 0.01f);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_EQ(e->emptyBlocks.load(), 2u);
    e->playing = 0;
    ResetEngineVoices(*e, kRigRate, 0);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_EQ(e->emptyBlocks.load(), 2u) << "a stopped transport plays nothing by right";
    EXPECT_EQ(e->lockedBlocks.load(), 0u);
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

// A callback whose wait since the previous one passed two periods is late;
// one that comes on time is not.
TEST(PlaybackGaps, ACallbackAfterAWaitOfOverTwoPeriodsIsLate) {
    OutputRig rig({Fixed48k()});
    rig.Open(48000);
    std::vector<float> out(2 * 512);
    AudioOutput* user = &rig.output;
    AudioStreamCallback(out.data(), nullptr, 512, 0.0, 0, user);
    AudioStreamCallback(out.data(), nullptr, 512, 0.0, 0, user);  // at once: on time
    EXPECT_EQ(rig.output.lateCallbacks.load(), 0u);
    // Two periods of 512 frames at 48 kHz are 21.3 ms.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    AudioStreamCallback(out.data(), nullptr, 512, 0.0, 0, user);
    EXPECT_EQ(rig.output.lateCallbacks.load(), 1u);
    EXPECT_GE(rig.output.longestCallbackGapMicros.load(), 40000);
}

TEST(PlaybackGaps, TheStopSumsWhatTheStretchCouldNotPlay) {
    auto e = MakePlayingEngine();
    e->playing = 0;
    AudioOutput output;
    PlaybackGapWatch watch;
    e->lockedBlocks = 5;  // before this stretch
    testing::internal::CaptureStdout();
    e->playing = 1;
    WatchPlaybackGaps(watch, *e, output);
    e->lockedBlocks += 2;
    e->lateVoiceBlocks += 1;
    e->emptyBlocks += 4;
    output.lateCallbacks += 3;
    WatchPlaybackGaps(watch, *e, output);  // still playing: nothing said
    e->playing = 0;
    WatchPlaybackGaps(watch, *e, output);
    WatchPlaybackGaps(watch, *e, output);  // once per stop
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.rfind("[Audio] Playback stopped: 7 silent blocks (lock taken 2, voice late 1, no voices 4), 3 late "
                         "callbacks; the engine's lock held at most ",
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
