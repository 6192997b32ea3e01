// file_caches.cpp — the per-file caches, their readers and the clip overview.
//
// Index
//   SoundFile               small owner of an open libsndfile handle
//   Audio file info         ReadAudioFileInfo, GetAudioFileInfo
//   Waveform peaks          ReadWaveformPeaks, GetWaveformPeaks, Find/Erase/Clear
//   Level curve             ReadLevelCurve, GetLevelCurve
//   Amplitude envelope      ReadAmplitudeEnvelope (streamed), FindSegments, GetAmplitudeEnvelope
//   Clears                  ClearLevelCurveCache, ClearAmplitudeEnvelopeCache
//   Brightness              GetFileBrightness
//   Clip overview           BuildClipOverview
//
// Every reader streams its file through a buffer of at most 8192 frames, so
// memory stays bounded by the result, not by the length of the file.
#include "library/file_caches.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

#include "library/file_registry.h"
#include "library/library_index_file.h"
#include "library/sound_analysis.h"
#include "library/sound_file_open.h"
#include "library/sound_library.h"

AudioFileInfoCache gAudioFileInfoCache;
WaveformPeakCache gWaveformPeakCache;
LevelCurveCache gLevelCurveCache;
AmplitudeEnvelopeCache gAmplitudeEnvelopeCache;

namespace {

constexpr int64_t kReadBlock = 8192;
// 2^21 points: 29 hours at the 20 points per second every caller asks for.
constexpr int64_t kMaxLevelCurvePoints = int64_t(1) << 21;

class SoundFile {
public:
    explicit SoundFile(const std::string& path) { file_ = OpenSoundFileForReading(path, &info_); }
    ~SoundFile() {
        if (file_) sf_close(file_);
    }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    // Open with a usable layout: positive rate and channel count.
    bool IsUsable() const { return file_ && info_.samplerate > 0 && info_.channels > 0; }
    int Rate() const { return info_.samplerate; }
    int Channels() const { return info_.channels; }
    int64_t Frames() const { return info_.frames; }
    int64_t Read(float* buf, int64_t frames) {
        return ReadSoundFrames(file_, buf, frames, info_.channels);
    }

private:
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
};

template <class Value>
std::shared_ptr<const Value> EmptyValue() {
    static const std::shared_ptr<const Value> empty = std::make_shared<const Value>();
    return empty;
}

}  // namespace

// ---- Audio file info ------------------------------------------------------

bool ReadAudioFileInfo(const std::string& path, AudioFileInfo& out) {
    SoundFile file(path);
    if (!file.IsOpen()) return false;
    out.channels = file.Channels();
    out.duration = file.Rate() > 0 ? static_cast<float>(file.Frames()) / static_cast<float>(file.Rate())
                                   : 0.0f;
    return true;
}

AudioFileInfo GetAudioFileInfo(AudioFileInfoCache& cache, const std::string& path,
                               uint32_t registryGeneration) {
    uint64_t epoch = 0;
    std::shared_ptr<const AudioFileInfoRecord> found = cache.Find(path, &epoch);
    // A failed open stands until the registry changes: a relinked or restored
    // file must then show its real data.
    if (found && (found->opened || found->registryGeneration == registryGeneration))
        return found->info;
    AudioFileInfoRecord record;
    record.opened = ReadAudioFileInfo(path, record.info);
    if (!record.opened) record.info = AudioFileInfo{};
    record.registryGeneration = registryGeneration;
    auto value = std::make_shared<const AudioFileInfoRecord>(record);
    if (found) {
        cache.Assign(path, value, epoch);
        return value->info;
    }
    return cache.Insert(path, value, epoch)->info;
}

AudioFileInfo GetAudioFileInfo(const std::string& path) {
    return GetAudioFileInfo(gAudioFileInfoCache, path,
                            FileRegistry::Instance().generation.load(std::memory_order_relaxed));
}

// ---- Waveform peaks -------------------------------------------------------

