// The timeline in the program's own window, driven by scripts on a fixture
// project: dragging an event on its lane, painting a curve in draw mode,
// pressing the ruler (and where the playhead is drawn), and audio files
// dropped at the playhead.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/theme.h"
#include "support/audio_fixtures.h"
#include "support/window_harness.h"
#include "window/timeline_fixture.h"

namespace {

using Dump = std::map<std::string, std::string>;

// Where the timeline puts its rows at a UI scale, read from a first run of
// the program on the fixture (the label column's width follows the fonts).
struct Geometry {
    float x0 = 0;
    float width = 0;
    float rulerTop = 0;
    float eventLaneTop = 0;
    float weightLaneTop = 0;
    float drawButtonX = 0;
    float drawButtonY = 0;
    float X(float t, float viewStart = 0, float viewDuration = 30) const {
        return std::floor(x0 + (t - viewStart) / viewDuration * width);
    }
};

class TimelineWindow : public ProgramScriptTest {
protected:
    void SetUp() override {
        ProgramScriptTest::SetUp();
        fixture = dir.File("fixture.tlproj");
        ASSERT_TRUE(WriteTimelineFixture(fixture, TimelineFixtureProject()));
    }

    Geometry Measure(const char* scale) {
        Geometry g;
        ProgramRun run = Run("project " + fixture + "\nframes 3\ndump geometry.txt\n", {{"TL_UI_SCALE", scale}});
        EXPECT_EQ(run.exitCode, 0) << run.log;
        Dump d = ReadStateDump(dir.File("geometry.txt"));
        g.x0 = DumpNumber(d, "timeline.x0");
        g.width = DumpNumber(d, "timeline.width");
        g.rulerTop = DumpNumber(d, "timeline.rulerTop");
        g.eventLaneTop = DumpNumber(d, "timeline.eventLaneTop");
        g.weightLaneTop = DumpNumber(d, "timeline.weightLaneTop");
        g.drawButtonX = DumpNumber(d, "timeline.drawButtonX");
        g.drawButtonY = DumpNumber(d, "timeline.drawButtonY");
        EXPECT_GT(g.width, 500);
        return g;
    }

    std::string fixture;
};

}  // namespace

TEST_F(TimelineWindow, ALaneDragMovesTheEventByTheDraggedFrames) {
    const Geometry g = Measure("1.5");
    const float y = g.eventLaneTop + 12;
    // Even points are whole pixels at 1.5, so the pointer lands exactly there.
    const float grab = 2 * std::floor(g.X(15) / 2);  // on the Fill's sync marker
    const float drag = 84;
    const std::string script = "project " + fixture + "\nframes 3\nclick " + ScriptPoint(grab, y) +
                               "\nframes 2\nmove " + ScriptPoint(grab, y) + "\npress\nframes 1\nmove " +
                               ScriptPoint(grab + 40, y) + "\nframes 1\nmove " + ScriptPoint(grab + drag, y) +
                               "\nframes 2\nrelease\nframes 2\ndump moved.txt\ndiscard\n";
    ProgramRun run = Run(script, {{"TL_UI_SCALE", "1.5"}});
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump d = ReadStateDump(dir.File("moved.txt"));
    const float frames = std::round(drag / (g.width / 30) * 25);
    EXPECT_NEAR(DumpNumber(d, "timeline.event.3.time"), 15 + frames / 25, 1e-3) << frames << " frames";
    EXPECT_EQ(d["timeline.event.2.time"], "10.0000") << "only the selected event moves";
    EXPECT_EQ(d["timeline.selected"], "3");
    EXPECT_EQ(d["timeline.undoDepth"], "1") << "the move is one undo step";
    EXPECT_NEAR(DumpNumber(d, "timeline.currentTime"), 15 + frames / 25, 1e-3) << "the playhead follows the move";
}

