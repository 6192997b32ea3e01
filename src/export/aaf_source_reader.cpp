// aaf_source_reader.cpp — reading source regions for AAF essence files.
//
// Index
//   SourceRegion / ReadInterleavedRegion   open, check, locate, seek, one read, close
//   ConvertToRate                          linear conversion to the export rate
//   ReadAafSourceRegion / ReadAafSourceRegionStereo / ReadAafSourceRegionChannels
#include "export/aaf_source_reader.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "library/sound_file_open.h"
#include "render/clip_processing.h"

namespace {

// ---------------------------------------------------------------------------
// SourceRegion / ReadInterleavedRegion
// ---------------------------------------------------------------------------

struct SourceRegion {
    std::vector<float> interleaved;
    int64_t frames = 0;  // frames read
    int32_t channels = 0;
    int32_t rate = 0;
    double leadIn = 0;  // seconds of the region before the clip's offset
};

// A value the arithmetic can trust: non-finite and negative become 0.
double NonNegative(float v) { return std::isfinite(v) && v > 0 ? double(v) : 0.0; }

class SoundFileHandle {
public:
    explicit SoundFileHandle(SNDFILE* file) : file_(file) {}
    ~SoundFileHandle() {
        if (file_) sf_close(file_);
    }
    SoundFileHandle(const SoundFileHandle&) = delete;
    SoundFileHandle& operator=(const SoundFileHandle&) = delete;
    SNDFILE* get() const { return file_; }
    void Close() {
        if (file_) sf_close(file_);
        file_ = nullptr;
    }

private:
    SNDFILE* file_;
};

// `onHeader` runs with the channel count once the header has passed its
// checks (the stereo and channel readers report it even when the read fails
// later).
template <typename OnHeader>
bool ReadInterleavedRegion(const std::string& path, float offset, float duration, float handleBefore,
                           float handleAfter, int32_t sampleRate, SourceRegion& region, OnHeader onHeader) {
    if (sampleRate < 1 || !std::isfinite(offset) || !std::isfinite(duration)) return false;
    SF_INFO info{};
    SoundFileHandle file(OpenSoundFileForReading(path, &info));
    if (!file.get()) return false;
    const int64_t frames = int64_t(info.frames);
    const int32_t rate = int32_t(info.samplerate);
    const int32_t channels = int32_t(info.channels);
    if (frames < 1 || rate < 1 || channels < 1) return false;
    onHeader(channels);

    // A clip cannot start before its file does.
    const double clipStart = NonNegative(offset);
    const double regionStart = std::max(0.0, clipStart - NonNegative(handleBefore));
    const double fileSeconds = double(frames) / double(rate);
    const double regionEnd = std::min(clipStart + NonNegative(duration) + NonNegative(handleAfter), fileSeconds);
    const int64_t startFrame = int64_t(std::trunc(double(rate) * regionStart));
    const int64_t endFrame = int64_t(std::trunc(regionEnd * double(rate)));
    const int64_t count = std::min(frames, endFrame) - startFrame;
    if (count < 1) return false;

    // What the essence writer would refuse is refused before any memory is
    // taken: a long multichannel source would otherwise fill it.
    const double outFrames = rate == sampleRate ? double(count) : std::trunc(double(count) * sampleRate / rate);
    if (outFrames > double(sampleRate) * 3600.0) return false;

    if (startFrame > 0 && sf_seek(file.get(), sf_count_t(startFrame), SEEK_SET) < 0) return false;
    // Read block by block: the memory grows with the samples the file
    // delivers, not with the length its header claims.
    constexpr int64_t kBlockFrames = 65536;
    int64_t read = 0;
    try {
        region.interleaved.clear();
        while (read < count) {
            const int64_t want = std::min(kBlockFrames, count - read);
            region.interleaved.resize(size_t(read + want) * size_t(channels));
            const int64_t got = ReadSoundFrames(file.get(), region.interleaved.data() + size_t(read) * size_t(channels),
                                                want, channels);
            read += got;
            if (got < want) break;
        }
        region.interleaved.resize(size_t(read) * size_t(channels));
    } catch (const std::bad_alloc&) {
        return false;
    }
    file.Close();
    if (read < 1) return false;
    region.frames = read;
    region.channels = channels;
    region.rate = rate;
    region.leadIn = clipStart - regionStart;
    return true;
}

// ---------------------------------------------------------------------------
// ConvertToRate
// ---------------------------------------------------------------------------

void ConvertToRate(std::vector<float>& buffer, int32_t fromRate, int32_t toRate) {
    if (fromRate == toRate || buffer.empty()) return;
    const double ratio = double(toRate) / double(fromRate);
    const double length = std::trunc(double(buffer.size()) * ratio);  // at most an hour: checked before reading
    ResampleLinear(int(length), 1.0 / ratio, buffer);
}

int32_t HandleSamples(const SourceRegion& region, int32_t sampleRate, size_t outFrames) {
    const double lead = std::trunc(double(sampleRate) * region.leadIn);
    return int32_t(std::clamp(lead, 0.0, double(outFrames)));
}

}  // namespace

