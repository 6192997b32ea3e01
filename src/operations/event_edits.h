// event_edits.h — the document-level edits the menus, the scene panel, the
// inspector and the timeline call.
//
// Index
//   EditRefused              the document-may-change check every edit starts with
//   AppendEvents / AddEvent  append events (a new one) without moving voices' curves
//   DeleteEvent              remove an event and its layers, renumber the rest
//   DeleteEventWithVoices / DeleteEventsWithVoices   DeleteEvent, then the selection and the voices follow
//   AddSceneBed / AddSceneFill / SceneTakesBackground   a Bed or a Fill spanning a scene
//   AddFilesToBedEvent       sound files as layers of a Bed
//   PinFileToEvent / UnpinFileFromEvent   pinned files, with their parallel lists
//   IsNameInList / BanFile / UnbanFile    the project's banned files
//   RenameScene              a scene and its linked background events
//
// Placing Beds and Clips at the playhead and reverting a bounce are in
// event_placement.h. The callers take the undo snapshot (PushUndoSnapshot)
// before any of these, and stop when it is refused (the document may not
// change then); the record-level edits below have no app state to ask. Out-of-range indices change nothing. The forms over a
// DocumentContext change the event list, whose curves playing voices borrow,
// so they go through the engine's event-list helpers, and they refuse
// (changing nothing) while the document may not change. Interface thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "operations/document_context.h"

struct Event;
struct Project;
struct RenderResult;
struct ResultVariation;
struct SoundLibrary;

// True, with a log line naming `what`, while the document may not change.
bool EditRefused(const DocumentContext& ctx, const char* what);

// `events` appended to the document's list in one step, the voices kept
// linked to their events' curves (AppendDocumentEvents); the caller has
// checked the refusal. The index of the first.
int AppendEvents(const DocumentContext& ctx, const std::vector<Event>& events);

// MakeEvent appended through AppendEvents. The new index, or -1 when refused.
int AddEvent(const DocumentContext& ctx, float time, int shape, float weightCenter);

// Removes every layer of the event (the others keep their order), lowers the
// event index of the layers above it, then removes the event. Touches neither
// the selection nor the voices. False when refused or out of range.
bool DeleteEvent(const DocumentContext& ctx, int eventIndex);
// DeleteEvent, RemoveSelectionIndex and RefreshEventVoices: what a deletion
// from the interface needs after its undo snapshot.
bool DeleteEventWithVoices(const DocumentContext& ctx, int eventIndex);
// The same for many events at once (repeats and invalid indices ignored):
// their layers dropped and the rest renumbered in one pass, the event list
// replaced once, the selection renumbered, the voices refreshed once, and
// the levels what a sync gives. The voice list is walked a fixed number of
// times, however many events go. False when refused or none is valid.
bool DeleteEventsWithVoices(const DocumentContext& ctx, const std::vector<int>& eventIndices);

// A locked Bed (AddSceneBed) or an unlocked Fill (AddSceneFill, which takes
// the scene's keywords) over the scene's span, linked to it as its
// background, in a folder named after the scene. -1 for an invalid scene, a
// scene whose out time is not after its in time, or when refused.
int AddSceneBed(const DocumentContext& ctx, int scene);
int AddSceneFill(const DocumentContext& ctx, int scene);
// Whether the scene exists and runs forwards, so that it can carry a
// background event (a log line names a scene that does not run forwards).
bool SceneTakesBackground(const Project& project, int scene);

// Adds each path that is not already a layer (by file id or path) to the Bed
// `eventIndex`, with loop 0 and the brightness of its library entry as its
// weight (-1 outside the libraries; `library` may be null). Rebuilds the
// Bed's layers when any was added. Returns how many were added (0 unless the
// event is a Bed).
int AddFilesToBedEvent(Project& project, int eventIndex, const std::vector<std::string>& paths,
                       const SoundLibrary* library);

// Appends the path (once) with the given id, or the file registry's when
// empty; an unreadable file gets an empty id.
void PinFileToEvent(Event& event, const std::string& path, const std::string& fileId);
// Erases every copy of the path together with the same position of the id,
// loop and weight lists.
void UnpinFileFromEvent(Event& event, std::string_view path);

// Whether the path is byte-equal to one of the project's banned files.
bool IsNameInList(const Project& project, std::string_view path);
// Bans the path once (its id beside it, the registry's when empty) and mutes
// every layer playing it, banned before or not.
void BanFile(Project& project, const std::string& path, const std::string& fileId);
// Erases every copy of the path and its id. Layers stay muted.
void UnbanFile(Project& project, std::string_view path);

// The scene's name, and the folder of every scene background event linked to
// it, become `name` (cut to fit at a character boundary). Nothing for a null
// name or an invalid scene.
void RenameScene(Project& project, int scene, const char* name);
