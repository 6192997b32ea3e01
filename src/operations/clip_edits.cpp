// clip_edits.cpp — Clip trims and fade drags: the rules, then the drag's
// press, steps and release.
//
// Index
//   Rules
//   The press
//   The steps
//   EndClipGesture
#include "operations/clip_edits.h"

#include <algorithm>
#include <cmath>

#include "document/event.h"
#include "document/project.h"
#include "library/file_caches.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/edit_steps.h"
#include "operations/event_edits.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "render/clip_bed_events.h"
#include "render/track_assignment.h"

// ---------------------------------------------------------------------------
// Rules
// ---------------------------------------------------------------------------

float ClipFileLength(float knownLength) {
    return knownLength > 0 && std::isfinite(knownLength) ? knownLength : 300.0f;
}

namespace {

constexpr float kMinClipLength = 0.01f;
constexpr const char* kClipDrag = "Clip trim";

// The event's sync point kept where it was when it stays inside the span.
void PlaceEventOnSpan(Event& e, float start, float length) {
    const float sync = std::clamp(e.time - start, 0.0f, length);
    e.syncOffset = sync;
    e.time = start + sync;
    e.duration = length;
}

}  // namespace

bool TrimClip(Event& e, RenderResult& r, int edge, float t, float viewStart, float viewEnd, float fileLength) {
    if ((edge != 1 && edge != 2) || !std::isfinite(t)) return false;
    fileLength = ClipFileLength(fileLength);
    const float oldStart = r.startTime, oldOffset = std::max(r.sourceOffset, 0.0f);
    const float oldEnd = r.startTime + r.duration;
    const float mouse = std::clamp(t, std::min(viewStart, viewEnd), std::max(viewStart, viewEnd));
    float start = oldStart, offset = oldOffset, length = r.duration;
    if (edge == 1) {
        // The left edge stops where the source offset reaches 0 and a
        // hundredth of a second before the end.
        start = std::clamp(mouse, oldStart - oldOffset, oldEnd - kMinClipLength);
        offset = std::max(0.0f, oldOffset + (start - oldStart));
        length = oldEnd - start;
    } else {
        length = mouse - oldStart;
    }
    length = std::max(kMinClipLength, std::min(length, fileLength - offset));
    if (start == oldStart && offset == r.sourceOffset && length == r.duration) return false;
    r.startTime = start;
    r.sourceOffset = offset;
    r.duration = r.sourceDuration = length;
    e.clipSourceOffset = offset;
    e.clipSourceDuration = length;
    PlaceEventOnSpan(e, start, length);
    FitClipFadesAfterTrim(e, r);
    return true;
}

void FitClipFadesAfterTrim(Event& e, RenderResult& r) {
    const float length = r.duration;
    if (r.fadeIn + r.fadeOut <= length) return;
    r.fadeIn = std::min(length * 0.02f, 0.01f);
    r.fadeOut = std::min(length * 0.05f, 0.05f);
    e.clipFadeIn = r.fadeIn;
    e.clipFadeOut = r.fadeOut;
}

