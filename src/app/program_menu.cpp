// program_menu.cpp — drawing the program menu popup.
//
// Index
//   TakeMenuPopupRequest
//   Rows                 items, separators, fixed and dynamic submenus
//   DrawProgramMenu
#include "app/program_menu.h"

#include <imgui.h>

#include <string>

#include "app/fitted_labels.h"
#include "app/program_menu_table.h"
#include "app/style_scopes.h"
#include "operations/app_state.h"

namespace {

constexpr const char* kPopupId = "##programMenu";

// Which dynamic submenus were open in the last frame: one that opens now is
// rebuilt first, as the lists may have changed since the menu was built.
struct DynamicMenusOpen {
    bool recent = false;
    bool recipes = false;
    bool chains = false;
};
DynamicMenusOpen gDynamicOpen;

}  // namespace

bool TakeMenuPopupRequest(ProgramMenu& menu, AppState& app) {
    if (!menu.menuPopupRequest) return false;
    menu.menuPopupRequest = false;
    RebuildRecentMenu(app, menu);
    menu.openPending = true;
    return true;
}

namespace {

// ---------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------

void NoteDrawn(ProgramMenu& menu, std::string key) {
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 size = ImGui::GetItemRectSize();
    menu.drawn.push_back({std::move(key), min.x, min.y, size.x, size.y});
}

// BeginMenu, noting where its row is: once the submenu is open the last
// item is the submenu window's, so the row is taken before.
bool BeginNotedMenu(ProgramMenu& menu, const std::string& label) {
    const ImVec2 at = ImGui::GetCursorScreenPos();
    const float width = ImGui::GetContentRegionAvail().x;
    const float height = ImGui::GetTextLineHeight();
    const bool open = ImGui::BeginMenu(label.c_str());
    menu.drawn.push_back({label, at.x, at.y, width, height});
    return open;
}

void DrawItem(ProgramMenu& menu, int id, const char* label, int& chosen) {
    const MenuLabel text = SplitMenuLabel(label);
    ImGui::PushID(id);
    if (ImGui::MenuItem(text.text.c_str(), text.shortcut.empty() ? nullptr : text.shortcut.c_str())) chosen = id;
    ImGui::PopID();
    NoteDrawn(menu, std::to_string(id));
}

// The entries of a dynamic submenu are names (projects, recipes, chains):
// a long one is cut with "…" where its reading ends, so the submenu stays
// within the display.
void DrawEntries(ProgramMenu& menu, const std::vector<MenuEntry>& entries, int& chosen) {
    const float room = PopupLabelRoom();
    for (const MenuEntry& entry : entries) {
        if (entry.separator) {
            ImGui::Separator();
        } else if (entry.id == 0) {
            ImGui::MenuItem(entry.text.c_str(), nullptr, false, false);
            NoteDrawn(menu, entry.text);
        } else {
            ImGui::PushID(entry.id);
            if (ImGui::MenuItem(FittedLabel(entry.text.c_str(), room).c_str())) chosen = entry.id;
            ImGui::PopID();
            NoteDrawn(menu, std::to_string(entry.id));
        }
    }
}

// One dynamic submenu: rebuilt when it opens, then its entries.
void DrawDynamicMenu(ProgramMenu& menu, AppState& app, MenuRowKind kind, const char* label, int& chosen,
                     DynamicMenusOpen& nowOpen) {
    if (!BeginNotedMenu(menu, SplitMenuLabel(label).text)) return;
    if (kind == MenuRowKind::RecentSubmenu) {
        if (!gDynamicOpen.recent) RebuildRecentMenu(app, menu);
        nowOpen.recent = true;
        DrawEntries(menu, menu.recent, chosen);
    } else {
        // Both lists are rebuilt together, as either submenu opens.
        const bool wasOpen = kind == MenuRowKind::RecipeSubmenu ? gDynamicOpen.recipes : gDynamicOpen.chains;
        if (!wasOpen) RebuildRecipeMenus(app, menu);
        (kind == MenuRowKind::RecipeSubmenu ? nowOpen.recipes : nowOpen.chains) = true;
        DrawEntries(menu, kind == MenuRowKind::RecipeSubmenu ? menu.recipes : menu.chains, chosen);
    }
    ImGui::EndMenu();
}

// Draws rows from `i` up to the end of the enclosing submenu (or the table)
// when `visible`, else only skips them; returns the index after them.
size_t DrawRows(ProgramMenu& menu, AppState& app, size_t i, bool visible, int& chosen, DynamicMenusOpen& nowOpen) {
    while (i < kProgramMenuRows) {
        const MenuRow& row = kProgramMenu[i++];
        switch (row.kind) {
            case MenuRowKind::SubmenuEnd: return i;
            case MenuRowKind::Submenu: {
                bool open = false;
                if (visible) open = BeginNotedMenu(menu, SplitMenuLabel(row.label).text);
                i = DrawRows(menu, app, i, open, chosen, nowOpen);
                if (open) ImGui::EndMenu();
                break;
            }
            case MenuRowKind::Separator:
                if (visible) ImGui::Separator();
                break;
            case MenuRowKind::Item:
                if (visible) DrawItem(menu, row.id, row.label, chosen);
                break;
            case MenuRowKind::RecentSubmenu:
            case MenuRowKind::RecipeSubmenu:
            case MenuRowKind::ChainSubmenu:
                if (visible) DrawDynamicMenu(menu, app, row.kind, row.label, chosen, nowOpen);
                break;
        }
    }
    return i;
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawProgramMenu
// ---------------------------------------------------------------------------

void DrawProgramMenu(ProgramMenu& menu, AppState& app) {
    menu.drawn.clear();
    if (menu.openPending) {
        menu.openPending = false;
        ImGui::OpenPopup(kPopupId);
    }
    // Always: the GUI would otherwise move a new popup away from the
    // display's edge, off the button's corner.
    ImGui::SetNextWindowPos(ImVec2(menu.popupX, menu.popupY), ImGuiCond_Always);
    int chosen = 0;
    DynamicMenusOpen nowOpen;
    menu.open = false;
    {
        PopupMenuScope look;
        if (ImGui::BeginPopup(kPopupId)) {
            menu.open = true;
            menu.openX = ImGui::GetWindowPos().x;
            menu.openY = ImGui::GetWindowPos().y;
            DrawRows(menu, app, 0, true, chosen, nowOpen);
            ImGui::EndPopup();
        }
    }
    gDynamicOpen = nowOpen;
    // Chosen items closed the popup; their command runs after it is drawn.
    if (chosen != 0) HandleMenuCommand(app, chosen);
}
