// fitting.h — which part of a chosen sound file plays in an event, and its natural fades.
//
// Index
//   FitResult             region, sync point and fade suggestions of a fit
//   FitSoundToEvent       pick the region by shape: Fill window, contour match, or a segment
//   WeightCurveFades      fades from how well the event's weight curve suits the layer's weight
//   IntensityCurveFades   fades from where the intensity curve crosses a threshold
//   SampleCurveBins       n-point profile of a 256-point curve, normalised to its peak
//   AverageLevelWindow    n-point profile of a window of a file's level curve, normalised
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "document/curve.h"
#include "render/candidates.h"

struct Event;
struct LibraryEntry;

struct FitResult {
    float sourceOffset = 0;    // s, start of the region in the file
    float sourceDuration = 0;  // s, length of the region
    float syncTime = 0;        // s, onset or peak inside the region (0 for a Fill window)
    float fadeIn = 0;          // s, natural fade-in of the region
    float fadeOut = 0;         // s, natural fade-out of the region
};

// wantedLength: the length the layer wants (s). randomState: the render pass's
// state; every draw advances it. targetCurve (may be null) with curveScale and
// peakTarget (0..1) steer Bloom and Contour; targetProfile16 (16 floats, may
// be null) replaces the profile sampled from targetCurve. used (may be null):
// regions already placed, whose segments are drawn fifty times less often.
// A wanted length or file length that is not a positive finite number counts as 0.
FitResult FitSoundToEvent(const LibraryEntry& entry, float wantedLength, int shape,
                          uint32_t& randomState, const Curve256* targetCurve, float curveScale,
                          float peakTarget, const std::vector<UsedSound>* used,
                          const float* targetProfile16);

void WeightCurveFades(const Event& event, float eventStart, const LibraryEntry& entry,
                      float layerWeight, float layerStart, float layerLength, float& fadeIn,
                      float& fadeOut);

// a, b: the layer's start and end as fractions of the event; q: 0..1 raises the threshold.
void IntensityCurveFades(const Event& event, float a, float b, float q, float layerLength,
                         float& fadeIn, float& fadeOut);

void SampleCurveBins(const Curve256& curve, float scale, float* out, int n);

// levels: a file's level curve over its whole length fileLength (s).
void AverageLevelWindow(std::span<const float> levels, float fileLength, float offset, float length,
                        float* out, int n);
