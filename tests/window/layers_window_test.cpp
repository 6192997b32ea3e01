// The rendered layers, the scenes row and the trace view in the program's own
// window, driven by scripts on a rendered fixture project: a scene drawn
// across the armed row, a Clip trimmed at its left edge, and the trace's
// threshold line dragged.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "support/window_harness.h"
#include "window/layers_fixture.h"

namespace {

using Dump = std::map<std::string, std::string>;

class LayersWindow : public ProgramScriptTest {
protected:
    void SetUp() override {
        ProgramScriptTest::SetUp();
        fixture = dir.File("layers.tlproj");
        ASSERT_TRUE(WriteLayersFixture(dir.path(), fixture));
    }

    // The timeline's rows at a UI scale, from a first run on the fixture.
    Dump Measure(const std::string& before = "") {
        ProgramRun run = Run("project " + fixture + "\n" + before + "frames 3\ndump geometry.txt\n");
        EXPECT_EQ(run.exitCode, 0) << run.log;
        return ReadStateDump(dir.File("geometry.txt"));
    }
    float X(Dump& g, float t) { return std::floor(DumpNumber(g, "timeline.x0") + t / 30 * DumpNumber(g, "timeline.width")); }

    std::string fixture;
};

}  // namespace

TEST_F(LayersWindow, AnArmedDragAcrossTheScenesRowMakesSceneOneAndOpensItsRename) {
    Dump g = Measure();
    const float y = DumpNumber(g, "timeline.scenesTop") + 8;
    // Drawn between the fixture's two scenes (10 .. 14 s); the scenes there
    // are "Street" and "Office", so the new one is the first free number
    // from three up.
    const std::string script = "project " + fixture + "\nframes 3\nclick " +
                               ScriptPoint(DumpNumber(g, "timeline.sceneArmX"), DumpNumber(g, "timeline.sceneArmY")) +
                               "\nframes 2\nmove " + ScriptPoint(X(g, 10.5f), y) + "\npress\nframes 1\nmove " +
                               ScriptPoint(X(g, 12), y) + "\nframes 1\nmove " + ScriptPoint(X(g, 13.5f), y) +
                               "\nframes 2\nrelease\nframes 2\nscreenshot scene.png\ndump scene.txt\ndiscard\n";
    ProgramRun run = Run(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump d = ReadStateDump(dir.File("scene.txt"));
    ASSERT_EQ(d["timeline.scenes"], "3");
    EXPECT_EQ(d["timeline.scene.1.name"], "Scene 3");
    EXPECT_NEAR(DumpNumber(d, "timeline.scene.1.in"), 10.5f, 0.1f);
    EXPECT_NEAR(DumpNumber(d, "timeline.scene.1.out"), 13.5f, 0.1f);
    EXPECT_EQ(d["timeline.renamingScene"], "1") << "its name opens for editing";
    EXPECT_EQ(d["timeline.sceneRenameIsNew"], "1");
    EXPECT_EQ(d["timeline.activeScene"], "1");
    EXPECT_EQ(d["timeline.undoDepth"], "1");
}

TEST_F(LayersWindow, ALeftEdgeDragOnAClipBlockChangesItsSourceOffset) {
    Dump g = Measure();
    ASSERT_GT(DumpNumber(g, "timeline.layersTop"), 0);
    // FX A holds the Clip: its header, then its first row.
    const float y = DumpNumber(g, "timeline.layersTop") + 18 + 12;
    const float edge = X(g, 4) + 3;
    const std::string script = "project " + fixture + "\nframes 3\nmove " + ScriptPoint(edge, y) + "\npress\nframes 1\nmove " +
                               ScriptPoint(edge + 20, y) + "\nframes 1\nmove " + ScriptPoint(X(g, 5) + 3, y) +
                               "\nframes 2\nrelease\nframes 2\nscreenshot trim.png\ndump trim.txt\ndiscard\n";
    ProgramRun run = Run(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump d = ReadStateDump(dir.File("trim.txt"));
    EXPECT_NEAR(DumpNumber(d, "timeline.event.0.clipSourceOffset"), 3, 0.1f);
    EXPECT_NEAR(DumpNumber(d, "timeline.event.0.time"), 5, 0.1f);
    EXPECT_EQ(d["timeline.undoDepth"], "1");
    EXPECT_EQ(d["timeline.selected"], "0");
}

TEST_F(LayersWindow, DraggingTheThresholdLineChangesTheOpticalDetail) {
    // A click on the Trace tab shows the trace view.
    Dump first = Measure();
    float tx = 0, ty = 0, tw = 0, th = 0;
    ASSERT_EQ(std::sscanf(first["tab.1.rect"].c_str(), "%f,%f,%f,%f", &tx, &ty, &tw, &th), 4);
    const std::string toTrace = "frames 3\nclick " + ScriptPoint(tx + tw / 2, ty + th / 2) + "\nframes 2\n";
    Dump g = Measure(toTrace);
    const float top = DumpNumber(g, "timeline.traceTop");
    ASSERT_GT(top, 0) << "the trace view is shown " << first["tab.1.rect"] << " tab " << g["activeTab"];
    const float height = DumpNumber(g, "timeline.lanesBottom") - top;
    const float lineY = top + height - 0.359125f * height;
    const std::string script = "project " + fixture + "\n" + toTrace + "frames 3\nmove " + ScriptPoint(X(g, 6), lineY) +
                               "\npress\nframes 1\nmove " + ScriptPoint(X(g, 6), top + height * 0.5f) + "\nframes 1\nmove " +
                               ScriptPoint(X(g, 6), top + height * 0.8f) +
                               "\nframes 2\nrelease\nframes 2\nscreenshot trace.png\ndump trace.txt\ndiscard\n";
    ProgramRun run = Run(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump d = ReadStateDump(dir.File("trace.txt"));
    EXPECT_NEAR(DumpNumber(d, "timeline.opticalDetail"), 1 - std::sqrt(0.2f / 0.85f), 0.03f);
}
