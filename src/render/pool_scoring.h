// pool_scoring.h — ScoreCandidates over a pool of the candidate table: the
// same list, found by looking at the few sounds that can still make it.
//
// Index
//   PoolScoringScratch   what a pass keeps between its scorings (working lists, keyword table)
//   ScorePoolCandidates  score a pool for one layer, on up to `threads` threads
//   PoolScoringStats     how many blocks and sounds scorings looked at (tests, benchmarks)
//   BlockCeiling         the bound a block of sounds is skipped by
//   TileOwnTerms         the own-term ceiling of each sound of a block
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "library/search_query.h"
#include "render/candidates.h"
#include "render/score_terms.h"

struct CandidateBlock;
struct CandidateTile;
struct CandidateTable;
struct CandidatePool;
struct KeywordTable;
struct Project;

struct PoolScoringStats {
    size_t scorings = 0;
    size_t blocksWalked = 0;   // blocks whose bound was asked
    size_t blocksScored = 0;   // blocks whose sounds were looked at
    size_t sounds = 0;         // sounds whose score was worked out
    size_t shared = 0;         // scorings whose last blocks went out to several threads

    void Add(const PoolScoringStats& o) {
        scorings += o.scorings;
        blocksWalked += o.blocksWalked;
        blocksScored += o.blocksScored;
        sounds += o.sounds;
        shared += o.shared;
    }
};

// Reused by every scoring of a pass, so that a scoring allocates nothing
// once the first few have sized the lists. Serves one pass: one candidate
// table, one project whose banned files do not change meanwhile; not for two
// scorings at once.
struct PoolScoringScratch {
    struct Lane {  // one thread's share: its best kept sounds and its first best
        std::vector<Ranked> top;
        float best = -1.0f;
        int64_t bestSlot = -1;
        PoolScoringStats stats;
    };
    struct Front {  // one library's walk away from the layer's brightness, one way
        size_t block = 0;  // upwards: the next block (table index); downwards: one past it
        size_t end = 0;    // upwards: one past the library's last block; downwards: its first
        uint32_t part = 0;
        bool upwards = false;
    };
    struct Work {
        size_t block;
        uint32_t part;
        float ceiling;
        float distance;
    };
    std::vector<Lane> lanes;
    std::vector<Front> fronts;
    std::vector<Work> work;
    std::vector<Ranked> kept;

    // The banned files of the project scored for (a pass neither changes the
    // project's lists nor scores for another project).
    std::unique_ptr<BannedFiles> banned;
    const Project* bannedOf = nullptr;
    size_t bannedPaths = 0, bannedIds = 0;

    // The keyword table of the last query with terms, and of which pool.
    std::vector<SearchTerm> terms;
    const CandidatePool* keywordPool = nullptr;
    const CandidateTable* keywordSource = nullptr;
    std::shared_ptr<const KeywordTable> keywords;
    float keywordMax = 0;  // over the pool: the largest keyword part, and whether any hits
    bool anyKeyword = false;

    PoolScoringStats last;  // of the last scoring (scorings = 1)
};

// Writes to `out` exactly what ScoreCandidates(project, pool.entries, ...)
// returns, in every bit, whatever `threads` says (0 = every core): the kept
// sounds are the best maxCount by (score descending, candidate order), and
// the fallback the first of equal best scores, and neither depends on which
// sounds were looked at in what order. The scorer walks each library of the
// pool outwards from the layer's brightness, a block of sounds at a time,
// and skips every block whose bound (CeilingFor with the block's ranges)
// lies below the weakest of maxCount sounds already kept; a scoring whose
// remaining blocks hold many sounds shares them out to the threads.
void ScorePoolCandidates(const Project& project, const CandidateTable& table, const CandidatePool& pool,
                         float weight, float duration, int shape, const std::vector<SearchTerm>& terms,
                         int maxCount, float intensity, const float* occupiedBands, float refSuitability,
                         int chosenCount, PoolScoringScratch& scratch, int threads,
                         std::vector<RenderCandidate>& out);

// What any sound of `block` can score at most for the layer, its centroids
// lying at least `distance` from the layer's brightness and its keyword parts
// at most `keywordMax` (kRejectedByTerms: the query rejects them all, and
// they all score 0).
float BlockCeiling(const LayerScoring& layer, const CandidateBlock& block, float distance, float keywordMax);

// Every sound's own-term ceiling (OwnTermsCeiling with its own values) into
// own[0 .. kCandidateBlockEntries - 1], a row of the tile at a time so that
// the compiler can work on several sounds at once. A sound is looked at only
// when its keyword part plus this reaches NeededTerms for its block.
void TileOwnTerms(const CandidateTile& tile, const LayerScoring& layer, float* own);
