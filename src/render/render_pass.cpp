// render_pass.cpp — the render pass: which results go, which events are
// rendered, and the frame around the per-shape layer builders.
//
// Index
//   ClockRenderSeeds / EventRenderable / EventLayerCount
//   Small helpers        spans, sync position, file names
//   BuildPinnedLayers    one layer per pinned file
//   RemoveRenderedResults / CollectUsedSounds
//   ComputeBandMask / AddHeroesToBandMask
//   SetUpPools           the candidate pools: from the candidate table, or plain lists
//                        on the reference path (PassState: render_pass_steps.h)
//   RenderOneEvent       pool, legacy pin, mask, count, pinned layers, builder
//   RenderEventsWithOptions / RenderEventsWithSeeds / RenderEvents
//                        Clip and Bed rebuilds, tracks assigned once before the
//                        next event that reads them
#include "render/render_pass.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "library/file_caches.h"
#include "library/file_registry.h"
#include "platform/file_util.h"
#include "render/candidate_table.h"
#include "render/candidates.h"
#include "render/clip_bed_events.h"
#include "render/fitting.h"
#include "render/pool_scoring.h"
#include "render/render_curves.h"
#include "render/render_pass_steps.h"
#include "render/track_assignment.h"
#include "render/track_packing.h"

RenderSeeds ClockRenderSeeds() {
    RenderSeeds seeds;
    auto now = std::chrono::system_clock::now().time_since_epoch();
    seeds.passSeed =
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
    seeds.fixedFillSalt = false;
    return seeds;
}

bool EventRenderable(const Event& event) {
    constexpr float kOneDay = 86400.0f;
    return std::isfinite(event.time) && std::isfinite(event.syncOffset) &&
           std::isfinite(event.duration) && event.duration > 0.0f && event.duration <= kOneDay;
}

int EventLayerCount(const Event& event, float maxIntensity, int fillCap) {
    float spread = event.spread > 0.0f ? std::min(event.spread, 1.0f) : 0.0f;
    int n = 3 + static_cast<int>(3.0f * spread + 0.5f);
    if (maxIntensity > 0.8f) n += 1;
    if (event.hero) n = static_cast<int>(static_cast<float>(n) * 1.5f + 0.5f);
    n = std::min(n, fillCap);
    if (event.shape == kShapeFill && event.fillLayers > 0) n = std::max(n, event.fillLayers);
    return n;
}

namespace {

bool ValidEvent(const Project& project, int32_t idx) {
    return idx >= 0 && idx < static_cast<int32_t>(project.events.size());
}

bool IsClipOrBed(const Event& event) {
    return event.shape == kShapeClip || event.shape == kShapeBed;
}

// The same test decides which results go and which events are rendered
// again, so that nothing loses its layers without getting new ones.
bool EventInRange(const Event& event, float t0, float t1) {
    return t0 < event.time + event.duration && event.time < t1;
}

void PublishCount(Project& project) {
    project.publishedResultCount.store(static_cast<int32_t>(project.results.size()),
                                       std::memory_order_release);
}

}  // namespace

// ---- Pinned layers -----------------------------------------------------------

