// A full render of a generated project in the program's own window while the
// designer looks through every tab: each tab draws its frames while the render
// certainly still runs (the script paces the render's events, so the dump can
// tell), reads the document live (the render works on its own copy), and the
// program ends normally with every event rendered and every layer voiced.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "document/event.h"
#include "support/large_project.h"
#include "support/window_harness.h"

namespace {

using Dump = std::map<std::string, std::string>;

class FullRenderWindow : public ProgramScriptTest {};

int Whole(Dump& dump, const std::string& key) { return static_cast<int>(DumpNumber(dump, key)); }

}  // namespace

TEST_F(FullRenderWindow, EveryTabDrawsWhileTheRenderRunsAndTheRenderEndsWhole) {
    // Small enough for the sanitizer builds: the render's pace, not its
    // work, sets the test's length.
    LargeProjectSpec spec{.eventCount = 40, .seconds = 120, .soundCount = 16, .soundSeconds = 0.5f};
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    const std::string project = WriteLargeProject(large, dir.File("work"), "Forty");
    ASSERT_FALSE(project.empty());
    const int events = static_cast<int>(large.project.events.size());

    // The menu commands of the tabs and the tab each shows. The Export tab's
    // command does not pass during a render, so the render starts there.
    struct Tab {
        const char* name;
        int command;
        int index;
    };
    const Tab tabs[] = {{"export", 36, 4}, {"events", 45, 0}, {"trace", 46, 1},
                        {"library", 47, 2}, {"mixer", 48, 3}, {"settings", 38, 5}};
    // One event every 8 frames: the 6 × 52 frames of the tour let at most 39
    // of the 40 events, so the render is running at every tab's dump.
    std::string script = "frames 3\nsettle 60\ndump opened.txt\nrenderpace 8\nmenu 36\nframes 2\nkey G\n";
    for (const Tab& t : tabs)
        script += (t.index == 4 ? std::string() : "menu " + std::to_string(t.command) + "\n") + "frames 50\ndump " +
                  t.name + ".txt\n";
    script += "renderpace 0\nwaittask 120\ndump rendered.txt\ndiscard\nquit\n";

    const ProgramRun run = RunProgram(LaunchOn(project, script, 240));
    ASSERT_EQ(run.exitCode, 0) << run.log;

    Dump opened = ReadStateDump(dir.File("opened.txt"));
    ASSERT_EQ(Whole(opened, "events.count"), events) << run.log;
    ASSERT_EQ(opened["settle.timeouts"], "0") << "the library was not scanned in time\n" << run.log;

    const int layersBefore = Whole(opened, "events.results");
    int framesBefore = Whole(opened, "frames");
    for (const Tab& t : tabs) {
        SCOPED_TRACE(t.name);
        Dump d = ReadStateDump(dir.File(std::string(t.name) + ".txt"));
        EXPECT_EQ(Whole(d, "activeTab"), t.index);
        EXPECT_GE(Whole(d, "frames") - framesBefore, 50);
        framesBefore = Whole(d, "frames");
        EXPECT_EQ(d["busy"], "1");
        EXPECT_EQ(d["busy.full"], "1");
        EXPECT_LT(Whole(d, "busy.eventsDone"), events) << "the render still runs";
        EXPECT_EQ(Whole(d, "drawExceptions"), 0);
        // The panels read the document as it was when the render began.
        EXPECT_EQ(Whole(d, "events.count"), events);
        EXPECT_EQ(Whole(d, "events.results"), layersBefore);
        EXPECT_EQ(d["events.layersBusy"], "0");
    }

    Dump done = ReadStateDump(dir.File("rendered.txt"));
    EXPECT_EQ(done["busy"], "0") << run.log;
    EXPECT_EQ(done["doc.rendered"], "1");
    EXPECT_EQ(Whole(done, "busy.eventsDone"), events);
    EXPECT_EQ(Whole(done, "busy.eventsTotal"), events);
    const int results = Whole(done, "doc.results");
    EXPECT_EQ(Whole(done, "events.results"), results);
    EXPECT_EQ(Whole(done, "engine.voices"), results) << "every layer has its voice";
    EXPECT_EQ(Whole(done, "doc.placeholders"), 0) << done["doc.placeholderNames"];
    // Every event was rendered into layers of its own (a Scatter's few
    // random steps may all miss).
    std::set<int> layered;
    for (int r = 0; r < results; ++r)
        layered.insert(Whole(done, "events.result." + std::to_string(r) + ".event"));
    for (int e = 0; e < events; ++e) {
        if (large.project.events[size_t(e)].shape != kShapeScatter) {
            EXPECT_TRUE(layered.count(e)) << "event " << e;
        }
    }
}
