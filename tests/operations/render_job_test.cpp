// The render job: requests and their kinds, the post-pass order, the full
// render (ranges, locked events, cancel, progress, live voices by id), the
// partial renders with their neighbours' voices, and a render while an audio
// thread mixes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "operations/render_job.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_streaming.h"
#include "operations/voice_sync.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "render/track_assignment.h"
#include "render_job_rig.h"

namespace {

std::set<int32_t> IdsOfEvent(const Project& project, int eventIdx) {
    std::set<int32_t> ids;
    for (const RenderResult& r : project.results)
        if (r.eventIdx == eventIdx) ids.insert(r.id);
    return ids;
}

RenderRequest FullRender(float t0 = -1, float t1 = -1) {
    RenderRequest request;
    request.kind = 1;
    request.all = 1;
    request.t0 = t0;
    request.t1 = t1;
    return request;
}

int64_t PlayheadFor(float seconds, int rate) { return int64_t(std::trunc(double(seconds) * rate)); }

}  // namespace

TEST(RenderJob, RequestsMapAsTheirKindsSay) {
    JobRig rig;
    AppState& app = *rig.app;
    app.renderRequestKind = 1;
    RenderRequest r = PendingRenderRequest(app);
    EXPECT_EQ(r.kind, 1);
    EXPECT_EQ(r.all, 1);
    EXPECT_EQ(r.t0, -1);
    EXPECT_EQ(r.t1, -1);
    EXPECT_STREQ(RenderRequestStatusText(1), "Rendering...");
    EXPECT_STREQ(RenderRequestStatusText(2), "Re-rendering...");
    EXPECT_STREQ(RenderRequestStatusText(3), "Re-rendering event...");
    EXPECT_STREQ(RenderRequestStatusText(4), "Re-rendering event...");

    // The work area is the range only when both points are set and out > in.
    app.workAreaIn = 2;
    app.workAreaOut = 5;
    app.renderRequestKind = 2;
    r = PendingRenderRequest(app);
    EXPECT_EQ(r.all, 1);
    EXPECT_EQ(r.t0, 2);
    EXPECT_EQ(r.t1, 5);
    app.workAreaOut = 2;
    EXPECT_EQ(PendingRenderRequest(app).t0, -1);
    app.workAreaIn = -1;

    app.renderRequestKind = 3;
    app.renderRequestIndex = 4;
    r = PendingRenderRequest(app);
    EXPECT_EQ(r.all, 0);
    EXPECT_EQ(r.eventIndex, 4);
    app.renderRequestKind = 4;
    EXPECT_EQ(PendingRenderRequest(app).kind, 0);  // a list request needs a list
    app.renderRequestList = {3, 1};
    r = PendingRenderRequest(app);
    EXPECT_EQ(r.kind, 4);
    EXPECT_EQ(r.eventList, (std::vector<int32_t>{3, 1}));
    app.renderRequestKind = 7;
    EXPECT_EQ(PendingRenderRequest(app).kind, 0);
}

TEST(RenderJob, StartingARequestPreparesTheDocumentAndRunsAsTheBusyTask) {
    JobRig rig;
    rig.AddSpots(4);
    for (Event& e : rig.project->events) e.locked = true;
    AppState& app = *rig.app;
    app.currentTime = 3.25f;
    app.renderEventsDone = 9;
    app.renderEventsTotal = 9;
    rig.project->publishedResultCount = 9;
    app.renderRequestKind = 2;

    // Refused while an export runs: nothing changes, the request waits.
    app.exportRunning = true;
    EXPECT_FALSE(StartPendingRender(rig.Context()));
    EXPECT_EQ(app.renderRequestKind, 2);
    EXPECT_TRUE(rig.project->events[0].locked);
    EXPECT_FALSE(app.busyTask.busy.load());
    app.exportRunning = false;

    ASSERT_TRUE(StartPendingRender(rig.Context()));
    EXPECT_EQ(app.renderRequestKind, 0);
    for (const Event& e : rig.project->events) EXPECT_FALSE(e.locked);  // kind 2 unlocks every event
    EXPECT_EQ(app.renderEventsDone.load(), 0);
    EXPECT_EQ(app.renderEventsTotal.load(), 0);
    EXPECT_EQ(rig.project->publishedResultCount.load(), 0);
    EXPECT_EQ(BusyStatusText(app.busyTask), "Re-rendering...");
    EXPECT_TRUE(app.busyTask.cancellable);
    EXPECT_TRUE(app.busyTask.immediate);
    EXPECT_FALSE(DocumentMayChange(app));
    // A second request while this one is queued is refused.
    app.renderRequestKind = 1;
    EXPECT_FALSE(StartPendingRender(rig.Context()));

    PumpUntilFinished(app.busyTask);
    for (int e = 0; e < 4; ++e) EXPECT_FALSE(IdsOfEvent(*rig.project, e).empty()) << e;
    EXPECT_EQ(app.renderEventsDone.load(), 4);
    EXPECT_EQ(app.renderEventsTotal.load(), 4);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_EQ(rig.engine->position.load(), PlayheadFor(3.25f, rig.Context().sampleRate));
    EXPECT_TRUE(DocumentMayChange(app));
}

