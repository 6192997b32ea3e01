// render_bench_support.h — timing full render passes over a benchmark project.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "document/project.h"
#include "library/sound_library.h"
#include "render/render_pass.h"
#include "support/render_fixtures.h"

// Renders the whole project once per iteration with fixed seeds and reports
// the layer count and the time per layer.
inline void TimeRenderPasses(benchmark::State& state, Project& project, const SoundLibrary& library,
                             uint32_t passSeed, uint32_t fillSalt) {
    const RenderSeeds seeds = FixedRenderSeeds(passSeed, fillSalt);
    size_t layers = 0;
    for (auto _ : state) {
        RenderEventsWithSeeds(project, library, -1, -1.0f, -1.0f, false, false, seeds);
        layers = project.results.size();
        benchmark::DoNotOptimize(project.results.data());
    }
    state.counters["layers"] = static_cast<double>(layers);
    // Seconds per layer (shown in the benchmark's time unit per layer).
    state.counters["per_layer"] = benchmark::Counter(
        static_cast<double>(layers), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
