// What the timeline's lanes keep between frames: the time index finds every
// item a view shows (checked against a plain scan of random items), pixel
// columns show items thinner than a pixel, the event order is rebuilt only
// when the events change, and the event lane's badges and labels never
// overlap in a dense generated project.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "support/large_project.h"
#include "support/temp_dir.h"
#include "ui/event_lane_logic.h"
#include "ui/layer_lanes_logic.h"
#include "ui/timeline_index.h"

TEST(TimeIndex, FindsEveryItemMeetingAViewAsAPlainScanDoes) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> start(0, 1000), length(0, 30), view(0, 400);
    std::vector<float> starts(3000), ends(3000);
    std::vector<int> items;
    for (int i = 0; i < 3000; ++i) {
        starts[size_t(i)] = start(random);
        // A few very long items (a bed under everything) among short ones.
        ends[size_t(i)] = starts[size_t(i)] + (i % 500 == 0 ? 900 : length(random));
        if (i % 3 != 0) items.push_back(i);  // an index of a subset (one row)
    }
    TimeIndex index;
    BuildTimeIndex(index, items, starts, ends);
    ASSERT_EQ(index.items.size(), items.size());
    EXPECT_TRUE(std::is_sorted(index.starts.begin(), index.starts.end()));
    for (int trial = 0; trial < 200; ++trial) {
        const float t0 = view(random) * 2.5f, t1 = t0 + view(random) * (trial % 4 == 0 ? 0.01f : 1.0f);
        const auto [first, last] = IndexCandidates(index, t0, t1);
        std::set<int> found;
        for (size_t k = first; k < last; ++k) {
            const int i = index.items[k];
            if (ends[size_t(i)] >= t0 && starts[size_t(i)] <= t1) found.insert(i);
        }
        std::set<int> expected;
        for (int i : items)
            if (ends[size_t(i)] >= t0 && starts[size_t(i)] <= t1) expected.insert(i);
        ASSERT_EQ(found, expected) << "view " << t0 << " .. " << t1;
        // The stretch is not the whole index for a narrow view.
        if (t1 - t0 < 5 && t0 > 100) {
            EXPECT_LT(last - first, index.items.size());
        }
    }
}

TEST(PixelColumns, ThinItemsShowAsWholeColumnsAndRunsMerge) {
    PixelColumns columns;
    ResetColumns(columns, 100, 50, 2);  // 100 columns of half a point
    ASSERT_EQ(columns.covered.size(), 100u);
    MarkColumns(columns, 110.1f, 110.2f);  // a tenth of a point: one column
    MarkColumns(columns, 120, 121);        // two columns
    MarkColumns(columns, 121, 121.6f);     // touching: the run goes on
    MarkColumns(columns, 90, 100.2f);      // cut at the left edge
    MarkColumns(columns, 149.9f, 170);     // cut at the right edge
    MarkColumns(columns, 200, 210);        // outside
    std::vector<ColumnRun> runs;
    ColumnRuns(columns, runs);
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_FLOAT_EQ(runs[0].x0, 100);
    EXPECT_FLOAT_EQ(runs[0].x1, 100.5f);
    EXPECT_FLOAT_EQ(runs[1].x0, 110);
    EXPECT_FLOAT_EQ(runs[1].x1, 110.5f);
    EXPECT_FLOAT_EQ(runs[2].x0, 120);
    EXPECT_FLOAT_EQ(runs[2].x1, 122);
    EXPECT_FLOAT_EQ(runs[3].x0, 149.5f);
    EXPECT_FLOAT_EQ(runs[3].x1, 150);
}

