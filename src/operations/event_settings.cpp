// event_settings.cpp — one event's settings, or one setting over a
// selection, each as one edit.
//
// Index
//   Helpers
//   Scale tune and bus
//   Links, pins, filters and the trace
//   Keywords
//   Lock and re-render
//   Gesture steps
#include "operations/event_settings.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/edit_steps.h"
#include "operations/voice_sync.h"
#include "picture/trace_records.h"
#include "picture/trace_sampling.h"
#include "render/track_assignment.h"

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

namespace {

// A gesture's step acts only on a valid event while the document may change.
Event* StepEvent(const DocumentContext& ctx, int event) {
    if (!ValidEvent(*ctx.project, event) || !DocumentMayChange(*ctx.app)) return nullptr;
    return &ctx.project->events[size_t(event)];
}

void TakeGroup(Project& project, int e, int group) {
    Event& ev = project.events[size_t(e)];
    const bool own = group == ShapeMixGroup(ev.shape);
    ev.groupOverride = own ? -1 : group;
    ev.stereo = project.groups[group].stereo;
    for (RenderResult& r : project.results)
        if (r.eventIdx == e) {
            r.group = group;
            r.stereo = ev.stereo;
        }
}

float PitchOfSemitones(float semitones) { return std::clamp(semitones / 24.0f, 0.0f, 1.0f); }

}  // namespace

// ---------------------------------------------------------------------------
// Scale tune and bus
// ---------------------------------------------------------------------------

bool SetScaleTune(const DocumentContext& ctx, const std::vector<int>& events, int value) {
    Project& project = *ctx.project;
    const std::vector<int> valid = ValidOnly(project, events);
    if (valid.empty() || !BeginEdit(ctx, "Scale tune")) return false;
    for (int e : valid) project.events[size_t(e)].scaleTuneOverride = value;
    FinishEdit(ctx, EditReach::Document);
    // The voices' tuning needs the scale analysis: the rebuild's task brings them along.
    if (!project.results.empty()) {
        if (ctx.app->busyTask.busy.load())
            ctx.app->deferredRebuild.store(true);
        else
            RebuildCacheAsync(ctx, "Updating scale tuning...", false);
    }
    return true;
}

std::vector<int> BusEvents(const Project& project, const std::vector<int>& selected) {
    std::vector<int> out;
    for (int e : ValidOnly(project, selected))
        if (ShapeGroupCanChange(project.events[size_t(e)].shape)) out.push_back(e);
    return out;
}

bool ToggleEventBus(const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || !ShapeGroupCanChange(project.events[size_t(event)].shape) ||
        !BeginEdit(ctx, "Bus"))
        return false;
    const int group = EventMixGroup(project.events[size_t(event)]) == 2 ? 1 : 2;
    TakeGroup(project, event, group);
    AssignTracks(project);
    FinishEdit(ctx, EditReach::Voices);
    return true;
}

bool ToggleBatchBus(const DocumentContext& ctx, const std::vector<int>& selected) {
    Project& project = *ctx.project;
    const std::vector<int> valid = BusEvents(project, selected);
    if (valid.empty() || !BeginEdit(ctx, "Bus")) return false;
    const bool allOnB =
        std::all_of(valid.begin(), valid.end(), [&](int e) { return EventMixGroup(project.events[size_t(e)]) == 2; });
    const int group = allOnB ? 1 : 2;
    // −1 is "no override" everywhere else (a 0 would read as group 0).
    for (int e : valid) {
        TakeGroup(project, e, group);
        project.events[size_t(e)].locked = false;
    }
    AssignTracks(project);
    FinishEdit(ctx, EditReach::Voices);
    return true;
}

// ---------------------------------------------------------------------------
// Links, pins, filters and the trace
// ---------------------------------------------------------------------------

bool LinkEventToScene(const DocumentContext& ctx, int event, int scene) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return false;
    if (scene >= int(project.scenes.size())) return false;
    Event& ev = project.events[size_t(event)];
    const int target = scene < 0 ? -1 : scene;
    if (ev.sceneLink == target || !BeginEdit(ctx, "Scene link")) return false;
    ev.sceneLink = target;
    if (target >= 0) ev.locked = ev.shape == kShapeBed;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool UnpinAllFiles(const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || !BeginEdit(ctx, "Unpin")) return false;
    Event& ev = project.events[size_t(event)];
    ev.pinnedFiles.clear();
    ev.pinnedFileIds.clear();
    ev.hasPinnedFiles = false;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool ClearLibFilter(const DocumentContext& ctx, int event) { return SetEventLibFilter(ctx, event, ""); }

bool SetEventLibFilter(const DocumentContext& ctx, int event, std::string_view filter) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || TextFieldView(project.events[size_t(event)].libFilter) == filter) return false;
    if (!BeginEdit(ctx, "Palette filter")) return false;
    CopyTextField(project.events[size_t(event)].libFilter, filter);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool TraceSampleable(const OpticalTrace& trace) { return trace.present.load() && trace.frames.size() > 1; }

