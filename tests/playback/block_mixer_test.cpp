// The block mixer: transport and lock states, fades, solo and mute, limiter,
// reverb bus size, long-project precision, allocation-free blocks, the
// offline twin and the playhead helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "export/sample_hygiene.h"
#include "playback/allocation_counter.h"
#include "playback/mixer_rig.h"
#include "playback/reverb.h"
#include "playback/transport.h"

namespace {

struct HookLog {
    std::atomic<int> calls{0};
    std::atomic<double> lastTime{-1};
    AudioEngine* seekOnCall = nullptr;  // when set, the hook seeks this engine to 10 s
};
HookLog gHookLog;

void AddTenthHook(float* left, float* right, int32_t frames, double timeSeconds, int32_t) {
    for (int i = 0; i < frames; ++i) {
        left[i] += 0.1f;
        right[i] += 0.1f;
    }
    gHookLog.calls.fetch_add(1);
    gHookLog.lastTime.store(timeSeconds);
    if (gHookLog.seekOnCall) SeekPlayback(*gHookLog.seekOnCall, 10.0);
}

class MixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gHookLog.calls = 0;
        gHookLog.lastTime = -1;
        gHookLog.seekOnCall = nullptr;
    }
};

float MaxAbs(const std::vector<float>& v) {
    float m = 0;
    for (float x : v) m = std::max(m, std::fabs(x));
    return m;
}

}  // namespace

// ---- Transport, cache and lock states --------------------------------------

TEST_F(MixerTest, StoppedTransportPlaysOnlyTheAuditionAndHoldsThePlayhead) {
    auto e = MakePlayingEngine();
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.5f), 0.04f, 0.05f);
    e->playing = 0;
    e->masterGain = 0.5f;
    SetReferenceAudioHook(*e, AddTenthHook);
    auto sound = std::make_shared<const std::vector<float>>(1000, 0.4f);
    StartAudition(*e, sound, 48000);

    std::vector<float> l, r;
    MixFrames(*e, 2048, l, r);
    for (int i = 0; i < 2048; ++i) {
        const float want = i < 1000 ? 0.2f : 0.0f;  // master gain applies to the audition
        ASSERT_FLOAT_EQ(l[i], want) << i;
        ASSERT_FLOAT_EQ(r[i], want) << i;
    }
    EXPECT_EQ(e->position.load(), 0);
    EXPECT_EQ(gHookLog.calls.load(), 0);
    EXPECT_EQ(e->auditionPosition.load(), e->auditionLength.load());
}

// The hook is the engine's own: a second engine (a preview's, an export's)
// mixes only its voices, and removing the hook from one leaves the other's.
TEST_F(MixerTest, EachEngineMixesOnlyItsOwnReferenceAudio) {
    auto withHook = MakePlayingEngine();
    auto without = MakePlayingEngine();
    SetReferenceAudioHook(*withHook, AddTenthHook);
    EXPECT_EQ(GetReferenceAudioHook(*withHook), &AddTenthHook);
    EXPECT_EQ(GetReferenceAudioHook(*without), nullptr);
    std::vector<float> l, r;
    MixFrames(*without, 512, l, r);
    EXPECT_EQ(MaxAbs(l) + MaxAbs(r), 0.0f) << "an engine without the hook played the picture's sound";
    EXPECT_EQ(gHookLog.calls.load(), 0);
    MixFrames(*withHook, 1024, l, r);  // past the start's short fade-in
    EXPECT_FLOAT_EQ(l[1000], 0.1f);
    EXPECT_EQ(gHookLog.calls.load(), 2);
    SetReferenceAudioHook(*without, nullptr);
    EXPECT_EQ(GetReferenceAudioHook(*withHook), &AddTenthHook);
}

TEST_F(MixerTest, AuditionPlaysToItsEndAtAnyEngineRate) {
    for (int rate : {44100, 96000, 192000}) {
        auto e = MakePlayingEngine(rate);
        e->playing = 0;
        std::vector<float> samples(4800);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = 0.001f * float(i % 100 + 1);
        StartAudition(*e, std::make_shared<const std::vector<float>>(samples), 48000);
        std::vector<float> l, r;
        MixFrames(*e, rate / 5, l, r);  // 0.2 s: twice the sound's length
        int sounding = 0;
        for (float x : l) sounding += x != 0.0f;
        // 0.1 s of sound at the engine rate, within a frame.
        EXPECT_NEAR(sounding, rate / 10, 1) << rate;
        // It plays through to the end of the sound (one of the last two
        // samples, as a lower rate steps over some).
        EXPECT_GE(l[size_t(sounding - 1)], samples[samples.size() - 2] - 1e-6f) << rate;
    }
}

