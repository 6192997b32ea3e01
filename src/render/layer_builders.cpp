// layer_builders.cpp — the Spot, Fill and Scatter layer builders.
//
// Index
//   BuildSpotLayers   a few stacked hits spread around the peak weight
//   Fill helpers      weight range, Fill's own pick seed, the 128-point fillGain
//   BuildFillLayers   a bed across the weight range, in library order or scored
//   BuildScatterLayers  grains whose density follows the intensity curve
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "render/fitting.h"
#include "render/layer_builders.h"
#include "render/render_curves.h"


// ---- Spot ------------------------------------------------------------------

void BuildSpotLayers(LayerBuildContext& ctx) {
    const Event& event = ctx.event();
    uint32_t& state = *ctx.randomState;
    int count = std::max(1, std::min(ctx.layerCount, ctx.fillCap));
    int layers = std::clamp(IntensityTier(ctx.maxIntensity), 1, count);
    float wPeak = SampleEventCurve(event, EventSyncPosition(event));
    float s = std::clamp(event.spread, 0.0f, 1.0f);

    for (int k = ctx.pinnedCount; k < layers; ++k) {
        float w = wPeak;
        if (layers >= 2 && s > 0.01f) {
            float share = static_cast<float>(k) / static_cast<float>(layers - 1);
            w = std::clamp(wPeak + (share - 0.5f) * s * 0.5f, 0.0f, 1.0f);
        }
        RenderResult result = NewLayer(ctx, w, k, 2);
        if (ctx.poolEmpty()) {
            MakeSketchLayer(result, kSketchSpot);
            AppendLayer(ctx, result);
            continue;
        }
        float jittered = IntensityJitter(w, event.pitchVariation, state);
        std::vector<RenderCandidate>& list = RunCandidateLadder(ctx, jittered, ctx.maxIntensity);
        const LibraryEntry* entry = PickOrAppendNoMatch(ctx, list, result);
        if (entry == nullptr) continue;

        std::vector<UsedSound> uses = UsedRegionsOfFile(ctx, entry->path);
        FitResult fit = FitSoundToEvent(*entry, event.duration, kShapeSpot, state, nullptr, 1.0f,
                                        0.5f, &uses, nullptr);
        result.sourceOffset = fit.sourceOffset;
        result.sourceDuration = fit.sourceDuration;
        result.audioSyncOffset = fit.syncTime;

        // The sound's sync point meets the event's time; the layer may reach
        // a little beyond the event on both sides.
        float s0 = event.time - fit.syncTime;
        float start = std::max(ctx.eventStart - 0.12f, s0);
        float end = std::min(ctx.eventEnd + 0.12f, s0 + fit.sourceDuration);
        float len = std::max(end - start, 0.1f);
        if (start > s0) result.sourceOffset += start - s0;
        result.startTime = start;
        result.duration = len;
        result.fadeIn = std::max(std::max(0.02f * len, 0.01f), fit.fadeIn);
        result.fadeOut = std::max(std::max(0.04f * len, 0.03f), fit.fadeOut);
        CapFadePair(result.fadeIn, result.fadeOut, 0.8f * len);

        PitchJitter(result, event.pitchVariation, state);
        RecordChosenSound(ctx, *entry, result.sourceOffset, result.sourceDuration);
        AppendLayer(ctx, result);
    }
}

// ---- Fill ------------------------------------------------------------------

namespace {

struct WeightRange {
    float lo = 1.0f;
    float hi = 0.0f;
};

WeightRange EventWeightRange(const Event& event) {
    WeightRange r;
    for (int i = 0; i < 256; ++i) {
        float w = SampleEventCurve(event, static_cast<float>(i) / 255.0f);
        r.lo = std::min(r.lo, w);
        r.hi = std::max(r.hi, w);
    }
    return r;
}

// Fill picks with its own seed so that two Fill layers of a pass, and two
// renders of one event, rarely draw alike: a counter of the document, the
// clock and an address that differs from run to run (or a test's fixed salt).
float FillPickRandom(const LayerBuildContext& ctx) {
    Project& project = *ctx.project;
    project.fillPickCounter += 1;
    uint32_t x = project.fillPickCounter * 2654435761u;
    if (ctx.seeds != nullptr && ctx.seeds->fixedFillSalt) {
        x ^= ctx.seeds->fillSalt;
    } else {
        auto now = std::chrono::system_clock::now().time_since_epoch();
        x ^= static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
        x ^= static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&ctx));
    }
    return NextRenderRandom(x);
}

