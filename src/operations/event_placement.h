// event_placement.h — the edits that place the designer's own sounds at the
// playhead, and the revert of a bounced clip. Each takes its own undo step.
//
// Index
//   AddBedAtPlayhead       an empty locked Bed of 8 s ("Place Bed")
//   PlaceAudioFileAsClip   a file chosen in a dialog, as a locked Clip ("Place Clip...")
//   PlaceAudioFilesAsClips dropped files, one locked Clip each
//   PlaceAudioFilesAsBed   dropped files (Alt held), one locked Bed with a layer each
//   DropFilesOnSceneBed    files dropped on a scene: its new Bed holds them
//   DropFilesOnBed         files dropped on a Bed join its layers
//   RevertBounce           a bounced Clip back into the events it was made from
//   FirstResultOf          the first layer of an event (a Clip's one layer)
//   OwnMaterialEvent       the event of a Bed or Clip of the designer's own material
//
// The forms over a DocumentContext act on its objects, at its current time;
// the argument-less forms act on the program's own. All refuse (changing
// nothing) while the document may not change. Interface thread.
#pragma once

#include <string>
#include <vector>

#include "operations/document_context.h"

struct Event;
struct Project;

// The index of the first result of the event, -1 when it has none.
int FirstResultOf(const Project& project, int eventIndex);

// A designer's own material placed at `time`: flat weight of 0.5, full
// intensity, weight centre 0.3, no user shape, locked (a render leaves it as
// it is).
Event OwnMaterialEvent(float time, int shape, float duration, bool stereo);

// Appends an empty, locked Bed of 8 s at the current time and selects it
// alone. Returns its index, or -1 when refused.
int AddBedAtPlayhead(const DocumentContext& ctx);
int AddBedAtPlayhead();

// Asks for a file ("Place Audio File", "wav") through the app state's
// open-file hook; nothing happens without the hook or when the dialog is
// cancelled. A path too long for the Clip's file field is refused with a log
// line and a toast. Otherwise: undo step, a locked Clip at the current time
// with the file and its id, its layer built and its waveform read, its length
// taken from the layer, tracks assigned, the Clip selected alone and a voice
// rebuild deferred. Returns its index, or -1.
int PlaceAudioFileAsClip(const DocumentContext& ctx);
int PlaceAudioFileAsClip();

// One undo step for all of them; then one locked Clip per file at the
// current time (a path too long for a Clip is skipped with a log line), each
// with its layer built and its length taken from it; the new Clips become the
// selection with the last one as the anchor; tracks assigned, a voice built
// for each new layer and levelled, playback sought to the current time.
// Returns their indices (none when refused or no path fits).
std::vector<int> PlaceAudioFilesAsClips(const DocumentContext& ctx, const std::vector<std::string>& paths);

// One undo step; a locked Bed at the current time holding every file as a
// layer (AddFilesToBedEvent), selected alone and left for the "Loading bed…"
// task (pendingBedLoadEvent). Returns its index, or -1 when refused or
// without paths.
int PlaceAudioFilesAsBed(const DocumentContext& ctx, const std::vector<std::string>& paths);

// Files dropped on a scene's block: one undo step; a locked Bed over the
// scene (AddSceneBed) holding every file as a layer (AddFilesToBedEvent),
// selected alone and left for the "Loading bed…" task (pendingBedLoadEvent).
// Its index, or -1 when refused, without files, or for a scene that cannot
// carry a background (nothing changed then).
int DropFilesOnSceneBed(const DocumentContext& ctx, int scene, const std::vector<std::string>& paths);

// Files dropped on a Bed: one undo step; the files join its layers and the
// Bed is left for the "Loading bed…" task. False when refused, without files
// or when the event is no Bed.
bool DropFilesOnBed(const DocumentContext& ctx, int bed, const std::vector<std::string>& paths);

// For a Clip that keeps the events it was bounced from: undo step; the Clip
// is deleted (selection and voices follow); its sources come back at the
// Clip's time plus their stored times, their pinned files fingerprinted;
// Clips among them are rebuilt and get voices, Beds are rebuilt, any other
// event becomes a pending render of kind 4; tracks are reassigned, playback
// seeks to the current time, a voice rebuild is deferred and the restored
// events are selected, the first primary. False when nothing was done.
bool RevertBounce(const DocumentContext& ctx, int eventIndex);
bool RevertBounce(int eventIndex);
