// events_list.cpp — the events list of the events tab.
//
// Index
//   State                the list's menus and report
//   Helpers              icon buttons, colours
//   Heading and scenes   "EVENTS (%d)", the scene combo and its four buttons
//   Folder header        "##fhdr": click, double-click, link toggle, drop, menu
//   Event row            "##row": click rules, drag source, right-click
//   Popups               "##groupCtxMenu", "##saveGroupPreset", "##eventCtx"
//   DrawEventsList
//   DumpEventsList
#include "ui/events_list.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "document/event.h"
#include "document/event_naming.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/document_context.h"
#include "operations/selection.h"
#include "picture/video_player.h"
#include "platform/user_folders.h"
#include "ui/draw_ui.h"
#include "ui/event_context_menu.h"
#include "ui/events_list_logic.h"
#include "ui/icons.h"
#include "ui/result_layers_logic.h"
#include "ui/timeline_frame.h"
#include "ui/ui_colors.h"
#include "ui/ui_layout.h"
#include "ui/widgets.h"

EventsListReport gEventsListReport;

namespace {

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

constexpr const char* kPayload = "EVENT_TO_FOLDER";

struct ListFrameState {
    std::vector<ListRow> rows;
    // The order and rows were made by a frame that walked the events: a quiet
    // frame (nothing stirred since, so no event, layer, folder or font
    // changed) keeps them instead of sorting thousands of events again.
    bool ordered = false;
    bool rowsBuilt = false;
    std::string menuFolder;      // the folder whose menu or save popup is open
    char chainName[64] = {};
    bool openGroupMenu = false;  // set by a header this frame; opened at the list's level
    bool openSavePopup = false;
    bool openEventMenu = false;
    int shownSelection = -1;     // the selected event the list last brought into sight
};
ListFrameState gList;

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

ImVec2 Add(ImVec2 p, float x, float y) { return ImVec2(p.x + x, p.y + y); }

// A square icon button of `size` points; dim when `dim`. Disabled with a
// reason: drawn dim, takes no click, shows the reason hovered.
bool IconButton(const char* label, float size, bool dim, const char* blocked) {
    InspectorIconButtonScope look;
    if (dim) ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(gTheme.textDim));
    if (blocked) ImGui::BeginDisabled();
    const bool clicked = ImGui::Button(label, ImVec2(size, size));
    if (blocked) ImGui::EndDisabled();
    if (dim) ImGui::PopStyleColor();
    return clicked && !blocked;
}

void TooltipIfHovered(const char* text) {
    if (text && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ShowStyledTooltip("%s", text);
}

ListClick ClickModifiers() {
    const ImGuiIO& io = ImGui::GetIO();
    return {io.KeyShift, io.KeyCtrl, io.KeyAlt};
}

// ---------------------------------------------------------------------------
// Heading and scenes
// ---------------------------------------------------------------------------

void DrawHeading(const Project& project) {
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(gTheme.textMuted));
    ImGui::Text("EVENTS (%d)", int(project.events.size()));
    ImGui::PopStyleColor();
}

