// The reverb: derived parameters against the figures a designer sees, the
// glide, silence after a clear, recovery from garbage input, determinism and
// a decay that follows the decay setting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "playback/reverb.h"

namespace {

constexpr int kRate = 48000;
constexpr double kTwoPi = 6.283185307179586;

const ReverbSixParams kDefaults = {0.5f, 0.5f, 0.3f, 0.015f, 0.7f, 0.5f};

std::unique_ptr<ReverbState> MakeReverb(int rate = kRate, const ReverbSixParams& p = kDefaults) {
    auto s = std::make_unique<ReverbState>();  // 1.4 MB: not on the stack
    InitReverb(*s, rate);
    ReverbSetParams(*s, p);
    return s;
}

// Runs the two inputs through in blocks of 512.
void RunReverb(ReverbState& s, const std::vector<float>& inL, const std::vector<float>& inR,
         std::vector<float>& outL, std::vector<float>& outR) {
    outL.assign(inL.size(), 0.0f);
    outR.assign(inR.size(), 0.0f);
    for (size_t at = 0; at < inL.size(); at += 512) {
        const int n = int(std::min<size_t>(512, inL.size() - at));
        ProcessReverbBlock(s, inL.data() + at, inR.data() + at, outL.data() + at, outR.data() + at, n);
    }
}

std::vector<float> Noise(size_t n, unsigned seed, float amp = 0.3f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-amp, amp);
    std::vector<float> v(n);
    for (float& x : v) x = d(rng);
    return v;
}

double Energy(const std::vector<float>& v, size_t from, size_t to) {
    double e = 0;
    for (size_t i = from; i < to; ++i) e += double(v[i]) * v[i];
    return e;
}

double CornerHz(float coefficient) { return -std::log(1.0 - coefficient) * kRate / kTwoPi; }

}  // namespace

TEST(Reverb, DefaultSettingsDeriveTheDocumentedFigures) {
    EXPECT_NEAR(ReverbT60Seconds(0.5f), 5.15, 1e-9);
    EXPECT_NEAR(ReverbBaseLengthMs(0.5f, kRate) * 0.001 * kRate, 3960.0, 1e-6);
    // At high rates the longest line must still fit: the base is capped.
    EXPECT_NEAR(ReverbBaseLengthMs(1.0f, 192000), 40.0, 1e-9);

    auto s = MakeReverb();
    const ReverbParamSet& t = s->target;
    EXPECT_NEAR(t.feedback, 0.847, 0.001);
    EXPECT_NEAR(t.gain, 4.80, 0.01);
    EXPECT_NEAR(t.diffusion, 0.55 * 0.7 + 0.45, 1e-6);
    for (int k = 0; k < kReverbLines; ++k) {
        EXPECT_GE(t.lineLength[k], 64.0f) << k;
        EXPECT_LE(t.lineLength[k], 16320.0f) << k;
        // 2^(k/8) times the base, give or take the jitter of at most 65 samples.
        EXPECT_NEAR(t.lineLength[k], std::exp2(k / 8.0) * 3960.0, 65.0) << k;
    }
    for (int i = 0; i < kReverbTaps; ++i) {
        EXPECT_GE(t.tapDelay[i], 1.0f) << i;
        EXPECT_LE(t.tapDelay[i], 8191.0f) << i;
        EXPECT_TRUE(s->tapSigns[i] == 1 || s->tapSigns[i] == -1) << i;
    }
    // Each diffusion stage spans half the time of the one before it.
    double spanMs = 130.0 * 0.5 + 30.0;
    for (int stage = 0; stage < kReverbStages; ++stage) {
        spanMs /= 2;
        for (int k = 0; k < kReverbLines; ++k)
            EXPECT_LE(t.tapDelay[stage * 8 + k], spanMs * 48.0 + 1e-3) << stage << " " << k;
    }
    // The polarities are not all alike (a uniform sign would undo the mixing).
    int positive = 0;
    for (int sign : s->tapSigns) positive += sign > 0;
    EXPECT_GT(positive, 0);
    EXPECT_LT(positive, kReverbTaps);
}

