// pool_scoring.cpp — ScoreCandidates over a pool of the candidate table,
// looking only at the blocks of sounds that can still make the list.
//
// Index
//   Job / LaneBar       what every lane of one scoring reads; the bar a lane skips by
//   Offer               one sound into a lane's list
//   TileOwnTerms / ScoreBlock   the own terms of a block's sounds; one block's sounds
//   Bounds              BlockDistance / OwnCeiling / BlockCeiling
//   Fronts              the walk outwards from the layer's brightness
//   UseKeywords / BannedOf   what a pass's scorings share
//   ScorePoolCandidates walk nearest blocks first; a long walk shares its last blocks out
//
// The list ScoreCandidates returns is fixed by two rules that do not depend on
// the order in which sounds are looked at: the kept sounds are the best
// maxCount by (score descending, candidate order), and the fallback is the
// sound with the best score that comes first (it only counts when nothing
// scores above 5). Each lane keeps its own best maxCount and its own first
// best, and the merge applies the same two rules to the lanes' lists.
//
// Skipping: once a lane holds maxCount sounds, its weakest kept score is a
// bar that maxCount sounds reach, so a sound whose score lies below it is
// neither kept nor needed as the fallback. A block is skipped when its
// ceiling (CeilingFor over the block's nearest centroid, its band-share box,
// its largest keyword part and own terms) lies below the bar; each sound of
// a block that is looked at is skipped when its own ceiling does; and the
// walk ends when even a sound at the distance of the nearest block left,
// with the pool's largest terms and a perfect spectral fit, could not reach
// it. The bar only grows; which sounds are skipped depends on timing, what is
// kept never does.
#include "render/pool_scoring.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "document/project.h"
#include "render/candidate_table.h"
#include "render/render_worker_pool.h"

namespace {

// A scoring shares its remaining blocks out to the lanes once its own thread
// has looked at this many sounds; sooner, waking the others would cost more
// than it saves.
constexpr size_t kLaneSounds = 16 * 1024;

struct Job {
    const CandidateTable* table;
    const CandidatePool* pool;
    const BannedFiles* banned;
    const LayerScoring* layer;
    const float* keywords;       // per table feature; null without terms
    const float* keywordBlocks;  // per table block
    size_t maxCount;
    std::atomic<float>* bar;     // the highest weakest-kept score of a full lane
};

void RaiseBar(std::atomic<float>& bar, float score) {
    float seen = bar.load(std::memory_order_relaxed);
    while (score > seen && !bar.compare_exchange_weak(seen, score, std::memory_order_relaxed)) {
    }
}

// The lane's bar: the shared one, or its own weakest kept score when higher.
float LaneBar(const Job& job, const PoolScoringScratch::Lane& lane) {
    float bar = job.bar->load(std::memory_order_relaxed);
    if (lane.top.size() == job.maxCount) bar = std::max(bar, lane.top.front().score);
    return bar;
}

// A bar that a kept list reaches: only then may anything be skipped.
bool BarSet(float bar) { return bar > 5.0f; }

// ---- Offer / ScoreBlock ----------------------------------------------------------

// True when the sound entered the lane's list.
bool Offer(const Job& job, PoolScoringScratch::Lane& lane, float s, uint32_t slot) {
    const Ranked r{s, slot};
    const bool full = lane.top.size() == job.maxCount;
    const bool beatsBest = s > lane.best || (s == lane.best && static_cast<int64_t>(slot) < lane.bestSlot);
    const bool entersTop = s > 5.0f && (!full || RanksBefore(r, lane.top.front()));
    if (!beatsBest && !entersTop) return false;
    if (job.banned->Any() && job.banned->Contains(*job.pool->entries[slot])) return false;
    if (beatsBest) {
        lane.best = s;
        lane.bestSlot = static_cast<int64_t>(slot);
    }
    if (!entersTop) return false;
    if (full) {
        std::pop_heap(lane.top.begin(), lane.top.end(), RanksBefore);
        lane.top.back() = r;
    } else {
        lane.top.push_back(r);
    }
    std::push_heap(lane.top.begin(), lane.top.end(), RanksBefore);
    if (lane.top.size() == job.maxCount) RaiseBar(*job.bar, lane.top.front().score);
    return true;
}

}  // namespace

