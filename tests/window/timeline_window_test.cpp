// The timeline in the program's own window, driven by scripts on a fixture
// project: dragging an event on its lane, painting a curve in draw mode,
// pressing the ruler, and where the playhead is drawn.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "support/window_harness.h"
#include "window/timeline_fixture.h"

namespace {

class TimelineWindow : public ProgramScriptTest {
protected:
    void SetUp() override {
        ProgramScriptTest::SetUp();
        ASSERT_TRUE(WriteTimelineFixture(dir.File("fixture.tlproj"), TimelineFixtureProject()));
    }
};

}  // namespace

TEST_F(TimelineWindow, Look) {
    const char* keep = std::getenv("TL_KEEP_SHOTS");
    if (keep) std::system(("cp -r " + dir.File("fixture.tlproj") + " " + dir.File("Audio") + " " + keep + "/ 2>/dev/null").c_str());
    for (const char* scale : {"1", "1.5"}) {
        ProgramRun run = Run("project " + dir.File("fixture.tlproj") + "\nframes 3\nclick 700 640\nframes 2\n"
                             "screenshot shot.png\ndump dump.txt\n", {{"TL_UI_SCALE", scale}});
        ASSERT_EQ(run.exitCode, 0) << run.log;
        if (keep) std::system(("cp " + dir.File("shot.png") + " " + keep + "/shot-" + scale + ".png && cp " +
                               dir.File("dump.txt") + " " + keep + "/dump-" + scale + ".txt").c_str());
    }
}
