// sound_library.cpp — the global sound library, its scan texts and its shutdown.
//
// Index
//   gSoundLibrary            the one instance
//   ~SoundLibrary            stop and join the workers
//   MarkLibrariesChanged / HoldLibraryForReading / ReleaseLibraryHold / LibraryChangesWait
//   Scan texts               small-mutex accessors for the texts the scan thread writes
//   CompareLibrariesByName   order of the library panel
#include "library/sound_library.h"

#include <cstdio>
#include <system_error>

#include "document/text_util.h"

SoundLibrary gSoundLibrary;

// ---------------------------------------------------------------------------
// Shutdown
// ---------------------------------------------------------------------------

namespace {

// Joins a worker thread without ever throwing out of a destructor. A worker
// that would be joined from its own thread (a library destroyed by its own
// worker) is detached instead of deadlocking.
void JoinQuietly(std::thread& thread, const char* what) {
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
        return;
    }
    try {
        thread.join();
    } catch (const std::system_error& error) {
        std::printf("[Library] Could not join the %s thread: %s\n", what, error.what());
        thread.detach();
    }
}

}  // namespace

SoundLibrary::~SoundLibrary() {
    // The workers poll these flags before each file, so each stops after the
    // file in hand.
    scanRunning.store(0);
    fingerprintRunning.store(0);
    JoinQuietly(scanThread, "scan");
    JoinQuietly(fingerprintThread, "fingerprint");
}

void MarkLibrariesChanged(SoundLibrary& library) {
    library.keywordsDirty = 1;
    ++library.librariesRevision;
}

void HoldLibraryForReading(SoundLibrary& library) { library.readerHolds.fetch_add(1, std::memory_order_acq_rel); }

void ReleaseLibraryHold(SoundLibrary& library) { library.readerHolds.fetch_sub(1, std::memory_order_acq_rel); }

bool LibraryChangesWait(const SoundLibrary& library) {
    return library.readerHolds.load(std::memory_order_acquire) > 0;
}

// ---------------------------------------------------------------------------
// Scan texts
// ---------------------------------------------------------------------------

namespace {

// The scan's texts are written by the scanner and read by the interface.
void SetScanText(SoundLibrary& library, char (&field)[256], std::string_view text) {
    std::lock_guard<std::mutex> lock(library.scanTextMutex);
    CopyTextField(field, text);
}

std::string GetScanText(const SoundLibrary& library, const char (&field)[256]) {
    std::lock_guard<std::mutex> lock(library.scanTextMutex);
    return std::string(field);
}

}  // namespace

void SetScanStatus(SoundLibrary& library, std::string_view text) { SetScanText(library, library.scanStatus, text); }
std::string GetScanStatus(const SoundLibrary& library) { return GetScanText(library, library.scanStatus); }
void SetScanError(SoundLibrary& library, std::string_view text) { SetScanText(library, library.scanError, text); }
std::string GetScanError(const SoundLibrary& library) { return GetScanText(library, library.scanError); }

void AddFailedFile(SoundLibrary& library, std::string_view fileName) {
    std::string copy(fileName);  // allocate outside the lock
    std::lock_guard<std::mutex> lock(library.scanTextMutex);
    library.failedFiles.push_back(std::move(copy));
}

void ClearFailedFiles(SoundLibrary& library) {
    std::vector<std::string> old;
    {
        std::lock_guard<std::mutex> lock(library.scanTextMutex);
        old.swap(library.failedFiles);
    }
}

std::vector<std::string> GetFailedFiles(const SoundLibrary& library) {
    std::lock_guard<std::mutex> lock(library.scanTextMutex);
    return library.failedFiles;
}

size_t FailedFileCount(const SoundLibrary& library) {
    std::lock_guard<std::mutex> lock(library.scanTextMutex);
    return library.failedFiles.size();
}

void AddScanNote(SoundLibrary& library, ScanNote note) {
    const bool saysSomething =
        !note.error.empty() || note.skipped > 0 || note.tooShort > 0 || note.incomplete || note.nothingFound;
    std::lock_guard<std::mutex> lock(library.scanTextMutex);
    std::erase_if(library.scanNotes, [&](const ScanNote& old) { return old.folder == note.folder; });
    if (saysSomething) library.scanNotes.push_back(std::move(note));
}

std::vector<ScanNote> GetScanNotes(const SoundLibrary& library) {
    std::lock_guard<std::mutex> lock(library.scanTextMutex);
    return library.scanNotes;
}

void DismissScanNote(SoundLibrary& library, size_t index) {
    std::lock_guard<std::mutex> lock(library.scanTextMutex);
    if (index < library.scanNotes.size()) library.scanNotes.erase(library.scanNotes.begin() + std::ptrdiff_t(index));
}

// ---------------------------------------------------------------------------
// Library order
// ---------------------------------------------------------------------------

namespace {

// ASCII only: the order must not change with the process locale, and bytes
// of multi-byte UTF-8 characters are left as they are.
unsigned char LowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

bool CompareLibrariesByName(const SoundLibrary& library, int32_t i, int32_t j) {
    const int32_t count = static_cast<int32_t>(library.libraries.size());
    if (i < 0 || j < 0 || i >= count || j >= count)
        return false;
    const std::string& a = library.libraries[static_cast<size_t>(i)].name;
    const std::string& b = library.libraries[static_cast<size_t>(j)].name;
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t k = 0; k < common; ++k) {
        const unsigned char ca = LowerAscii(static_cast<unsigned char>(a[k]));
        const unsigned char cb = LowerAscii(static_cast<unsigned char>(b[k]));
        if (ca != cb)
            return ca < cb;
    }
    return a.size() < b.size();
}

bool CompareLibrariesByName(int32_t i, int32_t j) {
    return CompareLibrariesByName(gSoundLibrary, i, j);
}
