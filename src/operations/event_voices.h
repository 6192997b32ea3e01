// event_voices.h — the moves of events that their playback voices follow at
// once, without a rebuild: with the layers, their levels and, for a drag,
// the tracks. (Gains and mutes of events and layers: level_edits.h.)
//
// Index
//   VoicesAreOurs          whether this thread may walk the voice list now
//   EventMoves             how far each event moves, and what moves with it
//   MoveEventsWithVoices   the one move: refusal, document, voices, tracks
//   MoveVoicesOfEvents     its voice step alone (the engine-locked part)
//   VoiceOfResult          the voice playing a layer
//
// Every command that moves an event (a drag, a nudge, a new clip offset)
// calls MoveEventsWithVoices, so the layers and the voices never part from
// their event, and the interface changes no voice of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "operations/document_context.h"

struct AppState;
struct AudioEngine;
struct Project;
struct RenderResult;

// The voice list belongs to the interface thread except while the state's
// busy task is queued or runs, as it may be building voices on a worker
// (whatever the window shows); the job's own sync then brings the voices in
// line with the document.
bool VoicesAreOurs(const AppState& app);

struct EventMoves {
    // Seconds each event moves by, by event index; 0, and events past the
    // table, stay.
    std::vector<float> seconds;
    // True: the event's time (its sync point) moves too. False: only what
    // sounds moves, under a sync point that stays (a new clip offset).
    bool eventTimes = true;
    // True: the tracks are assigned again (a drag does on every step; the
    // voices take their new tracks once it ends).
    bool assignTracks = false;
    // The command's name in the refusal's log line.
    const char* what = "Moving events";
};

// Refused (false, nothing moved) while the document may not change. Else
// every moved event's time (see EventMoves), the start of each of its
// layers (MoveLayersKeepingTracks: the track record notes them) and, while
// the voices are ours (VoicesAreOurs), both start times of each of its
// voices move by its seconds; then the tracks when asked. A move that
// assigns no tracks (a nudge, a new clip offset) is whole here: every gain
// is then what a sync gives (SettleVoiceLevels over the moved voices). A
// drag's steps leave that to the sync that ends the drag.
bool MoveEventsWithVoices(const DocumentContext& ctx, const EventMoves& moves);

// Under the engine lock, every voice of event i starts seconds[i] later
// (events past the table stay); the voices to move are found before the lock
// is taken and nothing is allocated while it is held. Call it on the thread
// that owns the voices.
void MoveVoicesOfEvents(AudioEngine& engine, const std::vector<float>& seconds);

// The index of the voice playing the layer with `resultId`, -1 when it has
// none. Read without the lock: call it on the thread that owns the voices.
int VoiceOfResult(const AudioEngine& engine, int32_t resultId);
