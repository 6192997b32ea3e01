// Alloy layers: how many, their four sources and windows, sketches, and the
// support layers over the louder passages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "render/alloy_layers.h"
#include "render/render_curves.h"
#include "support/layer_builder_rig.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

void LinearCurve(Curve256& c, float a, float b) {
    for (int i = 0; i < 256; ++i) c[i] = a + (b - a) * static_cast<float>(i) / 255.0f;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(AlloyLayers, ConstantWeightGivesOneLayerOfFourSourcesAndSupportLayers) {
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(200, 7);
    LayerBuilderRig rig;
    rig.pool = EntryPointers(entries);
    Project& project = rig.project;
    project.alloyAlgorithm = 1;
    int e = AddEvent(project, 2.0f, kShapeSpot, 0.6f);
    Event& event = project.events[e];
    event.alloy = true;
    event.alloyMorph = 0.7f;
    event.duration = 3.0f;
    LayerBuildContext ctx = rig.For(e);
    ASSERT_EQ(ctx.layerCount, 3);
    BuildAlloyLayers(ctx);

    ASSERT_EQ(project.results.size(), 3u);  // one alloy layer, two support layers (levels 0.08 and 0.63)
    const RenderResult& alloy = project.results[0];
    EXPECT_EQ(alloy.procMode, 3);
    EXPECT_FLOAT_EQ(alloy.weight, 0.6f);
    EXPECT_FLOAT_EQ(alloy.startTime, 2.0f);
    EXPECT_FLOAT_EQ(alloy.duration, 3.0f);
    EXPECT_FLOAT_EQ(alloy.sourceDuration, 3.0f);
    EXPECT_FLOAT_EQ(alloy.alloyMorph, 0.7f);
    EXPECT_EQ(alloy.alloyAlgo, 1);
    ASSERT_TRUE(alloy.hasAlloyCurves);
    for (int i = 0; i < 32; ++i) {
        EXPECT_FLOAT_EQ(alloy.alloyWeightCurve[i], 0.6f);
        EXPECT_FLOAT_EQ(alloy.alloyIntensityCurve[i], 0.65f);
    }
    // Four different sounds; the event's used list holds each of them.
    std::set<std::string> paths = {alloy.filepath, alloy.alloyMid.filepath, alloy.alloyHigh.filepath,
                                   alloy.alloyEnv.filepath};
    EXPECT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths.count(""), 0u);
    for (const std::string& p : paths) {
        EXPECT_TRUE(std::any_of(ctx.eventUsed.begin(), ctx.eventUsed.end(),
                                [&](const UsedSound& u) { return u.path == p; }));
    }
    EXPECT_TRUE(EndsWith(alloy.name, " Designed_01")) << alloy.name;
    EXPECT_LE(alloy.fadeIn + alloy.fadeOut, 0.85f * alloy.duration + 1e-5f);

    // Support layers: numbered after the alloy layer, inside the event (or
    // the 0.1 s minimum), each with a main sound and three more sources.
    for (int k = 1; k < 3; ++k) {
        const RenderResult& s = project.results[k];
        EXPECT_EQ(s.procMode, 3);
        EXPECT_EQ(s.track, k);
        EXPECT_TRUE(EndsWith(s.name, "_0" + std::to_string(k + 1))) << s.name;
        EXPECT_FALSE(s.filepath.empty());
        EXPECT_FALSE(s.alloyMid.filepath.empty());
        EXPECT_GE(s.startTime, 2.0f - 1e-5f);
        EXPECT_GE(s.duration, 0.1f - 1e-6f);
        if (s.duration > 0.1f + 1e-5f) {
            EXPECT_LE(s.startTime + s.duration, 5.0f + 1e-4f);
        }
        EXPECT_LE(s.fadeIn + s.fadeOut, (0.12f * s.fadeFactor + 0.8f) * s.duration + 1e-5f);
    }
    EXPECT_EQ(ctx.realLayers, 2);  // the support layers' main sounds
}

