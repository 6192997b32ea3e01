// Spot, Fill and Scatter layers: counts, target weights, Fill's two modes and
// its gain curve, Scatter's bins and grains.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "render/render_curves.h"
#include "render/render_pass.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

RenderSeeds FixedSeeds(uint32_t seed) { return FixedRenderSeeds(seed, seed * 31u + 5u); }

void Render(Project& project, const SoundLibrary& library, uint32_t seed = 1) {
    RenderEventsWithSeeds(project, library, -1, -1, -1, false, false, FixedSeeds(seed));
}

}  // namespace

TEST(SpotLayers, CountAndWeightsFollowIntensityAndSpread) {
    Event hero;
    hero.hero = true;
    hero.spread = 0.0f;
    EXPECT_EQ(EventLayerCount(hero, 1.0f, 8), 6);  // 3 + 0 + 1, then half again
    hero.spread = 1.0f;
    EXPECT_EQ(EventLayerCount(hero, 1.0f, 8), 8);  // capped
    Event plain;
    plain.spread = 0.5f;
    EXPECT_EQ(EventLayerCount(plain, 0.5f, 8), 5);
    Event fill;
    fill.shape = kShapeFill;
    fill.fillLayers = 12;
    EXPECT_EQ(EventLayerCount(fill, 0.5f, 12), 12);

    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Synth", MakeSyntheticEntries(300, 11)));
    Project project;
    int quiet = AddEvent(project, 1.0f, kShapeSpot, 0.6f);
    project.events[quiet].spread = 1.0f;
    FillCurve(project.events[quiet].intensity, 0.2f);
    int loud = AddEvent(project, 5.0f, kShapeSpot, 0.5f);
    project.events[loud].spread = 1.0f;
    FillCurve(project.events[loud].intensity, 1.0f);
    Render(project, library);

    auto q = LayersOfEvent(project, quiet);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_FLOAT_EQ(q[0]->weight, 0.6f);
    auto l = LayersOfEvent(project, loud);
    ASSERT_EQ(l.size(), 5u);
    std::vector<float> weights;
    for (const RenderResult* r : l) {
        weights.push_back(r->weight);
        EXPECT_FALSE(r->filepath.empty());
        EXPECT_EQ(r->procMode, 2);
        EXPECT_TRUE(r->hasIntGain);
        EXPECT_GE(r->startTime, 5.0f - 0.12f - 1e-5f);  // never earlier than just before the event
        EXPECT_GE(r->duration, 0.1f - 1e-6f);
        EXPECT_LE(r->fadeIn + r->fadeOut, 0.8f * r->duration + 1e-5f);
    }
    std::sort(weights.begin(), weights.end());
    const float want[5] = {0.25f, 0.375f, 0.5f, 0.625f, 0.75f};
    for (int k = 0; k < 5; ++k) EXPECT_NEAR(weights[k], want[k], 1e-5f);
    // Five different sounds: the event never uses one twice.
    std::set<std::string> files;
    for (const RenderResult* r : l) files.insert(r->filepath);
    EXPECT_EQ(files.size(), 5u);
}

TEST(FillLayers, LibraryOrderPlaysTheNamedSoundsByBrightness) {
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Trio", {MakeEntry("bright", 3.0f, 0.8f),
                                                     MakeEntry("dark", 5.0f, 0.2f),
                                                     MakeEntry("mid", 4.0f, 0.5f)}));
    library.libraries.push_back(MakeLibrary("Synth", MakeSyntheticEntries(100, 5)));
    Project project;
    int fill = AddEvent(project, 0.0f, kShapeFill, 0.5f);
    CopyTextField(project.events[fill].libFilter, "Trio");
    Render(project, library);
    auto layers = LayersOfEvent(project, fill);
    ASSERT_EQ(layers.size(), 3u);
    const char* order[3] = {"dark", "mid", "bright"};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(layers[k]->name, order[k]);
        EXPECT_EQ(layers[k]->sourceOffset, 0.0f);
        EXPECT_EQ(layers[k]->procMode, 1);
        EXPECT_EQ(layers[k]->track >= 0, true);
        EXPECT_TRUE(layers[k]->hasFillGain);
    }
    EXPECT_FLOAT_EQ(layers[0]->sourceDuration, 5.0f);
    // One frame of crossfade at the default 24 fps.
    EXPECT_NEAR(layers[0]->duration, 8.0f + 1.0f / 24.0f, 1e-5f);
}

