// selection_edits.h — the edit commands on the selected events (the menus,
// the shortcuts and the right-click menu all reach these): paste, nudge,
// lock, hero, mute, delete, re-render, and a new event at the playhead.
//
// Index
//   ValidSelection          the selected indices the event list holds, ascending
//   PasteEventClipboard     the clipboard at the playhead
//   NudgeSelection          one frame earlier or later; one undo step per burst
//   ToggleSelectionLocked / ToggleSelectionHero / ToggleSelectionMuted / RerenderSelection
//   DeleteEvents / DeleteSelectedEvents   with their layers and voices, one pass however many
//   CreateEventAtPlayhead   Spot, Bloom, Contour or Fill with the last event's keywords
//
// Each is one edit (edit_steps.h): refused (false or nothing) while the
// document may not change, one undo step, the unsaved flag, then the voices
// as a sync of the new document gives them. Event times move together with
// their layers and their voices (MoveEventsWithVoices), so what plays always
// matches what the timeline shows. Interface thread.
#pragma once

#include <vector>

#include "operations/document_context.h"

struct AppState;
struct EventClipboard;
struct Project;

// Ascending; indices the event list no longer holds are left out.
std::vector<int> ValidSelection(const AppState& app, const Project& project);

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

// With a selection: lock all when any is unlocked, else unlock all.
bool ToggleSelectionLocked(const DocumentContext& ctx);

// One undo step: every selected event becomes a hero unless all are, then
// all stop being one; a render of every event (kind 2) is requested.
bool ToggleSelectionHero(const DocumentContext& ctx);

// One undo step. Selected Clips are rebuilt from their files at once (their
// duration following their layer) and their voices replaced; the others are
// unlocked and queued: one event as kind 3, several as kind 4 in ascending
// order. True when the result list changed (a Clip was rebuilt).
bool RerenderSelection(const DocumentContext& ctx);

// Shape 0 Spot .. 3 Fill at the playhead, weight centre 0.3, with the
// keywords of the last event of the list when it has any; a Fill takes the
// last intensity mode (a flat intensity of 0.5 for mode 1). The new event is
// selected. Its index, or -1 when refused.
int CreateEventAtPlayhead(const DocumentContext& ctx, int shape);

// With a selection: mute all when any is unmuted, else unmute all; the
// voices take the events' mutes from the one sync.
bool ToggleSelectionMuted(const DocumentContext& ctx);

// One undo step: the events (any order, duplicates and indices out of range
// skipped), highest first, with their layers and voices; the primary is
// clamped to the events left and playback is sought to the current time.
// False when refused or nothing was deleted.
bool DeleteEvents(const DocumentContext& ctx, const std::vector<int>& indices);
bool DeleteSelectedEvents(const DocumentContext& ctx);
