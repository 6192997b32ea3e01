// The tab row in the program's own window: laid out in points whatever the
// UI scale, switched by a click, the active tab underlined in the accent.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/theme.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

TEST(TabsWindow, AClickOnMixerSwitchesTheTabAndUnderlinesIt) {
    if (EnsureDisplay().empty()) GTEST_FAIL() << "no X display and no Xvfb could be started";
    TempDir dir;

    // Where the tabs stand at scale 1.
    WriteWholeFile(dir.File("look.txt"), "frames 3\ndump look.txt\nquit\n");
    ProgramRun look = RunProgram(dir.File("look.txt"), {});
    ASSERT_EQ(look.exitCode, 0) << look.log;
    auto before = ReadStateDump(dir.File("look.txt"));
    EXPECT_EQ(before["activeTab"], "0");
    EXPECT_EQ(before["tabs.showLabels"], "1");
    EXPECT_EQ(before["fonts.builtIn"], "0") << "the Fonts folder beside the program is loaded";
    PointRect mixer = ParseRect(before["tab.3.rect"]);
    PointRect library = ParseRect(before["tab.2.rect"]);
    ASSERT_GT(mixer.w, 0);

    // The same points at 1.5: the click lands on Mixer.
    char script[256];
    std::snprintf(script, sizeof script, "frames 3\nclick %.1f %.1f\nframes 2\nscreenshot shot.png\ndump after.txt\nquit\n",
                  mixer.x + mixer.w / 2, mixer.y + mixer.h / 2);
    WriteWholeFile(dir.File("click.txt"), script);
    ProgramRun run = RunProgram(dir.File("click.txt"), {{"TL_UI_SCALE", "1.5"}});
    ASSERT_EQ(run.exitCode, 0) << run.log;
    auto after = ReadStateDump(dir.File("after.txt"));
    EXPECT_EQ(after["activeTab"], "3");
    EXPECT_EQ(after["tab.3.rect"], before["tab.3.rect"]) << "tabs are laid out in points";
    EXPECT_EQ(after["fonts.bodySize"], "18.00");

    PngImage shot;
    ASSERT_TRUE(ReadPng(dir.File("shot.png"), shot));
    const float s = 1.5f;
    const int row = static_cast<int>((mixer.y + mixer.h - 1) * s);
    const uint32_t accent = StartupPalette().accent;
    EXPECT_EQ(shot.PackedAt(static_cast<int>((mixer.x + mixer.w / 2) * s), row), accent);
    EXPECT_EQ(shot.PackedAt(static_cast<int>((mixer.x + 3) * s), row), accent);
    EXPECT_NE(shot.PackedAt(static_cast<int>((library.x + library.w / 2) * s), row), accent);
    EXPECT_NE(shot.PackedAt(static_cast<int>((mixer.x + mixer.w / 2) * s), static_cast<int>((mixer.y + 2) * s)), accent);
}
