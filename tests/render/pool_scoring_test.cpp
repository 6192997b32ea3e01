// The pool scorer against the reference scorer: the same list in every bit
// for any thread count (ties, banned files, terms, weak pools, damaged
// entries, lists long enough to share out to the threads), the bounds it
// skips by, and the candidate table and its keyword tables following changes
// of the libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "document/event.h"
#include "document/project.h"
#include "library/search_query.h"
#include "render/candidate_table.h"
#include "render/candidates.h"
#include "render/pool_scoring.h"
#include "render/score_terms.h"
#include "support/render_fixtures.h"

namespace {

void ExpectSameList(const std::vector<RenderCandidate>& a, const std::vector<RenderCandidate>& b,
                    const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].entry, b[i].entry) << what << " #" << i;
        EXPECT_EQ(std::memcmp(&a[i].score, &b[i].score, sizeof(float)), 0) << what << " #" << i;
    }
}

struct ScoringCase {
    float weight, duration;
    int shape;
    const char* query;
    int maxCount;
    float intensity;
    bool bands;
    float ref;
    int chosen;
};

const float kBands[5] = {0.3f, 0.9f, 0.2f, 0.6f, 0.05f};

// Scores `pool` with the pool scorer on 1, 2, 8 and 64 threads, twice each (the
// second time with the keyword table already in the scratch), and expects
// the reference's list every time. Returns the most lanes any scoring used.
int ExpectReferenceList(const Project& project, const CandidateTable& table, const CandidatePool& pool,
                        const ScoringCase& c, const std::string& what) {
    const std::vector<SearchTerm> terms = ParseSearchQuery(c.query);
    const float* b = c.bands ? kBands : nullptr;
    const std::vector<RenderCandidate> reference = ScoreCandidates(
        project, pool.entries, c.weight, c.duration, c.shape, terms, c.maxCount, c.intensity, b, c.ref, c.chosen);
    int lanes = 0;
    for (int threads : {1, 2, 8, 64}) {
        PoolScoringScratch scratch;
        std::vector<RenderCandidate> list;
        for (int round = 0; round < 2; ++round) {
            ScorePoolCandidates(project, table, pool, c.weight, c.duration, c.shape, terms, c.maxCount,
                                c.intensity, b, c.ref, c.chosen, scratch, threads, list);
            ExpectSameList(list, reference, what + " query '" + c.query + "' threads " + std::to_string(threads));
            lanes = std::max(lanes, scratch.last.shared ? threads : 1);
        }
    }
    return lanes;
}

}  // namespace

