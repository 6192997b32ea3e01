// file_caches.h — process-wide per-file caches keyed by path, and two uncached
// per-file helpers.
//
// Index
//   PathKeyedCache<V>          thread-safe map path -> shared_ptr<const V> (lock held only for map access)
//   AudioFileInfo / AudioFileInfoCache      channels and duration of a file
//   WaveformPeaks / WaveformPeakCache       peak and RMS per bucket for the timeline
//   LevelCurve / LevelCurveCache            the file's level at N points per second
//   SoundSegment / AmplitudeEnvelopeCache   the file's sounding segments
//   Read*                      the uncached readers behind the caches
//   GetFileBrightness          a file's brightness from the libraries (optionally analysed)
//   BuildClipOverview          2048-bin peak/RMS overview of decoded voice audio
//
// Threads: the UI thread, the busy task and the recipe-preview thread share the
// caches. Each cache has its own mutex, taken only around lookup, insertion,
// erase and clear, never while a file is decoded, and never together with any
// other lock. Values are immutable once inserted and handed out as
// shared_ptr<const ...>, so a reader keeps a complete value while another
// thread erases or clears. An Erase or Clear also voids decodes that were in
// flight when it happened: their results are returned to their caller but not
// inserted, so a cleared cache never gets back data read before the clear.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct LibraryIndex;

// ---- Generic cache --------------------------------------------------------

struct PathKeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

template <class Value>
class PathKeyedCache {
public:
    using Ptr = std::shared_ptr<const Value>;

    // The entry for path, or null. `epoch`, when given, receives the cache's
    // epoch read in the same critical section: pass it to Insert after a miss.
    Ptr Find(std::string_view path, uint64_t* epoch = nullptr) const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (epoch) *epoch = epoch_;
        auto it = entries_.find(path);
        return it == entries_.end() ? nullptr : it->second;
    }

    // Inserts value unless the path already has an entry (then that entry is
    // returned) or an Erase/Clear happened since `epoch` was read (then value
    // is returned without being stored).
    Ptr Insert(std::string_view path, Ptr value, uint64_t epoch) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (epoch != epoch_) return value;
        auto it = entries_.find(path);
        if (it != entries_.end()) return it->second;
        entries_.emplace(std::string(path), value);
        return value;
    }

    // Replaces whatever stands for path (same epoch rule as Insert).
    void Assign(std::string_view path, Ptr value, uint64_t epoch) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (epoch != epoch_) return;
        auto it = entries_.find(path);
        if (it != entries_.end()) it->second = std::move(value);
        else entries_.emplace(std::string(path), std::move(value));
    }

    bool Erase(std::string_view path) {
        Ptr dropped;  // released after the lock
        std::lock_guard<std::mutex> lock(mutex_);
        ++epoch_;
        auto it = entries_.find(path);
        if (it == entries_.end()) return false;
        dropped = std::move(it->second);
        entries_.erase(it);
        return true;
    }

    void Clear() {
        Map dropped;  // the values are freed after the lock is released
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++epoch_;
            dropped.swap(entries_);
        }
    }

    size_t Size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_.size();
    }

private:
    using Map = std::unordered_map<std::string, Ptr, PathKeyHash, std::equal_to<>>;
    mutable std::mutex mutex_;
    Map entries_;
    uint64_t epoch_ = 0;  // raised by every Erase and Clear
};

// ---- Audio file info ------------------------------------------------------

struct AudioFileInfo {
    int channels = 0;
    float duration = 0.0f;  // seconds
};

// What the info cache keeps: a failed open is remembered with the registry
// generation it was seen at, and tried again once that generation moves on.
struct AudioFileInfoRecord {
    AudioFileInfo info;
    bool opened = false;
    uint32_t registryGeneration = 0;
};

class AudioFileInfoCache : public PathKeyedCache<AudioFileInfoRecord> {};
extern AudioFileInfoCache gAudioFileInfoCache;

// Channels and duration of a file, {0, 0} when it cannot be opened.
// The first form uses the process-wide cache and the file registry's generation.
AudioFileInfo GetAudioFileInfo(const std::string& path);
AudioFileInfo GetAudioFileInfo(AudioFileInfoCache& cache, const std::string& path,
                               uint32_t registryGeneration);

// ---- Waveform peaks -------------------------------------------------------

struct WaveformPeaks {
    std::vector<float> peaks;  // largest magnitude per bucket
    std::vector<float> rms;    // RMS per bucket, same length
    float duration = 0.0f;     // seconds
    int sampleRate = 0;
};

