// trace_suggestions.h — events proposed from a measured picture trace.
//
// Index
//   DeriveSuggestedEvents   composite energy, peak and swell passes with peeling,
//                           scene beds and motion runs; sets `present`
//   SmoothTraceSignal       the current composite over a time range, normalised to 0..1
//
// The derivation runs once per trace on the worker that measured it, without
// locks: the interface reads nothing of the trace until `present` is set. The
// same frames and settings always give the same suggestions.
#pragma once

struct OpticalTrace;
struct TraceDeriveSettings;

// Keeps the first `analysedCount` frames, fills their derived values
// (onsetStrength, motionSmooth, composite, threshold), `suggestions`,
// `maxCompositeEnergy` and `numFrames`, and sets `present` last. Fewer than
// five frames give no suggestions and leave the derived values at 0. With
// `publish` false `present` is left to the caller, who still works on the
// suggestions (the worker places them on their frames first).
void DeriveSuggestedEvents(OpticalTrace& trace, const TraceDeriveSettings& settings, bool publish = true);

// `count` values of the frames' current `composite` between the video times
// t0 and t1 (linear between frames), stretched to 0..1 by their own range; a
// range under 0.001 (or no frames) gives 0.5 throughout. A count of 1
// samples t0.
void SmoothTraceSignal(const OpticalTrace& trace, float t0, float t1, float* out, int count);
