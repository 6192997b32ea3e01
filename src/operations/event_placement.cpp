// event_placement.cpp — Beds and Clips at the playhead, and the revert of a bounce.
//
// Index
//   Helpers                OwnMaterialEvent: the event of a new Bed or Clip
//   FirstResultOf
//   AddBedAtPlayhead
//   PlaceAudioFileAsClip / PlaceAudioFilesAsClips
//   PlaceAudioFilesAsBed
//   DropFilesOnSceneBed / DropFilesOnBed
//   RevertBounce
#include "operations/event_placement.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_caches.h"
#include "library/file_registry.h"
#include "library/fingerprint_worker.h"
#include "operations/app_state.h"
#include "operations/edit_steps.h"
#include "operations/event_edits.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"
#include "render/clip_bed_events.h"
#include "render/track_assignment.h"

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

Event OwnMaterialEvent(float time, int shape, float duration, bool stereo) {
    Event e;
    e.time = time;
    e.shape = shape;
    e.duration = duration;
    e.spread = 0;
    e.weightCenter = 0.3f;
    e.userShapeIdx = -1;
    FillCurve(e.weight, 0.5f);
    FillCurve(e.intensity, 1.0f);
    e.stereo = stereo;
    e.locked = true;
    return e;
}

int FirstResultOf(const Project& project, int eventIndex) {
    for (size_t r = 0; r < project.results.size(); ++r)
        if (project.results[r].eventIdx == eventIndex) return int(r);
    return -1;
}

// ---------------------------------------------------------------------------
// AddBedAtPlayhead
// ---------------------------------------------------------------------------

int AddBedAtPlayhead(const DocumentContext& ctx) {
    if (EditRefused(ctx, "Placing a Bed") || !PushUndoSnapshot(ctx)) return -1;
    Project& project = *ctx.project;
    Event bed = OwnMaterialEvent(ctx.currentTime, kShapeBed, 8.0f, project.groups[0].stereo);
    bed.intensityMode = 2;
    const int index = AppendDocumentEvents(*ctx.engine, project.events, {bed});
    // No layer files yet: nothing to render or voice.
    SelectEvent(*ctx.app, index);
    ctx.app->modified = true;
    return index;
}

int AddBedAtPlayhead() { return AddBedAtPlayhead(ProgramDocumentContext()); }

// ---------------------------------------------------------------------------
// PlaceAudioFileAsClip
// ---------------------------------------------------------------------------

namespace {

// A path that does not fit a Clip's file field would name another file (or
// none): it is refused whole, with a log line.
bool FitsClipPath(const std::string& path) {
    if (path.size() < sizeof(Event::pinnedFile)) return true;
    std::printf("[Edit] Clip not placed: its path has %zu bytes, a Clip holds at most %zu: %s\n", path.size(),
                sizeof(Event::pinnedFile) - 1, path.c_str());
    std::fflush(stdout);
    return false;
}

// Appends a locked Clip of the file at the context's time, builds its layer
// and takes the layer's length. The caller took the undo step.
int AppendClipForFile(const DocumentContext& ctx, const std::string& path) {
    Project& project = *ctx.project;
    Event clip = OwnMaterialEvent(ctx.currentTime, kShapeClip, 2.0f, project.groups[1].stereo);
    CopyTextField(clip.pinnedFile, path);
    clip.pinnedFileId = FileRegistry::Instance().FileRefForPath(path).id;  // empty when unreadable
    clip.hasPinnedFiles = true;
    const int index = AppendDocumentEvents(*ctx.engine, project.events, {clip});
    RebuildClipEvent(project, index);
    GetWaveformPeaks(path.c_str());

    Event& placed = project.events[size_t(index)];
    placed.duration = std::max(placed.duration, 0.1f);
    const int layer = FirstResultOf(project, index);
    if (layer >= 0) placed.duration = project.results[size_t(layer)].duration;
    return index;
}

}  // namespace

int PlaceAudioFileAsClip(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    if (!app.openFileDialog || EditRefused(ctx, "Placing a Clip")) return -1;
    const std::string path = app.openFileDialog("Place Audio File", "wav");
    if (path.empty()) return -1;
    if (!FitsClipPath(path)) {
        app.toastText = "Path too long to place as a Clip";
        app.toastTimer = 4;
        return -1;
    }
    if (!PushUndoSnapshot(ctx)) return -1;
    const int index = AppendClipForFile(ctx, path);
    AssignTracks(*ctx.project);
    SelectEvent(app, index);
    app.deferredRebuild.store(true);
    app.modified = true;
    return index;
}

int PlaceAudioFileAsClip() { return PlaceAudioFileAsClip(ProgramDocumentContext()); }

