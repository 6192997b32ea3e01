// How long each edit a designer makes while the picture plays holds the
// engine's lock (the audio thread leaves a block silent when it finds it
// taken): timed by the engine's own lock on a project of 2,000 and one of
// 20,000 voices. Every hold is bounded by what the edit changes, so it does
// not grow with the project; and what only reads the voices (the timeline's
// marks, the solo's check) takes no lock at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/document_context.h"
#include "operations/event_drags.h"
#include "operations/event_edits.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_streaming.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"
#include "render/track_assignment.h"
#include "support/document_records.h"
#include "support/quiet_stdout.h"
#include "support/spots_and_beds.h"
#include "support/temp_dir.h"
#include "ui/event_commands.h"
#include "ui/inspector_logic.h"
#include "ui/layer_lanes_logic.h"
#include "ui/result_layers_logic.h"

namespace {

constexpr int kRate = 48000;

// `voices` silent layers, two per Spot event every 0.1 s, and two Beds of a
// real file with their looping fills; every voice built, the far ones
// without their samples (the streaming window of the program).
struct HoldRig : DocumentRecords {
    TempDir dir;
    std::vector<int> beds;

    explicit HoldRig(int voices) {
        EXPECT_TRUE(AddSpotsAndBeds(*project, dir.File("bed.wav"), voices, beds));
        engine->streamVoices = 1;
        engine->streamWindow = 5.0f;
        ResetEngineVoices(*engine, kRate, 0);
        QuietStdout(true);
        RebuildCacheAsyncJob(Context(), false);  // the Beds' layers, the tracks, every voice
        QuietStdout(false);
        EXPECT_EQ(engine->voices.size(), size_t(voices + 2));
        app->busyTask.done = false;
    }

    DocumentContext Context() {
        DocumentContext ctx = MakeDocumentContext(*project, *library, *engine, *app);
        ctx.sampleRate = kRate;
        return ctx;
    }
};

// The longest hold of the engine's lock while `op` runs, the least of three
// runs (a hold the scheduler interrupted is not what the operation costs).
int64_t LongestHoldNanos(AudioEngine& engine, const std::function<void()>& op) {
    int64_t least = INT64_MAX;
    for (int run = 0; run < 3; ++run) {
        engine.mutex.ResetHoldStats();
        op();
        least = std::min(least, engine.mutex.LongestHoldNanos());
    }
    return least;
}

// Every edit of the acceptance list, done twice (there and back) per run.
std::map<std::string, int64_t> MeasureHolds(HoldRig& rig) {
    std::map<std::string, int64_t> holds;
    QuietStdout(true);
    const DocumentContext ctx = rig.Context();
    AudioEngine& engine = *rig.engine;
    AppState& app = *rig.app;
    engine.playing = 1;
    engine.position = 3 * kRate;
    const int middle = int(rig.project->events.size()) / 2;
    const int layer = int(rig.project->results.size()) / 2;
    const int32_t layerId = rig.project->results[size_t(layer)].id;

    SelectEvents(app, {middle});
    holds["move"] = LongestHoldNanos(engine, [&] {
        MoveSelectedEvents(ctx, 0.25f);
        MoveSelectedEvents(ctx, -0.25f);
        SyncVoicesWithResults(ctx);  // the drag's end
    });
    holds["gain drag"] = LongestHoldNanos(engine, [&] {
        EditGesture drag;
        for (float db : {-12.0f, -6.0f, -3.0f, 0.0f}) SetEventVolume(ctx, middle, db, drag);
        EditGesture layerDrag;
        SetLayerVolume(ctx, layer, -6.0f, layerDrag);
        SetLayerVolume(ctx, layer, 0.0f, layerDrag);
    });
    holds["mute and unmute"] = LongestHoldNanos(engine, [&] {
        ToggleSelectionMuted(ctx);
        ToggleSelectionMuted(ctx);
        ToggleLayerMute(ctx, layer);
        ToggleLayerMute(ctx, layer);
    });
    holds["solo"] = LongestHoldNanos(engine, [&] {
        ToggleLayerSolo(engine, app, layerId);
        KeepLayerSoloValid(engine, app);
        ToggleLayerSolo(engine, app, layerId);
    });
    holds["undo and redo"] = LongestHoldNanos(engine, [&] {
        RunUndoCommand(ctx, false);
        RunUndoCommand(ctx, true);
    });
    holds["delete"] = LongestHoldNanos(engine, [&] {
        PushUndoSnapshot(ctx);
        DeleteEventWithVoices(ctx, middle + 1);
        RunUndoCommand(ctx, false);  // the layers and their voices back
    });
    Event& bed = rig.project->events[size_t(rig.beds.back())];
    auto bedJob = [&] {
        RebuildBedsAndWeights(ctx);
        RebuildCache(ctx, false);
    };
    holds["bed move"] = LongestHoldNanos(engine, [&] {
        bed.time += 0.5f;
        bedJob();
        bed.time -= 0.5f;
        bedJob();
    });
    holds["bed length"] = LongestHoldNanos(engine, [&] {
        bed.duration += 0.5f;
        bedJob();
        bed.duration -= 0.5f;
        bedJob();
    });
    LayerSpliceMarks marks;
    holds["timeline frame"] = LongestHoldNanos(engine, [&] {
        engine.stats.levelsGeneration.fetch_add(1);
        RefreshLayerSpliceMarks(app, engine, marks);
        KeepLayerSoloValid(engine, app);
    });
    VoiceStreamer streamer(2);
    holds["streaming window"] = LongestHoldNanos(engine, [&] {
        for (double at : {20.0, 3.0}) {
            SeekPlayback(engine, at);
            PrepareVoicesAtPlayhead(streamer, engine, rig.project->results, int(rig.project->results.size()));
        }
    });
    engine.playing = 0;
    QuietStdout(false);
    return holds;
}

}  // namespace

