// Defaults of a fresh engine and voice: the values the mixer, the level pass and
// the saved project rely on before anything has been set.
#include <gtest/gtest.h>

#include <memory>

#include "playback/audio_engine.h"

TEST(AudioEngineRecords, FreshEngineDefaults) {
    auto e = std::make_unique<AudioEngine>();  // too large for a test's stack frame
    EXPECT_TRUE(e->voices.empty());
    EXPECT_EQ(e->position.load(), 0);
    EXPECT_EQ(e->cacheReady.load(), 0);
    EXPECT_EQ(e->soloVoice.load(), -1);
    EXPECT_EQ(e->masterGain.load(), 1.0f);
    for (int g = 0; g < 3; ++g) {
        EXPECT_EQ(e->groupGain[g].load(), 1.0f);
        EXPECT_EQ(e->groupMute[g].load(), 0);
        EXPECT_EQ(e->reverb.groupSends[g], 0.2f);
    }
    EXPECT_EQ(e->groupTargetLufs[0], -52.0f);
    EXPECT_EQ(e->groupTargetLufs[1], -16.0f);
    EXPECT_EQ(e->groupTargetLufs[2], -25.0f);
    EXPECT_EQ(e->normalizeLoudness, 1);
    EXPECT_EQ(e->streamWindow, 30.0f);
    EXPECT_EQ(e->auditionRate.load(), 48000);
    EXPECT_EQ(e->auditionSamples.load(), nullptr);
    EXPECT_EQ(e->limiterThreshold, 0.85f);
    EXPECT_EQ(e->limiterAttack, 0.0f);
    EXPECT_EQ(e->limiterRelease, 0.0f);
    EXPECT_EQ(e->sampleRate, 48000);
    const ReverbParams& r = e->reverb;
    EXPECT_EQ(r.size, 0.5f);
    EXPECT_EQ(r.decay, 0.5f);
    EXPECT_EQ(r.damping, 0.3f);
    EXPECT_EQ(r.preDelay, 0.015f);
    EXPECT_EQ(r.diffusion, 0.7f);
    EXPECT_EQ(r.modulation, 0.5f);
    EXPECT_EQ(r.enabled, 1);
    EXPECT_EQ(r.macro, 0.65f);
}

TEST(AudioEngineRecords, FreshVoiceDefaults) {
    PlaybackVoice v;
    EXPECT_EQ(v.gain, 1.0f);
    EXPECT_EQ(v.normGain, 1.0f);
    EXPECT_EQ(v.eventGain, 1.0f);
    EXPECT_EQ(v.eventIndex, -1);
    EXPECT_EQ(v.resultIndex, -1);
    EXPECT_EQ(v.reverbSend, -1.0f);
    EXPECT_EQ(v.intensityScale, 1.0f);
    EXPECT_EQ(v.intensityCurve, nullptr);
    EXPECT_EQ(v.sampleCount, 0);
    EXPECT_EQ(v.stereo, 0);
    EXPECT_EQ(v.evicted, 0);
    EXPECT_EQ(v.spliceCount, 0);
    EXPECT_EQ(v.chunkCount, 0);
    EXPECT_EQ(v.peakOverview[kVoiceOverviewBins - 1], 0.0f);
}
