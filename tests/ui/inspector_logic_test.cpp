// The inspector's rules without a GUI: the level maps and batch moves, the
// one-shot edits as undo steps, the bus override, the Bed lists, the clip
// offset beside the voices, the card texts and the header cache, and a
// volume drag beside a reading audio thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "document/busy_task.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/recipe_lists.h"
#include "operations/undo.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "recipes/event_preset.h"
#include "support/audio_fixtures.h"
#include "support/document_records.h"
#include "support/temp_dir.h"
#include "ui/inspector_logic.h"

namespace {

struct InspectorRig : PanelRecords {
    InspectorRig() {
        project->totalDuration = 60;
        project->fps = 25;
    }
    int Add(int shape, float time = 1) {
        project->events.push_back(MakeEvent(*project, time, shape, 0.5f));
        return int(project->events.size()) - 1;
    }
    void AddVoice(int event, float start) {
        PlaybackVoice v;
        v.eventIndex = event;
        v.startTime = v.plainStartTime = start;
        engine->voices.push_back(v);
    }
    // A silent layer of the event with its voice, linked as a build links them.
    void AddLayer(int event, float start) {
        RenderResult r;
        r.placeholder = true;
        r.eventIdx = event;
        r.startTime = start;
        r.duration = 1;
        r.id = int32_t(project->results.size()) + 1;
        project->results.push_back(r);
        AddVoice(event, start);
        PlaybackVoice& v = engine->voices.back();
        v.resultIndex = int32_t(project->results.size()) - 1;
        v.resultId = uint32_t(r.id);
        v.length = 1;
    }
    size_t UndoDepth() const { return app->undoHistory.undo.size(); }
    Event& E(int e) { return project->events[size_t(e)]; }
};

}  // namespace

// ---------------------------------------------------------------------------
// Levels
// ---------------------------------------------------------------------------

TEST(InspectorLevels, DecibelMapKeepsAFloorAndBatchMovesKeepDifferences) {
    EXPECT_NEAR(DbToGain(-24), 0.0631f, 0.0005f);
    EXPECT_FLOAT_EQ(GainToDb(0.001f), -24.0f);
    EXPECT_FLOAT_EQ(GainToDb(0.0f), -24.0f);
    EXPECT_NEAR(GainToDb(DbToGain(-6)), -6.0f, 1e-4f);
    EXPECT_FLOAT_EQ(DbToGain(3), 1.0f);  // never above unity

    InspectorRig rig;
    const int a = rig.Add(kShapeSpot), b = rig.Add(kShapeSpot), c = rig.Add(kShapeSpot);
    rig.E(a).gain = DbToGain(-6);
    rig.E(b).gain = DbToGain(-12);
    rig.E(c).gain = 0.0005f;  // reads as −24
    rig.AddLayer(a, 0);
    rig.AddLayer(b, 0);
    rig.AddLayer(c, 0);
    EditGesture drag;
    ASSERT_TRUE(MoveBatchVolume(rig.Ctx(), {a, b, c}, 3, drag));
    EXPECT_NEAR(GainToDb(rig.E(a).gain), -3.0f, 1e-3f);
    EXPECT_NEAR(GainToDb(rig.E(b).gain), -9.0f, 1e-3f);
    EXPECT_NEAR(GainToDb(rig.E(c).gain), -21.0f, 1e-3f);
    // Voices take the level at once, in eventGain.
    EXPECT_FLOAT_EQ(rig.engine->voices[0].eventGain.load(), rig.E(a).gain);
    EXPECT_FLOAT_EQ(rig.engine->voices[1].eventGain.load(), rig.E(b).gain);
    ASSERT_TRUE(MoveBatchVolume(rig.Ctx(), {a, b}, 8, drag));  // −3 + 8 stops at 0
    EXPECT_FLOAT_EQ(rig.E(a).gain, 1.0f);
    EXPECT_NEAR(GainToDb(rig.E(b).gain), -1.0f, 1e-3f);
    EXPECT_EQ(rig.UndoDepth(), 1u) << "one drag, one undo step";
    EXPECT_TRUE(rig.app->modified);

    EditGesture next;
    ASSERT_TRUE(SetEventVolume(rig.Ctx(), a, -24, next));
    EXPECT_NEAR(rig.E(a).gain, 0.063f, 0.001f);
    EXPECT_NEAR(BatchMeanDb(*rig.project, {a}), -24.0f, 0.01f);
    EXPECT_EQ(rig.UndoDepth(), 2u) << "a new drag, a new step";
    EXPECT_FALSE(SetEventVolume(rig.Ctx(), a, -30, next)) << "clamped to where it is: no change";
    ASSERT_TRUE(Undo(rig.Ctx()));
    EXPECT_NEAR(GainToDb(rig.E(a).gain), 0.0f, 1e-3f) << "the whole drag comes back";
}

