// undo.cpp — document snapshots on two stacks, sharing unchanged records.
//
// Index
//   Helpers               the swap of a snapshot with the document
//   PushUndoSnapshot
//   Undo / Redo / RestoreUndoSnapshot
//   RunUndoCommand
#include "operations/undo.h"

#include <utility>

#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/event_edits.h"
#include "operations/selection.h"
#include "operations/voice_sync.h"
#include "playback/engine_voices.h"

namespace {

// Puts `incoming` in place of the document and returns what the document
// held, captured against the baseline (the document was derived from it, so
// all but its last edit stays shared). Everything is copied before the
// document changes, so running out of memory leaves the document and the
// stacks as they were; then only the event list's swap happens under the
// engine lock, and the old lists leave with the returned snapshot or are
// dropped (by the caller, unlocked). The incoming snapshot becomes the
// baseline of the next capture.
UndoSnapshot SwapIntoDocument(const DocumentContext& ctx, const UndoSnapshot& incoming, bool captureOutgoing) {
    Project& project = *ctx.project;
    UndoHistory& history = ctx.app->undoHistory;
    UndoSnapshot outgoing = captureOutgoing ? CaptureUndoSnapshot(project, &history.baseline) : UndoSnapshot{};
    std::vector<Event> events = SnapshotEvents(incoming);
    std::vector<RenderResult> results = SnapshotResults(incoming);
    std::vector<UserShape> userShapes = incoming.userShapes;
    std::vector<std::string> bannedFiles = incoming.bannedFiles;
    std::vector<std::string> bannedFileIds = incoming.bannedFileIds;
    std::vector<Scene> scenes = incoming.scenes;
    std::set<std::string> linkedGroups = incoming.linkedGroups;
    UndoSnapshot baseline = SharedRecordsOf(incoming);

    // Each voice's curve follows its result's event in the incoming document
    // at once: a voice the step leaves alone must play on as it did while
    // the voices are brought in line (a voice left without its curve
    // meanwhile would play at another level for as long as that takes).
    ReplaceDocumentEvents(*ctx.engine, project.events, events, results);
    project.results.swap(results);
    project.userShapes.swap(userShapes);
    project.bannedFiles.swap(bannedFiles);
    project.bannedFileIds.swap(bannedFileIds);
    project.scenes.swap(scenes);
    project.rendered = incoming.rendered;
    project.totalDuration = incoming.totalDuration;
    AppState& app = *ctx.app;
    if (incoming.hasLinkedGroups) {
        app.linkedGroups.swap(linkedGroups);
        outgoing.linkedGroups.swap(linkedGroups);
        outgoing.hasLinkedGroups = true;
    }
    if (incoming.hasWorkArea) {
        outgoing.workAreaIn = std::exchange(app.workAreaIn, incoming.workAreaIn);
        outgoing.workAreaOut = std::exchange(app.workAreaOut, incoming.workAreaOut);
        outgoing.activeScene = std::exchange(app.activeScene, incoming.activeScene);
        outgoing.hasWorkArea = true;
    }
    project.publishedResultCount.store(int32_t(project.results.size()));
    project.resultsRevision += 1;
    history.baseline = std::move(baseline);
    history.generation += 1;
    return outgoing;
}

// Undo and Redo are mirror images: `from` gives the snapshot, `to` takes
// the document.
bool Step(const DocumentContext& ctx, bool redo) {
    if (EditRefused(ctx, redo ? "Redo" : "Undo")) return false;
    UndoHistory& history = ctx.app->undoHistory;
    std::deque<UndoSnapshot>& from = redo ? history.redo : history.undo;
    std::deque<UndoSnapshot>& to = redo ? history.undo : history.redo;
    if (from.empty()) return false;
    to.push_back(SwapIntoDocument(ctx, from.back(), true));
    from.pop_back();
    ClearSelection(*ctx.app);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// PushUndoSnapshot
// ---------------------------------------------------------------------------

bool PushUndoSnapshot(const DocumentContext& ctx) {
    if (EditRefused(ctx, "Undo snapshot")) return false;
    UndoHistory& history = ctx.app->undoHistory;
    // Copied before the stacks change, so a failed copy leaves them as they were.
    UndoSnapshot snapshot = CaptureUndoSnapshot(*ctx.project, &history.baseline);
    snapshot.linkedGroups = ctx.app->linkedGroups;
    snapshot.hasLinkedGroups = true;
    snapshot.workAreaIn = ctx.app->workAreaIn;
    snapshot.workAreaOut = ctx.app->workAreaOut;
    snapshot.activeScene = ctx.app->activeScene;
    snapshot.hasWorkArea = true;
    UndoSnapshot baseline = SharedRecordsOf(snapshot);
    history.undo.push_back(std::move(snapshot));
    history.baseline = std::move(baseline);
    while (history.undo.size() > kUndoLimit) history.undo.pop_front();
    history.redo.clear();
    history.generation += 1;
    ctx.app->modified = true;
    return true;
}

bool PushUndoSnapshot() { return PushUndoSnapshot(ProgramDocumentContext()); }

// ---------------------------------------------------------------------------
// Undo / Redo / RestoreUndoSnapshot
// ---------------------------------------------------------------------------

bool Undo(const DocumentContext& ctx) { return Step(ctx, false); }
bool Redo(const DocumentContext& ctx) { return Step(ctx, true); }
bool Undo() { return Undo(ProgramDocumentContext()); }
bool Redo() { return Redo(ProgramDocumentContext()); }

bool RestoreUndoSnapshot(const DocumentContext& ctx, UndoSnapshot snapshot) {
    if (EditRefused(ctx, "Restore")) return false;
    SwapIntoDocument(ctx, snapshot, false);
    return true;  // the old lists are dropped in there, outside the engine lock
}

// ---------------------------------------------------------------------------
// RunUndoCommand
// ---------------------------------------------------------------------------

bool RunUndoCommand(const DocumentContext& ctx, bool redo) {
    if (!(redo ? Redo(ctx) : Undo(ctx))) return false;
    SyncVoicesWithResults(ctx);
    ctx.app->toastText = redo ? "Redo" : "Undo";
    ctx.app->toastTimer = 1.5f;
    return true;
}

bool RunUndoCommand(bool redo) { return RunUndoCommand(ProgramDocumentContext(), redo); }
