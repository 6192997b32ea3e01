// second_launch.h — a project opened from the desktop while the program runs
// goes to the running copy.
//
// Index
//   HandOverCommandLinePath      start-up: give the path to a running copy (then exit 0)
//   StartSecondLaunchListener    the running copy's socket (platform/single_instance.h)
//   ServeSecondLaunch            main loop: a handed-over path → `pendingOpenPath`,
//                                the window restored and raised
//   StopSecondLaunchListener     shutdown, before the window goes
//   DumpSecondLaunch             "secondLaunch.*" fields of the test dump
//
// A copy started without a project opens its own window and leaves the
// running copy's socket alone. A copy whose hand-over fails (no copy runs, or
// the running one does not answer in time) starts normally with the path.
// UI thread only; the listener's thread only wakes the loop.
#pragma once

#include <SDL.h>

#include <string>

struct AppState;
struct StateDump;

// True when a running copy took `absolutePath`.
bool HandOverCommandLinePath(const std::string& absolutePath);

void StartSecondLaunchListener();
void ServeSecondLaunch(AppState& app, SDL_Window* window);
void StopSecondLaunchListener();

void DumpSecondLaunch(StateDump& dump);