TEST(InspectorLevels, AVolumeDragBesideAReadingAudioThreadIsClean) {
    InspectorRig rig;
    const int a = rig.Add(kShapeSpot), b = rig.Add(kShapeSpot);
    for (int i = 0; i < 64; ++i) rig.AddLayer(i % 2 ? a : b, 0.1f * float(i));
    std::atomic<bool> stop{false};
    std::atomic<double> sink{0};
    std::thread audio([&] {
        // The mixer reads the levels per block without the engine mutex.
        while (!stop.load()) {
            double sum = 0;
            for (const PlaybackVoice& v : rig.engine->voices)
                sum += v.eventGain.load(std::memory_order_relaxed) * v.gain.load(std::memory_order_relaxed);
            sink.store(sum);
        }
    });
    EditGesture drag;
    for (int step = 0; step < 500; ++step) {
        SetEventVolume(rig.Ctx(), a, -float(step % 24), drag);
        MoveBatchVolume(rig.Ctx(), {a, b}, step % 2 ? 0.5f : -0.5f, drag);
    }
    stop = true;
    audio.join();
    EXPECT_GE(sink.load(), 0.0);
    EXPECT_FLOAT_EQ(rig.engine->voices[1].eventGain.load(), rig.E(a).gain);
    EXPECT_EQ(rig.UndoDepth(), 1u);
}

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------

TEST(InspectorControls, DragMapsStopAtTheirRangesAndAutoLayersShowThree) {
    EXPECT_FLOAT_EQ(DragWeightOffset(0.9f, -50, 100), 1.0f);
    EXPECT_FLOAT_EQ(DragWeightOffset(-0.9f, 50, 100), -1.0f);
    EXPECT_FLOAT_EQ(DragWeightOffset(0.0f, 25, 100), -0.25f);  // down lowers
    EXPECT_FLOAT_EQ(DragIntensityScale(1.0f, 25, 100), 0.5f);
    EXPECT_FLOAT_EQ(DragIntensityScale(1.9f, -100, 100), 2.0f);
    EXPECT_FLOAT_EQ(DragIntensityScale(0.1f, 100, 100), 0.0f);
    EXPECT_EQ(FillLayersShown(0), 3);
    EXPECT_EQ(FillLayersShown(7), 7);
    EXPECT_FLOAT_EQ(SyncOffsetAt(150, 100, 200, 4), 1.0f);
    EXPECT_FLOAT_EQ(SyncOffsetAt(400, 100, 200, 4), 4.0f);
    EXPECT_EQ(NextScaleTune(1), 2);
    EXPECT_EQ(NextScaleTune(2), 0);
    EXPECT_EQ(NextScaleTune(0), 2);
    EXPECT_FLOAT_EQ(SemitonesToPitch(30), 1.0f);
    EXPECT_FLOAT_EQ(PitchToSemitones(SemitonesToPitch(6)), 6.0f);
}

