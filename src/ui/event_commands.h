// event_commands.h — what the edit commands do with the selected events
// besides the edits of operations/selection_edits.h and folder_edits.h
// (included here for the commands' callers): the event clipboard and
// select all.
//
// Index
//   CopySelectedEvents      the selection and its layers into the clipboard
//   SelectAllEvents
//
// No GUI here; interface thread.
#pragma once

#include <vector>

#include "operations/document_context.h"
#include "operations/folder_edits.h"
#include "operations/selection_edits.h"

struct AppState;
struct AudioEngine;
struct EventClipboard;
struct Project;

// Nothing is copied (the clipboard keeps what it held) without a valid
// selected event. The layers keep their settings; their event index counts
// within the clipboard.
void CopySelectedEvents(const Project& project, const AppState& app, EventClipboard& clipboard);


// Every event; the anchor becomes the first event when none was set.
void SelectAllEvents(AppState& app, const Project& project);
