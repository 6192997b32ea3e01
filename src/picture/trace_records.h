// trace_records.h — what the picture trace measures and suggests.
//
// Index
//   TraceFrame           11 measurements of one picture sample
//   SuggestedEvent       an event the trace proposes
//   TraceModel           the learned threshold model (kept in the preferences)
//   TraceDeriveSettings  settings of the derivation
//   OpticalTrace         the whole trace, held in the application state
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "document/copyable_atomic.h"

struct TraceFrame {
    float time = 0;
    float luma = 0;
    float lumaDelta = 0;
    float motion = 0;
    float histDelta = 0;
    float warmth = 0;
    float saturation = 0;
    float onsetStrength = 0;
    float motionSmooth = 0;
    float composite = 0;
    float threshold = 0;
};
static_assert(sizeof(TraceFrame) == 11 * sizeof(float), "a trace frame is 11 packed floats");

struct SuggestedEvent {
    float time = 0;
    int32_t type = 0;  // 0 spot, 1 sweep, 2 scene
    float confidence = 0;
    int32_t tier = 0;
    float suggestedDuration = 0;
    int32_t suggestedShape = 0;
    float intensity = 0;
    float suggestedGain = 1;
    float suggestedSyncOffset = 0;
    float suggestedWeightCenter = 0.5f;
    float suggestedSpread = 0;
    std::array<float, 256> intensityCurve{};
    bool hasIntensityCurve = false;
    char keywords[128] = {};
    char presetName[64] = {};
    bool accepted = false;
    int32_t peelLayer = 0;
};

struct TraceModel {
    bool valid = false;
    int32_t totalSpots = 0;
    float w[5] = {0.6f, 0.4f, 0, 0, 0};
    float defaultCompositeMean = 0;
    float thresholdScale = 1.0f;
    float subtleScale = 0.45f;
    float spotCutoff = 0.5f;
    float gainA = 0.85f;
    float gainB = 0.15f;
    float weightBias = 0;
    float spotDurScale = 1.0f;
    float sweepDurScale = 1.0f;
    float minGap = 0.5f;
    int32_t posCount = 0;
    float posMean[5] = {};
    int32_t negCount = 0;
    float negMean[5] = {};
};

struct TraceDeriveSettings {
    float sensitivity = 0.7f;
    float minGap = 0.25f;
    float baselineWindow = 4.0f;
    float reserved0 = 0.6f;  // copied along, not read by the derivation
    float reserved1 = 0;
    float reserved2 = 1.0f;
    float reserved3 = 0;
};

// The scan's worker fills `frames` and derives the suggestions, then sets
// `present`; the interface reads nothing but `analysedCount` and `present`
// until `present` is set.
struct OpticalTrace {
    CopyableAtomic<int32_t> analysedCount{0};
    CopyableAtomic<bool> present{false};
    float duration = 0;
    float fps = 10;
    int32_t numFrames = 0;
    float maxCompositeEnergy = 0;
    std::vector<TraceFrame> frames;
    std::vector<SuggestedEvent> suggestions;
    TraceModel model;
    // Analysis state of the scan; `prevPixels` is empty until a picture was
    // analysed, and `prevFeatures` means nothing while it is.
    std::vector<uint8_t> prevPixels;
    float prevFeatures[24] = {};
    int32_t prevWidth = 0;
    int32_t prevHeight = 0;
};
