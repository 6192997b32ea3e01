// folder_edits.cpp — the events list's folders, each change one edit.
//
// Index
//   Helpers
//   Group and ungroup the selection
//   Folder edits
//   The name field
#include "operations/folder_edits.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/edit_steps.h"
#include "operations/selection_edits.h"

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

namespace {

std::string_view FolderOf(const Event& e) { return TextFieldView(e.folder); }

void RenameInSet(std::set<std::string>& set, std::string_view from, const std::string& to) {
    auto it = set.find(std::string(from));
    if (it == set.end()) return;
    set.erase(it);
    set.insert(to);
}

}  // namespace

std::vector<int> EventsInFolder(const std::vector<Event>& events, std::string_view folder) {
    std::vector<int> out;
    if (folder.empty()) return out;
    for (size_t i = 0; i < events.size(); ++i)
        if (FolderOf(events[i]) == folder) out.push_back(int(i));
    return out;
}

// ---------------------------------------------------------------------------
// Group and ungroup the selection
// ---------------------------------------------------------------------------

bool GroupSelection(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(app, project);
    if (selected.empty() || !BeginEdit(ctx, "Group")) return false;
    std::set<std::string, std::less<>> used;
    for (const Event& e : project.events)
        if (e.folder[0] != '\0') used.emplace(TextFieldView(e.folder));
    std::string name;
    for (int n = 1;; ++n) {
        char text[32];
        std::snprintf(text, sizeof text, "Group %d", n);
        if (!used.count(std::string_view(text))) {
            name = text;
            break;
        }
    }
    for (int i : selected) CopyTextField(project.events[size_t(i)].folder, name);
    app.linkedGroups.insert(name);
    FinishEdit(ctx, EditReach::Document);
    // The events list shows the new folder open, its name ready to be typed.
    app.collapsedFolders.erase(name);
    BeginFolderRename(app, name);
    return true;
}

bool UngroupSelection(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(app, project);
    if (selected.empty() || !BeginEdit(ctx, "Ungroup")) return false;
    std::set<std::string> left;
    for (int i : selected) {
        left.emplace(TextFieldView(project.events[size_t(i)].folder));
        project.events[size_t(i)].folder[0] = '\0';
    }
    for (const Event& e : project.events) left.erase(std::string(TextFieldView(e.folder)));
    for (const std::string& name : left) app.linkedGroups.erase(name);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

// ---------------------------------------------------------------------------
// Folder edits
// ---------------------------------------------------------------------------

bool RenameFolder(const DocumentContext& ctx, std::string_view from, std::string_view to) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    char cut[sizeof(Event::folder)];
    CopyTextField(cut, to);
    const std::string name(TextFieldView(cut));
    if (name.empty() || from.empty() || name == from) return false;
    const std::vector<int> members = EventsInFolder(project.events, from);
    if (members.empty() || !BeginEdit(ctx, "Rename folder")) return false;
    for (int e : members) CopyTextField(project.events[size_t(e)].folder, name);
    RenameInSet(app.linkedGroups, from, name);
    RenameInSet(app.collapsedFolders, from, name);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool UngroupFolder(const DocumentContext& ctx, std::string_view folder) {
    Project& project = *ctx.project;
    const std::vector<int> members = EventsInFolder(project.events, folder);
    if (members.empty() || !BeginEdit(ctx, "Ungroup")) return false;
    for (int e : members) project.events[size_t(e)].folder[0] = '\0';
    ctx.app->linkedGroups.erase(std::string(folder));
    ctx.app->collapsedFolders.erase(std::string(folder));
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool MoveSelectionToFolder(const DocumentContext& ctx, std::string_view folder) {
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(*ctx.app, project);
    if (folder.empty()) return false;
    const bool change = std::any_of(selected.begin(), selected.end(),
                                    [&](int e) { return FolderOf(project.events[size_t(e)]) != folder; });
    if (!change || !BeginEdit(ctx, "Move to folder")) return false;
    for (int e : selected) CopyTextField(project.events[size_t(e)].folder, folder);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool RemoveSelectionFromFolders(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    const std::vector<int> selected = ValidSelection(*ctx.app, project);
    const bool any = std::any_of(selected.begin(), selected.end(),
                                 [&](int e) { return project.events[size_t(e)].folder[0] != '\0'; });
    if (!any || !BeginEdit(ctx, "Leave folder")) return false;
    for (int e : selected) project.events[size_t(e)].folder[0] = '\0';
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool SetFolderLinked(const DocumentContext& ctx, std::string_view folder, bool linked) {
    AppState& app = *ctx.app;
    const std::string name(folder);
    if (name.empty() || (app.linkedGroups.count(name) != 0) == linked) return false;
    if (EventsInFolder(ctx.project->events, folder).empty() || !BeginEdit(ctx, "Link folder")) return false;
    if (linked)
        app.linkedGroups.insert(name);
    else
        app.linkedGroups.erase(name);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

// ---------------------------------------------------------------------------
// The name field
// ---------------------------------------------------------------------------

void BeginFolderRename(AppState& app, std::string_view folder) {
    app.editingFolder.assign(folder);
    CopyTextField(app.folderEditBuffer, folder);
    app.folderEditing = true;
    app.folderEditFocus = true;
}

void EndFolderRename(AppState& app) {
    app.editingFolder.clear();
    app.folderEditBuffer[0] = '\0';
    app.folderEditing = false;
    app.folderEditFocus = false;
}
