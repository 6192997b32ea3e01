// events_list_logic.cpp — order, summaries, rows, clicks and folder edits of
// the events list.
//
// Index
//   Helpers
//   SortEventsList / SummarizeLayerWeights
//   BuildListRows / FirstRowAt / EventRowY / ScrollShowingRow / FolderMembers
//   ApplyRowClick / ApplyFolderHeaderClick
//   Folder edits
//   SaveFolderAsChain
//   Scene selector
//   Texts
#include "ui/events_list_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/event_edits.h"
#include "operations/folder_edits.h"
#include "operations/recipe_lists.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "operations/undo.h"
#include "platform/file_names.h"
#include "recipes/chain_file.h"
#include "ui/event_menu_logic.h"
#include "ui/result_layers_logic.h"
#include "operations/scene_edits.h"
#include "ui/timeline_logic.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

std::string_view FolderOf(const Event& e) { return TextFieldView(e.folder); }

// A time that is not a number sorts last, so the order stays a strict one.
float SortTime(const Event& e) { return std::isnan(e.time) ? std::numeric_limits<float>::infinity() : e.time; }

}  // namespace

// ---------------------------------------------------------------------------
// SortEventsList / SummarizeLayerWeights
// ---------------------------------------------------------------------------

int SummarizeLayerWeights(std::vector<float>& weights, std::array<float, 5>& out) {
    std::sort(weights.begin(), weights.end());
    const size_t k = weights.size();
    if (k <= 5) {
        std::copy(weights.begin(), weights.end(), out.begin());
        return int(k);
    }
    const size_t at[5] = {0, k / 4, k / 2, 3 * k / 4, k - 1};
    for (int i = 0; i < 5; ++i) out[size_t(i)] = weights[at[i]];
    return 5;
}

void SortEventsList(AppState& app, const std::vector<Event>& events, const std::vector<RenderResult>& results,
                    int generation) {
    const size_t n = events.size();
    std::vector<int>& order = app.eventsListOrder;
    order.resize(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const float ta = SortTime(events[size_t(a)]), tb = SortTime(events[size_t(b)]);
        return ta < tb || (ta == tb && a < b);
    });

    const int key[3] = {int(n), int(results.size()), generation};
    if (std::equal(key, key + 3, app.listCacheKey)) return;
    std::copy(key, key + 3, app.listCacheKey);

    // Per event, its layers' positions in one array (counting first), so the
    // summaries cost two passes and no allocation per event.
    app.eventResultCounts.assign(n, 0);
    std::vector<int> unmuted(n + 1, 0);
    for (const RenderResult& r : results) {
        if (r.eventIdx < 0 || size_t(r.eventIdx) >= n) continue;
        app.eventResultCounts[size_t(r.eventIdx)] += 1;
        if (!r.muted) unmuted[size_t(r.eventIdx) + 1] += 1;
    }
    std::partial_sum(unmuted.begin(), unmuted.end(), unmuted.begin());
    std::vector<float> weights(static_cast<size_t>(unmuted[n]));
    std::vector<int> fill(unmuted.begin(), unmuted.end() - 1);
    for (const RenderResult& r : results)
        if (r.eventIdx >= 0 && size_t(r.eventIdx) < n && !r.muted)
            weights[size_t(fill[size_t(r.eventIdx)]++)] = r.weight;

    app.eventLayerWeightSummary.assign(n, {});
    app.eventLayerWeightCount.assign(n, 0);
    std::vector<float> one;
    for (size_t e = 0; e < n; ++e) {
        if (unmuted[e + 1] == unmuted[e]) continue;
        one.assign(weights.begin() + unmuted[e], weights.begin() + unmuted[e + 1]);
        app.eventLayerWeightCount[e] = uint8_t(SummarizeLayerWeights(one, app.eventLayerWeightSummary[e]));
    }
}

// ---------------------------------------------------------------------------
// BuildListRows / FirstRowAt / EventRowY / FolderMembers
// ---------------------------------------------------------------------------

void BuildListRows(const AppState& app, const std::vector<Event>& events, const std::vector<RenderResult>& results,
                   const ListRowHeights& heights, std::vector<ListRow>& rows) {
    rows.clear();
    const std::vector<int>& order = app.eventsListOrder;
    float y = 0;
    auto add = [&](ListRowKind kind, int index, int count, float h) {
        rows.push_back({kind, index, count, y, h});
        y += h;
    };
    for (size_t k = 0; k < order.size();) {
        const int e = order[k];
        if (e < 0 || size_t(e) >= events.size()) {
            ++k;
            continue;
        }
        const std::string_view folder = FolderOf(events[size_t(e)]);
        size_t end = k + 1;
        if (!folder.empty())
            while (end < order.size() && order[end] >= 0 && size_t(order[end]) < events.size() &&
                   FolderOf(events[size_t(order[end])]) == folder)
                ++end;
        bool shown = true;
        if (!folder.empty()) {
            add(ListRowKind::Folder, int(k), int(end - k), heights.folder);
            shown = !app.collapsedFolders.count(std::string(folder));
        }
        for (size_t j = k; shown && j < end; ++j) {
            add(ListRowKind::Event, order[j], 0, heights.event);
            if (order[j] != app.expandedEvent) continue;
            for (size_t r = 0; r < results.size(); ++r)
                if (results[r].eventIdx == order[j]) add(ListRowKind::Layer, int(r), 0, heights.layer);
        }
        k = end;
    }
}

