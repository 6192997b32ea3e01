// Level edits on the 20,000-layer project: an event's volume dragged over
// 60 frames, a layer's volume dragged over 60 frames, and the deletion of
// 100 selected events with its undo step (the undo that puts them back is
// not timed). Figures are reported, never asserted.
//
// The file builds against the level edits as operations (one undo step per
// gesture, the voices settled as a sync leaves them) and, for comparisons
// with an older tree, against the interface's plain stores.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/quiet_stdout.h"
#include "support/spots_and_beds.h"
#include "support/temp_dir.h"
#include "ui/event_menu_logic.h"
#include "ui/inspector_logic.h"
#include "ui/result_layers_logic.h"
#if __has_include("operations/level_edits.h")
#include "operations/level_edits.h"
#define TL_LEVEL_EDITS 1
#endif

namespace {

constexpr int kRate = 48000;
constexpr int kLayers = 20000;

struct LevelRig {
    TempDir dir;
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::vector<int> beds;

    LevelRig() {
        QuietStdout(true);
        AddSpotsAndBeds(*project, dir.File("bed.wav"), kLayers, beds);
        ResetEngineVoices(*engine, kRate, 0);
        RebuildCacheAsyncJob(Context(), false);
        app->busyTask.done = false;
        QuietStdout(false);
    }
    DocumentContext Context() {
        DocumentContext ctx = MakeDocumentContext(*project, *library, *engine, *app);
        ctx.sampleRate = kRate;
        return ctx;
    }
};

LevelRig& Rig() {
    static LevelRig rig;
    return rig;
}

#ifdef TL_LEVEL_EDITS
// One drag of 60 frames, each a new level `set` stores. begun:0, the whole
// gesture (its undo step at the press included); begun:1, the frames of a
// gesture whose step was already taken.
template <typename Set>
void DragOver60Frames(benchmark::State& state, const Set& set) {
    EditGesture begun;
    set(-1.0f, begun);
    for (auto _ : state) {
        EditGesture fresh;
        EditGesture& drag = state.range(0) ? begun : fresh;
        for (int f = 0; f < 60; ++f) set(-0.2f * float(f % 30), drag);
    }
}
#else
// An older tree: each frame a plain store, no gesture to begin.
template <typename Set>
void DragOver60Frames(benchmark::State& state, const Set& set) {
    for (auto _ : state)
        for (int f = 0; f < 60; ++f) set(-0.2f * float(f % 30));
}
#endif

}  // namespace

// One drag of an event's volume (begun as DragOver60Frames says).
static void BM_EventVolumeDrag20000(benchmark::State& state) {
    LevelRig& rig = Rig();
    [[maybe_unused]] const DocumentContext ctx = rig.Context();
    const int event = int(rig.project->events.size()) / 2;
#ifdef TL_LEVEL_EDITS
    DragOver60Frames(state, [&](float db, EditGesture& drag) { SetEventVolume(ctx, event, db, drag); });
#else
    DragOver60Frames(state, [&](float db) { SetEventVolume(*rig.project, *rig.engine, event, db); });
#endif
    state.counters["layers"] = double(rig.project->results.size());
    // Voices whose levels the last edit's pass worked out (all of them: a whole pass).
    state.counters["levelled"] = double(rig.engine->levelMemo.levelled);
}
BENCHMARK(BM_EventVolumeDrag20000)->Arg(0)->Arg(1)->ArgNames({"begun"})->Iterations(5)->Unit(benchmark::kMillisecond);

// One drag of a layer's volume (begun as DragOver60Frames says).
static void BM_LayerVolumeDrag20000(benchmark::State& state) {
    LevelRig& rig = Rig();
    const DocumentContext ctx = rig.Context();
    const int layer = int(rig.project->results.size()) / 3;
#ifdef TL_LEVEL_EDITS
    DragOver60Frames(state, [&](float db, EditGesture& drag) { SetLayerVolume(ctx, layer, db, drag); });
#else
    DragOver60Frames(state, [&](float db) { SetLayerVolume(ctx, layer, db); });
#endif
    state.counters["levelled"] = double(rig.engine->levelMemo.levelled);
}
BENCHMARK(BM_LayerVolumeDrag20000)->Arg(0)->Arg(1)->ArgNames({"begun"})->Iterations(5)->Unit(benchmark::kMillisecond);

// 100 events deleted at once from the events' menu (its undo step, the
// layers, the selection and the voices); the undo that brings them back
// runs untimed.
static void BM_Delete100Events20000(benchmark::State& state) {
    LevelRig& rig = Rig();
    const DocumentContext ctx = rig.Context();
    std::vector<int> doomed;
    for (int e = 100; e < 300; e += 2) doomed.push_back(e);
    QuietStdout(true);
    for (auto _ : state) {
        DeleteEvents(ctx, doomed);
        state.PauseTiming();
        RunUndoCommand(ctx, false);
        state.ResumeTiming();
    }
    QuietStdout(false);
}
BENCHMARK(BM_Delete100Events20000)->Iterations(5)->Unit(benchmark::kMillisecond);