TEST(PoolScoring, SameListAsTheReferenceOnAnyThreadCount) {
    SoundLibrary library;
    AddMixedLibraries(library, 5);
    Project project;
    std::shared_ptr<const CandidateTable> table = AcquireCandidateTable(library, 2);
    const ScoringCase cases[] = {
        {0.5f, 1.0f, kShapeSpot, "", 12, 0.7f, false, -1, 0},
        {0.15f, 3.0f, kShapeBloom, "wind", 16, 0.3f, true, 0.4f, 2},
        {0.9f, 2.0f, kShapeContour, "metal -door", 8, 0.9f, true, 0.6f, 1},
        {0.4f, 6.0f, kShapeFill, "", 32, 0.5f, true, 0.3f, 3},
        {0.6f, 0.2f, kShapeScatter, "+glass", 8, 1.0f, false, 0.5f, 2},
        {0.5f, 1.5f, 7, "metal +hit* -glass", 30, 0.5f, false, -1, 0},
        {0.3f, 1.0f, kShapeSpot, "+zebra", 12, 0.5f, true, -1, 0},   // nothing matches: fallback
        {0.5f, 0.0f, kShapeSpot, "", 12, 0.5f, false, -1, 0},        // no length: every score 0
        {0.7f, 2.0f, kShapeBloom, "", 500, 0.6f, true, 0.2f, 4},     // longer than many blocks
        {0.5f, 1.0f, kShapeSpot, "", 0, 0.5f, false, -1, 0},
        {std::numeric_limits<float>::quiet_NaN(), 1.0f, kShapeSpot, "", 12, 0.5f, false, -1, 0},
    };
    // Banned by path and by id: the best two of the first case, and a twin.
    std::vector<const LibraryEntry*> all = FindCandidateSounds(library, -1, nullptr);
    std::vector<RenderCandidate> top = ScoreCandidates(project, all, 0.5f, 1.0f, kShapeSpot, {}, 3, 0.7f,
                                                       nullptr, -1, 0);
    ASSERT_EQ(top.size(), 3u);
    Project banned;
    banned.bannedFiles = {top[0].entry->path, "/lib/twins/" + library.libraries[0].entries[37].name + ".wav"};
    banned.bannedFileIds = {top[1].entry->fileId};

    for (const Project* p : {&project, &banned}) {
        for (int group : {-1, 1, 2}) {
            for (const char* filter : {static_cast<const char*>(nullptr), "Old Foley, Ambience"}) {
                std::shared_ptr<const CandidatePool> pool = CandidatePoolFor(*table, library, group, filter);
                ASSERT_EQ(pool->entries, FindCandidateSounds(library, group, filter));
                for (const ScoringCase& c : cases)
                    ExpectReferenceList(*p, *table, *pool, c, "group " + std::to_string(group));
            }
        }
    }
    // The fallback is the first of equal best scores: with every score 0 it
    // is the first candidate that is not banned.
    std::shared_ptr<const CandidatePool> pool = CandidatePoolFor(*table, library, -1, nullptr);
    Project firstBanned;
    firstBanned.bannedFiles = {pool->entries[0]->path};
    PoolScoringScratch scratch;
    std::vector<RenderCandidate> none;
    ScorePoolCandidates(firstBanned, *table, *pool, 0.5f, 0.0f, kShapeSpot, {}, 8, 0.5f, nullptr, -1, 0, scratch, 4,
                        none);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].entry, pool->entries[1]);
    EXPECT_EQ(none[0].score, 0.01f);
    EXPECT_TRUE(CandidatePoolFor(*table, library, -1, "~none~")->entries.empty());
}

TEST(PoolScoring, ALargeLibraryLooksAtFewSoundsAndSharesLongListsOut) {
    // 60,000 entries in two libraries: a usual layer looks at a small part of
    // them; a list long enough to leave many blocks open is scored on several
    // threads; both give the reference's list.
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Big", MakeSyntheticEntries(45000, 31)));
    library.libraries.push_back(MakeLibrary("Second", MakeSyntheticEntries(15000, 32), 1));
    std::shared_ptr<const CandidateTable> table = AcquireCandidateTable(library, 0);
    std::shared_ptr<const CandidatePool> pool = CandidatePoolFor(*table, library, 1, nullptr);
    ASSERT_EQ(pool->entries.size(), 60000u);
    Project project;

    PoolScoringScratch scratch;
    std::vector<RenderCandidate> list;
    for (const char* query : {"", "metal hit"}) {
        ScorePoolCandidates(project, *table, *pool, 0.35f, 1.2f, kShapeSpot, ParseSearchQuery(query), 12, 0.8f,
                            kBands, 0.4f, 2, scratch, 1, list);
        EXPECT_EQ(list.size(), 12u);
        EXPECT_LT(scratch.last.sounds, pool->entries.size() / 10) << query;
    }
    const ScoringCase wide[] = {
        {0.35f, 1.2f, kShapeSpot, "", 12, 0.8f, true, 0.4f, 2},
        {0.8f, 4.0f, kShapeContour, "wind", 16, 0.4f, false, -1, 0},
        {0.5f, 2.0f, kShapeBloom, "", 6000, 0.5f, false, -1, 0},
        {0.2f, 1.0f, kShapeScatter, "+glass", 4000, 0.9f, true, 0.5f, 1},
    };
    int lanes = 0;
    for (const ScoringCase& c : wide) lanes = std::max(lanes, ExpectReferenceList(project, *table, *pool, c, "60k"));
    EXPECT_GT(lanes, 1);
}

