// wait_until.h — a bounded wait for something another thread does.
//
// Tests that need a worker or a stream to get somewhere wait for exactly
// that, polling every millisecond, instead of sleeping a guess. The deadline
// is generous: it only turns a hang into a failure, so a loaded machine or a
// sanitizer build costs time, never a wrong verdict.
#pragma once

#include <chrono>
#include <thread>

// True as soon as `done()` is; false when it is still false after `deadline`.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
