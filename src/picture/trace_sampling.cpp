// trace_sampling.cpp — samplers of the picture trace.
//
// Index
//   FrameIndexAt            a fractional frame position -> a safe index
//   SampleMember            interpolated reading of one TraceFrame field
//   Sample* accessors
//   SampleTraceCurve
#include "picture/trace_sampling.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "document/project.h"
#include "picture/trace_records.h"

namespace {

// Whole frame index at or below `x`, inside [0, n - 1]. Positions that are not
// numbers land on the first frame; the clamping happens in double so that no
// out-of-range value is ever converted to an integer.
size_t FrameIndexAt(double x, size_t n) {
    if (!(x > 0)) return 0;
    const double last = static_cast<double>(n - 1);
    if (x >= last) return n - 1;
    return static_cast<size_t>(x);
}

bool SamplingRateUsable(const OpticalTrace& trace, size_t frameCount) {
    return frameCount > 0 && frameCount <= trace.frames.size() && trace.fps > 0 && std::isfinite(trace.fps);
}

float SampleMember(const OpticalTrace& trace, float t, float TraceFrame::*field) {
    return SampleTraceMember(trace, trace.frames.size(), t, field);
}

}  // namespace

size_t TraceReadableFrames(const OpticalTrace& trace) {
    return trace.present.load(std::memory_order_acquire) ? trace.frames.size() : 0;
}

float SampleTraceMember(const OpticalTrace& trace, size_t frameCount, float t, float TraceFrame::*field) {
    if (!SamplingRateUsable(trace, frameCount)) return 0;
    const std::vector<TraceFrame>& frames = trace.frames;
    const size_t n = frameCount;
    const double x = static_cast<double>(trace.fps) * static_cast<double>(t);
    if (std::isnan(x)) return 0;
    // Before the first frame there is nothing to lean towards: the first
    // value holds (a negative fraction would extrapolate).
    if (x <= 0) return frames[0].*field;
    const size_t j = FrameIndexAt(x, n);
    if (j + 1 >= n) return frames[n - 1].*field;
    const float v0 = frames[j].*field;
    const float v1 = frames[j + 1].*field;
    return v0 + (v1 - v0) * static_cast<float>(x - static_cast<double>(j));
}

float SampleTraceComposite(const OpticalTrace& trace, float t) {
    return SampleMember(trace, t, &TraceFrame::composite);
}

float SampleTraceSeries(const OpticalTrace& trace, float t) {
    return SampleMember(trace, t, &TraceFrame::threshold);
}

float SampleOpticalField(const OpticalTrace& trace, float t, int mode) {
    switch (mode) {
        case 0: return SampleMember(trace, t, &TraceFrame::luma);
        case 1: return SampleMember(trace, t, &TraceFrame::motion);
        case 2: return SampleMember(trace, t, &TraceFrame::composite);
        case 3: return SampleMember(trace, t, &TraceFrame::threshold);
        case 4: return SampleMember(trace, t, &TraceFrame::motionSmooth);
        default: return 0;
    }
}

float SampleTraceFeature(const OpticalTrace& trace, float t) { return SampleOpticalField(trace, t, 0); }

void SampleTraceCurve(const OpticalTrace& trace, float t0, float t1, float* out, int count) {
    if (!out || count <= 0) return;
    const std::vector<TraceFrame>& frames = trace.frames;
    const size_t n = frames.size();
    // A trace loaded from a project may carry equal or broken times; fall back
    // to the sampling rate, and to a flat curve when that is unusable too.
    double period = n >= 2 ? static_cast<double>(frames[1].time) - static_cast<double>(frames[0].time) : 0;
    if (!(period > 0) || !std::isfinite(period)) {
        period = (n >= 2 && trace.fps > 0 && std::isfinite(trace.fps)) ? 1.0 / trace.fps : 0;
    }
    if (n < 2 || !(period > 0)) {
        std::fill(out, out + count, 1.0f);
        return;
    }
    double span = static_cast<double>(t1) - static_cast<double>(t0);
    if (!(span > 0.001)) span = 0.001;  // also catches a span that is not a number
    const double steps = count > 1 ? static_cast<double>(count - 1) : 1.0;
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(t0) + static_cast<double>(i) / steps * span;
        out[i] = frames[FrameIndexAt(t / period, n)].composite;
    }
}