TEST(FillLayers, FlatCurveStillGetsThreeLayersWithSmoothedGains) {
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Synth", MakeSyntheticEntries(200, 8)));
    Project project;
    int flat = AddEvent(project, 0.0f, kShapeFill, 0.5f);
    FillCurve(project.events[flat].weight, 0.5f);
    int step = AddEvent(project, 10.0f, kShapeFill, 0.5f);
    for (int i = 0; i < 256; ++i) project.events[step].weight[i] = i < 128 ? 0.1f : 0.9f;
    Render(project, library);

    auto layers = LayersOfEvent(project, flat);
    ASSERT_GE(layers.size(), 3u);
    std::set<float> weights;
    for (const RenderResult* r : layers) weights.insert(r->weight);
    EXPECT_NEAR(*weights.begin(), 0.45f, 1e-5f);
    EXPECT_NEAR(*weights.rbegin(), 0.55f, 1e-5f);

    // The darkest layer of the stepped event sounds in the first half and
    // fades around the step, the smoothing reaching to both sides of it.
    const RenderResult* dark = nullptr;
    for (const RenderResult* r : LayersOfEvent(project, step))
        if (!dark || r->weight < dark->weight) dark = r;
    ASSERT_NE(dark, nullptr);
    ASSERT_TRUE(dark->hasFillGain);
    const auto& g = dark->fillGain;
    float high = g[20], low = g[110];
    EXPECT_GT(high, 0.9f);
    EXPECT_LT(low, 0.05f);
    EXPECT_LT(g[60], high - 0.02f);  // the gain starts to fall before the step
    EXPECT_GT(g[68], low + 0.02f);   // and has not yet reached the floor after it
    for (int j = 1; j < 128; ++j) EXPECT_LE(g[j], g[j - 1] + 1e-5f) << j;
}

TEST(FillLayers, ScoredPicksComeFromTheBestEightWithTheirOwnSeed) {
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(60, 21);
    std::vector<const LibraryEntry*> pool = EntryPointers(entries);
    std::set<std::string> picked;
    for (uint32_t salt = 1; salt <= 40; ++salt) {
        Project project;
        int fill = AddEvent(project, 0.0f, kShapeFill, 0.5f);
        project.events[fill].fillLayers = 1;
        project.fillPickCounter = 100;
        std::vector<UsedSound> passUsed;
        uint32_t state = 5;
        RenderSeeds seeds = FixedSeeds(1);
        seeds.fillSalt = salt * 2654435761u;
        LayerBuildContext ctx;
        ctx.project = &project;
        ctx.eventIndex = fill;
        ctx.eventStart = 0.0f;
        ctx.eventEnd = project.events[fill].duration;
        ctx.layerCount = 1;
        ctx.fillCap = 1;
        ctx.pool = &pool;
        ctx.randomState = &state;
        ctx.seeds = &seeds;
        ctx.passUsed = &passUsed;
        BuildFillLayers(ctx);
        ASSERT_EQ(project.results.size(), 1u);
        EXPECT_EQ(project.fillPickCounter, 101u);
        EXPECT_EQ(state, 5u);  // the pass's own state is not used for this pick

        const Event& e = project.events[fill];
        float meanIntensity = 0;
        for (float v : e.intensity) meanIntensity += v / 256.0f;
        auto best = ScoreCandidates(project, pool, 0.5f, e.duration, kShapeFill, {}, 32,
                                    meanIntensity * e.intensityScale, nullptr, -1.0f, 0);
        ASSERT_GT(best.size(), 8u);
        std::set<std::string> top8;
        for (int i = 0; i < 8; ++i) top8.insert(best[i].entry->path);
        EXPECT_EQ(top8.count(project.results[0].filepath), 1u) << project.results[0].name;
        picked.insert(project.results[0].filepath);
        EXPECT_EQ(passUsed.size(), 1u);
        EXPECT_EQ(passUsed[0].sourceOffset, 0.0f);
    }
    EXPECT_GE(picked.size(), 3u);
}

