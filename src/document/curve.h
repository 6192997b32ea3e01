// curve.h — the 256-point curve that shapes an event over its normalised time.
//
// Index
//   Curve256              point i stands at t = i / 255
//   SampleCurve256        linear interpolation, t clamped to 0..1
//   FillCurve / FillCosineCurve / FillRandomSparseCurve   generators
//   SmoothCurveRange      the smoothing brush of the timeline's draw mode
//   PaintCurveSegment     the painting brush: one dab, or a run of dabs between two points
#pragma once

#include <array>

using Curve256 = std::array<float, 256>;

float SampleCurve256(const Curve256& curve, float t);
void FillCurve(Curve256& curve, float value);
void FillCosineCurve(Curve256& curve, float peak, float lo, float hi);
void FillRandomSparseCurve(Curve256& curve, float lo, float hi, unsigned seed);
void SmoothCurveRange(Curve256& curve, int first, int last);

// Paints the point (x, value), or the stretch from (lastX, lastValue) to it
// when lastX >= 0, as dabs of radius 3 centred on index trunc(px * 256): the
// centre takes the value, neighbours d away move towards it by 1 - (d/3)².
// Dabs are spaced at most half an index apart, so a fast stroke leaves no
// gaps; the last one lands on (x, value). lowestIndex and highestIndex are
// widened to cover every index written. x and lastX are clamped to 0..1; a
// point that is not a finite number paints nothing.
void PaintCurveSegment(Curve256& curve, float x, float value, float lastX, float lastValue, int& lowestIndex,
                       int& highestIndex);
