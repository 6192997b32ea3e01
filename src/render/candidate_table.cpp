// candidate_table.cpp — building the features of every entry once, in
// brightness order, and the pools and keyword tables over them.
//
// Index
//   Digests              TableMatches / RunDigest / ContentsMatch
//   Blocks               BlockOf / WidenBounds
//   BuildTable           per library: features, brightness order, blocks, tiles; digests
//   AcquireCandidateTable
//   CandidatePoolFor     which libraries serve, then the pool of that set (cached)
//   KeywordTableFor      a query's keyword part, library by library (cached)
#include "render/candidate_table.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <string_view>

#include "library/search_query.h"
#include "library/sound_library.h"
#include "render/render_worker_pool.h"
#include "render/score_terms.h"

namespace {

// Distinct library sets are few (the groups plus the filters events use),
// and so are the queries; past this many a cache starts again rather than
// grow without end.
constexpr size_t kMaxPools = 64;
constexpr size_t kMaxKeywordTables = 48;
// From this many digest runs (of 1,024 entries) on, a render's content check
// is shared out to the threads.
constexpr int kDigestRunsWorthSharing = 16;

// ---- Digests ---------------------------------------------------------------------

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

// A digest of every field that the features and the keyword part read, bit
// for bit and byte for byte.
uint64_t RunDigest(const LibraryEntry* entries, uint32_t count) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t v) { h = (h ^ v) * 1099511628211ull; };
    auto mixFloat = [&mix](float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        mix(bits);
    };
    const std::hash<std::string_view> hashText;
    for (uint32_t i = 0; i < count; ++i) {
        const LibraryEntry& e = entries[i];
        for (float b : e.bandEnergy) mixFloat(b);
        for (float v : {e.bandCentroid, e.duration, e.spectralFlux, e.dynamicsDb, e.temporalCentroid,
                        e.attackTime, e.zeroCrossingRate, e.harmonicity, e.spectralFlatness, e.pitchConfidence})
            mixFloat(v);
        for (const std::string* text : {&e.name, &e.path, &e.description}) {
            mix(text->size());
            mix(hashText(*text));
        }
    }
    return h;
}

// The storage already matches; compares each run's digest, on the threads
// when there are enough runs to pay for waking them (a run takes some tens of
// microseconds; waking sleeping helpers about as long, and much longer when
// other programs hold the processors).
bool ContentsMatch(const CandidateTable& table, int threads) {
    std::atomic<bool> same{true};
    const int runs = static_cast<int>(table.digests.size());
    RunRenderChunks(runs, runs >= kDigestRunsWorthSharing ? threads : 1, [&](int c) {
        const CandidateTable::DigestRun& run = table.digests[static_cast<size_t>(c)];
        if (RunDigest(run.entries, run.count) != run.digest) same.store(false, std::memory_order_relaxed);
    });
    return same.load();
}

// ---- Blocks ----------------------------------------------------------------------

CandidateBlock BlockOf(const CandidateFeatures* features, uint32_t count) {
    const float inf = std::numeric_limits<float>::infinity();
    CandidateBlock b;
    b.centroidLow = CentroidOrderKey(features[0]);
    b.centroidHigh = CentroidOrderKey(features[count - 1]);
    for (int i = 0; i < 5; ++i) {
        b.shareLow[i] = inf;
        b.shareHigh[i] = -inf;
    }
    b.softMax = b.hardMax = b.spotMax = b.washMax = b.scatterMax = b.fillMax = -inf;
    b.lengthMax = b.suitabilityMax = -inf;
    b.suitabilityMin = inf;
    for (uint32_t k = 0; k < count; ++k) {
        const CandidateFeatures& f = features[k];
        float p[5];
        BandShares(f, p);
        // std::min and std::max keep their first argument against a NaN.
        for (int i = 0; i < 5; ++i) {
            b.shareLow[i] = std::min(b.shareLow[i], p[i]);
            b.shareHigh[i] = std::max(b.shareHigh[i], p[i]);
        }
        b.softMax = std::max(b.softMax, f.soft);
        b.hardMax = std::max(b.hardMax, f.hard);
        b.spotMax = std::max(b.spotMax, f.spotAttack);
        b.washMax = std::max(b.washMax, f.washTerm);
        b.scatterMax = std::max(b.scatterMax, f.scatterTerm);
        b.fillMax = std::max(b.fillMax, f.fillTerms[0] + f.fillTerms[1] + f.fillTerms[2] + f.fillTerms[3]);
        b.lengthMax = std::max(b.lengthMax, f.length);
        b.suitabilityMin = std::min(b.suitabilityMin, f.suitability);
        b.suitabilityMax = std::max(b.suitabilityMax, f.suitability);
    }
    return b;
}

}  // namespace

