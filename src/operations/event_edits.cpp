// event_edits.cpp — edits of events, layers, banned files and scenes.
//
// Index
//   Helpers                 index checks, the scene background event
//   EditRefused / AppendEvents / AddEvent / DeleteEvent / DeleteEventWithVoices
//   AddSceneBed / AddSceneFill
//   AddFilesToBedEvent
//   PinFileToEvent / UnpinFileFromEvent
//   IsNameInList / BanFile / UnbanFile
//   RenameScene
#include "operations/event_edits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_caches.h"
#include "library/file_registry.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/selection.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/engine_voices.h"
#include "render/clip_bed_events.h"

namespace {

template <typename T>
bool InRange(const std::vector<T>& list, int index) {
    return index >= 0 && size_t(index) < list.size();
}

// The scene when it can carry a background event, else null. A scene that
// does not run forwards would give an event of no (or negative) length.
const Scene* BackgroundScene(const Project& project, int scene) {
    if (!InRange(project.scenes, scene)) return nullptr;
    const Scene& s = project.scenes[size_t(scene)];
    if (!std::isfinite(s.inTime) || !std::isfinite(s.outTime) || !(s.outTime > s.inTime)) {
        std::printf("[Edit] scene %d runs from %.3f s to %.3f s: no background event for it\n", scene,
                    double(s.inTime), double(s.outTime));
        std::fflush(stdout);
        return nullptr;
    }
    return &s;
}

// The fields both scene background events share.
void LinkToScene(Event& e, const Scene& s, int scene) {
    e.sceneLink = scene;
    e.sceneFill = true;
    e.sceneCrossfade = 1;
    e.syncOffset = 0;
    e.duration = s.outTime - s.inTime;
    FillCurve(e.intensity, 1.0f);
    CopyTextField(e.folder, TextFieldView(s.name));
}

}  // namespace

// ---------------------------------------------------------------------------
// EditRefused / AddEvent / DeleteEvent / DeleteEventWithVoices
// ---------------------------------------------------------------------------

bool EditRefused(const DocumentContext& ctx, const char* what) {
    if (DocumentMayChange(*ctx.app)) return false;
    std::printf("[Edit] %s refused while a task or an export owns the document\n", what);
    std::fflush(stdout);
    return true;
}

int AppendEvents(const DocumentContext& ctx, const std::vector<Event>& events) {
    return AppendDocumentEvents(*ctx.engine, ctx.project->events, events);
}

int AddEvent(const DocumentContext& ctx, float time, int shape, float weightCenter) {
    if (EditRefused(ctx, "Adding an event")) return -1;
    return AppendEvents(ctx, {MakeEvent(*ctx.project, time, shape, weightCenter)});
}

bool DeleteEvent(const DocumentContext& ctx, int eventIndex) {
    Project& project = *ctx.project;
    if (!InRange(project.events, eventIndex) || EditRefused(ctx, "Deleting an event")) return false;
    std::erase_if(project.results, [eventIndex](const RenderResult& r) { return r.eventIdx == eventIndex; });
    for (RenderResult& r : project.results)
        if (r.eventIdx > eventIndex) --r.eventIdx;
    project.publishedResultCount.store(int32_t(project.results.size()));
    project.resultsRevision += 1;

    // The remaining events are copied unlocked and swapped in under the lock;
    // the old list is dropped after it. Each voice's curve follows its
    // layer's event in the remaining list at once: the voices' own event
    // indices are renumbered only afterwards (RefreshEventVoices), and a
    // voice of a later event repointed by its old index would play the next
    // event's curve meanwhile, at another level.
    std::vector<Event> remaining;
    remaining.reserve(project.events.size() - 1);
    remaining.insert(remaining.end(), project.events.begin(), project.events.begin() + eventIndex);
    remaining.insert(remaining.end(), project.events.begin() + eventIndex + 1, project.events.end());
    ReplaceDocumentEvents(*ctx.engine, project.events, remaining, project.results);
    return true;
}

bool DeleteEventWithVoices(const DocumentContext& ctx, int eventIndex) {
    return DeleteEventsWithVoices(ctx, {eventIndex});
}

