// scene_edits.h — the scene operations of the scenes row, the events list, the
// commands and the trace panel: one road for inserting, splitting, deleting,
// renaming, selecting and drawing scenes and for their backgrounds.
//
// Index
//   NextSceneName              "Scene %d" with a number no other scene uses
//   InsertScene                the one insertion: sorted by in time, links renumbered
//   AddSceneFromSpan / NewSceneFromWorkArea / SplitSceneAtPlayhead
//   DeleteScene                the scene, its background events and the links to it
//   BeginSceneRename / ApplySceneRename / CancelSceneRename / ApplySceneName
//   ActivateScene / ClickScene / ClearActiveScene / StepActiveScene
//   SceneEdgeLimits / DragSceneEdge / SetSceneSpan
//   SceneDrawBounds            where a scene drawn from an anchor may reach
//   SceneBackgroundEvents / AddEmptySceneBackground / RemoveSceneBackground /
//   PlaceRecipeAsSceneBackground
//   SceneAtTime / SceneSpanMatches
//
// Every edit refuses, changing nothing, while the document may not change
// (an export or a busy task), and for a scene index out of range. The ones
// that are a designer's step are one edit each (edit_steps.h): their own
// undo step, as noted, then the unsaved flag. Interface thread.
#pragma once

#include <string>
#include <vector>

#include "operations/document_context.h"

struct AppState;
struct EventPreset;
struct Project;
struct Scene;

// The smallest n from (scene count + 1) up for which no scene is named
// "Scene n": the number a new scene gets (its background folder is its name).
std::string NextSceneName(const Project& project);

// Puts the scene after every scene that begins at or before its in time; the
// links of events and the app state's scene indices at or after that place
// move up by one. Pushes no snapshot. The new index, or -1 when refused.
int InsertScene(const DocumentContext& ctx, const Scene& scene);

// One undo step: a scene "Scene %d" over in..out with the keyword buffer as
// its keywords (when not empty), made the active scene and the work area.
// -1 when refused or when the span is not at least a frame long.
int AddSceneFromSpan(const DocumentContext& ctx, float in, float out);
// AddSceneFromSpan over the work area; -1 without a valid work area.
int NewSceneFromWorkArea(const DocumentContext& ctx);
// One undo step: the active scene ends at the frame-rounded playhead and
// "%s (B)" (its keywords copied) runs on to the old end; the first part stays
// active and is the work area. False unless the playhead is more than two
// frames inside both ends.
bool SplitSceneAtPlayhead(const DocumentContext& ctx);

// One undo step: the scene's background events go (highest index first,
// with the selection and the voices following), links to it become -1 and
// later links shift down, and the active scene, the work area and the saved
// scene zoom are cleared.
bool DeleteScene(const DocumentContext& ctx, int scene);

// The in-place rename of a scene starts with its name in `sceneNameEdit`.
void BeginSceneRename(AppState& app, const Project& project, int scene, bool isNew);
// Applies a non-empty edit with RenameScene, one undo step unless the scene
// is new (its name belongs to its creation), and ends the rename. False when
// nothing was applied (the rename ends anyway).
bool ApplySceneRename(const DocumentContext& ctx);
void CancelSceneRename(AppState& app);
// The edit buffer as the name of `scene` (the events list's own field): the
// same rules as ApplySceneRename, without touching the rename state.
bool ApplySceneName(const DocumentContext& ctx, int scene, bool isNew);

// The scene becomes active, its span the work area and the playhead its in
// time; its keywords go to the keyword buffer when it has any. The saved
// scene zoom is forgotten.
void ActivateScene(AppState& app, const Project& project, int scene);
// A click on a block: another scene is activated; the active one toggles
// the zoom onto its span (saving the view) and back (restoring it).
void ClickScene(AppState& app, const Project& project, int scene);
// No active scene, no work area, no saved scene zoom.
void ClearActiveScene(AppState& app);
// The previous (-1) or next (+1) scene becomes active; false when none.
bool StepActiveScene(AppState& app, const Project& project, int direction);

// Where an edge of the scene may go: in ≤ out − 1 frame, out ≥ in + 1
// frame, both within 0 .. total.
struct SceneEdgeLimits {
    float low = 0;
    float high = 0;
};
SceneEdgeLimits SceneEdgeLimitsFor(const Scene& scene, int edge, float fps, float total);
// Moves edge 1 (in) or 2 (out) of the scene to the frame-rounded t within its
// limits; the work area follows when the scene is active. A step of the edge's
// gesture (the caller took BeginEdit at the press): the unsaved flag. False
// for a bad index or edge, or while the document may not change.
bool DragSceneEdge(const DocumentContext& ctx, int scene, int edge, float t, float fps, float total);

// A step of the work area's gesture while the active scene follows it (the
// caller took BeginEdit at the press): the scene spans in..out. False for a
// bad index or while the document may not change.
bool SetSceneSpan(const DocumentContext& ctx, int scene, float in, float out);
// A scene drawn from `anchor`: the anchor clamped into 0..total, the latest
// out time of the scenes ending at or before it, and the earliest in time of
// the scenes beginning after it (total when none). `valid` is false when
// overlapping scenes leave no room (low > high): drawing does not start.
struct SceneDrawBounds {
    float anchor = 0;
    float low = 0;
    float high = 0;
    bool valid = false;
};
SceneDrawBounds SceneDrawBoundsAt(const Project& project, float anchor, float total);

// Events that are the scene's Fill or Bed, ascending.
std::vector<int> SceneBackgroundEvents(const Project& project, int scene);
// One undo step: an empty Fill (bed = false) or Bed over the scene. The new
// event's index, or -1.
int AddEmptySceneBackground(const DocumentContext& ctx, int scene, bool bed);
// One undo step: the background event goes, the voices follow as in
// DeleteScene. False when it is not a background event.
bool RemoveSceneBackground(const DocumentContext& ctx, int eventIndex);
// One undo step: a Bed (recipe shape Bed) or a Fill over the scene with the
// recipe applied; the event keeps its time, duration, scene link, crossfade,
// fill flag and folder, and is named after the recipe. A Bed is locked, its
// layers rebuilt and one deferred voice rebuild asked; a Fill is unlocked.
void PlaceRecipeAsSceneBackground(const DocumentContext& ctx, int scene, const EventPreset& recipe);
void PlaceRecipeAsSceneBackground(int scene, const EventPreset& recipe);

// The scene whose span holds t (the last such), or -1.
int SceneAtTime(const Project& project, float t);
// Both ends within 0.01 s of in..out.
bool SceneSpanMatches(const Scene& scene, float in, float out);