TEST(PoolScoring, CeilingsAreNeverBelowTheScore) {
    // Entries and layers far outside the usual ranges, since the skipping is
    // only exact when the ceilings hold for every value.
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    auto wide = [&](float lo, float hi) { return lo + (hi - lo) * u(rng); };
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(2048, 9);
    for (size_t n = 0; n < entries.size(); ++n) {
        LibraryEntry& e = entries[n];
        for (float& b : e.bandEnergy) b = u(rng) < 0.1f ? 0.0f : wide(0.0f, 3.0f);
        if (n % 97 == 5) e.bandEnergy[2] = std::numeric_limits<float>::quiet_NaN();
        e.bandCentroid = wide(-0.2f, 1.2f);
        e.duration = u(rng) < 0.05f ? 0.0f : wide(0.01f, 40.0f);
        e.spectralFlux = wide(-0.5f, 2.0f);
        e.dynamicsDb = wide(-10.0f, 60.0f);
        e.temporalCentroid = wide(-0.5f, 1.5f);
        e.attackTime = wide(0.0f, 2.0f);
        e.zeroCrossingRate = wide(0.0f, 1.0f);
        e.harmonicity = wide(0.0f, 1.0f);
        e.spectralFlatness = wide(0.0f, 1.0f);
    }
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Wide", entries));
    std::shared_ptr<const CandidateTable> table = AcquireCandidateTable(library, 1);
    std::shared_ptr<const CandidatePool> pool = CandidatePoolFor(*table, library, -1, nullptr);
    ASSERT_EQ(table->blocks.size(), 2048u / kCandidateBlockEntries);

    int checked = 0;
    for (int layerNo = 0; layerNo < 60; ++layerNo) {
        float bands[5];
        for (float& b : bands) b = wide(0.0f, 2.0f);
        const bool hasTerms = layerNo % 3 == 1;
        const LayerScoring layer =
            PrepareLayerScoring(wide(0.0f, 1.0f), wide(0.05f, 10.0f), layerNo % 8, hasTerms, wide(0.0f, 1.2f),
                                layerNo % 2 ? bands : nullptr, layerNo % 4 ? wide(0.0f, 1.0f) : -1.0f, layerNo % 4);
        const float poolOwn = OwnTermsCeiling(layer, pool->bounds.lengthMax, pool->bounds.softMax,
                                              pool->bounds.hardMax, pool->bounds.spotMax, pool->bounds.washMax,
                                              pool->bounds.scatterMax, pool->bounds.fillMax,
                                              pool->bounds.suitabilityMin, pool->bounds.suitabilityMax);
        for (size_t b = 0; b < table->blocks.size(); ++b) {
            const CandidateBlock& block = table->blocks[b];
            float kws[kCandidateBlockEntries];
            float kwMax = kRejectedByTerms;
            for (uint32_t i = 0; i < kCandidateBlockEntries; ++i) {
                kws[i] = hasTerms ? std::floor(wide(-1.0f, 4.0f)) * 12.5f : 0.0f;
                kws[i] = std::max(kws[i], kRejectedByTerms);
                kwMax = std::max(kwMax, kws[i]);
            }
            float scores[kCandidateBlockEntries];
            float nearest = std::numeric_limits<float>::infinity();
            float worst = 0.0f;  // the highest score of the block
            for (uint32_t i = 0; i < kCandidateBlockEntries; ++i) {
                const CandidateFeatures& f = table->features[b * kCandidateBlockEntries + i];
                const float s = kws[i] < 0.0f ? 0.0f : ScoreWithKeyword(f, layer, kws[i]);
                const float distance = std::fabs(f.centroid - layer.brightness);
                scores[i] = s;
                nearest = std::min(nearest, distance);
                worst = std::max(worst, s);
                if (kws[i] >= 0.0f) {
                    ASSERT_LE(s, ScoreCeiling(f, layer, kws[i])) << "layer " << layerNo << " block " << b;
                    ASSERT_LE(s, CeilingFor(layer, distance, 1.0f, hasTerms ? 50.0f : 0.0f, poolOwn, true))
                        << "layer " << layerNo << " block " << b;
                }
                ++checked;
            }
            // The block's bound, at its nearest sound's distance or nearer.
            if (!std::isfinite(nearest)) nearest = 0.0f;
            ASSERT_LE(worst, BlockCeiling(layer, block, nearest, kwMax)) << "layer " << layerNo << " block " << b;
            // Each sound's test inside the block: a sound that scores exactly
            // the bar is never passed over.
            float own[kCandidateBlockEntries];
            TileOwnTerms(table->tiles[b], layer, own);
            const CeilingParts parts = PrepareCeiling(layer, nearest, SpecCeiling(layer, block.shareLow, block.shareHigh));
            for (uint32_t i = 0; i < kCandidateBlockEntries; ++i) {
                if (kws[i] < 0.0f || !(scores[i] > 5.0f)) continue;
                ASSERT_GE(kws[i] + own[i], NeededTerms(parts, scores[i], kws[i] >= 0.01f))
                    << "layer " << layerNo << " block " << b << " sound " << i;
            }
        }
    }
    EXPECT_EQ(checked, 60 * 2048);
}