TEST(RenderJob, PostPassesRunInOrderAndOnlyWithTheirFlags) {
    JobRig rig;
    rig.AddSpots(3);
    std::vector<PostPass> seen;
    rig.observer.postPass = [&](PostPass p) { seen.push_back(p); };
    using P = PostPass;
    struct Case {
        bool protect, eq;
        std::vector<PostPass> expected;
    };
    const Case cases[] = {
        {true, false, {P::ProtectSilence, P::Deconflict, P::Density, P::AssignTracks}},
        {false, true, {P::Deconflict, P::Density, P::DestructiveEq, P::AssignTracks}},
        {true, true, {P::ProtectSilence, P::Deconflict, P::Density, P::DestructiveEq, P::AssignTracks}},
    };
    RenderRequest one;
    one.kind = 3;
    one.eventIndex = 1;
    RenderRequest list;
    list.kind = 4;
    list.eventList = {2, 0};
    RenderRequest everything;  // kind 2 without `all`: one pass over every event
    everything.kind = 2;
    for (const Case& c : cases) {
        for (const RenderRequest& request : {FullRender(), one, list, everything}) {
            DocumentContext ctx = rig.Context();
            ctx.protectSilence = c.protect;
            ctx.destructiveEQ = c.eq;
            seen.clear();
            rig.app->busyTask.done = false;
            RunRenderJob(ctx, request);
            EXPECT_EQ(seen, c.expected) << "kind " << request.kind << " protect " << c.protect << " eq " << c.eq;
            EXPECT_TRUE(rig.app->busyTask.done.load());
        }
    }
}

TEST(RenderJob, FullRenderWithARangeKeepsLockedAndOutsideEvents) {
    JobRig rig;
    rig.AddSpots(5);  // at 1, 3, 5, 7, 9
    for (Event& e : rig.project->events) {
        e.syncOffset = 0;
        e.duration = 1.0f;
    }
    RunRenderJob(rig.Context(), FullRender());
    std::vector<std::set<int32_t>> before;
    for (int e = 0; e < 5; ++e) {
        before.push_back(IdsOfEvent(*rig.project, e));
        ASSERT_FALSE(before.back().empty()) << e;
    }
    // Results of events that do not exist are dropped by a full render.
    RenderResult stray;
    stray.placeholder = true;
    stray.duration = 1;
    stray.eventIdx = 12;
    rig.project->results.push_back(stray);
    stray.eventIdx = -1;
    rig.project->results.push_back(stray);

    // [3.5, 7) overlaps the events at 5 (and 3, which ends at 4) but only
    // touches the one at 7; the event at 5 is locked.
    rig.project->events[2].locked = true;
    rig.app->currentTime = 8.0f;
    RunRenderJob(rig.Context(), FullRender(3.5f, 7.0f));
    EXPECT_EQ(IdsOfEvent(*rig.project, 0), before[0]);
    EXPECT_EQ(IdsOfEvent(*rig.project, 2), before[2]);
    EXPECT_EQ(IdsOfEvent(*rig.project, 3), before[3]);
    EXPECT_EQ(IdsOfEvent(*rig.project, 4), before[4]);
    const std::set<int32_t> renderedAgain = IdsOfEvent(*rig.project, 1);
    ASSERT_FALSE(renderedAgain.empty());
    for (int32_t id : renderedAgain) EXPECT_EQ(before[1].count(id), 0u);
    for (const RenderResult& r : rig.project->results) {
        EXPECT_GE(r.eventIdx, 0);
        EXPECT_LT(r.eventIdx, 5);
    }
    EXPECT_EQ(rig.app->renderEventsTotal.load(), 1);
    EXPECT_EQ(rig.app->renderEventsDone.load(), 1);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    EXPECT_EQ(rig.engine->position.load(), PlayheadFor(8.0f, 48000));
}

