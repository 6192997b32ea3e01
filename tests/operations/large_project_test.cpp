// The generator of large projects that the tests and benchmarks of real-sized
// work stand on: what it makes must be a project the program could have
// made, or their figures say nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "document/event.h"
#include "persistence/project_load.h"
#include "render/clip_bed_events.h"
#include "support/large_project.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

TEST(LargeProject, MadeLayersCoverEveryShapeAndLoadBackFromTheirFile) {
    TempDir dir;
    LargeProjectSpec spec{
        .eventCount = 90,
        .seconds = 300,
        .layers = LargeProjectLayers::Made,
        .layersPerEvent = 4,
        .soundCount = 32,
    };
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    const Project& p = large.project;

    ASSERT_EQ(large.library.index.entries.size(), 32u);
    ASSERT_EQ(p.events.size(), 90u);
    std::set<int> shapes;
    for (const Event& e : p.events) {
        shapes.insert(e.shape);
        EXPECT_GE(e.time, 0.0f);
        EXPECT_LT(e.time, spec.seconds);
        EXPECT_GT(e.duration, 0.0f);
    }
    EXPECT_EQ(shapes.size(), size_t(kShapeCount)) << "every shape is there";
    EXPECT_GT(p.events.back().time, spec.seconds * 0.9f) << "the events reach the end of the timeline";

    // Four layers per event, one for a Clip and one per pinned file for a Bed;
    // each plays a library sound, in the render's order (by start) with the
    // render's track packing.
    std::vector<int> perEvent(p.events.size(), 0);
    const std::set<std::string> sounds(large.library.paths.begin(), large.library.paths.end());
    for (size_t k = 0; k < p.results.size(); ++k) {
        const RenderResult& r = p.results[k];
        ASSERT_GE(r.eventIdx, 0);
        ++perEvent[size_t(r.eventIdx)];
        EXPECT_TRUE(sounds.count(r.filepath)) << r.filepath;
        EXPECT_FALSE(r.fileId.empty());
        EXPECT_GT(r.duration, 0.0f);
        if (k > 0) {
            EXPECT_LE(p.results[k - 1].startTime, r.startTime);
        }
    }
    for (size_t e = 0; e < p.events.size(); ++e) {
        const Event& ev = p.events[e];
        const int expected = ev.shape == kShapeClip ? 1 : ev.shape == kShapeBed ? int(ev.pinnedFiles.size()) : 4;
        EXPECT_EQ(perEvent[e], expected) << "event " << e;
    }
    EXPECT_TRUE(p.rendered.load());

    // The Beds are what the program makes of them: rebuilding one changes nothing.
    Project rebuilt = p;
    for (size_t e = 0; e < rebuilt.events.size(); ++e)
        if (rebuilt.events[e].shape == kShapeBed) {
            EXPECT_FALSE(RebuildBedEvent(rebuilt, int(e))) << "event " << e;
        }

    // The file names the library, and reads back whole.
    const std::string path = WriteLargeProject(large, dir.path(), "Large");
    ASSERT_FALSE(path.empty());
    Project read;
    const ProjectLoadResult loaded = LoadProjectFile(path, read);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(read.events.size(), p.events.size());
    EXPECT_EQ(read.results.size(), p.results.size());
    EXPECT_TRUE(loaded.missingFiles.empty());
    ASSERT_EQ(loaded.libraryPaths.size(), 1u);
    EXPECT_EQ(loaded.libraryPaths[0], large.library.folder);
}

TEST(LargeProject, RenderedLayersFindTheirSoundsAndRepeatFromRunToRun) {
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 27, .seconds = 60, .layers = LargeProjectLayers::Rendered, .soundCount = 32};
    const LargeProject a = MakeLargeProject(spec, dir.File("A"));
    const LargeProject b = MakeLargeProject(spec, dir.File("B"));
    ASSERT_FALSE(a.project.results.empty());
    std::vector<int> perEvent(a.project.events.size(), 0);
    for (const RenderResult& r : a.project.results) {
        EXPECT_FALSE(r.placeholder) << "every keyword finds a sound: " << r.name << " of event " << r.eventIdx;
        if (r.eventIdx >= 0) ++perEvent[size_t(r.eventIdx)];
    }
    // A light Scatter may draw no grain at all (the render's own rule, and its
    // draws follow every sound chosen before it); every other event sounds,
    // and so do the Scatters taken together.
    int scatterLayers = 0;
    for (size_t e = 0; e < perEvent.size(); ++e) {
        if (a.project.events[e].shape == kShapeScatter) {
            scatterLayers += perEvent[e];
            continue;
        }
        EXPECT_GT(perEvent[e], 0) << "event " << e << " shape " << a.project.events[e].shape;
    }
    EXPECT_GT(scatterLayers, 0);
    // The same spec, the same layers (the folders differ, the stems do not).
    ASSERT_EQ(a.project.results.size(), b.project.results.size());
    for (size_t k = 0; k < a.project.results.size(); ++k) {
        EXPECT_EQ(a.project.results[k].name, b.project.results[k].name) << k;
        EXPECT_EQ(a.project.results[k].startTime, b.project.results[k].startTime) << k;
    }
}

// The option that keeps the Beds of earlier generated projects: their layers
// are other sounds of their kind, so the program rebuilds every Bed (layers
// erased, the pinned file's layer made) when it opens the project.
TEST(LargeProject, InconsistentBedsAreRebuiltToTheirLayerLists) {
    TempDir dir;
    LargeProjectSpec spec;
    spec.eventCount = 27;
    spec.seconds = 90;
    spec.layers = LargeProjectLayers::Made;
    spec.layersPerEvent = 3;
    spec.soundCount = 48;
    spec.inconsistentBeds = true;
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    Project& p = large.project;
    int beds = 0;
    for (size_t e = 0; e < p.events.size(); ++e) {
        if (p.events[e].shape != kShapeBed) continue;
        ++beds;
        const size_t before = p.results.size();
        const std::string pinned = p.events[e].pinnedFiles.at(0);
        size_t unpinned = 0;
        for (const RenderResult& r : p.results) unpinned += r.eventIdx == int(e) && r.filepath != pinned ? 1 : 0;
        EXPECT_GT(unpinned, 0u) << "event " << e << " has layers that are not its pinned file";
        EXPECT_TRUE(RebuildBedEvent(p, int(e)));
        // What is left plays the pinned file (a layer that already did stays).
        size_t left = 0;
        for (const RenderResult& r : p.results) {
            if (r.eventIdx != int(e)) continue;
            ++left;
            EXPECT_EQ(r.filepath, pinned);
        }
        EXPECT_GE(left, 1u);
        EXPECT_LT(p.results.size(), before);
    }
    EXPECT_EQ(beds, 3);
}
