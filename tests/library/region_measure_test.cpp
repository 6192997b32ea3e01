// Peaks, onsets and fade estimates of file regions; profile similarity.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "library/region_measure.h"
#include "support/audio_fixtures.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;

std::vector<float> Silence(double seconds, int channels = 1) {
    return std::vector<float>(static_cast<size_t>(seconds * kRate) * channels, 0.0f);
}

// amplitude(t) x sin(2 pi f t) over [from, to) seconds of a mono signal.
template <class Amplitude>
void AddSine(std::vector<float>& s, double from, double to, double freq, Amplitude amplitude) {
    for (size_t i = static_cast<size_t>(from * kRate); i < static_cast<size_t>(to * kRate) && i < s.size(); ++i) {
        double t = static_cast<double>(i) / kRate;
        s[i] += static_cast<float>(amplitude(t) * std::sin(2.0 * M_PI * freq * t));
    }
}

void AddSine(std::vector<float>& s, double from, double to, double freq, double amplitude) {
    AddSine(s, from, to, freq, [amplitude](double) { return amplitude; });
}

std::string Write(const TempDir& dir, const char* name, const std::vector<float>& samples, int channels = 1) {
    std::string path = dir.File(name);
    EXPECT_TRUE(WriteSamples(path, samples, channels, kRate, SampleFormat::Float32));
    return path;
}

}  // namespace

TEST(RegionMeasure, EmptyUnreadableAndSilentRegionsGiveTheirFixedAnswers) {
    TempDir dir;
    std::vector<float> tone = Silence(1.0);
    AddSine(tone, 0.0, 1.0, 440.0, 0.5);
    const std::string sine = Write(dir, "sine.wav", tone);
    const std::string quiet = Write(dir, "silence.wav", Silence(1.0));
    const std::string missing = dir.File("missing.wav");

    // A region beyond the end of the file, and one of negative length.
    for (auto [start, length] : {std::pair{2.0f, 0.5f}, std::pair{0.2f, -0.3f}}) {
        EXPECT_EQ(FindPeakTime(sine, start, length), 0.0f);
        EXPECT_EQ(FindOnsetTime(sine, start, length), 0.0f);
        EXPECT_FLOAT_EQ(EstimateFadeInLength(sine, start, length), length <= 0.01f ? 0.005f : 0.02f);
        EXPECT_FLOAT_EQ(EstimateFadeOutLength(sine, start, length, 0.0f), length < 0.02f ? 0.01f : 0.05f);
    }
    // A file that cannot be opened.
    EXPECT_EQ(FindPeakTime(missing, 0.0f, 1.0f), 0.0f);
    EXPECT_EQ(FindOnsetTime(missing, 0.0f, 1.0f), 0.0f);
    EXPECT_FLOAT_EQ(EstimateFadeInLength(missing, 0.0f, 1.0f), 0.02f);
    EXPECT_FLOAT_EQ(EstimateFadeOutLength(missing, 0.0f, 1.0f, 0.0f), 0.05f);
    // Too short to measure: answered before the file is opened (a read of the
    // missing file would give 0.02 / 0.05).
    EXPECT_FLOAT_EQ(EstimateFadeInLength(missing, 0.0f, 0.01f), 0.005f);
    EXPECT_FLOAT_EQ(EstimateFadeOutLength(missing, 0.0f, 0.019f, 0.0f), 0.01f);
    EXPECT_FLOAT_EQ(EstimateFadeOutLength(missing, 0.0f, 1.0f, 0.981f), 0.01f);
    // Digital silence.
    EXPECT_EQ(FindPeakTime(quiet, 0.0f, 1.0f), 0.0f);
    EXPECT_EQ(FindOnsetTime(quiet, 0.0f, 1.0f), 0.0f);
    EXPECT_FLOAT_EQ(EstimateFadeInLength(quiet, 0.0f, 1.0f), 0.02f);
    EXPECT_FLOAT_EQ(EstimateFadeOutLength(quiet, 0.0f, 1.0f, 0.0f), 0.01f);
}

