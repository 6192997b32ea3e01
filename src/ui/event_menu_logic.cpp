// event_menu_logic.cpp — the items of the events' right-click menu (their
// actions are operations: selection_edits.h).
//
// Index
//   Helpers
//   BuildEventMenu
#include "ui/event_menu_logic.h"

#include <algorithm>
#include <functional>

#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/event_edits.h"
#include "operations/event_placement.h"
#include "operations/transport_control.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "render/clip_bed_events.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

// Ascending; indices the event list no longer holds are left out.
std::vector<int> SelectedIndices(const AppState& app, const Project& project) {
    std::vector<int> out;
    for (int i : app.selectedEvents)
        if (i >= 0 && size_t(i) < project.events.size()) out.push_back(i);
    return out;
}

constexpr const char* kExportBlocked = "Export in progress";

}  // namespace

// ---------------------------------------------------------------------------
// BuildEventMenu
// ---------------------------------------------------------------------------

EventMenu BuildEventMenu(const AppState& app, const Project& project) {
    const std::vector<int> selected = SelectedIndices(app, project);
    bool allLocked = true, allHero = true, anyClip = false, anyFolder = false;
    for (int i : selected) {
        const Event& e = project.events[size_t(i)];
        allLocked = allLocked && e.locked;
        allHero = allHero && e.hero;
        anyClip = anyClip || e.shape == kShapeClip;
        anyFolder = anyFolder || e.folder[0] != '\0';
    }
    const bool busy = app.busyTask.busy.load();
    const bool exporting = app.exportRunning.load();

    EventMenu menu;
    menu.lock.label = allLocked ? "\uF09C  Unlock" : "\uF023  Lock";
    // An empty selection reads "all hero", as it reads "all locked".
    menu.hero.label = allHero ? "\uF621  Remove Hero" : "\uF621  Hero";

    menu.rerender.label = "\uF021  Re-Render";
    menu.rerender.enabled = ((project.rendered && !busy) || anyClip) && !exporting;
    if (exporting) menu.rerender.tooltip = kExportBlocked;

    menu.bounce.label = "\uF066  Bounce to Clip";
    menu.bounce.enabled = !selected.empty() && project.rendered && !busy && !exporting;
    menu.bounce.tooltip = exporting ? kExportBlocked
                          : menu.bounce.enabled
                              ? "Render the selection to one dry stereo clip, in place. Reversible."
                              : "Nothing to bounce yet";

    menu.revert.label = "\uF021  Revert to Source";
    menu.revert.shown = selected.size() == 1 && project.events[size_t(selected[0])].shape == kShapeClip &&
                        !project.events[size_t(selected[0])].bounceSource.empty();
    menu.revert.enabled = !exporting;
    menu.revert.tooltip = exporting ? kExportBlocked
                                    : "Replace this bounced clip with the original events it was made from";

    menu.group.label = "Group";
    menu.ungroup.label = "Ungroup";
    menu.ungroup.enabled = anyFolder;
    menu.remove.label = "Delete";
    menu.remove.enabled = !exporting;
    if (exporting) menu.remove.tooltip = kExportBlocked;
    return menu;
}
