// copyable_atomic.h — an atomic that records holding it can still copy.
//
// Records such as the document are copied whole (undo snapshots, private
// preview projects). A copy takes the value the source holds at that moment.
#pragma once

#include <atomic>

template <class T>
struct CopyableAtomic : std::atomic<T> {
    CopyableAtomic() noexcept : std::atomic<T>(T{}) {}
    constexpr CopyableAtomic(T value) noexcept : std::atomic<T>(value) {}
    CopyableAtomic(const CopyableAtomic& other) noexcept : std::atomic<T>(other.load()) {}
    CopyableAtomic& operator=(const CopyableAtomic& other) noexcept {
        this->store(other.load());
        return *this;
    }
    CopyableAtomic& operator=(T value) noexcept {
        this->store(value);
        return *this;
    }
};
