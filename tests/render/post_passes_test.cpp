// Post passes: staggering and band curves, density, silence protection,
// destructive EQ and the heatmap's crowding measure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "render/post_passes.h"
#include "render/track_assignment.h"

namespace {

int AddLayer(Project& p, int eventIdx, float start, float duration, float level = 1.0f,
             float weight = 0.5f) {
    RenderResult r;
    r.eventIdx = eventIdx;
    r.group = 1;
    r.startTime = start;
    r.duration = duration;
    r.layerGain = level;
    r.weight = weight;
    p.results.push_back(r);
    return static_cast<int>(p.results.size()) - 1;
}

int AddSpan(Project& p, float start, float duration) {
    int e = AddEvent(p, start, kShapeSpot, 0.5f);
    p.events[e].duration = duration;
    p.events[e].syncOffset = 0;
    return e;
}

float MinPoint(const RenderResult& r) {
    float m = 1e9f;
    for (float v : r.deconGain) m = std::min(m, v);
    return m;
}

const float kFourDb = std::pow(10.0f, -4.0f / 20.0f);

}  // namespace

TEST(DeconflictPass, StaggersLayersOfOneEventThatStartTogether) {
    Project p;
    AddSpan(p, 1.0f, 2.0f);
    AddSpan(p, 1.0f, 2.0f);
    int quiet = AddLayer(p, 0, 1.000f, 2.0f, 0.5f);
    int loud = AddLayer(p, 0, 1.005f, 2.0f, 1.0f);
    int mid = AddLayer(p, 0, 1.012f, 2.0f, 1.0f);
    p.results[mid].userVolume = 0.8f;  // level = layerGain x userVolume
    int apart = AddLayer(p, 0, 1.020f, 2.0f, 0.3f);
    int otherEvent = AddLayer(p, 1, 1.000f, 2.0f, 0.2f);
    p.results[apart].deconOffset = 0.02f;  // stale offset from an earlier render
    DeconflictPass(p);
    EXPECT_FLOAT_EQ(p.results[loud].deconOffset, 0.0f);
    EXPECT_NEAR(p.results[mid].deconOffset, 0.01f / 3 + 0.005f + 0.015f * (1 - 0.8f), 1e-6);
    EXPECT_NEAR(p.results[quiet].deconOffset, -0.6f * (0.02f / 3 + 0.005f + 0.015f * (1 - 0.5f)), 1e-6);
    EXPECT_FLOAT_EQ(p.results[apart].deconOffset, 0.0f);
    EXPECT_FLOAT_EQ(p.results[otherEvent].deconOffset, 0.0f);
}

TEST(DeconflictPass, HeroBandsAreNotCutForTheHeroAndStaleCurvesAreCleared) {
    Project p;
    int heroEvent = AddSpan(p, 0.0f, 2.0f);
    p.events[heroEvent].hero = true;
    AddSpan(p, 0.0f, 2.0f);
    AddSpan(p, 10.0f, 1.0f);
    int hero = AddLayer(p, heroEvent, 0.0f, 2.0f, 1.0f);
    int louder = AddLayer(p, 1, 0.0f, 2.0f, 2.0f);
    int alone = AddLayer(p, 2, 10.0f, 1.0f, 1.0f);
    for (int i : {hero, alone}) {
        p.results[i].hasDeconGain = true;
        p.results[i].deconGain.fill(0.25f);
    }
    DeconflictPass(p);
    EXPECT_FALSE(p.results[hero].hasDeconGain);
    EXPECT_FALSE(p.results[alone].hasDeconGain);
    // A louder layer cannot take a band from a hero, so it is the one that yields.
    ASSERT_TRUE(p.results[louder].hasDeconGain);
    EXPECT_LT(MinPoint(p.results[louder]), 0.99f);
    EXPECT_GT(MinPoint(p.results[louder]), std::pow(10.0f, -9.0f / 20.0f) - 1e-6f);
}

TEST(DensityPass, CutsOnlyWhereCrowdedAtMostFourDbAndSparesHeroes) {
    Project p;
    AddSpan(p, 0.0f, 10.0f);
    int heroEvent = AddSpan(p, 0.0f, 10.0f);
    p.events[heroEvent].hero = true;
    for (int i = 0; i < 10; ++i) AddLayer(p, 0, 0.0f, 10.0f, 1.0f);
    int quiet = AddLayer(p, 0, 0.0f, 10.0f, 0.01f);
    int hero = AddLayer(p, heroEvent, 0.0f, 10.0f, 1.0f);
    int sparse = AddLayer(p, 0, 20.0f, 10.0f, 0.01f);  // four at most from here on
    for (int i = 0; i < 3; ++i) AddLayer(p, 0, 20.0f, 10.0f, 1.0f);
    int withCurve = 0;
    p.results[withCurve].hasDeconGain = true;
    p.results[withCurve].deconGain.fill(0.5f);
    DensityPass(p);

    EXPECT_FALSE(p.results[hero].hasDeconGain);
    EXPECT_FALSE(p.results[sparse].hasDeconGain);
    ASSERT_TRUE(p.results[quiet].hasDeconGain);
    // Density 12 up to two seconds before the cluster's end: the quiet layer
    // (far below the mean) takes the full 4 dB, the loud ones 0.3 of it.
    const float loudGain = std::pow(10.0f, -1.2f / 20.0f);
    for (int k = 0; k < 25; ++k) {
        EXPECT_NEAR(p.results[quiet].deconGain[k], kFourDb, 1e-5);
        EXPECT_NEAR(p.results[1].deconGain[k], loudGain, 1e-5);
        EXPECT_NEAR(p.results[withCurve].deconGain[k], 0.5f * loudGain, 1e-5);
    }
    for (float g : p.results[quiet].deconGain) EXPECT_GE(g, kFourDb - 1e-6f);
}

