// wash_layers.cpp — the wash of Bloom and Contour events, and the threshold
// builder that serves shape values the program does not know.
//
// Index
//   CountSpanBins
//   Segments           tiers, the level walk and its runs, widening, base
//                      segments, the weight split (BuildWashSegments)
//   Wash layers        one layer per segment (BuildWashLayers)
//   Threshold layers   one layer per intensity threshold (BuildThresholdLayers)
//
// A wash is many overlapping layers whose number at each moment follows the
// event's intensity: the quiet floor spans the whole event and louder passages
// stack more layers. Every random number comes from the pass's state; each
// segment draws its two end nudges even when an end is pinned to the event's
// edge, so that the draws of later layers do not depend on where a segment
// happens to lie.
#include "render/wash_layers.h"

#include <algorithm>
#include <cmath>

#include "render/fitting.h"
#include "render/render_curves.h"
#include "render/wash_alloy_common.h"

void CountSpanBins(int* counts, int n, float u0, float u1) {
    if (counts == nullptr || n < 1) return;
    auto toIndex = [n](float v) {
        if (!(v > 0.0f)) return 0;
        if (v >= static_cast<float>(n)) return n - 1;
        return static_cast<int>(v);
    };
    const int i0 = std::clamp(toIndex(static_cast<float>(n) * u0), 0, n - 1);
    const int i1 = std::clamp(toIndex(static_cast<float>(n) * u1 - 0.001f), i0, n - 1);
    for (int i = i0; i <= i1; ++i) counts[i] += 1;
}

// ---- Segments ------------------------------------------------------------------

