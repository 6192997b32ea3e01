// engine_mutex.h — the engine's lock, which keeps the longest time anyone
// other than the mixer held it.
//
// Index
//   EngineMutex        lock / try_lock / unlock (timed), the mixer's own tries and release
//   EngineLock         the unique lock every holder but the mixer takes
//   MixLock            the mixer's try of the lock for one block
//
// The audio thread only tries the lock, never waiting on it, and a block
// that finds it taken plays without it (see MixAudioBlock): how long the
// others hold it is what playback loses. Every hold but the mixer's own is
// timed (two clock reads), and the longest since the last reset is kept, so
// tests and benchmarks can tell what an operation costs the audio thread and
// the state dump can show it. The mixer's tries that gave up are counted
// too: one per block that went without it.
//
// The mixer's try is repeated for a moment before it gives up: every other
// hold lasts microseconds, yet a single try that met one by chance silences
// a whole block (a single try cost 33 blocks in 158 s of edits while
// playing, on an idle machine). Only a holder the scheduler took off its core
// for longer than the moment costs the block.
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

    // The mixer's block: tried again and again for at most `spinNanos`,
    // never waited for, and not timed.
    bool TryLockForMix(int64_t spinNanos);
    void UnlockAfterMix() { m_.unlock(); }
    // The mixer's tries that gave up, since the engine was made.
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
    MixLock(EngineMutex& m, int64_t spinNanos) : m_(m), owns_(m.TryLockForMix(spinNanos)) {}
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
