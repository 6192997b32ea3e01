// trace_sampling.h — reading the picture trace at a time or over a range.
//
// Index
//   SampleTraceComposite / SampleTraceSeries / SampleOpticalField /
//   SampleTraceFeature      one field, interpolated between frames
//   TraceReadableFrames / SampleTraceMember   the same over the frames the interface may read
//   SampleTraceCurve        the composite at evenly spaced points, nearest frame
//
// All of it runs on the UI thread.
#pragma once

#include <cstddef>

#include "picture/trace_records.h"


// Interpolated between neighbouring frames at x = fps * t. Before the first
// frame the value is the first frame's, after the last the last frame's. An
// empty trace, or an fps that is not a positive number, gives 0.
float SampleTraceComposite(const OpticalTrace& trace, float t);
float SampleTraceSeries(const OpticalTrace& trace, float t);  // the threshold
// mode 0 luma, 1 motion, 2 composite, 3 threshold, 4 motionSmooth; else 0.
float SampleOpticalField(const OpticalTrace& trace, float t, int mode);
float SampleTraceFeature(const OpticalTrace& trace, float t);  // luma

// Frames the interface may read: all of them once the trace is present,
// none before. The worker's derivation shortens the frames and writes their
// derived values (composite, smoothed motion, threshold) at the end of the
// walk, while the interface draws; until then those values are 0 anyway.
size_t TraceReadableFrames(const OpticalTrace& trace);
// One field of the first `frameCount` frames, sampled as above; 0 when the
// count is 0 or beyond the frames.
float SampleTraceMember(const OpticalTrace& trace, size_t frameCount, float t, float TraceFrame::*field);

// Writes the composite of the nearest earlier frame at `count` points evenly
// over [t0, t1] (at least 0.001 s wide). The frame period comes from the
// frames' own times. With fewer than 2 frames, or times that give no usable
// period, every point is 1.0. A count of 1 samples t0.
void SampleTraceCurve(const OpticalTrace& trace, float t0, float t1, float* out, int count);
