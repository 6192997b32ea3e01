// Loudness, pitch detection and note conversion on generated buffers. The
// loudness figures are checked against the published filter coefficients and
// against an independent meter (libebur128, loaded at run time).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <ebur128.h>

#include <cmath>
#include <random>
#include <vector>

#include "library/loudness_pitch.h"

namespace {

std::vector<float> Sine(double freq, double amplitude, int frames, double rate, double phase = 0.0) {
    std::vector<float> out(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) out[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * freq * i / rate + phase));
    return out;
}

// White noise, or with `lowPass` > 0 noise with a falling spectrum (one pole).
std::vector<float> Noise(int frames, double amplitude, unsigned seed, double lowPass = 0.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<float> out(static_cast<size_t>(frames));
    double y = 0.0;
    for (float& v : out) {
        y = lowPass * y + (1.0 - lowPass) * dist(rng);
        v = static_cast<float>(amplitude * y);
    }
    return out;
}

// Integrated loudness by libebur128 through dlopen, so the build needs nothing extra.
double ReferenceLoudness(const std::vector<float>& left, const std::vector<float>* right, int rate) {
    static void* lib = dlopen("libebur128.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return NAN;
    auto init = reinterpret_cast<decltype(&ebur128_init)>(dlsym(lib, "ebur128_init"));
    auto add = reinterpret_cast<decltype(&ebur128_add_frames_float)>(dlsym(lib, "ebur128_add_frames_float"));
    auto global = reinterpret_cast<decltype(&ebur128_loudness_global)>(dlsym(lib, "ebur128_loudness_global"));
    auto destroy = reinterpret_cast<decltype(&ebur128_destroy)>(dlsym(lib, "ebur128_destroy"));
    if (!init || !add || !global || !destroy) return NAN;
    const unsigned channels = right ? 2 : 1;
    std::vector<float> interleaved;
    for (size_t i = 0; i < left.size(); ++i) {
        interleaved.push_back(left[i]);
        if (right) interleaved.push_back((*right)[i]);
    }
    ebur128_state* st = init(channels, static_cast<unsigned long>(rate), EBUR128_MODE_I);
    double out = NAN;
    if (st) {
        add(st, interleaved.data(), left.size());
        global(st, &out);
        destroy(&st);
    }
    return out;
}

}  // namespace

TEST(KWeighting, MatchesPublishedCoefficientsAndPassesNyquistAtUnity) {
    double shelf[5], hp[5];
    KWeightingCoefficients(48000, shelf, hp);
    // The published 48 kHz table. Our shelf gain is 4 dB exactly, the table's
    // 3.99984 dB: the numerators differ by about 2e-5.
    const double table[5] = {1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
                             0.73248077421585};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(shelf[i], table[i], 5e-5) << i;
    EXPECT_NEAR(hp[3], -1.99004745483398, 1e-7);
    EXPECT_NEAR(hp[4], 0.99007225036621, 1e-7);
    // The high-pass numerator is the table's 1, -2, 1 scaled to unity gain at z = -1.
    for (int rate : {44100, 48000, 96000}) {
        KWeightingCoefficients(rate, shelf, hp);
        EXPECT_DOUBLE_EQ(hp[1], -2.0 * hp[0]);
        EXPECT_DOUBLE_EQ(hp[2], hp[0]);
        EXPECT_NEAR((hp[0] - hp[1] + hp[2]) / (1.0 - hp[3] + hp[4]), 1.0, 1e-12) << rate;
    }
}

