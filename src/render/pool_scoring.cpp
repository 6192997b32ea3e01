// pool_scoring.cpp — ScoreCandidates over a prepared pool, chunk by chunk on
// the render engine's threads.
//
// Index
//   ChunkOutcome / PoolScoring   what one chunk keeps; what every chunk reads
//   RaiseBar                     the shared score below which nothing counts
//   ScoreChunk                   one chunk, nearest brightness first, until nothing left can count
//   ScorePoolCandidates          chunks in parallel, outcomes merged in chunk order
//
// The list ScoreCandidates returns is fixed by two rules that do not depend on
// the order in which candidates are looked at: the kept candidates are the
// best maxCount by (score descending, candidate order), and the fallback is
// the candidate with the best score that comes first. So each chunk keeps its
// own best maxCount and its own first best, in whatever order it visits its
// candidates, and the merge applies the same two rules to the chunks'
// outcomes: the list is the reference's for any number of threads.
//
// Skipping: once some chunk holds maxCount candidates, its weakest kept score
// is a bar that maxCount candidates reach, so a candidate scoring below it is
// neither kept nor the best. A chunk visits its candidates nearest brightness
// first; a candidate whose ScoreCeiling is below the bar is not scored, and
// when the ceiling of the chunk's remaining candidates (they all lie further
// off) is below it, the chunk stops. The bar only grows; which candidates are
// skipped depends on timing, what is kept never does.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "render/candidate_table.h"
#include "render/render_worker_pool.h"
#include "render/score_terms.h"

namespace {

struct ChunkOutcome {
    float best = -1.0f;
    int64_t bestSlot = -1;
    std::vector<Ranked> top;  // heap of at most maxCount, the weakest on top
    size_t hits = 0;
    size_t misses = 0;
};

struct PoolScoring {
    const CandidatePool* pool;
    const BannedFiles* banned;
    const std::vector<SearchTerm>* terms;
    TermHitCache* cache;
    const LayerScoring* layer;
    size_t maxCount;
    std::atomic<float>* bar;  // the highest weakest-kept score of a full chunk
};

void RaiseBar(std::atomic<float>& bar, float score) {
    float seen = bar.load(std::memory_order_relaxed);
    while (score > seen && !bar.compare_exchange_weak(seen, score, std::memory_order_relaxed)) {
    }
}

void ScoreChunk(const PoolScoring& job, const PoolChunk& where, ChunkOutcome& out) {
    const CandidateChunk& chunk = *where.chunk;
    const CandidateFeatures* features = chunk.features;
    const uint16_t* order = chunk.byCentroid;
    const LayerScoring& layer = *job.layer;
    const bool hasTerms = !job.terms->empty();
    const bool anyBanned = job.banned->Any();
    const float target = layer.brightness;
    const float chunkOwn = OwnTermsCeiling(layer, chunk.lengthMax, chunk.characterMax, chunk.spotMax,
                                           chunk.washMax, chunk.scatterMax, chunk.fillMax,
                                           chunk.suitabilityMin, chunk.suitabilityMax);
    const float keywordMax = hasTerms ? 50.0f : 0.0f;
    out.top.reserve(std::min<size_t>(job.maxCount, chunk.count));

    // Two fronts move away from the layer's brightness, the nearer one first.
    const uint16_t* split = std::lower_bound(order, order + chunk.count, target, [features](uint16_t i, float t) {
        return CentroidOrderKey(features[i]) < t;
    });
    ptrdiff_t below = split - order - 1;
    ptrdiff_t above = split - order;
    const ptrdiff_t end = static_cast<ptrdiff_t>(chunk.count);
    const float far = std::numeric_limits<float>::infinity();
    for (uint32_t visits = 0; below >= 0 || above < end; ++visits) {
        const float downward = below >= 0 ? target - CentroidOrderKey(features[order[below]]) : far;
        const float upward = above < end ? CentroidOrderKey(features[order[above]]) - target : far;
        // (A centroid that is not a number sorts last, at an infinite distance.)
        const bool takeBelow = below >= 0 && (above >= end || downward <= upward);
        const float distance = takeBelow ? downward : upward;
        const uint16_t index = takeBelow ? order[below--] : order[above++];

        float bar = job.bar->load(std::memory_order_relaxed);
        if (out.top.size() == job.maxCount) bar = std::max(bar, out.top.front().score);
        const bool barSet = bar > 5.0f;
        // Whether the rest can still count is asked every few candidates:
        // asking later only costs a few more looks.
        if (barSet && visits % 8 == 0 && CeilingForDistance(layer, distance, keywordMax, chunkOwn, true) < bar)
            break;

        const size_t slot = where.firstSlot + index;
        const CandidateFeatures& f = features[index];
        const float kw = hasTerms ? CachedKeywordScore(job.cache, slot, *job.pool->entries[slot], *job.terms,
                                                       out.hits, out.misses)
                                  : 0.0f;
        if (barSet && kw >= 0.0f && ScoreCeiling(f, layer, kw) < bar) continue;
        const float s = kw >= 0.0f ? ScoreWithKeyword(f, layer, kw) : 0.0f;

        const Ranked r{s, static_cast<uint32_t>(slot)};
        const bool full = out.top.size() == job.maxCount;
        const bool beatsBest = s > out.best || (s == out.best && static_cast<int64_t>(slot) < out.bestSlot);
        const bool entersTop = s > 5.0f && (!full || RanksBefore(r, out.top.front()));
        if (!beatsBest && !entersTop) continue;
        if (anyBanned && job.banned->Contains(*job.pool->entries[slot])) continue;
        if (beatsBest) {
            out.best = s;
            out.bestSlot = static_cast<int64_t>(slot);
        }
        if (entersTop) {
            if (full) {
                std::pop_heap(out.top.begin(), out.top.end(), RanksBefore);
                out.top.back() = r;
            } else {
                out.top.push_back(r);
            }
            std::push_heap(out.top.begin(), out.top.end(), RanksBefore);
            if (out.top.size() == job.maxCount) RaiseBar(*job.bar, out.top.front().score);
        }
    }
}

}  // namespace

