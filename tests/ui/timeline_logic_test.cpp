// The timeline's view arithmetic: the time map, ruler ticks and labels, the
// work area, zoom, pan, scroll, following the playhead and curve draw mode.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "ui/timeline_logic.h"

namespace {

TimelineView View(float x0, float width, float start, float duration) { return {x0, width, start, duration}; }

std::unique_ptr<AppState> App(float viewStart = 0, float viewDuration = 30) {
    auto app = std::make_unique<AppState>();
    app->viewStart = viewStart;
    app->viewDuration = viewDuration;
    return app;
}

// Events of the given shapes, one a second from 1 s, each 2 s long.
Project ProjectWith(std::initializer_list<int> shapes, float total = 60) {
    Project p;
    p.totalDuration = total;
    float t = 1;
    for (int shape : shapes) {
        Event e = MakeEvent(p, t, shape, 0.5f);
        e.duration = 2;
        e.syncOffset = 0;
        p.events.push_back(e);
        t += 1;
    }
    return p;
}

}  // namespace

TEST(TimelineView, TimeAndXMapBothWaysAndAnUnusableAreaIsRefused) {
    const TimelineView v = View(100, 1000, 10, 20);
    EXPECT_FLOAT_EQ(MapRange(v, 10), 100);
    EXPECT_FLOAT_EQ(MapRange(v, 20), 600);
    EXPECT_FLOAT_EQ(UnmapRange(v, 600), 20);
    for (float t : {0.0f, 12.34f, 29.99f}) EXPECT_NEAR(UnmapRange(v, MapRange(v, t)), t, 1e-4f);
    EXPECT_TRUE(TimeAreaUsable(v));
    EXPECT_FALSE(TimeAreaUsable(View(100, 0.5f, 0, 30))) << "under a point wide";
    EXPECT_FALSE(TimeAreaUsable(View(100, 1000, 0, 0)));
    EXPECT_FALSE(TimeAreaUsable(View(100, 1000, NAN, 30)));
    std::vector<RulerTick> ticks{{1, 1, true}};
    RulerTicks(View(100, 0.5f, 0, 30), ticks);
    EXPECT_TRUE(ticks.empty());
}

TEST(TimelineView, MouseTimesAreClampedAndRoundedToFrames) {
    Project p;
    p.fps = 0;
    EXPECT_EQ(TimelineFps(p), 25) << "a rate that is not positive counts as 25";
    p.fps = 24;
    const TimelineView v = View(0, 1000, 0, 10);
    EXPECT_FLOAT_EQ(RulerMouseTime(v, 123.0f, 10, 24), std::round(1.23f * 24) / 24);
    EXPECT_EQ(RulerMouseTime(v, -50, 10, 24), 0);
    EXPECT_EQ(RulerMouseTime(v, 5000, 8, 24), 8);
}

TEST(TimelineRuler, MajorStepsSpanEightyPointsAndMinorsQuarterThem) {
    // The Part's cases: 1000 points across 0.6 s and across 600 s.
    float step = 0;
    std::vector<RulerTick> ticks;
    RulerTicks(View(0, 1000, 0, 0.6f), ticks, &step);
    EXPECT_FLOAT_EQ(step, 0.1f);
    int majors = 0, minors = 0;
    for (const RulerTick& t : ticks) {
        (t.major ? majors : minors) += 1;
        const double k = t.time / (t.major ? 0.1 : 0.025);
        EXPECT_NEAR(k, std::round(k), 1e-3) << t.time;
        EXPECT_NEAR(t.x, t.time / 0.6f * 1000, 1e-2f);
    }
    EXPECT_EQ(majors, 7);   // 0 .. 0.6
    EXPECT_EQ(minors, 18);  // three between each pair of majors
    RulerTicks(View(0, 1000, 0, 600), ticks, &step);
    EXPECT_FLOAT_EQ(step, 60);
    EXPECT_EQ(MajorTickStep(1e-6f), 3600) << "none spans 80 points";

    // Negative times and x outside the area are left out.
    RulerTicks(View(50, 1000, -3, 10), ticks, &step);
    for (const RulerTick& t : ticks) {
        EXPECT_GE(t.time, 0);
        EXPECT_GE(t.x, 50);
        EXPECT_LE(t.x, 1050);
    }
}