TEST(RegionMeasure, ClicksAreFoundAsPeakAndOnsetOnAnyChannel) {
    TempDir dir;
    std::vector<float> mono = Silence(1.0);
    mono[24000] = 0.9f;  // 0.5 s
    const std::string click = Write(dir, "click.wav", mono);
    EXPECT_FLOAT_EQ(FindPeakTime(click, 0.0f, 1.0f), 0.5f);
    float onset = FindOnsetTime(click, 0.0f, 1.0f);
    EXPECT_GE(onset, 0.498f);  // the 2 ms window holding the click
    EXPECT_LE(onset, 0.5f);
    // Times count from the region start.
    EXPECT_FLOAT_EQ(FindPeakTime(click, 0.25f, 0.75f), 0.25f);
    EXPECT_NEAR(FindOnsetTime(click, 0.25f, 0.75f), 0.25f, 0.002f);

    // 60 frames are less than two 96-frame windows: the onset is the peak.
    const float shortStart = 23995.0f / kRate;  // the click is frame 5 of the region
    const float shortLength = 60.0f / kRate;
    float peak = FindPeakTime(click, shortStart, shortLength);
    EXPECT_NEAR(peak, 5.0f / kRate, 1.0f / kRate);
    EXPECT_GT(peak, 0.0f);
    EXPECT_EQ(FindOnsetTime(click, shortStart, shortLength), peak);

    // Every channel counts, not a mono mix: a click on the right only.
    std::vector<float> stereo = Silence(1.0, 2);
    stereo[2 * 33600 + 1] = -0.8f;  // 0.7 s, right
    const std::string right = Write(dir, "right.wav", stereo, 2);
    EXPECT_FLOAT_EQ(FindPeakTime(right, 0.0f, 1.0f), 0.7f);
    EXPECT_NEAR(FindOnsetTime(right, 0.0f, 1.0f), 0.7f, 0.002f);
}

TEST(RegionMeasure, OnsetIsTheFirstWindowAtAFifthOfTheLoudest) {
    TempDir dir;
    // Quiet noise, then a step of 0.5 at frame 59256 (1.2345 s), well past the
    // first block of windows, then a louder burst later.
    std::vector<float> s = MakeSignal({SignalKind::Noise, kRate, 1, 3.0, 0, 0.01});
    for (size_t i = 59256; i < s.size(); ++i) s[i] = 0.5f;
    for (size_t i = 2 * kRate; i < static_cast<size_t>(2.2 * kRate); ++i) s[i] = 0.9f;
    const std::string path = Write(dir, "step.wav", s);
    // 59256 = 617 x 96 + 24: window 617 holds 72 frames of the step, an RMS of
    // 0.43, above 0.2 x 0.9.
    EXPECT_NEAR(FindOnsetTime(path, 0.0f, 3.0f), 617.0f * 96.0f / kRate, 1e-5f);
    EXPECT_NEAR(FindPeakTime(path, 0.0f, 3.0f), 2.0f, 1e-4f);
    // A region that runs past the end of the file is cut to it.
    EXPECT_NEAR(FindOnsetTime(path, 1.0f, 5.0f), 1.2345f - 1.0f, 0.002f);
    // Without the burst the step itself is the loudest: the same window.
    EXPECT_NEAR(FindOnsetTime(path, 0.0f, 1.9f), 617.0f * 96.0f / kRate, 1e-5f);
}

TEST(RegionMeasure, FadeInFollowsTheAttack) {
    TempDir dir;
    std::vector<float> instant = Silence(2.0);
    AddSine(instant, 0.0, 2.0, 1000.0, 1.0);
    const std::string hard = Write(dir, "instant.wav", instant);
    float fade = EstimateFadeInLength(hard, 0.0f, 2.0f);
    EXPECT_GE(fade, 0.008f);
    EXPECT_LE(fade, 0.06f);

    // A linear rise over 1 s: 15 % is reached at 0.15 s, 80 % at 0.8 s, so
    // fade = 0.4 x 0.65 + 0.15 = 0.41.
    std::vector<float> ramp = Silence(2.5);
    AddSine(ramp, 0.0, 2.5, 1000.0, [](double t) { return std::min(t, 1.0); });
    const std::string slow = Write(dir, "ramp.wav", ramp);
    EXPECT_NEAR(EstimateFadeInLength(slow, 0.0f, 2.5f), 0.41f, 0.01f);
}

