// file_registry.h — the process-wide table from file ids to where the files are now.
//
// Index
//   FileRegistryEntry     one registered id: current path, alternates, fingerprint, cached check
//   ContentKey            {hash, size}: one content, the key of the content index
//   FileRegistry          entries, aliases, content index, mutex, generation
//     Instance            the one registry of the process (never destroyed)
//     GetOrCreateFileId   id for a freshly fingerprinted file (known content keeps its id)
//     FileRefForPath      fingerprint a path and register it
//     RegisterFileRef     learn a reference read from a stored file
//     GetFileRef          canonical {id, path, hash, size} of an id
//     FindPath            existing path of an id, empty when missing
//     ResolveOrAdd        FindPath, registering an unknown id by path first
//     FindStoredFile      the stored path while a file is there, else ResolveOrAdd
//     ResolveAlias / FindIdByContent / ResolveEntry / RaiseGeneration
//                         building blocks for callers that already hold `mutex`
//   AddUniqueToShortList  append a path to an entry's alternates (max 8, no duplicates)
//   ResolveProjectPath    resolve a stored path against the folder of the file storing it
//
// Locking: every public operation takes `mutex` (not recursive) for its whole
// run. ResolveAlias, FindIdByContent, ResolveEntry and RaiseGeneration never
// lock: callers that need several steps under one lock (project loader,
// relinking) lock `mutex` themselves and call them. No other lock is taken
// while `mutex` is held.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "library/file_identity.h"

constexpr size_t kMaxAlternatePaths = 8;

struct FileRegistryEntry {
    std::string path;                         // current location
    std::vector<std::string> alternatePaths;  // other known locations, in order added, <= 8
    uint64_t hash = 0;                        // 0 = never fingerprinted
    uint64_t size = 0;                        // 0 = accept a file of any length
    int32_t checkedGeneration = -1;           // generation of the last file-system check
    uint8_t present = 0;                      // result of that check
};

// Content is known by its fingerprint and its length together. The content
// index is keyed by both, so finding the first owner of a content costs the
// same however many files share a hash (identical files are common: the same
// sound shipped in two packs).
struct ContentKey {
    uint64_t hash = 0;
    uint64_t size = 0;
    bool operator==(const ContentKey&) const = default;
};

struct ContentKeyHash {
    size_t operator()(const ContentKey& key) const {
        return std::hash<uint64_t>()(key.hash ^ (key.size * 0x9E3779B97F4A7C15ull));
    }
};

struct FileRegistry {
    // Guarded by `mutex`. Nothing is ever removed during a run.
    std::unordered_map<FileId, FileRegistryEntry> entries;
    std::unordered_map<FileId, FileId> aliases;  // stored id -> canonical id (one level)
    // Owners of each content in insertion order; the first is the one found.
    std::unordered_map<ContentKey, std::vector<FileId>, ContentKeyHash> contentIndex;
    std::mutex mutex;
    // Raised (under `mutex`) after every change; each raise invalidates every
    // entry's cached file-system check. Atomic so it may be read without the lock.
    std::atomic<uint32_t> generation{0};
    // Whether a regular file is at a stored path (FindStoredFile), with the
    // generation it was checked in: each path is asked about at most once
    // per generation, as each entry is. Guarded by `mutex`.
    std::unordered_map<std::string, std::pair<uint32_t, bool>> storedPathChecks;

    FileRegistry() = default;
    FileRegistry(const FileRegistry&) = delete;
    FileRegistry& operator=(const FileRegistry&) = delete;

    // The registry of the process. Created on first use and deliberately never
    // destroyed, so worker threads still running at exit can use it safely.
    static FileRegistry& Instance();

    // For a fingerprint just taken from the file at `path`. Known content
    // returns the existing id with the registered current path (the given path
    // becomes an alternate); otherwise a new id is minted.
    FileRef GetOrCreateFileId(const std::string& path, uint64_t hash, uint64_t size);

    // Fingerprints `path` and registers it; an unreadable file gives
    // {"", path, 0, 0} and leaves the registry untouched.
    FileRef FileRefForPath(const std::string& path);

    // Learns a reference read from a project, recipe, chain or index file. An
    // empty id does nothing; a registered id never has its path moved.
    void RegisterFileRef(const FileRef& ref);

    // Canonical id with its current path and fingerprint; false (out
    // untouched) for an empty or unknown id. No existence check.
    bool GetFileRef(const FileId& id, FileRef& out);

    // Existing path for the id (cached per generation), empty when missing.
    std::string FindPath(const FileId& id);

    // Registers an unknown id by path (hash 0) when a path is given, then FindPath.
    std::string ResolveOrAdd(const FileId& id, const std::string& path);

    // Where the file of a stored pair (a layer's, a source's) is now: the
    // stored `path` while a regular file is there, whatever it holds, and
    // otherwise ResolveOrAdd. A file changed in place is still the pair's:
    // what it holds now is told as a changed sound, never swapped for a copy
    // of the old content elsewhere (the project's own copy in its "Audio"
    // folder stays the project's, and a reopen finds what the session
    // played). An unknown id is registered by the path either way. Whether
    // a file is there is asked once per path and generation.
    std::string FindStoredFile(const FileId& id, const std::string& path);

    // ---- Caller holds `mutex` ----
    // The alias target of `id`, or `id` itself.
    FileId ResolveAlias(const FileId& id) const;
    // First registered owner of this content, empty when none (or hash 0).
    FileId FindIdByContent(uint64_t hash, uint64_t size) const;
    // Path of an existing file for the entry (switching to an alternate when
    // the current path fails), empty when missing. Checks the file system at
    // most once per entry and generation.
    std::string ResolveEntry(FileRegistryEntry& entry);
    // Appends id to the owners of a content with a non-zero hash.
    void AddContentRecord(uint64_t hash, uint64_t size, const FileId& id);
    void RaiseGeneration() { generation.fetch_add(1, std::memory_order_relaxed); }
};

// Appends `path` to entry.alternatePaths unless it is empty, is the entry's
// current path, is already listed or the list is full. The registry is not
// used; callers hold its mutex.
void AddUniqueToShortList(FileRegistry& registry, FileRegistryEntry& entry, const std::string& path);

// Resolves a path stored in a project (or similar file) against `baseFolder`.
// Absolute paths, including drive-letter and network-share paths written on
// Windows, come back unchanged; relative ones are joined with the base folder
// (backslash separators accepted) and canonicalised when the result exists.
std::string ResolveProjectPath(const std::string& path, const std::string& baseFolder);