TEST(Reverb, ParameterBoundsAndCorners) {
    auto s = MakeReverb(kRate, {0.5f, 0.5f, 1.0f, 0.5f, 0.7f, 0.5f});
    EXPECT_EQ(s->target.predelay, 19199.0f);
    EXPECT_NEAR(CornerHz(s->target.damping), 18000.0 * std::exp(-3.5), 0.5);  // 543.6 Hz
    EXPECT_NEAR(CornerHz(s->target.tone), 16000.0 * std::exp(-1.5), 0.5);     // 3570 Hz

    // Nonsense settings still give a bounded, stable network.
    ReverbSetParams(*s, {NAN, INFINITY, -3.0f, 1e9f, NAN, 7.0f});
    for (float len : s->target.lineLength) EXPECT_TRUE(len >= 64.0f && len <= 16320.0f);
    EXPECT_LE(s->target.feedback, 0.9995f);
    EXPECT_LE(s->target.gain, 5.0f);
    EXPECT_LE(s->target.predelay, 19199.0f);
}

TEST(Reverb, GlideSettlesOnWholeSampleTaps) {
    auto s = MakeReverb();
    std::vector<float> in(kRate, 0.0f), outL, outR;
    RunReverb(*s, in, in, outL, outR);
    EXPECT_EQ(s->converged, 1);
    for (int i = 0; i < kReverbTaps; ++i) {
        EXPECT_NEAR(s->current.tapDelay[i], s->target.tapDelay[i], 0.01f) << i;
        EXPECT_EQ(s->tapFrac[i], 0.0f) << i;
    }
    for (int k = 0; k < kReverbLines; ++k)
        EXPECT_NEAR(s->current.lineLength[k], s->target.lineLength[k], 0.05f) << k;
    // A new size starts a glide: the taps are between old and new.
    const float before = s->current.tapDelay[5];
    ReverbSetParams(*s, {1.0f, 0.5f, 0.3f, 0.015f, 0.7f, 0.5f});
    std::vector<float> shortIn(512, 0.0f);
    RunReverb(*s, shortIn, shortIn, outL, outR);
    EXPECT_EQ(s->converged, 0);
    EXPECT_GT(s->current.tapDelay[5], before);
    EXPECT_LT(s->current.tapDelay[5], s->target.tapDelay[5]);
}

TEST(Reverb, SilenceAfterAClearIsExactlyZero) {
    auto s = MakeReverb();
    const std::vector<float> noise = Noise(kRate / 2, 3);
    std::vector<float> outL, outR;
    RunReverb(*s, noise, noise, outL, outR);
    ASSERT_GT(Energy(outL, 0, outL.size()), 0.0);  // it did ring

    ClearMixBuffers(*s);
    const ReverbParamSet kept = s->target;
    std::vector<float> zeros(kRate / 2, 0.0f);
    RunReverb(*s, zeros, zeros, outL, outR);
    for (size_t i = 0; i < zeros.size(); ++i) {
        ASSERT_EQ(outL[i], 0.0f) << i;
        ASSERT_EQ(outR[i], 0.0f) << i;
    }
    EXPECT_EQ(s->target.feedback, kept.feedback);  // parameters untouched
    EXPECT_EQ(s->target.lineLength, kept.lineLength);
}