TEST(InspectorControls, OneShotEditsAreOneUndoStepEachAndUndoRestoresThem) {
    InspectorRig rig;
    const DocumentContext ctx = rig.Ctx();
    const int f = rig.Add(kShapeFill);
    rig.project->scenes.resize(2);
    rig.E(f).pinnedFiles = {"/a.wav", "/b.wav"};
    rig.E(f).pinnedFileIds = {"", ""};
    rig.E(f).hasPinnedFiles = true;
    CopyTextField(rig.E(f).libFilter, "Doors");
    rig.E(f).scaleTuneOverride = 1;

    ASSERT_TRUE(UnpinAllFiles(ctx, f));
    EXPECT_TRUE(rig.E(f).pinnedFiles.empty());
    EXPECT_FALSE(rig.E(f).hasPinnedFiles);
    ASSERT_TRUE(ClearLibFilter(ctx, f));
    EXPECT_EQ(rig.E(f).libFilter[0], '\0');
    EXPECT_FALSE(ClearLibFilter(ctx, f));  // nothing to clear: no empty step
    ASSERT_TRUE(LinkEventToScene(ctx, f, 1));
    EXPECT_EQ(rig.E(f).sceneLink, 1);
    EXPECT_FALSE(rig.E(f).locked);  // a Fill unlocks
    ASSERT_TRUE(SetScaleTune(ctx, {f}, NextScaleTune(rig.E(f).scaleTuneOverride)));
    EXPECT_EQ(rig.E(f).scaleTuneOverride, 2);
    EXPECT_EQ(rig.UndoDepth(), 4u);

    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Undo(ctx));
    const Event& back = rig.project->events[0];
    EXPECT_EQ(back.pinnedFiles.size(), 2u);
    EXPECT_EQ(std::string(TextFieldView(back.libFilter)), "Doors");
    EXPECT_EQ(back.sceneLink, -1);
    EXPECT_EQ(back.scaleTuneOverride, 1);

    // While an export runs nothing changes and no step is taken.
    rig.app->exportRunning = true;
    EXPECT_FALSE(LinkEventToScene(ctx, 0, 0));
    EXPECT_TRUE(InspectorExportBlocks(*rig.app));
    rig.app->exportRunning = false;
}

TEST(InspectorControls, KeywordSessionTakesOneStepHoldingTheOldText) {
    InspectorRig rig;
    const DocumentContext ctx = rig.Ctx();
    const int e = rig.Add(kShapeBloom);
    CopyTextField(rig.E(e).keywords, "door");
    KeywordEditSession session;
    BeginKeywordEdit(session, *rig.project, e);
    EXPECT_TRUE(NoteKeywordEdit(session, ctx, e));  // no change yet: no step
    EXPECT_EQ(rig.UndoDepth(), 0u);
    for (const char* typed : {"door w", "door wa", "door wash"}) {
        CopyTextField(rig.E(e).keywords, typed);  // the field writes in place
        NoteKeywordEdit(session, ctx, e);
    }
    EXPECT_EQ(rig.UndoDepth(), 1u);
    EXPECT_EQ(std::string(TextFieldView(rig.E(e).keywords)), "door wash");
    ASSERT_TRUE(Undo(ctx));
    EXPECT_EQ(std::string(TextFieldView(rig.project->events[0].keywords)), "door");
}

