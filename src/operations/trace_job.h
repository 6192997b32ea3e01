// trace_job.h — the picture trace as the program runs it: the worker that
// walks the reference video and derives the suggestions, its start, cancel
// and join.
//
// Index
//   TraceScanContext / TraceFrameCallback / TraceProgressCallback
//   TraceWorker             the worker's body: walk, derive, clear traceRunning
//   StartTraceAnalysis      the trace panel's start: reset the trace, start the worker
//   CancelTraceAnalysis     stop a running trace, join its worker, clear the trace
//   JoinTraceWorker         join a finished trace worker that still holds the slot
//   (the worker thread is made by the observer's traceLauncher when a test gives one)
//
// The worker runs in the application state's one worker slot
// (busyTask.worker); its cancel flag is busyTask.cancelRequested. Until
// `present` is set the interface reads only traceRunning, traceProgress and
// analysedCount.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

#include "picture/trace_scan.h"

struct AppState;
struct OpticalTrace;
struct TraceDeriveSettings;
struct VideoPlayer;

struct TraceScanContext {
    AppState* app = nullptr;
    OpticalTrace* trace = nullptr;
};
void TraceFrameCallback(int32_t index, float time, const uint8_t* rgba, int32_t width, int32_t height,
                        void* context);
// Stores the fraction in traceProgress; -1 once the cancel flag is raised.
float TraceProgressCallback(float fraction, void* context);

// Walks the video at `samplesPerSecond`, and unless cancelled derives the
// suggestions with `settings` at sensitivity 0.9, moves those on a cut or a
// flash onto its frame and publishes the trace; clears traceRunning last,
// whatever happened.
void TraceWorker(AppState& app, const TraceVideoSource& source, double samplesPerSecond,
                 TraceDeriveSettings settings);

// Starts a trace of the player's video at 10 samples a second, when a video
// is loaded and no trace is running or present, no busy task is queued and
// the program is not shutting down:
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