TEST(BandCrowdingAt, MeasuresSumOverLargestOfThePlayingLayers) {
    Project p;
    AddSpan(p, 0.0f, 4.0f);
    int a = AddLayer(p, 0, 0.0f, 2.0f);
    EXPECT_FLOAT_EQ(BandCrowdingAt(p, 1.0f, 2, false), 0.0f);  // one layer only
    AddLayer(p, 0, 0.5f, 2.0f);
    EXPECT_NEAR(BandCrowdingAt(p, 1.0f, 2, false), 1.0f, 1e-6);
    EXPECT_FLOAT_EQ(BandCrowdingAt(p, 2.2f, 2, false), 0.0f);  // the first has ended
    p.results[a].hasDeconGain = true;
    p.results[a].deconGain.fill(0.5f);
    EXPECT_NEAR(BandCrowdingAt(p, 1.0f, 2, false), 0.5f, 1e-6);  // (0.5 + 1) / 1 - 1
    EXPECT_NEAR(BandCrowdingAt(p, 1.0f, 2, true), 1.0f, 1e-6);   // raw ignores curves
    p.results[a].deconOffset = 1.5f;                              // and offsets
    EXPECT_FLOAT_EQ(BandCrowdingAt(p, 1.0f, 2, false), 0.0f);
    EXPECT_NEAR(BandCrowdingAt(p, 1.0f, 2, true), 1.0f, 1e-6);
}

TEST(BandCrowdingAt, ColumnsGiveTheSameBitsAsSingleCalls) {
    Project p;
    AddSpan(p, 0.0f, 60.0f);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < 300; ++i) {
        int r = AddLayer(p, 0, 60.0f * u(rng), 0.2f + 6.0f * u(rng), 0.1f + u(rng), u(rng));
        p.results[r].userVolume = 0.5f + u(rng);
        p.results[r].deconOffset = 0.03f * (u(rng) - 0.5f);
        p.results[r].muted = i % 17 == 0;
        if (i % 3 == 0) {
            p.results[r].hasDeconGain = true;
            for (float& g : p.results[r].deconGain) g = 0.3f + 0.7f * u(rng);
        }
    }
    std::vector<float> times;
    for (int c = 0; c < 700; ++c) times.push_back(-1.0f + 70.0f * c / 699.0f);
    for (int c = 0; c < 40; ++c) times.push_back(60.0f * u(rng));  // not ascending any more
    for (int count : {700, static_cast<int>(times.size())}) {
        for (bool raw : {false, true}) {
            std::vector<float> out(static_cast<size_t>(count) * 5, -1.0f);
            BandCrowdingColumns(p, times.data(), count, raw, out.data());
            for (int i = 0; i < count * 5; ++i) ASSERT_EQ(out[i], BandCrowdingAt(p, times[i / 5], i % 5, raw));
        }
    }
}

TEST(ProtectSilencePass, CutsTailsAtTheStartOfAGap) {
    Project p;
    AddSpan(p, 0.0f, 1.0f);
    AddSpan(p, 3.0f, 1.0f);
    AddSpan(p, 6.0f, 1.0f);
    AddSpan(p, 7.005f, 1.0f);  // a gap of 5 ms is no gap
    int tail = AddLayer(p, 0, 0.0f, 2.5f);
    p.results[tail].fadeIn = 0.8f;
    p.results[tail].fadeOut = 0.01f;
    int preRoll = AddLayer(p, 1, 0.5f, 3.4f);  // starts before its event, ends inside it
    int across = AddLayer(p, 2, 6.5f, 1.2f);
    // The budget may give this one a track again after the pass: cut it too.
    int budgetMuted = AddLayer(p, 0, 0.0f, 2.5f);
    SetMuteReason(p.results[budgetMuted], kMuteBudget, true);
    int userMuted = AddLayer(p, 0, 0.0f, 2.5f);
    SetUserMuted(p.results[userMuted], true);
    ProtectSilencePass(p);
    EXPECT_FLOAT_EQ(p.results[tail].duration, 1.0f);
    EXPECT_FLOAT_EQ(p.results[tail].fadeIn, 0.45f);
    EXPECT_FLOAT_EQ(p.results[tail].fadeOut, 0.03f);
    EXPECT_FALSE(p.results[tail].muted);
    EXPECT_FLOAT_EQ(p.results[preRoll].duration, 3.4f);
    EXPECT_FLOAT_EQ(p.results[across].duration, 1.2f);
    EXPECT_FLOAT_EQ(p.results[budgetMuted].duration, 1.0f);
    EXPECT_EQ(p.results[budgetMuted].muteReasons, kMuteBudget);
    EXPECT_FLOAT_EQ(p.results[userMuted].duration, 2.5f);
}