TEST(Reverb, GarbageInputGivesFiniteOutputAndDiesAway) {
    // Short decay so the tail is gone within the test.
    auto s = MakeReverb(kRate, {0.3f, 0.0f, 0.3f, 0.0f, 0.7f, 0.5f});
    std::vector<float> burst = Noise(2048, 5);
    burst[10] = NAN;
    burst[300] = 1e30f;
    burst[301] = -1e30f;
    burst[700] = INFINITY;
    std::vector<float> right = burst;
    right[11] = -INFINITY;
    std::vector<float> outL, outR;
    RunReverb(*s, burst, right, outL, outR);
    for (size_t i = 0; i < outL.size(); ++i) {
        ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i])) << i;
    }
    std::vector<float> zeros(3 * kRate, 0.0f);
    RunReverb(*s, zeros, zeros, outL, outR);
    float lastPeak = 0;
    for (size_t i = 0; i < zeros.size(); ++i) {
        ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i])) << i;
        if (i >= zeros.size() - kRate / 4)
            lastPeak = std::max({lastPeak, std::fabs(outL[i]), std::fabs(outR[i])});
    }
    EXPECT_LT(lastPeak, 1e-6f);

    // And it still works afterwards: a fresh input is heard.
    const std::vector<float> noise = Noise(4096, 9);
    RunReverb(*s, noise, noise, outL, outR);
    EXPECT_GT(Energy(outL, 0, outL.size()), 1e-6);
}

TEST(Reverb, SameInputAfterInitGivesBitIdenticalOutput) {
    auto s = MakeReverb();
    const std::vector<float> l = Noise(20000, 11), r = Noise(20000, 12);
    std::vector<float> a1, b1, a2, b2;
    RunReverb(*s, l, r, a1, b1);
    InitReverb(*s, kRate);
    ReverbSetParams(*s, kDefaults);
    RunReverb(*s, l, r, a2, b2);
    EXPECT_EQ(std::memcmp(a1.data(), a2.data(), a1.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(b1.data(), b2.data(), b1.size() * sizeof(float)), 0);
    // Odd block sizes process the same samples the same way.
    InitReverb(*s, kRate);
    ReverbSetParams(*s, kDefaults);
    std::vector<float> a3(l.size()), b3(l.size());
    for (size_t at = 0; at < l.size();) {
        const int n = int(std::min<size_t>(37 + at % 300, l.size() - at));
        ProcessReverbBlock(*s, l.data() + at, r.data() + at, a3.data() + at, b3.data() + at, n);
        at += size_t(n);
    }
    EXPECT_EQ(std::memcmp(a1.data(), a3.data(), a1.size() * sizeof(float)), 0);
}

TEST(Reverb, TailDecaysAtRoughlyTheSetRate) {
    // Short and long decay settings: the energy falls about as fast as the
    // T60 says (damping makes it somewhat faster, never slower).
    for (float decay : {0.1f, 0.5f}) {
        auto s = MakeReverb(kRate, {0.5f, decay, 0.0f, 0.0f, 0.7f, 0.0f});
        const double t60 = ReverbT60Seconds(decay);
        std::vector<float> in(size_t(kRate * 2.5), 0.0f);
        in[0] = 1.0f;
        std::vector<float> outL, outR;
        RunReverb(*s, in, in, outL, outR);
        const size_t w = kRate / 4;
        const size_t a = kRate / 2, b = a + kRate;  // windows 1 s apart
        const double drop = 10.0 * std::log10(Energy(outL, a, a + w) / Energy(outL, b, b + w));
        const double expected = 60.0 / t60;  // dB per second
        EXPECT_GT(drop, 0.85 * expected) << decay;
        EXPECT_LT(drop, 1.4 * expected) << decay;
    }
}

TEST(Reverb, BothSidesRingFromOneSide) {
    auto s = MakeReverb();
    std::vector<float> l = Noise(8192, 21), r(8192, 0.0f), outL, outR;
    RunReverb(*s, l, r, outL, outR);
    EXPECT_GT(Energy(outR, 0, outR.size()), 0.05 * Energy(outL, 0, outL.size()));
    // Nothing happens for an empty block.
    const uint32_t before = s->writeIndex;
    ProcessReverbBlock(*s, l.data(), r.data(), outL.data(), outR.data(), 0);
    EXPECT_EQ(s->writeIndex, before);
}
