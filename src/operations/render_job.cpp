// render_job.cpp — render requests, the render job and the full render.
//
// Index
//   Requests        RenderRequestStatusText, PendingRenderRequest, TakeRenderedDocument,
//                   StartRenderJob, StartPendingRender
//   Pacing          PaceFullRender, LetPacedRenderEvent: a test script's hold
//   RunPostPasses
//   RenderAllEvents KeepSurvivingResults, BuildVoicesOf, the event loop
//   RunRenderJob    RenderListedEvents, the three roads, DrawUIRenderJob
#include "operations/render_job.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <unordered_set>

#include "document/event.h"
#include "document/project.h"
#include "document/work_pace.h"
#include "library/file_caches.h"
#include "operations/app_state.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "render/alloy_morph.h"
#include "render/post_passes.h"
#include "render/render_pass.h"
#include "render/track_assignment.h"

// ---------------------------------------------------------------------------
// Requests
// ---------------------------------------------------------------------------

const char* RenderRequestStatusText(int kind) {
    switch (kind) {
        case 1: return "Rendering...";
        case 2: return "Re-rendering...";
        default: return "Re-rendering event...";
    }
}

RenderRequest PendingRenderRequest(const AppState& app) {
    RenderRequest request;
    const int kind = app.renderRequestKind;
    if (kind < 1 || kind > 4) return request;
    if (kind == 4 && app.renderRequestList.empty()) return request;
    request.kind = kind;
    request.all = kind <= 2 ? 1 : 0;
    request.eventIndex = kind == 3 ? app.renderRequestIndex : -1;
    if (kind == 4) request.eventList.assign(app.renderRequestList.begin(), app.renderRequestList.end());
    if (app.workAreaIn >= 0 && app.workAreaOut >= 0 && app.workAreaOut > app.workAreaIn) {
        request.t0 = app.workAreaIn;
        request.t1 = app.workAreaOut;
    }
    return request;
}

namespace {

// The document a render job works on: its own copy, so the interface (which
// keeps drawing every panel through a full render) never reads a vector the
// worker is growing or sorting. `ran` tells a finished job from one dropped
// before it started.
struct RenderWork {
    Project document;
    std::atomic<bool> ran{false};
};

}  // namespace

void TakeRenderedDocument(const DocumentContext& ctx, Project& rendered) {
    Project& project = *ctx.project;
    // The voices built by the job follow the rendered events' curves; the
    // others still follow the document's. Repointed by index under the engine
    // lock, no voice is left on the list that leaves.
    ReplaceDocumentEvents(*ctx.engine, project.events, rendered.events, VoiceCurveLink::Repoint);
    project.results.swap(rendered.results);
    for (int g = 0; g < 3; ++g) project.groups[g].usedTracks = rendered.groups[g].usedTracks;
    project.fillPickCounter = rendered.fillPickCounter;
    project.rendered.store(rendered.rendered.load());
    project.resultsRevision = std::max(rendered.resultsRevision, project.resultsRevision + 1);
    project.publishedResultCount.store(int32_t(project.results.size()));
}

bool StartRenderJob(const DocumentContext& ctx, const RenderRequest& request) {
    AppState& app = *ctx.app;
    if (request.kind < 1 || request.kind > 4 || !DocumentMayChange(app)) return false;
    if (request.kind == 4 && request.eventList.empty()) return false;
    auto work = std::make_shared<RenderWork>();
    DocumentContext workCtx = ctx;
    workCtx.project = &work->document;
    auto job = [workCtx, request, work] {
        DrawUIRenderJob(workCtx, request);
        work->ran.store(true);
    };
    if (!StartBusyTask(app.busyTask, RenderRequestStatusText(request.kind), job, true, -1.0f)) return false;
    // The task is queued, so from here the job owns the document; it has not
    // started yet, so these still happen before it, and its copy is taken
    // after them.
    app.busyTask.immediate = request.all != 0;
    if (request.kind == 2)
        for (Event& e : ctx.project->events) e.locked = false;
    app.renderEventsDone.store(0);
    app.renderEventsTotal.store(0);
    ctx.project->publishedResultCount.store(0);
    work->document = *ctx.project;
    app.busyTask.ownCopy = true;
    app.busyTask.atJoin = [ctx, work] {
        if (work->ran.load()) TakeRenderedDocument(ctx, work->document);
    };
    return true;
}

