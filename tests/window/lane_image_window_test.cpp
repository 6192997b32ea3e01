// The timeline's lanes kept as an image: after each kind of change (an
// edit, a selection, a mute, an undo, a zoom, a pan, a drag over several
// frames, drawn straight into them) the quiet frames that
// show the kept image show exactly what the lanes drawn afresh straight into
// the frame show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "support/large_project.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

class LaneImageWindow : public IsolatedHomeTest {};

struct PixelDifference {
    int pixels = 0;    // that differ at all
    int largest = 0;   // channel step
};

PixelDifference Compare(const PngImage& a, const PngImage& b, int y0, int y1) {
    PixelDifference d;
    for (int y = std::max(0, y0); y < std::min({a.height, b.height, y1}); ++y)
        for (int x = 0; x < std::min(a.width, b.width); ++x) {
            const uint32_t p = a.PackedAt(x, y), q = b.PackedAt(x, y);
            if (p == q) continue;
            ++d.pixels;
            for (int shift = 0; shift < 32; shift += 8)
                d.largest = std::max(d.largest, std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)));
        }
    return d;
}

}  // namespace

TEST_F(LaneImageWindow, TheKeptImageShowsWhatTheLanesDrawAfreshAfterEachKindOfChange) {
    LargeProjectSpec spec{
        .eventCount = 120,
        .seconds = 600,
        .layers = LargeProjectLayers::Made,
        .layersPerEvent = 3,
        .soundCount = 6,
    };
    const LargeProject large = MakeLargeProject(spec, dir.File("library"));
    const std::string path = WriteLargeProject(large, dir.File("projects"), "lanes");
    ASSERT_FALSE(path.empty());

    // Each change is followed by quiet frames; the screenshot of the kept
    // image is taken in one, then the lanes are drawn afresh into the frame
    // (no image) for the second screenshot.
    const std::vector<std::pair<std::string, std::string>> changes = {
        {"open", ""},
        {"spot", "key 1\n"},
        {"selectall", "key ctrl+A\n"},
        {"mute", "key M\n"},
        {"undo", "key ctrl+Z\n"},
        {"zoom", "key T\nkey T\nkey T\n"},
        {"pan", "move 700 560\npress middle\nframes 1\nmove 560 560\nframes 1\nrelease middle\n"},
        // A view that moves on every frame draws its lanes into the frame,
        // then keeps an image again once it stops.
        {"drag", "move 700 560\npress middle\nframes 1\nmove 680 560\nframes 1\nmove 650 560\nframes 1\n"
                 "move 610 560\nframes 1\nmove 600 560\nframes 1\nrelease middle\n"},
        {"zoomout", "key R\n"},
    };
    std::string script = "project " + path + "\nframes 3\nwaittask 120\nclick 640 150\nframes 2\nmove 1000 700\n";
    for (const auto& [name, steps] : changes)
        script += steps + "frames 8\nscreenshot " + name + "_image.png\ndump " + name + "_image.txt\nlayerimages off\n" +
                  "frames 4\nscreenshot " + name + "_direct.png\nlayerimages on\nframes 4\nscreenshot " + name +
                  "_fresh.png\n";
    script += "discard\nquit\n";
    ProgramRun run = RunScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.log;

    std::string previous;
    double straight = 0;
    for (const auto& [name, steps] : changes) {
        SCOPED_TRACE(name);
        auto d = ReadStateDump(dir.File(name + "_image.txt"));
        // The drag's frames after its first drew the lanes straight into the frame.
        const double moving = DumpNumber(d, "timeline.laneImage.straight");
        if (name == "drag") {
            EXPECT_GE(moving - straight, 3);
        }
        straight = moving;
        ASSERT_EQ(d["timeline.laneImage"], "texture");
        // The screenshot's frame showed the image unchecked.
        EXPECT_GT(DumpNumber(d, "timeline.laneImage.kept"), 0);
        PngImage image, direct;
        ASSERT_TRUE(ReadPng(dir.File(name + "_image.png"), image));
        ASSERT_TRUE(ReadPng(dir.File(name + "_direct.png"), direct));
        const int top = int(std::floor(DumpNumber(d, "timeline.lanesTop")));
        const int bottom = int(std::ceil(DumpNumber(d, "timeline.lanesBottom")));
        ASSERT_GT(bottom - top, 100);
        // The image kept through the quiet frames is the one drawn afresh.
        PngImage fresh;
        ASSERT_TRUE(ReadPng(dir.File(name + "_fresh.png"), fresh));
        EXPECT_EQ(Compare(image, fresh, top, bottom).pixels, 0);
        // And it shows what the frame shows with the lanes drawn into it. The
        // software renderer rounds some blends into its 8-bit texture one step
        // apart from its window's buffer: a few dozen anti-aliased pixels of
        // the event lane come out a step or two apart, nothing more.
        const PixelDifference apart = Compare(image, direct, top, bottom);
        EXPECT_LE(apart.largest, 2);
        EXPECT_LT(apart.pixels, image.width * (bottom - top) / 1000);
        // Every change shows: the image was not the one before it.
        const std::string pixels(reinterpret_cast<const char*>(image.rgba.data()), image.rgba.size());
        EXPECT_NE(pixels, previous);
        previous = pixels;
    }
}
