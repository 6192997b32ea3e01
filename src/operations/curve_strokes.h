// curve_strokes.h — painting an event's weight or intensity curve by hand:
// the timeline's curve lanes and the events tab's curve editor.
//
// Index
//   kCurveLaneWeight / kCurveLaneIntensity / LaneCurve   which curve a lane paints
//   PaintableEventAt                                      what a lane stroke takes
//   BeginCurveStroke / PaintCurveStroke / EndCurveStroke  the timeline lane's stroke
//   CurveStrokeStillValid                                 the document it began on
//   PaintInspectorCurveStroke / EndInspectorCurveStroke   the curve editor's stroke
//
// The stroke state lives in the app state (curvePainting, paintEvent,
// paintLane, ...). A stroke is one edit: BeginEdit at its first dab (refused
// while an export or a task owns the document), the event unlocked so that
// the next render leaves the painting alone, and FinishEdit on each dab and
// on the release's smoothing (the curves reach the next render, no voice).
// It keeps its event's index and lane; when the document it began on is
// replaced or changes shape under it (an undo, a new event, a deletion) it
// stops writing and its release smooths nothing. Interface thread.
#pragma once

#include <vector>

#include "document/curve.h"
#include "operations/document_context.h"

struct AppState;
struct Event;
struct Project;

constexpr int kCurveLaneWeight = 0;
constexpr int kCurveLaneIntensity = 1;
Curve256& LaneCurve(Event& event, int lane);

// The first selected event, in index order, that is neither a Clip nor a Bed
// and whose span holds t; -1.
int PaintableEventAt(const AppState& app, const std::vector<Event>& events, float t);

// A stroke's first frame in `lane`: active, nothing painted yet.
void BeginCurveStroke(AppState& app, int lane);

// One dab of the lane's stroke at time t with the painted value (0 bottom,
// 1 top, clamped), the lane showing `pointsPerSecond` points a second. The
// first dab that finds a paintable event at least 2 points wide binds the
// stroke to it (the edit begins, the event unlocked); later dabs paint the
// same event's curve, t clamped to its span. True when it painted.
bool PaintCurveStroke(const DocumentContext& ctx, float t, float value, float pointsPerSecond);

// The release: smooths the painted range when the stroke painted and is
// still valid, then resets the stroke.
void EndCurveStroke(const DocumentContext& ctx);

// Whether the stroke's event is still the one it began painting.
bool CurveStrokeStillValid(const AppState& app, const Project& project);

// One dab of the curve editor's stroke on the event's lane curve at x (0..1
// across the event) with `value` (both clamped). A stroke begun on another
// event or lane is dropped unsmoothed and this one begins (its edit, the
// event unlocked). True when it painted.
bool PaintInspectorCurveStroke(const DocumentContext& ctx, int event, int lane, float x, float value);
// The release of the editor's stroke on that event and lane; another
// curve's stroke goes on.
void EndInspectorCurveStroke(const DocumentContext& ctx, int event, int lane);