bool ReadWaveformPeaks(const std::string& path, WaveformPeaks& out) {
    SoundFile file(path);
    if (!file.IsUsable()) return false;
    const int64_t frames = file.Frames();
    const int rate = file.Rate();
    const int channels = file.Channels();
    if (frames <= 0) return false;
    const float duration = static_cast<float>(frames) / static_cast<float>(rate);
    if (!(duration > 0.0f)) return false;

    const int64_t buckets = std::clamp<int64_t>(static_cast<int64_t>(std::min(duration * 200.0f, 1e9f)),
                                                64, 16000);
    // Integer division: a remainder of fewer than `buckets` frames at the end
    // is not shown.
    const int64_t framesPerBucket = std::max<int64_t>(frames / buckets, 1);
    out.peaks.assign(static_cast<size_t>(buckets), 0.0f);
    out.rms.assign(static_cast<size_t>(buckets), 0.0f);
    out.duration = duration;
    out.sampleRate = rate;

    std::vector<float> buf(static_cast<size_t>(std::min(framesPerBucket, kReadBlock)) * channels);
    bool ended = false;
    for (int64_t i = 0; i < buckets && !ended; ++i) {
        const int64_t want = std::min(frames - i * framesPerBucket, framesPerBucket);
        if (want < 1) break;
        float peak = 0.0f;
        double sum = 0.0;
        int64_t read = 0;
        while (read < want) {
            int64_t got = file.Read(buf.data(), std::min(want - read, kReadBlock));
            if (got < 1) {
                ended = true;
                break;
            }
            const int64_t samples = got * channels;
            for (int64_t s = 0; s < samples; ++s) {
                const float v = buf[static_cast<size_t>(s)];
                peak = std::max(peak, std::fabs(v));
                sum += static_cast<double>(v) * v;
            }
            read += got;
        }
        if (read < 1) break;
        out.peaks[static_cast<size_t>(i)] = peak;
        out.rms[static_cast<size_t>(i)] =
            static_cast<float>(std::sqrt(sum / (static_cast<double>(read) * channels)));
    }
    return true;
}

std::shared_ptr<const WaveformPeaks> GetWaveformPeaks(const char* path, WaveformPeakCache& cache) {
    if (!path || !*path) return nullptr;
    uint64_t epoch = 0;
    if (auto found = cache.Find(path, &epoch)) return found;
    auto peaks = std::make_shared<WaveformPeaks>();
    if (!ReadWaveformPeaks(path, *peaks)) return nullptr;
    return cache.Insert(path, std::move(peaks), epoch);
}

std::shared_ptr<const WaveformPeaks> FindWaveformPeaks(std::string_view path,
                                                       const WaveformPeakCache& cache) {
    return cache.Find(path);
}

bool EraseWaveformPeaks(std::string_view path, WaveformPeakCache& cache) { return cache.Erase(path); }

void ClearWaveformPeakCache(WaveformPeakCache& cache) { cache.Clear(); }

// ---- Level curve ----------------------------------------------------------

bool ReadLevelCurve(const std::string& path, int pointsPerSecond, LevelCurve& out) {
    SoundFile file(path);
    if (!file.IsUsable()) return false;
    const int64_t frames = file.Frames();
    if (frames <= 0) return false;
    const int channels = file.Channels();
    const float seconds = static_cast<float>(frames) / static_cast<float>(file.Rate());
    const float wanted = seconds * static_cast<float>(pointsPerSecond);
    // Never more points than frames, nor than a day and more of sound needs:
    // a header claiming a tiny rate or a vast length must not size the arrays.
    const int64_t cap = std::min<int64_t>(frames, kMaxLevelCurvePoints);
    const int64_t points = std::clamp<int64_t>(wanted >= 1.0f ? static_cast<int64_t>(std::min(wanted, 1e15f)) : 0, 1, cap);

    std::vector<double> sums(static_cast<size_t>(points), 0.0);
    std::vector<int64_t> counts(static_cast<size_t>(points), 0);
    std::vector<float> buf(static_cast<size_t>(kReadBlock) * channels);
    const float invChannels = 1.0f / static_cast<float>(channels);
    StreamFrames(file, frames, kReadBlock, buf, channels, [&](const float* s, int64_t g) {
        float level = 0.0f;
        for (int c = 0; c < channels; ++c) level += std::fabs(s[c]);
        level *= invChannels;
        // 64-bit: points x g exceeds 32 bits for files of a minute or more.
        const int64_t p = std::min(points * g / frames, points - 1);
        sums[static_cast<size_t>(p)] += static_cast<double>(level) * level;
        ++counts[static_cast<size_t>(p)];
    });
    out.assign(static_cast<size_t>(points), 0.0f);
    for (size_t p = 0; p < out.size(); ++p)
        if (counts[p] > 0) out[p] = static_cast<float>(std::sqrt(sums[p] / static_cast<double>(counts[p])));
    return true;
}

