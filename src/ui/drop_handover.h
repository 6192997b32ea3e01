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
//   TakeDroppedAudio                        dropped audio files, once, then cleared
//
// SDL reports no hover, so the panels cannot highlight a zone while a drag
// is over them; they record their zones while they draw, and a drop is
// located against the zones of the frame before it. UI thread.
#pragma once

#include <vector>

#include "ui/ui_layout.h"

struct AppState;
struct Project;
struct SoundLibrary;

enum class DropZoneKind {
    LibraryPanel,  // audio dropped here becomes a palette
    TabPanel,      // audio dropped here joins the selected Bed
    SceneBlock,    // audio dropped here becomes the scene's Bed
};

struct DropZone {
    DropZoneKind kind = DropZoneKind::TabPanel;
    LayoutRect rect;  // points
    int scene = -1;   // SceneBlock only
};

struct DropZones {
    std::vector<DropZone> zones;
};
extern DropZones gDropZones;

// DrawUI clears the zones before it draws the regions; each panel notes its
// own while it draws.
void ClearDropZones(DropZones& zones);
void NoteDropZone(DropZoneKind kind, const LayoutRect& rect, int scene = -1);

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
};

// From the drop's position (dragHoverX/Y), its scene index (dragHoverScene,
// else the scene block under the position), the selection and the Alt flag.
AudioDropChoice ChooseAudioDropCase(const AppState& app, const Project& doc, const DropZones& zones);

// Step 7 of the frame: cancels a running picture trace, closes an open
// video, opens the dropped one; on success the project takes its
// length and frame rate and the view and playhead go to its start; on
// failure the toast "Error: couldn't decode this video ...". The path is
// cleared either way.
void TakeDroppedVideo(AppState& app, Project& doc);

// The library panel's take-over of dropped folders (AddDroppedLibraryFolders).
void TakeDroppedFolders(AppState& app, SoundLibrary& library);

// Step 8 of the frame. Clears the files, the Alt flag and the scene index.
void TakeDroppedAudio(AppState& app, Project& doc, SoundLibrary& library);
