// The events tab's arithmetic: the inspector over the list at 720p and
// larger windows, the curves side by side or stacked, the level drags beside
// the control row or below it, and band labels that never overlap.
#include <gtest/gtest.h>

#include "ui/events_tab_layout.h"

namespace {

constexpr float kFont = 18, kGap = 4;
constexpr float kFrame = kFont + 8;  // a button row at the reference font size
constexpr float kRow = 1.1f * kFont;  // an event row of the list

// The list's heading, its scene row and `rows` event rows.
float ListWith(int rows) { return kFont + kGap + kFrame + kGap + float(rows) * kRow; }

// Keywords, the curves' labels and their least height, one control row.
float InspectorLeast() { return kFrame + kGap + kFont + kGap + kMinCurveHeight + kGap + kFrame; }

}  // namespace

TEST(EventsTabLayout, At720pBothAreasKeepWhatTheyNeedAndATallerWindowGivesBothMore) {
    // The tab panel of a 1280×720 window: 0.38 × 720 less its padding.
    const EventsTabSplit small = SplitEventsTab(273.6f - 16, kFont, kGap);
    EXPECT_GE(small.inspector, InspectorLeast());
    EXPECT_GE(small.list + 0.01f, ListWith(3));
    EXPECT_NEAR(small.inspector + kGap + small.list, 273.6f - 16, 0.01f);

    const EventsTabSplit tall = SplitEventsTab(410.4f - 16, kFont, kGap);
    EXPECT_GT(tall.inspector, small.inspector);
    EXPECT_GT(tall.list, small.list);

    // Too short for both: each gets half, nothing negative.
    const EventsTabSplit tiny = SplitEventsTab(100, kFont, kGap);
    EXPECT_NEAR(tiny.inspector, 48, 0.01f);
    EXPECT_NEAR(tiny.list, 48, 0.01f);
    const EventsTabSplit none = SplitEventsTab(0, kFont, kGap);
    EXPECT_EQ(none.inspector, 0);
    EXPECT_EQ(none.list, 0);
}

TEST(EventsTabLayout, CurvesShareARowWhenEachKeepsItsWidthAndTakeTheHeightLeft) {
    const float label = kFont + kGap;
    const InspectorCurves wide = InspectorCurveLayout(587, 90, label, kGap, 2);
    EXPECT_TRUE(wide.sideBySide);
    EXPECT_FLOAT_EQ(wide.width, (587 - kGap) / 2);
    EXPECT_FLOAT_EQ(wide.height, 90 - label);

    const InspectorCurves narrow = InspectorCurveLayout(300, 200, label, kGap, 2);
    EXPECT_FALSE(narrow.sideBySide);
    EXPECT_FLOAT_EQ(narrow.width, 300);
    EXPECT_FLOAT_EQ(narrow.height, (200 - 2 * label - kGap) / 2);

    // A Bed's one curve takes the whole width; heights stay within their bounds.
    const InspectorCurves one = InspectorCurveLayout(300, 1000, label, kGap, 1);
    EXPECT_FALSE(one.sideBySide);
    EXPECT_FLOAT_EQ(one.height, kMaxCurveHeight);
    EXPECT_FLOAT_EQ(InspectorCurveLayout(587, 10, label, kGap, 2).height, kMinCurveHeight);
}

TEST(EventsTabLayout, LevelDragsFollowTheControlRowOnlyWhenBothFit) {
    const LevelRow beside = LayOutLevelRow(300, 587, kGap, 80, 120);
    EXPECT_TRUE(beside.sameLine);
    EXPECT_GE(beside.volume, 80);
    EXPECT_GE(beside.second, 120);
    EXPECT_LE(beside.volume + kGap + beside.second, 300 + 0.01f);

    const LevelRow below = LayOutLevelRow(150, 587, kGap, 80, 120);
    EXPECT_FALSE(below.sameLine);
    EXPECT_LE(below.volume, kMaxLevelWidth);
    EXPECT_LE(below.second, kMaxLevelWidth);

    const LevelRow alone = LayOutLevelRow(100, 587, kGap, 80, 0);  // a Bed: the volume only
    EXPECT_TRUE(alone.sameLine);
    EXPECT_FLOAT_EQ(alone.volume, 100);
    EXPECT_EQ(alone.second, 0);
}

TEST(EventsTabLayout, FiveBandLabelsFitTheirCurveAtMostAtTheSmallSize) {
    for (float height : {30.0f, kMinCurveHeight, 70.0f, kMaxCurveHeight}) {
        const float size = BandLabelSize(height, 16);
        EXPECT_LE(5 * size, height + 0.01f) << height;
        EXPECT_LE(size, 16);
    }
    EXPECT_FLOAT_EQ(BandLabelSize(kMaxCurveHeight, 16), 16);
}