LevelCurvePtr GetLevelCurve(const std::string& path, int pointsPerSecond, LevelCurveCache& cache) {
    uint64_t epoch = 0;
    if (auto found = cache.Find(path, &epoch)) return found;
    auto curve = std::make_shared<LevelCurve>();
    if (!ReadLevelCurve(path, pointsPerSecond, *curve)) return EmptyValue<LevelCurve>();
    return cache.Insert(path, std::move(curve), epoch);
}

// ---- Amplitude envelope ---------------------------------------------------

namespace {

constexpr int64_t kEnvelopeHop = 512;
constexpr int64_t kEnvelopeWindow = 1024;

// One pass over the block energies at threshold t: runs of blocks above t
// that last at least minBlocks become segments.
void FindSegments(const std::vector<float>& energy, float t, int64_t minBlocks, float blockTime,
                  float duration, SoundSegmentList& out) {
    const int64_t blocks = static_cast<int64_t>(energy.size());
    int64_t first = -1;
    float loudest = 0.0f;
    for (int64_t j = 0; j < blocks; ++j) {
        const float e = energy[static_cast<size_t>(j)];
        if (first < 0) {
            if (e > t) {
                first = j;
                loudest = e;
            }
        } else if (e <= t) {
            if (j - first >= minBlocks)
                out.push_back({static_cast<float>(first) * blockTime, static_cast<float>(j) * blockTime, loudest});
            first = -1;
        } else {
            loudest = std::max(loudest, e);
        }
    }
    if (first >= 0 && blocks - first >= minBlocks)
        out.push_back({static_cast<float>(first) * blockTime, duration, loudest});
}

}  // namespace

bool ReadAmplitudeEnvelope(const std::string& path, float duration, float minLength,
                           SoundSegmentList& out) {
    out.clear();
    SoundFile file(path);
    if (!file.IsUsable()) return false;
    const int64_t frames = file.Frames();
    if (frames <= 0) return false;
    const int channels = file.Channels();
    const int rate = file.Rate();

    // Stream the mono mix (mean of the channels) once, keeping only its peak
    // and the energy of each 512-sample half window. Normalising by the peak
    // afterwards scales every energy by 1 / peak^2, so the whole signal never
    // has to be held.
    std::vector<double> half;
    half.reserve(static_cast<size_t>(frames / kEnvelopeHop + 1));
    std::vector<float> buf(static_cast<size_t>(kReadBlock) * channels);
    const float invChannels = 1.0f / static_cast<float>(channels);
    float peak = 0.0f;
    // The samples actually delivered.
    const int64_t length = StreamFrames(file, frames, kReadBlock, buf, channels, [&](const float* s, int64_t at) {
        float mono = 0.0f;
        for (int c = 0; c < channels; ++c) mono += s[c];
        mono *= invChannels;
        peak = std::max(peak, std::fabs(mono));
        if (at % kEnvelopeHop == 0) half.push_back(0.0);
        half.back() += static_cast<double>(mono) * mono;
    });
    if (length == 0 || peak < 1e-8f) return true;  // silence: no segment

    // Windows of 1024 samples with a hop of 512: block j covers half windows j
    // and j + 1 (fewer samples only for a signal shorter than 1536).
    const int64_t blocks = std::max<int64_t>((length - kEnvelopeWindow) / kEnvelopeHop, 1);
    const double norm = 1.0 / (static_cast<double>(peak) * peak);
    std::vector<float> energy(static_cast<size_t>(blocks));
    float loudest = 0.0f;
    for (int64_t j = 0; j < blocks; ++j) {
        const int64_t count = std::min(length - kEnvelopeHop * j, kEnvelopeWindow);
        double sum = half[static_cast<size_t>(j)];
        if (static_cast<size_t>(j + 1) < half.size()) sum += half[static_cast<size_t>(j + 1)];
        const float e = static_cast<float>(sum * norm / static_cast<double>(count));
        energy[static_cast<size_t>(j)] = e;
        loudest = std::max(loudest, e);
    }
    half.clear();
    half.shrink_to_fit();

    const float blockTime = static_cast<float>(kEnvelopeHop) / static_cast<float>(rate);
    const float minBlocksF = minLength / blockTime;
    const int64_t minBlocks = std::max<int64_t>(minBlocksF >= 1.0f ? static_cast<int64_t>(std::min(minBlocksF, 1e15f)) : 0, 1);
    // Halve the threshold until something is found: quiet material still gets
    // segments. Once at its floor every further pass would repeat the last.
    float t = 1e-5f;
    for (int pass = 0; pass < 100; ++pass) {
        FindSegments(energy, t, minBlocks, blockTime, duration, out);
        if (!out.empty()) return true;
        if (t <= 1e-10f) break;
        t = std::max(t * 0.5f, 1e-10f);
    }
    out.push_back({0.0f, duration, loudest});
    return true;
}

