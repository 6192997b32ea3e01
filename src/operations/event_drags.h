// event_drags.h — the timeline's drags of events: an event's end dragged
// (the resize) and the selection moved, each step one call that changes the
// document, and the release that brings the voices in line.
//
// Index
//   ResizeLimits / ResizeEndLimits / ResizeEventEnd   the rule of the end drag
//   ClipSourceLength            the length of a Clip's file, for the end's limit
//   LimitMoveDelta / SelectionLinkedToScene           the rules of the move
//   MoveSelectedEvents          the selection, its layers and voices by one delta
//   BeginEventResize / ResizeEventStep               the end drag
//   BeginEventMove / MoveSelectionStep                the move
//   EndEventDrag                the release of either
//
// A drag takes its one undo step when it starts (BeginEdit) and each step
// changes the document under it: refused while the document may not change,
// indices checked, the unsaved flag set (FinishEdit). The interface turns the
// mouse into times and draws what the steps return. Interface thread.
//
// The track record (track_repack.h): a move goes through MoveEventsWithVoices,
// which tells the record and assigns the tracks on every step. A resize
// changes the event alone: its layers keep their spans until a render (or,
// for a Bed, the Bed job, which repacks what changed from the record).
#pragma once

#include <set>
#include <vector>

#include "operations/document_context.h"

struct Event;

// ---------------------------------------------------------------------------
// Rules
// ---------------------------------------------------------------------------

// The end of a resized event stays within [low, high]: low is one frame after
// its start; high the project's end or, for a Clip whose source length is
// known, the end of its source. When high < low, low wins.
struct ResizeLimits {
    float low = 0;
    float high = 0;
};
ResizeLimits ResizeEndLimits(const Event& event, float total, float fps, float sourceLength);
// Moves the event's end to the mouse time, clamped and rounded to a frame
// (never past `high` by the rounding), and unlocks it. The sync point stays
// put: a Clip (or an event whose sync point is its end) keeps its start and
// only clamps its lead-in into the new span; any other event keeps the sync
// point's place in its span, so its lead-in scales with the span. Returns
// the new end.
float ResizeEventEnd(Event& event, float mouseTime, const ResizeLimits& limits, float fps);
// The length of a Clip's source file in seconds; 0 when unknown or the
// event is no Clip with a file.
float ClipSourceLength(const Event& event);

// The delta limited so that no selected event's time leaves 0 .. total
// (0 when some already lies outside it).
float LimitMoveDelta(const std::vector<Event>& events, const std::set<int>& selected, float delta, float total);
bool SelectionLinkedToScene(const std::vector<Event>& events, const std::set<int>& selected);

// Moves the selected events of the context's app state by delta with their
// layers and voices, and assigns the tracks again (MoveEventsWithVoices);
// false, nothing moved, while the document may not change.
bool MoveSelectedEvents(const DocumentContext& ctx, float delta);

// ---------------------------------------------------------------------------
// The end drag
// ---------------------------------------------------------------------------

// The press on an event's end: its undo step ("Resize"), then the event is
// the app state's resizingEvent and the only selection. False (nothing
// changed) for no such event or while the document may not change.
bool BeginEventResize(const DocumentContext& ctx, int event);

struct EventResizeStep {
    bool done = false;           // the step was taken (it may have left the event as it was)
    bool linkedToScene = false;  // refused: the event keeps its scene's span
    float end = 0;               // the event's end after the step
};
// The end of `event` to the mouse time (ResizeEndLimits over the project's
// length, timeline frame rate and the Clip's file; ResizeEventEnd). Not done
// for no such event, an event linked to a scene, or while the document may
// not change.
EventResizeStep ResizeEventStep(const DocumentContext& ctx, int event, float mouseTime);

// ---------------------------------------------------------------------------
// The move
// ---------------------------------------------------------------------------

// The press on a selected event: the undo step ("Moving events"), then the
// app state's move begins, grabbed at pressTime − the primary's time. False
// (nothing changed) for no such event or while the document may not change.
bool BeginEventMove(const DocumentContext& ctx, int primary);

struct EventMoveStep {
    bool done = false;           // a primary event, no scene link, not refused
    bool linkedToScene = false;  // refused: a selected event keeps its scene's span
    float delta = 0;             // seconds the selection moved (0: it stayed)
};
// The selection moved so that the primary event (the app state's
// selectedEvent) comes to `target`, the delta limited by LimitMoveDelta over
// the project's length; a delta of 0.0001 s or less moves nothing.
EventMoveStep MoveSelectionStep(const DocumentContext& ctx, float target);

// The release of a move or a resize: the app state's drag ends, and after a
// move that shifted something (`moved`) in a rendered project the voices are
// synced once: the steps moved their start times, and the tracks the steps
// gave their layers (their pan and budget mute) reach them now.
void EndEventDrag(const DocumentContext& ctx, bool moved);
