// Wash layers of Bloom and Contour events (segments, level walk, widening,
// weight split, draws, lengths), the threshold builder of unknown shapes, and
// a render of every shape together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "render/render_curves.h"
#include "render/render_pass.h"
#include "render/wash_layers.h"
#include "support/layer_builder_rig.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

RenderSeeds FixedSeeds(uint32_t seed) { return FixedRenderSeeds(seed, seed * 131u + 7u); }

void Render(Project& project, const SoundLibrary& library, uint32_t seed = 1) {
    RenderEventsWithSeeds(project, library, -1, -1, -1, false, false, FixedSeeds(seed));
}

// Points from..to (inclusive) at `high`, the rest at `low`.
void PlateauCurve(Curve256& c, int from, int to, float low, float high) {
    for (int i = 0; i < 256; ++i) c[i] = (i >= from && i <= to) ? high : low;
}

void LinearCurve(Curve256& c, float a, float b) {
    for (int i = 0; i < 256; ++i) c[i] = a + (b - a) * static_cast<float>(i) / 255.0f;
}

}  // namespace

TEST(WashSegments, QuietBloomIsOneSegmentOverTheWholeEvent) {
    Project project;
    int e = AddEvent(project, 2.0f, kShapeBloom, 0.5f);
    Event& event = project.events[e];
    FillCosineCurve(event.intensity, 0.5f, 0.0f, 0.2f);  // never reaches 0.25
    EXPECT_TRUE(BuildWashSegments(event, 0).empty());
    std::vector<WashSegment> segs = BuildWashSegments(event, 1);
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_EQ(segs[0].u0, 0.0f);
    EXPECT_EQ(segs[0].u1, 1.0f);
    EXPECT_FLOAT_EQ(segs[0].mid, 0.5f);
}

TEST(WashSegments, LoudPassagesStackWidenedSegments) {
    Project project;
    int e = AddEvent(project, 0.0f, kShapeBloom, 0.5f);
    Event& event = project.events[e];
    event.syncOffset = 0;
    // A quiet floor (one layer) and a loud plateau (three layers) over slots
    // 58..70 of 128.
    PlateauCurve(event.intensity, 116, 141, 0.1f, 0.6f);
    std::vector<WashSegment> segs = BuildWashSegments(event, 3);
    ASSERT_EQ(segs.size(), 3u);
    EXPECT_EQ(segs[0].u0, 0.0f);
    EXPECT_EQ(segs[0].u1, 1.0f);
    // The plateau's stretch is 13 / 128 of the event, so it grows by a fifth
    // of that at each end (less than the 0.05 cap).
    const float a = 58.0f / 128.0f, b = 71.0f / 128.0f, g = 0.2f * (b - a);
    for (int i = 1; i < 3; ++i) {
        EXPECT_NEAR(segs[i].u0, a - g, 1e-6f) << i;
        EXPECT_NEAR(segs[i].u1, b + g, 1e-6f) << i;
        EXPECT_GT(segs[i].level, segs[i - 1].level);
    }

    // A long segment grows by 0.05 at most: a plateau over half the event
    // above a floor of one layer.
    PlateauCurve(event.intensity, 64, 191, 0.1f, 0.8f);
    segs = BuildWashSegments(event, 2);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_NEAR(segs[1].u0, 0.25f - 0.05f, 1e-6f);
    EXPECT_NEAR(segs[1].u1, 0.75f + 0.05f, 1e-6f);
}

TEST(WashSegments, WeightSweepGetsACopyAtTheFartherExtreme) {
    Project project;
    int e = AddEvent(project, 0.0f, kShapeContour, 0.5f);
    Event& event = project.events[e];
    event.duration = 2.0f;
    FillCurve(event.intensity, 0.2f);
    LinearCurve(event.weight, 0.1f, 0.9f);
    std::vector<WashSegment> segs = BuildWashSegments(event, 1);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_LT(segs[0].weightPosition, 0.0f);
    EXPECT_EQ(segs[1].u0, segs[0].u0);
    EXPECT_EQ(segs[1].u1, segs[0].u1);
    EXPECT_NEAR(segs[1].weightPosition, 1.0f, 1e-6f);  // 0.9 lies further from the start's 0.1

    // Falling sweep: the far extreme is the smallest weight, again at the end.
    LinearCurve(event.weight, 0.9f, 0.1f);
    segs = BuildWashSegments(event, 1);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_NEAR(segs[1].weightPosition, 1.0f, 1e-6f);
    // A gentle sweep (0.2 or less) makes no copy.
    LinearCurve(event.weight, 0.45f, 0.6f);
    EXPECT_EQ(BuildWashSegments(event, 1).size(), 1u);
}

