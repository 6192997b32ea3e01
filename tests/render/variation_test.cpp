// Variation history, the steps through it, the re-roll and the busy-task actions.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "document/busy_task.h"
#include "document/text_util.h"
#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "playback/block_mixer.h"
#include "playback/voice_maintenance.h"
#include "render/candidates.h"
#include "render/render_job.h"
#include "render/reroll.h"
#include "render/variation_history.h"
#include "render/render_job_rig.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

// A layer playing sound n: every field a sound choice carries tells n apart.
void SetSound(RenderResult& r, int n) {
    r.name = "sound " + std::to_string(n);
    r.filepath = "/lib/s" + std::to_string(n) + ".wav";
    r.fileId = std::to_string(1000 + n);
    r.sourceOffset = float(n);
    r.sourceDuration = 1.0f + float(n);
    r.startTime = 10.0f + float(n);
    r.duration = 0.5f + float(n);
}

int SoundOf(const RenderResult& r) { return int(r.sourceOffset); }
int SoundOf(const ResultVariation& v) { return int(v.sourceOffset); }

// A history of sounds 0 .. count-1, the layer live on sound `live`.
RenderResult LayerWithHistory(int count, int live) {
    RenderResult r;
    for (int n = 0; n < count; ++n) {
        SetSound(r, n);
        PushVariationHistory(r);
    }
    SetSound(r, live);
    return r;
}

// A document with events and a library; results are added by hand.
struct RerollRig {
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();

    int AddEventAt(float time, int shape, float duration) {
        Event e = MakeEvent(*project, time, shape, 0.5f);
        e.duration = duration;
        e.syncOffset = 0;
        project->events.push_back(e);
        return int(project->events.size()) - 1;
    }
    // A layer of the event over its span, playing `path`.
    int AddLayer(int event, const std::string& path, int procMode = 0) {
        const Event& e = project->events[size_t(event)];
        RenderResult r;
        r.eventIdx = event;
        r.procMode = procMode;
        r.startTime = e.time - e.syncOffset;
        r.duration = e.duration;
        r.sourceDuration = e.duration;
        r.filepath = path;
        r.name = "current";
        project->results.push_back(r);
        return int(project->results.size()) - 1;
    }
    void UseEntries(std::vector<LibraryEntry> entries) {
        library->libraries.push_back(MakeLibrary("Lib", std::move(entries)));
    }
    // Which file a re-roll of a fresh copy of the document picks for each seed.
    std::map<std::string, int> Picks(int result, uint32_t seeds) {
        std::map<std::string, int> picks;
        for (uint32_t s = 0; s < seeds; ++s) {
            Project copy = *project;
            EXPECT_TRUE(RerollResultWithSeed(copy, result, *library, s * 7919u + 1u));
            picks[copy.results[size_t(result)].filepath] += 1;
        }
        return picks;
    }
};

// Three sounds far apart in spectrum and character.
std::vector<LibraryEntry> DistinctEntries() {
    LibraryEntry a = MakeEntry("a", 1.0f, 0.5f), b = MakeEntry("b", 1.0f, 0.5f), c = MakeEntry("c", 1.0f, 0.5f);
    b.harmonicity = 1.0f;
    b.dynamicsDb = 40;
    c.spectralFlatness = 1.0f;
    c.zeroCrossingRate = 1.0f;
    return {a, b, c};
}

}  // namespace

// ---------------------------------------------------------------------------
// History
// ---------------------------------------------------------------------------

