// The scene operations: insertion order and links, names, splitting,
// deleting, renaming, edges, drawing bounds, zoom and backgrounds.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/event_edits.h"
#include "operations/undo.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "recipes/event_preset.h"
#include "support/document_records.h"
#include "operations/scene_edits.h"

namespace {

struct SceneRig : PanelRecords {
    SceneRig() {
        project->totalDuration = 60;
        project->fps = 25;
    }
    void AddScene(const char* name, float in, float out) {
        Scene s;
        CopyTextField(s.name, name);
        s.inTime = in;
        s.outTime = out;
        project->scenes.push_back(s);
    }
    std::string Name(int i) const { return std::string(TextFieldView(project->scenes[size_t(i)].name)); }
    size_t UndoDepth() const { return app->undoHistory.undo.size(); }
};

}  // namespace

TEST(SceneOps, ANewSceneSortsByTimeRenumbersLinksAndTakesAnUnusedName) {
    SceneRig rig;
    rig.AddScene("Scene 1", 10, 20);
    rig.AddScene("Scene 2", 30, 40);
    Event linked;
    linked.sceneLink = 1;
    rig.project->events.push_back(linked);
    rig.app->activeScene = 1;

    const int added = AddSceneFromSpan(rig.Ctx(), 2, 8);
    ASSERT_EQ(added, 0);
    EXPECT_EQ(rig.Name(0), "Scene 3");  // the count after adding
    EXPECT_EQ(rig.project->events[0].sceneLink, 2);
    EXPECT_EQ(rig.app->activeScene, 0);  // the new scene is active and the work area
    EXPECT_FLOAT_EQ(rig.app->workAreaIn, 2);
    EXPECT_FLOAT_EQ(rig.app->workAreaOut, 8);
    EXPECT_EQ(rig.UndoDepth(), 1u);
    // Undo takes the scene away with the work area and the active scene it
    // set; Redo brings all three back.
    ASSERT_TRUE(Undo(rig.Ctx()));
    EXPECT_EQ(rig.project->scenes.size(), 2u);
    EXPECT_FLOAT_EQ(rig.app->workAreaIn, -1);
    EXPECT_FLOAT_EQ(rig.app->workAreaOut, -1);
    EXPECT_EQ(rig.app->activeScene, 1);
    ASSERT_TRUE(Redo(rig.Ctx()));
    EXPECT_EQ(rig.project->scenes.size(), 3u);
    EXPECT_FLOAT_EQ(rig.app->workAreaIn, 2);
    EXPECT_FLOAT_EQ(rig.app->workAreaOut, 8);
    EXPECT_EQ(rig.app->activeScene, 0);

    // "Scene 4" is taken: the next free number, so no two scenes (nor their
    // background folders) share a name.
    rig.AddScene("Scene 4", 50, 55);
    EXPECT_EQ(NextSceneName(*rig.project), "Scene 5");

    // A span under a frame makes nothing.
    EXPECT_EQ(AddSceneFromSpan(rig.Ctx(), 41, 41.01f), -1);
    EXPECT_EQ(rig.UndoDepth(), 1u);

    // The keyword text goes with a new scene.
    CopyTextField(rig.app->keywordBuffer, "rain night");
    rig.app->workAreaIn = 42;
    rig.app->workAreaOut = 44;
    rig.app->activeScene = -1;
    const int fromWork = NewSceneFromWorkArea(rig.Ctx());
    ASSERT_GE(fromWork, 0);
    EXPECT_EQ(std::string(TextFieldView(rig.project->scenes[size_t(fromWork)].keywords)), "rain night");
}

TEST(SceneOps, DrawingBoundsStopAtNeighboursAndEdgesCannotInvert) {
    SceneRig rig;
    rig.AddScene("A", 10, 20);
    rig.AddScene("B", 30, 40);
    SceneDrawBounds b = SceneDrawBoundsAt(*rig.project, 25, 60);
    EXPECT_TRUE(b.valid);
    EXPECT_FLOAT_EQ(b.low, 20);
    EXPECT_FLOAT_EQ(b.high, 30);
    b = SceneDrawBoundsAt(*rig.project, 90, 60);
    EXPECT_FLOAT_EQ(b.anchor, 60);
    EXPECT_FLOAT_EQ(b.low, 40);
    // Inside a scene (overlapping ones included) drawing does not start.
    rig.AddScene("C", 12, 35);
    EXPECT_FALSE(SceneDrawBoundsAt(*rig.project, 25, 60).valid);

    SceneRig edges;
    edges.AddScene("A", 10, 20);
    edges.app->activeScene = 0;
    const DocumentContext ctx = edges.Ctx();
    EXPECT_TRUE(DragSceneEdge(ctx, 0, 1, 50, 25, 60));
    EXPECT_TRUE(edges.app->modified);
    EXPECT_FLOAT_EQ(edges.project->scenes[0].inTime, 20 - 0.04f);  // one frame before the out point
    EXPECT_FLOAT_EQ(edges.app->workAreaIn, edges.project->scenes[0].inTime);
    EXPECT_TRUE(DragSceneEdge(ctx, 0, 2, -5, 25, 60));
    EXPECT_FLOAT_EQ(edges.project->scenes[0].outTime, edges.project->scenes[0].inTime + 0.04f);
    EXPECT_TRUE(DragSceneEdge(ctx, 0, 2, 99, 25, 60));
    EXPECT_FLOAT_EQ(edges.project->scenes[0].outTime, 60);
    EXPECT_FALSE(DragSceneEdge(ctx, 3, 1, 5, 25, 60));
    // An export begun under the drag: the edge stays where it is.
    edges.app->exportRunning = true;
    EXPECT_FALSE(DragSceneEdge(ctx, 0, 2, 30, 25, 60));
    EXPECT_FLOAT_EQ(edges.project->scenes[0].outTime, 60);
    edges.app->exportRunning = false;
}

