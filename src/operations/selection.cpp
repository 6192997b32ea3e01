// selection.cpp — the selection operations over the app state.
//
// Index
//   SelectEvent / SelectEvents / ClearSelection
//   ClickSelectEvent / SelectFolderEvents
//   SelectEventRange / ToggleEventSelection
//   IsLinkedGroup / FindNameIndex
//   RemoveSelectionIndex / HasWorkArea
#include "operations/selection.h"

#include <string>

#include "document/event.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"

namespace {

// The position of the last occurrence of `value`, -1 when absent.
int LastPosition(const std::vector<int>& order, int value) {
    for (size_t k = order.size(); k-- > 0;)
        if (order[k] == value) return int(k);
    return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// SelectEvent / SelectEvents / ClearSelection
// ---------------------------------------------------------------------------

void SelectEvent(AppState& app, int eventIndex) {
    app.selectedEvents.clear();
    if (eventIndex >= 0) {
        app.selectedEvents.insert(eventIndex);
        app.reviewMode = 0;
    }
    app.selectedEvent = eventIndex;
    app.selectionChanged = true;
}

void SelectEvents(AppState& app, const std::vector<int>& events) {
    app.selectedEvents.clear();
    for (int e : events)
        if (e >= 0) app.selectedEvents.insert(e);
    app.selectedEvent = events.empty() ? -1 : events.front();
    if (!app.selectedEvents.empty()) app.reviewMode = 0;
    app.selectionChanged = true;
}

void ClearSelection(AppState& app) {
    app.selectedEvents.clear();
    app.selectedEvent = -1;
    app.expandedEvent = -1;
    app.selectionChanged = true;
}

// ---------------------------------------------------------------------------
// ClickSelectEvent / SelectFolderEvents
// ---------------------------------------------------------------------------

void ClickSelectEvent(AppState& app, int eventIndex, const std::vector<Event>& events,
                      bool withoutGroup) {
    SelectEvent(app, eventIndex);
    if (withoutGroup) return;
    SelectFolderEvents(app, events);
    if (!ValidEvent(events, eventIndex) || !IsLinkedGroup(app, TextFieldView(events[eventIndex].folder)))
        return;
    if (app.selectedEvents.empty()) {
        app.selectedEvent = eventIndex;
        return;
    }
    int earliest = -1;
    for (int s : app.selectedEvents) {
        if (!ValidEvent(events, s)) continue;
        if (earliest < 0 || events[s].time < events[earliest].time) earliest = s;
    }
    if (earliest >= 0) app.selectedEvent = earliest;
}

void SelectFolderEvents(AppState& app, const std::vector<Event>& events) {
    std::vector<std::string_view> folders;
    for (int s : app.selectedEvents) {
        if (!ValidEvent(events, s)) continue;
        std::string_view folder = TextFieldView(events[s].folder);
        if (folder.empty() || !IsLinkedGroup(app, folder)) continue;
        bool known = false;
        for (std::string_view f : folders) known = known || f == folder;
        if (!known) folders.push_back(folder);
    }
    std::vector<int> members;
    for (std::string_view folder : folders)
        for (size_t e = 0; e < events.size(); ++e)
            if (TextFieldView(events[e].folder) == folder) members.push_back(int(e));
    app.selectedEvents.insert(members.begin(), members.end());
    app.selectionChanged = true;
}

// ---------------------------------------------------------------------------
// SelectEventRange / ToggleEventSelection
// ---------------------------------------------------------------------------

void SelectEventRange(AppState& app, int eventIndex, const std::vector<int>& displayOrder) {
    if (app.selectedEvent < 0) {
        SelectEvent(app, eventIndex);
        return;
    }
    const int from = LastPosition(displayOrder, app.selectedEvent);
    const int to = LastPosition(displayOrder, eventIndex);
    if (from < 0 || to < 0) {
        SelectEvent(app, eventIndex);
        return;
    }
    app.selectedEvents.clear();
    const int lo = from < to ? from : to, hi = from < to ? to : from;
    for (int k = lo; k <= hi; ++k) app.selectedEvents.insert(displayOrder[size_t(k)]);
    app.reviewMode = 0;
    app.selectionChanged = true;
}

void ToggleEventSelection(AppState& app, int eventIndex) {
    if (!app.selectedEvents.erase(eventIndex)) app.selectedEvents.insert(eventIndex);
    app.selectedEvent = eventIndex;
    if (!app.selectedEvents.empty()) app.reviewMode = 0;
    app.selectionChanged = true;
}

// ---------------------------------------------------------------------------
// IsLinkedGroup / FindNameIndex
// ---------------------------------------------------------------------------

bool IsLinkedGroup(const AppState& app, std::string_view name) {
    if (name.empty() || app.linkedGroups.empty()) return false;
    // The set has no lookup by view; a reused key keeps the timeline's
    // per-event questions free of allocations.
    thread_local std::string key;
    key.assign(name);
    return app.linkedGroups.count(key) != 0;
}

bool FindNameIndex(const AppState& app, const char* name) {
    return name != nullptr && IsLinkedGroup(app, std::string_view(name));
}

// ---------------------------------------------------------------------------
// RemoveSelectionIndex / HasWorkArea
// ---------------------------------------------------------------------------

void RemoveSelectionIndex(AppState& app, int deleted) {
    if (deleted < 0) return;
    std::set<int> kept;
    for (int s : app.selectedEvents) {
        if (s == deleted) continue;
        kept.insert(s > deleted ? s - 1 : s);
    }
    app.selectedEvents.swap(kept);
    auto renumber = [deleted](int& index) {
        if (index == deleted) index = -1;
        else if (index > deleted) --index;
    };
    renumber(app.selectedEvent);
    renumber(app.expandedEvent);
    app.selectionChanged = true;
}

bool HasWorkArea(const AppState& app) {
    return app.workAreaIn >= 0 && app.workAreaOut >= 0 && app.workAreaOut > app.workAreaIn;
}
