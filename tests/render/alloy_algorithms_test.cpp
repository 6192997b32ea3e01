// The alloy algorithms one channel at a time: the three-band crossover, the
// band mosaic and the two envelope transfers.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "document/project.h"
#include "playback/audio_engine.h"
#include "render/alloy_crossover.h"
#include "render/alloy_mosaic.h"
#include "render/alloy_stages.h"
#include "render/alloy_transfer.h"
#include "support/alloy_fixtures.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;

double Rms(const std::vector<float>& v, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += double(v[i]) * double(v[i]);
    return std::sqrt(sum / double(to - from));
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }

// The four channel vectors of a morph; absent layers are zeros.
struct Channels {
    std::array<std::vector<float>, 4> layers;
    std::array<bool, 4> loaded{};

    Channels(size_t n) {
        for (auto& l : layers) l.assign(n, 0.0f);
    }
    void Set(int k, std::vector<float> v) {
        layers[size_t(k)] = std::move(v);
        loaded[size_t(k)] = true;
    }
    std::array<const std::vector<float>*, 4> Pointers() const {
        return {&layers[0], &layers[1], &layers[2], &layers[3]};
    }
};

RenderResult MorphResult(float morph, float duration) {
    RenderResult r;
    r.procMode = 3;
    r.alloyMorph = morph;
    r.duration = duration;
    r.filepath = "/sounds/base.wav";
    return r;
}

std::vector<float> Crossover(const RenderResult& r, const Channels& ch) {
    AlloyFft fft;
    EXPECT_TRUE(MakeAlloyFft(fft));
    const int n = int(ch.layers[0].size());
    CrossoverMorphContext ctx = MakeCrossoverMorphContext(r, kRate, n, ch.loaded, fft);
    std::vector<float> out;
    CrossoverMorphChannel(ctx, ch.Pointers(), out);
    return out;
}

std::vector<float> Mosaic(const RenderResult& r, const Channels& ch) {
    AlloyLayers layers;
    layers.frames = int(ch.layers[0].size());
    layers.loaded = ch.loaded;
    const BandMosaicContext ctx = MakeBandMosaicContext(r, kRate, layers);
    std::vector<float> out;
    BandMosaicChannel(ctx, ch.Pointers(), out);
    return out;
}

