// The render job end to end (render, live voices, post passes, rebuild of
// every voice from real files) over a 200-event project, and the headroom
// sweep of a long project's voices.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/render_job.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "render/processed_clip_cache.h"
#include "support/lock_wait_watch.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

// 24 sounds of 0.5 to 3.3 s on disk, tone and noise bursts.
std::vector<BurstSound> BenchSounds() {
    std::vector<BurstSound> sounds;
    for (int i = 0; i < 24; ++i) {
        BurstSound s;
        s.name = "bench_" + std::to_string(i);
        s.seconds = 0.5 + 0.12 * i;
        s.sampleRate = i % 3 == 0 ? 44100 : 48000;
        s.channels = 1 + i % 2;
        s.bursts.push_back({0.02, s.seconds * 0.6, 0.7, i % 4 == 0 ? 0.0 : 150.0 * (i + 1), 0.004, 0.05});
        sounds.push_back(s);
    }
    return sounds;
}

// 200 events of Spot, Fill and Scatter over 260 s.
void BuildProject(Project& project) {
    const int shapes[3] = {kShapeSpot, kShapeFill, kShapeScatter};
    for (int i = 0; i < 200; ++i) {
        const int shape = shapes[i % 3];
        const int e = AddEvent(project, 0.5f + 1.3f * float(i), shape, float(i % 10) / 10.0f + 0.05f);
        Event& ev = project.events[size_t(e)];
        ev.spread = float(i % 4) / 3.0f;
        if (shape == kShapeScatter) ev.duration = 3.0f;
    }
    project.totalDuration = 300.0f;
}

struct JobBench {
    TempDir dir;
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::unique_ptr<AppState> app = std::make_unique<AppState>();

    JobBench() {
        library->libraries.push_back(MakeBurstLibrary(dir.path(), "Bench", BenchSounds()));
        BuildProject(*project);
    }
    void RunFullRender() {
        RenderRequest request;
        request.kind = 1;
        request.all = 1;
        RunRenderJob(MakeDocumentContext(*project, *library, *engine, *app), request);
    }
};

}  // namespace

// Arg 0: decoded sources start cold every time; 1: the processed-clip cache
// keeps them between renders (a re-render of a familiar project).
static void BM_FullRenderAndRebuild200Events(benchmark::State& state) {
    JobBench bench;
    const bool warm = state.range(0) != 0;
    if (warm) bench.RunFullRender();
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            ClearProcessedClipCache();
            state.ResumeTiming();
        }
        bench.RunFullRender();
    }
    state.counters["layers"] = double(bench.project->results.size());
    state.counters["voices"] = double(bench.engine->voices.size());
}
BENCHMARK(BM_FullRenderAndRebuild200Events)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

namespace {

std::vector<HeadroomSpan> HourOfSpans(int count) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> start(0, 3600), length(0.2, 12), level(0.01, 0.5);
    std::vector<HeadroomSpan> spans(static_cast<size_t>(count));
    for (HeadroomSpan& s : spans) {
        s.start = start(rng);
        s.end = s.start + length(rng);
        s.level = level(rng);
    }
    return spans;
}

}  // namespace

// The sweep alone: 5,000 voices over one hour (180,000 grid points).
static void BM_HeadroomSweep5000VoicesOneHour(benchmark::State& state) {
    const std::vector<HeadroomSpan> spans = HourOfSpans(5000);
    for (auto _ : state) benchmark::DoNotOptimize(LoudestGridSum(spans));
}
BENCHMARK(BM_HeadroomSweep5000VoicesOneHour)->Unit(benchmark::kMicrosecond);

// The walk over every grid point and every voice that the sweep replaces.
static void BM_HeadroomGridWalk5000VoicesOneHour(benchmark::State& state) {
    const std::vector<HeadroomSpan> spans = HourOfSpans(5000);
    for (auto _ : state) {
        double loudest = 0;
        for (int64_t k = 0; double(k) * 0.02 < 3612; ++k) {
            const double t = double(k) * 0.02;
            double sum = 0;
            for (const HeadroomSpan& s : spans)
                if (s.start <= t && t < s.end) sum += s.level;
            loudest = std::max(loudest, sum);
        }
        benchmark::DoNotOptimize(loudest);
    }
}
BENCHMARK(BM_HeadroomGridWalk5000VoicesOneHour)->Unit(benchmark::kMillisecond)->Iterations(1);

