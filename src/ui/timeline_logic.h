// timeline_logic.h — the timeline's plain arithmetic: its view and the map
// between time and x, ruler ticks and labels, the work area, zoom, pan,
// scrolling, following the playhead, and curve draw mode.
//
// Index
//   kLaneHeights / LaneHeightForMode / LaneModeLabel
//   TimelineView / MapRange / UnmapRange / TimeAreaUsable
//   RulerMouseTime                  (TimelineFps and RoundToFrame: document/project.h)
//   MajorTickStep / RulerTick / RulerTicks / FormatRulerLabel
//   kEdgeGrabPoints / RulerPressMode / ApplyWorkAreaDrag / ToggleWorkAreaIn / ToggleWorkAreaOut
//   ClampTimelineView / ShowFocusSpan / FitTimelineView / PanTimelineView / FollowPlayhead
//   ScrollThumb / ScrollThumbFor / ScrollViewByThumb
//   DrawModeBlock / CurveDrawModeBlock / CurveDrawModeTooltip
//   SetCurveDrawMode / ToggleCurveDrawMode / KeepCurveDrawModeValid / FocusDrawModeOnSelection
//   DropMarkerPulse
//
// No GUI here: times are seconds, x and widths are points. Functions that
// change the view write the fields the application state keeps for it
// (viewStart, viewDuration, laneMode, the work area and the draw-mode saves).
// Interface thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "document/project.h"  // TimelineFps, RoundToFrame

struct AppState;
struct Project;

// Lane height of each lane mode: "Tracks", "Curves", "Curves+".
constexpr float kLaneHeights[3] = {24.0f, 64.0f, 120.0f};
// The mode clamped into 0..2 first.
float LaneHeightForMode(int laneMode);
const char* LaneModeLabel(int laneMode);

// The time area of one frame: its left x, its width, and the view.
struct TimelineView {
    float x0 = 0;
    float width = 0;
    float viewStart = 0;
    float viewDuration = 30;
};

// (t − viewStart) / viewDuration × width + x0, and its inverse.
float MapRange(const TimelineView& view, float t);
float UnmapRange(const TimelineView& view, float x);
// At least a point wide with a finite, positive span: otherwise the time
// area is neither drawn nor takes input (its map would divide by nothing).
bool TimeAreaUsable(const TimelineView& view);

// The time under x, clamped into 0 .. total and rounded to a frame.
float RulerMouseTime(const TimelineView& view, float x, float total, float fps);

// The first of 0.1, 0.25, ... 3600 s that spans at least 80 points; 3600
// when none does (or the scale is not positive).
float MajorTickStep(float pixelsPerSecond);

struct RulerTick {
    float time = 0;
    float x = 0;
    bool major = false;
};
// Major ticks at the multiples of the step from the view's start to its end,
// minor ticks every quarter step between them; negative times and x outside
// the time area are left out. Majors come first in `ticks`.
void RulerTicks(const TimelineView& view, std::vector<RulerTick>& ticks, float* majorStep = nullptr);

// The timecode of startTC + t ("HH:MM:SS:FF").
std::string FormatRulerLabel(const Project& project, float t);

// ---------------------------------------------------------------------------
// Work area
// ---------------------------------------------------------------------------

constexpr float kEdgeGrabPoints = 8.0f;

// With a valid work area: 1 when x is within 8 points of the in point's x,
// else 2 within 8 points of the out point's; 0 otherwise.
int RulerPressMode(const TimelineView& view, const AppState& app, float x);

// Mode 1 moves the in point to t, mode 2 the out point; an edge pushed onto
// or past the other stops 0.01 s short of it. The result always keeps
// 0 ≤ in < out ≤ total for the points that are set.
void ApplyWorkAreaDrag(AppState& app, int mode, float t, float total);

// "##gIn": unset → the playhead (an out point at or before it is cleared);
// set → cleared. "##gOut" mirrors it. Both unlink the active scene.
void ToggleWorkAreaIn(AppState& app);
void ToggleWorkAreaOut(AppState& app);

// ---------------------------------------------------------------------------
// Zoom, pan, scroll and follow
// ---------------------------------------------------------------------------

// Zooms by `factor` around `anchor` and keeps the view within 0.5 s ..
// max(total, 0.5) (in draw mode, at most 1.1 × the focus span) and within
// the project (in draw mode, near the focus span). A factor that is not a
// positive number changes nothing.
void ClampTimelineView(AppState& app, float factor, float anchor, float total);
// The draw-mode focus span with 5 % margins, within the project.
void ShowFocusSpan(AppState& app, float total);
// "##fit": the whole project, or in draw mode the focus span.
void FitTimelineView(AppState& app, float total);
// Middle-drag: the view follows the mouse by dx points of a `width`-point area.
void PanTimelineView(AppState& app, float dx, float width, float total);
// While playing, the view jumps so the playhead stays in it (90 % from the
// left when it ran off the right edge).
void FollowPlayhead(AppState& app, float total);

struct ScrollThumb {
    bool shown = false;
    float x = 0;      // from the track's left edge
    float width = 0;
};
ScrollThumb ScrollThumbFor(float total, float viewStart, float viewDuration, float trackWidth);
// Dragging the thumb by dx points.
void ScrollViewByThumb(AppState& app, float dx, float trackWidth, float total);

// ---------------------------------------------------------------------------
// Curve draw mode
// ---------------------------------------------------------------------------

enum class DrawModeBlock { None, NotOneEvent, Spot, Clip };

// Why the draw button is disabled (None: it is not).
DrawModeBlock CurveDrawModeBlock(const AppState& app, const Project& project);
const char* CurveDrawModeTooltip(DrawModeBlock block);

// The one routine that enters and leaves draw mode (the toolbar button, the
// Draw Mode command and the selection rule all come here). Entering saves
// the view and lane mode, shows "Curves+" and zooms onto the selected
// event's span; it is refused (false) unless exactly one event other than a
// Spot or a Clip is selected. Leaving restores what was saved.
bool SetCurveDrawMode(AppState& app, const Project& project, bool on);
bool ToggleCurveDrawMode(AppState& app, const Project& project);
// The focus span becomes the selected events' span and, when it is not
// empty, the view shows it (entering draw mode, and a new selection made
// while in it).
void FocusDrawModeOnSelection(AppState& app, const Project& project);
// Leaves draw mode when the selection is no longer exactly one event.
void KeepCurveDrawModeValid(AppState& app, const Project& project);

// The drop marker's pulse, 0.6 .. 1, from the interface clock.
float DropMarkerPulse(double seconds);
