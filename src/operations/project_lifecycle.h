// project_lifecycle.h — a project's life on disk: opened (recovered after a
// crash), saved into a folder of its own, started anew, backed up while it
// has unsaved changes, and the action that waited behind the unsaved-changes
// confirmation.
//
// Index
//   LifecycleContext        the objects an operation works on and the services it calls
//   MakeLifecycleContext    a context over given objects (no output, video or services)
//   FillProjectSaveContext  what a save and an autosave write besides the document
//   OpenProject             the file (or its newest backup after a crash) into a scratch
//                           document, moved in only when it loaded
//   RecoverUntitledProject  at start-up: the never-saved project a crashed run backed up
//   RetireProjectBackups    the open project is closed: its backups no longer count
//   SaveProject             into its own folder; lock, recent list, preferences, thumbnail
//   AutoSaveProject         a complete backup written first, then the slots rotated
//   AutoSaveTick            the frame loop's timer: runs while modified, saved and idle
//   WriteRecoveryBackup     that backup now, on this thread (the program is being ended)
//   PumpProjectSave / WaitForProjectSave / StopAutoSave / StopProjectSaveWorker
//   ProjectSaveRunning / ManualSaveRunning / ProjectSaveStopFlag   the project-file writer's thread
//   NewProject              an empty document: voices, caches, lock and state reset
//   ResetProjectState       the interface's per-project state (nothing of the document)
//   StopDocumentWorkers     the workers a document replacement must wait for
//   DocumentChangeRefused   whether opening or a new project must wait (and why, to the user)
//   ContinuePendingAction   after the confirmation's Save (when it succeeded) or Discard
//
// Every operation runs on the UI thread. Opening and creating a project are
// refused while the document may not change (a busy task or an export owns
// it; an export shows "Export in progress"); saving runs during an export,
// reading the document only. The old voices are dropped under the engine
// lock before the document they point into is replaced, so the audio thread
// never reads a freed event. Log lines carry "[Project]", "[AutoSave]" and
// "[Recovery]"; the user sees toasts (ShowToast).
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "persistence/project_file.h"

struct AppState;
struct AudioEngine;
struct AudioOutput;
struct Project;
struct SoundLibrary;
struct VideoPlayer;

struct LifecycleContext {
    Project* project = nullptr;
    SoundLibrary* library = nullptr;
    AudioEngine* engine = nullptr;
    AppState* app = nullptr;
    // The output a project of another sample rate reopens (its rate hook
    // sets the engine's rate and reverb). Null, or no back-end installed:
    // no stream runs, and the engine's rate is set directly.
    AudioOutput* output = nullptr;
    // The reference video player; null when there is none.
    const VideoPlayer* video = nullptr;
    // Writes the preferences (they hold the recent list); empty: not written.
    std::function<void()> savePreferences;
    // A confirmed quit: preferences, every worker stopped, the quit callback
    // (which it checks). Empty: a confirmed quit only clears the request.
    std::function<void()> quit;
    // Saves and backups are written on the project-file writer's thread and
    // finished by PumpProjectSave (the program); false: written and finished
    // within the call (tests, tools).
    bool saveOnWorker = false;
};

LifecycleContext MakeLifecycleContext(Project& project, SoundLibrary& library, AudioEngine& engine,
                                      AppState& app);

// The project, the loaded reference video (or the one waiting to load), every
// library folder (those still being scanned or waiting included), the
// description, the rate, the export, work-area and mixer settings, the
// picture trace (none while one is being made) and the linked groups.
ProjectSaveContext FillProjectSaveContext(const LifecycleContext& ctx);

// False, changing nothing, for an empty path, while the document may not
// change, when the path is no regular file that can be read (its refusal
// sentence, "“Reel.tlproj” is a named pipe, not a file", 3 s) or does not
// load ("Error: " + the reason, 4 s). After a crash (a lock whose process is
// gone) the newest backup that loads whole and extends the file on disk is
// loaded instead: the pending one an autosave was moving into slot 1, then
// slot 1, 2, ...; the project keeps the path asked for, counts as modified,
// and takes its settings from the file actually loaded. On success the toast
// is "Recovered from backup (auto-saved HH:MM)", the newer-version warning,
// "Project opened" or "Opened (some files missing)" (4 s). The project it
// replaces is closed: its backups are retired.
bool OpenProject(const LifecycleContext& ctx, const std::string& path);