std::vector<int> PlaceAudioFilesAsClips(const DocumentContext& ctx, const std::vector<std::string>& paths) {
    std::vector<int> added;
    if (EditRefused(ctx, "Placing Clips")) return added;
    std::vector<std::string> usable;
    for (const std::string& path : paths)
        if (!path.empty() && FitsClipPath(path)) usable.push_back(path);
    if (usable.empty() || !PushUndoSnapshot(ctx)) return added;
    AppState& app = *ctx.app;
    ClearSelection(app);
    for (const std::string& path : usable) added.push_back(AppendClipForFile(ctx, path));
    SelectEvents(app, added);
    app.selectedEvent = added.back();
    // Tracks, used tracks, a voice per new layer and the levels, then the
    // playhead where it was, so the new Clips play at once.
    SyncVoicesWithResults(ctx, false);
    SettlePlayhead(*ctx.engine, ctx.currentTime);
    app.modified = true;
    return added;
}

// ---------------------------------------------------------------------------
// PlaceAudioFilesAsBed
// ---------------------------------------------------------------------------

int PlaceAudioFilesAsBed(const DocumentContext& ctx, const std::vector<std::string>& paths) {
    if (paths.empty() || EditRefused(ctx, "Placing a Bed") || !PushUndoSnapshot(ctx)) return -1;
    const int index = AddEvent(ctx, ctx.currentTime, kShapeBed, 0.5f);
    if (index < 0) return -1;
    Project& project = *ctx.project;
    // The designer's own layers: a render leaves the Bed as it is.
    project.events[size_t(index)].locked = true;
    AddFilesToBedEvent(project, index, paths, ctx.library);
    AppState& app = *ctx.app;
    SelectEvent(app, index);
    app.modified = true;
    app.pendingBedLoadEvent = index;
    return index;
}

// ---------------------------------------------------------------------------
// DropFilesOnSceneBed / DropFilesOnBed
// ---------------------------------------------------------------------------

namespace {

// The files as layers of the Bed, which the "Loading bed…" task then voices.
void AddDroppedLayers(const DocumentContext& ctx, int bed, const std::vector<std::string>& paths) {
    AddFilesToBedEvent(*ctx.project, bed, paths, ctx.library);
    FinishEdit(ctx, EditReach::Document);
    ctx.app->pendingBedLoadEvent = bed;
}

}  // namespace

int DropFilesOnSceneBed(const DocumentContext& ctx, int scene, const std::vector<std::string>& paths) {
    // The scene is looked at before the undo step, so that a drop on a scene
    // that cannot carry a Bed leaves no empty step behind.
    if (paths.empty() || !SceneTakesBackground(*ctx.project, scene) || !BeginEdit(ctx, "Drop on a scene")) return -1;
    const int bed = AddSceneBed(ctx, scene);
    if (bed < 0) return -1;
    AddDroppedLayers(ctx, bed, paths);
    SelectEvent(*ctx.app, bed);
    return bed;
}

bool DropFilesOnBed(const DocumentContext& ctx, int bed, const std::vector<std::string>& paths) {
    const Project& project = *ctx.project;
    if (paths.empty() || bed < 0 || size_t(bed) >= project.events.size() ||
        project.events[size_t(bed)].shape != kShapeBed || !BeginEdit(ctx, "Drop on a Bed"))
        return false;
    AddDroppedLayers(ctx, bed, paths);
    return true;
}

// ---------------------------------------------------------------------------
// RevertBounce
// ---------------------------------------------------------------------------

bool RevertBounce(const DocumentContext& ctx, int eventIndex) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    if (eventIndex < 0 || size_t(eventIndex) >= project.events.size()) return false;
    if (project.events[size_t(eventIndex)].shape != kShapeClip ||
        project.events[size_t(eventIndex)].bounceSource.empty())
        return false;
    if (EditRefused(ctx, "Revert to Source")) return false;

    // The sources leave with the Clip: keep them before it goes.
    const std::vector<Event> sources = project.events[size_t(eventIndex)].bounceSource;
    const float clipTime = project.events[size_t(eventIndex)].time;
    if (!PushUndoSnapshot(ctx) || !DeleteEventWithVoices(ctx, eventIndex)) return false;

    std::vector<Event> restored = sources;
    for (Event& e : restored) {
        e.time = clipTime + e.time;
        FingerprintPinnedFiles(e);
    }
    const int first = AppendDocumentEvents(*ctx.engine, project.events, restored);
    std::vector<int> added, toRender;
    for (int k = 0; k < int(restored.size()); ++k) {
        const int e = first + k;
        added.push_back(e);
        const int shape = project.events[size_t(e)].shape;
        if (shape == kShapeClip) {
            RebuildClipEvent(project, e);
            const int layer = FirstResultOf(project, e);
            if (layer >= 0) project.events[size_t(e)].duration = project.results[size_t(layer)].duration;
        } else if (shape == kShapeBed) {
            RebuildBedEvent(project, e);
        } else {
            toRender.push_back(e);
        }
    }
    AssignTracks(project);
    // The restored Clips and Beds get their voices; the others follow the tracks.
    SyncVoicesWithResults(ctx, false);
    if (!toRender.empty()) {
        app.renderRequestList = toRender;
        app.renderRequestKind = 4;
    }
    SettlePlayhead(*ctx.engine, ctx.currentTime);
    app.deferredRebuild.store(true);
    SelectEvents(app, added);
    app.modified = true;
    return true;
}

bool RevertBounce(int eventIndex) { return RevertBounce(ProgramDocumentContext(), eventIndex); }
