// render_bench_support.h — timing full render passes over a benchmark project,
// and the library sizes and thread counts the render benchmarks run at.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "document/project.h"
#include "library/sound_library.h"
#include "render/render_pass.h"
#include "render/render_worker_pool.h"
#include "support/render_fixtures.h"

// Arguments {generated entries, scoring threads (0 = every core)}: 10,000,
// 50,000 and 100,000 entries, each on one thread and on all cores.
inline void LibrarySizesAndThreads(benchmark::internal::Benchmark* b) {
    b->ArgNames({"entries", "threads"});
    for (int entries : {10000, 50000, 100000})
        for (int threads : {1, 0}) b->Args({entries, threads});
}

// Renders the whole project once per iteration with fixed seeds and reports
// the layer count and the time per layer. The first pass after the library
// was made builds its candidate table; it runs before the clock starts, as
// the table then lasts until the libraries change.
inline void TimeRenderPasses(benchmark::State& state, Project& project, const SoundLibrary& library,
                             uint32_t passSeed, uint32_t fillSalt, int threads = 0) {
    const RenderSeeds seeds = FixedRenderSeeds(passSeed, fillSalt);
    RenderPassOptions options;
    options.threads = threads;
    RenderEventsWithOptions(project, library, -1, -1.0f, -1.0f, false, false, seeds, options);
    size_t layers = 0;
    for (auto _ : state) {
        RenderEventsWithOptions(project, library, -1, -1.0f, -1.0f, false, false, seeds, options);
        layers = project.results.size();
        benchmark::DoNotOptimize(project.results.data());
    }
    state.counters["layers"] = static_cast<double>(layers);
    state.counters["threads"] = RenderThreadCount(threads);
    // Seconds per layer (shown in the benchmark's time unit per layer).
    state.counters["per_layer"] = benchmark::Counter(
        static_cast<double>(layers), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