TEST(WashSegments, LevelWalkAndSplitStopAtThirtyTwo) {
    Project project;
    int e = AddEvent(project, 0.0f, kShapeBloom, 0.5f);
    Event& event = project.events[e];
    event.duration = 30.0f;
    // Twenty separate loud bumps: every level finds twenty runs.
    for (int i = 0; i < 256; ++i) event.intensity[i] = (i % 12) >= 3 && (i % 12) <= 8 ? 1.0f : 0.0f;
    std::vector<WashSegment> segs = BuildWashSegments(event, 5);
    std::set<float> levels;
    for (const WashSegment& s : segs) levels.insert(s.level);
    EXPECT_GE(segs.size(), 32u);
    EXPECT_LT(segs.size(), 32u + 22u);  // the last level may overshoot by one level's runs
    EXPECT_LT(levels.size(), 20u);      // far fewer than the 4 x 5 levels

    // With a weight that sweeps over every bump each segment would get a
    // copy, but none is added once the new list holds 32.
    for (int i = 0; i < 256; ++i) event.weight[i] = static_cast<float>(i % 12) / 11.0f;
    std::vector<WashSegment> split = BuildWashSegments(event, 5);
    int copies = 0;
    for (size_t i = 0; i < split.size(); ++i) {
        if (split[i].weightPosition < 0) continue;
        ++copies;
        EXPECT_LT(i, 32u);  // appended while the list was shorter than 32
    }
    EXPECT_GT(copies, 0);
    EXPECT_EQ(split.size() - static_cast<size_t>(copies), segs.size());
    EXPECT_GT(split.size(), 32u);
}

TEST(WashLayers, EveryLayerDrawsTwiceAndPlaysNoFurtherThanItsSound) {
    // Empty pool: the builder's only draws are the two end nudges of each
    // segment, also for the ends pinned at 0 and 1 and for segments that end
    // up too short to play.
    LayerBuilderRig rig;
    int e = AddEvent(rig.project, 1.0f, kShapeBloom, 0.5f);
    Event& event = rig.project.events[e];
    event.spread = 1.0f;
    FillCosineCurve(event.intensity, 0.5f, 0.0f, 1.0f);
    LayerBuildContext ctx = rig.For(e);
    const uint32_t before = rig.state;
    std::vector<WashSegment> segs =
        BuildWashSegments(event, std::min(ctx.layerCount, IntensityTier(ctx.maxIntensity)));
    ASSERT_GT(segs.size(), 2u);
    BuildWashLayers(ctx);
    EXPECT_EQ(rig.state, AdvanceRenderState(before, 2 * static_cast<int>(segs.size())));
    ASSERT_FALSE(rig.project.results.empty());
    for (const RenderResult& r : rig.project.results) {
        EXPECT_EQ(r.name, "[Sketch] Wash");
        EXPECT_TRUE(r.placeholder);
        EXPECT_GE(r.startTime, ctx.eventStart - 1e-5f);
        EXPECT_LE(r.startTime + r.duration, ctx.eventEnd + 1e-4f);
        EXPECT_GE(*std::min_element(r.intGain.begin(), r.intGain.end()), 0.03f - 1e-7f);
    }
    // The quiet base reaches both ends of the event.
    float first = 1e9f, last = -1e9f;
    for (const RenderResult& r : rig.project.results) {
        first = std::min(first, r.startTime);
        last = std::max(last, r.startTime + r.duration);
    }
    EXPECT_FLOAT_EQ(first, ctx.eventStart);
    EXPECT_NEAR(last, ctx.eventEnd, 1e-5f);

    // With sounds, short ones and pitch variation: no layer lasts longer than
    // the playable part of its fitted region.
    SoundLibrary library;
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(120, 5);
    for (size_t i = 0; i < entries.size(); i += 2) entries[i].duration = 0.3f + 0.01f * static_cast<float>(i);
    library.libraries.push_back(MakeLibrary("Synth", entries));
    Project project;
    for (int k = 0; k < 4; ++k) {
        int b = AddEvent(project, 1.0f + 5.0f * k, k % 2 ? kShapeContour : kShapeBloom, 0.3f + 0.1f * k);
        project.events[b].pitchVariation = 0.6f;
        project.events[b].spread = 1.0f;
        FillCosineCurve(project.events[b].intensity, 0.4f, 0.1f, 1.0f);
    }
    Render(project, library, 3);
    int checked = 0;
    for (const RenderResult& r : project.results) {
        ASSERT_FALSE(r.filepath.empty()) << r.name;
        float playable = r.sourceDuration / std::pow(2.0f, r.pitchVarShift / 12.0f);
        EXPECT_LE(r.duration, playable + 1e-4f) << r.name;
        EXPECT_TRUE(r.procMode == 0 || r.procMode == 2);
        EXPECT_GE(*std::min_element(r.intGain.begin(), r.intGain.end()), 0.03f - 1e-7f);
        ++checked;
    }
    EXPECT_GT(checked, 8);
}

