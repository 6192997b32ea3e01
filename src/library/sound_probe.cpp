// sound_probe.cpp — filling unknown Clip and Bed weights from the libraries,
// the probe's cache and a background analysis.
//
// Index
//   gSoundProbe / ~SoundProbe / StopSoundProbe
//   RefreshLookup              rebuild the id and path maps when the libraries changed
//   LookupFileBrightness
//   TakeProbeResults           part 1 of a frame: delivered values into the events
//   StartProbePass             part 2: look for unknown values, queue the rest
//   ProbeUnknownSoundValues
//   AnalyzeLibraryWorker
#include "library/sound_probe.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "document/event.h"
#include "document/project.h"
#include "library/library_index_file.h"
#include "library/sound_analysis.h"
#include "library/sound_library.h"

SoundProbe gSoundProbe;

SoundProbe::~SoundProbe() { StopSoundProbe(*this); }

void StopSoundProbe(SoundProbe& probe) {
    probe.probeQuit.store(true);
    if (!probe.probeThread.joinable()) return;
    if (probe.probeThread.get_id() == std::this_thread::get_id()) {
        probe.probeThread.detach();
        return;
    }
    try {
        probe.probeThread.join();
    } catch (const std::system_error& error) {
        std::printf("[Library] could not join the sound probe: %s\n", error.what());
    }
}

// ---------------------------------------------------------------------------
// Library lookup
// ---------------------------------------------------------------------------

namespace {

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

void RefreshLookup(LibraryBrightnessLookup& lookup, const SoundLibrary& library) {
    size_t entryCount = 0;
    for (const LibraryIndex& index : library.libraries) entryCount += index.entries.size();
    if (lookup.built && lookup.revision == library.librariesRevision &&
        lookup.libraryCount == library.libraries.size() && lookup.entryCount == entryCount)
        return;
    lookup.byId.clear();
    lookup.byPath.clear();
    lookup.byId.reserve(entryCount);
    lookup.byPath.reserve(entryCount);
    uint64_t order = 0;
    for (const LibraryIndex& index : library.libraries) {
        for (const LibraryEntry& entry : index.entries) {
            const LibraryBrightnessLookup::Hit hit{order++, entry.brightness};
            if (!entry.fileId.empty()) lookup.byId.try_emplace(entry.fileId, hit);
            lookup.byPath.try_emplace(entry.path, hit);
        }
    }
    lookup.built = true;
    lookup.revision = library.librariesRevision;
    lookup.libraryCount = library.libraries.size();
    lookup.entryCount = entryCount;
    ++lookup.rebuilds;
}

}  // namespace

void LookupFileBrightness(SoundProbe& probe, const SoundLibrary& library, BrightnessProbeContext& context,
                          const std::string& fileId, const std::string& path, float& value) {
    if (value >= 0 || path.empty()) return;

    RefreshLookup(probe.lookup, library);
    const LibraryBrightnessLookup::Hit* hit = nullptr;
    if (!fileId.empty()) {
        auto it = probe.lookup.byId.find(fileId);
        if (it != probe.lookup.byId.end()) hit = &it->second;
    }
    auto byPath = probe.lookup.byPath.find(path);
    if (byPath != probe.lookup.byPath.end() && (hit == nullptr || byPath->second.order < hit->order))
        hit = &byPath->second;
    if (hit != nullptr) {
        value = Clamp01(hit->brightness);
        context.anyFound = true;
        return;
    }

    const std::string& key = fileId.empty() ? path : fileId;
    auto cached = probe.brightnessProbeCache.find(key);
    if (cached != probe.brightnessProbeCache.end()) {
        value = cached->second;
        context.anyFound = true;
        return;
    }
    if (probe.probePending.count(key) != 0) return;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) || ec) return;  // looked at again next pass
    probe.probePending.insert(key);
    context.jobs.push_back(BrightnessProbeJob{key, path});
}

// ---------------------------------------------------------------------------
// The frame's work
// ---------------------------------------------------------------------------

namespace {

// Writes delivered values into every event still waiting for them. True only
// when a weight was written: values for files no event waits for any more (an
// event given its weight meanwhile, a document opened since the pass began)
// change nothing, and must not mark the document modified.
bool TakeProbeResults(SoundProbe& probe, Project& project) {
    std::vector<BrightnessProbeResult> results;
    {
        std::lock_guard<std::mutex> lock(probe.probeResultsMutex);
        results.swap(probe.probeResults);
    }
    bool written = false;
    for (const BrightnessProbeResult& result : results) {
        probe.brightnessProbeCache[result.key] = result.value;
        for (Event& event : project.events) {
            if (event.shape == kShapeBed) {
                for (size_t i = 0; i < event.pinnedFiles.size() && i < event.bedLayerWeight.size(); ++i) {
                    if (event.bedLayerWeight[i] >= 0) continue;
                    const bool byId = i < event.pinnedFileIds.size() && event.pinnedFileIds[i] == result.key;
                    if (byId || event.pinnedFiles[i] == result.key) {
                        event.bedLayerWeight[i] = result.value;
                        written = true;
                    }
                }
            } else if (event.shape == kShapeClip && event.clipWeight < 0) {
                if (event.pinnedFileId == result.key || result.key == event.pinnedFile) {
                    event.clipWeight = result.value;
                    written = true;
                }
            }
        }
    }
    return written;
}

// Looks up every value still unknown: answers from the libraries and the
// cache, and queues in the context the files nobody has analysed yet.
void LookUpUnknownValues(SoundProbe& probe, Project& project, const SoundLibrary& library,
                         BrightnessProbeContext& context) {
    static const std::string kNoId;
    for (Event& event : project.events) {
        if (event.shape == kShapeBed) {
            event.bedLayerWeight.resize(event.pinnedFiles.size(), -1.0f);
            for (size_t i = 0; i < event.pinnedFiles.size(); ++i) {
                const std::string& id = i < event.pinnedFileIds.size() ? event.pinnedFileIds[i] : kNoId;
                LookupFileBrightness(probe, library, context, id, event.pinnedFiles[i], event.bedLayerWeight[i]);
            }
        } else if (event.shape == kShapeClip && event.pinnedFile[0] != '\0') {
            LookupFileBrightness(probe, library, context, event.pinnedFileId, event.pinnedFile, event.clipWeight);
        }
    }
}

// Returns whether values were found at once; hands the rest to a worker.
bool StartProbePass(SoundProbe& probe, Project& project, const SoundLibrary& library) {
    BrightnessProbeContext context;
    LookUpUnknownValues(probe, project, library, context);
    if (!context.jobs.empty() && !probe.probeQuit.load()) {
        probe.probeBusy.store(true);
        if (probe.probeThread.joinable()) probe.probeThread.join();
        std::vector<std::string> keys;
        for (const BrightnessProbeJob& job : context.jobs) keys.push_back(job.key);
        try {
            probe.probeThread = std::thread(AnalyzeLibraryWorker, &probe, std::move(context.jobs));
        } catch (const std::system_error& error) {
            // Not queued after all: let the next pass try these files again.
            std::printf("[Library] could not start the sound probe: %s\n", error.what());
            for (const std::string& key : keys) probe.probePending.erase(key);
            probe.probeBusy.store(false);
        }
    }
    return context.anyFound;
}

}  // namespace

