// event_voices.cpp — events moved with their layers, voices and tracks; the
// voices' gains and mutes after their events'.
//
// Index
//   VoicesAreOurs
//   MoveVoicesOfEvents
//   MoveEventsWithVoices
//   StoreEventGains / StoreEventMute
//   VoiceOfResult / StoreLayerMute / StoreLayerGain / StoreFileMutes
#include "operations/event_voices.h"

#include "document/busy_task.h"
#include "operations/app_state.h"
#include "document/event.h"
#include "document/project.h"
#include "operations/event_edits.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/voice_settings.h"
#include "render/track_assignment.h"
#include "render/track_repack.h"

namespace {

float SecondsOf(const std::vector<float>& seconds, int event) {
    return event >= 0 && size_t(event) < seconds.size() ? seconds[size_t(event)] : 0.0f;
}

}  // namespace

// ---------------------------------------------------------------------------
// VoicesAreOurs
// ---------------------------------------------------------------------------

bool VoicesAreOurs(const AppState& app) { return !app.busyTask.busy.load(); }

// ---------------------------------------------------------------------------
// MoveVoicesOfEvents
// ---------------------------------------------------------------------------

void MoveVoicesOfEvents(AudioEngine& engine, const std::vector<float>& seconds) {
    // Found unlocked (this thread owns the voices); under the lock only the
    // voices that move change.
    std::vector<VoicePlacement> moved;
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        const float m = SecondsOf(seconds, voice.eventIndex);
        if (m != 0) moved.push_back({v, voice.startTime + m, voice.plainStartTime + m});
    }
    SetVoicePlacements(engine, moved);
}

// ---------------------------------------------------------------------------
// MoveEventsWithVoices
// ---------------------------------------------------------------------------

bool MoveEventsWithVoices(const DocumentContext& ctx, const EventMoves& moves) {
    if (EditRefused(ctx, moves.what)) return false;
    Project& project = *ctx.project;
    if (moves.eventTimes)
        for (size_t i = 0; i < project.events.size() && i < moves.seconds.size(); ++i)
            project.events[i].time += moves.seconds[i];
    // The layers move with the track record told, so that the next repack
    // packs from where they are, not from where the record saw them.
    MoveLayersKeepingTracks(project, moves.seconds);
    if (VoicesAreOurs(*ctx.app)) MoveVoicesOfEvents(*ctx.engine, moves.seconds);
    if (moves.assignTracks) AssignTracks(project);
    return true;
}

// ---------------------------------------------------------------------------
// StoreEventGains / StoreEventMute
// ---------------------------------------------------------------------------

void StoreEventGains(const AppState& app, AudioEngine& engine, const std::vector<float>& gains) {
    NoteLevelInputEdit(engine);
    if (!VoicesAreOurs(app)) return;
    for (PlaybackVoice& v : engine.voices) {
        const float gain = v.eventIndex >= 0 && size_t(v.eventIndex) < gains.size() ? gains[size_t(v.eventIndex)] : -1;
        if (gain >= 0) v.eventGain.store(gain, std::memory_order_relaxed);
    }
}

void StoreEventMute(const AppState& app, const Project& project, AudioEngine& engine, int event, bool muted) {
    NoteLevelInputEdit(engine);
    if (!VoicesAreOurs(app)) return;
    for (PlaybackVoice& v : engine.voices) {
        if (v.eventIndex != event) continue;
        const bool resultMuted = v.resultIndex >= 0 && size_t(v.resultIndex) < project.results.size() &&
                                 project.results[size_t(v.resultIndex)].id == int32_t(v.resultId) &&
                                 project.results[size_t(v.resultIndex)].muted;
        v.muted.store(uint8_t(muted || resultMuted), std::memory_order_relaxed);
    }
}

// ---------------------------------------------------------------------------
// VoiceOfResult / StoreLayerMute / StoreLayerGain / StoreFileMutes
// ---------------------------------------------------------------------------

int VoiceOfResult(const AudioEngine& engine, int32_t resultId) {
    for (size_t v = 0; v < engine.voices.size(); ++v)
        if (engine.voices[v].resultId == uint32_t(resultId)) return int(v);
    return -1;
}

void StoreLayerMute(AudioEngine& engine, const RenderResult& layer) {
    NoteLevelInputEdit(engine);
    const int v = VoiceOfResult(engine, layer.id);
    if (v >= 0) engine.voices[size_t(v)].muted.store(layer.muted ? 1 : 0);
}

void StoreLayerGain(AudioEngine& engine, const RenderResult& layer) {
    NoteLevelInputEdit(engine);
    const int v = VoiceOfResult(engine, layer.id);
    if (v < 0) return;
    PlaybackVoice& voice = engine.voices[size_t(v)];
    voice.gain.store(VoiceGain(layer, voice, voice.levelScale));
}

void StoreFileMutes(const Project& project, AudioEngine& engine, const std::string& path) {
    NoteLevelInputEdit(engine);
    for (PlaybackVoice& v : engine.voices) {
        const int r = v.resultIndex;
        if (r < 0 || size_t(r) >= project.results.size()) continue;
        const RenderResult& result = project.results[size_t(r)];
        if (result.id == int32_t(v.resultId) && result.filepath == path) v.muted.store(result.muted ? 1 : 0);
    }
}
