// The program under X: files dropped through SDL's own drop events, and the
// update check against a server of the test's on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/loopback_http.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

using DropsAndUpdates = ProgramScriptTest;

TEST_F(DropsAndUpdates, ADropIsSortedWhereAndWithTheKeysItWasLetGo) {
    const std::string release = dir.File("release.1");
    ASSERT_EQ(mkdir(release.c_str(), 0755), 0);
    ASSERT_TRUE(WriteWholeFile(release + "/readme", "text"));
    // Files that are there (a missing one is refused), but hold no sound or picture.
    for (const char* name : {"Take.WAV", "first.mp4", "b.aif", "second.mkv"})
        ASSERT_TRUE(WriteWholeFile(dir.File(name), "x"));
    const std::string script = "frames 2\n"
                               "move 300 420\n"
                               "dropbegin\n"
                               "dropfile " + dir.File("Take.WAV") + "\n"
                               "dropfile " + release + "/readme\n"
                               "dropfile " + dir.File("first.mp4") + "\n"
                               "dropfile " + dir.File("b.aif") + "\n"
                               "dropfile " + dir.File("second.mkv") + "\n"
                               "dropcomplete alt\n"
                               "frames 2\n"
                               "dump alt.txt\n"
                               "move 50 60\n"
                               "dropbegin\n"
                               "dropfile " + release + "\n"
                               "dropcomplete alt\n"
                               "frames 2\n"
                               "dump folder.txt\n"
                               "discard\n";
    ProgramRun run = Run(script, {{"TL_UI_SCALE", "1.5"}});
    ASSERT_EQ(run.exitCode, 0);

    auto alt = ReadStateDump(dir.File("alt.txt"));
    EXPECT_EQ(alt["drop.count"], "1");
    EXPECT_EQ(alt["drop.audio"], dir.File("Take.WAV") + "|" + dir.File("b.aif")) << "readme in release.1 is ignored";
    EXPECT_EQ(alt["drop.video"], dir.File("second.mkv")) << "two videos: the last";
    EXPECT_EQ(alt["drop.folders"], "");
    EXPECT_EQ(alt["drop.alt"], "1");
    EXPECT_EQ(alt["drop.x"], "300.00") << "the position is in points at any UI scale";
    EXPECT_EQ(alt["drop.y"], "420.00");
    EXPECT_NE(run.log.find("[UI] drop at 300,420: 5 paths, a video, 0 folders, 2 audio files (Alt)"),
              std::string::npos)
        << run.log;
    // Without any panel that takes audio, Alt asks for one Bed with both files.
    EXPECT_NE(run.log.find("[UI] drop: 2 audio files for a new Bed"), std::string::npos) << run.log;
    // The two "videos" hold no picture: the frame says so.
    EXPECT_NE(run.log.find("[Video]"), std::string::npos) << run.log;

    auto folder = ReadStateDump(dir.File("folder.txt"));
    EXPECT_EQ(folder["drop.count"], "2");
    EXPECT_EQ(folder["drop.folders"], release) << "a folder with a dot in its name is a folder";
    EXPECT_EQ(folder["drop.alt"], "1") << "the last drop was let go with Alt";
    EXPECT_NE(run.log.find("[UI] drop at 50,60: 1 path, no video, 1 folder, 0 audio files\n"), std::string::npos)
        << "Alt means nothing without audio\n"
        << run.log;
}

TEST_F(DropsAndUpdates, ANewerReleaseIsFoundOnTheFirstFrame) {
    const std::string manifest =
        "{\"schemaVersion\":1,\"releases\":[{\"version\":\"2026.11\",\"files\":{\"linux\":"
        "{\"url\":\"https://example.com/2026.11\"}}}]}";
    LoopbackHttpServer server([&](const std::string&) { return HttpReply::Plain(200, manifest); });
    ASSERT_TRUE(server.ok());
    ProgramRun run = Run("frames 2\nsettle 60\nframes 2\ndump dump.txt\n",
                         {{"TL_UPDATE_MANIFEST_URL", server.Url("/manifest.json")}});
    ASSERT_EQ(run.exitCode, 0);
    auto dump = ReadStateDump(dir.File("dump.txt"));
    EXPECT_EQ(dump["update.available"], "1");
    EXPECT_EQ(dump["update.version"], "2026.11");
    EXPECT_EQ(dump["update.page"], "https://example.com/2026.11");
    EXPECT_NE(dump["update.lastCheck"], "0");
    ASSERT_EQ(server.RequestCount(), 1);
    EXPECT_NE(server.Requests()[0].find("User-Agent: Tessaloom/1.0"), std::string::npos);
}