SoundSegmentListPtr GetAmplitudeEnvelope(const std::string& path, float duration, float minLength,
                                         AmplitudeEnvelopeCache& cache) {
    uint64_t epoch = 0;
    if (auto found = cache.Find(path, &epoch)) return found;
    auto segments = std::make_shared<SoundSegmentList>();
    if (!ReadAmplitudeEnvelope(path, duration, minLength, *segments) || segments->empty())
        return EmptyValue<SoundSegmentList>();
    return cache.Insert(path, std::move(segments), epoch);
}

// ---- Clears ---------------------------------------------------------------

void ClearLevelCurveCache(LevelCurveCache& cache) { cache.Clear(); }

void ClearAmplitudeEnvelopeCache(AmplitudeEnvelopeCache& cache) { cache.Clear(); }

// ---- Brightness -----------------------------------------------------------

namespace {

float ClampBrightness(float b) { return std::isfinite(b) ? std::clamp(b, 0.0f, 1.0f) : 0.5f; }

}  // namespace

float GetFileBrightness(const std::string& path, const std::string& fileId,
                        const std::vector<LibraryIndex>* libraries, bool analyseIfMissing) {
    if (libraries) {
        for (const LibraryIndex& library : *libraries) {
            for (const LibraryEntry& entry : library.entries) {
                if ((!fileId.empty() && entry.fileId == fileId) || entry.path == path)
                    return ClampBrightness(entry.brightness);
            }
        }
    }
    if (!analyseIfMissing) return -1.0f;
    LibraryEntry entry;
    try {
        if (AnalyzeSoundFile(path, entry)) {
            // As a library's index keeps it, like the probe's weights.
            KeepIndexedPrecision(entry);
            return ClampBrightness(entry.brightness);
        }
    } catch (const std::exception& e) {
        std::printf("[Library] analysis of %s failed: %s\n", path.c_str(), e.what());
    }
    return 0.5f;
}

// ---- Clip overview --------------------------------------------------------

void BuildClipOverview(const float* left, const float* right, int64_t rightFrames, bool stereo,
                       int64_t frames, float* overviewPeak, float* overviewRms) {
    std::fill(overviewPeak, overviewPeak + kClipOverviewBins, 0.0f);
    std::fill(overviewRms, overviewRms + kClipOverviewBins, 0.0f);
    if (frames < 1 || !left) return;
    const bool useRight = stereo && right;
    const float step = static_cast<float>(frames) / static_cast<float>(kClipOverviewBins);
    for (int i = 0; i < kClipOverviewBins; ++i) {
        const int64_t a = static_cast<int64_t>(static_cast<float>(i) * step);
        const int64_t b = std::min(frames, static_cast<int64_t>(static_cast<float>(i + 1) * step));
        if (b <= a) continue;
        float peak = 0.0f;
        double sum = 0.0;
        for (int64_t f = a; f < b; ++f) {
            float v = std::fabs(left[f]);
            if (useRight && f < rightFrames) v = std::max(v, std::fabs(right[f]));
            peak = std::max(peak, v);
            sum += static_cast<double>(v) * v;
        }
        overviewPeak[i] = peak;
        overviewRms[i] = static_cast<float>(std::sqrt(sum / static_cast<double>(b - a)));
    }
}
