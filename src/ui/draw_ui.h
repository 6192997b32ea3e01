// draw_ui.h — the main window, drawn once per frame, and the UI thread's
// per-frame scheduler.
//
// Index
//   UiFrameState        what DrawUI keeps between frames; gUiFrame
//   DrawUI              one frame: requests, jobs, commands, quit, then the regions
//   NoteRegionDrawn     panels record the regions they drew (the test driver dumps them)
//   DumpUiFrameFields   this frame's layout and regions, for the test driver's dump
//
// Called by the frame driver between the GUI's NewFrame and Render, inside a
// catch-all handler. UI thread only.
#pragma once

#include <string>
#include <vector>

#include "ui/ui_layout.h"

struct StateDump;

struct UiFrameState {
    bool firstFrameDone = false;
    bool launcherOffered = false;
    int frameCount = 0;  // counts to 2: queued library folders wait for the third frame
    UILayout layout;     // this frame's layout
    std::vector<std::string> regionsDrawn;  // in drawing order, this frame
    // The frame's work before it draws the window (requests, tasks, the
    // probe, playback, commands, opens): this frame's, and the longest since
    // the count was last reset (0). Work that would hold up frames belongs
    // on a worker; this is where it would show.
    double workSeconds = 0;
    double longestWorkSeconds = 0;
};

extern UiFrameState gUiFrame;

void DrawUI();

void NoteRegionDrawn(const char* name);

// "layout.*" (the frame's layout in points) and "regions" (drawn, in order).
void DumpUiFrameFields(StateDump& dump);