TEST(InspectorControls, BusTogglesWriteMinusOneForTheShapesOwnGroup) {
    InspectorRig rig;
    const DocumentContext ctx = rig.Ctx();
    // A Fill always plays on the background group; Spots and Blooms toggle.
    const int spot = rig.Add(kShapeSpot), fill = rig.Add(kShapeBloom);
    const int own = ShapeMixGroup(kShapeSpot);
    const int other = own == 2 ? 1 : 2;
    RenderResult r;
    r.eventIdx = spot;
    r.group = own;
    rig.project->results.push_back(r);

    ASSERT_TRUE(ToggleEventBus(ctx, spot));
    EXPECT_EQ(EventMixGroup(rig.E(spot)), other);
    EXPECT_EQ(rig.E(spot).groupOverride, other);
    EXPECT_EQ(rig.project->results[0].group, other);
    ASSERT_TRUE(ToggleEventBus(ctx, spot));
    EXPECT_EQ(rig.E(spot).groupOverride, -1);

    // Batch: not all on FX B, so all go to FX B; then all back to FX A.
    ASSERT_TRUE(ToggleBatchBus(ctx, {spot, fill}));
    for (int e : {spot, fill}) {
        EXPECT_EQ(EventMixGroup(rig.E(e)), 2);
        EXPECT_EQ(rig.E(e).groupOverride, ShapeMixGroup(rig.E(e).shape) == 2 ? -1 : 2);
        EXPECT_EQ(rig.E(e).stereo, rig.project->groups[2].stereo);
    }
    ASSERT_TRUE(ToggleBatchBus(ctx, {spot, fill, 99}));  // out-of-range skipped
    for (int e : {spot, fill}) {
        EXPECT_EQ(EventMixGroup(rig.E(e)), 1);
        EXPECT_NE(rig.E(e).groupOverride, 0);
    }
    // A Fill plays on BG whatever is stored and a Bed has no bus button: a
    // toggle refuses them, and the batch button acts on the others only.
    const int realFill = rig.Add(kShapeFill), bed = rig.Add(kShapeBed);
    const size_t steps = rig.app->undoHistory.undo.size();
    EXPECT_FALSE(ToggleEventBus(ctx, realFill));
    EXPECT_FALSE(ToggleEventBus(ctx, bed));
    EXPECT_EQ(rig.app->undoHistory.undo.size(), steps) << "no undo step for a refused toggle";
    EXPECT_EQ(BusEvents(*rig.project, {realFill, spot, bed, 99}), std::vector<int>{spot});
    EXPECT_TRUE(BusEvents(*rig.project, {realFill, bed}).empty());
    EXPECT_FALSE(ToggleBatchBus(ctx, {realFill, bed}));
    ASSERT_TRUE(ToggleBatchBus(ctx, {realFill, spot}));
    EXPECT_EQ(rig.E(realFill).groupOverride, -1) << "the Fill keeps no stored choice";
    EXPECT_EQ(EventMixGroup(rig.E(spot)), 2);
    EXPECT_TRUE(BatchScaleTuneShowsForceOff(*rig.project, {}));
    rig.E(spot).scaleTuneOverride = 2;
    EXPECT_TRUE(BatchScaleTuneShowsForceOff(*rig.project, {spot, fill}));
    rig.E(fill).scaleTuneOverride = 0;
    rig.Add(kShapeSpot);
    EXPECT_FALSE(BatchScaleTuneShowsForceOff(*rig.project, {spot, fill, 2}));
}

TEST(InspectorControls, BatchTextEditsCommitOnceAndSkipClipsForFilters) {
    InspectorRig rig;
    const DocumentContext ctx = rig.Ctx();
    const int a = rig.Add(kShapeSpot), clip = rig.Add(kShapeClip);
    rig.E(a).locked = rig.E(clip).locked = true;
    ASSERT_TRUE(SetBatchKeywords(ctx, {a, clip}, "rain heavy"));
    EXPECT_EQ(std::string(TextFieldView(rig.E(clip).keywords)), "rain heavy");
    EXPECT_FALSE(rig.E(a).locked);
    ASSERT_TRUE(SetBatchLibFilter(ctx, {a, clip}, "Weather"));
    EXPECT_EQ(std::string(TextFieldView(rig.E(a).libFilter)), "Weather");
    EXPECT_EQ(rig.E(clip).libFilter[0], '\0');
    EXPECT_EQ(rig.UndoDepth(), 2u);
    EXPECT_FALSE(SetBatchLibFilter(ctx, {clip}, "X"));  // only Clips: nothing to do
}

// ---------------------------------------------------------------------------
// Clips and Beds
// ---------------------------------------------------------------------------