int BuildPinnedLayers(LayerBuildContext& ctx) {
    Event& event = ctx.event();
    if (event.pinnedFiles.empty() || ctx.poolEmpty()) return 0;
    uint32_t& state = *ctx.randomState;
    const float p = EventSyncPosition(event);
    const float wPeak = SampleEventCurve(event, p);
    const int count = static_cast<int>(event.pinnedFiles.size());

    for (int k = 0; k < count; ++k) {
        std::string id = k < static_cast<int>(event.pinnedFileIds.size()) ? event.pinnedFileIds[k]
                                                                          : std::string();
        if (!id.empty()) {
            std::string resolved = FileRegistry::Instance().ResolveOrAdd(id, event.pinnedFiles[k]);
            if (!resolved.empty()) event.pinnedFiles[k] = resolved;
        }
        const std::string& path = event.pinnedFiles[k];
        const LibraryEntry* entry = nullptr;
        if (!id.empty()) {
            // An empty id would match every entry that has none yet.
            for (const LibraryEntry* e : *ctx.pool) {
                if (e->fileId == id) {
                    entry = e;
                    break;
                }
            }
        }
        if (entry == nullptr) {
            for (const LibraryEntry* e : *ctx.pool) {
                if (e->path == path) {
                    entry = e;
                    break;
                }
            }
        }

        RenderResult result = NewLayer(ctx, wPeak, k, 2);
        if (entry != nullptr) {
            TakeEntryIdentity(result, *entry);
        } else {
            // Not in the libraries: the file plays whole if it can be found.
            result.name = FileNameOf(path);
            result.filepath = path;
            result.fileId = id;
            AppendLayer(ctx, result);
            continue;
        }

        FitResult fit = FitSoundToEvent(*entry, event.duration, event.shape, state,
                                        &event.intensity, event.intensityScale, p, nullptr, nullptr);
        result.sourceOffset = fit.sourceOffset;
        result.sourceDuration = fit.sourceDuration;
        result.audioSyncOffset = fit.syncTime;
        PitchJitter(result, event.pitchVariation, state);
        float playable = PlayableSourceLength(result);

        if (event.shape == kShapeFill) {
            result.startTime = ctx.eventStart;
            result.duration = event.duration;
            result.fadeIn = 0.0f;
            result.fadeOut = 0.0f;
        } else {
            // The sound's sync point meets the event time. The pitch variation
            // may have moved the sync point inside the region (when it had to
            // start the region at the file's start), so its current value is
            // the one that counts.
            float s = event.time - result.audioSyncOffset;
            float start = std::max(ctx.eventStart - 0.12f, s);
            float end = std::min(ctx.eventEnd + 0.12f, s + playable);
            float len = std::max(end - start, 0.1f);
            if (start > s) result.sourceOffset += start - s;
            result.startTime = start;
            result.duration = len;
            if (event.shape == kShapeSpot || event.shape == kShapeBloom) {
                result.fadeIn = std::max(std::max(0.12f * len, 0.02f), fit.fadeIn);
                result.fadeOut = std::max(std::max(0.18f * len, 0.04f), fit.fadeOut);
            } else {
                float span = std::max(event.duration, 0.001f);
                float fi = 0.0f;
                float fo = 0.0f;
                IntensityCurveFades(event, (start - ctx.eventStart) / span,
                                    (end - ctx.eventStart) / span, 0.01f, len, fi, fo);
                result.fadeIn = std::max(std::max(0.08f * len, 0.02f), fi);
                result.fadeOut = std::max(std::max(0.12f * len, 0.04f), fo);
            }
            CapFadePair(result.fadeIn, result.fadeOut, 0.75f * len);
        }
        AppendLayer(ctx, result);
    }
    return count;
}

// ---- The pass ----------------------------------------------------------------

namespace {

// The pool an event draws from, and what keeps it alive while it does.
struct EventPool {
    std::shared_ptr<const CandidatePool> scored;
    std::vector<const LibraryEntry*> plain;
};

void RemoveRenderedResults(Project& project, int eventIndex, bool rangeOn, float t0, float t1) {
    // Clip and Bed events are rebuilt on every pass, and their rebuild keeps
    // what the designer set on the old result (volume, mute), so their results
    // are left for it instead of being removed here.
    auto removable = [&](const RenderResult& r) {
        bool valid = ValidEvent(project, r.eventIdx);
        if (valid && IsClipOrBed(project.events[r.eventIdx])) return false;
        if (eventIndex >= 0) return r.eventIdx == eventIndex;
        if (!valid) return false;
        const Event& event = project.events[r.eventIdx];
        if (event.locked) return false;
        return !rangeOn || EventInRange(event, t0, t1);
    };
    std::erase_if(project.results, removable);
    PublishCount(project);
}

std::vector<UsedSound> CollectUsedSounds(const Project& project) {
    std::vector<UsedSound> used;
    used.reserve(project.results.size());
    for (const RenderResult& r : project.results) {
        if (r.filepath.empty() || r.muted) continue;
        used.push_back({r.filepath, r.sourceOffset, r.sourceDuration, r.startTime});
    }
    return used;
}

// How much of each band the other events already fill over this event's
// span; a hero event ignores them, every other event also leaves room for
// the heroes it overlaps.
void ComputeBandMask(const Project& project, int i, float eventStart, float eventEnd,
                     float mask[5]) {
    std::fill(mask, mask + 5, 0.0f);
    if (project.events[i].hero) return;
    const float span = std::max(0.01f, eventEnd - eventStart);
    for (const RenderResult& r : project.results) {
        if (r.eventIdx == i || r.muted) continue;
        AddLayerToBandMask(mask, r.startTime, r.duration, r.layerGain, r.userVolume, r.weight, eventStart,
                           eventEnd, span);
    }
    AddHeroesToBandMask(project, i, eventStart, eventEnd, mask, nullptr);
}

}  // namespace

