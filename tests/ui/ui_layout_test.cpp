// The bands of the main window.
#include <gtest/gtest.h>

#include "ui/ui_layout.h"

namespace {

LayoutVideo Video(float width, float height) { return {true, width, height}; }

}  // namespace

TEST(UILayout, WithoutAVideoTheBoxIsTheSmallerOfTwoWidths) {
    UILayout wide = ComputeUILayout(1280, 720, 18, true, {});
    EXPECT_FLOAT_EQ(wide.videoHeight, 0.38f * 720);
    EXPECT_FLOAT_EQ(wide.videoWidth, 2.4f * 0.38f * 720 + 16);
    EXPECT_FLOAT_EQ(wide.panelWidth, 1280 - wide.videoWidth);
    EXPECT_FLOAT_EQ(wide.panelSplitLeft + wide.panelSplitRight, wide.panelWidth);

    UILayout narrow = ComputeUILayout(900, 900, 18, true, {});
    EXPECT_FLOAT_EQ(narrow.videoWidth, 0.6f * 900);
}

TEST(UILayout, AWideVideoNarrowsTheBoxAndANarrowOneKeepsIt) {
    // A tall window: the box (2.4 · 0.38 · H + 16 wide) is wider than 2.39:1.
    UILayout scope = ComputeUILayout(1920, 1080, 18, true, Video(2390, 1000));
    EXPECT_NEAR(scope.videoWidth, 2.39f * 0.38f * 1080, 0.01f);
    EXPECT_TRUE(scope.hasVideo);

    UILayout none = ComputeUILayout(1920, 1080, 18, true, {});
    UILayout fourThree = ComputeUILayout(1920, 1080, 18, true, Video(1440, 1080));
    EXPECT_FLOAT_EQ(fourThree.videoWidth, none.videoWidth);

    // A box already narrower than the picture keeps its width.
    UILayout squeezed = ComputeUILayout(1000, 1080, 18, true, Video(2390, 1000));
    EXPECT_FLOAT_EQ(squeezed.videoWidth, 0.6f * 1000);
}

TEST(UILayout, SmallFontsKeepTheBandMinima) {
    UILayout withButtons = ComputeUILayout(1280, 720, 10, true, {});
    EXPECT_FLOAT_EQ(withButtons.titleBarHeight, 40);
    EXPECT_FLOAT_EQ(withButtons.transportHeight, 40);
    EXPECT_FLOAT_EQ(withButtons.footerHeight, 24);
    EXPECT_FLOAT_EQ(ComputeUILayout(1280, 720, 10, false, {}).titleBarHeight, 32);

    UILayout large = ComputeUILayout(1280, 720, 26, true, {});
    EXPECT_FLOAT_EQ(large.titleBarHeight, 1.8f * 26 + 8);
    EXPECT_FLOAT_EQ(large.transportHeight, 2.3f * 26);
    EXPECT_FLOAT_EQ(large.footerHeight, 1.4f * 26);
}

TEST(UILayout, TheBandsTileTheWindow) {
    UILayout l = ComputeUILayout(1280, 720, 18, true, {});
    EXPECT_FLOAT_EQ(TitleBarRect(l).height + VideoAreaRect(l).height + TransportRect(l).height +
                        TimelineRect(l).height + FooterRect(l).height,
                    720);
    EXPECT_FLOAT_EQ(TimelineRect(l).y + TimelineRect(l).height, FooterRect(l).y);
    EXPECT_FLOAT_EQ(TabPanelRect(l).x, l.videoWidth);
    EXPECT_TRUE(TransportRect(l).Contains(10, l.titleBarHeight + l.videoHeight));
    EXPECT_FALSE(VideoAreaRect(l).Contains(l.videoWidth, l.titleBarHeight + 1));

    // A window smaller than the minima gives the timeline nothing, never less.
    EXPECT_FLOAT_EQ(ComputeUILayout(400, 100, 18, true, {}).timelineHeight, 0);
}

TEST(UILayout, SpacingFollowsTheFontSize) {
    LayoutSpacing at18 = SpacingForFontSize(18);
    EXPECT_FLOAT_EQ(at18.x, 8);
    EXPECT_FLOAT_EQ(at18.y, 4);
    LayoutSpacing at13 = SpacingForFontSize(13);  // 5.78 and 2.89
    EXPECT_FLOAT_EQ(at13.x, 6);
    EXPECT_FLOAT_EQ(at13.y, 3);
}