namespace {

constexpr int kSlots = 128;
constexpr float kMinSegmentSeconds = 0.08f;

float PeakIntensity(const Event& event) {
    float peak = 0.0f;
    for (float v : event.intensity) peak = std::max(peak, v);
    return peak * event.intensityScale;
}

struct SegmentWalk {
    explicit SegmentWalk(const Event& e) : event(e) {}
    const Event& event;
    int tier[kSlots] = {};
    int coverage[kSlots] = {};
    std::vector<WashSegment> segments;
};

// One run of the intensity curve at or above `level`, [start, end) in shares of
// the event. Its slots that still want more layers become segments; slots that
// are already covered enough split it.
void HandleRun(SegmentWalk& walk, float level, float start, float end) {
    const float duration = walk.event.duration;
    if ((end - start) * duration < kMinSegmentSeconds) return;
    const int s0 = std::clamp(static_cast<int>(start * kSlots), 0, kSlots - 1);
    const int s1 = std::clamp(static_cast<int>(end * kSlots - 0.001f), s0, kSlots - 1);
    int open = -1;
    for (int slot = s0; slot <= s1 + 1; ++slot) {
        const bool closes = slot == s1 + 1 || walk.coverage[slot] >= walk.tier[slot];
        if (!closes) {
            if (open < 0) open = slot;
            continue;
        }
        if (open < 0) continue;
        WashSegment seg;
        seg.u0 = static_cast<float>(open) / kSlots;
        seg.u1 = static_cast<float>(slot) / kSlots;
        seg.level = level;
        seg.mid = (seg.u0 + seg.u1) * 0.5f;
        open = -1;
        if ((seg.u1 - seg.u0) * duration < kMinSegmentSeconds) continue;
        walk.segments.push_back(seg);
        CountSpanBins(walk.coverage, kSlots, seg.u0, seg.u1);
    }
}

// Scans the 256 points in time order; the point after the last counts as an
// intensity of 0, so a run still open at the end closes there. A level of 0
// (a silent event, whose peak is 0) never closes its run: a silent wash event
// makes no segment and no layer.
void AddRunsOfLevel(SegmentWalk& walk, float level) {
    const Event& event = walk.event;
    int runStart = -1;
    for (int idx = 0; idx <= 256; ++idx) {
        const float value = idx < 256 ? event.intensity[idx] * event.intensityScale : 0.0f;
        const bool above = value >= level;
        if (above) {
            if (runStart < 0) runStart = idx;
        } else if (runStart >= 0) {
            HandleRun(walk, level, static_cast<float>(runStart) / 256.0f, static_cast<float>(idx) / 256.0f);
            runStart = -1;
        }
    }
}

// The quietest segments reach the ends of the event, so the wash has no gap
// at its start or its end.
void ExtendBaseSegments(std::vector<WashSegment>& segments) {
    if (segments.empty()) return;
    float lowest = segments[0].level;
    for (const WashSegment& seg : segments) lowest = std::min(lowest, seg.level);
    const float limit = 1.01f * lowest;
    int first = -1;
    int last = -1;
    for (int i = 0; i < static_cast<int>(segments.size()); ++i) {
        const WashSegment& seg = segments[i];
        if (seg.level > limit) continue;
        if (first < 0 || seg.u0 < segments[first].u0) first = i;
        if (last < 0 || seg.u1 > segments[last].u1) last = i;
    }
    if (first >= 0) {
        segments[first].u0 = 0.0f;
        segments[first].mid = segments[first].u1 * 0.5f;
    }
    if (last >= 0) {
        segments[last].u1 = 1.0f;
        segments[last].mid = (segments[last].u0 + 1.0f) * 0.5f;
    }
}

// A long segment over which the weight curve moves a lot gets a second layer
// that reads the weight at the extreme further from where the segment starts.
std::vector<WashSegment> SplitByWeight(const Event& event, const std::vector<WashSegment>& segments) {
    std::vector<WashSegment> out;
    out.reserve(segments.size() * 2);
    for (const WashSegment& seg : segments) {
        out.push_back(seg);
        const float seconds = (seg.u1 - seg.u0) * event.duration;
        if (seconds < 0.3f || static_cast<int>(out.size()) >= kMaxWashSegments) continue;
        const int steps = std::max(static_cast<int>(std::min(4.0f * seconds, 1.0e6f)), 4);
        float smallest = 1.0f;
        float largest = 0.0f;
        float smallestAt = seg.mid;
        float largestAt = seg.mid;
        for (int i = 0; i <= steps; ++i) {
            float u = seg.u0 + static_cast<float>(i) / static_cast<float>(steps) * (seg.u1 - seg.u0);
            float w = SampleEventCurve(event, u);
            if (w < smallest) {
                smallest = w;
                smallestAt = u;
            }
            if (w > largest) {
                largest = w;
                largestAt = u;
            }
        }
        if (!(largest - smallest > 0.2f)) continue;
        const float w0 = SampleEventCurve(event, seg.u0);
        WashSegment copy = seg;
        copy.weightPosition =
            std::fabs(largest - w0) < std::fabs(smallest - w0) ? smallestAt : largestAt;
        out.push_back(copy);
    }
    return out;
}

}  // namespace

std::vector<WashSegment> BuildWashSegments(const Event& event, int wanted) {
    if (wanted < 1) return {};
    SegmentWalk walk(event);
    const float peak = PeakIntensity(event);
    for (int i = 0; i < kSlots; ++i) {
        float u = (static_cast<float>(i) + 0.5f) / kSlots;
        int tier = IntensityTier(SampleCurve256(event.intensity, u) * event.intensityScale);
        walk.tier[i] = std::min(wanted, tier);
    }

    // Levels from just above silence to just below the peak, lowest first.
    const int levels = 4 * wanted;
    const float floorLevel = 0.03f * peak;
    for (int j = 0; j < levels; ++j) {
        const float level = floorLevel + static_cast<float>(j) / static_cast<float>(std::max(levels - 1, 1)) *
                                              (0.92f * peak - floorLevel);
        if (static_cast<int>(walk.segments.size()) >= kMaxWashSegments || level > peak) break;
        AddRunsOfLevel(walk, level);
        if (static_cast<int>(walk.segments.size()) >= kMaxWashSegments) break;
    }

    for (WashSegment& seg : walk.segments) {
        const float g = std::min(0.2f * (seg.u1 - seg.u0), 0.05f);
        seg.u0 = std::max(seg.u0 - g, 0.0f);
        seg.u1 = std::min(seg.u1 + g, 1.0f);
        seg.mid = (seg.u0 + seg.u1) * 0.5f;
    }
    ExtendBaseSegments(walk.segments);
    return SplitByWeight(event, walk.segments);
}

