// event_settings.h — the edits of one event's settings, or of the same
// setting over a selection: the inspector's buttons, fields and drags.
//
// Index
//   SetScaleTune                               the scale tuning override, then the scale rebuild
//   ToggleEventBus / ToggleBatchBus / BusEvents   FX A ↔ FX B
//   LinkEventToScene / UnpinAllFiles / ClearLibFilter / SetEventLibFilter
//   TraceSampleable / TraceToCurves            the picture trace as curves
//   KeywordEditSession                         one undo step per editing session
//   SetBatchKeywords / SetBatchLibFilter
//   ToggleEventLock / RequestEventRerender
//   Gesture steps                              pitch, spectral layers, crossfade, curve drags, sync marker
//
// Every edit here is BeginEdit, the change, FinishEdit (edit_steps.h) and
// returns false, changing nothing, when the document may not change. A
// gesture step changes the document once the gesture took its undo step
// (BeginEdit when the drag started): each step sets the unsaved flag and
// brings the voices along, and refuses silently while the document may
// not change. Interface thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "operations/document_context.h"

struct OpticalTrace;
struct Project;

// Undo step, every listed event to `value` (0 auto, 1 on, 2 "Force Off"),
// then the scale rebuild: a running task defers it, results start
// RebuildCacheAsync.
bool SetScaleTune(const DocumentContext& ctx, const std::vector<int>& events, int value);

// Undo step; FX A ↔ FX B; groupOverride −1 when the new group is the shape's
// own, else the group; stereo from the group; results follow; tracks
// assigned; the voices take their new group.
bool ToggleEventBus(const DocumentContext& ctx, int event);
// Undo step; all to FX A when all were on FX B, else all to FX B; unlocks each.
bool ToggleBatchBus(const DocumentContext& ctx, const std::vector<int>& selected);
// The valid selected events whose group a bus button can change (no Fill, no
// Bed); the batch button is drawn only when there is one and acts on these.
std::vector<int> BusEvents(const Project& project, const std::vector<int>& selected);

// Undo step; scene −1 unlinks. A Bed locks, a Fill unlocks.
bool LinkEventToScene(const DocumentContext& ctx, int event, int scene);
// Undo step; the pinned files and their ids go, the single-pin flag clears.
bool UnpinAllFiles(const DocumentContext& ctx, int event);
// Undo step; the filter empties.
bool ClearLibFilter(const DocumentContext& ctx, int event);
// Undo step; the filter becomes `filter` (cut to fit). False when it is the same.
bool SetEventLibFilter(const DocumentContext& ctx, int event, std::string_view filter);
// Whether the trace can be sampled (present, more than one frame).
bool TraceSampleable(const OpticalTrace& trace);
// Undo step; 256 samples of the trace over the event's span become its
// intensity and weight curves; unlocks.
bool TraceToCurves(const DocumentContext& ctx, int event, const OpticalTrace& trace);

// The keyword field edits the event's text in place; the first change of an
// editing session takes one undo step holding the text as it was before it.
struct KeywordEditSession {
    int event = -1;
    std::string before;  // the text when the field became active
    bool pushed = false;
};
void BeginKeywordEdit(KeywordEditSession& session, const Project& project, int event);
// Call after the field drew: `now` is the event's text. False when the
// session's edit was refused (the old text is put back).
bool NoteKeywordEdit(KeywordEditSession& session, const DocumentContext& ctx, int event);

bool SetBatchKeywords(const DocumentContext& ctx, const std::vector<int>& selected, std::string_view text);
// Clips keep their filter.
bool SetBatchLibFilter(const DocumentContext& ctx, const std::vector<int>& selected, std::string_view filter);

// Undo step; locked ↔ unlocked (Clips and Beds stay locked: false).
bool ToggleEventLock(const DocumentContext& ctx, int event);
// Undo step; the event is asked to render again on the next frame.
bool RequestEventRerender(const DocumentContext& ctx, int event);

// ---- Gesture steps (the caller took BeginEdit when the drag started) --------

// ±semitones 0..24 as the event's pitch variation; unlocks.
bool SetEventPitch(const DocumentContext& ctx, int event, float semitones);
// The same for every listed event.
bool SetBatchPitch(const DocumentContext& ctx, const std::vector<int>& events, float semitones);
// 1..24 spectral layers of a Fill; unlocks.
bool SetFillLayers(const DocumentContext& ctx, int event, int layers);
// 0..120 frames of crossfade at the linked scene's boundaries.
bool SetSceneCrossfade(const DocumentContext& ctx, int event, int frames);
// The weight offset (−1..1) and intensity scale (0..2) the curve drags set; unlocks.
bool SetWeightOffset(const DocumentContext& ctx, int event, float offset);
bool SetIntensityScale(const DocumentContext& ctx, int event, float scale);
// The sync point at `offset` seconds into the event (clamped to its span);
// shapes other than a Spot take an intensity curve around it.
bool SetSyncMarker(const DocumentContext& ctx, int event, float offset);