TEST(VariationHistory, KeepsTheNewestTwentyAndBrowsingIsCutWhereItStands) {
    RenderResult r = LayerWithHistory(25, 99);
    ASSERT_EQ(r.variations.size(), kVariationHistoryLimit);
    EXPECT_EQ(SoundOf(r.variations.front()), 5);
    EXPECT_EQ(SoundOf(r.variations.back()), 24);
    EXPECT_EQ(r.variationIndex, -1);
    // An entry remembers the whole choice, placement included.
    EXPECT_EQ(r.variations.back().filepath, "/lib/s24.wav");
    EXPECT_TRUE(r.variations.back().placed);
    EXPECT_FLOAT_EQ(r.variations.back().startTime, 34.0f);

    // Browsing entry 5 of 10 and pushing keeps 0..4 and the pushed state.
    RenderResult b = LayerWithHistory(10, 77);
    b.variationIndex = 5;
    PushVariationHistory(b);
    ASSERT_EQ(b.variations.size(), 6u);
    for (int n = 0; n < 5; ++n) EXPECT_EQ(SoundOf(b.variations[size_t(n)]), n);
    EXPECT_EQ(SoundOf(b.variations[5]), 77);
    EXPECT_EQ(b.variationIndex, -1);
}

TEST(VariationHistory, StepPredicatesAndSteps) {
    RenderResult fresh;
    EXPECT_FALSE(CanStepVariationBack(fresh));
    EXPECT_FALSE(CanStepVariationForward(fresh));
    EXPECT_FALSE(StepVariationBack(fresh));
    EXPECT_TRUE(fresh.variations.empty());  // a refused step stores nothing

    RenderResult one = LayerWithHistory(1, 50);
    EXPECT_TRUE(CanStepVariationBack(one));
    EXPECT_FALSE(CanStepVariationForward(one));  // live never steps forward

    RenderResult three = LayerWithHistory(3, 50);
    three.variationIndex = 0;
    EXPECT_FALSE(CanStepVariationBack(three));
    EXPECT_TRUE(CanStepVariationForward(three));
    three.variationIndex = 2;
    EXPECT_TRUE(CanStepVariationBack(three));
    EXPECT_FALSE(CanStepVariationForward(three));
    EXPECT_FALSE(StepVariationForward(three));

    // Back from live on a full history: the entry that was newest, and the
    // live sound is the newest entry now, reached again by stepping forward.
    RenderResult full = LayerWithHistory(20, 99);
    ASSERT_TRUE(StepVariationBack(full));
    EXPECT_EQ(SoundOf(full), 19);
    EXPECT_FLOAT_EQ(full.startTime, 29.0f);  // back where that sound sat
    EXPECT_EQ(full.variations.size(), 20u);
    EXPECT_EQ(full.variationIndex, 18);
    EXPECT_EQ(SoundOf(full.variations.front()), 1);
    ASSERT_TRUE(StepVariationBack(full));
    EXPECT_EQ(SoundOf(full), 18);
    ASSERT_TRUE(StepVariationForward(full));
    ASSERT_TRUE(StepVariationForward(full));
    EXPECT_EQ(SoundOf(full), 99);
    EXPECT_EQ(full.variationIndex, 19);
    EXPECT_FALSE(CanStepVariationForward(full));
}

TEST(VariationHistory, AFillStepToAnotherRegionDropsItsChunkPlan) {
    RenderResult fill = LayerWithHistory(2, 1);  // live on the same sound as entry 1
    fill.procMode = 1;
    fill.fillChunks = {{0, 4800, 0}, {100, 4800, 480}};
    ASSERT_TRUE(StepVariationBack(fill));  // to entry 1: the same file and region
    EXPECT_EQ(fill.fillChunks.size(), 2u);
    ASSERT_TRUE(StepVariationBack(fill));  // to entry 0: another file
    EXPECT_TRUE(fill.fillChunks.empty());
}

// ---------------------------------------------------------------------------
// Re-roll: refusals and the choice
// ---------------------------------------------------------------------------

