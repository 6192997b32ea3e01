// alloy_mosaic.cpp — the band mosaic morph.
//
// Index
//   Sizes              MosaicBandCount, MosaicSegmentLength, MosaicSwitchLength
//   Context            MakeBandMosaicContext
//   Segment choice     ChooseMosaicSegments
//   Channel            BandMosaicChannel
//   Driver             AlloyBandMosaic
#include "render/alloy_mosaic.h"

#include <algorithm>
#include <cmath>

#include "document/project.h"
#include "render/alloy_stages.h"

namespace {
constexpr double kHalfPi = 1.57079632679489661923;
constexpr float kHoldBonus = 1.4f;  // the previous segment's layer counts this much louder
}  // namespace

// ---------------------------------------------------------------------------
// Sizes
// ---------------------------------------------------------------------------

int MosaicBandCount(int filterBands) { return std::clamp(filterBands, 4, 24); }

int MosaicSegmentLength(int sampleRate) { return std::max(sampleRate / 20, 64); }

int MosaicSwitchLength(int frames, int sampleRate) { return std::max(std::min(frames / 8, sampleRate / 200), 32); }

// ---------------------------------------------------------------------------
// Context
// ---------------------------------------------------------------------------

BandMosaicContext MakeBandMosaicContext(const RenderResult& result, int sampleRate, const AlloyLayers& layers) {
    BandMosaicContext ctx;
    ctx.sampleRate = sampleRate;
    ctx.frames = layers.frames;
    const double top = std::min(0.45 * double(sampleRate), 16000.0);
    ctx.edges = AlloyBandEdges(MosaicBandCount(result.alloyFilterBands), 200.0, top);
    ctx.weight = AlloyWeightPerSample(result, layers.frames);
    for (int k = 0; k < 3; ++k) ctx.loaded[size_t(k)] = layers.loaded[size_t(k)];
    ctx.segment = MosaicSegmentLength(sampleRate);
    ctx.switchLength = MosaicSwitchLength(layers.frames, sampleRate);
    return ctx;
}

// ---------------------------------------------------------------------------
// Segment choice
// ---------------------------------------------------------------------------

std::vector<int> ChooseMosaicSegments(const std::array<const std::vector<float>*, 3>& bands, int frames,
                                      int segment) {
    std::vector<int> choice;
    if (frames < 1 || segment < 1) return choice;
    const int count = (frames + segment - 1) / segment;
    choice.reserve(size_t(count));
    for (int s = 0; s < count; ++s) {
        const int from = s * segment;
        const int to = std::min(from + segment, frames);
        int best = -1;
        double bestValue = 0.0;
        for (int k = 0; k < 3; ++k) {
            const std::vector<float>* band = bands[size_t(k)];
            if (!band) continue;
            double sum = 0.0;
            for (int i = from; i < to; ++i) sum += double((*band)[size_t(i)]) * double((*band)[size_t(i)]);
            double value = std::sqrt(sum / double(to - from));
            if (s > 0 && choice.back() == k) value *= kHoldBonus;
            if (best < 0 || value > bestValue) {
                best = k;
                bestValue = value;
            }
        }
        choice.push_back(std::max(best, 0));
    }
    return choice;
}

// ---------------------------------------------------------------------------
// Channel
// ---------------------------------------------------------------------------

void BandMosaicChannel(const BandMosaicContext& ctx, const std::array<const std::vector<float>*, 4>& layerChannels,
                       std::vector<float>& out) {
    const int n = ctx.frames;
    out.assign(size_t(std::max(n, 0)), 0.0f);
    if (n < 1) return;
    const int bands = int(ctx.edges.size()) + 1;
    const int x = ctx.switchLength;

    std::array<std::vector<float>, 3> signal;
    for (int b = 0; b < bands; ++b) {
        std::array<const std::vector<float>*, 3> present{};
        for (int k = 0; k < 3; ++k) {
            if (!ctx.loaded[size_t(k)]) continue;
            AlloyBandSplit(layerChannels[size_t(k)]->data(), n, ctx.sampleRate, ctx.edges, b, signal[size_t(k)]);
            present[size_t(k)] = &signal[size_t(k)];
        }
        const std::vector<int> choice = ChooseMosaicSegments(present, n, ctx.segment);
        const int segments = int(choice.size());
        const float tilt = float(b) / float(std::max(bands - 1, 1));

        // A change of layer crossfades over X samples with equal power; a
        // change that arrives during a switch waits until it has finished.
        int cur = choice[0], prev = cur, countdown = 0;
        for (int i = 0; i < n; ++i) {
            const int c = choice[size_t(std::min(i / ctx.segment, segments - 1))];
            if (c != cur && countdown == 0) {
                prev = cur;
                cur = c;
                countdown = x;
            }
            float v;
            if (countdown == 0) {
                v = signal[size_t(cur)][size_t(i)];
            } else {
                const double angle = (1.0 - double(countdown) / double(x)) * kHalfPi;
                v = float(std::cos(angle) * signal[size_t(prev)][size_t(i)] +
                          std::sin(angle) * signal[size_t(cur)][size_t(i)]);
                --countdown;
            }
            out[size_t(i)] += AlloyTiltGain(ctx.weight[size_t(i)], tilt) * v;
        }
    }
}

// ---------------------------------------------------------------------------
// Driver
// ---------------------------------------------------------------------------

bool AlloyBandMosaic(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice) {
    AlloyLayers layers;
    if (!LoadAlloyLayers(result, sampleRate, stereo, layers)) return false;
    const BandMosaicContext ctx = MakeBandMosaicContext(result, sampleRate, layers);
    MorphAlloyChannels(result, sampleRate, layers, voice, [&](const auto& channel, std::vector<float>& out) {
        BandMosaicChannel(ctx, channel, out);
    });
    return true;
}