TEST(ThresholdLayers, UnknownShapesGetOneLayerPerThreshold) {
    LayerBuilderRig rig;
    int e = AddEvent(rig.project, 3.0f, 9, 0.5f);  // a shape value the program does not know
    Event& event = rig.project.events[e];
    event.duration = 4.0f;
    event.syncOffset = 0;
    FillCosineCurve(event.intensity, 0.5f, 0.0f, 0.3f);
    LayerBuildContext ctx = rig.For(e);
    ASSERT_EQ(ctx.layerCount, 3);
    const uint32_t before = rig.state;
    BuildThresholdLayers(ctx);
    // Thresholds 0.05, 0.182 and 0.314: the last lies above the peak of 0.3.
    ASSERT_EQ(rig.project.results.size(), 2u);
    EXPECT_EQ(rig.state, AdvanceRenderState(before, 4));
    const float thresholds[2] = {0.05f, 0.05f + 0.5f * 0.88f * 0.3f};
    for (int k = 0; k < 2; ++k) {
        const RenderResult& r = rig.project.results[k];
        EXPECT_EQ(r.name, "[Sketch] Layer");
        EXPECT_EQ(r.track, k);
        EXPECT_EQ(r.procMode, 2);
        // The span of the points at or above the threshold, nudged by at most 0.025.
        int firstAbove = -1, lastAbove = -1;
        for (int i = 0; i < 256; ++i) {
            if (event.intensity[i] < thresholds[k]) continue;
            if (firstAbove < 0) firstAbove = i;
            lastAbove = i;
        }
        EXPECT_NEAR((r.startTime - 3.0f) / 4.0f, firstAbove / 256.0f, 0.025f + 1e-5f);
        EXPECT_NEAR((r.startTime + r.duration - 3.0f) / 4.0f, (lastAbove + 1) / 256.0f, 0.025f + 1e-5f);
    }

    // With sounds: no sync offset, never longer than the fitted region.
    std::vector<LibraryEntry> entries = MakeSyntheticEntries(80, 2);
    rig.pool = EntryPointers(entries);
    rig.project.results.clear();
    FillCosineCurve(event.intensity, 0.5f, 0.0f, 1.0f);
    ctx = rig.For(e);
    BuildThresholdLayers(ctx);
    ASSERT_GE(rig.project.results.size(), 3u);
    for (const RenderResult& r : rig.project.results) {
        EXPECT_FALSE(r.filepath.empty());
        EXPECT_EQ(r.audioSyncOffset, 0.0f);
        EXPECT_LE(r.duration, r.sourceDuration + 1e-5f);
    }
}

