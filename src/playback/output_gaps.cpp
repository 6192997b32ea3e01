// output_gaps.cpp — the stream's clock against the frames delivered.
//
// Index
//   Tolerances
//   WatchOutputClock   the level and the queue kept, a fall followed until it settles, the gap
//                      measured
#include "playback/output_gaps.h"

#include <algorithm>

namespace {

// ---------------------------------------------------------------------------
// Tolerances
// ---------------------------------------------------------------------------

// A fall worth following, and the least a gap must last to count: half a
// period. A thread woken a little late measures the level a little low, by
// far less than that on any machine that plays at all.
constexpr double kDropShare = 0.5;
// The queue has refilled once no value has risen past the best before it by
// a quarter period for this many callbacks in a row (while it refills, each
// callback raises it by nearly a whole period).
constexpr double kRiseShare = 0.25;
constexpr int32_t kSteadyCallbacks = 12;
// The level is the highest value of the current bucket and the one before.
constexpr int64_t kBucketMicros = 1000000;

}  // namespace

// ---------------------------------------------------------------------------
// WatchOutputClock
// ---------------------------------------------------------------------------

OutputGapStep WatchOutputClock(OutputClockWatch& w, int64_t startMicros, uint32_t frames, int32_t rate) {
    OutputGapStep step;
    if (rate < 1 || frames == 0) return step;
    if (!w.started) {
        w = OutputClockWatch{};
        w.started = true;
        w.originMicros = w.bucketStartMicros = w.lastMicros = startMicros;
        w.periodFrames = frames;
        w.delivered = frames;
        return step;
    }
    w.periodFrames = std::max(w.periodFrames, frames);
    const double period = double(w.periodFrames);
    const double perMicro = double(rate) / 1.0e6;
    const double value = double(w.delivered) - double(startMicros - w.originMicros) * perMicro;
    w.delivered += frames;
    const bool rising = value > w.lastValue + kRiseShare * period;
    // The first callback that finds the queue full (its write waited, so the
    // value stopped rising) tells the queue's size: what was delivered, less
    // the period the writes before it may have waited for in part.
    if (w.queueFrames <= 0 && !rising && !w.dropping)
        w.queueFrames = std::max(double(w.delivered) - 2.0 * double(frames), double(frames));
    auto keep = [&w](double v, int64_t t) {
        if (w.dropCount >= OutputClockWatch::kDropValues) return;
        w.dropValues[size_t(w.dropCount)] = v;
        w.dropMicros[size_t(w.dropCount++)] = t;
    };

    if (!w.dropping) {
        if (startMicros - w.bucketStartMicros >= kBucketMicros) {
            w.levelBefore = w.levelNow;
            w.haveLevelBefore = true;
            w.levelNow = value;
            w.bucketStartMicros = startMicros;
        } else {
            w.levelNow = std::max(w.levelNow, value);
        }
        const double level = w.haveLevelBefore ? std::max(w.levelNow, w.levelBefore) : w.levelNow;
        if (level - value <= kDropShare * period) {
            w.lastValue = value;
            w.lastMicros = startMicros;
            return step;
        }
        if (w.queueFrames <= 0) w.queueFrames = level;
        w.dropping = true;
        w.levelAtDrop = level;
        w.bestSinceDrop = w.lowestSinceDrop = value;
        w.steadyCallbacks = 0;
        w.dropCount = 0;
        keep(w.lastValue, w.lastMicros);
    } else if (value < w.lowestSinceDrop) {
        // Deeper still: the level comes back from here.
        w.bestSinceDrop = w.lowestSinceDrop = value;
        w.steadyCallbacks = 0;
    } else {
        // Steady once no value passes the best since the lowest by a quarter
        // period (a server that asks for two periods at a time makes the
        // value swing by one meanwhile).
        w.steadyCallbacks = value > w.bestSinceDrop + kRiseShare * period ? 0 : w.steadyCallbacks + 1;
        w.bestSinceDrop = std::max(w.bestSinceDrop, value);
    }
    w.lastValue = value;
    w.lastMicros = startMicros;
    keep(value, startMicros);

    const double lost = w.levelAtDrop - w.bestSinceDrop;
    if (lost > kDropShare * period && w.steadyCallbacks < kSteadyCallbacks) return step;
    w.dropping = false;
    // From here the level is what it settled at.
    w.levelNow = w.bestSinceDrop;
    w.haveLevelBefore = false;
    w.bucketStartMicros = startMicros;

    // The queue is empty while the value is below the settled level by more
    // than it holds. Between two callbacks the value falls at the device's
    // rate from where the first one's frames raised it (they go in at once
    // when there is room) to the second's value: the time it spent below
    // that mark is silence, and a callback that started there came late.
    const double empty = w.bestSinceDrop - w.queueFrames;
    double silentMicros = 0;
    for (int32_t i = 0; i + 1 < w.dropCount; ++i) {
        const double top = w.dropValues[size_t(i)] + period, bottom = w.dropValues[size_t(i + 1)];
        const double span = double(w.dropMicros[size_t(i + 1)] - w.dropMicros[size_t(i)]);
        if (bottom >= empty) continue;
        silentMicros += top <= empty || top <= bottom ? span : span * (empty - bottom) / (top - bottom);
        ++step.lateCallbacks;
    }
    // A device that waited for the late frames lowered the level by the
    // whole silence instead.
    const double silence = std::max(silentMicros * perMicro, lost);
    if (silence <= kDropShare * period) {
        step.lateCallbacks = 0;
        return step;
    }
    step.gap = true;
    step.gapFrames = int64_t(silence + 0.5);
    step.lateCallbacks = std::max<uint32_t>(step.lateCallbacks, 1);
    return step;
}
