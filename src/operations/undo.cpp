// undo.cpp — whole-document snapshots on two stacks.
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
// held. Only the event list's swap happens under the engine lock; every list
// moves, none is copied, and the old ones leave with the result (dropped,
// or stacked, by the caller, unlocked).
UndoSnapshot SwapIntoDocument(const DocumentContext& ctx, UndoSnapshot&& incoming) {
    Project& project = *ctx.project;
    UndoSnapshot outgoing;
    // The voices' curve references go: the indices they follow belong to the
    // other document until the voices are synchronised.
    ReplaceDocumentEvents(*ctx.engine, project.events, incoming.events, VoiceCurveLink::Clear);
    outgoing.events = std::move(incoming.events);
    outgoing.results = std::exchange(project.results, std::move(incoming.results));
    outgoing.userShapes = std::exchange(project.userShapes, std::move(incoming.userShapes));
    outgoing.bannedFiles = std::exchange(project.bannedFiles, std::move(incoming.bannedFiles));
    outgoing.bannedFileIds = std::exchange(project.bannedFileIds, std::move(incoming.bannedFileIds));
    outgoing.scenes = std::exchange(project.scenes, std::move(incoming.scenes));
    outgoing.rendered = std::exchange(project.rendered, incoming.rendered);
    outgoing.totalDuration = std::exchange(project.totalDuration, incoming.totalDuration);
    AppState& app = *ctx.app;
    if (incoming.hasLinkedGroups) {
        outgoing.linkedGroups = std::exchange(app.linkedGroups, std::move(incoming.linkedGroups));
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
    app.undoHistory.generation += 1;
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
    UndoSnapshot snapshot = std::move(from.back());
    from.pop_back();
    to.push_back(SwapIntoDocument(ctx, std::move(snapshot)));
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
    UndoSnapshot snapshot = CaptureUndoSnapshot(*ctx.project);
    snapshot.linkedGroups = ctx.app->linkedGroups;
    snapshot.hasLinkedGroups = true;
    snapshot.workAreaIn = ctx.app->workAreaIn;
    snapshot.workAreaOut = ctx.app->workAreaOut;
    snapshot.activeScene = ctx.app->activeScene;
    snapshot.hasWorkArea = true;
    history.undo.push_back(std::move(snapshot));
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
    UndoSnapshot old = SwapIntoDocument(ctx, std::move(snapshot));
    return true;  // `old` is dropped here, outside the engine lock
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