bool DragClipFade(Event& e, RenderResult& r, int kind, float t) {
    if ((kind != 1 && kind != 2) || !std::isfinite(t)) return false;
    const float length = std::max(r.duration, 0.0f);
    if (kind == 1) {
        const float fade = std::clamp(t - r.startTime, 0.0f, std::max(length - r.fadeOut, 0.0f));
        if (fade == r.fadeIn) return false;
        r.fadeIn = e.clipFadeIn = fade;
    } else {
        const float fade = std::clamp(r.startTime + length - t, 0.0f, std::max(length - r.fadeIn, 0.0f));
        if (fade == r.fadeOut) return false;
        r.fadeOut = e.clipFadeOut = fade;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The press
// ---------------------------------------------------------------------------

namespace {

// The event of a Clip layer, -1 for no such layer or no Clip's.
int ClipEventOf(const Project& project, int result) {
    if (!ValidResult(project, result)) return -1;
    const int event = project.results[size_t(result)].eventIdx;
    if (!ValidEvent(project, event)) return -1;
    return project.events[size_t(event)].shape == kShapeClip ? event : -1;
}

// The press both drags share: the checks, the undo step, the selection.
bool BeginClipDrag(const DocumentContext& ctx, ClipGesture& gesture, int result, int kind) {
    const int event = ClipEventOf(*ctx.project, result);
    if (event < 0 || (kind != 1 && kind != 2) || !BeginEdit(ctx, kClipDrag)) return false;
    gesture = ClipGesture{};
    gesture.event = event;
    SelectEvent(*ctx.app, event);
    return true;
}

}  // namespace

bool BeginClipTrim(const DocumentContext& ctx, ClipGesture& gesture, int result, int edge) {
    if (!BeginClipDrag(ctx, gesture, result, edge)) return false;
    ctx.app->trimmingResult = result;
    ctx.app->trimEdge = edge;
    // Read once: a step asks no file.
    const Event& e = ctx.project->events[size_t(gesture.event)];
    gesture.fileLength = ClipFileLength(e.pinnedFile[0] ? GetAudioFileInfo(e.pinnedFile).duration : 0);
    return true;
}

bool BeginClipFadeDrag(const DocumentContext& ctx, ClipGesture& gesture, int result, int kind) {
    if (!BeginClipDrag(ctx, gesture, result, kind)) return false;
    ctx.app->fadeDragResult = result;
    ctx.app->fadeDragKind = kind;
    return true;
}

// ---------------------------------------------------------------------------
// The steps
// ---------------------------------------------------------------------------

namespace {

// The layer a step changes and its event, while the layer still belongs to
// the event the press found; null otherwise.
RenderResult* GestureLayer(const DocumentContext& ctx, const ClipGesture& gesture, int result, Event** event) {
    Project& project = *ctx.project;
    if (!ValidResult(project, result)) return nullptr;
    RenderResult& r = project.results[size_t(result)];
    if (!ValidEvent(project, r.eventIdx) || r.eventIdx != gesture.event) return nullptr;
    *event = &project.events[size_t(r.eventIdx)];
    return &r;
}

}  // namespace

bool ClipTrimStep(const DocumentContext& ctx, ClipGesture& gesture, float t, float viewStart, float viewEnd) {
    Event* e = nullptr;
    RenderResult* r = GestureLayer(ctx, gesture, ctx.app->trimmingResult, &e);
    if (!r || EditRefused(ctx, kClipDrag)) return false;
    if (!TrimClip(*e, *r, ctx.app->trimEdge, t, viewStart, viewEnd, gesture.fileLength)) return false;
    // The whole assignment writes the record of the spans as they now are,
    // so a later repack starts from the trimmed layer where it is.
    AssignTracks(*ctx.project);
    gesture.changed = true;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool ClipFadeStep(const DocumentContext& ctx, ClipGesture& gesture, float t) {
    Event* e = nullptr;
    RenderResult* r = GestureLayer(ctx, gesture, ctx.app->fadeDragResult, &e);
    if (!r || EditRefused(ctx, kClipDrag)) return false;
    if (!DragClipFade(*e, *r, ctx.app->fadeDragKind, t)) return false;
    gesture.changed = true;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

// ---------------------------------------------------------------------------
// EndClipGesture
// ---------------------------------------------------------------------------

bool EndClipGesture(const DocumentContext& ctx, ClipGesture& gesture) {
    AppState& app = *ctx.app;
    const bool active = app.trimmingResult >= 0 || app.fadeDragResult >= 0;
    const ClipGesture ended = gesture;
    app.trimmingResult = app.fadeDragResult = -1;
    app.trimEdge = app.fadeDragKind = 0;
    gesture = ClipGesture{};
    if (!active || !ended.changed) return false;
    if (!ValidEvent(*ctx.project, ended.event) || EditRefused(ctx, kClipDrag))
        return false;
    // The layer is made again from its file region; the rebuild assigned
    // the tracks, so every voice follows, not only the Clip's.
    RebuildClipEvent(*ctx.project, ended.event);
    FinishEdit(ctx, EditReach::Voices);
    SettleTransport(ctx);
    return true;
}
