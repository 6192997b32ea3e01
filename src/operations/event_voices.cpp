// event_voices.cpp — events moved with their layers, voices, levels and tracks.
//
// Index
//   VoicesAreOurs
//   MoveVoicesOfEvents
//   MoveEventsWithVoices
//   VoiceOfResult
#include "operations/event_voices.h"

#include "document/busy_task.h"
#include "operations/app_state.h"
#include "document/event.h"
#include "document/project.h"
#include "operations/event_edits.h"
#include "operations/level_edits.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
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
    AudioEngine& engine = *ctx.engine;
    // Asked before anything moves: whether the last level pass still holds
    // for every voice the move leaves where it was.
    const bool settle = !moves.assignTracks && VoicesAreOurs(*ctx.app);
    const bool levelsHeld = settle && LevelMemoHolds(engine, project);
    if (moves.eventTimes)
        for (size_t i = 0; i < project.events.size() && i < moves.seconds.size(); ++i)
            project.events[i].time += moves.seconds[i];
    // The layers move with the track record told, so that the next repack
    // packs from where they are, not from where the record saw them.
    MoveLayersKeepingTracks(project, moves.seconds);
    if (VoicesAreOurs(*ctx.app)) MoveVoicesOfEvents(engine, moves.seconds);
    if (moves.assignTracks) AssignTracks(project);
    if (settle) {
        std::vector<uint8_t> moved(project.events.size(), 0);
        for (size_t i = 0; i < moved.size() && i < moves.seconds.size(); ++i) moved[i] = moves.seconds[i] != 0;
        SettleVoiceLevels(ctx, VoicesOfEvents(engine, moved, levelsHeld), levelsHeld);
    }
    return true;
}

// ---------------------------------------------------------------------------
// VoiceOfResult
// ---------------------------------------------------------------------------

int VoiceOfResult(const AudioEngine& engine, int32_t resultId) {
    for (size_t v = 0; v < engine.voices.size(); ++v)
        if (engine.voices[v].resultId == uint32_t(resultId)) return int(v);
    return -1;
}
