// curve_lane_logic.h — the weight and intensity lanes' plain rules: how a
// curve is sampled across an event's span and which event a click takes.
// The painting stroke itself is an edit (operations/curve_strokes.h).
//
// Index
//   CurveLaneSteps / CurveLaneStepsFor     the columns a curve is drawn in
//   CurveLaneValue                         the displayed value at an x
//   LowestEventAt                          what a click takes
//   LaneStrokeValue                        the painted value under the mouse
//
// Interface thread.
#pragma once

#include <vector>

#include "document/curve.h"

struct Event;

struct CurveLaneSteps {
    float step = 0;  // points
    int count = 0;   // 0: nothing to draw
};
// For the visible part a .. b of a span: floor((b − a) / 120) points, or 2
// when that is below 3; count = floor((b − a) / step).
CurveLaneSteps CurveLaneStepsFor(float a, float b);

// clamp(c × scale + offset, 0, 1) where c interpolates the curve at
// u = (x − x0) / (x1 − x0) × 255.
float CurveLaneValue(const Curve256& curve, float x, float x0, float x1, float scale, float offset);

// The lowest index whose span holds t (a click in a lane without painting); -1.
int LowestEventAt(const std::vector<Event>& events, float t);

// The value a stroke paints with the mouse at y over a lane whose top is
// `laneTop` and height `laneHeight`: 1 at the top, 0 at the bottom, clamped;
// −1 for a lane with no height.
float LaneStrokeValue(float y, float laneTop, float laneHeight);
