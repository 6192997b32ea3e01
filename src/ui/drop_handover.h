// drop_handover.h — what the main window does with dropped files on its
// next frame.
//
// Index
//   DropZoneKind / DropZones / gDropZones   where the panels accept drops,
//                                           recorded each frame (NoteDropZone)
//   AudioDropCase / ChooseAudioDropCase     which of the five things a drop
//                                           of audio files becomes
//   TakeDroppedVideo                        a dropped video opens as the reference
//   TakeDroppedFolders                      dropped folders are scanned or queued
//   TakeDroppedAudio                        dropped audio files, once, then cleared:
//                                           a palette, a scene's Bed, the selected
//                                           Bed, a new Bed or Clips
//
// SDL reports no hover, so the panels cannot highlight a zone while a drag
// is over them; they record their zones while they draw, and a drop is
// located against the zones of the frame before it. UI thread.
#pragma once

#include <vector>

#include "ui/ui_layout.h"

struct AppState;
struct DocumentContext;
struct Project;
struct SoundLibrary;

enum class DropZoneKind {
    LibraryPanel,  // audio dropped here becomes a palette
    TabPanel,      // audio dropped here joins the selected Bed
    SceneBlock,    // audio dropped here becomes the scene's Bed
    Timeline,      // the time area: Clips or a Bed go where the drop marker showed
};

struct DropZone {
    DropZoneKind kind = DropZoneKind::TabPanel;
    LayoutRect rect;  // points
    int scene = -1;   // SceneBlock only
    // Timeline only: the view across the zone's width and the frame rate,
    // to turn the drop's x into a time.
    float viewStart = 0;
    float viewDuration = 0;
    float fps = 25;
};

struct DropZones {
    std::vector<DropZone> zones;
};
extern DropZones gDropZones;

// DrawUI clears the zones before it draws the regions; each panel notes its
// own while it draws.
void ClearDropZones(DropZones& zones);
void NoteDropZone(DropZoneKind kind, const LayoutRect& rect, int scene = -1);
void NoteDropZone(const DropZone& zone);

enum class AudioDropCase {
    Palette,      // (a) onto the library panel
    SceneBed,     // (b) onto a scene block
    SelectedBed,  // (c) onto the tab panel while the selected event is a Bed
    NewBed,       // (d) Alt held: one Bed at the playhead with every file
    Clips,        // (e) one Clip per file at the playhead
};

struct AudioDropChoice {
    AudioDropCase kind = AudioDropCase::Clips;
    int scene = -1;  // SceneBed
    float time = -1; // NewBed and Clips dropped on the timeline: the frame under
                     // the drop, where the playhead goes first; -1 elsewhere
};

// From the drop's position (dragHoverX/Y), its scene index (dragHoverScene,
// else the scene block under the position), the selection and the Alt flag.
AudioDropChoice ChooseAudioDropCase(const AppState& app, const Project& doc, const DropZones& zones);

// Step 7 of the frame (a drop, or the Import video command): the path is
// taken and cleared, and opened as the reference (OpenReferenceVideo).
void TakeDroppedVideo(AppState& app, Project& doc);

// The library panel's take-over of dropped folders (AddDroppedLibraryFolders).
void TakeDroppedFolders(AppState& app, SoundLibrary& library);

// Step 8 of the frame. Clears the files, the Alt flag and the scene index.
// (b) to (e) take one undo step each (the edit operations refuse while the
// document may not change; DrawUI calls this only when it may).
void TakeDroppedAudio(const DocumentContext& ctx, SoundLibrary& library);