// ---- Wash layers ----------------------------------------------------------------

namespace {

// Where a segment without a weight position reads the weight curve: at its
// middle, unless other segments stack over that middle too; then the stacked
// ones read spread-out points of their spans.
float WashTargetWeight(const Event& event, const std::vector<WashSegment>& segments, size_t index) {
    const WashSegment& seg = segments[index];
    if (seg.weightPosition >= 0.0f) return SampleEventCurve(event, seg.weightPosition);
    float t = seg.mid;
    if (segments.size() > 1) {
        int c = 0;
        int b = 0;
        for (size_t i = 0; i < segments.size(); ++i) {
            if (segments[i].u0 <= seg.mid && seg.mid <= segments[i].u1) {
                ++c;
                if (i < index) ++b;
            }
        }
        if (c > 1) t = seg.u0 + static_cast<float>(b) / static_cast<float>(c - 1) * (seg.u1 - seg.u0);
    }
    return SampleEventCurve(event, t);
}

}  // namespace

void BuildWashLayers(LayerBuildContext& ctx) {
    Event& event = ctx.event();
    uint32_t& state = *ctx.randomState;
    const int wanted = std::min(ctx.layerCount, IntensityTier(ctx.maxIntensity)) - ctx.pinnedCount;
    const std::vector<WashSegment> segments = BuildWashSegments(event, wanted);
    const float p = EventSyncPosition(event);
    const float eventLength = event.duration;

    for (size_t s = 0; s < segments.size(); ++s) {
        const WashSegment& seg = segments[s];
        // Both nudges are drawn for every segment; an end at the event's edge stays there.
        float r = NextRenderRandom(state);
        const float u0 = seg.u0 > 0.001f ? std::clamp(seg.u0 + (r - 0.5f) * 0.05f, 0.0f, 0.95f) : 0.0f;
        r = NextRenderRandom(state);
        const float u1 = seg.u1 < 0.999f ? std::clamp(seg.u1 + (r - 0.5f) * 0.05f, u0 + 0.05f, 1.0f) : 1.0f;
        const float start = ctx.eventStart + u0 * eventLength;
        const float len = (u1 - u0) * eventLength;
        if (len < kMinSegmentSeconds) continue;

        const float intensity = SampleCurve256(event.intensity, seg.mid) * event.intensityScale;
        const float weight = WashTargetWeight(event, segments, s);
        RenderResult result = NewLayer(ctx, weight, ctx.pinnedCount + static_cast<int>(s), s < 2 ? 0 : 2);
        result.startTime = start;
        result.duration = len;

        const LibraryEntry* sound = nullptr;
        if (ctx.poolEmpty()) {
            MakeSketchLayer(result, kSketchWash);
        } else {
            float target = IntensityJitter(weight, event.pitchVariation, state);
            std::vector<RenderCandidate>& list = RunCandidateLadder(ctx, target, intensity);
            sound = PickCandidate(list, state);
            if (sound == nullptr) MakeNoMatchLayer(result);
        }

        if (sound != nullptr) {
            TakeEntryIdentity(result, *sound);
            float profile[16];
            SampleCurve16(event, weight, u0, u1, profile);
            std::vector<UsedSound> uses = UsedRegionsOfFile(ctx, sound->path);
            FitResult fit = FitSoundToEvent(*sound, len, event.shape, state, &event.intensity,
                                            event.intensityScale, p, &uses, profile);
            result.sourceOffset = fit.sourceOffset;
            result.sourceDuration = fit.sourceDuration;
            result.audioSyncOffset = fit.syncTime;
            PitchJitter(result, event.pitchVariation, state);
            float playable = PlayableSourceLength(result);

            // A short tail lets the layer ring out past its segment, but it
            // never plays beyond the region of the sound it was given.
            const float f = SoundFadeFactor(*sound);
            const float tail = std::min(0.8f, (0.25f * f + 0.18f) * len);
            result.duration = std::min(len + tail, playable);
            result.startTime = start;
            float a = 0.0f;
            float b = 0.0f;
            IntensityCurveFades(event, u0, u1, seg.level, len, a, b);
            a *= 1.5f * f + 2.0f;
            b *= 1.5f * f + 2.0f;
            float c = 0.0f;
            float d = 0.0f;
            WeightCurveFades(event, ctx.eventStart, *sound, weight, start, result.duration, c, d);
            result.fadeIn = std::max(c, a);
            result.fadeOut = std::max(d, b);
            CapFadePair(result.fadeIn, result.fadeOut, (0.12f * f + 0.8f) * result.duration);
            RecordChosenSound(ctx, *sound, result.sourceOffset, result.sourceDuration);
        }

        result.stereo = event.stereo;
        BuildCurveLookup(event, result);
        // Quieter where the event's weight has moved away from the layer's own.
        for (int i = 0; i < 256; ++i) {
            float u = EventPositionOfPoint(event, ctx.eventStart, result, i);
            float d = std::fabs(result.weight - SampleEventCurve(event, u));
            result.intGain[i] = std::max(0.03f, result.intGain[i] * std::max(0.05f, std::exp(-5.0f * d * d)));
        }
        AppendLayer(ctx, result, false);
    }
}

