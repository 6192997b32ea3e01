// curve.h — the 256-point curve that shapes an event over its normalised time.
//
// Index
//   Curve256              point i stands at t = i / 255
//   SampleCurve256        linear interpolation, t clamped to 0..1
//   FillCurve / FillCosineCurve / FillRandomSparseCurve   generators
//   SmoothCurveRange      the smoothing brush of the timeline's draw mode
#pragma once

#include <array>

using Curve256 = std::array<float, 256>;

float SampleCurve256(const Curve256& curve, float t);
void FillCurve(Curve256& curve, float value);
void FillCosineCurve(Curve256& curve, float peak, float lo, float hi);
void FillRandomSparseCurve(Curve256& curve, float lo, float hi, unsigned seed);
void SmoothCurveRange(Curve256& curve, int first, int last);
