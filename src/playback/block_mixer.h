// block_mixer.h — the real-time mix of the engine's voices, its offline twin,
// the playhead, the audition hand-over and the reference-audio hook.
//
// Index
//   ReferenceAudioHook / SetReferenceAudioHook / GetReferenceAudioHook
//   VoiceFades / EffectiveVoiceFades / EngineVoiceFades   fade lengths as the mixers apply them
//   VoiceFadeGain / CurveValueAt / VoiceEnvelope   a voice's fade gain and gain curves at a time
//   PanWeights             the equal-power pan of a voice
//   MixAudioBlock          one block of planar stereo output (audio thread)
//   MixClipWithFades       one voice added into an offline buffer (bounce, export)
//   SeekPlayback / GetPlaybackTime / AdvanceTimeByFrames
//   RequestReverbClear     ask the audio thread to clear the reverb before its next block
//   StartAudition / StopAudition       hand a mono sound to the audio thread and take it back
//   SanitizeSamples        finite and within [-1, 1] before samples go to a file
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "playback/audio_engine.h"

// Adds the reference video's sound for the block starting at timeSeconds.
using ReferenceAudioHook = void (*)(float* left, float* right, int32_t frames, double timeSeconds,
                                    int32_t sampleRate);
// Process-wide; null (the default) when no hook is installed. Any thread.
void SetReferenceAudioHook(ReferenceAudioHook hook);
ReferenceAudioHook GetReferenceAudioHook();

struct VoiceFades {
    float in = 0;
    float out = 0;
};
constexpr float kMinVoiceFade = 0.015f;  // seconds
// Each stored fade clamped to [minFade, max(minFade, 0.45 length)], then both
// scaled down together when they would take more than 90 % of the length.
VoiceFades EffectiveVoiceFades(float length, float storedIn, float storedOut,
                               float minFade = kMinVoiceFade);
// The fades stored for voice `index` (0.04 s and 0.05 s past the end of the
// lists), made effective for its length.
VoiceFades EngineVoiceFades(const AudioEngine& engine, size_t index, float length,
                            float minFade = kMinVoiceFade);
// Fade-in times fade-out gain at t seconds into a voice of len seconds; 0 at
// and past the end.
float VoiceFadeGain(double t, double len, const VoiceFades& fades);
// Linear interpolation of a curve of `count` (>= 2) points at pos, clamped to
// [0, count - 1].
float CurveValueAt(const float* curve, int count, double pos);

// How the event's intensity maps onto a voice: playback lets a bed fall fully
// silent with its event; the recipe preview keeps every layer audible.
enum class IntensityLift { UnlessBed, Always };
// The voice's gain curves at t seconds into a voice of len seconds: the
// event's intensity (else the layer's own), the fill curve and, with
// useDecon, the deconfliction curve.
float VoiceEnvelope(const PlaybackVoice& v, double t, double len, bool useDecon,
                    IntensityLift lift = IntensityLift::UnlessBed);

// Equal-power pan; a stereo voice keeps some of each side in the other.
struct PanWeights {
    float gl, gr, crossToL, crossToR;
    explicit PanWeights(float pan) {
        const float p = (pan + 1.0f) * 0.5f;
        gl = std::sqrt(std::max(0.0f, 1.0f - p));
        gr = std::sqrt(std::max(0.0f, p));
        crossToL = (1.0f - gr) * 0.5f;
        crossToR = (1.0f - gl) * 0.5f;
    }
};

// Writes `frames` samples (any positive count; the reverb hears at most the
// first 4096) into left and right. Runs on the audio thread: it never waits
// for the engine lock, allocates nothing, and leaves the block silent (save
// the audition) with the playhead in place when the lock is taken. A seek
// made while the block is mixed is kept.
void MixAudioBlock(AudioEngine& engine, float* left, float* right, int frames);

// Adds one voice into outLeft/outRight (outFrames frames; frame 0 is the time
// timeOffset). No lock, no interpolation: the voice is at the output rate.
// The engine supplies the voice's fade lengths (entry voiceIndex).
void MixClipWithFades(const PlaybackVoice& voice, int voiceIndex, const AudioEngine& engine,
                      float* outLeft, float* outRight, int64_t outFrames, int sampleRate,
                      float extraGain, double timeOffset);

// Moves the playhead to trunc(rate x seconds) (0 for a negative or non-finite
// time) and asks for the reverb's memory to be cleared.
void SeekPlayback(AudioEngine& engine, double seconds);
double GetPlaybackTime(const AudioEngine& engine);
// The interface's frame stepping: time += frames / frameRate, kept in
// [0, max(duration, 0)]. A frame rate that is not positive changes nothing.
void AdvanceTimeByFrames(float& time, float frameRate, float duration, int frames);

void RequestReverbClear(AudioEngine& engine);

// Plays `samples` (mono, at sampleRate) from its start, to its end at any
// engine rate; replaces a sound already playing. The previous buffer is
// released on the calling thread once no block can still be reading it.
// Not for the audio thread.
void StartAudition(AudioEngine& engine, std::shared_ptr<const std::vector<float>> samples,
                   int sampleRate);
void StopAudition(AudioEngine& engine);

// Non-finite samples become 0; the rest are clamped to [-1, 1].
void SanitizeSamples(float* buffer, int64_t count);
