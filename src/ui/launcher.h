// launcher.h — the launcher card over the main window: recent projects with
// their descriptions and dates, New Project, Open File…, and the start-up
// switch.
//
// Index
//   LauncherFrameState / gLauncherFrame   what the last frame drew (the test dump reads it)
//   DrawLauncher        the backdrop and the card, while `showLauncher` is set
//   DumpLauncher        "launcher.*" fields of the window test driver's dump
//
// Drawn after the main window's regions as windows of their own: a
// backdrop over the whole window that takes the click outside the card
// (which closes it), and the card centred on it. UI thread, inside a frame.
#pragma once

#include <map>
#include <string>
#include <vector>

struct AppState;
struct LauncherActions;
struct StateDump;
struct UILayout;

struct LauncherRect {
    float x = 0, y = 0, width = 0, height = 0;
};

struct LauncherFrameState {
    bool drawn = false;
    LauncherRect card;
    std::vector<LauncherRect> rows;  // recent projects, in list order
    std::vector<std::string> dates;
    std::vector<std::string> descriptions;
    std::map<std::string, LauncherRect> buttons;  // "new", "open", "startup"
    bool logoPicture = false;  // the header shows the logo's picture (its face has no logo glyph)
};
extern LauncherFrameState gLauncherFrame;

void DrawLauncher(AppState& app, const UILayout& layout, const LauncherActions& actions);

void DumpLauncher(StateDump& dump);
