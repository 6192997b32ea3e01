// The program's own caption in its window: the caption buttons at a UI scale
// of 2, the menu button's popup, an accelerator, the minimum size, the close
// button's quit, and a second copy handing its project to the running one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/single_instance.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

PixelRect ParsePixelRect(const std::string& text) {
    PixelRect r;
    EXPECT_EQ(std::sscanf(text.c_str(), "%d,%d,%d,%d", &r.left, &r.top, &r.right, &r.bottom), 4) << text;
    return r;
}

void ParsePair(const std::string& text, float& a, float& b) {
    EXPECT_EQ(std::sscanf(text.c_str(), "%f,%f", &a, &b), 2) << text;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(TitleBarWindow, CaptionButtonsMenuAcceleratorMinimumSizeAndCloseAtScaleTwo) {
    if (EnsureDisplay().empty()) GTEST_FAIL() << "no X display and no Xvfb could be started";
    TempDir dir;
    // 1280 × 720 points: the close button's centre is 23 points from the right
    // edge; the menu button is 36 points wide at the left.
    WriteWholeFile(dir.File("script.txt"),
                   "frames 3\n"
                   "dump start.txt\n"
                   "move 1257 20\nframes 2\nscreenshot hover.png\ndump hover.txt\n"
                   // Pressed on close, released elsewhere: nothing.
                   "press\nmove 600 300\nframes 1\nrelease\nframes 2\ndump away.txt\n"
                   "click 18 20\nframes 3\nscreenshot menu.png\ndump menu.txt\n"
                   "key F1\nframes 1\ndump key.txt\n"
                   "click 900 600\nframes 2\ndump closed.txt\n"
                   // Smaller than the minimum of 960 × 540 points.
                   "resize 800 400\nframes 3\ndump resized.txt\n"
                   "click 937 20\nframes 30\ndump after.txt\n");
    // A screen that holds the whole window at scale two (it never opens
    // larger than the screen).
    PrivateDisplay screen(2560, 1440);
    ASSERT_FALSE(screen.name().empty()) << "no Xvfb of 2560 × 1440 could be started";
    ProgramRun run = RunProgram(dir.File("script.txt"), {{"TL_UI_SCALE", "2"}, {"DISPLAY", screen.name()}});
    ASSERT_EQ(run.exitCode, 0) << run.log;

    auto start = ReadStateDump(dir.File("start.txt"));
    EXPECT_EQ(start["window.pixels"], "2560x1440");
    const PixelRect close = ParsePixelRect(start["caption.closeRect"]);
    EXPECT_EQ(close.right - close.left, 92);
    EXPECT_EQ(close.right, 2560) << "the close button reaches the window's right edge";
    EXPECT_EQ(close.top, 0);
    EXPECT_EQ(ParsePixelRect(start["caption.maximizeRect"]).right, close.left);
    // The drag zone starts where the title (its about button) ends.
    float about[4] = {};
    ASSERT_EQ(std::sscanf(start["band.aboutbtn.rect"].c_str(), "%f,%f,%f,%f", &about[0], &about[1], &about[2],
                          &about[3]), 4);
    EXPECT_GE(about[0] + 2, 40.0f) << "the title stands after the menu button";
    EXPECT_NEAR(std::stof(start["titleBar.dragMinX"]), about[0] + about[2], 0.06f);
    EXPECT_LT(std::stof(start["titleBar.dragMinX"]), std::stof(start["titleBar.dragMaxX"]));
    EXPECT_EQ(start["titleBar.height"], start["layout.titleBarHeight"]);

    auto hover = ReadStateDump(dir.File("hover.txt"));
    EXPECT_EQ(hover["caption.hover"], "3");
    PngImage shot;
    ASSERT_TRUE(ReadPng(dir.File("hover.png"), shot));
    EXPECT_EQ(shot.PackedAt(close.left + 6, 6), 0xFF1C2BC4u) << "the hovered close button is red";
    const uint32_t cross = shot.PackedAt(2 * 1257 + 1, 2 * 20 + 1);
    EXPECT_GT(cross & 0xFF, 0xD0u) << "and its cross white";
    EXPECT_GT((cross >> 16) & 0xFF, 0xD0u);

    auto away = ReadStateDump(dir.File("away.txt"));
    EXPECT_EQ(away["quitRequested"], "0");
    EXPECT_EQ(away["caption.pressed"], "0");

    auto menu = ReadStateDump(dir.File("menu.txt"));
    EXPECT_EQ(menu["menu.open"], "1");
    float x = -1, y = -1, wantX = -1, wantY = -1;
    ParsePair(menu["menu.pos"], x, y);
    ParsePair(menu["menu.requestedPos"], wantX, wantY);
    EXPECT_FLOAT_EQ(wantX, 0) << "the menu button's left edge";
    EXPECT_FLOAT_EQ(wantY, std::stof(start["titleBar.height"])) << "its bottom";
    EXPECT_NEAR(x, wantX, 1.0f);
    EXPECT_NEAR(y, wantY, 1.0f);

    auto key = ReadStateDump(dir.File("key.txt"));
    EXPECT_EQ(key["menu.lastCommand"], "40") << "F1 reached the command slot";
    EXPECT_EQ(ReadStateDump(dir.File("closed.txt"))["menu.open"], "0") << "a click outside closes the menu";

    auto resized = ReadStateDump(dir.File("resized.txt"));
    EXPECT_EQ(resized["window.pixels"], "1920x1080");
    EXPECT_EQ(ParsePixelRect(resized["caption.closeRect"]).right, 1920);

    EXPECT_FALSE(Exists(dir.File("after.txt"))) << "the close button ended the program";
    EXPECT_NE(run.log.find("[UI] caption: close"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[UI] shutdown: done"), std::string::npos) << run.log;
}

TEST(TitleBarWindow, ASecondCopyHandsItsProjectToTheRunningOne) {
    if (EnsureDisplay().empty()) GTEST_FAIL() << "no X display and no Xvfb could be started";
    TempDir dir;
    const std::string runtime = dir.File("run");
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.File("reels").c_str(), 0700), 0);
    const std::pair<std::string, std::string> shared{"XDG_RUNTIME_DIR", runtime};

    // The socket appears just before the first frame, which can take longer
    // than a sender waits for its answer in a sanitizer build on a busy
    // machine: the second copy starts once the first has drawn its frames
    // and waits in its loop, as a copy the designer has been using would.
    WriteWholeFile(dir.File("first.txt"), "frames 3\ndump ready.txt\nwaitfile go 60\ndump first-dump.txt\nquit\n");
    ProgramLaunch firstLaunch;
    firstLaunch.scriptPath = dir.File("first.txt");
    firstLaunch.environment = {shared};
    firstLaunch.timeoutSeconds = 90;
    BackgroundProgram running(firstLaunch);
    const bool listening = WaitForFile(dir.File("ready.txt"), 60) && Exists(runtime + "/tessaloom.sock");

    // The running copy answers at once, though it idles and draws no frames:
    // its listener wakes the loop, which takes the path without opening the
    // project first. Timed from here, not around a whole second process,
    // whose start alone takes more than a second in a sanitizer build on a
    // busy machine.
    // Delivered: the running copy's frame took the path and answered.
    const HandOverSend direct =
        listening ? SendPathToRunningCopy(runtime + "/tessaloom.sock", dir.File("reels/Direct.tlproj"))
                  : HandOverSend::NoRunningCopy;

    // A project named relative to the second copy's own working folder.
    ProgramLaunch second;
    second.environment = {shared};
    second.arguments = {"reels/Reel 1.tlproj"};
    second.workingDir = dir.path();
    second.timeoutSeconds = 20;
    ProgramRun handed = listening ? RunProgram(second) : ProgramRun{};

    // Started without a project, a copy opens its own window.
    WriteWholeFile(dir.File("third.txt"), "frames 2\ndump third-dump.txt\nquit\n");
    ProgramLaunch third;
    third.scriptPath = dir.File("third.txt");
    third.environment = {shared};
    ProgramRun own = listening ? RunProgram(third) : ProgramRun{};

    WriteWholeFile(dir.File("go"), "");
    const ProgramRun& first = running.Wait();
    ASSERT_TRUE(listening) << first.log;
    ASSERT_EQ(first.exitCode, 0) << first.log;

    EXPECT_EQ(direct, HandOverSend::Delivered);
    EXPECT_EQ(handed.exitCode, 0) << handed.log;
    EXPECT_NE(handed.log.find("the running copy opens " + dir.path() + "/reels/Reel 1.tlproj"), std::string::npos)
        << handed.log;
    EXPECT_EQ(handed.log.find("window open"), std::string::npos) << "no window: " << handed.log;

    EXPECT_EQ(own.exitCode, 0) << own.log;
    EXPECT_NE(ReadStateDump(dir.File("third-dump.txt"))["window.pixels"], "") << own.log;
    EXPECT_NE(own.log.find("another copy already listens"), std::string::npos) << own.log;

    auto dump = ReadStateDump(dir.File("first-dump.txt"));
    EXPECT_EQ(dump["secondLaunch.received"], "2") << first.log;
    EXPECT_EQ(dump["secondLaunch.lastPath"], dir.path() + "/reels/Reel 1.tlproj");
    EXPECT_EQ(dump["secondLaunch.serving"], "1") << "the copy without a project left the socket alone";
}