TEST_F(TimelineWindow, ADrawModeStrokeRaisesTheCurveUnderIt) {
    const Geometry g = Measure("1");
    // The Fill (15 .. 23 s, weight 0.2) selected, then draw mode: the view
    // shows its span with 5 % margins and the lanes are 120 points high.
    const float viewStart = 14.6f, viewDuration = 8.8f;
    const float y = g.weightLaneTop + 120 * (1 - 0.85f);
    std::string script = "project " + fixture + "\nframes 3\nclick " + ScriptPoint(g.X(15), g.eventLaneTop + 12) +
                         "\nframes 2\nclick " + ScriptPoint(g.drawButtonX, g.drawButtonY) + "\nframes 3\n" + "move " +
                         ScriptPoint(g.X(17, viewStart, viewDuration), y) + "\npress\nframes 1\n";
    for (float t = 17.25f; t <= 19.01f; t += 0.25f)
        script += "move " + ScriptPoint(g.X(t, viewStart, viewDuration), y) + "\nframes 1\n";
    script += "release\nframes 2\nscreenshot stroke.png\ndump stroke.txt\ndiscard\n";
    ProgramRun run = Run(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump d = ReadStateDump(dir.File("stroke.txt"));
    EXPECT_EQ(d["timeline.curveDrawMode"], "1");
    EXPECT_EQ(d["timeline.laneMode"], "2");
    EXPECT_NEAR(DumpNumber(d, "timeline.viewStart"), viewStart, 1e-3);
    const std::vector<float> weight = DumpNumbers(d["timeline.event.3.weight"]);  // points 0, 17, ... 255
    ASSERT_EQ(weight.size(), 16u);
    // 17 .. 19 s of 15 .. 23 s is 0.25 .. 0.5 of the span: points 64 .. 128.
    for (size_t k = 5; k <= 6; ++k) EXPECT_GT(weight[k], 0.7f) << "point " << 17 * k;
    EXPECT_NEAR(weight[0], 0.2f, 1e-3) << "untouched before the stroke";
    EXPECT_NEAR(weight[15], 0.2f, 1e-3) << "and after it";
    EXPECT_EQ(d["timeline.event.3.locked"], "0");
    EXPECT_EQ(d["timeline.undoDepth"], "1") << "the stroke is one undo step";
}

TEST_F(TimelineWindow, ARulerPressMovesThePlayheadStopsPlaybackAndThePlayheadIsDrawnThere) {
    for (const char* scale : {"1", "1.5"}) {
        SCOPED_TRACE(scale);
        const Geometry g = Measure(scale);
        const std::string script = "project " + fixture + "\nframes 3\nclick " + ScriptPoint(g.X(15), g.eventLaneTop + 12) +
                                   "\nframes 1\nplay\nframes 2\nmove " + ScriptPoint(g.X(7.5f), g.rulerTop + 10) +
                                   "\npress\nframes 2\nrelease\nmove " + ScriptPoint(g.X(28), g.rulerTop - 30) +
                                   "\nframes 3\nscreenshot ruler.png\ndump ruler.txt\ndiscard\n";
        ProgramRun run = Run(script, {{"TL_UI_SCALE", scale}});
        ASSERT_EQ(run.exitCode, 0) << run.log;
        Dump d = ReadStateDump(dir.File("ruler.txt"));
        EXPECT_EQ(d["timeline.playing"], "0");
        EXPECT_EQ(d["timeline.enginePlaying"], "0");
        EXPECT_EQ(d["timeline.selected"], "") << "the press cleared the selection";
        const float t = DumpNumber(d, "timeline.currentTime");
        EXPECT_NEAR(t, 7.5f, 0.05f);
        EXPECT_FLOAT_EQ(t * 25, std::round(t * 25)) << "on a frame";

        // The playhead line: in the lanes, the column at its x is the
        // brightest, the lane's own colour a few pixels away.
        const float expectedX = g.x0 + t / 30 * g.width;
        EXPECT_NEAR(DumpNumber(d, "timeline.playheadX"), expectedX, 0.01f);
        PngImage shot;
        ASSERT_TRUE(ReadPng(dir.File("ruler.png"), shot));
        const float s = std::strtof(scale, nullptr);
        const int px = static_cast<int>(std::lround(expectedX * s));
        const int py = static_cast<int>((g.eventLaneTop + 24 + 12) * s);  // the weight lane, below its curves
        auto brightness = [&](int x) {
            const uint32_t c = shot.PackedAt(x, py);
            return int(c & 0xFF) + int((c >> 8) & 0xFF) + int((c >> 16) & 0xFF);
        };
        int brightest = px;
        for (int x = px - 12; x <= px + 12; ++x)
            if (brightness(x) > brightness(brightest)) brightest = x;
        EXPECT_LE(std::abs(brightest - px), 1) << "brightest column " << brightest << ", expected " << px;
        EXPECT_GT(brightness(brightest), brightness(px + 8) + 150);
    }
}

TEST_F(TimelineWindow, DroppedAudioFilesBecomeClipsAtThePlayheadOrWithAltOneBed) {
    std::string files;
    for (int i = 1; i <= 3; ++i) {
        AudioSpec spec;
        spec.seconds = 0.4 + 0.2 * i;
        spec.frequency = 200.0 * i;
        const std::string path = dir.File("Hit " + std::to_string(i) + ".wav");
        ASSERT_TRUE(WriteTestAudio(path, spec));
        files += "dropfile " + path + "\n";
    }
    const Geometry g = Measure("1");
    // The playhead to 4 s, then the files dropped on the video area; the
    // second drop once the probe's weights for the first have reached the
    // voices (a rebuild of its own, which takes no drop while it runs).
    const std::string script = "project " + fixture + "\nframes 3\nclick " + ScriptPoint(g.X(4), g.rulerTop + 10) +
                               "\nframes 1\nmove 100 100\ndropbegin\n" + files +
                               "dropcomplete\nframes 3\ndump clips.txt\nsettle 60\ndropbegin\n" + files +
                               "dropcomplete alt\nframes 3\ndump bed.txt\ndiscard\n";
    ProgramRun run = Run(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump clips = ReadStateDump(dir.File("clips.txt"));
    const float t = DumpNumber(clips, "timeline.currentTime");
    EXPECT_NEAR(t, 4, 0.05f);
    EXPECT_EQ(clips["timeline.events"], "9");
    for (int e = 6; e <= 8; ++e) {
        const std::string key = "timeline.event." + std::to_string(e) + ".";
        EXPECT_EQ(clips[key + "shape"], "5") << e;
        EXPECT_NEAR(DumpNumber(clips, key + "time"), t, 1e-4) << e;
        EXPECT_NEAR(DumpNumber(clips, key + "duration"), 0.4 + 0.2 * (e - 5), 1e-3) << e;
    }
    EXPECT_EQ(clips["timeline.selected"], "6,7,8");
    EXPECT_EQ(clips["timeline.primary"], "8");
    EXPECT_EQ(clips["timeline.undoDepth"], "1");

    Dump bed = ReadStateDump(dir.File("bed.txt"));
    EXPECT_EQ(bed["timeline.events"], "10");
    EXPECT_EQ(bed["timeline.event.9.shape"], "6");
    EXPECT_EQ(bed["timeline.event.9.layers"], "3");
    EXPECT_NEAR(DumpNumber(bed, "timeline.event.9.time"), t, 1e-4);
    EXPECT_EQ(bed["timeline.selected"], "9");
    EXPECT_EQ(bed["timeline.undoDepth"], "2");
}
