// layer_choice.cpp — choosing a sound for one layer: the search ladder,
// the weighted pick and the bookkeeping that every layer builder shares.
//
// Index
//   EventSyncPosition / CapFadePair / UsedRegionsOfFile / PlayableSourceLength
//   NewLayer / TakeEntryIdentity / MakeSketchLayer / MakeNoMatchLayer
//   RefSuitability / AccumulatedBands
//   RenderCancelled / ScoreLayerCandidates
//   ApplyRepetitionFactors / DropNonPositive / SortCandidates
//   RunCandidateLadder
//   PickCandidate
//   RecordUsedRegion / RecordChosenSound
//   AppendLayer
#include "render/layer_choice.h"

#include <algorithm>
#include <cmath>

#include "render/candidate_table.h"
#include "render/pool_scoring.h"
#include "render/render_curves.h"

float EventSyncPosition(const Event& event) {
    float p = event.duration != 0.0f ? event.syncOffset / event.duration : 0.5f;
    if (!(p == p)) p = 0.5f;
    return std::clamp(p, 0.0f, 1.0f);
}

void CapFadePair(float& fadeIn, float& fadeOut, float limit) {
    float sum = fadeIn + fadeOut;
    if (sum > limit && sum > 0.0f) {
        float f = std::max(limit, 0.0f) / sum;
        fadeIn *= f;
        fadeOut *= f;
    }
}

std::vector<UsedSound> UsedRegionsOfFile(const LayerBuildContext& ctx, const std::string& path) {
    std::vector<UsedSound> uses;
    for (const UsedSound& u : ctx.eventUsed) {
        if (u.path == path) uses.push_back(u);
    }
    if (ctx.passUsed && ctx.passUsedIndex) {
        CatchUpUsedSoundIndex(*ctx.passUsedIndex, *ctx.passUsed);
        auto found = ctx.passUsedIndex->byPath.find(path);
        if (found != ctx.passUsedIndex->byPath.end()) {
            for (uint32_t i : found->second) uses.push_back((*ctx.passUsed)[i]);
        }
    } else if (ctx.passUsed) {
        for (const UsedSound& u : *ctx.passUsed) {
            if (u.path == path) uses.push_back(u);
        }
    }
    return uses;
}

float PlayableSourceLength(const RenderResult& result) {
    float playable = result.sourceDuration;
    if (std::fabs(result.pitchVarShift) > 0.01f) playable /= std::pow(2.0f, result.pitchVarShift / 12.0f);
    return playable;
}

RenderResult NewLayer(const LayerBuildContext& ctx, float weight, int track, int procMode) {
    const Event& event = ctx.event();
    RenderResult result;
    result.startTime = ctx.eventStart;
    result.duration = event.duration;
    result.weight = weight;
    result.eventIdx = ctx.eventIndex;
    result.track = track;
    result.procMode = procMode;
    return result;
}

void TakeEntryIdentity(RenderResult& result, const LibraryEntry& entry) {
    result.name = entry.name;
    result.filepath = entry.path;
    result.fileId = entry.fileId;
}

void MakeSketchLayer(RenderResult& result, const char* sketchName) {
    result.name = sketchName;
    result.filepath.clear();
    result.fileId.clear();
    result.placeholder = true;
}

void MakeNoMatchLayer(RenderResult& result) { MakeSketchLayer(result, kNoMatchName); }

float RefSuitability(const LayerBuildContext& ctx) {
    if (ctx.realLayers < 1) return -1.0f;
    return ctx.suitabilitySum / static_cast<float>(ctx.realLayers);
}

const float* AccumulatedBands(const LayerBuildContext& ctx) {
    for (float v : ctx.bandAccum) {
        if (v > 0.01f) return ctx.bandAccum;
    }
    return nullptr;
}

bool RenderCancelled(const LayerBuildContext& ctx) {
    return ctx.options && ctx.options->cancel && ctx.options->cancel->load(std::memory_order_relaxed);
}

