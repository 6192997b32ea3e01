// The layer lines' rules: buttons per layer kind, bans and mutes with their
// voices, the volume's dB map and the levels it leaves, likes and
// dislikes, the audition's life, the one pending action a frame runs, and
// the name-list helpers those rules stand on.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/document_context.h"
#include "operations/event_edits.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/document_records.h"
#include "ui/result_layers_logic.h"

namespace {

struct LayerRig : PanelRecords {
    LayerRig() { project->events.push_back(MakeEvent(*project, 2, kShapeSpot, 0.5f)); }
    // A layer of event 0 with a voice of its own.
    int AddLayer(const std::string& path, float gain = 0.5f) {
        RenderResult r;
        r.eventIdx = 0;
        r.filepath = path;
        r.fileId = "00000000000000" + std::to_string(10 + project->results.size());
        r.startTime = 1.5f;
        project->results.push_back(r);
        PlaybackVoice v;
        v.resultId = uint32_t(r.id);
        v.resultIndex = int(project->results.size()) - 1;
        v.eventIndex = 0;
        v.gain.store(gain);
        v.levelScale = gain;  // all of it the level passes' (the layer's own gain is 1)
        engine->voices.push_back(std::move(v));
        engine->voiceFadeIn.push_back(0);
        engine->voiceFadeOut.push_back(0);
        return int(project->results.size()) - 1;
    }
    bool VoiceMuted(int v) const { return engine->voices[size_t(v)].muted.load() != 0; }
};

}  // namespace

TEST(ResultLayers, ButtonsLeaveOutAlloyClipAndBedLayers) {
    LayerRig rig;
    const int plain = rig.AddLayer("/a.wav");
    const int alloy = rig.AddLayer("/b.wav");
    rig.project->results[size_t(alloy)].procMode = 3;
    const RenderResult& p = rig.project->results[size_t(plain)];
    EXPECT_TRUE(LayerHasVariationButtons(*rig.project, p) && LayerHasLikeButtons(*rig.project, p));
    EXPECT_FALSE(LayerHasVariationButtons(*rig.project, rig.project->results[size_t(alloy)]));
    for (int shape : {int(kShapeClip), int(kShapeBed)}) {
        rig.project->events[0].shape = shape;
        EXPECT_FALSE(LayerHasVariationButtons(*rig.project, p));
        EXPECT_FALSE(LayerHasLikeButtons(*rig.project, p));
    }
    rig.project->events[0].shape = kShapeSpot;

    // The next button steps while the history allows, else re-rolls; the
    // first pending action wins, whatever else the frame clicked.
    RenderResult& r = rig.project->results[size_t(plain)];
    PendingLayerActions pending;
    MarkNextSound(pending, r, plain);
    EXPECT_EQ(pending.reroll, plain);
    r.variations.resize(2);
    r.variationIndex = 0;
    EXPECT_STREQ(NextSoundTooltip(r), "Next sound (history)");
    MarkNextSound(pending, r, plain);
    EXPECT_EQ(pending.next, plain);
    pending.previous = alloy;
    ChosenLayerAction chosen = ChoosePendingLayerAction(pending);
    EXPECT_EQ(chosen.result, alloy);
    EXPECT_EQ(chosen.action, VariantAction::Previous);
    pending.previous = -1;
    EXPECT_EQ(ChoosePendingLayerAction(pending).action, VariantAction::Next);
    EXPECT_EQ(ChoosePendingLayerAction(PendingLayerActions{}).result, -1);
}

TEST(ResultLayers, OneFrameWithTwoClicksQueuesOneStepWithItsUndo) {
    LayerRig rig;
    const int a = rig.AddLayer("/a.wav"), b = rig.AddLayer("/b.wav");
    rig.project->results[size_t(a)].variations.resize(1);  // live with one entry: may step back
    PendingLayerActions pending;
    pending.previous = a;
    pending.reroll = b;
    ASSERT_TRUE(StartPendingLayerAction(rig.Ctx(), pending));
    EXPECT_TRUE(rig.app->busyTask.busy.load());
    EXPECT_STREQ(rig.app->busyTask.statusText, "Switching layer...");
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_FALSE(StartPendingLayerAction(rig.Ctx(), pending)) << "the task is busy: nothing more";
    rig.app->busyTask.busy = false;
}

