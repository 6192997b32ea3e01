// event_lane_logic.h — the rules of the timeline's event lane: spans,
// display order, what a press picks, end-edge resizing, moving the
// selection, and box selection.
//
// Index
//   kMarkerPickPoints ... kBoxClearPoints   the lane's distances in points
//   SpanMeets                               whether an event's span (event.h) meets a range
//   EventDisplayOrder                       indices by time (the lane's drawing and range order)
//   EventTimeIndex / EventsSignature / RefreshEventTimeIndex / EventsNear   the order kept between frames
//   LaneMark / EventLaneLayout / LayoutEventLane   lock badges and labels that never overlap
//   PickEventAt / PickEndEdge / CanDragEnd  what a press lands on
//   MoveTarget                              the mouse's time as the primary's new time
//   EventsMeetingRange / FinishBoxSelection
//
// No GUI here: times are seconds, x are points of a TimelineView. The lane
// (event_lane.cpp) calls these with what the mouse did; the drags' rules and
// steps are operations (operations/event_drags.h). Interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "document/event.h"
#include "ui/timeline_index.h"
#include "ui/timeline_logic.h"

struct AppState;
struct Event;
struct Project;

constexpr float kMarkerPickPoints = 10.0f;  // a press this near a sync marker picks its event
constexpr float kEndGrabPoints = 6.0f;      // a press this near a selected event's end resizes it
constexpr float kMoveDeadZonePoints = 3.0f; // a move starts once the mouse went further
constexpr float kBoxClearPoints = 5.0f;     // a box this narrow or narrower clears the selection

// Whether the span and [t0, t1] share a point.
bool SpanMeets(const EventSpan& span, float t0, float t1);

// Event indices sorted by time (equal times keep index order).
std::vector<int> EventDisplayOrder(const std::vector<Event>& events);

// The display order with a time index over it (keys: sync times, ends: span
// ends), rebuilt only when the events' times, spans, shapes or flags
// changed. The events whose span meets a view lie in one stretch of it.
struct EventTimeIndex {
    uint64_t signature = 0;
    bool built = false;
    TimeIndex index;            // items: the display order
    float maxLeadIn = 0;        // the largest syncOffset (a span may start that much before its time)
};
// A signature of what the lanes draw of the events (times, spans, shapes,
// mute, lock, scene links, folders' sizes) and the undo generation.
uint64_t EventsSignature(const std::vector<Event>& events, uint64_t undoGeneration);
void RefreshEventTimeIndex(EventTimeIndex& index, const std::vector<Event>& events, uint64_t undoGeneration);
// Positions [first, last) of index.items whose events may meet [t0, t1].
std::pair<size_t, size_t> EventsNear(const EventTimeIndex& index, float t0, float t1);

// ---------------------------------------------------------------------------
// Labels that never overlap
// ---------------------------------------------------------------------------

constexpr float kLabelOffsetPoints = 15.0f;  // a label starts this far right of its marker
constexpr float kLabelGapPoints = 6.0f;      // and keeps this much room after it
constexpr float kLockOffsetPoints = 8.0f;    // the lock badge's centre, right of the marker
constexpr float kMarkerHalfWidth = 5.0f;     // the marker's triangle

// One event whose sync marker shows, in display order.
struct LaneMark {
    int event = -1;
    float x = 0;          // the marker
    bool selected = false;
};
struct LaneItem {
    int event = -1;
    float x0 = 0;
    float x1 = 0;
};
struct EventLaneLayout {
    std::vector<LaneItem> locks;   // lock badges drawn
    std::vector<LaneItem> labels;  // labels drawn: x0 .. x1 (the gap not included)
};
// Where lock badges and labels go: the selected events' first, then the
// others, each in display order. A badge is left out when it would overlap
// a badge or label placed before; a label when it would overlap a placed
// label (with its gap), a placed badge or any other event's marker, or would
// start past `right`. A label wider than the room before `right` ends at
// `right` (its name is drawn shortened), unless that room is below
// `leastWidth(event)` (its icons and "…"), when it is left out: no label
// reaches past the lane. A selected event's label is cut the same way (x1
// before its whole width) where the next marker or an item placed before
// would meet it, so the event being worked on keeps its name in a crowd.
// `labelWidth(event)` is asked only for labels whose start is free,
// `leastWidth` only for labels that are cut.
EventLaneLayout LayoutEventLane(const std::vector<LaneMark>& marks, float lockWidth, float right,
                                const std::function<float(int)>& labelWidth,
                                const std::function<float(int)>& leastWidth = nullptr);

// The event a press at x (time t under it) picks: the sync marker nearest x
// within 10 points; else, with `primaryRule`, the primary event when its
// span holds t; else the highest index whose span holds t; else -1.
int PickEventAt(const std::vector<Event>& events, const TimelineView& view, float x, float t, int primary,
                bool primaryRule);

// Whether the event's end may be dragged: selected, not muted, and not in a
// linked folder.
bool CanDragEnd(const AppState& app, const Event& event, int index);
// Among the events whose end may be dragged, the one whose end x is nearest
// x within 6 points; -1 when none.
int PickEndEdge(const AppState& app, const std::vector<Event>& events, const TimelineView& view, float x);

// round((mouseTime − grabOffset) × fps) / fps, the mouse time clamped into the project first.
float MoveTarget(float mouseTime, float grabOffset, float total, float fps);

// Indices of the events whose span meets [t0, t1], ascending.
std::vector<int> EventsMeetingRange(const std::vector<Event>& events, float t0, float t1);
// The end of a box selection between x0 and x1: 5 points or narrower clears
// the selection; otherwise every event meeting the box is selected (with
// their linked folders unless Alt), the lowest index primary, and the events
// list is asked to scroll to it.
void FinishBoxSelection(AppState& app, const std::vector<Event>& events, const TimelineView& view, float x0,
                        float x1, bool altHeld);
