// timeline_panel.h — the timeline below the active tab's panel: ruler, work
// area, scenes row, event lane, curve lanes, playhead and toolbar.
//
// Index
//   TimelinePanel         draw the panel for this frame and take its input
//   TimelineGeometry      where the last frame put its rows (points), for the
//                         state dump and the tests; gTimelineGeometry
//   DumpTimeline          "timeline.*" fields of the window test dump
//
// The arithmetic is in timeline_logic.h, event_lane_logic.h and
// curve_lane_logic.h; the rows and lanes share timeline_frame.h. UI thread.
#pragma once

struct DocumentContext;
struct ImDrawList;
struct StateDump;
struct UILayout;

// The program's document, engine and state. The panel opens its own child
// window at TimelineRect(layout) in the current window and draws into that;
// the frame's draw list is not needed.
void TimelinePanel(ImDrawList* drawList, const UILayout& layout);
// The same over the context's objects (tests pass private ones).
void TimelinePanel(const DocumentContext& ctx, ImDrawList* drawList, const UILayout& layout);

struct TimelineGeometry {
    bool drawn = false;      // the time area was usable and drawn
    float x0 = 0;            // the time area
    float width = 0;
    float rulerTop = 0;
    float scenesTop = 0;
    float lanesTop = 0;      // the visible lanes region
    float lanesBottom = 0;
    float eventLaneTop = 0;  // the lanes as drawn (scrolled)
    float weightLaneTop = 0;
    float intensityLaneTop = 0;
    float layersTop = 0;     // the rendered layers' first group header
    float traceTop = 0;      // the trace lanes (trace view)
    float sceneArmX = 0;     // the centre of "##scArm"
    float sceneArmY = 0;
    float laneHeight = 0;
    float bottomRowTop = 0;
    float playheadX = -1;    // -1 when off the view
    float drawButtonX = 0;   // the centre of "##draw"
    float drawButtonY = 0;
    float laneModeButtonX = 0;  // the centre of the lane mode button
};
extern TimelineGeometry gTimelineGeometry;

void DumpTimeline(StateDump& dump);
