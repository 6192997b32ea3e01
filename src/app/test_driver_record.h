// test_driver_record.h — the record of a running test script, shared by the
// driver's files (app/test_driver.cpp runs the steps, app/test_input.cpp
// pushes their input, app/test_captures.cpp takes their captures).
//
// Index
//   FrameSpan / SpanFigures    a measured run of frames: where it began, what it measured
//   TestDriver                 where a script is
//   Clocks and the log         WallSeconds, ProcessCpuSeconds, DriverLog
//   Pushing events             pointer, buttons, wheel, keys, text, drops, window events
//   Captures                   PNG screenshots, the state dump, idle measurement
//   Frame spans                starting and finishing one (idle and measure share them)
//
// Interface thread only.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/test_driver.h"
#include "export/export_records.h"
#include "operations/document_context.h"
#include "operations/work_pace.h"

struct FrameDriver;

// What a run of frames measured ("idle" and "measure" alike), once it ended.
struct SpanFigures {
    bool measured = false;
    double seconds = 0;                       // wall time
    double cpuSeconds = 0;                    // the process's CPU time
    int64_t frames = 0, presented = 0;        // frames drawn, and presented
    double frameCpuP50 = 0, frameCpuP95 = 0;  // RenderFrame's CPU time per frame
};

// A run of frames being measured: the clocks and the frame counts where it began.
struct FrameSpan {
    bool running = false;
    double startedAt = 0;                          // wall time
    double cpuStart = 0;                           // the process's CPU time
    int64_t framesStart = 0, presentedStart = 0;   // frames drawn, and presented
    SpanFigures figures;                           // the last run's, once it ended
};

struct TestDriver {
    SDL_Window* window = nullptr;
    uint32_t windowId = 0;
    FrameDriver* frames = nullptr;
    std::vector<ScriptStep> steps;
    ScriptEditFn scriptEdit = nullptr;  // the interface's "edit KIND" (null: every edit fails)
    size_t next = 0;
    size_t changingSteps = 0;  // steps run that may change the program
    int64_t waitUntilFrame = 0;   // frames presented before the script goes on
    double waitUntil = 0;         // time (the script's clock) before the script goes on
    double clockStep = 0;         // > 0: the interface clock moves this much a frame
    int64_t clockFrames = 0;      // frames drawn when the clock last moved
    bool scriptDone = false;
    bool quitSent = false;
    double quitSentAt = 0;
    bool gaveUp = false;
    int exitCode = 0;
    std::string exitDumpPath;     // "exitdump": written when the loop ends
    float pointerX = 0;           // window pixels
    float pointerY = 0;
    uint32_t buttonsHeld = 0;     // SDL button mask
    bool dropAlt = false;         // Alt held when the last drop was let go
    // Idle measurement ("idle": no frames are asked for until it ends).
    FrameSpan idle;
    double idleEndsAt = 0;
    // Frames measured by "measure".
    FrameSpan measure;
    int measureMotion = 0;        // 0 still, 1 wheel zoom, 2 middle-button pan
    float measurePan = 0;         // points a frame
    int64_t measureMovedAt = -1;  // frames drawn when the view was last moved
    // Waiting for the background work to end (settle).
    bool settling = false;
    double settleStartedAt = 0;
    double settleEndsAt = 0;
    double settleSeconds = -1;  // how long the last settle took; -1 none yet
    int settleTimeouts = 0;
    // Waiting for a file made by another process of the test.
    bool waitingFile = false;
    std::string waitPath;
    double waitEndsAt = 0;
    // The test job queued last, while it may still run: its length, and when
    // (wall time) the stepped clock began to wait for its thread; -1: not yet.
    double testJobSeconds = 0;
    double testJobHeldSince = -1;
    // renderpace / buildpace: frames between two events a full render may
    // start, or two voices the voice build may build; 0 unpaced.
    int renderPace = 0;
    int64_t renderLetAt = 0;      // frames drawn when the last event was let
    int buildPace = 0;
    int64_t buildLetAt = 0;       // frames drawn when the last voice was let
    // Waiting for the busy task to be over (waittask).
    bool waitingTask = false;
    int64_t taskWaitFrom = 0;     // frames drawn when the wait began
    double taskWaitEndsAt = 0;    // wall time
    // Waiting for the playhead to run (waitplay).
    bool waitingPlay = false;
    double playFrom = 0;          // the playhead when the wait began (seconds)
    double playSeconds = 0;       // how far it must run
    double playWaitEndsAt = 0;    // wall time
    // Waiting for an export to wait at its hold (waitheld); exporthold set.
    bool waitingHeld = false;
    double heldWaitEndsAt = 0;    // wall time
    // The holds the script's jobs meet, through the app state's observer
    // (renderpace, buildpace, exporthold): the driver outlives every job.
    WorkPace renderSteps;
    WorkPace buildSteps;
    ExportHold exportHold;
    JobObserver observer;
};

// ---- Clocks and the log ------------------------------------------------------

double WallSeconds();
double ProcessCpuSeconds();
// "[Test] " and `fmt` with `arg` for its one %s, flushed.
void DriverLog(const char* fmt, const std::string& arg);

// ---- Pushing events ----------------------------------------------------------
// Into SDL's queue, as the window system would; the pointer in points.

void PushWindowEvent(TestDriver& d, SDL_WindowEventID id);
void PushMotion(TestDriver& d, float xPoints, float yPoints);
// guiButton: 0 left, 1 right, 2 middle.
void PushButton(TestDriver& d, int guiButton, bool down);
void PushWheel(TestDriver& d, float notches);
void PushKey(TestDriver& d, int scancode, int modifiers, bool down);
void PushText(TestDriver& d, const std::string& text);
// One part of a drop (SDL_DROPBEGIN, SDL_DROPFILE with `path`, SDL_DROPCOMPLETE).
void PushDropEvent(TestDriver& d, uint32_t type, const std::string* path);
// A whole drop of one file: begin, the file, complete.
void PushDrop(TestDriver& d, const std::string& path);

// ---- Captures ----------------------------------------------------------------

// A PNG of the next frame drawn.
void RequestScreenshot(TestDriver& d, const std::string& path);
// The driver's and the registered fields, written atomically.
void WriteDump(const TestDriver& d, const std::string& path);
void StartIdle(TestDriver& d, double seconds);
void FinishIdle(TestDriver& d);

// ---- Frame spans -------------------------------------------------------------

// Marks where `span` begins and clears the frame CPU times it will read.
void StartFrameSpan(TestDriver& d, FrameSpan& span);
// Ends `span`: its figures from the clocks and counts since it began.
void FinishFrameSpan(TestDriver& d, FrameSpan& span);
