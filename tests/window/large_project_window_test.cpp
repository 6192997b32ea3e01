// Real-sized projects in the program's own window: a quit while an opened
// project's voices are still being built.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <algorithm>
#include <filesystem>
#include <functional>

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
    ProgramRun Start(const std::string& script, const std::string& project,
                     std::function<void(int)> started = nullptr) {
        ProgramLaunch launch = LaunchOn(project, script, 240);  // below the test runner's own guard
        launch.started = std::move(started);
        return RunProgram(launch);
    }

    // The program started on `project` with `script`, which dumps `closing`
    // just before its close: how long the program took to end after that
    // dump, in seconds (-1 when the dump never came).
    double SecondsFromCloseToExit(const std::string& script, const std::string& project, const std::string& closing,
                                  ProgramRun& run) {
        using Clock = std::chrono::steady_clock;
        std::atomic<bool> seen{false};
        Clock::time_point at{};
        std::thread watch([&] {
            if (!WaitForFile(closing, 200)) return;
            at = Clock::now();
            seen = true;
        });
        run = Start(script, project);
        const Clock::time_point ended = Clock::now();
        watch.join();
        return seen ? std::chrono::duration<double>(ended - at).count() : -1.0;
    }

    // 2,000 events with four layers each (a Clip one) over a library of 24 sounds.
    LargeProject MakeProject() {
        LargeProjectSpec spec{
            .eventCount = 2000,
            .layers = LargeProjectLayers::Made,
            .layersPerEvent = 4,
            .soundCount = 24,
        };
        return MakeLargeProject(spec, dir.File("Library"));
    }
};

}  // namespace

// Opening a rendered project builds its voices behind the busy overlay; the
// window's close button stops that build and the program ends, writing
// nothing to the project.
TEST_F(LargeProjectWindow, ClosingTheWindowDuringTheVoiceBuildEndsTheProgram) {
    LargeProject large = MakeProject();
    // Weights the sound probe would otherwise fill in once the build ends
    // (0.5 reads back as "automatic"): the project opens unmodified, so the
    // close asks nothing.
    FixProbedWeights(large.project);
    const std::string project = WriteLargeProject(large, dir.path(), "Open");
    ASSERT_FALSE(project.empty());
    const std::string before = ReadWholeFile(project);

    // The close is the window's own; the frames after it are never drawn.
    // The build is held to a voice a frame, so the close comes during it;
    // the build stops short and the program ends (its time is printed, not
    // asserted: a loaded machine stretches it).
    ProgramRun run;
    const double closeToExit = SecondsFromCloseToExit("buildpace 1\nframes 4\ndump building.txt\nclose\nframes 100000\n",
                                                      project, dir.File("building.txt"), run);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    ASSERT_GE(closeToExit, 0.0);
    std::printf("[Close] the program ended %.2f s after the close\n", closeToExit);

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

// The same while the sound probe has weights to fill in once the build ends
// (clip and Bed layer weights not yet measured): what the open measures is
// no unsaved change of the designer's, so the close still asks nothing and
// ends the program; and SIGTERM during the build ends it too.
TEST_F(LargeProjectWindow, AProjectTheOpenMeasuresEndsOnACloseOrASignalDuringItsBuild) {
    LargeProject large = MakeProject();
    int unmeasured = 0;
    for (const Event& e : large.project.events)
        unmeasured += (e.shape == kShapeClip && e.clipWeight < 0) +
                      int(std::count_if(e.bedLayerWeight.begin(), e.bedLayerWeight.end(), [](float w) { return w < 0; }));
    ASSERT_GT(unmeasured, 0) << "the probe has weights to fill in";
    const std::string project = WriteLargeProject(large, dir.path(), "Open");
    ASSERT_FALSE(project.empty());
    const std::string before = ReadWholeFile(project);

    // The build held to a voice a frame: the close certainly comes during
    // it, however fast the machine; the probe answers the weights from the
    // project's library once the build has stopped. The interface clock
    // moves a second a frame, so the probe's look (every two seconds) is due
    // in the frame the quit is served, however long the frames take.
    ProgramRun closed;
    const double closeToExit = SecondsFromCloseToExit(
        "buildpace 1\nclock 1\nexitdump closed.txt\nframes 4\ndump closing.txt\nclose\nframes 100000\n", project,
        dir.File("closing.txt"), closed);
    ASSERT_EQ(closed.exitCode, 0) << closed.log;
    ASSERT_GE(closeToExit, 0.0);
    std::printf("[Close] the program ended %.2f s after the close\n", closeToExit);
    EXPECT_NE(closed.log.find("[Cache] Voice build stopped after "), std::string::npos) << closed.log;
    EXPECT_EQ(closed.log.find("unsaved changes:"), std::string::npos) << closed.log;
    Dump closing = ReadStateDump(dir.File("closing.txt"));
    EXPECT_EQ(closing["busy"], "1") << "the close came during the build";
    EXPECT_EQ(closing["busy.status"], "Loading audio...");
    // The quit builds nothing more: the program ends with the voices built
    // before the close (the probe's weights are measured again at the next
    // open, so the voices need not follow them).
    Dump exited = ReadStateDump(dir.File("closed.txt"));
    EXPECT_LT(Whole(exited, "engine.voices"), Whole(closing, "engine.voicesToBuild")) << closed.log;

    std::atomic<int> pid{0};
    std::thread signaller([&] {
        if (WaitForFile(dir.File("building.txt"), 200) && pid.load() > 0) ::kill(pid.load(), SIGTERM);
    });
    // (No stepped clock here: the wait for the signal draws no frames, and
    // that clock would stand still.)
    ProgramRun signalled = Start("buildpace 1\nexitdump signalled.txt\nframes 4\ndump building.txt\nwaitfile " +
                                     dir.File("never") + " 600\n",
                                 project, [&pid](int p) { pid.store(p); });
    signaller.join();
    ASSERT_EQ(signalled.exitCode, 0) << signalled.log;
    Dump building = ReadStateDump(dir.File("building.txt"));
    EXPECT_EQ(building["busy.status"], "Loading audio...");
    EXPECT_NE(signalled.log.find("[UI] SIGTERM: the program ends without asking"), std::string::npos)
        << signalled.log;
    EXPECT_NE(signalled.log.find("[Cache] Voice build stopped after "), std::string::npos) << signalled.log;
    EXPECT_EQ(signalled.log.find("unsaved changes:"), std::string::npos) << signalled.log;
    Dump ended = ReadStateDump(dir.File("signalled.txt"));
    EXPECT_LT(Whole(ended, "engine.voices"), Whole(building, "engine.voicesToBuild")) << signalled.log;
    EXPECT_EQ(ReadWholeFile(project), before) << "the project is left as it was";
    EXPECT_FALSE(std::filesystem::exists(project + ".lock")) << "nothing unsaved: the lock goes as on a quit";
}
