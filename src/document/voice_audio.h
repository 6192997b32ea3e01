// voice_audio.h — the sound of one rendered layer as the clip processing makes
// it, and the sizes every engine shares.
//
// Index
//   kMixBlockFrames ... kMaxFillChunks   fixed sizes of the engines and their voices
//   VoiceAudio            samples, channels, length, splice markers and fill chunks
//   PeakLimiterSettings   the master limiter's ceiling and coefficients, for offline mixes
//
// The render engine decodes and processes into a VoiceAudio; the playback
// engine's voice is one with everything the mixer needs besides. Keeping the
// record here, below both engines, lets the clip processing fill a voice's
// sound without knowing the playback engine.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "document/project.h"

constexpr int kMixBlockFrames = 4096;  // largest block the mixer handles at once
constexpr int kVoiceOverviewBins = 2048;
constexpr int kVoiceFillGainPoints = 128;
constexpr int kVoiceIntGainPoints = 256;
constexpr int kVoiceDeconGainPoints = 32;
constexpr int kMaxSpliceMarkers = 256;
constexpr int kMaxFillChunks = 65;

// The splice markers and chunks come first and the samples last: a record
// that adds fields of its own (the playback voice) then keeps them next to
// the samples, so a mixer reading a voice's samples, length, start and gains
// touches a few neighbouring cache lines rather than lines kilobytes apart.
struct VoiceAudio {
    // Splice markers of an assembled fill: position and crossfade length as
    // fractions of the voice length (they stay put when the voice is pitched).
    std::array<float, kMaxSpliceMarkers> spliceTimes{};
    std::array<float, kMaxSpliceMarkers> spliceFades{};
    int32_t spliceCount = 0;
    std::array<FillChunk, kMaxFillChunks> chunks{};  // {source start, length, crossfade} in samples
    int32_t chunkCount = 0;
    // A fill made without its chunk log drew its excerpt or grains from the
    // layer's seed (its group track): another seed makes other samples. The
    // loop builder draws nothing, and leaves this clear.
    uint8_t fillSeeded = 0;
    std::vector<float> left;
    std::vector<float> right;  // used only when `stereo` is set
    uint8_t stereo = 0;
    float length = 0;          // seconds of audio (sampleCount / rate after pitching)
    int32_t sampleCount = 0;   // readers use at most min(sampleCount, left.size())
};

// The playback engine's master limiter as an offline mix applies it
// (PeakLimiterOf in playback/block_mixer.h takes it from an engine).
struct PeakLimiterSettings {
    float threshold = 0.85f;  // linear ceiling
    float attack = 0;         // one-pole coefficients per sample
    float release = 0;
};
