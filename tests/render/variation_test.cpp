// Variation history, the steps through it, the re-roll and the busy-task actions.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "document/text_util.h"
#include "operations/render_job.h"
#include "operations/render_job_rig.h"
#include "operations/variant_action.h"
#include "operations/voice_maintenance.h"
#include "render/candidates.h"
#include "render/reroll.h"
#include "render/variation_history.h"
#include "support/temp_dir.h"

namespace {

// A layer playing sound n: every field a sound choice carries tells n apart.
void SetSound(RenderResult& r, int n) {
    r.filepath = "/lib/s" + std::to_string(n) + ".wav";
    r.sourceOffset = float(n);
    r.startTime = 10.0f + float(n);
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

// A document with events and a library; layers are added by hand.
struct RerollRig {
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    TempDir dir;

    int AddEventAt(float time, int shape, float duration) {
        Event e = MakeEvent(*project, time, shape, 0.5f);
        e.duration = duration;
        e.syncOffset = 0;
        project->events.push_back(e);
        return int(project->events.size()) - 1;
    }
    // A layer over the event's span, playing `path`.
    int AddLayer(int event, const std::string& path, int procMode = 0) {
        const Event& e = project->events[size_t(event)];
        RenderResult r;
        r.eventIdx = event;
        r.procMode = procMode;
        r.startTime = e.time;
        r.duration = r.sourceDuration = e.duration;
        r.filepath = path;
        project->results.push_back(r);
        return int(project->results.size()) - 1;
    }
    void UseEntries(std::vector<LibraryEntry> entries) {
        library->libraries.assign(1, MakeLibrary("Lib", std::move(entries)));
    }
    // A sound file with an onset 0.4 s in, as the only sound of the library.
    LibraryEntry UseBurst(const std::string& name, double seconds, float flatness) {
        BurstSound s;
        s.name = name;
        s.seconds = seconds;
        s.bursts = {Burst{0.4, 0.25, 0.8, 0, 0.002, 0.05}};
        library->libraries.assign(1, MakeBurstLibrary(dir.path(), name, {s}));
        LibraryEntry& entry = library->libraries[0].entries.at(0);
        entry.spectralFlatness = flatness;  // sets the sound's fade factor
        return entry;
    }
    // Which file a re-roll of a fresh copy of the document picks, per seed.
    std::map<std::string, int> Picks(int result, uint32_t seeds) {
        std::map<std::string, int> picks;
        for (uint32_t s = 0; s < seeds; ++s) {
            Project copy = *project;
            EXPECT_TRUE(RerollResultWithSeed(copy, result, *library, s * 7919u + 1u));
            picks[copy.results[size_t(result)].filepath] += 1;
        }
        return picks;
    }
    RenderResult& Layer(int r) { return project->results[size_t(r)]; }
};

// The fade limits every re-rolled layer keeps; a is the sound's fade factor.
void ExpectFadeLimits(const RenderResult& r, float a) {
    EXPECT_GE(std::min(r.fadeIn, r.fadeOut), 0);
    EXPECT_LE(std::max(r.fadeIn, r.fadeOut), 0.45f * r.duration + 1e-6f);
    EXPECT_LE(r.fadeIn + r.fadeOut, r.duration * (0.12f * a + 0.8f) + 1e-5f);
}

}  // namespace

// ---------------------------------------------------------------------------
// History
// ---------------------------------------------------------------------------

TEST(VariationHistory, CapAndPushingWhileBrowsing) {
    RenderResult r = LayerWithHistory(25, 99);
    ASSERT_EQ(r.variations.size(), kVariationHistoryLimit);
    EXPECT_EQ(SoundOf(r.variations.front()), 5);
    EXPECT_EQ(SoundOf(r.variations.back()), 24);
    EXPECT_EQ(r.variationIndex, -1);

    // Browsing entry 5 of 10 and pushing keeps 0..4 and the pushed state.
    RenderResult b = LayerWithHistory(10, 77);
    b.variationIndex = 5;
    PushVariationHistory(b);
    ASSERT_EQ(b.variations.size(), 6u);
    EXPECT_EQ(SoundOf(b.variations[4]), 4);
    EXPECT_EQ(SoundOf(b.variations[5]), 77);
    EXPECT_EQ(b.variationIndex, -1);
}

TEST(VariationHistory, PredicatesAndStepsFromAFullHistory) {
    RenderResult fresh;
    EXPECT_FALSE(CanStepVariationBack(fresh) || CanStepVariationForward(fresh) || StepVariationBack(fresh));
    EXPECT_TRUE(fresh.variations.empty());  // a refused step stores nothing
    RenderResult one = LayerWithHistory(1, 50);
    EXPECT_TRUE(CanStepVariationBack(one));
    EXPECT_FALSE(CanStepVariationForward(one));  // live never steps forward
    one.variationIndex = 0;
    EXPECT_FALSE(CanStepVariationBack(one) || CanStepVariationForward(one));

    // Back from live on a full history: the entry that was newest, in its
    // own place; the live sound is now the newest entry, reached again forward.
    RenderResult full = LayerWithHistory(20, 99);
    ASSERT_TRUE(StepVariationBack(full));
    EXPECT_EQ(SoundOf(full), 19);
    EXPECT_FLOAT_EQ(full.startTime, 29.0f);
    EXPECT_EQ(full.variationIndex, 18);
    EXPECT_EQ(SoundOf(full.variations.front()), 1);
    ASSERT_TRUE(StepVariationBack(full));
    ASSERT_TRUE(StepVariationForward(full) && StepVariationForward(full));
    EXPECT_EQ(SoundOf(full), 99);
    EXPECT_FALSE(StepVariationForward(full));

    // A fill keeps its chunk plan for the same region, not for another file.
    RenderResult fill = LayerWithHistory(2, 1);
    fill.procMode = 1;
    fill.fillChunks = {{0, 4800, 0}};
    ASSERT_TRUE(StepVariationBack(fill));
    EXPECT_EQ(fill.fillChunks.size(), 1u);
    ASSERT_TRUE(StepVariationBack(fill));
    EXPECT_TRUE(fill.fillChunks.empty());
}

// ---------------------------------------------------------------------------
// Re-roll: refusals and the choice
// ---------------------------------------------------------------------------

TEST(Reroll, RefusedLayersAndAnEmptyLibrary) {
    RerollRig rig;
    rig.UseEntries({MakeEntry("a")});
    const int spot = rig.AddEventAt(2, kShapeSpot, 1);
    const int alloy = rig.AddLayer(spot, "/lib/x.wav", 3);
    const int clipLayer = rig.AddLayer(rig.AddEventAt(4, kShapeClip, 1), "/clips/door.wav", 2);
    const int bedLayer = rig.AddLayer(rig.AddEventAt(6, kShapeBed, 4), "/beds/rain.wav", 1);
    const int orphan = rig.AddLayer(spot, "/lib/y.wav");
    rig.Layer(orphan).eventIdx = 9;
    for (int r : {alloy, clipLayer, bedLayer, orphan, -1, 99})
        EXPECT_FALSE(CanRerollResult(*rig.project, r) || RerollResult(*rig.project, r, *rig.library)) << r;
    for (const RenderResult& r : rig.project->results) EXPECT_TRUE(r.variations.empty());

    // Nothing to choose from: false, but the live sound is stored.
    const int layer = rig.AddLayer(spot, "/lib/old.wav");
    const uint32_t revision = rig.project->resultsRevision;
    EXPECT_FALSE(RerollResult(*rig.project, layer, SoundLibrary()));
    ASSERT_EQ(rig.Layer(layer).variations.size(), 1u);
    EXPECT_EQ(rig.Layer(layer).variations[0].filepath, "/lib/old.wav");
    EXPECT_EQ(rig.Layer(layer).filepath, "/lib/old.wav");
    EXPECT_EQ(rig.project->resultsRevision, revision);
}

TEST(Reroll, APinnedSoundNarrowsToItsNeighboursUnlessNoCandidateIsIt) {
    LibraryEntry a = MakeEntry("a"), far = MakeEntry("far");
    far.harmonicity = 1.0f;
    far.dynamicsDb = 40;
    std::vector<LibraryEntry> pool = {a, far};
    for (int i = 0; i < 7; ++i) {  // close neighbours, the nearer the higher the number
        pool.push_back(MakeEntry("near" + std::to_string(i)));
        pool.back().dynamicsDb = float(7 - i);
    }
    const std::vector<const LibraryEntry*> candidates = EntryPointers(pool);
    EXPECT_EQ(RerollAlternatives(candidates, "/lib/elsewhere.wav"), candidates);
    const std::vector<const LibraryEntry*> near = RerollAlternatives(candidates, a.path);
    ASSERT_EQ(near.size(), 6u);
    EXPECT_EQ(near[0], &pool[0]);
    for (int i = 1; i < 6; ++i) EXPECT_EQ(near[size_t(i)]->name, "near" + std::to_string(7 - i));

    // Through the re-roll: pinned to "a", whose one other sound is far, only
    // "a" comes up; pinned to a file no candidate has, both do.
    RerollRig rig;
    rig.UseEntries({a, far});
    const int e = rig.AddEventAt(2, kShapeScatter, 1);
    rig.project->events[size_t(e)].hasPinnedFiles = true;
    const int layer = rig.AddLayer(e, "/lib/current.wav");
    CopyTextField(rig.project->events[size_t(e)].pinnedFile, a.path);
    EXPECT_EQ(rig.Picks(layer, 20).size(), 1u);
    CopyTextField(rig.project->events[size_t(e)].pinnedFile, "/lib/elsewhere.wav");
    EXPECT_EQ(rig.Picks(layer, 60).size(), 2u);
}

TEST(Reroll, TheCurrentSoundIsRareAnotherLayersIsOutAndRerollsKeepMoving) {
    RerollRig rig;
    LibraryEntry a = MakeEntry("a"), b = MakeEntry("b"), c = MakeEntry("c");
    rig.UseEntries({a, b});  // alike: they score the same
    const int e = rig.AddEventAt(2, kShapeScatter, 1);
    const int layer = rig.AddLayer(e, a.path);
    std::map<std::string, int> picks = rig.Picks(layer, 400);
    EXPECT_LE(picks[a.path], 16);  // about 1 in 100 expected
    rig.Layer(layer).filepath = "/lib/other.wav";  // playing neither, they come up alike
    picks = rig.Picks(layer, 400);
    EXPECT_GT(std::min(picks[a.path], picks[b.path]), 120);
    rig.library->libraries[0].entries.push_back(c);
    rig.AddLayer(e, b.path);  // another layer plays b: never chosen
    EXPECT_EQ(rig.Picks(layer, 100).count(b.path), 0u);

    // Eight alike sounds: seeds spread the choice, and a chain of re-rolls
    // with the program's own seeds keeps leaving the sound it had.
    std::vector<LibraryEntry> alike;
    for (int i = 0; i < 8; ++i) alike.push_back(MakeEntry("alike" + std::to_string(i)));
    rig.UseEntries(alike);
    const int lone = rig.AddLayer(rig.AddEventAt(9, kShapeScatter, 1), "/lib/start.wav");
    EXPECT_GE(rig.Picks(lone, 32).size(), 6u);
    std::set<std::string> visited;
    int changes = 0;
    for (int i = 0; i < 30; ++i) {
        const std::string before = rig.Layer(lone).filepath;
        ASSERT_TRUE(RerollResult(*rig.project, lone, *rig.library));
        changes += rig.Layer(lone).filepath != before;
        visited.insert(rig.Layer(lone).filepath);
    }
    EXPECT_GE(changes, 28);
    EXPECT_GE(visited.size(), 5u);
}

// ---------------------------------------------------------------------------
// Re-roll: what the layer becomes
// ---------------------------------------------------------------------------

TEST(Reroll, AFillTakesTheWholeFileAndASpotPutsTheOnsetOnTheSyncPoint) {
    RerollRig rig;
    rig.UseEntries({MakeEntry("rain", 12.0f, 0.3f)});
    const int fill = rig.AddLayer(rig.AddEventAt(1, kShapeFill, 6), "/lib/wind.wav", 1);
    rig.Layer(fill).sourceOffset = 2;
    rig.Layer(fill).fillChunks = {{0, 4800, 0}};
    ASSERT_TRUE(RerollResultWithSeed(*rig.project, fill, *rig.library, 5));
    const RenderResult& f = rig.Layer(fill);
    EXPECT_EQ(f.filepath, "/lib/rain.wav");
    EXPECT_FLOAT_EQ(f.sourceOffset, 0);
    EXPECT_FLOAT_EQ(f.sourceDuration, 12.0f);
    EXPECT_TRUE(f.fillChunks.empty());
    EXPECT_FLOAT_EQ(f.duration, 6);  // a fill keeps its place and length

    const float a = SoundFadeFactor(rig.UseBurst("hit", 1.0, 0.5f));
    const int spot = rig.AddLayer(rig.AddEventAt(5, kShapeSpot, 2), "/lib/old.wav");
    SetMuteReason(rig.Layer(spot), kMuteBan, true);
    rig.Layer(spot).placeholder = true;
    const uint32_t revision = rig.project->resultsRevision;
    ASSERT_TRUE(RerollResultWithSeed(*rig.project, spot, *rig.library, 3));
    const RenderResult& s = rig.Layer(spot);
    EXPECT_NEAR(s.audioSyncOffset, 0.4f, 0.03f);
    // The lead-in is cut to `pre` before the event: the head of the sound is
    // trimmed, its onset still lands on the event's time, its tail plays out.
    const float pre = std::min(1.0f, 0.15f * 2.0f) * a + 0.12f;
    EXPECT_NEAR(s.startTime, 5.0f - pre, 1e-4f);
    EXPECT_NEAR(s.startTime + s.audioSyncOffset - s.sourceOffset, 5.0f, 1e-4f);
    EXPECT_NEAR(s.startTime + s.duration, 5.0f - s.audioSyncOffset + 1.0f, 1e-4f);
    EXPECT_GE(s.fadeIn, 0.02f * s.duration * 0.8f);
    ExpectFadeLimits(s, a);
    EXPECT_FALSE(s.muted || s.placeholder);
    EXPECT_EQ(s.muteReasons, 0);
    EXPECT_EQ(rig.project->resultsRevision, revision + 1);
}

TEST(Reroll, AContourLayerInItsWindowStaysAndOthersMeetTheSyncPoint) {
    RerollRig rig;
    const float a = SoundFadeFactor(rig.UseBurst("drone", 5.0, 0.9f));
    const int inside = rig.AddLayer(rig.AddEventAt(10, kShapeContour, 4), "/lib/old.wav");
    rig.Layer(inside).startTime = 11;
    rig.Layer(inside).duration = 1;
    ASSERT_TRUE(RerollResultWithSeed(*rig.project, inside, *rig.library, 11));
    const RenderResult& in = rig.Layer(inside);
    EXPECT_FLOAT_EQ(in.startTime, 11);
    EXPECT_NEAR(in.duration, std::min(1.0f + std::min(0.8f, 0.25f * a + 0.18f), in.sourceDuration), 1e-5f);
    EXPECT_GE(in.fadeIn, std::min(0.2f * a + 0.04f, 0.45f * in.duration) * 0.8f);
    ExpectFadeLimits(in, a);

    // Past the window (more than half a second beyond the event's end), and
    // a Scatter grain: the sync on the event's, the length kept.
    const int outside = rig.AddLayer(rig.AddEventAt(20, kShapeContour, 4), "/lib/old.wav");
    rig.Layer(outside).startTime = 23.8f;
    rig.Layer(outside).duration = 1;
    const int grain = rig.AddLayer(rig.AddEventAt(30, kShapeScatter, 0.3f), "/lib/old.wav");
    for (int layer : {outside, grain}) {
        const float duration = rig.Layer(layer).duration;
        ASSERT_TRUE(RerollResultWithSeed(*rig.project, layer, *rig.library, 2));
        const RenderResult& r = rig.Layer(layer);
        EXPECT_NEAR(r.startTime, rig.project->events[size_t(r.eventIdx)].time - r.audioSyncOffset, 1e-5f);
        EXPECT_FLOAT_EQ(r.duration, duration);
        ExpectFadeLimits(r, a);
    }
}

// ---------------------------------------------------------------------------
// The busy-task actions
// ---------------------------------------------------------------------------

TEST(VariantActions, RerollAndStepsRunAsBusyTasksBesideTheAudioThread) {
    JobRig rig(60);
    rig.AddSpots(4, 0.5f, 1.0f);
    RenderRequest all;
    all.kind = 1;
    all.all = 1;
    RunRenderJob(rig.Context(), all);
    int layer = -1;
    for (size_t r = 0; r < rig.project->results.size() && layer < 0; ++r)
        if (rig.project->results[r].eventIdx == 2 && rig.project->results[r].procMode != 3) layer = int(r);
    ASSERT_GE(layer, 0);
    const std::string before = rig.project->results[size_t(layer)].filepath;
    EXPECT_FALSE(StartVariantAction(rig.Context(), layer, VariantAction::Previous));  // nothing to step to
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());

    MixingAudioThread audio(*rig.engine);
    FakeInterfaceClock clock(rig.app->clock);
    const auto run = [&](VariantAction action, const char* status) {
        ASSERT_TRUE(StartVariantAction(rig.Context(), layer, action));
        EXPECT_EQ(BusyStatusText(rig.app->busyTask), status);
        EXPECT_FALSE(rig.app->busyTask.cancellable);
        EXPECT_FALSE(StartVariantAction(rig.Context(), layer, action));  // one task at a time
        PumpUntilFinished(rig.app->busyTask, &clock);
        EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
        ExpectVoicesMatchResults(*rig.engine, *rig.project);
    };
    run(VariantAction::Reroll, "Loading next sound...");
    const std::string rolled = rig.project->results[size_t(layer)].filepath;
    ASSERT_EQ(rig.project->results[size_t(layer)].variations.size(), 1u);
    run(VariantAction::Previous, "Switching layer...");
    EXPECT_EQ(rig.project->results[size_t(layer)].filepath, before);
    run(VariantAction::Next, "Switching layer...");
    EXPECT_EQ(rig.project->results[size_t(layer)].filepath, rolled);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 3u);
    EXPECT_GT(audio.Blocks(), 0);
}
