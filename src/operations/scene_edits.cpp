// scene_edits.cpp — inserting, splitting, deleting, renaming, selecting and
// drawing scenes, and their background events.
//
// Index
//   Helpers
//   NextSceneName / InsertScene
//   AddSceneFromSpan / NewSceneFromWorkArea / SplitSceneAtPlayhead
//   DeleteScene
//   Rename
//   Selection and zoom
//   Edges and drawing bounds
//   Backgrounds
//   SceneAtTime / SceneSpanMatches
#include "operations/scene_edits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/event_edits.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "operations/edit_steps.h"
#include "operations/voice_maintenance.h"
#include "recipes/event_preset.h"
#include "render/clip_bed_events.h"

namespace {

bool ValidScene(const Project& project, int scene) { return scene >= 0 && size_t(scene) < project.scenes.size(); }

// After a scene was inserted at `at`: every index at or after it moves up.
void ShiftUp(int& index, int at) {
    if (index >= at) ++index;
}
// After scene `removed` was erased: it becomes -1, later ones move down.
void ShiftDown(int& index, int removed) {
    if (index == removed)
        index = -1;
    else if (index > removed)
        --index;
}

bool IsBackgroundOf(const Event& e, int scene) { return e.sceneFill && e.sceneLink == scene; }

// The voices after events were deleted: refresh, check, and playback again
// from the playhead.
void VoicesAfterDeletion(const DocumentContext& ctx, const std::vector<int>& deleted, int formerCount) {
    if (deleted.empty()) return;
    std::vector<int> ascending = deleted;
    std::sort(ascending.begin(), ascending.end());
    RefreshEventVoices(ctx, ascending, formerCount);
    CheckPlaybackCacheIntegrity(ctx);
    SettleTransport(ctx);
}

}  // namespace

// ---------------------------------------------------------------------------
// NextSceneName / InsertScene
// ---------------------------------------------------------------------------

std::string NextSceneName(const Project& project) {
    for (size_t n = project.scenes.size() + 1;; ++n) {
        const std::string name = "Scene " + std::to_string(n);
        const bool used = std::any_of(project.scenes.begin(), project.scenes.end(),
                                      [&name](const Scene& s) { return TextFieldView(s.name) == name; });
        if (!used) return name;
    }
}

int InsertScene(const DocumentContext& ctx, const Scene& scene) {
    if (EditRefused(ctx, "Adding a scene")) return -1;
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    const auto at = std::upper_bound(project.scenes.begin(), project.scenes.end(), scene.inTime,
                                     [](float t, const Scene& s) { return t < s.inTime; });
    const int index = int(at - project.scenes.begin());
    project.scenes.insert(at, scene);
    for (Event& e : project.events) ShiftUp(e.sceneLink, index);
    for (int* field : {&app.activeScene, &app.renamingScene, &app.sceneBackgroundScene, &app.dragHoverScene})
        ShiftUp(*field, index);
    app.modified = true;
    return index;
}

// ---------------------------------------------------------------------------
// AddSceneFromSpan / NewSceneFromWorkArea / SplitSceneAtPlayhead
// ---------------------------------------------------------------------------

int AddSceneFromSpan(const DocumentContext& ctx, float in, float out) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    const float fps = TimelineFps(project);
    const float total = std::max(project.totalDuration, 0.0f);
    if (!std::isfinite(in) || !std::isfinite(out)) return -1;
    in = std::clamp(in, 0.0f, total);
    out = std::clamp(out, 0.0f, total);
    if (out - in < 1.0f / fps - 1e-4f) return -1;
    if (!BeginEdit(ctx, "New scene")) return -1;
    Scene scene;
    CopyTextField(scene.name, NextSceneName(project));
    scene.inTime = in;
    scene.outTime = out;
    if (app.keywordBuffer[0] != '\0') CopyTextField(scene.keywords, TextFieldView(app.keywordBuffer));
    const int index = InsertScene(ctx, scene);
    if (index < 0) return -1;
    app.activeScene = index;
    app.workAreaIn = in;
    app.workAreaOut = out;
    app.sceneZoomSavedStart = app.sceneZoomSavedDuration = -1;
    FinishEdit(ctx, EditReach::Document);
    return index;
}

