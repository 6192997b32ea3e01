// audio_stream_callback.cpp — the stream's callback: engine audio pulled in
// planar blocks and written interleaved, resampled when the device runs at
// another rate.
//
// Index
//   PrepareStreamBuffers   buffers sized for the largest pull; resampler reset
//   RenderDirect           equal rates: one pull, interleaved
//   RenderResampled        Catmull-Rom from the engine rate to the device rate
//   CallbackWatch          what each callback cost, how the thread fared around it, and the
//                          output gaps its start shows
//   AudioStreamCallback
//
// The resampler keeps the engine frames it pulled but has not read past yet
// (and one frame of history before the read position) for the next call.
// The engine therefore advances by exactly ratio x device frames over any
// stretch of blocks, so playback stays locked to the picture and the signal
// runs on across block edges without a jump.
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "playback/audio_output.h"

// ---------------------------------------------------------------------------
// PrepareStreamBuffers
// ---------------------------------------------------------------------------

void PrepareStreamBuffers(AudioOutput& o, int32_t engineRate, int32_t deviceRate, uint32_t periodFrames,
                          OutputGapSource gaps) {
    o.buffersReady.store(0, std::memory_order_relaxed);
    o.gapSource.store(gaps);
    o.clockWatch = OutputClockWatch{};
    o.gapWhilePlaying = false;
    const bool valid = engineRate > 0 && deviceRate > 0;
    o.ratio = valid ? double(engineRate) / double(deviceRate) : 1.0;
    o.maxChunkFrames = std::max<int32_t>(int32_t(periodFrames), kOutputPeriodFrames);
    // One pass reads at most up to phase + chunk x ratio + 2 (< 2 + that + 2)
    // and keeps a frame past its end; a little extra covers rounding.
    const size_t capacity = engineRate == deviceRate
                                ? size_t(o.maxChunkFrames)
                                : size_t(std::ceil(o.maxChunkFrames * o.ratio)) + 8;
    o.bufferL.assign(capacity, 0.0f);
    o.bufferR.assign(capacity, 0.0f);
    // The stream starts from silence: frame 0 is the history before the first
    // engine frame, which plays at the first device frame.
    o.bufferedFrames = 1;
    o.phase = 1.0;
    o.lastCallbackEnd = 0;
    o.longestCallbackMicros.store(0);
    o.longestCallbackCpuMicros.store(0);
    o.longestCallbackGapMicros.store(0);
    o.callbacksBlocked.store(0);
    o.callbacksPreempted.store(0);
    o.realtimeThread.store(0);
    o.buffersReady.store(1, std::memory_order_release);
}

