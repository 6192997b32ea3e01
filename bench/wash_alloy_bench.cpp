// The render pass over a 200-event project of Bloom and Contour washes and
// alloy events (a third each; the alloy events alternate Spot, Bloom and
// Contour), with weight sweeps and shaped intensity curves.
//   BM_WashAlloyPass200Events           10,000 to 100,000 generated entries whose
//                                        files do not exist, on one thread and on
//                                        every core: choice, scoring and fitting only
//                                        (the system answers each look into a
//                                        missing file)
//   BM_WashAlloyPass200EventsRealFiles  48 generated sound files on disk; every
//                                        pass starts with cleared level and
//                                        envelope caches, as the Render command does
// Counters: layers per pass and time per layer.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "document/curve.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "render/render_pass.h"
#include "render_bench_support.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

void BuildWashAlloyProject(Project& project) {
    const char* keywords[4] = {"", "wind", "+whoosh", "metal -door"};
    for (int i = 0; i < 200; ++i) {
        const int kind = i % 3;  // 0 Bloom wash, 1 Contour wash, 2 alloy
        int shape = kind == 0 ? kShapeBloom : kShapeContour;
        if (kind == 2) shape = (i / 3) % 3 == 0 ? kShapeSpot : ((i / 3) % 3 == 1 ? kShapeBloom : kShapeContour);
        int e = AddEvent(project, 1.0f + 2.2f * static_cast<float>(i), shape,
                         static_cast<float>(i % 10) / 10.0f + 0.05f);
        Event& ev = project.events[e];
        ev.duration = 2.0f + static_cast<float>(i % 5);
        ev.spread = static_cast<float>(i % 4) / 3.0f;
        ev.pitchVariation = (i % 4 == 0) ? 0.3f : 0.0f;
        ev.hero = (i % 23 == 0);
        ev.alloy = kind == 2;
        CopyTextField(ev.keywords, keywords[i % 4]);
        // Weight sweeps of several depths; intensities with one or several peaks.
        const float lo = static_cast<float>(i % 3) * 0.15f;
        const float hi = 0.4f + static_cast<float>(i % 4) * 0.15f;
        for (int k = 0; k < 256; ++k) {
            float t = static_cast<float>(k) / 255.0f;
            ev.weight[k] = (i % 2) ? lo + (hi - lo) * t : hi - (hi - lo) * t;
        }
        if (i % 5 < 3) FillCosineCurve(ev.intensity, 0.2f + 0.15f * static_cast<float>(i % 5), 0.05f, 1.0f);
        else FillRandomSparseCurve(ev.intensity, 0.1f, 1.0f, 100u + static_cast<unsigned>(i));
    }
    project.totalDuration = 460.0f;
}

void RunPasses(benchmark::State& state, const SoundLibrary& library, int threads) {
    Project project;
    BuildWashAlloyProject(project);
    TimeRenderPasses(state, project, library, 4242, 99, threads);
}

}  // namespace

static void BM_WashAlloyPass200Events(benchmark::State& state) {
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Generated", MakeSyntheticEntries(static_cast<int>(state.range(0)), 7)));
    RunPasses(state, library, static_cast<int>(state.range(1)));
}
BENCHMARK(BM_WashAlloyPass200Events)->Apply(LibrarySizesAndThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_WashAlloyPass200EventsRealFiles(benchmark::State& state) {
    TempDir dir;
    std::vector<BurstSound> sounds;
    for (int i = 0; i < 48; ++i) {
        BurstSound s;
        s.name = "gen_" + std::to_string(i);
        s.seconds = 0.5 + 0.25 * (i % 24);
        s.sampleRate = 48000;
        s.channels = 1 + i % 2;
        for (int b = 0; b < 1 + i % 3; ++b) {
            double start = 0.1 + 0.3 * b;
            if (start >= s.seconds - 0.1) break;
            s.bursts.push_back(Burst{start, 0.25 + 0.05 * (i % 4), 0.6, i % 4 == 0 ? 0.0 : 150.0 * (1 + i % 12),
                                     0.01, 0.08});
        }
        sounds.push_back(s);
    }
    SoundLibrary library;
    library.libraries.push_back(MakeBurstLibrary(dir.path(), "Generated", sounds));
    RunPasses(state, library, 0);
}
BENCHMARK(BM_WashAlloyPass200EventsRealFiles)->Unit(benchmark::kMillisecond);
