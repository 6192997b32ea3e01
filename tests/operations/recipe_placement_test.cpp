// Placing recipes and chains at the playhead on a private document: what is
// refused, what each shape gets at once, the chain's timing, selection and
// linked group, its name among existing folders, and the one undo step.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/recipe_placement.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "playback/audio_engine.h"
#include "recipes/chain_file.h"
#include "recipes/event_preset.h"
#include "support/document_records.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

struct PlaceRig : DocumentRecords {
    TempDir dir;
    int sounds = 0;

    PlaceRig() { project->totalDuration = 60; }

    DocumentContext At(float seconds) {
        app->currentTime = seconds;
        return MakeDocumentContext(*project, *library, *engine, *app);
    }

    // A 48 kHz mono file of `seconds` with one tone burst from the start;
    // each call another tone, so no two files share their content (and id).
    std::string Sound(const std::string& name, double seconds) {
        BurstSound sound;
        sound.name = name;
        sound.seconds = seconds;
        sound.bursts = {Burst{0.0, seconds * 0.8, 0.5, 220.0 * double(++sounds), 0.002, 0.01}};
        const std::string path = dir.File(name + ".wav");
        EXPECT_TRUE(WriteBurstSound(path, sound));
        return path;
    }
};

EventPreset Recipe(const char* name, int shape, float duration = 2.0f) {
    EventPreset p;
    CopyTextField(p.name, name);
    CopyTextField(p.keywords, "impact");
    p.shape = shape;
    p.duration = duration;
    FillCurve(p.weight, 0.5f);
    FillCurve(p.intensity, 1.0f);
    return p;
}

ChainEvent ChainSpot(float relTime) {
    ChainEvent ce;
    ce.preset = Recipe("", kShapeSpot, 1.0f);
    ce.relTime = relTime;
    return ce;
}

Chain MakeChain(const char* name, std::vector<ChainEvent> events) {
    Chain chain;
    CopyTextField(chain.name, name);
    chain.events = std::move(events);
    return chain;
}

Event InFolder(const char* folder) {
    Event e;
    CopyTextField(e.folder, folder);
    return e;
}

}  // namespace

TEST(RecipePlacement, OutOfRangeOrBusyChangesNothingAndPushesNoUndo) {
    PlaceRig rig;
    const std::vector<EventPreset> recipes = {Recipe("Hit", kShapeSpot)};
    const std::vector<Chain> chains = {MakeChain("Pair", {ChainSpot(0), ChainSpot(1)})};
    DocumentContext ctx = rig.At(3);
    EXPECT_EQ(PlaceRecipeAtPlayhead(ctx, recipes, -1), -1);
    EXPECT_EQ(PlaceRecipeAtPlayhead(ctx, recipes, 1), -1);
    EXPECT_EQ(PlaceChainAtPlayhead(ctx, chains, -1), -1);
    EXPECT_EQ(PlaceChainAtPlayhead(ctx, chains, 1), -1);
    // A chain read from an unreadable file has no events: no empty undo step.
    EXPECT_EQ(PlaceChainAtPlayhead(ctx, {Chain{}}, 0), -1);

    rig.app->busyTask.busy.store(true);
    EXPECT_EQ(PlaceRecipeAtPlayhead(ctx, recipes, 0), -1);
    EXPECT_EQ(PlaceChainAtPlayhead(ctx, chains, 0), -1);
    rig.app->busyTask.busy.store(false);
    rig.app->exportRunning.store(true);
    EXPECT_EQ(PlaceRecipeAtPlayhead(ctx, recipes, 0), -1);
    EXPECT_EQ(PlaceChainAtPlayhead(ctx, chains, 0), -1);
    rig.app->exportRunning.store(false);

    EXPECT_TRUE(rig.project->events.empty());
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());
    EXPECT_FALSE(rig.app->modified);
    EXPECT_TRUE(rig.app->linkedGroups.empty());
}

TEST(RecipePlacement, SpotIsAddedAtThePlayheadUnrenderedAndSelectedAlone) {
    PlaceRig rig;
    rig.app->reviewMode = 1;
    rig.app->selectedEvents = {4, 7};
    const std::vector<EventPreset> recipes = {Recipe("Hit", kShapeSpot, 1.25f)};
    const int n = PlaceRecipeAtPlayhead(rig.At(7.5f), recipes, 0);
    ASSERT_EQ(n, 0);
    ASSERT_EQ(rig.project->events.size(), 1u);
    const Event& e = rig.project->events[0];
    EXPECT_FLOAT_EQ(e.time, 7.5f);
    EXPECT_FLOAT_EQ(e.duration, 1.25f);
    EXPECT_EQ(e.shape, kShapeSpot);
    EXPECT_STREQ(e.presetName, "Hit");
    EXPECT_STREQ(e.keywords, "impact");
    EXPECT_FALSE(e.locked);
    EXPECT_TRUE(rig.project->results.empty());
    EXPECT_TRUE(rig.engine->voices.empty());
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{0});
    EXPECT_EQ(rig.app->selectedEvent, 0);
    EXPECT_EQ(rig.app->reviewMode, 0);
    EXPECT_TRUE(rig.app->scrollToSelection);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_TRUE(rig.app->modified);
}