namespace {

// ---------------------------------------------------------------------------
// RenderDirect
// ---------------------------------------------------------------------------

void RenderDirect(AudioOutput& o, float* out, int32_t frames) {
    float* l = o.bufferL.data();
    float* r = o.bufferR.data();
    o.render(l, r, frames);
    for (int32_t i = 0; i < frames; ++i) {
        out[2 * i] = l[i];
        out[2 * i + 1] = r[i];
    }
}

// ---------------------------------------------------------------------------
// RenderResampled
// ---------------------------------------------------------------------------

inline float CatmullRom(const float* s, int32_t k, float f) {
    const float p0 = s[k - 1], p1 = s[k], p2 = s[k + 1], p3 = s[k + 2];
    return p1 + 0.5f * f * ((p2 - p0) + f * (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3 + f * (3.0f * (p1 - p2) + p3 - p0)));
}

void RenderResampled(AudioOutput& o, float* out, int32_t frames) {
    float* l = o.bufferL.data();
    float* r = o.bufferR.data();
    const double x0 = o.phase;
    const double ratio = o.ratio;
    const double xEnd = x0 + frames * ratio;
    // Frames needed: the last read uses k + 2, and the frame before the next
    // read position stays as history.
    const int32_t lastK = int32_t(x0 + (frames - 1) * ratio);
    const int32_t need = std::max(lastK + 3, int32_t(xEnd) + 1);
    if (need > o.bufferedFrames) {
        o.render(l + o.bufferedFrames, r + o.bufferedFrames, need - o.bufferedFrames);
        o.bufferedFrames = need;
    }
    for (int32_t i = 0; i < frames; ++i) {
        const double x = x0 + i * ratio;  // from the block's start: no error builds up
        const int32_t k = int32_t(x);
        const float f = float(x - k);
        out[2 * i] = CatmullRom(l, k, f);
        out[2 * i + 1] = CatmullRom(r, k, f);
    }
    // Keep the frame before the next read position and everything after it.
    const int32_t drop = int32_t(xEnd) - 1;
    const int32_t keep = o.bufferedFrames - drop;
    std::memmove(l, l + drop, size_t(keep) * sizeof(float));
    std::memmove(r, r + drop, size_t(keep) * sizeof(float));
    o.bufferedFrames = keep;
    o.phase = xEnd - drop;
}

// ---------------------------------------------------------------------------
// CallbackWatch
// ---------------------------------------------------------------------------

int64_t SteadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t ThreadCpuMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

void RaiseTo(std::atomic<int64_t>& most, int64_t value) {
    if (value > most.load(std::memory_order_relaxed)) most.store(value, std::memory_order_relaxed);
}

// Around one callback: no lock, no allocation; a few clock reads and two
// getrusage calls (microseconds in a period of milliseconds). Only the
// stream's thread writes the figures.
class CallbackWatch {
public:
    CallbackWatch(AudioOutput& o, unsigned int frames, unsigned int status)
        : o_(o), wall_(SteadyMicros()), cpu_(ThreadCpuMicros()) {
        getrusage(RUSAGE_THREAD, &usage_);
        CountGaps(frames, status);
        if (o_.lastCallbackEnd > 0) {
            const int64_t wait = wall_ - o_.lastCallbackEnd;
            RaiseTo(o_.longestCallbackGapMicros, wait);
        } else {
            // The stream's first callback: how its thread is scheduled.
            int policy = 0;
            sched_param param{};
            if (pthread_getschedparam(pthread_self(), &policy, &param) == 0)
                o_.realtimeThread.store(policy == SCHED_RR || policy == SCHED_FIFO ? 1 : 0);
        }
    }
    ~CallbackWatch() {
        const int64_t end = SteadyMicros();
        RaiseTo(o_.longestCallbackMicros, end - wall_);
        RaiseTo(o_.longestCallbackCpuMicros, ThreadCpuMicros() - cpu_);
        rusage after{};
        getrusage(RUSAGE_THREAD, &after);
        if (after.ru_nvcsw > usage_.ru_nvcsw) o_.callbacksBlocked.fetch_add(1, std::memory_order_relaxed);
        if (after.ru_nivcsw > usage_.ru_nivcsw) o_.callbacksPreempted.fetch_add(1, std::memory_order_relaxed);
        o_.lastCallbackEnd = end;
    }
    CallbackWatch(const CallbackWatch&) = delete;
    CallbackWatch& operator=(const CallbackWatch&) = delete;

private:
    // A silence is playback's when the transport played at any callback
    // from the one that showed it to the one that measured it.
    void CountGaps(unsigned int frames, unsigned int status) {
        const auto relaxed = std::memory_order_relaxed;
        const bool playing = o_.playingFlag && o_.playingFlag->load(relaxed) != 0;
        switch (o_.gapSource.load(relaxed)) {
        case OutputGapSource::Flags:
            if (status == 0) break;
            if (playing) {
                o_.outputGaps.fetch_add(1, relaxed);
                o_.lateCallbacks.fetch_add(1, relaxed);
            } else {
                o_.stoppedOutputGaps.fetch_add(1, relaxed);
            }
            break;
        case OutputGapSource::Clock: {
            o_.gapWhilePlaying = o_.gapWhilePlaying || playing;
            const OutputGapStep step =
                WatchOutputClock(o_.clockWatch, wall_, frames, o_.deviceRate.load(relaxed));
            if (step.gaps > 0 && o_.gapWhilePlaying) {
                o_.outputGaps.fetch_add(uint64_t(step.gaps), relaxed);
                o_.outputGapFrames.fetch_add(uint64_t(step.gapFrames), relaxed);
                o_.lateCallbacks.fetch_add(step.lateCallbacks, relaxed);
            } else if (step.gaps > 0) {
                o_.stoppedOutputGaps.fetch_add(uint64_t(step.gaps), relaxed);
            }
            if (!o_.clockWatch.dropping) o_.gapWhilePlaying = playing;
            break;
        }
        case OutputGapSource::NoGaps:
            break;
        }
    }

    AudioOutput& o_;
    int64_t wall_, cpu_;
    rusage usage_{};
};

}  // namespace

// ---------------------------------------------------------------------------
// AudioStreamCallback
// ---------------------------------------------------------------------------

int AudioStreamCallback(void* outputBuffer, void*, unsigned int frames, double, unsigned int status,
                        void* userData) {
    auto* out = static_cast<float*>(outputBuffer);
    if (!out || !userData) return 0;
    AudioOutput& o = *static_cast<AudioOutput*>(userData);
    o.callbackCount.fetch_add(1, std::memory_order_relaxed);
    if (status != 0) o.underruns.fetch_add(1, std::memory_order_relaxed);
    if (!o.buffersReady.load(std::memory_order_acquire) || !o.render || o.maxChunkFrames < 1) {
        std::fill(out, out + size_t(frames) * 2, 0.0f);
        return 0;
    }
    const CallbackWatch watch(o, frames, status);
    const bool equalRates = o.engineRate.load(std::memory_order_relaxed) ==
                            o.deviceRate.load(std::memory_order_relaxed);
    // A period longer than the buffers were sized for goes in several passes.
    for (uint32_t done = 0; done < frames;) {
        const int32_t n = int32_t(std::min<uint32_t>(frames - done, uint32_t(o.maxChunkFrames)));
        if (equalRates) {
            RenderDirect(o, out + size_t(done) * 2, n);
        } else {
            RenderResampled(o, out + size_t(done) * 2, n);
        }
        done += uint32_t(n);
    }
    return 0;
}