TEST(ResultLayers, BansMuteVoicesAndOnlyTheUsersMuteToggles) {
    LayerRig rig;
    const int a = rig.AddLayer("/a.wav");
    const int b = rig.AddLayer("/b.wav");
    DocumentContext ctx = rig.Ctx();
    rig.project->bannedFiles.push_back("/a.wav");
    const uint32_t revision = rig.project->resultsRevision;
    EXPECT_TRUE(EnforceLayerBan(ctx, a));
    EXPECT_TRUE(rig.project->results[size_t(a)].muted);
    EXPECT_TRUE(rig.VoiceMuted(a));
    EXPECT_GT(rig.project->resultsRevision, revision);
    EXPECT_FALSE(EnforceLayerBan(ctx, b)) << "not banned";
    EXPECT_FALSE(ToggleLayerMute(ctx, a)) << "a banned layer's mute does nothing";
    EXPECT_STREQ(MuteTooltip(true, true), "Banned \xE2\x80\x94 unlike to restore");

    ASSERT_TRUE(ToggleLayerMute(ctx, b));
    EXPECT_TRUE(rig.project->results[size_t(b)].muted && rig.VoiceMuted(b));
    ASSERT_TRUE(ToggleLayerMute(ctx, b));
    EXPECT_FALSE(rig.project->results[size_t(b)].muted || rig.VoiceMuted(b));
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 2u);
}

TEST(ResultLayers, VolumeMapsDecibelsAndLeavesTheVoicesAsALevelPassDoes) {
    LayerRig rig;
    const int r = rig.AddLayer("/a.wav", 0.3f);
    rig.AddLayer("/b.wav", 0.3f);
    DocumentContext ctx = rig.Ctx();
    // What a whole level pass gives the voices now, gain by gain.
    auto wholePass = [&] {
        std::vector<float> before;
        for (const PlaybackVoice& v : rig.engine->voices) before.push_back(v.gain.load());
        RecomputeVoiceLevels(ctx);
        std::vector<float> after;
        for (const PlaybackVoice& v : rig.engine->voices) after.push_back(v.gain.load());
        EXPECT_EQ(before, after) << "the edit left other gains than a level pass";
    };
    EditGesture drag;
    ASSERT_TRUE(SetLayerVolume(ctx, r, -24, drag));
    EXPECT_NEAR(rig.project->results[size_t(r)].userVolume, 0.063f, 0.001f);
    wholePass();
    ASSERT_TRUE(SetLayerVolume(ctx, r, 6, drag));
    EXPECT_NEAR(rig.project->results[size_t(r)].userVolume, 1.995f, 0.001f);
    // Two layers of one event above unit power share it equally.
    const float loud = rig.engine->voices[0].gain.load(), quiet = rig.engine->voices[1].gain.load();
    EXPECT_NEAR(loud * loud + quiet * quiet, 1.0f, 1e-5f);
    EXPECT_GT(loud, quiet);
    wholePass();
    EXPECT_FALSE(SetLayerVolume(ctx, r, 40, drag)) << "clamped to +6: nothing changes";
    EXPECT_FLOAT_EQ(LayerVolumeDb(0), -60);
    EXPECT_NEAR(LayerVolumeDb(0.5f), -6.02f, 0.01f);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u) << "one drag, one step";
    EXPECT_TRUE(rig.app->modified);

    // The layer's base gain (weight factor × layer gain × volume) is what
    // the pass starts from.
    RenderResult& layer = rig.project->results[size_t(r)];
    layer.weight = 0.85f;
    layer.layerGain = 0.5f;
    EditGesture next;
    ASSERT_TRUE(SetLayerVolume(ctx, r, 0, next));
    // 0.35 against the other layer's 1: above unit power, both scaled alike.
    const float g0 = rig.engine->voices[0].gain.load(), g1 = rig.engine->voices[1].gain.load();
    EXPECT_NEAR(g0 / g1, 0.7f * 0.5f, 1e-4f);
    EXPECT_NEAR(g0 * g0 + g1 * g1, 1.0f, 1e-5f);
    wholePass();
    ASSERT_TRUE(Undo(ctx));
    EXPECT_NEAR(rig.project->results[size_t(r)].userVolume, 1.995f, 0.001f) << "undo brings the drag's end back";
}

