// A re-roll over a large library, and the offline mix and file of a bounce.
#include <benchmark/benchmark.h>

#include <memory>
#include <set>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/bounce.h"
#include "playback/mixer_rig.h"
#include "render/reroll.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

// One Scatter layer re-rolled over about 3,300 candidates (the mixed
// libraries of the scoring tests); the history is reset off the clock.
static void BM_RerollResult(benchmark::State& state) {
    auto library = std::make_unique<SoundLibrary>();
    AddMixedLibraries(*library, 7);
    auto project = std::make_unique<Project>();
    Event e = MakeEvent(*project, 5, kShapeScatter, 0.5f);
    CopyTextField(e.keywords, "metal");
    project->events.push_back(e);
    RenderResult r;
    r.eventIdx = 0;
    r.startTime = 5;
    r.duration = e.duration;
    r.filepath = "/lib/start.wav";
    project->results.push_back(r);
    uint32_t seed = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(RerollResultWithSeed(*project, 0, *library, seed++));
        state.PauseTiming();
        project->results[0].variations.clear();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RerollResult)->Unit(benchmark::kMicrosecond);

// 40 stereo voices of 4 s spread over a minute, mixed, limited and written
// as a 24-bit stereo file (about 17 MB).
static void BM_RenderBounceWav(benchmark::State& state) {
    auto engine = MakePlayingEngine();
    std::set<int> events;
    for (int v = 0; v < 40; ++v) {
        PlaybackVoice voice = CurvedNoiseVoice(1.4 * v, 4.0, true, unsigned(v));
        voice.eventIndex = v;
        InstallPlaybackVoice(*engine, std::move(voice), 0.02f, 0.05f);
        events.insert(v);
    }
    TempDir dir;
    for (auto _ : state) {
        float start = 0, duration = 0;
        benchmark::DoNotOptimize(RenderBounceWav(*engine, events, dir.path(), "Bench", start, duration));
        state.counters["seconds"] = duration;
    }
}
BENCHMARK(BM_RenderBounceWav)->Unit(benchmark::kMillisecond);
