// aaf_source_reader.cpp — reading source regions for AAF essence files.
//
// Index
//   Region               RegionPlan: open, check, locate, seek
//   LinearStream         ResampleLinear's output, fed a block at a time
//   StreamAafSourceRegion  the region a block at a time, per channel, at the export rate
#include "export/aaf_source_reader.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "library/sound_file_open.h"
#include "render/clip_processing.h"

namespace {

// ---------------------------------------------------------------------------
// Region
// ---------------------------------------------------------------------------

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

private:
    SNDFILE* file_;
};

// Where a region lies in its file and what it becomes at the export rate.
struct RegionPlan {
    int64_t startFrame = 0;
    int64_t count = 0;  // frames of the file to read
    int32_t channels = 0;
    int32_t rate = 0;
    double leadIn = 0;  // seconds of the region before the clip's offset
};

// Output frames of `frames` file frames at `sampleRate`: what ResampleLinear
// makes of them (the frames themselves at the file's own rate).
int64_t OutputFrames(int64_t frames, int32_t fileRate, int32_t sampleRate) {
    if (fileRate == sampleRate) return frames;
    return int64_t(std::trunc(double(frames) * (double(sampleRate) / double(fileRate))));
}

int32_t HandleSamples(double leadIn, int32_t sampleRate, int64_t outFrames) {
    const double lead = std::trunc(double(sampleRate) * leadIn);
    return int32_t(std::clamp(lead, 0.0, double(std::min<int64_t>(outFrames, INT32_MAX))));
}

// ---------------------------------------------------------------------------
// LinearStream
// ---------------------------------------------------------------------------

// ResampleLinear(trunc(size x ratio), 1 / ratio, input) of one channel,
// with the input handed over a block at a time and the output given out as
// soon as it is certain: an output is made only once enough input follows
// it that neither the end clamp nor the output count can change it, and
// the rest when the input ends. Only the input from the next output's first
// frame on is kept.
class LinearStream {
public:
    LinearStream(int32_t fromRate, int32_t toRate)
        : ratio_(double(toRate) / double(fromRate)), step_(1.0 / ratio_),
          margin_(int64_t(std::ceil(step_)) + 2) {}

    // Appends input; adds every output now certain to `out`.
    void Feed(const float* in, int64_t n, std::vector<float>& out) {
        kept_.insert(kept_.end(), in, in + n);
        received_ += n;
        for (;;) {
            const double pos = double(next_) * step_;
            const int64_t p = int64_t(pos);
            if (p + margin_ >= received_) break;
            out.push_back(Value(pos, p, p + 1));
            ++next_;
        }
        Trim();
    }

    // The input has ended: the outputs left, up to trunc(input x ratio).
    void Finish(std::vector<float>& out) {
        const int64_t size = received_;
        const int64_t total = int64_t(std::trunc(double(size) * ratio_));
        for (; next_ < total && size > 0; ++next_) {
            double pos = double(next_) * step_;
            if (!(pos >= 0)) pos = 0;
            const int64_t p = pos >= double(size - 1) ? size - 1 : int64_t(pos);
            out.push_back(Value(pos, p, std::min(size - 1, p + 1)));
        }
    }

private:
    float Value(double pos, int64_t p, int64_t q) const {
        const float f = float(pos - double(p));
        return (1.0f - f) * kept_[size_t(p - base_)] + f * kept_[size_t(q - base_)];
    }
    void Trim() {
        const int64_t first = std::min<int64_t>(int64_t(double(next_) * step_), received_);
        if (first - base_ < 65536) return;  // drop in large pieces
        kept_.erase(kept_.begin(), kept_.begin() + (first - base_));
        base_ = first;
    }

    double ratio_, step_;
    int64_t margin_;
    std::vector<float> kept_;  // input from frame base_ on
    int64_t base_ = 0;
    int64_t received_ = 0;
    int64_t next_ = 0;  // the next output frame
};

}  // namespace

// ---------------------------------------------------------------------------
// StreamAafSourceRegion
// ---------------------------------------------------------------------------

