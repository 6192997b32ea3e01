// The fixed bands and the launcher in the program's own window: a fixture
// project opened from the command line, clicks on the transport, the Spot
// button and a tab, and the start-up launcher listing recent projects.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "app/theme.h"
#include "document/event.h"
#include "document/project.h"
#include "persistence/project_file.h"
#include "support/temp_dir.h"
#include "support/video_fixtures.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

struct Point {
    float x = 0, y = 0;
};

// The centre of a "x,y,w,h" rectangle of the dump.
Point Centre(const std::map<std::string, std::string>& dump, const std::string& key) {
    auto it = dump.find(key);
    EXPECT_NE(it, dump.end()) << key;
    float x = 0, y = 0, w = 0, h = 0;
    if (it != dump.end()) {
        EXPECT_EQ(std::sscanf(it->second.c_str(), "%f,%f,%f,%f", &x, &y, &w, &h), 4);
    }
    return {x + w / 2, y + h / 2};
}

double Number(const std::map<std::string, std::string>& dump, const std::string& key) {
    auto it = dump.find(key);
    EXPECT_NE(it, dump.end()) << key;
    return it == dump.end() ? -1 : std::strtod(it->second.c_str(), nullptr);
}

std::string Click(Point p) {
    char line[64];
    std::snprintf(line, sizeof line, "click %.1f %.1f\n", static_cast<double>(p.x), static_cast<double>(p.y));
    return line;
}

// `events` Spot events a second apart.
bool WriteSpotProject(const std::string& path, int events, const std::string& description = "") {
    Project project;
    for (int i = 0; i < events; ++i) AddEvent(project, 1.0f + float(i), kShapeSpot, 0.5f);
    ProjectSaveContext ctx;
    ctx.project = &project;
    ctx.projectDescription = description;
    fs::create_directories(fs::path(path).parent_path());
    return WriteProjectFile(path, ctx);
}

class BandsWindow : public ProgramScriptTest {
protected:
    ProgramRun RunWith(const std::string& script, const std::vector<std::string>& arguments,
                       std::vector<std::pair<std::string, std::string>> env = {}) {
        WriteWholeFile(dir.File("script.txt"), script);
        ProgramLaunch launch;
        launch.scriptPath = dir.File("script.txt");
        launch.arguments = arguments;
        launch.environment = std::move(env);
        ProgramRun run = RunProgram(launch);
        EXPECT_EQ(run.exitCode, 0) << run.log;
        return run;
    }
};

}  // namespace

TEST_F(BandsWindow, TransportSpotButtonAndTabsWorkOnAFixtureProject) {
    const std::string project = dir.File("Reel/Reel.tlproj");
    ASSERT_TRUE(WriteSpotProject(project, 3));

    // Where the bands put their buttons.
    RunWith("waittask 60\ndump look.txt\nquit\n", {project});
    auto look = ReadStateDump(dir.File("look.txt"));
    EXPECT_EQ(look["band.projectName"], "Reel.tlproj");
    EXPECT_EQ(look["band.footerRight"], "3 events   48 kHz   24 fps");
    EXPECT_EQ(look["events"], "3");

    // Opening rebuilds the voices behind the busy overlay first.
    std::string script = "waittask 60\n" + Click(Centre(look, "band.play.rect")) +
                         "waitplay 0.5 60\ndump playing.txt\n" + Click(Centre(look, "band.stop.rect")) +
                         "frames 2\ndump stopped.txt\n" + Click(Centre(look, "band.ffwd.rect")) +
                         Click(Centre(look, "band.ffwd.rect")) + Click(Centre(look, "band.shp0.rect")) +
                         "frames 2\ndump spot.txt\n" + Click(Centre(look, "tab.3.rect")) +
                         "frames 3\nscreenshot bands.png\ndump tab.txt\ndiscard\nquit\n";
    RunWith(script, {project});

    auto playing = ReadStateDump(dir.File("playing.txt"));
    EXPECT_EQ(playing["playing"], "1");
    EXPECT_GT(Number(playing, "currentTime"), 0.2) << "the playhead follows the engine";
    EXPECT_NE(playing["band.timecode"], "00:00:00:00");

    auto stopped = ReadStateDump(dir.File("stopped.txt"));
    EXPECT_EQ(stopped["playing"], "0");
    EXPECT_EQ(Number(stopped, "currentTime"), 0.0);
    EXPECT_EQ(stopped["enginePosition"], "0");
    EXPECT_EQ(stopped["band.timecode"], "00:00:00:00");

    // Two frames forward at 24 fps, then a Spot there, selected, one undo step.
    auto spot = ReadStateDump(dir.File("spot.txt"));
    EXPECT_EQ(spot["events"], "4");
    EXPECT_EQ(spot["event.3"], "0,0.083,0");
    EXPECT_EQ(spot["undoSteps"], "1");
    EXPECT_EQ(spot["band.footerRight"], "4 events   48 kHz   24 fps");

    auto tab = ReadStateDump(dir.File("tab.txt"));
    EXPECT_EQ(tab["activeTab"], "3");
}