void TileOwnTerms(const CandidateTile& tile, const LayerScoring& L, float* __restrict own) {
    constexpr uint32_t n = kCandidateBlockEntries;
    const float in = L.in;
    for (uint32_t k = 0; k < n; ++k)
        own[k] = (tile.length[k] >= L.D ? 15.0f : 7.5f) + 10.0f * (tile.soft[k] * (1.0f - in) + tile.hard[k] * in);
    switch (L.shape) {
        case kShapeSpot:
            for (uint32_t k = 0; k < n; ++k) own[k] += 10.0f + tile.spotAttack[k];
            break;
        case kShapeBloom:
        case kShapeContour:
            for (uint32_t k = 0; k < n; ++k) own[k] += tile.washTerm[k];
            break;
        case kShapeFill:
            for (uint32_t k = 0; k < n; ++k) own[k] += 5.0f + tile.fillTerms[k];
            break;
        case kShapeScatter:
            for (uint32_t k = 0; k < n; ++k) own[k] += tile.scatterTerm[k];
            break;
        default:
            for (uint32_t k = 0; k < n; ++k) own[k] += 7.5f;
            break;
    }
    if (L.contrast) {
        // 12 ScoreClamp01(2 g) for g >= 0, in a form the compiler can run on
        // several sounds at once (a suitability is never NaN).
        const float ref = L.refSuitability;
        for (uint32_t k = 0; k < n; ++k) {
            const float g = 2.0f * std::fabs(tile.suitability[k] - ref);
            own[k] += g < 1.0f ? 12.0f * g : 12.0f;
        }
    }
}

