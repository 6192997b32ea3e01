// The program's own window under X: what it draws, at which size, and how it
// ends. Each test plays a short script through the program's test driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/theme.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

class MainWindow : public ProgramScriptTest {
protected:
    float Field(const std::map<std::string, std::string>& dump, const std::string& key) {
        auto it = dump.find(key);
        EXPECT_NE(it, dump.end()) << key;
        return it == dump.end() ? -1 : std::strtof(it->second.c_str(), nullptr);
    }
};

// Opaque start-up colours: the frame shows them exactly.
uint32_t Opaque(uint32_t packed) { return packed | 0xFF000000u; }

}  // namespace

TEST_F(MainWindow, BandsShowTheirPaletteColours) {
    ProgramRun run = Run("frames 3\nscreenshot shot.png\ndump dump.txt\nquit\n");
    ASSERT_EQ(run.exitCode, 0);
    auto dump = ReadStateDump(dir.File("dump.txt"));
    PngImage shot;
    ASSERT_TRUE(ReadPng(dir.File("shot.png"), shot));
    ASSERT_EQ(shot.width, 1280);
    ASSERT_EQ(shot.height, 720);
    EXPECT_EQ(dump["regions"], "##main ##title ##video_area ##events_panel ##transport ##timeline ##footer");

    ThemePalette startup = StartupPalette();
    float title = Field(dump, "layout.titleBarHeight");
    float videoW = Field(dump, "layout.videoWidth");
    float videoH = Field(dump, "layout.videoHeight");
    float transportH = Field(dump, "layout.transportHeight");
    // A quarter in: the load button stands at the centre.
    int videoX = static_cast<int>(videoW / 4), videoY = static_cast<int>(title + videoH / 2);
    int transportY = static_cast<int>(title + videoH + transportH / 2);
    int timelineY = static_cast<int>(title + videoH + transportH + 20);
    EXPECT_EQ(shot.PackedAt(videoX, videoY), Opaque(startup.videoBg));
    // Between the toolbar's left group and the trim at its right end.
    EXPECT_EQ(shot.PackedAt(850, transportY), Opaque(startup.transportBg));
    EXPECT_EQ(shot.PackedAt(4, timelineY), Opaque(startup.windowBg)) << "the timeline's margin";
    // The video box ends where the layout says: the events tab's panel follows.
    EXPECT_EQ(shot.PackedAt(static_cast<int>(videoW) + 2, videoY), Opaque(startup.panelBg));
    EXPECT_EQ(shot.PackedAt(static_cast<int>(videoW) - 2, videoY), Opaque(startup.videoBg));
}

TEST_F(MainWindow, AtScaleOneAndAHalfTheWindowHasMorePixelsNotMorePoints) {
    ProgramRun run = Run("frames 3\nmove 200 100\nframes 2\nscreenshot shot.png\ndump dump.txt\n"
                         "blur\nframes 2\ndump unfocused.txt\nquit\n",
                         {{"TL_UI_SCALE", "1.5"}});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NE(run.log.find("[UI] uiScale=1.50, autoFontPreset=Medium"), std::string::npos) << run.log;
    auto dump = ReadStateDump(dir.File("dump.txt"));
    EXPECT_EQ(dump["title"], "Tessaloom");
    EXPECT_EQ(dump["uiScale"], "1.50");
    EXPECT_EQ(dump["window.pixels"], "1920x1080");
    EXPECT_EQ(dump["display.points"], "1280x720");
    EXPECT_FLOAT_EQ(Field(dump, "layout.displayWidth"), 1280);
    EXPECT_EQ(dump["mouse.pos"], "200.00,100.00") << "the pointer reaches the GUI in points";
    EXPECT_EQ(ReadStateDump(dir.File("unfocused.txt"))["mouse.inside"], "0");

    PngImage shot;
    ASSERT_TRUE(ReadPng(dir.File("shot.png"), shot));
    EXPECT_EQ(shot.width, 1920);
    EXPECT_EQ(shot.height, 1080);
    float transportY = (Field(dump, "layout.titleBarHeight") + Field(dump, "layout.videoHeight") +
                        Field(dump, "layout.transportHeight") / 2) * 1.5f;
    EXPECT_EQ(shot.PackedAt(1275, static_cast<int>(transportY)), Opaque(StartupPalette().transportBg));
}

