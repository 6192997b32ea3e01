// bed_watch.cpp — the keys of Bed events.
//
// Index
//   BedInputsKey / BedsChanged / NoteBedsRebuilt
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

bool BedsChanged(const Project& project, const BedWatch& watch) {
    const size_t n = std::max(project.events.size(), watch.keys.size());
    for (size_t e = 0; e < n; ++e) {
        const uint64_t now = e < project.events.size() ? BedInputsKey(project, project.events[e]) : 0;
        const uint64_t noted = e < watch.keys.size() ? watch.keys[e] : 0;
        if (now != noted) return true;
    }
    return false;
}

void NoteBedsRebuilt(const Project& project, BedWatch& watch) {
    watch.keys.resize(project.events.size());
    for (size_t e = 0; e < project.events.size(); ++e) watch.keys[e] = BedInputsKey(project, project.events[e]);
}
