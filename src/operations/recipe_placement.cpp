// recipe_placement.cpp — recipes and chains onto the timeline.
//
// Index
//   Helpers                 BuildClipLayer, ChainEventToEvent
//   ChainGroupName
//   PlaceRecipeAtPlayhead
//   InstantiateChain / PlaceChainAtPlayhead
#include "operations/recipe_placement.h"

#include <cstdio>
#include <set>
#include <string_view>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_caches.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/event_edits.h"
#include "operations/event_placement.h"
#include "operations/recipe_lists.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"
#include "recipes/chain_file.h"
#include "recipes/event_preset.h"
#include "render/clip_bed_events.h"

namespace {

constexpr size_t kFolderBytes = sizeof(Event::folder) - 1;

// The one layer of a placed Clip from its file, the file's waveform for the
// timeline, and the Clip as long as its layer.
void BuildClipLayer(Project& project, int eventIndex) {
    RebuildClipEvent(project, eventIndex);
    Event& clip = project.events[size_t(eventIndex)];
    GetWaveformPeaks(clip.pinnedFile);
    const int layer = FirstResultOf(project, eventIndex);
    if (layer >= 0) clip.duration = project.results[size_t(layer)].duration;
}

bool HasClipFile(const Event& e) { return e.shape == kShapeClip && e.pinnedFile[0] != '\0'; }

// A chain event as a new event at `time` in `folder`. A Clip plays its file,
// locked; every other shape is unlocked, and a Bed plays its layer files.
Event ChainEventToEvent(const ChainEvent& ce, float time, const std::string& folder) {
    const EventPreset& p = ce.preset;
    Event e;
    e.time = time;
    e.duration = p.duration;
    CopyPresetSettingsToEvent(p, e);
    e.gain = p.gain;
    e.syncOffset = ce.syncOffset;
    e.hero = ce.hero;
    e.alloy = ce.alloy;
    CopyTextField(e.folder, folder);
    if (p.shape == kShapeClip) {
        CopyTextField(e.pinnedFile, TextFieldView(p.pinnedFile));
        e.pinnedFileId = p.pinnedFileId;
        e.hasPinnedFiles = true;
        e.locked = true;
        CopyClipTreatmentToEvent(p, e);
    } else if (p.shape == kShapeBed) {
        CopyPinnedListsToEvent(p, e);
    }
    return e;
}

}  // namespace

// ---------------------------------------------------------------------------
// ChainGroupName
// ---------------------------------------------------------------------------

std::string ChainGroupName(const std::vector<Event>& events, const char* name) {
    std::set<std::string_view> taken;
    for (const Event& e : events) {
        std::string_view folder = TextFieldView(e.folder);
        if (!folder.empty()) taken.insert(folder);
    }
    const std::string_view full = name ? std::string_view(name) : std::string_view();
    const std::string_view base = full.substr(0, Utf8SafeCutLength(full, kFolderBytes));
    if (taken.count(base) == 0) return std::string(base);
    // The number always fits: the name gives way to it, so the search ends.
    for (int n = 2;; ++n) {
        char suffix[16];
        const size_t length = size_t(std::snprintf(suffix, sizeof suffix, " %d", n));
        std::string candidate(base.substr(0, Utf8SafeCutLength(base, kFolderBytes - length)));
        candidate.append(suffix, length);
        if (taken.count(candidate) == 0) return candidate;
    }
}

// ---------------------------------------------------------------------------
// PlaceRecipeAtPlayhead
// ---------------------------------------------------------------------------

int PlaceRecipeAtPlayhead(const DocumentContext& ctx, const std::vector<EventPreset>& recipes, int index) {
    if (index < 0 || size_t(index) >= recipes.size()) return -1;
    if (EditRefused(ctx, "Placing a recipe") || !PushUndoSnapshot(ctx)) return -1;
    const EventPreset& recipe = recipes[size_t(index)];
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    const float now = ctx.currentTime;

    Event e = MakeEvent(project, now, recipe.shape, 0.3f);
    ApplyPresetToEvent(e, recipe);
    e.time = now;
    const bool bedWithFiles = e.shape == kShapeBed && !e.pinnedFiles.empty();
    if (bedWithFiles) {
        // Automatic weights take each file's brightness as the library knows
        // it (no analysis here), or stay automatic for files it does not know.
        if (e.bedLayerWeight.empty()) {
            const std::vector<LibraryIndex>* libraries = ctx.library ? &ctx.library->libraries : nullptr;
            e.bedLayerWeight.assign(e.pinnedFiles.size(), -1.0f);
            for (size_t k = 0; k < e.pinnedFiles.size(); ++k) {
                const std::string noId;
                const std::string& id = k < e.pinnedFileIds.size() ? e.pinnedFileIds[k] : noId;
                e.bedLayerWeight[k] = GetFileBrightness(e.pinnedFiles[k], id, libraries, false);
            }
        }
        e.locked = true;
    }
    const int n = AppendDocumentEvents(*ctx.engine, project.events, {e});
    SelectEvent(app, n);
    app.scrollToSelection = true;

    if (bedWithFiles) {
        RebuildBedEvent(project, n);
        app.pendingBedLoadEvent = n;  // the interface loads its audio as a task
    } else if (HasClipFile(project.events[size_t(n)])) {
        BuildClipLayer(project, n);
        SyncVoicesWithResults(ctx, false);
        SettlePlayhead(*ctx.engine, now);
    }
    return n;
}

int PlaceRecipeAtPlayhead(int index) { return PlaceRecipeAtPlayhead(ProgramDocumentContext(), gRecipes, index); }

// ---------------------------------------------------------------------------
// InstantiateChain / PlaceChainAtPlayhead
// ---------------------------------------------------------------------------

int InstantiateChain(const DocumentContext& ctx, const Chain& chain, float t) {
    if (chain.events.empty() || EditRefused(ctx, "Placing a chain")) return -1;
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    const std::string group = ChainGroupName(project.events, chain.name);

    std::vector<Event> added;
    added.reserve(chain.events.size());
    for (const ChainEvent& ce : chain.events) added.push_back(ChainEventToEvent(ce, t + ce.relTime, group));
    const int first = AppendDocumentEvents(*ctx.engine, project.events, added);
    // The new events select and move as one.
    if (!group.empty()) app.linkedGroups.insert(group);

    std::vector<int> indices, clips;
    for (int k = 0; k < int(added.size()); ++k) {
        const int e = first + k;
        indices.push_back(e);
        if (!HasClipFile(project.events[size_t(e)])) continue;
        BuildClipLayer(project, e);
        clips.push_back(e);
    }
    if (!clips.empty()) SyncVoicesWithResults(ctx, false);
    SettlePlayhead(*ctx.engine, ctx.currentTime);
    SelectEvents(app, indices);
    return first;
}

int PlaceChainAtPlayhead(const DocumentContext& ctx, const std::vector<Chain>& chains, int index) {
    if (index < 0 || size_t(index) >= chains.size()) return -1;
    const Chain& chain = chains[size_t(index)];
    // An empty chain (an unreadable file) would only leave an empty undo step.
    if (chain.events.empty()) return -1;
    if (EditRefused(ctx, "Placing a chain") || !PushUndoSnapshot(ctx)) return -1;
    return InstantiateChain(ctx, chain, ctx.currentTime);
}

int PlaceChainAtPlayhead(int index) { return PlaceChainAtPlayhead(ProgramDocumentContext(), gChains, index); }
