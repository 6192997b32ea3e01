// Start-up decisions of the shell: the project on the command line, the UI
// scale and when the loop keeps drawing.
#include <SDL.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/shell.h"
#include "app/ui_scale.h"
#include "library/sound_library.h"
#include "operations/app_state.h"

TEST(ShellStartup, TheCommandLineNamesAProjectByItsExtension) {
    auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "tessaloom");
        return ParseCommandLine(static_cast<int>(args.size()), args.data());
    };
    EXPECT_EQ(parse({}), "");
    EXPECT_EQ(parse({"/home/a/Reel 1.tlproj"}), "/home/a/Reel 1.tlproj") << "absolute paths begin with a slash";
    EXPECT_EQ(parse({"--verbose", "REEL.TLPROJ"}), "REEL.TLPROJ") << "the extension in capitals is taken";
    EXPECT_EQ(parse({"-x.tlproj", "b.tlproj"}), "b.tlproj") << "switches are skipped";
    EXPECT_EQ(parse({"", "notes.txt", "movie.tlproj.bak", ".tlproj"}), ".tlproj");
    EXPECT_EQ(parse({"a.mp4"}), "");
}

TEST(ShellStartup, TheUiScaleComesFromXftDpi) {
    EXPECT_FLOAT_EQ(ParseXftDpi("Xft.antialias:\t1\nXft.dpi:\t144\nXft.hinting:\t1\n"), 144);
    EXPECT_FLOAT_EQ(ParseXftDpi("Xft.dpi:\t120.5"), 120.5f);
    EXPECT_FLOAT_EQ(ParseXftDpi("Xft.dpi:\tlarge\n"), 0);
    EXPECT_FLOAT_EQ(ParseXftDpi("Xft.dpi:\t-96\n"), 0);
    EXPECT_FLOAT_EQ(ParseXftDpi("*.dpi:\t144\nXft.dpix:\t2\n"), 0);
    EXPECT_FLOAT_EQ(ParseXftDpi(""), 0);
    EXPECT_FLOAT_EQ(ParseXftDpi(nullptr), 0);

    EXPECT_FLOAT_EQ(UiScaleFromDpi(144), 1.5f);
    EXPECT_FLOAT_EQ(UiScaleFromDpi(96), 1);
    EXPECT_FLOAT_EQ(UiScaleFromDpi(0), 1);
    EXPECT_FLOAT_EQ(UiScaleFromDpi(-10), 1);
    EXPECT_FLOAT_EQ(UiScaleFromDpi(std::numeric_limits<float>::quiet_NaN()), 1);
}

TEST(ShellStartup, TheLoopStaysActiveOnlyWhileSomethingMoves) {
    auto app = std::make_unique<AppState>();
    auto library = std::make_unique<SoundLibrary>();
    EXPECT_FALSE(LoopIsActive(*app, *library, {}));

    app->toastTimer = 0.5f;
    EXPECT_TRUE(LoopIsActive(*app, *library, {}));
    app->toastTimer = 0;
    library->scanRunning = 1;
    EXPECT_TRUE(LoopIsActive(*app, *library, {}));
    library->scanRunning = 0;
    app->exportRunning = true;
    EXPECT_TRUE(LoopIsActive(*app, *library, {}));
    app->exportRunning = false;
    GuiActivity typing;
    typing.wantTextInput = true;
    EXPECT_TRUE(LoopIsActive(*app, *library, typing));

    EXPECT_DOUBLE_EQ(FramePaceDelay(0.004, 1.0 / 60), 1.0 / 60 - 0.004);
    EXPECT_DOUBLE_EQ(FramePaceDelay(0.05, 1.0 / 60), 0);
}

TEST(ShellStartup, AFrameIsQuietOnlyWhenNothingStirredForThreeFrames) {
    // The walks of a frame may run before the edit that frame makes, and a
    // worker's result is taken in the frame after the last that saw it
    // running: the two frames after any stir must still walk the project.
    QuietFrames quiet;
    std::vector<bool> seen;
    for (bool stirred : {true, false, false, false, false, true, false, false, false})
        seen.push_back(NextFrameQuiet(quiet, stirred));
    EXPECT_EQ(seen, (std::vector<bool>{false, false, false, true, true, false, false, false, true}));
    // A long idle stretch stays quiet and one stir ends it at once.
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(NextFrameQuiet(quiet, false));
    EXPECT_FALSE(NextFrameQuiet(quiet, true));
}

TEST(ShellStartup, OnlyTheWheelPointerMotionAndTheMiddleButtonLeaveTheDocumentStill) {
    auto event = [](uint32_t type, uint8_t button = 0) {
        SDL_Event e{};
        e.type = type;
        if (button) e.button.button = button;
        return e;
    };
    EXPECT_FALSE(EventMayChangeDocument(event(SDL_MOUSEWHEEL)));
    EXPECT_FALSE(EventMayChangeDocument(event(SDL_MOUSEMOTION)));
    EXPECT_FALSE(EventMayChangeDocument(event(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE)));
    EXPECT_FALSE(EventMayChangeDocument(event(SDL_MOUSEBUTTONUP, SDL_BUTTON_MIDDLE)));
    for (uint8_t button : {SDL_BUTTON_LEFT, SDL_BUTTON_RIGHT, SDL_BUTTON_X1}) {
        EXPECT_TRUE(EventMayChangeDocument(event(SDL_MOUSEBUTTONDOWN, button))) << int(button);
        EXPECT_TRUE(EventMayChangeDocument(event(SDL_MOUSEBUTTONUP, button))) << int(button);
    }
    for (uint32_t type : {SDL_KEYDOWN, SDL_KEYUP, SDL_TEXTINPUT, SDL_DROPFILE, SDL_DROPCOMPLETE, SDL_WINDOWEVENT, SDL_QUIT,
                          SDL_USEREVENT})
        EXPECT_TRUE(EventMayChangeDocument(event(type))) << type;
}
