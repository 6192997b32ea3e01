// relinking.h — files the open project uses but cannot find, and the ways to
// point their ids at files again.
//
// Index
//   MissingFile                one row of the missing-files list
//   RelinkResult               answer of a one-file relink
//   MissingFilesState          the list and when it is next rebuilt
//   gMissingFiles              the list of the program (UI thread)
//   RefreshMissingFiles        rebuild the list (at most every 2 s unless forced)
//   RelinkFileStrict           relink an id to a file with the same content
//   RelinkFileForced           relink an id to any readable file
//   RelinkMissingFilesInFolder search a folder tree by content and by name
//   RelinkAllMissing           re-check every registered file
//   WithoutTrailingSlashes / ReplaceFolderPrefix   folder-prefix arithmetic
//   TryRemapPathPrefix         move a stored path to a relocated folder when the file is there
//   ApplyResolvedPaths         write the registry's current paths back into the document
//
// Runs on the UI thread. The registry's mutex is held only around registry
// work; fingerprinting and folder walks run without it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "library/file_identity.h"

struct FileRegistry;
struct Project;
struct SoundLibrary;

struct MissingFile {
    FileId id;
    std::string path;         // last known path, or empty
    std::string name;         // final component of path, or "(unknown file)"
    uint32_t eventCount = 0;  // distinct events that reference the id
    uint32_t libraryCount = 0;  // libraries and palettes whose entries carry the id
};

enum class RelinkResult : int32_t {
    Relinked = 0,
    ContentDiffers = 1,  // the id's stored fingerprint does not match the chosen file
    Unreadable = 2,
    UnknownId = 3,
};

struct MissingFilesState {
    std::vector<MissingFile> files;  // sorted by name
    double nextRefreshTime = 0;      // interface clock, seconds
};

extern MissingFilesState gMissingFiles;

// Rebuilds state.files from the project's references when forced or when
// `now` has reached the due time; returns whether it rebuilt.
bool RefreshMissingFiles(MissingFilesState& state, const Project& project, const SoundLibrary& library,
                         FileRegistry& registry, double now, bool force);
// The program's form: gMissingFiles, gProject, gSoundLibrary and the registry, at `now`.
void RefreshMissingFiles(double now, bool force);

RelinkResult RelinkFileStrict(FileRegistry& registry, const FileId& id, const std::string& chosenPath);
RelinkResult RelinkFileForced(FileRegistry& registry, const FileId& id, const std::string& chosenPath);

// Extension filter: takes the lower-cased extension with its dot (".wav").
using ExtensionFilter = bool (*)(std::string_view extension);
// Returns the number of registry entries relinked.
int32_t RelinkMissingFilesInFolder(FileRegistry& registry, const std::string& folder, ExtensionFilter filter);

// The "Relink all" sweep: re-checks every entry and returns how many that had
// been found missing now resolve.
int32_t RelinkAllMissing(FileRegistry& registry);

// Trailing '/' removed; a folder made of slashes only stays "/".
std::string WithoutTrailingSlashes(const std::string& folder);

// When `path` lies inside `oldFolder` (the folder text followed by a
// separator, so "/sfx/Door" never captures "/sfx/Doors/x.wav"), `out` becomes
// the same path under `newFolder` and the result is true. Both folders are
// expected without trailing slashes (WithoutTrailingSlashes).
bool ReplaceFolderPrefix(const std::string& path, const std::string& oldFolder, const std::string& newFolder,
                         std::string& out);

struct PathPrefixPair {
    std::string oldFolder;
    std::string newFolder;
};
// Moves `path` under the new folder when it lies in the old one and the file
// there opens for reading; otherwise leaves it. Returns whether it changed.
bool TryRemapPathPrefix(const PathPrefixPair& prefixes, std::string& path);

// Every stored (path, id) pair of the document whose path holds no file
// takes the registry's current path for the id when there is one; a pair
// whose file is there keeps it (FileRegistry::FindStoredFile), unless its
// id is among `relinked` (ids the designer just pointed at other files).
// Ids never change, and a path that would not fit its field keeps the
// stored one. Returns the number of paths changed.
int32_t ApplyResolvedPaths(Project& project, FileRegistry& registry,
                           const std::unordered_set<FileId>* relinked = nullptr);
int32_t ApplyResolvedPaths(Project& project);
