// notices.h — the small pieces of the main window that report and inform:
// the toast line and the about box.
//
// Index
//   DrawToastLine   the toast's text at the cursor, coloured by its words, fading out
//   DrawAboutBox    the about card over a dimmed window, while `showAbout` is set
//   DumpAboutBox    "about.card" (where the last frame drew the card) and "about.images"
//
// The toast's countdown runs once per frame with the auto-save
// (RunProjectFrame); drawing only reads it. UI thread, inside a frame.
#pragma once

#include <string>

struct AppState;

// Draws the toast within `room` points of the cursor and returns it as
// drawn: a name in it shortened first (ShortenedMessage), so the reason
// stays whole; cut only between whole characters. Draws nothing, and
// returns "", once the toast's time is up. The footer calls it.
std::string DrawToastLine(const AppState& app, float room);

// Called last in the frame, over everything. A click anywhere, on the card
// or beside it, closes the box.
void DrawAboutBox(AppState& app);

struct StateDump;
void DumpAboutBox(StateDump& dump);
