// Candidate pools, layer scores and the small feature numbers of scoring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "document/event.h"
#include "document/project.h"
#include "library/search_query.h"
#include "render/candidates.h"
#include "support/render_fixtures.h"

namespace {

std::vector<std::string> Names(const std::vector<const LibraryEntry*>& list) {
    std::vector<std::string> out;
    for (const LibraryEntry* e : list) out.push_back(e->name);
    return out;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(CandidatePools, GroupEnabledAndFilterRules) {
    std::vector<LibraryIndex> libs;
    libs.push_back(MakeLibrary("Impacts", {MakeEntry("a1"), MakeEntry("a2")}, 1));
    libs.push_back(MakeLibrary("Ambience", {MakeEntry("b1")}, 0));
    libs.push_back(MakeLibrary("Everything", {MakeEntry("c1")}, -1));
    libs.push_back(MakeLibrary("Off", {MakeEntry("d1")}, -1, false));

    // Group 1 takes its own library and the one that serves every group, in order.
    EXPECT_EQ(Names(FindCandidateSounds(libs, 1, nullptr)), (Strings{"a1", "a2", "c1"}));
    EXPECT_EQ(Names(FindCandidateSounds(libs, 0, "")), (Strings{"b1", "c1"}));
    EXPECT_EQ(Names(FindCandidateSounds(libs, 2, nullptr)), (Strings{"c1"}));
    // A request for every group takes every enabled library.
    EXPECT_EQ(Names(FindCandidateSounds(libs, -1, nullptr)), (Strings{"a1", "a2", "b1", "c1"}));
    // "~none~" gives nothing at all.
    EXPECT_TRUE(FindCandidateSounds(libs, -1, "~none~").empty());
    // A filter names libraries; the group rule still holds.
    EXPECT_EQ(Names(FindCandidateSounds(libs, -1, " Ambience , Off")), (Strings{"b1"}));
    EXPECT_TRUE(FindCandidateSounds(libs, 1, "Ambience").empty());
    EXPECT_TRUE(FindCandidateSounds(libs, -1, "ambience").empty());  // case counts
}

TEST(CandidatePools, RenamedLibraryFoundByPreviousName) {
    std::vector<LibraryIndex> libs;
    libs.push_back(MakeLibrary("Metal 2024", {MakeEntry("m1")}));
    libs.back().previousNames = {"Metal Old", "Metal"};
    libs.push_back(MakeLibrary("Wood", {MakeEntry("w1")}));

    EXPECT_EQ(Names(FindCandidateSounds(libs, 0, "Metal")), (Strings{"m1"}));
    EXPECT_EQ(Names(FindCandidateSounds(libs, 0, "Other,  Metal Old ")), (Strings{"m1"}));
    EXPECT_EQ(Names(FindCandidateSounds(libs, 0, "Metal 2024,Wood")), (Strings{"m1", "w1"}));
    EXPECT_TRUE(FindCandidateSounds(libs, 0, "Metal Ol").empty());
}

// The score of one sound against values worked out by hand from the scoring
// rules (every term evaluated separately in double precision).
TEST(LayerScore, MatchesHandComputedValues) {
    LibraryEntry e = MakeEntry("metal_hit_03", 2.0f);
    const float energy[5] = {0.2f, 0.6f, 1.0f, 0.5f, 0.1f};
    std::copy(energy, energy + 5, e.bandEnergy);
    e.bandCentroid = 0.45f;
    e.zeroCrossingRate = 0.2f;
    e.dynamicsDb = 9.0f;
    e.temporalCentroid = 0.4f;
    e.spectralFlux = 0.2f;
    e.attackTime = 0.05f;
    e.harmonicity = 0.3f;
    e.spectralFlatness = 0.4f;
    e.pitchConfidence = 0.6f;
    e.path = "/lib/metal/metal_hit_03.wav";
    e.description = "heavy door slam";

    // Spot, no terms, occupied bands, two chosen layers of similar suitability:
    // spectral fit 0.85965, brightness match 0.8, occupancy fill 1.1875 / over 0.48, contrast g 0.145 (x 0.7).
    const float bands[5] = {0.2f, 0.8f, 0.4f, 0.1f, 0.0f};
    EXPECT_NEAR(ScoreSoundForLayer(e, 0.5f, 1.0f, kShapeSpot, {}, 0.7f, bands, 0.3f, 2),
                43.675397f, 1e-4);

    // Bloom longer than the sound (q = 2/3 scales it), terms: "metal" hits the
    // name (3), "+door" the description (2), "x" is too short to count and the
    // excluded "glass" misses: kw = 5 / 6 x 50.
    std::vector<SearchTerm> terms = {{"metal", kSearchPlain}, {"door", kSearchRequired},
                                     {"x", kSearchPlain}, {"glass", kSearchExcluded}};
    EXPECT_NEAR(ScoreSoundForLayer(e, 0.4f, 3.0f, kShapeBloom, terms, 0.3f, nullptr, -1.0f, 0),
                48.955396f, 1e-4);

    // A required term that misses, or an excluded term that hits, makes it unusable.
    EXPECT_EQ(ScoreSoundForLayer(e, 0.4f, 3.0f, kShapeBloom, {{"wood", kSearchRequired}}, 0.3f,
                                 nullptr, -1, 0),
              0.0f);
    EXPECT_EQ(ScoreSoundForLayer(e, 0.4f, 3.0f, kShapeBloom, {{"slam", kSearchExcluded}}, 0.3f,
                                 nullptr, -1, 0),
              0.0f);
}

TEST(LayerScore, UnusableInputsScoreZeroWithoutNaN) {
    LibraryEntry e = MakeEntry("metal_hit", 1.0f, 0.9f);
    // Brightness too far from the target: 0 whatever the keywords say.
    EXPECT_EQ(ScoreSoundForLayer(e, 0.0f, 1.0f, kShapeSpot, {{"metal", kSearchPlain}}, 0.5f,
                                 nullptr, -1, 0),
              0.0f);

    // Event lengths that are no length, and broken analysis values.
    LibraryEntry ok = MakeEntry("ok", 1.0f, 0.5f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float D : {0.0f, -1.0f, nan, inf})
        for (int shape = 0; shape < 5; ++shape)
            EXPECT_EQ(ScoreSoundForLayer(ok, 0.5f, D, shape, {}, 0.5f, nullptr, -1, 0), 0.0f);
    ok.duration = 0.0f;  // an entry without a length still scores a number
    EXPECT_TRUE(std::isfinite(ScoreSoundForLayer(ok, 0.5f, 1.0f, kShapeBloom, {}, 0.5f, nullptr, -1, 0)));
    ok.duration = nan;
    EXPECT_TRUE(std::isfinite(ScoreSoundForLayer(ok, 0.5f, 1.0f, kShapeSpot, {}, 0.5f, nullptr, -1, 0)));
    ok.duration = 1.0f;
    ok.temporalCentroid = nan;  // a damaged index value: unusable, not NaN
    EXPECT_EQ(ScoreSoundForLayer(ok, 0.5f, 1.0f, kShapeSpot, {}, 0.5f, nullptr, -1, 0), 0.0f);
}

TEST(ScoredList, BannedFilesKeepRuleAndOrder) {
    Project project;
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(60, 7);
    std::vector<const LibraryEntry*> pool = EntryPointers(entries);

    // Sorted descending, cut to the count, and exactly the best of the pool.
    std::vector<float> expected;
    for (const LibraryEntry* e : pool)
        expected.push_back(ScoreSoundForLayer(*e, 0.5f, 1.0f, kShapeSpot, {}, 0.5f, nullptr, -1, 0));
    std::sort(expected.rbegin(), expected.rend());
    ASSERT_GT(expected[7], 5.0f);
    std::vector<RenderCandidate> list =
        ScoreCandidates(project, pool, 0.5f, 1.0f, kShapeSpot, {}, 8, 0.5f, nullptr, -1, 0);
    ASSERT_EQ(list.size(), 8u);
    for (size_t i = 0; i < list.size(); ++i) EXPECT_FLOAT_EQ(list[i].score, expected[i]);

    // Banned by id and by path: never listed.
    const LibraryEntry* top = list[0].entry;
    const LibraryEntry* second = list[1].entry;
    project.bannedFileIds.push_back(top->fileId);
    project.bannedFiles.push_back(second->path);
    list = ScoreCandidates(project, pool, 0.5f, 1.0f, kShapeSpot, {}, 100, 0.5f, nullptr, -1, 0);
    for (const RenderCandidate& c : list) {
        EXPECT_NE(c.entry, top);
        EXPECT_NE(c.entry, second);
    }
    // The long banned list takes the set road; the same two stay out.
    for (int i = 0; i < 40; ++i) project.bannedFiles.push_back("/elsewhere/" + std::to_string(i));
    std::vector<RenderCandidate> again =
        ScoreCandidates(project, pool, 0.5f, 1.0f, kShapeSpot, {}, 100, 0.5f, nullptr, -1, 0);
    EXPECT_EQ(again.size(), list.size());
    for (const RenderCandidate& c : again) EXPECT_NE(c.entry, second);

    // A wholly banned pool gives nothing.
    Project allBanned;
    for (const LibraryEntry& e : entries) allBanned.bannedFiles.push_back(e.path);
    EXPECT_TRUE(ScoreCandidates(allBanned, pool, 0.5f, 1.0f, kShapeSpot, {}, 8, 0.5f, nullptr, -1, 0).empty());
    EXPECT_TRUE(ScoreCandidates(project, {}, 0.5f, 1.0f, kShapeSpot, {}, 8, 0.5f, nullptr, -1, 0).empty());
}

TEST(ScoredList, WeakPoolsStillOfferTheirBestSound) {
    Project project;
    // Sounds that score a little above 0 but never above 5: keyword terms
    // that miss cut the score to 15 %, and a poor spectral fit does the rest.
    std::vector<LibraryEntry> entries;
    for (int i = 0; i < 4; ++i) {
        LibraryEntry e = MakeEntry("quiet_" + std::to_string(i), 0.3f, 0.25f + 0.02f * i);
        entries.push_back(e);
    }
    std::vector<const LibraryEntry*> pool = EntryPointers(entries);
    std::vector<SearchTerm> terms = {{"zebra", kSearchPlain}};
    float best = -1;
    const LibraryEntry* bestEntry = nullptr;
    for (const LibraryEntry* e : pool) {
        float s = ScoreSoundForLayer(*e, 0.45f, 4.0f, kShapeBloom, terms, 0.5f, nullptr, -1, 0);
        ASSERT_LE(s, 5.0f);
        if (s > best) best = s, bestEntry = e;
    }
    ASSERT_GT(best, 0.01f);
    std::vector<RenderCandidate> list =
        ScoreCandidates(project, pool, 0.45f, 4.0f, kShapeBloom, terms, 8, 0.5f, nullptr, -1, 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].entry, bestEntry);
    EXPECT_FLOAT_EQ(list[0].score, best);

    // A required term that no sound matches: every score is 0, the first
    // candidate that is not banned stays with 0.01.
    project.bannedFiles.push_back(entries[0].path);
    list = ScoreCandidates(project, pool, 0.45f, 1.0f, kShapeSpot, {{"zebra", kSearchRequired}}, 8,
                           0.5f, nullptr, -1, 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].entry, &entries[1]);
    EXPECT_FLOAT_EQ(list[0].score, 0.01f);
}

