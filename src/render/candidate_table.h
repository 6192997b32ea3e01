// candidate_table.h — the libraries as the pool scorer reads them: the
// features of every entry in chunks, built once per change of the libraries,
// and the candidate pools of the groups and library filters that events ask for.
//
// Index
//   CandidateChunk         up to 1024 entries of one library: features, brightness order, ceilings
//   PoolChunk / CandidatePool   one pool: entry pointers in candidate order and its chunks
//   CandidateTable         every chunk, the pools made so far, what they were made from
//   AcquireCandidateTable  the library's current table, rebuilt first when the libraries changed
//   CandidatePoolFor       the pool of a group and library filter (FindCandidateSounds' rules)
//
// Memory: 74 bytes per entry (a CandidateFeatures and its place in the
// brightness order), 72 bytes per chunk, and an entry pointer per slot of
// every distinct pool (groups whose libraries are the same share one pool).
// Pools and the table hold entries by address: they are valid while the
// libraries keep their entries, which AcquireCandidateTable checks before
// every pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "render/candidates.h"

struct LibraryEntry;
struct SoundLibrary;

inline constexpr size_t kCandidateChunkEntries = 1024;

// Where a sound stands in a chunk's brightness order: its centroid, or after
// every other sound when the centroid is not a number (it scores 0 anyway).
inline float CentroidOrderKey(const CandidateFeatures& f) {
    return f.centroid == f.centroid ? f.centroid : std::numeric_limits<float>::infinity();
}

// A run of entries of one library. The pool scorer visits a chunk's
// candidates nearest brightness first and stops where no candidate left
// could score high enough; the ceilings say what the chunk's own terms can add.
struct CandidateChunk {
    const CandidateFeatures* features = nullptr;
    const uint16_t* byCentroid = nullptr;  // indices into features, centroid ascending
    const LibraryEntry* entries = nullptr; // the entries they were made from
    uint64_t digest = 0;                   // of the entries' fields that the features read
    uint32_t count = 0;
    float characterMax = 0;   // the largest max(soft, hard)
    float spotMax = 0;        // the largest spotAttack
    float washMax = 0;
    float scatterMax = 0;
    float fillMax = 0;        // the largest sum of fillTerms
    float suitabilityMin = 0;
    float suitabilityMax = 0;
    float lengthMax = 0;
};

struct PoolChunk {
    size_t firstSlot = 0;                   // pool slot of chunk->features[0]
    const CandidateChunk* chunk = nullptr;
};

struct CandidatePool {
    std::vector<const LibraryEntry*> entries;  // what FindCandidateSounds gives, in its order
    std::vector<PoolChunk> chunks;             // cover 0..entries.size() in order
};

struct CandidateTable {
    std::vector<CandidateFeatures> features;   // every entry, library after library
    std::vector<uint16_t> byCentroid;          // per chunk, see CandidateChunk
    std::vector<CandidateChunk> chunks;        // library after library
    std::vector<size_t> firstChunkOfLibrary;   // and one past the last

    // What the features were built from: per library the entries' storage and
    // count, and the libraries' librariesRevision.
    std::vector<const LibraryEntry*> builtStorage;
    std::vector<size_t> builtCounts;
    uint32_t builtRevision = 0;

    // Pools made so far, by the libraries they take. Shared by the passes that
    // hold this table, hence the lock.
    mutable std::mutex poolMutex;
    mutable std::map<std::vector<uint32_t>, std::shared_ptr<const CandidatePool>> pools;
};

// The table that matches the libraries now. When the entries of any library
// grew, shrank, moved, or librariesRevision was raised, a new table is
// built (on up to `threads` threads) and kept in the library; a pass keeps
// the table it got for its whole length. With checkContents the entries'
// analysis is also compared with what the table was built from (a digest per
// chunk, on the threads), which catches entries changed in place without
// MarkLibrariesChanged; a render command asks for it, the per-event passes
// of one job need not. Safe to call from several threads.
std::shared_ptr<const CandidateTable> AcquireCandidateTable(const SoundLibrary& library, int threads,
                                                            bool checkContents = false);

// The candidates of FindCandidateSounds(library, group, libFilter) with their
// chunks. Never null; empty for "~none~" or when no library serves.
std::shared_ptr<const CandidatePool> CandidatePoolFor(const CandidateTable& table,
                                                      const SoundLibrary& library, int group,
                                                      const char* libFilter);