void WidenBounds(CandidateBlock& into, const CandidateBlock& b) {
    into.softMax = std::max(into.softMax, b.softMax);
    into.hardMax = std::max(into.hardMax, b.hardMax);
    into.spotMax = std::max(into.spotMax, b.spotMax);
    into.washMax = std::max(into.washMax, b.washMax);
    into.scatterMax = std::max(into.scatterMax, b.scatterMax);
    into.fillMax = std::max(into.fillMax, b.fillMax);
    into.lengthMax = std::max(into.lengthMax, b.lengthMax);
    into.suitabilityMin = std::min(into.suitabilityMin, b.suitabilityMin);
    into.suitabilityMax = std::max(into.suitabilityMax, b.suitabilityMax);
}

// ---- BuildTable ------------------------------------------------------------------

namespace {

// Features of one library in brightness order, its entry indices and blocks
// (their places in the table are already set).
void FillLibrary(CandidateTable& table, const LibraryFeatures& lib) {
    CandidateFeatures* features = table.features.data() + lib.first;
    uint32_t* index = table.entryIndex.data() + lib.first;
    std::vector<CandidateFeatures> plain(lib.count);
    for (uint32_t i = 0; i < lib.count; ++i) plain[i] = MakeCandidateFeatures(lib.entries[i]);
    std::iota(index, index + lib.count, 0u);
    // Stable, so that equal centroids keep library order; the order only
    // decides which sounds are looked at first, never the list.
    std::stable_sort(index, index + lib.count, [&plain](uint32_t a, uint32_t b) {
        return CentroidOrderKey(plain[a]) < CentroidOrderKey(plain[b]);
    });
    for (uint32_t k = 0; k < lib.count; ++k) features[k] = plain[index[k]];
    for (uint32_t b = 0; b < lib.blockCount; ++b) {
        const uint32_t at = b * kCandidateBlockEntries;
        const uint32_t count = std::min(kCandidateBlockEntries, lib.count - at);
        table.blocks[lib.firstBlock + b] = BlockOf(features + at, count);
        CandidateTile& tile = table.tiles[lib.firstBlock + b];
        tile = CandidateTile{};
        for (uint32_t k = 0; k < count; ++k) {
            const CandidateFeatures& f = features[at + k];
            tile.length[k] = f.length;
            tile.soft[k] = f.soft;
            tile.hard[k] = f.hard;
            tile.spotAttack[k] = f.spotAttack;
            tile.washTerm[k] = f.washTerm;
            tile.scatterTerm[k] = f.scatterTerm;
            tile.fillTerms[k] = f.fillTerms[0] + f.fillTerms[1] + f.fillTerms[2] + f.fillTerms[3];
            tile.suitability[k] = f.suitability;
        }
    }
}

std::shared_ptr<CandidateTable> BuildTable(const SoundLibrary& library, int threads) {
    auto table = std::make_shared<CandidateTable>();
    const std::vector<LibraryIndex>& libs = library.libraries;
    table->builtRevision = library.librariesRevision;
    size_t total = 0;
    size_t blocks = 0;
    for (const LibraryIndex& lib : libs) {
        LibraryFeatures f;
        f.entries = lib.entries.data();
        f.count = static_cast<uint32_t>(lib.entries.size());
        f.first = total;
        f.firstBlock = blocks;
        f.blockCount = (f.count + kCandidateBlockEntries - 1) / kCandidateBlockEntries;
        table->libraries.push_back(f);
        table->builtStorage.push_back(lib.entries.data());
        table->builtCounts.push_back(lib.entries.size());
        for (uint32_t at = 0; at < f.count; at += CandidateTable::kDigestEntries)
            table->digests.push_back({f.entries + at, std::min(CandidateTable::kDigestEntries, f.count - at), 0});
        total += f.count;
        blocks += f.blockCount;
    }
    table->features.resize(total);
    table->entryIndex.resize(total);
    table->blocks.resize(blocks);
    table->tiles.resize(blocks);

    // Libraries are sorted one per thread, digests in runs.
    RunRenderChunks(static_cast<int>(table->libraries.size()), threads,
                    [&](int l) { FillLibrary(*table, table->libraries[static_cast<size_t>(l)]); });
    RunRenderChunks(static_cast<int>(table->digests.size()), threads, [&](int c) {
        CandidateTable::DigestRun& run = table->digests[static_cast<size_t>(c)];
        run.digest = RunDigest(run.entries, run.count);
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

// ---- Pools -----------------------------------------------------------------------

std::shared_ptr<const CandidatePool> CandidatePoolFor(const CandidateTable& table,
                                                      const SoundLibrary& library, int group,
                                                      const char* libFilter) {
    const std::vector<LibraryIndex>& libs = library.libraries;
    std::vector<uint32_t> taken;
    if (!(libFilter && std::strcmp(libFilter, "~none~") == 0)) {
        for (size_t l = 0; l < libs.size() && l < table.libraries.size(); ++l) {
            if (LibraryServes(libs[l], group, libFilter)) taken.push_back(static_cast<uint32_t>(l));
        }
    }

    std::lock_guard<std::mutex> lock(table.poolMutex);
    auto found = table.pools.find(taken);
    if (found != table.pools.end()) return found->second;

    auto pool = std::make_shared<CandidatePool>();
    const float inf = std::numeric_limits<float>::infinity();
    CandidateBlock& bounds = pool->bounds;
    bounds.softMax = bounds.hardMax = bounds.spotMax = bounds.washMax = bounds.scatterMax = bounds.fillMax = -inf;
    bounds.lengthMax = bounds.suitabilityMax = -inf;
    bounds.suitabilityMin = inf;
    size_t total = 0;
    for (uint32_t l : taken) total += libs[l].entries.size();
    pool->entries.reserve(total);
    for (uint32_t l : taken) {
        const LibraryFeatures& lib = table.libraries[l];
        pool->parts.push_back({l, pool->entries.size()});
        for (const LibraryEntry& e : libs[l].entries) pool->entries.push_back(&e);
        for (uint32_t b = 0; b < lib.blockCount; ++b) WidenBounds(bounds, table.blocks[lib.firstBlock + b]);
    }
    if (table.pools.size() >= kMaxPools) table.pools.clear();
    table.pools.emplace(std::move(taken), pool);
    return pool;
}

// ---- Keyword tables --------------------------------------------------------------

namespace {

std::string QueryKey(const std::vector<SearchTerm>& terms) {
    std::string key;
    for (const SearchTerm& t : terms) {
        key += static_cast<char>('0' + t.mode);
        key += t.text;
        key += '\0';
    }
    return key;
}

void FillKeywords(const CandidateTable& table, KeywordTable& keywords, const LibraryFeatures& lib,
                  const std::vector<SearchTerm>& terms, int threads) {
    RunRenderChunks(static_cast<int>(lib.blockCount), threads, [&](int b) {
        const size_t at = static_cast<size_t>(b) * kCandidateBlockEntries;
        const size_t end = std::min<size_t>(at + kCandidateBlockEntries, lib.count);
        float most = kRejectedByTerms;
        for (size_t k = at; k < end; ++k) {
            const float kw = KeywordScore(lib.entries[table.entryIndex[lib.first + k]], terms);
            keywords.keyword[lib.first + k] = kw;
            most = std::max(most, kw);
        }
        keywords.blockMax[lib.firstBlock + static_cast<size_t>(b)] = most;
    });
}

}  // namespace

std::shared_ptr<const KeywordTable> KeywordTableFor(const CandidateTable& table, const CandidatePool& pool,
                                                    const std::vector<SearchTerm>& terms, int threads) {
    std::string key = QueryKey(terms);
    std::lock_guard<std::mutex> lock(table.keywordMutex);
    auto found = table.keywordTables.find(key);
    if (found == table.keywordTables.end()) {
        // Passes that hold a keyword table keep it alive; the cache only lets go.
        if (table.keywordTables.size() >= kMaxKeywordTables) table.keywordTables.clear();
        auto fresh = std::make_shared<KeywordTable>();
        fresh->keyword.assign(table.features.size(), 0.0f);
        fresh->blockMax.assign(table.blocks.size(), 0.0f);
        fresh->filled.assign(table.libraries.size(), 0);
        found = table.keywordTables.emplace(std::move(key), std::move(fresh)).first;
    }
    KeywordTable& keywords = *found->second;
    for (const PoolPart& part : pool.parts) {
        if (keywords.filled[part.library]) continue;
        FillKeywords(table, keywords, table.libraries[part.library], terms, threads);
        keywords.filled[part.library] = 1;
    }
    return found->second;
}
