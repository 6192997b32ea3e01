// trace_job.cpp — the picture trace's worker with its start, cancel and join.
//
// Index
//   Callbacks             frame and progress callbacks of the worker
//   Thread launcher       std::thread, or the observer's launcher (JobObserver::traceLauncher)
//   TraceWorker / StartTraceAnalysis / CancelTraceAnalysis / JoinTraceWorker
#include "operations/trace_job.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <system_error>

#include "operations/app_state.h"
#include "operations/document_context.h"
#include "picture/trace_frames.h"
#include "picture/trace_records.h"
#include "picture/trace_scan.h"
#include "picture/trace_suggestions.h"
#include "picture/video_player.h"

namespace {

constexpr float kTraceSamplesPerSecond = 10.0f;
constexpr int32_t kTracePictureWidth = 160;

}  // namespace

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

void TraceFrameCallback(int32_t index, float time, const uint8_t* rgba, int32_t width, int32_t height,
                        void* context) {
    const TraceScanContext* scan = static_cast<const TraceScanContext*>(context);
    if (scan && scan->trace) AnalyzeTraceFrame(*scan->trace, index, time, rgba, width, height);
}

float TraceProgressCallback(float fraction, void* context) {
    const TraceScanContext* scan = static_cast<const TraceScanContext*>(context);
    if (!scan || !scan->app) return fraction;
    scan->app->traceProgress.store(fraction);
    return scan->app->busyTask.cancelRequested.load() ? -1.0f : fraction;
}

// ---------------------------------------------------------------------------
// Thread launcher
// ---------------------------------------------------------------------------

namespace {

void LaunchStdThread(std::thread& slot, std::function<void()> body) { slot = std::thread(std::move(body)); }

// The observer's launcher when a test gave one (JobObserver::traceLauncher).
TraceThreadLauncher LauncherOf(const AppState& app) {
    return app.observer && app.observer->traceLauncher ? app.observer->traceLauncher : &LaunchStdThread;
}

}  // namespace

// ---------------------------------------------------------------------------
// Worker, start, cancel, join
// ---------------------------------------------------------------------------

void TraceWorker(AppState& app, const TraceVideoSource& source, double samplesPerSecond,
                 TraceDeriveSettings settings) {
    MarkWorkerSlotThread();
    OpticalTrace& trace = app.opticalTrace;
    try {
        TraceScanContext context{&app, &trace};
        const int32_t samples = ScanVideoFrames(source, kTracePictureWidth, TraceFrameCallback, samplesPerSecond,
                                                TraceProgressCallback, &context);
        if (!app.busyTask.cancelRequested.load()) {
            settings.sensitivity = 0.9f;
            DeriveSuggestedEvents(trace, settings, false);
            // Sound for picture is judged to the frame: a cut's suggestion
            // goes onto the frame of the cut before anyone sees it.
            const FramePlacement placed = RefineSuggestionFrames(trace, source, &app.busyTask.cancelRequested);
            if (!app.busyTask.cancelRequested.load()) {
                trace.present.store(true, std::memory_order_release);
                std::printf("[Video] picture trace: %d samples, %zu suggestions, %d placed on their frame, %d merged "
                            "into a stronger one there (%s)\n",
                            samples, trace.suggestions.size(), placed.moved, placed.merged, source.path.c_str());
            } else {
                std::printf("[Video] picture trace cancelled after %d samples\n", samples);
            }
        } else {
            std::printf("[Video] picture trace cancelled after %d samples\n", samples);
        }
    } catch (const std::exception& e) {
        std::printf("[Video] picture trace failed: %s\n", e.what());
    } catch (...) {
        std::printf("[Video] picture trace failed with an unknown error\n");
    }
    std::fflush(stdout);
    // Last: whoever waits on the flag may take the trace as soon as it clears.
    app.traceRunning.store(false);
}

bool StartTraceAnalysis(AppState& app, const VideoPlayer& player) {
    if (!player.loaded || player.path.empty() || !(player.duration > 0) || !std::isfinite(player.duration))
        return false;
    if (app.traceRunning.load() || app.opticalTrace.present.load() || app.busyTask.busy.load()) return false;
    // Quitting has stopped the workers: nothing may start behind it.
    if (app.shuttingDown) return false;
    // The slot may still hold a worker that has ended (a trace or a task):
    // it is joined before the slot is reused.
    if (app.busyTask.worker.joinable() && !JoinWorkerThread(app.busyTask)) return false;

    OpticalTrace& trace = app.opticalTrace;
    app.traceProgress.store(0);
    app.busyTask.cancelRequested.store(false);
    app.traceRunning.store(true);
    trace.present.store(false);
    trace.frames.clear();
    trace.suggestions.clear();
    trace.maxCompositeEnergy = 0;
    trace.duration = player.duration;
    trace.fps = kTraceSamplesPerSecond;
    trace.frames.assign(size_t(std::trunc(double(kTraceSamplesPerSecond) * double(player.duration))) + 2, TraceFrame{});
    trace.analysedCount.store(0);
    trace.prevPixels.clear();
    trace.prevWidth = 0;
    trace.prevHeight = 0;

    const TraceVideoSource source{player.path, double(player.duration)};
    const TraceDeriveSettings settings = app.traceDeriveSettings;
    AppState* state = &app;
    try {
        LauncherOf(app)(app.busyTask.worker, [state, source, settings] {
            TraceWorker(*state, source, kTraceSamplesPerSecond, settings);
        });
    } catch (const std::system_error& e) {
        // No worker will ever clear the flag: clear it here, or a cancel
        // would wait for it forever.
        app.traceRunning.store(false);
        std::printf("[Video] could not start the picture trace: %s\n", e.what());
        std::fflush(stdout);
        return false;
    }
    app.busyTask.workerIsTrace = true;
    return true;
}

void CancelTraceAnalysis(AppState& app) {
    if (app.traceRunning.load()) {
        // The flag is shared with the busy task: lower it again afterwards
        // when it was this cancel that raised it, so that a task queued
        // behind the trace does not start cancelled.
        const bool raised = !app.busyTask.cancelRequested.exchange(true);
        while (app.traceRunning.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (raised) app.busyTask.cancelRequested.store(false);
    }
    JoinTraceWorker(app);
    OpticalTrace& trace = app.opticalTrace;
    trace.present.store(false);
    trace.frames.clear();
    trace.suggestions.clear();
    trace.maxCompositeEnergy = 0;
}

bool JoinTraceWorker(AppState& app) {
    if (app.traceRunning.load()) return false;
    if (!app.busyTask.workerIsTrace) return true;
    return JoinWorkerThread(app.busyTask);
}
