// A designer's hour of 5,000 events opened in the program's own frame loop
// (headless: the null back-end), its clip and Bed weights still unmeasured so
// that the sound probe works through them as the voices are built: the frames
// go on while the probe's weights, the Bed rebuilds and the track assignment
// they start run on the worker, and at the end every weight is learnt and
// the voices follow the layers. How long the frames' work takes is measured
// by BM_OpenHourLongestFrame (bench/engine_holds_bench.cpp), against the
// median frame of the same run.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/frame_driver.h"
#include "app/null_frame_backend.h"
#include "document/busy_task.h"
#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "playback/audio_engine.h"
#include "support/imgui_headless.h"
#include "support/large_project.h"
#include "support/program_work.h"
#include "support/temp_dir.h"

TEST(LargeOpenFrames, NoFrameWaitsForTheProbeTheBedsOrTheirTrackAssignment) {
    TempDir dir;
    LargeProjectSpec spec{
        .eventCount = 5000,
        .seconds = 3600,
        .layers = LargeProjectLayers::Made,
        .layersPerEvent = 2,
        .soundCount = 24,
    };
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    int unmeasured = 0;
    for (const Event& e : large.project.events) {
        unmeasured += e.shape == kShapeClip && e.clipWeight < 0;
        for (float w : e.bedLayerWeight) unmeasured += w < 0;
    }
    ASSERT_GT(unmeasured, 100) << "the probe has weights to learn";
    const std::string path = WriteLargeProject(large, dir.path(), "Hour");
    ASSERT_FALSE(path.empty());
    const size_t layers = large.project.results.size();

    HeadlessProgram program;
    program.Open(path);
    ASSERT_EQ(gAppState.projectPath, path);
    int frames = 0;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(20);  // a hang guard only
    do {
        program.Frame();
        ++frames;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the workers' turn, as a real frame's wait
    } while (ProgramStillWorking() && std::chrono::steady_clock::now() < guard);
    ASSERT_FALSE(ProgramStillWorking()) << "still working after " << frames << " frames";
    // Frames kept coming while the work ran: the work was not done in one.
    EXPECT_GT(frames, 1);

    // The probe learnt every weight and the voices follow the layers.
    int stillUnknown = 0;
    for (const Event& e : gProject.events) {
        stillUnknown += e.shape == kShapeClip && e.clipWeight < 0;
        for (float w : e.bedLayerWeight) stillUnknown += w < 0;
    }
    EXPECT_EQ(stillUnknown, 0);
    EXPECT_GE(gProject.results.size(), layers - layers / 10);
    EXPECT_EQ(gAudioEngine.voices.size(), gProject.results.size());
}