std::vector<float> Transfer(const RenderResult& r, const TransferVariant& variant, const Channels& ch) {
    const int n = int(ch.layers[0].size());
    TransferContext ctx = MakeTransferContext(r, variant, kRate, n, ch.loaded);
    AlloyFft fft;
    if (TransferNeedsSpectralStep(ctx)) {
        EXPECT_TRUE(MakeAlloyFft(fft));
        ctx.fft = &fft;
    }
    std::vector<float> out;
    TransferChannel(ctx, ch.Pointers(), out);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Crossover
// ---------------------------------------------------------------------------

TEST(AlloyCrossover, ConstantsFollowTheMorphAmount) {
    const CrossoverMorphParams p0 = CrossoverParamsForMorph(0.0f);
    EXPECT_EQ(p0.jitter, 0.0f);
    EXPECT_FLOAT_EQ(p0.slope, 1.5f);
    EXPECT_FLOAT_EQ(p0.envDepth, 0.25f);
    EXPECT_EQ(p0.blurRadius, 0) << "no spectral blur at m = 0";
    const float alpha = CrossoverSmoothingAlpha(p0, 1.0f);
    EXPECT_NEAR(alpha, 0.08f, 1e-7f);
    EXPECT_NEAR(alpha * p0.smoothPull, 0.02f, 1e-7f);

    const CrossoverMorphParams p1 = CrossoverParamsForMorph(3.0f);  // clamped to 1
    EXPECT_FLOAT_EQ(p1.jitter, 6.0f);
    EXPECT_EQ(p1.blurRadius, 4);
    EXPECT_FLOAT_EQ(p1.blurStrength, 0.7f);
    EXPECT_GT(CrossoverSmoothingAlpha(p1, 0.0f), CrossoverSmoothingAlpha(p1, 1.0f)) << "quiet smooths more";

    float f1, f2;
    CrossoverFrequencies(0.5f, 0.0f, f1, f2);
    EXPECT_FLOAT_EQ(f1, 400.0f);
    EXPECT_FLOAT_EQ(f2, 4000.0f);
    CrossoverFrequencies(1.0f, 1.0f, f1, f2);
    EXPECT_FLOAT_EQ(f1, 2000.0f);
    EXPECT_FLOAT_EQ(f2, 12000.0f);
    CrossoverFrequencies(0.0f, 1.0f, f1, f2);
    EXPECT_FLOAT_EQ(f1, 80.0f);
    EXPECT_FLOAT_EQ(f2, 800.0f);
}

TEST(AlloyCrossover, BandWeightsShareEveryBinAndMergeTowardThirds) {
    std::vector<float> lo(kAlloyBins), md(kAlloyBins), hi(kAlloyBins);
    CrossoverBandWeights(kRate, 400.0f, 4000.0f, 1.5f, {true, true, true}, lo.data(), md.data(), hi.data());
    for (int k = 0; k < kAlloyBins; ++k) ASSERT_NEAR(lo[size_t(k)] + md[size_t(k)] + hi[size_t(k)], 1.0f, 1e-5f) << k;
    const int bin12k = 512, bin50 = 2, bin1k = 43, bin5k = 213;
    for (const auto* w : {&lo, &md, &hi}) EXPECT_NEAR((*w)[bin12k], 1.0f / 3.0f, 1e-6f);
    EXPECT_GT(lo[bin50], 0.8f);
    EXPECT_GT(md[bin1k], lo[bin1k]);
    EXPECT_GT(md[bin1k], hi[bin1k]);
    EXPECT_GT(hi[bin5k], 0.5f);

    // An absent main hands its share to the others: nothing is lost.
    CrossoverBandWeights(kRate, 400.0f, 4000.0f, 1.5f, {false, true, true}, lo.data(), md.data(), hi.data());
    for (int k = 0; k < kAlloyBins; ++k) {
        ASSERT_EQ(lo[size_t(k)], 0.0f);
        ASSERT_NEAR(md[size_t(k)] + hi[size_t(k)], 1.0f, 1e-5f);
    }
}

TEST(AlloyCrossover, MainOnlyLosesAboutSixDecibelsOfItsHighBand) {
    // A weight of 0 at m = 0 puts the crossovers at 100 and 1000 Hz, so 5 kHz
    // lies deep in the high band, which a main-only morph half loses.
    const size_t n = kRate;
    RenderResult r = MorphResult(0.0f, 1.0f);
    r.hasAlloyCurves = true;
    r.alloyWeightCurve.fill(0.0f);
    r.alloyIntensityCurve.fill(1.0f);
    for (auto [freq, lowDb, highDb] : {std::tuple{5000.0, -7.0, -5.0}, std::tuple{30.0, -1.0, 0.5}}) {
        Channels ch(n);
        ch.Set(kAlloyMain, SineSamples(n, kRate, {freq}, 0.5));
        const std::vector<float> out = Crossover(r, ch);
        const double db = Db(Rms(out, 4096, n - 4096) / Rms(ch.layers[0], 4096, n - 4096));
        EXPECT_GT(db, lowDb) << freq;
        EXPECT_LT(db, highDb) << freq;
    }
}

TEST(AlloyCrossover, EachLayerSoundsInItsOwnBand) {
    const size_t n = kRate / 2;
    const RenderResult r = MorphResult(0.0f, 0.5f);
    const std::vector<float> low = SineSamples(n, kRate, {60.0}, 0.5);
    const std::vector<float> high = SineSamples(n, kRate, {9000.0}, 0.5);
    auto level = [&](int layer, const std::vector<float>& signal) {
        Channels ch(n);
        for (int k = 0; k < 3; ++k) ch.Set(k, std::vector<float>(n, 0.0f));
        ch.Set(layer, signal);
        return Rms(Crossover(r, ch), 4096, n - 4096) / Rms(signal, 4096, n - 4096);
    };
    EXPECT_GT(Db(level(kAlloyMain, low)), -1.0);
    EXPECT_LT(Db(level(kAlloyHigh, low)), -30.0) << "the high layer has no say at 60 Hz";
    EXPECT_LT(Db(level(kAlloyMain, high)), Db(level(kAlloyHigh, high)) - 3.0);
}

// ---------------------------------------------------------------------------
// Mosaic
// ---------------------------------------------------------------------------

TEST(AlloyMosaic, BandCountSegmentsAndSwitches) {
    EXPECT_EQ(MosaicBandCount(2), 4);
    EXPECT_EQ(MosaicBandCount(40), 24);
    EXPECT_EQ(MosaicBandCount(10), 10);
    EXPECT_EQ(MosaicSegmentLength(kRate), 2400);
    EXPECT_EQ(MosaicSwitchLength(kRate, kRate), 240);
    EXPECT_EQ(MosaicSwitchLength(200, kRate), 32);

    AlloyLayers layers;
    layers.frames = 1000;
    RenderResult r;
    r.alloyFilterBands = 40;
    BandMosaicContext ctx = MakeBandMosaicContext(r, kRate, layers);
    ASSERT_EQ(ctx.edges.size(), 23u);
    EXPECT_GT(ctx.edges.front(), 200.0);
    EXPECT_LT(ctx.edges.back(), 16000.0);
    r.alloyFilterBands = 2;
    EXPECT_EQ(MakeBandMosaicContext(r, kRate, layers).edges.size(), 3u);
}

TEST(AlloyMosaic, PreviousLayerKeepsItsBandUnlessClearlyBeaten) {
    const int g = 100, n = 5 * g;
    std::vector<float> a(size_t(n), 1.0f), b(size_t(n), 1.0f);
    // Segment 0 ties; 1: b 1.3x (held by a); 2: b 1.5x (switch); 3: b 1.2x
    // (held by b); 4: b 0.7x (back to a).
    const float levels[5] = {1.0f, 1.3f, 1.5f, 1.2f, 0.7f};
    for (int i = 0; i < n; ++i) b[size_t(i)] = levels[i / g];
    EXPECT_EQ(ChooseMosaicSegments({&a, &b, nullptr}, n, g), (std::vector<int>{0, 0, 1, 1, 0}));
    // A tie in the first segment goes to the lower index among present layers.
    EXPECT_EQ(ChooseMosaicSegments({nullptr, &a, &a}, 2 * g, g), (std::vector<int>{1, 1}));
    // The last segment may be short.
    EXPECT_EQ(ChooseMosaicSegments({&a, nullptr, nullptr}, 2 * g + 1, g).size(), 3u);
}

TEST(AlloyMosaic, SingleLayerIsTheSumOfItsBands) {
    const size_t n = 9600;
    Channels ch(n);
    ch.Set(kAlloyMain, NoiseSamples(n, 11));
    RenderResult r = MorphResult(1.0f, 0.2f);
    const std::vector<float> out = Mosaic(r, ch);
    const std::vector<double> edges = AlloyBandEdges(10, 200.0, 16000.0);
    std::vector<float> sum(n, 0.0f), band;
    for (int b = 0; b < 10; ++b) {
        AlloyBandSplit(ch.layers[0].data(), int(n), kRate, edges, b, band);
        for (size_t i = 0; i < n; ++i) sum[i] += band[i];
    }
    for (size_t i = 0; i < n; ++i) ASSERT_NEAR(out[i], sum[i], 1e-6f) << i;
}

TEST(AlloyMosaic, WeightTiltsTheBands) {
    EXPECT_FLOAT_EQ(AlloyTiltGain(1.0f, 1.0f), 1.75f);
    EXPECT_FLOAT_EQ(AlloyTiltGain(1.0f, 0.0f), 0.25f);
    EXPECT_FLOAT_EQ(AlloyTiltGain(0.0f, 0.0f), 1.75f);
    EXPECT_FLOAT_EQ(AlloyTiltGain(0.0f, 1.0f), 0.25f);
    EXPECT_FLOAT_EQ(AlloyTiltGain(0.5f, 0.3f), 1.0f);

    // 15 kHz sits in the top band, 50 Hz in the bottom one.
    const size_t n = 9600;
    RenderResult flat = MorphResult(1.0f, 0.2f), heavy = flat;
    heavy.hasAlloyCurves = true;
    heavy.alloyWeightCurve.fill(1.0f);
    for (auto [freq, gain] : {std::pair{15000.0, 1.75}, std::pair{50.0, 0.25}}) {
        Channels ch(n);
        ch.Set(kAlloyMain, SineSamples(n, kRate, {freq}, 0.3));
        const double ratio = Rms(Mosaic(heavy, ch), 2400, n) / Rms(Mosaic(flat, ch), 2400, n);
        EXPECT_NEAR(ratio, gain, 0.03 * gain) << freq;
    }
}

TEST(AlloyMosaic, LayersTakeOverWithAShortEqualPowerSwitch) {
    // Layer 0 plays the first half, layer 1 the second; away from the switch
    // the output is exactly the sum of the playing layer's bands.
    const size_t n = kRate, half = n / 2;
    std::vector<float> first = NoiseSamples(n, 12), second = NoiseSamples(n, 13);
    std::fill(first.begin() + long(half), first.end(), 0.0f);
    std::fill(second.begin(), second.begin() + long(half), 0.0f);
    const RenderResult r = MorphResult(1.0f, 1.0f);
    Channels both(n), onlyFirst(n), onlySecond(n);
    both.Set(kAlloyMain, first);
    both.Set(kAlloyMid, second);
    onlyFirst.Set(kAlloyMain, first);
    onlySecond.Set(kAlloyMain, second);
    const std::vector<float> out = Mosaic(r, both), a = Mosaic(r, onlyFirst), b = Mosaic(r, onlySecond);
    for (size_t i = 0; i < half; ++i) ASSERT_EQ(out[i], a[i]) << i;
    for (size_t i = half + 240; i < n; ++i) ASSERT_EQ(out[i], b[i]) << i;
    EXPECT_NE(out[half + 100], b[half + 100]) << "inside the switch both layers sound";
}

// ---------------------------------------------------------------------------
// Envelope transfers
// ---------------------------------------------------------------------------

TEST(AlloyTransfer, WithoutDriftTheBaseComesThroughUnchanged) {
    const size_t n = 4800;
    RenderResult r = MorphResult(0.0f, 0.1f);
    r.alloyMicroPitch = 0.0f;
    Channels ch(n);
    ch.Set(kAlloyMain, NoiseSamples(n, 14, 0.4f));

    EXPECT_EQ(Transfer(r, kEnvelopeTransfer, ch), ch.layers[0]) << "algorithm 1: an exact copy";
    std::vector<float> three = Transfer(r, kBandBlendTransfer, ch);
    EXPECT_EQ(three.back(), 0.0f) << "algorithm 3 resamples at speed 1 and stops one short";
    three.back() = ch.layers[0].back();
    EXPECT_EQ(three, ch.layers[0]);

    // Through the driver the level match leaves a main-only copy alone;
    // only the 10 ms fades change it.
    TempDir dir;
    const RenderResult whole = [&] {
        RenderResult w = MakeAlloyResult(1, 0.1f, WriteFloatWav(dir, "base.wav", ch.layers[0]));
        w.alloyMorph = 0.0f;
        w.alloyMicroPitch = 0.0f;
        return w;
    }();
    PlaybackVoice voice;
    ASSERT_TRUE(AlloyEnvelopeTransfer(whole, kRate, false, voice));
    for (size_t i = 480; i < n - 480; ++i) ASSERT_EQ(voice.left[i], ch.layers[0][i]) << i;
}

TEST(AlloyTransfer, DriftStopsAtTheEndOfItsOutput) {
    // Both seeds start the drift at its extremes: 0xC000C000 at speed 1 - P
    // (slower than the source), 0x40004000 at 1 + P.
    const uint32_t slow = 0xC000C000u, fast = 0x40004000u;
    for (int n : {1, 2, 5, 64, 500, 4800}) {
        const std::vector<float> base(size_t(n), 1.0f);
        std::vector<float> out;
        MicroPitchDrift(base, slow, 0.17f, kRate, out);
        ASSERT_EQ(out.size(), size_t(n));
        if (n > 2) {
            EXPECT_EQ(out.back(), 1.0f) << "the slow drift fills the buffer, " << n;
        }
    }
    std::vector<float> out;
    MicroPitchDrift(std::vector<float>(4800, 1.0f), fast, 0.17f, kRate, out);
    ASSERT_EQ(out.size(), 4800u);
    EXPECT_EQ(out.back(), 0.0f) << "the fast drift runs out of source first";

    // Short clips end to end, whatever the drift's phase.
    TempDir dir;
    for (int frames : {3, 10, 100, 1000}) {
        for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
            RenderResult r = MakeAlloyResult(1, float(frames) / kRate + 1e-6f,
                                             WriteFloatWav(dir, name, NoiseSamples(size_t(frames), 15)));
            r.alloyMicroPitch = 0.17f;
            PlaybackVoice v;
            ASSERT_TRUE(AlloyEnvelopeTransfer(r, kRate, true, v));
            EXPECT_EQ(v.sampleCount, frames);
            EXPECT_EQ(v.left.size(), size_t(frames));
        }
    }
}

