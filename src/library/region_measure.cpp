// region_measure.cpp — onsets, peaks and fade estimates of file regions.
//
// Index
//   RegionReader          open a file, place it at a region, read frames
//   ReadFadeEnvelope      5 ms RMS envelope of the fade routines (two-hop windows), streamed
//   FindPeakTime
//   FindOnsetTime
//   EstimateFadeInLength
//   EstimateFadeOutLength
//   CosineSimilarity
#include "library/region_measure.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "library/sound_file_open.h"

namespace {

// ---- Region reading -------------------------------------------------------

// One open file placed at the start of a region. All channels take part in
// every measurement: levels are taken over every sample of a frame.
class RegionReader {
public:
    explicit RegionReader(const std::string& path) {
        SF_INFO info{};
        file_ = OpenSoundFileForReading(path, &info);
        if (file_ && (info.samplerate <= 0 || info.channels <= 0)) Close();
        if (!file_) return;
        rate_ = info.samplerate;
        channels_ = info.channels;
        frames_ = info.frames;
    }
    ~RegionReader() { Close(); }
    RegionReader(const RegionReader&) = delete;
    RegionReader& operator=(const RegionReader&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    int Rate() const { return rate_; }
    int Channels() const { return channels_; }

    // Frames of a time in seconds, truncated in single precision.
    int64_t FramesOf(float seconds) const {
        float f = seconds * static_cast<float>(rate_);
        if (!(f > 0.0f)) return 0;
        if (f >= 9.0e18f) return INT64_MAX / 2;
        return static_cast<int64_t>(f);
    }

    // Places the file at trunc(start x rate) (clamped to the file) and returns
    // the number of frames of the region, min(frames - startFrame, wanted);
    // 0 or less means the region is empty. A failed seek counts as empty,
    // since reading from the wrong place would measure another region.
    int64_t Place(float start, int64_t wantedFrames) {
        return PlaceAt(StartFrameOf(start), wantedFrames);
    }
    int64_t PlaceAt(int64_t startFrame, int64_t wantedFrames) {
        int64_t n = RegionFrames(startFrame, wantedFrames);
        if (n <= 0) return 0;
        if (sf_seek(file_, startFrame, SEEK_SET) < 0) return 0;
        return n;
    }
    int64_t StartFrameOf(float start) const {
        return std::clamp<int64_t>(FramesOf(start), 0, std::max<int64_t>(frames_, 0));
    }
    // Frames of the region starting at startFrame (clamped), without seeking.
    int64_t RegionFrames(int64_t startFrame, int64_t wantedFrames) const {
        startFrame = std::clamp<int64_t>(startFrame, 0, std::max<int64_t>(frames_, 0));
        return std::min<int64_t>(frames_ - startFrame, wantedFrames);
    }

    // Reads up to `count` frames into buf (channels x count floats).
    int64_t Read(float* buf, int64_t count) {
        return ReadSoundFrames(file_, buf, count, channels_);
    }

    // Reads up to `count` frames, looping over short reads until the file
    // delivers nothing more.
    int64_t ReadAll(float* buf, int64_t count) {
        int64_t total = 0;
        while (total < count) {
            int64_t got = Read(buf + total * channels_, count - total);
            if (got < 1) break;
            total += got;
        }
        return total;
    }

    void Close() {
        if (file_) sf_close(file_);
        file_ = nullptr;
    }

private:
    SNDFILE* file_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    int64_t frames_ = 0;
};

// ---- Fade envelope --------------------------------------------------------

struct FadeEnvelope {
    std::vector<float> points;
    int hop = 1;
    float peak = 0.0f;      // largest point
    int64_t framesRead = 0;
};

// Reads the placed span of n frames and builds its envelope: hop = max(rate /
// 200, 1) frames; P = min(n / hop + 1, 2000) points; point i is the RMS over
// all channels of the frames [(i - 1) hop, (i + 1) hop) that were read (0 when
// none). Only the energy of each hop-sized chunk is kept, so the span streams
// through one block buffer instead of being held whole.
FadeEnvelope ReadFadeEnvelope(RegionReader& reader, int64_t n) {
    constexpr int64_t kBlock = 8192;
    const int channels = reader.Channels();
    FadeEnvelope env;
    env.hop = std::max(reader.Rate() / 200, 1);
    const int64_t hop = env.hop;
    const int64_t count = std::min<int64_t>(n / hop + 1, 2000);
    env.points.assign(static_cast<size_t>(std::max<int64_t>(count, 0)), 0.0f);
    // Frames past the last point's window do not count: read no further.
    const int64_t wanted = std::min(n, count * hop);
    std::vector<double> chunk(static_cast<size_t>(count), 0.0);
    std::vector<float> buf(static_cast<size_t>(std::min(kBlock, std::max<int64_t>(wanted, 1))) * channels);
    // Frame i belongs to chunk i / hop. The index is carried along instead
    // of divided out for every frame, and a chunk's energy is summed in a
    // local and stored when the chunk ends (the same additions in the same
    // order as adding into the chunk).
    size_t index = 0;
    int64_t left = hop;  // frames until the next chunk begins
    double energy = 0.0;
    const int64_t done = StreamFrames(reader, wanted, kBlock, buf, channels, [&](const float* s, int64_t) {
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) sum += static_cast<double>(s[c]) * s[c];
        energy += sum;
        if (--left == 0) {
            chunk[index++] = energy;
            energy = 0.0;
            left = hop;
        }
    });
    if (left < hop) chunk[index] = energy;
    env.framesRead = done;
    for (int64_t i = 0; i < count; ++i) {
        int64_t a = std::max<int64_t>((i - 1) * hop, 0);
        int64_t b = std::min<int64_t>((i + 1) * hop, done);
        if (b <= a) continue;
        double sum = chunk[static_cast<size_t>(i)] + (i > 0 ? chunk[static_cast<size_t>(i - 1)] : 0.0);
        float v = static_cast<float>(std::sqrt(sum / (static_cast<double>(b - a) * channels)));
        env.points[static_cast<size_t>(i)] = v;
        env.peak = std::max(env.peak, v);
    }
    return env;
}

// Largest absolute-sum frame over the placed region of n frames, streamed
// through one buffer of 8192 frames. Returns the frame index (from the region
// start) or -1 when no frame is louder than 0.
int64_t LoudestFrame(RegionReader& reader, int64_t n) {
    constexpr int64_t kBlock = 8192;
    const int channels = reader.Channels();
    std::vector<float> buf(static_cast<size_t>(kBlock) * channels);
    float best = 0.0f;
    int64_t bestIndex = -1;
    StreamFrames(reader, n, kBlock, buf, channels, [&](const float* s, int64_t at) {
        float level = 0.0f;
        for (int c = 0; c < channels; ++c) level += std::fabs(s[c]);
        if (level > best) {
            best = level;
            bestIndex = at;
        }
    });
    return bestIndex;
}

}  // namespace