TEST(RecipePlacement, ClipGetsItsLayerVoiceAndLengthAtOnce) {
    PlaceRig rig;
    EventPreset clip = Recipe("Door", kShapeClip, 5.0f);
    CopyTextField(clip.pinnedFile, rig.Sound("door", 1.5));
    const std::vector<EventPreset> recipes = {clip};
    DocumentContext ctx = rig.At(4.0f);
    const int n = PlaceRecipeAtPlayhead(ctx, recipes, 0);
    ASSERT_EQ(n, 0);
    const Event& e = rig.project->events[0];
    EXPECT_TRUE(e.locked);
    ASSERT_EQ(rig.project->results.size(), 1u);
    EXPECT_EQ(rig.project->results[0].eventIdx, 0);
    EXPECT_NEAR(rig.project->results[0].duration, 1.5f, 1e-3f);
    EXPECT_FLOAT_EQ(e.duration, rig.project->results[0].duration);
    ASSERT_EQ(rig.engine->voices.size(), 1u);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(ctx));
    EXPECT_FALSE(rig.app->deferredRebuild.load());
    EXPECT_EQ(rig.engine->position.load(), int64_t(4.0 * rig.engine->sampleRate.load()));
    EXPECT_EQ(rig.app->pendingBedLoadEvent, -1);
}

TEST(RecipePlacement, BedWithoutWeightsTakesLibraryBrightnessIsLockedAndPending) {
    PlaceRig rig;
    const std::string known = rig.Sound("rain", 2.0);
    const std::string unknown = rig.Sound("wind", 2.0);
    LibraryEntry entry = MakeEntry("rain");
    entry.path = known;
    entry.brightness = 0.8f;
    rig.library->libraries.push_back(MakeLibrary("Lib", {entry}));

    EventPreset bed = Recipe("Rain Bed", kShapeBed, 8.0f);
    bed.pinnedFiles = {known, unknown};
    bed.bedLayerLoop = {1, 0};
    EventPreset weighted = bed;
    weighted.bedLayerWeight = {0.25f, 0.5f};
    const std::vector<EventPreset> recipes = {bed, weighted};

    const int n = PlaceRecipeAtPlayhead(rig.At(2.0f), recipes, 0);
    ASSERT_EQ(n, 0);
    const Event& e = rig.project->events[0];
    EXPECT_EQ(e.bedLayerWeight, (std::vector<float>{0.8f, -1.0f}));
    EXPECT_TRUE(e.locked);
    EXPECT_TRUE(e.hasPinnedFiles);
    EXPECT_EQ(rig.app->pendingBedLoadEvent, 0);
    EXPECT_EQ(rig.project->results.size(), 2u);

    // Weights the recipe set are kept as they are.
    const int m = PlaceRecipeAtPlayhead(rig.At(20.0f), recipes, 1);
    ASSERT_EQ(m, 1);
    EXPECT_EQ(rig.project->events[1].bedLayerWeight, (std::vector<float>{0.25f, 0.5f}));
    EXPECT_EQ(rig.app->pendingBedLoadEvent, 1);

    // A Bed without files is only added.
    const std::vector<EventPreset> empty = {Recipe("Empty Bed", kShapeBed)};
    rig.app->pendingBedLoadEvent = -1;
    const int k = PlaceRecipeAtPlayhead(rig.At(40.0f), empty, 0);
    ASSERT_EQ(k, 2);
    EXPECT_FALSE(rig.project->events[2].locked);
    EXPECT_EQ(rig.app->pendingBedLoadEvent, -1);
}