bool DeleteEventsWithVoices(const DocumentContext& ctx, const std::vector<int>& eventIndices) {
    Project& project = *ctx.project;
    const int formerCount = int(project.events.size());
    std::vector<int> doomed;
    for (int e : eventIndices)
        if (InRange(project.events, e)) doomed.push_back(e);
    std::sort(doomed.begin(), doomed.end());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    if (doomed.empty() || EditRefused(ctx, "Deleting events")) return false;

    // Old event index -> new one, -1 for a deleted event: the layers are
    // dropped and renumbered in one pass, whatever the count.
    std::vector<int> newIndex(size_t(formerCount), 0);
    for (int e : doomed) newIndex[size_t(e)] = -1;
    int next = 0;
    for (int& n : newIndex) n = n < 0 ? -1 : next++;
    auto gone = [&](const RenderResult& r) {
        return r.eventIdx >= 0 && r.eventIdx < formerCount && newIndex[size_t(r.eventIdx)] < 0;
    };
    std::erase_if(project.results, gone);
    for (RenderResult& r : project.results)
        if (r.eventIdx >= 0 && r.eventIdx < formerCount) r.eventIdx = newIndex[size_t(r.eventIdx)];
    project.publishedResultCount.store(int32_t(project.results.size()));
    project.resultsRevision += 1;

    // As DeleteEvent: copied unlocked, swapped in once under the lock, each
    // voice's curve following its layer's event in the remaining list.
    std::vector<Event> remaining;
    remaining.reserve(project.events.size() - doomed.size());
    for (int e = 0; e < formerCount; ++e)
        if (newIndex[size_t(e)] >= 0) remaining.push_back(project.events[size_t(e)]);
    ReplaceDocumentEvents(*ctx.engine, project.events, remaining, project.results);

    // The highest first, so each index is the one the selection still holds.
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) RemoveSelectionIndex(*ctx.app, *it);
    RefreshEventVoices(ctx, doomed, formerCount);
    // A deletion changes the loudest moment: every gain as a sync leaves it.
    SettleVoiceLevels(ctx, {}, false);
    return true;
}

// ---------------------------------------------------------------------------
// AddSceneBed / AddSceneFill
// ---------------------------------------------------------------------------

int AddSceneBed(const DocumentContext& ctx, int scene) {
    const Project& project = *ctx.project;
    const Scene* s = BackgroundScene(project, scene);
    if (!s || EditRefused(ctx, "A scene Bed")) return -1;
    Event e;
    e.time = s->inTime;
    e.shape = kShapeBed;
    e.spread = 0;
    e.weightCenter = 0.5f;
    e.userShapeIdx = -1;
    e.intensityMode = 2;
    FillCurve(e.weight, 0.5f);
    e.stereo = project.groups[0].stereo;
    e.locked = true;
    LinkToScene(e, *s, scene);
    return AppendEvents(ctx, {e});
}

bool SceneTakesBackground(const Project& project, int scene) { return BackgroundScene(project, scene) != nullptr; }

int AddSceneFill(const DocumentContext& ctx, int scene) {
    const Project& project = *ctx.project;
    const Scene* s = BackgroundScene(project, scene);
    if (!s || EditRefused(ctx, "A scene Fill")) return -1;
    Event e = MakeEvent(project, s->inTime, kShapeFill, 0.5f);
    LinkToScene(e, *s, scene);
    e.intensityMode = 1;
    if (s->keywords[0] != '\0') CopyTextField(e.keywords, TextFieldView(s->keywords));
    return AppendEvents(ctx, {e});  // left unlocked, so that it renders
}

// ---------------------------------------------------------------------------
// AddFilesToBedEvent
// ---------------------------------------------------------------------------

