// selection_edits.cpp — the edit commands on the selected events.
//
// Index
//   ValidSelection       the valid selected indices
//   PasteEventClipboard
//   NudgeSelection
//   Lock and hero        ToggleSelectionLocked, ToggleSelectionHero, ToggleSelectionMuted
//   Delete               DeleteEvents, DeleteSelectedEvents
//   RerenderSelection
//   CreateEventAtPlayhead
#include "operations/selection_edits.h"

#include <algorithm>
#include <functional>
#include <string>

#include "document/curve.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/edit_steps.h"
#include "operations/event_edits.h"
#include "operations/event_placement.h"
#include "operations/event_voices.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/transport.h"
#include "render/clip_bed_events.h"

// ---------------------------------------------------------------------------
// ValidSelection
// ---------------------------------------------------------------------------

std::vector<int> ValidSelection(const AppState& app, const Project& project) {
    return ValidOnly(project, std::vector<int>(app.selectedEvents.begin(), app.selectedEvents.end()));
}

// ---------------------------------------------------------------------------
// PasteEventClipboard
// ---------------------------------------------------------------------------

std::vector<int> PasteEventClipboard(const DocumentContext& ctx, const EventClipboard& clipboard) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (clipboard.events.empty() || !BeginEdit(ctx, "Paste")) return {};
    const float shift = app.currentTime - clipboard.earliestTime;

    std::vector<Event> added = clipboard.events;
    float end = project.totalDuration;
    for (Event& e : added) {
        e.time += shift;
        // A copy is placed where it was pasted; a scene link would move it
        // back onto its scene with the next scene edit.
        e.sceneLink = -1;
        e.sceneFill = false;
        end = std::max(end, e.time - e.syncOffset + e.duration);
    }
    const int first = AppendEvents(ctx, added);

    project.results.reserve(project.results.size() + clipboard.results.size());
    for (const RenderResult& source : clipboard.results) {
        RenderResult r = source;
        r.id = NextRenderResultId();  // a copy is a layer of its own
        r.eventIdx = first + source.eventIdx;
        r.startTime += shift;
        end = std::max(end, r.startTime + r.duration);
        project.results.push_back(std::move(r));
    }
    project.publishedResultCount.store(int32_t(project.results.size()));
    project.resultsRevision += 1;
    project.totalDuration = end;

    std::vector<int> pasted;
    for (int k = 0; k < int(added.size()); ++k) pasted.push_back(first + k);
    SelectEvents(app, pasted);
    // Their voices, the track assignment and one relink of every voice.
    if (!clipboard.results.empty()) RerenderEvents(ctx, pasted);
    FinishEdit(ctx, clipboard.results.empty() ? EditReach::Document : EditReach::Voices);
    SettleTransport(ctx);
    return pasted;
}

// ---------------------------------------------------------------------------
// NudgeSelection
// ---------------------------------------------------------------------------

bool NudgeSelection(const DocumentContext& ctx, int frames, double guiTime) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const float fps = TimelineFps(project);
    StopPlayback(app, *ctx.engine, nullptr);
    const std::vector<int> selected = ValidSelection(app, project);
    if (selected.empty()) {
        AdvanceTimeByFrames(app.currentTime, fps, project.totalDuration, frames);
        SeekTransport(app, *ctx.engine, nullptr, app.currentTime);
        return true;
    }
    // A burst of nudges (a held key) is one undo step.
    const bool burst = guiTime - app.lastNudgeTime <= kNudgeBurstSeconds;
    if (burst ? EditRefused(ctx, "Nudge") : !BeginEdit(ctx, "Nudge")) return false;
    app.lastNudgeTime = guiTime;

    // Each event's own move: an event at an end of the project moves less,
    // or not at all, and its layers and voices exactly as much.
    const float step = float(frames) / fps;
    EventMoves moves;
    moves.seconds.assign(project.events.size(), 0.0f);
    moves.what = "Nudge";
    for (int i : selected) {
        const float time = project.events[size_t(i)].time;
        moves.seconds[size_t(i)] = std::clamp(time + step, 0.0f, std::max(project.totalDuration, 0.0f)) - time;
    }
    if (!MoveEventsWithVoices(ctx, moves)) return false;
    // The voices moved with their layers (MoveEventsWithVoices); a move's
    // levels follow the level pass every move shares.
    FinishEdit(ctx, EditReach::Document);
    if (ValidEvent(project, app.selectedEvent))
        app.currentTime = project.events[size_t(app.selectedEvent)].time;
    SeekTransport(app, *ctx.engine, nullptr, app.currentTime);
    return true;
}