// ".tlproj" is appended when missing and the file goes into a folder named
// after it (ProjectFolderPath); the document is copied and written (with its
// sounds collected) on the writer's thread when ctx.saveOnWorker, and the
// frame that finds it done finishes it (PumpProjectSave). On failure "Save
// failed" (3 s) and nothing else changes. On success: "Project saved" (3 s) —
// or, when sounds could not be copied into its folder, "Saved, but N sounds
// failed to copy: <why>" (5 s) — the path, the recent list, the crash lock,
// the preferences, the thumbnail requested for the next frame, and no
// backups left that it replaces. `modified` is cleared when it starts: an
// edit made meanwhile sets it again, a failure restores it. With
// `continueAfter` (the confirmation's Save) the confirmation hides meanwhile,
// and its action follows a success (ContinuePendingAction) or it shows again.
// False when refused (a busy task, or a save already running: "Save in
// progress"); a running autosave is stopped. On the thread: true when
// started; otherwise whether it was written.
bool SaveProject(const LifecycleContext& ctx, std::string path, bool continueAfter = false);

// Writes the project whole to a temporary name beside the backups, naming
// the saved file it extends, then rotates them (maxBackups) and moves it
// into slot 1, so a failed write deletes no backup. The project file and
// `modified` are not touched; the toast tells the outcome ("Auto-saved
// (backup)", 2 s; "Auto-save failed: <why>", 4 s). On the writer's thread
// when ctx.saveOnWorker (true when started; false while another write runs);
// otherwise true when slot 1 holds the new backup, and `report` tells why
// not and which sounds were not copied.
bool AutoSaveProject(const LifecycleContext& ctx, const std::string& path, ProjectWriteReport* report = nullptr);

// The backup an autosave would write, written now on this thread whatever
// the timer and the autosave preference say: a saved project's into backup
// slot 1 (rotating the others, then its crash lock), a never-saved one's into
// UntitledRecoveryPath. A running autosave is stopped first; false without
// writing while a Save is being written, or when the write failed. What the
// program leaves when it is ended by a signal (app/shell_quit.h).
bool WriteRecoveryBackup(const LifecycleContext& ctx);

// Once per frame. While autosave is on, the document is modified, the
// project has a path (or, never saved, holds events), no busy task runs and
// no write is under way, `autoSaveElapsed` grows by `frameSeconds`; on
// reaching `autoSaveInterval` it restarts at 0 and a backup is written as
// AutoSaveProject does (an untitled project's is UntitledRecoveryPath, its
// sounds not copied). True when one was started (or, not on the writer's
// thread, written) this frame.
bool AutoSaveTick(const LifecycleContext& ctx, float frameSeconds);

// Each frame, whatever else it shows: a write whose thread is done is joined
// and finished (toasts, and a save's path, lock, recent list, preferences and
// thumbnail); a Save still running for over half a second shows how far it
// is ("Saving… 12 of 340 sounds").
void PumpProjectSave(const LifecycleContext& ctx);
// Joins a running write and finishes it now. True when it was written.
bool WaitForProjectSave(const LifecycleContext& ctx);
// A running autosave stops before its next sound and is joined; nothing of
// it is finished (the document it copied is being replaced).
void StopAutoSave(AppState& app);
// The way out: an autosave stops, a save is waited for; nothing is finished.
void StopProjectSaveWorker(AppState& app);
bool ProjectSaveRunning(const AppState& app);
bool ManualSaveRunning(const AppState& app);
// The running write's stop flag (StopAutoSave raises it), for a test that
// holds the writer until the stop has been asked; null when none runs. It
// lives as long as the write: until StopAutoSave or the frame has joined it.
const std::atomic<bool>* ProjectSaveStopFlag(const AppState& app);

// An empty document with the current settings (duration 30 s, 24 fps, start
// 0): no voice, emptied caches, unit gains, no lock, no backups of the
// project it closes, "New project" (2 s). False when refused (the document
// may not change).
bool NewProject(const LifecycleContext& ctx);

// The newest backup of a never-saved project whose run ended without closing
// it (FindCrashedUntitledRecovery) becomes the document: untitled, modified,
// "Recovered an unsaved project (N events)" (4 s); the file is taken over by
// this run. False when there is none, it does not load, or the document may
// not change.
bool RecoverUntitledProject(const LifecycleContext& ctx);

// Deletes the backups of the open project and this run's backup of an
// untitled one: a save wrote what they held, or the user closed it without.
void RetireProjectBackups(AppState& app);

void ResetProjectState(AppState& app);

// True, with "Export in progress" (3 s) during an export and a log line
// naming `what`, while the document may not change; with "Save in progress"
// (3 s) while a Save is being written. A running autosave is stopped.
bool DocumentChangeRefused(AppState& app, const char* what);

// Cancels a picture trace and joins the finished worker slot and the recipe
// preview. The sound probe and the library's scan and fingerprint threads go
// on: they work for the library, not the document.
void StopDocumentWorkers(AppState& app);

// The first that applies: a pending quit (ctx.quit); the path waiting behind
// the confirmation (OpenProject); the Open dialog the confirmation guarded;
// otherwise NewProject. An open or new project refused while the document
// may not change keeps the confirmation up.
void ContinuePendingAction(const LifecycleContext& ctx);
