// alloy_transfer.h — the envelope transfer morphs: one base layer reshaped by the others.
//
// Index
//   TransferVariant / kEnvelopeTransfer / kBandBlendTransfer   what differs between the two
//   TransferContext / MakeTransferContext                       what both channels share
//   MicroPitchDrift          slow varispeed of the base, seeded by the result's file
//   SpectralEnvelopeTransfer the spectral source's smoothed envelope imposed in an STFT
//   BlendHighBands           every second band of the high layer added in (band blend only)
//   GraftAttack              the graft source's own attack crossfaded into the start
//   ImposeAmplitudeEnvelope  the env layer's amplitude envelope pulls quiet moments down
//   TriangularSmoother       triangular smoothing over bins, wider toward the top
//   TransferChannel          one channel, all steps in order, for either variant
//   AlloyEnvelopeTransfer / AlloyBandBlendTransfer       the drivers (alloyAlgo 1 and 3)
//
// The base is the main layer, else mid, else high. Every step that needs a
// layer the result lacks is skipped; the base alone still makes a morph.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "render/alloy_stages.h"

struct RenderResult;
struct VoiceAudio;
struct AlloyFft;

struct TransferVariant {
    float depthPerMorph;        // transfer depth D = this x m + alloyTransferDepth
    bool driftAlways;           // false: drift only when P > 0.001, else a plain copy
    bool spectralFromHigh;      // without mid, the high layer is the spectral source
    float slope;                // tanh slope kappa of the spectral gain
    float gainMin, gainMax;     // limits of the spectral gain
    bool bandBlend;             // blend the even bands of the high layer
    bool graftFromMid;          // without high, the mid layer is the graft source
    float envPerMorph, envBase; // envelope depth lambda = envPerMorph x m + envBase
};

extern const TransferVariant kEnvelopeTransfer;   // alloyAlgo 1
extern const TransferVariant kBandBlendTransfer;  // alloyAlgo 3

struct TransferContext {
    const RenderResult* result = nullptr;
    const TransferVariant* variant = nullptr;
    int sampleRate = 0;
    int frames = 0;
    float morph = 0;       // m
    float depth = 0;       // D
    int graft = 0;         // A samples
    float microPitch = 0;  // P
    float blendGain = 0;   // Q (band blend only)
    std::array<bool, 4> loaded{};
    AlloyFft* fft = nullptr;  // set when the spectral step runs
};

TransferContext MakeTransferContext(const RenderResult& result, const TransferVariant& variant, int sampleRate,
                                    int frames, const std::array<bool, 4>& loaded);
// Whether the spectral step of this context runs (and needs transforms).
bool TransferNeedsSpectralStep(const TransferContext& context);

// out[i] = base read at a position that advances by 1 + P x (0.4 sin(0.7 tau
// + phi2) + 0.6 sin(1.7 tau + phi1)) per sample; stops at the end of the
// source and at the end of `out`, whose remaining samples are 0.
void MicroPitchDrift(const std::vector<float>& base, uint32_t seed, float depth, int sampleRate,
                     std::vector<float>& out);

// Replaces out by its STFT (hop 256) with every bin scaled by
// clamp(1 + d tanh(slope (envS / envX - 1)), gmin, gmax), envS and envX the
// triangular-smoothed magnitudes of the source and of out.
void SpectralEnvelopeTransfer(const TransferContext& context, const std::vector<float>& source,
                              std::vector<float>& out);

// Adds the even bands of `high` (nb = max(alloyFilterBands / 2, 4) bands
// between 300 Hz and min(0.45 rate, 14 kHz)) tilted by the weight curve,
// scaled by Q.
void BlendHighBands(const TransferContext& context, const std::vector<float>& high, std::vector<float>& out);

// For i < A (A > 4): out[i] = cos(x) source[i] + sin(x) out[i], x = i / A x pi / 2.
void GraftAttack(const std::vector<float>& source, int graft, std::vector<float>& out);

// Follows |env| with 10 ms attack and 100 ms release; every sample is scaled
// by clamp((envelope / peak - 1) x lambda + 1, 0, 2), which is never above 1.
void ImposeAmplitudeEnvelope(const std::vector<float>& env, float lambda, int sampleRate, std::vector<float>& out);

// Weighted means of 1025 magnitudes over bins clamp(k + d, 0, 1024),
// d = -H..H, with weights 1 - |d| / (H + 1) and H = trunc(max(20, f_k) / 2 /
// binHz) limited to 2..256 bins: each bin is smoothed over half its own
// frequency to either side. A triangle is two boxes in a row, so two levels of
// running sums give every bin in constant time whatever its width.
struct TriangularSmoother {
    explicit TriangularSmoother(int sampleRate);
    void Run(const float* mag, float* out);

    std::vector<int> halfWidth;
    std::vector<double> padded, sum1, sum2;
};

// One channel of the context's variant: out becomes N samples. layerChannels
// are the four layers' vectors of that channel.
void TransferChannel(const TransferContext& context, const std::array<const std::vector<float>*, 4>& layerChannels,
                     std::vector<float>& out);

// False (the voice untouched) when no sound layer loads, or when the spectral
// step is due and its transforms cannot be allocated.
// `allocator` makes the spectral step's transform (null: the program's).
bool AlloyEnvelopeTransfer(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice,
                           AlloyFftAllocator allocator = nullptr);
bool AlloyBandBlendTransfer(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice,
                            AlloyFftAllocator allocator = nullptr);
