// candidate_table.h — the libraries as the pool scorer reads them: the
// features of every entry in brightness order with the bounds of short runs
// of them, built once per change of the libraries; the candidate pools of
// the groups and library filters that events ask for; and the keyword part of
// every entry for the queries that events use.
//
// Index
//   CandidateBlock         bounds of a run of entries next to each other in brightness order
//   LibraryFeatures        one library: where its features and blocks lie in the table
//   CandidateTable         every library's features, the pools and keyword tables made so far
//   PoolPart / CandidatePool   a pool: entry pointers in candidate order and its libraries
//   KeywordTable           one query's keyword part of every entry, with block maxima
//   AcquireCandidateTable  the library's current table, rebuilt first when the libraries changed
//   CandidatePoolFor       the pool of a group and library filter (FindCandidateSounds' rules)
//   KeywordTableFor        the keyword table of a query over a pool's libraries
//
// Layout: each library's features are stored sorted by centroid, so that a
// scoring, which looks at the sounds nearest the layer's brightness first,
// reads them one after the other. Memory per entry: a CandidateFeatures
// (72 bytes), its entry index (4 bytes) and its row of a CandidateTile (32
// bytes), plus one CandidateBlock (84 bytes) per kCandidateBlockEntries entries; per query used, 4 bytes per entry of the
// libraries it was used with. Pools hold an entry pointer per slot.
// Everything holds entries by address: valid while the libraries keep their
// entries, which AcquireCandidateTable checks before every pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "render/candidates.h"

struct LibraryEntry;
struct SoundLibrary;
struct SearchTerm;

// Short enough that the band shares of a run are close together (which
// makes its bound tight), long enough that its bounds cost little next to
// its entries.
inline constexpr uint32_t kCandidateBlockEntries = 32;

// Where a sound stands in the brightness order: its centroid, or after
// every other sound when the centroid is not a number (it scores 0 anyway).
inline float CentroidOrderKey(const CandidateFeatures& f) {
    return f.centroid == f.centroid ? f.centroid : std::numeric_limits<float>::infinity();
}

// The band shares p_i that the score compares with the layer's band weights,
// computed exactly as the score computes them.
inline void BandShares(const CandidateFeatures& f, float out[5]) {
    const float sum = f.energySum;
    for (int i = 0; i < 5; ++i) out[i] = sum > 0.01f ? f.energy[i] / sum : 0.2f;
}

// What the score's terms can be at most for any sound of a run. Values that
// are not numbers are left out: a sound with one scores 0.
struct CandidateBlock {
    float centroidLow = 0, centroidHigh = 0;  // order keys of the first and last sound
    float shareLow[5] = {}, shareHigh[5] = {};  // band shares; low > high when none is a number
    float softMax = 0, hardMax = 0;
    float spotMax = 0, washMax = 0, scatterMax = 0, fillMax = 0;  // fillMax: of the four parts' sum
    float lengthMax = 0;
    float suitabilityMin = 0, suitabilityMax = 0;
};

// The inputs of the own terms of a block's sounds side by side, one row per
// input (a short block is padded with zeros): the scorer works out every
// sound's own-term ceiling a row at a time, reading 640 bytes of a block
// instead of its 2.3 KB of features, and reads the features only of the
// sounds that this leaves.
struct CandidateTile {
    float length[kCandidateBlockEntries];
    float soft[kCandidateBlockEntries];
    float hard[kCandidateBlockEntries];
    float spotAttack[kCandidateBlockEntries];
    float washTerm[kCandidateBlockEntries];
    float scatterTerm[kCandidateBlockEntries];
    float fillTerms[kCandidateBlockEntries];  // the four parts' sum
    float suitability[kCandidateBlockEntries];
};

// The maxima of the own terms over several blocks (CandidateBlock without
// the centroid and shares).
void WidenBounds(CandidateBlock& into, const CandidateBlock& block);

struct LibraryFeatures {
    const LibraryEntry* entries = nullptr;  // the library's entries they were made from
    uint32_t count = 0;
    size_t first = 0;       // of its features in the table
    size_t firstBlock = 0;  // of its blocks in the table
    uint32_t blockCount = 0;
};

struct CandidatePool;
struct KeywordTable;

struct CandidateTable {
    std::vector<CandidateFeatures> features;  // library after library, each in brightness order
    std::vector<uint32_t> entryIndex;         // per feature: the entry's index in its library
    std::vector<CandidateBlock> blocks;       // library after library, in brightness order
    std::vector<CandidateTile> tiles;         // one per block
    std::vector<LibraryFeatures> libraries;

    // What the features were built from: per library the entries' storage and
    // count, the libraries' librariesRevision, and a digest of what scoring
    // reads of the entries (analysis and the texts the keywords match), per
    // run of kDigestEntries entries in library order.
    std::vector<const LibraryEntry*> builtStorage;
    std::vector<size_t> builtCounts;
    uint32_t builtRevision = 0;
    static constexpr uint32_t kDigestEntries = 1024;
    struct DigestRun {
        const LibraryEntry* entries;
        uint32_t count;
        uint64_t digest;
    };
    std::vector<DigestRun> digests;

    // Pools and keyword tables made so far. Shared by the passes that hold
    // this table, hence the lock.
    mutable std::mutex poolMutex;
    mutable std::map<std::vector<uint32_t>, std::shared_ptr<const CandidatePool>> pools;
    mutable std::mutex keywordMutex;
    mutable std::map<std::string, std::shared_ptr<KeywordTable>> keywordTables;
};

// One library of a pool: its index in the table and the pool slot of its
// first entry (slots run library after library, entries in library order).
struct PoolPart {
    uint32_t library = 0;
    size_t firstSlot = 0;
};

struct CandidatePool {
    std::vector<const LibraryEntry*> entries;  // what FindCandidateSounds gives, in its order
    std::vector<PoolPart> parts;
    CandidateBlock bounds;                     // own-term maxima over all its sounds
};

// A query's keyword score (KeywordScore) of every entry, at the entry's
// place in the table, and per block the largest (kRejectedByTerms when the
// query rejects every sound of the block). Filled library by library as pools
// ask for them; a library's values never change once filled.
struct KeywordTable {
    std::vector<float> keyword;
    std::vector<float> blockMax;
    std::vector<uint8_t> filled;  // per library, under the table's keywordMutex
};

// The table that matches the libraries now. When the entries of any library
// grew, shrank, moved, or librariesRevision was raised, a new table is
// built (on up to `threads` threads) and kept in the library; a pass keeps
// the table it got for its whole length. With checkContents the entries'
// analysis and texts are also compared with what the table was built from (a
// digest per run of entries, on the threads), which catches entries changed
// in place without MarkLibrariesChanged; a render command asks for it, the
// per-event passes of one job need not. Safe to call from several threads.
std::shared_ptr<const CandidateTable> AcquireCandidateTable(const SoundLibrary& library, int threads,
                                                            bool checkContents = false);

// The candidates of FindCandidateSounds(library, group, libFilter) with their
// libraries. Never null; empty for "~none~" or when no library serves.
std::shared_ptr<const CandidatePool> CandidatePoolFor(const CandidateTable& table,
                                                      const SoundLibrary& library, int group,
                                                      const char* libFilter);

// The keyword table of `terms` (not empty), filled for every library of
// `pool` (on up to `threads` threads). Kept in the table for later passes;
// the table keeps at most a few dozen queries.
std::shared_ptr<const KeywordTable> KeywordTableFor(const CandidateTable& table, const CandidatePool& pool,
                                                    const std::vector<SearchTerm>& terms, int threads);
