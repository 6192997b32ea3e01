// engine_mutex.cpp — timing the holds of the engine's lock.
//
// Index
//   EngineMutex          lock, try_lock, unlock, TryLockForMix, ResetHoldStats
#include "playback/engine_mutex.h"

#include <chrono>

namespace {

int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void EngineMutex::Took() { since_ = NowNanos(); }

void EngineMutex::lock() {
    m_.lock();
    Took();
}

bool EngineMutex::try_lock() {
    if (!m_.try_lock()) return false;
    Took();
    return true;
}

void EngineMutex::unlock() {
    const int64_t held = NowNanos() - since_;
    holds_.fetch_add(1, std::memory_order_relaxed);
    int64_t most = longest_.load(std::memory_order_relaxed);
    while (held > most && !longest_.compare_exchange_weak(most, held, std::memory_order_relaxed)) {
    }
    m_.unlock();
}

bool EngineMutex::TryLockForMix(int64_t spinNanos) {
    if (m_.try_lock()) return true;
    const int64_t until = NowNanos() + spinNanos;
    do {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        if (m_.try_lock()) return true;
    } while (NowNanos() < until);
    missedMixTries_.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void EngineMutex::ResetHoldStats() {
    longest_.store(0, std::memory_order_relaxed);
    holds_.store(0, std::memory_order_relaxed);
}
