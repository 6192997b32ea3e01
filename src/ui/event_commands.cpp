// event_commands.cpp — the edit commands on the selected events.
//
// Index
//   Helpers              the valid selected indices, the frame rate
//   Clipboard            CopySelectedEvents, PasteEventClipboard
//   NudgeSelection
//   Flags                ToggleSelectionMuted, ToggleSelectionLocked
//   Groups               GroupSelection, UngroupSelection
//   SelectAllEvents / CreateEventAtPlayhead
#include "playback/transport.h"
#include "ui/event_commands.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "document/curve.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/event_edits.h"
#include "operations/event_voices.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "ui/events_list_logic.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

// Ascending; indices the event list no longer holds are left out.
std::vector<int> ValidSelection(const AppState& app, const Project& project) {
    std::vector<int> out;
    for (int i : app.selectedEvents)
        if (i >= 0 && size_t(i) < project.events.size()) out.push_back(i);
    return out;
}

// The frame rate the timeline steps by.
float StepFps(const Project& project) { return project.fps > 0 ? project.fps : 25.0f; }

}  // namespace

// ---------------------------------------------------------------------------
// Clipboard
// ---------------------------------------------------------------------------

void CopySelectedEvents(const Project& project, const AppState& app, EventClipboard& clipboard) {
    const std::vector<int> selected = ValidSelection(app, project);
    if (selected.empty()) return;
    EventClipboard copy;
    std::vector<int> slot(project.events.size(), -1);
    copy.earliestTime = project.events[size_t(selected.front())].time;
    for (int i : selected) {
        slot[size_t(i)] = int(copy.events.size());
        copy.events.push_back(project.events[size_t(i)]);
        copy.earliestTime = std::min(copy.earliestTime, project.events[size_t(i)].time);
    }
    for (const RenderResult& r : project.results) {
        if (r.eventIdx < 0 || size_t(r.eventIdx) >= slot.size() || slot[size_t(r.eventIdx)] < 0) continue;
        copy.results.push_back(r);
        copy.results.back().eventIdx = slot[size_t(r.eventIdx)];
    }
    clipboard = std::move(copy);
}

std::vector<int> PasteEventClipboard(const DocumentContext& ctx, const EventClipboard& clipboard) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (clipboard.events.empty() || EditRefused(ctx, "Paste") || !PushUndoSnapshot(ctx)) return {};
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
    SettleTransport(ctx);
    return pasted;
}

// ---------------------------------------------------------------------------
// NudgeSelection
// ---------------------------------------------------------------------------

bool NudgeSelection(const DocumentContext& ctx, int frames, double guiTime) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const float fps = StepFps(project);
    StopPlayback(app, *ctx.engine, nullptr);
    const std::vector<int> selected = ValidSelection(app, project);
    if (selected.empty()) {
        AdvanceTimeByFrames(app.currentTime, fps, project.totalDuration, frames);
        SeekTransport(app, *ctx.engine, nullptr, app.currentTime);
        return true;
    }
    if (EditRefused(ctx, "Nudge")) return false;
    if (guiTime - app.lastNudgeTime > kNudgeBurstSeconds && !PushUndoSnapshot(ctx)) return false;
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
    app.modified = true;
    if (app.selectedEvent >= 0 && size_t(app.selectedEvent) < project.events.size())
        app.currentTime = project.events[size_t(app.selectedEvent)].time;
    SeekTransport(app, *ctx.engine, nullptr, app.currentTime);
    return true;
}

// ---------------------------------------------------------------------------
// Flags
// ---------------------------------------------------------------------------

namespace {

// Sets the flag on every selected event when any lacks it, else clears it
// on all; one undo step. False without a selection or when refused.
bool ToggleSelectionFlag(const DocumentContext& ctx, bool Event::*flag, const char* what) {
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(*ctx.app, project);
    if (selected.empty() || EditRefused(ctx, what) || !PushUndoSnapshot(ctx)) return false;
    const bool anyOff =
        std::any_of(selected.begin(), selected.end(), [&](int i) { return !(project.events[size_t(i)].*flag); });
    for (int i : selected) project.events[size_t(i)].*flag = anyOff;
    return true;
}

}  // namespace

bool ToggleSelectionMuted(const DocumentContext& ctx) {
    if (!ToggleSelectionFlag(ctx, &Event::muted, "Mute")) return false;
    // The voices take the events' mute and their levels from the one sync.
    SyncVoicesWithResults(ctx);
    return true;
}

bool ToggleSelectionLocked(const DocumentContext& ctx) { return ToggleSelectionFlag(ctx, &Event::locked, "Lock"); }

// ---------------------------------------------------------------------------
// Groups
// ---------------------------------------------------------------------------

bool GroupSelection(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(app, project);
    if (selected.empty() || EditRefused(ctx, "Group") || !PushUndoSnapshot(ctx)) return false;
    std::set<std::string, std::less<>> used;
    for (const Event& e : project.events)
        if (e.folder[0] != '\0') used.emplace(TextFieldView(e.folder));
    std::string name;
    for (int n = 1;; ++n) {
        char text[32];
        std::snprintf(text, sizeof text, "Group %d", n);
        if (!used.count(std::string_view(text))) {
            name = text;
            break;
        }
    }
    for (int i : selected) CopyTextField(project.events[size_t(i)].folder, name);
    app.linkedGroups.insert(name);
    // The events list shows the new folder open, its name ready to be typed.
    app.collapsedFolders.erase(name);
    BeginFolderRename(app, name);
    return true;
}

bool UngroupSelection(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(app, project);
    if (selected.empty() || EditRefused(ctx, "Ungroup") || !PushUndoSnapshot(ctx)) return false;
    std::set<std::string> left;
    for (int i : selected) {
        left.emplace(TextFieldView(project.events[size_t(i)].folder));
        project.events[size_t(i)].folder[0] = '\0';
    }
    for (const Event& e : project.events) left.erase(std::string(TextFieldView(e.folder)));
    for (const std::string& name : left) app.linkedGroups.erase(name);
    return true;
}

// ---------------------------------------------------------------------------
// SelectAllEvents / CreateEventAtPlayhead
// ---------------------------------------------------------------------------

void SelectAllEvents(AppState& app, const Project& project) {
    if (project.events.empty()) return;
    const int anchor = app.selectedEvent >= 0 && size_t(app.selectedEvent) < project.events.size() ? app.selectedEvent : 0;
    app.selectedEvents.clear();
    for (int i = 0; i < int(project.events.size()); ++i) app.selectedEvents.insert(i);
    app.selectedEvent = anchor;
    app.selectionChanged = true;
}

int CreateEventAtPlayhead(const DocumentContext& ctx, int shape) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (shape < kShapeSpot || shape > kShapeFill || EditRefused(ctx, "New event") || !PushUndoSnapshot(ctx))
        return -1;
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
    SelectEvent(app, index);
    return index;
}