TEST_F(MainWindow, AResizedWindowIsLaidOutAgain) {
    ProgramRun run = Run("frames 2\nresize 1000 600\nframes 3\ndump dump.txt\n");
    ASSERT_EQ(run.exitCode, 0);
    auto dump = ReadStateDump(dir.File("dump.txt"));
    EXPECT_EQ(dump["window.pixels"], "1000x600");
    EXPECT_FLOAT_EQ(Field(dump, "layout.displayWidth"), 1000);
    EXPECT_NEAR(Field(dump, "layout.videoHeight"), 0.38f * 600, 0.01f);
}

TEST_F(MainWindow, TheCloseButtonEndsTheProgramInOrder) {
    ProgramRun run = Run("frames 2\nclose\nframes 100\n");
    ASSERT_EQ(run.exitCode, 0);
    const char* steps[] = {
        "[UI] window open",
        "[UI] shutdown: save preferences",
        "[UI] shutdown: cancel and join the worker thread",
        "[UI] shutdown: join the recipe preview",
        "[UI] shutdown: join the export thread",
        "[UI] shutdown: close the audio output",
        "[UI] shutdown: close the reference video",
        "[UI] shutdown: shut down the GUI",
        "[UI] shutdown: release the OpenGL objects",
        "[UI] shutdown: destroy the window",
        "[UI] shutdown: stop the library analysis",
        "[UI] shutdown: stop the library scan and fingerprints",
        "[UI] shutdown: done",
    };
    size_t at = 0;
    for (const char* step : steps) {
        size_t found = run.log.find(step, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << step << "\n" << run.log;
        at = found;
    }
}

TEST_F(MainWindow, WithoutAWindowSystemTheProgramExitsWithOne) {
    ProgramRun run = RunProgram("", {{"SDL_VIDEODRIVER", "dummy"}});
    EXPECT_EQ(run.exitCode, 1) << run.log;
    EXPECT_EQ(run.log.find("window open"), std::string::npos);
}

TEST_F(MainWindow, AScriptThatCannotBeReadEndsTheRunWithTwo) {
    ProgramRun run = Run("frames 2\nwave hello\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.log.find("line 2: unknown command \"wave\""), std::string::npos) << run.log;
}

// A start on a machine without sound (a server, a container) is no fault:
// the program says so in one line, with no alarm before it. PulseAudio and
// ALSA's configuration are kept away; only a sound card of this machine
// itself would still be found.
TEST_F(MainWindow, AStartWithoutASoundCardSaysSoInOneLine) {
    ASSERT_TRUE(WriteWholeFile(dir.File("asound.conf"), ""));
    ProgramRun run = Run("frames 2\nquit\n", {{"PULSE_SERVER", "unix:" + dir.File("no-pulse")},
                                               {"ALSA_CONFIG_PATH", dir.File("asound.conf")}});
    ASSERT_EQ(run.exitCode, 0) << run.log;
    std::vector<std::string> audio;
    for (size_t at = run.log.find("[Audio]"); at != std::string::npos; at = run.log.find("[Audio]", at + 1))
        audio.push_back(run.log.substr(at, run.log.find('\n', at) - at));
    if (run.log.find("[Audio] no device") == std::string::npos)
        GTEST_SKIP() << "this machine has a sound card of its own:\n" << run.log;
    ASSERT_EQ(audio.size(), 1u) << run.log;
    EXPECT_EQ(audio[0], "[Audio] no device: the null output keeps time at 48000 Hz");
}
