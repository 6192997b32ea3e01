// event_context_menu.h — the right-click menu of the selected events, shared
// by the timeline and the events list.
//
// Index
//   EventContextMenu   draws the popup of that id while it is open
//   DeleteSelectedEvents   the menu's Delete: every selected event, one undo step
//
// The caller opens the popup (ImGui::OpenPopup) with the clicked event made
// part of the selection, and calls EventContextMenu every frame in the same
// window. For now the menu holds Delete; the lock, hero, render, bounce and
// group items join it with the events list. UI thread.
#pragma once

struct DocumentContext;

// True when an item changed the number or order of the events or results:
// a caller walking those lists clamps its bounds to the new sizes.
bool EventContextMenu(const DocumentContext& ctx, const char* popupId);
bool EventContextMenu(const char* popupId);

// One undo step, then every selected event from the highest index down with
// its layers and voices; the primary is clamped to the events left and
// playback is sought to the current time. False when refused or nothing
// was selected.
bool DeleteSelectedEvents(const DocumentContext& ctx);