TEST(ResultLayers, LikesPinAndUnbanDislikesUnpinAndBan) {
    LayerRig rig;
    const int r = rig.AddLayer("/door.wav");
    const int other = rig.AddLayer("/door.wav");
    DocumentContext ctx = rig.Ctx();
    BanFile(*rig.project, "/door.wav", "");
    ASSERT_TRUE(rig.project->results[size_t(r)].muted);

    ASSERT_TRUE(LikeLayer(ctx, r));  // banned → unbanned and pinned, heard again
    EXPECT_FALSE(IsNameInList(*rig.project, "/door.wav"));
    EXPECT_TRUE(LayerIsPinned(*rig.project, rig.project->results[size_t(r)]));
    EXPECT_FALSE(rig.project->results[size_t(other)].muted || rig.VoiceMuted(other));
    EXPECT_STREQ(LikeTooltip(true), "Unlike \xE2\x80\x94 unpin this sound");

    ASSERT_TRUE(DislikeLayer(ctx, r));  // pinned → unpinned and banned, silent
    EXPECT_FALSE(LayerIsPinned(*rig.project, rig.project->results[size_t(r)]));
    EXPECT_TRUE(IsNameInList(*rig.project, "/door.wav"));
    EXPECT_TRUE(rig.project->results[size_t(other)].muted && rig.VoiceMuted(other));
    EXPECT_EQ(DislikeTooltip(true, rig.project->results[size_t(r)]), "Unlike \xE2\x80\x94 unban this sound");

    ASSERT_TRUE(DislikeLayer(ctx, r));  // banned → unbanned
    EXPECT_FALSE(IsNameInList(*rig.project, "/door.wav"));
    EXPECT_FALSE(rig.VoiceMuted(r));
    ASSERT_TRUE(LikeLayer(ctx, r));
    ASSERT_TRUE(LikeLayer(ctx, r));  // pinned → unpinned
    EXPECT_FALSE(LayerIsPinned(*rig.project, rig.project->results[size_t(r)]));
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 5u);
}

TEST(ResultLayers, AnAuditionSolosTheVoiceAndEndsWhenTheVoiceChanges) {
    LayerRig rig;
    const int a = rig.AddLayer("/a.wav"), b = rig.AddLayer("/b.wav");
    DocumentContext ctx = rig.Ctx();
    ASSERT_TRUE(ToggleLayerAudition(ctx, b, nullptr));
    EXPECT_EQ(rig.engine->soloVoice.load(), 1);
    EXPECT_EQ(rig.app->auditionResult, b);
    EXPECT_TRUE(rig.app->playing && rig.engine->playing.load());
    EXPECT_EQ(rig.engine->position.load(), int64_t(1.5 * 48000));
    EXPECT_FLOAT_EQ(rig.app->currentTime, 1.5f);

    ASSERT_TRUE(ToggleLayerAudition(ctx, b, nullptr));  // the same layer: stops
    EXPECT_EQ(rig.engine->soloVoice.load(), -1);
    EXPECT_EQ(rig.app->auditionResult, -1);
    EXPECT_EQ(rig.app->lastAuditionResult, b);

    ASSERT_TRUE(ToggleLayerAudition(ctx, a, nullptr));
    KeepLayerAuditionValid(*rig.engine, *rig.app);
    EXPECT_EQ(rig.app->auditionResult, a) << "still its voice";
    // A rebuild put another layer's voice in that place.
    rig.engine->voices[0].resultId = uint32_t(rig.project->results[size_t(b)].id);
    KeepLayerAuditionValid(*rig.engine, *rig.app);
    EXPECT_EQ(rig.app->auditionResult, -1);
    EXPECT_EQ(rig.engine->soloVoice.load(), -1);

    // Stopping the transport ends it too, so the solo does not outlive it.
    ASSERT_TRUE(ToggleLayerAudition(ctx, b, nullptr));
    rig.engine->playing.store(0);
    KeepLayerAuditionValid(*rig.engine, *rig.app);
    EXPECT_EQ(rig.engine->soloVoice.load(), -1);
    EXPECT_EQ(rig.app->lastAuditionResult, b);

    // While a task may be building the voices none is looked for, as for the
    // lane's solo.
    rig.app->busyTask.busy.store(true);
    EXPECT_FALSE(ToggleLayerAudition(ctx, a, nullptr));
    EXPECT_EQ(rig.engine->soloVoice.load(), -1);
    EXPECT_EQ(rig.app->auditionResult, -1);
    rig.app->busyTask.busy.store(false);

    rig.engine->voices.clear();
    EXPECT_FALSE(ToggleLayerAudition(ctx, a, nullptr)) << "no voice, no audition";
}

