// The edits of levels and mutes on a dense project of real sounds: each
// leaves every voice as a sync of the same document leaves it, takes one
// undo step per gesture and marks the project unsaved; a muted event stays
// silent whatever is done to its layers; the mixer's saved settings mark the
// project unsaved; and deleting many events walks the voices no more often
// than deleting one.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "document/busy_task.h"
#include "document/event.h"
#include "document/project.h"
#include "operations/event_edits.h"
#include "operations/export_job.h"
#include "operations/event_voices.h"
#include "operations/level_edits.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "playback/engine_voices.h"
#include "playback/voice_settings.h"
#include "render_job_rig.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/temp_dir.h"

namespace {

// What the mixer and the level passes read of a voice, with its result.
struct VoiceState {
    uint32_t resultId = 0;
    int32_t resultIndex = -1, eventIndex = -1, group = 0;
    float startTime = 0, plainStartTime = 0, gain = 0, levelScale = 0, eventGain = 0, pan = 0;
    uint8_t muted = 0;
    bool operator==(const VoiceState&) const = default;
};

std::vector<VoiceState> VoiceStates(const AudioEngine& engine) {
    std::vector<VoiceState> states;
    for (const PlaybackVoice& v : engine.voices)
        states.push_back({v.resultId, v.resultIndex, v.eventIndex, v.group, v.startTime, v.plainStartTime,
                          v.gain.load(), v.levelScale, v.eventGain.load(), v.pan, v.muted.load()});
    return states;
}

// `events` events of real sounds packed into a short timeline, so that the
// loudest moment needs a headroom cut, with every voice built; `event` is the
// first from `pickFrom` on with sounding layers (-1 when none is), `layer`
// its first layer.
struct DenseRig : JobRig {
    TempDir dir;
    int event = -1, layer = -1;
    explicit DenseRig(int events = 60, int pickFrom = 0) {
        LargeProjectSpec spec{.eventCount = events, .seconds = 0.25f * float(events),
                              .layers = LargeProjectLayers::Made, .layersPerEvent = 4, .soundCount = 12,
                              .soundSeconds = 1.0f};
        LargeProject large = MakeLargeProject(spec, dir.File("Library"));
        *project = std::move(large.project);
        library->libraries.assign(1, large.library.index);
        FixProbedWeights(*project);
        project->rendered = true;
        engine->masterGain = 1.4f;  // a lower limit: the cut is certain
        const DocumentContext ctx = Context();
        RebuildBedsAndWeights(ctx);
        RebuildCache(ctx, true);
        event = EventWithLayers(pickFrom);
        layer = LayerOf(event);
    }

    // The voices now, then after a sync of the same document: field by field
    // the same, bit for bit.
    void ExpectWhatASyncGives(const std::string& what) {
        const std::vector<VoiceState> edited = VoiceStates(*engine);
        ASSERT_TRUE(SyncVoicesWithResults(Context(), false)) << what;
        const std::vector<VoiceState> synced = VoiceStates(*engine);
        ASSERT_EQ(edited.size(), synced.size()) << what;
        int differ = 0;
        for (size_t v = 0; v < edited.size(); ++v) differ += edited[v] == synced[v] ? 0 : 1;
        EXPECT_EQ(differ, 0) << what << ": voices that a sync changes";
    }

    int EventWithLayers(int from) const {
        for (size_t e = size_t(from); e < project->events.size(); ++e)
            for (const RenderResult& r : project->results)
                if (r.eventIdx == int(e) && ResultGetsVoice(r) && !r.filepath.empty()) return int(e);
        return -1;
    }
    int LayerOf(int event, int nth = 0) const {
        for (size_t k = 0; k < project->results.size(); ++k)
            if (project->results[k].eventIdx == event && !project->results[k].filepath.empty() && nth-- == 0)
                return int(k);
        return -1;
    }
    bool EventVoicesMuted(int event) const {
        bool any = false, all = true;
        for (const PlaybackVoice& v : engine->voices)
            if (v.eventIndex == event) {
                any = true;
                all = all && v.muted.load() != 0;
            }
        return any && all;
    }
};

}  // namespace