TEST(ScoredList, TermCacheGivesIdenticalScores) {
    Project project;
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(400, 3);
    std::vector<const LibraryEntry*> pool = EntryPointers(entries);
    std::vector<SearchTerm> terms = ParseSearchQuery("metal +hit* -glass");
    const float bands[5] = {0.1f, 0.5f, 0.9f, 0.2f, 0.0f};

    TermHitCache cache;
    for (float w : {0.3f, 0.45f, 0.15f}) {
        std::vector<RenderCandidate> plain =
            ScoreCandidates(project, pool, w, 1.5f, kShapeSpot, terms, 16, 0.8f, bands, 0.4f, 2);
        std::vector<RenderCandidate> cached = ScoreCandidates(project, pool, w, 1.5f, kShapeSpot, terms,
                                                              16, 0.8f, bands, 0.4f, 2, &cache);
        ASSERT_EQ(plain.size(), cached.size());
        ASSERT_FALSE(plain.empty());
        for (size_t i = 0; i < plain.size(); ++i) {
            EXPECT_EQ(plain[i].score, cached[i].score);  // bit for bit
            EXPECT_EQ(plain[i].entry->fileId, cached[i].entry->fileId);
        }
    }
    // Each entry was matched once; the later scorings only read the cache.
    EXPECT_EQ(cache.misses, pool.size());
    EXPECT_EQ(cache.hits, 2 * pool.size());

    // The same query over a pool in another order, then another query: the
    // cache notices every slot that no longer fits.
    std::vector<const LibraryEntry*> reversed(pool.rbegin(), pool.rend());
    for (const std::vector<SearchTerm>& q : {terms, ParseSearchQuery("wood")}) {
        std::vector<RenderCandidate> a =
            ScoreCandidates(project, reversed, 0.5f, 1.0f, kShapeFill, q, 8, 0.5f, nullptr, -1, 0, &cache);
        std::vector<RenderCandidate> b =
            ScoreCandidates(project, reversed, 0.5f, 1.0f, kShapeFill, q, 8, 0.5f, nullptr, -1, 0);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].score, b[i].score);
    }
}

