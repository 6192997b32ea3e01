// Resampling, band gains, the peak limiter and the per-result processing chain,
// checked against sox where an independent reference exists.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "library/file_registry.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "render/clip_processing.h"
#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"
#include "support/clip_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Error energy relative to signal energy over [from, to), in dB.
double RelativeErrorDb(const std::vector<float>& got, const std::vector<float>& ref, size_t from, size_t to) {
    double e = 0, s = 0;
    for (size_t i = from; i < to; ++i) {
        e += double(got[i] - ref[i]) * double(got[i] - ref[i]);
        s += double(ref[i]) * double(ref[i]);
    }
    return 10.0 * std::log10(e / s);
}

int ZeroCrossings(const std::vector<float>& v) {
    int n = 0;
    for (size_t i = 1; i < v.size(); ++i) n += (v[i - 1] < 0) != (v[i] < 0);
    return n;
}

}  // namespace

TEST(ResampleSinc, IdentityAndTheDirectKernel) {
    const std::vector<float> in = NoiseSamples(4000, 7);
    std::vector<float> same = in;
    ResampleSinc(int(in.size()), 1.0, same);
    ASSERT_EQ(same.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) ASSERT_NEAR(same[i], in[i], 1e-6f) << i;

    // The taps come from angle identities; they must agree with the kernel
    // written out with two sines per tap, including the renormalised edges.
    for (double step : {44100.0 / 48000.0, 1.0 / 3.0, 2.5, 0.999}) {
        std::vector<float> out = in;
        const int n = int(in.size() / step);
        ResampleSinc(n, step, out);
        ASSERT_EQ(out.size(), size_t(n));
        for (int i = 0; i < n; ++i) {
            const double pos = i * step;
            const int p = int(pos);
            const double f = pos - p;
            double sum = 0, wsum = 0;
            for (int k = -7; k <= 8; ++k) {
                if (p + k < 0 || p + k >= int(in.size())) continue;
                const double x = k - f;
                const double w = std::fabs(x) < 1e-9 ? 1.0
                    : std::sin(kPi * x) / (kPi * x) * (std::sin(kPi * x / 8) / (kPi * x / 8));
                sum += w * in[p + k];
                wsum += w;
            }
            ASSERT_NEAR(out[i], float(sum / wsum), 2e-7f) << "step " << step << " i " << i;
        }
    }
    std::vector<float> empty;
    ResampleSinc(0, 1.0, empty);
    EXPECT_TRUE(empty.empty());
}

TEST(ResampleSinc, UpsamplingAgreesWithSox) {
    if (!SoxAvailable()) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    // Band-limited to 8 kHz: the 16-tap kernel's passband ends below the
    // full 44.1 kHz band, so higher partials would measure the kernel, not the code.
    const std::vector<float> in = SineSamples(44100, 44100, {220.0, 1234.5, 3000.0, 8000.0}, 0.2);
    const std::vector<float> ref = SoxProcess(dir, in, 44100, {"rate", "-v", "48000"});
    std::vector<float> ours = in;
    const int n = int(in.size() * (48000.0 / 44100.0) + 0.5);
    ResampleSinc(n, 44100.0 / 48000.0, ours);
    ASSERT_EQ(ours.size(), 48000u);
    ASSERT_GE(ref.size(), 47000u);
    EXPECT_LT(RelativeErrorDb(ours, ref, 1000, ref.size() - 1000), -60.0);

    // The same file through the region loader gives the same samples.
    ASSERT_TRUE(WriteSamples(dir.File("src.wav"), in, 1, 44100, SampleFormat::Float32));
    ProcessedClipCache cache;
    std::vector<float> l, r;
    int rate = 0;
    bool st = false;
    ASSERT_TRUE(LoadProcessedClip(cache, dir.File("src.wav"), 0, 10, 48000, false, l, r, rate, st));
    EXPECT_EQ(l, ours);
}

TEST(ResampleLinear, InterpolatesAndHoldsTheLastSample) {
    std::vector<float> v = {0.0f, 1.0f, 3.0f};
    ResampleLinear(6, 0.5, v);
    const std::vector<float> want = {0.0f, 0.5f, 1.0f, 2.0f, 3.0f, 3.0f};
    EXPECT_EQ(v, want);
    std::vector<float> none;
    ResampleLinear(3, 1.0, none);
    EXPECT_EQ(none, std::vector<float>(3, 0.0f));
}