// Every edit of a level or a mute, as its control makes it: one undo step
// per gesture that brings the document back, the unsaved flag, and voices
// that a sync of the new document leaves exactly as they are.
TEST(LevelEdits, EachEditLeavesTheVoicesASyncGivesInOneUndoStep) {
    DenseRig rig(60, 3);
    const DocumentContext ctx = rig.Context();
    ASSERT_LT(rig.engine->stats.headroomCut.load(), 1.0f) << "the project is dense enough for a headroom cut";
    const int event = rig.event, layer = rig.layer;
    ASSERT_GE(layer, 0);
    std::vector<int> every(rig.project->events.size());
    for (size_t e = 0; e < every.size(); ++e) every[e] = int(e);

    struct Edit {
        const char* what;
        std::function<bool()> run;
        bool undoable = true;
    };
    const std::vector<Edit> edits = {
        {"a layer +6 dB in three frames", [&] {
             EditGesture drag;
             bool done = true;
             for (float db : {2.0f, 4.0f, 6.0f}) done = SetLayerVolume(ctx, layer, db, drag) && done;
             return done;
         }},
        {"every event to -18 dB", [&] {
             EditGesture drag;
             return MoveBatchVolume(ctx, every, -18.0f, drag);
         }},
        {"one event's volume dragged", [&] {
             EditGesture drag;
             return SetEventVolume(ctx, event, -9.0f, drag) && SetEventVolume(ctx, event, -12.0f, drag);
         }},
        {"a nudge of 40 events", [&] {
             if (!PushUndoSnapshot(ctx)) return false;
             EventMoves moves;
             moves.seconds.assign(rig.project->events.size(), 0.0f);
             for (size_t e = 0; e < 40 && e < moves.seconds.size(); ++e) moves.seconds[e] = 0.04f;
             moves.what = "Nudge";
             return MoveEventsWithVoices(ctx, moves);
         }},
        {"an event muted", [&] { return SetEventMuted(ctx, event, true); }},
        {"a layer muted", [&] { return ToggleLayerMute(ctx, layer); }},
        {"a layer unmuted", [&] { return ToggleLayerMute(ctx, layer); }},
        {"an event unmuted", [&] { return SetEventMuted(ctx, event, false); }},
        {"a sound disliked", [&] { return DislikeLayer(ctx, layer); }},
        {"a sound liked", [&] { return LikeLayer(ctx, layer); }},
        {"the master trim", [&] { return SetMasterTrim(ctx, 1.2f); }, false},
        {"a group fader", [&] { return SetGroupFader(ctx, 1, 0.6f); }, false},
        {"a group fader back", [&] { return SetGroupFader(ctx, 1, 1.0f); }, false},
    };
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.what);
        rig.app->modified = false;
        const size_t steps = rig.app->undoHistory.undo.size();
        const std::vector<Event> eventsBefore = rig.project->events;
        const std::vector<RenderResult> resultsBefore = rig.project->results;
        ASSERT_TRUE(edit.run());
        EXPECT_TRUE(rig.app->modified);
        EXPECT_EQ(rig.app->undoHistory.undo.size(), steps + (edit.undoable ? 1 : 0));
        rig.ExpectWhatASyncGives(edit.what);
        if (!edit.undoable) continue;
        // Undo brings the document back; redo the edit, whole.
        const std::vector<Event> eventsAfter = rig.project->events;
        const std::vector<RenderResult> resultsAfter = rig.project->results;
        ASSERT_TRUE(RunUndoCommand(ctx, false));
        EXPECT_TRUE(rig.project->events == eventsBefore);
        EXPECT_TRUE(rig.project->results == resultsBefore);
        ASSERT_TRUE(RunUndoCommand(ctx, true));
        EXPECT_TRUE(rig.project->events == eventsAfter);
        EXPECT_TRUE(rig.project->results == resultsAfter);
        rig.ExpectWhatASyncGives(std::string(edit.what) + ", undone and redone");
    }
}

// The voice rule everywhere: an event's mute silences every layer of it,
// whatever is done to one of its layers, and lifting a layer's own mute or
// ban never lets it sound through its muted event.
TEST(LevelEdits, AMutedEventStaysSilentWhateverItsLayersDo) {
    DenseRig rig(24, 2);
    const DocumentContext ctx = rig.Context();
    const int event = rig.event, layer = rig.layer;
    ASSERT_GE(layer, 0);
    ASSERT_TRUE(SetEventMuted(ctx, event, true));
    EXPECT_TRUE(rig.EventVoicesMuted(event));
    const std::vector<std::pair<const char*, std::function<bool()>>> steps = {
        {"layer muted", [&] { return ToggleLayerMute(ctx, layer); }},
        {"layer unmuted", [&] { return ToggleLayerMute(ctx, layer); }},
        {"sound disliked", [&] { return DislikeLayer(ctx, layer); }},
        {"sound liked", [&] { return LikeLayer(ctx, layer); }},
        {"sound unliked", [&] { return LikeLayer(ctx, layer); }},
    };
    for (const auto& [what, step] : steps) {
        ASSERT_TRUE(step()) << what;
        EXPECT_TRUE(rig.EventVoicesMuted(event)) << what << ": a layer of the muted event sounds";
        for (size_t k = 0; k < rig.project->results.size(); ++k) {
            const RenderResult& r = rig.project->results[k];
            if (r.eventIdx == event) {
                EXPECT_TRUE(LayerMuted(r, int(rig.project->events.size()), rig.project->events.data())) << what;
            }
        }
        rig.ExpectWhatASyncGives(what);
    }
    ASSERT_TRUE(SetEventMuted(ctx, event, false));
    EXPECT_FALSE(rig.EventVoicesMuted(event));
}

