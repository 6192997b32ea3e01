// title_bar.h — the shell's two pieces of the title bar: the menu button at
// its left and the minimise, maximise (or restore) and close buttons at its
// right.
//
// Index
//   DrawHamburgerMenu         the menu button at x; asks for the program menu
//   DrawTitleBar              the caption buttons; stores their hit rectangles
//   InstallTitleBarCallbacks  start-up: `customTitleBar`, the insets, both callbacks
//   DumpTitleBar              "caption.*", "titleBar.*" and "menu.*" fields of the test dump
//
// Both draw into the current GUI window (the title bar's child, at the main
// window's origin) with its draw list, in points. The caption buttons are
// only drawn here: their hover comes from the window's mouse events
// (window_caption.h) and their clicks are the caption's, not the GUI's.
//
// Lengths the look defines in pixels (the menu icon's lines and gaps, the
// caption icons' line width) are turned into points, so that the icons look
// the same and stay on whole pixels at every UI scale.
#pragma once

struct AppState;
struct StateDump;

// Draws the button "##hamburger" at (x, 0), round(0.9 · height) wide and
// `height` high, and advances x past it and a small gap. A click sets
// `menuPopupRequest` with the button's bottom-left corner as the popup's
// place (the main loop opens the menu); a click while the menu is open only
// closes it.
void DrawHamburgerMenu(float& x, float height);

// Three buttons of 46 points ending at the window's right edge, the full
// height; the hovered one highlighted (close in red with a white cross).
void DrawTitleBar(float height);

void InstallTitleBarCallbacks(AppState& app);

void DumpTitleBar(StateDump& dump);
