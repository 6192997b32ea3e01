// pinned_sound_edits.h — the edits of the sounds an event names itself: a
// recipe applied, a Clip's file and offset, a Bed's layer list.
//
// Index
//   ApplyRecipeToEvent / ApplyRecipeToSelection   a recipe's settings on events
//   ReplaceClipFile / SetClipOffset               a Clip's file and what sounds under its sync point
//   MoveListItem                                  one element of a list to another place
//   EvenBedLists / MoveBedLayer / RemoveBedLayer / ToggleBedLayerLoop / ReplaceBedLayer / AddBedLayers
//
// Each is one edit (edit_steps.h): refused while the document may not
// change, one undo step, the unsaved flag, the voices brought along. A
// Bed's layers are made again at once; its voices follow on the next frame
// (deferredRebuild), as every Bed change does. Interface thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "operations/document_context.h"

struct Event;
struct EventPreset;

// Undo step, the recipe applied, then a Clip with a file is rebuilt, its
// peaks dropped and its voices synced; a Bed is locked and rebuilt, its
// voices on the next frame (deferredRebuild); other shapes wait for the next
// render.
bool ApplyRecipeToEvent(const DocumentContext& ctx, int event, const EventPreset& recipe);
// Undo step, the recipe on each; Clips rebuilt now, the others queued for
// render kind 4.
bool ApplyRecipeToSelection(const DocumentContext& ctx, const std::vector<int>& selected,
                            const EventPreset& recipe);

// Undo step; the Clip takes the file (and its registry id), is rebuilt and
// its voices synced; the old and new files' peaks are dropped.
bool ReplaceClipFile(const DocumentContext& ctx, int event, const std::string& path);
// A step of the offset's gesture (the caller took BeginEdit when it
// started), or of a typed offset: syncOffset clamped to 0..duration; when it
// moves by more than 0.0001 s the event's results and voices move by minus
// the change (MoveEventsWithVoices, which refuses while the document may not
// change), so the clip keeps playing in place. True when it moved.
bool SetClipOffset(const DocumentContext& ctx, int event, float offset);

// Removes the element at `from` and inserts it at min(to, new size); nothing
// when `from` is outside the list. One template for every list kind (bytes,
// floats, ints, strings), so parallel lists move alike.
template <typename T>
void MoveListItem(int from, int to, std::vector<T>& list) {
    if (from < 0 || size_t(from) >= list.size()) return;
    T item = std::move(list[size_t(from)]);
    list.erase(list.begin() + from);
    const size_t at = to < 0 ? 0 : (size_t(to) < list.size() ? size_t(to) : list.size());
    list.insert(list.begin() + std::ptrdiff_t(at), std::move(item));
}

// The three parallel lists take pinnedFiles' length (id "", loop 0, weight −1).
void EvenBedLists(Event& event);
// Each: undo step, the four lists changed together, RebuildBedEvent,
// deferredRebuild, modified. Out-of-range indices change nothing.
bool MoveBedLayer(const DocumentContext& ctx, int event, int from, int to);
bool RemoveBedLayer(const DocumentContext& ctx, int event, int layer);
bool ToggleBedLayerLoop(const DocumentContext& ctx, int event, int layer);
bool ReplaceBedLayer(const DocumentContext& ctx, int event, int layer, const std::string& path);
bool AddBedLayers(const DocumentContext& ctx, int event, const std::vector<std::string>& paths);
