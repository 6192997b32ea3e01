// The render engine's scoring threads: every chunk runs once, callers on
// several threads and nested calls are safe, the pool sleeps between jobs,
// and it stops and starts again cleanly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "render/render_worker_pool.h"
#include "support/wait_until.h"

namespace {

// Runs `chunks` chunks on `threads` threads; true when each ran exactly once
// and wrote its own output.
bool EveryChunkOnce(int chunks, int threads) {
    std::vector<std::atomic<int>> runs(static_cast<size_t>(chunks));
    std::vector<long> out(static_cast<size_t>(chunks), -1);
    RunRenderChunks(chunks, threads, [&](int c) {
        runs[static_cast<size_t>(c)].fetch_add(1);
        long sum = 0;
        for (int k = 0; k <= c * 50; ++k) sum += k;  // some work, more for later chunks
        out[static_cast<size_t>(c)] = sum;
    });
    for (int c = 0; c < chunks; ++c) {
        const long n = c * 50L;
        if (runs[static_cast<size_t>(c)].load() != 1 || out[static_cast<size_t>(c)] != n * (n + 1) / 2) return false;
    }
    return true;
}

}  // namespace

TEST(RenderWorkerPool, RunsEveryChunkOnceFromAnyCaller) {
    for (int threads : {1, 2, 8})
        for (int chunks : {0, 1, 3, 200}) EXPECT_TRUE(EveryChunkOnce(chunks, threads)) << threads << " " << chunks;
    EXPECT_GE(RenderThreadCount(0), 1);
    EXPECT_EQ(RenderThreadCount(3), 3);

    // Two callers at once (a recipe preview beside a render): one of them may
    // run on its own thread, both get every chunk.
    std::atomic<int> failures{0};
    auto caller = [&] {
        for (int round = 0; round < 100; ++round)
            if (!EveryChunkOnce(40, 4)) failures.fetch_add(1);
    };
    std::thread a(caller);
    std::thread b(caller);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);

    // A job that asks for chunks from inside a chunk runs them itself.
    std::atomic<int> inner{0};
    RunRenderChunks(8, 4, [&](int) { RunRenderChunks(5, 4, [&](int) { inner.fetch_add(1); }); });
    EXPECT_EQ(inner.load(), 40);
}

TEST(RenderWorkerPool, SleepsBetweenJobsAndStopsCleanly) {
    // The pool is process-wide: start from no workers, whatever ran before.
    StopRenderWorkerPool();
    ASSERT_TRUE(EveryChunkOnce(100, 4));
    EXPECT_EQ(RenderWorkerThreadCount(), 3);  // the caller is the fourth

    // Idle workers, after watching a moment for the next job, block on the
    // condition variable, where they spend no processor time.
    EXPECT_TRUE(WaitUntil([] { return RenderWorkersAsleep() == 3; }));

    StopRenderWorkerPool();
    EXPECT_EQ(RenderWorkerThreadCount(), 0);
    StopRenderWorkerPool();  // a second stop finds nothing to do
    // A job after the stop starts the workers again.
    EXPECT_TRUE(EveryChunkOnce(50, 3));
    EXPECT_EQ(RenderWorkerThreadCount(), 2);
    StopRenderWorkerPool();
    EXPECT_EQ(RenderWorkerThreadCount(), 0);
}