TEST(ProtectSilencePass, ShortRemainderIsMutedTrimmedAndStaysMutedThroughThePasses) {
    Project p;
    AddSpan(p, 0.0f, 1.0f);
    AddSpan(p, 3.0f, 1.0f);
    AddSpan(p, 3.0f, 1.0f);
    int remainder = AddLayer(p, 0, 0.97f, 1.0f);  // only 30 ms before the gap
    int user = AddLayer(p, 1, 3.0f, 1.0f);
    int banned = AddLayer(p, 2, 3.0f, 1.0f);
    SetUserMuted(p.results[user], true);
    SetMuteReason(p.results[banned], kMuteBan, true);

    ProtectSilencePass(p);
    DeconflictPass(p);
    DensityPass(p);
    DestructiveEqPass(p);
    AssignTracks(p);
    EXPECT_TRUE(p.results[remainder].muted);
    EXPECT_EQ(p.results[remainder].muteReasons, kMuteSilence);
    EXPECT_NEAR(p.results[remainder].duration, 0.03f, 1e-5);
    EXPECT_LE(p.results[remainder].fadeOut, 0.45f * 0.03f + 1e-6f);
    EXPECT_TRUE(p.results[user].muted);
    EXPECT_TRUE(p.results[banned].muted);
}

TEST(DestructiveEqPass, CutsDrownedBandsOnlyAndResetsEveryRun) {
    Project p;
    AddSpan(p, 0.0f, 10.0f);
    int quiet = AddLayer(p, 0, 0.0f, 4.0f, 0.2f);
    int loud = AddLayer(p, 0, 0.0f, 4.0f, 1.0f);
    int halfCovered = AddLayer(p, 0, 3.0f, 5.0f, 0.05f);  // 1 s of 5 overlaps the others
    int muted = AddLayer(p, 0, 0.0f, 4.0f, 1.0f);
    SetUserMuted(p.results[muted], true);
    p.results[muted].hasEqGains = true;
    p.results[muted].eqGains.fill(0.3f);
    int tiny = AddLayer(p, 0, 20.0f, 2.0f, 0.005f);
    AddLayer(p, 0, 20.0f, 2.0f, 0.008f);

    DestructiveEqPass(p);
    ASSERT_TRUE(p.results[quiet].hasEqGains);
    const auto& eq = p.results[quiet].eqGains;
    EXPECT_LT(*std::min_element(eq.begin(), eq.end()), 0.99f);
    EXPECT_GE(*std::min_element(eq.begin(), eq.end()), std::pow(10.0f, -6.0f / 20.0f) - 1e-6f);
    EXPECT_LE(*std::max_element(eq.begin(), eq.end()), 1.0f);
    EXPECT_FALSE(p.results[loud].hasEqGains);
    EXPECT_FALSE(p.results[halfCovered].hasEqGains);
    EXPECT_FALSE(p.results[muted].hasEqGains);
    for (float g : p.results[muted].eqGains) EXPECT_FLOAT_EQ(g, 1.0f);
    // Below the 0.01 level floor the formula would turn into a boost; it must not.
    EXPECT_FALSE(p.results[tiny].hasEqGains);
    for (float g : p.results[tiny].eqGains) EXPECT_FLOAT_EQ(g, 1.0f);
}

TEST(PostPasses, SkipLayersWithUnusableTimesWithoutHugeGrids) {
    Project p;
    AddSpan(p, 1.0f, 2.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    int a = AddLayer(p, 0, 1.0f, 2.0f, 1.0f);
    int b = AddLayer(p, 0, 1.0f, 2.0f, 0.5f);
    std::vector<int> bad = {AddLayer(p, 0, nan, 2.0f), AddLayer(p, 0, 1e12f, 2.0f),
                            AddLayer(p, 0, -1e12f, 2.0f),
                            AddLayer(p, 0, 1.0f, std::numeric_limits<float>::infinity())};
    for (int i : bad) p.results[i].deconOffset = 0.125f;
    p.results[a].deconOffset = nan;
    ProtectSilencePass(p);
    DeconflictPass(p);
    DensityPass(p);
    DestructiveEqPass(p);
    AssignTracks(p);
    EXPECT_FLOAT_EQ(p.results[a].deconOffset, 0.0f);
    EXPECT_GT(p.results[b].deconOffset, 0.005f);
    for (int i : bad) EXPECT_FLOAT_EQ(p.results[i].deconOffset, 0.125f);
    EXPECT_TRUE(std::isfinite(BandCrowdingAt(p, 1.5f, 2, false)));
}
