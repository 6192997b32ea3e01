// sound_library.h — the designer's indexed sound collection and its shared state.
//
// Index
//   LibraryEntry          one audio file of a library with its analysis (field order = index-file column order)
//   LibraryIndex          one library: a scanned folder or a palette
//   KeywordRecord         one word of the library-wide keyword list
//   FingerprintResult     one finished fingerprint, handed from the worker to the UI thread
//   ScanRequest           what a scan thread is started with (owned and freed by the thread)
//   QueuedLibraryFolder   a folder waiting in the add queue
//   SoundLibrary          all libraries plus the state of the scan and fingerprint workers
//   gSoundLibrary         the one instance of the program
//   MarkLibrariesChanged  note a change to `libraries` (keyword list, lookups)
//   HoldLibraryForReading / ReleaseLibraryHold / LibraryChangesWait
//                         a worker outside the busy task reads `libraries`; changes wait
//   Scan texts            SetScanStatus / GetScanStatus / SetScanError / GetScanError /
//                         AddFailedFile / ClearFailedFiles / GetFailedFiles / FailedFileCount /
//                         AddScanNote / GetScanNotes / DismissScanNote
//   CompareLibrariesByName  case-insensitive order of the library panel
//
// Threads: the UI thread owns everything that is not atomic, except the
// two hand-over vectors (each under its own mutex) and the scan texts, which
// the scan thread writes while the UI reads them every frame. The scan texts
// are therefore only touched through the accessors below, which hold
// `scanTextMutex` just long enough to copy.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "library/file_identity.h"

struct LibraryEntry {
    std::string path;
    std::string name;               // file stem
    float duration = 0;             // seconds, whole file
    float sampleRate = 0;
    int32_t channels = 0;
    int32_t bits = 0;
    float bandEnergy[5] = {0, 0, 0, 0, 0};  // 20-150, 150-750, 750-2k, 2k-6k, 6k-16k Hz; strongest = 1
    float brightness = 0.5f;        // log centroid, 100 Hz = 0, 8 kHz = 1
    float highFreqRatio = 0;
    float bandCentroid = 0.5f;      // spectral weight, compared with an event's weight curve
    float crestDb = 0;
    float peakPosition = 0;
    float zeroCrossingRate = 0;
    float dynamicsDb = 0;           // same figure as crestDb; the layer scoring reads this one
    float rmsDb = -100;             // -100 for silence
    float temporalCentroid = 0.5f;
    float spectralFlux = 0;
    float pitchHz = 0;              // 0 when no pitch was accepted
    int32_t midiNote = -1;          // -1 when no pitch was accepted
    float pitchCents = 0;
    float pitchConfidence = 0;
    float spectralFlatness = 0;
    float harmonicity = 0;
    float onsetPosition = 0;
    float attackTime = 0;           // seconds
    FileId fileId;                  // empty until known
    uint64_t hash = 0;              // 0 = never fingerprinted
    uint64_t size = 0;              // bytes, goes with hash
    std::string description;        // broadcast-wave description plus tags
};

struct LibraryIndex {
    std::string path;               // scanned folder; empty for a palette
    std::string name;               // also the stem of the index file
    std::vector<LibraryEntry> entries;
    uint8_t enabled = 1;
    int32_t group = -1;             // mix group 0..2, -1 = every group
    std::string summary;
    std::string keywordsText;
    int64_t scanTime = 0;           // seconds since 1970 (UTC); 0 = never
    uint8_t folderMissing = 0;
    uint8_t savedPalette = 0;
    std::vector<std::string> previousNames;  // oldest first
    // The folder went away during the scan that made this library: it holds
    // only part of the folder until a rescan finishes.
    uint8_t incomplete = 0;
    // Index-file writes of the scan that made it: a checkpoint every 500
    // files, then the last. Not kept in the file.
    int32_t indexWrites = 0;
};

// What a finished scan has to tell the user (an interrupted walk, a folder
// that went away, files it skipped). Kept until the user dismisses it or the
// same folder's next scan ends, so a queued scan starting does not hide it.
struct ScanNote {
    std::string folder;
    std::string name;               // the folder's last component
    std::string error;              // empty when the walk and the folder held
    int32_t skipped = 0;            // files that could not be analysed
    int32_t tooShort = 0;           // sound files shorter than one analysis block
    bool incomplete = false;
    bool nothingFound = false;      // the walk found no file the scan takes
};

struct KeywordRecord {
    std::string token;              // lower case
    std::string display;            // most frequent written form
    int32_t count = 0;
};

struct FingerprintResult {
    std::string libraryName;
    std::string path;               // the job's path, even when the registry knows another
    FileId id;
    uint64_t hash = 0;
    uint64_t size = 0;
    // Where the entry was when the job was made; checked before use, so a
    // library changed meanwhile only costs a search by name and path.
    int32_t libraryHint = -1;
    int32_t entryHint = -1;
};

struct SoundLibrary;
struct CandidateTable;

struct ScanRequest {
    SoundLibrary* library = nullptr;
    std::string folder;
    uint8_t enabled = 1;
    int32_t group = -1;
};

struct QueuedLibraryFolder {
    std::string folder;
    uint8_t enabled = 1;
    int32_t group = -1;
};

