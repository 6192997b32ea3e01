// processed_clip_cache.h — decoded source regions at the engine rate, shared process-wide.
//
// Index
//   ProcessedClip           one cached region: samples at the requested rate
//   ProcessedClipKeyHash    FNV-1a 64 over the key text
//   ProcessedClipCache      map + mutex + entry capacity + byte budget
//   gProcessedClipCache     the cache of the program
//   ProcessedClipKey        path + "|offset|duration|rate|stereo" (the floats' exact bits)
//   LoadProcessedClip       cached region load: decode, mix down, resample, store
//   ClearProcessedClipCache empty a cache whole (a new project)
//   ForgetProcessedClipsOf  the regions of files no longer as they were decoded
//   ProcessedClipCacheStats entry count and bytes, for tests and diagnostics
//
// Every voice build, the export, the bounce and the fill and alloy sources read
// regions through here. The cache keeps processed audio so that rebuilding the
// same layers skips decoding and resampling. It has no per-entry eviction:
// when a store would exceed the entry capacity or the byte budget, the map is
// emptied first (what it held is freed after the lock). The mutex is held
// only around map access; copying, decoding and resampling run unlocked, so two threads missing on one key both decode it
// and the later store wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "render/entry_cache.h"

constexpr size_t kProcessedClipCapacity = 512;
// 256 MiB of samples: the cache spares recent regions a second decode (a
// playhead going back and forth, a rebuild of the same layers), but the
// program's memory must stay bounded whatever the project's length.
constexpr size_t kProcessedClipByteBudget = size_t(256) << 20;
constexpr float kMaxRegionSeconds = 600.0f;

struct ProcessedClip {
    std::vector<float> left;   // mono mix, or channel 0 of a stereo region
    std::vector<float> right;  // channel 1; empty when not stereo
    uint8_t stereo = 0;
    int32_t sampleRate = 0;    // always the requested rate once stored
    int32_t frames = 0;        // left.size()
};

uint64_t HashProcessedClipKey(std::string_view key);

struct ProcessedClipKeyHash {
    size_t operator()(const std::string& key) const { return size_t(HashProcessedClipKey(key)); }
};

struct ProcessedClipCache {
    ProcessedClipCache();
    ProcessedClipCache(const ProcessedClipCache&) = delete;
    ProcessedClipCache& operator=(const ProcessedClipCache&) = delete;

    std::mutex mutex;  // guards map and bytes
    // Entries are shared and never changed once stored: a hit takes its
    // pointer under the lock and copies the samples after it, so threads
    // building voices from one region do not queue behind each other's copy.
    std::unordered_map<std::string, std::shared_ptr<const ProcessedClip>, ProcessedClipKeyHash> map;
    size_t bytes = 0;  // sample bytes held by map
    // Limits; set before the cache is shared between threads.
    size_t capacity = kProcessedClipCapacity;
    size_t byteBudget = kProcessedClipByteBudget;
};

extern ProcessedClipCache gProcessedClipCache;

// The file path followed directly by "|%08x|%08x|%d|%d": the bits of the
// offset and the duration, the target rate and the stereo request. Regions
// are told apart exactly (the decode turns those floats into frame positions,
// and any two floats may give different ones); the key lives only in memory.
std::string ProcessedClipKey(const std::string& path, float offset, float duration, int targetRate,
                             bool stereo);

// Loads at most 600 s of `path` starting `offset` seconds in (an offset below
// one frame or at/after the end reads from the start) as float samples at
// `targetRate`: channels 0 and 1 when `stereo` is asked and the file has two
// or more, else the mean of all channels. True when at least one frame was
// produced; on failure the outputs are emptied and nothing is cached.
// Unreadable, empty, zero-rate and absurd files (too many channels, an
// unusable rate), allocation failure and non-finite arguments are failures.
bool LoadProcessedClip(ProcessedClipCache& cache, const std::string& path, float offset,
                       float duration, int targetRate, bool stereo, std::vector<float>& left,
                       std::vector<float>& right, int& outRate, bool& outStereo);
// The same through gProcessedClipCache.
bool LoadProcessedClip(const std::string& path, float offset, float duration, int targetRate,
                       bool stereo, std::vector<float>& left, std::vector<float>& right,
                       int& outRate, bool& outStereo);

void ClearProcessedClipCache(ProcessedClipCache& cache);
void ClearProcessedClipCache();

// Takes out every region decoded from one of `paths` (their files changed or
// went since): the next load reads the file as it is. Returns how many went.
size_t ForgetProcessedClipsOf(ProcessedClipCache& cache, const std::set<std::string>& paths);

using ProcessedClipCacheStats = EntryCacheStats;
ProcessedClipCacheStats GetProcessedClipCacheStats(ProcessedClipCache& cache);
