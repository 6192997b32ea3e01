// render_curves.cpp — curve sampling, jitter and smoothing for the render pass.
//
// Index
//   NextRenderRandom
//   SampleEventCurve / IntensityTier
//   IntensityJitter / PitchJitter
//   SmoothCurveZeroPhase / BuildCurveLookup
//   SampleCurve16
#include "render/render_curves.h"

#include <algorithm>
#include <cmath>

#include "document/event.h"
#include "document/project.h"

float NextRenderRandom(uint32_t& state) {
    state = state * 1103515245u + 12345u;
    return static_cast<float>(static_cast<double>(state >> 16) / 65535.0);
}

float SampleEventCurve(const Event& event, float t) {
    return std::clamp(SampleCurve256(event.weight, t) + event.weightOffset, 0.0f, 1.0f);
}

int IntensityTier(float v) {
    if (v >= 1.0f) return 5;
    if (v >= 0.75f) return 4;
    if (v >= 0.5f) return 3;
    if (v >= 0.25f) return 2;
    return 1;
}

float IntensityJitter(float value, float amount, uint32_t& state) {
    if (!(amount >= 0.001f)) return value;
    float r = NextRenderRandom(state);
    return std::clamp(value + (2.0f * r - 1.0f) * 0.15f * amount, 0.0f, 1.0f);
}

void PitchJitter(RenderResult& result, float amount, uint32_t& state) {
    if (!(amount >= 0.001f)) return;
    float r = NextRenderRandom(state);
    float s = (2.0f * r - 1.0f) * amount * 24.0f;
    result.pitchVarShift = s;
    result.pitchShift += s;
    float ratio = std::pow(2.0f, s / 12.0f);
    if (std::fabs(ratio - 1.0f) < 0.001f) return;
    // A shifted sound plays `ratio` times faster, so it needs `ratio` times
    // more source to fill the same span, and its sync point moves to
    // audioSyncOffset * ratio into the region. Move the region's start so the
    // sync point stays where it was in the file; when that would need source
    // before the file's start, start at 0 and move the layer instead.
    float oldOffset = result.sourceOffset;
    result.sourceDuration *= ratio;
    float newOffset = oldOffset - result.audioSyncOffset * (ratio - 1.0f);
    if (newOffset >= 0.0f) {
        result.sourceOffset = newOffset;
        return;
    }
    result.sourceOffset = 0.0f;
    float newSync = (result.audioSyncOffset + oldOffset) / ratio;
    result.startTime += result.audioSyncOffset - newSync;
    result.audioSyncOffset = newSync;
}

void SmoothCurveZeroPhase(float* values, int n, float spanSeconds) {
    if (values == nullptr || n < 3 || !(spanSeconds > 0.0f)) return;
    // The points are spanSeconds / (n - 1) apart: this pole gives a time
    // constant of a quarter second whatever the layer's length.
    float a = std::exp(-4.0f * spanSeconds / static_cast<float>(n - 1));
    float k = std::clamp(1.0f - a, 0.01f, 1.0f);
    float y = values[0];
    for (int i = 0; i < n; ++i) {
        y += (values[i] - y) * k;
        values[i] = y;
    }
    // The forward pass lags; averaging it with its own backward pass pulls
    // the response back so a step softens on both of its sides.
    float forwardLast = values[n - 1];
    float z = forwardLast;
    for (int i = n - 1; i >= 0; --i) {
        float c = values[i];
        z += (c - z) * k;
        values[i] = (c + z) * 0.5f;
    }
}

void BuildCurveLookup(const Event& event, RenderResult& result) {
    float eventStart = event.time - event.syncOffset;
    float span = std::max(event.duration, 0.001f);
    for (int i = 0; i < 256; ++i) {
        float t = result.startTime + static_cast<float>(i) / 255.0f * result.duration;
        float u = std::clamp((t - eventStart) / span, 0.0f, 1.0f);
        if (!(u == u)) u = 0.0f;
        float v = SampleCurve256(event.intensity, u) * event.intensityScale;
        if (event.hasTraceGain) v *= SampleCurve256(event.traceGain, u);
        result.intGain[i] = std::clamp(v, 0.0f, 1.0f);
    }
    result.hasIntGain = true;
    SmoothCurveZeroPhase(result.intGain.data(), 256, result.duration);
}

void SampleCurve16(const Event& event, float weight, float u0, float u1, float out16[16]) {
    float largest = 0.0f;
    for (int i = 0; i < 16; ++i) {
        float u = u0 + (static_cast<float>(i) + 0.5f) / 16.0f * (u1 - u0);
        u = std::clamp(u, 0.0f, 1.0f);
        float intensity = SampleCurve256(event.intensity, u) * event.intensityScale;
        float w = SampleEventCurve(event, u);
        float d = weight - w;
        float v = std::max(0.05f, std::exp(-5.0f * d * d)) * intensity;
        out16[i] = v;
        largest = std::max(largest, v);
    }
    if (largest > 1e-8f) {
        for (int i = 0; i < 16; ++i) out16[i] /= largest;
    }
}
