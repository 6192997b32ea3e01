// Long work in the program's own window: a job queued by the test script
// freezes the window behind the busy overlay and gives it back; a full
// render leaves it live under the live block.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "app/theme.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace {

// `top` drawn over `bottom` at `alpha` (0..255), both packed 0xAABBGGRR;
// the result is opaque.
uint32_t Blend(uint32_t bottom, uint32_t top, int alpha) {
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const int b = static_cast<int>((bottom >> shift) & 0xFF), t = static_cast<int>((top >> shift) & 0xFF);
        out |= static_cast<uint32_t>((t * alpha + b * (255 - alpha) + 127) / 255) << shift;
    }
    return out;
}

// Each channel within `tolerance`.
bool Near(uint32_t a, uint32_t b, int tolerance = 3) {
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

float Number(std::map<std::string, std::string>& dump, const char* key) {
    EXPECT_TRUE(dump.count(key)) << key;
    return std::strtof(dump[key].c_str(), nullptr);
}

}  // namespace

TEST(BusyOverlayWindow, AJobFreezesTheWindowBehindTheCardAndGivesItBack) {
    if (EnsureDisplay().empty()) GTEST_FAIL() << "no X display and no Xvfb could be started";
    TempDir dir;
    // The interface clock moves 50 ms a frame, so the times below hold on a
    // loaded machine too. A button and a key held through the job must not
    // read as held after it.
    WriteWholeFile(dir.File("script.txt"),
                   "clock 0.05\nframes 3\njob 1\nmove 100 500\npress\nkeydown A\n"
                   "wait 0.6\nscreenshot busy.png\ndump busy.txt\n"
                   "wait 1.35\nscreenshot live.png\ndump live.txt\nrelease\nkeyup A\n"
                   "job 1 full\nwait 0.6\nscreenshot full.png\ndump full.txt\nquit\n");
    ProgramRun run = RunProgram(dir.File("script.txt"), {});
    ASSERT_EQ(run.exitCode, 0) << run.log;

    const ThemePalette palette = StartupPalette();
    auto busy = ReadStateDump(dir.File("busy.txt"));
    EXPECT_EQ(busy["busy"], "1");
    EXPECT_EQ(busy["busy.overlay"], "1");
    EXPECT_EQ(busy["busy.frozenFrame"], "1");
    EXPECT_EQ(busy["busy.overlayAlpha"], "1.00");
    const float title = Number(busy, "layout.titleBarHeight");
    const float videoW = Number(busy, "layout.videoWidth");
    const float videoH = Number(busy, "layout.videoHeight");
    const float transportH = Number(busy, "layout.transportHeight");
    // A quarter in: the load button stands at the centre.
    const int videoX = static_cast<int>(videoW / 4), videoY = static_cast<int>(title + videoH / 2);
    const int timelineY = static_cast<int>(title + videoH + transportH + 40);

    // The frozen frame upright under the shade: the video box stays at the
    // top, the timeline at the bottom.
    PngImage shot;
    ASSERT_TRUE(ReadPng(dir.File("busy.png"), shot));
    const uint32_t shadedVideo = Blend(palette.videoBg | 0xFF000000u, palette.busyOverlayBg, 140);
    const uint32_t shadedWindow = Blend(palette.windowBg | 0xFF000000u, palette.busyOverlayBg, 140);
    EXPECT_TRUE(Near(shot.PackedAt(videoX, videoY), shadedVideo))
        << Hex(shot.PackedAt(videoX, videoY)) << " expected " << Hex(shadedVideo);
    EXPECT_TRUE(Near(shot.PackedAt(videoX, timelineY), shadedWindow))
        << Hex(shot.PackedAt(videoX, timelineY)) << " expected " << Hex(shadedWindow);
    // The card with its "Cancel" button at the centre.
    float cancel[4] = {};
    ASSERT_EQ(std::sscanf(busy["busy.cancelRect"].c_str(), "%f,%f,%f,%f", &cancel[0], &cancel[1], &cancel[2],
                          &cancel[3]), 4);
    EXPECT_EQ(cancel[2], 80.0f);
    EXPECT_NEAR(cancel[0] + cancel[2] / 2, 640.0f, 1.0f);
    EXPECT_EQ(shot.PackedAt(static_cast<int>(cancel[0]) - 30, static_cast<int>(cancel[1] + 12)),
              palette.cardBg | 0xFF000000u);

    // At 2 s the live window again, with nothing held over.
    auto live = ReadStateDump(dir.File("live.txt"));
    EXPECT_EQ(live["busy"], "0");
    EXPECT_EQ(live["busy.overlay"], "0");
    EXPECT_EQ(live["busy.frozenFrame"], "0");
    EXPECT_EQ(live["busy.tasksFinished"], "1");
    EXPECT_EQ(live["mouse.down"], "000");
    EXPECT_EQ(live["keys.down"], "0");
    ASSERT_TRUE(ReadPng(dir.File("live.png"), shot));
    EXPECT_EQ(shot.PackedAt(videoX, videoY), palette.videoBg | 0xFF000000u);

    // A full render: the window stays live, unshaded, under the live block.
    auto full = ReadStateDump(dir.File("full.txt"));
    EXPECT_EQ(full["busy"], "1");
    EXPECT_EQ(full["busy.full"], "1");
    EXPECT_EQ(full["busy.overlay"], "0");
    EXPECT_EQ(full["busy.liveBlock"], "1");
    EXPECT_EQ(full["regions"], "##main ##title ##video_area ##events_panel ##transport ##timeline ##footer");
    ASSERT_TRUE(ReadPng(dir.File("full.png"), shot));
    EXPECT_EQ(shot.PackedAt(videoX, videoY), palette.videoBg | 0xFF000000u);
    // Its text stands on a card of its own, centred, hiding what lies under
    // it (the timeline's ruler labels on a short window).
    float card[4] = {};
    ASSERT_EQ(std::sscanf(full["busy.liveBlockRect"].c_str(), "%f,%f,%f,%f", &card[0], &card[1], &card[2], &card[3]),
              4);
    EXPECT_GT(card[2] - card[0], 60.0f);
    EXPECT_NEAR((card[0] + card[2]) / 2, 640.0f, 2.0f);
    const uint32_t inside = shot.PackedAt(static_cast<int>(card[0]) + 4, static_cast<int>((card[1] + card[3]) / 2));
    EXPECT_TRUE(Near(inside, palette.cardBg | 0xFF000000u, 12)) << Hex(inside) << " expected " << Hex(palette.cardBg);
}
