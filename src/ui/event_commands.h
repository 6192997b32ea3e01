// event_commands.h — what the edit commands do to the selected events: the
// event clipboard, nudging, mute, lock, groups, select all and new events at
// the playhead.
//
// Index
//   CopySelectedEvents      the selection and its layers into the clipboard
//   PasteEventClipboard     the clipboard at the playhead, one undo step
//   NudgeSelection          one frame earlier or later; one undo step per burst
//   ToggleSelectionMuted / ToggleSelectionLocked
//   GroupSelection / UngroupSelection
//   SelectAllEvents
//   CreateEventAtPlayhead   Spot, Bloom, Contour or Fill with the last event's keywords
//
// Each edit refuses (false or -1, nothing changed) while the document may not
// change, and takes its own undo snapshot. Event times move together with
// their layers and their voices (MoveEventsWithVoices), so what
// plays always matches what the timeline shows. No GUI here; interface thread.
#pragma once

#include <vector>

#include "operations/document_context.h"

struct AppState;
struct AudioEngine;
struct EventClipboard;
struct Project;

// Nothing is copied (the clipboard keeps what it held) without a valid
// selected event. The layers keep their settings; their event index counts
// within the clipboard.
void CopySelectedEvents(const Project& project, const AppState& app, EventClipboard& clipboard);

// The copies are appended shifted by (current time − the earliest copied
// time), their layers with fresh ids and the new events' indices; a copy
// loses its scene link (it stays where it was pasted). The project grows to
// hold them, they become the selection, their voices are built (tracks
// reassigned, voices relinked) and playback is sought to the current time.
// The indices of the new events; none for an empty clipboard or a refusal.
std::vector<int> PasteEventClipboard(const DocumentContext& ctx, const EventClipboard& clipboard);

constexpr double kNudgeBurstSeconds = 0.5;

// `frames` (−1 or +1) at the project frame rate (25 when it has none).
// Playback stops first. With a selection: a nudge more than 0.5 s of
// `guiTime` after the last one takes an undo snapshot, so a held key is one
// step; each event moves by its own move clamped into 0 .. the project's
// duration, and its layers and voices move by exactly that; the playhead
// goes to the anchor event. Without a selection the playhead moves a frame.
// Playback is sought to the playhead. False when refused.
bool NudgeSelection(const DocumentContext& ctx, int frames, double guiTime);

// With a selection: mute all when any is unmuted, else unmute all (the
// voices follow); lock all when any is unlocked, else unlock all.
bool ToggleSelectionMuted(const DocumentContext& ctx);
bool ToggleSelectionLocked(const DocumentContext& ctx);

// The selection joins a new folder "Group %d" (the first number no folder
// uses), which is linked so it selects as one; the events list opens its
// name for editing. Returns false without a selection or when refused.
bool GroupSelection(const DocumentContext& ctx);
// The selected events leave their folders; a folder no event uses any more
// is no longer linked.
bool UngroupSelection(const DocumentContext& ctx);

// Every event; the anchor becomes the first event when none was set.
void SelectAllEvents(AppState& app, const Project& project);

// Shape 0 Spot .. 3 Fill at the playhead, weight centre 0.3, with the
// keywords of the last event of the list when it has any; a Fill takes the
// last intensity mode (a flat intensity of 0.5 for mode 1). The new event is
// selected. Its index, or -1 when refused.
int CreateEventAtPlayhead(const DocumentContext& ctx, int shape);
