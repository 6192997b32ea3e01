// library_folders.h — the UI thread's operations on the set of libraries.
//
// Index
//   InitLibraryIndexFolder    first frame: choose and create the index folder, load it
//   LoadLibraryIndexFiles     replace `libraries` by the index files of the folder
//   AddLibraryFolder          per-frame update: take over scans, start pending ones,
//                             check folders, start and collect the fingerprint worker
//   AddQueuedLibraryFolders   turn the add queue into scans (or pending folders)
//   RefreshLibraryIndex       relocate a library whose folder moved
//   RemoveLibrary             drop a library and its index file
//   MakeUniqueLibraryName     "X", "X 2", "X 3", ... whichever is free
//   ToggleListItem            rename one item of a comma-separated list in a char buffer
//   (SaveLibraryIndex, one library's index file written into the index folder: library_index_file.h)
//   Library duties of the preferences and project loaders:
//     ApplySavedLibraryFolder    a saved folder's enabled and group, or queue it
//     QueueLibrarySubfolders     queue the subfolders of a folder (demo content)
//     SavedLibraryFolders        every folder the preferences must remember
//     ScanProjectLibraryFolders  scan a project's folders that no library has
//   AddDroppedLibraryFolders  folders dropped on the window: scan or queue the new ones
//     NormalizeEventLibFilters   former library names in event filters become current ones
//
// Everything here runs on the UI thread and only while no busy task runs:
// the render job reads `libraries` without a lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/library_index_file.h"

struct SoundLibrary;
struct LibraryIndex;
struct QueuedLibraryFolder;
struct Project;

void InitLibraryIndexFolder(SoundLibrary& library);

void LoadLibraryIndexFiles(SoundLibrary& library);

// `uiTime` is the interface clock in seconds; 0 skips the folder check.
// Does nothing while a reader holds the libraries (LibraryChangesWait).
void AddLibraryFolder(SoundLibrary& library, double uiTime);

void AddQueuedLibraryFolders(SoundLibrary& library);
void AddQueuedLibraryFolders();  // gSoundLibrary

// Moves library `index` to `newFolder`: entries found under the new folder
// keep their analysis and get the new path; the others are dropped. Returns
// the number kept. Nothing changes (0) while `busy` is set or a reader holds
// the libraries (LibraryChangesWait), for an index out
// of range, for a palette (it has no folder), or when no entry would be kept.
int32_t RefreshLibraryIndex(SoundLibrary& library, int32_t index, const std::string& newFolder, uint8_t busy);

// True when the library was removed (not while `busy` or a reader holds the
// libraries, not out of range).
bool RemoveLibrary(SoundLibrary& library, int32_t index, uint8_t busy);

std::string MakeUniqueLibraryName(const std::vector<LibraryIndex>& libraries, const std::string& name);
// The same, also passing over names whose index file exists in `indexFolder`
// (a file that did not load must not be overwritten by a new library).
std::string MakeUniqueLibraryName(const std::vector<LibraryIndex>& libraries, const std::string& name,
                                  const std::string& indexFolder);

// Every item of the comma-separated list in `list` (capacity bytes) equal to
// `oldName` after trimming blanks becomes `newName`; the list is rejoined
// with "," and no blanks, leading empty items dropped, and cut to fit.
void ToggleListItem(char* list, uint32_t capacity, const std::string& oldName, const std::string& newName);


// For one saved "libraryEx" record: every library whose path is `folder`
// takes `enabled` and `group`; with no such library the folder is queued
// (libraryAddQueue) with these values.
void ApplySavedLibraryFolder(SoundLibrary& library, const std::string& folder, uint8_t enabled, int32_t group);

// Queues every subfolder of `folder`, in name order, that no library has as
// its path and that is not queued, pending or being scanned already, with
// enabled 1 and group -1. Returns the number queued.
int32_t QueueLibrarySubfolders(SoundLibrary& library, const std::string& folder);

// The folders a restart must find again, each once, in this order: the
// libraries (palettes have no folder), scans finished but not yet taken
// over, the folder being scanned, the pending folders (enabled 1, group -1)
// and the add queue. Quitting during a scan thus loses no library.
std::vector<QueuedLibraryFolder> SavedLibraryFolders(SoundLibrary& library);

// For each of `folders` that no library has and that exists as a directory:
// starts a scan (enabled 1, group -1) when none runs, otherwise adds it to
// the pending folders, so a project with several library folders gets all
// of them scanned one after another. Returns the number started or pending.
int32_t ScanProjectLibraryFolders(SoundLibrary& library, const std::vector<std::string>& folders);

// Folders dropped on the window, compared without trailing "/": one that is
// a library, waits in the pending list or is being scanned is skipped; the
// others start a scan (enabled 1, group -1) when none runs, else wait in the
// pending list under their last path component. Returns the number taken.
int32_t AddDroppedLibraryFolders(SoundLibrary& library, const std::vector<std::string>& folders);

// An item of an event's library filter that names no library but a former
// name of one becomes that library's current name. Returns the number of
// events changed.
int32_t NormalizeEventLibFilters(Project& project, const SoundLibrary& library);
