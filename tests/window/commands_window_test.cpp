// Keys, menu commands and the about box in the program's own window, on the
// timeline's fixture project: a new Spot and its undo, playback from Space,
// the about box from the menu.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "support/window_harness.h"
#include "window/timeline_fixture.h"

namespace {

using Dump = std::map<std::string, std::string>;

double Number(const Dump& dump, const std::string& key) {
    const auto it = dump.find(key);
    EXPECT_NE(it, dump.end()) << key;
    return it == dump.end() ? -1 : std::strtod(it->second.c_str(), nullptr);
}

class CommandsWindow : public ProgramScriptTest {
protected:
    void SetUp() override {
        ProgramScriptTest::SetUp();
        fixture = dir.File("fixture.tlproj");
        ASSERT_TRUE(WriteTimelineFixture(fixture, TimelineFixtureProject()));
    }
    std::string fixture;
};

}  // namespace

TEST_F(CommandsWindow, KeysAddUndoAndPlayTheMenuShowsTheAboutBox) {
    const ProgramRun run = Run("project " + fixture +
                               "\nframes 3\n"
                               "key 1\nframes 2\ndump added.txt\n"
                               "key ctrl+Z\nframes 2\ndump undone.txt\n"
                               "key Space\nwaitplay 1 60\ndump playing.txt\nkey Space\nframes 2\n"
                               "menu 39\nframes 2\nscreenshot about.png\ndump about.txt\n"
                               "click 40 600\nframes 2\ndump closed.txt\n"
                               "discard\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.log;

    Dump added = ReadStateDump(dir.File("added.txt"));
    EXPECT_EQ(added["timeline.events"], "7");
    EXPECT_EQ(added["timeline.event.6.shape"], "0") << "a Spot";
    EXPECT_EQ(Number(added, "timeline.event.6.time"), 0.0) << "at the playhead";
    EXPECT_EQ(added["timeline.selected"], "6");
    EXPECT_EQ(added["commands.last"], "25");

    Dump undone = ReadStateDump(dir.File("undone.txt"));
    EXPECT_EQ(undone["timeline.events"], "6");
    EXPECT_EQ(undone["timeline.selected"], "");
    EXPECT_EQ(undone["commands.last"], "3");

    Dump playing = ReadStateDump(dir.File("playing.txt"));
    EXPECT_EQ(playing["timeline.playing"], "1");
    EXPECT_EQ(playing["timeline.enginePlaying"], "1");
    EXPECT_GT(Number(playing, "commands.enginePlayhead"), 0.5) << "the playhead ran for a second";

    Dump about = ReadStateDump(dir.File("about.txt"));
    EXPECT_EQ(about["about.shown"], "1");
    EXPECT_EQ(about["timeline.playing"], "0") << "the second Space stopped playback";
    // A click beside the card closes it.
    Dump closed = ReadStateDump(dir.File("closed.txt"));
    EXPECT_EQ(closed["about.shown"], "0");
}

TEST_F(CommandsWindow, ClosingWithUnsavedEventsAsksAndDiscardQuits) {
    // Where the confirmation's buttons are, from a run that leaves it up.
    ProgramRun first = Run("project " + fixture +
                           "\nframes 3\nkey 1\nframes 2\nclose\nframes 3\n"
                           "screenshot prompt.png\ndump prompt.txt\ndiscard\nquit\n");
    ASSERT_EQ(first.exitCode, 0) << first.log;
    Dump prompt = ReadStateDump(dir.File("prompt.txt"));
    EXPECT_EQ(prompt["prompt.shown"], "1");
    EXPECT_EQ(prompt["confirmAction"], "1");
    EXPECT_EQ(prompt["quitAfterConfirm"], "1");
    EXPECT_EQ(prompt["timeline.events"], "7") << "nothing was thrown away";
    float x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(std::sscanf(prompt["prompt.discardRect"].c_str(), "%f,%f,%f,%f", &x, &y, &w, &h), 4);
    EXPECT_EQ(w, 56.0f);
    PngImage shot;
    ASSERT_TRUE(ReadPng(dir.File("prompt.png"), shot));

    // The close asks; a click on "Discard" ends the program with 0 and
    // writes no project.
    char click[64];
    std::snprintf(click, sizeof click, "click %.0f %.0f\n", x + w / 2, y + h / 2);
    ProgramRun second = Run("project " + fixture + "\nframes 3\nkey 1\nframes 2\nclose\nframes 3\n" + click +
                            "frames 30\n");
    EXPECT_EQ(second.exitCode, 0) << second.log;
    EXPECT_NE(second.log.find("[UI] shutdown: done"), std::string::npos);
    EXPECT_EQ(second.log.find("[Project] Saved"), std::string::npos);
}
