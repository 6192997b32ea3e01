// program_menu_table.h — the program menu and its accelerators as data, and
// the one place a chosen command goes.
//
// Index
//   Command identifiers      in command_ids.h; here the dynamic submenus' sizes
//   MenuRow / kProgramMenu   the menu, one row per item, separator or submenu
//   SplitMenuLabel           label text without "&" marks, shortcut text after "\t"
//   MenuEntry / ProgramMenu  the dynamic submenus and the popup's request; gProgramMenu
//   BuildMenuBar             start-up: the dynamic submenus' first contents
//   RebuildRecentMenu        Open Recent from `recentProjects`
//   RebuildRecipeMenus       Place Recipe and Place Chain from the recipe and chain names
//   HandleMenuCommand        900 quits, 901 clears the recent list, 0 is dropped,
//                            everything else is parked in `pendingCommand`
//   KeyChord / kAccelerators / MatchAccelerator   the 11 accelerators
//
// The menu is the program's command vocabulary: the ids are shared with the
// keyboard dispatch, which executes `pendingCommand` on the next frame. Labels
// keep their access-key marks ("&New\tCtrl+N") as the menu's own texts;
// SplitMenuLabel gives what is shown. Ids 36 (Export) and 38 (Settings) appear
// in File and in View and mean the same command.
//
// No GUI here: program_menu.h draws the popup from this table. UI thread only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/command_ids.h"

struct AppState;

// ---------------------------------------------------------------------------
// Command identifiers
// ---------------------------------------------------------------------------

constexpr int kRecentMenuMax = 10;
constexpr int kRecipeMenuMax = 30;

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

enum class MenuRowKind {
    Item,           // id and label
    Separator,
    Submenu,        // label; rows up to the matching SubmenuEnd
    SubmenuEnd,
    RecentSubmenu,  // "Open Recent": filled by RebuildRecentMenu
    RecipeSubmenu,  // "Place Recipe": filled by RebuildRecipeMenus
    ChainSubmenu,   // "Place Chain": likewise
};

struct MenuRow {
    MenuRowKind kind;
    int id;
    const char* label;
};

extern const MenuRow kProgramMenu[];
extern const size_t kProgramMenuRows;

struct MenuLabel {
    std::string text;      // "&" marks removed, "&&" kept as one "&"
    std::string shortcut;  // after "\t"; empty when none
};
MenuLabel SplitMenuLabel(const char* label);

// ---------------------------------------------------------------------------
// Dynamic submenus and the popup
// ---------------------------------------------------------------------------

struct MenuEntry {
    int id = 0;  // 0: a greyed placeholder, never chosen
    std::string text;
    bool separator = false;
};

// Where an item or submenu was drawn in the last frame (points): "File",
// "Open Recent", the item's id ("1000"), or a placeholder's text.
struct DrawnMenuItem {
    std::string key;
    float x = 0, y = 0, w = 0, h = 0;
};

struct ProgramMenu {
    std::vector<MenuEntry> recent;
    std::vector<MenuEntry> recipes;
    std::vector<MenuEntry> chains;
    // Set by the menu button; the main loop opens the popup at (x, y), the
    // button's bottom-left corner in points.
    bool menuPopupRequest = false;
    float popupX = 0;
    float popupY = 0;
    bool openPending = false;  // the next frame opens the popup
    bool open = false;         // the popup was drawn in the last frame
    float openX = -1;          // where it was drawn (points)
    float openY = -1;
    int lastCommand = 0;       // the last id HandleMenuCommand received
    std::vector<DrawnMenuItem> drawn;
};
extern ProgramMenu gProgramMenu;

void BuildMenuBar();

// Items 1000 + i for the first 10 recent projects, each shown by its file
// name without the last extension; an item whose name is empty is skipped
// but keeps its id. Then, when the list is not empty, a separator and
// "Clear Menu" (901). Clears `recentMenuDirty`.
void RebuildRecentMenu(AppState& app, ProgramMenu& menu);
// The name a recent project shows (the path's stem: "Reel 2.mix" for
// ".../Reel 2.mix.tlproj").
std::string RecentMenuText(const std::string& path);

// Items 2000 + i and 3000 + i for the first 30 names of each list, or the
// greyed "No Recipes Saved" / "No Chains Saved". Clears `recipeMenusDirty`.
void RebuildRecipeMenus(AppState& app, ProgramMenu& menu, const std::vector<std::string>& recipeNames,
                        const std::vector<std::string>& chainNames);
// The lists of the recipes subsystem, through the shell's services.
void RebuildRecipeMenus(AppState& app, ProgramMenu& menu);

// What choosing a menu item (or an accelerator) does with its id.
void HandleMenuCommand(AppState& app, int id);


// ---------------------------------------------------------------------------
// Accelerators
// ---------------------------------------------------------------------------

constexpr int kKeyF1 = 0x10001;

// `key`: a lower-case ASCII character of the key's unshifted face ('n', '1',
// ',', '=', '-') or kKeyF1.
struct KeyChord {
    int key = 0;
    bool ctrl = false;
    bool shift = false;
    bool alt = false;
};

struct Accelerator {
    KeyChord keys;
    int command;
};
constexpr int kAcceleratorCount = 11;
extern const Accelerator kAccelerators[kAcceleratorCount];

// The command of the accelerator whose key and modifiers match exactly (Ctrl,
// Shift and Alt each held or not as the entry says); 0 when none does.
int MatchAccelerator(const KeyChord& chord);