// ---- Threshold layers --------------------------------------------------------------

void BuildThresholdLayers(LayerBuildContext& ctx) {
    Event& event = ctx.event();
    uint32_t& state = *ctx.randomState;
    const int m = std::max(1, std::min(ctx.layerCount, ctx.fillCap));
    const float s = std::clamp(event.spread, 0.0f, 1.0f);

    LevelSpans spans(ctx, {m, 0.88f, 0.05f, 0.05f, 0.06f});
    for (LevelSpan span; spans.Next(span);) {
        const int k = span.k;
        const float len = span.length;
        const float intensity = SampleCurve256(event.intensity, span.mid) * event.intensityScale;
        float w = SampleEventCurve(event, span.mid);
        if (m > 1) {
            w = std::clamp(w + (static_cast<float>(k) / static_cast<float>(m) - 0.5f) * s * 0.5f, 0.0f, 1.0f);
        }
        RenderResult result = NewLayer(ctx, w, k, 2);
        result.startTime = span.start;
        result.duration = len;
        if (ctx.poolEmpty()) {
            MakeSketchLayer(result, kSketchLayer);
            AppendLayer(ctx, result);
            continue;
        }
        std::vector<RenderCandidate>& list =
            ScoreLayerCandidates(ctx, w, len, event.shape, ctx.terms, 8, intensity, AccumulatedBands(ctx),
                                 RefSuitability(ctx), ctx.realLayers);
        RankCandidates(ctx, list);
        const LibraryEntry* sound = PickOrAppendNoMatch(ctx, list, result);
        if (sound == nullptr) continue;
        std::vector<UsedSound> uses = UsedRegionsOfFile(ctx, sound->path);
        FitResult fit = FitSoundToEvent(*sound, len, event.shape, state, &event.intensity,
                                        event.intensityScale, 0.5f, &uses, nullptr);
        result.sourceOffset = fit.sourceOffset;
        result.sourceDuration = fit.sourceDuration;
        result.duration = std::min(len, fit.sourceDuration);
        result.audioSyncOffset = 0.0f;
        IntensityCurveFades(event, span.u0, span.u1, span.level, len, result.fadeIn, result.fadeOut);
        RecordChosenSound(ctx, *sound, fit.sourceOffset, fit.sourceDuration);
        AppendLayer(ctx, result);
    }
}