TEST(TimelineRuler, LabelsAreTheTimecodeAfterTheStartTimecode) {
    Project p;
    p.fps = 25;
    EXPECT_EQ(FormatRulerLabel(p, 0), "00:00:00:00");
    EXPECT_EQ(FormatRulerLabel(p, 61.52f), "00:01:01:13");
    p.startTC = 3600;
    EXPECT_EQ(FormatRulerLabel(p, 2.5f), "01:00:02:13") << "12.5 frames round up";
    p.fps = 24;
    p.startTC = 0;
    EXPECT_EQ(FormatRulerLabel(p, 10.0f / 24), "00:00:00:10");
    p.fps = -1;
    EXPECT_EQ(FormatRulerLabel(p, 1.0f), "00:00:01:00") << "25 frames a second";
}

TEST(TimelineWorkArea, EdgesStopShortOfEachOtherAndStayInTheProject) {
    auto app = App();
    app->workAreaIn = 4;
    app->workAreaOut = 10;
    ApplyWorkAreaDrag(*app, 1, 12, 30);
    EXPECT_FLOAT_EQ(app->workAreaIn, 10 - 0.01f) << "the in point stops 0.01 s before the out point";
    ApplyWorkAreaDrag(*app, 2, 3, 30);
    EXPECT_FLOAT_EQ(app->workAreaOut, app->workAreaIn + 0.01f);

    // Whatever the drags, a valid area stays 0 ≤ in < out ≤ total.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> time(-5, 35);
    for (int i = 0; i < 2000; ++i) {
        ApplyWorkAreaDrag(*app, 1 + int(random() % 2), i % 97 == 0 ? 0.0f : time(random), 30);
        ASSERT_GE(app->workAreaIn, 0);
        ASSERT_LT(app->workAreaIn, app->workAreaOut);
        ASSERT_LE(app->workAreaOut, 30);
    }
    app->workAreaIn = 2;
    app->workAreaOut = 0.005f;  // as a file might hold it
    ApplyWorkAreaDrag(*app, 1, 0, 30);
    EXPECT_EQ(app->workAreaIn, 0);
    EXPECT_GT(app->workAreaOut, app->workAreaIn);
}

TEST(TimelineWorkArea, ButtonsSetAtThePlayheadOrClear) {
    auto app = App();
    app->activeScene = 2;
    app->currentTime = 8;
    app->workAreaOut = 5;
    ToggleWorkAreaIn(*app);
    EXPECT_EQ(app->workAreaIn, 8);
    EXPECT_EQ(app->workAreaOut, -1) << "an out point at or before the playhead is cleared";
    EXPECT_EQ(app->activeScene, -1);
    app->currentTime = 12;
    ToggleWorkAreaOut(*app);
    EXPECT_EQ(app->workAreaOut, 12);
    app->currentTime = 3;
    ToggleWorkAreaIn(*app);
    EXPECT_EQ(app->workAreaIn, -1) << "a set point is cleared";
    ToggleWorkAreaOut(*app);
    EXPECT_EQ(app->workAreaOut, -1);
    app->workAreaIn = 4;
    ToggleWorkAreaOut(*app);
    EXPECT_EQ(app->workAreaOut, 3);
    EXPECT_EQ(app->workAreaIn, -1) << "an in point at or after the playhead is cleared";
    const TimelineView v = View(0, 1000, 0, 10);
    app->workAreaIn = 2;
    app->workAreaOut = 6;
    EXPECT_EQ(RulerPressMode(v, *app, 205), 1);
    EXPECT_EQ(RulerPressMode(v, *app, 592), 2);
    EXPECT_EQ(RulerPressMode(v, *app, 400), 0);
    app->workAreaOut = -1;
    EXPECT_EQ(RulerPressMode(v, *app, 200), 0) << "no valid work area";
}