// Where the event's weight lies near the layer's weight the layer sounds; the
// edges of the weight range get a little boost so the extremes stay audible.
void BuildFillGain(const Event& event, float w, float spacing, RenderResult& result) {
    float boost = 1.0f;
    if (w < 0.3f) boost = 1.0f + (0.3f - w) * 1.5f;
    else if (w > 0.8f) boost = 1.0f + (w - 0.8f) * 0.8f;
    float raw[128];
    for (int j = 0; j < 128; ++j) {
        float u = static_cast<float>(j) / 127.0f;
        float d = std::fabs(w - SampleEventCurve(event, u)) / spacing;
        raw[j] = std::clamp(std::exp(-1.8f * d * d) * boost, 0.0f, 2.8f);
    }
    float a = std::clamp(1.0f - std::exp(-2.0f * event.duration / 127.0f), 0.005f, 1.0f);
    float g[128];
    g[0] = raw[0];
    for (int j = 1; j < 128; ++j) g[j] = g[j - 1] + (raw[j] - g[j - 1]) * a;
    float b = g[127];
    for (int j = 127; j >= 0; --j) {
        b = b + (g[j] - b) * a;
        result.fillGain[j] = (g[j] + b) * 0.5f;
    }
    result.hasFillGain = true;
}

}  // namespace

void BuildFillLayers(LayerBuildContext& ctx) {
    const Event& event = ctx.event();
    const std::vector<const LibraryEntry*> noPool;
    const std::vector<const LibraryEntry*>& pool = ctx.pool ? *ctx.pool : noPool;
    const int free = ctx.layerCount - ctx.pinnedCount;
    if (ctx.pinnedCount > 0 && free <= 0) return;

    WeightRange wr = EventWeightRange(event);
    float wMin = wr.lo;
    float wMax = wr.hi;
    float meanIntensity = 0.0f;
    for (float v : event.intensity) meanIntensity += v;
    meanIntensity = meanIntensity / 256.0f * event.intensityScale;

    // A small library named by the event's filter is played as it is, darkest
    // sound first, instead of being scored.
    const bool libraryOrder = !pool.empty() &&
                              static_cast<int>(pool.size()) <= ctx.fillCap &&
                              event.libFilter[0] != '\0';
    std::vector<const LibraryEntry*> ordered;
    int layers = 0;
    if (libraryOrder) {
        ordered = pool;
        std::stable_sort(ordered.begin(), ordered.end(),
                         [](const LibraryEntry* a, const LibraryEntry* b) {
                             return a->brightness < b->brightness;
                         });
        layers = std::clamp(free, 1, static_cast<int>(ordered.size()));
        wMin = 0.0f;
        wMax = 1.0f;
    } else {
        int count = std::max(free, 0);
        if (event.fillLayers < 1) {
            if (wMax - wMin < 0.1f) {
                wMin = std::max(wMin - 0.05f, 0.0f);
                wMax = std::min(wMax + 0.05f, 1.0f);
            }
            int cap = std::max(1, std::min(count, ctx.fillCap));
            int want = std::max(static_cast<int>((wMax - wMin) / 0.12f + 0.5f), 3);
            layers = std::clamp(want, std::min(3, cap), cap);
        } else {
            wMin = 0.0f;
            wMax = 1.0f;
            layers = std::min(std::clamp(count, 1, ctx.fillCap), event.fillLayers);
        }
    }
    const float range = wMax - wMin;
    const float step = layers > 1 ? range / static_cast<float>(layers - 1) : range;
    const float spacing = std::max(0.05f, step);
    const float fps = std::max(1.0f, ctx.project->fps);
    const float crossfade = static_cast<float>(std::max(0, event.sceneCrossfade)) / fps;

    for (int k = 0; k < layers; ++k) {
        float w = layers > 1 ? wMin + static_cast<float>(k) / static_cast<float>(layers - 1) * range
                             : (wMin + wMax) * 0.5f;
        RenderResult result = NewLayer(ctx, w, ctx.pinnedCount + k, 1);
        result.duration = event.duration + crossfade;
        result.fadeIn = crossfade;
        result.fadeOut = crossfade;

        const LibraryEntry* entry = nullptr;
        if (pool.empty()) {
            MakeSketchLayer(result, kSketchFill);
        } else if (libraryOrder) {
            entry = ordered[static_cast<size_t>(k) % ordered.size()];
        } else {
            std::vector<RenderCandidate>& list =
                ScoreLayerCandidates(ctx, w, event.duration, kShapeFill, ctx.terms, 32, meanIntensity,
                                     AccumulatedBands(ctx), RefSuitability(ctx), ctx.realLayers);
            RankCandidates(ctx, list);
            size_t m = std::min<size_t>(8, list.size());
            double sum = 0.0;
            for (size_t i = 0; i < m; ++i) sum += list[i].score;
            if (m > 1 && sum > 0.0) {
                double target = static_cast<double>(FillPickRandom(ctx)) * sum;
                double running = 0.0;
                entry = list[0].entry;
                for (size_t i = 0; i < m; ++i) {
                    running += list[i].score;
                    if (running >= target) {
                        entry = list[i].entry;
                        break;
                    }
                }
            } else if (!list.empty()) {
                entry = list[0].entry;
            } else {
                MakeNoMatchLayer(result);
            }
        }

        if (entry != nullptr) {
            TakeEntryIdentity(result, *entry);
            result.sourceOffset = 0.0f;
            result.sourceDuration = entry->duration;
            RecordChosenSound(ctx, *entry, 0.0f, entry->duration);
        } else {
            result.sourceDuration = event.duration;
        }
        BuildFillGain(event, w, spacing, result);
        AppendLayer(ctx, result);
    }
}

