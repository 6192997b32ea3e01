// The nudge command on a large selection: 1,000 selected events with 10,000
// layers and a voice each. The whole nudge (inside a burst, so no undo
// snapshot) with how long the audio thread's stand-in waited for the engine
// lock, and the locked part alone.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/event_voices.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/lock_wait_watch.h"
#include "support/synthetic_project.h"
#include "ui/event_commands.h"

namespace {

constexpr int kEvents = 1000;
constexpr int kResults = 10000;

struct NudgeBenchRig {
    std::unique_ptr<Project> project = std::make_unique<Project>(MakeSyntheticProject(kEvents, kResults));
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::unique_ptr<AppState> app = std::make_unique<AppState>();

    NudgeBenchRig() {
        ResetEngineVoices(*engine, 48000, kResults);
        for (const RenderResult& r : project->results) {
            PlaybackVoice voice;
            voice.eventIndex = r.eventIdx;
            voice.startTime = r.startTime;
            voice.plainStartTime = r.startTime;
            InstallPlaybackVoice(*engine, std::move(voice), 0.01f, 0.01f);
        }
        project->totalDuration = 1e6f;  // no event reaches an end
        for (int i = 0; i < kEvents; ++i) app->selectedEvents.insert(i);
        app->selectedEvent = 0;
    }
    DocumentContext Context() { return MakeDocumentContext(*project, *library, *engine, *app); }
};

}  // namespace

static void BM_NudgeThousandSelectedEvents(benchmark::State& state) {
    NudgeBenchRig rig;
    const DocumentContext ctx = rig.Context();
    double guiTime = 100;
    NudgeSelection(ctx, 1, guiTime);  // the burst's one undo snapshot, off the clock
    LockWaitWatch watch(rig.engine->mutex, 50);
    int direction = -1;
    for (auto _ : state) {
        guiTime += 0.04;  // key repeat: the same burst
        NudgeSelection(ctx, direction, guiTime);
        direction = -direction;
    }
    watch.Stop();
    state.counters["events"] = kEvents;
    state.counters["voices"] = double(rig.engine->voices.size());
    state.counters["longestLockWaitUs"] = double(watch.LongestWaitUs());
}
BENCHMARK(BM_NudgeThousandSelectedEvents)->Unit(benchmark::kMicrosecond);

// The nudge's engine-locked part on its own: what the audio thread can be
// kept waiting for, without the scheduler's noise of a busy machine.
static void BM_NudgeLockedPart(benchmark::State& state) {
    NudgeBenchRig rig;
    std::vector<float> forward(kEvents, 0.04f), back(kEvents, -0.04f);
    bool ahead = false;
    for (auto _ : state) {
        MoveVoicesOfEvents(*rig.engine, ahead ? back : forward);
        ahead = !ahead;
    }
    state.counters["voices"] = double(rig.engine->voices.size());
}
BENCHMARK(BM_NudgeLockedPart)->Unit(benchmark::kMicrosecond);