TEST(AlloyTransfer, SpectralStepGraftAndTheirSources) {
    const size_t n = 9600;
    RenderResult r = MorphResult(0.0f, 0.2f);
    r.alloyMicroPitch = 0.0f;
    Channels ch(n);
    ch.Set(kAlloyMain, NoiseSamples(n, 16));
    ch.Set(kAlloyMid, NoiseSamples(n, 22, 0.3f));

    // Algorithm 1 takes its spectral source from mid and has no graft source
    // without high: the STFT leaves the first sample and the tail at 0.
    const std::vector<float> one = Transfer(r, kEnvelopeTransfer, ch);
    const size_t end = size_t(AlloyStftFrameCount(int(n), 256) - 1) * 256 + 2048;
    EXPECT_EQ(one[0], 0.0f);
    for (size_t i = end; i < n; ++i) ASSERT_EQ(one[i], 0.0f) << i;
    EXPECT_GT(Rms(one, 2048, end - 2048), 0.1);
    EXPECT_NE(one, ch.layers[0]);

    // Algorithm 3 grafts mid's attack when high is absent: it starts on mid.
    const std::vector<float> three = Transfer(r, kBandBlendTransfer, ch);
    EXPECT_EQ(three[0], ch.layers[kAlloyMid][0]);
    EXPECT_NE(three[0], 0.0f);

    // A graft of 4 samples or fewer changes nothing.
    const std::vector<float> source = NoiseSamples(200, 17), before = NoiseSamples(200, 18);
    std::vector<float> grafted = before;
    GraftAttack(source, 4, grafted);
    EXPECT_EQ(grafted, before);
    GraftAttack(source, 100, grafted);
    EXPECT_EQ(grafted[0], source[0]);
    EXPECT_EQ(std::vector<float>(grafted.begin() + 100, grafted.end()),
              std::vector<float>(before.begin() + 100, before.end()));
}

