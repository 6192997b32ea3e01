// What handing work to the render's threads costs: a job of one small chunk
// per thread, run right after the last one (the workers still watch for
// work) or after the caller has worked alone for a while (they sleep and
// must be woken). A scoring is worth sharing only when its work is well
// above this.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>

#include "render/render_worker_pool.h"

namespace {

// About `microseconds` of the caller's own work.
void Spin(int microseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
    while (std::chrono::steady_clock::now() < until) {
    }
}

}  // namespace

// Argument: microseconds the caller works alone between two jobs.
static void BM_RenderChunksHandOff(benchmark::State& state) {
    const int gap = static_cast<int>(state.range(0));
    const int threads = RenderThreadCount(0);
    std::atomic<int> sink{0};
    RunRenderChunks(threads, threads, [&](int c) { sink.fetch_add(c, std::memory_order_relaxed); });
    for (auto _ : state) {
        state.PauseTiming();
        Spin(gap);
        state.ResumeTiming();
        RunRenderChunks(threads, threads, [&](int c) { sink.fetch_add(c, std::memory_order_relaxed); });
    }
    state.counters["threads"] = threads;
    benchmark::DoNotOptimize(sink.load());
}
BENCHMARK(BM_RenderChunksHandOff)->Arg(0)->Arg(200)->Unit(benchmark::kMicrosecond)->UseRealTime();