TEST(Reroll, RefusedLayersAndAnEmptyLibrary) {
    RerollRig rig;
    rig.UseEntries(DistinctEntries());
    const int spot = rig.AddEventAt(2, kShapeSpot, 1);
    const int clip = rig.AddEventAt(4, kShapeClip, 1);
    const int bed = rig.AddEventAt(6, kShapeBed, 4);
    const int alloy = rig.AddLayer(spot, "/lib/x.wav", 3);
    const int clipLayer = rig.AddLayer(clip, "/clips/door.wav", 2);
    const int bedLayer = rig.AddLayer(bed, "/beds/rain.wav", 1);
    const int orphan = rig.AddLayer(spot, "/lib/y.wav");
    rig.project->results[size_t(orphan)].eventIdx = 9;
    const uint32_t revision = rig.project->resultsRevision;
    for (int r : {alloy, clipLayer, bedLayer, orphan, -1, 99}) {
        EXPECT_FALSE(CanRerollResult(*rig.project, r)) << r;
        EXPECT_FALSE(RerollResult(*rig.project, r, *rig.library)) << r;
    }
    for (const RenderResult& r : rig.project->results) EXPECT_TRUE(r.variations.empty());
    EXPECT_EQ(rig.project->resultsRevision, revision);

    // Nothing to choose from: false, but the live sound is in the history.
    const int layer = rig.AddLayer(spot, "/lib/old.wav");
    SoundLibrary empty;
    EXPECT_FALSE(RerollResult(*rig.project, layer, empty));
    const RenderResult& r = rig.project->results[size_t(layer)];
    ASSERT_EQ(r.variations.size(), 1u);
    EXPECT_EQ(r.variations[0].filepath, "/lib/old.wav");
    EXPECT_EQ(r.variationIndex, -1);
    EXPECT_EQ(r.filepath, "/lib/old.wav");
    EXPECT_EQ(rig.project->resultsRevision, revision);
}

TEST(Reroll, APinnedSoundNarrowsToItsNeighboursUnlessNoCandidateIsIt) {
    std::vector<LibraryEntry> pool = DistinctEntries();
    // Seven close neighbours of "a", the nearer the higher the number.
    for (int i = 0; i < 7; ++i) {
        LibraryEntry n = MakeEntry("near" + std::to_string(i), 1.0f, 0.5f);
        n.dynamicsDb = float(7 - i);
        pool.push_back(n);
    }
    const std::vector<const LibraryEntry*> candidates = EntryPointers(pool);
    EXPECT_EQ(RerollAlternatives(candidates, "/lib/elsewhere.wav"), candidates);
    const std::vector<const LibraryEntry*> near = RerollAlternatives(candidates, pool[0].path);
    ASSERT_EQ(near.size(), 6u);
    EXPECT_EQ(near[0], &pool[0]);
    for (int i = 1; i < 6; ++i) EXPECT_EQ(near[size_t(i)]->name, "near" + std::to_string(7 - i));

    // Through the re-roll: pinned to "a", whose neighbours are far, only "a"
    // is possible; pinned to a file no candidate has, every sound is.
    RerollRig rig;
    rig.UseEntries(DistinctEntries());
    const int e = rig.AddEventAt(2, kShapeScatter, 1);
    rig.project->events[size_t(e)].hasPinnedFiles = true;
    const int layer = rig.AddLayer(e, "/lib/current.wav");
    CopyTextField(rig.project->events[size_t(e)].pinnedFile, rig.library->libraries[0].entries[0].path);
    EXPECT_EQ(rig.Picks(layer, 20).size(), 1u);
    CopyTextField(rig.project->events[size_t(e)].pinnedFile, "/lib/elsewhere.wav");
    EXPECT_GE(rig.Picks(layer, 60).size(), 2u);
}

TEST(Reroll, TheCurrentSoundIsRareAndAnotherLayersSoundIsOut) {
    RerollRig rig;
    LibraryEntry a = MakeEntry("a", 1.0f, 0.5f), b = MakeEntry("b", 1.0f, 0.5f);
    rig.UseEntries({a, b});  // alike: they score the same
    const int e = rig.AddEventAt(2, kShapeScatter, 1);
    const int layer = rig.AddLayer(e, a.path);
    std::map<std::string, int> picks = rig.Picks(layer, 400);
    EXPECT_LE(picks[a.path], 16);  // about 1 in 100 expected
    EXPECT_GE(picks[b.path], 384);

    // Playing neither, the two come up alike.
    rig.project->results[size_t(layer)].filepath = "/lib/other.wav";
    picks = rig.Picks(layer, 400);
    EXPECT_GT(picks[a.path], 120);
    EXPECT_GT(picks[b.path], 120);

    // A sound another layer of the event plays is never chosen.
    LibraryEntry c = MakeEntry("c", 1.0f, 0.5f);
    rig.library->libraries[0].entries.push_back(c);
    rig.AddLayer(e, b.path);
    picks = rig.Picks(layer, 100);
    EXPECT_EQ(picks.count(b.path), 0u);
    EXPECT_EQ(picks[a.path] + picks[c.path], 100);
}

