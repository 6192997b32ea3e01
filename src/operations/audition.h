// audition.h — what plays alone: a layer auditioned from its start, a layer
// soloed on the timeline, and a sound played straight to the output (the
// trace panel's preview of a recipe's file).
//
// Index
//   ToggleLayerAudition / StopLayerAudition / KeepLayerAuditionValid
//   ToggleLayerSolo / KeepLayerSoloValid
//   PlayAuditionSound / StopAuditionSound / AuditionSoundPlaying
//
// The audition and the solo both play one voice alone through the engine's
// soloVoice; each remembers the voice it set (app.auditionVoice,
// app.soloVoiceIndex) and clears the engine's solo only while it is still
// its own, so that the one never ends the other. A voice is looked for only
// while the voice list is this thread's (VoicesAreOurs). Interface thread;
// the solo and the sound's fields are atomics the audio thread reads.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "operations/document_context.h"

struct AppState;
struct AudioEngine;
struct VideoPlayer;

// ---- A layer auditioned (the layer lines' play button) ----

// The layer's voice plays alone from the layer's start: soloVoice, playhead,
// transport and the reference video (may be null; StartPlayback). A click on
// the layer being auditioned stops it instead. False when the layer has no
// voice, or the voices are a task's to build now.
bool ToggleLayerAudition(const DocumentContext& ctx, int resultIndex, VideoPlayer* video);
// Ends the audition (lastAuditionResult keeps it). Nothing when none runs.
void StopLayerAudition(AudioEngine& engine, AppState& app);
// Each frame: the audition ends when the transport stopped, another panel
// took the solo, or its voice no longer carries the layer's id (that last
// check is skipped for a frame while a task may be building voices).
void KeepLayerAuditionValid(AudioEngine& engine, AppState& app);

// ---- A layer soloed (a double click on its lane) ----

// The layer's voice plays alone (the engine's soloVoice); the same layer
// again, or a layer without a voice, ends the solo.
void ToggleLayerSolo(AudioEngine& engine, AppState& app, int32_t resultId);
// Each frame: the solo ends when its voice no longer carries the layer's id
// (voices rebuilt or removed); it is forgotten when another panel changed
// the engine's solo. Skipped for a frame while a task may be building voices.
void KeepLayerSoloValid(AudioEngine& engine, AppState& app);

// ---- A mono sound straight to the output ----

// Plays `samples` (mono, at `rate`) from their start, replacing whatever
// sound played. Stored as length 0 first, then the buffer, the rate, the
// position and the length last: the audio thread never reads a length past
// the buffer it sees. The length counts output frames at the engine's rate.
void PlayAuditionSound(AudioEngine& engine, std::shared_ptr<std::vector<float>> samples, int rate);
void StopAuditionSound(AudioEngine& engine);
bool AuditionSoundPlaying(const AudioEngine& engine);