TEST(Repetition, FactorsByUseCountAndDistance) {
    auto used = [](int count, float nearest) {
        std::vector<UsedSound> list;
        for (int i = 0; i < count; ++i) list.push_back({"/a.wav", 0, 1, 10.0f + nearest + 5.0f * i});
        list.push_back({"/other.wav", 0, 1, 10.0f});
        return list;
    };
    const std::vector<UsedSound> none;
    EXPECT_FLOAT_EQ(RepetitionFactor("/a.wav", none, used(1, 2.0f), 10.0f), 0.075f);
    EXPECT_FLOAT_EQ(RepetitionFactor("/a.wav", none, used(4, 8.0f), 10.0f), 0.15f);
    EXPECT_FLOAT_EQ(RepetitionFactor("/a.wav", none, used(2, 4.0f), 10.0f), 0.1f);
    EXPECT_FLOAT_EQ(RepetitionFactor("/a.wav", none, used(1, 20.0f), 10.0f), 0.75f);
    EXPECT_FLOAT_EQ(RepetitionFactor("/a.wav", none, used(0, 0.0f), 10.0f), 1.0f);
    EXPECT_FLOAT_EQ(RepetitionFactor("/a.wav", none, none, 10.0f), 1.0f);
    // Already in this event: never again through this factor.
    EXPECT_EQ(RepetitionFactor("/a.wav", {{"/a.wav", 0, 1, 0}}, none, 10.0f), 0.0f);
}

