// folder_edits.h — the events list's folders as edits: grouping the
// selection, renaming, ungrouping, moving events in and out, linking.
//
// Index
//   EventsInFolder                           a folder's events, ascending by index
//   GroupSelection / UngroupSelection
//   RenameFolder / UngroupFolder / MoveSelectionToFolder / RemoveSelectionFromFolders
//   SetFolderLinked                          a folder's events select and move as one
//   BeginFolderRename / EndFolderRename      the name field's state
//
// A folder is the text every member event holds; the linked folders are
// saved with the project and taken by the undo step. Each edit is one
// (edit_steps.h): refused while the document may not change, one undo step,
// the unsaved flag. Interface thread.
#pragma once

#include <string_view>
#include <vector>

#include "operations/document_context.h"

struct AppState;
struct Event;

// The events of `folder`, ascending by index; none for an empty name.
std::vector<int> EventsInFolder(const std::vector<Event>& events, std::string_view folder);

// The selection joins a new folder "Group %d" (the first number no folder
// uses), which is linked so it selects as one; the events list opens its
// name for editing. Returns false without a selection or when refused.
bool GroupSelection(const DocumentContext& ctx);
// The selected events leave their folders; a folder no event uses any more
// is no longer linked.
bool UngroupSelection(const DocumentContext& ctx);

// Every event of `from` moves to `to` (cut to the field at a character
// boundary), and the linked and collapsed sets follow. False for an empty or
// unchanged name, a folder without events, or when refused.
bool RenameFolder(const DocumentContext& ctx, std::string_view from, std::string_view to);
// The folder's events leave it; it is no longer linked or collapsed.
bool UngroupFolder(const DocumentContext& ctx, std::string_view folder);
// Every selected event joins `folder` (a drop on its header). False when
// nothing would change.
bool MoveSelectionToFolder(const DocumentContext& ctx, std::string_view folder);
// Every selected event leaves its folder (a drop below the list). False when
// none is in a folder.
bool RemoveSelectionFromFolders(const DocumentContext& ctx);
// The folder linked or not. False when it already is as asked, has no
// events, or when refused.
bool SetFolderLinked(const DocumentContext& ctx, std::string_view folder, bool linked);

// The folder name field opens on `folder` (its events' name), with focus.
void BeginFolderRename(AppState& app, std::string_view folder);
void EndFolderRename(AppState& app);