TEST(ApplyBandGains, ThresholdAndBandsMatchOnePoleLowPasses) {
    const int rate = 48000;
    const std::vector<float> in = NoiseSamples(24000, 3);
    std::vector<float> v = in;
    ApplyBandGains(v, int(v.size()), rate, {1, 1, 1.005f, 1, 0.995f});
    EXPECT_EQ(v, in);
    ApplyBandGains(v, int(v.size()), rate, {1, 1, 1.02f, 1, 1});
    EXPECT_NE(v, in);
    // Only the first `frames` samples are touched.
    v = in;
    ApplyBandGains(v, 100, rate, {0, 0, 0, 0, 0});
    EXPECT_EQ(v[100], in[100]);
    EXPECT_EQ(v[50], 0.0f);

    if (!SoxAvailable()) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    // Gains 1 up to band b and 0 above give the low-pass at that band's upper corner.
    const int corners[4] = {200, 800, 3000, 8000};
    for (int b = 0; b < 4; ++b) {
        std::array<float, 5> g{};
        for (int k = 0; k <= b; ++k) g[k] = 1;
        std::vector<float> ours = in;
        ApplyBandGains(ours, int(ours.size()), rate, g);
        const std::vector<float> ref = SoxProcess(dir, in, rate, {"lowpass", "-1", std::to_string(corners[b])});
        ASSERT_EQ(ref.size(), in.size());
        EXPECT_LT(RelativeErrorDb(ours, ref, 0, in.size()), -100.0) << corners[b];
    }
    // The top band alone is the input minus the 8 kHz low-pass.
    std::vector<float> top = in;
    ApplyBandGains(top, int(top.size()), rate, {0, 0, 0, 0, 1});
    std::vector<float> ref = SoxProcess(dir, in, rate, {"lowpass", "-1", "8000"});
    for (size_t i = 0; i < ref.size(); ++i) ref[i] = in[i] - ref[i];
    EXPECT_LT(RelativeErrorDb(top, ref, 0, in.size()), -80.0);
}

TEST(ApplyPeakLimiter, CeilingSoftClipAndBadSamples) {
    auto engine = std::make_unique<AudioEngine>();
    const int rate = 48000;
    engine->limiterAttack = float(1 - std::exp(-1.0 / (0.002 * rate)));
    engine->limiterRelease = float(1 - std::exp(-1.0 / (0.2 * rate)));
    engine->limiterEnvelope = 0.123f;

    std::vector<float> l = SineSamples(rate, rate, {1000.0}, 1.0), r = l;
    ApplyPeakLimiter(PeakLimiterOf(*engine), l.data(), r.data(), int64_t(l.size()));
    float settled = 0, most = 0;
    for (size_t i = 0; i < l.size(); ++i) {
        most = std::max({most, std::fabs(l[i]), std::fabs(r[i])});
        if (i > size_t(rate / 2)) settled = std::max(settled, std::fabs(l[i]));
    }
    EXPECT_LE(most, 0.891f);
    EXPECT_NEAR(settled, 0.85f, 0.01f);
    EXPECT_EQ(engine->limiterEnvelope, 0.123f);  // the engine's own state is untouched

    // Loud noise, infinities and NaN: finite, within the ceiling, and the
    // limiter still works after them.
    std::vector<float> wild = NoiseSamples(9600, 5, 4.0f);
    wild[10] = INFINITY;
    wild[20] = -INFINITY;
    wild[30] = NAN;
    ApplyPeakLimiter(PeakLimiterOf(*engine), wild.data(), nullptr, int64_t(wild.size()));
    for (float x : wild) {
        ASSERT_TRUE(std::isfinite(x));
        ASSERT_LE(std::fabs(x), 0.891f);
    }
    EXPECT_LT(std::fabs(wild.back()), 0.86f);
}

