// engine_mutex.h — the engine's lock, which keeps the longest time anyone
// other than the mixer held it.
//
// Index
//   EngineMutex        lock / try_lock / unlock (timed), the mixer's own try and release
//   EngineLock         the unique lock every holder but the mixer takes
//   MixLock            the mixer's try of the lock for one block
//
// The audio thread tries the lock once per block and never waits or spins
// for it: a block that finds it taken plays without it (see MixAudioBlock),
// so how long the others hold it is what playback loses. Every hold but the
// mixer's own is timed (two clock reads), and the longest since the last
// reset is kept, so tests and benchmarks can tell what an operation costs the
// audio thread and the state dump can show it. The mixer's tries that found
// the lock taken are counted too: one per block that went without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

class EngineMutex {
public:
    EngineMutex() = default;
    EngineMutex(const EngineMutex&) = delete;
    EngineMutex& operator=(const EngineMutex&) = delete;

    void lock();
    bool try_lock();
    void unlock();

    // The mixer's block: tried once, never waited for, and not timed.
    bool TryLockForMix();
    void UnlockAfterMix() { m_.unlock(); }
    // The mixer's tries that found the lock taken, since the engine was made.
    uint64_t MissedMixTries() const { return missedMixTries_.load(std::memory_order_relaxed); }

    // The longest timed hold since the last reset, in nanoseconds, and how
    // many holds were timed. Any thread.
    int64_t LongestHoldNanos() const { return longest_.load(std::memory_order_relaxed); }
    uint64_t TimedHolds() const { return holds_.load(std::memory_order_relaxed); }
    void ResetHoldStats();

private:
    void Took();

    std::mutex m_;
    int64_t since_ = 0;  // when the current holder took it; only the holder touches it
    std::atomic<int64_t> longest_{0};
    std::atomic<uint64_t> holds_{0};
    std::atomic<uint64_t> missedMixTries_{0};
};

using EngineLock = std::unique_lock<EngineMutex>;

class MixLock {
public:
    explicit MixLock(EngineMutex& m) : m_(m), owns_(m.TryLockForMix()) {}
    ~MixLock() {
        if (owns_) m_.UnlockAfterMix();
    }
    MixLock(const MixLock&) = delete;
    MixLock& operator=(const MixLock&) = delete;
    bool owns_lock() const { return owns_; }
    void unlock() {
        if (owns_) m_.UnlockAfterMix();
        owns_ = false;
    }

private:
    EngineMutex& m_;
    bool owns_;
};