TEST(AlloyLayers, WeightRangeSetsTheLayersAndEachSoundsNearItsWeight) {
    EXPECT_EQ(AlloyLayerCountForRange(0.149f), 1);
    EXPECT_EQ(AlloyLayerCountForRange(0.15f), 2);
    EXPECT_EQ(AlloyLayerCountForRange(0.449f), 2);
    EXPECT_EQ(AlloyLayerCountForRange(0.45f), 3);

    std::vector<LibraryEntry> entries = MakeSyntheticEntries(150, 9);
    LayerBuilderRig rig;
    rig.pool = EntryPointers(entries);
    int e = AddEvent(rig.project, 1.0f, kShapeBloom, 0.5f);
    Event& event = rig.project.events[e];
    event.alloy = true;
    LinearCurve(event.weight, 0.2f, 0.8f);
    FillCurve(event.intensity, 0.1f);  // too quiet for support layers
    LayerBuildContext ctx = rig.For(e);
    BuildAlloyLayers(ctx);
    ASSERT_EQ(rig.project.results.size(), 3u);
    const float expected[3] = {0.2f, 0.5f, 0.8f};
    for (int k = 0; k < 3; ++k) {
        const RenderResult& r = rig.project.results[k];
        EXPECT_NEAR(r.weight, expected[k], 1e-5f);
        EXPECT_NEAR(r.alloyWeightCurve[0], 0.2f, 1e-5f);
        EXPECT_NEAR(r.alloyWeightCurve[31], 0.8f, 1e-5f);
        EXPECT_TRUE(EndsWith(r.name, "_0" + std::to_string(k + 1))) << r.name;
    }
    // Over a flat intensity, the darkest layer is loud at the start and the
    // brightest at the end; the middle one peaks in the middle.
    const RenderResult& dark = rig.project.results[0];
    const RenderResult& middle = rig.project.results[1];
    const RenderResult& bright = rig.project.results[2];
    EXPECT_GT(dark.intGain[10], 3.0f * dark.intGain[245]);
    EXPECT_GT(bright.intGain[245], 3.0f * bright.intGain[10]);
    EXPECT_GT(middle.intGain[128], std::max(middle.intGain[5], middle.intGain[250]));

    // A single layer keeps its plain intensity lookup.
    LinearCurve(event.weight, 0.45f, 0.55f);
    rig.project.results.clear();
    ctx = rig.For(e);
    BuildAlloyLayers(ctx);
    ASSERT_EQ(rig.project.results.size(), 1u);
    EXPECT_NEAR(rig.project.results[0].weight, 0.5f, 1e-5f);
    EXPECT_NEAR(rig.project.results[0].intGain[10], rig.project.results[0].intGain[245], 1e-4f);
}

TEST(AlloyLayers, EmptyPoolMakesSketchesThatDrawNothing) {
    LayerBuilderRig rig;
    int e = AddEvent(rig.project, 1.0f, kShapeContour, 0.5f);
    Event& event = rig.project.events[e];
    event.alloy = true;
    LinearCurve(event.weight, 0.3f, 0.6f);
    FillCurve(event.intensity, 1.0f);  // loud, but there is nothing to support it with
    LayerBuildContext ctx = rig.For(e);
    const uint32_t before = rig.state;
    BuildAlloyLayers(ctx);
    EXPECT_EQ(rig.state, before);
    ASSERT_EQ(rig.project.results.size(), 2u);
    const RenderResult defaults;
    for (const RenderResult& r : rig.project.results) {
        EXPECT_EQ(r.name, "[Sketch] Alloy");
        EXPECT_TRUE(r.placeholder);
        EXPECT_TRUE(r.filepath.empty());
        EXPECT_EQ(r.sourceDuration, 0.0f);
        EXPECT_EQ(r.fadeIn, defaults.fadeIn);
        EXPECT_EQ(r.fadeOut, defaults.fadeOut);
    }

    // Pinned layers that already reach the layer count leave nothing to build.
    rig.project.results.clear();
    ctx = rig.For(e);
    ctx.pinnedCount = ctx.layerCount;
    BuildAlloyLayers(ctx);
    EXPECT_TRUE(rig.project.results.empty());
}