std::vector<RenderCandidate>& ScoreLayerCandidates(LayerBuildContext& ctx, float weight, float duration,
                                                   int shape, const std::vector<SearchTerm>& terms,
                                                   int maxCount, float intensity, const float* bands,
                                                   float refSuitability, int chosenCount) {
    std::vector<RenderCandidate>& list = ctx.candidates;
    list.clear();
    if (RenderCancelled(ctx) || ctx.poolEmpty()) return list;
    if (ctx.scoringPool && ctx.scoringTable && ctx.scoringScratch) {
        const int threads = ctx.options ? ctx.options->threads : 0;
        ScorePoolCandidates(*ctx.project, *ctx.scoringTable, *ctx.scoringPool, weight, duration, shape, terms,
                            maxCount, intensity, bands, refSuitability, chosenCount, *ctx.scoringScratch, threads,
                            list);
        if (ctx.options && ctx.options->scoringStats) ctx.options->scoringStats->Add(ctx.scoringScratch->last);
        return list;
    }
    list = ScoreCandidates(*ctx.project, *ctx.pool, weight, duration, shape, terms, maxCount, intensity, bands,
                           refSuitability, chosenCount, &ctx.termCache);
    return list;
}

void ApplyRepetitionFactors(const LayerBuildContext& ctx, std::vector<RenderCandidate>& list) {
    static const std::vector<UsedSound> kNone;
    const std::vector<UsedSound>& passUsed = ctx.passUsed ? *ctx.passUsed : kNone;
    if (ctx.passUsed && ctx.passUsedIndex) {
        CatchUpUsedSoundIndex(*ctx.passUsedIndex, passUsed);
        for (RenderCandidate& c : list) {
            c.score *= RepetitionFactorIndexed(c.entry->path, ctx.eventUsed, passUsed, *ctx.passUsedIndex,
                                               ctx.eventStart);
        }
        return;
    }
    for (RenderCandidate& c : list) {
        c.score *= RepetitionFactor(c.entry->path, ctx.eventUsed, passUsed, ctx.eventStart);
    }
}

void DropNonPositive(std::vector<RenderCandidate>& list) {
    std::erase_if(list, [](const RenderCandidate& c) { return !(c.score > 0.0f); });
}

void SortCandidates(std::vector<RenderCandidate>& list) {
    // An insertion sort: stable like std::stable_sort, without its buffer,
    // and the lists are a few dozen long at most.
    for (size_t i = 1; i < list.size(); ++i) {
        const RenderCandidate c = list[i];
        size_t j = i;
        for (; j > 0 && c.score > list[j - 1].score; --j) list[j] = list[j - 1];
        list[j] = c;
    }
}

void RankCandidates(const LayerBuildContext& ctx, std::vector<RenderCandidate>& list) {
    ApplyRepetitionFactors(ctx, list);
    DropNonPositive(list);
    SortCandidates(list);
}

namespace {

// One scoring of the ladder with the event's pool, shape and duration.
std::vector<RenderCandidate>& ScoreTry(LayerBuildContext& ctx, float weight, const std::vector<SearchTerm>& terms,
                                       int size, float intensity, const float* bands, float refSuitability,
                                       int chosenCount) {
    const Event& event = ctx.event();
    return ScoreLayerCandidates(ctx, weight, event.duration, event.shape, terms, size, intensity, bands,
                                refSuitability, chosenCount);
}

}  // namespace

