// timeline_frame.h — what the timeline's rows and lanes share while one
// frame is drawn, and the lanes' drawing functions.
//
// Index
//   TimelineFrame      geometry (screen points), view, fonts and the document of this frame
//   FramePoints / DrawFramedText / DrawLaneName   text helpers of the rows and lanes
//   DrawEventLane      "##markerlane" (event_lane.cpp)
//   DrawCurveLanes     "##wlane" and "##ilane" (curve_lanes.cpp)
//   DrawCurveLane      one curve over an event's span in a lane
//   DrawLayerLanes     the rendered layers (layer_lanes.cpp); DrawLayerWaveform one block
//   DrawTraceLanes     the trace view (trace_view.cpp)
//   DrawScenesRow / DrawSceneBackgroundPopup   the scenes row (scenes_row.cpp)
//
// TimelinePanel (timeline_panel.cpp) fills the frame, draws the ruler, the
// scenes row and the toolbar, and calls the lanes one below the other inside
// the lanes region "##tlzone", each from the y it is given; each returns the
// height it took. Later lanes (layers, trace) join the same way. UI thread.
#pragma once

#include <imgui.h>

#include <cstdint>
#include <vector>

#include "document/curve.h"
#include "ui/timeline_logic.h"

struct AppState;
struct DocumentContext;
struct Project;

struct TimelineFrame {
    const DocumentContext* ctx = nullptr;
    AppState* app = nullptr;
    Project* project = nullptr;
    ImDrawList* draw = nullptr;  // the list drawn into: the window's, or in the lanes their own (lane_image.h)

    // The panel, in screen points.
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    float labelWidth = 0;      // the label column, from left + 8
    TimelineView view;         // the time area: x0 = left + 8 + labelWidth
    float laneHeight = 24;     // of the lane mode
    float fps = 25;
    float total = 30;          // project duration

    float rulerTop = 0;
    float scenesTop = 0;
    float scenesHeight = 0;
    float lanesTop = 0;        // the visible lanes region
    float lanesBottom = 0;
    float bottomRowTop = 0;    // scroll bar and toolbar

    bool traceView = false;    // the Trace tab shows trace data: lanes take no input
    bool altHeld = false;
    // The lanes' picture of the last frame is shown again (lane_image.h):
    // the lanes take input and keep what they placed, but draw nothing.
    bool keepPicture = false;

    ImFont* smallFont = nullptr;
    float smallSize = 13;
};

// A font's size in points (fonts are rasterised at the UI scale).
float FontPoints(const ImFont* font);

// The label column's lane name ("Events", "Weight", ...), 12 points from the
// column's left edge, centred on the lane.
void DrawLaneName(const TimelineFrame& frame, const char* name, float top, float height);

float DrawEventLane(TimelineFrame& frame, float top);
// The events' display order and time index, refreshed when the events
// changed (the curve lanes visit the view through it too); what the event
// lane placed last frame (for the dump).
struct EventTimeIndex;
struct EventLaneLayout;
struct LaneMark;
const EventTimeIndex& EventIndexOf(const TimelineFrame& frame);
const EventLaneLayout& EventLaneLayoutDrawn();
const std::vector<LaneMark>& EventLaneMarksDrawn();
float DrawCurveLanes(TimelineFrame& frame, float top);
float DrawLayerLanes(TimelineFrame& frame, float top);
// The runs of whole pixel columns the layer area drew last frame for blocks
// narrower than 2 points, each with its group and track (for the dump).
struct LayerColumnRun;
const std::vector<LayerColumnRun>& LayerColumnRunsDrawn();
// The trace lanes fill the lanes region down to `bottom` (at least 120 points).
float DrawTraceLanes(TimelineFrame& frame, float top, float bottom);
// The row under the ruler (hidden in the trace view), and the background
// popup of a scene (opened by the row's menu or the events list).
void DrawScenesRow(TimelineFrame& frame);
void DrawSceneBackgroundPopup(TimelineFrame& frame);

// One layer block at (x, y) of w × h points: its colour's RGB as the fill,
// the waveform of `count` peaks (and RMS values, which may be null) showing
// the fractions f0..f1 of them, fades as fractions (normal mode marks them),
// dimmed when muted, brighter when selected; compact draws fewer columns and
// no outlines, centre line or fade marks. Nothing below 2 points wide; no
// waveform without peaks.
void DrawLayerWaveform(ImDrawList* draw, float x, float y, float w, float h, uint32_t color, const float* peaks,
                       int count, float fadeIn, float fadeOut, const float* rms, bool muted, float f0, float f1,
                       bool compact, bool selected);

// One curve (256 values) over the event's span x0 .. x1, clipped to
// clipLeft .. clipRight, in a lane at `top` of `height` points: filled
// columns and a line through them; in heat mode coloured by level
// (LevelColor), else in `color`. Values are clamp(v × scale + offset, 0, 1).
void DrawCurveLane(ImDrawList* draw, const Curve256& curve, float x0, float x1, float top, float height,
                   float clipLeft, float clipRight, uint32_t color, bool highlighted, float scale, float offset,
                   bool heatMode, float alphaMultiplier);
