// trace_scan.h — reading the picture: the walk over the reference video and
// the measurements of each sampled picture (the worker that runs both is
// operations/trace_job.h).
//
// Index
//   TraceVideoSource        the file and length a walk reads (copied from the player)
//   TraceFrameFn / TraceProgressFn   the walk's two callbacks
//   ScanVideoFrames         decode the file once, hand every sample its picture
//   AnalyzeTraceFrame       light, colour, histogram change and motion of one picture
//
// The walk opens its own decoder on the player's file and never touches the
// player, so the shown picture and playback go on undisturbed.
#pragma once

#include <cstdint>
#include <string>

struct OpticalTrace;

struct TraceVideoSource {
    std::string path;     // UTF-8
    double duration = 0;  // seconds, as the player reported it
};

// index, sample time (index / samples per second), tightly packed RGBA
// (rows of width x 4 bytes), width, height, context.
using TraceFrameFn = void (*)(int32_t, float, const uint8_t*, int32_t, int32_t, void*);
// fraction of the samples handed out, context -> a negative value cancels the walk.
using TraceProgressFn = float (*)(float, void*);

// Samples the video `samplesPerSecond` times a second (at least 1): count =
// trunc(duration x rate) samples at i / rate. Decodes forward once; sample i
// gets the first picture whose time reaches i / rate - 0.5 / fps, so one
// picture may serve several samples and pictures between samples are never
// converted. Pictures are scaled (bilinear) to `maxWidth` wide when the video
// is wider, into one reused buffer. After each picture that served samples
// the progress callback gets i / count. Returns the number of samples handed
// out (less than count when cancelled, at the end of the stream or when the
// file cannot be read).
int32_t ScanVideoFrames(const TraceVideoSource& source, int32_t maxWidth, TraceFrameFn frameCallback,
                        double samplesPerSecond, TraceProgressFn progressCallback, void* context);

// Measures one picture into frames[index] (nothing when index is outside
// `frames`): luma, saturation, warmth, histogram change and motion against
// the previous picture, luma change against the previous record. Then
// remembers the picture and sets analysedCount = index + 1.
void AnalyzeTraceFrame(OpticalTrace& trace, int32_t index, float time, const uint8_t* rgba, int32_t width,
                       int32_t height);
