// clip_processing.h — turning a rendered layer's source region into voice samples.
//
// Index
//   ResampleSinc / ResampleSincPair   16-tap Lanczos (a = 8) resampler; the pair shares taps
//   ResampleLinear                    two-point interpolation for the export's source reader
//   ApplyBandGains                    five-band gain split by four parallel one-pole low-passes
//   SoftClipSample                    the soft clip that keeps every output under 0.891
//   ApplyPeakLimiter                  envelope limiter + soft clip for bounce and export
//   LoadResultRegion / LoadResultRegionMode2   a cached region straight into a voice
//   ResolveSourcePathById             refresh an alloy source's path through the file registry
//   ForgetDecodedSounds               the program's decoded regions and morphs of files now otherwise
//   Processing chain by procMode:
//     LoadResultAudio                 decode by processing mode (false: nothing usable)
//     FillVoiceWithSilence / SilenceFrames   mono silence of a result's duration
//     ApplyResultBandGains            the result's flagged band gains on both channels
//     ApplyVoicePitchShift            varispeed by semitones (length changes with pitch)
//     ProcessResultAudio              all of the above in order, for re-preparing a voice
//
// The DSP routines keep no state between calls. Voice builders that retune to
// a musical scale run that between the band gains and the pitch shift, so the
// chain is offered in steps as well as whole.
#pragma once

#include "document/voice_audio.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct VoiceAudio;
struct RenderResult;
struct AlloySource;
struct FileRegistry;

// Replaces `buffer` by `outFrames` samples read at positions i * step with a
// Lanczos kernel of a = 8 (taps -7..+8), renormalised by the weights of the
// taps inside the input. outFrames <= 0 leaves the buffer empty.
void ResampleSinc(int outFrames, double step, std::vector<float>& buffer);
// The same on two channels at once (right may be null); each channel gets
// exactly the samples ResampleSinc would give it.
void ResampleSincPair(int outFrames, double step, std::vector<float>& left,
                      std::vector<float>* right);

// The same positions with linear interpolation between neighbours.
void ResampleLinear(int outFrames, double step, std::vector<float>& buffer);

// In place on the first `frames` samples: bands below 200 Hz, 200-800,
// 800-3000, 3000-8000 and above 8000 Hz scaled by gains[0..4]. Nothing
// happens when every gain is within 0.01 of 1.
void ApplyBandGains(std::vector<float>& buffer, int frames, int sampleRate,
                    const std::array<float, 5>& gains);

// Above 0.84 in magnitude a sample bends smoothly toward 0.891, which it never
// exceeds; the master limiter of the mixer ends with the same curve.
inline float SoftClipSample(float x) {
    constexpr float kKnee = 0.84f;
    const float m = std::fabs(x);
    if (m <= kKnee) return x;
    const float shaped = kKnee + 0.051f * std::tanh(10.0f * (m - kKnee));
    return x >= 0 ? shaped : -shaped;
}

// Limits a pair of channels in place with the engine's ceiling, attack and
// release (the engine's own limiter state is not touched), then soft-clips
// so no sample exceeds 0.891. `right` may be null for a mono signal.
// Non-finite samples become 0.
// `envelope` (may be null: it starts at 0) carries the limiter's envelope
// from one call to the next, so that a signal limited in pieces is limited as
// a whole.
void ApplyPeakLimiter(const PeakLimiterSettings& limiter, float* left, float* right, int64_t frames,
                      double* envelope = nullptr);

// LoadProcessedClip into the voice's left and right; sets `stereo` and
// `sampleCount`. True when the voice has frames.
bool LoadResultRegion(const std::string& path, float offset, float duration, int targetRate,
                      bool stereo, VoiceAudio& voice);
// The same for clip regions; the result's duration is accepted and not used.
bool LoadResultRegionMode2(const std::string& path, float offset, float duration,
                           float resultDuration, int targetRate, bool stereo,
                           VoiceAudio& voice);

// When the source has a file id: its stored path while a file is there,
// else the path the registry finds for the id (FileRegistry::FindStoredFile).
// False when neither holds a file (the source is away).
bool ResolveSourcePathById(AlloySource& source);
bool ResolveSourcePathById(FileRegistry& registry, AlloySource& source);

// Lets go of what the program's caches hold of `paths` (files changed or
// gone since they were decoded): the decoded regions and every finished
// morph made with one of them, so that the next build or export reads the
// files as they are, as a reopened project would.
void ForgetDecodedSounds(const std::set<std::string>& paths);

// Decodes the result's audio by `procMode` (0 and unknown values: plain region,
// 1 fill, 2 clip region, 3 alloy) at `targetRate`, mono or stereo as the
// result asks. False for a placeholder and for any failure. A fill keeps its
// chunk plan in the result's `fillChunks` (LoadFillAudio), so that later
// builds sound the same.
bool LoadResultAudio(RenderResult& result, int targetRate, VoiceAudio& voice);

// max(1, trunc(rate * duration)) frames of silence (capped at 600 s); the voice
// becomes mono.
void FillVoiceWithSilence(VoiceAudio& voice, int rate, float duration);
// The frames of that silence: trunc(rate x duration), at least 1, at most
// kMaxRegionSeconds of them (1 for a duration that is no number).
int32_t SilenceFrames(int rate, float duration);

// ApplyBandGains with the result's gains on left and, for a stereo voice,
// right, when the result flags them and the voice has frames.
void ApplyResultBandGains(const RenderResult& result, VoiceAudio& voice, int sampleRate);

// When |semitones| > 0.01 and the voice has more than 64 frames: resamples by
// 2^(semitones / 12) to trunc(frames / ratio + 0.5) frames and sets
// `sampleCount` and `length` (seconds at `rate`). True when it shifted.
bool ApplyVoicePitchShift(VoiceAudio& voice, float semitones, int rate);
// Whether a shift of that many semitones resamples at all (a smaller one
// leaves the samples as they are).
bool PitchShiftResamples(float semitones);

// The chain for one result: load by mode (silence of the result's duration on
// failure or for a placeholder), band gains, then the stored `pitchShift`.
// Returns whether real audio was loaded.
bool ProcessResultAudio(RenderResult& result, int targetRate, VoiceAudio& voice);
