// event_drags.cpp — the end drag and the move of events, step by step.
//
// Index
//   Resize rule
//   Move rules
//   The end drag
//   The move
//   EndEventDrag
#include "operations/event_drags.h"

#include <algorithm>
#include <cmath>

#include "document/event.h"
#include "document/project.h"
#include "library/file_caches.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/edit_steps.h"
#include "operations/event_edits.h"
#include "operations/event_voices.h"
#include "operations/selection.h"
#include "operations/voice_sync.h"

// ---------------------------------------------------------------------------
// Resize rule
// ---------------------------------------------------------------------------

ResizeLimits ResizeEndLimits(const Event& event, float total, float fps, float sourceLength) {
    const float start = SpanOfEvent(event).start;
    ResizeLimits limits;
    limits.low = start + 1.0f / fps;
    limits.high = total;
    if (event.shape == kShapeClip && sourceLength > 0 && std::isfinite(sourceLength))
        limits.high = std::min(limits.high, start + (sourceLength - event.clipSourceOffset));
    if (limits.high < limits.low) limits.high = limits.low;
    return limits;
}

float ResizeEventEnd(Event& event, float mouseTime, const ResizeLimits& limits, float fps) {
    const float start = SpanOfEvent(event).start;
    if (!std::isfinite(mouseTime)) mouseTime = limits.low;
    float end = RoundToFrame(std::clamp(mouseTime, limits.low, limits.high), fps);
    // Rounding must not carry a Clip past the end of its source.
    if (end > limits.high) end = std::floor(limits.high * fps) / fps;
    if (end < limits.low) end = limits.low;
    event.locked = false;
    const float oldDuration = event.duration;
    if (event.shape != kShapeClip && oldDuration > 0.001f) {
        const float ratio = std::clamp(event.syncOffset / oldDuration, 0.0f, 1.0f);
        if (ratio < 0.999f) {
            // The sync point stays on its picture and keeps its place in the
            // span (the curves are drawn over the span), so the lead-in grows
            // with the span and the end lands under the mouse. Scaling the
            // lead-in with the start held would move the end away from it.
            event.duration = std::max((end - event.time) / (1.0f - ratio), 1.0f / fps);
            event.syncOffset = ratio * event.duration;
            return SpanOfEvent(event).end;
        }
    }
    event.duration = end - start;
    event.syncOffset = std::clamp(event.syncOffset, 0.0f, event.duration);
    if (event.shape == kShapeClip) event.clipSourceDuration = event.duration;
    return end;
}

float ClipSourceLength(const Event& event) {
    if (event.shape != kShapeClip || event.pinnedFile[0] == '\0') return 0;
    return GetAudioFileInfo(event.pinnedFile).duration;
}

// ---------------------------------------------------------------------------
// Move rules
// ---------------------------------------------------------------------------

float LimitMoveDelta(const std::vector<Event>& events, const std::set<int>& selected, float delta, float total) {
    float lowest = -1e30f, highest = 1e30f;
    bool any = false;
    for (int index : selected) {
        if (index < 0 || size_t(index) >= events.size()) continue;
        const float t = events[size_t(index)].time;
        lowest = std::max(lowest, -t);
        highest = std::min(highest, total - t);
        any = true;
    }
    if (!any || lowest > highest || !std::isfinite(delta)) return 0;
    return std::clamp(delta, lowest, highest);
}

bool SelectionLinkedToScene(const std::vector<Event>& events, const std::set<int>& selected) {
    for (int index : selected)
        if (index >= 0 && size_t(index) < events.size() && events[size_t(index)].sceneLink >= 0) return true;
    return false;
}

bool MoveSelectedEvents(const DocumentContext& ctx, float delta) {
    EventMoves moves;
    moves.seconds.assign(ctx.project->events.size(), 0.0f);
    for (int index : ctx.app->selectedEvents)
        if (index >= 0 && size_t(index) < moves.seconds.size()) moves.seconds[size_t(index)] = delta;
    moves.assignTracks = true;
    return MoveEventsWithVoices(ctx, moves);
}

// ---------------------------------------------------------------------------
// The end drag
// ---------------------------------------------------------------------------

bool BeginEventResize(const DocumentContext& ctx, int event) {
    if (!ValidEvent(*ctx.project, event) || !BeginEdit(ctx, "Resize")) return false;
    ctx.app->resizingEvent = event;
    SelectEvent(*ctx.app, event);
    return true;
}

EventResizeStep ResizeEventStep(const DocumentContext& ctx, int event, float mouseTime) {
    EventResizeStep step;
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return step;
    Event& e = project.events[size_t(event)];
    if (e.sceneLink >= 0) {
        step.linkedToScene = true;
        return step;
    }
    if (EditRefused(ctx, "Resize")) return step;
    const float fps = TimelineFps(project);
    const ResizeLimits limits = ResizeEndLimits(e, project.totalDuration, fps, ClipSourceLength(e));
    step.end = ResizeEventEnd(e, mouseTime, limits, fps);
    step.done = true;
    // The event alone changed; no voice reads its span (a Bed's layers
    // follow through the Bed job once the button is up).
    FinishEdit(ctx, EditReach::Document);
    return step;
}

// ---------------------------------------------------------------------------
// The move
// ---------------------------------------------------------------------------

bool BeginEventMove(const DocumentContext& ctx, int primary) {
    if (!ValidEvent(*ctx.project, primary) || !BeginEdit(ctx, "Moving events")) return false;
    AppState& app = *ctx.app;
    app.moveGrabOffset = app.pressTime - ctx.project->events[size_t(primary)].time;
    app.movingSelection = true;
    app.moveStarted = false;
    return true;
}

EventMoveStep MoveSelectionStep(const DocumentContext& ctx, float target) {
    EventMoveStep step;
    const Project& project = *ctx.project;
    const AppState& app = *ctx.app;
    if (SelectionLinkedToScene(project.events, app.selectedEvents)) {
        step.linkedToScene = true;
        return step;
    }
    const int primary = app.selectedEvent;
    if (!ValidEvent(project, primary)) return step;
    const float delta = LimitMoveDelta(project.events, app.selectedEvents, target - project.events[size_t(primary)].time,
                                       project.totalDuration);
    step.done = true;
    if (std::fabs(delta) <= 0.0001f) return step;
    if (!MoveSelectedEvents(ctx, delta)) {
        step.done = false;
        return step;
    }
    step.delta = delta;
    // The voices' start times moved with their layers; the tracks reach
    // them at the release (EndEventDrag).
    FinishEdit(ctx, EditReach::Document);
    return step;
}

// ---------------------------------------------------------------------------
// EndEventDrag
// ---------------------------------------------------------------------------

void EndEventDrag(const DocumentContext& ctx, bool moved) {
    AppState& app = *ctx.app;
    if (app.movingSelection && moved && ctx.project->rendered) SyncVoicesWithResults(ctx);
    app.resizingEvent = -1;
    app.movingSelection = false;
    app.moveStarted = false;
}