bool ProbeUnknownSoundValues(SoundProbe& probe, Project& project, const SoundLibrary& library,
                             bool busyTaskRunning, double uiTime) {
    if (busyTaskRunning) return false;
    bool changed = TakeProbeResults(probe, project);
    if (uiTime < probe.nextProbeTime || probe.probeBusy.load()) {
        if (changed) project.probedWeightsWritten += 1;
        return changed;
    }
    probe.nextProbeTime = uiTime + 2.0;
    if (StartProbePass(probe, project, library)) changed = true;
    if (changed) project.probedWeightsWritten += 1;
    return changed;
}

bool SoundProbeHasWork(SoundProbe& probe, const Project& project, const SoundLibrary& library) {
    if (probe.probeBusy.load()) return true;
    {
        std::lock_guard<std::mutex> lock(probe.probeResultsMutex);
        if (!probe.probeResults.empty()) return true;
    }
    if (probe.probeQuit.load()) return false;
    // A value a pass would answer or queue: what LookupFileBrightness does,
    // without doing it.
    RefreshLookup(probe.lookup, library);
    auto answerable = [&](const std::string& fileId, const std::string& path) {
        if (path.empty()) return false;
        if ((!fileId.empty() && probe.lookup.byId.count(fileId)) || probe.lookup.byPath.count(path)) return true;
        const std::string& key = fileId.empty() ? path : fileId;
        if (probe.brightnessProbeCache.count(key)) return true;
        std::error_code ec;
        return !probe.probePending.count(key) && std::filesystem::exists(path, ec) && !ec;
    };
    static const std::string kNoId;
    for (const Event& event : project.events) {
        if (event.shape == kShapeBed) {
            for (size_t i = 0; i < event.pinnedFiles.size(); ++i) {
                if (i < event.bedLayerWeight.size() && event.bedLayerWeight[i] >= 0) continue;
                if (answerable(i < event.pinnedFileIds.size() ? event.pinnedFileIds[i] : kNoId, event.pinnedFiles[i]))
                    return true;
            }
        } else if (event.shape == kShapeClip && event.pinnedFile[0] != '\0' && event.clipWeight < 0) {
            if (answerable(event.pinnedFileId, event.pinnedFile)) return true;
        }
    }
    return false;
}

bool FinishSoundProbe(SoundProbe& probe, Project& project, const SoundLibrary& library) {
    // The worker ends after its list; what it delivered is taken first.
    if (probe.probeThread.joinable()) probe.probeThread.join();
    bool written = TakeProbeResults(probe, project);
    BrightnessProbeContext context;
    LookUpUnknownValues(probe, project, library, context);
    written = written || context.anyFound;
    if (!context.jobs.empty() && !probe.probeQuit.load()) {
        probe.probeBusy.store(true);
        AnalyzeLibraryWorker(&probe, std::move(context.jobs));
        written = TakeProbeResults(probe, project) || written;
    }
    if (written) project.probedWeightsWritten += 1;
    return written;
}

// ---------------------------------------------------------------------------
// The worker
// ---------------------------------------------------------------------------

void AnalyzeLibraryWorker(SoundProbe* probe, std::vector<BrightnessProbeJob> jobs) {
    for (BrightnessProbeJob& job : jobs) {
        if (probe->probeQuit.load()) break;
        LibraryEntry entry;
        float value = 0.5f;  // for a file that cannot be analysed
        try {
            // Rounded as a library's index keeps it: the weight is the same
            // whether the file was measured here or found in a library.
            if (AnalyzeSoundFile(job.path, entry)) {
                KeepIndexedPrecision(entry);
                value = Clamp01(entry.brightness);
            }
        } catch (const std::exception& error) {
            std::printf("[Library] sound probe could not analyse %s: %s\n", job.path.c_str(), error.what());
        }
        std::lock_guard<std::mutex> lock(probe->probeResultsMutex);
        probe->probeResults.push_back(BrightnessProbeResult{std::move(job.key), value});
    }
    probe->probeBusy.store(false);
}
