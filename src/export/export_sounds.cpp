// export_sounds.cpp — every layer's sound looked at once before an export.
//
// Index
//   ExportSounds        Silent, Fresh, Changed, NoteDecodeFailed, Counts
//   Looking at files    FileState, FileLooks (each file once)
//   CheckExportSounds   a finding per layer
#include "export/export_sounds.h"

#include <string>
#include <unordered_map>

#include "document/project.h"
#include "export/export_records.h"
#include "library/file_identity.h"
#include "library/file_registry.h"
#include "playback/voice_settings.h"
#include "render/processed_clip_cache.h"

// ---------------------------------------------------------------------------
// ExportSounds
// ---------------------------------------------------------------------------

bool ExportSounds::Silent(size_t result) const {
    if (result >= byResult.size()) return false;
    const LayerSound s = byResult[result];
    return s == LayerSound::Unmatched || s == LayerSound::Missing || decodeFailed[result];
}

bool ExportSounds::Fresh(size_t result) const {
    if (result >= byResult.size()) return false;
    const LayerSound s = byResult[result];
    return s == LayerSound::Changed || s == LayerSound::AlloyPartial || s == LayerSound::Rebuilt;
}

bool ExportSounds::Changed(size_t result) const {
    if (result >= byResult.size()) return false;
    return byResult[result] == LayerSound::Changed || byResult[result] == LayerSound::AlloyPartial;
}

void ExportSounds::NoteDecodeFailed(size_t result) const {
    if (result < decodeFailed.size()) decodeFailed[result] = 1;
}

LayerSoundCounts ExportSounds::Counts() const {
    LayerSoundCounts counts;
    for (size_t r = 0; r < byResult.size(); ++r) {
        if (!counted[r]) continue;
        const bool failed = decodeFailed[r] && byResult[r] != LayerSound::Unmatched;
        switch (failed ? LayerSound::Missing : byResult[r]) {
            case LayerSound::Unmatched: ++counts.unmatched; break;
            case LayerSound::Missing: ++counts.missing; break;
            case LayerSound::Changed: ++counts.changed; break;
            case LayerSound::AlloyPartial: ++counts.alloyPartial; break;
            default: break;
        }
    }
    return counts;
}

// ---------------------------------------------------------------------------
// Looking at files
// ---------------------------------------------------------------------------

namespace {

enum class FileState : uint8_t { AsMeasured, Changed, Away };

// Each file the layers name, looked at once: whether it is still a sound
// that opens, and whether its fingerprint is the one the registry keeps for
// the id the layer names it by.
struct FileLooks {
    FileRegistry& registry;
    std::unordered_map<std::string, FileState> seen;  // by path and id

    FileState Of(const std::string& path, const std::string& id) {
        std::string key = path;
        key += '\0';
        key += id;
        auto it = seen.find(key);
        if (it != seen.end()) return it->second;
        FileState state = FileState::AsMeasured;
        uint64_t hash = 0, size = 0;
        FileRef measured;
        if (!FingerprintFile(path, hash, size))
            state = FileState::Away;  // gone, or no longer a sound that opens
        else if (!id.empty() && registry.GetFileRef(id, measured) &&
                 ((measured.size != 0 && measured.size != size) || (measured.hash != 0 && measured.hash != hash)))
            state = FileState::Changed;
        seen.emplace(std::move(key), state);
        return state;
    }
};

LayerSound Classify(const RenderResult& r, FileLooks& looks) {
    if (r.placeholder) return LayerSound::Unmatched;
    const LayerSound asMeasured = r.missing ? LayerSound::Rebuilt : LayerSound::AsMeasured;
    if (r.procMode == 3) {
        int named = 0, away = 0;
        bool changed = false;
        auto look = [&](const std::string& path, const std::string& id) {
            if (path.empty()) return;
            ++named;
            const FileState state = looks.Of(path, id);
            away += state == FileState::Away ? 1 : 0;
            changed = changed || state == FileState::Changed;
        };
        look(r.filepath, r.fileId);
        for (const AlloySource* s : {&r.alloyMid, &r.alloyHigh, &r.alloyEnv}) look(s->filepath, s->fileId);
        if (named > 0 && away == named) return LayerSound::Missing;
        if (away > 0) return LayerSound::AlloyPartial;
        return changed ? LayerSound::Changed : asMeasured;
    }
    switch (looks.Of(r.filepath, r.fileId)) {
        case FileState::Away: return LayerSound::Missing;
        case FileState::Changed: return LayerSound::Changed;
        default: return asMeasured;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// CheckExportSounds
// ---------------------------------------------------------------------------

ExportSounds CheckExportSounds(const ExportJob& job, const Project& project, FileRegistry& registry) {
    const std::vector<RenderResult>& results = project.results;
    ExportSounds sounds;
    sounds.byResult.assign(results.size(), LayerSound::AsMeasured);
    sounds.counted.assign(results.size(), 0);
    sounds.decodeFailed.assign(results.size(), 0);
    const bool hasRange = job.rangeIn >= 0 && job.rangeOut > job.rangeIn;
    FileLooks looks{registry, {}};
    for (size_t i = 0; i < results.size(); ++i) {
        const RenderResult& r = results[i];
        // A muted layer is in no file: nothing of its sound is looked at.
        if (!ResultGetsVoice(r) || LayerMuted(r, int(project.events.size()), project.events.data())) continue;
        sounds.byResult[i] = Classify(r, looks);
        sounds.counted[i] = IsInExportRange(hasRange, job.rangeIn, job.rangeOut, r) ? 1 : 0;
    }
    // The regions decoded while the files were as measured would stand in
    // for what the files hold now.
    for (const auto& [file, state] : looks.seen)
        if (state == FileState::Changed) {
            ClearProcessedClipCache();
            break;
        }
    return sounds;
}
