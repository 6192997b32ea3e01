// curve_lane_logic.cpp — sampling the curve lanes, and what a press takes.
//
// Index
//   Sampling
//   Picking and painting
#include "ui/curve_lane_logic.h"

#include <algorithm>
#include <cmath>

#include "document/event.h"

// ---------------------------------------------------------------------------
// Sampling
// ---------------------------------------------------------------------------

CurveLaneSteps CurveLaneStepsFor(float a, float b) {
    CurveLaneSteps steps;
    const float width = b - a;
    if (!(width > 0) || !std::isfinite(width)) return steps;
    steps.step = std::floor(width / 120.0f);
    if (steps.step < 3) steps.step = 2;
    steps.count = static_cast<int>(std::floor(width / steps.step));
    return steps;
}

float CurveLaneValue(const Curve256& curve, float x, float x0, float x1, float scale, float offset) {
    float u = (x - x0) / (x1 - x0) * 255.0f;
    if (!std::isfinite(u)) u = 0;
    const int i = std::clamp(static_cast<int>(std::floor(u)), 0, 254);
    const float c = curve[size_t(i)] + (curve[size_t(i) + 1] - curve[size_t(i)]) * (u - float(i));
    const float value = c * scale + offset;
    return std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
}

// ---------------------------------------------------------------------------
// Picking and painting
// ---------------------------------------------------------------------------

int LowestEventAt(const std::vector<Event>& events, float t) {
    for (size_t i = 0; i < events.size(); ++i) {
        const EventSpan s = SpanOfEvent(events[i]);
        if (t >= s.start && t <= s.end) return int(i);
    }
    return -1;
}

float LaneStrokeValue(float y, float laneTop, float laneHeight) {
    if (!(laneHeight > 0)) return -1;
    return std::clamp(1.0f - (y - laneTop) / laneHeight, 0.0f, 1.0f);
}
