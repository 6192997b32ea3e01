// output_gaps.h — stretches of output the device played without our sound,
// found from what the stream itself says.
//
// Index
//   OutputClockWatch    the stream's clock against the frames delivered
//   OutputGapStep       what one callback showed
//   WatchOutputClock    one callback's start fed to the watch
//
// A back-end that flags an underflow in the callback's status (RtAudio's
// ALSA and JACK; OutputGapSource, audio_backend.h) says so itself: each
// flagged callback is one gap. One that does not (RtAudio's PulseAudio,
// which writes through a blocking call and never flags) is watched by its
// clock. The device takes `rate` frames a second off the stream's queue,
// whether it has ours or plays silence; each callback's frames go into that
// queue as soon as there is room for them, and the next callback starts when
// they are in. So at a callback's start the frames delivered so far, less
// the device's clock in frames since the first callback, stand at a level
// while the stream keeps up: the queue's size (the device starts once the
// stream's first frames fill it, moments after the first callback). A
// callback that comes late finds the value fallen by the time it was late;
// once it has fallen by more than the queue holds, the device has played
// silence for the rest. The watch keeps the level (the highest value over the
// last second or two, which also follows a device clock that drifts from the
// system's) and the queue's size (the frames delivered when the value first
// stopped rising as the stream started), follows a fall of over half a
// period until the value holds steady again (the queue refilled), and counts
// a gap when the value went below where the queue is empty: the device
// played silence for as long as it stayed there (a server that plays on from
// where its clock is drops the frames that come too late, so the value
// climbs back to the level and the silence lasts until it passes that mark;
// one that waits for the late frames lowers the level itself by the silence).
//
// Each silence is one gap, however close to the one before: a new fall that
// goes deeper than the last one's lowest once the queue had refilled ends
// the last fall there and is followed as one of its own, and the values kept
// of a fall are walked for every stretch below the empty mark with sound
// between. A stream whose server takes its time to start playing (every
// write so far went in at once, then one waited long) is no gap: the clock
// starts again there, keeping the queue's size.
#pragma once

#include <array>
#include <cstdint>

// Callback state: only the stream's thread touches it; reset when a stream opens.
struct OutputClockWatch {
    bool started = false;
    int64_t originMicros = 0;  // the first callback's start
    int64_t delivered = 0;     // device frames handed over before the current callback
    // The level: the highest value over the current and the previous second;
    // the queue's size: the frames delivered when the value first stopped
    // rising as the stream started (the level, if it fell before), 0 while
    // not known.
    double levelNow = 0, levelBefore = 0, queueFrames = 0;
    int64_t bucketStartMicros = 0;
    bool haveLevelBefore = false;
    // A fall under way: the level before it, the lowest value since and the
    // highest after that lowest, the callbacks since the value last rose, and
    // each callback's start and value from the one before the fall (the
    // first kDropValues) to measure the silence once the fall has settled.
    // The last callback's value and start.
    bool dropping = false;
    // Where the first of falls that followed one another began, and the
    // empty mark the last of them left (a device that waits lowers it).
    double levelAtFirstDrop = 0, carriedMark = 0;
    bool haveCarriedMark = false;
    double levelAtDrop = 0, bestSinceDrop = 0, lowestSinceDrop = 0, lastValue = 0;
    int64_t lastMicros = 0;
    int32_t steadyCallbacks = 0;
    // Callbacks that found the queue full (up to a steady count): a fall
    // before the first is the stream starting.
    int32_t fullCallbacks = 0;
    static constexpr int kDropValues = 256;
    std::array<double, kDropValues> dropValues{};
    std::array<int64_t, kDropValues> dropMicros{};
    int32_t dropCount = 0;
    uint32_t periodFrames = 0;
};

struct OutputGapStep {
    int32_t gaps = 0;                // silences the device played, each one gap
    int64_t gapFrames = 0;           // the device frames they lasted, in all
    uint32_t lateCallbacks = 0;      // callbacks that came while the device had nothing of ours
};

// A callback starting at `startMicros` (steady clock) that is about to hand
// over `frames` at `rate`. Returns a gap once the level has settled after it
// (a few callbacks later).
OutputGapStep WatchOutputClock(OutputClockWatch& watch, int64_t startMicros, uint32_t frames, int32_t rate);
