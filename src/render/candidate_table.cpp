// candidate_table.cpp — building the features of every entry once, and the
// pools of candidates over them.
//
// Index
//   TableMatches / EntriesDigest / ContentsMatch
//   BuildTable           chunks per library, then each chunk's features, order and ceilings
//   AcquireCandidateTable
//   CandidatePoolFor     which libraries serve, then the pool of that set (cached)
#include "render/candidate_table.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

#include "library/sound_library.h"
#include "render/render_worker_pool.h"

namespace {

// Distinct library sets are few (the groups plus the filters events use);
// past this many the cache starts again rather than grow without end.
constexpr size_t kMaxPools = 64;

bool TableMatches(const CandidateTable& table, const SoundLibrary& library) {
    const std::vector<LibraryIndex>& libs = library.libraries;
    if (table.builtRevision != library.librariesRevision) return false;
    if (table.builtStorage.size() != libs.size()) return false;
    for (size_t l = 0; l < libs.size(); ++l) {
        if (table.builtStorage[l] != libs[l].entries.data() || table.builtCounts[l] != libs[l].entries.size())
            return false;
    }
    return true;
}

// A digest of every field MakeCandidateFeatures reads, bit for bit.
uint64_t EntriesDigest(const LibraryEntry* entries, uint32_t count) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        h = (h ^ bits) * 1099511628211ull;
    };
    for (uint32_t i = 0; i < count; ++i) {
        const LibraryEntry& e = entries[i];
        for (float b : e.bandEnergy) mix(b);
        for (float v : {e.bandCentroid, e.duration, e.spectralFlux, e.dynamicsDb, e.temporalCentroid,
                        e.attackTime, e.zeroCrossingRate, e.harmonicity, e.spectralFlatness, e.pitchConfidence})
            mix(v);
    }
    return h;
}

// The storage already matches; compares each chunk's digest on the threads.
bool ContentsMatch(const CandidateTable& table, int threads) {
    std::atomic<bool> same{true};
    RunRenderChunks(static_cast<int>(table.chunks.size()), threads, [&](int c) {
        const CandidateChunk& chunk = table.chunks[static_cast<size_t>(c)];
        if (EntriesDigest(chunk.entries, chunk.count) != chunk.digest) same.store(false, std::memory_order_relaxed);
    });
    return same.load();
}

// Features, brightness order and ceilings of one chunk whose entries are
// `entries` (its features and order slots are already in place).
void FillChunk(CandidateChunk& chunk, CandidateFeatures* features, uint16_t* order) {
    const LibraryEntry* entries = chunk.entries;
    chunk.digest = EntriesDigest(entries, chunk.count);
    for (uint32_t i = 0; i < chunk.count; ++i) features[i] = MakeCandidateFeatures(entries[i]);
    std::iota(order, order + chunk.count, uint16_t{0});
    std::stable_sort(order, order + chunk.count, [features](uint16_t a, uint16_t b) {
        return CentroidOrderKey(features[a]) < CentroidOrderKey(features[b]);
    });
    // The maxima ignore values that are not numbers: such a sound scores 0.
    const float low = -std::numeric_limits<float>::infinity();
    chunk.characterMax = chunk.spotMax = chunk.washMax = chunk.scatterMax = chunk.fillMax = low;
    chunk.suitabilityMax = chunk.lengthMax = low;
    chunk.suitabilityMin = std::numeric_limits<float>::infinity();
    for (uint32_t i = 0; i < chunk.count; ++i) {
        const CandidateFeatures& f = features[i];
        chunk.characterMax = std::max(chunk.characterMax, std::max(f.soft, f.hard));
        chunk.spotMax = std::max(chunk.spotMax, f.spotAttack);
        chunk.washMax = std::max(chunk.washMax, f.washTerm);
        chunk.scatterMax = std::max(chunk.scatterMax, f.scatterTerm);
        chunk.fillMax = std::max(chunk.fillMax, f.fillTerms[0] + f.fillTerms[1] + f.fillTerms[2] + f.fillTerms[3]);
        chunk.suitabilityMin = std::min(chunk.suitabilityMin, f.suitability);
        chunk.suitabilityMax = std::max(chunk.suitabilityMax, f.suitability);
        chunk.lengthMax = std::max(chunk.lengthMax, f.length);
    }
}

