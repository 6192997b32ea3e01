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
#include <cmath>
#include <cstdio>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "library/library_folders.h"
#include "library/palettes.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/event_placement.h"
#include "operations/reference_video.h"
#include "operations/trace_job.h"
#include "operations/transport_control.h"
#include "picture/reference_audio.h"
#include "picture/video_player.h"
#include "platform/file_util.h"
#include "playback/audio_engine.h"

// ---------------------------------------------------------------------------
// Drop zones
// ---------------------------------------------------------------------------

DropZones gDropZones;

void ClearDropZones(DropZones& zones) { zones.zones.clear(); }

void NoteDropZone(DropZoneKind kind, const LayoutRect& rect, int scene) {
    DropZone zone;
    zone.kind = kind;
    zone.rect = rect;
    zone.scene = scene;
    NoteDropZone(zone);
}

void NoteDropZone(const DropZone& zone) { gDropZones.zones.push_back(zone); }

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
    // On the timeline the drop marker showed where the sounds go: the
    // playhead moves there first.
    if (const DropZone* z = ZoneAt(zones, DropZoneKind::Timeline, x, y)) {
        if (z->rect.width > 0 && z->viewDuration > 0) {
            const float t = z->viewStart + (x - z->rect.x) / z->rect.width * z->viewDuration;
            const float fps = z->fps > 0 ? z->fps : 25.0f;
            choice.time = std::max(0.0f, std::round(t * fps) / fps);
        }
    }
    return choice;
}

// ---------------------------------------------------------------------------
// TakeDroppedVideo / TakeDroppedFolders
// ---------------------------------------------------------------------------

void TakeDroppedVideo(AppState& app, Project& doc) {
    if (app.droppedVideoPath.empty()) return;
    std::string path;
    path.swap(app.droppedVideoPath);
    OpenReferenceVideo(app, doc, gAudioEngine, gVideoPlayer, path);
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

void Log(const char* what, const std::vector<std::string>& files) {
    std::printf("[UI] drop: %zu audio file%s for %s\n", files.size(), files.size() == 1 ? "" : "s", what);
    std::fflush(stdout);
}

}  // namespace

void TakeDroppedAudio(const DocumentContext& ctx, SoundLibrary& library) {
    AppState& app = *ctx.app;
    if (app.droppedAudioFiles.empty()) return;
    std::vector<std::string> files;
    files.swap(app.droppedAudioFiles);
    const AudioDropChoice choice = ChooseAudioDropCase(app, *ctx.project, gDropZones);
    app.droppedAltKey = false;
    app.dragHoverScene = -1;
    DocumentContext at = ctx;
    at.library = &library;
    if (choice.time >= 0 && (choice.kind == AudioDropCase::NewBed || choice.kind == AudioDropCase::Clips)) {
        const float t = std::min(choice.time, std::max(ctx.project->totalDuration, 0.0f));
        SeekTransport(app, *ctx.engine, &gVideoPlayer, t);
        at.currentTime = app.currentTime;
    }
    switch (choice.kind) {
        case AudioDropCase::Palette: MakePaletteFromDrop(app, library, files); break;
        case AudioDropCase::SceneBed:
            Log("a scene's Bed", files);
            DropFilesOnSceneBed(at, choice.scene, files);
            break;
        case AudioDropCase::SelectedBed:
            Log("the selected Bed", files);
            DropFilesOnBed(at, app.selectedEvent, files);
            break;
        case AudioDropCase::NewBed:
            Log("a new Bed", files);
            PlaceAudioFilesAsBed(at, files);
            break;
        case AudioDropCase::Clips:
            Log("Clips", files);
            PlaceAudioFilesAsClips(at, files);
            break;
    }
}