TEST(Reroll, SeedsSpreadTheChoiceAndRepeatedRerollsKeepMoving) {
    RerollRig rig;
    std::vector<LibraryEntry> pool;
    for (int i = 0; i < 8; ++i) pool.push_back(MakeEntry("alike" + std::to_string(i), 1.0f, 0.5f));
    rig.UseEntries(pool);
    const int e = rig.AddEventAt(2, kShapeScatter, 1);
    const int layer = rig.AddLayer(e, "/lib/start.wav");
    EXPECT_GE(rig.Picks(layer, 32).size(), 6u);

    // The program's own seeds: each re-roll leaves the sound it had, and the
    // chain keeps visiting others instead of settling.
    std::set<std::string> visited;
    std::string previous = rig.project->results[size_t(layer)].filepath;
    int changes = 0;
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(RerollResult(*rig.project, layer, *rig.library));
        const std::string now = rig.project->results[size_t(layer)].filepath;
        changes += now != previous;
        previous = now;
        visited.insert(now);
    }
    EXPECT_GE(changes, 28);
    EXPECT_GE(visited.size(), 5u);
    EXPECT_EQ(rig.project->results[size_t(layer)].variations.size(), kVariationHistoryLimit);
}

// ---------------------------------------------------------------------------
// Re-roll: what the layer becomes
// ---------------------------------------------------------------------------

TEST(Reroll, AFillLayerTakesTheWholeFileWithoutAPlan) {
    RerollRig rig;
    rig.UseEntries({MakeEntry("rain", 12.0f, 0.3f)});
    const int e = rig.AddEventAt(1, kShapeFill, 6);
    const int layer = rig.AddLayer(e, "/lib/wind.wav", 1);
    RenderResult& r = rig.project->results[size_t(layer)];
    r.sourceOffset = 2;
    r.fillChunks = {{0, 4800, 0}};
    ASSERT_TRUE(RerollResultWithSeed(*rig.project, layer, *rig.library, 5));
    EXPECT_EQ(r.filepath, "/lib/rain.wav");
    EXPECT_EQ(r.name, "rain");
    EXPECT_FLOAT_EQ(r.sourceOffset, 0);
    EXPECT_FLOAT_EQ(r.sourceDuration, 12.0f);
    EXPECT_TRUE(r.fillChunks.empty());
    EXPECT_FLOAT_EQ(r.startTime, 1);  // a fill keeps its place
    EXPECT_FLOAT_EQ(r.duration, 6);
}

namespace {

// The fade limits every re-rolled layer keeps.
void ExpectFadeLimits(const RenderResult& r, float a) {
    EXPECT_GE(r.fadeIn, 0);
    EXPECT_GE(r.fadeOut, 0);
    EXPECT_LE(r.fadeIn, 0.45f * r.duration + 1e-6f);
    EXPECT_LE(r.fadeOut, 0.45f * r.duration + 1e-6f);
    EXPECT_LE(r.fadeIn + r.fadeOut, r.duration * (0.12f * a + 0.8f) + 1e-5f);
}

// A 1 s sound whose onset is 0.4 s in, and a 5 s one, in a library of their own.
struct PlacementRig : RerollRig {
    TempDir dir;
    LibraryEntry Use(const std::string& name, double seconds, float flatness) {
        BurstSound s;
        s.name = name;
        s.seconds = seconds;
        s.bursts = {Burst{0.4, 0.25, 0.8, 0, 0.002, 0.05}};
        library->libraries.clear();
        library->libraries.push_back(MakeBurstLibrary(dir.path(), name, {s}));
        LibraryEntry& entry = library->libraries[0].entries.at(0);
        entry.spectralFlatness = flatness;  // sets the sound's fade factor
        return entry;
    }
};

}  // namespace

