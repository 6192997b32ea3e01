// render_bench_support.h — timing full render passes over a benchmark project,
// and the library sizes and thread counts the render benchmarks run at.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "document/project.h"
#include "library/sound_library.h"
#include "render/pool_scoring.h"
#include "render/render_pass.h"
#include "render/render_worker_pool.h"
#include "support/render_fixtures.h"

// Arguments {generated entries, scoring threads (0 = every core)}: 10,000,
// 50,000 and 100,000 entries, each on one thread and on all cores.
inline void LibrarySizesAndThreads(benchmark::internal::Benchmark* b) {
    b->ArgNames({"entries", "threads"});
    // CPU time of every thread of the process, so that the figure on all
    // cores shows what the speed-up costs.
    b->MeasureProcessCPUTime();
    for (int entries : {10000, 50000, 100000})
        for (int threads : {1, 0}) b->Args({entries, threads});
}

// Renders the whole project once per iteration with fixed seeds and reports
// the layer count, the time per layer and, per scoring, the blocks and sounds
// the pool scorer looked at (of the timed passes). The first pass after the library
// was made builds its candidate table; it runs before the clock starts, as
// the table then lasts until the libraries change.
inline void TimeRenderPasses(benchmark::State& state, Project& project, const SoundLibrary& library,
                             uint32_t passSeed, uint32_t fillSalt, int threads = 0) {
    const RenderSeeds seeds = FixedRenderSeeds(passSeed, fillSalt);
    RenderPassOptions options;
    options.threads = threads;
    RenderEventsWithOptions(project, library, -1, -1.0f, -1.0f, false, false, seeds, options);
    size_t layers = 0;
    PoolScoringStats stats;
    options.scoringStats = &stats;
    for (auto _ : state) {
        RenderEventsWithOptions(project, library, -1, -1.0f, -1.0f, false, false, seeds, options);
        layers = project.results.size();
        benchmark::DoNotOptimize(project.results.data());
    }
    state.counters["layers"] = static_cast<double>(layers);
    state.counters["threads"] = RenderThreadCount(threads);
    const double scorings = static_cast<double>(std::max<size_t>(stats.scorings, 1));
    state.counters["scorings"] = benchmark::Counter(scorings, benchmark::Counter::kAvgIterations);
    state.counters["blocks"] = static_cast<double>(stats.blocksScored) / scorings;
    state.counters["sounds"] = static_cast<double>(stats.sounds) / scorings;
    state.counters["shared"] = static_cast<double>(stats.shared) / scorings;
    // Seconds per layer (shown in the benchmark's time unit per layer).
    state.counters["per_layer"] = benchmark::Counter(
        static_cast<double>(layers), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
