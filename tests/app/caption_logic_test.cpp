// The window caption's rules: what a point hits, the caption buttons' places,
// the minimum size, clicks on the buttons and double-clicks in the drag zone.
#include <gtest/gtest.h>

#include "app/caption_logic.h"

namespace {

// A 1280-point title bar 40 points high, the drag zone from 40 to 700 points.
CaptionGeometry Window(float scale, bool maximized) {
    CaptionGeometry g;
    g.uiScale = scale;
    g.windowWidth = static_cast<int>(1280 * scale);
    g.windowHeight = static_cast<int>(720 * scale);
    g.maximized = maximized;
    g.titleBarHeight = 40;
    g.dragMinX = 40;
    g.dragMaxX = 700;
    for (int k = 0; k < 3; ++k) g.buttons[k] = CaptionButtonRect(k, 1280, 40, scale);
    return g;
}

}  // namespace

TEST(CaptionHitTest, ResizeBandsOnlyWhileNotMaximisedAndAlsoOverTheButtons) {
    const CaptionGeometry normal = Window(1, false);
    EXPECT_EQ(CaptionHitTest(normal, 640, 0), CaptionHit::ResizeTop);
    EXPECT_EQ(CaptionHitTest(normal, 640, 5), CaptionHit::ResizeTop);
    EXPECT_EQ(CaptionHitTest(normal, 640, 6), CaptionHit::Drag) << "the band is 6 points";
    EXPECT_EQ(CaptionHitTest(normal, 1250, 3), CaptionHit::ResizeTop) << "across the close button too";
    EXPECT_EQ(CaptionHitTest(normal, 1150, 3), CaptionHit::ResizeTop);
    EXPECT_EQ(CaptionHitTest(normal, 1, 1), CaptionHit::ResizeTopLeft);
    EXPECT_EQ(CaptionHitTest(normal, 1279, 2), CaptionHit::ResizeTopRight);
    EXPECT_EQ(CaptionHitTest(normal, 0, 400), CaptionHit::ResizeLeft);
    EXPECT_EQ(CaptionHitTest(normal, 1277, 400), CaptionHit::ResizeRight);
    EXPECT_EQ(CaptionHitTest(normal, 640, 719), CaptionHit::ResizeBottom);
    EXPECT_EQ(CaptionHitTest(normal, 3, 716), CaptionHit::ResizeBottomLeft);
    EXPECT_EQ(CaptionHitTest(normal, 1279, 719), CaptionHit::ResizeBottomRight);
    EXPECT_EQ(CaptionHitTest(normal, 640, 400), CaptionHit::Client);

    const CaptionGeometry maximized = Window(1, true);
    EXPECT_EQ(CaptionHitTest(maximized, 640, 0), CaptionHit::Drag);
    EXPECT_EQ(CaptionHitTest(maximized, 1279, 0), CaptionHit::Close) << "the corner closes a maximised window";
    EXPECT_EQ(CaptionHitTest(maximized, 1, 1), CaptionHit::Client) << "the menu button stays clickable";
    EXPECT_EQ(CaptionHitTest(maximized, 1279, 719), CaptionHit::Client);

    // At scale 2 the band is 12 pixels.
    const CaptionGeometry doubled = Window(2, false);
    EXPECT_EQ(CaptionHitTest(doubled, 1280, 11), CaptionHit::ResizeTop);
    EXPECT_EQ(CaptionHitTest(doubled, 1280, 12), CaptionHit::Drag);
    EXPECT_EQ(CaptionHitTest(doubled, 2555, 400), CaptionHit::ResizeRight);
}

