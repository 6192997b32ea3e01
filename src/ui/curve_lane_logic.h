// curve_lane_logic.h — the weight and intensity lanes' plain rules: how a
// curve is sampled across an event's span, which event a click or a stroke
// takes, and the stroke itself from its first painted point to its release.
//
// Index
//   CurveLaneSteps / CurveLaneStepsFor     the columns a curve is drawn in
//   CurveLaneValue                         the displayed value at an x
//   kCurveLaneWeight / kCurveLaneIntensity / LaneCurve
//   LowestEventAt / PaintableEventAt       what a click or a stroke takes
//   BeginCurveStroke / PaintCurveStroke / EndCurveStroke / CurveStrokeStillValid
//
// The stroke state lives in the app state (curvePainting, paintEvent,
// paintLane, ...). A stroke takes one undo step when it first paints, unlocks
// its event, and keeps the event's index and lane; when the document it began
// on is replaced or changes shape under it (an undo, a new event, a deletion)
// it stops writing and its release smooths nothing. Interface thread.
#pragma once

#include <vector>

#include "document/curve.h"
#include "ui/timeline_logic.h"

struct AppState;
struct DocumentContext;
struct Event;
struct Project;

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

constexpr int kCurveLaneWeight = 0;
constexpr int kCurveLaneIntensity = 1;
Curve256& LaneCurve(Event& event, int lane);

// The lowest index whose span holds t (a click in a lane without painting); -1.
int LowestEventAt(const std::vector<Event>& events, float t);
// The first selected event, in index order, that is neither a Clip nor a Bed
// and whose span holds t; -1.
int PaintableEventAt(const AppState& app, const std::vector<Event>& events, float t);

// A stroke's first frame in `lane`: active, nothing painted yet.
void BeginCurveStroke(AppState& app, int lane);

// One frame of the stroke with the mouse at (x, y) over a lane whose top is
// `laneTop` and height `laneHeight`, t the time under the mouse. The first
// frame that finds a paintable event binds the stroke to it (undo step,
// unlocked); later frames paint the same event's curve, u and v clamped to
// its span and the lane. True when it painted.
bool PaintCurveStroke(const DocumentContext& ctx, const TimelineView& view, float x, float y, float t,
                      float laneTop, float laneHeight);

// The release: smooths the painted range when the stroke painted and is
// still valid, then resets the stroke.
void EndCurveStroke(const DocumentContext& ctx);

// Whether the stroke's event is still the one it began painting.
bool CurveStrokeStillValid(const AppState& app, const Project& project);
