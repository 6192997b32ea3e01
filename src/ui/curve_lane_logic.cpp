// curve_lane_logic.cpp — sampling the curve lanes and painting strokes.
//
// Index
//   Sampling
//   Picking
//   Strokes
#include "ui/curve_lane_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/event.h"
#include "document/project.h"
#include "operations/edit_steps.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/undo.h"
#include "ui/event_lane_logic.h"

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

Curve256& LaneCurve(Event& event, int lane) { return lane == kCurveLaneIntensity ? event.intensity : event.weight; }

// ---------------------------------------------------------------------------
// Picking
// ---------------------------------------------------------------------------

namespace {

bool Holds(const Event& e, float t) {
    const EventSpan s = SpanOfEvent(e);
    return t >= s.start && t <= s.end;
}

}  // namespace

int LowestEventAt(const std::vector<Event>& events, float t) {
    for (size_t i = 0; i < events.size(); ++i)
        if (Holds(events[i], t)) return int(i);
    return -1;
}

int PaintableEventAt(const AppState& app, const std::vector<Event>& events, float t) {
    for (int index : app.selectedEvents) {
        if (index < 0 || size_t(index) >= events.size()) continue;
        const Event& e = events[size_t(index)];
        if (e.shape == kShapeClip || e.shape == kShapeBed) continue;
        if (Holds(e, t)) return index;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Strokes
// ---------------------------------------------------------------------------

namespace {

void ResetStroke(AppState& app) {
    app.curvePainting = false;
    app.paintLastU = -1;
    app.paintLastV = 0;
    app.paintMinIndex = 256;
    app.paintMaxIndex = -1;
    app.paintEvent = -1;
    app.paintLane = -1;
    app.paintAbandoned = false;
    app.paintFromInspector = false;
}

// The rest of the press paints nothing; the release smooths nothing.
void AbandonStroke(AppState& app, const char* why) {
    std::printf("[UI] curve stroke ended without writing: %s\n", why);
    std::fflush(stdout);
    const int lane = app.paintLane;
    ResetStroke(app);
    app.curvePainting = true;
    app.paintLane = lane;
    app.paintAbandoned = true;
}

}  // namespace

void BeginCurveStroke(AppState& app, int lane) {
    ResetStroke(app);
    app.curvePainting = true;
    app.paintLane = lane;
}

bool CurveStrokeStillValid(const AppState& app, const Project& project) {
    return app.paintEvent >= 0 && size_t(app.paintEvent) < project.events.size() &&
           app.undoHistory.generation == app.paintGeneration && project.events.size() == app.paintEventCount;
}

bool PaintCurveStroke(const DocumentContext& ctx, const TimelineView& view, float x, float y, float t,
                      float laneTop, float laneHeight) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (!app.curvePainting || app.paintAbandoned || !(laneHeight > 0)) return false;
    if (app.paintEvent >= 0 && !CurveStrokeStillValid(app, project)) {
        AbandonStroke(app, "the document changed under it");
        return false;
    }
    int index = app.paintEvent;
    if (index < 0) {
        index = PaintableEventAt(app, project.events, t);
        if (index < 0) return false;
        const EventSpan span = SpanOfEvent(project.events[size_t(index)]);
        if (MapRange(view, span.end) - MapRange(view, span.start) < 2) return false;
        // Painting is an edit: one undo step for the whole stroke, taken
        // before its first dab (refused while an export or a task runs).
        if (!BeginEdit(ctx, "Curve paint")) {
            AbandonStroke(app, "the document may not change now");
            return false;
        }
        app.paintEvent = index;
        app.paintGeneration = app.undoHistory.generation;
        app.paintEventCount = project.events.size();
        project.events[size_t(index)].locked = false;
    }
    Event& event = project.events[size_t(index)];
    const EventSpan span = SpanOfEvent(event);
    const float xs = MapRange(view, span.start);
    const float width = MapRange(view, span.end) - xs;
    if (!(width >= 2)) return false;
    const float u = std::clamp((x - xs) / width, 0.0f, 1.0f);
    const float v = std::clamp(1.0f - (y - laneTop) / laneHeight, 0.0f, 1.0f);
    PaintCurveSegment(LaneCurve(event, app.paintLane), u, v, app.paintLastU, app.paintLastV, app.paintMinIndex,
                      app.paintMaxIndex);
    app.paintLastU = u;
    app.paintLastV = v;
    return true;
}

void EndCurveStroke(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (app.curvePainting && !app.paintAbandoned && CurveStrokeStillValid(app, project) &&
        app.paintMinIndex <= app.paintMaxIndex) {
        SmoothCurveRange(LaneCurve(project.events[size_t(app.paintEvent)], app.paintLane), app.paintMinIndex,
                         app.paintMaxIndex);
    }
    ResetStroke(app);
}