TEST(CandidateTable, FollowsTheLibraries) {
    SoundLibrary library;
    AddMixedLibraries(library, 8);
    std::shared_ptr<const CandidateTable> first = AcquireCandidateTable(library, 2);
    EXPECT_EQ(AcquireCandidateTable(library, 2), first);  // nothing changed: kept
    size_t total = 0;
    for (const LibraryIndex& lib : library.libraries) total += lib.entries.size();
    ASSERT_EQ(first->features.size(), total);
    // Each library in brightness order, every entry once, its blocks'
    // ranges holding what they cover.
    for (size_t l = 0; l < library.libraries.size(); ++l) {
        const LibraryFeatures& lib = first->libraries[l];
        std::vector<bool> seen(lib.count);
        for (uint32_t k = 0; k < lib.count; ++k) {
            const uint32_t i = first->entryIndex[lib.first + k];
            ASSERT_LT(i, lib.count);
            seen[i] = true;
            const CandidateFeatures& f = first->features[lib.first + k];
            const CandidateFeatures made = MakeCandidateFeatures(library.libraries[l].entries[i]);
            EXPECT_EQ(std::memcmp(&f, &made, sizeof f), 0);
            if (k > 0) {
                EXPECT_LE(CentroidOrderKey(first->features[lib.first + k - 1]), CentroidOrderKey(f));
            }
            const CandidateBlock& block = first->blocks[lib.firstBlock + k / kCandidateBlockEntries];
            EXPECT_LE(block.centroidLow, CentroidOrderKey(f));
            EXPECT_GE(block.centroidHigh, CentroidOrderKey(f));
            EXPECT_LE(f.length, block.lengthMax);
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), true), lib.count);
    }

    // Groups whose libraries are the same share one pool.
    library.libraries[1].group = -1;
    library.libraries[2].group = -1;
    EXPECT_EQ(CandidatePoolFor(*first, library, 0, nullptr), CandidatePoolFor(*first, library, -1, nullptr));

    // A new entry (the vector grows), an entry changed in place and marked,
    // a disabled library: each is seen by the next pool.
    library.libraries[2].entries.push_back(MakeEntry("newcomer", 2.0f, 0.5f));
    std::shared_ptr<const CandidateTable> second = AcquireCandidateTable(library, 2);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->features.size(), total + 1);
    EXPECT_EQ(CandidatePoolFor(*second, library, -1, nullptr)->entries, FindCandidateSounds(library, -1, nullptr));

    library.libraries[0].entries[0].bandCentroid = 0.123f;
    MarkLibrariesChanged(library);
    std::shared_ptr<const CandidateTable> third = AcquireCandidateTable(library, 2);
    EXPECT_NE(third, second);
    const LibraryFeatures& main = third->libraries[0];
    const size_t at = static_cast<size_t>(
        std::find(third->entryIndex.begin() + static_cast<std::ptrdiff_t>(main.first),
                  third->entryIndex.begin() + static_cast<std::ptrdiff_t>(main.first + main.count), 0u) -
        third->entryIndex.begin());
    EXPECT_EQ(third->features[at].centroid, 0.123f);

    // Changed in place without a mark: a pass that checks the contents
    // notices, the analysis as well as the texts the keywords match; an
    // unchanged library keeps its table through the check.
    EXPECT_EQ(AcquireCandidateTable(library, 2, true), third);
    library.libraries[2].entries[5].duration += 1.0f;
    std::shared_ptr<const CandidateTable> fourth = AcquireCandidateTable(library, 2, true);
    EXPECT_NE(fourth, third);
    library.libraries[1].entries[3].description += " okapi";
    std::shared_ptr<const CandidateTable> fifth = AcquireCandidateTable(library, 2, true);
    EXPECT_NE(fifth, fourth);

    library.libraries[0].enabled = 0;
    EXPECT_EQ(AcquireCandidateTable(library, 2), fifth);  // the features stay, the pools change
    EXPECT_EQ(CandidatePoolFor(*fifth, library, -1, nullptr)->entries, FindCandidateSounds(library, -1, nullptr));
    EXPECT_EQ(CandidatePoolFor(*fifth, library, -1, nullptr)->entries.size(),
              library.libraries[1].entries.size() + library.libraries[2].entries.size());
}

