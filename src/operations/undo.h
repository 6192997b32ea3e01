// undo.h — undo and redo by document snapshots that share what did not change.
//
// Index
//   PushUndoSnapshot      every edit calls it once, before it changes anything
//   Undo / Redo           step back or forward; the selection is cleared
//   RestoreUndoSnapshot   put a snapshot in place of the document
//   RunUndoCommand        the Undo and Redo commands: step, voices, toast
//
// Everything here runs on the interface thread and refuses while the
// document may not change (a busy task or an export owns it then). The event
// list is swapped in under the engine lock (voices borrow its curves); the
// copies are made and the old lists dropped outside it. A step copies the
// snapshot's records into the document and captures the document onto the
// other stack, sharing every record that its last edit left alone. The
// snapshot and the stacks are document/undo_snapshot.h.
#pragma once

#include "document/undo_snapshot.h"

struct DocumentContext;

// Captures the document onto the undo stack (dropping the oldest beyond
// kUndoLimit), empties the redo stack and sets the unsaved-changes flag.
// False, with nothing changed, while the document may not change. When the
// copy cannot be made (out of memory) the stacks stay as they were.
bool PushUndoSnapshot(const DocumentContext& ctx);
bool PushUndoSnapshot();

// False (nothing changed) on an empty stack or while the document may not
// change. Otherwise the document goes onto the other stack, the snapshot takes
// its place, and the selection is emptied (its indices belonged to the other
// document). Neither touches the unsaved-changes flag. The voices' curve
// references are cleared under the engine lock: the caller re-synchronises the
// voices (RunUndoCommand does).
bool Undo(const DocumentContext& ctx);
bool Redo(const DocumentContext& ctx);
bool Undo();
bool Redo();

// Replaces the document's events (curve references of the voices cleared
// under the engine lock), results, user shapes, banned files with their ids,
// scenes, rendered flag and length with the snapshot's, and the linked
// groups, the work area and its scene when the snapshot holds them. Pass a copy to keep the
// snapshot. False, with nothing changed, while the document may not change.
bool RestoreUndoSnapshot(const DocumentContext& ctx, UndoSnapshot snapshot);

// The frame loop's Undo (redo false) or Redo command: the step, then the
// voices brought in line with the restored results (also after undoing the
// first render, so no voice keeps playing a layer that is gone) and the toast
// "Undo" or "Redo" for 1.5 s. False when there was nothing to do or it was
// refused.
bool RunUndoCommand(const DocumentContext& ctx, bool redo);
bool RunUndoCommand(bool redo);