// While a rebuild brings the voices in line the voice set is not marked
// ready, and the mixer plays the voices there are all the same, with the
// picture's sound, and runs on.
TEST_F(MixerTest, CacheNotReadyStillPlaysTheVoicesThereAreAndAdvances) {
    auto e = MakePlayingEngine();
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.5f), 0.04f, 0.05f);
    std::vector<float> l(512), r(512);
    e->position = 4800 - 512;
    MixAudioBlock(*e, l.data(), r.data(), 512);  // the fade-in from silence
    e->cacheReady = 0;
    SetReferenceAudioHook(*e, AddTenthHook);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    SetReferenceAudioHook(*e, nullptr);
    float quietest = 1;
    for (int i = 0; i < 512; ++i) quietest = std::min(quietest, l[size_t(i)] - 0.1f);
    EXPECT_GT(quietest, 0.05f) << "the voice went silent while the set was not ready";
    EXPECT_EQ(e->position.load(), 4800 + 512);
    EXPECT_EQ(gHookLog.calls.load(), 1);
    EXPECT_DOUBLE_EQ(gHookLog.lastTime.load(), 0.1);
    EXPECT_GT(e->stats.peakL.load(), 0.0f);
    EXPECT_EQ(e->stats.emptyBlocks.load(), 0u);
}

TEST_F(MixerTest, LockHeldElsewhereGivesASilentBlockAndKeepsThePlayhead) {
    auto e = MakePlayingEngine();
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.5f), 0.04f, 0.05f);
    SetReferenceAudioHook(*e, AddTenthHook);
    e->stats.peakL = 0.7f;

    std::mutex m;
    std::condition_variable cv;
    bool locked = false, release = false;
    std::thread holder([&] {
        std::lock_guard<EngineMutex> engineLock(e->mutex);
        std::unique_lock<std::mutex> lk(m);
        locked = true;
        cv.notify_all();
        cv.wait(lk, [&] { return release; });
    });
    {
        std::unique_lock<std::mutex> lk(m);
        cv.wait(lk, [&] { return locked; });
    }
    std::vector<float> l(512, 9.0f), r(512, 9.0f);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    {
        std::lock_guard<std::mutex> lk(m);
        release = true;
    }
    cv.notify_all();
    holder.join();

    EXPECT_EQ(MaxAbs(l) + MaxAbs(r), 0.0f);
    EXPECT_EQ(e->position.load(), 0);
    EXPECT_EQ(gHookLog.calls.load(), 0);
    EXPECT_EQ(e->stats.peakL.load(), 0.7f);  // meters keep their values

    // Once the lock is free the voice and the hook are heard again.
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_GT(MaxAbs(l), 0.1f);
    EXPECT_EQ(gHookLog.calls.load(), 1);
    EXPECT_EQ(e->position.load(), 512);
}

TEST_F(MixerTest, ASeekDuringABlockIsKept) {
    auto e = MakePlayingEngine();
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.5f), 0.04f, 0.05f);
    gHookLog.seekOnCall = e.get();  // the hook runs after the voices, before the advance
    SetReferenceAudioHook(*e, AddTenthHook);
    std::vector<float> l(512), r(512);
    MixAudioBlock(*e, l.data(), r.data(), 512);
    EXPECT_EQ(e->position.load(), 10 * 48000);
    EXPECT_DOUBLE_EQ(GetPlaybackTime(*e), 10.0);
}

// ---- Fades, gains, solo and mute --------------------------------------------

