// curve_strokes.cpp — painting strokes on an event's curves.
//
// Index
//   Lanes and picking
//   Stroke state
//   The lane's stroke
//   The curve editor's stroke
#include "operations/curve_strokes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/edit_steps.h"

// ---------------------------------------------------------------------------
// Lanes and picking
// ---------------------------------------------------------------------------

Curve256& LaneCurve(Event& event, int lane) { return lane == kCurveLaneIntensity ? event.intensity : event.weight; }

int PaintableEventAt(const AppState& app, const std::vector<Event>& events, float t) {
    for (int index : app.selectedEvents) {
        if (!ValidEvent(events, index)) continue;
        const Event& e = events[size_t(index)];
        if (e.shape == kShapeClip || e.shape == kShapeBed) continue;
        const EventSpan s = SpanOfEvent(e);
        if (t >= s.start && t <= s.end) return index;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Stroke state
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
    std::printf("[Edit] curve stroke ended without writing: %s\n", why);
    std::fflush(stdout);
    const int lane = app.paintLane;
    const bool inspector = app.paintFromInspector;
    const int event = app.paintEvent;
    ResetStroke(app);
    app.curvePainting = true;
    app.paintLane = lane;
    app.paintAbandoned = true;
    // The editor's stroke stays its own, so its release still ends it.
    if (inspector) {
        app.paintFromInspector = true;
        app.paintEvent = event;
    }
}

// The stroke's edit begins on `index`: one undo step for the whole stroke,
// the event unlocked so that a render keeps what is painted. False (the
// stroke abandoned) while the document may not change.
bool BindStroke(const DocumentContext& ctx, int index) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (!BeginEdit(ctx, "Curve paint")) {
        AbandonStroke(app, "the document may not change now");
        return false;
    }
    app.paintEvent = index;
    app.paintGeneration = app.undoHistory.generation;
    app.paintEventCount = project.events.size();
    project.events[size_t(index)].locked = false;
    return true;
}

// One dab at u (0..1 across the event) and v, both clamped by the caller.
void Dab(const DocumentContext& ctx, float u, float v) {
    AppState& app = *ctx.app;
    Event& event = ctx.project->events[size_t(app.paintEvent)];
    PaintCurveSegment(LaneCurve(event, app.paintLane), u, v, app.paintLastU, app.paintLastV, app.paintMinIndex,
                      app.paintMaxIndex);
    app.paintLastU = u;
    app.paintLastV = v;
    FinishEdit(ctx, EditReach::Document);
}

bool Paints(float width, float pointsPerSecond) { return width * pointsPerSecond >= 2; }

}  // namespace

void BeginCurveStroke(AppState& app, int lane) {
    ResetStroke(app);
    app.curvePainting = true;
    app.paintLane = lane;
}

bool CurveStrokeStillValid(const AppState& app, const Project& project) {
    return ValidEvent(project, app.paintEvent) &&
           app.undoHistory.generation == app.paintGeneration && project.events.size() == app.paintEventCount;
}

void EndCurveStroke(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (app.curvePainting && !app.paintAbandoned && CurveStrokeStillValid(app, project) &&
        app.paintMinIndex <= app.paintMaxIndex) {
        SmoothCurveRange(LaneCurve(project.events[size_t(app.paintEvent)], app.paintLane), app.paintMinIndex,
                         app.paintMaxIndex);
        FinishEdit(ctx, EditReach::Document);
    }
    ResetStroke(app);
}

// ---------------------------------------------------------------------------
// The lane's stroke
// ---------------------------------------------------------------------------

bool PaintCurveStroke(const DocumentContext& ctx, float t, float value, float pointsPerSecond) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (!app.curvePainting || app.paintAbandoned || !std::isfinite(t) || !std::isfinite(value)) return false;
    if (app.paintEvent >= 0 && !CurveStrokeStillValid(app, project)) {
        AbandonStroke(app, "the document changed under it");
        return false;
    }
    if (app.paintEvent < 0) {
        const int index = PaintableEventAt(app, project.events, t);
        if (index < 0) return false;
        const EventSpan span = SpanOfEvent(project.events[size_t(index)]);
        // Narrower than 2 points the lane draws no curve of the event's own.
        if (!Paints(span.end - span.start, pointsPerSecond) || !BindStroke(ctx, index)) return false;
    }
    const EventSpan span = SpanOfEvent(project.events[size_t(app.paintEvent)]);
    const float width = span.end - span.start;
    if (!Paints(width, pointsPerSecond)) return false;
    Dab(ctx, std::clamp((t - span.start) / width, 0.0f, 1.0f), std::clamp(value, 0.0f, 1.0f));
    return true;
}

// ---------------------------------------------------------------------------
// The curve editor's stroke
// ---------------------------------------------------------------------------

namespace {

bool OwnsStroke(const AppState& app, int event, int lane) {
    return app.curvePainting && app.paintFromInspector && app.paintEvent == event && app.paintLane == lane;
}

}  // namespace

bool PaintInspectorCurveStroke(const DocumentContext& ctx, int event, int lane, float x, float value) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (!OwnsStroke(app, event, lane)) {
        if (!ValidEvent(project, event)) return false;
        // A stroke on another curve is dropped unsmoothed.
        BeginCurveStroke(app, lane);
        app.paintFromInspector = true;
        app.paintEvent = event;
        if (!BindStroke(ctx, event)) return false;
    }
    if (app.paintAbandoned) return false;
    if (!CurveStrokeStillValid(app, project)) {
        AbandonStroke(app, "the document changed under it");
        return false;
    }
    if (!std::isfinite(x) || !std::isfinite(value)) return false;
    Dab(ctx, std::clamp(x, 0.0f, 1.0f), std::clamp(value, 0.0f, 1.0f));
    return true;
}

void EndInspectorCurveStroke(const DocumentContext& ctx, int event, int lane) {
    if (OwnsStroke(*ctx.app, event, lane)) EndCurveStroke(ctx);
}