TEST(CandidateTable, KeywordTablesHoldEveryEntrysKeywordPart) {
    SoundLibrary library;
    AddMixedLibraries(library, 6);
    library.libraries[1].entries[3].description = "an okapi call";
    std::shared_ptr<const CandidateTable> table = AcquireCandidateTable(library, 2);
    std::shared_ptr<const CandidatePool> foley = CandidatePoolFor(*table, library, -1, "Foley");
    std::shared_ptr<const CandidatePool> all = CandidatePoolFor(*table, library, -1, nullptr);
    for (const char* query : {"okapi", "metal +hit* -glass", "+zebra"}) {
        const std::vector<SearchTerm> terms = ParseSearchQuery(query);
        // Filled for the libraries a pool asks for, then for the rest; the
        // same table serves both.
        std::shared_ptr<const KeywordTable> some = KeywordTableFor(*table, *foley, terms, 2);
        EXPECT_TRUE(some->filled[1]);
        EXPECT_FALSE(some->filled[0]);
        std::shared_ptr<const KeywordTable> every = KeywordTableFor(*table, *all, terms, 2);
        EXPECT_EQ(some, every);
        for (size_t l = 0; l < library.libraries.size(); ++l) {
            const LibraryFeatures& lib = table->libraries[l];
            if (!every->filled[l]) continue;
            for (uint32_t k = 0; k < lib.count; ++k) {
                const LibraryEntry& e = library.libraries[l].entries[table->entryIndex[lib.first + k]];
                ASSERT_EQ(every->keyword[lib.first + k], KeywordScore(e, terms)) << query << " " << e.name;
                ASSERT_LE(every->keyword[lib.first + k], every->blockMax[lib.firstBlock + k / kCandidateBlockEntries]);
            }
        }
    }
    const std::vector<SearchTerm> okapi = ParseSearchQuery("okapi");
    const LibraryFeatures& lib = table->libraries[1];
    const size_t at = static_cast<size_t>(
        std::find(table->entryIndex.begin() + static_cast<std::ptrdiff_t>(lib.first),
                  table->entryIndex.begin() + static_cast<std::ptrdiff_t>(lib.first + lib.count), 3u) -
        table->entryIndex.begin());
    EXPECT_GT(KeywordTableFor(*table, *all, okapi, 1)->keyword[at], 0.0f);
}