TEST(AlloyTransfer, BandBlendAddsOnlyTheEvenBandsOfHigh) {
    // 10 filter bands give 5 blend bands with edges near 647, 1396, 3010 and
    // 6492 Hz; 950 Hz lies in band 1 (not blended), 2050 Hz in band 2 and
    // 12 kHz in band 4 (blended at Q = 0.15 with no curves). A blended band
    // passes its sine as the fourth-order crossovers at its edges do.
    const size_t n = 9600;
    RenderResult r = MorphResult(0.0f, 0.2f);
    const TransferContext ctx = MakeTransferContext(r, kBandBlendTransfer, kRate, int(n), {true, false, true, false});
    EXPECT_FLOAT_EQ(ctx.blendGain, 0.15f);
    auto added = [&](double freq) {
        const std::vector<float> high = SineSamples(n, kRate, {freq}, 0.5);
        std::vector<float> out(n, 0.0f);
        BlendHighBands(ctx, high, out);
        return Rms(out, 2400, n) / Rms(high, 2400, n);
    };
    auto lr4 = [](double f, double lower, double upper) {
        const double h = lower > 0 ? std::pow(f / lower, 4) / (1 + std::pow(f / lower, 4)) : 1.0;
        const double l = upper > 0 ? 1 / (1 + std::pow(f / upper, 4)) : 1.0;
        return h * l;
    };
    const std::vector<double> edges = AlloyBandEdges(5, 300.0, 14000.0);
    // Within 5%: the digital filters drift from the analog shape toward Nyquist.
    EXPECT_NEAR(added(2050.0), 0.15 * lr4(2050.0, edges[1], edges[2]), 0.0075);
    EXPECT_NEAR(added(12000.0), 0.15 * lr4(12000.0, edges[3], 0), 0.0075);
    EXPECT_LT(added(950.0), 0.055);
}

