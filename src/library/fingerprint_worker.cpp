// fingerprint_worker.cpp — the background fingerprint pass over library
// entries, its hand-over to the UI thread, and pinned-file ids of events.
//
// Index
//   StartFingerprintWorker
//   FingerprintFilesWorker
//   TakeFingerprintResults       hinted fast path, search by name and path otherwise
//   SaveFingerprintedLibraries
//   FingerprintPinnedFiles
#include "library/fingerprint_worker.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "document/event.h"
#include "library/file_registry.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"

// ---------------------------------------------------------------------------
// Starting the worker
// ---------------------------------------------------------------------------

bool StartFingerprintWorker(SoundLibrary& library) {
    if (library.fingerprintRunning.load()) return false;

    std::vector<FingerprintJob> jobs;
    for (size_t l = 0; l < library.libraries.size(); ++l) {
        const LibraryIndex& index = library.libraries[l];
        for (size_t e = 0; e < index.entries.size(); ++e) {
            const LibraryEntry& entry = index.entries[e];
            if (!entry.fileId.empty() && entry.hash != 0) continue;
            jobs.push_back(FingerprintJob{index.name, entry.path, entry.fileId, static_cast<int32_t>(l),
                                          static_cast<int32_t>(e)});
        }
    }
    if (jobs.empty()) return false;

    library.fingerprintRunning.store(1);
    library.fingerprintDone.store(0);
    library.fingerprintTotal.store(static_cast<int32_t>(jobs.size()));
    // An earlier worker cleared fingerprintRunning as its last act; it has
    // ended or is about to.
    if (library.fingerprintThread.joinable()) library.fingerprintThread.join();
    try {
        library.fingerprintThread = std::thread(FingerprintFilesWorker, &library, std::move(jobs));
    } catch (const std::system_error& error) {
        std::printf("[Library] could not start the fingerprint thread: %s\n", error.what());
        library.fingerprintRunning.store(0);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The worker
// ---------------------------------------------------------------------------

void FingerprintFilesWorker(SoundLibrary* library, std::vector<FingerprintJob> jobs) {
    FileRegistry& registry = FileRegistry::Instance();
    for (FingerprintJob& job : jobs) {
        if (!library->fingerprintRunning.load()) {
            library->fingerprintRunning.store(0);
            return;
        }
        if (library->fingerprintBeforeFile) library->fingerprintBeforeFile();
        uint64_t hash = 0, size = 0;
        if (FingerprintFile(job.path, hash, size)) {
            FingerprintResult result;
            if (!job.fileId.empty()) {
                // Teach the registry this file's content under the id the
                // entry already carries, instead of minting a second id.
                registry.RegisterFileRef(FileRef{job.fileId, job.path, hash, size});
                result.id = job.fileId;
            } else {
                result.id = registry.GetOrCreateFileId(job.path, hash, size).id;
            }
            result.libraryName = std::move(job.libraryName);
            result.path = std::move(job.path);
            result.hash = hash;
            result.size = size;
            result.libraryHint = job.libraryHint;
            result.entryHint = job.entryHint;
            std::lock_guard<std::mutex> lock(library->fingerprintMutex);
            library->fingerprintResults.push_back(std::move(result));
        }
        library->fingerprintDone.fetch_add(1);
    }
    library->fingerprintRunning.store(0);
}

// ---------------------------------------------------------------------------
// Hand-over on the UI thread
// ---------------------------------------------------------------------------

namespace {

// True when the result was written into the entry.
bool ApplyResult(LibraryEntry& entry, const FingerprintResult& result) {
    if (entry.path != result.path) return false;
    if (entry.fileId.empty()) {
        entry.fileId = result.id;
    } else if (entry.fileId != result.id || entry.hash != 0) {
        return false;
    }
    entry.hash = result.hash;
    entry.size = result.size;
    return true;
}

void NoteLibraryToSave(SoundLibrary& library, const std::string& name) {
    if (std::find(library.librariesToSave.begin(), library.librariesToSave.end(), name) ==
        library.librariesToSave.end())
        library.librariesToSave.push_back(name);
}

}  // namespace

int32_t TakeFingerprintResults(SoundLibrary& library) {
    std::vector<FingerprintResult> results;
    {
        std::lock_guard<std::mutex> lock(library.fingerprintMutex);
        results.swap(library.fingerprintResults);
    }
    int32_t changed = 0;
    for (const FingerprintResult& result : results) {
        // The worker visits entries in order, so the position it was given
        // almost always still holds the entry: no search over large libraries.
        const size_t l = static_cast<size_t>(result.libraryHint);
        const size_t e = static_cast<size_t>(result.entryHint);
        if (result.libraryHint >= 0 && l < library.libraries.size() &&
            library.libraries[l].name == result.libraryName && result.entryHint >= 0 &&
            e < library.libraries[l].entries.size() &&
            library.libraries[l].entries[e].path == result.path) {
            if (ApplyResult(library.libraries[l].entries[e], result)) {
                ++changed;
                NoteLibraryToSave(library, result.libraryName);
            }
            continue;
        }
        for (LibraryIndex& index : library.libraries) {
            if (index.name != result.libraryName) continue;
            bool any = false;
            for (LibraryEntry& entry : index.entries) {
                if (ApplyResult(entry, result)) {
                    ++changed;
                    any = true;
                }
            }
            if (any) NoteLibraryToSave(library, index.name);
        }
    }
    if (changed > 0) ++library.librariesRevision;
    return changed;
}

int32_t SaveFingerprintedLibraries(SoundLibrary& library) {
    if (library.fingerprintRunning.load() || library.librariesToSave.empty()) return 0;
    {
        std::lock_guard<std::mutex> lock(library.fingerprintMutex);
        if (!library.fingerprintResults.empty()) return 0;
    }
    int32_t written = 0;
    if (!library.indexFolder.empty()) {
        for (const std::string& name : library.librariesToSave) {
            for (const LibraryIndex& index : library.libraries)
                if (index.name == name && SaveLibraryIndex(library, index)) ++written;
        }
    }
    library.librariesToSave.clear();
    return written;
}

// ---------------------------------------------------------------------------
// Pinned files of an event
// ---------------------------------------------------------------------------

void FingerprintPinnedFiles(Event& event) {
    FingerprintPinnedFiles(event.pinnedFiles, event.pinnedFileIds, event.pinnedFile, event.pinnedFileId);
}

void FingerprintPinnedFiles(std::vector<std::string>& files, std::vector<FileId>& ids,
                            const char* pinnedFile, std::string& pinnedFileId) {
    FileRegistry& registry = FileRegistry::Instance();
    ids.resize(files.size());
    for (size_t k = 0; k < files.size(); ++k) {
        if (!ids[k].empty() || files[k].empty()) continue;
        ids[k] = registry.FileRefForPath(files[k]).id;
    }
    if (pinnedFile[0] != '\0' && pinnedFileId.empty())
        pinnedFileId = registry.FileRefForPath(pinnedFile).id;
}
