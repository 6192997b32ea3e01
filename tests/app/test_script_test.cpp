// Reading the window test driver's scripts.
#include <SDL.h>
#include <gtest/gtest.h>

#include "app/test_driver.h"

namespace {

std::vector<ScriptStep> Parse(const std::string& text, std::string* error = nullptr) {
    std::vector<ScriptStep> steps;
    std::string why;
    bool ok = ParseTestScript(text, "/scripts", steps, why);
    if (error) *error = why;
    if (!ok) steps.clear();
    return steps;
}

}  // namespace

TEST(TestScript, CompoundCommandsBecomePressAndReleaseAFrameApart) {
    auto steps = Parse("# a click\n\nclick 10 20 right\nkey ctrl+shift+Z\n");
    std::vector<ScriptOp> ops;
    for (const ScriptStep& s : steps) ops.push_back(s.op);
    EXPECT_EQ(ops, (std::vector<ScriptOp>{ScriptOp::Move, ScriptOp::Press, ScriptOp::Frames, ScriptOp::Release,
                                          ScriptOp::Frames, ScriptOp::KeyDown, ScriptOp::Frames, ScriptOp::KeyUp,
                                          ScriptOp::Frames}));
    ASSERT_EQ(steps.size(), 9u);
    EXPECT_EQ(steps[1].button, 1);
    EXPECT_FLOAT_EQ(steps[0].x, 10);
    EXPECT_EQ(steps[1].line, 3);
    EXPECT_EQ(steps[5].scancode, SDL_SCANCODE_Z);
    EXPECT_TRUE(steps[5].modifiers & KMOD_CTRL);
    EXPECT_TRUE(steps[5].modifiers & KMOD_SHIFT);
    EXPECT_FALSE(steps[5].modifiers & KMOD_ALT);
}

TEST(TestScript, PathsAndTextKeepTheRestOfTheLine) {
    auto steps = Parse("screenshot shots/a b.png\ndump /tmp/d.txt\ntext  héllo wörld \ndrop clip.wav\nwaitfile go 2.5\n");
    ASSERT_EQ(steps.size(), 6u);  // the screenshot takes a frame
    EXPECT_EQ(steps[0].text, "/scripts/shots/a b.png");
    EXPECT_EQ(steps[1].op, ScriptOp::Frames);
    EXPECT_EQ(steps[2].text, "/tmp/d.txt");
    EXPECT_EQ(steps[3].text, "héllo wörld");
    EXPECT_EQ(steps[4].text, "/scripts/clip.wav");
    EXPECT_EQ(steps[5].op, ScriptOp::WaitFile);
    EXPECT_EQ(steps[5].text, "/scripts/go");
    EXPECT_FLOAT_EQ(steps[5].x, 2.5f);
}

TEST(TestScript, ClocksWaitsAndJobs) {
    auto steps = Parse("job 1.5\nwait 0.6\njob 0 full\nclock 0.05\nwaitplay 1 60\nrenderpace 8\nbuildpace 0\n");
    ASSERT_EQ(steps.size(), 7u);
    EXPECT_EQ(steps[0].op, ScriptOp::Job);
    EXPECT_FLOAT_EQ(steps[0].x, 1.5f);
    EXPECT_FALSE(steps[0].full);
    EXPECT_EQ(steps[1].op, ScriptOp::Wait);
    EXPECT_FLOAT_EQ(steps[1].x, 0.6f);
    EXPECT_TRUE(steps[2].full);
    EXPECT_EQ(steps[3].op, ScriptOp::Clock);
    EXPECT_FLOAT_EQ(steps[3].x, 0.05f);
    EXPECT_EQ(steps[4].op, ScriptOp::WaitPlay);
    EXPECT_FLOAT_EQ(steps[4].x, 1);
    EXPECT_FLOAT_EQ(steps[4].y, 60);
    EXPECT_EQ(steps[5].op, ScriptOp::RenderPace);
    EXPECT_EQ(steps[5].count, 8);
    EXPECT_EQ(steps[6].op, ScriptOp::BuildPace);
    EXPECT_EQ(steps[6].count, 0);
}

TEST(TestScript, FixturesPlaybackAndMeasures) {
    auto steps = Parse("project fixtures/a b.tlproj\nplay\nmeasure 120\ndiscard\nmeasure 60 zoom\nmeasure 30 pan 12.5\n");
    ASSERT_EQ(steps.size(), 6u);
    EXPECT_EQ(steps[0].op, ScriptOp::Project);
    EXPECT_EQ(steps[0].text, "/scripts/fixtures/a b.tlproj");
    EXPECT_EQ(steps[1].op, ScriptOp::Play);
    EXPECT_EQ(steps[2].op, ScriptOp::Measure);
    EXPECT_EQ(steps[2].count, 120);
    EXPECT_EQ(steps[3].op, ScriptOp::Discard);
    // Still, wheel zoom, middle-button pan by 12.5 points a frame.
    EXPECT_EQ(steps[2].button, 0);
    EXPECT_EQ(steps[4].op, ScriptOp::Measure);
    EXPECT_EQ(steps[4].count, 60);
    EXPECT_EQ(steps[4].button, 1);
    EXPECT_EQ(steps[5].button, 2);
    EXPECT_FLOAT_EQ(steps[5].x, 12.5f);
}

TEST(TestScript, SettlesAndExports) {
    auto steps = Parse("settle 90\nexport out/Reel v2\n");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].op, ScriptOp::Settle);
    EXPECT_FLOAT_EQ(steps[0].x, 90);
    EXPECT_EQ(steps[1].op, ScriptOp::Export);
    EXPECT_EQ(steps[1].text, "/scripts/out/Reel v2");
}

TEST(TestScript, MistakesNameTheirLine) {
    std::string error;
    EXPECT_TRUE(Parse("frames 2\nfly 3\n", &error).empty());
    EXPECT_EQ(error, "line 2: unknown command \"fly\"");
    for (const char* bad : {"frames -1", "frames", "move 1", "click 1 2 thumb", "key NoSuchKey", "key hyper+A",
                            "resize 0 10", "idle 0", "waitfile go", "waitfile go 0", "close now", "screenshot",
                            "move 1e999 0", "wait 0", "job", "job 1 half", "job -1", "clock 0", "clock 2", "project",
                            "play now", "measure", "measure 0", "measure 5 pan", "measure 5 pan 0", "measure 5 spin",
                            "measure 5 zoom 2", "discard all", "settle", "settle 0", "settle 601",
                            "export", "waitplay 1", "waitplay 0 60", "waitplay 1 0", "waitplay 1 601", "buildpace",
                            "buildpace -1", "buildpace 2 frames"}) {
        EXPECT_TRUE(Parse(bad, &error).empty()) << bad;
        EXPECT_EQ(error.rfind("line 1: ", 0), 0u) << bad << ": " << error;
    }
}
