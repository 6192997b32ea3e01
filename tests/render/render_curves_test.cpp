// Curve helpers of the render pass: smoothing, jitter, intensity lookup and targets.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "render/render_curves.h"

TEST(RenderCurves, SmoothingSoftensAStepOnBothSides) {
    std::vector<float> v(256);
    for (int i = 0; i < 256; ++i) v[i] = i < 128 ? 0.0f : 1.0f;
    SmoothCurveZeroPhase(v.data(), 256, 4.0f);
    // The backward half of the filter anticipates the step, the forward half
    // lags it: both sides move, and the curve still rises monotonically.
    EXPECT_GT(v[124], 0.1f);
    EXPECT_LT(v[131], 0.9f);
    EXPECT_LT(v[0], 0.01f);
    EXPECT_GT(v[255], 0.99f);
    for (int i = 1; i < 256; ++i) EXPECT_GE(v[i], v[i - 1] - 1e-6f) << i;

    // A constant stays itself; short lists and empty spans are left alone.
    std::vector<float> flat(64, 0.7f);
    SmoothCurveZeroPhase(flat.data(), 64, 2.0f);
    for (float x : flat) EXPECT_NEAR(x, 0.7f, 1e-6f);
    float two[2] = {0.0f, 1.0f};
    SmoothCurveZeroPhase(two, 2, 1.0f);
    EXPECT_EQ(two[1], 1.0f);
    std::vector<float> w = {0, 0, 1, 1};
    SmoothCurveZeroPhase(w.data(), 4, 0.0f);
    EXPECT_EQ(w[2], 1.0f);

    // The time constant is a quarter second whatever the span: a longer layer
    // smooths the same step over fewer of its points.
    std::vector<float> shortSpan(256), longSpan(256);
    for (int i = 0; i < 256; ++i) shortSpan[i] = longSpan[i] = i < 128 ? 0.0f : 1.0f;
    SmoothCurveZeroPhase(shortSpan.data(), 256, 1.0f);
    SmoothCurveZeroPhase(longSpan.data(), 256, 20.0f);
    EXPECT_LT(std::fabs(longSpan[140] - 1.0f), std::fabs(shortSpan[140] - 1.0f));
}

TEST(RenderCurves, PitchJitterKeepsTheSyncPointInPlace) {
    auto syncInFile = [](const RenderResult& r) {
        float ratio = std::pow(2.0f, r.pitchVarShift / 12.0f);
        return r.sourceOffset + r.audioSyncOffset * ratio;
    };
    // Find seeds that shift up and down, and check both roads for each.
    for (uint32_t seed = 1; seed < 40; ++seed) {
        RenderResult r;
        r.sourceOffset = 2.0f;
        r.sourceDuration = 1.0f;
        r.audioSyncOffset = 0.3f;
        r.startTime = 5.0f;
        r.pitchShift = 1.0f;
        uint32_t state = seed;
        PitchJitter(r, 0.5f, state);
        float ratio = std::pow(2.0f, r.pitchVarShift / 12.0f);
        EXPECT_NE(state, seed);
        EXPECT_NEAR(r.pitchShift, 1.0f + r.pitchVarShift, 1e-5f);
        EXPECT_LE(std::fabs(r.pitchVarShift), 12.0f + 1e-4f);
        EXPECT_NEAR(r.sourceDuration, ratio, 2e-3f);
        EXPECT_NEAR(syncInFile(r), 2.3f, 1e-4f);
        EXPECT_NEAR(r.startTime + r.audioSyncOffset, 5.3f, 1e-4f);
        EXPECT_FLOAT_EQ(r.startTime, 5.0f);  // room enough before the region

        // A region at the file's start cannot move earlier: the region starts
        // at 0 and the layer moves so the sync point still meets its moment.
        RenderResult a;
        a.sourceOffset = 0.0f;
        a.audioSyncOffset = 0.4f;
        a.startTime = 5.0f;
        a.sourceDuration = 1.0f;
        uint32_t s2 = seed;
        PitchJitter(a, 0.5f, s2);
        EXPECT_GE(a.sourceOffset, 0.0f);
        EXPECT_NEAR(syncInFile(a), 0.4f, 1e-4f);
        EXPECT_NEAR(a.startTime + a.audioSyncOffset, 5.4f, 1e-4f);
    }
    // No amount: no draw, no change; a weight jitter stays within its reach.
    uint32_t w = 99;
    EXPECT_EQ(IntensityJitter(0.4f, 0.0f, w), 0.4f);
    EXPECT_EQ(w, 99u);
    for (int i = 0; i < 100; ++i) {
        float v = IntensityJitter(0.95f, 1.0f, w);
        EXPECT_GE(v, 0.8f - 1e-6f);
        EXPECT_LE(v, 1.0f);
    }
    RenderResult r;
    r.sourceOffset = 1.0f;
    uint32_t state = 7;
    PitchJitter(r, 0.0005f, state);
    EXPECT_EQ(state, 7u);
    EXPECT_EQ(r.pitchVarShift, 0.0f);
    EXPECT_EQ(r.sourceOffset, 1.0f);
}

TEST(RenderCurves, CurveLookupFollowsTheEventOverTheLayerSpan) {
    Event e;
    e.time = 11.0f;
    e.syncOffset = 1.0f;  // the event spans 10 .. 14 s
    e.duration = 4.0f;
    e.intensityScale = 0.5f;
    for (int i = 0; i < 256; ++i) e.intensity[i] = i / 255.0f;
    FillCurve(e.weight, 0.5f);

    RenderResult r;
    r.startTime = 12.0f;  // second half of the event
    r.duration = 2.0f;
    BuildCurveLookup(e, r);
    EXPECT_TRUE(r.hasIntGain);
    // A ramp stays a ramp under the smoothing, apart from its ends.
    EXPECT_NEAR(r.intGain[128], 0.5f * 0.75f, 0.03f);
    EXPECT_GT(r.intGain[250], r.intGain[10]);

    // A trace gain multiplies in; values stay within 0..1.
    e.hasTraceGain = true;
    FillCurve(e.traceGain, 0.5f);
    e.intensityScale = 4.0f;
    RenderResult t = r;
    BuildCurveLookup(e, t);
    for (float v : t.intGain) EXPECT_LE(v, 1.0f);
    EXPECT_NEAR(t.intGain[128], 1.0f, 0.01f);

    // The 16-point target peaks at 1 and drops where the weight is far away.
    e.hasTraceGain = false;
    e.intensityScale = 1.0f;
    FillCurve(e.intensity, 0.8f);
    for (int i = 0; i < 256; ++i) e.weight[i] = i < 128 ? 0.2f : 0.9f;
    float out[16];
    SampleCurve16(e, 0.9f, 0.0f, 1.0f, out);
    EXPECT_FLOAT_EQ(out[15], 1.0f);
    EXPECT_NEAR(out[0], std::exp(-5.0f * 0.49f), 1e-4f);
    EXPECT_FLOAT_EQ(SampleEventCurve(e, 0.9f), 0.9f);
    e.weightOffset = 0.5f;
    EXPECT_FLOAT_EQ(SampleEventCurve(e, 0.9f), 1.0f);
}
