// audio_handoff.h — an immutable buffer shared with the audio thread and
// replaced by other threads, so that the audio thread never waits, never
// touches a reference count and never frees it.
//
// Index
//   AudioHandoff              owner (shared pointer) + the view the reader sees + read epoch
//     ReadScope               the audio thread's window in which the view stays valid
//     Replace / Exchange      other threads swap the buffer; the old one is released by them
//     Load                    other threads' shared copy of the current buffer
//
// Why not std::atomic<std::shared_ptr>: the reader would take a reference and,
// when a writer swapped the buffer meanwhile, drop the last one and free the
// buffer on the audio thread; and libstdc++ 12 releases that type's internal
// lock with relaxed ordering on load, which ThreadSanitizer rightly reports.
//
// One thread reads (one ReadScope at a time); any number of threads write.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

template <class T>
class AudioHandoff {
public:
    AudioHandoff() = default;
    AudioHandoff(const AudioHandoff&) = delete;
    AudioHandoff& operator=(const AudioHandoff&) = delete;

    // Reader side. Get() stays valid until the scope ends.
    class ReadScope {
    public:
        explicit ReadScope(const AudioHandoff& handoff) : handoff_(handoff) {
            handoff_.epoch_.fetch_add(1);  // odd: a read is in progress
        }
        ~ReadScope() { handoff_.epoch_.fetch_add(1); }
        ReadScope(const ReadScope&) = delete;
        ReadScope& operator=(const ReadScope&) = delete;
        const T* Get() const { return handoff_.view_.load(); }

    private:
        const AudioHandoff& handoff_;
    };

    // Writer side: installs `next` and returns the previous buffer once no
    // read that could still see it is in progress. Not for the reading thread.
    std::shared_ptr<const T> Exchange(std::shared_ptr<const T> next) {
        std::shared_ptr<const T> old;
        {
            std::lock_guard<std::mutex> lock(writer_);
            view_.store(next.get());
            old = std::move(owner_);
            owner_ = std::move(next);
        }
        const uint32_t epoch = epoch_.load();
        if (epoch & 1u)
            while (epoch_.load() == epoch) std::this_thread::yield();
        return old;
    }
    void Replace(std::shared_ptr<const T> next) { Exchange(std::move(next)).reset(); }

    std::shared_ptr<const T> Load() const {
        std::lock_guard<std::mutex> lock(writer_);
        return owner_;
    }

private:
    mutable std::mutex writer_;  // never taken by the reader
    std::shared_ptr<const T> owner_;
    std::atomic<const T*> view_{nullptr};
    mutable std::atomic<uint32_t> epoch_{0};
};