TEST(ChainPlacement, EventsKeepTheirTimingAreSelectedLinkedAndOneUndoStep) {
    PlaceRig rig;
    AddEvent(*rig.project, 1.0f, kShapeSpot, 0.5f);
    ChainEvent first = ChainSpot(0.0f);
    first.hero = true;
    first.syncOffset = 0.2f;
    first.preset.gain = 0.5f;
    const std::vector<Chain> chains = {MakeChain("Crash", {first, ChainSpot(0.5f), ChainSpot(2.0f)})};

    const int f = PlaceChainAtPlayhead(rig.At(10.0f), chains, 0);
    ASSERT_EQ(f, 1);
    ASSERT_EQ(rig.project->events.size(), 4u);
    const float expected[] = {10.0f, 10.5f, 12.0f};
    for (int k = 0; k < 3; ++k) {
        const Event& e = rig.project->events[size_t(1 + k)];
        EXPECT_FLOAT_EQ(e.time, expected[k]);
        EXPECT_STREQ(e.folder, "Crash");
        EXPECT_FALSE(e.locked);
    }
    EXPECT_TRUE(rig.project->events[1].hero);
    EXPECT_FLOAT_EQ(rig.project->events[1].syncOffset, 0.2f);
    EXPECT_FLOAT_EQ(rig.project->events[1].gain, 0.5f);
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{1, 2, 3}));
    EXPECT_EQ(rig.app->selectedEvent, 1);
    EXPECT_EQ(rig.app->linkedGroups, std::set<std::string>{"Crash"});
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);

    // The one step takes the whole chain back.
    ASSERT_TRUE(Undo(rig.At(10.0f)));
    EXPECT_EQ(rig.project->events.size(), 1u);
}

TEST(ChainPlacement, ClipsGetLayersAndVoicesBedsStayUnlockedAndPinned) {
    PlaceRig rig;
    ChainEvent clip;
    clip.preset = Recipe("", kShapeClip, 4.0f);
    CopyTextField(clip.preset.pinnedFile, rig.Sound("slam", 1.0));
    ChainEvent bed;
    bed.preset = Recipe("", kShapeBed, 6.0f);
    bed.preset.pinnedFiles = {rig.Sound("hum", 2.0)};
    bed.relTime = 1.0f;
    ChainEvent bare;
    bare.preset = Recipe("", kShapeBed, 6.0f);
    bare.relTime = 2.0f;
    const std::vector<Chain> chains = {MakeChain("Room", {clip, bed, bare})};

    DocumentContext ctx = rig.At(5.0f);
    ASSERT_EQ(PlaceChainAtPlayhead(ctx, chains, 0), 0);
    const Event& c = rig.project->events[0];
    EXPECT_TRUE(c.locked);
    EXPECT_TRUE(c.hasPinnedFiles);
    EXPECT_NEAR(c.duration, 1.0f, 1e-3f);
    EXPECT_FLOAT_EQ(c.clipWeight, -1.0f);
    EXPECT_FALSE(rig.project->events[1].locked);
    EXPECT_TRUE(rig.project->events[1].hasPinnedFiles);
    EXPECT_FALSE(rig.project->events[2].locked);
    EXPECT_FALSE(rig.project->events[2].hasPinnedFiles);
    ASSERT_EQ(rig.project->results.size(), 1u);
    EXPECT_EQ(rig.engine->voices.size(), 1u);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(ctx));
    EXPECT_EQ(rig.engine->position.load(), int64_t(5.0 * rig.engine->sampleRate.load()));
}

TEST(ChainPlacement, GroupNamesAvoidExistingFoldersAndAlwaysFit) {
    std::vector<Event> events;
    EXPECT_EQ(ChainGroupName(events, "Rain"), "Rain");
    events = {InFolder("Rain"), InFolder("Rain 2"), InFolder("")};
    EXPECT_EQ(ChainGroupName(events, "Rain"), "Rain 3");
    EXPECT_EQ(ChainGroupName(events, "Wind"), "Wind");

    // A 63-byte name, placed twice: two distinct names, each fitting its field.
    PlaceRig rig;
    const std::string longName(63, 'x');
    const std::vector<Chain> chains = {MakeChain(longName.c_str(), {ChainSpot(0)})};
    ASSERT_EQ(PlaceChainAtPlayhead(rig.At(0), chains, 0), 0);
    ASSERT_EQ(PlaceChainAtPlayhead(rig.At(5), chains, 0), 1);
    const std::string a = rig.project->events[0].folder;
    const std::string b = rig.project->events[1].folder;
    EXPECT_EQ(a, longName);
    EXPECT_EQ(b, std::string(61, 'x') + " 2");
    EXPECT_EQ(rig.app->linkedGroups, (std::set<std::string>{a, b}));

    // The name gives way at a character boundary: never half a character.
    std::string accented(60, 'a');
    accented += "\xC3\xA9";  // 62 bytes
    events = {InFolder(accented.c_str())};
    for (int n = 0; n < 11; ++n) {
        const std::string next = ChainGroupName(events, accented.c_str());
        ASSERT_LE(next.size(), 63u);
        EXPECT_EQ(next.find('\xC3'), std::string::npos) << next;
        events.push_back(InFolder(next.c_str()));
    }
    EXPECT_EQ(std::string(events.back().folder), std::string(60, 'a') + " 12");
}