void AddHeroesToBandMask(const Project& project, int i, float eventStart, float eventEnd, float mask[5],
                         const std::vector<int>* heroes) {
    const Event& event = project.events[i];
    const float ownDuration = std::max(0.01f, event.duration);
    float bw[5];
    auto add = [&](size_t j) {
        const Event& other = project.events[j];
        if (static_cast<int>(j) == i || !other.hero || !EventRenderable(other)) return;
        float js = other.time - other.syncOffset;
        float overlap = std::min(js + other.duration, eventEnd) - std::max(js, eventStart);
        if (!(overlap > 0.0f)) return;
        BandWeights5(other.weightCenter, bw);
        for (int b = 0; b < 5; ++b) mask[b] += bw[b] * 1.5f * overlap / ownDuration;
    };
    if (heroes) {
        for (int j : *heroes) add(static_cast<size_t>(j));
    } else {
        for (size_t j = 0; j < project.events.size(); ++j) add(j);
    }
}

void SetUpPools(PassPools& pools, const SoundLibrary& library, const RenderPassOptions& options,
                bool checkContents) {
    if (options.referenceScoring) {
        for (int g = 0; g < 3; ++g) pools.plain[g] = FindCandidateSounds(library, g, nullptr);
        pools.plain[3] = FindCandidateSounds(library, -1, nullptr);
        return;
    }
    pools.table = AcquireCandidateTable(library, options.threads, checkContents);
    for (int g = 0; g < 3; ++g) pools.scored[g] = CandidatePoolFor(*pools.table, library, g, nullptr);
    pools.scored[3] = CandidatePoolFor(*pools.table, library, -1, nullptr);
}

namespace {

// The event's library filter picks its own pool (from any group when its
// own group has none); without a filter it draws from its group's pool, or
// from every group's when its group has nothing.
void ChooseEventPool(LayerBuildContext& ctx, const PassState& pass, const SoundLibrary& library,
                     EventPool& own) {
    const Event& event = ctx.event();
    const PassPools& pools = pass.pools;
    if (event.libFilter[0] != '\0') {
        if (pools.table) {
            own.scored = CandidatePoolFor(*pools.table, library, ctx.group, event.libFilter);
            if (own.scored->entries.empty())
                own.scored = CandidatePoolFor(*pools.table, library, -1, event.libFilter);
            ctx.scoringPool = own.scored.get();
            ctx.pool = &own.scored->entries;
        } else {
            own.plain = FindCandidateSounds(library, ctx.group, event.libFilter);
            if (own.plain.empty()) own.plain = FindCandidateSounds(library, -1, event.libFilter);
            ctx.pool = &own.plain;
        }
        return;
    }
    const int g = std::clamp(ctx.group, 0, 2);
    const int use = pools.Entries(g).empty() ? 3 : g;
    ctx.pool = &pools.Entries(use);
    if (pools.table) ctx.scoringPool = pools.scored[use].get();
}

}  // namespace

void RenderOneEvent(Project& project, const SoundLibrary& library, int i, PassState& pass,
                    const float* bandMask, std::vector<RenderResult>* out) {
    Event& event = project.events[i];
    LayerBuildContext ctx;
    ctx.project = &project;
    ctx.out = out;
    ctx.library = &library;
    ctx.eventIndex = i;
    ctx.eventStart = event.time - event.syncOffset;
    ctx.eventEnd = ctx.eventStart + event.duration;
    ctx.terms = ParseSearchQuery(event.keywords);
    ctx.group = EventMixGroup(event);
    ctx.fillCap = event.shape == kShapeFill && event.fillLayers > 0 ? std::min(event.fillLayers, 24) : 8;
    ctx.randomState = &pass.random;
    ctx.seeds = pass.seeds;
    ctx.options = pass.options;
    ctx.passUsed = &pass.used;
    ctx.passUsedIndex = &pass.usedIndex;
    constexpr size_t kMaxTermCaches = 16;
    std::string query(event.keywords, strnlen(event.keywords, sizeof(event.keywords)));
    if (pass.termCaches.size() >= kMaxTermCaches && !pass.termCaches.count(query)) {
        pass.termCaches.clear();
    }
    TermHitCache& termCache = pass.termCaches[query];
    std::swap(ctx.termCache, termCache);

    EventPool eventPool;
    ChooseEventPool(ctx, pass, library, eventPool);
    if (ctx.scoringPool) {
        ctx.scoringTable = pass.pools.table.get();
        ctx.scoringScratch = &pass.scratch;
    }

    // An event saved with the older single pin gets it as its first pinned
    // file. Only the path moves over: the layer plays the file at that path,
    // and the id list stays as it was, so the saved event gains no id.
    if (event.pinnedFiles.empty() && event.hasPinnedFiles && event.pinnedFile[0] != '\0' &&
        event.shape != kShapeClip) {
        event.pinnedFiles.push_back(event.pinnedFile);
    }

    if (bandMask) {
        std::copy(bandMask, bandMask + 5, ctx.bandMask);
    } else {
        ComputeBandMask(project, i, ctx.eventStart, ctx.eventEnd, ctx.bandMask);
    }
    if (pass.options && pass.options->bandMaskSeen) pass.options->bandMaskSeen(i, ctx.bandMask);
    float peak = 0.0f;
    for (float v : event.intensity) peak = std::max(peak, v);
    ctx.maxIntensity = peak * event.intensityScale;
    ctx.layerCount = EventLayerCount(event, ctx.maxIntensity, ctx.fillCap);

    if (!event.pinnedFiles.empty() && ctx.poolEmpty()) pass.pinnedWithoutPool += 1;
    ctx.pinnedCount = BuildPinnedLayers(ctx);
    std::copy(ctx.bandMask, ctx.bandMask + 5, ctx.bandAccum);

    switch (event.shape) {
        case kShapeSpot:
            if (event.alloy) BuildAlloyLayers(ctx);
            else BuildSpotLayers(ctx);
            break;
        case kShapeBloom:
        case kShapeContour:
            if (event.alloy) BuildAlloyLayers(ctx);
            else BuildWashLayers(ctx);
            break;
        case kShapeFill: BuildFillLayers(ctx); break;
        case kShapeScatter: BuildScatterLayers(ctx); break;
        default: BuildThresholdLayers(ctx); break;
    }
    std::swap(ctx.termCache, termCache);
}