std::shared_ptr<CandidateTable> BuildTable(const SoundLibrary& library, int threads) {
    auto table = std::make_shared<CandidateTable>();
    const std::vector<LibraryIndex>& libs = library.libraries;
    table->builtRevision = library.librariesRevision;
    size_t total = 0;
    for (const LibraryIndex& lib : libs) total += lib.entries.size();
    table->features.resize(total);
    table->byCentroid.resize(total);

    // Chunks never cross a library, so a pool (whole libraries) is whole chunks.
    size_t first = 0;
    for (const LibraryIndex& lib : libs) {
        table->firstChunkOfLibrary.push_back(table->chunks.size());
        table->builtStorage.push_back(lib.entries.data());
        table->builtCounts.push_back(lib.entries.size());
        for (size_t at = 0; at < lib.entries.size(); at += kCandidateChunkEntries) {
            CandidateChunk chunk;
            chunk.features = table->features.data() + first;
            chunk.byCentroid = table->byCentroid.data() + first;
            chunk.entries = lib.entries.data() + at;
            chunk.count = static_cast<uint32_t>(std::min(kCandidateChunkEntries, lib.entries.size() - at));
            table->chunks.push_back(chunk);
            first += chunk.count;
        }
    }
    table->firstChunkOfLibrary.push_back(table->chunks.size());

    RunRenderChunks(static_cast<int>(table->chunks.size()), threads, [&](int c) {
        CandidateChunk& chunk = table->chunks[static_cast<size_t>(c)];
        const size_t at = static_cast<size_t>(chunk.features - table->features.data());
        FillChunk(chunk, table->features.data() + at, table->byCentroid.data() + at);
    });
    return table;
}

}  // namespace

std::shared_ptr<const CandidateTable> AcquireCandidateTable(const SoundLibrary& library, int threads,
                                                            bool checkContents) {
    std::lock_guard<std::mutex> lock(library.candidateTableMutex);
    const std::shared_ptr<const CandidateTable>& kept = library.candidateTable;
    if (kept && TableMatches(*kept, library) && (!checkContents || ContentsMatch(*kept, threads))) return kept;
    std::shared_ptr<const CandidateTable> table = BuildTable(library, threads);
    library.candidateTable = table;
    return table;
}

std::shared_ptr<const CandidatePool> CandidatePoolFor(const CandidateTable& table,
                                                      const SoundLibrary& library, int group,
                                                      const char* libFilter) {
    const std::vector<LibraryIndex>& libs = library.libraries;
    std::vector<uint32_t> taken;
    if (!(libFilter && std::strcmp(libFilter, "~none~") == 0)) {
        for (size_t l = 0; l < libs.size() && l < table.builtCounts.size(); ++l) {
            if (LibraryServes(libs[l], group, libFilter)) taken.push_back(static_cast<uint32_t>(l));
        }
    }

    std::lock_guard<std::mutex> lock(table.poolMutex);
    auto found = table.pools.find(taken);
    if (found != table.pools.end()) return found->second;

    auto pool = std::make_shared<CandidatePool>();
    size_t total = 0;
    for (uint32_t l : taken) total += libs[l].entries.size();
    pool->entries.reserve(total);
    for (uint32_t l : taken) {
        for (size_t c = table.firstChunkOfLibrary[l]; c < table.firstChunkOfLibrary[l + 1]; ++c)
            pool->chunks.push_back({pool->entries.size() + (c - table.firstChunkOfLibrary[l]) * kCandidateChunkEntries,
                                    &table.chunks[c]});
        for (const LibraryEntry& e : libs[l].entries) pool->entries.push_back(&e);
    }
    if (table.pools.size() >= kMaxPools) table.pools.clear();
    table.pools.emplace(std::move(taken), pool);
    return pool;
}
