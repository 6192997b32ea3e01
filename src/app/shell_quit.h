// shell_quit.h — the one quit path and the order in which things stop.
//
// Index
//   HandleQuitRequest   per frame, after the commands: a raised `quitRequested`
//                       becomes the unsaved-changes confirmation or a quit
//   QuitApplication     the quit itself: preferences, every worker, quit callback
//                       (waits, still drawing, while an export runs)
//   StopForShutdown     after the loop: crash lock, preferences, worker slot,
//                       recipe preview, export thread, audio output, video
//   RunExitHandlers     before the global objects are destroyed: AAF library,
//                       reference audio, library analysis, scan and fingerprint
//
// Every thread is joined before what it uses is destroyed, in the order
// written here, never left to the order of static destruction. Each step is
// logged as "[UI] shutdown: ..." so that the order can be checked.
// UI thread only.
#pragma once

struct AppState;
struct Project;
struct ShellServices;
struct SoundLibrary;

void HandleQuitRequest(AppState& app, const Project& doc, const ShellServices& services);

// Also the continuation of the unsaved-changes confirmation. Does nothing
// without a quit callback.
void QuitApplication(AppState& app, const ShellServices& services);

void StopForShutdown(AppState& app, const ShellServices& services);
void RunExitHandlers(AppState& app, SoundLibrary& library, const ShellServices& services);