TEST(VoiceFadesTest, ClampsAndScalesAsDocumented) {
    VoiceFades f = EffectiveVoiceFades(0.1f, 0.04f, 0.05f);
    EXPECT_FLOAT_EQ(f.in, 0.04f);
    EXPECT_FLOAT_EQ(f.out, 0.045f);  // held at 45 % of the length
    f = EffectiveVoiceFades(0.02f, 0.04f, 0.05f);
    EXPECT_FLOAT_EQ(f.in, 0.009f);  // 0.015 each, scaled to 90 % of 0.02 together
    EXPECT_FLOAT_EQ(f.out, 0.009f);
    f = EffectiveVoiceFades(2.0f, 0.001f, 5.0f);
    EXPECT_FLOAT_EQ(f.in, 0.015f);
    EXPECT_FLOAT_EQ(f.out, 0.9f);
}

TEST_F(MixerTest, FadeShapesFollowTheirCurves) {
    auto e = MakePlayingEngine();
    // 1 s of 0.5 with a 0.1 s fade-in and 0.2 s fade-out, starting at 0.
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.5f), 0.1f, 0.2f);
    std::vector<float> l, r;
    MixFrames(*e, 48000, l, r);
    const float level = 0.5f * CentreGain();
    // Half-way into the fade-in: u = 0.5, y = 0.25.
    const double s = 0.5 + 0.25 + 1.4196 * 0.0625;
    EXPECT_NEAR(l[2400], level * s * s, 1e-5);
    EXPECT_NEAR(l[24000], level, 1e-6);  // full level in the middle
    // Half-way into the fade-out: (1/2)^4.
    EXPECT_NEAR(l[48000 - 4800], level * 0.0625, 1e-5);
    EXPECT_FLOAT_EQ(l[0], 0.0f);
    EXPECT_LT(std::fabs(l[47999]), 1e-6f);
}

TEST_F(MixerTest, SoloAndMuteMatrix) {
    // Groups 0, 1 and 2 play 0.01, 0.02 and 0.04; the sum tells who plays.
    auto mixLevel = [](AudioEngine& e) {
        e.position = 23000;  // mid-voice: no fades; read past the declick ramps
        std::vector<float> l(1024), r(1024);
        MixAudioBlock(e, l.data(), r.data(), 1024);
        return std::lround(l[1000] / CentreGain() / 0.01f);
    };
    auto e = MakePlayingEngine();
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.01f, 0), 0.04f, 0.05f);
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.02f, 1), 0.04f, 0.05f);
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.04f, 2), 0.04f, 0.05f);
    struct Case {
        const char* name;
        std::array<uint8_t, 3> solo, mute;
        int soloVoice;
        bool muteVoice1;
        long expect;
    };
    const Case cases[] = {
        {"none", {0, 0, 0}, {0, 0, 0}, -1, false, 7},
        {"solo 1", {0, 1, 0}, {0, 0, 0}, -1, false, 2},
        {"mute beats solo", {0, 1, 0}, {0, 1, 0}, -1, false, 0},
        {"solo 0 and 2", {1, 0, 1}, {0, 0, 0}, -1, false, 5},
        {"mute 0", {0, 0, 0}, {1, 0, 0}, -1, false, 6},
        {"voice 1 muted", {0, 0, 0}, {0, 0, 0}, -1, true, 5},
        {"solo voice plays though muted", {0, 0, 0}, {0, 0, 0}, 1, true, 2},
        {"solo voice in a muted group", {0, 0, 0}, {0, 1, 0}, 1, false, 0},
        {"solo voice outside the soloed group", {1, 0, 0}, {0, 0, 0}, 2, false, 0},
    };
    for (const Case& c : cases) {
        for (int g = 0; g < 3; ++g) {
            e->groupSolo[g] = c.solo[g];
            e->groupMute[g] = c.mute[g];
        }
        e->soloVoice = c.soloVoice;
        e->voices[1].muted = c.muteVoice1 ? 1 : 0;
        EXPECT_EQ(mixLevel(*e), c.expect) << c.name;
    }
}

