// processed_clip_cache.cpp — the region loader and its process-wide cache.
//
// Index
//   Key and hash           ProcessedClipKey (exact offset and length), HashProcessedClipKey
//   Cache                  constructor, gProcessedClipCache, clear, stats, ForgetProcessedClipsOf
//   Decoding               DecodeRegion: open, position, block reads with per-block mixdown
//   Storing                StoreClip: capacity and byte budget, clear-all policy
//   LoadProcessedClip      lookup, decode, resample, store
#include "render/processed_clip_cache.h"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <exception>
#include <memory>
#include <set>
#include <string_view>

#include "library/sound_file_open.h"
#include "render/clip_processing.h"

// ---------------------------------------------------------------------------
// Key and hash
// ---------------------------------------------------------------------------

namespace {

// The float's bits as eight hexadecimal digits: two regions whose offsets or
// lengths differ in the last bit differ here too. Rounded text would let
// regions a sample apart share one entry, and the one decoded first would
// then stand for both (a build order deciding what plays).
void AppendBits(std::string& out, float value) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    char buf[8];
    for (int i = 0; i < 8; ++i) buf[i] = "0123456789abcdef"[(bits >> (28 - 4 * i)) & 0xFu];
    out.append(buf, sizeof buf);
}

void AppendInt(std::string& out, int value) {
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

}  // namespace

