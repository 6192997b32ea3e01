// The timeline's event drags: the end drag's limits and rule, the move's
// limit, and the steps as edits (refusals, the app state's drag, the
// voices that follow a move and take their tracks at the release).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "document/document_rig.h"
#include "operations/event_drags.h"
#include "operations/render_job_rig.h"
#include "playback/voice_settings.h"
#include "support/plain_records.h"

TEST(EventDragRules, TheEndStaysBetweenOneFrameAndTheSourcesEnd) {
    Event bloom = EventAt(4, 4, 2, kShapeBloom);  // 2 .. 6 s, sync in the middle
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

    Event spot = EventAt(2, 1.5f);  // no lead-in: the start stays
    ResizeEventEnd(spot, 5.6f, ResizeEndLimits(spot, 30, 25, 0), 25);
    EXPECT_FLOAT_EQ(spot.duration, 3.6f);
    EXPECT_EQ(spot.syncOffset, 0);

    // A Clip of a 5 s file from 1.5 s in, placed at 10 s: at most 3.5 s long,
    // even where rounding to a frame would pass the source's end.
    Event clip = EventAt(10, 2, 0.5f, kShapeClip);
    clip.clipSourceOffset = 1.5f;
    limits = ResizeEndLimits(clip, 30, 24, 5.0f);
    EXPECT_FLOAT_EQ(limits.high, 9.5f + 3.5f);
    const float end = ResizeEventEnd(clip, 20, limits, 24);
    EXPECT_LE(end, 13.0f);
    EXPECT_FLOAT_EQ(clip.duration, 3.5f);
    EXPECT_FLOAT_EQ(clip.clipSourceDuration, clip.duration);
    ResizeEventEnd(clip, 9.7f, limits, 24);
    EXPECT_FLOAT_EQ(clip.syncOffset, clip.duration) << "a Clip's lead-in is clamped into its span";
    Event tail = EventAt(29.99f, 1, 0);
    limits = ResizeEndLimits(tail, 30, 25, 0);
    EXPECT_FLOAT_EQ(limits.high, limits.low) << "past the project's end the lowest end wins";
}

TEST(EventDragRules, ASelectionStopsWhereItsFirstEventReachesZero) {
    std::vector<Event> events = {EventAt(3, 1), EventAt(1.5f, 1), EventAt(8, 1)};
    const std::set<int> selected = {0, 1};
    EXPECT_FLOAT_EQ(LimitMoveDelta(events, selected, -2.5f, 10), -1.5f);
    EXPECT_FLOAT_EQ(LimitMoveDelta(events, selected, 9, 10), 7);
    EXPECT_FLOAT_EQ(LimitMoveDelta(events, selected, 0.5f, 10), 0.5f);
    EXPECT_EQ(LimitMoveDelta(events, selected, NAN, 10), 0);
    EXPECT_FALSE(SelectionLinkedToScene({EventAt(1, 1), EventAt(2, 1)}, {0}));
    std::vector<Event> linked = {EventAt(1, 1), EventAt(2, 1)};
    linked[1].sceneLink = 0;
    EXPECT_TRUE(SelectionLinkedToScene(linked, {0, 1}));
}