TEST(RenderAllShapes, EveryShapeAndAlloyRendersTheSameForTheSameSeed) {
    TempDir dir;
    std::vector<BurstSound> sounds;
    for (int i = 0; i < 10; ++i) {
        BurstSound s;
        s.name = "snd_" + std::to_string(i);
        s.seconds = 0.6 + 0.5 * i;
        s.bursts = {Burst{0.05 * i, 0.3 + 0.1 * i, 0.7, i % 3 == 0 ? 0.0 : 200.0 * (i + 1), 0.01, 0.1}};
        sounds.push_back(s);
    }
    SoundLibrary library;
    library.libraries.push_back(MakeBurstLibrary(dir.path(), "Bursts", sounds));
    ASSERT_EQ(library.libraries[0].entries.size(), sounds.size());
    const std::string clipPath = library.libraries[0].entries[3].path;
    const std::string bedPath = library.libraries[0].entries[8].path;

    auto build = [&](Project& p) {
        for (int shape = 0; shape <= 6; ++shape) AddEvent(p, 1.0f + 6.0f * shape, shape, 0.2f + 0.1f * shape);
        CopyTextField(p.events[kShapeClip].pinnedFile, clipPath);
        p.events[kShapeBed].pinnedFiles = {bedPath};
        int alloy = AddEvent(p, 45.0f, kShapeBloom, 0.5f);
        p.events[alloy].alloy = true;
        LinearCurve(p.events[alloy].weight, 0.2f, 0.7f);
        AddEvent(p, 52.0f, 7, 0.5f);
        for (Event& ev : p.events) ev.pitchVariation = 0.3f;
    };
    Project a, b, c;
    build(a);
    build(b);
    build(c);
    Render(a, library, 21);
    Render(b, library, 21);
    Render(c, library, 22);

    for (int i = 0; i < static_cast<int>(a.events.size()); ++i) EXPECT_FALSE(LayersOfEvent(a, i).empty()) << i;
    for (const RenderResult* r : LayersOfEvent(a, 7)) EXPECT_EQ(r->procMode, 3);
    ASSERT_EQ(a.results.size(), b.results.size());
    bool differs = a.results.size() != c.results.size();
    for (size_t i = 0; i < a.results.size(); ++i) {
        const RenderResult& x = a.results[i];
        const RenderResult& y = b.results[i];
        EXPECT_EQ(x.eventIdx, y.eventIdx) << i;
        EXPECT_EQ(x.filepath, y.filepath) << i;
        EXPECT_EQ(x.startTime, y.startTime) << i;
        EXPECT_EQ(x.sourceOffset, y.sourceOffset) << i;
        EXPECT_EQ(x.alloyMid.filepath, y.alloyMid.filepath) << i;
        EXPECT_EQ(x.alloyEnv.offset, y.alloyEnv.offset) << i;
        EXPECT_EQ(x.intGain, y.intGain) << i;
        if (!differs && i < c.results.size() &&
            (x.filepath != c.results[i].filepath || x.startTime != c.results[i].startTime))
            differs = true;
    }
    EXPECT_TRUE(differs);
}

TEST(WashLayers, SilentWashEventsMakeNoLayersAndLeaveTheOthersAlone) {
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Synth", MakeSyntheticEntries(120, 5)));
    // The silent events come first, so the others' indices shift by four.
    auto build = [](Project& p, bool withSilent) {
        if (withSilent) {
            for (int shape : {kShapeBloom, kShapeContour}) {
                int zero = AddEvent(p, 1.0f + shape, shape, 0.5f);
                FillCurve(p.events[zero].intensity, 0.0f);
                int unscaled = AddEvent(p, 5.0f + shape, shape, 0.5f);
                p.events[unscaled].intensityScale = 0.0f;
            }
        }
        AddEvent(p, 2.0f, kShapeSpot, 0.4f);
        AddEvent(p, 4.0f, kShapeBloom, 0.6f);
        AddEvent(p, 6.0f, kShapeContour, 0.3f);
        for (Event& ev : p.events) ev.pitchVariation = 0.2f;
    };
    Project with, without;
    build(with, true);
    build(without, false);
    Render(with, library, 9);
    Render(without, library, 9);

    for (int e = 0; e < 4; ++e) EXPECT_TRUE(LayersOfEvent(with, e).empty()) << e;
    for (int e = 0; e < 3; ++e) {
        std::vector<const RenderResult*> a = LayersOfEvent(with, e + 4);
        std::vector<const RenderResult*> b = LayersOfEvent(without, e);
        ASSERT_FALSE(b.empty()) << e;
        ASSERT_EQ(a.size(), b.size()) << e;
        for (size_t k = 0; k < a.size(); ++k) {
            EXPECT_EQ(a[k]->filepath, b[k]->filepath) << e << "/" << k;
            EXPECT_EQ(a[k]->startTime, b[k]->startTime) << e << "/" << k;
            EXPECT_EQ(a[k]->duration, b[k]->duration) << e << "/" << k;
            EXPECT_EQ(a[k]->sourceOffset, b[k]->sourceOffset) << e << "/" << k;
            EXPECT_EQ(a[k]->fadeOut, b[k]->fadeOut) << e << "/" << k;
            EXPECT_EQ(a[k]->layerGain, b[k]->layerGain) << e << "/" << k;
            EXPECT_EQ(a[k]->track, b[k]->track) << e << "/" << k;
        }
    }

    // The segment walk itself: a silent event has no segment however many
    // layers it may have, a barely audible one still has its floor layer.
    Event silent = with.events[0];
    EXPECT_TRUE(BuildWashSegments(silent, 3).empty());
    for (int i = 50; i < 200; ++i) silent.intensity[i] = 0.01f;
    EXPECT_EQ(BuildWashSegments(silent, 1).size(), 1u);
}