TEST(ScatterLayers, BinsGrainsAndTheirCap) {
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Synth", MakeSyntheticEntries(200, 4)));
    Project project;
    int tiny = AddEvent(project, 1.0f, kShapeScatter, 0.5f);
    project.events[tiny].duration = 0.05f;
    FillCurve(project.events[tiny].intensity, 1.0f);
    int dense = AddEvent(project, 3.0f, kShapeScatter, 0.5f);
    project.events[dense].duration = 30.0f;
    FillCurve(project.events[dense].intensity, 1.0f);
    int absurd = AddEvent(project, 40.0f, kShapeScatter, 0.5f);
    project.events[absurd].intensityScale = 1e12f;  // counts stay bounded, no overflow
    Render(project, library);

    // One bin of 0.05 s expects 1.5 grains at full intensity.
    auto t = LayersOfEvent(project, tiny);
    EXPECT_GE(t.size(), 1u);
    EXPECT_LE(t.size(), 2u);
    auto d = LayersOfEvent(project, dense);
    EXPECT_EQ(d.size(), 96u);  // 12 x the fill cap of 8
    for (const RenderResult* r : d) {
        EXPECT_FALSE(r->hasIntGain);
        EXPECT_EQ(r->procMode, 2);
        EXPECT_GE(r->startTime, 3.0f);
        EXPECT_LE(r->duration, 0.6f + 0.08f + 1e-5f);
        EXPECT_FLOAT_EQ(r->fadeIn, 0.005f);
    }
    EXPECT_EQ(LayersOfEvent(project, absurd).size(), 96u);
}

TEST(ScatterLayers, GrainsStayWhereTheyWereDrawn) {
    // Two libraries of alike sounds that differ only in how slowly their burst
    // rises to its peak: the same draws place the grains, while the sync
    // points (the peaks) lie at different depths of the fitted regions.
    TempDir dir;
    auto library = [&](const std::string& prefix, double attack) {
        std::vector<BurstSound> sounds;
        for (int i = 0; i < 10; ++i) {
            BurstSound s;
            s.name = prefix + std::to_string(i);
            s.seconds = 0.8;
            s.bursts = {Burst{0.1, 0.4, 0.8, 0, attack, 0.02}};
            sounds.push_back(s);
        }
        auto lib = std::make_unique<SoundLibrary>();
        lib->libraries.push_back(MakeBurstLibrary(dir.path(), prefix, sounds));
        return lib;
    };
    auto early = library("early", 0.005);
    auto late = library("late", 0.3);
    auto render = [](const SoundLibrary& lib) {
        Project p;
        int e = AddEvent(p, 2.0f, kShapeScatter, 0.5f);
        p.events[e].duration = 0.5f;
        FillCurve(p.events[e].intensity, 0.6f);
        Render(p, lib, 42);
        return p;
    };
    Project a = render(*early);
    Project b = render(*late);
    ASSERT_EQ(a.results.size(), b.results.size());
    ASSERT_GE(a.results.size(), 3u);
    int real = 0;
    bool syncDiffers = false;
    for (size_t i = 0; i < a.results.size(); ++i) {
        EXPECT_EQ(a.results[i].startTime, b.results[i].startTime) << i;
        if (a.results[i].filepath.empty()) continue;
        ++real;
        if (std::fabs(a.results[i].audioSyncOffset - b.results[i].audioSyncOffset) > 0.01f) syncDiffers = true;
    }
    EXPECT_GE(real, 3);
    EXPECT_TRUE(syncDiffers);
}
