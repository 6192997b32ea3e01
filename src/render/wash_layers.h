// wash_layers.h — how a Bloom or Contour event is cut into the segments of its wash.
//
// Index
//   WashSegment        one span of the event that becomes one layer
//   kMaxWashSegments   the bound the level walk and the weight split respect
//   CountSpanBins      one more layer over the bins a span covers
//   BuildWashSegments  levels, runs, widening, base segments and the weight split
//
// The builders themselves, BuildWashLayers and BuildThresholdLayers, are
// declared with the other shape builders in render/layer_builders.h.
#pragma once

#include <vector>

struct Event;

struct WashSegment {
    float u0 = 0;     // share of the event, 0..1
    float u1 = 0;
    float level = 0;  // the intensity level whose run made it
    float mid = 0;    // (u0 + u1) / 2
    // Where the layer reads the weight curve; -1: at mid, or spread over the
    // span when several segments stack at mid.
    float weightPosition = -1;
};

constexpr int kMaxWashSegments = 32;

// Adds 1 to counts[i0 .. i1], i0 = trunc(n u0) and i1 = trunc(n u1 - 0.001),
// both clamped into the array (i1 no lower than i0).
void CountSpanBins(int* counts, int n, float u0, float u1);

// The segments of a wash of `wanted` layers (wanted < 1 gives none). Louder
// passages get more segments, up to IntensityTier layers at any moment; the
// quietest segments reach both ends of the event; a long segment over a weight
// sweep gets a copy that reads the far end of the sweep.
std::vector<WashSegment> BuildWashSegments(const Event& event, int wanted);
