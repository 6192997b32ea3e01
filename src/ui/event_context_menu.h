// event_context_menu.h — the right-click menu of the selected events, shared
// by the timeline and the events list.
//
// Index
//   EventContextMenu   draws the popup of that id while it is open
//   EventMenuReport    where the last open menu drew Delete (window tests)
//
// The caller opens the popup (ImGui::OpenPopup) with the clicked event made
// part of the selection, and calls EventContextMenu every frame in the same
// window. The items, their rules and their actions are plain functions
// (event_menu_logic.h); Lock, Group and Ungroup run the edit commands'
// routines (event_commands.h). UI thread.
#pragma once

struct DocumentContext;

// True when an item changed the number or order of the events or results:
// a caller walking those lists clamps its bounds to the new sizes.
bool EventContextMenu(const DocumentContext& ctx, const char* popupId);
bool EventContextMenu(const char* popupId);

struct EventMenuReport {
    bool open = false;       // a menu was drawn in the last frame that drew one
    float deleteX = 0;       // the centre of "Delete", screen points
    float deleteY = 0;
    int frame = -1;          // the GUI frame it was drawn in
};
extern EventMenuReport gEventMenuReport;
