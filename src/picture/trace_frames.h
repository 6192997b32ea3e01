// trace_frames.h — suggested cuts and flashes moved onto the frame where the
// picture changes.
//
// Index
//   FrameSignature / MeasureFrameSignature   light and colour histogram of one small picture
//   FrameChangeBetween                        how much the picture changed from one frame to the next
//   FrameChange / HardChangeTime              the first frame of a hard change among a few frames
//   FramePlacement / RefineSuggestionFrames   decode around each spot, move it there, one per frame
//
// The trace samples the picture ten times a second and smooths what it
// measures, so the suggestion for a hard cut lands on the first sample of a
// flat top: a sample before or after the frame of the cut, two or three
// frames off at 24 fps. The detection stays as it is; only the time of a
// suggestion that sits on a hard change moves, to that change's first frame.
// Runs on the trace's worker before the trace is published.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "picture/trace_scan.h"

struct OpticalTrace;

struct FrameSignature {
    float luma = 0;           // mean BT.709 luma, 0..1
    float histogram[24] = {}; // 8 bins each of red, green, blue; each channel sums to 1
};
FrameSignature MeasureFrameSignature(const uint8_t* rgba, int32_t width, int32_t height);
// Half the histogram's L1 change over the three channels, divided by 3
// (0..1), plus the change of mean luma.
float FrameChangeBetween(const FrameSignature& before, const FrameSignature& after);

struct FrameChange {
    double time = 0;   // video time of the frame that shows the change
    float change = 0;  // against the frame before it
};
// Among the changes of consecutive frames around one suggestion (in time
// order): a hard change is at least 0.08 and at least four times the median
// change of the stretch (a cut or a flash, not motion or a fade). Hard
// changes less than 0.2 s apart are one event (a flash starts and ends);
// returns the first frame of the event that starts nearest to `near`, or NaN
// when no change is hard.
double HardChangeTime(const std::vector<FrameChange>& changes, double near);

// Moves every spot (type 0: the short hits, cuts and flashes among them)
// whose neighbourhood of ±0.3 s holds a hard change to that change's frame,
// then orders the suggestions by time again. Of the spots that end up on one
// frame only the one of the highest intensity stays (of equals, the one
// that stood earliest). Sweeps stay: their anchor is the middle of a swell, not a
// change. Decodes `source` forward, seeking only across stretches with no
// suggestion. Stops early (keeping what it had done) when `cancel` is raised
// or the file cannot be read.
struct FramePlacement {
    int32_t moved = 0;   // spots whose time changed
    int32_t merged = 0;  // spots removed because a stronger one took their frame
};
FramePlacement RefineSuggestionFrames(OpticalTrace& trace, const TraceVideoSource& source,
                                      const std::atomic<bool>* cancel = nullptr);
