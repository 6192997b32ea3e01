// The program menu: its table, the dynamic submenus, where chosen commands
// go, the accelerators, and the popup driven with the mouse in a windowless GUI.
#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/program_menu.h"
#include "app/program_menu_table.h"
#include "app/shell_services.h"
#include "app/window_caption.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"

namespace {

// Swaps in a recording preferences writer and restores the shell's
// services and the global state the menu touches.
class MenuRig : public testing::Test {
protected:
    void SetUp() override {
        saved = gShellServices;
        gShellServices.savePreferences = [this] {
            ++saves;
            savedRecent = gAppState.recentProjects;
        };
        Reset();
    }
    void TearDown() override {
        gShellServices = saved;
        Reset();
    }
    static void Reset() {
        AppState& app = gAppState;
        app.recentProjects.clear();
        app.pendingCommand = 0;
        app.quitRequested = false;
        app.recentMenuDirty = false;
        app.recipeMenusDirty = true;
        gProgramMenu = ProgramMenu{};
    }

    ShellServices saved;
    int saves = 0;
    std::vector<std::string> savedRecent;
};

// Top-level submenu of every item id.
std::multimap<int, std::string> ItemsByMenu() {
    std::multimap<int, std::string> where;
    std::string top;
    int depth = 0;
    for (size_t i = 0; i < kProgramMenuRows; ++i) {
        const MenuRow& row = kProgramMenu[i];
        if (row.kind == MenuRowKind::Submenu) {
            if (depth++ == 0) top = SplitMenuLabel(row.label).text;
        } else if (row.kind == MenuRowKind::SubmenuEnd) {
            --depth;
        } else if (row.kind == MenuRowKind::Item) {
            where.emplace(row.id, top);
        }
    }
    EXPECT_EQ(depth, 0) << "every submenu is closed";
    return where;
}

std::vector<std::string> Texts(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> texts;
    for (const MenuEntry& e : entries) texts.push_back(e.separator ? "---" : e.text);
    return texts;
}

SDL_Event KeyDown(SDL_Keycode sym, SDL_Scancode scancode, uint16_t mod) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = scancode;
    e.key.keysym.mod = mod;
    return e;
}

}  // namespace

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

TEST_F(MenuRig, TheTableHoldsEachCommandOnceExceptExportAndSettingsInFileAndView) {
    const auto where = ItemsByMenu();
    std::vector<std::string> tops;
    for (size_t i = 0; i < kProgramMenuRows; ++i) {
        // Top-level submenus are the rows after a top-level end (or the first).
        if (kProgramMenu[i].kind == MenuRowKind::Submenu && (i == 0 || kProgramMenu[i - 1].kind == MenuRowKind::SubmenuEnd))
            tops.push_back(SplitMenuLabel(kProgramMenu[i].label).text);
    }
    EXPECT_EQ(tops, (std::vector<std::string>{"File", "Edit", "Composition", "View", "Help"}));

    for (int id : {36, 38}) {
        auto [first, last] = where.equal_range(id);
        std::set<std::string> menus;
        for (auto it = first; it != last; ++it) menus.insert(it->second);
        EXPECT_EQ(menus, (std::set<std::string>{"File", "View"})) << id;
        EXPECT_EQ(where.count(id), 2u) << id;
    }
    std::set<int> ids;
    for (const auto& [id, menu] : where) {
        ids.insert(id);
        EXPECT_GT(id, 0) << "no item carries the placeholder id";
        if (id != 36 && id != 38) {
            EXPECT_EQ(where.count(id), 1u) << id;
        }
    }
    EXPECT_EQ(ids.size(), 44u);
    EXPECT_EQ(where.find(kCommandExit)->second, "File");
    EXPECT_EQ(where.find(40)->second, "Help");
    for (int keyOnly : {1, 2, 12, 13, 29, 30, 31, 32}) EXPECT_EQ(where.count(keyOnly), 0u) << keyOnly;

    // Shown texts carry no access-key marks; accelerators show their keys.
    for (size_t i = 0; i < kProgramMenuRows; ++i) {
        const MenuLabel label = SplitMenuLabel(kProgramMenu[i].label);
        EXPECT_EQ(label.text.find('&'), std::string::npos) << kProgramMenu[i].label;
        EXPECT_EQ(label.text.find('\t'), std::string::npos) << kProgramMenu[i].label;
    }
    for (const Accelerator& a : kAccelerators) {
        bool shown = false;
        for (size_t i = 0; i < kProgramMenuRows; ++i)
            if (kProgramMenu[i].kind == MenuRowKind::Item && kProgramMenu[i].id == a.command)
                shown = shown || !SplitMenuLabel(kProgramMenu[i].label).shortcut.empty();
        EXPECT_TRUE(shown) << "command " << a.command << " shows its shortcut";
    }
}

