// lock_wait_watch.cpp — the watching thread.
#include "support/lock_wait_watch.h"

#include <chrono>

LockWaitWatch::LockWaitWatch(EngineMutex& mutex, int pauseUs) : mutex_(mutex) {
    thread_ = std::thread([this, pauseUs] {
        while (!stop_.load()) {
            const auto t0 = std::chrono::steady_clock::now();
            { std::lock_guard<EngineMutex> lock(mutex_); }
            const int64_t waited =
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
            if (waited > longest_.load()) longest_.store(waited);
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        }
    });
}

LockWaitWatch::~LockWaitWatch() { Stop(); }

void LockWaitWatch::Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}
