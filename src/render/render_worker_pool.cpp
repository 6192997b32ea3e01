// render_worker_pool.cpp — the process-wide pool behind RunRenderChunks.
//
// Index
//   Job                one RunRenderChunks call: the function, the chunk counter, helpers inside
//   RenderWorkerPool   the threads, the hand-over under one mutex, start and stop
//   Public calls       RenderThreadCount / RunRenderChunks / StopRenderWorkerPool /
//                      RenderWorkerThreadCount
//
// Hand-over: the caller publishes its Job under `mutex_` with a new job number
// and wakes the workers. A worker joins a job only while it is published and
// fewer helpers than wanted have joined; it counts itself in `active` under
// the mutex and takes chunks from the job's atomic counter without it. The
// caller takes chunks too; when the counter runs out it withdraws the job
// (no worker can join any more) and waits under the mutex until `active` is 0.
// Every chunk's output is therefore complete and visible to the caller when
// RunRenderChunks returns.
#include "render/render_worker_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

struct Job {
    const std::function<void(int)>* run = nullptr;
    int count = 0;
    std::atomic<int> next{0};
    int active = 0;  // helpers working on it, under the pool's mutex

    void TakeChunks() {
        for (int c = next.fetch_add(1, std::memory_order_relaxed); c < count;
             c = next.fetch_add(1, std::memory_order_relaxed)) {
            (*run)(c);
        }
    }
};

class RenderWorkerPool {
public:
    ~RenderWorkerPool() { Stop(); }

    void Run(int chunkCount, int threads, const std::function<void(int)>& run) {
        const int helpers = std::min(threads, chunkCount) - 1;
        std::unique_lock<std::mutex> dispatch(dispatchMutex_, std::defer_lock);
        if (helpers < 1 || !dispatch.try_lock() || !EnsureWorkers(helpers)) {
            RunInline(chunkCount, run);
            return;
        }
        Job job;
        job.run = &run;
        job.count = chunkCount;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            ++jobNumber_;
            helpersWanted_ = helpers;
            helpersJoined_ = 0;
        }
        wake_.notify_all();
        job.TakeChunks();
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = nullptr;
        idle_.wait(lock, [&job] { return job.active == 0; });
    }

    void Stop() {
        std::lock_guard<std::mutex> dispatch(dispatchMutex_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_) {
            if (t.joinable()) t.join();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.clear();
        stop_ = false;
        workerCount_.store(0, std::memory_order_relaxed);
    }

    int WorkerCount() const { return workerCount_.load(std::memory_order_relaxed); }

private:
    static void RunInline(int chunkCount, const std::function<void(int)>& run) {
        for (int c = 0; c < chunkCount; ++c) run(c);
    }

    // Caller holds dispatchMutex_. False when no thread could be started.
    bool EnsureWorkers(int wanted) {
        while (static_cast<int>(workers_.size()) < wanted) {
            try {
                workers_.emplace_back([this] { WorkerLoop(); });
            } catch (const std::system_error& error) {
                std::printf("[Render] Could not start a scoring thread: %s\n", error.what());
                break;
            }
            if (workers_.size() == 1) {
                std::printf("[Render] Scoring threads started\n");
            }
        }
        workerCount_.store(static_cast<int>(workers_.size()), std::memory_order_relaxed);
        return !workers_.empty();
    }

    void WorkerLoop() {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] {
                return stop_ || (job_ != nullptr && jobNumber_ != seen && helpersJoined_ < helpersWanted_);
            });
            if (stop_) return;
            seen = jobNumber_;
            ++helpersJoined_;
            Job* job = job_;
            ++job->active;
            lock.unlock();
            job->TakeChunks();
            lock.lock();
            if (--job->active == 0) idle_.notify_all();
        }
    }

    std::mutex dispatchMutex_;  // one job on the workers at a time; guards workers_
    std::mutex mutex_;          // the hand-over fields below
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::vector<std::thread> workers_;
    std::atomic<int> workerCount_{0};
    Job* job_ = nullptr;
    uint64_t jobNumber_ = 0;
    int helpersWanted_ = 0;
    int helpersJoined_ = 0;
    bool stop_ = false;
};

RenderWorkerPool& Pool() {
    // Destroyed at exit after main returns, which joins the workers if the
    // shell did not stop them first.
    static RenderWorkerPool pool;
    return pool;
}

}  // namespace

int RenderThreadCount(int requested) {
    if (requested >= 1) return std::min(requested, 64);
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, 64);
}

void RunRenderChunks(int chunkCount, int threads, const std::function<void(int)>& job) {
    if (chunkCount <= 0) return;
    Pool().Run(chunkCount, RenderThreadCount(threads), job);
}

void StopRenderWorkerPool() { Pool().Stop(); }

int RenderWorkerThreadCount() { return Pool().WorkerCount(); }