TEST(InspectorClips, OffsetMovesResultsAndVoicesBackAndClampsToTheDuration) {
    InspectorRig rig;
    const int c = rig.Add(kShapeClip, 10);
    rig.E(c).duration = 4;
    rig.E(c).syncOffset = 1;
    RenderResult r;
    r.eventIdx = c;
    r.startTime = 9;
    rig.project->results.push_back(r);
    rig.AddVoice(c, 9);
    rig.AddVoice(c + 1, 3);  // another event's voice stays

    ASSERT_TRUE(SetClipOffset(rig.Ctx(), c, 1.5f));
    EXPECT_FLOAT_EQ(rig.E(c).time, 10.0f) << "the sync point stays";
    EXPECT_FLOAT_EQ(rig.project->results[0].startTime, 8.5f);
    EXPECT_FLOAT_EQ(rig.engine->voices[0].startTime, 8.5f);
    EXPECT_FLOAT_EQ(rig.engine->voices[0].plainStartTime, 8.5f);
    EXPECT_FLOAT_EQ(rig.engine->voices[1].startTime, 3.0f);
    ASSERT_TRUE(SetClipOffset(rig.Ctx(), c, 9));
    EXPECT_FLOAT_EQ(rig.E(c).syncOffset, 4.0f);
    EXPECT_FLOAT_EQ(rig.project->results[0].startTime, 6.0f);
    EXPECT_FALSE(SetClipOffset(rig.Ctx(), c, 4.00005f));  // within 0.0001

    // During an export, and while a busy task may be building voices,
    // nothing moves: neither the layers nor the voices.
    const float voiceBefore = rig.engine->voices[0].startTime;
    rig.app->exportRunning = true;
    EXPECT_FALSE(SetClipOffset(rig.Ctx(), c, 2));
    EXPECT_FLOAT_EQ(rig.E(c).syncOffset, 4.0f);
    rig.app->exportRunning = false;
    rig.app->busyTask.busy.store(true);
    EXPECT_FALSE(SetClipOffset(rig.Ctx(), c, 2));
    rig.app->busyTask.busy.store(false);
    EXPECT_FLOAT_EQ(rig.E(c).syncOffset, 4.0f);
    EXPECT_FLOAT_EQ(rig.project->results[0].startTime, 6.0f);
    EXPECT_FLOAT_EQ(rig.engine->voices[0].startTime, voiceBefore);
    // Whose voices they are is this state's question: another state's
    // task (another test's, a preview's) leaves them this thread's.
    auto other = std::make_unique<AppState>();
    other->busyTask.busy.store(true);
    ASSERT_TRUE(SetClipOffset(rig.Ctx(), c, 3));
    EXPECT_FLOAT_EQ(rig.project->results[0].startTime, 7.0f);
    EXPECT_FLOAT_EQ(rig.engine->voices[0].startTime, voiceBefore + 1.0f) << "the voice moved with its layer";
    other->busyTask.busy.store(false);
    EXPECT_TRUE(TimecodeCharAllowed('7') && TimecodeCharAllowed(':'));
    EXPECT_FALSE(TimecodeCharAllowed('a') || TimecodeCharAllowed('.'));
}

