// Frames the main loop marks quiet skip the walks over the whole project (the
// lanes' indexes, the curve lanes' narrow columns) and draw from what the
// frames before them kept. Such a frame must draw exactly what a full frame
// draws, and every way the document changes must show in the quiet frames
// after the first frame that walks again.
#include <gtest/gtest.h>
#include <imgui.h>

#include <functional>
#include <string>
#include <vector>

#include "app/frame_driver.h"
#include "app/shell.h"
#include "library/file_caches.h"
#include "operations/undo.h"
#include "support/large_project.h"
#include "support/temp_dir.h"
#include "ui/timeline_rig.h"

namespace {

Project Generated(const TempDir& dir, uint32_t seed) {
    LargeProjectSpec spec{
        .eventCount = 150,
        .seconds = 600,
        .layers = LargeProjectLayers::Made,
        .layersPerEvent = 3,
        .soundCount = 6,
        .seed = seed,
    };
    LargeProject large = MakeLargeProject(spec, dir.File("library" + std::to_string(seed)));
    for (const RenderResult& r : large.project.results) GetWaveformPeaks(r.filepath.c_str());
    return std::move(large.project);
}

struct QuietRig : TimelineRig {
    TempDir dir;
    QuietRig() {
        *project = Generated(dir, 1);
        // Ten minutes in view: most events and layers are narrower than two points.
        app->viewStart = 0;
        app->viewDuration = 600;
        Frames(2);
    }
    // What one frame draws, as one number; `quiet` as the main loop sets it.
    uint64_t Drawn(bool quiet) {
        app->quietFrame = app->documentQuiet = quiet;
        Frame();
        app->quietFrame = app->documentQuiet = false;
        return DrawDataFingerprint(ImGui::GetDrawData());
    }
};

TEST(QuietFrames, AQuietFrameDrawsWhatAFullFrameDrawsBeforeAndAfterEachKindOfEdit) {
    QuietRig rig;
    uint64_t shown = rig.Drawn(false);
    EXPECT_EQ(rig.Drawn(true), shown);
    EXPECT_EQ(rig.Drawn(true), shown);

    // The results change in place (a trim, a drag), the events are moved
    // or painted, an undo restores them, another project replaces the document.
    ASSERT_TRUE(PushUndoSnapshot(rig.Context()));
    const size_t mid = rig.project->results.size() / 2;
    const std::vector<std::pair<std::string, std::function<void()>>> edits = {
        {"a layer trimmed in place", [&] { rig.project->results[mid].duration *= 0.25f; }},
        {"a layer moved in place", [&] { rig.project->results[mid + 1].startTime += 40; }},
        {"an event moved", [&] { rig.project->events[3].time += 120; }},
        {"an event's curves painted",
         [&] {
             for (Event& e : rig.project->events) {
                 e.intensity.fill(0.05f);
                 e.weight.fill(0.05f);
             }
         }},
        {"the edits undone", [&] { ASSERT_TRUE(Undo(rig.Context())); }},
        {"another project opened", [&] { *rig.project = Generated(rig.dir, 2); }},
    };
    for (const auto& [what, apply] : edits) {
        SCOPED_TRACE(what);
        apply();
        // The main loop walks for as many frames after any stir (a project
        // just opened settles in its second frame).
        uint64_t changed = 0;
        for (int k = 0; k < kQuietAfterFrames; ++k) changed = rig.Drawn(false);
        EXPECT_NE(changed, shown) << "the frames that walk show the edit";
        EXPECT_EQ(rig.Drawn(true), changed) << "the quiet frames after it show it too";
        EXPECT_EQ(rig.Drawn(true), changed);
        shown = changed;
    }

    // A view that moved is drawn from the events, quiet or not.
    rig.app->viewStart = 30;
    rig.app->viewDuration = 20;
    const uint64_t zoomed = rig.Drawn(true);
    EXPECT_NE(zoomed, shown);
    EXPECT_EQ(rig.Drawn(false), zoomed);
}

}  // namespace