// The whole full level pass on an engine of 5,000 voices over one hour:
// per-event levels, overview peaks, the sweep, and the gains stored under the lock.
static void BM_UpdateVoiceLevelsFull5000Voices(benchmark::State& state) {
    auto engine = std::make_unique<AudioEngine>();
    ResetEngineVoices(*engine, 48000, 5000);
    const std::vector<HeadroomSpan> spans = HourOfSpans(5000);
    for (size_t i = 0; i < spans.size(); ++i) {
        PlaybackVoice v;
        v.startTime = float(spans[i].start);
        v.length = float(spans[i].end - spans[i].start);
        v.eventIndex = int(i / 4);
        v.peakOverview.fill(float(spans[i].level));
        InstallPlaybackVoice(*engine, std::move(v), 0.01f, 0.05f);
    }
    for (auto _ : state) {
        for (PlaybackVoice& v : engine->voices) v.gain = 1.0f;
        UpdateVoiceLevels(*engine, true);
    }
}
BENCHMARK(BM_UpdateVoiceLevelsFull5000Voices)->Unit(benchmark::kMillisecond);

// Dropping the four voices of the first event from 5,000 voices of 1 s. The
// time is the whole removal (copying the voices' records unlocked); the
// counter is the longest wait for the engine lock seen by a stand-in for the
// audio thread meanwhile.
static void BM_RemoveEventVoicesFrom5000(benchmark::State& state) {
    auto engine = std::make_unique<AudioEngine>();
    LockWaitWatch watch(engine->mutex, 100);
    for (auto _ : state) {
        state.PauseTiming();
        ResetEngineVoices(*engine, 48000, 5000);
        for (int i = 0; i < 5000; ++i) {
            PlaybackVoice v;
            v.eventIndex = i / 4;
            v.left.assign(48000, 0.0f);
            v.sampleCount = 48000;
            InstallPlaybackVoice(*engine, std::move(v), 0.01f, 0.05f);
        }
        std::vector<uint8_t> drop(5000, 0);
        for (int i = 0; i < 4; ++i) drop[size_t(i)] = 1;
        watch.Reset();
        state.ResumeTiming();
        RemoveEngineVoices(*engine, drop);
    }
    watch.Stop();
    state.counters["longestLockWaitUs"] = double(watch.LongestWaitUs());
}
BENCHMARK(BM_RemoveEventVoicesFrom5000)->Unit(benchmark::kMillisecond)->Iterations(5);

// A sync after undo on 1,250 events of four layers (5,000 voices) where every
// layer kept its voice: the settings are compared unlocked and the levels
// stored. The counter is the longest engine-lock wait meanwhile.
static void BM_SyncVoicesWithResults5000Voices(benchmark::State& state) {
    auto project = std::make_unique<Project>();
    auto library = std::make_unique<SoundLibrary>();
    auto engine = std::make_unique<AudioEngine>();
    auto app = std::make_unique<AppState>();
    for (int e = 0; e < 1250; ++e) {
        AddEvent(*project, 1.0f + float(e), kShapeSpot, 0.5f);
        for (int l = 0; l < 4; ++l) {
            RenderResult r;
            r.placeholder = true;
            r.eventIdx = e;
            r.startTime = 1.0f + float(e);
            r.duration = 0.01f;
            r.hasDeconGain = true;
            project->results.push_back(r);
        }
    }
    const DocumentContext ctx = MakeDocumentContext(*project, *library, *engine, *app);
    RebuildCache(ctx, false);
    LockWaitWatch watch(engine->mutex, 100);
    for (auto _ : state) SyncVoicesWithResults(ctx);
    watch.Stop();
    state.counters["longestLockWaitUs"] = double(watch.LongestWaitUs());
}
BENCHMARK(BM_SyncVoicesWithResults5000Voices)->Unit(benchmark::kMillisecond);