TEST_F(DropsAndUpdates, QuittingDuringAStalledCheckDoesNotWaitForTheNetwork) {
    // The program idles until the request has arrived, however long its
    // start took, then quits.
    const std::string requested = dir.File("requested");
    LoopbackHttpServer server([&](const std::string&) {
        WriteWholeFile(requested, "");
        return HttpReply::Silent();
    });
    ASSERT_TRUE(server.ok());
    ProgramRun run = Run("frames 2\nwaitfile " + requested + " 60\nquit\n",
                         {{"TL_UPDATE_MANIFEST_URL", server.Url("/manifest.json")}});
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(server.RequestCount(), 1) << "the check had started";
    // The quit aborted the stalled request: a quit that waited for it would
    // see the client give up on the silent server, 10 s after the request.
    EXPECT_NE(run.log.find("[UI] shutdown: stop the update check"), std::string::npos);
    EXPECT_NE(run.log.find("[Update] check ended: Request cancelled"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("[Update] check ended: Request timed out"), std::string::npos) << run.log;
}

// With no manifest address the program can never check: the Settings tab
// says the checks are off (not that this version is the latest), shows the
// automatic-check box and "Check now" disabled, and "Check now" asks nobody —
// the last check stays unset.
TEST_F(DropsAndUpdates, WithoutAnAddressTheChecksAreOffAndCheckNowAsksNobody) {
    const std::vector<std::pair<std::string, std::string>> noAddress{{"TL_UPDATE_MANIFEST_URL", ""}};
    auto rectOf = [](const std::string& text) {
        float r[4] = {};
        EXPECT_EQ(std::sscanf(text.c_str(), "%f,%f,%f,%f", &r[0], &r[1], &r[2], &r[3]), 4) << text;
        return std::array<float, 4>{r[0], r[1], r[2], r[3]};
    };
    ASSERT_EQ(Run("frames 3\nmenu 38\nframes 3\ndump top.txt\nquit\n", noAddress).exitCode, 0);
    const auto normalize = rectOf(ReadStateDump(dir.File("top.txt"))["settings.normalize.rect"]);
    // The UPDATES section lies below the fold: the wheel over the settings
    // takes it up, a notch a frame, as far as it goes.
    char move[64];
    std::snprintf(move, sizeof move, "frames 3\nmenu 38\nframes 3\nmove %.1f %.1f\nframes 1\n",
                  normalize[0] + normalize[2] + 40, normalize[1]);
    std::string scroll = move;
    for (int notch = 0; notch < 80; ++notch) scroll += "wheel -1\nframes 1\n";
    scroll += "frames 2\n";
    ASSERT_EQ(Run(scroll + "dump scrolled.txt\nquit\n", noAddress).exitCode, 0);
    auto scrolled = ReadStateDump(dir.File("scrolled.txt"));
    EXPECT_EQ(scrolled["settings.updateText"], "Automatic update checks are off.|This app never connects on its own.");
    EXPECT_EQ(scrolled["settings.updateControls.enabled"], "0") << "the box and Check now stand disabled";
    const auto checkNow = rectOf(scrolled["settings.checkNow.rect"]);
    ASSERT_GT(checkNow[2], 0);
    ASSERT_LT(checkNow[1] + checkNow[3], std::stof(scrolled["layout.displayHeight"])) << "Check now is in sight";

    char click[64];
    std::snprintf(click, sizeof click, "click %.1f %.1f\nframes 2\nsettle 10\n", checkNow[0] + checkNow[2] / 2,
                  checkNow[1] + checkNow[3] / 2);
    ProgramRun run = Run(scroll + click + "dump after.txt\nquit\n", noAddress);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    auto after = ReadStateDump(dir.File("after.txt"));
    EXPECT_EQ(after["update.lastCheck"], "0") << "a check ran";
    EXPECT_EQ(after["settings.updateText"], "Automatic update checks are off.|This app never connects on its own.");
    EXPECT_EQ(run.log.find("[Update]"), std::string::npos) << run.log;

    // The same click with an address (and automatic checks off) asks once:
    // the click above did reach "Check now".
    LoopbackHttpServer server([](const std::string&) { return HttpReply::Plain(200, "{\"schemaVersion\":1}"); });
    ASSERT_TRUE(server.ok());
    const std::string data = dir.File("data");
    std::filesystem::create_directories(data + "/Tessaloom");
    ASSERT_TRUE(WriteWholeFile(data + "/Tessaloom/com.tessaloom.prefs",
                               "showLauncherOnStartup=0\nupdateCheckEnabled=0\n"));
    ProgramRun asked = Run(scroll + "dump enabled.txt\n" + click + "quit\n",
                           {{"TL_UPDATE_MANIFEST_URL", server.Url("/manifest.json")}, {"XDG_DATA_HOME", data}});
    ASSERT_EQ(asked.exitCode, 0) << asked.log;
    EXPECT_EQ(server.RequestCount(), 1) << asked.log;
    EXPECT_EQ(ReadStateDump(dir.File("enabled.txt"))["settings.updateControls.enabled"], "1");
}