struct SoundLibrary {
    SoundLibrary() = default;
    // Stops the scan and fingerprint workers and joins them: a thread still
    // joinable at destruction would otherwise end the whole program.
    ~SoundLibrary();
    SoundLibrary(const SoundLibrary&) = delete;
    SoundLibrary& operator=(const SoundLibrary&) = delete;

    std::vector<LibraryIndex> libraries;          // UI thread only
    std::vector<KeywordRecord> keywords;          // sorted by token
    uint8_t keywordsDirty = 1;
    std::atomic<uint8_t> scanRunning{0};          // cleared by the UI to stop a scan
    std::atomic<float> scanProgress{0};
    std::atomic<int32_t> scanFilesDone{0};
    std::atomic<int32_t> scanFilesFound{0};
    std::atomic<int32_t> scanWorkers{0};          // analysis threads of a scan; 0 = one per core
    char scanStatus[256] = {};                    // through Set/GetScanStatus only
    char scanFolderName[128] = {};                // UI thread
    QueuedLibraryFolder scanFolder;               // UI thread: the folder of the last scan started
    std::thread scanThread;
    std::atomic<uint8_t> fingerprintRunning{0};
    std::atomic<int32_t> fingerprintDone{0};
    std::atomic<int32_t> fingerprintTotal{0};
    std::thread fingerprintThread;
    std::mutex fingerprintMutex;                  // guards fingerprintResults only
    std::vector<FingerprintResult> fingerprintResults;
    std::vector<std::string> librariesToSave;
    uint8_t fingerprintStarted = 0;
    // Called on the fingerprint worker before each file, after its stop
    // check, when set. Set before the worker starts and left alone while it
    // runs. The program leaves it empty; tests hold the worker here to see
    // the UI side while it provably still runs.
    std::function<void()> fingerprintBeforeFile;
    // The same for the scan thread: called before each file is taken from
    // the analysis, after the stop check.
    std::function<void()> scanBeforeFile;
    std::mutex scanMutex;                         // guards finishedScans only
    std::vector<LibraryIndex> finishedScans;
    std::string indexFolder;
    std::vector<std::string> pendingFolders;
    std::vector<std::string> pendingFolderNames;
    std::vector<std::string> failedFiles;         // through AddFailedFile / GetFailedFiles only
    char scanError[256] = {};                     // through Set/GetScanError only
    std::vector<ScanNote> scanNotes;              // through AddScanNote / GetScanNotes / DismissScanNote only
    double lastFolderCheck = 0;
    std::vector<QueuedLibraryFolder> libraryAddQueue;  // UI thread only
    // Raised (with keywordsDirty) by every change to `libraries` or their
    // entries, through MarkLibrariesChanged; lookups built over the entries
    // compare it to know when to rebuild. UI thread only.
    uint32_t librariesRevision = 0;

    // Threads other than the busy task that read `libraries` unlocked (the
    // recipe preview) hold this while they read; the interface thread's
    // changes to `libraries` wait while it is raised, as for a busy task.
    std::atomic<int32_t> readerHolds{0};

    // Guards scanStatus, scanError, failedFiles and scanNotes. Held only while copying a
    // text in or out; no other lock is taken while it is held.
    mutable std::mutex scanTextMutex;

    // The render engine's compact copy of what scoring reads of every entry,
    // rebuilt under candidateTableMutex when the libraries changed (their
    // entries' storage, librariesRevision or, on a render command, their
    // analysis); passes hold their own reference while they run.
    mutable std::shared_ptr<const CandidateTable> candidateTable;
    mutable std::mutex candidateTableMutex;
};

extern SoundLibrary gSoundLibrary;

// Records a change to `libraries`: sets keywordsDirty and raises librariesRevision.
void MarkLibrariesChanged(SoundLibrary& library);

// A reader outside the busy task raises the hold (on the interface thread,
// before its thread starts) and lowers it when it has finished reading.
// While any hold is raised, LibraryChangesWait is true and the scan
// hand-over, adding, removing, relocating and palettes leave `libraries` alone.
void HoldLibraryForReading(SoundLibrary& library);
void ReleaseLibraryHold(SoundLibrary& library);
bool LibraryChangesWait(const SoundLibrary& library);

// Scan texts. Setters cut at a UTF-8 boundary to fit the 255-byte fields.
void SetScanStatus(SoundLibrary& library, std::string_view text);
std::string GetScanStatus(const SoundLibrary& library);
void SetScanError(SoundLibrary& library, std::string_view text);
std::string GetScanError(const SoundLibrary& library);
void AddFailedFile(SoundLibrary& library, std::string_view fileName);
void ClearFailedFiles(SoundLibrary& library);
std::vector<std::string> GetFailedFiles(const SoundLibrary& library);
size_t FailedFileCount(const SoundLibrary& library);
// A note replaces an earlier one of the same folder (the newer scan tells the
// truth); a note with nothing to say only removes the old one.
void AddScanNote(SoundLibrary& library, ScanNote note);
std::vector<ScanNote> GetScanNotes(const SoundLibrary& library);
void DismissScanNote(SoundLibrary& library, size_t index);

// True when library i's name sorts before library j's, comparing byte by
// byte after ASCII lower-casing; a prefix sorts first. Out-of-range indices
// give false. The two-argument form works on gSoundLibrary.
bool CompareLibrariesByName(const SoundLibrary& library, int32_t i, int32_t j);
bool CompareLibrariesByName(int32_t i, int32_t j);