namespace {

// The sounds of one block, `distance` being no more than any of theirs.
void ScoreBlock(const Job& job, PoolScoringScratch::Lane& lane, size_t block, const PoolPart& part, float distance) {
    const CandidateTable& table = *job.table;
    const LibraryFeatures& lib = table.libraries[part.library];
    const size_t at = lib.first + (block - lib.firstBlock) * kCandidateBlockEntries;
    const size_t count = std::min<size_t>(kCandidateBlockEntries, lib.first + lib.count - at);
    const CandidateFeatures* features = table.features.data() + at;
    const uint32_t* entryIndex = table.entryIndex.data() + at;
    const float* keywords = job.keywords ? job.keywords + at : nullptr;
    const LayerScoring& layer = *job.layer;
    const CandidateBlock& bounds = table.blocks[block];
    lane.stats.blocksScored += 1;

    // A sound is scored only when its keyword part and own terms reach what
    // the block's distance and spectral bound leave for them.
    float own[kCandidateBlockEntries];
    TileOwnTerms(table.tiles[block], layer, own);
    const CeilingParts ceiling = PrepareCeiling(layer, distance, SpecCeiling(layer, bounds.shareLow, bounds.shareHigh));
    float bar = LaneBar(job, lane);
    float needHit = NeededTerms(ceiling, bar, true);
    float needMiss = NeededTerms(ceiling, bar, false);
    for (size_t k = 0; k < count; ++k) {
        const float kw = keywords ? keywords[k] : 0.0f;
        float s = 0.0f;  // what a sound the query rejects scores
        if (kw >= 0.0f) {
            if (BarSet(bar) && kw + own[k] < (kw >= 0.01f ? needHit : needMiss)) continue;
            s = ScoreWithKeyword(features[k], layer, kw);
            lane.stats.sounds += 1;
        } else if (BarSet(bar)) {
            continue;
        }
        if (Offer(job, lane, s, static_cast<uint32_t>(part.firstSlot + entryIndex[k]))) {
            bar = LaneBar(job, lane);
            needHit = NeededTerms(ceiling, bar, true);
            needMiss = NeededTerms(ceiling, bar, false);
        }
    }
}

// ---- Bounds ----------------------------------------------------------------------

float BlockDistance(const CandidateBlock& b, float target, bool upwards) {
    return upwards ? std::max(0.0f, b.centroidLow - target) : target - b.centroidHigh;
}

float OwnCeiling(const LayerScoring& L, const CandidateBlock& b) {
    return OwnTermsCeiling(L, b.lengthMax, b.softMax, b.hardMax, b.spotMax, b.washMax, b.scatterMax, b.fillMax,
                           b.suitabilityMin, b.suitabilityMax);
}

float JobBlockCeiling(const Job& job, size_t block, float distance) {
    const float kw = job.keywords ? job.keywordBlocks[block] : 0.0f;
    return BlockCeiling(*job.layer, job.table->blocks[block], distance, kw);
}

// ---- Fronts ----------------------------------------------------------------------

using Front = PoolScoringScratch::Front;

// Two fronts per library of the pool, starting at the block that holds (or
// follows) the layer's brightness.
void StartFronts(const CandidateTable& table, const CandidatePool& pool, float target,
                 std::vector<Front>& fronts) {
    fronts.clear();
    for (uint32_t p = 0; p < pool.parts.size(); ++p) {
        const LibraryFeatures& lib = table.libraries[pool.parts[p].library];
        if (lib.blockCount == 0) continue;
        const CandidateBlock* first = table.blocks.data() + lib.firstBlock;
        const CandidateBlock* last = first + lib.blockCount;
        const CandidateBlock* split = std::partition_point(
            first, last, [target](const CandidateBlock& b) { return b.centroidHigh < target; });
        const size_t s = lib.firstBlock + static_cast<size_t>(split - first);
        fronts.push_back({s, lib.firstBlock + lib.blockCount, p, true});
        fronts.push_back({s, lib.firstBlock, p, false});
    }
}

bool FrontDone(const Front& f) { return f.upwards ? f.block >= f.end : f.block <= f.end; }
size_t FrontBlock(const Front& f) { return f.upwards ? f.block : f.block - 1; }

// The front whose next block lies nearest (null when every block was taken),
// and that distance.
Front* NearestFront(const CandidateTable& table, std::vector<Front>& fronts, float target, float& distance) {
    Front* nearest = nullptr;
    for (Front& f : fronts) {
        if (FrontDone(f)) continue;
        const float d = BlockDistance(table.blocks[FrontBlock(f)], target, f.upwards);
        // A distance that is not a number (a layer weight that is not one)
        // still takes its turn, so that the walk ends.
        if (nearest == nullptr || d < distance) {
            nearest = &f;
            distance = d;
        }
    }
    return nearest;
}

size_t TakeBlock(Front& f) { return f.upwards ? f.block++ : --f.block; }

// ---- Keyword table ---------------------------------------------------------------

bool SameTerms(const std::vector<SearchTerm>& a, const std::vector<SearchTerm>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].mode != b[i].mode || a[i].text != b[i].text) return false;
    return true;
}

void UseKeywords(PoolScoringScratch& scratch, const CandidateTable& table, const CandidatePool& pool,
                 const std::vector<SearchTerm>& terms, int threads) {
    if (scratch.keywords && scratch.keywordPool == &pool && scratch.keywordSource == &table &&
        SameTerms(scratch.terms, terms))
        return;
    scratch.keywords = KeywordTableFor(table, pool, terms, threads);
    scratch.terms = terms;
    scratch.keywordPool = &pool;
    scratch.keywordSource = &table;
    float most = kRejectedByTerms;
    for (const PoolPart& part : pool.parts) {
        const LibraryFeatures& lib = table.libraries[part.library];
        for (uint32_t b = 0; b < lib.blockCount; ++b) most = std::max(most, scratch.keywords->blockMax[lib.firstBlock + b]);
    }
    scratch.keywordMax = most;
    scratch.anyKeyword = most >= 0.01f;
}