TEST(AlloyTransfer, EnvelopeOnlyEverPullsDown) {
    const size_t n = 24000;
    std::vector<float> env = NoiseSamples(n, 19);
    for (size_t i = 0; i < n; ++i) env[i] *= float(0.1 + 0.9 * std::fabs(std::sin(double(i) / 3000.0)));
    const std::vector<float> before = NoiseSamples(n, 20);
    std::vector<float> after = before;
    const float lambda = 0.3f;
    ImposeAmplitudeEnvelope(env, lambda, kRate, after);
    float lowest = 1.0f;
    for (size_t i = 0; i < n; ++i) {
        if (before[i] == 0.0f) continue;
        const float gain = after[i] / before[i];
        ASSERT_LE(gain, 1.0f + 1e-6f) << i;
        lowest = std::min(lowest, gain);
    }
    EXPECT_GE(lowest, 1.0f - lambda - 1e-6f);
    EXPECT_LT(lowest, 0.85f) << "quiet moments are pulled down";
}

TEST(AlloyTransfer, TriangularSmoothingMatchesTheDirectWeightedMean) {
    // Magnitudes over 100 dB of range, as real spectra have.
    std::vector<float> mag = NoiseSamples(kAlloyBins, 21, 1.0f);
    for (int k = 0; k < kAlloyBins; ++k) mag[size_t(k)] = std::fabs(mag[size_t(k)]) * std::pow(10.0f, -5.0f * k / 1024.0f);
    for (int rate : {44100, 48000, 96000}) {
        TriangularSmoother smoother(rate);
        std::vector<float> fast(kAlloyBins);
        smoother.Run(mag.data(), fast.data());
        const double binHz = double(rate) / 2048.0;
        for (int k = 0; k < kAlloyBins; ++k) {
            const int h = std::clamp(int(std::max(20.0, k * binHz) * 0.5 / binHz + 1e-9), 2, 256);
            double sum = 0, wsum = 0;
            for (int d = -h; d <= h; ++d) {
                const double w = 1.0 - std::abs(d) / double(h + 1);
                sum += w * mag[size_t(std::clamp(k + d, 0, kAlloyBins - 1))];
                wsum += w;
            }
            ASSERT_NEAR(fast[size_t(k)], sum / wsum, 1e-5 * sum / wsum) << rate << " bin " << k;
        }
    }
}
