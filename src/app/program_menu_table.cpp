// program_menu_table.cpp — the menu's rows, its dynamic submenus, the
// command switch and the accelerators.
//
// Index
//   kProgramMenu / SplitMenuLabel
//   Dynamic submenus     BuildMenuBar, RebuildRecentMenu, RebuildRecipeMenus
//   HandleMenuCommand
//   Accelerators
#include "app/program_menu_table.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/shell_services.h"
#include "operations/app_state.h"

ProgramMenu gProgramMenu;

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

namespace {

constexpr MenuRowKind I = MenuRowKind::Item;
constexpr MenuRowKind S = MenuRowKind::Separator;
constexpr MenuRowKind M = MenuRowKind::Submenu;
constexpr MenuRowKind E = MenuRowKind::SubmenuEnd;

}  // namespace

const MenuRow kProgramMenu[] = {
    {M, 0, "&File"},
    {I, 33, "&New\tCtrl+N"},
    {I, 34, "&Open...\tCtrl+O"},
    {MenuRowKind::RecentSubmenu, 0, "Open &Recent"},
    {I, 41, "Project &Launcher...\tCtrl+Shift+1"},
    {S, 0, ""},
    {I, 43, "Import &Video..."},
    {I, 44, "Import &Markers..."},
    {S, 0, ""},
    {I, 10, "&Save\tCtrl+S"},
    {I, 35, "Save &As...\tCtrl+Shift+S"},
    {S, 0, ""},
    {I, 36, "&Export...\tCtrl+Shift+E"},
    {S, 0, ""},
    {I, 37, "&Close\tCtrl+W"},
    {S, 0, ""},
    {I, 38, "Se&ttings...\tCtrl+,"},
    {S, 0, ""},
    {I, kCommandExit, "E&xit\tAlt+F4"},
    {E, 0, ""},

    {M, 0, "&Edit"},
    {I, 3, "&Undo\tCtrl+Z"},
    {I, 4, "&Redo\tCtrl+Shift+Z"},
    {S, 0, ""},
    {I, 5, "Cu&t\tCtrl+X"},
    {I, 6, "&Copy\tCtrl+C"},
    {I, 7, "&Paste\tCtrl+V"},
    {I, 8, "&Delete\tDel"},
    {S, 0, ""},
    {I, 9, "Select &All\tCtrl+A"},
    {S, 0, ""},
    {I, 17, "&Group\tCtrl+G"},
    {I, 18, "U&ngroup\tCtrl+Shift+G"},
    {I, 24, "&Lock / Unlock\tCtrl+L"},
    {E, 0, ""},

    {M, 0, "&Composition"},
    {I, 19, "&Render"},
    {S, 0, ""},
    {I, 25, "Create &Spot"},
    {I, 26, "Create &Bloom"},
    {I, 27, "Create &Contour"},
    {I, 28, "Create &Fill"},
    {S, 0, ""},
    {I, 53, "Place C&lip..."},
    {I, 54, "Place B&ed"},
    {MenuRowKind::RecipeSubmenu, 0, "Place Recipe"},
    {MenuRowKind::ChainSubmenu, 0, "Place Chain"},
    {S, 0, ""},
    {I, 20, "Set &In Point"},
    {I, 21, "Set &Out Point"},
    {I, 22, "Clear &Work Area"},
    {I, 23, "Save Scene\tCtrl+B"},
    {S, 0, ""},
    {I, 11, "&Draw Mode"},
    {I, 16, "&Mute / Unmute"},
    {I, 55, "Bou&nce Selection to Clip"},
    {E, 0, ""},

    {M, 0, "&View"},
    {I, 14, "Zoom &In\tCtrl+="},
    {I, 15, "Zoom &Out\tCtrl+-"},
    {I, 42, "Zoom to &Fit\tCtrl+0"},
    {S, 0, ""},
    {I, 45, "&Events"},
    {I, 46, "&Trace"},
    {I, 48, "&Mixer"},
    {I, 47, "&Library"},
    {I, 36, "E&xport"},
    {I, 38, "&Settings"},
    {E, 0, ""},

    {M, 0, "&Help"},
    {I, 40, "&User Guide\tF1"},
    {S, 0, ""},
    {I, 39, "&About Tessaloom"},
    {E, 0, ""},
};
const size_t kProgramMenuRows = sizeof kProgramMenu / sizeof kProgramMenu[0];