bool TraceToCurves(const DocumentContext& ctx, int event, const OpticalTrace& trace) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || !TraceSampleable(trace)) return false;
    if (!BeginEdit(ctx, "Trace to curves")) return false;
    Event& ev = project.events[size_t(event)];
    for (int i = 0; i < 256; ++i) {
        const float t = ev.time + float(i) * ev.duration / 255.0f;
        ev.intensity[size_t(i)] = std::clamp(2.0f * SampleTraceComposite(trace, t), 0.05f, 0.95f);
        ev.weight[size_t(i)] = std::clamp(0.3f + 0.5f * SampleTraceFeature(trace, t), 0.05f, 0.95f);
    }
    ev.locked = false;
    // A Bed's voices read its intensity as their volume.
    FinishEdit(ctx, EditReach::Voices);
    return true;
}

// ---------------------------------------------------------------------------
// Keywords
// ---------------------------------------------------------------------------

void BeginKeywordEdit(KeywordEditSession& session, const Project& project, int event) {
    session = KeywordEditSession{};
    if (!ValidEvent(project, event)) return;
    session.event = event;
    session.before.assign(TextFieldView(project.events[size_t(event)].keywords));
}

bool NoteKeywordEdit(KeywordEditSession& session, const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    if (session.event != event || !ValidEvent(project, event)) return true;
    Event& ev = project.events[size_t(event)];
    const std::string now(TextFieldView(ev.keywords));
    if (session.pushed) {
        // Later changes of the same session belong to its one undo step.
        if (now != session.before) ctx.app->modified = true;
        return true;
    }
    if (now == session.before) return true;
    // The field wrote in place: the snapshot must hold the text as it was,
    // so put it back for the moment of the push.
    CopyTextField(ev.keywords, session.before);
    if (!BeginEdit(ctx, "Keywords")) return false;
    CopyTextField(ev.keywords, now);
    ev.locked = false;
    session.pushed = true;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool SetBatchKeywords(const DocumentContext& ctx, const std::vector<int>& selected, std::string_view text) {
    Project& project = *ctx.project;
    const std::vector<int> valid = ValidOnly(project, selected);
    if (valid.empty() || !BeginEdit(ctx, "Keywords")) return false;
    for (int e : valid) {
        CopyTextField(project.events[size_t(e)].keywords, text);
        project.events[size_t(e)].locked = false;
    }
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool SetBatchLibFilter(const DocumentContext& ctx, const std::vector<int>& selected, std::string_view filter) {
    Project& project = *ctx.project;
    std::vector<int> valid;
    for (int e : ValidOnly(project, selected))
        if (project.events[size_t(e)].shape != kShapeClip) valid.push_back(e);
    if (valid.empty() || !BeginEdit(ctx, "Palette filter")) return false;
    for (int e : valid) CopyTextField(project.events[size_t(e)].libFilter, filter);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

// ---------------------------------------------------------------------------
// Lock and re-render
// ---------------------------------------------------------------------------

bool ToggleEventLock(const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return false;
    const int shape = project.events[size_t(event)].shape;
    if (shape == kShapeClip || shape == kShapeBed || !BeginEdit(ctx, "Lock")) return false;
    Event& ev = project.events[size_t(event)];
    ev.locked = !ev.locked;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool RequestEventRerender(const DocumentContext& ctx, int event) {
    if (!ValidEvent(*ctx.project, event) || !BeginEdit(ctx, "Re-Render")) return false;
    ctx.app->renderRequestKind = 3;
    ctx.app->renderRequestIndex = event;
    // The render's own job brings the voices along.
    FinishEdit(ctx, EditReach::Document);
    return true;
}

// ---------------------------------------------------------------------------
// Gesture steps
// ---------------------------------------------------------------------------

bool SetEventPitch(const DocumentContext& ctx, int event, float semitones) {
    return SetBatchPitch(ctx, {event}, semitones);
}

bool SetBatchPitch(const DocumentContext& ctx, const std::vector<int>& events, float semitones) {
    bool any = false;
    for (int e : events)
        if (Event* ev = StepEvent(ctx, e)) {
            ev->pitchVariation = PitchOfSemitones(semitones);
            ev->locked = false;
            any = true;
        }
    if (any) FinishEdit(ctx, EditReach::Document);
    return any;
}

bool SetFillLayers(const DocumentContext& ctx, int event, int layers) {
    Event* ev = StepEvent(ctx, event);
    if (!ev) return false;
    ev->fillLayers = std::clamp(layers, 1, 24);
    ev->locked = false;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool SetSceneCrossfade(const DocumentContext& ctx, int event, int frames) {
    Event* ev = StepEvent(ctx, event);
    if (!ev) return false;
    ev->sceneCrossfade = std::clamp(frames, 0, 120);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool SetWeightOffset(const DocumentContext& ctx, int event, float offset) {
    Event* ev = StepEvent(ctx, event);
    if (!ev) return false;
    ev->weightOffset = std::clamp(offset, -1.0f, 1.0f);
    ev->locked = false;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool SetIntensityScale(const DocumentContext& ctx, int event, float scale) {
    Event* ev = StepEvent(ctx, event);
    if (!ev) return false;
    ev->intensityScale = std::clamp(scale, 0.0f, 2.0f);
    ev->locked = false;
    // The voices scale their intensity curve by it.
    FinishEdit(ctx, EditReach::Voices);
    return true;
}

bool SetSyncMarker(const DocumentContext& ctx, int event, float offset) {
    Event* ev = StepEvent(ctx, event);
    if (!ev) return false;
    ev->syncOffset = std::clamp(offset, 0.0f, std::max(ev->duration, 0.0f));
    if (ev->shape != kShapeSpot) ResetIntensityToSync(*ev);
    FinishEdit(ctx, EditReach::Voices);
    return true;
}
