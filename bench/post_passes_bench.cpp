// Post passes over a large render, the timeline heatmap's crowding per frame,
// and the per-frame Bed rebuild of unchanged Beds.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "render/clip_bed_events.h"
#include "render/post_passes.h"
#include "render/track_assignment.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

// `layers` results spread over events of 1..8 layers on a timeline long
// enough for about eight layers at once, as a dense film reel would have.
Project MakeRenderedProject(int layers, unsigned seed) {
    Project p;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    p.totalDuration = layers * 0.4f;
    int made = 0;
    while (made < layers) {
        int e = AddEvent(p, p.totalDuration * u(rng), static_cast<int>(u(rng) * 5), 0.5f);
        Event& ev = p.events[e];
        ev.duration = 0.5f + 4.0f * u(rng);
        ev.hero = u(rng) < 0.05f;
        int count = 1 + static_cast<int>(u(rng) * 8);
        for (int k = 0; k < count && made < layers; ++k, ++made) {
            RenderResult r;
            r.eventIdx = e;
            r.group = EventMixGroup(ev);
            r.startTime = ev.time - ev.syncOffset + 0.005f * k;
            r.duration = ev.duration * (0.6f + 0.8f * u(rng));
            r.layerGain = 0.2f + 0.8f * u(rng);
            r.weight = u(rng);
            r.fadeIn = 0.01f;
            r.fadeOut = 0.2f;
            p.results.push_back(r);
        }
    }
    return p;
}

void RunPostPasses(Project& p) {
    ProtectSilencePass(p);
    DeconflictPass(p);
    DensityPass(p);
    DestructiveEqPass(p);
    AssignTracks(p);
}

}  // namespace

static void BM_PostPassSequence(benchmark::State& state) {
    Project p = MakeRenderedProject(static_cast<int>(state.range(0)), 3);
    for (auto _ : state) {
        RunPostPasses(p);
        benchmark::DoNotOptimize(p.results.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PostPassSequence)->Arg(5000)->Unit(benchmark::kMillisecond);

static void BM_SinglePass(benchmark::State& state) {
    Project p = MakeRenderedProject(5000, 3);
    RunPostPasses(p);
    for (auto _ : state) {
        switch (state.range(0)) {
            case 0: ProtectSilencePass(p); break;
            case 1: DeconflictPass(p); break;
            case 2: DensityPass(p); break;
            case 3: DestructiveEqPass(p); break;
            default: AssignTracks(p); break;
        }
        benchmark::DoNotOptimize(p.results.data());
    }
}
// 0 ProtectSilence, 1 Deconflict, 2 Density, 3 DestructiveEq, 4 AssignTracks
BENCHMARK(BM_SinglePass)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

static void BM_AssignTracksBudget(benchmark::State& state) {
    Project p = MakeRenderedProject(5000, 5);
    p.budgetMode = true;
    for (auto _ : state) {
        AssignTracks(p);
        benchmark::DoNotOptimize(p.results.data());
    }
}
BENCHMARK(BM_AssignTracksBudget)->Unit(benchmark::kMicrosecond);

// One heatmap frame: 1,920 columns x 5 bands over 2,000 layers, the whole
// timeline in view.
static std::vector<float> FrameTimes(const Project& p) {
    std::vector<float> times(1920);
    for (int c = 0; c < 1920; ++c) times[c] = p.totalDuration * (c + 0.5f) / 1920.0f;
    return times;
}

static void BM_BandCrowdingFramePerCall(benchmark::State& state) {
    Project p = MakeRenderedProject(2000, 9);
    RunPostPasses(p);
    std::vector<float> times = FrameTimes(p);
    for (auto _ : state) {
        float sum = 0;
        for (float t : times) {
            for (int b = 0; b < 5; ++b) sum += BandCrowdingAt(p, t, b, false);
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_BandCrowdingFramePerCall)->Unit(benchmark::kMillisecond);

static void BM_BandCrowdingFrameColumns(benchmark::State& state) {
    Project p = MakeRenderedProject(2000, 9);
    RunPostPasses(p);
    std::vector<float> times = FrameTimes(p);
    std::vector<float> out(times.size() * 5);
    for (auto _ : state) {
        BandCrowdingColumns(p, times.data(), static_cast<int>(times.size()), false, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_BandCrowdingFrameColumns)->Unit(benchmark::kMillisecond);

// 20 Beds of 6 layers that did not change, with their files registered by id;
// range(0) more layers of other events sit in the project.
static void BM_RebuildUnchangedBeds(benchmark::State& state) {
    TempDir dir;
    std::vector<std::string> files, ids;
    for (int i = 0; i < 6; ++i) {
        AudioSpec spec;
        spec.seconds = 0.1;
        files.push_back(dir.File("bed_" + std::to_string(i) + ".wav"));
        WriteTestAudio(files.back(), spec);
        FileRef ref = FileRegistry::Instance().FileRefForPath(files.back());
        ids.push_back(ref.id);
    }
    Project p = MakeRenderedProject(static_cast<int>(state.range(0)), 11);
    std::vector<int> beds;
    for (int b = 0; b < 20; ++b) {
        int e = AddEvent(p, 10.0f * b, kShapeBed, 0.5f);
        p.events[e].pinnedFiles = files;
        p.events[e].pinnedFileIds = ids;
        RebuildBedEvent(p, e);
        beds.push_back(e);
    }
    const int64_t opens = ClipBedFileOpenCount();
    int changes = 0;
    for (auto _ : state) {
        for (int e : beds) changes += RebuildBedEvent(p, e) ? 1 : 0;
    }
    if (changes != 0 || ClipBedFileOpenCount() != opens) state.SkipWithError("an unchanged Bed changed");
}
BENCHMARK(BM_RebuildUnchangedBeds)->Arg(0)->Arg(5000)->Unit(benchmark::kMicrosecond);
