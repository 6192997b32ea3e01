// block_mixer.h — the real-time mix of the engine's voices, its offline twin,
// the audition hand-over and the reference-audio hook. The playhead it moves
// is the transport's (transport.h).
//
// Index
//   ReferenceAudioHook / SetReferenceAudioHook / GetReferenceAudioHook
//   MixAudioBlock          one block of planar stereo output (audio thread)
//   MixClipWithFades / PlanClipVoice   one voice added into an offline buffer (bounce, export)
//   StartAudition / StopAudition       hand a mono sound to the audio thread and take it back
//   PeakLimiterOf          the engine's master limiter, for an offline mix
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "playback/audio_engine.h"
#include "playback/voice_mix.h"

// The engine's reference-audio hook (AudioEngine::referenceAudioHook); null
// (the default) removes it. Any thread: the next block mixed uses it.
void SetReferenceAudioHook(AudioEngine& engine, ReferenceAudioHook hook);
ReferenceAudioHook GetReferenceAudioHook(const AudioEngine& engine);

// Writes `frames` samples (any positive count; the reverb hears at most the
// first 4096) into left and right. Runs on the audio thread: it tries the
// engine lock once, never waits for it, allocates nothing, and when the lock
// is taken leaves the block silent (save the audition), counted in
// stats.lockedBlocks, with the playhead in place. A seek made while the
// block is mixed is kept.
void MixAudioBlock(AudioEngine& engine, float* left, float* right, int frames);

// Adds one voice into outLeft/outRight (outFrames frames; frame 0 is the
// project sample trunc(rate x timeOffset)). No lock, no interpolation: the
// voice is at the output rate. The engine supplies the voice's fade lengths
// (entry voiceIndex).
void MixClipWithFades(const PlaybackVoice& voice, int voiceIndex, const AudioEngine& engine,
                      float* outLeft, float* outRight, int64_t outFrames, int sampleRate,
                      float extraGain, double timeOffset);
// The plan MixClipWithFades mixes the voice by (no send): false when the
// voice is muted, empty or quieter than 1e-6 with extraGain.
bool PlanClipVoice(const PlaybackVoice& voice, int voiceIndex, const AudioEngine& engine, int sampleRate,
                   float extraGain, VoiceMixPlan& plan);

// Plays `samples` (mono, at sampleRate) from its start, to its end at any
// engine rate; replaces a sound already playing. The previous buffer is
// released on the calling thread once no block can still be reading it.
// Not for the audio thread.
void StartAudition(AudioEngine& engine, std::shared_ptr<const std::vector<float>> samples,
                   int sampleRate);
void StopAudition(AudioEngine& engine);

PeakLimiterSettings PeakLimiterOf(const AudioEngine& engine);