TEST(CaptionHitTest, ButtonsThenTheDragZoneBetweenTheMenuButtonAndTheTabs) {
    const CaptionGeometry g = Window(1, false);
    EXPECT_EQ(CaptionHitTest(g, 1150, 20), CaptionHit::Minimize);
    EXPECT_EQ(CaptionHitTest(g, 1200, 20), CaptionHit::Maximize);
    EXPECT_EQ(CaptionHitTest(g, 1250, 20), CaptionHit::Close);
    EXPECT_EQ(CaptionHitTest(g, 1250, 40), CaptionHit::Client) << "below the buttons";

    EXPECT_EQ(CaptionHitTest(g, 40, 20), CaptionHit::Drag);
    EXPECT_EQ(CaptionHitTest(g, 699, 39), CaptionHit::Drag);
    EXPECT_EQ(CaptionHitTest(g, 39, 20), CaptionHit::Client) << "the menu button";
    EXPECT_EQ(CaptionHitTest(g, 700, 20), CaptionHit::Client) << "the tabs";
    EXPECT_EQ(CaptionHitTest(g, 300, 40), CaptionHit::Client) << "below the title bar";

    CaptionGeometry noBar = g;
    noBar.titleBarHeight = 0;
    EXPECT_EQ(CaptionHitTest(noBar, 300, 20), CaptionHit::Client) << "height 0 means no drag zone";

    // The zone is given in points and tested in pixels.
    const CaptionGeometry scaled = Window(1.5f, true);
    EXPECT_EQ(CaptionHitTest(scaled, 59, 30), CaptionHit::Client);
    EXPECT_EQ(CaptionHitTest(scaled, 60, 30), CaptionHit::Drag);
    EXPECT_EQ(CaptionHitTest(scaled, 1049, 59), CaptionHit::Drag);
    EXPECT_EQ(CaptionHitTest(scaled, 1050, 30), CaptionHit::Client);
    EXPECT_EQ(CaptionHitTest(scaled, 400, 60), CaptionHit::Client);
}

TEST(CaptionButtons, RectanglesEndAtTheRightEdgeAndTheMinimumFollowsTheScale) {
    const CaptionRect close = CaptionButtonRect(2, 1280, 40, 2);
    EXPECT_EQ(close.right - close.left, 92);
    EXPECT_EQ(close.right, 2560);
    EXPECT_EQ(close.bottom, 80);
    const CaptionRect maximize = CaptionButtonRect(1, 1280, 40, 2);
    EXPECT_EQ(maximize.right, close.left) << "the buttons touch";
    EXPECT_EQ(CaptionButtonRect(0, 1280, 40, 2).left, 2560 - 3 * 92);

    // A window whose width in points is not whole still ends on its last pixel.
    EXPECT_EQ(CaptionButtonRect(2, 1601 / 1.25f, 40, 1.25f).right, 1601);

    EXPECT_EQ(MinimumWindowSize(1.25f).width, 1200);
    EXPECT_EQ(MinimumWindowSize(1.25f).height, 675);
    EXPECT_EQ(MinimumWindowSize(1).width, 960);
    EXPECT_EQ(MinimumWindowSize(1.5f).height, 810);
    EXPECT_EQ(MinimumWindowSize(0).width, 960) << "a bad scale counts as 1";
}

TEST(WindowPlacement, TheWindowOpensWithinTheScreensUsableAreaAndItsMinimumToo) {
    // Scale 1.5 on a 1280 × 800 screen: no longer 1920 × 1080 at (−320, −140).
    const ScreenArea laptop{0, 0, 1280, 800};
    WindowPlacement p = PlaceWindow(1920, 1080, laptop);
    EXPECT_TRUE(p.centred);
    EXPECT_EQ(p.width, 1280);
    EXPECT_EQ(p.height, 800);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(MinimumWindowSize(1.5f, laptop).width, 1280);
    EXPECT_EQ(MinimumWindowSize(1.5f, laptop).height, 800);
    EXPECT_EQ(MinimumWindowSize(1.0f, laptop).width, 960) << "a screen that holds the minimum keeps it";

    // A desktop panel takes the top of a second screen: centred in what is left.
    const ScreenArea right{1920, 32, 1920, 1048};
    p = PlaceWindow(1280, 720, right);
    EXPECT_EQ(p.width, 1280);
    EXPECT_EQ(p.height, 720);
    EXPECT_EQ(p.x, 1920 + 320);
    EXPECT_EQ(p.y, 32 + 164);

    // An unknown screen: the size asked for, placed by the window system.
    p = PlaceWindow(1920, 1080, ScreenArea{});
    EXPECT_FALSE(p.centred);
    EXPECT_EQ(p.width, 1920);
    EXPECT_EQ(MinimumWindowSize(1.5f, ScreenArea{}).height, 810);
}