TEST(Features, BandWeightsSuitabilityAndFadeFactor) {
    float w[5];
    BandWeights5(0.5f, w);
    EXPECT_NEAR(w[0] + w[1] + w[2] + w[3] + w[4], 1.0f, 1e-6);
    EXPECT_NEAR(w[0], w[4], 1e-6);
    EXPECT_NEAR(w[1], w[3], 1e-6);
    EXPECT_EQ(std::max_element(w, w + 5) - w, 2);
    // The weight moves the peak across the bands.
    BandWeights5(0.0f, w);
    EXPECT_EQ(std::max_element(w, w + 5) - w, 0);
    BandWeights5(1.0f, w);
    EXPECT_EQ(std::max_element(w, w + 5) - w, 4);
    EXPECT_NEAR(w[0] + w[1] + w[2] + w[3] + w[4], 1.0f, 1e-6);

    LibraryEntry tone = MakeEntry("tone");
    tone.harmonicity = 0.9f;
    tone.pitchConfidence = 0.9f;
    tone.spectralFlatness = 0.02f;
    LibraryEntry noise = MakeEntry("noise");
    noise.spectralFlatness = 0.9f;
    noise.zeroCrossingRate = 0.8f;
    noise.spectralFlux = 0.1f;
    EXPECT_LT(SuitabilityScore(tone), SuitabilityScore(noise));
    EXPECT_LT(SoundFadeFactor(tone), SoundFadeFactor(noise));
}