// The project's banned files, set up once for the scorings of a pass (a long
// list is looked up through a set, which would cost an allocation per layer).
const BannedFiles& BannedOf(PoolScoringScratch& scratch, const Project& project) {
    if (!scratch.banned || scratch.bannedOf != &project || scratch.bannedPaths != project.bannedFiles.size() ||
        scratch.bannedIds != project.bannedFileIds.size()) {
        scratch.banned = std::make_unique<BannedFiles>(project);
        scratch.bannedOf = &project;
        scratch.bannedPaths = project.bannedFiles.size();
        scratch.bannedIds = project.bannedFileIds.size();
    }
    return *scratch.banned;
}

}  // namespace

float BlockCeiling(const LayerScoring& L, const CandidateBlock& b, float distance, float keywordMax) {
    if (L.hasTerms && keywordMax < 0.0f) return 0.0f;
    const float kw = L.hasTerms ? keywordMax : 0.0f;
    return CeilingFor(L, distance, SpecCeiling(L, b.shareLow, b.shareHigh), kw, OwnCeiling(L, b), kw >= 0.01f);
}

// ---- ScorePoolCandidates -----------------------------------------------------------

void ScorePoolCandidates(const Project& project, const CandidateTable& table, const CandidatePool& pool,
                         float weight, float duration, int shape, const std::vector<SearchTerm>& terms,
                         int maxCount, float intensity, const float* occupiedBands, float refSuitability,
                         int chosenCount, PoolScoringScratch& scratch, int threads,
                         std::vector<RenderCandidate>& out) {
    out.clear();
    scratch.last = PoolScoringStats();
    scratch.last.scorings = 1;
    if (maxCount <= 0 || pool.entries.empty()) return;
    const BannedFiles& banned = BannedOf(scratch, project);
    const LayerScoring layer = PrepareLayerScoring(weight, duration, shape, !terms.empty(), intensity,
                                                   occupiedBands, refSuitability, chosenCount);
    if (!layer.usable) {
        // Every score is 0: the list is the first sound that is not banned.
        for (const LibraryEntry* e : pool.entries) {
            if (banned.Contains(*e)) continue;
            out.push_back({e, 0.01f});
            break;
        }
        return;
    }
    if (!terms.empty()) UseKeywords(scratch, table, pool, terms, threads);

    std::atomic<float> bar{0.0f};
    Job job{&table, &pool, &banned, &layer, nullptr, nullptr, static_cast<size_t>(maxCount), &bar};
    if (!terms.empty()) {
        job.keywords = scratch.keywords->keyword.data();
        job.keywordBlocks = scratch.keywords->blockMax.data();
    }
    // Only the first lane is set up here: the others only when the walk is
    // shared out, so that a scoring that stays on this thread (nearly all of
    // them) does the same work whatever the thread count.
    const int laneCount = RenderThreadCount(threads);
    auto resetLane = [](PoolScoringScratch::Lane& lane) {
        lane.top.clear();
        lane.best = -1.0f;
        lane.bestSlot = -1;
        lane.stats = PoolScoringStats();
    };
    if (scratch.lanes.size() < static_cast<size_t>(laneCount)) scratch.lanes.resize(static_cast<size_t>(laneCount));
    resetLane(scratch.lanes[0]);
    int lanesUsed = 1;
    PoolScoringScratch::Lane& first = scratch.lanes[0];

    // A sound at a given distance with the pool's largest terms and a
    // perfect spectral fit: when that cannot reach the bar, nothing further can.
    const float keywordMax = terms.empty() ? 0.0f : scratch.keywordMax;
    const bool anyKeyword = terms.empty() || scratch.anyKeyword;
    const float poolOwn = OwnCeiling(layer, pool.bounds);
    auto distanceCeiling = [&](float distance) {
        return CeilingFor(layer, distance, 1.0f, keywordMax, poolOwn, anyKeyword);
    };

    // Walk on this thread, nearest blocks first. Most scorings end after a
    // few hundred sounds, too soon for other threads to help; one that has
    // looked at many and goes on (a long list, a weak bar) gathers the blocks
    // that can still count, for the lanes to share.
    const float target = layer.brightness;
    StartFronts(table, pool, target, scratch.fronts);
    std::vector<PoolScoringScratch::Work>& work = scratch.work;
    work.clear();
    bool collecting = false;
    for (;;) {
        float distance = 0.0f;
        Front* front = NearestFront(table, scratch.fronts, target, distance);
        if (front == nullptr) break;
        const float barNow = LaneBar(job, first);
        if (BarSet(barNow) && distanceCeiling(distance) < barNow) break;
        const size_t block = TakeBlock(*front);
        first.stats.blocksWalked += 1;
        const float ceiling = JobBlockCeiling(job, block, distance);
        if (BarSet(barNow) && ceiling < barNow) continue;
        const PoolPart& part = pool.parts[front->part];
        if (collecting) {
            work.push_back({block, front->part, ceiling, distance});
            continue;
        }
        ScoreBlock(job, first, block, part, distance);
        collecting = laneCount > 1 && first.stats.blocksScored * kCandidateBlockEntries >= kLaneSounds;
    }

    if (!work.empty()) {
        for (int l = 1; l < laneCount; ++l) resetLane(scratch.lanes[static_cast<size_t>(l)]);
        lanesUsed = laneCount;
        // The most promising blocks first, so that the bar rises early.
        std::sort(work.begin(), work.end(), [](const PoolScoringScratch::Work& a, const PoolScoringScratch::Work& b) {
            return a.ceiling > b.ceiling || (a.ceiling == b.ceiling && a.block < b.block);
        });
        const int lanes = laneCount;
        std::atomic<size_t> next{0};
        auto runLane = [&](int l) {
            PoolScoringScratch::Lane& lane = scratch.lanes[static_cast<size_t>(l)];
            for (size_t w = next.fetch_add(1, std::memory_order_relaxed); w < work.size();
                 w = next.fetch_add(1, std::memory_order_relaxed)) {
                const PoolScoringScratch::Work& item = work[w];
                const float laneBar = LaneBar(job, lane);
                if (BarSet(laneBar) && item.ceiling < laneBar) continue;
                ScoreBlock(job, lane, item.block, pool.parts[item.part], item.distance);
            }
        };
        if (lanes > 1) RunRenderChunks(lanes, lanes, runLane);
        else runLane(0);
        scratch.last.shared = lanes > 1 ? 1 : 0;
    }

    // Merge: the first of equal best scores stays the first (by slot).
    float best = -1.0f;
    int64_t bestSlot = -1;
    std::vector<Ranked>& kept = scratch.kept;
    kept.clear();
    for (int l = 0; l < lanesUsed; ++l) {
        const PoolScoringScratch::Lane& lane = scratch.lanes[static_cast<size_t>(l)];
        if (lane.bestSlot >= 0 && (lane.best > best || (lane.best == best && lane.bestSlot < bestSlot))) {
            best = lane.best;
            bestSlot = lane.bestSlot;
        }
        kept.insert(kept.end(), lane.top.begin(), lane.top.end());
        scratch.last.blocksWalked += lane.stats.blocksWalked;
        scratch.last.blocksScored += lane.stats.blocksScored;
        scratch.last.sounds += lane.stats.sounds;
    }
    if (kept.empty() && bestSlot >= 0) kept.push_back({std::max(best, 0.01f), static_cast<uint32_t>(bestSlot)});
    TopOfList(kept, job.maxCount, pool.entries, out);
}
