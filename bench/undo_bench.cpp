// Undo snapshots of a large document (1,000 events, 10,000 layers): taking
// one, restoring one, stepping between the stacks, how long a restore holds
// the engine lock while voices borrow the events' curves, and what fifty
// steps of small edits hold; and the Undo command on some 20,000 layers
// whose voices are built.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>

#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/large_project.h"
#include "support/lock_wait_watch.h"
#include "support/synthetic_project.h"
#include "support/temp_dir.h"

namespace {

constexpr int kEvents = 1000;
constexpr int kResults = 10000;

struct UndoBenchRig {
    std::unique_ptr<Project> project = std::make_unique<Project>(MakeSyntheticProject(kEvents, kResults));
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    DocumentContext Context() { return MakeDocumentContext(*project, *library, *engine, *app); }

    // Voices that follow their events' curves, as a rendered project's do.
    void AddCurveVoices(int count) {
        ResetEngineVoices(*engine, 48000, count);
        for (int v = 0; v < count; ++v) {
            PlaybackVoice voice;
            voice.eventIndex = v % kEvents;
            voice.intensityCurve = project->events[size_t(voice.eventIndex)].intensity.data();
            voice.intensityCount = 256;
            InstallPlaybackVoice(*engine, std::move(voice), 0.01f, 0.01f);
        }
    }
};

}  // namespace

// Capture and push; the stack is emptied between iterations, off the clock.
static void BM_UndoPushSnapshot(benchmark::State& state) {
    UndoBenchRig rig;
    const DocumentContext ctx = rig.Context();
    for (auto _ : state) {
        PushUndoSnapshot(ctx);
        state.PauseTiming();
        ClearUndoHistory(rig.app->undoHistory);
        state.ResumeTiming();
    }
    state.counters["events"] = kEvents;
    state.counters["results"] = kResults;
}
BENCHMARK(BM_UndoPushSnapshot)->Unit(benchmark::kMillisecond);

// A restore from a kept snapshot: the copy, the swap under the lock and the
// release of the replaced document. The watcher stands in for the audio
// thread and reports the longest it waited for the engine lock.
static void BM_UndoRestoreSnapshot(benchmark::State& state) {
    UndoBenchRig rig;
    rig.AddCurveVoices(int(state.range(0)));
    const DocumentContext ctx = rig.Context();
    const UndoSnapshot kept = CaptureUndoSnapshot(*rig.project);
    LockWaitWatch watch(rig.engine->mutex, 50);
    for (auto _ : state) RestoreUndoSnapshot(ctx, kept);
    watch.Stop();
    state.counters["voices"] = double(state.range(0));
    state.counters["longestLockWaitUs"] = double(watch.LongestWaitUs());
}
BENCHMARK(BM_UndoRestoreSnapshot)->Arg(2000)->Unit(benchmark::kMillisecond);

// The engine-locked part of a restore on its own: swap the event list in and
// clear every voice's curve reference.
static void BM_UndoRestoreLockedPart(benchmark::State& state) {
    UndoBenchRig rig;
    rig.AddCurveVoices(int(state.range(0)));
    std::vector<Event> other = rig.project->events;
    for (auto _ : state)
        ReplaceDocumentEvents(*rig.engine, rig.project->events, other, VoiceCurveLink::Clear);
    state.counters["voices"] = double(state.range(0));
}
BENCHMARK(BM_UndoRestoreLockedPart)->Arg(2000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Undo then Redo: snapshots move between the stacks and the document.
static void BM_UndoRedoStep(benchmark::State& state) {
    UndoBenchRig rig;
    const DocumentContext ctx = rig.Context();
    PushUndoSnapshot(ctx);
    for (auto _ : state) {
        Undo(ctx);
        Redo(ctx);
    }
}
BENCHMARK(BM_UndoRedoStep)->Unit(benchmark::kMicrosecond);

// What fifty undo steps of single-event edits hold on a generated project of
// 1,112 events and 10,004 layers (every snapshot shares the records its edit
// left alone): the history's own count and the heap's growth over the fifty
// pushes, with the time of each push.
static void BM_UndoHistoryOfSingleEventEdits(benchmark::State& state) {
    TempDir dir;
    LargeProjectSpec spec;
    spec.eventCount = 1112;  // ten layers each, one per Clip: 10,004 layers
    spec.seconds = 600;
    spec.layers = LargeProjectLayers::Made;
    spec.layersPerEvent = 10;
    spec.soundCount = 16;
    spec.soundSeconds = 0.5f;
    UndoBenchRig rig;
    *rig.project = MakeLargeProject(spec, dir.File("Library")).project;
    const DocumentContext ctx = rig.Context();
    size_t bytes = 0;
    int64_t heap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ClearUndoHistory(rig.app->undoHistory);
        const int64_t before = int64_t(mallinfo2().uordblks);
        state.ResumeTiming();
        for (int k = 0; k < 50; ++k) {
            PushUndoSnapshot(ctx);
            rig.project->events[size_t(k * 7)].gain *= 0.9f;
        }
        state.PauseTiming();
        heap = int64_t(mallinfo2().uordblks) - before;
        bytes = UndoHistoryBytes(rig.app->undoHistory);
        state.ResumeTiming();
    }
    state.counters["results"] = double(rig.project->results.size());
    state.counters["historyMB"] = double(bytes) / 1e6;
    state.counters["heapGrowthMB"] = double(heap) / 1e6;
}
BENCHMARK(BM_UndoHistoryOfSingleEventEdits)->Unit(benchmark::kMillisecond)->Iterations(3);

// The Undo command on a generated project of 2,000 events and some 20,000
// layers whose voices are built: the step back, then the voices brought in
// line with the restored document. One event's settings change between
// steps, off the clock, as a designer's edit would.
static void BM_UndoCommandOnTwentyThousandLayers(benchmark::State& state) {
    TempDir dir;
    LargeProjectSpec spec;
    spec.eventCount = 2000;
    spec.seconds = 1200;
    spec.layers = LargeProjectLayers::Made;
    spec.layersPerEvent = 13;  // a Clip and a Bed take one: some 20,000 layers
    spec.soundCount = 16;
    spec.soundSeconds = 0.5f;
    UndoBenchRig rig;
    *rig.project = MakeLargeProject(spec, dir.File("Library")).project;
    DocumentContext ctx = rig.Context();
    RebuildCache(ctx, true);
    int k = 0;
    for (auto _ : state) {
        state.PauseTiming();
        PushUndoSnapshot(ctx);
        Event& e = rig.project->events[size_t((k++ * 7) % spec.eventCount)];
        e.locked = !e.locked;
        state.ResumeTiming();
        RunUndoCommand(ctx, false);
    }
    state.counters["results"] = double(rig.project->results.size());
    state.counters["voices"] = double(rig.engine->voices.size());
}
BENCHMARK(BM_UndoCommandOnTwentyThousandLayers)->Unit(benchmark::kMillisecond)->Iterations(20);
