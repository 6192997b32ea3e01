// alloy_morph.h — turning an alloy result into audio, and the cache of finished morphs.
//
// Index
//   AlloyCacheKey / AlloyCacheEntry / AlloyCache   finished morphs by what they are made of, rate and stereo
//   AlloyInputBytes                                 the exact inputs of a result's morph, as bytes
//   AddAlloySettings                                the alloy's own settings, for every key of a morph
//   gAlloyCache                                     the cache of the program
//   RenderAlloyResult                               cache lookup, algorithm by alloyAlgo, store
//   ClearAlloyCache                                 a full render and a new project start afresh
//   ForgetAlloyMorphsOf                             the morphs made of files no longer as they were
//   GetAlloyCacheStats                              entry count and bytes
//
// A morph is costly (several 2048-point transforms per hop and channel) and
// must sound the same in playback and export, so every finished morph is
// kept under the exact bytes of everything it is made from: the layer's and
// its sources' files, names, ids, regions, curves and settings. A layer whose
// sound is changed in place (a variant keeps the layer's id) is morphed anew,
// as a reopened project would morph it; two layers made of the same inputs
// share one morph. The key also holds the sample rate and the stereo request,
// so a rate change never plays an old morph at the wrong speed.
//
// Lock order: a caller may hold the engine's mutex while it calls in; the
// cache's own mutex is held only around map access (never while morphing),
// and entries are shared read-only so that copying them out happens unlocked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "render/alloy_stages.h"
#include "render/entry_cache.h"

struct RenderResult;
struct KeyBytes;
struct VoiceAudio;

// 256 MiB of samples: voices are decoded again whenever the playhead comes
// back to them, and the program's memory must stay bounded whatever the
// project's length; the cache only spares recent morphs a second render.
constexpr size_t kAlloyCacheByteBudget = size_t(256) << 20;

struct AlloyCacheKey {
    std::string inputs;  // AlloyInputBytes
    int32_t sampleRate = 0;
    bool stereo = false;
    bool operator==(const AlloyCacheKey&) const = default;
};

struct AlloyCacheKeyHash {
    size_t operator()(const AlloyCacheKey& key) const;
};

struct AlloyCacheEntry {
    std::vector<float> left;
    std::vector<float> right;  // empty when mono
    uint8_t stereo = 0;
    int32_t frames = 0;
    // The files it was morphed from (main sound and sources): the key names
    // them but not what they held.
    std::vector<std::string> files;
};

struct AlloyCache {
    std::mutex mutex;  // guards map and bytes
    std::unordered_map<AlloyCacheKey, std::shared_ptr<const AlloyCacheEntry>, AlloyCacheKeyHash> map;
    size_t bytes = 0;
    // Set before the cache is shared between threads. A store that would pass
    // the budget empties the cache first; a morph larger than the whole budget
    // is not kept.
    size_t byteBudget = kAlloyCacheByteBudget;
    // The transforms' allocator of the morphs this cache makes (null: the
    // program's; a test gives one that fails). Set before it is shared.
    AlloyFftAllocator fftAllocator = nullptr;
};

extern AlloyCache gAlloyCache;

// Every field of `result` an alloy algorithm reads, as bytes compared exactly.
std::string AlloyInputBytes(const RenderResult& result);
// The alloy's own settings (bands, envelope, curves, algorithm and its
// options) in the one order every key of a morph adds them.
void AddAlloySettings(KeyBytes& k, const RenderResult& result);

// The alloy audio of `result` at `sampleRate`, stereo when asked: the voice's
// left (and right when stereo), stereo flag and sample count. Results with an
// id of 1 or more are served from and stored in the cache; others are morphed
// on every call. alloyAlgo 1 runs the envelope transfer, 2 the band mosaic,
// 3 the band-blend transfer, any other value the three-band crossover. False
// (the voice untouched) when no audio could be made.
bool RenderAlloyResult(AlloyCache& cache, const RenderResult& result, int sampleRate, bool stereo,
                       VoiceAudio& voice);
bool RenderAlloyResult(const RenderResult& result, int sampleRate, bool stereo, VoiceAudio& voice);

void ClearAlloyCache(AlloyCache& cache);
void ClearAlloyCache();

// Takes out every morph made from one of `paths` (their files changed or
// went since): the next render of those layers morphs what is there now.
// Returns how many went.
size_t ForgetAlloyMorphsOf(AlloyCache& cache, const std::set<std::string>& paths);

using AlloyCacheStats = EntryCacheStats;
AlloyCacheStats GetAlloyCacheStats(AlloyCache& cache);