TEST(IntegratedLoudness, CalibrationGatesAndBlockLayout) {
    // A full-scale 997 Hz sine: -3 LUFS on one channel, 0 LUFS on two.
    const std::vector<float> tone = Sine(997.0, 1.0, 48000 * 5, 48000.0);
    const int n = static_cast<int>(tone.size());
    EXPECT_NEAR(MeasureIntegratedLoudness(tone.data(), nullptr, n, 48000), -3.0f, 0.1f);
    EXPECT_NEAR(MeasureIntegratedLoudness(tone.data(), tone.data(), n, 48000), 0.0f, 0.1f);

    // Silence, and a tone of about -83 LUFS under the absolute gate.
    const std::vector<float> silent(96000, 0.0f);
    EXPECT_EQ(MeasureIntegratedLoudness(silent.data(), silent.data(), 96000, 48000), -100.0f);
    const std::vector<float> faint = Sine(1000.0, 1e-4, 96000, 48000.0);
    EXPECT_EQ(MeasureIntegratedLoudness(faint.data(), nullptr, 96000, 48000), -100.0f);
    EXPECT_EQ(MeasureIntegratedLoudness(faint.data(), nullptr, 0, 48000), -100.0f);

    // 400 ms blocks every 100 ms; a shorter buffer is one block over what is there.
    const std::vector<float> ones(24000, 1.0f);
    std::vector<double> z = KWeightedLoudnessBlocks(ones.data(), nullptr, 19199, 48000);
    ASSERT_EQ(z.size(), 1u);
    EXPECT_DOUBLE_EQ(z[0], 1.0);
    EXPECT_EQ(KWeightedLoudnessBlocks(ones.data(), nullptr, 19200, 48000).size(), 1u);
    // Energy only in the last 100 ms: the first block (0..19199) misses it,
    // the second (4800..23999) holds it over a quarter of its length.
    std::vector<float> tail(24000, 0.0f);
    std::fill(tail.begin() + 19200, tail.end(), 0.5f);
    z = KWeightedLoudnessBlocks(tail.data(), tail.data(), 24000, 48000);
    ASSERT_EQ(z.size(), 2u);
    EXPECT_DOUBLE_EQ(z[0], 0.0);
    EXPECT_DOUBLE_EQ(z[1], 2 * 0.25 * 4800 / 19200.0);  // both channels weigh 1
}

TEST(IntegratedLoudness, AgreesWithReferenceMeterWithinATenthOfALU) {
    struct Case {
        const char* what;
        int rate;
        std::vector<float> left, right;
    };
    std::vector<Case> cases;
    cases.push_back({"mono 1 kHz -20 dBFS", 48000, Sine(1000, 0.1, 48000 * 6, 48000), {}});
    cases.push_back({"mono 60 Hz at 96 kHz", 96000, Sine(60, 0.5, 96000 * 4, 96000), {}});
    cases.push_back({"stereo 100 Hz / 3 kHz at 44.1 kHz", 44100, Sine(100, 0.25, 44100 * 5, 44100),
                     Sine(3000, 0.03, 44100 * 5, 44100)});
    // -18 dBFS then -45 dBFS: the quiet half falls under the relative gate.
    std::vector<float> step = Sine(440, 0.126, 48000 * 5, 48000);
    const std::vector<float> quiet = Sine(440, 0.0056, 48000 * 5, 48000);
    step.insert(step.end(), quiet.begin(), quiet.end());
    cases.push_back({"level step", 48000, step, step});
    cases.push_back({"falling-spectrum noise stereo", 48000, Noise(48000 * 8, 0.5, 7, 0.9),
                     Noise(48000 * 8, 0.5, 8, 0.9)});
    cases.push_back({"white noise mono 44.1 kHz", 44100, Noise(44100 * 5, 0.2, 3), {}});

    // Our high-pass is scaled to unity at half the rate, the reference's is
    // not: ours reads 0.02 to 0.05 LU lower by design, well inside the margin.
    for (const Case& c : cases) {
        const std::vector<float>* right = c.right.empty() ? nullptr : &c.right;
        const double expected = ReferenceLoudness(c.left, right, c.rate);
        ASSERT_TRUE(std::isfinite(expected)) << c.what << ": libebur128.so.1 missing or failing";
        const float got = MeasureIntegratedLoudness(c.left.data(), right ? right->data() : nullptr,
                                                    static_cast<int>(c.left.size()), c.rate);
        EXPECT_NEAR(got, expected, 0.1) << c.what;
    }
}

TEST(AnalyzeTonality, FindsSinesAndRejectsNoiseSilenceAndShortFrames) {
    float conf = 0.0f;
    const std::vector<float> a4 = Sine(440.0, 0.5, 2048, 48000.0);
    EXPECT_NEAR(AnalyzeTonality(a4.data(), 2048, 48000.0f, conf), 440.0f, 1.0f);
    EXPECT_GT(conf, 0.9f);
    // A 2048-sample frame at 48 kHz covers about 47 Hz to 12 kHz.
    for (double freq : {60.0, 123.47, 1000.0, 4186.0}) {
        const std::vector<float> tone = Sine(freq, 0.3, 2048, 48000.0, 0.4);
        EXPECT_NEAR(AnalyzeTonality(tone.data(), 2048, 48000.0f, conf), freq, freq * 0.005) << freq;
        EXPECT_GT(conf, 0.8f) << freq;
    }
    for (unsigned seed = 1; seed <= 10; ++seed) {
        const std::vector<float> noise = Noise(2048, 0.5, seed);
        AnalyzeTonality(noise.data(), 2048, 48000.0f, conf);
        EXPECT_LE(conf, 0.3f) << seed;
    }
    const std::vector<float> silent(2048, 0.0f);
    EXPECT_EQ(AnalyzeTonality(silent.data(), 2048, 48000.0f, conf), 0.0f);
    EXPECT_EQ(conf, 0.0f);
    EXPECT_EQ(AnalyzeTonality(a4.data(), 127, 48000.0f, conf), 0.0f);  // W = 63
    // Nonsense rates find nothing instead of overflowing the lag bounds.
    EXPECT_EQ(AnalyzeTonality(a4.data(), 2048, 1e30f, conf), 0.0f);
    EXPECT_EQ(AnalyzeTonality(a4.data(), 2048, NAN, conf), 0.0f);
}

