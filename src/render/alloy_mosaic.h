// alloy_mosaic.h — the band mosaic: per band and 50 ms segment, the loudest layer plays.
//
// Index
//   MosaicBandCount / MosaicSegmentLength / MosaicSwitchLength   sizes of the mosaic
//   BandMosaicContext / MakeBandMosaicContext                     what both channels share
//   ChooseMosaicSegments     the layer of every segment of one band, with hysteresis
//   BandMosaicChannel        one channel: split, choose, switch with equal-power fades, tilt
//   AlloyBandMosaic          the driver (alloyAlgo 2, the default)
//
// Each sound layer (main, mid, high) is split into log-spaced bands between
// 200 Hz and min(0.45 x rate, 16 kHz) by fourth-order crossover filters. In
// every band and segment the layer with the highest RMS plays; the layer that
// held the previous segment counts 1.4 times as loud, so bands do not flicker
// between layers of similar level. The event's weight tilts the bands:
// heavier weight lifts the upper bands, lighter weight the lower ones.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct RenderResult;
struct VoiceAudio;
struct AlloyLayers;

// clamp(alloyFilterBands, 4, 24).
int MosaicBandCount(int filterBands);
// max(trunc(rate / 20), 64) samples.
int MosaicSegmentLength(int sampleRate);
// max(min(N / 8, trunc(rate / 200)), 32) samples.
int MosaicSwitchLength(int frames, int sampleRate);

struct BandMosaicContext {
    int sampleRate = 0;
    int frames = 0;
    std::vector<double> edges;      // B - 1 inner band edges
    std::vector<float> weight;      // the weight curve at every sample (0.5 without curves)
    std::array<bool, 3> loaded{};   // main, mid, high
    int segment = 0;                // G
    int switchLength = 0;           // X
};

BandMosaicContext MakeBandMosaicContext(const RenderResult& result, int sampleRate, const AlloyLayers& layers);

// For each segment of `segment` samples, the index of the band signal with the
// highest RMS (null signals are absent layers); the previous segment's layer
// counts 1.4 times, and of equal values the lower index wins. At least one
// signal must be present.
std::vector<int> ChooseMosaicSegments(const std::array<const std::vector<float>*, 3>& bands, int frames,
                                      int segment);

// Overwrites `out` with N samples: every band of the chosen layers, tilted
// by the weight curve. layerChannels are the sound layers' vectors of one
// channel (an env entry beyond the third is ignored).
void BandMosaicChannel(const BandMosaicContext& context,
                       const std::array<const std::vector<float>*, 4>& layerChannels, std::vector<float>& out);

// alloyAlgo 2. False (the voice untouched) when no sound layer loads.
bool AlloyBandMosaic(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice);
