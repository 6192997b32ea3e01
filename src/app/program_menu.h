// program_menu.h — the program menu as a popup of our own, drawn from the
// table of program_menu_table.h.
//
// Index
//   TakeMenuPopupRequest   main loop, after the frame: the menu button's request
//   DrawProgramMenu        every frame, after the main window: the popup and its submenus
//
// The menu button asks (`menuPopupRequest`); the main loop takes the request
// after the frame, rebuilds Open Recent and has the next frame open the popup
// with its top-left corner at the button's bottom-left. Open Recent, Place
// Recipe and Place Chain are rebuilt again each time they open. A chosen item
// goes to HandleMenuCommand (the popup closes); the greyed placeholders
// cannot be chosen. Drawn in the pop-up look (PopupMenuScope).
#pragma once

struct AppState;
struct ProgramMenu;

// True when a request was taken: the caller draws the next frame without
// waiting for input.
bool TakeMenuPopupRequest(ProgramMenu& menu, AppState& app);

void DrawProgramMenu(ProgramMenu& menu, AppState& app);
