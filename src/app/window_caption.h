// window_caption.h — the main window's own caption on SDL, and the keys that
// reach the menu's commands before the GUI.
//
// Index
//   InstallWindowCaption     hit test (drag zone, resize bands), minimum size
//   UsableScreenArea         the usable area of the screen the window is on
//   CurrentCaptionGeometry   the hit test's view of the window now
//   HandleCaptionEvent       hover, press and release on the caption buttons,
//                            the drag zone's double-click; true when consumed
//   KeyChordFromSdl / HandleAcceleratorEvent   the 11 accelerators
//
// The window is borderless: the window system moves and sizes it through the
// hit test (SDL_SetWindowHitTest), which takes presses in the drag zone and
// the resize bands before they become mouse events. The caption buttons are
// ordinary client area: their hover, press and release come as mouse events
// and are judged on the rectangles the title bar stored. A press on a button
// and its release are the caption's, never the GUI's.
//
// A press in the drag zone never reaches the program as a mouse event; the
// window system reports it as SDL_WINDOWEVENT_HIT_TEST, and two of those in
// quick succession maximise or restore the window.
//
// UI thread only (SDL calls the hit test while it pumps events on this thread).
#pragma once

#include <SDL.h>

#include "app/caption_logic.h"
#include "app/program_menu_table.h"

struct AppState;

void InstallWindowCaption(SDL_Window* window, float uiScale);

// The desktop's usable area (without its panels) of the display the window
// is on; width 0 when SDL cannot tell.
ScreenArea UsableScreenArea(SDL_Window* window);

CaptionGeometry CurrentCaptionGeometry(SDL_Window* window, const CaptionState& caption, const AppState& app);

bool HandleCaptionEvent(SDL_Window* window, CaptionState& caption, AppState& app, const SDL_Event& e);

// The key's unshifted face (letters, digits, punctuation) or F1, and Ctrl,
// Shift and Alt (either side). Layouts whose keys carry no Latin letters
// fall back to the key's place on a US keyboard.
KeyChord KeyChordFromSdl(const SDL_Keysym& key);

// A key-down that is one of the accelerators goes to HandleMenuCommand and
// is consumed (true), whatever has the GUI's keyboard focus.
bool HandleAcceleratorEvent(AppState& app, const SDL_Event& e);
