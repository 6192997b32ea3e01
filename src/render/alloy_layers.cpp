// alloy_layers.cpp — layers of Spot, Bloom and Contour events marked as alloy.
//
// Index
//   AlloyLayerCountForRange / ChooseAlloyWindow
//   Shared steps      alloy fields and curves of a layer, scoring of one source
//   Alloy layers      one to three full-length layers of four sources each
//   Support layers    shorter layers over the louder passages of the event
//   BuildAlloyLayers
//
// An alloy layer names up to four sounds (main, mid, high, env) that the
// alloy morph later fuses into one; the builder only chooses them and their
// regions. Every random number comes from the pass's state, in the order the
// layers are made: per alloy layer four target nudges, then per source its
// weighted pick (and, for a file without a level curve, its window); per
// support layer two span nudges, a weight nudge, the pick, the fit, then per
// further source a target nudge and its pick.
#include "render/alloy_layers.h"

#include <algorithm>
#include <cmath>

#include "library/file_caches.h"
#include "library/region_measure.h"
#include "render/designed_names.h"
#include "render/fitting.h"
#include "render/render_curves.h"
#include "render/wash_alloy_common.h"

int AlloyLayerCountForRange(float weightRange) {
    if (weightRange >= 0.45f) return 3;
    if (weightRange >= 0.15f) return 2;
    return 1;
}

AlloyWindow ChooseAlloyWindow(const LibraryEntry& sound, float wantedLength, const float target16[16],
                              uint32_t* drawState) {
    AlloyWindow window;
    const float soundLength = std::isfinite(sound.duration) && sound.duration > 0.0f ? sound.duration : 0.0f;
    const float wanted = std::isfinite(wantedLength) && wantedLength > 0.0f ? wantedLength : 0.0f;
    window.length = std::min(soundLength, wanted);
    const float slack = soundLength - window.length;
    if (!(slack > 0.01f)) return window;

    LevelCurvePtr levels = GetLevelCurve(sound.path, 20);
    if (levels->empty()) {
        if (drawState != nullptr) window.offset = NextRenderRandom(*drawState) * slack;
        return window;
    }
    const int steps = static_cast<int>(std::clamp(10.0f * slack, 10.0f, 50.0f));
    float best = -1.0f;
    float bins[16];
    for (int j = 0; j < steps; ++j) {
        float o = static_cast<float>(j) * slack / static_cast<float>(steps - 1);
        AverageLevelWindow(*levels, soundLength, o, window.length, bins, 16);
        float sim = CosineSimilarity(bins, target16, 16);
        if (sim > best) {
            best = sim;
            window.offset = o;
        }
    }
    return window;
}