TEST(InspectorBeds, ReorderAndRemovalEvenTheListsFirstAndMoveThemTogether) {
    InspectorRig rig;
    const DocumentContext ctx = rig.Ctx();
    const int b = rig.Add(kShapeBed);
    // Lists as an older file may leave them: shorter than pinnedFiles.
    rig.E(b).pinnedFiles = {"/a.wav", "/b.wav", "/c.wav"};
    rig.E(b).pinnedFileIds = {"ida"};
    rig.E(b).bedLayerLoop = {1};
    rig.E(b).bedLayerWeight = {};
    ASSERT_TRUE(MoveBedLayer(ctx, b, 0, 2));
    const Event& ev = rig.E(b);
    EXPECT_EQ(ev.pinnedFiles, (std::vector<std::string>{"/b.wav", "/c.wav", "/a.wav"}));
    EXPECT_EQ(ev.pinnedFileIds, (std::vector<std::string>{"", "", "ida"}));
    EXPECT_EQ(ev.bedLayerLoop, (std::vector<uint8_t>{0, 0, 1}));
    EXPECT_EQ(ev.bedLayerWeight, (std::vector<float>{-1, -1, -1}));
    EXPECT_TRUE(rig.app->deferredRebuild.load());
    EXPECT_TRUE(rig.app->modified);

    ASSERT_TRUE(ToggleBedLayerLoop(ctx, b, 0));
    EXPECT_EQ(rig.E(b).bedLayerLoop[0], 1);
    ASSERT_TRUE(RemoveBedLayer(ctx, b, 2));
    EXPECT_EQ(rig.E(b).pinnedFiles.size(), 2u);
    EXPECT_EQ(rig.E(b).pinnedFileIds.size(), 2u);
    EXPECT_EQ(rig.E(b).bedLayerLoop.size(), 2u);
    EXPECT_EQ(rig.E(b).bedLayerWeight.size(), 2u);
    EXPECT_FALSE(RemoveBedLayer(ctx, b, 5));
    EXPECT_FALSE(MoveBedLayer(ctx, b, 0, 7));
    EXPECT_EQ(rig.UndoDepth(), 3u);
    ASSERT_TRUE(Undo(ctx));
    EXPECT_EQ(rig.project->events[0].pinnedFiles.size(), 3u);
}

// ---------------------------------------------------------------------------
// Card texts and the header cache
// ---------------------------------------------------------------------------

TEST(InspectorCard, TextsFollowTheirRangesAndCutsEndInAnEllipsis) {
    EXPECT_EQ(FormatClipDuration(3725.4f), "1:02:05");
    EXPECT_EQ(FormatClipDuration(125.36f), "2:05.3");
    EXPECT_EQ(FormatClipDuration(4.2f), "4.20s");
    EXPECT_EQ(FormatSampleRate(48000), "48k");
    EXPECT_EQ(FormatSampleRate(44100), "44.1k");
    EXPECT_EQ(FormatSampleRate(800), "800");
    EXPECT_EQ(ClipDetailsText(4.2f, 48000, 2, 24), "4.20s  48k  stereo  24-bit");

    // A width of 10 characters, one per byte here.
    auto fits10 = [](const std::string& s) { return s.size() <= 10; };
    const std::string cut = MiddleEllipsis("footsteps_gravel_long.wav", fits10);
    EXPECT_LE(cut.size(), 10u);
    EXPECT_EQ(cut.substr(0, 3), "foo");
    EXPECT_EQ(cut.substr(cut.size() - 3), "wav");
    EXPECT_NE(cut.find("\xE2\x80\xA6"), std::string::npos);
    EXPECT_EQ(MiddleEllipsis("short.wav", fits10), "short.wav");
    // Multi-byte characters are never split, nor a letter from its accent.
    EXPECT_EQ(MiddleEllipsis("e\xCC\x81" "e\xCC\x81" "e\xCC\x81" ".wav", fits10), "e\xCC\x81\xE2\x80\xA6" "wav");
}

TEST(InspectorCard, HeadersAreReadOnceAndAFailedReadIsRemembered) {
    TempDir dir;
    AudioSpec spec;
    spec.sampleRate = 44100;
    spec.channels = 2;
    spec.seconds = 0.5;
    spec.format = SampleFormat::Pcm16;
    const std::string path = dir.File("take.wav");
    ASSERT_TRUE(WriteTestAudio(path, spec));
    ClipHeaderCache cache;
    for (int frame = 0; frame < 100; ++frame) {
        const ClipHeader& h = ClipHeaderFor(cache, path);
        ASSERT_TRUE(h.opened);
        EXPECT_EQ(h.sampleRate, 44100);
        EXPECT_EQ(h.channels, 2);
        EXPECT_EQ(h.bits, 16);
        EXPECT_NEAR(h.duration, 0.5f, 0.001f);
        EXPECT_FALSE(ClipHeaderFor(cache, dir.File("gone.wav")).opened);
    }
    EXPECT_EQ(cache.opens, 2);
    ForgetClipHeader(cache, path);  // a replaced file is read again
    ClipHeaderFor(cache, path);
    EXPECT_EQ(cache.opens, 3);
}