bool StartPendingRender(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    if (!DocumentMayChange(app)) return false;
    const RenderRequest request = PendingRenderRequest(app);
    app.renderRequestKind = 0;
    app.renderRequestIndex = -1;
    app.renderRequestList.clear();
    return StartRenderJob(ctx, request);
}

// ---------------------------------------------------------------------------
// Pacing
// ---------------------------------------------------------------------------

namespace {

WorkPace gRenderPace;

}  // namespace

void PaceFullRender(bool paced) { SetWorkPaced(gRenderPace, paced); }

void LetPacedRenderEvent() { LetWorkStep(gRenderPace); }

// ---------------------------------------------------------------------------
// RunPostPasses
// ---------------------------------------------------------------------------

void RunPostPasses(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    auto announce = [&](PostPass pass) {
        if (ctx.observer && ctx.observer->postPass) ctx.observer->postPass(pass);
    };
    if (ctx.protectSilence) {
        announce(PostPass::ProtectSilence);
        ProtectSilencePass(project);
    }
    announce(PostPass::Deconflict);
    DeconflictPass(project);
    // Multiplies into the gain curves the deconfliction has just set.
    announce(PostPass::Density);
    DensityPass(project);
    if (ctx.destructiveEQ) {
        announce(PostPass::DestructiveEq);
        DestructiveEqPass(project);
    }
    announce(PostPass::AssignTracks);
    AssignTracks(project);
}

// ---------------------------------------------------------------------------
// RenderAllEvents
// ---------------------------------------------------------------------------

namespace {

bool OutsideRange(const Event& e, bool rangeOn, float t0, float t1) {
    return rangeOn && (t0 >= e.time + e.duration || e.time >= t1);
}

// Results of locked events and of events outside the range stay, in their
// order; the rest go, and so does every result whose event does not exist.
void KeepSurvivingResults(Project& project, bool rangeOn, float t0, float t1) {
    const int n = int(project.events.size());
    std::vector<RenderResult> kept;
    for (RenderResult& r : project.results) {
        if (r.eventIdx < 0 || r.eventIdx >= n) continue;
        const Event& e = project.events[size_t(r.eventIdx)];
        if (e.locked || OutsideRange(e, rangeOn, t0, t1)) kept.push_back(std::move(r));
    }
    project.results.clear();
    project.results.shrink_to_fit();
    project.results.reserve(size_t(n) * 48 + 128);
    for (RenderResult& r : kept) project.results.push_back(std::move(r));
    project.publishedResultCount.store(int32_t(project.results.size()));
}

// The live voices of a full render: builds the voice of every result that
// `wanted` accepts and that has none yet, by id, whatever index the last
// pass sorted it to.
struct LiveVoices {
    const DocumentContext& ctx;
    std::vector<float> gains;
    std::unordered_set<int32_t> voicedIds;
    int32_t built = 0;

    template <class Wanted>
    void BuildVoicesOf(Wanted wanted) {
        Project& project = *ctx.project;
        for (size_t j = 0; j < project.results.size(); ++j) {
            RenderResult& r = project.results[j];
            if (!wanted(r) || !voicedIds.insert(r.id).second) continue;
            BuildPlaybackVoice(*ctx.engine, r, int(j), ctx.sampleRate, gains.empty() ? nullptr : gains.data(),
                               int(project.events.size()), project.events.empty() ? nullptr : project.events.data(),
                               project.scaleType, project.scaleRoot, false);
            ctx.engine->buildProgress.store(++built);
        }
    }
};

}  // namespace

