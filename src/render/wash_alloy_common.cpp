// wash_alloy_common.cpp — helpers shared by the alloy, wash and threshold builders.
//
// Index
//   IntensitySpanAbove / JitteredSpanAbove / NextLevelSpan
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

LevelSpanStep NextLevelSpan(const LayerBuildContext& ctx, const LevelLadder& ladder, int k, LevelSpan& span) {
    const Event& event = ctx.event();
    const float peak = ctx.maxIntensity;
    span.level =
        static_cast<float>(k) / static_cast<float>(std::max(1, ladder.count - 1)) * ladder.rise * peak + ladder.floor;
    if (span.level > peak) return LevelSpanStep::Stop;
    span.u0 = 0.0f;
    span.u1 = 0.0f;
    if (!JitteredSpanAbove(event, span.level, ladder.jitter, *ctx.randomState, span.u0, span.u1))
        return LevelSpanStep::Skip;
    const float eventLength = event.duration;
    span.start = ctx.eventStart + span.u0 * eventLength;
    span.length = (span.u1 - span.u0) * eventLength;
    if (span.length < ladder.shortest) return LevelSpanStep::Skip;
    span.mid = (span.u0 + span.u1) * 0.5f;
    return LevelSpanStep::Place;
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