// ---------------------------------------------------------------------------
// Recipes
// ---------------------------------------------------------------------------

TEST(InspectorRecipes, SaveAsksBeforeReplacingAFileAndSaysWhenItFailsDeleteAsksFirst) {
    TempDir dir;
    InspectorRig rig;
    const int e = rig.Add(kShapeBloom);
    int asked = 0;
    auto no = [&](const char*, const char*) { ++asked; return false; };
    auto yes = [&](const char*, const char*) { ++asked; return true; };
    EXPECT_EQ(SaveEventRecipe(*rig.app, *rig.project, e, "  ", dir.path(), no), RecipeSaveOutcome::NoName);
    // A name no file can have is refused with the reason.
    EXPECT_EQ(SaveEventRecipe(*rig.app, *rig.project, e, "../Door", dir.path(), no), RecipeSaveOutcome::Failed);
    EXPECT_EQ(rig.app->toastText, "Recipe not saved: A name cannot contain \"/\".");
    ASSERT_EQ(SaveEventRecipe(*rig.app, *rig.project, e, "Door!Slam", dir.path(), no), RecipeSaveOutcome::Saved);
    ASSERT_EQ(gRecipes.size(), 1u);
    // "Door:Slam" shares the file of "Door!Slam": ask first, keep it on no.
    EXPECT_EQ(SaveEventRecipe(*rig.app, *rig.project, e, "Door:Slam", dir.path(), no), RecipeSaveOutcome::Declined);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(std::string(gRecipes[0].name), "Door!Slam");
    EXPECT_EQ(SaveEventRecipe(*rig.app, *rig.project, e, "Door:Slam", dir.path(), yes), RecipeSaveOutcome::Saved);
    ASSERT_EQ(gRecipes.size(), 1u);
    EXPECT_EQ(std::string(gRecipes[0].name), "Door:Slam");
    // The same name again asks too: a saved recipe is never replaced unasked.
    const std::string file = gRecipes[0].sourcePath;
    const std::string saved = ReadWholeFile(file);
    rig.project->events[size_t(e)].duration += 1.0f;
    EXPECT_EQ(SaveEventRecipe(*rig.app, *rig.project, e, "Door:Slam", dir.path(), no), RecipeSaveOutcome::Declined);
    EXPECT_EQ(asked, 3);
    EXPECT_TRUE(ReadWholeFile(file) == saved) << "the saved recipe was replaced";
    ASSERT_TRUE(WriteWholeFile(dir.File("blocker"), "x"));
    EXPECT_EQ(SaveEventRecipe(*rig.app, *rig.project, e, "x", dir.File("blocker/sub"), no),
              RecipeSaveOutcome::Failed);
    EXPECT_EQ(rig.app->toastText, "Recipe save failed");

    // Deleting asks first; a no keeps the file and the list.
    const size_t before = gRecipes.size();
    ASSERT_GE(before, 1u);
    EXPECT_FALSE(DeleteRecipe(*rig.app, gRecipes[0], dir.path(), no));
    EXPECT_TRUE(ReadWholeFile(file) == saved) << "the saved recipe was replaced";
    EXPECT_EQ(gRecipes.size(), before);
    EXPECT_TRUE(DeleteRecipe(*rig.app, gRecipes[0], dir.path(), yes));
    EXPECT_EQ(gRecipes.size(), before - 1);
    EXPECT_FALSE(std::filesystem::exists(file));
    gRecipes.clear();
}