TEST(EstimatePitch, AgreesWithTonesWithinHalfAPercent) {
    float conf = 0.0f;
    for (double freq : {82.41, 261.63, 987.77, 3000.0}) {
        const std::vector<float> tone = Sine(freq, 0.5, 8192, 44100.0, 1.1);
        EXPECT_NEAR(EstimatePitch(tone.data(), 8192, 44100.0f, conf), freq, freq * 0.005) << freq;
        EXPECT_GT(conf, 0.9f) << freq;
    }
    // A bright harmonic tone: the harmonics up to the sixth agree with the
    // fundamental and raise the confidence by the full 0.15.
    std::vector<float> rich(8192, 0.0f);
    for (int h = 1; h <= 8; ++h) {
        const std::vector<float> part = Sine(196.0 * h, 0.4 / h, 8192, 48000.0, 0.3 * h);
        for (size_t i = 0; i < rich.size(); ++i) rich[i] += part[i];
    }
    float detectorConf = 0.0f;
    AnalyzeTonality(rich.data(), 8192, 48000.0f, detectorConf);
    EXPECT_NEAR(EstimatePitch(rich.data(), 8192, 48000.0f, conf), 196.0f, 196.0f * 0.005f);
    EXPECT_NEAR(conf, std::min(detectorConf + 0.15f, 1.0f), 1e-6f);

    const std::vector<float> noise = Noise(8192, 0.5, 99);
    EXPECT_EQ(EstimatePitch(noise.data(), 8192, 48000.0f, conf), 0.0f);
    EXPECT_EQ(conf, 0.0f);
}

TEST(FindSpectrumPeak, RefinesTheVertexAndStaysPutAtTheSearchEdge) {
    std::vector<float> mag(512, 0.5f);
    // A true parabola around bin 100.3: the three-point fit recovers it exactly.
    for (int k = 97; k <= 103; ++k) mag[k] = std::max(0.5f, static_cast<float>(10.0 - (k - 100.3) * (k - 100.3)));
    const SpectrumView view{2.0f, 511, mag.data()};
    EXPECT_NEAR(FindSpectrumPeak(view, 200.0f, 0.06f), 200.6f, 1e-3f);
    // Rising through the whole window (bins 194..206 around 400 Hz): the best
    // bin sits on the edge below a larger neighbour and is not refined.
    for (int k = 180; k <= 220; ++k) mag[k] = 1.0f + 0.1f * k;
    EXPECT_FLOAT_EQ(FindSpectrumPeak(view, 400.0f, 0.033f), 206 * 2.0f);
    EXPECT_EQ(FindSpectrumPeak(view, 1e30f, 0.06f), 0.0f);
    EXPECT_EQ(FindSpectrumPeak(view, INFINITY, 0.06f), 0.0f);
    const std::vector<float> zero(512, 0.0f);
    EXPECT_EQ(FindSpectrumPeak(SpectrumView{2.0f, 511, zero.data()}, 200.0f, 0.06f), 0.0f);
}

TEST(FrequencyToMidiNote, RoundsToNearestNoteAndClampsTheRange) {
    int note = 0;
    float cents = 1.0f;
    FrequencyToMidiNote(440.0f, note, cents);
    EXPECT_EQ(note, 69);
    EXPECT_NEAR(cents, 0.0f, 1e-4f);
    FrequencyToMidiNote(445.0f, note, cents);
    EXPECT_EQ(note, 69);
    EXPECT_NEAR(cents, 19.56f, 0.01f);
    FrequencyToMidiNote(0.0f, note, cents);
    EXPECT_EQ(note, -1);
    EXPECT_EQ(cents, 0.0f);
    // 20 kHz is note 135.08: clamped to 127, cents still from 135.
    FrequencyToMidiNote(20000.0f, note, cents);
    EXPECT_EQ(note, 127);
    EXPECT_NEAR(cents, 7.63f, 0.02f);
}