TEST(BlockColumns, AViewNeverShowsMoreThanTwoHundredColumnsOfABlock) {
    // Narrow blocks: one column every 3 points (4 compact), at least 2.
    EXPECT_EQ(BlockColumnCount(3, 1000, false), 2);
    EXPECT_EQ(BlockColumnCount(300, 1000, false), 100);
    EXPECT_EQ(BlockColumnCount(300, 1000, true), 75);
    // Shown whole and wide: 200 (150) over the block, as the block alone.
    EXPECT_EQ(BlockColumnCount(900, 1000, false), 200);
    EXPECT_EQ(BlockColumnCount(900, 1000, true), 150);
    // Wider than the view: the view's width holds 200 of them.
    EXPECT_EQ(BlockColumnCount(5000, 1000, false), 1000);
    // Seen very close: coarser, never millions.
    EXPECT_EQ(BlockColumnCount(1e8f, 1000, false), 65536);
}

namespace {

// The positions of the lane's layout as intervals, for overlap checks.
bool Overlap(float a0, float a1, float b0, float b1) { return a0 < b1 && b0 < a1; }

}  // namespace

TEST(EventLaneLayout, BadgesAndLabelsNeverOverlapAcrossThePassesInADenseProject) {
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 400, .seconds = 300};
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    const std::vector<Event>& events = large.project.events;

    EventTimeIndex index;
    RefreshEventTimeIndex(index, events, 1);
    const uint64_t built = index.signature;
    RefreshEventTimeIndex(index, events, 1);
    EXPECT_EQ(index.signature, built);
    ASSERT_EQ(index.index.items, EventDisplayOrder(events)) << "the kept order is the display order";

    // Views from the whole project down to ten seconds, 1000 points wide.
    for (float span : {300.0f, 60.0f, 10.0f}) {
        const float viewStart = 30;
        auto x = [&](float t) { return 100 + (t - viewStart) / span * 1000; };
        std::vector<LaneMark> marks;
        const auto [first, last] = EventsNear(index, viewStart, viewStart + span);
        for (size_t k = first; k < last; ++k) {
            const int e = index.index.items[k];
            const float xm = x(events[size_t(e)].time);
            if (xm >= 100 && xm <= 1100) marks.push_back({e, xm, e % 7 == 0});
        }
        ASSERT_GT(marks.size(), 10u);
        int widthsAsked = 0;
        const EventLaneLayout layout = LayoutEventLane(marks, 11, 1100, [&](int e) {
            ++widthsAsked;
            return 40.0f + float(e % 5) * 20;
        });
        // Zoomed out the markers stand closer than any label is wide: none
        // fits; at ten seconds some do.
        if (span <= 10) {
            ASSERT_FALSE(layout.labels.empty());
        }
        // Labels with their gap, badges: pairwise apart.
        std::vector<std::pair<float, float>> placed;
        for (const LaneItem& l : layout.labels) placed.push_back({l.x0, l.x1 + kLabelGapPoints});
        for (const LaneItem& l : layout.locks) placed.push_back({l.x0, l.x1});
        for (size_t a = 0; a < placed.size(); ++a)
            for (size_t b = a + 1; b < placed.size(); ++b)
                ASSERT_FALSE(Overlap(placed[a].first, placed[a].second, placed[b].first, placed[b].second))
                    << "span " << span << ": " << placed[a].first << " and " << placed[b].first;
        // No label runs through another event's marker.
        for (const LaneItem& l : layout.labels)
            for (const LaneMark& m : marks)
                if (m.event != l.event) {
                    ASSERT_FALSE(Overlap(l.x0, l.x1, m.x - kMarkerHalfWidth, m.x + kMarkerHalfWidth))
                        << "span " << span << ": the label of " << l.event << " crosses the marker of " << m.event;
                }
        EXPECT_LE(widthsAsked, int(marks.size()));
    }
}