std::vector<RenderCandidate>& RunCandidateLadder(LayerBuildContext& ctx, float weight, float intensity) {
    std::vector<RenderCandidate>& list = ctx.candidates;
    list.clear();
    if (ctx.poolEmpty()) return list;
    static const std::vector<SearchTerm> kNoTerms;
    const float ref = RefSuitability(ctx);
    const int chosen = ctx.realLayers;
    const float* bands = AccumulatedBands(ctx);

    // Try 0: the layer's own target with the event's keywords.
    ScoreTry(ctx, weight, ctx.terms, 12, intensity, bands, ref, chosen);
    ApplyRepetitionFactors(ctx, list);
    DropNonPositive(list);

    // Try 1: a neighbouring weight, brighter first, then darker.
    if (list.empty()) {
        ScoreTry(ctx, std::clamp(weight + 0.15f, 0.0f, 1.0f), ctx.terms, 16, intensity, bands, ref, chosen);
        ApplyRepetitionFactors(ctx, list);
        DropNonPositive(list);
        if (list.empty()) {
            ScoreTry(ctx, std::clamp(weight - 0.15f, 0.0f, 1.0f), ctx.terms, 16, intensity, bands, ref, chosen);
            ApplyRepetitionFactors(ctx, list);
            DropNonPositive(list);
        }
    }

    // Try 2: any middle-weight sound, keywords and contrast forgotten.
    if (list.empty()) {
        ScoreTry(ctx, 0.5f, kNoTerms, 20, 0.5f, nullptr, -1.0f, 0);
        ApplyRepetitionFactors(ctx, list);
        DropNonPositive(list);
    }

    // Try 3: as try 2 without repetition damping, but a sound this event
    // already plays is only taken again when it is clearly longer than the
    // region it gave before (so another region of it can differ).
    if (list.empty()) {
        ScoreTry(ctx, 0.5f, kNoTerms, 20, 0.5f, nullptr, -1.0f, 0);
        for (RenderCandidate& c : list) {
            for (const UsedSound& used : ctx.eventUsed) {
                if (used.path != c.entry->path) continue;
                if (!(c.entry->duration > 1.5f * used.sourceDuration)) c.score = 0.0f;
                break;
            }
        }
        DropNonPositive(list);
    }

    // Try 4: as try 2 with a longer list.
    if (list.empty()) {
        ScoreTry(ctx, 0.5f, kNoTerms, 30, 0.5f, nullptr, -1.0f, 0);
        DropNonPositive(list);
    }

    // Pinned files already have their own layers.
    const Event& event = ctx.event();
    if (!event.pinnedFiles.empty()) {
        std::erase_if(list, [&event](const RenderCandidate& c) {
            return std::find(event.pinnedFiles.begin(), event.pinnedFiles.end(), c.entry->path) !=
                   event.pinnedFiles.end();
        });
    }
    SortCandidates(list);
    return list;
}

const LibraryEntry* PickCandidate(const std::vector<RenderCandidate>& list, uint32_t& state,
                                  int limit) {
    if (list.empty()) return nullptr;
    size_t m = list.size();
    if (limit > 0) m = std::min(m, static_cast<size_t>(limit));
    double sum = 0.0;
    for (size_t i = 0; i < m; ++i) sum += list[i].score;
    if (m < 2 || !(sum > 0.0)) return list[0].entry;
    double target = static_cast<double>(NextRenderRandom(state)) * sum;
    double running = 0.0;
    for (size_t i = 0; i < m; ++i) {
        running += list[i].score;
        if (running >= target) return list[i].entry;
    }
    return list[0].entry;
}

const LibraryEntry* PickOrAppendNoMatch(LayerBuildContext& ctx, const std::vector<RenderCandidate>& list,
                                        RenderResult& result, bool withCurve) {
    const LibraryEntry* entry = PickCandidate(list, *ctx.randomState);
    if (entry == nullptr) {
        MakeNoMatchLayer(result);
        AppendLayer(ctx, result, withCurve);
        return nullptr;
    }
    TakeEntryIdentity(result, *entry);
    return entry;
}

void RecordUsedRegion(LayerBuildContext& ctx, const std::string& path, float sourceOffset,
                      float sourceDuration) {
    UsedSound used{path, sourceOffset, sourceDuration, ctx.eventStart};
    ctx.eventUsed.push_back(used);
    if (ctx.passUsed) ctx.passUsed->push_back(std::move(used));
}

void RecordChosenSound(LayerBuildContext& ctx, const LibraryEntry& entry, float sourceOffset,
                       float sourceDuration) {
    RecordUsedRegion(ctx, entry.path, sourceOffset, sourceDuration);
    for (int b = 0; b < 5; ++b) ctx.bandAccum[b] += entry.bandEnergy[b];
    ctx.suitabilitySum += SuitabilityScore(entry);
    ctx.realLayers += 1;
}

int AppendLayer(LayerBuildContext& ctx, RenderResult& result, bool withCurve) {
    const Event& event = ctx.event();
    result.stereo = event.stereo;
    if (withCurve) BuildCurveLookup(event, result);
    std::vector<RenderResult>& into = ctx.out ? *ctx.out : ctx.project->results;
    into.push_back(std::move(result));
    return static_cast<int>(into.size()) - 1;
}
