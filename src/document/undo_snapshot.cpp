// undo_snapshot.cpp — a copy of the document's editable state, and the
// emptying of the two stacks.
#include "document/undo_snapshot.h"

UndoSnapshot CaptureUndoSnapshot(const Project& project) {
    UndoSnapshot s;
    s.events = project.events;
    s.results = project.results;
    s.userShapes = project.userShapes;
    s.bannedFiles = project.bannedFiles;
    s.bannedFileIds = project.bannedFileIds;
    s.scenes = project.scenes;
    s.rendered = project.rendered;
    s.totalDuration = project.totalDuration;
    return s;
}

void ClearUndoHistory(UndoHistory& history) {
    history.undo.clear();
    history.redo.clear();
    history.generation += 1;
}
