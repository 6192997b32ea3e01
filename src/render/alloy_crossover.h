// alloy_crossover.h — the three-band crossover morph: main low, mid middle, high top.
//
// Index
//   CrossoverMorphParams / CrossoverParamsForMorph   constants that follow the morph amount
//   CrossoverSmoothingAlpha                           temporal smoothing from the intensity
//   CrossoverFrequencies                              the two crossovers from weight and morph
//   CrossoverBandWeights                              per-bin shares of the three layers
//   CrossoverPhaseOffsets                             constant per-layer phase offsets
//   CrossoverMorphContext / CrossoverMorphChannel     one channel over the STFT
//   AlloyCrossoverMorph                               the driver (alloyAlgo other than 1, 2, 3)
//
// In every 2048-point frame (hop 512) the spectrum is split at two crossover
// frequencies that follow the event's weight: below the lower one the main
// layer sounds, between them alloyMid, above the upper one alloyHigh. The
// layers are summed with a slowly drifting phase offset each, shaped by the
// spectral envelope of alloyEnv when there is one, smoothed over time and, at
// larger morph amounts, across frequency. Toward a quarter of the sample rate
// the three bands merge into equal thirds.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "render/alloy_stages.h"

struct RenderResult;
struct VoiceAudio;
struct AlloyFft;

struct CrossoverMorphParams {
    float morph = 0;         // m, clamped to 0..1
    float jitter = 0;        // J = 6 m^2: how far the phase offsets wander
    float slope = 0;         // sigma = 1.5 m + 1.5: steepness of the crossovers
    float envDepth = 0;      // E = 0.6 m + 0.25: how far the env layer reshapes
    float smoothMix = 0;     // 0.45 m + 0.4
    float smoothDepth = 0;   // 0.8 - 0.4 m: how much intensity lightens the smoothing
    float smoothPull = 0;    // 0.5 m + 0.25: how far magnitudes move toward the smoothed ones
    int blurRadius = 0;      // 1..4 bins; 0 (no blur) at m <= 0.15
    float blurStrength = 0;  // 0.7 u^2, u = (m - 0.15) / 0.85
};

CrossoverMorphParams CrossoverParamsForMorph(float morph);

// alpha = (1 - smoothDepth x intensity) x smoothMix.
float CrossoverSmoothingAlpha(const CrossoverMorphParams& params, float intensity);

// f1 = clamp(400 c, 80, 2000), f2 = max(2 f1, clamp(4000 c, 800, 12000)),
// c = 2^((8 m + 2) x 2 x (weight - 0.5)).
void CrossoverFrequencies(float weight, float morph, float& f1, float& f2);

// Shares of the low (main), middle (mid) and high (high) layer for the 1025
// bins of a 2048-point frame, normalised to sum 1, merging toward equal
// thirds above 6 kHz; the share of an absent layer is handed half to each
// other layer, in the order main, mid, high.
void CrossoverBandWeights(int sampleRate, float f1, float f2, float slope, const std::array<bool, 3>& loaded,
                          float* low, float* mid, float* high);

// Per sound layer: (uint32(trunc(sourceOffset x 1000)) XOR djb2(its name, else
// its file id)) mod 10000 / 10000 x 2 pi; 0 for absent layers.
std::array<float, 3> CrossoverPhaseOffsets(const RenderResult& result, const std::array<bool, 4>& loaded);

struct CrossoverMorphContext {
    const RenderResult* result = nullptr;
    int sampleRate = 0;
    int frames = 0;
    CrossoverMorphParams params;
    std::array<float, 3> phase{};
    std::array<bool, 4> loaded{};  // main, mid, high, env
    std::vector<int> halfWidth;    // clamp(k / 2, 2, 256) per bin
    AlloyFft* fft = nullptr;
};

CrossoverMorphContext MakeCrossoverMorphContext(const RenderResult& result, int sampleRate, int frames,
                                                const std::array<bool, 4>& loaded, AlloyFft& fft);

// Overwrites `out` with N samples. layerChannels are the four layers'
// vectors of one channel, each N samples long.
void CrossoverMorphChannel(CrossoverMorphContext& context,
                           const std::array<const std::vector<float>*, 4>& layerChannels, std::vector<float>& out);

// False (the voice untouched) when N < 1, no sound layer loads or the
// transforms cannot be allocated.
// `allocator` makes its transform (null: the program's).
bool AlloyCrossoverMorph(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice,
                         AlloyFftAllocator allocator = nullptr);
