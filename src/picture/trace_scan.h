// trace_scan.h — reading the picture: the walk over the reference video, the
// measurements of each sampled picture, and the worker that runs both.
//
// Index
//   TraceVideoSource        the file and length a walk reads (copied from the player)
//   TraceFrameFn / TraceProgressFn   the walk's two callbacks
//   ScanVideoFrames         decode the file once, hand every sample its picture
//   AnalyzeTraceFrame       light, colour, histogram change and motion of one picture
//   TraceScanContext / TraceFrameCallback / TraceProgressCallback
//   TraceWorker             the worker's body: walk, derive, clear traceRunning
//   StartTraceAnalysis      the trace panel's start: reset the trace, start the worker
//   CancelTraceAnalysis     stop a running trace, join its worker, clear the trace
//   JoinTraceWorker         join a finished trace worker that still holds the slot
//   SetTraceThreadLauncher  how the worker thread is made (tests make it fail)
//
// The walk opens its own decoder on the player's file and never touches the
// player, so the shown picture and playback go on undisturbed. The worker runs
// in the application state's one worker slot (busyTask.worker); its cancel
// flag is busyTask.cancelRequested. Until `present` is set the interface reads
// only traceRunning, traceProgress and analysedCount.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

struct AppState;
struct OpticalTrace;
struct TraceDeriveSettings;
struct VideoPlayer;

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

struct TraceScanContext {
    AppState* app = nullptr;
    OpticalTrace* trace = nullptr;
};
void TraceFrameCallback(int32_t index, float time, const uint8_t* rgba, int32_t width, int32_t height,
                        void* context);
// Stores the fraction in traceProgress; -1 once the cancel flag is raised.
float TraceProgressCallback(float fraction, void* context);

// Walks the video at `samplesPerSecond`, and unless cancelled derives the
// suggestions with `settings` at sensitivity 0.9; clears traceRunning last,
// whatever happened.
void TraceWorker(AppState& app, const TraceVideoSource& source, double samplesPerSecond,
                 TraceDeriveSettings settings);

// Starts a trace of the player's video at 10 samples a second, when a video
// is loaded and no trace is running or present and no busy task is queued:
// resets the trace (frames sized trunc(10 x duration) + 2), raises
// traceRunning and starts TraceWorker in the worker slot. The derivation
// settings are copied now. False when refused or when the thread could not
// be started (then traceRunning is clear).
bool StartTraceAnalysis(AppState& app, const VideoPlayer& player);

// Stops a running trace and waits for its worker to end (the derivation does
// not run), joins the slot when it holds the trace worker, then clears the
// trace: present false, frames and suggestions empty, maxCompositeEnergy 0.
void CancelTraceAnalysis(AppState& app);

// Joins the worker slot when it holds a trace worker that has finished.
// False while the trace still runs or when the join fails.
bool JoinTraceWorker(AppState& app);

// Starts `body` on a new thread stored in `slot`; throws std::system_error
// when no thread can be made. Null restores the default (std::thread).
using TraceThreadLauncher = void (*)(std::thread& slot, std::function<void()> body);
void SetTraceThreadLauncher(TraceThreadLauncher launcher);
