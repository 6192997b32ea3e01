// wash_alloy_common.h — small steps shared by the alloy, wash and threshold
// layer builders.
//
// Index
//   IntensitySpanAbove     first..last point of the intensity curve at or above a level
//   JitteredSpanAbove      that span, each end moved by a random share of up to `jitter` / 2
//   LevelLadder / LevelSpans   a span builder's levels and the spans it places its layers on
//   EventPositionOfPoint   where point i of a layer's 256-point gain lies in its event
//   EventWeightExtremes    lowest and highest weight over the event
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "render/candidates.h"
#include "render/layer_builders.h"

// Over the 256 points of intensity x intensityScale: u0 = first / 256 and
// u1 = (last + 1) / 256 of the points at or above `level`. False when no
// point reaches it.
bool IntensitySpanAbove(const Event& event, float level, float& u0, float& u1);

// IntensitySpanAbove with each end moved by (r - 0.5) x jitter for the next
// two draws r of `state` (u0 within 0..0.95, u1 at least 0.05 after it), as
// the span builders place their layers.
bool JitteredSpanAbove(const Event& event, float level, float jitter, uint32_t& state, float& u0, float& u1);

// The levels a span builder climbs: level k of `count` is
// k / max(1, count - 1) x rise x the event's peak intensity + floor; the
// span above it is jittered by `jitter` and must last `shortest` seconds.
struct LevelLadder {
    int count = 1;
    float rise = 0, floor = 0, jitter = 0, shortest = 0;
};

// Level k of a ladder and the span of the event above it: its shares u0..u1
// of the event, its start and length in seconds and its middle share.
struct LevelSpan {
    int k = 0;
    float level = 0, u0 = 0, u1 = 0;
    float start = 0, length = 0, mid = 0;
};

// The ladder's levels in turn, each with its span (JitteredSpanAbove, with
// the pass's random state): a level no span reaches, or whose span is too
// short, is passed over; the walk ends at the last level or at the first
// that passes the peak.
class LevelSpans {
public:
    LevelSpans(const LayerBuildContext& ctx, const LevelLadder& ladder) : ctx_(ctx), ladder_(ladder) {}
    // The next level that places a layer; false when there is none.
    bool Next(LevelSpan& span);

private:
    const LayerBuildContext& ctx_;
    LevelLadder ladder_;
    int next_ = 0;
};

// The share of the event (clamped to 0..1) at which point i of the layer's
// 256-point intensity gain plays.
float EventPositionOfPoint(const Event& event, float eventStart, const RenderResult& result, int i);

// Lowest and highest SampleEventCurve value at the 256 points u = i / 255.
void EventWeightExtremes(const Event& event, float& lo, float& hi);
