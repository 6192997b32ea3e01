// trace_view_logic.h — the arithmetic of the timeline's trace view: the
// measure it draws, the threshold line, which suggestions show, and the
// review selection of both suggestion lists.
//
// Index
//   TraceValueAt                  the smoothed motion at a time
//   kDefaultOpticalDetail / ThresholdLevel / DetailFromThresholdLevel / ThresholdLineY / LevelAtY
//   TraceSuggestionVisible        the one visibility test (the trace panel uses it too)
//   TraceViewShown                whether the timeline shows the trace view
//   TraceMarker / VisibleTraceMarkers / PickTraceMarker / TraceMarkersInSpan
//   Review selection              select all, on, off, recipe, queue the import,
//                                 drop stale indices, clear one source
//
// No GUI here: times in seconds (timeline time unless said otherwise), x in
// points. Suggestions and frames are read only once the trace is `present`
// (TraceReadableFrames). Interface thread.
#pragma once

#include <vector>

#include "picture/trace_records.h"
#include "picture/trace_review.h"
#include "ui/timeline_logic.h"

struct AppState;

// Field 9 of the frames (motionSmooth), interpolated at fps × t; 0 without
// frames or a usable rate; the last frame's value at or beyond it.
float TraceValueAt(const OpticalTrace& trace, float t);

constexpr float kDefaultOpticalDetail = 0.35f;
// The range the threshold drag keeps `opticalDetail` in: at either end every
// suggestion, or none, would pass.
constexpr float kMinOpticalDetail = 0.02f;
constexpr float kMaxOpticalDetail = 0.98f;

// L = (1 − s)² × 0.85: the line's height as a fraction of the lane.
float ThresholdLevel(float opticalDetail);
// s = 1 − sqrt(L / 0.85), L clamped into 0..0.85 and s into the drag range.
float DetailFromThresholdLevel(float level);
// The line's y in a lane of `height` points from `top`, and back.
float ThresholdLineY(float top, float height, float level);
float LevelAtY(float top, float height, float y);

// A picture suggestion shows (on the timeline and in the trace panel's
// counts) when it is not a scene (type 2) and confidence / (tier × 0.5 + 1)
// reaches max(0.15, 0.85 × (1 − s)²).
bool TraceSuggestionVisible(const SuggestedEvent& suggestion, float opticalDetail);

// The Trace tab is active and there is something to review: trace frames
// (a running trace's too), suggestions or imported markers.
bool TraceViewShown(const AppState& app);

struct TraceMarker {
    int list = kTraceListPicture;
    int index = 0;
    float time = 0;      // timeline time
    float strength = 1;  // 0..1: the line's opacity
    bool on = false;
    bool hasRecipe = false;
};
// The markers the trace view draws, picture suggestions first: visible
// suggestions (once the trace is present, unless the filter hides them) at
// videoOffset + their time, and imported markers (unless hidden) at theirs.
void VisibleTraceMarkers(const AppState& app, float videoOffset, std::vector<TraceMarker>& out);
// The marker whose line is nearest to x within `radius` points; none when
// no marker is that near.
TraceItemRef PickTraceMarker(const std::vector<TraceMarker>& markers, const TimelineView& view, float x,
                             float radius = 9.0f);
// The markers between two x (either order), as a selection.
TraceMarkerSelection TraceMarkersInSpan(const std::vector<TraceMarker>& markers, const TimelineView& view,
                                        float xa, float xb);

// ---------------------------------------------------------------------------
// Review selection
// ---------------------------------------------------------------------------

// The selection the menu and the commands act on: the multi-selection, or
// the focused marker alone when nothing is selected.
TraceMarkerSelection EffectiveTraceSelection(const AppState& app);
bool TraceSelectionEmpty(const TraceMarkerSelection& selection);
// Escape in review mode: no selected and no focused item; false when there
// was none to clear.
bool ClearTraceSuggestionSelection(AppState& app);
// Command 29: every marker the timeline shows (VisibleTraceMarkers), which
// are the items the trace panel counts.
void SelectAllTraceSuggestions(AppState& app);
// Commands 30 and 31, "  On" and "  Off": the on flag of the selected items.
void SetTraceSelectionOn(AppState& app, bool on);
// "  Recipe": the recipe named for the selected items; empty clears it.
void SetTraceSelectionRecipe(AppState& app, const char* name);
// Whether any selected item is on ("  Import" is enabled then).
bool TraceSelectionHasOn(const AppState& app);
// Command 32 and "  Import": copies the selected items the timeline still
// shows into the pending review import and raises `traceImportRequest`.
// False when none is selected.
bool QueueTraceReviewImport(AppState& app);
// Indices past the end of their list leave the selection, the pending
// import, and the focused and hovered items.
void DropStaleTraceSelection(AppState& app);
// The review state of one list emptied (its source was cleared): its
// selection, its part of the pending import, and the focus and hover when
// they are in it.
void ClearTraceReviewSource(AppState& app, int list);