// ---- Peak and onset -------------------------------------------------------

float FindPeakTime(const std::string& path, float start, float length) {
    RegionReader reader(path);
    if (!reader.IsOpen()) return 0.0f;
    int64_t n = reader.Place(start, reader.FramesOf(length));
    if (n <= 0) return 0.0f;
    int64_t index = LoudestFrame(reader, n);
    if (index < 0) return 0.0f;
    return static_cast<float>(index) / static_cast<float>(reader.Rate());
}

float FindOnsetTime(const std::string& path, float start, float length) {
    RegionReader reader(path);
    if (!reader.IsOpen()) return 0.0f;
    const int rate = reader.Rate();
    const int channels = reader.Channels();
    int64_t n = reader.Place(start, reader.FramesOf(length));
    if (n <= 0) return 0.0f;
    const int64_t window = std::max<int64_t>(rate / 500, 32);
    const int64_t windowCount = n / window;
    if (windowCount < 2) {
        reader.Close();
        return FindPeakTime(path, start, length);
    }

    // Windows are formed from large reads rather than one read per window:
    // the levels are the same, the number of library calls is not. A read
    // that comes back short (end of data) closes a partial window and ends
    // the walk, as a short read of a single window would.
    const int64_t windowsPerBlock = std::max<int64_t>(1, 16384 / window);
    std::vector<float> buf(static_cast<size_t>(windowsPerBlock * window) * channels);
    std::vector<float> levels;
    levels.reserve(static_cast<size_t>(std::min<int64_t>(windowCount, 1 << 20)));
    float loudest = 0.0f;
    int64_t windowsDone = 0;
    bool ended = false;
    while (windowsDone < windowCount && !ended) {
        int64_t want = std::min(windowsPerBlock, windowCount - windowsDone) * window;
        int64_t got = reader.ReadAll(buf.data(), want);
        if (got < want) ended = true;
        for (int64_t w0 = 0; w0 < got; w0 += window) {
            int64_t framesIn = std::min(window, got - w0);
            const float* s = buf.data() + w0 * channels;
            double sum = 0.0;
            for (int64_t i = 0; i < framesIn * channels; ++i) sum += static_cast<double>(s[i]) * s[i];
            float level = static_cast<float>(
                std::sqrt(sum / static_cast<double>(std::max<int64_t>(framesIn * channels, 1))));
            levels.push_back(level);
            loudest = std::max(loudest, level);
        }
        windowsDone += (got + window - 1) / window;
    }
    reader.Close();

    if (loudest < 1e-6f) return 0.0f;
    const float threshold = 0.2f * loudest;
    for (size_t i = 0; i < levels.size(); ++i) {
        if (levels[i] >= threshold)
            return static_cast<float>(static_cast<double>(i) * window / rate);
    }
    return FindPeakTime(path, start, length);
}

