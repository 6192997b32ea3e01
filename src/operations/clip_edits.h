// clip_edits.h — a Clip's layer trimmed at either edge or its fades dragged
// on the timeline: the rules over the event and its layer, and the drag's
// steps as edits of the document.
//
// Index
//   ClipFileLength                the file's length a trim is held to
//   TrimClip / FitClipFadesAfterTrim / DragClipFade   the rules
//   ClipGesture                   what the drag keeps from its press to its release
//   BeginClipTrim / BeginClipFadeDrag                 the press
//   ClipTrimStep / ClipFadeStep   one step of the drag
//   EndClipGesture                the release: the layer made again from its file
//
// The press takes the drag's one undo step ("Clip trim"); each step changes
// the event and its layer alike under it, refused while the document may
// not change, with the unsaved flag (FinishEdit). A trim step assigns the
// tracks again (AssignTracks: its record of the spans is the new one); the
// layer's voice follows at the release, which makes the layer again from its
// file region (RebuildClipEvent, whose new results revision leaves the
// record to be made again before a repack), syncs the voices and settles the
// transport. Interface thread.
#pragma once

#include "operations/document_context.h"

struct Event;
struct RenderResult;

// ---------------------------------------------------------------------------
// Rules
// ---------------------------------------------------------------------------

// The length of a Clip's source file in seconds; 300 when it is not known.
float ClipFileLength(float knownLength);

// Edge 1 moves the start to t (within viewStart .. viewEnd) and the source
// offset with it, never below 0; edge 2 moves the end. The length stays
// within 0.01 s .. fileLength − offset; the event's sync point stays inside
// the new span. Event (time, syncOffset, duration, clipSourceOffset,
// clipSourceDuration) and result (startTime, sourceOffset, duration,
// sourceDuration) follow; fades that no longer fit are reset
// (FitClipFadesAfterTrim). False when nothing changed.
bool TrimClip(Event& event, RenderResult& result, int edge, float t, float viewStart, float viewEnd,
              float fileLength);
// Fades whose sum exceeds the length become min(0.02 × length, 0.01) and
// min(0.05 × length, 0.05), in the event and the result.
void FitClipFadesAfterTrim(Event& event, RenderResult& result);
// Kind 1 sets the fade-in to t − start, kind 2 the fade-out to end − t, each
// within 0 .. length − the other fade; event and result alike.
bool DragClipFade(Event& event, RenderResult& result, int kind, float t);

// ---------------------------------------------------------------------------
// The drag
// ---------------------------------------------------------------------------

// The app state keeps which layer is dragged and how (trimmingResult and
// trimEdge, or fadeDragResult and fadeDragKind); the gesture keeps the
// layer's event as it was at the press (a step whose layer no longer
// belongs to it does nothing), the file's length read once at a trim's
// press, and whether a step changed anything.
struct ClipGesture {
    int event = -1;
    float fileLength = 300;
    bool changed = false;
};

// The press on a Clip layer's edge (1 left, 2 right) or fade handle (1 in,
// 2 out): the undo step, the app state's drag, the layer's event the only
// selection. False (nothing changed) for no such layer, a layer of no Clip
// event, an edge or kind outside 1..2, or while the document may not change.
bool BeginClipTrim(const DocumentContext& ctx, ClipGesture& gesture, int result, int edge);
bool BeginClipFadeDrag(const DocumentContext& ctx, ClipGesture& gesture, int result, int kind);

// One step of the drag the app state holds, to the mouse time t: TrimClip
// (the mouse held to viewStart .. viewEnd) then the tracks, or DragClipFade.
// True when the document changed.
bool ClipTrimStep(const DocumentContext& ctx, ClipGesture& gesture, float t, float viewStart, float viewEnd);
bool ClipFadeStep(const DocumentContext& ctx, ClipGesture& gesture, float t);

// The release: the app state's drag and the gesture end; when a step
// changed the document the Clip's layer is made again from its file region,
// the voices follow and the transport settles (playback goes on from the
// playhead). True when it did.
bool EndClipGesture(const DocumentContext& ctx, ClipGesture& gesture);
