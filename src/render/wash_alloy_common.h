// wash_alloy_common.h — small steps shared by the alloy, wash and threshold
// layer builders.
//
// Index
//   IntensitySpanAbove     first..last point of the intensity curve at or above a level
//   JitteredSpanAbove      that span, each end moved by a random share of up to `jitter` / 2
//   LevelLadder / NextLevelSpan   a span builder's next level and the span it places a layer on
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
    float rise = 0;
    float floor = 0;
    float jitter = 0;
    float shortest = 0;
};

// Level k of the ladder and the span of the event above it: its shares u0..u1
// of the event, its start and length in seconds and its middle share.
struct LevelSpan {
    float level = 0;
    float u0 = 0;
    float u1 = 0;
    float start = 0;
    float length = 0;
    float mid = 0;
};

enum class LevelSpanStep {
    Place,  // a layer goes on `span`
    Skip,   // no span reaches the level, or it is too short
    Stop,   // the level passes the peak, and so does every later one
};

LevelSpanStep NextLevelSpan(const LayerBuildContext& ctx, const LevelLadder& ladder, int k, LevelSpan& span);

// The share of the event (clamped to 0..1) at which point i of the layer's
// 256-point intensity gain plays.
float EventPositionOfPoint(const Event& event, float eventStart, const RenderResult& result, int i);

// Lowest and highest SampleEventCurve value at the 256 points u = i / 255.
void EventWeightExtremes(const Event& event, float& lo, float& hi);