TEST(Reroll, ASpotLayerPutsTheSoundsOnsetOnTheSyncPoint) {
    PlacementRig rig;
    const LibraryEntry hit = rig.Use("hit", 1.0, 0.5f);
    const float a = SoundFadeFactor(hit);
    const int e = rig.AddEventAt(5, kShapeSpot, 2);
    const int layer = rig.AddLayer(e, "/lib/old.wav");
    RenderResult& r = rig.project->results[size_t(layer)];
    SetMuteReason(r, kMuteBan, true);
    r.placeholder = true;
    const uint32_t revision = rig.project->resultsRevision;
    ASSERT_TRUE(RerollResultWithSeed(*rig.project, layer, *rig.library, 3));

    EXPECT_EQ(r.filepath, hit.path);
    EXPECT_NEAR(r.audioSyncOffset, 0.4f, 0.03f);
    // The lead-in before the event is cut to `pre`, so the head of the sound
    // is trimmed and the onset still lands on the event's time.
    const float pre = std::min(1.0f, 0.15f * 2.0f) * a + 0.12f;
    EXPECT_NEAR(r.startTime, 5.0f - pre, 1e-4f);
    EXPECT_NEAR(r.startTime + (r.audioSyncOffset - r.sourceOffset), 5.0f, 1e-4f);
    EXPECT_NEAR(r.startTime + r.duration, 5.0f - r.audioSyncOffset + 1.0f, 1e-4f);  // to the sound's end
    EXPECT_GE(r.fadeIn, 0.02f * r.duration * 0.8f);
    ExpectFadeLimits(r, a);
    EXPECT_FALSE(r.muted);
    EXPECT_EQ(r.muteReasons, 0);
    EXPECT_FALSE(r.placeholder);
    EXPECT_EQ(rig.project->resultsRevision, revision + 1);

    // A long event leaves room for the whole lead-in: nothing is trimmed.
    const int wide = rig.AddEventAt(20, kShapeSpot, 10);
    const int wideLayer = rig.AddLayer(wide, "/lib/old.wav");
    ASSERT_TRUE(RerollResultWithSeed(*rig.project, wideLayer, *rig.library, 3));
    const RenderResult& w = rig.project->results[size_t(wideLayer)];
    ASSERT_GT(std::min(1.0f, 1.5f) * a + 0.12f, w.audioSyncOffset);
    EXPECT_FLOAT_EQ(w.sourceOffset, 0);
    EXPECT_NEAR(w.startTime, 20.0f - w.audioSyncOffset, 1e-4f);
    EXPECT_NEAR(w.duration, 1.0f, 1e-4f);
}

TEST(Reroll, AContourLayerInItsWindowStaysAndOthersMeetTheSyncPoint) {
    PlacementRig rig;
    const LibraryEntry drone = rig.Use("drone", 5.0, 0.9f);
    const float a = SoundFadeFactor(drone);
    const int contour = rig.AddEventAt(10, kShapeContour, 4);
    const int inside = rig.AddLayer(contour, "/lib/old.wav");
    rig.project->results[size_t(inside)].startTime = 11;
    rig.project->results[size_t(inside)].duration = 1;
    ASSERT_TRUE(RerollResultWithSeed(*rig.project, inside, *rig.library, 11));
    const RenderResult& in = rig.project->results[size_t(inside)];
    EXPECT_FLOAT_EQ(in.startTime, 11);
    EXPECT_GE(in.sourceDuration, 1.0f);  // the fit pads the wanted second
    EXPECT_NEAR(in.duration, std::min(1.0f + std::min(0.8f, 0.25f * a + 0.18f), in.sourceDuration), 1e-5f);
    EXPECT_GE(in.fadeIn, std::min(0.2f * a + 0.04f, 0.45f * in.duration) * 0.8f);
    ExpectFadeLimits(in, a);

    // Outside the window (more than half a second past the event's end) the
    // layer is placed as any other: its sync on the event's, length kept.
    // (Another event: the one sound is taken by the first layer.)
    const int other = rig.AddEventAt(20, kShapeContour, 4);
    const int outside = rig.AddLayer(other, "/lib/old.wav");
    rig.project->results[size_t(outside)].startTime = 23.8f;
    rig.project->results[size_t(outside)].duration = 1;
    ASSERT_TRUE(RerollResultWithSeed(*rig.project, outside, *rig.library, 11));
    const RenderResult& out = rig.project->results[size_t(outside)];
    EXPECT_NEAR(out.startTime, 20.0f - out.audioSyncOffset, 1e-5f);
    EXPECT_FLOAT_EQ(out.duration, 1);
    ExpectFadeLimits(out, a);

    const int scatter = rig.AddEventAt(30, kShapeScatter, 0.3f);
    const int grain = rig.AddLayer(scatter, "/lib/old.wav");
    ASSERT_TRUE(RerollResultWithSeed(*rig.project, grain, *rig.library, 2));
    const RenderResult& g = rig.project->results[size_t(grain)];
    EXPECT_NEAR(g.startTime, 30.0f - g.audioSyncOffset, 1e-5f);
    EXPECT_FLOAT_EQ(g.duration, 0.3f);
    ExpectFadeLimits(g, a);
}

