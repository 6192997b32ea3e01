// undo_snapshot.h — the records of undo and redo: a snapshot of the document's
// editable state and the two stacks that hold them.
//
// Index
//   UndoSnapshot          the editable state of the document, rendered layers included
//   UndoHistory           the undo and redo stacks (the app state holds the program's)
//   kUndoLimit            how many undo steps are kept
//   CaptureUndoSnapshot   the document's editable state, sharing what a baseline holds
//   SharedRecordsOf       a snapshot's shared records alone (a history's baseline)
//   SnapshotEvents / SnapshotResults   the snapshot's lists as the document's
//   DistinctSnapshotRecords / UndoHistoryBytes   what the history holds (tests, benchmarks)
//   ClearUndoHistory      a project was opened or a new one made
//
// A snapshot holds its events and layers as shared, immutable records. A
// capture compares the document with a baseline (the snapshot the document
// was last captured into or restored from) and reuses the baseline's record
// of every event and layer that is still equal, so fifty steps of one edit
// each hold one copy of the document plus what the fifty edits changed, not
// fifty copies. An event is found again at its index or a few places later
// (events removed before it); a layer by its id, whatever its index and
// whatever its event's index became (deleting an event renumbers the layers
// of the events after it: their records stay shared).
//
// The steps that move snapshots between the stacks and the document are in
// operations/undo.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"

struct UndoSnapshot {
    std::vector<std::shared_ptr<const Event>> events;         // nested bounce sources included
    // Layers (ids kept). A shared record may carry the event index of an
    // older snapshot: each layer's own index in this one is resultEvents[i].
    std::vector<std::shared_ptr<const RenderResult>> results;
    std::vector<int32_t> resultEvents;
    std::vector<UserShape> userShapes;
    std::vector<std::string> bannedFiles;
    std::vector<std::string> bannedFileIds;  // parallel to bannedFiles
    std::vector<Scene> scenes;
    bool rendered = false;
    float totalDuration = 30;  // the project's length: imports and scenes extend it
    // The linked folders are saved with the project, so they step with the
    // folders they name (a renamed or ungrouped folder links again on Undo).
    // Only snapshots made over an app state carry them.
    std::set<std::string> linkedGroups;
    bool hasLinkedGroups = false;
    // The work area (saved with the project too) and the scene it is linked
    // to: adding, splitting or deleting a scene moves them, and its undo
    // puts them back. Only snapshots made over an app state carry them.
    float workAreaIn = -1;
    float workAreaOut = -1;
    int activeScene = -1;
    bool hasWorkArea = false;
};

struct UndoHistory {
    std::deque<UndoSnapshot> undo;  // oldest at the front
    std::deque<UndoSnapshot> redo;  // holds only what Undo moved there
    // The shared records of the document as it was last captured or
    // restored: the next capture shares them.
    UndoSnapshot baseline;
    // Raised by every push, step, restore and clear. A gesture that spans
    // frames (a curve stroke) keeps the value it started with: when it has
    // moved on, the document the gesture was editing is no longer there.
    uint64_t generation = 0;
};

constexpr size_t kUndoLimit = 50;

// The document's editable state. Events and layers equal to the baseline's
// share its records (a null or empty baseline: every record is new).
UndoSnapshot CaptureUndoSnapshot(const Project& project, const UndoSnapshot* baseline = nullptr);

// The snapshot's shared records alone (events, layers and their event indices).
UndoSnapshot SharedRecordsOf(const UndoSnapshot& snapshot);

// Copies of the snapshot's events, and of its layers with their event indices.
std::vector<Event> SnapshotEvents(const UndoSnapshot& snapshot);
std::vector<RenderResult> SnapshotResults(const UndoSnapshot& snapshot);

// Distinct event and layer records held by the stacks and the baseline.
struct SnapshotRecordCount {
    size_t events = 0;
    size_t results = 0;
};
SnapshotRecordCount DistinctSnapshotRecords(const UndoHistory& history);
// Bytes the history holds: each distinct record once with what it owns
// (strings, lists, bounce sources), plus every snapshot's own lists.
size_t UndoHistoryBytes(const UndoHistory& history);

void ClearUndoHistory(UndoHistory& history);