class WaveformPeakCache : public PathKeyedCache<WaveformPeaks> {};
extern WaveformPeakCache gWaveformPeakCache;

// Makes sure the cache holds the file and returns its entry (null when the
// path is null or empty or the file cannot be read; nothing is cached then).
std::shared_ptr<const WaveformPeaks> GetWaveformPeaks(const char* path,
                                                      WaveformPeakCache& cache = gWaveformPeakCache);
// The cached entry or null; never reads the file.
std::shared_ptr<const WaveformPeaks> FindWaveformPeaks(
    std::string_view path, const WaveformPeakCache& cache = gWaveformPeakCache);
// Drops one file's entry (after its clip was given another file).
bool EraseWaveformPeaks(std::string_view path, WaveformPeakCache& cache = gWaveformPeakCache);
// A new project and opening a project start from an empty waveform cache.
void ClearWaveformPeakCache(WaveformPeakCache& cache = gWaveformPeakCache);

// ---- Level curve ----------------------------------------------------------

using LevelCurve = std::vector<float>;
using LevelCurvePtr = std::shared_ptr<const LevelCurve>;

class LevelCurveCache : public PathKeyedCache<LevelCurve> {};
extern LevelCurveCache gLevelCurveCache;

// The file's level curve: RMS of the per-frame channel-mean magnitude over
// max(trunc(seconds x pointsPerSecond), 1) equal parts of the file (at most
// one per frame and 2^21 in all). Never null;
// empty (and not cached) when the file cannot be read. The rate is not part of
// the key: every caller asks for 20 points per second.
LevelCurvePtr GetLevelCurve(const std::string& path, int pointsPerSecond,
                            LevelCurveCache& cache = gLevelCurveCache);

// ---- Amplitude envelope (sounding segments) --------------------------------

struct SoundSegment {
    float start = 0.0f;   // seconds
    float end = 0.0f;     // seconds
    float weight = 0.0f;  // largest block mean square of the peak-normalised signal, 0..1
};

using SoundSegmentList = std::vector<SoundSegment>;
using SoundSegmentListPtr = std::shared_ptr<const SoundSegmentList>;

class AmplitudeEnvelopeCache : public PathKeyedCache<SoundSegmentList> {};
extern AmplitudeEnvelopeCache gAmplitudeEnvelopeCache;

// The file's sounding segments, found on 1024-sample windows with a 512-sample
// hop. `duration` (the file's length as the caller knows it) ends a segment
// still open at the end; runs shorter than minLength are dropped. Never null;
// empty (and not cached) when the file cannot be read or is silent. Neither
// duration nor minLength is part of the key.
SoundSegmentListPtr GetAmplitudeEnvelope(const std::string& path, float duration, float minLength,
                                         AmplitudeEnvelopeCache& cache = gAmplitudeEnvelopeCache);

// The render clears both of these at its start (unless asked to keep them).
void ClearLevelCurveCache(LevelCurveCache& cache = gLevelCurveCache);
void ClearAmplitudeEnvelopeCache(AmplitudeEnvelopeCache& cache = gAmplitudeEnvelopeCache);

// ---- Uncached readers -----------------------------------------------------
// What the getters do on a miss; each streams the file in bounded blocks.

bool ReadAudioFileInfo(const std::string& path, AudioFileInfo& out);
bool ReadWaveformPeaks(const std::string& path, WaveformPeaks& out);
bool ReadLevelCurve(const std::string& path, int pointsPerSecond, LevelCurve& out);
// False when the file cannot be read; true with an empty list for silence.
bool ReadAmplitudeEnvelope(const std::string& path, float duration, float minLength,
                           SoundSegmentList& out);

// ---- Uncached helpers -----------------------------------------------------

// The file's brightness clamped to 0..1 from the first library entry whose
// fileId (when fileId is not empty) or path matches. Without a match: -1, or
// with analyseIfMissing the analysed brightness (0.5 when analysis fails).
// `libraries` may be null. Nothing is cached.
float GetFileBrightness(const std::string& path, const std::string& fileId,
                        const std::vector<LibraryIndex>* libraries, bool analyseIfMissing);

// Fills overviewPeak[2048] and overviewRms[2048] from decoded audio: bin i
// covers frames [trunc(i x frames / 2048), trunc((i + 1) x frames / 2048)); a
// frame's value is |left|, or max(|left|, |right|) when stereo and right holds
// that frame. Both arrays are zeroed first; empty bins stay 0.
constexpr int kClipOverviewBins = 2048;
void BuildClipOverview(const float* left, const float* right, int64_t rightFrames, bool stereo,
                       int64_t frames, float* overviewPeak, float* overviewRms);
