// fingerprint_worker.h — filling missing file ids and content hashes in the background.
//
// Index
//   FingerprintJob               one library entry to fingerprint (a private copy of its name and path)
//   StartFingerprintWorker       UI thread: collect the jobs and start the worker
//   FingerprintFilesWorker       the thread body
//   TakeFingerprintResults       UI thread: move finished results into the entries
//   SaveFingerprintedLibraries   UI thread: rewrite the index files once the worker is done
//   FingerprintPinnedFiles       give an event's pinned files their ids on the spot
//
// The worker never touches `libraries`: its jobs are copies, its results go
// through `fingerprintResults` under `fingerprintMutex`, and its counters are
// atomics. Clearing `fingerprintRunning` asks it to stop before its next file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/file_identity.h"

struct SoundLibrary;
struct Event;

struct FingerprintJob {
    std::string libraryName;
    std::string path;
    // The id the entry already has (empty when none). An entry with an id but
    // no hash keeps that id: the registry learns the hash under it.
    FileId fileId;
    int32_t libraryHint = -1;  // position of the entry when the job was made
    int32_t entryHint = -1;
};

// Returns true when a worker was started: not while one runs, not when every
// entry already has an id and a hash, and not when the thread cannot be
// created (then `fingerprintRunning` is back at 0 and the reason is logged).
bool StartFingerprintWorker(SoundLibrary& library);

void FingerprintFilesWorker(SoundLibrary* library, std::vector<FingerprintJob> jobs);

// Moves the waiting results into the entries they belong to: an entry with
// the result's library name and path gets id, hash and size when it has no
// id yet, and hash and size when it has the result's id but no hash. Each
// changed library is listed in `librariesToSave`. Returns the number of
// entries changed.
int32_t TakeFingerprintResults(SoundLibrary& library);

// Rewrites the index file of every library in `librariesToSave`, but only
// when the worker has ended and no result waits, so each file is written
// once per run of the worker. Returns the number of files written.
int32_t SaveFingerprintedLibraries(SoundLibrary& library);

// Makes `pinnedFileIds` as long as `pinnedFiles` and fills every empty id
// (and an empty `pinnedFileId` beside a `pinnedFile`) from the file's
// fingerprint through the file registry. Unreadable files keep an empty id;
// ids already present and paths are never changed.
void FingerprintPinnedFiles(Event& event);
// The same over the four fields themselves, for other records that carry
// pinned files (a recipe's preset).
void FingerprintPinnedFiles(std::vector<std::string>& files, std::vector<FileId>& ids,
                            const char* pinnedFile, std::string& pinnedFileId);