TEST_F(MixerTest, GainsMultiplyAndMasterMuteSilencesAllButTheHook) {
    auto e = MakePlayingEngine();
    PlaybackVoice v = ConstantVoice(0, 1, 0.1f, 2);
    v.gain = 0.5f;
    v.normGain = 2.0f;
    v.eventGain = 0.8f;
    InstallPlaybackVoice(*e, std::move(v), 0.04f, 0.05f);
    e->groupGain[2] = 0.5f;
    e->masterGain = 1.5f;
    e->position = 24000 - 512;
    std::vector<float> l(512), r(512);
    MixAudioBlock(*e, l.data(), r.data(), 512);  // past the fade-in of the start
    MixAudioBlock(*e, l.data(), r.data(), 64);
    EXPECT_NEAR(l[10], 0.1f * 0.5f * 2.0f * 0.8f * 0.5f * 1.5f * CentreGain(), 1e-6);
    EXPECT_NEAR(e->stats.groupPeakL[2].load(), 0.1f * 0.5f * 2.0f * 0.8f * 0.5f * CentreGain(), 1e-6);
    EXPECT_NEAR(e->stats.peakL.load(), l[10], 1e-7);

    e->masterMute = 1;
    SetReferenceAudioHook(*e, AddTenthHook);
    for (int ramp = 0; ramp < 4; ++ramp) MixAudioBlock(*e, l.data(), r.data(), 64);  // past the 5 ms ramp
    MixAudioBlock(*e, l.data(), r.data(), 64);
    EXPECT_FLOAT_EQ(l[10], 0.1f);  // the reference audio still plays
    EXPECT_EQ(e->stats.peakL.load(), 0.0f);  // and is not metered
}

// ---- Limiter, reverb bus, precision ----------------------------------------

TEST_F(MixerTest, FullScaleSquareNeverExceedsTheCeiling) {
    auto e = MakePlayingEngine();
    e->reverb.enabled = 1;
    InitReverb(e->reverbState, kRigRate);
    for (int k = 0; k < 3; ++k) {
        PlaybackVoice v = ConstantVoice(0, 2, 1.0f, k);
        for (size_t i = 0; i < v.left.size(); ++i) v.left[i] = (i / 50) % 2 ? -1.0f : 1.0f;
        v.normGain = 4.0f;
        InstallPlaybackVoice(*e, std::move(v), 0.015f, 0.015f);
    }
    std::vector<float> l, r;
    MixFrames(*e, 96000, l, r);
    EXPECT_LE(MaxAbs(l), 0.891f);
    EXPECT_LE(MaxAbs(r), 0.891f);
    EXPECT_GT(MaxAbs(l), 0.85f);  // it is loud, just limited
}

TEST_F(MixerTest, NonFiniteVoiceSamplesNeverLeaveTheMixer) {
    auto e = MakePlayingEngine();
    e->reverb.enabled = 1;
    InitReverb(e->reverbState, kRigRate);
    PlaybackVoice v = ConstantVoice(0, 0.05, 0.2f);
    v.left[100] = NAN;
    v.left[200] = INFINITY;
    InstallPlaybackVoice(*e, std::move(v), 0.015f, 0.015f);
    InstallPlaybackVoice(*e, ConstantVoice(0, 1, 0.2f, 1), 0.015f, 0.015f);
    std::vector<float> l, r;
    MixFrames(*e, 48000, l, r);
    for (size_t i = 0; i < l.size(); ++i) ASSERT_TRUE(std::isfinite(l[i]) && std::isfinite(r[i])) << i;
    EXPECT_GT(std::fabs(l[30000]), 0.1f);  // the healthy voice is still heard later on
}

TEST_F(MixerTest, LongBlocksFeedTheReverbOnlyTheirFirst4096Frames) {
    auto e = MakePlayingEngine();
    e->reverb.enabled = 1;
    InitReverb(e->reverbState, kRigRate);
    // A voice that starts in the second half of an 8192-frame block.
    PlaybackVoice v = ConstantVoice(5000.0 / kRigRate, 0.05, 0.3f);
    v.reverbSend = 1.0f;
    InstallPlaybackVoice(*e, std::move(v), 0.015f, 0.015f);
    std::vector<float> withReverb(8192), r(8192), dry(8192), r2(8192);
    MixAudioBlock(*e, withReverb.data(), r.data(), 8192);
    EXPECT_EQ(e->reverbState.predelayWrite, 4096u);
    EXPECT_GT(MaxAbs(withReverb), 0.1f);  // all 8192 frames were mixed

    e->position = 0;
    e->reverb.enabled = 0;
    MixAudioBlock(*e, dry.data(), r2.data(), 8192);
    EXPECT_EQ(std::memcmp(withReverb.data(), dry.data(), sizeof(float) * 8192), 0);
}

