// event_commands.cpp — the edit commands on the selected events.
//
// Index
//   Clipboard            CopySelectedEvents
//   SelectAllEvents
#include "playback/transport.h"
#include "ui/event_commands.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "document/curve.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/event_edits.h"
#include "operations/event_voices.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "ui/events_list_logic.h"

// ---------------------------------------------------------------------------
// Clipboard
// ---------------------------------------------------------------------------

void CopySelectedEvents(const Project& project, const AppState& app, EventClipboard& clipboard) {
    const std::vector<int> selected = ValidSelection(app, project);
    if (selected.empty()) return;
    EventClipboard copy;
    std::vector<int> slot(project.events.size(), -1);
    copy.earliestTime = project.events[size_t(selected.front())].time;
    for (int i : selected) {
        slot[size_t(i)] = int(copy.events.size());
        copy.events.push_back(project.events[size_t(i)]);
        copy.earliestTime = std::min(copy.earliestTime, project.events[size_t(i)].time);
    }
    for (const RenderResult& r : project.results) {
        if (r.eventIdx < 0 || size_t(r.eventIdx) >= slot.size() || slot[size_t(r.eventIdx)] < 0) continue;
        copy.results.push_back(r);
        copy.results.back().eventIdx = slot[size_t(r.eventIdx)];
    }
    clipboard = std::move(copy);
}

// ---------------------------------------------------------------------------
// SelectAllEvents
// ---------------------------------------------------------------------------

void SelectAllEvents(AppState& app, const Project& project) {
    if (project.events.empty()) return;
    const int anchor = app.selectedEvent >= 0 && size_t(app.selectedEvent) < project.events.size() ? app.selectedEvent : 0;
    app.selectedEvents.clear();
    for (int i = 0; i < int(project.events.size()); ++i) app.selectedEvents.insert(i);
    app.selectedEvent = anchor;
    app.selectionChanged = true;
}