TEST(WindowPlacement, AScreenTooSmallForTheSmallestWindowLowersTheScale) {
    // 1.5 on a 1280 × 800 screen would need 1440 × 810: the width decides.
    const ScreenArea laptop{0, 0, 1280, 800};
    const float lowered = ScaleForScreen(1.5f, laptop);
    EXPECT_FLOAT_EQ(lowered, 1.33f);
    EXPECT_LE(MinimumWindowSize(lowered).width, laptop.width);
    EXPECT_LE(MinimumWindowSize(lowered).height, laptop.height);
    EXPECT_GT(MinimumWindowSize(lowered + 0.01f).width, laptop.width) << "no more lowered than needed";
    // A wide, short screen: the height decides.
    EXPECT_FLOAT_EQ(ScaleForScreen(2.0f, ScreenArea{0, 0, 3440, 900}), 1.66f);
    // Screens that hold it keep the scale; an unknown screen keeps it too.
    EXPECT_EQ(ScaleForScreen(2.0f, ScreenArea{0, 0, 1920, 1080}), 2.0f);
    EXPECT_EQ(ScaleForScreen(1.0f, laptop), 1.0f);
    EXPECT_EQ(ScaleForScreen(1.75f, ScreenArea{}), 1.75f);
    // A tiny screen goes below 1, but not without end; a bad scale counts as 1.
    EXPECT_FLOAT_EQ(ScaleForScreen(1.0f, ScreenArea{0, 0, 800, 600}), 0.83f);
    EXPECT_EQ(ScaleForScreen(1.0f, ScreenArea{0, 0, 200, 100}), 0.5f);
    EXPECT_EQ(ScaleForScreen(-3.0f, ScreenArea{0, 0, 1920, 1080}), 1.0f);
}

TEST(CaptionButtons, OnlyAReleaseOnThePressedButtonActs) {
    int pressed = 3;
    EXPECT_EQ(CaptionRelease(pressed, 0), CaptionAction::Nothing) << "released elsewhere";
    EXPECT_EQ(pressed, 0);
    pressed = 3;
    EXPECT_EQ(CaptionRelease(pressed, 2), CaptionAction::Nothing) << "released on another button";
    pressed = 3;
    EXPECT_EQ(CaptionRelease(pressed, 3), CaptionAction::Close);
    EXPECT_EQ(pressed, 0);
    EXPECT_EQ(CaptionRelease(pressed, 3), CaptionAction::Nothing) << "no press, no click";
    pressed = 1;
    EXPECT_EQ(CaptionRelease(pressed, 1), CaptionAction::Minimize);
    pressed = 2;
    EXPECT_EQ(CaptionRelease(pressed, 2), CaptionAction::MaximizeOrRestore);
}

TEST(CaptionButtons, TwoQuickPressesInOnePlaceMakeADoubleClick) {
    DragZoneClicks clicks;
    EXPECT_FALSE(DragZonePress(clicks, 1000, 300, 20));
    EXPECT_TRUE(DragZonePress(clicks, 1000 + kDoubleClickMs, 302, 17));
    EXPECT_FALSE(DragZonePress(clicks, 1100 + kDoubleClickMs, 302, 17)) << "a third press starts a new pair";

    DragZoneClicks slow;
    EXPECT_FALSE(DragZonePress(slow, 1000, 300, 20));
    EXPECT_FALSE(DragZonePress(slow, 1001 + kDoubleClickMs, 300, 20));
    EXPECT_TRUE(DragZonePress(slow, 1100 + kDoubleClickMs, 300, 20)) << "the late press became the first";

    DragZoneClicks moved;
    EXPECT_FALSE(DragZonePress(moved, 1000, 300, 20));
    EXPECT_FALSE(DragZonePress(moved, 1100, 300 + kDoubleClickSlop + 1, 20));
}