TEST(EventLaneLayout, ASelectedEventsBadgeAndLabelTakeTheRoomBeforeAnUnselectedOnes) {
    // Event 1's marker 5 points before event 0's: their badges and labels
    // would lie over each other. In display order the earlier one wins...
    std::vector<LaneMark> marks = {{1, 95, false}, {0, 100, false}};
    auto width = [](int) { return 60.0f; };
    EventLaneLayout layout = LayoutEventLane(marks, 10, 1000, width);
    ASSERT_EQ(layout.labels.size(), 1u);
    EXPECT_EQ(layout.labels[0].event, 1);
    ASSERT_EQ(layout.locks.size(), 1u);
    EXPECT_EQ(layout.locks[0].event, 1);
    // ...unless the other is selected: its badge and label come first, and
    // the unselected ones are left out rather than drawn under them.
    marks[1].selected = true;
    layout = LayoutEventLane(marks, 10, 1000, width);
    ASSERT_EQ(layout.labels.size(), 1u);
    EXPECT_EQ(layout.labels[0].event, 0);
    ASSERT_EQ(layout.locks.size(), 1u);
    EXPECT_EQ(layout.locks[0].event, 0);
    // A label never starts past the lane's right end.
    layout = LayoutEventLane({{3, 995, true}}, 10, 1000, width);
    EXPECT_TRUE(layout.labels.empty());
    // Nor reaches past it: the last one ends there (shortened when drawn)
    // while its icon and "…" have room, and is left out when they have not.
    layout = LayoutEventLane({{4, 700, false}, {5, 900, false}}, 10, 1000, [](int) { return 150.0f; }, [](int) { return 20.0f; });
    ASSERT_EQ(layout.labels.size(), 2u);
    EXPECT_FLOAT_EQ(layout.labels[0].x1, 865) << "a label with room is whole";
    EXPECT_EQ(layout.labels[1].event, 5);
    EXPECT_FLOAT_EQ(layout.labels[1].x0, 915);
    EXPECT_FLOAT_EQ(layout.labels[1].x1, 1000);
    layout = LayoutEventLane({{6, 970, false}}, 10, 1000, [](int) { return 200.0f; }, [](int) { return 20.0f; });
    EXPECT_TRUE(layout.labels.empty()) << "15 points cannot hold the icon and the \u2026";
}

// The event being worked on keeps its name when the next marker is close:
// its label ends before that marker (drawn shortened), where an unselected
// one is left out; only a room below its icon and "…" leaves it out too.
TEST(EventLaneLayout, ASelectedLabelIsCutBeforeTheNextMarkerRatherThanLeftOut) {
    auto width = [](int) { return 150.0f; };
    auto least = [](int) { return 20.0f; };
    auto labelOf = [](const EventLaneLayout& layout, int event) -> const LaneItem* {
        for (const LaneItem& l : layout.labels)
            if (l.event == event) return &l;
        return nullptr;
    };
    EventLaneLayout layout = LayoutEventLane({{0, 100, true}, {1, 160, false}}, 10, 1000, width, least);
    const LaneItem* selected = labelOf(layout, 0);
    ASSERT_NE(selected, nullptr) << "the selected label is cut, not dropped";
    EXPECT_FLOAT_EQ(selected->x0, 115);
    EXPECT_FLOAT_EQ(selected->x1, 160 - kMarkerHalfWidth - kLabelGapPoints);
    const LaneItem* next = labelOf(layout, 1);
    ASSERT_NE(next, nullptr) << "the neighbour's own label still follows its marker";
    EXPECT_FLOAT_EQ(next->x1, 175 + 150);

    // A label placed before cuts it the same way: two selected events.
    layout = LayoutEventLane({{0, 100, true}, {1, 160, true}}, 10, 1000, width, least);
    ASSERT_NE(labelOf(layout, 0), nullptr);
    EXPECT_LE(labelOf(layout, 0)->x1 + kLabelGapPoints, 160 - kMarkerHalfWidth);

    layout = LayoutEventLane({{0, 100, false}, {1, 160, false}}, 10, 1000, width, least);
    EXPECT_EQ(labelOf(layout, 0), nullptr) << "unselected, it is left out as before";
    layout = LayoutEventLane({{0, 100, true}, {1, 140, false}}, 10, 1000, width, least);
    EXPECT_EQ(labelOf(layout, 0), nullptr) << "14 points cannot hold the icon and the \u2026";
}