// ---- Fades ----------------------------------------------------------------

float EstimateFadeInLength(const std::string& path, float start, float length) {
    if (length <= 0.01f) return 0.005f;
    RegionReader reader(path);
    if (!reader.IsOpen()) return 0.02f;
    const int rate = reader.Rate();
    int64_t n = reader.Place(start, reader.FramesOf(std::min(2.0f, length)));
    if (n <= 0) return 0.02f;
    FadeEnvelope env = ReadFadeEnvelope(reader, n);
    reader.Close();
    if (env.framesRead < 1) return 0.02f;
    if (env.peak < 1e-6f) return 0.02f;

    const std::vector<float>& p = env.points;
    const size_t count = p.size();
    size_t i15 = 0;
    while (i15 < count && p[i15] < 0.15f * env.peak) ++i15;
    if (i15 == count) i15 = 0;
    size_t i80 = i15;
    while (i80 < count && p[i80] < 0.8f * env.peak) ++i80;
    if (i80 == count) i80 = i15;
    const float secondsPerPoint = static_cast<float>(env.hop) / static_cast<float>(rate);
    const float t0 = static_cast<float>(i15) * secondsPerPoint;
    const float rise = static_cast<float>(i80 - i15) * secondsPerPoint;

    float fade;
    if (t0 < 0.01f && rise < 0.03f) {
        // A sharp attack right at the start: keep only a click guard.
        fade = std::min(0.06f, std::max(0.7f * rise, 0.008f));
    } else {
        float x = 0.4f * rise + t0;
        fade = x < 0.03f ? 0.03f : std::min(std::max(0.45f * length, 0.03f), x);
    }
    return std::min(fade, 2.0f);
}

float EstimateFadeOutLength(const std::string& path, float regionStart, float regionLength,
                            float analyseFrom) {
    const float spanLength = regionLength - analyseFrom;
    if (!(spanLength >= 0.02f)) return 0.01f;
    RegionReader reader(path);
    if (!reader.IsOpen()) return 0.05f;
    const int rate = reader.Rate();
    const int64_t startFrame = reader.StartFrameOf(regionStart + analyseFrom);
    const int64_t frames = reader.FramesOf(spanLength);
    // Read only the last min(L, 10 s) of the span: the envelope covers 10 s at
    // most, and that must be the end of the span (where the fade happens), not
    // its beginning. For L <= 10 s this is the whole span.
    const int64_t n = reader.RegionFrames(startFrame, frames);
    if (n <= 0) return 0.05f;
    const int64_t tailFrames = std::min(n, reader.FramesOf(std::min(spanLength, 10.0f)));
    const int64_t skipped = n - tailFrames;
    if (reader.PlaceAt(startFrame + skipped, tailFrames) <= 0) return 0.05f;
    FadeEnvelope env = ReadFadeEnvelope(reader, tailFrames);
    reader.Close();
    if (env.framesRead < 1) return 0.05f;
    if (env.peak < 1e-6f) return 0.01f;

    const std::vector<float>& p = env.points;
    const int64_t count = static_cast<int64_t>(p.size());
    int64_t last = count - 1;
    while (last >= 0 && p[static_cast<size_t>(last)] < 0.1f * env.peak) --last;
    if (last < 0) last = count - 1;
    // Time spent below a tenth of the peak before the end of the span.
    const float tail = spanLength - static_cast<float>(static_cast<double>(skipped + (last + 1) * env.hop) / rate);
    const float endRatio = p[static_cast<size_t>(count - 1)] / env.peak;

    float fade;
    if (endRatio < 0.05f) fade = std::max(0.7f * tail + 0.02f, 0.025f);  // died away
    else if (endRatio < 0.2f) fade = std::max(0.5f * spanLength, 0.06f);
    else fade = std::max(0.7f * spanLength, 0.1f);  // still loud at the end
    return std::max(0.02f, std::min(3.0f, std::min(0.85f * spanLength, fade)));
}

// ---- Similarity -----------------------------------------------------------

float CosineSimilarity(const float* a, const float* b, int count) {
    if (count < 1 || !a || !b) return 0.0f;
    double dot = 0.0, aa = 0.0, bb = 0.0;
    for (int i = 0; i < count; ++i) {
        dot += static_cast<double>(a[i] * b[i]);
        aa += static_cast<double>(a[i] * a[i]);
        bb += static_cast<double>(b[i] * b[i]);
    }
    if (aa < 1e-8 || bb < 1e-8) return 0.0f;
    double sim = dot / (std::sqrt(aa) * std::sqrt(bb));
    if (!(sim > 0.0)) return 0.0f;
    return static_cast<float>(std::min(sim, 1.0));
}
