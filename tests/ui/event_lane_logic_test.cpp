// The event lane's rules: what a press picks, resizing an event's end,
// moving the selection with its layers and voices, and box selection.
#include <gtest/gtest.h>

#include <cmath>

#include "document/document_rig.h"
#include "document/text_util.h"
#include "operations/render_job_rig.h"
#include "operations/selection.h"
#include "ui/event_lane_logic.h"

namespace {

// 1000 points across 0 .. 10 s: 100 points a second.
const TimelineView kView{0, 1000, 0, 10};

Event At(float time, float duration, float syncOffset = 0, int shape = kShapeSpot) {
    Event e;
    e.time = time;
    e.duration = duration;
    e.syncOffset = syncOffset;
    e.shape = shape;
    return e;
}

}  // namespace

TEST(EventLanePick, MarkersFirstThenThePrimaryThenTheHighestIndex) {
    // 0: 1..5 s, marker at 1 s; 1: 2..4 s, marker at 3 s; 2: 2.5..3.5 s, marker at 3.08 s.
    std::vector<Event> events = {At(1, 4), At(3, 2, 1), At(3.08f, 1, 0.58f)};
    EXPECT_EQ(PickEventAt(events, kView, 303, 3.03f, -1, true), 1) << "the nearest marker within 10 points";
    EXPECT_EQ(PickEventAt(events, kView, 307, 3.07f, -1, true), 2);
    EXPECT_EQ(PickEventAt(events, kView, 118, 1.18f, -1, true), 0) << "no marker near: the span holding it";
    EXPECT_EQ(PickEventAt(events, kView, 270, 2.7f, 0, true), 0) << "inside the primary's span";
    EXPECT_EQ(PickEventAt(events, kView, 270, 2.7f, 0, false), 2) << "without the primary rule: the highest index";
    EXPECT_EQ(PickEventAt(events, kView, 600, 6.0f, 0, true), -1) << "empty lane: a box begins";
}