TEST(ClipChain, PitchShiftIsVarispeed) {
    const int rate = 48000;
    PlaybackVoice v;
    v.left = SineSamples(4801, rate, {440.0}, 0.5);
    v.sampleCount = 4801;
    const int before = ZeroCrossings(v.left);
    ASSERT_TRUE(ApplyVoicePitchShift(v, 12.0f, rate));
    EXPECT_EQ(v.sampleCount, 2401);  // trunc(4801 / 2 + 0.5)
    EXPECT_EQ(v.left.size(), 2401u);
    EXPECT_FLOAT_EQ(v.length, 2401.0f / rate);
    EXPECT_NEAR(ZeroCrossings(v.left), before, 3);  // same cycles in half the time: twice the pitch

    PlaybackVoice small;
    small.left.assign(64, 0.5f);
    small.sampleCount = 64;
    EXPECT_FALSE(ApplyVoicePitchShift(small, 7.0f, rate));  // 64 frames are never shifted
    small.left.assign(65, 0.5f);
    small.sampleCount = 65;
    EXPECT_FALSE(ApplyVoicePitchShift(small, 0.005f, rate));
    EXPECT_TRUE(ApplyVoicePitchShift(small, -12.0f, rate));
    EXPECT_EQ(small.sampleCount, 130);
}

TEST(ClipChain, ResultsLoadByModeOrFallBackToSilence) {
    TempDir dir;
    AudioSpec spec;
    spec.sampleRate = 48000;
    spec.channels = 2;
    spec.seconds = 2.0;
    ASSERT_TRUE(WriteTestAudio(dir.File("s.wav"), spec));
    ClearProcessedClipCache();

    RenderResult res;
    res.filepath = dir.File("s.wav");
    res.sourceOffset = 0.5f;
    res.sourceDuration = 1.0f;
    res.duration = 1.0f;
    res.stereo = true;
    PlaybackVoice plain;
    ASSERT_TRUE(ProcessResultAudio(res, 48000, plain));
    EXPECT_EQ(plain.stereo, 1);
    EXPECT_EQ(plain.sampleCount, 48000);
    EXPECT_EQ(plain.right.size(), 48000u);

    // Band gains then pitch, on both channels.
    res.hasEqGains = true;
    res.eqGains = {0, 0, 1, 0, 0};
    res.pitchShift = 12;
    PlaybackVoice shaped;
    ASSERT_TRUE(ProcessResultAudio(res, 48000, shaped));
    EXPECT_EQ(shaped.sampleCount, 24000);
    EXPECT_EQ(shaped.right.size(), 24000u);
    PlaybackVoice clip;  // clip regions load the same way
    EXPECT_TRUE(LoadResultRegionMode2(res.filepath, 0.5f, 1.0f, 99.0f, 48000, true, clip));
    EXPECT_EQ(clip.left, plain.left);

    // A placeholder and a missing file give mono silence of the result's duration.
    res.hasEqGains = false;
    res.pitchShift = 0;
    res.placeholder = true;
    PlaybackVoice ph;
    EXPECT_FALSE(ProcessResultAudio(res, 48000, ph));
    EXPECT_EQ(ph.sampleCount, 48000);
    EXPECT_EQ(ph.stereo, 0);
    EXPECT_EQ(ph.left, std::vector<float>(48000, 0.0f));
    res.placeholder = false;
    res.filepath = dir.File("gone.wav");
    res.duration = 0.00001f;
    PlaybackVoice gone;
    gone.left.assign(10, 1.0f);
    EXPECT_FALSE(ProcessResultAudio(res, 48000, gone));
    EXPECT_EQ(gone.left, std::vector<float>(1, 0.0f));
}

TEST(ClipChain, AlloySourcesFollowTheRegistry) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("moved.wav"), "x"));
    FileRegistry registry;
    registry.RegisterFileRef({"00112233aabbccdd", dir.File("moved.wav"), 0, 0});

    AlloySource known{dir.File("old.wav"), "00112233aabbccdd", 0, 1, "a"};
    ResolveSourcePathById(registry, known);
    EXPECT_EQ(known.filepath, dir.File("moved.wav"));

    AlloySource lost{dir.File("old.wav"), "ffffffffffffffff", 0, 1, "b"};
    ResolveSourcePathById(registry, lost);
    EXPECT_EQ(lost.filepath, dir.File("old.wav"));

    AlloySource noId{dir.File("old.wav"), "", 0, 1, "c"};
    ResolveSourcePathById(registry, noId);
    EXPECT_EQ(noId.filepath, dir.File("old.wav"));
}