TEST(TimelineZoom, TheViewStaysBetweenHalfASecondAndTheProject) {
    auto app = App(10, 20);
    for (int i = 0; i < 40; ++i) ClampTimelineView(*app, 0.85f, 17, 120);
    EXPECT_FLOAT_EQ(app->viewDuration, 0.5f);
    for (int i = 0; i < 60; ++i) ClampTimelineView(*app, 1.18f, 17, 120);
    EXPECT_FLOAT_EQ(app->viewDuration, 120);
    EXPECT_EQ(app->viewStart, 0);
    auto tiny = App(0, 30);
    ClampTimelineView(*tiny, 5, 0, 0.2f);
    EXPECT_FLOAT_EQ(tiny->viewDuration, 0.5f) << "a project under 0.5 s still shows 0.5 s";

    // The anchor keeps its place while the view stays inside the project.
    auto anchored = App(10, 20);
    const float before = (17 - anchored->viewStart) / anchored->viewDuration;
    ClampTimelineView(*anchored, 0.7f, 17, 120);
    EXPECT_NEAR((17 - anchored->viewStart) / anchored->viewDuration, before, 1e-5f);
    ClampTimelineView(*anchored, NAN, 17, 120);
    ClampTimelineView(*anchored, -1, 17, 120);
    EXPECT_NEAR(anchored->viewDuration, 14, 1e-4f) << "a factor that is not a positive number changes nothing";

    // Near the end the start is held back so the view stays in the project.
    auto end = App(105, 15);
    ClampTimelineView(*end, 1.4f, 118, 120);
    EXPECT_FLOAT_EQ(end->viewStart + end->viewDuration, 120);
}

TEST(TimelineZoom, DrawModeKeepsTheViewNearTheFocusedEvent) {
    auto app = App(0, 30);
    Project p = ProjectWith({kShapeFill}, 120);
    p.events[0].time = 40;
    p.events[0].duration = 10;
    app->selectedEvents = {0};
    app->selectedEvent = 0;
    ASSERT_TRUE(SetCurveDrawMode(*app, p, true));
    EXPECT_FLOAT_EQ(app->viewStart, 39.5f) << "5 % margins";
    EXPECT_FLOAT_EQ(app->viewDuration, 11);
    for (int i = 0; i < 20; ++i) ClampTimelineView(*app, 1.4f, 45, 120);
    EXPECT_FLOAT_EQ(app->viewDuration, 11) << "never more than 1.1 × the focus span";
    ClampTimelineView(*app, 0.5f, 40, 120);
    ClampTimelineView(*app, 0.5f, 40, 120);
    PanTimelineView(*app, 100000, 100, 120);
    EXPECT_FLOAT_EQ(app->viewStart, 0) << "panning is not held to the focus";
    ClampTimelineView(*app, 1, 45, 120);
    EXPECT_GE(app->viewStart, 39.5f) << "zooming brings it back within the margins";
    EXPECT_LE(app->viewStart + app->viewDuration, 50.5f + 1e-4f);
    FitTimelineView(*app, 120);
    EXPECT_FLOAT_EQ(app->viewStart, 39.5f);
    EXPECT_FLOAT_EQ(app->viewDuration, 11);
    ASSERT_TRUE(SetCurveDrawMode(*app, p, false));
    FitTimelineView(*app, 120);
    EXPECT_EQ(app->viewStart, 0);
    EXPECT_EQ(app->viewDuration, 120);
}