TEST(RegionMeasure, FadeOutFollowsHowTheSpanEnds) {
    TempDir dir;
    std::vector<float> loud = Silence(10.5);
    AddSine(loud, 0.0, 10.5, 1000.0, 0.8);
    const std::string steady = Write(dir, "steady.wav", loud);
    // Still loud at its end: max(0.7 L, 0.1), at most 0.85 L and 3 s.
    EXPECT_FLOAT_EQ(EstimateFadeOutLength(steady, 0.0f, 10.0f, 0.0f), 3.0f);
    EXPECT_NEAR(EstimateFadeOutLength(steady, 0.0f, 1.0f, 0.5f), 0.35f, 1e-5f);

    // Loud for 1 s, then 0.5 s of silence: fade = 0.7 x tail + 0.02.
    std::vector<float> decay = Silence(1.5);
    AddSine(decay, 0.0, 1.0, 1000.0, 0.8);
    const std::string died = Write(dir, "died.wav", decay);
    EXPECT_NEAR(EstimateFadeOutLength(died, 0.0f, 1.5f, 0.0f), 0.7f * 0.5f + 0.02f, 0.01f);
    // The same with only the tail after 0.6 s examined.
    EXPECT_NEAR(EstimateFadeOutLength(died, 0.0f, 1.5f, 0.6f), 0.7f * 0.5f + 0.02f, 0.01f);

    // Ending at 12 % of the peak: half the span.
    std::vector<float> low = Silence(1.5);
    AddSine(low, 0.0, 1.0, 1000.0, 0.8);
    AddSine(low, 1.0, 1.5, 1000.0, 0.8 * 0.12);
    const std::string quietEnd = Write(dir, "low_end.wav", low);
    EXPECT_NEAR(EstimateFadeOutLength(quietEnd, 0.0f, 1.5f, 0.0f), 0.75f, 1e-5f);
}

TEST(RegionMeasure, FadeOutOfALongSpanIsMeasuredAtItsEndWithoutReadingItWhole) {
    TempDir dir;
    // 60 s: loud for 40 s, silent for the last 20 s.
    std::vector<float> s = Silence(60.0);
    AddSine(s, 0.0, 40.0, 1000.0, 0.8);
    const std::string path = dir.File("long.wav");
    ASSERT_TRUE(WriteSamples(path, s, 1, kRate, SampleFormat::Pcm16));
    s.clear();
    s.shrink_to_fit();

    // The whole file: its last 10 s are silent.
    PeakMemoryProbe probe;
    EXPECT_FLOAT_EQ(EstimateFadeOutLength(path, 0.0f, 60.0f, 0.0f), 0.01f);
    if (probe.Available()) {
        // 10 s of mono float are 1.9 MB; the whole span would be 11.5 MB.
        EXPECT_LT(probe.PeakGrowthBytes(), 5 * 1024 * 1024);
    }
    // [25, 41.5): loud until 40 s, then 1.5 s below a tenth of the peak. The
    // first 10 s of that span are loud throughout; its end is not.
    EXPECT_NEAR(EstimateFadeOutLength(path, 25.0f, 16.5f, 0.0f), 0.7f * 1.5f + 0.02f, 0.01f);
    EXPECT_NEAR(EstimateFadeOutLength(path, 20.0f, 21.5f, 5.0f), 0.7f * 1.5f + 0.02f, 0.01f);
}

TEST(CosineSimilarity, ComparesProfileShapes) {
    const float a[4] = {0.1f, 0.5f, 1.0f, 0.3f};
    const float negated[4] = {-0.1f, -0.5f, -1.0f, -0.3f};
    const float scaled[4] = {0.2f, 1.0f, 2.0f, 0.6f};
    const float zeros[4] = {0, 0, 0, 0};
    const float x[2] = {1.0f, 0.0f};
    const float diagonal[2] = {1.0f, 1.0f};
    EXPECT_NEAR(CosineSimilarity(a, a, 4), 1.0f, 1e-6f);
    EXPECT_NEAR(CosineSimilarity(a, scaled, 4), 1.0f, 1e-6f);
    EXPECT_EQ(CosineSimilarity(a, negated, 4), 0.0f);
    EXPECT_EQ(CosineSimilarity(a, zeros, 4), 0.0f);
    EXPECT_EQ(CosineSimilarity(zeros, a, 4), 0.0f);
    EXPECT_NEAR(CosineSimilarity(x, diagonal, 2), std::sqrt(0.5f), 1e-6f);
    EXPECT_EQ(CosineSimilarity(a, a, 0), 0.0f);
}