TEST(EventLanePick, OnlySelectedUnmutedUnlinkedEndsAreGrabbed) {
    auto app = std::make_unique<AppState>();
    std::vector<Event> events = {At(1, 2), At(2.5f, 0.56f), At(5, 1), At(7, 1)};
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

TEST(EventLaneResize, TheEndStaysBetweenOneFrameAndTheSourcesEnd) {
    Event bloom = At(4, 4, 2, kShapeBloom);  // 2 .. 6 s, sync in the middle
    bloom.locked = true;
    ResizeLimits limits = ResizeEndLimits(bloom, 30, 25, 0);
    EXPECT_FLOAT_EQ(limits.low, 2.04f);
    EXPECT_EQ(limits.high, 30);
    EXPECT_FLOAT_EQ(ResizeEventEnd(bloom, 7.013f, limits, 25), 7.0f) << "rounded to a frame";
    EXPECT_FLOAT_EQ(bloom.time, 4) << "the sync point stays on its picture";
    EXPECT_FLOAT_EQ(SpanOfEvent(bloom).end, 7.0f) << "the end is under the mouse";
    EXPECT_FLOAT_EQ(bloom.syncOffset / bloom.duration, 0.5f) << "and the sync keeps its place in the span";
    EXPECT_FALSE(bloom.locked) << "it will be rendered again";
    const float again = ResizeEventEnd(bloom, 7.0f, ResizeEndLimits(bloom, 30, 25, 0), 25);
    EXPECT_FLOAT_EQ(again, 7.0f) << "holding the mouse still changes nothing";
    ResizeEventEnd(bloom, -3, ResizeEndLimits(bloom, 30, 25, 0), 25);
    EXPECT_NEAR(bloom.duration, 0.04f, 1e-5f) << "never under one frame";

    Event spot = At(2, 1.5f);  // no lead-in: the start stays
    ResizeEventEnd(spot, 5.6f, ResizeEndLimits(spot, 30, 25, 0), 25);
    EXPECT_FLOAT_EQ(spot.duration, 3.6f);
    EXPECT_EQ(spot.syncOffset, 0);

    // A Clip of a 5 s file from 1.5 s in, placed at 10 s: at most 3.5 s long,
    // even where rounding to a frame would pass the source's end.
    Event clip = At(10, 2, 0.5f, kShapeClip);
    clip.clipSourceOffset = 1.5f;
    limits = ResizeEndLimits(clip, 30, 24, 5.0f);
    EXPECT_FLOAT_EQ(limits.high, 9.5f + 3.5f);
    const float end = ResizeEventEnd(clip, 20, limits, 24);
    EXPECT_LE(end, 13.0f);
    EXPECT_FLOAT_EQ(clip.duration, 3.5f);
    EXPECT_FLOAT_EQ(clip.clipSourceDuration, clip.duration);
    ResizeEventEnd(clip, 9.7f, limits, 24);
    EXPECT_FLOAT_EQ(clip.syncOffset, clip.duration) << "a Clip's lead-in is clamped into its span";
    Event tail = At(29.99f, 1, 0);
    limits = ResizeEndLimits(tail, 30, 25, 0);
    EXPECT_FLOAT_EQ(limits.high, limits.low) << "past the project's end the lowest end wins";
}

TEST(EventLaneMove, ASelectionStopsWhereItsFirstEventReachesZero) {
    std::vector<Event> events = {At(3, 1), At(1.5f, 1), At(8, 1)};
    const std::set<int> selected = {0, 1};
    EXPECT_FLOAT_EQ(LimitMoveDelta(events, selected, -2.5f, 10), -1.5f);
    EXPECT_FLOAT_EQ(LimitMoveDelta(events, selected, 9, 10), 7);
    EXPECT_FLOAT_EQ(LimitMoveDelta(events, selected, 0.5f, 10), 0.5f);
    EXPECT_EQ(LimitMoveDelta(events, selected, NAN, 10), 0);
    EXPECT_FLOAT_EQ(MoveTarget(4.013f, 1.0f, 10, 25), 3.0f) << "the grab offset, then a frame";
    EXPECT_FLOAT_EQ(MoveTarget(-2, 1.0f, 10, 25), -1.0f) << "the mouse is clamped, the target is not";
    EXPECT_FALSE(SelectionLinkedToScene({At(1, 1), At(2, 1)}, {0}));
    std::vector<Event> linked = {At(1, 1), At(2, 1)};
    linked[1].sceneLink = 0;
    EXPECT_TRUE(SelectionLinkedToScene(linked, {0, 1}));
}

TEST(EventLaneMove, LayersAndBothVoiceStartsMoveByTheSameDelta) {
    DocRig rig;
    rig.AddLayeredEvents(3, 2);  // events at 1, 2, 3 s with two layers each
    rig.BuildVoices();
    AudioEngine& engine = *rig.engine;
    for (PlaybackVoice& v : engine.voices) v.startTime = v.plainStartTime + 0.25f;  // a deconfliction offset
    std::vector<float> before, beforePlain;
    for (const PlaybackVoice& v : engine.voices) {
        before.push_back(v.startTime);
        beforePlain.push_back(v.plainStartTime);
    }
    std::vector<float> resultsBefore;
    for (const RenderResult& r : rig.project->results) resultsBefore.push_back(r.startTime);
    rig.project->results[1].groupTrack = 7;  // stale: the move assigns the tracks again

    rig.app->selectedEvents = {0, 2};
    MoveSelectedEvents(rig.Context(), 0.5f);
    EXPECT_FLOAT_EQ(rig.project->events[0].time, 1.5f);
    EXPECT_FLOAT_EQ(rig.project->events[1].time, 2.0f);
    EXPECT_FLOAT_EQ(rig.project->events[2].time, 3.5f);
    for (size_t i = 0; i < rig.project->results.size(); ++i) {
        const RenderResult& r = rig.project->results[i];
        const float shift = r.eventIdx == 1 ? 0.0f : 0.5f;
        EXPECT_FLOAT_EQ(r.startTime, resultsBefore[i] + shift) << "layer " << i;
    }
    ASSERT_EQ(engine.voices.size(), rig.project->results.size());
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const float shift = engine.voices[v].eventIndex == 1 ? 0.0f : 0.5f;
        EXPECT_FLOAT_EQ(engine.voices[v].startTime, before[v] + shift) << "voice " << v;
        EXPECT_FLOAT_EQ(engine.voices[v].plainStartTime, beforePlain[v] + shift) << "voice " << v;
    }
    EXPECT_NE(rig.project->results[1].groupTrack, 7) << "tracks assigned again";

    // During an export nothing moves.
    rig.app->exportRunning = true;
    MoveSelectedEvents(rig.Context(), 0.5f);
    EXPECT_FLOAT_EQ(rig.project->events[0].time, 1.5f);
    rig.app->exportRunning = false;
}

TEST(EventLaneMove, VoicesMoveUnderTheLockWhileTheAudioThreadMixesThem) {
    DocRig rig;
    rig.AddLayeredEvents(4, 3);
    rig.BuildVoices();
    std::vector<float> before;
    for (const PlaybackVoice& v : rig.engine->voices) before.push_back(v.startTime);
    rig.app->selectedEvents = {1, 3};
    rig.engine->cacheReady = 1;
    {
        MixingAudioThread audio(*rig.engine);
        // Back and forth by a frame until the mixer has read the voices many
        // times in between; an even number of moves leaves them where they were.
        for (int i = 0; i < 200 || audio.Blocks() < 20; ++i) {
            MoveSelectedEvents(rig.Context(), 0.04f);
            MoveSelectedEvents(rig.Context(), -0.04f);
        }
        EXPECT_GT(audio.Blocks(), 0);
    }
    ASSERT_EQ(rig.engine->voices.size(), before.size());
    for (size_t v = 0; v < before.size(); ++v)
        EXPECT_NEAR(rig.engine->voices[v].startTime, before[v], 1e-4f) << "voice " << v;
    EXPECT_NEAR(rig.project->events[1].time, 2.0f, 1e-4f);
}

TEST(EventLaneBox, NarrowBoxesClearWideOnesCatchWithTheirFolders) {
    auto app = std::make_unique<AppState>();
    std::vector<Event> events = {At(1, 1), At(4, 1), At(5.5f, 1), At(9, 0.5f)};
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