void RenderEventsWithOptions(Project& project, const SoundLibrary& library, int eventIndex,
                             float t0, float t1, bool keepResults, bool keepCaches,
                             const RenderSeeds& seeds, const RenderPassOptions& options) {
    PassState pass;
    pass.random = seeds.passSeed;
    pass.seeds = &seeds;
    pass.options = &options;
    if (!keepCaches) {
        ClearAmplitudeEnvelopeCache();
        ClearLevelCurveCache();
    }
    // A pass that starts afresh (and clears the file caches) also makes sure
    // the table was built from the entries as they are now.
    SetUpPools(pass.pools, library, options, !keepCaches);

    const bool rangeOn = t0 >= 0.0f && t1 > t0;
    if (!keepResults) RemoveRenderedResults(project, eventIndex, rangeOn, t0, t1);
    pass.used = CollectUsedSounds(project);
    auto cancelled = [&options] {
        return options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed);
    };

    // Clip and Bed rebuilds change results, not tracks: the tracks (and the
    // budget's mutes, which the next event's band mask reads) are assigned
    // once before the next event is rendered, and once at the end, not after
    // every rebuild.
    PackScratch packScratch;
    bool tracksStale = false;
    const int count = static_cast<int>(project.events.size());
    for (int i = 0; i < count && !cancelled(); ++i) {
        const Event& event = project.events[i];
        if (event.shape == kShapeClip) {
            if (RebuildClipResult(project, i)) {
                tracksStale = true;
                project.resultsRevision += 1;
                project.rendered = true;
            }
            PublishCount(project);
            continue;
        }
        if (event.shape == kShapeBed) {
            if (RebuildBedResults(project, i)) tracksStale = true;
            PublishCount(project);
            continue;
        }
        bool wanted = eventIndex >= 0
                          ? i == eventIndex
                          : !event.locked && (!rangeOn || EventInRange(event, t0, t1));
        if (!wanted || !EventRenderable(event)) continue;
        if (tracksStale) {
            AssignTracks(project, packScratch);
            tracksStale = false;
        }
        const size_t before = project.results.size();
        RenderOneEvent(project, library, i, pass);
        // An event cut short by the cancel keeps nothing half made: it ends
        // like the events the pass did not get to.
        if (cancelled()) project.results.erase(project.results.begin() + static_cast<std::ptrdiff_t>(before), project.results.end());
        PublishCount(project);
    }
    if (tracksStale) AssignTracks(project, packScratch);
    if (cancelled()) std::printf("[Render] Render cancelled\n");
    if (pass.pinnedWithoutPool > 0) {
        std::printf("[Render] No library sounds to render from: pinned files of %d event(s) got no layers\n",
                    pass.pinnedWithoutPool);
    }
    FinishRenderPass(project);
}

void RenderEventsWithSeeds(Project& project, const SoundLibrary& library, int eventIndex,
                           float t0, float t1, bool keepResults, bool keepCaches,
                           const RenderSeeds& seeds) {
    RenderEventsWithOptions(project, library, eventIndex, t0, t1, keepResults, keepCaches, seeds,
                            RenderPassOptions());
}

void RenderEvents(Project& project, const SoundLibrary& library, int eventIndex, float t0,
                  float t1, bool keepResults, bool keepCaches) {
    RenderSeeds seeds = ClockRenderSeeds();
    RenderEventsWithSeeds(project, library, eventIndex, t0, t1, keepResults, keepCaches, seeds);
}
