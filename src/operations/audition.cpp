// audition.cpp — the layer audition, the layer solo and the sound played
// straight to the output.
//
// Index
//   Helpers
//   Layer audition     ToggleLayerAudition, StopLayerAudition, KeepLayerAuditionValid
//   Layer solo         ToggleLayerSolo, KeepLayerSoloValid
//   Audition sound     PlayAuditionSound, StopAuditionSound, AuditionSoundPlaying
#include "operations/audition.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "document/project.h"
#include "operations/app_state.h"
#include "operations/event_voices.h"
#include "operations/transport_control.h"
#include "playback/audio_engine.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

// The engine's solo goes only while it is still `voice`: another panel may
// have soloed something else since.
void ReleaseSolo(AudioEngine& engine, int voice) {
    if (voice < 0) return;
    int32_t ours = voice;
    engine.soloVoice.compare_exchange_strong(ours, -1);
}

// Whether voice `v` still plays the layer `resultId` (the caller made sure
// the voice list is its own).
bool VoiceCarries(const AudioEngine& engine, int v, int32_t resultId) {
    return v >= 0 && size_t(v) < engine.voices.size() && engine.voices[size_t(v)].resultId == uint32_t(resultId);
}

void EndSolo(AudioEngine& engine, AppState& app) {
    ReleaseSolo(engine, app.soloVoiceIndex);
    app.soloResultId = -1;
    app.soloVoiceIndex = -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Layer audition
// ---------------------------------------------------------------------------

void StopLayerAudition(AudioEngine& engine, AppState& app) {
    if (app.auditionResult < 0 && app.auditionVoice < 0) return;
    ReleaseSolo(engine, app.auditionVoice);
    if (app.auditionResult >= 0) app.lastAuditionResult = app.auditionResult;
    app.auditionResult = -1;
    app.auditionResultId = -1;
    app.auditionVoice = -1;
}

bool ToggleLayerAudition(const DocumentContext& ctx, int resultIndex, VideoPlayer* video) {
    AppState& app = *ctx.app;
    AudioEngine& engine = *ctx.engine;
    if (resultIndex < 0 || size_t(resultIndex) >= ctx.project->results.size()) return false;
    const RenderResult& r = ctx.project->results[size_t(resultIndex)];
    if (app.auditionResult == resultIndex) {
        StopLayerAudition(engine, app);
        return true;
    }
    // While a task may be building voices they are not this thread's to read.
    if (!VoicesAreOurs(app)) return false;
    const int voice = VoiceOfResult(engine, r.id);
    if (voice < 0) return false;
    StopLayerAudition(engine, app);
    engine.soloVoice.store(voice);
    app.auditionResult = resultIndex;
    app.lastAuditionResult = resultIndex;
    app.auditionResultId = r.id;
    app.auditionVoice = voice;
    // The seek also asks for the reverb's memory to be cleared, so no tail of
    // what played before rings under the layer.
    app.currentTime = r.startTime;
    StartPlayback(app, engine, video);
    return true;
}

void KeepLayerAuditionValid(AudioEngine& engine, AppState& app) {
    if (app.auditionResult < 0) return;
    // Stopped transport: the solo would otherwise outlive the audition and
    // silence every other layer at the next play.
    if (!engine.playing.load()) {
        StopLayerAudition(engine, app);
        return;
    }
    if (engine.soloVoice.load() != app.auditionVoice) {
        // Another panel soloed something else, or cleared the solo.
        app.auditionVoice = -1;
        StopLayerAudition(engine, app);
        return;
    }
    if (!VoicesAreOurs(app)) return;
    if (!VoiceCarries(engine, app.auditionVoice, app.auditionResultId)) StopLayerAudition(engine, app);
}

// ---------------------------------------------------------------------------
// Layer solo
// ---------------------------------------------------------------------------

void ToggleLayerSolo(AudioEngine& engine, AppState& app, int32_t resultId) {
    const bool same = app.soloResultId == resultId;
    EndSolo(engine, app);
    if (same) return;
    if (!VoicesAreOurs(app)) return;
    const int voice = VoiceOfResult(engine, resultId);
    if (voice < 0) return;
    engine.soloVoice.store(voice);
    app.soloResultId = resultId;
    app.soloVoiceIndex = voice;
}

void KeepLayerSoloValid(AudioEngine& engine, AppState& app) {
    if (app.soloResultId < 0) return;
    if (engine.soloVoice.load() != app.soloVoiceIndex) {
        // Another panel soloed something else, or cleared it: not ours now.
        app.soloResultId = -1;
        app.soloVoiceIndex = -1;
        return;
    }
    if (!VoicesAreOurs(app)) return;
    if (!VoiceCarries(engine, app.soloVoiceIndex, app.soloResultId)) EndSolo(engine, app);
}

// ---------------------------------------------------------------------------
// Audition sound
// ---------------------------------------------------------------------------

void PlayAuditionSound(AudioEngine& engine, std::shared_ptr<std::vector<float>> samples, int rate) {
    const double count = samples ? double(samples->size()) : 0.0;
    engine.auditionLength.store(0);
    engine.auditionSamples.Replace(std::move(samples));
    engine.auditionRate.store(rate);
    engine.auditionPosition.store(0);
    // At another output rate the sound takes more or fewer output frames
    // (the mixer stops at the sound's end).
    const double outRate = double(engine.sampleRate.load());
    const double frames = outRate > 0 && rate > 0 ? std::ceil(count * outRate / double(rate)) : count;
    engine.auditionLength.store(int32_t(std::min(frames, double(INT32_MAX))));
}

void StopAuditionSound(AudioEngine& engine) { engine.auditionLength.store(0); }

bool AuditionSoundPlaying(const AudioEngine& engine) {
    return engine.auditionPosition.load() < engine.auditionLength.load();
}
