// entry_cache.h — what the render's caches of shared entries have in common:
// a map and its byte count under one mutex, emptied and counted alike.
//
// Index
//   EntryCacheStats    entry count and bytes, for tests and diagnostics
//   ClearEntryCache    every entry out, freed after the lock
//   EntryCacheStatsOf  the count and bytes under the lock
#pragma once

#include <cstddef>
#include <mutex>

struct EntryCacheStats {
    size_t entries = 0;
    size_t bytes = 0;
};

// Cache: a record with `mutex`, `map` and `bytes`. The entries leave the map
// under the lock but are freed after it, so no thread waits on the freeing.
template <class Cache>
void ClearEntryCache(Cache& cache) {
    decltype(cache.map) gone;
    std::lock_guard<std::mutex> lock(cache.mutex);
    gone.swap(cache.map);
    cache.bytes = 0;
}

template <class Cache>
EntryCacheStats EntryCacheStatsOf(Cache& cache) {
    std::lock_guard<std::mutex> lock(cache.mutex);
    return {cache.map.size(), cache.bytes};
}
