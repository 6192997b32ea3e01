// tab_row.h — the six tabs at the right end of the title bar.
//
// Index
//   TabRowEntry / kTabRowEntries   tab value and label, in drawing order (right to left)
//   TabRowState / gTabRow          what the last frame laid out (the state dump reads it)
//   DrawTabRow                     eases the label reveal, draws the tabs and their badges
//   DumpTabRow                     "tabs.*" fields of the window test driver's dump
//
// The tabs read, left to right, Events, Trace, Mixer, Library, Export,
// Settings; they end before the caption buttons' reserve. Each label is an
// icon of the icon font, two blanks and the name. While all full labels fit
// between the title and that reserve, the reveal factor eases towards 1,
// else towards 0 (icons only, names as tooltips); `uiAnimating` is set while
// it moves. Badges: a dot on Settings while an update the user has not
// dismissed is available, the missing-file count on Library.
//
// Drawn inside the title bar's child window: items of the main window under
// a child could never be hovered or clicked. Coordinates are the title bar's,
// which starts at the main window's origin.
#pragma once

#include <string>

struct AppState;
struct StateDump;
struct UILayout;

struct TabRowEntry {
    int tab;
    const char* label;
};
// Settings (5), Export (4), Library (2), Mixer (3), Trace (1), Events (0).
extern const TabRowEntry kTabRowEntries[6];

struct TabRowRect {
    float x = 0, y = 0, width = 0, height = 0;
};

struct TabRowState {
    TabRowRect rects[6];  // by tab value, in points
    bool drawn = false;
    bool showLabels = true;
    int libraryBadge = 0;  // missing files shown on Library (0: none)
    bool settingsBadge = false;
};
extern TabRowState gTabRow;

// `missingFileCount` is the length of the missing-file list.
void DrawTabRow(AppState& app, const UILayout& layout, int missingFileCount);

void DumpTabRow(StateDump& dump);