TEST(AlloyLayers, SourceWindowsPlayShortSoundsWholeAndMatchTheEnvelope) {
    float target[16] = {};
    target[7] = target[8] = 1.0f;
    uint32_t state = 99;

    // Shorter than wanted: whole, from 0, nothing drawn.
    LibraryEntry shortSound = MakeEntry("short", 0.8f);
    AlloyWindow w = ChooseAlloyWindow(shortSound, 2.0f, target, &state);
    EXPECT_EQ(w.offset, 0.0f);
    EXPECT_FLOAT_EQ(w.length, 0.8f);
    EXPECT_EQ(state, 99u);

    // Longer but unreadable: a drawn offset inside the slack, or 0 without a state.
    LibraryEntry missing = MakeEntry("missing_long", 5.0f);
    w = ChooseAlloyWindow(missing, 2.0f, target, &state);
    uint32_t expectState = 99;
    float r = NextRenderRandom(expectState);
    EXPECT_EQ(state, expectState);
    EXPECT_FLOAT_EQ(w.offset, r * 3.0f);
    EXPECT_FLOAT_EQ(w.length, 2.0f);
    EXPECT_EQ(ChooseAlloyWindow(missing, 2.0f, target, nullptr).offset, 0.0f);

    // Readable: the window that puts the file's burst (2.0 .. 2.3 s) where
    // the envelope peaks, its middle.
    TempDir dir;
    BurstSound sound;
    sound.name = "late_burst";
    sound.seconds = 4.0;
    sound.bursts = {Burst{2.0, 0.3, 0.8, 0.0, 0.005, 0.02}};
    LibraryIndex lib = MakeBurstLibrary(dir.path(), "Bursts", {sound});
    ASSERT_EQ(lib.entries.size(), 1u);
    uint32_t untouched = 5;
    w = ChooseAlloyWindow(lib.entries[0], 1.0f, target, &untouched);
    EXPECT_EQ(untouched, 5u);
    EXPECT_NEAR(w.offset + 0.5f, 2.15f, 0.12f);
    EXPECT_FLOAT_EQ(w.length, 1.0f);

    // In a layer: sounds shorter than the event play from 0 with their
    // whole length, and the layer still spans the event's duration.
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(60, 4);
    for (LibraryEntry& entry : entries) entry.duration = std::min(entry.duration, 0.9f);
    LayerBuilderRig rig;
    rig.pool = EntryPointers(entries);
    int e = AddEvent(rig.project, 1.0f, kShapeBloom, 0.5f);
    rig.project.events[e].alloy = true;
    FillCurve(rig.project.events[e].intensity, 0.1f);
    LayerBuildContext ctx = rig.For(e);
    BuildAlloyLayers(ctx);
    ASSERT_EQ(rig.project.results.size(), 1u);
    const RenderResult& layer = rig.project.results[0];
    EXPECT_EQ(layer.sourceOffset, 0.0f);
    EXPECT_FLOAT_EQ(layer.sourceDuration, 4.0f);
    for (const AlloySource* src : {&layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv}) {
        ASSERT_FALSE(src->filepath.empty());
        EXPECT_EQ(src->offset, 0.0f);
        const LibraryEntry* entry = nullptr;
        for (const LibraryEntry& x : entries)
            if (x.path == src->filepath) entry = &x;
        ASSERT_NE(entry, nullptr);
        EXPECT_FLOAT_EQ(src->duration, entry->duration);
    }
    ASSERT_EQ(ctx.eventUsed.size(), 4u);
    EXPECT_EQ(ctx.eventUsed[0].path, layer.filepath);
    EXPECT_LE(ctx.eventUsed[0].sourceDuration, 0.9f);  // the main window's own length

    // Draw order in a layer: the four target nudges, then per source its pick
    // and, right after it, its window. Two long unreadable sounds: the main
    // source picks between both (a draw) and draws its window; the mid source
    // finds only the other one (no pick draw, since the event already plays the
    // first) and draws its window; high and env find nothing.
    std::vector<LibraryEntry> pair = {MakeEntry("long_a", 5.0f, 0.5f), MakeEntry("long_b", 5.0f, 0.52f)};
    LayerBuilderRig pairRig;
    pairRig.pool = EntryPointers(pair);
    int pe = AddEvent(pairRig.project, 1.0f, kShapeSpot, 0.5f);
    Event& pairEvent = pairRig.project.events[pe];
    pairEvent.alloy = true;
    pairEvent.duration = 2.0f;
    FillCurve(pairEvent.weight, 0.5f);
    FillCurve(pairEvent.intensity, 0.1f);
    LayerBuildContext pairCtx = pairRig.For(pe);
    const uint32_t start = pairRig.state;
    BuildAlloyLayers(pairCtx);
    ASSERT_EQ(pairRig.project.results.size(), 1u);
    const RenderResult& pairLayer = pairRig.project.results[0];
    uint32_t expectDraws = start;
    float draws[7];
    for (float& d : draws) d = NextRenderRandom(expectDraws);
    EXPECT_EQ(pairRig.state, expectDraws);
    EXPECT_FLOAT_EQ(pairLayer.sourceOffset, draws[5] * 3.0f);
    EXPECT_FLOAT_EQ(pairLayer.alloyMid.offset, draws[6] * 3.0f);
    EXPECT_NE(pairLayer.filepath, pairLayer.alloyMid.filepath);
    EXPECT_TRUE(pairLayer.alloyHigh.filepath.empty());
    EXPECT_TRUE(pairLayer.alloyEnv.filepath.empty());
    EXPECT_FLOAT_EQ(pairLayer.sourceDuration, 2.0f);

    // No source found at all (every sound banned): a "(no match)" placeholder
    // that still spans the event, and no support layer.
    pairRig.project.results.clear();
    pairRig.project.bannedFiles = {pair[0].path, pair[1].path};
    FillCurve(pairEvent.intensity, 0.9f);
    pairCtx = pairRig.For(pe);
    BuildAlloyLayers(pairCtx);
    ASSERT_EQ(pairRig.project.results.size(), 1u);
    EXPECT_EQ(pairRig.project.results[0].name, "(no match)");
    EXPECT_TRUE(pairRig.project.results[0].placeholder);
    EXPECT_TRUE(pairRig.project.results[0].filepath.empty());
    EXPECT_FLOAT_EQ(pairRig.project.results[0].sourceDuration, 2.0f);
}

