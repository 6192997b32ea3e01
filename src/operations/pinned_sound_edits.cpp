// pinned_sound_edits.cpp — recipes applied, a Clip's file and offset, a
// Bed's layer list, each as one edit.
//
// Index
//   Helpers
//   Recipes
//   Clips
//   Bed layers
#include "operations/pinned_sound_edits.h"

#include <algorithm>
#include <cmath>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_caches.h"
#include "library/file_registry.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/edit_steps.h"
#include "operations/event_edits.h"
#include "operations/event_voices.h"
#include "operations/transport_control.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "recipes/event_preset.h"
#include "render/clip_bed_events.h"

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

namespace {

// The Clip made again from its file; the rebuild ran the track assignment,
// so the finish syncs every voice, not only the Clip's.
void RefreshClip(const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    const std::string path(TextFieldView(project.events[size_t(event)].pinnedFile));
    RebuildClipEvent(project, event);
    EraseWaveformPeaks(path);
}

bool BeginBedEdit(const DocumentContext& ctx, int event, int layer, const char* what) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return false;
    const Event& ev = project.events[size_t(event)];
    if (layer < 0 || size_t(layer) >= ev.pinnedFiles.size()) return false;
    if (!BeginEdit(ctx, what)) return false;
    EvenBedLists(project.events[size_t(event)]);
    return true;
}

// The Bed's layers follow its list now; their voices on the next frame,
// through the one rebuild every Bed change takes.
void FinishBedEdit(const DocumentContext& ctx, int event) {
    RebuildBedEvent(*ctx.project, event);
    ctx.app->deferredRebuild.store(true);
    FinishEdit(ctx, EditReach::Document);
}

}  // namespace

// ---------------------------------------------------------------------------
// Recipes
// ---------------------------------------------------------------------------

bool ApplyRecipeToEvent(const DocumentContext& ctx, int event, const EventPreset& recipe) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || !BeginEdit(ctx, "Recipe")) return false;
    Event& ev = project.events[size_t(event)];
    ApplyPresetToEvent(ev, recipe);
    if (ev.shape == kShapeClip && ev.pinnedFile[0] != '\0') {
        RefreshClip(ctx, event);
        FinishEdit(ctx, EditReach::Voices);
        SettleTransport(ctx);
        return true;
    }
    if (ev.shape == kShapeBed) {
        ev.locked = true;
        RebuildBedEvent(project, event);
        ctx.app->deferredRebuild.store(true);
    }
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool ApplyRecipeToSelection(const DocumentContext& ctx, const std::vector<int>& selected,
                            const EventPreset& recipe) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    const std::vector<int> valid = ValidOnly(project, selected);
    if (valid.empty() || !BeginEdit(ctx, "Recipe")) return false;
    app.renderRequestList.clear();
    bool clips = false;
    for (int e : valid) {
        ApplyPresetToEvent(project.events[size_t(e)], recipe);
        if (project.events[size_t(e)].shape == kShapeClip) {
            RebuildClipEvent(project, e);
            clips = true;
        } else {
            app.renderRequestList.push_back(e);
        }
    }
    if (!app.renderRequestList.empty()) app.renderRequestKind = 4;
    FinishEdit(ctx, clips ? EditReach::Voices : EditReach::Document);
    if (!clips) CheckPlaybackCacheIntegrity(ctx);
    SettleTransport(ctx);
    return true;
}

// ---------------------------------------------------------------------------
// Clips
// ---------------------------------------------------------------------------

bool ReplaceClipFile(const DocumentContext& ctx, int event, const std::string& path) {
    Project& project = *ctx.project;
    if (path.empty() || !ValidEvent(project, event) || !BeginEdit(ctx, "Replace file")) return false;
    Event& ev = project.events[size_t(event)];
    const std::string old(TextFieldView(ev.pinnedFile));
    const FileRef ref = FileRegistry::Instance().FileRefForPath(path);
    CopyTextField(ev.pinnedFile, path);
    ev.pinnedFileId = ref.id;
    ev.hasPinnedFiles = true;  // the single pin is saved only with the flag
    // The old file's peaks would be drawn for the new one.
    EraseWaveformPeaks(old);
    RefreshClip(ctx, event);
    FinishEdit(ctx, EditReach::Voices);
    SettleTransport(ctx);
    return true;
}