TEST_F(MenuRig, LabelsLoseTheirMarksAndSplitAtTheTab) {
    MenuLabel settings = SplitMenuLabel("Se&ttings...\tCtrl+,");
    EXPECT_EQ(settings.text, "Settings...");
    EXPECT_EQ(settings.shortcut, "Ctrl+,");
    MenuLabel plain = SplitMenuLabel("Place Recipe");
    EXPECT_EQ(plain.text, "Place Recipe");
    EXPECT_TRUE(plain.shortcut.empty());
    EXPECT_EQ(SplitMenuLabel("Sound && &Vision\tA&B").text, "Sound & Vision");
    EXPECT_EQ(SplitMenuLabel("Sound && &Vision\tA&B").shortcut, "A&B") << "marks belong to the label only";
}

// ---------------------------------------------------------------------------
// Dynamic submenus
// ---------------------------------------------------------------------------

TEST_F(MenuRig, RecipeAndChainMenusShowThirtyNamesOrTheirPlaceholders) {
    std::vector<std::string> recipes;
    for (int i = 0; i < 31; ++i) recipes.push_back("Recipe " + std::to_string(i));
    RebuildRecipeMenus(gAppState, gProgramMenu, recipes, {"Door slam"});
    ASSERT_EQ(gProgramMenu.recipes.size(), 30u);
    EXPECT_EQ(gProgramMenu.recipes.front().id, 2000);
    EXPECT_EQ(gProgramMenu.recipes.back().id, 2029);
    EXPECT_EQ(gProgramMenu.recipes.back().text, "Recipe 29");
    ASSERT_EQ(gProgramMenu.chains.size(), 1u);
    EXPECT_EQ(gProgramMenu.chains[0].id, 3000);
    EXPECT_FALSE(gAppState.recipeMenusDirty);

    // Until the recipes subsystem lists anything, the services give nothing.
    gShellServices.recipeNames = nullptr;
    gShellServices.chainNames = nullptr;
    BuildMenuBar();
    ASSERT_EQ(gProgramMenu.recipes.size(), 1u);
    EXPECT_EQ(gProgramMenu.recipes[0].id, 0);
    EXPECT_EQ(gProgramMenu.recipes[0].text, "No Recipes Saved");
    ASSERT_EQ(gProgramMenu.chains.size(), 1u);
    EXPECT_EQ(gProgramMenu.chains[0].text, "No Chains Saved");
}

