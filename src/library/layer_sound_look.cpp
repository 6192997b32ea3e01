// layer_sound_look.cpp — each file of a layer's sound looked at once.
//
// Index
//   SoundLooks::Of
//   LookAtLayerSound
#include "library/layer_sound_look.h"

#include "document/project.h"
#include "library/file_identity.h"
#include "library/file_registry.h"

// ---------------------------------------------------------------------------
// SoundLooks::Of
// ---------------------------------------------------------------------------

SoundFileState SoundLooks::Of(const std::string& path, const std::string& id) {
    std::string key = path;
    key += '\0';
    key += id;
    auto it = seen_.find(key);
    if (it != seen_.end()) return it->second;
    SoundFileState state = SoundFileState::AsMeasured;
    uint64_t hash = 0, size = 0;
    FileRef measured;
    if (!FingerprintFile(path, hash, size))
        state = SoundFileState::Away;  // gone, or no longer a sound that opens
    else if (!id.empty() && registry_.GetFileRef(id, measured) &&
             ((measured.size != 0 && measured.size != size) || (measured.hash != 0 && measured.hash != hash)))
        state = SoundFileState::Changed;
    if (state != SoundFileState::AsMeasured) notAsMeasured_.insert(path);
    seen_.emplace(std::move(key), state);
    return state;
}

// ---------------------------------------------------------------------------
// LookAtLayerSound
// ---------------------------------------------------------------------------

LayerSound LookAtLayerSound(const RenderResult& r, SoundLooks& looks) {
    if (r.placeholder) return LayerSound::Unmatched;
    if (r.procMode == 3) {
        int named = 0, away = 0;
        bool changed = false;
        auto look = [&](const std::string& path, const std::string& id) {
            if (path.empty()) return;
            ++named;
            const SoundFileState state = looks.Of(path, id);
            away += state == SoundFileState::Away ? 1 : 0;
            changed = changed || state == SoundFileState::Changed;
        };
        look(r.filepath, r.fileId);
        for (const AlloySource* s : {&r.alloyMid, &r.alloyHigh, &r.alloyEnv}) look(s->filepath, s->fileId);
        if (named > 0 && away == named) return LayerSound::Missing;
        if (away > 0) return LayerSound::AlloyPartial;
        return changed ? LayerSound::Changed : LayerSound::AsMeasured;
    }
    switch (looks.Of(r.filepath, r.fileId)) {
        case SoundFileState::Away: return LayerSound::Missing;
        case SoundFileState::Changed: return LayerSound::Changed;
        default: return LayerSound::AsMeasured;
    }
}