size_t FirstRowAt(const std::vector<ListRow>& rows, float y) {
    auto it = std::partition_point(rows.begin(), rows.end(), [y](const ListRow& r) { return r.y + r.height <= y; });
    return size_t(it - rows.begin());
}

float EventRowY(const std::vector<ListRow>& rows, int eventIndex) {
    for (const ListRow& r : rows)
        if (r.kind == ListRowKind::Event && r.index == eventIndex) return r.y;
    return -1;
}

float ScrollShowingRow(float rowY, float rowHeight, float top, float scroll, float viewHeight) {
    const float y = top + rowY;
    if (y >= scroll && y + rowHeight <= scroll + viewHeight) return scroll;
    return std::max(0.0f, y + rowHeight / 2 - viewHeight / 2);
}

std::vector<int> FolderMembers(const AppState& app, const std::vector<Event>& events, std::string_view folder) {
    std::vector<int> out;
    if (folder.empty()) return out;
    for (int e : app.eventsListOrder)
        if (e >= 0 && size_t(e) < events.size() && FolderOf(events[size_t(e)]) == folder) out.push_back(e);
    return out;
}

// ---------------------------------------------------------------------------
// ApplyRowClick / ApplyFolderHeaderClick
// ---------------------------------------------------------------------------

void ApplyRowClick(const DocumentContext& ctx, int eventIndex, const ListClick& click) {
    AppState& app = *ctx.app;
    const std::vector<Event>& events = ctx.project->events;
    if (eventIndex < 0 || size_t(eventIndex) >= events.size()) return;
    if (click.shift) {
        SelectEventRange(app, eventIndex, app.eventsListOrder);
    } else if (click.ctrl) {
        ToggleEventSelection(app, eventIndex);
    } else if (app.selectedEvents.size() == 1 && *app.selectedEvents.begin() == eventIndex) {
        app.expandedEvent = app.expandedEvent == eventIndex ? -1 : eventIndex;
        app.selectedEvent = eventIndex;
    } else {
        ClickSelectEvent(app, eventIndex, events, click.alt);
    }
    if (app.curveDrawMode && app.drawViewSaved && !app.selectedEvents.empty())
        FocusDrawModeOnSelection(app, *ctx.project);
    StopLayerAudition(*ctx.engine, app);
}

void ApplyFolderHeaderClick(AppState& app, const std::vector<Event>& events, std::string_view folder,
                            const ListClick& click) {
    if (folder.empty()) return;
    const std::vector<int> members = FolderMembers(app, events, folder);
    if (click.ctrl) {
        if (members.empty()) return;
        const bool all = std::all_of(members.begin(), members.end(),
                                     [&](int e) { return app.selectedEvents.count(e) != 0; });
        if (all) {
            for (int e : members) app.selectedEvents.erase(e);
            if (!app.selectedEvents.count(app.selectedEvent))
                app.selectedEvent = app.selectedEvents.empty() ? -1 : *app.selectedEvents.begin();
        } else {
            app.selectedEvents.insert(members.begin(), members.end());
            if (app.selectedEvent < 0) app.selectedEvent = members.front();
            app.reviewMode = 0;
        }
        app.selectionChanged = true;
        return;
    }
    if (IsLinkedGroup(app, folder)) {
        SelectEvents(app, members);
        return;
    }
    const std::string name(folder);
    if (!app.collapsedFolders.erase(name)) app.collapsedFolders.insert(name);
}

// ---------------------------------------------------------------------------
// Folder edits
// ---------------------------------------------------------------------------

bool DeleteFolder(const DocumentContext& ctx, std::string_view folder) {
    const std::vector<int> members = EventsInFolder(ctx.project->events, folder);
    if (members.empty() || !DeleteEvents(ctx, members)) return false;
    ctx.app->collapsedFolders.erase(std::string(folder));
    return true;
}

// ---------------------------------------------------------------------------
// SaveFolderAsChain
// ---------------------------------------------------------------------------

