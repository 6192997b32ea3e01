// The program under X: a project named on the command line opens on the
// first frames; a save writes the project into its folder with a crash lock
// that the normal end removes, and the frame after it leaves a thumbnail of
// the real back buffer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "persistence/project_thumbnail.h"
#include "support/lifecycle_rig.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

TEST(ProjectWindow, OpensFromTheCommandLineSavesAndCapturesTheFrame) {
    if (EnsureDisplay().empty()) GTEST_FAIL() << "no X display and no Xvfb could be started";
    TempDir dir;
    const std::string opened = dir.File("Reel/Reel.tlproj");
    ASSERT_TRUE(WriteProjectAt(opened, SpotDocument(3)));
    const std::string copy = dir.File("Copy");
    WriteWholeFile(dir.File("script.txt"), "frames 3\n"
                                           "dump opened.txt\n"
                                           "save " + copy + "\n"
                                           "frames 1\n"
                                           "screenshot shot.png\n"
                                           "dump saved.txt\n"
                                           "quit\n");
    ProgramLaunch launch;
    launch.scriptPath = dir.File("script.txt");
    launch.arguments = {opened};
    ProgramRun run = RunProgram(launch);
    ASSERT_EQ(run.exitCode, 0) << run.log;

    auto open = ReadStateDump(dir.File("opened.txt"));
    EXPECT_EQ(open["project.path"], opened) << run.log;
    EXPECT_EQ(open["project.name"], "Reel");
    EXPECT_EQ(open["project.modified"], "0");
    EXPECT_EQ(open["project.lock"], opened + ".lock");
    EXPECT_EQ(open["toast"], "Project opened");

    const std::string saved = copy + "/Copy.tlproj";
    auto after = ReadStateDump(dir.File("saved.txt"));
    EXPECT_EQ(after["project.path"], saved) << run.log;
    EXPECT_EQ(after["toast"], "Project saved");
    EXPECT_TRUE(fs::is_regular_file(saved));
    // Both locks are gone: the save released the first, the end the second.
    EXPECT_FALSE(fs::exists(opened + ".lock"));
    EXPECT_FALSE(fs::exists(saved + ".lock"));
    EXPECT_NE(run.log.find("[UI] shutdown: remove crash lock"), std::string::npos) << run.log;

    PngImage thumb, shot;
    ASSERT_TRUE(ReadPng(copy + "/Copy.thumb.png", thumb)) << run.log;
    ASSERT_TRUE(ReadPng(dir.File("shot.png"), shot)) << run.log;
    EXPECT_EQ(thumb.width, 400);
    EXPECT_EQ(thumb.height, ThumbnailHeightFor(shot.width, shot.height));
    for (size_t i = 3; i < thumb.rgba.size(); i += 4) ASSERT_EQ(thumb.rgba[i], 255);
    // The window did not change between the two frames: the thumbnail is the
    // screenshot scaled.
    const ThumbnailImage scaled = ScaleThumbnail(shot.rgba.data(), shot.width, shot.height, shot.width * 4);
    ASSERT_EQ(scaled.rgba.size(), thumb.rgba.size());
    double difference = 0;
    for (size_t i = 0; i < thumb.rgba.size(); ++i) difference += std::abs(int(thumb.rgba[i]) - int(scaled.rgba[i]));
    EXPECT_LT(difference / double(thumb.rgba.size()), 1.0);
    // And it is a picture of the window, not an empty buffer.
    int distinct = 0;
    for (size_t i = 4; i < thumb.rgba.size(); i += 4)
        if (thumb.PackedAt(0, 0) != (thumb.rgba[i] | thumb.rgba[i + 1] << 8 | thumb.rgba[i + 2] << 16 | 0xFF000000u))
            ++distinct;
    EXPECT_GT(distinct, 100);
}
