// The event lane's rules: what a press picks, the move's target, and box
// selection.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "document/event.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "ui/event_lane_logic.h"
#include "support/plain_records.h"

namespace {

// 1000 points across 0 .. 10 s: 100 points a second.
const TimelineView kView{0, 1000, 0, 10};

}  // namespace

TEST(EventLanePick, MarkersFirstThenThePrimaryThenTheHighestIndex) {
    // 0: 1..5 s, marker at 1 s; 1: 2..4 s, marker at 3 s; 2: 2.5..3.5 s, marker at 3.08 s.
    std::vector<Event> events = {EventAt(1, 4), EventAt(3, 2, 1), EventAt(3.08f, 1, 0.58f)};
    EXPECT_EQ(PickEventAt(events, kView, 303, 3.03f, -1, true), 1) << "the nearest marker within 10 points";
    EXPECT_EQ(PickEventAt(events, kView, 307, 3.07f, -1, true), 2);
    EXPECT_EQ(PickEventAt(events, kView, 118, 1.18f, -1, true), 0) << "no marker near: the span holding it";
    EXPECT_EQ(PickEventAt(events, kView, 270, 2.7f, 0, true), 0) << "inside the primary's span";
    EXPECT_EQ(PickEventAt(events, kView, 270, 2.7f, 0, false), 2) << "without the primary rule: the highest index";
    EXPECT_EQ(PickEventAt(events, kView, 600, 6.0f, 0, true), -1) << "empty lane: a box begins";
}

TEST(EventLanePick, OnlySelectedUnmutedUnlinkedEndsAreGrabbed) {
    auto app = std::make_unique<AppState>();
    std::vector<Event> events = {EventAt(1, 2), EventAt(2.5f, 0.56f), EventAt(5, 1), EventAt(7, 1)};
    CopyTextField(events[3].folder, "Doors");
    app->linkedGroups = {"Doors"};
    events[2].muted = true;
    EXPECT_EQ(PickEndEdge(*app, events, kView, 300), -1) << "nothing selected";
    app->selectedEvents = {0, 1, 2, 3};
    EXPECT_EQ(PickEndEdge(*app, events, kView, 304), 1) << "3.06 s is nearer than 3 s";
    EXPECT_EQ(PickEndEdge(*app, events, kView, 296), 0);
    EXPECT_EQ(PickEndEdge(*app, events, kView, 600), -1) << "muted";
    EXPECT_EQ(PickEndEdge(*app, events, kView, 800), -1) << "in a linked folder";
    EXPECT_EQ(PickEndEdge(*app, events, kView, 313), -1) << "7 points from the nearest end";
}

// The end drag's and the move's rules and steps: tests/operations/event_drags_test.cpp.
TEST(EventLaneMove, TheTargetIsTheGrabbedTimeOnAFrame) {
    EXPECT_FLOAT_EQ(MoveTarget(4.013f, 1.0f, 10, 25), 3.0f) << "the grab offset, then a frame";
    EXPECT_FLOAT_EQ(MoveTarget(-2, 1.0f, 10, 25), -1.0f) << "the mouse is clamped, the target is not";
}

TEST(EventLaneBox, NarrowBoxesClearWideOnesCatchWithTheirFolders) {
    auto app = std::make_unique<AppState>();
    std::vector<Event> events = {EventAt(1, 1), EventAt(4, 1), EventAt(5.5f, 1), EventAt(9, 0.5f)};
    CopyTextField(events[0].folder, "Doors");
    CopyTextField(events[2].folder, "Doors");
    app->linkedGroups = {"Doors"};
    app->selectedEvents = {3};
    app->selectedEvent = 3;
    FinishBoxSelection(*app, events, kView, 300, 305, false);
    EXPECT_TRUE(app->selectedEvents.empty()) << "5 points or less clears";
    EXPECT_EQ(app->selectedEvent, -1);

    FinishBoxSelection(*app, events, kView, 560, 380, true);
    EXPECT_EQ(app->selectedEvents, (std::set<int>{1, 2})) << "Alt: no folder members";
    EXPECT_EQ(app->selectedEvent, 1);
    EXPECT_TRUE(app->scrollToSelection);

    FinishBoxSelection(*app, events, kView, 380, 560, false);
    EXPECT_EQ(app->selectedEvents, (std::set<int>{0, 1, 2}));
    EXPECT_EQ(app->selectedEvent, 0) << "the lowest index is the primary";
    FinishBoxSelection(*app, events, kView, 700, 850, false);
    EXPECT_TRUE(app->selectedEvents.empty());
    EXPECT_EQ(app->selectedEvent, -1) << "nothing caught";
}
