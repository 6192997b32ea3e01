// undo_snapshot.h — the records of undo and redo: a snapshot of the document's
// editable state and the two stacks that hold them.
//
// Index
//   UndoSnapshot          the editable state of the document, rendered layers included
//   UndoHistory           the undo and redo stacks (the app state holds the program's)
//   kUndoLimit            how many undo steps are kept
//   CaptureUndoSnapshot   a copy of the document's editable state
//   ClearUndoHistory      a project was opened or a new one made
//
// The steps that move snapshots between the stacks and the document are in
// operations/undo.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"

struct UndoSnapshot {
    std::vector<Event> events;  // nested bounce sources included
    std::vector<RenderResult> results;  // ids kept
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
    // Raised by every push, step, restore and clear. A gesture that spans
    // frames (a curve stroke) keeps the value it started with: when it has
    // moved on, the document the gesture was editing is no longer there.
    uint64_t generation = 0;
};

constexpr size_t kUndoLimit = 50;

UndoSnapshot CaptureUndoSnapshot(const Project& project);

void ClearUndoHistory(UndoHistory& history);