// How long each edit holds the lock at either size is a benchmark's figure
// (BM_EditHolds, bench/engine_holds_bench.cpp); here every edit, made with the
// audio thread mixing, leaves the voices in line with the layers.
TEST(EngineHolds, EveryEditLeavesTheVoicesInLineOnTwoAndTwentyThousandVoices) {
    std::map<std::string, int64_t> small, large;
    {
        HoldRig rig(2000);
        small = MeasureHolds(rig);
        EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    }
    {
        HoldRig rig(20000);
        large = MeasureHolds(rig);
        EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    }
    for (const auto& [what, nanos] : large) {
        const int64_t before = small[what];
        std::printf("[Holds] %-16s 2,000 voices %8.1f us   20,000 voices %8.1f us\n", what.c_str(),
                    double(before) / 1e3, double(nanos) / 1e3);
    }
    EXPECT_EQ(small.size(), large.size()) << "every kind of edit ran at both sizes";
}

// What only reads the voices takes no lock: with the lock held elsewhere for
// as long as the test likes (as a stuck holder would), the timeline still
// reads its marks and the solo its voice.
TEST(EngineHolds, ReadersOfTheVoicesNeverWaitForTheLock) {
    HoldRig rig(200);
    AudioEngine& engine = *rig.engine;
    const int32_t id = rig.project->results[10].id;
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        std::lock_guard<EngineMutex> lock(engine.mutex);
        held = true;
        while (!release.load()) std::this_thread::yield();
    });
    while (!held.load()) std::this_thread::yield();
    LayerSpliceMarks marks;
    engine.stats.levelsGeneration.fetch_add(1);
    EXPECT_TRUE(RefreshLayerSpliceMarks(*rig.app, engine, marks));
    ToggleLayerSolo(engine, *rig.app, id);
    EXPECT_EQ(engine.soloVoice.load(), 10) << "the solo found its voice without the lock";
    KeepLayerSoloValid(engine, *rig.app);
    EXPECT_EQ(engine.soloVoice.load(), 10);
    EditGesture drag;
    SetEventVolume(rig.Context(), 3, -6.0f, drag);  // a gain drag stores atomics
    EXPECT_NEAR(engine.voices[6].eventGain.load(), DbToGain(-6.0f), 1e-6);
    release = true;
    holder.join();
}