int AddFilesToBedEvent(Project& project, int eventIndex, const std::vector<std::string>& paths,
                       const SoundLibrary* library) {
    if (!InRange(project.events, eventIndex) || project.events[size_t(eventIndex)].shape != kShapeBed) return 0;
    Event& bed = project.events[size_t(eventIndex)];
    const size_t layers = bed.pinnedFiles.size();
    bed.pinnedFileIds.resize(layers);
    bed.bedLayerLoop.resize(layers, 0);
    bed.bedLayerWeight.resize(layers, -1.0f);

    FileRegistry& registry = FileRegistry::Instance();
    int added = 0;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        const FileId id = registry.FileRefForPath(path).id;
        bool present = false;
        for (size_t k = 0; k < bed.pinnedFiles.size() && !present; ++k)
            present = bed.pinnedFiles[k] == path || (!id.empty() && bed.pinnedFileIds[k] == id);
        if (present) continue;
        bed.pinnedFiles.push_back(path);
        bed.pinnedFileIds.push_back(id);
        bed.bedLayerLoop.push_back(0);
        bed.bedLayerWeight.push_back(GetFileBrightness(path, id, library ? &library->libraries : nullptr, false));
        ++added;
    }
    if (added > 0) {
        bed.hasPinnedFiles = true;
        RebuildBedEvent(project, eventIndex);
    }
    return added;
}

// ---------------------------------------------------------------------------
// PinFileToEvent / UnpinFileFromEvent
// ---------------------------------------------------------------------------

void PinFileToEvent(Event& event, const std::string& path, const std::string& fileId) {
    if (!ContainsString(event.pinnedFiles, path)) {
        // A list read short from a file must not shift the new id onto
        // another file.
        event.pinnedFileIds.resize(event.pinnedFiles.size());
        if (event.shape == kShapeBed) {
            event.bedLayerLoop.resize(event.pinnedFiles.size(), 0);
            event.bedLayerWeight.resize(event.pinnedFiles.size(), -1.0f);
            event.bedLayerLoop.push_back(0);
            event.bedLayerWeight.push_back(-1.0f);
        }
        event.pinnedFiles.push_back(path);
        event.pinnedFileIds.push_back(fileId.empty() ? FileRegistry::Instance().FileRefForPath(path).id : fileId);
    }
    event.hasPinnedFiles = !event.pinnedFiles.empty();
}

void UnpinFileFromEvent(Event& event, std::string_view path) {
    auto eraseAt = [](auto& list, size_t k) {
        if (k < list.size()) list.erase(list.begin() + std::ptrdiff_t(k));
    };
    for (size_t k = event.pinnedFiles.size(); k-- > 0;) {
        if (event.pinnedFiles[k] != path) continue;
        eraseAt(event.pinnedFiles, k);
        eraseAt(event.pinnedFileIds, k);
        // A Bed's loop and weight lists run beside its layers.
        eraseAt(event.bedLayerLoop, k);
        eraseAt(event.bedLayerWeight, k);
    }
    event.hasPinnedFiles = !event.pinnedFiles.empty();
}

// ---------------------------------------------------------------------------
// IsNameInList / BanFile / UnbanFile
// ---------------------------------------------------------------------------

bool IsNameInList(const Project& project, std::string_view path) {
    for (const std::string& banned : project.bannedFiles)
        if (banned == path) return true;
    return false;
}

void BanFile(Project& project, const std::string& path, const std::string& fileId) {
    if (!IsNameInList(project, path)) {
        project.bannedFileIds.resize(project.bannedFiles.size());
        project.bannedFiles.push_back(path);
        project.bannedFileIds.push_back(fileId.empty() ? FileRegistry::Instance().FileRefForPath(path).id
                                                       : fileId);
    }
    for (RenderResult& r : project.results)
        if (r.filepath == path) SetMuteReason(r, kMuteBan, true);
}

void UnbanFile(Project& project, std::string_view path) {
    for (size_t k = project.bannedFiles.size(); k-- > 0;) {
        if (project.bannedFiles[k] != path) continue;
        project.bannedFiles.erase(project.bannedFiles.begin() + std::ptrdiff_t(k));
        if (k < project.bannedFileIds.size())
            project.bannedFileIds.erase(project.bannedFileIds.begin() + std::ptrdiff_t(k));
    }
}

// ---------------------------------------------------------------------------
// RenameScene
// ---------------------------------------------------------------------------

void RenameScene(Project& project, int scene, const char* name) {
    if (!name || !InRange(project.scenes, scene)) return;
    CopyTextField(project.scenes[size_t(scene)].name, name);
    for (Event& e : project.events)
        if (e.sceneFill && e.sceneLink == scene) CopyTextField(e.folder, name);
}
