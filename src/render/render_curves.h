// render_curves.h — the small curve and random helpers every layer builder shares.
//
// Index
//   NextRenderRandom      the render engine's linear-congruential draw, 0..1
//   SampleEventCurve      an event's weight curve plus its offset, clamped
//   IntensityTier         1..5 layers by intensity
//   IntensityJitter       random nudge of a target weight
//   PitchJitter           random pitch variation that keeps the sync point in place
//   BuildCurveLookup      a layer's 256-point intensity gain, read from its event
//   SmoothCurveZeroPhase  forward-backward one-pole smoothing of a point list
//   SampleCurve16         16-point target envelope of a layer over part of its event
#pragma once

#include <cstdint>

#include "document/curve.h"

struct Event;
struct RenderResult;

// One step x := x * 1103515245 + 12345 (mod 2^32); returns (x >> 16) / 65535.
float NextRenderRandom(uint32_t& state);

// SampleCurve256(weight, t) + weightOffset, clamped to 0..1.
float SampleEventCurve(const Event& event, float t);

// 5 for v >= 1, 4 for >= 0.75, 3 for >= 0.5, 2 for >= 0.25, else 1.
int IntensityTier(float v);

// With amount < 0.001 returns value and leaves the state alone; otherwise one
// draw moves value by up to +-0.15 * amount, clamped to 0..1.
float IntensityJitter(float value, float amount, uint32_t& state);

// With amount >= 0.001 draws a shift of up to +-24 * amount semitones into
// pitchVarShift (and adds it to pitchShift), stretches the source region by the
// pitch ratio and re-anchors it so the sound's sync point still meets the same
// moment of the timeline.
void PitchJitter(RenderResult& result, float amount, uint32_t& state);

// Fills result.intGain from the event's intensity (and trace gain) curve over
// the layer's span, smoothed with a quarter-second time constant.
void BuildCurveLookup(const Event& event, RenderResult& result);

// In place on n values spanning spanSeconds: a causal one-pole pass, then the
// mean of that pass and its backward pass. n < 3 or spanSeconds <= 0: no change.
void SmoothCurveZeroPhase(float* values, int n, float spanSeconds);

// out16[i] at u = u0 + (i + 0.5) / 16 * (u1 - u0): intensity there, weighed by
// how close `weight` lies to the event's weight curve; normalised to a peak of 1.
void SampleCurve16(const Event& event, float weight, float u0, float u1, float out16[16]);
