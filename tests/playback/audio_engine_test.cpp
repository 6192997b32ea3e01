// Defaults of a fresh engine and voice: the values the mixer, the level pass and
// the saved project rely on before anything has been set.
#include <gtest/gtest.h>

#include <memory>

#include "playback/audio_engine.h"

TEST(AudioEngineRecords, FreshEngineAndVoiceDefaults) {
    auto e = std::make_unique<AudioEngine>();  // too large for a test's stack frame
    EXPECT_EQ(e->soloVoice.load(), -1);
    EXPECT_EQ(e->masterGain.load(), 1.0f);
    for (int g = 0; g < 3; ++g) EXPECT_EQ(e->groupGain[g].load(), 1.0f) << g;
    EXPECT_EQ(e->refGain.load(), 1.0f);
    EXPECT_EQ(e->groupTargetLufs, (std::array<float, 3>{-52.0f, -16.0f, -25.0f}));
    EXPECT_EQ(e->normalizeLoudness, 1);
    EXPECT_EQ(e->streamWindow.load(), 30.0f);
    EXPECT_EQ(e->auditionRate.load(), 48000);
    EXPECT_EQ(e->limiterThreshold, 0.85f);
    EXPECT_EQ(e->limiterAttack, 0.0f);  // set when the voices are first reset
    EXPECT_EQ(e->limiterRelease, 0.0f);
    EXPECT_EQ(e->sampleRate.load(), 48000);
    const ReverbParams& r = e->reverb;
    const float six[6] = {r.size, r.decay, r.damping, r.preDelay, r.diffusion, r.modulation};
    const float want[6] = {0.5f, 0.5f, 0.3f, 0.015f, 0.7f, 0.5f};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(six[i], want[i]) << i;
    EXPECT_EQ(r.enabled.load(), 1);
    for (int g = 0; g < 3; ++g) EXPECT_EQ(r.groupSends[g].load(), 0.2f) << g;
    EXPECT_EQ(r.macro.load(), 0.65f);

    PlaybackVoice v;
    EXPECT_EQ(v.gain.load(), 1.0f);
    EXPECT_EQ(v.normGain, 1.0f);
    EXPECT_EQ(v.eventGain.load(), 1.0f);
    EXPECT_EQ(v.eventIndex, -1);
    EXPECT_EQ(v.resultIndex, -1);
    EXPECT_EQ(v.reverbSend, -1.0f);
    EXPECT_EQ(v.intensityScale, 1.0f);
    EXPECT_EQ(v.intensityCurve, nullptr);
}
