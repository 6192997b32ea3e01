// sound_probe.h — spectral weights of Clip and Bed files picked by hand.
//
// Index
//   BrightnessProbeJob / BrightnessProbeResult / BrightnessProbeContext
//   LibraryBrightnessLookup   entries by id and by path, rebuilt when the libraries change
//   SoundProbe                the probe's state: cache, pending keys, hand-over, worker
//   gSoundProbe               the probe of the program (joined at exit)
//   ProbeUnknownSoundValues   per frame: take delivered values, every 2 s look for unknown ones
//   SoundProbeHasWork         whether anything is still to learn
//   FinishSoundProbe          everything still to learn, at once (before an export)
//   LookupFileBrightness      answer one unknown value from the libraries or the cache, or queue it
//   AnalyzeLibraryWorker      the worker: analyse queued files one by one
//   StopSoundProbe            ask the worker to stop and join it
//
// The UI thread alone touches events, the cache, the pending set, the lookup
// and nextProbeTime; the worker touches only its jobs, the files and the
// file registry. They meet in probeResults (under probeResultsMutex) and the
// two atomic flags.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

struct Project;
struct SoundLibrary;

struct BrightnessProbeJob {
    std::string key;   // the file's id when known, else its path
    std::string path;
};

struct BrightnessProbeResult {
    std::string key;
    float value = 0.5f;  // 0..1
};

struct BrightnessProbeContext {
    bool anyFound = false;
    std::vector<BrightnessProbeJob> jobs;
};

// Every library entry by id and by path, each with its position in library
// order, so a lookup finds the first entry that matches either way.
struct LibraryBrightnessLookup {
    struct Hit {
        uint64_t order = 0;
        float brightness = 0.5f;
    };
    std::unordered_map<std::string, Hit> byId;
    std::unordered_map<std::string, Hit> byPath;
    bool built = false;
    uint32_t revision = 0;
    size_t libraryCount = 0;
    size_t entryCount = 0;
    uint32_t rebuilds = 0;  // how often it was built (for tests)
};

struct SoundProbe {
    SoundProbe() = default;
    ~SoundProbe();  // stops and joins the worker
    SoundProbe(const SoundProbe&) = delete;
    SoundProbe& operator=(const SoundProbe&) = delete;

    std::unordered_map<std::string, float> brightnessProbeCache;  // every delivered value; never cleared
    std::set<std::string> probePending;  // every key ever queued; a file is queued once per run
    std::mutex probeResultsMutex;        // guards probeResults only
    std::vector<BrightnessProbeResult> probeResults;
    std::atomic<bool> probeBusy{false};
    std::atomic<bool> probeQuit{false};
    std::thread probeThread;
    double nextProbeTime = 0;            // interface clock, seconds
    LibraryBrightnessLookup lookup;
};

extern SoundProbe gSoundProbe;

// One frame of the probe on the UI thread. Returns true when weights in the
// document were written (project.probedWeightsWritten is raised then); the
// caller then runs ApplyProbedWeights and marks the document modified.
// Nothing is taken or started while `busyTaskRunning`.
bool ProbeUnknownSoundValues(SoundProbe& probe, Project& project, const SoundLibrary& library,
                             bool busyTaskRunning, double uiTime);

// Whether the probe still has something to tell about the document: a worker
// runs, delivered values wait to be taken, or a pass would answer or queue a
// value still unknown. For a wait on the program's state (the test driver's
// settle); interface thread.
bool SoundProbeHasWork(SoundProbe& probe, const Project& project, const SoundLibrary& library);

// What the probe can still tell about the document, at once, on the calling
// (interface) thread: waits for a running worker, takes what it delivered,
// answers from the libraries and the cache, and analyses here the files no
// pass has queued yet. Afterwards only files that cannot be read, or whose
// worker was stopped, are still unknown. True when weights were written (the
// caller runs ApplyProbedWeights; project.probedWeightsWritten is raised).
// For work that must not depend on how far the probe has come, such as an
// export.
bool FinishSoundProbe(SoundProbe& probe, Project& project, const SoundLibrary& library);

void LookupFileBrightness(SoundProbe& probe, const SoundLibrary& library, BrightnessProbeContext& context,
                          const std::string& fileId, const std::string& path, float& value);

void AnalyzeLibraryWorker(SoundProbe* probe, std::vector<BrightnessProbeJob> jobs);

// Sets probeQuit and joins the worker; no worker starts afterwards.
void StopSoundProbe(SoundProbe& probe);