// ---------------------------------------------------------------------------
// The three readers
// ---------------------------------------------------------------------------

bool ReadAafSourceRegion(const std::string& path, float offset, float duration, float handleBefore,
                         float handleAfter, int32_t sampleRate, std::vector<float>& out, int32_t& handleSamples) {
    SourceRegion region;
    if (!ReadInterleavedRegion(path, offset, duration, handleBefore, handleAfter, sampleRate, region, [](int32_t) {}))
        return false;
    try {
        out.assign(size_t(region.frames), 0.0f);
        const size_t ch = size_t(region.channels);
        const float scale = 1.0f / float(region.channels);
        for (size_t j = 0; j < out.size(); ++j) {
            float sum = 0;
            for (size_t c = 0; c < ch; ++c) sum += region.interleaved[j * ch + c];
            out[j] = sum * scale;
        }
        region.interleaved = {};
        ConvertToRate(out, region.rate, sampleRate);
    } catch (const std::bad_alloc&) {
        return false;
    }
    handleSamples = HandleSamples(region, sampleRate, out.size());
    return !out.empty();
}

bool ReadAafSourceRegionStereo(const std::string& path, float offset, float duration, float handleBefore,
                               float handleAfter, int32_t sampleRate, std::vector<float>& left,
                               std::vector<float>& right, int32_t& handleSamples, bool& isStereo) {
    SourceRegion region;
    if (!ReadInterleavedRegion(path, offset, duration, handleBefore, handleAfter, sampleRate, region,
                               [&](int32_t channels) { isStereo = channels >= 2; }))
        return false;
    try {
        const size_t ch = size_t(region.channels);
        const size_t n = size_t(region.frames);
        left.assign(n, 0.0f);
        right.clear();
        if (ch >= 2) {
            right.assign(n, 0.0f);
            for (size_t j = 0; j < n; ++j) {
                left[j] = region.interleaved[j * ch];
                right[j] = region.interleaved[j * ch + 1];
            }
        } else {
            std::copy_n(region.interleaved.begin(), n, left.begin());
        }
        region.interleaved = {};
        ConvertToRate(left, region.rate, sampleRate);
        if (ch >= 2) ConvertToRate(right, region.rate, sampleRate);
    } catch (const std::bad_alloc&) {
        return false;
    }
    handleSamples = HandleSamples(region, sampleRate, left.size());
    return !left.empty();
}

bool ReadAafSourceRegionChannels(const std::string& path, float offset, float duration, float handleBefore,
                                 float handleAfter, int32_t sampleRate, std::vector<std::vector<float>>& channels,
                                 int32_t& handleSamples, int32_t& channelCount) {
    SourceRegion region;
    if (!ReadInterleavedRegion(path, offset, duration, handleBefore, handleAfter, sampleRate, region,
                               [&](int32_t count) { channelCount = count; }))
        return false;
    try {
        const size_t ch = size_t(region.channels);
        const size_t n = size_t(region.frames);
        channels.resize(ch);
        for (size_t c = 0; c < ch; ++c) {
            std::vector<float>& buffer = channels[c];
            buffer.resize(n);
            for (size_t j = 0; j < n; ++j) buffer[j] = region.interleaved[j * ch + c];
        }
        region.interleaved = {};
        for (std::vector<float>& buffer : channels) ConvertToRate(buffer, region.rate, sampleRate);
    } catch (const std::bad_alloc&) {
        return false;
    }
    handleSamples = HandleSamples(region, sampleRate, channels.empty() ? 0 : channels[0].size());
    return !channels.empty() && !channels[0].empty();
}
