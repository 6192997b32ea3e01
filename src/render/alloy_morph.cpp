// alloy_morph.cpp — the alloy entry point and the cache of finished morphs.
//
// Index
//   Key                AlloyInputBytes, key hash
//   Cache              gAlloyCache, lookup, store (byte budget), clear, stats, ForgetAlloyMorphsOf
//   RenderAlloyResult  lookup, dispatch by alloyAlgo, store
#include "render/alloy_morph.h"

#include <exception>
#include <functional>
#include <string>

#include "document/project.h"
#include "document/voice_audio.h"
#include "render/alloy_crossover.h"
#include "render/alloy_mosaic.h"
#include "render/alloy_transfer.h"
#include "render/key_bytes.h"

// ---------------------------------------------------------------------------
// Key
// ---------------------------------------------------------------------------

std::string AlloyInputBytes(const RenderResult& r) {
    KeyBytes k;
    k.Add(r.filepath);
    k.Add(r.fileId);
    k.Add(r.name);
    k.Add(r.sourceOffset);
    k.Add(r.sourceDuration);
    k.Add(r.duration);
    k.Add(r.stereo);
    AddAlloySettings(k, r);
    return std::move(k.bytes);
}

void AddAlloySettings(KeyBytes& k, const RenderResult& r) {
    k.Add(r.alloyMid);
    k.Add(r.alloyHigh);
    k.Add(r.alloyEnv);
    k.Add(r.hasAlloyCurves);
    if (r.hasAlloyCurves) {
        k.Add(r.alloyWeightCurve);
        k.Add(r.alloyIntensityCurve);
    }
    k.Add(r.alloyMorph);
    k.Add(r.alloyAlgo);
    k.Add(r.alloyTransferDepth);
    k.Add(r.alloyAttackGraft);
    k.Add(r.alloyMicroPitch);
    k.Add(r.alloyFilterBands);
}

size_t AlloyCacheKeyHash::operator()(const AlloyCacheKey& key) const {
    uint64_t h = std::hash<std::string>{}(key.inputs);
    h = h * 0x9E3779B97F4A7C15ull ^ uint64_t(uint32_t(key.sampleRate));
    h = h * 0x9E3779B97F4A7C15ull ^ uint64_t(key.stereo ? 1 : 0);
    return size_t(h ^ (h >> 29));
}

// ---------------------------------------------------------------------------
// Cache
// ---------------------------------------------------------------------------

AlloyCache gAlloyCache;

namespace {

size_t EntryBytes(const AlloyCacheEntry& entry) { return (entry.left.size() + entry.right.size()) * sizeof(float); }

std::shared_ptr<const AlloyCacheEntry> FindEntry(AlloyCache& cache, const AlloyCacheKey& key) {
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto it = cache.map.find(key);
    return it == cache.map.end() ? nullptr : it->second;
}

// A morph larger than the whole budget is not kept; one that would pass it
// empties the cache first.
void StoreEntry(AlloyCache& cache, const AlloyCacheKey& key, std::shared_ptr<const AlloyCacheEntry> entry) {
    const size_t bytes = EntryBytes(*entry);
    StoreCacheEntry(cache, key, std::move(entry), bytes, SIZE_MAX, EntryBytes);
}

}  // namespace

void ClearAlloyCache(AlloyCache& cache) { ClearEntryCache(cache); }

void ClearAlloyCache() { ClearAlloyCache(gAlloyCache); }

AlloyCacheStats GetAlloyCacheStats(AlloyCache& cache) { return EntryCacheStatsOf(cache); }

size_t ForgetAlloyMorphsOf(AlloyCache& cache, const std::set<std::string>& paths) {
    if (paths.empty()) return 0;
    return ForgetCacheEntries(
        cache,
        [&](const AlloyCacheKey&, const AlloyCacheEntry& entry) {
            for (const std::string& file : entry.files)
                if (paths.count(file)) return true;
            return false;
        },
        EntryBytes);
}

// ---------------------------------------------------------------------------
// RenderAlloyResult
// ---------------------------------------------------------------------------

namespace {

bool RunAlloyAlgorithm(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice,
                       AlloyFftAllocator allocator) {
    switch (result.alloyAlgo) {
        case 1:
            return AlloyEnvelopeTransfer(result, sampleRate, stereo, voice, allocator);
        case 2:
            return AlloyBandMosaic(result, sampleRate, stereo, voice);
        case 3:
            return AlloyBandBlendTransfer(result, sampleRate, stereo, voice, allocator);
        default:
            return AlloyCrossoverMorph(result, sampleRate, stereo, voice, allocator);
    }
}

}  // namespace

bool RenderAlloyResult(AlloyCache& cache, const RenderResult& result, int sampleRate, bool stereo,
                       VoiceAudio& voice) {
    try {
        const bool cached = result.id >= 1;
        const AlloyCacheKey key{cached ? AlloyInputBytes(result) : std::string(), sampleRate, stereo};
        if (cached) {
            if (auto hit = FindEntry(cache, key)) {
                std::vector<float> left = hit->left, right = hit->right;
                voice.left = std::move(left);
                voice.right = std::move(right);
                voice.stereo = hit->stereo;
                voice.sampleCount = hit->frames;
                return hit->frames > 0;
            }
        }

        // The algorithms write the voice only when they succeed, so a failed
        // morph leaves it untouched.
        if (!RunAlloyAlgorithm(result, sampleRate, stereo, voice, cache.fftAllocator)) return false;
        if (cached && voice.sampleCount >= 1) {
            auto entry = std::make_shared<AlloyCacheEntry>();
            entry->left = voice.left;
            if (voice.stereo) entry->right = voice.right;
            entry->stereo = voice.stereo;
            entry->frames = voice.sampleCount;
            for (const std::string* file : {&result.filepath, &result.alloyMid.filepath, &result.alloyHigh.filepath,
                                            &result.alloyEnv.filepath})
                if (!file->empty()) entry->files.push_back(*file);
            StoreEntry(cache, key, std::move(entry));
        }
        return true;
    } catch (const std::exception&) {
        // Memory exhaustion is a morph that could not be made, never a crash.
        return false;
    }
}

bool RenderAlloyResult(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice) {
    return RenderAlloyResult(gAlloyCache, result, sampleRate, stereo, voice);
}
