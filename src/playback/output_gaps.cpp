// output_gaps.cpp — the stream's clock against the frames delivered.
//
// Index
//   Tolerances
//   Falls              BeginFall, SettleFall: a fall followed from its start, its silence measured
//   WatchOutputClock   the level and the queue kept, a fall followed until it settles or a new
//                      one begins
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
// A fall has ended, whether or not the level is steady yet, once the value
// has climbed back by half the queue from its lowest (the device has sound
// again); a drop from there by half the queue (at least a period: a server
// that asks for two periods at a time swings by one) to below both where
// the queue was empty before and the lowest so far begins the next. A
// server that asks for its frames in bursts swings by a burst without going
// deeper.
constexpr double kRefillShare = 0.5;

}  // namespace

// ---------------------------------------------------------------------------
// Falls
// ---------------------------------------------------------------------------

namespace {

void Keep(OutputClockWatch& w, double v, int64_t t) {
    if (w.dropCount >= OutputClockWatch::kDropValues) return;
    w.dropValues[size_t(w.dropCount)] = v;
    w.dropMicros[size_t(w.dropCount++)] = t;
}

// A fall from `level` begins at `value`; the callback before it (the last
// value and start) is where the measure of its silence starts.
void BeginFall(OutputClockWatch& w, double level, double value) {
    w.dropping = true;
    w.levelAtDrop = level;
    w.bestSinceDrop = w.lowestSinceDrop = value;
    w.steadyCallbacks = 0;
    w.dropCount = 0;
    Keep(w, w.lastValue, w.lastMicros);
}

// The fall has ended at the level it came back to (bestSinceDrop): each
// silence it held is one gap added to `step`. The queue was empty while the
// value stood below the mark `queueFrames` under the level the fall began
// from. Between two callbacks the value falls at the device's rate from
// where the first one's frames raised it (they go in at once when there is
// room) to the second's value: the time it spent below the mark is silence,
// and a callback that started there came late. A device that plays on from
// where its clock is (the level came back) keeps the mark, and its silence
// lasts until the value climbs past it again; one that waited for the late
// frames lowered its level by the silence, so its mark follows the value
// down, and any rise from there is sound again. Silent stretches with sound
// between them are silences of their own, however close.
// `atRest`: the level has settled; a fall cut short by the next one ends
// part way up its climb back, and only its walk tells its silence.
void SettleFall(OutputClockWatch& w, OutputGapStep& step, double period, double perMicro, bool atRest) {
    w.dropping = false;
    // A fall that began before the last one had settled (a new fall once the
    // queue refilled) may have begun part way up the climb back: where the
    // level came back to where the first one began, that is the mark's.
    const bool cameBack = w.levelAtFirstDrop - w.bestSinceDrop <= kDropShare * period;
    const double level = cameBack ? std::max(w.levelAtFirstDrop, w.levelAtDrop) : w.levelAtDrop;
    const double lost = atRest ? level - w.bestSinceDrop : 0.0;
    const bool keepsMark = atRest && lost <= kDropShare * period;
    // A device that waits takes up where the fall before this one left its
    // mark.
    double mark = !cameBack && w.haveCarriedMark ? w.carriedMark : level - w.queueFrames;
    double total = 0, run = 0;
    int32_t gaps = 0;
    uint32_t late = 0;
    auto endRun = [&] {
        if (run > kDropShare * period) ++gaps;
        total += run;
        run = 0;
    };
    for (int32_t i = 0; i + 1 < w.dropCount; ++i) {
        const double top = w.dropValues[size_t(i)] + period, bottom = w.dropValues[size_t(i + 1)];
        const double span = double(w.dropMicros[size_t(i + 1)] - w.dropMicros[size_t(i)]);
        if (bottom >= mark) {
            endRun();
            continue;
        }
        const double silentMicros = top <= mark || top <= bottom ? span : span * (mark - bottom) / (top - bottom);
        run += silentMicros * perMicro;
        ++late;
        if (!keepsMark) mark = bottom;
    }
    endRun();
    w.haveCarriedMark = !atRest;
    w.carriedMark = mark;
    // A device that waited lowered its level by the whole silence, also where
    // the values kept here ran out.
    total = std::max(total, lost);
    if (total <= kDropShare * period) return;
    gaps = std::max(gaps, 1);
    step.gaps += gaps;
    step.gapFrames += int64_t(total + 0.5);
    step.lateCallbacks += std::max<uint32_t>(late, uint32_t(gaps));
}

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
    // Until one has, every callback has found room for its frames at once:
    // the stream is starting.
    const bool starting = w.fullCallbacks == 0;
    if (!rising && w.fullCallbacks < kSteadyCallbacks) ++w.fullCallbacks;

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
        if (starting) {
            // A server may take its time to begin playing the frames it
            // queued as the stream started (the value falls as if the device
            // had run dry): its clock starts here instead, once, with the
            // queue's size those frames told.
            const double queue = w.queueFrames;
            w = OutputClockWatch{};
            w.started = true;
            w.originMicros = w.bucketStartMicros = w.lastMicros = startMicros;
            w.periodFrames = frames;
            w.delivered = frames;
            w.queueFrames = queue;
            w.fullCallbacks = 1;
            return step;
        }
        if (w.queueFrames <= 0) w.queueFrames = level;
        w.levelAtFirstDrop = level;
        w.haveCarriedMark = false;
        BeginFall(w, level, value);
    } else if (w.bestSinceDrop - w.lowestSinceDrop >= kRefillShare * w.queueFrames &&
               w.bestSinceDrop - value >= std::max(period, kRefillShare * w.queueFrames) &&
               value < w.lowestSinceDrop && value < w.levelAtFirstDrop - w.queueFrames) {
        // The queue had refilled when the value fell again: a silence of its
        // own, however soon after the last. The last one ends where it came
        // back to, and the new one is followed from there.
        SettleFall(w, step, period, perMicro, false);
        BeginFall(w, w.bestSinceDrop, value);
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
    Keep(w, value, startMicros);

    // Settled once back at the level the first of the falls began from, or
    // steady at another.
    const double lost = w.levelAtFirstDrop - w.bestSinceDrop;
    if (lost > kDropShare * period && w.steadyCallbacks < kSteadyCallbacks) return step;
    SettleFall(w, step, period, perMicro, true);
    // From here the level is what it settled at.
    w.levelNow = w.bestSinceDrop;
    w.haveLevelBefore = false;
    w.bucketStartMicros = startMicros;
    return step;
}