TEST_F(BandsWindow, TheStartupLauncherListsTheRecentProjects) {
    const std::string first = dir.File("Chase/Chase.tlproj");
    const std::string second = dir.File("Storm/Storm.tlproj");
    ASSERT_TRUE(WriteSpotProject(first, 2, "Reel 3, the chase"));
    ASSERT_TRUE(WriteSpotProject(second, 1));
    // The preferences of a designer who worked on both, newest first.
    const std::string appData = dir.File("appdata");
    fs::create_directories(appData + "/Tessaloom");
    WriteWholeFile(appData + "/Tessaloom/com.tessaloom.prefs",
                   "showLauncherOnStartup=1\nrecentProject=" + first + "\nrecentProject=" + second + "\n");

    RunWith("frames 6\nscreenshot launcher.png\ndump shown.txt\nclick 4 700\nframes 2\ndump closed.txt\nquit\n", {},
            {{"APPDATA", appData}});
    auto shown = ReadStateDump(dir.File("shown.txt"));
    EXPECT_EQ(shown["launcher.drawn"], "1");
    EXPECT_EQ(shown["launcher.rows"], "2");
    EXPECT_EQ(shown["launcher.description.0"], "Reel 3, the chase");
    EXPECT_EQ(shown["launcher.description.1"], "");
    EXPECT_FALSE(shown["launcher.date.0"].empty());

    // A click outside the card closes it for good.
    auto closed = ReadStateDump(dir.File("closed.txt"));
    EXPECT_EQ(closed["launcher.shown"], "0");
    EXPECT_EQ(closed["launcher.dismissed"], "1");
    EXPECT_EQ(closed["launcher.drawn"], "0");
}

TEST_F(BandsWindow, ADroppedVideoShowsItsPicturesWhilePlayingAndUnloads) {
    TestVideoSpec spec;
    spec.seconds = 2;
    const std::string video = dir.File("shot.mp4");
    ASSERT_TRUE(MakeTestVideo(video, spec));

    RunWith("frames 2\ndrop " + video + "\nframes 3\ndump loaded.txt\nquit\n", {});
    auto loaded = ReadStateDump(dir.File("loaded.txt"));
    EXPECT_EQ(loaded["layout.hasVideo"], "1");
    EXPECT_EQ(loaded["band.videoCaption"], "160x96  25.0fps  2.0s");
    EXPECT_GE(Number(loaded, "band.videoUploads"), 1);

    const std::string script = "frames 2\ndrop " + video + "\nframes 3\n" + Click(Centre(loaded, "band.play.rect")) +
                               "waitplay 0.8 60\nscreenshot playing.png\ndump playing.txt\n" +
                               Click(Centre(loaded, "band.unloadvideo.rect")) + "frames 3\ndump unloaded.txt\nquit\n";
    RunWith(script, {});
    auto playing = ReadStateDump(dir.File("playing.txt"));
    EXPECT_EQ(playing["playing"], "1");
    EXPECT_GT(Number(playing, "band.videoUploads"), Number(loaded, "band.videoUploads"))
        << "new pictures reach the texture while the video plays";
    // The picture is drawn: its stripes are black or white, not the box's colour.
    PngImage shot;
    ASSERT_TRUE(ReadPng(dir.File("playing.png"), shot));
    const Point c = Centre(playing, "band.picture.rect");
    const uint32_t px = shot.PackedAt(static_cast<int>(c.x), static_cast<int>(c.y));
    EXPECT_NE(px, StartupPalette().videoBg | 0xFF000000u);

    auto unloaded = ReadStateDump(dir.File("unloaded.txt"));
    EXPECT_EQ(unloaded["layout.hasVideo"], "0");
    EXPECT_EQ(unloaded["playing"], "0") << "unloading stops playback";
    EXPECT_EQ(unloaded["band.videoCaption"], "");
}