TEST_F(MenuRig, RecentMenuShowsStemsOfTheFirstTenThenClearMenu) {
    AppState& app = gAppState;
    app.recentProjects = {"/films/Reel 2.mix.tlproj", "/films/.tlproj", "/films/", "/films/Trailer.tlproj"};
    app.recentMenuDirty = true;
    RebuildRecentMenu(app, gProgramMenu);
    EXPECT_EQ(Texts(gProgramMenu.recent),
              (std::vector<std::string>{"Reel 2.mix", ".tlproj", "Trailer", "---", "Clear Menu"}));
    EXPECT_EQ(gProgramMenu.recent[0].id, 1000);
    EXPECT_EQ(gProgramMenu.recent[1].id, 1001) << "a name that starts with its dot keeps it";
    EXPECT_EQ(gProgramMenu.recent[2].id, 1003) << "the nameless entry keeps its id";
    EXPECT_EQ(gProgramMenu.recent[4].id, kCommandClearRecent);
    EXPECT_FALSE(app.recentMenuDirty);

    app.recentProjects.clear();
    for (int i = 0; i < 12; ++i) app.recentProjects.push_back("/p/r" + std::to_string(i) + ".tlproj");
    RebuildRecentMenu(app, gProgramMenu);
    ASSERT_EQ(gProgramMenu.recent.size(), 12u);  // ten, separator, Clear Menu
    EXPECT_EQ(gProgramMenu.recent[9].id, 1009);

    app.recentProjects.clear();
    RebuildRecentMenu(app, gProgramMenu);
    EXPECT_TRUE(gProgramMenu.recent.empty()) << "no separator and no Clear Menu";
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

TEST_F(MenuRig, ExitQuitsClearMenuSavesZeroIsDroppedOthersAreParked) {
    AppState& app = gAppState;
    HandleMenuCommand(app, 0);
    EXPECT_EQ(app.pendingCommand.load(), 0);

    HandleMenuCommand(app, 1002);
    EXPECT_EQ(app.pendingCommand.load(), 1002);
    HandleMenuCommand(app, 35);
    EXPECT_EQ(app.pendingCommand.load(), 35) << "a newer command replaces one not yet run";

    app.pendingCommand = 0;
    HandleMenuCommand(app, kCommandExit);
    EXPECT_TRUE(app.quitRequested) << "Exit goes the close button's way";
    EXPECT_EQ(app.pendingCommand.load(), 0);

    app.recentProjects = {"/a/x.tlproj", "/a/y.tlproj"};
    HandleMenuCommand(app, kCommandClearRecent);
    EXPECT_TRUE(app.recentProjects.empty());
    EXPECT_TRUE(app.recentMenuDirty);
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(savedRecent.empty()) << "the preferences were written without the list";
    EXPECT_EQ(app.pendingCommand.load(), 0);
}

TEST_F(MenuRig, AcceleratorsNeedTheirExactModifiers) {
    EXPECT_EQ(MatchAccelerator({'s', true, true, false}), 35);
    EXPECT_EQ(MatchAccelerator({'s', true, false, false}), 0) << "Ctrl+S is the keyboard dispatch's";
    EXPECT_EQ(MatchAccelerator({'n', true, true, false}), 0);
    EXPECT_EQ(MatchAccelerator({'n', true, false, false}), 33);
    EXPECT_EQ(MatchAccelerator({'n', true, false, true}), 0);
    EXPECT_EQ(MatchAccelerator({'n', false, false, false}), 0);
    EXPECT_EQ(MatchAccelerator({kKeyF1, false, false, false}), 40);
    EXPECT_EQ(MatchAccelerator({kKeyF1, false, true, false}), 0);
    EXPECT_EQ(MatchAccelerator({'1', true, true, false}), 41);
    EXPECT_EQ(MatchAccelerator({',', true, false, false}), 38);
    EXPECT_EQ(MatchAccelerator({'=', true, false, false}), 14);
    EXPECT_EQ(MatchAccelerator({'-', true, false, false}), 15);
    EXPECT_EQ(MatchAccelerator({'0', true, false, false}), 42);
}

TEST_F(MenuRig, KeyDownsBecomeCommandsBeforeTheGuiEvenInATextField) {
    AppState& app = gAppState;
    // Either Ctrl counts; Num Lock and Caps Lock do not matter.
    EXPECT_TRUE(HandleAcceleratorEvent(app, KeyDown('s', SDL_SCANCODE_S, KMOD_RCTRL | KMOD_LSHIFT | KMOD_NUM)));
    EXPECT_EQ(app.pendingCommand.exchange(0), 35);
    EXPECT_FALSE(HandleAcceleratorEvent(app, KeyDown('s', SDL_SCANCODE_S, KMOD_LCTRL)));
    EXPECT_FALSE(HandleAcceleratorEvent(app, KeyDown('n', SDL_SCANCODE_N, KMOD_LCTRL | KMOD_RSHIFT)));
    EXPECT_EQ(app.pendingCommand.load(), 0);
    // The top row's digits on a layout whose key shows '&'; a key with a
    // Cyrillic face at the place of N.
    EXPECT_TRUE(HandleAcceleratorEvent(app, KeyDown('&', SDL_SCANCODE_1, KMOD_LCTRL | KMOD_LSHIFT)));
    EXPECT_EQ(app.pendingCommand.exchange(0), 41);
    EXPECT_TRUE(HandleAcceleratorEvent(app, KeyDown(0x0442, SDL_SCANCODE_N, KMOD_LCTRL | KMOD_CAPS)));
    EXPECT_EQ(app.pendingCommand.exchange(0), 33);
    SDL_Event up = KeyDown(SDLK_F1, SDL_SCANCODE_F1, 0);
    up.type = SDL_KEYUP;
    EXPECT_FALSE(HandleAcceleratorEvent(app, up)) << "releases go to the GUI";

    // A text field with the keyboard does not keep F1 or Ctrl+Shift+S from the menu.
    HeadlessGui gui;
    char text[32] = "Reel";
    for (int frame = 0; frame < 3; ++frame) {
        gui.Frame();
        ImGui::Begin("##field");
        if (frame == 0) ImGui::SetKeyboardFocusHere();
        ImGui::InputText("##name", text, sizeof text);
        ImGui::End();
        gui.EndFrame();
    }
    ASSERT_TRUE(ImGui::GetIO().WantTextInput) << "the field has the keyboard";
    EXPECT_TRUE(HandleAcceleratorEvent(app, KeyDown(SDLK_F1, SDL_SCANCODE_F1, KMOD_NONE)));
    EXPECT_EQ(app.pendingCommand.exchange(0), 40);
    EXPECT_TRUE(HandleAcceleratorEvent(app, KeyDown('s', SDL_SCANCODE_S, KMOD_LCTRL | KMOD_LSHIFT)));
    EXPECT_EQ(app.pendingCommand.exchange(0), 35);
    EXPECT_STREQ(text, "Reel");
}

// ---------------------------------------------------------------------------
// The popup, with the mouse
// ---------------------------------------------------------------------------

namespace {

class PopupRig : public MenuRig {
protected:
    // One frame with the pointer at (x, y) and the left button as given.
    void Step(float x, float y, bool down) {
        gui.MoveMouse(x, y);
        gui.SetButton(0, down);
        gui.Frame();
        DrawProgramMenu(gProgramMenu, gAppState);
        gui.EndFrame();
    }
    void Hover(float x, float y) {
        for (int i = 0; i < 4; ++i) Step(x, y, false);
    }
    void Click(float x, float y) {
        Step(x, y, false);
        Step(x, y, true);
        Step(x, y, false);
        Step(x, y, false);
    }
    // The centre of a row drawn in the last frame.
    bool Centre(const std::string& key, float& x, float& y) {
        for (const DrawnMenuItem& item : gProgramMenu.drawn) {
            if (item.key != key) continue;
            x = item.x + item.w / 2;
            y = item.y + item.h / 2;
            return true;
        }
        return false;
    }
    void Open() {
        gProgramMenu.menuPopupRequest = true;
        gProgramMenu.popupX = 0;
        gProgramMenu.popupY = 40;
        ASSERT_TRUE(TakeMenuPopupRequest(gProgramMenu, gAppState));
        Hover(600, 600);
        ASSERT_TRUE(gProgramMenu.open);
    }
    // Hovers each row in turn; false when one is not drawn.
    bool HoverPath(const std::vector<std::string>& keys) {
        for (const std::string& key : keys) {
            float x = 0, y = 0;
            if (!Centre(key, x, y)) return false;
            Hover(x, y);
        }
        return true;
    }

    HeadlessGui gui{1280, 720};
};

}  // namespace

TEST_F(PopupRig, ARecentItemParksItsIdAndClearMenuEmptiesTheList) {
    gAppState.recentProjects = {"/films/Reel 1.tlproj", "/films/Reel 2.mix.tlproj"};
    Open();
    EXPECT_FLOAT_EQ(gProgramMenu.openX, 0);
    EXPECT_FLOAT_EQ(gProgramMenu.openY, 40) << "the popup's corner is the button's bottom-left";
    EXPECT_EQ(gProgramMenu.recent.size(), 4u) << "the request rebuilt Open Recent";

    ASSERT_TRUE(HoverPath({"File", "Open Recent"}));
    float x = 0, y = 0;
    ASSERT_TRUE(Centre("1001", x, y)) << "the second recent project is shown";
    Click(x, y);
    EXPECT_EQ(gAppState.pendingCommand.load(), 1001);
    EXPECT_FALSE(gProgramMenu.open) << "choosing an item closes the menu";

    gAppState.pendingCommand = 0;
    Open();
    ASSERT_TRUE(HoverPath({"File", "Open Recent"}));
    ASSERT_TRUE(Centre("901", x, y));
    Click(x, y);
    EXPECT_TRUE(gAppState.recentProjects.empty());
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(gAppState.pendingCommand.load(), 0) << "Clear Menu is the window's own";
}

TEST_F(PopupRig, PlaceholdersCannotBeChosenAndListsAreReadAsTheSubmenuOpens) {
    Open();
    ASSERT_TRUE(HoverPath({"Composition", "Place Recipe"}));
    ASSERT_EQ(gProgramMenu.recipes.size(), 1u);
    EXPECT_EQ(gProgramMenu.recipes[0].text, "No Recipes Saved");
    float x = 0, y = 0;
    ASSERT_TRUE(Centre("No Recipes Saved", x, y));
    Click(x, y);
    EXPECT_EQ(gAppState.pendingCommand.load(), 0);
    EXPECT_EQ(gProgramMenu.lastCommand, 0);
    EXPECT_TRUE(gProgramMenu.open) << "a greyed item does nothing";

    // A recipe saved while the menu is closed shows the next time the submenu opens.
    gShellServices.recipeNames = [] { return std::vector<std::string>{"Whoosh", "Thud"}; };
    Click(600, 600);
    EXPECT_FALSE(gProgramMenu.open) << "a click outside closes the menu";
    Open();
    ASSERT_TRUE(HoverPath({"Composition", "Place Recipe"}));
    EXPECT_EQ(Texts(gProgramMenu.recipes), (std::vector<std::string>{"Whoosh", "Thud"}));
    ASSERT_TRUE(Centre("2001", x, y));
    Click(x, y);
    EXPECT_EQ(gAppState.pendingCommand.load(), 2001);
}