void RenderAllEvents(const DocumentContext& ctx, float t0, float t1) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    AppState& app = *ctx.app;
    const int n = int(project.events.size());
    const bool rangeOn = t0 >= 0 && t1 > t0;

    ClearAmplitudeEnvelopeCache();
    ClearLevelCurveCache();
    ClearAlloyCache();
    KeepSurvivingResults(project, rangeOn, t0, t1);
    LoadClipPeaks(project);

    CopyLoudnessTargets(project, engine);
    ResetEngineVoices(engine, ctx.sampleRate, n * 8);
    LiveVoices live{ctx, EventGainTable(project), {}, 0};
    live.BuildVoicesOf([](const RenderResult&) { return true; });

    auto renders = [&](const Event& e) { return !e.locked && !OutsideRange(e, rangeOn, t0, t1); };
    app.renderEventsTotal.store(int32_t(std::count_if(project.events.begin(), project.events.end(), renders)));
    app.renderEventsDone.store(0);

    int32_t done = 0;
    for (int i = 0; i < n; ++i) {
        if (app.busyTask.cancelRequested.load()) break;
        if (!renders(project.events[size_t(i)])) continue;
        if (!WaitForWorkStep(gRenderPace, &app.busyTask.cancelRequested)) break;
        RenderEvents(project, *ctx.library, i, -1, -1, true, true);
        app.renderEventsDone.store(++done);
        // Only this event's layers are new to playback: the Clip and Bed
        // layers the pass rebuilds every time get their voices at the end.
        live.BuildVoicesOf([i](const RenderResult& r) { return r.eventIdx == i; });
        if (ctx.observer && ctx.observer->eventRendered) ctx.observer->eventRendered(i, done);
    }

    RunPostPasses(ctx);
    CountUsedTracks(project.groups, project.results);
    // The designer's cancel stops the events, not the voices of what was
    // rendered; a quit's cancel stops them too.
    ClearStepCancel(app.busyTask);
    RebuildCache(ctx, false);
    SeekPlayback(engine, ctx.currentTime);
}

// ---------------------------------------------------------------------------
// RunRenderJob
// ---------------------------------------------------------------------------

namespace {

// After a render of some events: their voices, and the voices of the other
// events whose layers the post passes moved, cut, re-curved or re-equalised.
void RefreshAfterPartialRender(const DocumentContext& ctx, const std::vector<int>& rendered,
                               const ResultVoiceKeys& before) {
    std::vector<int> events = rendered;
    for (int e : EventsWithStaleVoices(ctx, before)) events.push_back(e);
    RerenderEvents(ctx, events);
    CheckPlaybackCacheIntegrity(ctx);
}

void RenderListedEvents(const DocumentContext& ctx, const std::vector<int32_t>& list) {
    Project& project = *ctx.project;
    const ResultVoiceKeys before = SnapshotResultVoiceKeys(project);
    std::vector<int> rendered;
    for (int32_t i : list) {
        if (i < 0 || size_t(i) >= project.events.size()) continue;
        project.events[size_t(i)].locked = false;
        RenderEvents(project, *ctx.library, i, -1, -1, false, false);
        rendered.push_back(i);
    }
    RunPostPasses(ctx);
    RefreshAfterPartialRender(ctx, rendered, before);
}

}  // namespace

void RunRenderJob(const DocumentContext& ctx, const RenderRequest& request) {
    Project& project = *ctx.project;
    if (request.kind == 4 && !request.eventList.empty()) {
        RenderListedEvents(ctx, request.eventList);
    } else if (request.all) {
        RenderAllEvents(ctx, request.t0, request.t1);
        ctx.app->busyTask.done.store(true);
        return;
    } else {
        const int index = request.kind == 3 ? request.eventIndex : -1;
        if (index < 0) {
            RenderEvents(project, *ctx.library, -1, request.t0, request.t1, false, false);
            RunPostPasses(ctx);
            RebuildCache(ctx, false);
        } else if (size_t(index) < project.events.size()) {
            const ResultVoiceKeys before = SnapshotResultVoiceKeys(project);
            RenderEvents(project, *ctx.library, index, request.t0, request.t1, false, false);
            RunPostPasses(ctx);
            RefreshAfterPartialRender(ctx, {index}, before);
        }
    }
    SeekPlayback(*ctx.engine, ctx.currentTime);
    ctx.app->busyTask.done.store(true);
}

void DrawUIRenderJob(const DocumentContext& ctx, const RenderRequest& request) { RunRenderJob(ctx, request); }
