// export_sounds.cpp — every layer's sound looked at once before an export.
//
// Index
//   ExportSounds        Silent, Fresh, Changed, NoteDecodeFailed, Counts
//   CheckExportSounds   a finding per layer
#include "export/export_sounds.h"

#include <string>

#include "document/project.h"
#include "export/export_records.h"
#include "library/file_registry.h"
#include "library/layer_sound_look.h"
#include "playback/voice_settings.h"
#include "render/clip_processing.h"

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
        CountLayerSound(counts, failed ? LayerSound::Missing : byResult[r]);
    }
    return counts;
}

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
    SoundLooks looks(registry);
    for (size_t i = 0; i < results.size(); ++i) {
        const RenderResult& r = results[i];
        // A muted layer is in no file: nothing of its sound is looked at.
        if (!ResultGetsVoice(r) || LayerMuted(r, int(project.events.size()), project.events.data())) continue;
        LayerSound found = LookAtLayerSound(r, looks);
        // Its voice holds another sound than the files' as measured (built
        // while they were away or otherwise): the export decodes it afresh.
        if (found == LayerSound::AsMeasured && (r.missing || r.sound != LayerSound::AsMeasured))
            found = LayerSound::Rebuilt;
        sounds.byResult[i] = found;
        sounds.counted[i] = IsInExportRange(hasRange, job.rangeIn, job.rangeOut, r) ? 1 : 0;
    }
    // What was decoded and morphed while the files were as measured would
    // stand in for what they hold now, or for files that are gone.
    ForgetDecodedSounds(looks.NotAsMeasured());
    return sounds;
}