bool StreamAafSourceRegion(const std::string& path, float offset, float duration, float handleBefore,
                           float handleAfter, int32_t sampleRate, AafChannelMode mode,
                           const std::function<bool(const AafRegionStart&)>& start,
                           const std::function<bool(const std::vector<const float*>&, int64_t)>& block,
                           AafRegionEnd& end) {
    if (sampleRate < 1 || !std::isfinite(offset) || !std::isfinite(duration)) return false;
    SF_INFO info{};
    SoundFileHandle file(OpenSoundFileForReading(path, &info));
    if (!file.get()) return false;
    const int64_t frames = int64_t(info.frames);
    RegionPlan r;
    r.rate = int32_t(info.samplerate);
    r.channels = int32_t(info.channels);
    if (frames < 1 || r.rate < 1 || r.channels < 1) return false;
    end.channelCount = r.channels;

    // A clip cannot start before its file does.
    const double clipStart = NonNegative(offset);
    const double regionStart = std::max(0.0, clipStart - NonNegative(handleBefore));
    const double fileSeconds = double(frames) / double(r.rate);
    const double regionEnd = std::min(clipStart + NonNegative(duration) + NonNegative(handleAfter), fileSeconds);
    r.startFrame = int64_t(std::trunc(double(r.rate) * regionStart));
    const int64_t endFrame = int64_t(std::trunc(regionEnd * double(r.rate)));
    r.count = std::min(frames, endFrame) - r.startFrame;
    if (r.count < 1) return false;
    r.leadIn = clipStart - regionStart;

    // What the essence writer would refuse is refused before anything is
    // read: more than an hour at the export rate.
    const int64_t expected = OutputFrames(r.count, r.rate, sampleRate);
    if (double(expected) > double(sampleRate) * 3600.0) return false;
    if (r.startFrame > 0 && sf_seek(file.get(), sf_count_t(r.startFrame), SEEK_SET) < 0) return false;

    const int outputs = mode == AafChannelMode::MonoMix ? 1 : mode == AafChannelMode::FirstTwo
                                                                  ? std::min(r.channels, 2)
                                                                  : r.channels;
    AafRegionStart told;
    told.channelCount = r.channels;
    told.outputChannels = outputs;
    told.frames = expected;
    told.handleSamples = HandleSamples(r.leadIn, sampleRate, expected);
    if (start && !start(told)) return false;

    // Read a block at a time: the memory is the block's, whatever the
    // region's length or the file's channel count.
    constexpr int64_t kBlockFrames = 65536;
    try {
        std::vector<float> interleaved(size_t(kBlockFrames) * size_t(r.channels));
        std::vector<std::vector<float>> split(static_cast<size_t>(outputs)), converted(static_cast<size_t>(outputs));
        std::vector<LinearStream> streams;
        if (r.rate != sampleRate)
            for (int c = 0; c < outputs; ++c) streams.emplace_back(r.rate, sampleRate);
        std::vector<const float*> pointers(static_cast<size_t>(outputs));
        int64_t delivered = 0;
        auto deliver = [&](std::vector<std::vector<float>>& channels) {
            const int64_t n = int64_t(channels[0].size());
            if (n < 1) return true;
            for (int c = 0; c < outputs; ++c) pointers[size_t(c)] = channels[size_t(c)].data();
            delivered += n;
            return block(pointers, n);
        };
        const size_t ch = size_t(r.channels);
        const float scale = 1.0f / float(r.channels);
        int64_t read = 0;
        while (read < r.count) {
            const int64_t want = std::min(kBlockFrames, r.count - read);
            const int64_t got = ReadSoundFrames(file.get(), interleaved.data(), want, r.channels);
            for (auto& s : split) s.resize(size_t(std::max<int64_t>(got, 0)));
            for (int64_t j = 0; j < got; ++j) {
                const float* frame = interleaved.data() + size_t(j) * ch;
                if (mode == AafChannelMode::MonoMix) {
                    float sum = 0;
                    for (size_t c = 0; c < ch; ++c) sum += frame[c];
                    split[0][size_t(j)] = sum * scale;
                } else {
                    for (int c = 0; c < outputs; ++c) split[size_t(c)][size_t(j)] = frame[c];
                }
            }
            read += std::max<int64_t>(got, 0);
            if (got > 0) {
                if (streams.empty()) {
                    if (!deliver(split)) return false;
                } else {
                    for (int c = 0; c < outputs; ++c) {
                        converted[size_t(c)].clear();
                        streams[size_t(c)].Feed(split[size_t(c)].data(), got, converted[size_t(c)]);
                    }
                    if (!deliver(converted)) return false;
                }
            }
            if (got < want) break;
        }
        if (read < 1) return false;
        if (!streams.empty()) {
            for (int c = 0; c < outputs; ++c) {
                converted[size_t(c)].clear();
                streams[size_t(c)].Finish(converted[size_t(c)]);
            }
            if (!deliver(converted)) return false;
        }
        end.frames = delivered;
        end.handleSamples = HandleSamples(r.leadIn, sampleRate, delivered);
        return delivered > 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
