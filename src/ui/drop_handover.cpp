// drop_handover.cpp — the frame's hand-over of dropped videos, folders and
// audio files.
//
// Index
//   Drop zones            gDropZones, ClearDropZones, NoteDropZone
//   ChooseAudioDropCase
//   TakeDroppedVideo / TakeDroppedFolders
//   TakeDroppedAudio      and the five cases
#include "ui/drop_handover.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "document/event.h"
#include "document/project.h"
#include "library/library_folders.h"
#include "library/palettes.h"
#include "library/sound_library.h"
#include "picture/reference_audio.h"
#include "picture/trace_scan.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"

// ---------------------------------------------------------------------------
// Drop zones
// ---------------------------------------------------------------------------

DropZones gDropZones;

void ClearDropZones(DropZones& zones) { zones.zones.clear(); }

void NoteDropZone(DropZoneKind kind, const LayoutRect& rect, int scene) {
    gDropZones.zones.push_back(DropZone{kind, rect, scene});
}

// ---------------------------------------------------------------------------
// ChooseAudioDropCase
// ---------------------------------------------------------------------------

namespace {

const DropZone* ZoneAt(const DropZones& zones, DropZoneKind kind, float x, float y) {
    for (const DropZone& z : zones.zones)
        if (z.kind == kind && z.rect.Contains(x, y)) return &z;
    return nullptr;
}

}  // namespace

AudioDropChoice ChooseAudioDropCase(const AppState& app, const Project& doc, const DropZones& zones) {
    AudioDropChoice choice;
    const float x = app.dragHoverX, y = app.dragHoverY;
    if (ZoneAt(zones, DropZoneKind::LibraryPanel, x, y)) {
        choice.kind = AudioDropCase::Palette;
        return choice;
    }
    int scene = app.dragHoverScene;
    if (scene < 0)
        if (const DropZone* z = ZoneAt(zones, DropZoneKind::SceneBlock, x, y)) scene = z->scene;
    if (scene >= 0 && scene < static_cast<int>(doc.scenes.size())) {
        choice.kind = AudioDropCase::SceneBed;
        choice.scene = scene;
        return choice;
    }
    const int selected = app.selectedEvent;
    const bool bedSelected = selected >= 0 && selected < static_cast<int>(doc.events.size()) &&
                             doc.events[static_cast<size_t>(selected)].shape == kShapeBed;
    if (bedSelected && ZoneAt(zones, DropZoneKind::TabPanel, x, y)) {
        choice.kind = AudioDropCase::SelectedBed;
        return choice;
    }
    choice.kind = app.droppedAltKey ? AudioDropCase::NewBed : AudioDropCase::Clips;
    return choice;
}

// ---------------------------------------------------------------------------
// TakeDroppedVideo / TakeDroppedFolders
// ---------------------------------------------------------------------------

void TakeDroppedVideo(AppState& app, Project& doc) {
    if (app.droppedVideoPath.empty()) return;
    std::string path;
    path.swap(app.droppedVideoPath);
    if (app.traceRunning.load()) CancelTraceAnalysis(app);
    VideoPlayer& player = gVideoPlayer;
    if (player.loaded) CloseReferenceVideo(player);
    if (!LoadReferenceVideo(player, path)) {
        app.toastText = "Error: couldn't decode this video (codec not supported on this system) \xE2\x80\x94 use an "
                        "H.264 .mp4 proxy";
        app.toastTimer = 8;
        return;
    }
    // The mixer strip's mute joins here: a muted reference track gets 0.
    SetReferenceAudioGain(gAudioEngine.refGain.load());
    doc.totalDuration = std::max(doc.totalDuration, player.duration + player.startOffset.load());
    if (player.fps > 0) doc.fps = player.fps;
    app.viewStart = 0;
    app.viewDuration = doc.totalDuration;
    app.currentTime = 0;
    SeekPlayback(gAudioEngine, 0);
    app.opticalTrace.suggestions.clear();
    std::printf("[UI] dropped video opened: %s\n", path.c_str());
    std::fflush(stdout);
}

void TakeDroppedFolders(AppState& app, SoundLibrary& library) {
    if (app.droppedFolders.empty()) return;
    AddDroppedLibraryFolders(library, app.droppedFolders);
    app.droppedFolders.clear();
}

// ---------------------------------------------------------------------------
// TakeDroppedAudio
// ---------------------------------------------------------------------------

namespace {

// (a) The files become a palette, which the library panel selects.
void MakePaletteFromDrop(AppState& app, SoundLibrary& library, const std::vector<std::string>& files) {
    const int32_t added = CreatePaletteFromFiles(library, files, app.projectPath, "");
    if (added < 1) {
        std::printf("[UI] drop: no usable audio file for a palette\n");
        std::fflush(stdout);
        return;
    }
    const int index = static_cast<int>(library.libraries.size()) - 1;
    app.librarySelection = {index};
    app.libraryIndex = index;
}

// (b)–(e) change the document through the edit operations with an undo
// snapshot first (PushUndoSnapshot, AddSceneBed, AddFilesToBedEvent,
// SelectEvent, UpdateVoiceLevels); until those exist the files are let go
// with a log line, so nothing is changed without a way back.
void WaitForEditOperations(const char* what, const std::vector<std::string>& files) {
    std::printf("[UI] drop: %zu audio file%s for %s: the edit operations are not built yet\n", files.size(),
                files.size() == 1 ? "" : "s", what);
    std::fflush(stdout);
}

}  // namespace

void TakeDroppedAudio(AppState& app, Project& doc, SoundLibrary& library) {
    if (app.droppedAudioFiles.empty()) return;
    std::vector<std::string> files;
    files.swap(app.droppedAudioFiles);
    const AudioDropChoice choice = ChooseAudioDropCase(app, doc, gDropZones);
    app.droppedAltKey = false;
    app.dragHoverScene = -1;
    switch (choice.kind) {
        case AudioDropCase::Palette: MakePaletteFromDrop(app, library, files); break;
        case AudioDropCase::SceneBed: WaitForEditOperations("a scene's Bed", files); break;
        case AudioDropCase::SelectedBed: WaitForEditOperations("the selected Bed", files); break;
        case AudioDropCase::NewBed: WaitForEditOperations("a new Bed", files); break;
        case AudioDropCase::Clips: WaitForEditOperations("Clips", files); break;
    }
}