namespace {

// ---- Shared steps ------------------------------------------------------------

// The morph settings of the event and the project, and the layer's own view of
// the event's weight and intensity over [u0, u1] in 32 even steps.
void SetAlloyFields(const LayerBuildContext& ctx, RenderResult& result, float u0, float u1) {
    const Event& event = ctx.event();
    const Project& project = *ctx.project;
    result.alloyMorph = event.alloyMorph;
    result.alloyAlgo = project.alloyAlgorithm;
    result.alloyTransferDepth = project.alloyTransferDepth;
    result.alloyAttackGraft = project.alloyAttackGraft;
    result.alloyMicroPitch = project.alloyMicroPitch;
    result.alloyFilterBands = project.alloyFilterBands;
    for (int i = 0; i < 32; ++i) {
        float u = u0 + static_cast<float>(i) / 31.0f * (u1 - u0);
        result.alloyWeightCurve[i] = SampleEventCurve(event, u);
        float v = SampleCurve256(event.intensity, u) * event.intensityScale;
        result.alloyIntensityCurve[i] = std::clamp(v, 0.0f, 1.0f);
    }
    result.hasAlloyCurves = true;
}

// One source: a single scoring without keywords' fallbacks or band and
// contrast terms, damped by repetition, then the weighted pick.
const LibraryEntry* PickAlloySource(LayerBuildContext& ctx, float target, float length, int listSize) {
    const Event& event = ctx.event();
    std::vector<RenderCandidate>& list =
        ScoreLayerCandidates(ctx, target, length, event.shape, ctx.terms, listSize, 0.5f, nullptr, -1.0f, 0);
    RankCandidates(ctx, list);
    return PickCandidate(list, *ctx.randomState);
}

void FillSource(AlloySource& source, const LibraryEntry& sound, const AlloyWindow& window) {
    source.filepath = sound.path;
    source.fileId = sound.fileId;
    source.offset = window.offset;
    source.duration = window.length;
    source.name = sound.name;
}

// ---- Alloy layers --------------------------------------------------------------

void MakeAlloyLayer(LayerBuildContext& ctx, int k, int alloyCount, float w, float weightRange) {
    Event& event = ctx.event();
    uint32_t& state = *ctx.randomState;
    const float s = std::clamp(event.spread, 0.0f, 1.0f);
    RenderResult result = NewLayer(ctx, w, ctx.pinnedCount + k, 3);
    SetAlloyFields(ctx, result, 0.0f, 1.0f);

    if (ctx.poolEmpty()) {
        MakeSketchLayer(result, kSketchAlloy);
    } else {
        // Four targets fanned out around the layer's weight, a little apart.
        const float spreadW = std::min(0.35f * weightRange, 0.6f * s);
        float targets[4];
        for (int i = 0; i < 4; ++i) {
            float r = NextRenderRandom(state);
            targets[i] = std::clamp(w + (static_cast<float>(i) / 3.0f - 0.5f) * spreadW + (r - 0.5f) * 0.15f,
                                    0.0f, 1.0f);
        }
        float envelope[16];
        SampleCurve16(event, w, 0.0f, 1.0f, envelope);

        AlloySource parts[4];
        bool anyFound = false;
        for (int i = 0; i < 4; ++i) {
            const LibraryEntry* sound = PickAlloySource(ctx, targets[i], event.duration, 12);
            if (sound == nullptr) continue;
            AlloyWindow window = ChooseAlloyWindow(*sound, event.duration, envelope, &state);
            FillSource(parts[i], *sound, window);
            // Joining the event's list keeps the next sources off this sound.
            RecordUsedRegion(ctx, sound->path, window.offset, window.length);
            anyFound = true;
        }
        result.filepath = parts[0].filepath;
        result.fileId = parts[0].fileId;
        result.sourceOffset = parts[0].offset;
        result.sourceDuration = parts[0].duration;
        result.alloyMid = parts[1];
        result.alloyHigh = parts[2];
        result.alloyEnv = parts[3];
        if (anyFound) {
            result.name = UniqueDesignedName(ctx.terms, parts[0].name, parts[1].name, k);
        } else {
            MakeNoMatchLayer(result);
        }

        // The main sound's own fades, or the swell of the event, whichever is longer.
        const float eventLength = event.duration;
        float fi0 = EstimateFadeInLength(result.filepath, result.sourceOffset, eventLength);
        float fo0 = EstimateFadeOutLength(result.filepath, result.sourceOffset, eventLength,
                                          0.3f * eventLength);
        const float span = std::max(eventLength, 0.001f);
        float u0 = std::clamp((result.startTime - ctx.eventStart) / span, 0.0f, 1.0f);
        float u1 = std::clamp((result.startTime + result.duration - ctx.eventStart) / span, 0.0f, 1.0f);
        float fi = 0.0f;
        float fo = 0.0f;
        IntensityCurveFades(event, u0, u1, 0.05f, result.duration, fi, fo);
        result.fadeIn = std::max(2.0f * fi, fi0);
        result.fadeOut = std::max(2.0f * fo, fo0);
        CapFadePair(result.fadeIn, result.fadeOut, 0.85f * result.duration);
        // The morph stretches the sources over the whole event, whatever the
        // main window's length.
        result.sourceDuration = eventLength;
    }

    result.stereo = event.stereo;
    BuildCurveLookup(event, result);
    if (alloyCount > 1) {
        // Each layer sounds where the event's weight lies near its own.
        for (int i = 0; i < 256; ++i) {
            float u = EventPositionOfPoint(event, ctx.eventStart, result, i);
            float d = std::fabs(w - SampleEventCurve(event, u));
            result.intGain[i] *= std::max(0.05f, std::exp(-4.0f * d * d));
        }
    }
    AppendLayer(ctx, result, false);
}

// ---- Support layers --------------------------------------------------------------

void MakeSupportLayers(LayerBuildContext& ctx, int alloyCount) {
    Event& event = ctx.event();
    uint32_t& state = *ctx.randomState;
    const float peak = ctx.maxIntensity;
    if (!(peak > 0.15f) || ctx.poolEmpty()) return;
    const int extra = std::min(std::max(ctx.fillCap - alloyCount, 0),
                               std::max(ctx.layerCount - ctx.pinnedCount - alloyCount, 0));
    if (extra < 1) return;
    const float s = std::clamp(event.spread, 0.0f, 1.0f);
    const float p = EventSyncPosition(event);
    const float eventLength = event.duration;

    LevelSpans spans(ctx, {extra, 0.85f, 0.08f, 0.06f, 0.1f});
    for (LevelSpan span; spans.Next(span);) {
        const int k = span.k;
        const float len = span.length;
        const float mid = span.mid;
        float r = NextRenderRandom(state);
        const float w = std::clamp(SampleEventCurve(event, mid) + (r - 0.5f) * s * 0.4f, 0.0f, 1.0f);
        const float intensity = SampleCurve256(event.intensity, mid) * event.intensityScale;
        std::vector<RenderCandidate>& list =
            ScoreLayerCandidates(ctx, w, len, event.shape, ctx.terms, 10, intensity, AccumulatedBands(ctx),
                                 RefSuitability(ctx), ctx.realLayers);
        RankCandidates(ctx, list);
        const LibraryEntry* sound = PickCandidate(list, state);
        if (sound == nullptr) continue;

        RenderResult result = NewLayer(ctx, w, ctx.pinnedCount + alloyCount + k, 3);
        SetAlloyFields(ctx, result, span.u0, span.u1);
        float profile[16];
        SampleCurve16(event, w, span.u0, span.u1, profile);
        std::vector<UsedSound> uses = UsedRegionsOfFile(ctx, sound->path);
        FitResult fit = FitSoundToEvent(*sound, len, event.shape, state, &event.intensity,
                                        event.intensityScale, p, &uses, profile);
        result.filepath = sound->path;
        result.fileId = sound->fileId;
        result.name = UniqueDesignedName(ctx.terms, sound->name, std::string(), k + 1);
        result.sourceOffset = fit.sourceOffset;
        result.sourceDuration = len;
        result.audioSyncOffset = fit.syncTime;

        if (event.shape == kShapeContour) {
            result.startTime = span.start;
            result.duration = len;
        } else {
            // The sound's sync point meets the event time, inside the event's span.
            float s0 = event.time - fit.syncTime;
            float start = std::max(ctx.eventStart, s0);
            float end = std::min(ctx.eventStart + eventLength, s0 + len);
            result.duration = std::max(end - start, 0.1f);
            if (start > s0) result.sourceOffset += start - s0;
            result.startTime = start;
        }

        const float f = SoundFadeFactor(*sound);
        result.fadeFactor = f;
        float a = 0.0f;
        float b = 0.0f;
        IntensityCurveFades(event, span.u0, span.u1, span.level, result.duration, a, b);
        a *= 1.5f * f + 2.0f;
        b *= 1.5f * f + 2.0f;
        float c = 0.0f;
        float d = 0.0f;
        WeightCurveFades(event, ctx.eventStart, *sound, w, result.startTime, result.duration, c, d);
        result.fadeIn = std::max({c, a, fit.fadeIn});
        result.fadeOut = std::max({d, b, fit.fadeOut});
        CapFadePair(result.fadeIn, result.fadeOut, (0.12f * f + 0.8f) * result.duration);

        RecordChosenSound(ctx, *sound, result.sourceOffset, result.sourceDuration);

        // The further sources stay near the layer's weight. They take the
        // window that best fits the layer's envelope and draw nothing more.
        AlloySource* further[3] = {&result.alloyMid, &result.alloyHigh, &result.alloyEnv};
        for (AlloySource* source : further) {
            r = NextRenderRandom(state);
            float target = std::clamp(w + (r - 0.5f) * s * 0.5f, 0.0f, 1.0f);
            const LibraryEntry* extraSound = PickAlloySource(ctx, target, len, 8);
            if (extraSound == nullptr) continue;
            FillSource(*source, *extraSound, ChooseAlloyWindow(*extraSound, len, profile, nullptr));
        }
        AppendLayer(ctx, result);
    }
}

}  // namespace

// ---- Builder ---------------------------------------------------------------------

void BuildAlloyLayers(LayerBuildContext& ctx) {
    const Event& event = ctx.event();
    if (ctx.pinnedCount >= ctx.layerCount) return;
    float wMin = 0.0f;
    float wMax = 0.0f;
    EventWeightExtremes(event, wMin, wMax);
    const float range = wMax - wMin;
    const int alloyCount = AlloyLayerCountForRange(range);
    for (int k = 0; k < alloyCount; ++k) {
        float w = alloyCount == 1
                      ? (wMin + wMax) * 0.5f
                      : wMin + static_cast<float>(k) / static_cast<float>(alloyCount - 1) * range;
        MakeAlloyLayer(ctx, k, alloyCount, w, range);
    }
    MakeSupportLayers(ctx, alloyCount);
}