TEST_F(MixerTest, AVoiceAnHourInMixesLikeTheSameVoiceAtZero) {
    auto early = MakePlayingEngine();
    auto late = MakePlayingEngine();
    for (AudioEngine* e : {early.get(), late.get()}) {
        e->reverb.enabled = 1;
        InitReverb(e->reverbState, kRigRate);
    }
    InstallPlaybackVoice(*early, CurvedNoiseVoice(0.5, 1.5, true, 7), 0.1f, 0.3f);
    InstallPlaybackVoice(*late, CurvedNoiseVoice(3600.5, 1.5, true, 7), 0.1f, 0.3f);
    SeekPlayback(*early, 0.0);
    SeekPlayback(*late, 3600.0);
    std::vector<float> l1, r1, l2, r2;
    MixFrames(*early, 2 * kRigRate + 100, l1, r1);
    MixFrames(*late, 2 * kRigRate + 100, l2, r2);
    ASSERT_GT(MaxAbs(l1), 0.05f);
    for (size_t i = 0; i < l1.size(); ++i) {
        ASSERT_NEAR(l1[i], l2[i], 1e-6) << i;
        ASSERT_NEAR(r1[i], r2[i], 1e-6) << i;
    }
}

TEST_F(MixerTest, ReverbClearRequestIsCarriedOutBeforeTheNextBlock) {
    auto e = MakePlayingEngine();
    e->reverb.enabled = 1;
    InitReverb(e->reverbState, kRigRate);
    PlaybackVoice v = ConstantVoice(0, 0.2, 0.3f);
    v.reverbSend = 1.0f;
    InstallPlaybackVoice(*e, std::move(v), 0.015f, 0.015f);
    std::vector<float> l, r;
    MixFrames(*e, 12000, l, r);  // the voice ends at 9600: the rest is tail
    ASSERT_GT(std::fabs(l[11000]), 1e-4f);

    MixFrames(*e, 512, l, r);
    ASSERT_GT(MaxAbs(l), 1e-4f);  // still ringing
    RequestReverbClear(*e);
    MixFrames(*e, 4096, l, r);
    // The tail fades out over the declick ramp (240 frames at 48 kHz), then
    // the cleared reverb is silent.
    for (size_t i = 240; i < l.size(); ++i) ASSERT_EQ(std::fabs(l[i]) + std::fabs(r[i]), 0.0f) << i;
    EXPECT_GT(std::fabs(l[0]), 1e-5f);
}

TEST_F(MixerTest, ThousandBlocksAllocateNothing) {
    auto e = MakePlayingEngine();
    e->reverb.enabled = 1;
    InitReverb(e->reverbState, kRigRate);
    for (int i = 0; i < 32; ++i)
        InstallPlaybackVoice(*e, CurvedNoiseVoice(0.01 * i, 10.0, i % 2 == 0, unsigned(i), 0.05f), 0.05f, 0.1f);
    std::vector<Event> events(2);
    e->voices[3].intensityCurve = events[1].intensity.data();
    e->voices[3].intensityCount = 256;
    SetReferenceAudioHook(*e, AddTenthHook);
    StartAudition(*e, std::make_shared<const std::vector<float>>(kRigRate * 20, 0.01f), 44100);
    std::vector<float> l(512), r(512);
    MixAudioBlock(*e, l.data(), r.data(), 512);  // first touch outside the count

    StartCountingAllocations();
    for (int b = 0; b < 1000; ++b) {
        if (b == 500) RequestReverbClear(*e);
        MixAudioBlock(*e, l.data(), r.data(), 512);
    }
    EXPECT_EQ(StopCountingAllocations(), 0);
    EXPECT_EQ(e->position.load(), 1001 * 512);

    // The counter does see allocations (the check above is not vacuous).
    StartCountingAllocations();
    std::vector<float> probe(100);
    EXPECT_GE(StopCountingAllocations(), 1);
}

// ---- Offline twin -----------------------------------------------------------

