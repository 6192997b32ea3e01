// Real-sized projects in the program's own window: a full render while every
// tab draws what it shows, and a quit while an opened project's voices are
// still being built.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
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
        launch.timeoutSeconds = 600;  // a hang guard only: the script waits on the program's state
        return RunProgram(launch);
    }
};

}  // namespace

// The interface reads the document every frame while the render worker makes
// the layers; each tab reads its own part of it. The sanitizer builds are the
// judge: any read of what the worker is changing ends the program.
TEST_F(LargeProjectWindow, AFullRenderWhileEveryTabDrawsEndsWithEveryLayerMade) {
    LargeProjectSpec spec;
    spec.eventCount = 600;
    spec.seconds = 600;
    spec.soundCount = 24;
    spec.soundSeconds = 0.5f;
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    const std::string project = WriteLargeProject(large, dir.path(), "Render");
    ASSERT_FALSE(project.empty());

    // Export first (it is not reachable while a task runs), then Settings,
    // Events, Trace, Mixer and Library by their menu commands.
    std::string script = "frames 3\nsettle 120\nmenu 36\nframes 2\nkey G\nframes 50\n";
    for (int command : {38, 45, 46, 48, 47}) script += "menu " + std::to_string(command) + "\nframes 50\n";
    script += "dump during.txt\nsettle 600\ndump rendered.txt\ndiscard\nquit\n";
    ProgramRun run = Start(script, project);
    ASSERT_EQ(run.exitCode, 0) << run.log;

    Dump during = ReadStateDump(dir.File("during.txt"));
    EXPECT_EQ(during["busy.full"], "1") << "the render ended before every tab was drawn: the test needs more events";
    EXPECT_EQ(during["activeTab"], "2");
    Dump rendered = ReadStateDump(dir.File("rendered.txt"));
    EXPECT_EQ(rendered["settle.timeouts"], "0") << run.log;
    EXPECT_EQ(rendered["busy"], "0");
    EXPECT_EQ(rendered["doc.rendered"], "1");
    EXPECT_EQ(Whole(rendered, "doc.placeholders"), 0) << rendered["doc.placeholderNames"];
    // Every event has its layers (a Scatter may place none where its
    // intensity stays low), and the voices play them.
    const int layers = Whole(rendered, "events.results");
    EXPECT_GE(layers, spec.eventCount);
    std::set<int> voiced;
    for (int k = 0; k < layers; ++k) voiced.insert(Whole(rendered, "events.result." + std::to_string(k) + ".event"));
    for (int e = 0; e < spec.eventCount; ++e) {
        if (large.project.events[size_t(e)].shape == kShapeScatter) continue;
        EXPECT_TRUE(voiced.count(e)) << "event " << e << " has no layers";
    }
    EXPECT_EQ(Whole(rendered, "engine.voices"), layers);
}

// Opening a rendered project builds its voices behind the busy overlay; the
// window's close button stops that build and the program ends, writing
// nothing to the project.
TEST_F(LargeProjectWindow, ClosingTheWindowDuringTheVoiceBuildEndsTheProgram) {
    LargeProjectSpec spec;
    spec.eventCount = 2000;
    spec.layers = LargeProjectLayers::Made;
    spec.layersPerEvent = 4;
    spec.soundCount = 24;
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
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
