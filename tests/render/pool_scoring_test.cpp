// The chunked pool scorer against the reference scorer: the same list in
// every bit for any thread count (ties, banned files, terms, weak pools,
// damaged entries), the ceilings it skips by, and the candidate table
// following changes of the libraries.
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

}  // namespace

TEST(PoolScoring, SameListAsTheReferenceOnAnyThreadCount) {
    SoundLibrary library;
    AddMixedLibraries(library, 5);
    Project project;
    std::shared_ptr<const CandidateTable> table = AcquireCandidateTable(library, 2);
    const float bands[5] = {0.3f, 0.9f, 0.2f, 0.6f, 0.05f};
    const ScoringCase cases[] = {
        {0.5f, 1.0f, kShapeSpot, "", 12, 0.7f, false, -1, 0},
        {0.15f, 3.0f, kShapeBloom, "wind", 16, 0.3f, true, 0.4f, 2},
        {0.9f, 2.0f, kShapeContour, "metal -door", 8, 0.9f, true, 0.6f, 1},
        {0.4f, 6.0f, kShapeFill, "", 32, 0.5f, true, 0.3f, 3},
        {0.6f, 0.2f, kShapeScatter, "+glass", 8, 1.0f, false, 0.5f, 2},
        {0.5f, 1.5f, 7, "metal +hit* -glass", 30, 0.5f, false, -1, 0},
        {0.3f, 1.0f, kShapeSpot, "+zebra", 12, 0.5f, true, -1, 0},   // nothing matches: fallback
        {0.5f, 0.0f, kShapeSpot, "", 12, 0.5f, false, -1, 0},        // no length: every score 0
        {0.7f, 2.0f, kShapeBloom, "", 500, 0.6f, true, 0.2f, 4},     // longer than a chunk's list
        {0.5f, 1.0f, kShapeSpot, "", 0, 0.5f, false, -1, 0},
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
                for (const ScoringCase& c : cases) {
                    const std::vector<SearchTerm> terms = ParseSearchQuery(c.query);
                    const float* b = c.bands ? bands : nullptr;
                    const std::vector<RenderCandidate> reference =
                        ScoreCandidates(*p, pool->entries, c.weight, c.duration, c.shape, terms, c.maxCount,
                                        c.intensity, b, c.ref, c.chosen);
                    for (int threads : {1, 2, 8}) {
                        TermHitCache cache;
                        for (int round = 0; round < 2; ++round) {  // the second reads the term cache
                            const std::string what = std::string("query '") + c.query + "' group " +
                                                     std::to_string(group) + " threads " + std::to_string(threads);
                            ExpectSameList(ScorePoolCandidates(*p, *pool, c.weight, c.duration, c.shape, terms,
                                                               c.maxCount, c.intensity, b, c.ref, c.chosen,
                                                               &cache, threads),
                                           reference, what);
                        }
                    }
                }
            }
        }
    }
    // The fallback is the first of equal best scores: with every score 0 it
    // is the first candidate that is not banned.
    std::shared_ptr<const CandidatePool> pool = CandidatePoolFor(*table, library, -1, nullptr);
    Project firstBanned;
    firstBanned.bannedFiles = {pool->entries[0]->path};
    std::vector<RenderCandidate> none = ScorePoolCandidates(firstBanned, *pool, 0.5f, 0.0f, kShapeSpot, {}, 8,
                                                            0.5f, nullptr, -1, 0, nullptr, 4);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].entry, pool->entries[1]);
    EXPECT_EQ(none[0].score, 0.01f);
    EXPECT_TRUE(CandidatePoolFor(*table, library, -1, "~none~")->entries.empty());
}

TEST(PoolScoring, CeilingsAreNeverBelowTheScore) {
    // Entries and layers far outside the usual ranges, since the skipping is
    // only exact when the ceilings hold for every value.
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    auto wide = [&](float lo, float hi) { return lo + (hi - lo) * u(rng); };
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(kCandidateChunkEntries, 9);
    for (LibraryEntry& e : entries) {
        for (float& b : e.bandEnergy) b = u(rng) < 0.1f ? 0.0f : wide(0.0f, 3.0f);
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
    ASSERT_EQ(table->chunks.size(), 1u);
    const CandidateChunk& chunk = table->chunks[0];

    int checked = 0;
    for (int layerNo = 0; layerNo < 60; ++layerNo) {
        float bands[5];
        for (float& b : bands) b = wide(0.0f, 2.0f);
        const bool hasTerms = layerNo % 3 == 1;
        const LayerScoring layer =
            PrepareLayerScoring(wide(0.0f, 1.0f), wide(0.05f, 10.0f), layerNo % 8, hasTerms, wide(0.0f, 1.2f),
                                layerNo % 2 ? bands : nullptr, layerNo % 4 ? wide(0.0f, 1.0f) : -1.0f, layerNo % 4);
        const float chunkOwn = OwnTermsCeiling(layer, chunk.lengthMax, chunk.characterMax, chunk.spotMax,
                                               chunk.washMax, chunk.scatterMax, chunk.fillMax,
                                               chunk.suitabilityMin, chunk.suitabilityMax);
        for (uint32_t i = 0; i < chunk.count; ++i) {
            const CandidateFeatures& f = chunk.features[i];
            const float kw = hasTerms ? std::floor(wide(0.0f, 4.0f)) * 12.5f : 0.0f;
            const float s = ScoreWithKeyword(f, layer, kw);
            const float distance = std::fabs(f.centroid - layer.brightness);
            ASSERT_LE(s, ScoreCeiling(f, layer, kw)) << "layer " << layerNo << " entry " << i;
            ASSERT_LE(s, CeilingForDistance(layer, distance, hasTerms ? 50.0f : 0.0f, chunkOwn, true))
                << "layer " << layerNo << " entry " << i;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 60 * static_cast<int>(kCandidateChunkEntries));
}

TEST(CandidateTable, FollowsTheLibraries) {
    SoundLibrary library;
    AddMixedLibraries(library, 8);
    std::shared_ptr<const CandidateTable> first = AcquireCandidateTable(library, 2);
    EXPECT_EQ(AcquireCandidateTable(library, 2), first);  // nothing changed: kept
    size_t total = 0;
    for (const LibraryIndex& lib : library.libraries) total += lib.entries.size();
    EXPECT_EQ(first->features.size(), total);
    // Chunks never cross a library and every entry is in its chunk's order once.
    for (const CandidateChunk& chunk : first->chunks) {
        ASSERT_LE(chunk.count, kCandidateChunkEntries);
        std::vector<bool> seen(chunk.count);
        for (uint32_t i = 0; i < chunk.count; ++i) seen[chunk.byCentroid[i]] = true;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), true), chunk.count);
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
    EXPECT_EQ(third->features[0].centroid, 0.123f);

    // Changed in place without a mark: a pass that checks the contents
    // notices; an unchanged library keeps its table through the check.
    EXPECT_EQ(AcquireCandidateTable(library, 2, true), third);
    library.libraries[2].entries[5].duration += 1.0f;
    std::shared_ptr<const CandidateTable> fourth = AcquireCandidateTable(library, 2, true);
    EXPECT_NE(fourth, third);
    third = fourth;

    library.libraries[0].enabled = 0;
    EXPECT_EQ(AcquireCandidateTable(library, 2), third);  // the features stay, the pools change
    EXPECT_EQ(CandidatePoolFor(*third, library, -1, nullptr)->entries, FindCandidateSounds(library, -1, nullptr));
    EXPECT_EQ(CandidatePoolFor(*third, library, -1, nullptr)->entries.size(),
              library.libraries[1].entries.size() + library.libraries[2].entries.size());
}