TEST(RenderJob, CancellingAfterSomeEventsKeepsThemRenderedAndFinished) {
    JobRig rig;
    rig.AddSpots(8);
    const int k = 3;
    std::vector<int> doneSeen;
    std::vector<int32_t> builtSeen;
    rig.observer.eventRendered = [&](int, int done) {
        doneSeen.push_back(rig.app->renderEventsDone.load());
        builtSeen.push_back(rig.engine->stats.buildProgress.load());
        EXPECT_EQ(done, rig.app->renderEventsDone.load());
        if (done == k) rig.app->busyTask.cancelRequested = true;
    };
    std::vector<PostPass> passes;
    rig.observer.postPass = [&](PostPass p) { passes.push_back(p); };
    rig.app->currentTime = 1.7f;
    RunRenderJob(rig.Context(), FullRender());

    for (int e = 0; e < 8; ++e) EXPECT_EQ(IdsOfEvent(*rig.project, e).empty(), e >= k) << e;
    EXPECT_EQ(doneSeen, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(rig.app->renderEventsTotal.load(), 8);
    for (size_t i = 1; i < builtSeen.size(); ++i) EXPECT_GE(builtSeen[i], builtSeen[i - 1]);
    EXPECT_FALSE(passes.empty());
    EXPECT_EQ(passes.back(), PostPass::AssignTracks);

    // Tracks were assigned, and the used-track counts follow them.
    MixGroup recount[3];
    CountUsedTracks(recount, rig.project->results);
    for (int g = 0; g < 3; ++g) EXPECT_EQ(rig.project->groups[g].usedTracks, recount[g].usedTracks) << g;
    int withTrack = 0;
    for (const RenderResult& r : rig.project->results) withTrack += r.groupTrack >= 0 ? 1 : 0;
    EXPECT_GT(withTrack, 0);

    // Every layer has its voice, the cancel is cleared, playback is back at the cursor.
    EXPECT_FALSE(rig.app->busyTask.cancelRequested.load());
    EXPECT_TRUE(rig.app->busyTask.done.load());
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_EQ(rig.engine->stats.buildProgress.load(), int32_t(rig.project->results.size()));
    EXPECT_EQ(rig.engine->position.load(), PlayheadFor(1.7f, 48000));
    EXPECT_EQ(rig.engine->cacheReady.load(), 1);
}

// A quit during the render: the cancel stands through the voice build that a
// designer's cancel lets run, so a large project does not hold the quit.
TEST(RenderJob, AQuitDuringTheRenderStopsItsVoiceBuildToo) {
    JobRig rig;
    rig.AddSpots(8);
    rig.observer.eventRendered = [&](int, int done) {
        if (done == 2) AbandonBusyTask(rig.app->busyTask);
    };
    rig.app->deferredRebuild.store(false);
    RunRenderJob(rig.Context(), FullRender());

    EXPECT_EQ(rig.app->renderEventsDone.load(), 2);
    EXPECT_FALSE(rig.project->results.empty());
    EXPECT_TRUE(rig.app->busyTask.cancelRequested.load());
    EXPECT_LT(rig.engine->stats.buildProgress.load(), int32_t(rig.project->results.size()));
    EXPECT_TRUE(rig.app->deferredRebuild.load());
    EXPECT_TRUE(rig.app->busyTask.done.load());
}

TEST(RenderJob, LiveVoicesFollowResultsByIdWhileTheRenderRuns) {
    JobRig rig;
    rig.AddSpots(6, 1.0f, 0.5f);  // overlapping: the pass re-sorts results often
    const int clip = AddEvent(*rig.project, 2.0f, kShapeClip, 0.5f);
    std::snprintf(rig.project->events[size_t(clip)].pinnedFile, 512, "%s", "/missing/clip.wav");
    int checks = 0;
    // While events render in turn the document's layers are held by the
    // render itself: the voices at each event's end are kept, and held
    // against that event's layers once the render has given them back.
    std::map<int, std::set<int32_t>> voicedAt;
    rig.observer.eventRendered = [&](int eventIndex, int) {
        ++checks;
        const std::set<int32_t> voiced = rig.VoiceResultIds();
        EXPECT_EQ(voiced.size(), rig.engine->voices.size()) << "a result has two voices";
        voicedAt[eventIndex] = voiced;
    };
    RunRenderJob(rig.Context(), FullRender());
    EXPECT_EQ(checks, 7);  // the Clip event counts as rendered too
    // The event just rendered played already, whatever order its layers
    // were sorted to.
    for (size_t e = 0; e < rig.project->events.size(); ++e) {
        if (int(e) == clip) continue;  // its file is missing: no layer
        const std::set<int32_t> ids = IdsOfEvent(*rig.project, int(e));
        EXPECT_FALSE(ids.empty()) << e;
        for (int32_t id : ids) EXPECT_EQ(voicedAt[int(e)].count(id), 1u) << "event " << e << " layer " << id;
    }
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
}

TEST(RenderJob, ReRenderingOneEventRefreshesTheNeighboursThePassesChanged) {
    JobRig rig;
    // A at 1 s and B overlapping it (one span, no gap after A), C alone at 20 s.
    const int a = AddEvent(*rig.project, 1.0f, kShapeSpot, 0.5f);
    const int b = AddEvent(*rig.project, 1.9f, kShapeSpot, 0.5f);
    const int c = AddEvent(*rig.project, 20.0f, kShapeSpot, 0.5f);
    for (Event& e : rig.project->events) {
        e.syncOffset = 0;
        e.duration = 1.0f;
    }
    RunRenderJob(rig.Context(), FullRender());
    // One of A's layers rings on to 2.1 s; its voice is built that way.
    RenderResult* ringing = nullptr;
    for (RenderResult& r : rig.project->results)
        if (r.eventIdx == a && !ringing) ringing = &r;
    ASSERT_NE(ringing, nullptr);
    ringing->startTime = 1.0f;
    ringing->duration = 1.1f;
    ringing->muted = false;
    ringing->muteReasons = 0;
    const int32_t ringingId = ringing->id;
    RerenderEvent(rig.Context(), a);
    ASSERT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    for (PlaybackVoice& v : rig.engine->voices) v.normGain = 0.125f;  // marks voices not rebuilt since

    // B moves away and is rendered again: a gap now opens at 2 s, and the
    // silence pass cuts A's ringing layer there.
    rig.project->events[size_t(b)].time = 10.0f;
    RenderRequest one;
    one.kind = 3;
    one.eventIndex = b;
    RunRenderJob(rig.Context(), one);
    bool cut = false;
    for (const RenderResult& r : rig.project->results) cut |= r.id == ringingId && std::fabs(r.duration - 1.0f) < 1e-5f;
    EXPECT_TRUE(cut) << "the silence pass no longer cuts the ringing layer: this test checks nothing";
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    for (const PlaybackVoice& v : rig.engine->voices) {
        if (v.eventIndex == c) {
            EXPECT_EQ(v.normGain, 0.125f) << "an unchanged event's voice was rebuilt";
        }
        if (v.resultId == uint32_t(ringingId)) {
            EXPECT_NE(v.normGain, 0.125f);
        }
    }
}

TEST(RenderJob, ListedEventsAreUnlockedAndRenderedTheOthersStay) {
    JobRig rig;
    rig.AddSpots(4);
    RunRenderJob(rig.Context(), FullRender());
    for (Event& e : rig.project->events) e.locked = true;
    const std::set<int32_t> kept0 = IdsOfEvent(*rig.project, 0), kept2 = IdsOfEvent(*rig.project, 2);
    const std::set<int32_t> old3 = IdsOfEvent(*rig.project, 3);
    RenderRequest list;
    list.kind = 4;
    list.eventList = {3, 1, 17};  // an index out of range is ignored
    RunRenderJob(rig.Context(), list);
    EXPECT_FALSE(rig.project->events[1].locked);
    EXPECT_FALSE(rig.project->events[3].locked);
    EXPECT_TRUE(rig.project->events[0].locked);
    EXPECT_TRUE(rig.project->events[2].locked);
    EXPECT_EQ(IdsOfEvent(*rig.project, 0), kept0);
    EXPECT_EQ(IdsOfEvent(*rig.project, 2), kept2);
    for (int32_t id : IdsOfEvent(*rig.project, 3)) EXPECT_EQ(old3.count(id), 0u);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
}

TEST(RenderJob, FullRenderWhileTheAudioThreadMixes) {
    JobRig rig;
    rig.AddSpots(10, 0.5f, 0.6f);
    int fill = AddEvent(*rig.project, 2.0f, kShapeFill, 0.4f);
    rig.project->events[size_t(fill)].duration = 3.0f;
    MixingAudioThread audio(*rig.engine);
    for (int round = 0; round < 2; ++round) {
        rig.app->renderRequestKind = 1;
        ASSERT_TRUE(StartPendingRender(rig.Context()));
        PumpUntilFinished(rig.app->busyTask);
        // While no task runs, the interface thread maintains the voices.
        PrepareVoicesAtPlayhead(rig.Context());
    }
    EXPECT_GT(audio.Blocks(), 0);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
}

// The interface reads the document every frame while a render runs (the
// events list sorts the layers, the timeline draws them): the job renders its
// own copy, and the document changes only at the join.
TEST(RenderJob, TheDocumentChangesOnlyWhenTheJobIsJoined) {
    JobRig rig;
    rig.AddSpots(8, 0.5f, 0.7f);
    const int fill = AddEvent(*rig.project, 2.0f, kShapeFill, 0.4f);
    rig.project->events[size_t(fill)].duration = 3.0f;
    RunRenderJob(rig.Context(), FullRender());
    ASSERT_FALSE(rig.project->results.empty());

    // A full render and a one-event render (whose other voices stay on the
    // document's events through the hand-over).
    RenderRequest one;
    one.kind = 3;
    one.eventIndex = 2;
    for (const RenderRequest& request : {FullRender(), one}) {
        std::vector<int32_t> idsBefore;
        for (const RenderResult& r : rig.project->results) idsBefore.push_back(r.id);
        const std::set<int32_t> event2Before = IdsOfEvent(*rig.project, 2);
        const uint32_t revision = rig.project->resultsRevision;
        const Event* eventsBefore = rig.project->events.data();
        ASSERT_TRUE(StartRenderJob(rig.Context(), request));
        rig.app->busyTask.snapshotRequested = false;
        int frames = 0;
        BusyPump pump = BusyPump::Waiting;
        // Joined, a task other than a full render lingers with a full bar:
        // the document is the rendered one from then on.
        while ((pump = PumpBusyTask(rig.app->busyTask)) != BusyPump::Finished && pump != BusyPump::Lingering) {
            // What a frame reads: every layer, in start order.
            const std::vector<RenderResult>& results = rig.project->results;
            ASSERT_EQ(results.size(), idsBefore.size());
            std::vector<size_t> order(results.size());
            for (size_t i = 0; i < order.size(); ++i) order[i] = i;
            std::sort(order.begin(), order.end(),
                      [&](size_t a, size_t b) { return results[a].startTime < results[b].startTime; });
            for (size_t i = 0; i < results.size(); ++i) ASSERT_EQ(results[i].id, idsBefore[i]);
            EXPECT_EQ(rig.project->events.data(), eventsBefore);
            ++frames;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (pump == BusyPump::Lingering) PumpUntilFinished(rig.app->busyTask);
        EXPECT_GT(frames, 0);
        EXPECT_GT(rig.project->resultsRevision, revision);
        for (int e = 0; e < int(rig.project->events.size()); ++e)
            EXPECT_FALSE(IdsOfEvent(*rig.project, e).empty()) << e;
        EXPECT_NE(IdsOfEvent(*rig.project, 2), event2Before) << "event 2 has new layers";
        EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
        ExpectVoicesMatchResults(*rig.engine, *rig.project);
        // Every fill voice follows the curve of the document's own event.
        for (const PlaybackVoice& v : rig.engine->voices) {
            if (!v.intensityCurve) continue;
            EXPECT_EQ(v.intensityCurve, rig.project->events[size_t(v.eventIndex)].intensity.data());
        }
    }

    // A job dropped before it started hands nothing over.
    std::vector<int32_t> idsBefore;
    for (const RenderResult& r : rig.project->results) idsBefore.push_back(r.id);
    ASSERT_TRUE(StartRenderJob(rig.Context(), one));
    ASSERT_TRUE(CancelBusyTask(rig.app->busyTask));
    PumpUntilFinished(rig.app->busyTask);
    std::vector<int32_t> idsAfter;
    for (const RenderResult& r : rig.project->results) idsAfter.push_back(r.id);
    EXPECT_EQ(idsAfter, idsBefore);
}
