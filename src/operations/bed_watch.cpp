// bed_watch.cpp — the keys of Bed events.
//
// Index
//   BedInputsKey / BedsChanged / NoteBedsRebuilt
//   BedsToReadAlone / NoteListedBedsRebuilt / NoteBedResults
#include "operations/bed_watch.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "document/event.h"
#include "document/project.h"

namespace {

struct KeyHash {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    void Bytes(const void* data, size_t n) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < n; ++i) {
            h ^= p[i];
            h *= 1099511628211ull;
        }
    }
    template <class T>
    void Add(const T& value) {
        Bytes(&value, sizeof value);
    }
    void Add(const std::string& text) {
        Add(text.size());
        Bytes(text.data(), text.size());
    }
};

}  // namespace

uint64_t BedInputsKey(const Project& project, const Event& e) {
    if (e.shape != kShapeBed) return 0;
    KeyHash k;
    k.Add(project.fps);
    k.Add(e.time);
    k.Add(e.duration);
    k.Add(e.syncOffset);
    k.Add(e.sceneLink >= 0);
    k.Add(e.sceneCrossfade);
    k.Add(EventMixGroup(e));
    k.Add(e.hasPinnedFiles);
    k.Add(e.pinnedFiles.size());
    for (const std::string& f : e.pinnedFiles) k.Add(f);
    k.Add(e.pinnedFileIds.size());
    for (const std::string& id : e.pinnedFileIds) k.Add(id);
    k.Add(e.bedLayerLoop.size());
    for (uint8_t loop : e.bedLayerLoop) k.Add(loop);
    k.Add(e.bedLayerWeight.size());
    for (float w : e.bedLayerWeight) k.Add(w);
    return k.h | 1;  // never 0: that is "not a Bed"
}

bool BedsChanged(const Project& project, const BedWatch& watch, std::vector<int>* changed) {
    if (changed) changed->clear();
    const size_t n = std::max(project.events.size(), watch.keys.size());
    for (size_t e = 0; e < n; ++e) {
        const uint64_t now = e < project.events.size() ? BedInputsKey(project, project.events[e]) : 0;
        const uint64_t noted = e < watch.keys.size() ? watch.keys[e] : 0;
        if (now == noted) continue;
        if (!changed) return true;
        changed->push_back(static_cast<int>(e));
    }
    return changed && !changed->empty();
}

void NoteBedsRebuilt(const Project& project, BedWatch& watch) {
    watch.keys.resize(project.events.size());
    for (size_t e = 0; e < project.events.size(); ++e) watch.keys[e] = BedInputsKey(project, project.events[e]);
    watch.changed.clear();
    watch.listed = false;
}

// ---- BedsToReadAlone ----------------------------------------------------------

bool BedsToReadAlone(const Project& project, const BedWatch& watch, std::vector<int>& beds) {
    const BedWatch::Results& noted = watch.results;
    const size_t events = project.events.size();
    if (!noted.known || noted.revision != project.resultsRevision || noted.count != project.results.size() ||
        noted.own.size() != events || watch.keys.size() != events)
        return false;
    std::vector<int> changed;
    if (watch.listed) changed = watch.changed;
    else BedsChanged(project, watch, &changed);
    for (int e : changed) {
        if (e < 0 || static_cast<size_t>(e) >= events) return false;
        // An event made a Bed has results the Bed's rebuild would erase, and
        // one that stopped being a Bed keeps its own: neither are noted.
        if (watch.keys[size_t(e)] == 0 || project.events[size_t(e)].shape != kShapeBed) return false;
        for (int i : noted.own[size_t(e)])
            if (static_cast<size_t>(i) >= project.results.size() || project.results[size_t(i)].eventIdx != e)
                return false;
    }
    beds = std::move(changed);
    return true;
}

void NoteListedBedsRebuilt(const Project& project, BedWatch& watch, const std::vector<int>& beds) {
    for (int e : beds)
        if (static_cast<size_t>(e) < watch.keys.size())
            watch.keys[size_t(e)] = BedInputsKey(project, project.events[size_t(e)]);
    watch.changed.clear();
    watch.listed = false;
}

void NoteBedResults(const Project& project, BedWatch& watch, std::vector<std::vector<int>> own) {
    watch.results.own = std::move(own);
    watch.results.revision = project.resultsRevision;
    watch.results.count = project.results.size();
    watch.results.probedWeights = project.probedWeightsWritten;
    watch.results.known = true;
}
