// job_protocol.h — long work as the frame sees it: the requests the panels
// leave, the one busy task on the worker slot, the busy overlay that stands
// in for the window while a task owns it, the live block over a full render,
// and the completion of the export and picture-trace workers.
//
// Index
//   JobFrameState        what the protocol keeps between frames; gJobFrame
//   RunJobProtocol       steps 1–9 before anything is drawn; true when the
//                        overlay owns the screen
//   RunWorkerCompletions steps 10–11: the export's completion, a finished trace joined
//   DrawLiveBlock        step 12, last in the frame while a full render runs
//   DumpJobProtocol      "busy.*" fields of the window test driver's dump
//
// The states of a task: idle → queued (snapshot requested) → snapshot taken
// → running → done → 0.8 s at a full bar → idle. A full render (the task's
// `immediate`) starts in the frame it was queued, without a snapshot, and
// leaves the window live under the click-blocking live block.
//
// UI thread, inside a GUI frame.
#pragma once

#include "operations/document_context.h"

struct AppState;
struct FrameDriver;
struct StateDump;
struct UILayout;

struct JobFrameState {
    bool cancelSeen = false;      // Escape or "Cancel" reached the task in hand
    bool overlayDrawn = false;    // this frame
    float overlayAlpha = 0;       // the fade of this frame's overlay
    float cancelRect[4] = {};     // x, y, width, height of the card's "Cancel"; 0 wide when not drawn
    bool liveBlockDrawn = false;  // this frame
    float liveBlockRect[4] = {0, 0, 0, 0};  // the card behind its text: x0, y0, x1, y1
    int tasksFinished = 0;        // since start-up
};

extern JobFrameState gJobFrame;

// Steps 1 to 9 of the protocol on the context's objects (the program's own in
// DrawUI, private ones in tests; made this frame, so jobs queued now resume
// playback at this frame's time): the requests (TakeJobRequests), Escape,
// the busy task's start, completion and follow-ups, and the busy overlay.
// `frames` (may be null) has its input released when a task finishes. True
// when the overlay was drawn: the caller then draws nothing else this frame.
bool RunJobProtocol(const DocumentContext& ctx, FrameDriver* frames, JobFrameState& state);

// Steps 10 and 11.
void RunWorkerCompletions(AppState& app);

// Step 12: while a full render is busy, the transparent "##liveblock" over
// the whole window that takes the mouse, with the render's progress line on
// a card. With the frame's `layout` the card stands low in the timeline, over
// the layer lanes the render is filling, clear of the transport band and the
// ruler; without one (tests of the protocol alone) in the window's middle.
void DrawLiveBlock(const DocumentContext& ctx, JobFrameState& state, const UILayout* layout = nullptr);

void DumpJobProtocol(StateDump& dump);
