// layer_sounds.cpp — the open's look at every layer's files, and its counts.
//
// Index
//   LookAtLayerSounds
//   CountLayerSounds / ShowLayerSoundsToast
#include "operations/layer_sounds.h"

#include "document/busy_task.h"
#include "document/project.h"
#include "library/layer_sound_look.h"
#include "operations/app_state.h"
#include "playback/engine_voices.h"
#include "playback/voice_settings.h"
#include "render/clip_processing.h"

namespace {

constexpr float kLayerSoundsToastSeconds = 8.0f;

}  // namespace

// ---------------------------------------------------------------------------
// LookAtLayerSounds
// ---------------------------------------------------------------------------

void LookAtLayerSounds(Project& project, FileRegistry& registry) {
    SoundLooks looks(registry);
    for (RenderResult& r : project.results) {
        if (!ResultGetsVoice(r)) continue;
        if (!r.placeholder) ResolveResultFiles(r);
        r.sound = LookAtLayerSound(r, looks);
    }
    ForgetDecodedSounds(looks.NotAsMeasured());
}

// ---------------------------------------------------------------------------
// CountLayerSounds / ShowLayerSoundsToast
// ---------------------------------------------------------------------------

LayerSoundCounts CountLayerSounds(const Project& project) {
    LayerSoundCounts counts;
    const int eventCount = int(project.events.size());
    for (const RenderResult& r : project.results) {
        if (!ResultGetsVoice(r) || LayerMuted(r, eventCount, project.events.data())) continue;
        LayerSound found = LayerSound::AsMeasured;
        if (r.placeholder)
            found = LayerSound::Unmatched;
        else if (r.missing)
            found = LayerSound::Missing;
        else if (r.sound == LayerSound::Changed || r.sound == LayerSound::AlloyPartial)
            found = r.sound;
        CountLayerSound(counts, found);
    }
    return counts;
}

void ShowLayerSoundsToast(AppState& app, const Project& project, bool noLibrary) {
    const std::string text = LayerSoundsToastText(CountLayerSounds(project), noLibrary);
    if (text.empty()) return;
    app.toastText = text;
    app.toastTimer = kLayerSoundsToastSeconds;
}