TEST(AlloyLayers, SupportLayersFollowThePeaksAndStopAboveThem) {
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(150, 12);
    auto supportCount = [&](float peak) {
        LayerBuilderRig rig;
        rig.pool = EntryPointers(entries);
        int e = AddEvent(rig.project, 1.0f, kShapeSpot, 0.5f);
        rig.project.events[e].alloy = true;
        FillCurve(rig.project.events[e].intensity, peak);
        LayerBuildContext ctx = rig.For(e);
        BuildAlloyLayers(ctx);
        return static_cast<int>(rig.project.results.size()) - 1;
    };
    EXPECT_EQ(supportCount(0.65f), 2);  // levels 0.08 and 0.6325
    EXPECT_EQ(supportCount(0.3f), 1);   // the second level, 0.335, lies above the peak
    EXPECT_EQ(supportCount(0.15f), 0);  // too quiet for support at all

    // A Spot's support layer puts its sound's sync point on the event time,
    // starts no earlier than the event and plays while the sound overlaps it
    // (at least 0.1 s). The sync point lies mid-event here, so the rule shows.
    {
        LayerBuilderRig spotRig;
        spotRig.pool = EntryPointers(entries);
        int e = AddEvent(spotRig.project, 3.0f, kShapeSpot, 0.5f);
        Event& spot = spotRig.project.events[e];
        spot.alloy = true;
        spot.duration = 2.0f;
        spot.syncOffset = 1.0f;  // spans 2..4
        FillCurve(spot.intensity, 0.9f);
        LayerBuildContext ctx = spotRig.For(e);
        BuildAlloyLayers(ctx);
        ASSERT_GT(spotRig.project.results.size(), 1u);
        for (size_t i = 1; i < spotRig.project.results.size(); ++i) {
            const RenderResult& r = spotRig.project.results[i];
            const float s0 = spot.time - r.audioSyncOffset;
            const float begin = std::max(2.0f, s0);
            EXPECT_FLOAT_EQ(r.startTime, begin) << i;
            EXPECT_NEAR(r.duration, std::max(std::min(4.0f, s0 + r.sourceDuration) - begin, 0.1f), 1e-5f) << i;
        }
    }

    // A Contour's support layer covers exactly its nudged span of the curve.
    LayerBuilderRig rig;
    rig.pool = EntryPointers(entries);
    int e = AddEvent(rig.project, 2.0f, kShapeContour, 0.5f);
    Event& event = rig.project.events[e];
    event.alloy = true;
    event.spread = 1.0f;
    event.duration = 6.0f;
    FillCosineCurve(event.intensity, 0.6f, 0.0f, 1.0f);
    LayerBuildContext ctx = rig.For(e);
    BuildAlloyLayers(ctx);
    int supports = 0;
    for (const RenderResult& r : rig.project.results) {
        if (r.track < 1) continue;  // the alloy layer
        ++supports;
        const float u0 = (r.startTime - ctx.eventStart) / event.duration;
        const float u1 = u0 + r.duration / event.duration;
        EXPECT_NEAR(r.alloyIntensityCurve[0], SampleCurve256(event.intensity, u0), 1e-3f);
        EXPECT_NEAR(r.alloyIntensityCurve[31], SampleCurve256(event.intensity, u1), 1e-3f);
        // The span lies around where the curve reaches the layer's level, so
        // both of its ends are quieter than its middle for this single hump.
        EXPECT_LE(r.alloyIntensityCurve[0], r.alloyIntensityCurve[16]);
        EXPECT_LE(r.alloyIntensityCurve[31], r.alloyIntensityCurve[16]);
        EXPECT_FLOAT_EQ(r.sourceDuration, r.duration);
    }
    EXPECT_GE(supports, 3);
}
