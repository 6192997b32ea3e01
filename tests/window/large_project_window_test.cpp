// Real-sized projects in the program's own window: a quit while an opened
// project's voices are still being built.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "document/event.h"
#include "support/large_project.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

using Dump = std::map<std::string, std::string>;

int Whole(Dump& d, const std::string& key) {
    EXPECT_TRUE(d.count(key)) << key;
    return std::atoi(d[key].c_str());
}

class LargeProjectWindow : public ProgramScriptTest {
protected:
    // The program started on `project` (opened as from the desktop) with `script`.
    ProgramRun Start(const std::string& script, const std::string& project) {
        WriteWholeFile(dir.File("script.txt"), script);
        ProgramLaunch launch;
        launch.scriptPath = dir.File("script.txt");
        launch.arguments = {project};
        launch.timeoutSeconds = 240;  // a hang guard only (below the test runner's own), never a pace
        return RunProgram(launch);
    }
};

}  // namespace

// Opening a rendered project builds its voices behind the busy overlay; the
// window's close button stops that build and the program ends, writing
// nothing to the project.
TEST_F(LargeProjectWindow, ClosingTheWindowDuringTheVoiceBuildEndsTheProgram) {
    LargeProjectSpec spec;
    spec.eventCount = 2000;
    spec.layers = LargeProjectLayers::Made;
    spec.layersPerEvent = 4;
    spec.soundCount = 24;
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    // Weights the sound probe would otherwise fill in once the build ends
    // (0.5 reads back as "automatic"): the project opens unmodified, so the
    // close asks nothing.
    for (Event& e : large.project.events) {
        if (e.shape == kShapeClip) e.clipWeight = 0.6f;
        for (float& w : e.bedLayerWeight) w = 0.6f;
    }
    const std::string project = WriteLargeProject(large, dir.path(), "Open");
    ASSERT_FALSE(project.empty());
    const std::string before = ReadWholeFile(project);

    // The close is the window's own; the frames after it are never drawn.
    ProgramRun run = Start("frames 4\ndump building.txt\nclose\nframes 100000\n", project);
    ASSERT_EQ(run.exitCode, 0) << run.log;

    Dump building = ReadStateDump(dir.File("building.txt"));
    EXPECT_EQ(building["busy.status"], "Loading audio...");
    const int total = Whole(building, "engine.voicesToBuild");
    EXPECT_EQ(total, int(large.project.results.size()));
    EXPECT_LT(Whole(building, "engine.voicesBuilt"), total);
    // The build saw the close and stopped short of the whole.
    const size_t stop = run.log.find("[Cache] Voice build stopped after ");
    ASSERT_NE(stop, std::string::npos) << run.log;
    EXPECT_LT(std::atoi(run.log.c_str() + stop + 34), total);
    EXPECT_NE(run.log.find("[UI] shutdown: done"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(project), before) << "the project is left as it was";
}