// The four membership helpers the bans, pins, linked folders and the file
// registry share: whole strings, byte for byte.
TEST(NameListHelpers, MembershipIsByteExactAndTheShortListNeverEvicts) {
    Project project;
    project.bannedFiles = {"C:/Sounds/Door.wav", "", "/x/é.wav"};
    Event event;
    event.pinnedFiles = {"/a/B.wav"};
    AppState app;
    app.linkedGroups = {"", "Doors", "Group 2"};
    struct Case {
        const char* text;
        bool banned, pinned, linked;
    };
    const Case cases[] = {
        {"C:/Sounds/Door.wav", true, false, false},  {"c:/Sounds/Door.wav", false, false, false},
        {"C:\\Sounds\\Door.wav", false, false, false}, {"C:/Sounds/Door.wav ", false, false, false},
        {"/x/é.wav", true, false, false},             {"/a/B.wav", false, true, false},
        {"/a/b.wav", false, false, false},             {"", true, false, false},
        {"Doors", false, false, true},                 {"doors", false, false, false},
        {"Group 2", false, false, true},               {"Group", false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsNameInList(project, c.text), c.banned) << c.text;
        EXPECT_EQ(ContainsString(event.pinnedFiles, c.text), c.pinned) << c.text;
        EXPECT_EQ(FindNameIndex(app, c.text), c.linked) << c.text;
        EXPECT_EQ(IsLinkedGroup(app, c.text), c.linked) << c.text;
    }
    EXPECT_FALSE(FindNameIndex(app, nullptr));
    EXPECT_FALSE(ContainsString(Event{}.pinnedFiles, ""));
    EXPECT_FALSE(IsNameInList(Project{}, ""));

    FileRegistry& registry = FileRegistry::Instance();
    FileRegistryEntry entry;
    entry.path = "/now/door.wav";
    AddUniqueToShortList(registry, entry, "");
    AddUniqueToShortList(registry, entry, "/now/door.wav");
    EXPECT_TRUE(entry.alternatePaths.empty()) << "empty and own path are skipped";
    for (int i = 0; i < 7; ++i) AddUniqueToShortList(registry, entry, "/old/" + std::to_string(i));
    AddUniqueToShortList(registry, entry, "/old/3");
    ASSERT_EQ(entry.alternatePaths.size(), 7u);
    AddUniqueToShortList(registry, entry, "/old/7");
    ASSERT_EQ(entry.alternatePaths.size(), 8u) << "the eighth is appended";
    AddUniqueToShortList(registry, entry, "/old/8");
    ASSERT_EQ(entry.alternatePaths.size(), 8u);
    EXPECT_EQ(entry.alternatePaths.front(), "/old/0") << "no eviction";
    EXPECT_EQ(entry.alternatePaths.back(), "/old/7");
}
