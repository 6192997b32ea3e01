// missing_sources_logic.h — the rules of the MISSING SOURCES block: relinking
// the sound files the project uses but cannot find (no GUI calls).
//
// Index
//   kRelinkToastSeconds / RelinkToastText   "Relinked %d file%s", "No matching files found"
//   UsedByText / LocateFilterExtension      a row's texts and its file dialog's filter
//   PendingForcedRelink                     a located file with other content, waiting for the user
//   RelinkTargets                           what a relink works on (the program's, or a test's)
//   FinishRelink                            paths back into the document, list refreshed, toast, voices
//   RelinkAll                               the "Relink all" sweep, then the finish
//   TakeLocateResult / UseForcedRelink      the answers of "Locate..." and "Use anyway"
//   FolderSearch                            "Locate folder..." as the busy task, its result taken later
//
// UI thread, except the folder search's job, which runs in the worker slot
// and hands its count back through the FolderSearch atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "library/file_identity.h"
#include "library/relinking.h"

struct AppState;
struct BusyTask;
struct FileRegistry;
struct Project;
struct SoundLibrary;

constexpr float kRelinkToastSeconds = 4.0f;

// "No matching files found" below 1, else "Relinked %d file%s".
std::string RelinkToastText(int count);

// "used by %d event%s", with " · %d palette%s" when palettes use it too.
std::string UsedByText(const MissingFile& file);

// The extension of the path's final component without its dot, "wav" when
// it has none.
std::string LocateFilterExtension(std::string_view path);

struct PendingForcedRelink {
    FileId id;          // empty: nothing pending
    std::string path;   // the file the user chose
    bool Pending() const { return !id.empty(); }
    bool PendingFor(const FileId& row) const { return !id.empty() && id == row; }
    void Clear() {
        id.clear();
        path.clear();
    }
};

struct RelinkTargets {
    Project* project = nullptr;
    const SoundLibrary* library = nullptr;
    FileRegistry* registry = nullptr;
    MissingFilesState* missing = nullptr;
    AppState* app = nullptr;  // the toast and the busy flag
    double now = 0;           // interface clock, for the missing list's refresh
    // Queues the rebuild of every voice after files came back; the
    // program's is RebuildCacheAsync. May be empty.
    std::function<bool()> rebuildVoices;
};

// After a relink, a sweep or a folder search: every stored path of the
// document takes the registry's answer, the missing list is rebuilt at once,
// the voices are rebuilt when something came back and no task is busy, and
// the toast tells the count.
void FinishRelink(const RelinkTargets& targets, int count);

// Re-checks every registered file and finishes; returns how many that had
// been found missing now resolve.
int RelinkAll(const RelinkTargets& targets);

enum class LocateStep { Relinked, Pending, Unreadable };
// The answer of a strict relink of `id` to `chosen`: Relinked finishes with
// one file; ContentDiffers keeps the pair pending for "Use anyway"; anything
// else gives the toast "Could not read the selected file", or the refusal
// sentence of a file that is gone or locked since it was chosen.
LocateStep TakeLocateResult(const RelinkTargets& targets, RelinkResult result, const FileId& id,
                            const std::string& chosen, PendingForcedRelink& pending);

// A chosen file that does not open as sound is refused before any relink,
// with a toast naming it: a layer pointed at it would only fail to play; a
// path that is no readable file at all shows its refusal sentence. True when
// refused.
bool RefuseNonSoundFile(AppState& app, const std::string& chosen);

// A chosen folder to search that cannot be listed shows its refusal
// sentence. True when refused.
bool RefuseRelinkFolder(AppState& app, const std::string& folder);

// "Use anyway": relinks the pending pair whatever its content and finishes
// with one file; a file that cannot be read any more gives the unreadable
// toast, a file that is not sound the refusal. The pending pair is cleared
// either way. True when relinked.
bool UseForcedRelink(const RelinkTargets& targets, PendingForcedRelink& pending);

// "Locate folder...": the folder walk may take long on a large tree, so it
// runs as the busy task; the panel takes the count on a later frame, once
// the task is over, and finishes then.
struct FolderSearch {
    std::atomic<bool> finished{false};
    std::atomic<int32_t> count{0};
    bool started = false;  // UI thread
};
// The job's body: the search, then the hand-over (it does not touch the task).
void RunFolderSearch(FolderSearch& search, FileRegistry& registry, const std::string& folder);
// Queues the search as the busy task "Searching folder..."; false when a task is queued already.
bool StartFolderSearch(FolderSearch& search, BusyTask& task, FileRegistry& registry, const std::string& folder);
// True once, with the count, when a started search has finished and no task
// is busy; a task that ended without running the search just ends it.
bool TakeFolderSearchResult(FolderSearch& search, const BusyTask& task, int& count);