bool SetClipOffset(const DocumentContext& ctx, int event, float offset) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return false;
    Event& ev = project.events[size_t(event)];
    const float next = std::clamp(offset, 0.0f, std::max(ev.duration, 0.0f));
    const float diff = next - ev.syncOffset;
    if (std::fabs(diff) <= 0.0001f) return false;
    // The sync point stays; what sounds slides under it.
    EventMoves moves;
    moves.seconds.assign(project.events.size(), 0.0f);
    moves.seconds[size_t(event)] = -diff;
    moves.eventTimes = false;
    moves.what = "Clip offset";
    if (!MoveEventsWithVoices(ctx, moves)) return false;
    ev.syncOffset = next;
    // The voices moved with their layers (MoveEventsWithVoices); a move's
    // levels follow the level pass every move shares.
    FinishEdit(ctx, EditReach::Document);
    return true;
}

// ---------------------------------------------------------------------------
// Bed layers
// ---------------------------------------------------------------------------

void EvenBedLists(Event& event) {
    const size_t n = event.pinnedFiles.size();
    event.pinnedFileIds.resize(n);
    event.bedLayerLoop.resize(n, 0);
    event.bedLayerWeight.resize(n, -1.0f);
}

bool MoveBedLayer(const DocumentContext& ctx, int event, int from, int to) {
    if (from == to || !ValidEvent(*ctx.project, event)) return false;
    if (to < 0 || size_t(to) >= ctx.project->events[size_t(event)].pinnedFiles.size()) return false;
    if (!BeginBedEdit(ctx, event, from, "Move layer")) return false;
    Event& ev = ctx.project->events[size_t(event)];
    MoveListItem(from, to, ev.pinnedFiles);
    MoveListItem(from, to, ev.pinnedFileIds);
    MoveListItem(from, to, ev.bedLayerLoop);
    MoveListItem(from, to, ev.bedLayerWeight);
    FinishBedEdit(ctx, event);
    return true;
}

bool RemoveBedLayer(const DocumentContext& ctx, int event, int layer) {
    if (!BeginBedEdit(ctx, event, layer, "Remove layer")) return false;
    Event& ev = ctx.project->events[size_t(event)];
    ev.pinnedFiles.erase(ev.pinnedFiles.begin() + layer);
    ev.pinnedFileIds.erase(ev.pinnedFileIds.begin() + layer);
    ev.bedLayerLoop.erase(ev.bedLayerLoop.begin() + layer);
    ev.bedLayerWeight.erase(ev.bedLayerWeight.begin() + layer);
    FinishBedEdit(ctx, event);
    return true;
}

bool ToggleBedLayerLoop(const DocumentContext& ctx, int event, int layer) {
    if (!BeginBedEdit(ctx, event, layer, "Loop layer")) return false;
    uint8_t& loop = ctx.project->events[size_t(event)].bedLayerLoop[size_t(layer)];
    loop = loop ? 0 : 1;
    FinishBedEdit(ctx, event);
    return true;
}

bool ReplaceBedLayer(const DocumentContext& ctx, int event, int layer, const std::string& path) {
    if (path.empty() || !BeginBedEdit(ctx, event, layer, "Replace layer")) return false;
    Event& ev = ctx.project->events[size_t(event)];
    const FileRef ref = FileRegistry::Instance().FileRefForPath(path);
    ev.pinnedFiles[size_t(layer)] = path;
    ev.pinnedFileIds[size_t(layer)] = ref.id;
    GetFileBrightness(path, ref.id, ctx.library ? &ctx.library->libraries : nullptr, true);
    FinishBedEdit(ctx, event);
    return true;
}

bool AddBedLayers(const DocumentContext& ctx, int event, const std::vector<std::string>& paths) {
    Project& project = *ctx.project;
    if (paths.empty() || !ValidEvent(project, event) || !BeginEdit(ctx, "Add layer")) return false;
    AddFilesToBedEvent(project, event, paths, ctx.library);
    ctx.app->deferredRebuild.store(true);
    FinishEdit(ctx, EditReach::Document);
    return true;
}