TEST(EventDragMove, LayersAndBothVoiceStartsMoveByTheSameDelta) {
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

TEST(EventDragMove, VoicesMoveUnderTheLockWhileTheAudioThreadMixesThem) {
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

// The end drag as the lane makes it: the press, steps, the release.
TEST(EventDragSteps, AnEndDragFollowsTheMouseUnlessLinkedOrRefused) {
    DocRig rig;
    rig.AddLayeredEvents(3, 1);
    Project& project = *rig.project;
    project.totalDuration = 10;
    project.fps = 25;
    rig.app->selectedEvents = {0, 2};
    const DocumentContext ctx = rig.Context();
    EXPECT_FALSE(BeginEventResize(ctx, 3)) << "no such event";
    EXPECT_EQ(rig.app->resizingEvent, -1);
    ASSERT_TRUE(BeginEventResize(ctx, 1));
    EXPECT_EQ(rig.app->resizingEvent, 1);
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{1})) << "the resized event alone is selected";
    rig.app->modified = false;

    EventResizeStep step = ResizeEventStep(ctx, 1, 4.013f);
    ASSERT_TRUE(step.done);
    EXPECT_FLOAT_EQ(step.end, SpanOfEvent(project.events[1]).end) << "the end drawn is the event's";
    EXPECT_NEAR(step.end, 4.0f, 1e-4f) << "on a frame of the project's rate";
    EXPECT_TRUE(rig.app->modified);
    step = ResizeEventStep(ctx, 1, 50);
    EXPECT_NEAR(step.end, 10, 1e-4f) << "never past the project's end";

    // While an export runs, or for an event linked to a scene, nothing changes.
    const Event held = project.events[1];
    rig.app->exportRunning = true;
    EXPECT_FALSE(ResizeEventStep(ctx, 1, 3).done);
    rig.app->exportRunning = false;
    project.events[1].sceneLink = 0;
    step = ResizeEventStep(ctx, 1, 3);
    EXPECT_FALSE(step.done);
    EXPECT_TRUE(step.linkedToScene);
    EXPECT_EQ(project.events[1].duration, held.duration);
    EXPECT_FALSE(ResizeEventStep(ctx, 7, 1).done) << "no such event";

    EndEventDrag(ctx, false);
    EXPECT_EQ(rig.app->resizingEvent, -1);
}

// The move as the lane makes it: the press grabs the primary, each step
// moves the selection by the limited delta, the release syncs the voices.
TEST(EventDragSteps, AMoveStepsByTheLimitedDeltaAndTheReleaseGivesTheVoicesTheirTracks) {
    DocRig rig;
    rig.AddLayeredEvents(3, 2);  // both layers of an event overlap: the tracks part them
    rig.BuildVoices();
    Project& project = *rig.project;
    project.totalDuration = 10;
    AppState& app = *rig.app;
    const DocumentContext ctx = rig.Context();
    app.selectedEvents = {0, 1};
    app.selectedEvent = 1;
    app.pressTime = 2.25f;
    EXPECT_FALSE(BeginEventMove(ctx, 5)) << "no such event";
    ASSERT_TRUE(BeginEventMove(ctx, 1));
    EXPECT_TRUE(app.movingSelection);
    EXPECT_FLOAT_EQ(app.moveGrabOffset, 0.25f);

    EventMoveStep step = MoveSelectionStep(ctx, 2.5f);
    EXPECT_TRUE(step.done);
    EXPECT_FLOAT_EQ(step.delta, 0.5f);
    EXPECT_FLOAT_EQ(project.events[0].time, 1.5f);
    step = MoveSelectionStep(ctx, -4);
    EXPECT_FLOAT_EQ(step.delta, -1.5f) << "the first event stops at 0";
    EXPECT_FLOAT_EQ(project.events[1].time, 1.0f);
    step = MoveSelectionStep(ctx, 1.00005f);
    EXPECT_TRUE(step.done);
    EXPECT_EQ(step.delta, 0) << "a step this small moves nothing";
    EXPECT_FLOAT_EQ(project.events[1].time, 1.0f);
    EXPECT_FLOAT_EQ(project.events[2].time, 3.0f) << "an event not selected stays";

    // The steps left the voices' pans for the release.
    bool stalePan = false;
    for (const PlaybackVoice& v : rig.engine->voices)
        stalePan = stalePan || v.pan != VoicePan(project.results[size_t(v.resultIndex)]);
    ASSERT_TRUE(stalePan) << "the tracks the steps gave reach no voice: the release is not checked";
    EndEventDrag(ctx, true);
    EXPECT_FALSE(app.movingSelection);
    ASSERT_EQ(rig.engine->voices.size(), project.results.size());
    for (const PlaybackVoice& v : rig.engine->voices)
        EXPECT_EQ(v.pan, VoicePan(project.results[size_t(v.resultIndex)])) << "voice of layer " << v.resultIndex;

    // A selection holding an event linked to a scene does not move.
    project.events[0].sceneLink = 0;
    step = MoveSelectionStep(ctx, 2);
    EXPECT_TRUE(step.linkedToScene);
    EXPECT_FALSE(step.done);
    EXPECT_FLOAT_EQ(project.events[1].time, 1.0f);
}
