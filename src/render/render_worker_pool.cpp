// render_worker_pool.cpp — the process-wide pool behind RunRenderChunks.
//
// Index
//   Job                one RunRenderChunks call: the function, the chunk counter, helpers inside
//   RenderWorkerPool   the threads, the hand-over under one mutex, start and stop
//   Public calls       RenderThreadCount / RunRenderChunks / StopRenderWorkerPool /
//                      RenderWorkerThreadCount, RenderWorkersAsleep
//
// Hand-over: the caller publishes its Job under `mutex_` with a new job number
// and wakes the workers that sleep. A worker joins a job only while it is
// published and fewer helpers than wanted have joined; it counts itself in
// `active` under the mutex and takes chunks from the job's atomic counter
// without it. The caller takes chunks too; when the counter runs out it
// withdraws the job (no worker can join any more) and waits under the mutex
// until `active` is 0. Every chunk's output is therefore complete and visible
// to the caller when RunRenderChunks returns.
//
// Jobs come rarely now (building the candidate table, filling a query's
// keyword parts, a scoring with a long way to go), but a few may follow each
// other closely, and a wake-up through the condition variable costs some tens
// of microseconds. So after a job a worker watches the job number for a
// short while (yielding the processor between looks) before it goes to sleep;
// the watch is kept short because every worker spends it on the processor,
// and between renders every worker sleeps. A worker counts itself in
// `sleepers_` under the mutex before it tests for a job and sleeps, and the
// caller reads that count under the same mutex when it publishes, so no job
// is missed.
#include "render/render_worker_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/processor.h"

namespace {

struct Job {
    const std::function<void(int)>* run = nullptr;
    int count = 0;
    std::atomic<int> next{0};
    int active = 0;                // helpers working on it, under the pool's mutex
    std::atomic<int> running{0};   // the same, for watching without the mutex

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
        bool anyAsleep = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            ++jobNumber_;
            published_.store(jobNumber_, std::memory_order_release);
            helpersWanted_ = helpers;
            helpersJoined_ = 0;
            anyAsleep = sleepers_ > 0;
        }
        if (anyAsleep) wake_.notify_all();
        job.TakeChunks();
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = nullptr;
        if (job.active > 0) {
            // The helpers are finishing their last chunks: watch for a moment
            // before sleeping, as the workers do.
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kWatchMicroseconds);
            while (job.running.load(std::memory_order_acquire) > 0 && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
            lock.lock();
        }
        idle_.wait(lock, [&job] { return job.active == 0; });
    }

    void Stop() {
        std::lock_guard<std::mutex> dispatch(dispatchMutex_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            stopping_.store(true, std::memory_order_relaxed);
        }
        wake_.notify_all();
        for (std::thread& t : workers_) {
            if (t.joinable()) t.join();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.clear();
        stop_ = false;
        stopping_.store(false, std::memory_order_relaxed);
        workerCount_.store(0, std::memory_order_relaxed);
    }

    int WorkerCount() const { return workerCount_.load(std::memory_order_relaxed); }
    int Asleep() const { return asleep_.load(std::memory_order_relaxed); }

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

    // Watches for a job after `seen` for a short while; true when one came.
    bool WatchForJob(uint64_t seen) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kWatchMicroseconds);
        while (published_.load(std::memory_order_acquire) == seen) {
            if (stopping_.load(std::memory_order_relaxed) || std::chrono::steady_clock::now() > until) return false;
            std::this_thread::yield();
        }
        return true;
    }

    void WorkerLoop() {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            lock.unlock();
            WatchForJob(seen);
            lock.lock();
            ++sleepers_;
            asleep_.store(sleepers_, std::memory_order_relaxed);
            wake_.wait(lock, [&] {
                return stop_ || (job_ != nullptr && jobNumber_ != seen && helpersJoined_ < helpersWanted_) ||
                       (jobNumber_ != seen && job_ == nullptr);
            });
            --sleepers_;
            asleep_.store(sleepers_, std::memory_order_relaxed);
            if (stop_) return;
            if (job_ == nullptr) {
                // The job it saw ended before it could join.
                seen = jobNumber_;
                continue;
            }
            seen = jobNumber_;
            ++helpersJoined_;
            Job* job = job_;
            ++job->active;
            job->running.fetch_add(1, std::memory_order_relaxed);
            lock.unlock();
            job->TakeChunks();
            lock.lock();
            job->running.fetch_sub(1, std::memory_order_release);
            if (--job->active == 0) idle_.notify_all();
        }
    }

    static constexpr int kWatchMicroseconds = 50;

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
    int sleepers_ = 0;
    std::atomic<int> asleep_{0};  // sleepers_, for tests to read without the mutex
    bool stop_ = false;
    std::atomic<uint64_t> published_{0};  // jobNumber_, for watching without the mutex
    std::atomic<bool> stopping_{false};   // stop_, likewise
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
    return std::clamp(ProcessorCount(), 1, 64);
}

void RunRenderChunks(int chunkCount, int threads, const std::function<void(int)>& job) {
    if (chunkCount <= 0) return;
    Pool().Run(chunkCount, RenderThreadCount(threads), job);
}

void StopRenderWorkerPool() { Pool().Stop(); }

int RenderWorkerThreadCount() { return Pool().WorkerCount(); }

int RenderWorkersAsleep() { return Pool().Asleep(); }
