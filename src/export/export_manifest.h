// export_manifest.h — what an export keeps on disk while it stages and
// commits its files: the hidden names it makes (each carrying its random
// token), the manifest in its control folder inside the export folder, and
// the note in the program's data folder that names the export folder for
// the next start. Both are JSON with every string escaped, so a folder or
// file name with a newline, a tab or 255 bytes is read back whole; both are
// written durably (a temporary name, fsync, rename, fsync of the folder).
//
// Index
//   kExportMarkPrefix / ControlName / StagingName / HoldingName   the hidden names
//   NewExportToken / IsExportToken / TokenOfControlName
//   CommitEntry / ExportManifest / ManifestJson / ParseManifestJson
//   ExportNote / NoteJson / ParseNoteJson
//   WriteDurablyAt / ReadSmallFileAt
//
// The names: the control folder "<export folder>/.tessaloom-export-<token>"
// holds "manifest.json" and, once every entry is in place, "committed"; each
// destination folder that existed gets a staging folder
// ".tessaloom-export-<token>.new" (the new files under their final names)
// and, at the commit, a holding folder ".tessaloom-export-<token>.old" (the
// earlier entries, under their own names). The token is 32 random hex
// digits, chosen and written into the note and the manifest before any of
// these folders is made: a folder carrying it is this export's own. No
// earlier version of the program acts on names of this shape (they neither
// begin ".tessaloom-replacing-" nor end ".tmp" or ".wav").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kExportMarkPrefix = ".tessaloom-export-";
inline constexpr const char* kManifestFileName = "manifest.json";
inline constexpr const char* kCommittedFileName = "committed";

std::string ControlName(const std::string& token);
std::string StagingName(const std::string& token);
std::string HoldingName(const std::string& token);
std::string NewExportToken();
bool IsExportToken(const std::string& text);  // 32 lower-case hex digits
// The token of a control folder's name; "" for any other name.
std::string TokenOfControlName(const std::string& name);

// One move of the commit, in a destination folder (below the export folder,
// "" for itself): the earlier entry at `name` into the holding folder (when
// `hasEarlier`), then the staged entry into its place (when `placed`). A
// staged file waits in the staging folder of `stagedIn`, below `stagedPath`
// there (a folder the export made inside it). A folder the export made is
// made anew at its place and its files moved in one by one: some drives
// (FAT through FUSE) lose what a folder holds when the folder itself moves.
struct CommitEntry {
    std::string folder;
    std::string name;
    std::string stagedIn;
    std::string stagedPath;
    bool placed = false;
    bool isFolder = false;  // a folder the export made: made at its place
    uint64_t stagedInode = 0;
    // The staged file's size and a digest of its first and last bytes: a
    // drive that numbers its inodes afresh at each mount (exFAT through
    // FUSE) still tells the export's own file by them.
    int64_t stagedSize = -1;
    std::string stagedDigest;
    bool hasEarlier = false;
    uint64_t earlierInode = 0;
    int64_t earlierSize = -1;
};

struct ExportManifest {
    std::string token;
    std::string exportFolder;  // as the job named it; for messages only
    int64_t started = 0;       // seconds since the epoch: dates the visible folders
    std::vector<std::string> staging;  // destination folders given a staging folder
    std::vector<std::string> made;     // folders the export made inside a staging folder
    bool committing = false;           // `entries` is the whole plan; moves may have begun
    std::vector<CommitEntry> entries;
};
std::string ManifestJson(const ExportManifest& manifest);
bool ParseManifestJson(const std::string& text, ExportManifest* manifest);

// The note in the data folder: where an export runs (or ran, when a kill
// ended it), and its token.
struct ExportNote {
    std::string exportFolder;
    std::string token;
};
std::string NoteJson(const ExportNote& note);
bool ParseNoteJson(const std::string& text, ExportNote* note);

// Writes `bytes` as `name` in the folder open as `folder`: under a temporary
// name of its own first, forced to disk, renamed over `name`, and the folder
// forced to disk. False (nothing at `name` changed) when any step failed.
bool WriteDurablyAt(int folder, const std::string& name, const std::string& bytes);
// A regular file of the folder, read whole (at most `maxBytes`).
bool ReadSmallFileAt(int folder, const std::string& name, std::string* out, size_t maxBytes = size_t(64) << 20);
