// trace_scan.cpp — the walk over the video and the per-picture measurements.
//
// Index
//   ScanVideoFrames       one forward decode; the output size; which picture serves which sample
//   AnalyzeTraceFrame     sums and histograms, warmth, histogram change, motion
#include "picture/trace_scan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "picture/trace_records.h"
#include "picture/video_decoder.h"

namespace {

// A picture exactly half a frame before a sample reaches it; the slack keeps
// that tie from depending on the last bit of the time arithmetic.
constexpr double kSampleTimeSlack = 1e-6;

}  // namespace

// ---------------------------------------------------------------------------
// ScanVideoFrames
// ---------------------------------------------------------------------------

int32_t ScanVideoFrames(const TraceVideoSource& source, int32_t maxWidth, TraceFrameFn frameCallback,
                        double samplesPerSecond, TraceProgressFn progressCallback, void* context) {
    if (!frameCallback || source.path.empty()) return 0;
    const double rate = samplesPerSecond > 1 ? samplesPerSecond : 1.0;
    const double samples = source.duration * rate;
    if (!(samples >= 1)) return 0;
    const int32_t count = samples >= double(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(samples);

    VideoDecoder decoder;
    if (!OpenVideoFFmpeg(decoder, source.path)) return 0;
    int32_t width = decoder.width, height = decoder.height;
    if (maxWidth > 0 && maxWidth < width) {
        height = std::max(1, static_cast<int32_t>(double(height) / double(width) * double(maxWidth)));
        width = maxWidth;
    }
    std::vector<uint8_t> rgba(size_t(width) * size_t(height) * 4);
    const double tolerance = decoder.fps > 0 ? 0.5 / decoder.fps : 0.02;

    int32_t i = 0;
    double t = 0;
    while (i < count && ReceiveVideoFrameFFmpeg(decoder, &t)) {
        const auto reaches = [&](int32_t sample) { return t + tolerance + kSampleTimeSlack >= double(sample) / rate; };
        if (!reaches(i)) continue;  // between samples: never converted
        if (!ConvertVideoFrameFFmpeg(decoder, decoder.frame, width, height, rgba.data())) {
            std::printf("[Video] picture trace: cannot convert the picture at %.3fs (%s)\n", t, source.path.c_str());
            std::fflush(stdout);
            break;
        }
        for (; i < count && reaches(i); ++i)
            frameCallback(i, static_cast<float>(double(i) / rate), rgba.data(), width, height, context);
        if (progressCallback && progressCallback(float(i) / float(count), context) < 0) break;
    }
    CloseVideoFFmpeg(decoder);
    return i;
}

// ---------------------------------------------------------------------------
// AnalyzeTraceFrame
// ---------------------------------------------------------------------------

namespace {

struct ByteTables {
    std::array<float, 256> unit{};    // byte / 255
    std::array<uint8_t, 256> bin{};   // min(trunc(8 x byte / 255), 7)
    ByteTables() {
        for (int b = 0; b < 256; ++b) {
            unit[b] = float(b) / 255.0f;
            bin[b] = uint8_t(std::min(int(8.0f * unit[b]), 7));
        }
    }
};

const ByteTables& Tables() {
    static const ByteTables tables;
    return tables;
}

float Luma709(float r, float g, float b) { return 0.2126f * r + 0.7152f * g + 0.0722f * b; }

// Mean over every fourth pixel of the change in log luma plus the change in
// the two colour differences against green, divided by 3.
float MotionAgainst(const uint8_t* cur, const uint8_t* prev, int64_t pixels) {
    const ByteTables& u = Tables();
    double sum = 0;
    int64_t m = 0;
    for (int64_t p = 0; p < pixels; p += 4, ++m) {
        const uint8_t* a = cur + p * 4;
        const uint8_t* b = prev + p * 4;
        const float r = u.unit[a[0]], g = u.unit[a[1]], bl = u.unit[a[2]];
        const float r0 = u.unit[b[0]], g0 = u.unit[b[1]], bl0 = u.unit[b[2]];
        const double dl = std::fabs(std::log(double(Luma709(r, g, bl)) + 0.01) - std::log(double(Luma709(r0, g0, bl0)) + 0.01));
        const float dg = g - g0;
        sum += dl + 0.3 * (std::fabs((r - r0) - dg) + std::fabs((bl - bl0) - dg));
    }
    return m > 0 ? static_cast<float>(sum / (3.0 * double(m))) : 0.0f;
}

}  // namespace

void AnalyzeTraceFrame(OpticalTrace& trace, int32_t index, float time, const uint8_t* rgba, int32_t width,
                       int32_t height) {
    if (index < 0 || size_t(index) >= trace.frames.size()) return;
    TraceFrame& frame = trace.frames[size_t(index)];
    frame = TraceFrame{};
    frame.time = time;
    const int64_t n = (rgba && width > 0 && height > 0) ? int64_t(width) * int64_t(height) : 0;
    if (n >= 1) {
        const ByteTables& u = Tables();
        double sumR = 0, sumG = 0, sumB = 0, sumLuma = 0, sumSat = 0;
        int64_t histogram[24] = {};
        for (int64_t p = 0; p < n; ++p) {
            const uint8_t* px = rgba + p * 4;
            const float r = u.unit[px[0]], g = u.unit[px[1]], b = u.unit[px[2]];
            sumR += r;
            sumG += g;
            sumB += b;
            sumLuma += Luma709(r, g, b);
            const float hi = std::max({r, g, b}), lo = std::min({r, g, b});
            if (hi > 0.001f) sumSat += (hi - lo) / hi;
            ++histogram[u.bin[px[0]]];
            ++histogram[8 + u.bin[px[1]]];
            ++histogram[16 + u.bin[px[2]]];
        }
        const double count = double(n);
        frame.luma = float(sumLuma / count);
        frame.saturation = float(sumSat / count);
        const double meanR = sumR / count, meanG = sumG / count, meanB = sumB / count;
        frame.warmth = float(std::clamp((meanR - meanB) / std::max(0.5 * meanG + 0.3, 0.01), -1.0, 1.0));

        float features[24];
        for (int k = 0; k < 24; ++k) features[k] = float(double(histogram[k]) / count);
        const bool havePrevious = !trace.prevPixels.empty();
        if (havePrevious) {
            double change = 0;
            for (int k = 0; k < 24; ++k) change += std::fabs(features[k] - trace.prevFeatures[k]);
            frame.histDelta = float(change / 6.0);
        }
        if (havePrevious && trace.prevWidth == width && trace.prevHeight == height &&
            trace.prevPixels.size() == size_t(n) * 4) {
            frame.motion = MotionAgainst(rgba, trace.prevPixels.data(), n);
        }
        if (index > 0) frame.lumaDelta = frame.luma - trace.frames[size_t(index) - 1].luma;

        std::copy(features, features + 24, trace.prevFeatures);
        trace.prevPixels.assign(rgba, rgba + n * 4);
        trace.prevWidth = width;
        trace.prevHeight = height;
    }
    trace.analysedCount.store(index + 1, std::memory_order_release);
}