FolderSaveOutcome SaveFolderAsChain(AppState& app, const Project& project, std::string_view folder,
                                    std::string_view name, const std::string& chainsFolder,
                                    bool (*confirmReplace)(const char* title, const char* text)) {
    const std::vector<int> members = FolderMembers(app, project.events, folder);
    // A chain file already there, of this name or of another that leaves the
    // same file name, is replaced only when the user says so.
    const bool exists = PresetFileExists(chainsFolder, ChainFileName(name));
    PresetSaveResult result = exists ? kPresetNameTaken : SaveChainFile(chainsFolder, name, project.events, members);
    if (result == kPresetNameTaken) {
        char question[200];
        std::snprintf(question, sizeof question, "A chain named \"%.*s\" already exists. Replace it?",
                      int(std::min<size_t>(name.size(), 120)), name.data());
        if (!confirmReplace || !confirmReplace("Save Chain", question)) return FolderSaveOutcome::Declined;
        result = SaveChainFile(chainsFolder, name, project.events, members, true);
    }
    if (result == kPresetNameRefused) {
        ShowToast(app, "Chain not saved: " + FileNameProblem(name), 4);
        return FolderSaveOutcome::Failed;
    }
    if (result != kPresetSaved) {
        app.toastText = "Save failed";
        app.toastTimer = 3;
        return FolderSaveOutcome::Failed;
    }
    RescanRecipesAndChains(chainsFolder, gChains, app);
    return FolderSaveOutcome::Saved;
}

// ---------------------------------------------------------------------------
// Scene selector
// ---------------------------------------------------------------------------

void ChooseListScene(AppState& app, const Project& project, int scene) {
    if (scene < 0 || size_t(scene) >= project.scenes.size()) {
        ClearActiveScene(app);
        app.viewStart = 0;
        app.viewDuration = std::max(project.totalDuration, 1.0f);
        return;
    }
    ActivateScene(app, project, scene);
    const Scene& s = project.scenes[size_t(scene)];
    if (s.outTime > s.inTime) {
        app.viewStart = s.inTime;
        app.viewDuration = s.outTime - s.inTime;
    }
}

int AddSceneFromList(const DocumentContext& ctx) {
    if (SceneAddBlockedText(*ctx.app)) return -1;
    const int scene = NewSceneFromWorkArea(ctx);
    if (scene >= 0) BeginListSceneRename(*ctx.app, *ctx.project, true);
    return scene;
}

const char* SceneAddBlockedText(const AppState& app) {
    if (!HasWorkArea(app)) return "Set work area first (I/O keys)";
    if (app.activeScene >= 0) return "Detach first (adjust I/O)";
    return nullptr;
}

void BeginListSceneRename(AppState& app, const Project& project, bool isNew) {
    const int scene = app.activeScene;
    if (scene < 0 || size_t(scene) >= project.scenes.size()) return;
    CancelSceneRename(app);
    CopyTextField(app.sceneNameEdit, TextFieldView(project.scenes[size_t(scene)].name));
    app.sceneListRenaming = true;
    app.sceneListRenameIsNew = isNew;
    app.sceneRenameFocus = true;
}

bool FinishListSceneRename(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    const bool isNew = app.sceneListRenameIsNew;
    app.sceneListRenaming = false;
    app.sceneListRenameIsNew = false;
    app.sceneRenameFocus = false;
    return ApplySceneName(ctx, app.activeScene, isNew);
}

bool DeleteActiveScene(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    if (!DeleteScene(ctx, app.activeScene)) return false;
    app.sceneListRenaming = false;
    app.sceneListRenameIsNew = false;
    SettleTransport(ctx);
    return true;
}

std::string SceneSpanTooltip(float inTime, float outTime) {
    auto minutes = [](float t) { return int(std::max(t, 0.0f)) / 60; };
    auto seconds = [](float t) { return int(std::max(t, 0.0f)) % 60; };
    char text[64];
    std::snprintf(text, sizeof text, "%d:%02d \xE2\x80\x93 %d:%02d", minutes(inTime), seconds(inTime),
                  minutes(outTime), seconds(outTime));
    return text;
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

std::string MoveEventsTooltip(int count) {
    char text[48];
    std::snprintf(text, sizeof text, "Move %d event%s", count, count == 1 ? "" : "s");
    return text;
}

std::string FolderHeaderTooltip(bool linked, bool collapsed) {
    if (linked) return "Click to select  |  Double-click to rename";
    return std::string("Click to ") + (collapsed ? "expand" : "collapse") + "  |  Double-click to rename";
}

const char* LinkToggleTooltip(bool linked) {
    return linked ? "Linked \xE2\x80\x94 select/move as unit\nClick to unlink"
                  : "Unlinked \xE2\x80\x94 independent events\nClick to link";
}

std::string EventRowTimecode(const Project& project, const Event& event) {
    char text[32];
    FormatTimecode(project, event.time + project.startTC, text, sizeof text);
    return text;
}
