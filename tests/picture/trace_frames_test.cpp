// Suggested cuts and flashes on their frame: which frame changes count as
// hard, and whole traces of videos with cuts and a flash at known frames.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "operations/app_state.h"
#include "picture/trace_frames.h"
#include "support/temp_dir.h"
#include "support/video_fixtures.h"

namespace {

// Changes every 1/24 s from `start`.
std::vector<FrameChange> Changes(double start, std::initializer_list<float> values) {
    std::vector<FrameChange> out;
    for (float v : values) out.push_back({start + double(out.size()) / 24, v});
    return out;
}

}  // namespace

TEST(TraceFrames, CutsAndFlashesAreHardChangesButMotionAndFadesAreNot) {
    const double frame = 1 / 24.0;
    // A cut among still frames and among moving ones.
    EXPECT_DOUBLE_EQ(HardChangeTime(Changes(3.7, {0, 0, 0, 0.6f, 0, 0}), 3.7), 3.7 + 3 * frame);
    EXPECT_DOUBLE_EQ(HardChangeTime(Changes(3.7, {0.03f, 0.05f, 0.04f, 0.4f, 0.03f, 0.06f}), 4), 3.7 + 3 * frame);
    // A three-frame flash: its onset, even for a suggestion at its end.
    EXPECT_DOUBLE_EQ(HardChangeTime(Changes(6.8, {0, 0, 0, 0, 0.9f, 0.02f, 0.02f, 0.9f, 0}), 7.1), 6.8 + 4 * frame);
    // Two cuts apart: the one nearest to the suggestion.
    const std::vector<FrameChange> two = Changes(5, {0.5f, 0, 0, 0, 0, 0, 0, 0, 0, 0.3f, 0});
    EXPECT_DOUBLE_EQ(HardChangeTime(two, 5.05), 5.0);
    EXPECT_DOUBLE_EQ(HardChangeTime(two, 5.3), 5 + 9 * frame);
    // Motion, a fade, a strobe and nothing: no frame to move to.
    for (const auto& changes : {Changes(1, {0.05f, 0.07f, 0.06f, 0.09f, 0.05f}), Changes(1, {0.03f, 0.03f, 0.03f}),
                                Changes(1, {0.5f, 0.6f, 0.5f, 0.6f, 0.5f}), std::vector<FrameChange>{}})
        EXPECT_TRUE(std::isnan(HardChangeTime(changes, 1)));
}

// The trace samples ten times a second and smooths; its spots for the cuts
// and the flash land on their frames, between samples too (25 fps), no spot
// near a change stays a frame or more off it, and every peel pass's spot for
// one change is one spot on its frame.
TEST(TraceFrames, SuggestedCutsAndFlashesLandOnTheirFrameAt24And25Fps) {
    TempDir dir;
    for (const auto& [rate, fps, cuts, flash] : {std::tuple{"24", 24.0, std::vector<int>{96, 192, 336}, 168},
                                                 {"25", 25.0, std::vector<int>{103, 201, 352}, 176}}) {
        SCOPED_TRACE(rate);
        const std::string video = dir.File(std::string(rate) + ".mp4");
        ASSERT_TRUE(MakeCutsVideo(video, rate, 16, cuts, {flash}));
        const std::unique_ptr<AppState> app = TraceVideo(video);
        ASSERT_TRUE(app);

        std::vector<double> changes;
        for (int f : {cuts[0], cuts[1], cuts[2], flash, flash + 3}) changes.push_back(f / fps);  // the flash ends too
        std::vector<int> hits(changes.size(), 0);
        for (const SuggestedEvent& s : app->opticalTrace.suggestions) {
            if (s.type != 0) continue;
            size_t nearest = 0;
            for (size_t k = 0; k < changes.size(); ++k)
                if (std::fabs(s.time - changes[k]) < std::fabs(s.time - changes[nearest])) nearest = k;
            const double off = std::fabs(s.time - changes[nearest]);
            if (off < 0.5 / fps) ++hits[nearest];
            EXPECT_TRUE(off < 0.5 / fps || off > 0.3) << "spot at " << s.time;
        }
        for (size_t k = 0; k + 1 < changes.size(); ++k) EXPECT_EQ(hits[k], 1) << "spots on " << changes[k] << " s";
    }
}