TEST(SceneOps, SplitNeedsThePlayheadInsideAndDeleteTakesTheBackgrounds) {
    SceneRig rig;
    rig.AddScene("Street", 10, 20);
    rig.AddScene("Room", 30, 40);
    rig.app->activeScene = 0;
    rig.app->currentTime = 10.05f;  // within two frames of the start
    EXPECT_FALSE(SplitSceneAtPlayhead(rig.Ctx()));
    rig.app->currentTime = 14.01f;
    ASSERT_TRUE(SplitSceneAtPlayhead(rig.Ctx()));
    ASSERT_EQ(rig.project->scenes.size(), 3u);
    EXPECT_FLOAT_EQ(rig.project->scenes[0].outTime, 14.0f);
    EXPECT_EQ(rig.Name(1), "Street (B)");
    EXPECT_FLOAT_EQ(rig.project->scenes[1].inTime, 14.0f);
    EXPECT_FLOAT_EQ(rig.app->workAreaOut, 14.0f);
    EXPECT_EQ(rig.app->activeScene, 0);

    // Backgrounds of scene 1 and 2, and a plain event linked to scene 1.
    ASSERT_GE(AddSceneFill(rig.Ctx(), 1), 0);
    ASSERT_GE(AddSceneBed(rig.Ctx(), 2), 0);
    Event plain;
    plain.sceneLink = 1;
    rig.project->events.push_back(plain);
    ASSERT_GE(AddSceneFill(rig.Ctx(), 2), 0);
    rig.app->selectedEvents = {1, 3};
    rig.app->selectedEvent = 3;

    const size_t depth = rig.UndoDepth();
    ASSERT_TRUE(DeleteScene(rig.Ctx(), 1));
    EXPECT_EQ(rig.UndoDepth(), depth + 1);
    ASSERT_EQ(rig.project->events.size(), 3u);  // the Fill of scene 1 went
    EXPECT_EQ(rig.project->events[0].sceneLink, 1);  // Room's Bed, renumbered
    EXPECT_EQ(rig.project->events[1].sceneLink, -1);  // pointed to the deleted scene
    EXPECT_EQ(rig.project->events[2].sceneLink, 1);
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{0, 2}));
    EXPECT_EQ(rig.app->activeScene, -1);
    EXPECT_FLOAT_EQ(rig.app->workAreaIn, -1);

    // Out of range: nothing, not even an undo step.
    EXPECT_FALSE(DeleteScene(rig.Ctx(), 7));
    EXPECT_EQ(rig.UndoDepth(), depth + 1);
}

TEST(SceneOps, ARenameIsOneStepUnlessTheSceneIsNew) {
    SceneRig rig;
    const int added = AddSceneFromSpan(rig.Ctx(), 1, 5);
    ASSERT_EQ(added, 0);
    ASSERT_GE(AddSceneFill(rig.Ctx(), 0), 0);
    BeginSceneRename(*rig.app, *rig.project, added, true);
    EXPECT_EQ(std::string(rig.app->sceneNameEdit), "Scene 1");
    CopyTextField(rig.app->sceneNameEdit, "Harbour");
    EXPECT_TRUE(ApplySceneRename(rig.Ctx()));
    EXPECT_EQ(rig.UndoDepth(), 1u);  // the creation's step covers the first name
    EXPECT_EQ(rig.Name(0), "Harbour");
    EXPECT_EQ(std::string(rig.project->events[0].folder), "Harbour");
    EXPECT_EQ(rig.app->renamingScene, -1);

    BeginSceneRename(*rig.app, *rig.project, 0, false);
    CopyTextField(rig.app->sceneNameEdit, "Pier");
    EXPECT_TRUE(ApplySceneRename(rig.Ctx()));
    EXPECT_EQ(rig.UndoDepth(), 2u);
    BeginSceneRename(*rig.app, *rig.project, 0, false);
    rig.app->sceneNameEdit[0] = '\0';  // an empty name is not applied
    EXPECT_FALSE(ApplySceneRename(rig.Ctx()));
    EXPECT_EQ(rig.Name(0), "Pier");
}

