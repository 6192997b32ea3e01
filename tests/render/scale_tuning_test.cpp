// Musical scale tables, the correction rule and the retune of built voices.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "playback/audio_engine.h"
#include "render/scale_tuning.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

PlaybackVoice SineVoice(double hz, int frames, int rate, double amp = 0.5) {
    PlaybackVoice v;
    v.left.resize(size_t(frames));
    for (int i = 0; i < frames; ++i) v.left[size_t(i)] = float(amp * std::sin(2 * kPi * hz * i / rate));
    v.sampleCount = frames;
    return v;
}

std::vector<int> Offsets(int scale) {
    int o[12];
    int n = -1;
    ScaleIntervals(scale, o, n);
    return std::vector<int>(o, o + std::max(n, 0));
}

}  // namespace

TEST(ScaleTables, RowsAndNames) {
    EXPECT_EQ(Offsets(1), (std::vector<int>{0, 2, 4, 5, 7, 9, 11}));
    EXPECT_EQ(Offsets(3), (std::vector<int>{0, 2, 3, 5, 7, 8, 11}));
    EXPECT_EQ(Offsets(8), (std::vector<int>{0, 3, 5, 6, 7, 10}));
    const size_t counts[kScaleCount] = {0, 7, 7, 7, 7, 7, 5, 5, 6, 6, 12, 4, 4, 4, 3, 3, 2};
    for (int s = 0; s < kScaleCount; ++s) {
        const std::vector<int> o = Offsets(s);
        EXPECT_EQ(o.size(), counts[s]) << s;
        for (size_t i = 1; i < o.size(); ++i) EXPECT_LT(o[i - 1], o[i]) << s;
    }
    EXPECT_TRUE(Offsets(17).empty());
    EXPECT_TRUE(Offsets(-1).empty());
    EXPECT_STREQ(MusicalScaleName(7), "Minor Pentatonic");
    EXPECT_STREQ(MusicalScaleName(16), "Power (1-5)");
    EXPECT_STREQ(MusicalScaleName(17), "?");
    EXPECT_STREQ(ScaleRootName(1), "C#");
    EXPECT_STREQ(ScaleRootName(12), "?");
    EXPECT_STREQ(ScaleTuneOverrideName(2), "Force Off");
}

TEST(ScaleCorrection, NearestNoteWithTiesToTheEarlierOffset) {
    EXPECT_FLOAT_EQ(ScaleCorrection(69.0f, 0, 1, 0), 0.0f);    // A in C major
    EXPECT_FLOAT_EQ(ScaleCorrection(70.0f, 0, 1, 0), -1.0f);   // A#: A and B tie, A first
    EXPECT_NEAR(ScaleCorrection(69.3f, 0, 7, 9), -0.3f, 1e-4);  // 30 cents sharp of A, A minor pentatonic
    EXPECT_NEAR(ScaleCorrection(71.6f, 0, 1, 0), 0.4f, 1e-4);   // wraps up to the next C
    EXPECT_NEAR(ScaleCorrection(69.0f, 0.5f, 1, 0), -0.5f, 1e-4);  // variation counts as sounding pitch
    EXPECT_NEAR(ScaleCorrection(66.0f, 0, 16, 0), 1.0f, 1e-4);  // F# to G in a power chord
    EXPECT_FLOAT_EQ(ScaleCorrection(69.4f, 0, 10, 0), 0.0f);    // Chromatic never corrects
    EXPECT_FLOAT_EQ(ScaleCorrection(69.4f, 0, 0, 0), 0.0f);
    EXPECT_FLOAT_EQ(ScaleCorrection(69.4f, 0, 42, 0), 0.0f);
}

TEST(ScaleTuning, RetunesPitchedVoicesOnly) {
    const int rate = 48000;
    RenderResult r;
    r.pitchVarShift = 0.5f;
    r.pitchShift = 0.5f;
    PlaybackVoice v = SineVoice(452.0, rate, rate);
    ASSERT_TRUE(TuneResultToScale(r, v, rate, nullptr, 0, 1, 0));
    EXPECT_NEAR(r.detectedPitchHz, 452.0f, 0.5f);
    EXPECT_EQ(r.detectedMidiNote, 69);
    EXPECT_NEAR(r.detectedCents, 46.6f, 1.0f);
    EXPECT_GT(r.detectedConfidence, 0.25f);
    // Sounding pitch 69.47 + 0.5: A lies 0.97 below, so the correction is about -0.97.
    EXPECT_NEAR(r.scaleCorrection, -0.966f, 0.01f);
    EXPECT_NEAR(r.pitchShift, 0.5f - 0.966f, 0.01f);

    RenderResult plain;
    ASSERT_TRUE(TuneResultToScale(plain, v, rate, nullptr, 0, 1, 0));
    EXPECT_NEAR(plain.scaleCorrection, -0.47f, 0.01f);

    // "Force Off" on the event and "Chromatic" measure but never correct.
    std::vector<Event> events(2);
    events[1].scaleTuneOverride = 2;
    RenderResult forced;
    forced.eventIdx = 1;
    forced.pitchVarShift = 0.25f;
    ASSERT_TRUE(TuneResultToScale(forced, v, rate, events.data(), 2, 1, 0));
    EXPECT_EQ(forced.scaleCorrection, 0.0f);
    EXPECT_EQ(forced.pitchShift, 0.25f);
    EXPECT_EQ(forced.detectedMidiNote, 69);
    RenderResult chroma;
    ASSERT_TRUE(TuneResultToScale(chroma, v, rate, nullptr, 0, 10, 0));
    EXPECT_EQ(chroma.scaleCorrection, 0.0f);

    // "Off", noise and too-short voices leave the result alone.
    RenderResult untouched;
    untouched.pitchShift = 1.5f;
    EXPECT_FALSE(TuneResultToScale(untouched, v, rate, nullptr, 0, 0, 0));
    PlaybackVoice noise;
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    noise.left.resize(size_t(rate));
    for (float& x : noise.left) x = d(rng);
    noise.sampleCount = rate;
    EXPECT_FALSE(TuneResultToScale(untouched, noise, rate, nullptr, 0, 1, 0));
    EXPECT_FALSE(TuneResultToScale(untouched, SineVoice(452.0, 128, rate), rate, nullptr, 0, 1, 0));
    EXPECT_EQ(untouched.pitchShift, 1.5f);
    EXPECT_EQ(untouched.detectedMidiNote, -1);
}

TEST(ScaleTuning, MeasuresTheLoudestStretch) {
    const int rate = 48000;
    // A quiet 300 Hz tone, then a loud 452 Hz tone from 0.5 s, in a stereo voice
    // whose loud part is only in the right channel.
    PlaybackVoice quiet = SineVoice(300.0, rate / 2, rate, 0.05);
    PlaybackVoice loud = SineVoice(452.0, rate / 2, rate, 0.8);
    PlaybackVoice v;
    v.stereo = 1;
    v.left = quiet.left;
    v.left.resize(size_t(rate), 0.0f);
    v.right.assign(size_t(rate / 2), 0.0f);
    v.right.insert(v.right.end(), loud.left.begin(), loud.left.end());
    v.sampleCount = rate;
    const int start = LoudestWindowStart(v);
    EXPECT_GE(start, rate / 2);
    RenderResult r;
    ASSERT_TRUE(TuneResultToScale(r, v, rate, nullptr, 0, 1, 0));
    EXPECT_NEAR(r.detectedPitchHz, 452.0f, 1.0f);
}