namespace {

struct ExportedRun {
    std::map<std::string, std::string> files;
    SessionList session;
};

// Every pass (mixdown, stems, tracks, clips, AAF; no reverb stem) of the rig's document.
ExportedRun ExportEverything(DenseRig& rig, const std::string& folder) {
    ExportedRun run;
    rig.app->exportSettings = EveryExportPass();
    // The reverb stem's clips stand in every session: left out, the
    // session holds the layers' clips alone.
    rig.app->exportSettings.exportReverbStem = false;
    const ExportContext ctx = rig.ExportContextOf(CapturingAafStep(run.session));
    const ExportReport report = RunExportJob(MakeExportJob(*rig.app, *rig.project, *rig.engine, folder + "/Reel"), ctx);
    EXPECT_FALSE(report.aafFailed || report.wavFailed || report.stopped) << report.finalText;
    run.files = ExportedFiles(folder);
    return run;
}

size_t ClipFiles(const ExportedRun& run) {
    size_t n = 0;
    for (const auto& [name, bytes] : run.files) n += name.rfind("Clips/", 0) == 0 ? 1 : 0;
    return n;
}

}  // namespace

// The muted event's layers are in no pass of an export, whatever was done
// to them after the event was muted: the clip files and the AAF session
// lose exactly its layers, and every file is what the same document gives
// when its voices are built afresh (as a reopen builds them).
TEST(LevelEdits, AMutedEventIsInNoExportPass) {
    DenseRig rig(24, 2);
    const DocumentContext ctx = rig.Context();
    const int event = rig.event, layer = rig.layer;
    ASSERT_GE(layer, 0);
    const ExportedRun heard = ExportEverything(rig, rig.dir.File("heard"));

    ASSERT_TRUE(SetEventMuted(ctx, event, true));
    for (int k = 0; k < 2; ++k) ASSERT_TRUE(ToggleLayerMute(ctx, layer));
    ASSERT_TRUE(DislikeLayer(ctx, layer));
    ASSERT_TRUE(LikeLayer(ctx, layer));
    const ExportedRun muted = ExportEverything(rig, rig.dir.File("muted"));

    ResetEngineVoices(*rig.engine, ctx.sampleRate, 0);
    RebuildCache(ctx, true);
    const ExportedRun fresh = ExportEverything(rig, rig.dir.File("fresh"));
    ExpectSameExportFiles(muted.files, fresh.files);
    ExpectSameSession(muted.session, fresh.session);

    // What the event alone puts in the clips and the session: exactly what
    // its mute took out of them.
    for (size_t e = 0; e < rig.project->events.size(); ++e) rig.project->events[e].muted = int(e) != event;
    ASSERT_TRUE(SyncVoicesWithResults(ctx, false));
    const ExportedRun alone = ExportEverything(rig, rig.dir.File("alone"));
    EXPECT_GT(ClipFiles(alone), 0u);
    EXPECT_EQ(ClipFiles(muted), ClipFiles(heard) - ClipFiles(alone));
    EXPECT_EQ(muted.session.list.positions.size(),
              heard.session.list.positions.size() - alone.session.list.positions.size());
}