// ---------------------------------------------------------------------------
// The busy-task actions
// ---------------------------------------------------------------------------

namespace {

int FirstLayerOf(const Project& project, int event) {
    for (size_t r = 0; r < project.results.size(); ++r)
        if (project.results[r].eventIdx == event && project.results[r].procMode != 3) return int(r);
    return -1;
}

}  // namespace

TEST(VariantActions, RerollAndStepsRunAsBusyTasksBesideTheAudioThread) {
    JobRig rig(60);
    rig.AddSpots(4, 0.5f, 1.0f);
    RenderRequest all;
    all.kind = 1;
    all.all = 1;
    RunRenderJob(rig.Context(), all);
    const int layer = FirstLayerOf(*rig.project, 2);
    ASSERT_GE(layer, 0);
    const std::string before = rig.project->results[size_t(layer)].filepath;

    // Nothing to step to yet: no task, no undo step.
    EXPECT_FALSE(StartVariantAction(rig.Context(), layer, VariantAction::Previous));
    EXPECT_FALSE(StartVariantAction(rig.Context(), layer, VariantAction::Next));
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());

    MixingAudioThread audio(*rig.engine);
    FakeInterfaceClock clock;

    ASSERT_TRUE(StartVariantAction(rig.Context(), layer, VariantAction::Reroll));
    EXPECT_EQ(BusyStatusText(rig.app->busyTask), "Loading next sound...");
    EXPECT_FALSE(rig.app->busyTask.cancellable);
    EXPECT_FLOAT_EQ(rig.app->busyTask.progress.load(), -1.0f);
    EXPECT_FALSE(StartVariantAction(rig.Context(), layer, VariantAction::Reroll));  // one task at a time
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    PumpUntilFinished(rig.app->busyTask, &clock);
    const std::string rolled = rig.project->results[size_t(layer)].filepath;
    ASSERT_EQ(rig.project->results[size_t(layer)].variations.size(), 1u);
    EXPECT_EQ(rig.project->results[size_t(layer)].variations[0].filepath, before);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    ExpectVoicesMatchResults(*rig.engine, *rig.project);

    ASSERT_TRUE(StartVariantAction(rig.Context(), layer, VariantAction::Previous));
    EXPECT_EQ(BusyStatusText(rig.app->busyTask), "Switching layer...");
    PumpUntilFinished(rig.app->busyTask, &clock);
    EXPECT_EQ(rig.project->results[size_t(layer)].filepath, before);
    EXPECT_EQ(rig.project->results[size_t(layer)].variationIndex, 0);
    ExpectVoicesMatchResults(*rig.engine, *rig.project);

    ASSERT_TRUE(StartVariantAction(rig.Context(), layer, VariantAction::Next));
    PumpUntilFinished(rig.app->busyTask, &clock);
    EXPECT_EQ(rig.project->results[size_t(layer)].filepath, rolled);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 3u);
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_GT(audio.Blocks(), 0);
}