uint64_t HashProcessedClipKey(std::string_view key) {
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a 64 offset basis
    for (unsigned char c : key) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string ProcessedClipKey(const std::string& path, float offset, float duration, int targetRate,
                             bool stereo) {
    std::string key;
    key.reserve(path.size() + 32);
    key += path;
    key += '|';
    AppendBits(key, offset);
    key += '|';
    AppendBits(key, duration);
    key += '|';
    AppendInt(key, targetRate);
    key += '|';
    key += stereo ? '1' : '0';
    return key;
}

// ---------------------------------------------------------------------------
// Cache
// ---------------------------------------------------------------------------

ProcessedClipCache::ProcessedClipCache() : map(8) { map.max_load_factor(1.0f); }

ProcessedClipCache gProcessedClipCache;

void ClearProcessedClipCache(ProcessedClipCache& cache) { ClearEntryCache(cache); }

void ClearProcessedClipCache() { ClearProcessedClipCache(gProcessedClipCache); }

ProcessedClipCacheStats GetProcessedClipCacheStats(ProcessedClipCache& cache) { return EntryCacheStatsOf(cache); }

namespace {

size_t ClipBytes(const std::vector<float>& left, const std::vector<float>& right) {
    return (left.size() + right.size()) * sizeof(float);
}

// The path a key was made of: what comes before its last four '|' (the
// path itself may hold any byte).
std::string_view KeyPath(std::string_view key) {
    size_t end = key.size();
    for (int bars = 0; bars < 4; ++bars) {
        end = end == 0 ? std::string_view::npos : key.rfind('|', end - 1);
        if (end == std::string_view::npos) return {};
    }
    return key.substr(0, end);
}

}  // namespace

size_t ForgetProcessedClipsOf(ProcessedClipCache& cache, const std::set<std::string>& paths) {
    if (paths.empty()) return 0;
    return ForgetCacheEntries(
        cache, [&](const std::string& key, const ProcessedClip&) { return paths.count(std::string(KeyPath(key))) > 0; },
        [](const ProcessedClip& clip) { return ClipBytes(clip.left, clip.right); });
}

// ---------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------

namespace {

// Files beyond these are refused before anything is allocated for them.
constexpr int kMaxSourceChannels = 256;
constexpr int kMaxSampleRate = 768000;
constexpr sf_count_t kReadBlockFrames = 16384;
// Reserve no more than this up front: a header's frame count is a claim, and
// the vectors grow with the frames actually read.
constexpr int64_t kMaxInitialReserve = int64_t(48000) * 120;

struct SndFileCloser {
    void operator()(SNDFILE* f) const {
        if (f) sf_close(f);
    }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

// Reads the region at the file's own rate. Stereo keeps channels 0 and 1;
// mono is the mean of all channels. Reading goes block by block so that only
// one block of interleaved samples exists at a time.
bool DecodeRegion(const std::string& path, float offset, float duration, bool stereoWanted,
                  std::vector<float>& left, std::vector<float>& right, int& fileRate,
                  bool& outStereo) {
    SF_INFO info{};
    SndFilePtr file(OpenSoundFileForReading(path, &info));
    if (!file) return false;
    if (info.frames < 1 || info.samplerate < 1) return false;
    if (info.channels < 1 || info.channels > kMaxSourceChannels) return false;
    if (info.samplerate > kMaxSampleRate) return false;

    const int channels = info.channels;
    fileRate = info.samplerate;
    outStereo = stereoWanted && channels >= 2;

    // Start frame: an offset below one frame, at or past the end, or not a
    // number reads from the first frame.
    int64_t start = 0;
    const float startF = float(fileRate) * offset;
    if (startF >= 1.0f && double(startF) < double(info.frames)) start = int64_t(startF);
    if (start >= info.frames) start = 0;

    const float durF = float(fileRate) * duration;
    if (!(durF >= 1.0f)) return false;  // also catches NaN
    const double limit = std::min(double(info.frames - start), double(fileRate) * double(kMaxRegionSeconds));
    const int64_t count = int64_t(std::min(double(durF), limit));
    if (count < 1) return false;

    if (start >= 1 && sf_seek(file.get(), start, SEEK_SET) < 0) return false;

    left.clear();
    right.clear();
    const size_t reserve = size_t(std::min(count, kMaxInitialReserve));
    left.reserve(reserve);
    if (outStereo) right.reserve(reserve);

    std::vector<float> block(size_t(kReadBlockFrames) * size_t(channels));
    const float invChannels = 1.0f / float(channels);
    int64_t remaining = count;
    while (remaining > 0) {
        const sf_count_t want = std::min<sf_count_t>(remaining, kReadBlockFrames);
        const sf_count_t got = ReadSoundFrames(file.get(), block.data(), want, channels);
        if (got <= 0) break;
        const size_t base = left.size();
        left.resize(base + size_t(got));
        const float* in = block.data();
        if (outStereo) {
            right.resize(base + size_t(got));
            for (sf_count_t i = 0; i < got; ++i, in += channels) {
                left[base + i] = in[0];
                right[base + i] = in[1];
            }
        } else if (channels == 1) {
            std::copy(in, in + got, left.begin() + ptrdiff_t(base));
        } else {
            for (sf_count_t i = 0; i < got; ++i, in += channels) {
                float sum = 0;
                for (int c = 0; c < channels; ++c) sum += in[c];
                left[base + i] = sum * invChannels;
            }
        }
        remaining -= got;
    }
    return !left.empty();
}

// ---------------------------------------------------------------------------
// Storing
// ---------------------------------------------------------------------------

// Stores a copy under `key`. A store that would pass the entry capacity or the
// byte budget empties the cache first; a region larger than the whole budget
// is not kept at all.
void StoreClip(ProcessedClipCache& cache, const std::string& key, ProcessedClip clip) {
    const size_t bytes = ClipBytes(clip.left, clip.right);
    StoreCacheEntry(cache, key, std::make_shared<const ProcessedClip>(std::move(clip)), bytes, cache.capacity,
                    [](const ProcessedClip& stored) { return ClipBytes(stored.left, stored.right); });
}

}  // namespace

// ---------------------------------------------------------------------------
// LoadProcessedClip
// ---------------------------------------------------------------------------

bool LoadProcessedClip(ProcessedClipCache& cache, const std::string& path, float offset,
                       float duration, int targetRate, bool stereo, std::vector<float>& left,
                       std::vector<float>& right, int& outRate, bool& outStereo) {
    try {
        const std::string key = ProcessedClipKey(path, offset, duration, targetRate, stereo);
        {
            std::shared_ptr<const ProcessedClip> hit;
            {
                std::lock_guard<std::mutex> lock(cache.mutex);
                auto it = cache.map.find(key);
                if (it != cache.map.end()) hit = it->second;
            }
            if (hit) {
                left = hit->left;
                right = hit->right;
                outRate = hit->sampleRate;
                outStereo = hit->stereo != 0;
                return hit->frames > 0;
            }
        }

        if (targetRate < 1 || targetRate > kMaxSampleRate) {
            left.clear();
            right.clear();
            return false;
        }

        ProcessedClip clip;
        int fileRate = 0;
        bool clipStereo = false;
        if (!DecodeRegion(path, offset, duration, stereo, clip.left, clip.right, fileRate, clipStereo)) {
            left.clear();
            right.clear();
            return false;
        }
        if (fileRate != targetRate) {
            const double ratio = double(targetRate) / double(fileRate);
            const double n = double(clip.left.size()) * ratio + 0.5;
            if (!(n >= 1.0) || n > double(INT32_MAX)) {
                left.clear();
                right.clear();
                return false;
            }
            ResampleSincPair(int(n), 1.0 / ratio, clip.left, clipStereo ? &clip.right : nullptr);
        }
        if (clip.left.empty()) {
            left.clear();
            right.clear();
            return false;
        }
        // Decoding grows the vectors as frames arrive; keep only what is used,
        // so the byte budget counts the memory actually held.
        clip.left.shrink_to_fit();
        clip.right.shrink_to_fit();
        clip.stereo = clipStereo ? 1 : 0;
        clip.sampleRate = targetRate;
        clip.frames = int32_t(clip.left.size());

        left = clip.left;
        right = clip.right;
        outRate = targetRate;
        outStereo = clipStereo;
        StoreClip(cache, key, std::move(clip));
        return true;
    } catch (const std::exception&) {
        // Memory exhaustion (or a library error) is a failed load, never a crash.
        left.clear();
        right.clear();
        return false;
    }
}

bool LoadProcessedClip(const std::string& path, float offset, float duration, int targetRate,
                       bool stereo, std::vector<float>& left, std::vector<float>& right,
                       int& outRate, bool& outStereo) {
    return LoadProcessedClip(gProcessedClipCache, path, offset, duration, targetRate, stereo, left,
                             right, outRate, outStereo);
}