// ---- Scatter ---------------------------------------------------------------

void BuildScatterLayers(LayerBuildContext& ctx) {
    const Event& event = ctx.event();
    uint32_t& state = *ctx.randomState;
    const float duration = event.duration;
    const int bins = std::max(1, static_cast<int>(duration / 0.06f));
    const float binLen = duration / static_cast<float>(bins);
    const float g = std::clamp(0.08f * duration, 0.05f, 0.4f);
    const float s = std::clamp(event.spread, 0.0f, 1.0f);
    const int fillCap = std::max(1, ctx.fillCap);
    const int grainCap = 12 * fillCap;
    int grains = 0;

    for (int b = 0; b < bins && grains < grainCap; ++b) {
        float u = (static_cast<float>(b) + 0.5f) / static_cast<float>(bins);
        float I = std::max(0.0f, SampleCurve256(event.intensity, u) * event.intensityScale);
        // Density rises faster than intensity (I^1.5), up to 30 grains a second.
        float expected = std::sqrt(I) * I * 30.0f * binLen;
        // A bin never holds more than fillCap grains; capping here first keeps
        // an absurd intensity scale from overflowing the count.
        if (!(expected > 0.0f)) expected = 0.0f;
        expected = std::min(expected, static_cast<float>(fillCap));
        float r = NextRenderRandom(state);
        float whole = std::floor(expected);
        int inBin = static_cast<int>(whole) + (expected - whole > r ? 1 : 0);
        inBin = std::min(inBin, fillCap);

        for (int q = 0; q < inBin && grains < grainCap; ++q) {
            float r1 = NextRenderRandom(state);
            float uu = std::clamp(u + (r1 - 0.5f) * binLen / duration, 0.0f, 0.98f);
            float r2 = NextRenderRandom(state);
            float weight = std::clamp(SampleEventCurve(event, uu) + (r2 - 0.5f) * s * 0.6f, 0.0f, 1.0f);
            float r3 = NextRenderRandom(state);
            float len = std::clamp((r3 * 1.2f + 0.6f) * g * (1.0f - 0.25f * I), 0.04f, 0.6f);

            RenderResult result = NewLayer(ctx, weight, grains % fillCap, 2);
            result.startTime = ctx.eventStart + uu * duration;
            result.duration = len;
            // Until the end of the pass replaces it, the gain weighs the grain
            // in the band mask of later events.
            result.layerGain = 0.6f * I + 0.4f;
            result.fadeIn = 0.005f;
            result.fadeOut = std::clamp(0.4f * len, 0.01f, 0.1f);
            ++grains;

            if (ctx.poolEmpty()) {
                MakeSketchLayer(result, kSketchScatter);
                AppendLayer(ctx, result, false);
                continue;
            }
            float target = IntensityJitter(weight, event.pitchVariation, state);
            std::vector<RenderCandidate>& list =
                ScoreLayerCandidates(ctx, target, len, event.shape, ctx.terms, 8, I, nullptr,
                                     RefSuitability(ctx), ctx.realLayers);
            RankCandidates(ctx, list);
            const LibraryEntry* entry = PickOrAppendNoMatch(ctx, list, result, false);
            if (entry == nullptr) continue;
            std::vector<UsedSound> uses = UsedRegionsOfFile(ctx, entry->path);
            FitResult fit = FitSoundToEvent(*entry, len, event.shape, state, &event.intensity,
                                            event.intensityScale, 0.5f, &uses, nullptr);
            // The grain stays where its draw put it; the sync point is only noted.
            result.sourceOffset = fit.sourceOffset;
            result.sourceDuration = fit.sourceDuration;
            result.audioSyncOffset = fit.syncTime;
            RecordUsedRegion(ctx, entry->path, fit.sourceOffset, fit.sourceDuration);
            ctx.suitabilitySum += SuitabilityScore(*entry);
            ctx.realLayers += 1;

            PitchJitter(result, event.pitchVariation, state);
            float playable = PlayableSourceLength(result);
            result.duration = std::min(len + std::min(0.08f, 0.15f * len), playable);
            AppendLayer(ctx, result, false);
        }
    }
}
