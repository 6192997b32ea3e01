// lock_wait_watch.h — a stand-in for the audio thread that keeps taking a
// mutex and remembers the longest it had to wait for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "playback/engine_mutex.h"
#include <thread>

class LockWaitWatch {
public:
    // Starts watching at once; `pauseUs` between two takes of the lock.
    explicit LockWaitWatch(EngineMutex& mutex, int pauseUs = 200);
    ~LockWaitWatch();
    LockWaitWatch(const LockWaitWatch&) = delete;
    LockWaitWatch& operator=(const LockWaitWatch&) = delete;

    // The longest wait so far in microseconds; Reset starts over.
    int64_t LongestWaitUs() const { return longest_.load(); }
    void Reset() { longest_.store(0); }
    // Stops the thread (the destructor does too).
    void Stop();

private:
    EngineMutex& mutex_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> longest_{0};
    std::thread thread_;
};