TEST(TimelineScroll, PanScrollBarAndFollowingThePlayhead) {
    auto app = App(10, 20);
    PanTimelineView(*app, 100, 1000, 60);
    EXPECT_FLOAT_EQ(app->viewStart, 8) << "the view follows the mouse";
    PanTimelineView(*app, 10000, 1000, 60);
    EXPECT_EQ(app->viewStart, 0);
    PanTimelineView(*app, -10000, 1000, 60);
    EXPECT_FLOAT_EQ(app->viewStart, 40);

    const ScrollThumb thumb = ScrollThumbFor(60, 40, 20, 600);
    ASSERT_TRUE(thumb.shown);
    EXPECT_FLOAT_EQ(thumb.width, 200);
    EXPECT_FLOAT_EQ(thumb.x, 400);
    EXPECT_FLOAT_EQ(ScrollThumbFor(6000, 0, 1, 600).width, 20) << "never narrower than 20 points";
    EXPECT_FLOAT_EQ(ScrollThumbFor(6000, 5999, 1, 600).x, 580) << "kept inside the track";
    EXPECT_FALSE(ScrollThumbFor(20, 0, 20, 600).shown) << "nothing to scroll";
    ScrollViewByThumb(*app, -100, 600, 60);
    EXPECT_FLOAT_EQ(app->viewStart, 30);

    app->playing = true;
    app->currentTime = 55;
    FollowPlayhead(*app, 60);
    EXPECT_FLOAT_EQ(app->viewStart, 55 - 18) << "the playhead stays at 90 %";
    app->currentTime = 59;
    app->viewStart = 5;
    FollowPlayhead(*app, 60);
    EXPECT_FLOAT_EQ(app->viewStart, 40) << "at most to the project's end";
    app->currentTime = 2;
    FollowPlayhead(*app, 120);
    EXPECT_FLOAT_EQ(app->viewStart, 0);
    app->playing = false;
    app->currentTime = 100;
    FollowPlayhead(*app, 120);
    EXPECT_FLOAT_EQ(app->viewStart, 0) << "only while playing";
}

TEST(TimelineDrawMode, OneEventOtherThanASpotOrAClipAndTheViewComesBack) {
    Project p = ProjectWith({kShapeSpot, kShapeClip, kShapeBloom, kShapeBed});
    auto app = App(3, 17);
    app->laneMode = 1;
    EXPECT_EQ(CurveDrawModeBlock(*app, p), DrawModeBlock::NotOneEvent);
    EXPECT_STREQ(CurveDrawModeTooltip(DrawModeBlock::NotOneEvent), "Select a single event to draw");
    app->selectedEvents = {0};
    EXPECT_STREQ(CurveDrawModeTooltip(CurveDrawModeBlock(*app, p)), "Draw mode not available for Spot");
    app->selectedEvents = {1};
    EXPECT_STREQ(CurveDrawModeTooltip(CurveDrawModeBlock(*app, p)), "Draw mode not available for Clips");
    EXPECT_FALSE(SetCurveDrawMode(*app, p, true));
    EXPECT_FALSE(app->curveDrawMode);
    app->selectedEvents = {3};
    EXPECT_STREQ(CurveDrawModeTooltip(CurveDrawModeBlock(*app, p)), "Toggle curve draw mode (or hold Alt)");

    app->selectedEvents = {2};
    ASSERT_TRUE(ToggleCurveDrawMode(*app, p));
    EXPECT_TRUE(app->curveDrawMode);
    EXPECT_EQ(app->laneMode, 2) << "Curves+";
    EXPECT_FLOAT_EQ(app->drawFocusStart, 3);
    EXPECT_FLOAT_EQ(app->drawFocusEnd, 5);

    // A second event joins the selection: draw mode ends and the view returns.
    app->selectedEvents.insert(3);
    KeepCurveDrawModeValid(*app, p);
    EXPECT_FALSE(app->curveDrawMode);
    EXPECT_EQ(app->laneMode, 1);
    EXPECT_EQ(app->viewStart, 3);
    EXPECT_EQ(app->viewDuration, 17);
}