// ---------------------------------------------------------------------------
// Lock and hero
// ---------------------------------------------------------------------------

bool ToggleSelectionLocked(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(*ctx.app, project);
    if (selected.empty() || !BeginEdit(ctx, "Lock")) return false;
    const bool anyOff =
        std::any_of(selected.begin(), selected.end(), [&](int i) { return !project.events[size_t(i)].locked; });
    for (int i : selected) project.events[size_t(i)].locked = anyOff;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool ToggleSelectionHero(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(app, project);
    if (!BeginEdit(ctx, "Hero")) return false;
    const bool allHero =
        std::all_of(selected.begin(), selected.end(), [&](int i) { return project.events[size_t(i)].hero; });
    for (int i : selected) project.events[size_t(i)].hero = !allHero;
    app.renderRequestKind = 2;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool ToggleSelectionMuted(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(*ctx.app, project);
    if (selected.empty() || !BeginEdit(ctx, "Mute")) return false;
    const bool anyOff =
        std::any_of(selected.begin(), selected.end(), [&](int i) { return !project.events[size_t(i)].muted; });
    for (int i : selected) project.events[size_t(i)].muted = anyOff;
    FinishEdit(ctx, EditReach::Voices);
    return true;
}

// ---------------------------------------------------------------------------
// Delete
// ---------------------------------------------------------------------------

bool DeleteEvents(const DocumentContext& ctx, const std::vector<int>& indices) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    std::vector<int> doomed = ValidOnly(project, indices);
    std::sort(doomed.begin(), doomed.end(), std::greater<int>());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    if (doomed.empty() || !BeginEdit(ctx, "Delete")) return false;
    DeleteEventsWithVoices(ctx, doomed);  // one pass over the voices, however many go
    const int left = static_cast<int>(project.events.size());
    if (left == 0)
        app.selectedEvent = -1;
    else if (app.selectedEvent >= left)
        app.selectedEvent = left - 1;
    CheckPlaybackCacheIntegrity(ctx);
    SettleTransport(ctx);
    // The voices were dropped, renumbered and levelled by the delete itself.
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool DeleteSelectedEvents(const DocumentContext& ctx) {
    return DeleteEvents(ctx, std::vector<int>(ctx.app->selectedEvents.begin(), ctx.app->selectedEvents.end()));
}

// ---------------------------------------------------------------------------
// RerenderSelection
// ---------------------------------------------------------------------------

bool RerenderSelection(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(app, project);
    if (!BeginEdit(ctx, "Re-Render")) return false;
    std::vector<int> clips, others;
    for (int i : selected) {
        Event& e = project.events[size_t(i)];
        if (e.shape == kShapeClip) {
            RebuildClipEvent(project, i);
            const int first = FirstResultOf(project, i);
            if (first >= 0) project.events[size_t(i)].duration = project.results[size_t(first)].duration;
            clips.push_back(i);
        } else {
            e.locked = false;
            others.push_back(i);
        }
    }
    FinishEdit(ctx, clips.empty() ? EditReach::Document : EditReach::Voices);
    if (!clips.empty()) SettleTransport(ctx);
    if (!others.empty()) {
        if (selected.size() == 1) {
            app.renderRequestKind = 3;
            app.renderRequestIndex = others.front();
        } else {
            app.renderRequestList = others;
            app.renderRequestKind = 4;
        }
    }
    return !clips.empty();
}

// ---------------------------------------------------------------------------
// CreateEventAtPlayhead
// ---------------------------------------------------------------------------

int CreateEventAtPlayhead(const DocumentContext& ctx, int shape) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (shape < kShapeSpot || shape > kShapeFill || !BeginEdit(ctx, "New event")) return -1;
    // Taken before the append: the new event becomes the last one.
    const std::string keywords =
        project.events.empty() ? std::string() : std::string(TextFieldView(project.events.back().keywords));
    const int index = AddEvent(ctx, app.currentTime, shape, 0.3f);
    if (index < 0) return -1;
    Event& e = project.events[size_t(index)];
    if (!TrimmedView(keywords).empty()) CopyTextField(e.keywords, keywords);
    if (shape == kShapeFill) {
        e.intensityMode = app.lastIntensityMode;
        if (e.intensityMode == 1) FillCurve(e.intensity, 0.5f);
    }
    FinishEdit(ctx, EditReach::Document);
    SelectEvent(app, index);
    return index;
}