TEST(SceneOps, ClickingTheActiveSceneZoomsOntoItAndBack) {
    SceneRig rig;
    rig.AddScene("A", 10, 20);
    rig.AddScene("B", 30, 36);
    CopyTextField(rig.project->scenes[1].keywords, "wind");
    rig.app->viewStart = 0;
    rig.app->viewDuration = 60;
    ClickScene(*rig.app, *rig.project, 1);
    EXPECT_EQ(rig.app->activeScene, 1);
    EXPECT_FLOAT_EQ(rig.app->currentTime, 30);
    EXPECT_EQ(std::string(rig.app->keywordBuffer), "wind");
    EXPECT_FLOAT_EQ(rig.app->viewDuration, 60);
    ClickScene(*rig.app, *rig.project, 1);
    EXPECT_FLOAT_EQ(rig.app->viewStart, 30);
    EXPECT_FLOAT_EQ(rig.app->viewDuration, 6);
    EXPECT_TRUE(StepActiveScene(*rig.app, *rig.project, -1));  // zoomed: the neighbour's span
    EXPECT_FLOAT_EQ(rig.app->viewStart, 10);
    EXPECT_FLOAT_EQ(rig.app->viewDuration, 10);
    ClickScene(*rig.app, *rig.project, 0);
    EXPECT_FLOAT_EQ(rig.app->viewStart, 0);
    EXPECT_FLOAT_EQ(rig.app->viewDuration, 60);
    EXPECT_FALSE(StepActiveScene(*rig.app, *rig.project, -1));
    ClearActiveScene(*rig.app);
    EXPECT_EQ(rig.app->activeScene, -1);
    EXPECT_FLOAT_EQ(rig.app->sceneZoomSavedStart, -1);
}

TEST(SceneOps, ABackgroundRecipeKeepsTheScenesPlaceAndABedAsksOneRebuild) {
    SceneRig rig;
    rig.AddScene("Forest", 4, 16);
    EventPreset bed;
    CopyTextField(bed.name, "Birds");
    bed.shape = kShapeBed;
    bed.duration = 2;
    bed.syncOffset = 0.5f;
    PlaceRecipeAsSceneBackground(rig.Ctx(), 0, bed);
    ASSERT_EQ(rig.project->events.size(), 1u);
    const Event& e = rig.project->events[0];
    EXPECT_FLOAT_EQ(e.time, 4);
    EXPECT_FLOAT_EQ(e.duration, 12);
    EXPECT_EQ(e.sceneLink, 0);
    EXPECT_EQ(e.sceneCrossfade, 1);
    EXPECT_TRUE(e.sceneFill);
    EXPECT_EQ(std::string(e.folder), "Forest");
    EXPECT_EQ(std::string(e.presetName), "Birds");
    EXPECT_EQ(e.shape, kShapeBed);
    EXPECT_TRUE(e.locked);
    EXPECT_TRUE(rig.app->deferredRebuild.load());
    EXPECT_EQ(rig.UndoDepth(), 1u);

    EventPreset fill;
    CopyTextField(fill.name, "Wind");
    fill.shape = kShapeFill;
    PlaceRecipeAsSceneBackground(rig.Ctx(), 0, fill);
    ASSERT_EQ(rig.project->events.size(), 2u);
    EXPECT_EQ(rig.project->events[1].shape, kShapeFill);
    EXPECT_FALSE(rig.project->events[1].locked);
    EXPECT_EQ(SceneBackgroundEvents(*rig.project, 0), (std::vector<int>{0, 1}));

    // An out-of-range scene changes nothing.
    PlaceRecipeAsSceneBackground(rig.Ctx(), 5, fill);
    EXPECT_EQ(rig.project->events.size(), 2u);
    EXPECT_EQ(rig.UndoDepth(), 2u);

    // Removing one is one step; a plain event is not a background.
    EXPECT_TRUE(RemoveSceneBackground(rig.Ctx(), 0));
    EXPECT_EQ(rig.project->events.size(), 1u);
    EXPECT_EQ(rig.UndoDepth(), 3u);
    Event plain;
    rig.project->events.push_back(plain);
    EXPECT_FALSE(RemoveSceneBackground(rig.Ctx(), 1));
    EXPECT_EQ(rig.UndoDepth(), 3u);
}

TEST(SceneOps, NothingChangesWhileAnExportRuns) {
    SceneRig rig;
    rig.AddScene("A", 10, 20);
    rig.app->activeScene = 0;
    rig.app->currentTime = 15;
    rig.app->exportRunning = true;
    EXPECT_EQ(AddSceneFromSpan(rig.Ctx(), 30, 40), -1);
    EXPECT_FALSE(SplitSceneAtPlayhead(rig.Ctx()));
    EXPECT_FALSE(DeleteScene(rig.Ctx(), 0));
    EXPECT_EQ(AddEmptySceneBackground(rig.Ctx(), 0, false), -1);
    EventPreset fill;
    fill.shape = kShapeFill;
    PlaceRecipeAsSceneBackground(rig.Ctx(), 0, fill);
    Scene s;
    EXPECT_EQ(InsertScene(rig.Ctx(), s), -1);
    EXPECT_EQ(rig.project->scenes.size(), 1u);
    EXPECT_TRUE(rig.project->events.empty());
    EXPECT_EQ(rig.UndoDepth(), 0u);
}
