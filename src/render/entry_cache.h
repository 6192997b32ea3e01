// entry_cache.h — what the render's caches of shared entries have in common:
// a map and its byte count under one mutex, emptied and counted alike.
//
// Index
//   EntryCacheStats    entry count and bytes, for tests and diagnostics
//   ClearEntryCache    every entry out, freed after the lock
//   EntryCacheStatsOf  the count and bytes under the lock
//   ForgetCacheEntries the entries a predicate picks out, freed after the lock
//   StoreCacheEntry    one entry in, the cache emptied first when it would overflow
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

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

// Takes out every entry for which made(key, entry) is true; bytesOf(entry)
// gives an entry's bytes. Returns how many went.
template <class Cache, class Made, class BytesOf>
size_t ForgetCacheEntries(Cache& cache, Made&& made, BytesOf&& bytesOf) {
    std::vector<typename decltype(cache.map)::mapped_type> gone;
    std::lock_guard<std::mutex> lock(cache.mutex);
    for (auto it = cache.map.begin(); it != cache.map.end();) {
        if (!made(it->first, *it->second)) {
            ++it;
            continue;
        }
        cache.bytes -= bytesOf(*it->second);
        gone.push_back(std::move(it->second));
        it = cache.map.erase(it);
    }
    return gone.size();
}

// Stores `entry` (`bytes` of samples; bytesOf(entry) gives any entry's)
// under `key`, replacing what was there. A store that would pass the
// cache's `byteBudget`, or find `capacity` entries already, empties the
// cache first; an entry larger than the whole budget is not kept.
template <class Cache, class Key, class Entry, class BytesOf>
void StoreCacheEntry(Cache& cache, const Key& key, std::shared_ptr<const Entry> entry, size_t bytes,
                     size_t capacity, BytesOf&& bytesOf) {
    // Entries leave the map under the lock but are freed after it.
    decltype(cache.map) gone;
    std::shared_ptr<const Entry> replacedEntry;
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (bytes > cache.byteBudget) return;
    auto existing = cache.map.find(key);
    const size_t replaced = existing != cache.map.end() ? bytesOf(*existing->second) : 0;
    if (cache.map.size() >= capacity || cache.bytes - replaced + bytes > cache.byteBudget) {
        gone.swap(cache.map);
        cache.bytes = 0;
        cache.map.emplace(key, std::move(entry));
    } else if (existing != cache.map.end()) {
        replacedEntry = std::move(existing->second);
        existing->second = std::move(entry);
        cache.bytes -= replaced;
    } else {
        cache.map.emplace(key, std::move(entry));
    }
    cache.bytes += bytes;
}
