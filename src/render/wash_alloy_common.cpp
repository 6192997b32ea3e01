// wash_alloy_common.cpp — helpers shared by the alloy, wash and threshold builders.
//
// Index
//   IntensitySpanAbove / JitteredSpanAbove / LevelSpans
//   EventPositionOfPoint / EventWeightExtremes
#include "render/wash_alloy_common.h"

#include <algorithm>

#include "render/render_curves.h"

bool IntensitySpanAbove(const Event& event, float level, float& u0, float& u1) {
    int first = -1;
    int last = -1;
    for (int i = 0; i < 256; ++i) {
        if (event.intensity[i] * event.intensityScale >= level) {
            if (first < 0) first = i;
            last = i;
        }
    }
    if (first < 0) return false;
    u0 = static_cast<float>(first) / 256.0f;
    u1 = static_cast<float>(last + 1) / 256.0f;
    return true;
}

bool JitteredSpanAbove(const Event& event, float level, float jitter, uint32_t& state, float& u0, float& u1) {
    if (!IntensitySpanAbove(event, level, u0, u1)) return false;
    float r = NextRenderRandom(state);
    u0 = std::clamp(u0 + (r - 0.5f) * jitter, 0.0f, 0.95f);
    r = NextRenderRandom(state);
    u1 = std::clamp(u1 + (r - 0.5f) * jitter, u0 + 0.05f, 1.0f);
    return true;
}

bool LevelSpans::Next(LevelSpan& span) {
    const Event& event = ctx_.event();
    const float peak = ctx_.maxIntensity;
    while (next_ < ladder_.count) {
        span.k = next_++;
        span.level = static_cast<float>(span.k) / static_cast<float>(std::max(1, ladder_.count - 1)) *
                         ladder_.rise * peak + ladder_.floor;
        if (span.level > peak) {
            next_ = ladder_.count;
            return false;
        }
        span.u0 = 0.0f;
        span.u1 = 0.0f;
        if (!JitteredSpanAbove(event, span.level, ladder_.jitter, *ctx_.randomState, span.u0, span.u1)) continue;
        const float eventLength = event.duration;
        span.start = ctx_.eventStart + span.u0 * eventLength;
        span.length = (span.u1 - span.u0) * eventLength;
        if (span.length < ladder_.shortest) continue;
        span.mid = (span.u0 + span.u1) * 0.5f;
        return true;
    }
    return false;
}

float EventPositionOfPoint(const Event& event, float eventStart, const RenderResult& result, int i) {
    float t = result.startTime + static_cast<float>(i) / 255.0f * result.duration;
    float u = (t - eventStart) / std::max(event.duration, 0.001f);
    if (!(u == u)) return 0.0f;
    return std::clamp(u, 0.0f, 1.0f);
}

void EventWeightExtremes(const Event& event, float& lo, float& hi) {
    lo = 1.0f;
    hi = 0.0f;
    for (int i = 0; i < 256; ++i) {
        float w = SampleEventCurve(event, static_cast<float>(i) / 255.0f);
        lo = std::min(lo, w);
        hi = std::max(hi, w);
    }
}