std::vector<RenderCandidate> ScorePoolCandidates(const Project& project, const CandidatePool& pool,
                                                 float weight, float duration, int shape,
                                                 const std::vector<SearchTerm>& terms, int maxCount,
                                                 float intensity, const float* occupiedBands,
                                                 float refSuitability, int chosenCount,
                                                 TermHitCache* cache, int threads) {
    const size_t count = pool.entries.size();
    if (maxCount <= 0 || count == 0) return {};
    const BannedFiles banned(project);
    const LayerScoring layer = PrepareLayerScoring(weight, duration, shape, !terms.empty(), intensity,
                                                   occupiedBands, refSuitability, chosenCount);
    if (cache && !terms.empty()) PrepareTermCache(*cache, terms, count);
    std::atomic<float> bar{0.0f};
    const PoolScoring job{&pool, &banned, &terms, cache, &layer, static_cast<size_t>(maxCount), &bar};

    std::vector<ChunkOutcome> outcomes(pool.chunks.size());
    RunRenderChunks(static_cast<int>(pool.chunks.size()), threads, [&](int c) {
        ScoreChunk(job, pool.chunks[static_cast<size_t>(c)], outcomes[static_cast<size_t>(c)]);
    });

    // In chunk order, so the first of equal best scores stays the first.
    float best = -1.0f;
    int64_t bestSlot = -1;
    std::vector<Ranked> kept;
    for (ChunkOutcome& o : outcomes) {
        if (o.best > best) {
            best = o.best;
            bestSlot = o.bestSlot;
        }
        kept.insert(kept.end(), o.top.begin(), o.top.end());
        if (cache) {
            cache->hits += o.hits;
            cache->misses += o.misses;
        }
    }
    if (kept.empty() && bestSlot >= 0) kept.push_back({std::max(best, 0.01f), static_cast<uint32_t>(bestSlot)});
    return TopOfList(kept, static_cast<size_t>(maxCount), pool.entries);
}
