// shell_quit.h — the one quit path and the order in which things stop.
//
// Index
//   HandleQuitRequest   per frame, after the commands: a raised `quitRequested`
//                       becomes the unsaved-changes confirmation or a quit
//   QuitApplication     the quit itself: preferences, every worker, quit callback
//                       (waits, still drawing, while an export runs)
//   ServeTerminationSignal  per pass of the main loop: SIGTERM, SIGHUP or SIGINT ends
//                       the program without asking, its unsaved work in a recovery backup
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

// Once a termination signal has come (`signal`, the main loop's
// PendingTerminationSignal of platform/termination_signals.h): the
// unsaved-changes question goes and is never asked again; a running task is
// cancelled and an export stopped (every pass undone, the earlier export
// back whole). When the document holds unsaved changes (and, never saved,
// any event), the recovery backup is written as an autosave would write it,
// before anything is waited for: at once while an export runs, else as soon
// as a cancelled task or a Save being written has let the document go. The
// program waits, still drawing, for the export, the task and the Save, then
// ends keeping that backup and its crash lock, so that the next start offers
// it as after a crash; without unsaved changes it ends as a quit does.
// Nothing happens while no signal has come.
struct LifecycleContext;
void ServeTerminationSignal(AppState& app, const LifecycleContext& ctx, const ShellServices& services, int signal);

void StopForShutdown(AppState& app, const ShellServices& services);
void RunExitHandlers(AppState& app, SoundLibrary& library, const ShellServices& services);