int NewSceneFromWorkArea(const DocumentContext& ctx) {
    const AppState& app = *ctx.app;
    if (!HasWorkArea(app)) return -1;
    return AddSceneFromSpan(ctx, app.workAreaIn, app.workAreaOut);
}

bool SplitSceneAtPlayhead(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    const int active = app.activeScene;
    if (!ValidScene(project, active)) return false;
    const float fps = TimelineFps(project);
    const float t = app.currentTime;
    const Scene original = project.scenes[size_t(active)];
    if (!(t - original.inTime > 2 / fps) || !(original.outTime - t > 2 / fps)) return false;
    if (!BeginEdit(ctx, "Split scene")) return false;
    const float cut = RoundToFrame(t, fps);
    project.scenes[size_t(active)].outTime = cut;
    Scene second;
    char name[80];
    std::snprintf(name, sizeof name, "%s (B)", original.name);
    CopyTextField(second.name, name);
    CopyTextField(second.keywords, TextFieldView(original.keywords));
    second.inTime = cut;
    second.outTime = original.outTime;
    if (InsertScene(ctx, second) < 0) return false;
    const Scene& first = project.scenes[size_t(app.activeScene)];
    app.workAreaIn = first.inTime;
    app.workAreaOut = first.outTime;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

// ---------------------------------------------------------------------------
// DeleteScene
// ---------------------------------------------------------------------------

bool DeleteScene(const DocumentContext& ctx, int scene) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    if (!ValidScene(project, scene) || !BeginEdit(ctx, "Delete scene")) return false;
    const int formerCount = int(project.events.size());
    std::vector<int> backgrounds = SceneBackgroundEvents(project, scene);
    std::vector<int> deleted;
    for (auto it = backgrounds.rbegin(); it != backgrounds.rend(); ++it) {
        if (!DeleteEvent(ctx, *it)) continue;
        RemoveSelectionIndex(app, *it);
        deleted.push_back(*it);
    }
    VoicesAfterDeletion(ctx, deleted, formerCount);
    for (Event& e : project.events) ShiftDown(e.sceneLink, scene);
    project.scenes.erase(project.scenes.begin() + scene);
    for (int* field : {&app.renamingScene, &app.sceneBackgroundScene, &app.dragHoverScene}) ShiftDown(*field, scene);
    ClearActiveScene(app);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

// ---------------------------------------------------------------------------
// Rename
// ---------------------------------------------------------------------------

void BeginSceneRename(AppState& app, const Project& project, int scene, bool isNew) {
    if (!ValidScene(project, scene)) return;
    app.renamingScene = scene;
    CopyTextField(app.sceneNameEdit, TextFieldView(project.scenes[size_t(scene)].name));
    app.sceneRenameFocus = true;
    app.sceneRenameIsNew = isNew;
}

void CancelSceneRename(AppState& app) {
    app.renamingScene = -1;
    app.sceneRenameIsNew = false;
    app.sceneRenameFocus = false;
}

bool ApplySceneRename(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    const int scene = app.renamingScene;
    const bool isNew = app.sceneRenameIsNew;
    CancelSceneRename(app);
    return ApplySceneName(ctx, scene, isNew);
}

bool ApplySceneName(const DocumentContext& ctx, int scene, bool isNew) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    if (!ValidScene(project, scene) || app.sceneNameEdit[0] == '\0') return false;
    if (TextFieldView(project.scenes[size_t(scene)].name) == TextFieldView(app.sceneNameEdit)) return false;
    // A new scene's name belongs to its creation's undo step.
    if (isNew ? EditRefused(ctx, "Renaming a scene") : !BeginEdit(ctx, "Renaming a scene")) return false;
    RenameScene(project, scene, app.sceneNameEdit);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

// ---------------------------------------------------------------------------
// Selection and zoom
// ---------------------------------------------------------------------------

void ActivateScene(AppState& app, const Project& project, int scene) {
    if (!ValidScene(project, scene)) return;
    const Scene& s = project.scenes[size_t(scene)];
    app.activeScene = scene;
    app.workAreaIn = s.inTime;
    app.workAreaOut = s.outTime;
    app.currentTime = s.inTime;
    app.sceneZoomSavedStart = app.sceneZoomSavedDuration = -1;
    if (s.keywords[0] != '\0') CopyTextField(app.keywordBuffer, TextFieldView(s.keywords));
}

namespace {

void ShowSceneSpan(AppState& app, const Scene& s) {
    if (!(s.outTime > s.inTime)) return;
    app.viewStart = s.inTime;
    app.viewDuration = s.outTime - s.inTime;
}

}  // namespace

void ClickScene(AppState& app, const Project& project, int scene) {
    if (!ValidScene(project, scene)) return;
    if (scene != app.activeScene) {
        ActivateScene(app, project, scene);
        return;
    }
    if (app.sceneZoomSavedStart >= 0 && app.sceneZoomSavedDuration > 0) {
        app.viewStart = app.sceneZoomSavedStart;
        app.viewDuration = app.sceneZoomSavedDuration;
        app.sceneZoomSavedStart = app.sceneZoomSavedDuration = -1;
        return;
    }
    app.sceneZoomSavedStart = app.viewStart;
    app.sceneZoomSavedDuration = app.viewDuration;
    ShowSceneSpan(app, project.scenes[size_t(scene)]);
}

void ClearActiveScene(AppState& app) {
    app.activeScene = -1;
    app.workAreaIn = app.workAreaOut = -1;
    app.sceneZoomSavedStart = app.sceneZoomSavedDuration = -1;
}

bool StepActiveScene(AppState& app, const Project& project, int direction) {
    const int next = app.activeScene + (direction < 0 ? -1 : 1);
    if (!ValidScene(project, app.activeScene) || !ValidScene(project, next)) return false;
    // Stepping while zoomed onto a scene zooms onto the neighbour and keeps
    // the view to go back to.
    const float savedStart = app.sceneZoomSavedStart, savedDuration = app.sceneZoomSavedDuration;
    ActivateScene(app, project, next);
    if (savedStart >= 0 && savedDuration > 0) {
        app.sceneZoomSavedStart = savedStart;
        app.sceneZoomSavedDuration = savedDuration;
        ShowSceneSpan(app, project.scenes[size_t(next)]);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Edges and drawing bounds
// ---------------------------------------------------------------------------

SceneEdgeLimits SceneEdgeLimitsFor(const Scene& scene, int edge, float fps, float total) {
    const float frame = 1.0f / (fps > 0 ? fps : 25.0f);
    total = std::max(total, 0.0f);
    SceneEdgeLimits limits;
    if (edge == 1) {
        limits.low = 0;
        limits.high = std::max(0.0f, scene.outTime - frame);
    } else {
        limits.low = std::min(total, scene.inTime + frame);
        limits.high = total;
    }
    limits.high = std::max(limits.high, limits.low);
    return limits;
}

bool DragSceneEdge(const DocumentContext& ctx, int scene, int edge, float t, float fps, float total) {
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (!ValidScene(project, scene) || (edge != 1 && edge != 2) || !std::isfinite(t)) return false;
    if (!DocumentMayChange(app)) return false;
    Scene& s = project.scenes[size_t(scene)];
    SceneEdgeLimits limits = SceneEdgeLimitsFor(s, edge, fps, total);
    // The in point stays after the previous scene's, so the list stays sorted.
    if (edge == 1 && scene > 0) limits.low = std::min(limits.high, std::max(limits.low, project.scenes[size_t(scene - 1)].inTime));
    float value = std::clamp(RoundToFrame(t, fps), limits.low, limits.high);
    if (edge == 1)
        s.inTime = value;
    else
        s.outTime = value;
    if (app.activeScene == scene) {
        app.workAreaIn = s.inTime;
        app.workAreaOut = s.outTime;
    }
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool SetSceneSpan(const DocumentContext& ctx, int scene, float in, float out) {
    Project& project = *ctx.project;
    if (!ValidScene(project, scene) || !DocumentMayChange(*ctx.app)) return false;
    Scene& s = project.scenes[size_t(scene)];
    if (s.inTime == in && s.outTime == out) return false;
    s.inTime = in;
    s.outTime = out;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

SceneDrawBounds SceneDrawBoundsAt(const Project& project, float anchor, float total) {
    SceneDrawBounds bounds;
    total = std::max(total, 0.0f);
    if (!std::isfinite(anchor)) return bounds;
    bounds.anchor = std::clamp(anchor, 0.0f, total);
    bounds.low = 0;
    bounds.high = total;
    bool inside = false;
    for (const Scene& s : project.scenes) {
        if (s.outTime <= bounds.anchor) bounds.low = std::max(bounds.low, s.outTime);
        if (s.inTime > bounds.anchor) bounds.high = std::min(bounds.high, s.inTime);
        if (s.inTime < bounds.anchor && bounds.anchor < s.outTime) inside = true;
    }
    bounds.valid = !inside && bounds.low < bounds.high;
    bounds.anchor = std::clamp(bounds.anchor, std::min(bounds.low, bounds.high), bounds.high);
    return bounds;
}

// ---------------------------------------------------------------------------
// Backgrounds
// ---------------------------------------------------------------------------

std::vector<int> SceneBackgroundEvents(const Project& project, int scene) {
    std::vector<int> events;
    for (size_t i = 0; i < project.events.size(); ++i)
        if (IsBackgroundOf(project.events[i], scene)) events.push_back(int(i));
    return events;
}

int AddEmptySceneBackground(const DocumentContext& ctx, int scene, bool bed) {
    if (!ValidScene(*ctx.project, scene) || !BeginEdit(ctx, "Scene background")) return -1;
    const int index = bed ? AddSceneBed(ctx, scene) : AddSceneFill(ctx, scene);
    FinishEdit(ctx, EditReach::Document);
    return index;
}

bool RemoveSceneBackground(const DocumentContext& ctx, int eventIndex) {
    Project& project = *ctx.project;
    if (eventIndex < 0 || size_t(eventIndex) >= project.events.size()) return false;
    const Event& e = project.events[size_t(eventIndex)];
    if (!e.sceneFill || e.sceneLink < 0 || !BeginEdit(ctx, "Remove scene background")) return false;
    const int formerCount = int(project.events.size());
    if (!DeleteEvent(ctx, eventIndex)) return false;
    RemoveSelectionIndex(*ctx.app, eventIndex);
    VoicesAfterDeletion(ctx, {eventIndex}, formerCount);
    FinishEdit(ctx, EditReach::Document);
    return true;
}

void PlaceRecipeAsSceneBackground(const DocumentContext& ctx, int scene, const EventPreset& recipe) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    if (!ValidScene(project, scene) || !BeginEdit(ctx, "Scene background")) return;
    const bool bed = recipe.shape == kShapeBed;
    const int index = bed ? AddSceneBed(ctx, scene) : AddSceneFill(ctx, scene);
    if (index < 0) return;
    Event& e = project.events[size_t(index)];
    const float time = e.time, duration = e.duration;
    const int sceneLink = e.sceneLink, crossfade = e.sceneCrossfade;
    const bool sceneFill = e.sceneFill;
    char folder[sizeof e.folder];
    CopyTextField(folder, TextFieldView(e.folder));
    ApplyPresetToEvent(e, recipe);
    e.time = time;
    e.duration = duration;
    e.sceneLink = sceneLink;
    e.sceneCrossfade = crossfade;
    e.sceneFill = sceneFill;
    CopyTextField(e.presetName, TextFieldView(recipe.name));
    CopyTextField(e.folder, TextFieldView(folder));
    if (bed) {
        e.locked = true;
        RebuildBedEvent(project, index);
        app.deferredRebuild.store(true);
    } else {
        e.locked = false;
    }
    FinishEdit(ctx, EditReach::Document);
}

void PlaceRecipeAsSceneBackground(int scene, const EventPreset& recipe) {
    PlaceRecipeAsSceneBackground(ProgramDocumentContext(), scene, recipe);
}

// ---------------------------------------------------------------------------
// SceneAtTime / SceneSpanMatches
// ---------------------------------------------------------------------------

int SceneAtTime(const Project& project, float t) {
    int found = -1;
    for (size_t i = 0; i < project.scenes.size(); ++i)
        if (project.scenes[i].inTime <= t && t < project.scenes[i].outTime) found = int(i);
    return found;
}

bool SceneSpanMatches(const Scene& scene, float in, float out) {
    return std::fabs(scene.inTime - in) <= 0.01f && std::fabs(scene.outTime - out) <= 0.01f;
}