// Nothing changes while a task or an export owns the document: no value, no
// undo step, no unsaved flag.
TEST(LevelEdits, RefusedWhileTheDocumentIsBusy) {
    DenseRig rig(12);
    const DocumentContext ctx = rig.Context();
    const int event = rig.event, layer = rig.layer;
    const std::vector<VoiceState> voices = VoiceStates(*rig.engine);
    for (int owner = 0; owner < 2; ++owner) {
        (owner ? rig.app->exportRunning : rig.app->busyTask.busy).store(true);
        EditGesture drag;
        EXPECT_FALSE(SetEventVolume(ctx, event, -20, drag));
        EXPECT_FALSE(SetLayerVolume(ctx, layer, -20, drag));
        EXPECT_FALSE(SetEventMuted(ctx, event, true));
        EXPECT_FALSE(ToggleLayerMute(ctx, layer));
        EXPECT_FALSE(DislikeLayer(ctx, layer));
        EXPECT_FALSE(SetMasterTrim(ctx, 0.5f));
        EXPECT_FALSE(SetGroupFader(ctx, 0, 0.5f));
        EXPECT_FALSE(drag.stepTaken);
        (owner ? rig.app->exportRunning : rig.app->busyTask.busy).store(false);
    }
    EXPECT_FALSE(rig.app->modified);
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());
    EXPECT_EQ(rig.engine->masterGain.load(), 1.4f);
    EXPECT_FALSE(rig.project->events[size_t(event)].muted);
    EXPECT_TRUE(VoiceStates(*rig.engine) == voices) << "no voice changed";
}

// The mixer's settings are saved with the project: each change marks it
// unsaved, a value that stays leaves the flag alone, and none takes an undo
// step (the panel's settings are not in the history).
TEST(LevelEdits, MixerSettingsMarkTheProjectUnsaved) {
    JobRig rig;
    AudioEngine& engine = *rig.engine;
    AppState& app = *rig.app;
    const DocumentContext ctx = rig.Context();
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"master trim", [&] { SetMasterTrim(ctx, 0.8f); }},
        {"group fader", [&] { SetGroupFader(ctx, 2, 1.5f); }},
        {"reference fader", [&] { SetReferenceFader(engine, app, 0.5f, false); }},
        {"reverb send", [&] { SetGroupReverbSend(engine, app, 1, 0.9f); }},
        {"reverb switch", [&] { SetReverbOn(engine, app, false); }},
        {"reverb knob", [&] { SetReverbSetting(engine, app, 1, 0.25f); }},
        {"reverb space", [&] { DragReverbSpaceControl(engine, app, 1000.0f, 100.0f); }},  // to its right end
    };
    for (const auto& [what, change] : changes) {
        app.modified = false;
        change();
        EXPECT_TRUE(app.modified) << what;
        app.modified = false;
        change();  // the same value again
        EXPECT_FALSE(app.modified) << what << " again";
    }
    EXPECT_EQ(engine.masterGain.load(), 0.8f);
    EXPECT_EQ(engine.groupGain[2].load(), 1.5f);
    EXPECT_EQ(engine.refGain.load(), 0.5f);
    EXPECT_EQ(engine.reverb.groupSends[1].load(), 0.9f);
    EXPECT_EQ(engine.reverb.enabled.load(), 0);
    EXPECT_TRUE(app.undoHistory.undo.empty());
}

// A deletion of many events renumbers the layers, the selection and the
// voices in one pass: the voice list is walked as often for 100 events as
// for one, and the voices are left as a sync leaves them.
TEST(LevelEdits, DeletingManyEventsWalksTheVoicesAsOftenAsDeletingOne) {
    DenseRig rig(160);
    const DocumentContext ctx = rig.Context();
    auto walksOfDeleting = [&](const std::vector<int>& doomed) {
        const uint64_t before = rig.engine->stats.voiceWalks.load();
        EXPECT_TRUE(DeleteEventsWithVoices(ctx, doomed));
        return rig.engine->stats.voiceWalks.load() - before;
    };
    // The selection follows: the kept event after the deleted ones moves down.
    SelectEvents(*rig.app, {5, 7});
    const uint64_t one = walksOfDeleting({6});
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{5, 6}));
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    rig.ExpectWhatASyncGives("one deleted");

    std::vector<int> hundred;
    for (int e = 10; e < 210 && hundred.size() < 100; e += 1) hundred.push_back(e);
    const size_t eventsBefore = rig.project->events.size();
    const uint64_t many = walksOfDeleting(hundred);
    EXPECT_EQ(rig.project->events.size(), eventsBefore - 100);
    EXPECT_EQ(many, one) << "walks of the voice list for 100 deleted events against one";
    EXPECT_LE(one, 12u);
    for (const RenderResult& r : rig.project->results) {
        ASSERT_GE(r.eventIdx, 0);
        ASSERT_LT(size_t(r.eventIdx), rig.project->events.size());
    }
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    rig.ExpectWhatASyncGives("a hundred deleted");
    EXPECT_FALSE(DeleteEventsWithVoices(ctx, {-1, int(rig.project->events.size())})) << "no valid index";
}