void DrawSceneCombo(const DocumentContext& ctx, VideoPlayer* video, float width) {
    AppState& app = *ctx.app;
    const Project& project = *ctx.project;
    if (app.sceneListRenaming && (app.renamingScene >= 0 || app.activeScene < 0)) {
        // The timeline took the buffer, or the scene went: the field closes.
        app.sceneListRenaming = false;
    }
    if (app.sceneListRenaming) {
        ImGui::SetNextItemWidth(width);
        if (app.sceneRenameFocus) ImGui::SetKeyboardFocusHere();
        const bool entered = ImGui::InputText("##scnren", app.sceneNameEdit, sizeof app.sceneNameEdit,
                                              ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll);
        // The focus request stands until the field has it: only then does
        // losing it (a click elsewhere) end the edit.
        if (ImGui::IsItemActive()) app.sceneRenameFocus = false;
        if (entered || (!app.sceneRenameFocus && !ImGui::IsItemActive())) FinishListSceneRename(ctx);
        return;
    }
    const bool active = app.activeScene >= 0 && size_t(app.activeScene) < project.scenes.size();
    const std::string preview = active ? std::string(TextFieldView(project.scenes[size_t(app.activeScene)].name)) : "All";
    ComboScope look;
    ImGui::SetNextItemWidth(width);
    const ImVec2 at = ImGui::GetCursorScreenPos();
    gEventsListReport.scenesComboX = at.x + width / 2;
    gEventsListReport.scenesComboY = at.y + ImGui::GetFrameHeight() / 2;
    ImGui::BeginDisabled(project.scenes.empty());
    // The preview and the rows are cut with "…" to the combo's room.
    const float arrow = ImGui::GetFrameHeight() + 2 * ImGui::GetStyle().FramePadding.x;
    if (ImGui::BeginCombo("##scenes", FittedText(preview, width - arrow).c_str())) {
        if (ImGui::Selectable("All", !active)) ChooseListScene(app, project, -1);
        const float room = std::max(PopupLabelRoom(), width - 2 * ImGui::GetStyle().WindowPadding.x);
        for (size_t s = 0; s < project.scenes.size(); ++s) {
            const Scene& scene = project.scenes[s];
            ImGui::PushID(int(s));
            if (ImGui::Selectable(FittedLabel(scene.name[0] ? scene.name : "(unnamed)", room).c_str(),
                                  int(s) == app.activeScene)) {
                ChooseListScene(app, project, int(s));
                if (video && video->loaded) SeekReferenceVideo(*video, app.currentTime);
            }
            if (ImGui::IsItemHovered()) ShowStyledTooltip("%s", SceneSpanTooltip(scene.inTime, scene.outTime).c_str());
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    ImGui::EndDisabled();
}

void DrawScenesRow(const DocumentContext& ctx, VideoPlayer* video) {
    AppState& app = *ctx.app;
    const Project& project = *ctx.project;
    const float button = ImGui::GetFrameHeight();
    const float spacing = ImGui::GetStyle().ItemSpacing.x;
    const float comboWidth = std::max(60.0f, ImGui::GetContentRegionAvail().x - 4 * (button + spacing));
    DrawSceneCombo(ctx, video, comboWidth);
    const bool active = app.activeScene >= 0 && size_t(app.activeScene) < project.scenes.size();
    const char* blocked = DocumentBlockedText(app);

    ImGui::SameLine();
    const char* addBlocked = SceneAddBlockedText(app);
    if (IconButton("\uF067##scadd", button, false, addBlocked ? addBlocked : blocked)) AddSceneFromList(ctx);
    gEventsListReport.sceneAddX = (ImGui::GetItemRectMin().x + ImGui::GetItemRectMax().x) / 2;
    TooltipIfHovered(addBlocked ? addBlocked : blocked ? blocked : "Save work area as scene (Ctrl+B)");

    ImGui::SameLine();
    if (IconButton("...##scren", button, false, active ? nullptr : "Select a scene first")) {
        if (app.sceneListRenaming)
            app.sceneListRenaming = false;
        else
            BeginListSceneRename(app, project, false);
    }
    TooltipIfHovered(active ? "Rename" : "Select a scene first");

    ImGui::SameLine();
    const char* delBlocked = !active ? "Select a scene first" : blocked;
    if (IconButton("\uF1F8##scdel", button, false, delBlocked)) DeleteActiveScene(ctx);
    TooltipIfHovered(delBlocked ? delBlocked : "Delete scene");

    ImGui::SameLine();
    if (IconButton("\uF5FD##addbg", button, false, active ? nullptr : "Select a scene first"))
        app.sceneBackgroundScene = app.activeScene;
    TooltipIfHovered(active ? "Add a background (Fill or Bed) to this scene" : "Select a scene first");
}

// ---------------------------------------------------------------------------
// Folder header
// ---------------------------------------------------------------------------

void DrawFolderHeader(const DocumentContext& ctx, const ListRow& row, float width) {
    AppState& app = *ctx.app;
    const Project& project = *ctx.project;
    const int first = app.eventsListOrder[size_t(row.index)];
    const std::string folder(TextFieldView(project.events[size_t(first)].folder));
    const bool linked = IsLinkedGroup(app, folder);
    const bool collapsed = app.collapsedFolders.count(folder) != 0;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 p = ImGui::GetCursorScreenPos();
    const float h = row.height - 2;
    const float link = h;

    ImGui::PushID(row.index);
    if (app.folderEditing && app.editingFolder == folder) {
        ImGui::SetNextItemWidth(width - link - 8);
        if (app.folderEditFocus) ImGui::SetKeyboardFocusHere();
        const bool entered = ImGui::InputText("##fedit", app.folderEditBuffer, sizeof app.folderEditBuffer,
                                              ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll);
        if (ImGui::IsItemActive()) app.folderEditFocus = false;
        if (entered) RenameFolder(ctx, folder, TrimmedView(app.folderEditBuffer));
        if (entered || (!app.folderEditFocus && !ImGui::IsItemActive())) EndFolderRename(app);
        ImGui::PopID();
        return;
    }

    const bool clicked = ImGui::InvisibleButton("##fhdr", ImVec2(std::max(1.0f, width - link - 4), h));
    const bool hovered = ImGui::IsItemHovered();
    ImGui::SetItemAllowOverlap();
    if (clicked) ApplyFolderHeaderClick(app, project.events, folder, ClickModifiers());
    if (hovered && ImGui::IsMouseDoubleClicked(0)) BeginFolderRename(app, folder);
    if (ImGui::IsItemClicked(1)) {
        gList.menuFolder = folder;
        gList.openGroupMenu = true;
    }
    if (hovered) ShowStyledTooltip("%s", FolderHeaderTooltip(linked, collapsed).c_str());
    if (ImGui::BeginDragDropTarget()) {
        if (ImGui::AcceptDragDropPayload(kPayload)) MoveSelectionToFolder(ctx, folder);
        ImGui::EndDragDropTarget();
    }

    const uint32_t fill = hovered ? gTheme.frameBgHover : gTheme.cardBg;
    draw->AddRectFilled(p, Add(p, width, h), fill, 4);
    const float font = ImGui::GetFontSize();
    const float ty = p.y + (h - font) / 2;
    draw->AddText(ImVec2(p.x + 6, ty), gTheme.textMuted, collapsed ? "\uF054" : "\uF078");
    const float nameX = p.x + 6 + font;
    char count[16];
    std::snprintf(count, sizeof count, "(%d)", row.count);
    const float countWidth = ImGui::CalcTextSize(count).x;
    DrawTextClipped(draw, nullptr, 0, ImVec2(nameX, ty), p.x + width - link - countWidth - 16, gTheme.text,
                    folder.c_str());
    const float nameEnd = std::min(nameX + ImGui::CalcTextSize(folder.c_str()).x,
                                   p.x + width - link - countWidth - 16);
    draw->AddText(ImVec2(nameEnd + 6, ty), gTheme.textDim, count);

    ImGui::SetCursorScreenPos(ImVec2(p.x + width - link - 2, p.y));
    {
        LinkButtonScope look;
        ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(linked ? gTheme.accent : gTheme.textDim));
        if (ImGui::Button(linked ? "\uF0C1##flink" : "\uF127##flink", ImVec2(link, h)))
            SetFolderLinked(ctx, folder, !linked);
        ImGui::PopStyleColor();
    }
    TooltipIfHovered(LinkToggleTooltip(linked));
    ImGui::PopID();
}

// ---------------------------------------------------------------------------
// Event row
// ---------------------------------------------------------------------------

void DrawWeightStrip(ImDrawList* draw, const AppState& app, int e, ImVec2 at, float w, float h) {
    if (size_t(e) >= app.eventLayerWeightCount.size()) return;
    const int n = app.eventLayerWeightCount[size_t(e)];
    if (n <= 0) return;
    // Five cells, lowest weight left; a cell's height shows its weight too,
    // so the strip reads without telling colours apart.
    const float cell = w / 5;
    draw->AddRectFilled(at, ImVec2(at.x + w - 1, at.y + h), WithAlpha(gTheme.textDim, 0x28), 1);
    for (int k = 0; k < n; ++k) {
        const float v = std::clamp(app.eventLayerWeightSummary[size_t(e)][size_t(k)], 0.0f, 1.0f);
        const float x = at.x + cell * float(k);
        const float top = at.y + h - std::max(2.0f, h * v);
        draw->AddRectFilled(ImVec2(x, top), ImVec2(x + cell - 1, at.y + h), LevelColor(v), 1);
    }
}

void DrawEventRow(const DocumentContext& ctx, const ListRow& row, float width, bool inFolder) {
    AppState& app = *ctx.app;
    const Project& project = *ctx.project;
    const int e = row.index;
    const Event& event = project.events[size_t(e)];
    const bool selected = app.selectedEvents.count(e) != 0;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 p = ImGui::GetCursorScreenPos();

    ImGui::PushID(e);
    const bool clicked = ImGui::InvisibleButton("##row", ImVec2(std::max(1.0f, width), row.height));
    const bool hovered = ImGui::IsItemHovered();
    if (ImGui::BeginDragDropSource()) {
        if (!selected) ClickSelectEvent(app, e, project.events, ImGui::GetIO().KeyAlt);
        ImGui::SetDragDropPayload(kPayload, &e, sizeof e);
        ImGui::TextUnformatted(MoveEventsTooltip(int(app.selectedEvents.size())).c_str());
        ImGui::EndDragDropSource();
    } else if (clicked) {
        ApplyRowClick(ctx, e, ClickModifiers());
    }
    if (ImGui::IsItemClicked(1)) {
        if (!selected) SelectEvent(app, e);
        gList.openEventMenu = true;
    }
    ImGui::PopID();

    if (app.selectedEvents.count(e))
        draw->AddRectFilled(p, Add(p, width, row.height), WithAlpha(gTheme.accent, 56), 3);
    else if (hovered)
        draw->AddRectFilled(p, Add(p, width, row.height), gTheme.frameBgHover, 3);
    if (e == app.selectedEvent) draw->AddRectFilled(p, Add(p, 2, row.height), gTheme.accent);

    const float font = ImGui::GetFontSize();
    const float ty = p.y + (row.height - font) / 2;
    float x = p.x + (inFolder ? 14.0f : 4.0f);
    const uint32_t color = ShapeColor(event.shape, 255);
    draw->AddText(ImVec2(x, ty), color, e == app.expandedEvent ? "\uF0D7" : ShapeIcon(event.shape));
    x += font + 4;

    // Right to left: the timecode, the weight strip, then the name takes what is left.
    const std::string tc = EventRowTimecode(project, event);
    ImFont* small = app.fontSmall ? app.fontSmall : ImGui::GetFont();
    const float smallSize = app.fontSmall ? FontPoints(app.fontSmall) : font;
    const float tcWidth = small->CalcTextSizeA(smallSize, 1e9f, 0, tc.c_str()).x;
    const float tcX = p.x + width - tcWidth - 6;
    draw->AddText(small, smallSize, ImVec2(tcX, p.y + (row.height - smallSize) / 2), gTheme.textMuted, tc.c_str());
    const float stripW = 30, stripH = std::min(12.0f, row.height - 6), stripX = tcX - stripW - 10;
    DrawWeightStrip(draw, app, e, ImVec2(stripX, p.y + (row.height - stripH) / 2), stripW, stripH);

    float nameRight = stripX - 6;
    const bool noSound = event.sceneFill && event.presetName[0] == '\0';
    const char* noSoundText = "(no sound)";
    float tail = 0;
    if (noSound) tail += ImGui::CalcTextSize(noSoundText).x + 6;
    if (event.muted) tail += font + 6;
    const std::string name = EventDisplayName(project, event);
    DrawTextClipped(draw, nullptr, 0, ImVec2(x, ty), nameRight - tail, color, name.c_str());
    x = std::min(x + ImGui::CalcTextSize(name.c_str()).x, nameRight - tail) + 6;
    if (noSound) {
        draw->AddText(ImVec2(x, ty), WithAlpha(gTheme.textDim, 0x64), noSoundText);
        x += ImGui::CalcTextSize(noSoundText).x + 6;
    }
    if (event.muted) draw->AddText(ImVec2(x, ty), WithAlpha(gTheme.textDim, 0x50), "\uF6A9");
}

// ---------------------------------------------------------------------------
// Popups
// ---------------------------------------------------------------------------

void DrawGroupMenu(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    PopupMenuScope look;
    if (!ImGui::BeginPopup("##groupCtxMenu")) return;
    const char* blocked = DocumentBlockedText(app);
    if (ImGui::MenuItem("  Save as Chain")) {
        CopyTextField(gList.chainName, gList.menuFolder);
        gList.openSavePopup = true;
    }
    if (ImGui::MenuItem("  Rename")) BeginFolderRename(app, gList.menuFolder);
    if (ImGui::MenuItem("  Ungroup", nullptr, false, !blocked)) UngroupFolder(ctx, gList.menuFolder);
    TooltipIfHovered(blocked);
    {
        DangerItemScope danger;
        if (ImGui::MenuItem("  Delete Group", nullptr, false, !blocked)) DeleteFolder(ctx, gList.menuFolder);
    }
    TooltipIfHovered(blocked);
    ImGui::EndPopup();
}

void DrawSaveChainPopup(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    PopupMenuScope look;
    if (!ImGui::BeginPopup("##saveGroupPreset")) return;
    ImGui::TextUnformatted("Save");
    ImGui::SetNextItemWidth(150);
    if (ImGui::IsWindowAppearing()) ImGui::SetKeyboardFocusHere();
    const bool entered = ImGui::InputText("##gpname", gList.chainName, sizeof gList.chainName,
                                          ImGuiInputTextFlags_EnterReturnsTrue);
    ImGui::SameLine();
    const bool named = TrimmedView(gList.chainName).size() > 0;
    ImGui::BeginDisabled(!named);
    const bool save = ImGui::Button("Save##gps") || (entered && named);
    ImGui::EndDisabled();
    if (save) {
        SaveFolderAsChain(app, *ctx.project, gList.menuFolder, TrimmedView(gList.chainName), ChainsDir(),
                          app.questionDialog);
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

// ---------------------------------------------------------------------------
// The rows
// ---------------------------------------------------------------------------

ListRowHeights RowHeights() {
    const float font = ImGui::GetFontSize();
    ListRowHeights h;
    h.event = std::max(18.0f, 1.1f * font);
    h.folder = h.event + 6;
    h.layer = ImGui::GetFrameHeight() + 6;
    return h;
}

void DrawRows(const DocumentContext& ctx, VideoPlayer* video) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (!(app.documentQuiet && gList.rowsBuilt)) BuildListRows(app, project.events, project.results, RowHeights(), gList.rows);
    gList.rowsBuilt = true;
    const std::vector<ListRow>& rows = gList.rows;
    const float viewHeight = ImGui::GetWindowHeight();
    gEventsListReport.viewX = ImGui::GetWindowPos().x, gEventsListReport.viewY = ImGui::GetWindowPos().y;
    gEventsListReport.viewWidth = ImGui::GetWindowWidth(), gEventsListReport.viewHeight = viewHeight;
    const float listHeight = rows.empty() ? 0 : rows.back().y + rows.back().height;

    const float top = ImGui::GetCursorPosY();
    // An event selected anywhere (the timeline, a command, an undo) shows its
    // row: out of sight, the list scrolls it into the middle. A request
    // (a box selection, a placed chain) centres it in any case.
    const bool selectionMoved = app.selectedEvent != gList.shownSelection;
    if (app.scrollToSelection || selectionMoved) {
        const float y = EventRowY(rows, app.selectedEvent);
        const float h = RowHeights().event;
        if (y >= 0) {
            const float scroll = app.scrollToSelection ? std::max(0.0f, top + y + h / 2 - viewHeight / 2)
                                                       : ScrollShowingRow(y, h, top, ImGui::GetScrollY(), viewHeight);
            if (scroll != ImGui::GetScrollY()) ImGui::SetScrollY(scroll);
        }
        app.scrollToSelection = false;
        gList.shownSelection = app.selectedEvent;
    }
    const float scroll = ImGui::GetScrollY();
    const float width = ImGui::GetContentRegionAvail().x;

    // Nothing in a row changes the number of events or layers (deletions
    // come from the menus, drawn after the rows), so the rows stay valid.
    PendingLayerActions pending;
    int pendingEvent = -1;
    bool inFolder = false;
    const size_t firstRow = FirstRowAt(rows, scroll - top);
    // The folder a first visible event row belongs to is decided by the
    // header above it, which may be out of view.
    for (size_t k = firstRow; k-- > 0;)
        if (rows[k].kind != ListRowKind::Layer) {
            inFolder = rows[k].kind == ListRowKind::Folder ||
                       project.events[size_t(rows[k].index)].folder[0] != '\0';
            break;
        }
    const int selectedBefore = app.selectedEvent;
    for (size_t k = firstRow; k < rows.size(); ++k) {
        const ListRow& row = rows[k];
        if (row.y + top > scroll + viewHeight) break;
        ImGui::SetCursorPosY(top + row.y);
        const ImVec2 at = ImGui::GetCursorScreenPos();
        EventsListReport::Row report{int(row.kind), row.index, at.x, at.y, width, row.height, -1};
        if (row.kind == ListRowKind::Folder) {
            inFolder = true;
            report.index = app.eventsListOrder[size_t(row.index)];
            DrawFolderHeader(ctx, row, width);
        } else if (row.kind == ListRowKind::Event) {
            if (project.events[size_t(row.index)].folder[0] == '\0') inFolder = false;
            DrawEventRow(ctx, row, width, inFolder);
        } else {
            pendingEvent = app.expandedEvent;
            report.nextX = DrawResultLayerLine(ctx, row.index, width, row.height - 4, pending, video);
        }
        gEventsListReport.rows.push_back(report);
    }
    if (pendingEvent >= 0) StartPendingLayerAction(ctx, pending);
    // A row clicked here is in sight already: the list stays where it is.
    if (app.selectedEvent != selectedBefore) gList.shownSelection = app.selectedEvent;

    // The drop zone: the rest of the view, at least 30 points.
    ImGui::SetCursorPosY(top + listHeight);
    const float zone = std::max(30.0f, viewHeight - (top + listHeight - scroll) - 4);
    gEventsListReport.dropZoneY = ImGui::GetCursorScreenPos().y;
    ImGui::InvisibleButton("##dropzone", ImVec2(std::max(1.0f, width), zone));
    if (ImGui::BeginDragDropTarget()) {
        if (ImGui::AcceptDragDropPayload(kPayload)) RemoveSelectionFromFolders(ctx);
        ImGui::EndDragDropTarget();
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawEventsList
// ---------------------------------------------------------------------------

void DrawEventsList(const DocumentContext& ctx, VideoPlayer* video) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    gEventsListReport = EventsListReport{};
    gList.openGroupMenu = gList.openSavePopup = gList.openEventMenu = false;
    KeepLayerAuditionValid(*ctx.engine, app);
    if (app.expandedEvent >= int(project.events.size())) app.expandedEvent = -1;

    ImGui::BeginChild("##eventlist", ImVec2(0, 0), false, ImGuiWindowFlags_NoScrollbar);
    DrawHeading(project);
    DrawScenesRow(ctx, video);
    if (!(app.documentQuiet && gList.ordered)) SortEventsList(app, project.events, project.results, int(project.resultsRevision));
    gList.ordered = true;
    ImGui::BeginChild("##evscroll", ImVec2(0, 0), false);
    DrawRows(ctx, video);
    if (gList.openGroupMenu) ImGui::OpenPopup("##groupCtxMenu");
    if (gList.openEventMenu) ImGui::OpenPopup("##eventCtx");
    DrawGroupMenu(ctx);
    if (gList.openSavePopup) ImGui::OpenPopup("##saveGroupPreset");
    DrawSaveChainPopup(ctx);
    EventContextMenu(ctx, "##eventCtx");
    ImGui::EndChild();
    ImGui::EndChild();
}

// ---------------------------------------------------------------------------
// DumpEventsList
// ---------------------------------------------------------------------------

void DumpEventsList(StateDump& dump) {
    const AppState& app = gAppState;
    const Project& project = gProject;
    dump.Field("events.count", int(project.events.size()));
    dump.Field("events.results", int(project.results.size()));
    dump.Field("events.selected", app.selectedEvent);
    dump.Field("events.selectedCount", int(app.selectedEvents.size()));
    dump.Field("events.expanded", app.expandedEvent);
    dump.Field("events.undoDepth", int(app.undoHistory.undo.size()));
    for (size_t e = 0; e < project.events.size(); ++e) {
        const std::string key = "events.event." + std::to_string(e);
        dump.Field(key + ".folder", std::string(TextFieldView(project.events[e].folder)));
        dump.Field(key + ".time", double(project.events[e].time));
    }
    // A voice build on the worker re-resolves the layers' files and rewrites
    // their paths and ids; until its job is done the strings are its own, so
    // a dump taken meanwhile leaves them out (a script waits with waittask).
    const bool workerOwnsLayers = WorkerWritesDocument(app.busyTask);
    dump.Field("events.layersBusy", workerOwnsLayers);
    for (size_t r = 0; r < project.results.size(); ++r) {
        const std::string key = "events.result." + std::to_string(r);
        dump.Field(key + ".event", int(project.results[r].eventIdx));
        if (workerOwnsLayers) continue;
        dump.Field(key + ".file", project.results[r].filepath);
        dump.Field(key + ".fileId", project.results[r].fileId);
    }
    if (gEventMenuReport.open && gEventMenuReport.frame >= ImGui::GetFrameCount() - 1) {
        dump.Field("events.menu.delete.x", double(gEventMenuReport.deleteX));
        dump.Field("events.menu.delete.y", double(gEventMenuReport.deleteY));
    }
    const EventsListReport& report = gEventsListReport;
    dump.Field("events.rows", int(report.rows.size()));
    dump.RectField("events.view", report.viewX, report.viewY, report.viewWidth, report.viewHeight);
    for (size_t k = 0; k < report.rows.size(); ++k) {
        const EventsListReport::Row& row = report.rows[k];
        const std::string key = "events.row." + std::to_string(k);
        dump.Field(key + ".kind", row.kind);
        dump.Field(key + ".index", row.index);
        dump.Field(key + ".x", double(row.x + row.width / 2));
        dump.Field(key + ".y", double(row.y + row.height / 2));
        if (row.nextX >= 0) dump.Field(key + ".nextX", double(row.nextX));
    }
}