MenuLabel SplitMenuLabel(const char* label) {
    MenuLabel out;
    if (!label) return out;
    std::string* target = &out.text;
    for (const char* c = label; *c; ++c) {
        if (*c == '\t' && target == &out.text) {
            target = &out.shortcut;
        } else if (*c == '&' && target == &out.text) {
            // "&&" is a literal ampersand; a single one marks the access key.
            if (c[1] == '&') {
                out.text += '&';
                ++c;
            }
        } else {
            *target += *c;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Dynamic submenus
// ---------------------------------------------------------------------------

void BuildMenuBar() {
    gProgramMenu.recent.clear();
    RebuildRecipeMenus(gAppState, gProgramMenu);
}

std::string RecentMenuText(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

void RebuildRecentMenu(AppState& app, ProgramMenu& menu) {
    menu.recent.clear();
    const int n = std::min(static_cast<int>(app.recentProjects.size()), kRecentMenuMax);
    for (int i = 0; i < n; ++i) {
        std::string text = RecentMenuText(app.recentProjects[static_cast<size_t>(i)]);
        if (!text.empty()) menu.recent.push_back({kCommandRecentBase + i, std::move(text), false});
    }
    if (!app.recentProjects.empty()) {
        menu.recent.push_back({0, "", true});
        menu.recent.push_back({kCommandClearRecent, "Clear Menu", false});
    }
    app.recentMenuDirty = false;
}

namespace {

void FillNameMenu(std::vector<MenuEntry>& entries, const std::vector<std::string>& names, int base,
                  const char* placeholder) {
    entries.clear();
    const int n = std::min(static_cast<int>(names.size()), kRecipeMenuMax);
    if (n == 0) entries.push_back({0, placeholder, false});
    for (int i = 0; i < n; ++i) entries.push_back({base + i, names[static_cast<size_t>(i)], false});
}

}  // namespace

void RebuildRecipeMenus(AppState& app, ProgramMenu& menu, const std::vector<std::string>& recipeNames,
                        const std::vector<std::string>& chainNames) {
    FillNameMenu(menu.recipes, recipeNames, kCommandRecipeBase, "No Recipes Saved");
    FillNameMenu(menu.chains, chainNames, kCommandChainBase, "No Chains Saved");
    app.recipeMenusDirty = false;
}

void RebuildRecipeMenus(AppState& app, ProgramMenu& menu) {
    // Until the recipe and chain lists exist, both submenus show their placeholder.
    const ShellServices& services = gShellServices;
    RebuildRecipeMenus(app, menu, services.recipeNames ? services.recipeNames() : std::vector<std::string>{},
                       services.chainNames ? services.chainNames() : std::vector<std::string>{});
}

// ---------------------------------------------------------------------------
// HandleMenuCommand
// ---------------------------------------------------------------------------

void HandleMenuCommand(AppState& app, int id) {
    gProgramMenu.lastCommand = id;
    switch (id) {
        case 0: return;  // the greyed placeholders
        case kCommandExit:
            // The same road as the close button: DrawUI decides.
            app.quitRequested = true;
            return;
        case kCommandClearRecent:
            app.recentProjects.clear();
            app.recentMenuDirty = true;
            if (gShellServices.savePreferences) gShellServices.savePreferences();
            return;
        default:
            std::printf("[UI] menu command %d\n", id);
            std::fflush(stdout);
            app.pendingCommand.store(id);
            return;
    }
}

// ---------------------------------------------------------------------------
// Accelerators
// ---------------------------------------------------------------------------

const Accelerator kAccelerators[kAcceleratorCount] = {
    {{'n', true, false, false}, 33},    // Ctrl+N
    {{'o', true, false, false}, 34},    // Ctrl+O
    {{'s', true, true, false}, 35},     // Ctrl+Shift+S
    {{'e', true, true, false}, 36},     // Ctrl+Shift+E
    {{'w', true, false, false}, 37},    // Ctrl+W
    {{'1', true, true, false}, 41},     // Ctrl+Shift+1
    {{',', true, false, false}, 38},    // Ctrl+,
    {{'=', true, false, false}, 14},    // Ctrl+=
    {{'-', true, false, false}, 15},    // Ctrl+-
    {{'0', true, false, false}, 42},    // Ctrl+0
    {{kKeyF1, false, false, false}, 40},  // F1
};

int MatchAccelerator(const KeyChord& chord) {
    for (const Accelerator& a : kAccelerators) {
        if (a.keys.key == chord.key && a.keys.ctrl == chord.ctrl && a.keys.shift == chord.shift &&
            a.keys.alt == chord.alt)
            return a.command;
    }
    return 0;
}