TEST_F(MixerTest, OfflineMixEqualsTheRealtimeMixOfOneVoice) {
    for (bool stereo : {false, true}) {
        auto e = MakePlayingEngine();
        PlaybackVoice v = CurvedNoiseVoice(0.25, 0.8, stereo, 3);
        v.gain = 0.9f;
        v.eventGain = 1.1f;
        v.normGain = 0.7f;
        InstallPlaybackVoice(*e, std::move(v), 0.05f, 0.2f);
        const int frames = kRigRate + 1000;
        std::vector<float> l, r;
        MixFrames(*e, frames, l, r);

        std::vector<float> ol(size_t(frames), 0.0f), orr(size_t(frames), 0.0f);
        MixClipWithFades(e->voices[0], 0, *e, ol.data(), orr.data(), frames, kRigRate, 1.0f, 0.0);
        ASSERT_GT(MaxAbs(ol), 0.05f);
        for (int i = 0; i < frames; ++i) {
            ASSERT_NEAR(ol[size_t(i)], l[size_t(i)], 1e-6) << stereo << " " << i;
            ASSERT_NEAR(orr[size_t(i)], r[size_t(i)], 1e-6) << stereo << " " << i;
        }
    }
}

TEST_F(MixerTest, OfflineMixHonoursOffsetGainAndMute) {
    auto e = MakePlayingEngine();
    InstallPlaybackVoice(*e, ConstantVoice(2.0, 1.0, 0.2f), 0.015f, 0.015f);
    const PlaybackVoice& v = e->voices[0];
    // The output buffer starts at 2.5 s: the voice's second half lands at frame 0.
    std::vector<float> l(48000, 0.0f), r(48000, 0.0f);
    MixClipWithFades(v, 0, *e, l.data(), r.data(), 48000, kRigRate, 2.0f, 2.5);
    EXPECT_NEAR(l[0], 0.4f * CentreGain(), 1e-6);
    EXPECT_LT(std::fabs(l[23999]), 1e-6f);  // faded out at the voice's end
    EXPECT_EQ(l[30000], 0.0f);

    std::vector<float> m(48000, 0.0f), mr(48000, 0.0f);
    e->voices[0].muted = 1;
    MixClipWithFades(e->voices[0], 0, *e, m.data(), mr.data(), 48000, kRigRate, 1.0f, 2.5);
    EXPECT_EQ(MaxAbs(m), 0.0f);
    e->voices[0].muted = 0;
    MixClipWithFades(e->voices[0], 0, *e, m.data(), mr.data(), 48000, kRigRate, 1e-7f, 2.5);
    EXPECT_EQ(MaxAbs(m), 0.0f);  // inaudible gain is skipped
}

// ---- Playhead helpers and sanitising ----------------------------------------

TEST(PlayheadTest, SeekTimeAndFrameStepping) {
    auto e = std::make_unique<AudioEngine>();
    SeekPlayback(*e, 1.5);
    EXPECT_EQ(e->position.load(), 72000);
    EXPECT_DOUBLE_EQ(GetPlaybackTime(*e), 1.5);
    EXPECT_EQ(e->reverbClearRequested.load(), 1);
    SeekPlayback(*e, -3.0);
    EXPECT_EQ(e->position.load(), 0);
    SeekPlayback(*e, NAN);
    EXPECT_EQ(e->position.load(), 0);

    float t = 1.0f;
    AdvanceTimeByFrames(t, 24.0f, 10.0f, 12);
    EXPECT_FLOAT_EQ(t, 1.5f);
    AdvanceTimeByFrames(t, 24.0f, 10.0f, -48);
    EXPECT_FLOAT_EQ(t, 0.0f);
    AdvanceTimeByFrames(t, 24.0f, 10.0f, 24 * 60);
    EXPECT_FLOAT_EQ(t, 10.0f);
    AdvanceTimeByFrames(t, 0.0f, 10.0f, 5);
    EXPECT_FLOAT_EQ(t, 10.0f);
    AdvanceTimeByFrames(t, 24.0f, -2.0f, 5);
    EXPECT_FLOAT_EQ(t, 0.0f);
}

TEST(SanitizeSamplesTest, NonFiniteBecomesZeroAndTheRestIsClamped) {
    float s[] = {NAN, 1.5f, -3.0f, INFINITY, -INFINITY, 0.25f, -1.0f};
    SanitizeSamples(s, 7);
    const float want[] = {0.0f, 1.0f, -1.0f, 0.0f, 0.0f, 0.25f, -1.0f};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(s[i], want[i]) << i;
}
