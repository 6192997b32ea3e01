// selection.h — which events are selected, and the linked folders that
// select as one.
//
// Index
//   SelectEvent            select one event alone (or nothing)
//   SelectEvents           select exactly the given events, the first primary
//   ClearSelection         nothing selected, no event expanded
//   ClickSelectEvent       a plain click: the event, with its linked folder
//   SelectEventRange       a Shift-click: everything between the anchor and the event
//   ToggleEventSelection   a Ctrl-click
//   SelectFolderEvents     add every member of the selected events' linked folders
//   IsLinkedGroup / FindNameIndex   whether a folder name selects as one
//   RemoveSelectionIndex   renumber the selection after an event was deleted
//   HasWorkArea            whether the work area is set
//
// The selection lives in the app state: `selectedEvent` (the primary, or
// anchor; -1 for none), the ordered set `selectedEvents`, `expandedEvent`
// and the folder names of `linkedGroups`. Every operation that changes the
// selection sets `selectionChanged`; selecting an event ends the picture
// trace's review mode. Interface thread only.
#pragma once

#include <string_view>
#include <vector>

struct AppState;
struct Event;

void SelectEvent(AppState& app, int eventIndex);
// Empty `events` selects nothing (the primary becomes -1).
void SelectEvents(AppState& app, const std::vector<int>& events);
void ClearSelection(AppState& app);

// SelectEvent, then (unless withoutGroup) the members of linked folders; when
// the clicked event's folder is linked, its earliest selected event (lowest
// time, lower index on equal times) becomes primary.
void ClickSelectEvent(AppState& app, int eventIndex, const std::vector<Event>& events,
                      bool withoutGroup);

// displayOrder: event indices in the order the list or timeline shows them.
// Without an anchor it selects the event alone; with both in the order it
// selects the run between them (the last occurrence of each), keeping the
// anchor; otherwise the event alone becomes the anchor.
void SelectEventRange(AppState& app, int eventIndex, const std::vector<int>& displayOrder);

// Adds or removes the event; it becomes primary either way.
void ToggleEventSelection(AppState& app, int eventIndex);

// Adds every event whose folder is byte-equal to the linked folder of a
// selected event. Events of unlinked folders are never added.
void SelectFolderEvents(AppState& app, const std::vector<Event>& events);

// False for an empty name; otherwise whether `linkedGroups` holds it (exact bytes).
bool IsLinkedGroup(const AppState& app, std::string_view name);
// The same question under the name the timeline uses; null counts as empty.
bool FindNameIndex(const AppState& app, const char* name);

// After event `deleted` was removed: the selection without it, higher indices
// one lower; `selectedEvent` and `expandedEvent` become -1 when they were it.
void RemoveSelectionIndex(AppState& app, int deleted);

// workAreaIn and workAreaOut both >= 0 and out > in.
bool HasWorkArea(const AppState& app);
