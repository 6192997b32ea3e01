// render_job.cpp — render requests, the render job and the full render.
//
// Index
//   Requests        RenderRequestStatusText, PendingRenderRequest, TakeRenderedDocument,
//                   StartRenderJob, StartPendingRender
//   RunPostPasses
//   RenderAllEvents KeepSurvivingResults, LiveVoices (the voices built on every
//                   core while the events render), RenderEventsInTurn (each event
//                   waits for the observer's renderPace, when a test script holds it)
//   RunRenderJob    RenderListedEvents, the three roads, DrawUIRenderJob
#include "operations/render_job.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "operations/work_pace.h"
#include "library/file_caches.h"
#include "operations/app_state.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "platform/processor.h"
#include "playback/transport.h"
#include "render/alloy_morph.h"
#include "render/full_render.h"
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
    // Counted from the tracks the job left, as every rebuild counts them.
    CountUsedTracks(project.groups, project.results);
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
    // A full render's overlay counts the voices built from 0 at once.
    if (app.busyTask.immediate) ctx.engine->stats.buildProgress.store(0);
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

// The live voices of a full render, so that playback follows the render:
// every layer an event's pass has finished is built into its voice by a
// pool of threads while the render goes on (one per core but the render's
// own; once the events are done, the render's thread builds with them).
// Each build works on a copy of the layer as the pass left it; what a build
// writes back into its layer (the fill's chunk plan, a resolved path, the
// missing and placeholder flags, the measured pitch and loudness) goes into
// the results once every build is done, as if it had been written at once.
// A quit stops the builds that have not started (the designer's cancel does
// not: the events rendered keep their voices).
class LiveVoices {
public:
    explicit LiveVoices(const DocumentContext& ctx) : ctx_(ctx), gains_(EventGainTable(*ctx.project)) {
        const int threads = std::max(1, ProcessorCount() - 1);
        for (int t = 0; t < threads; ++t) {
            try {
                threads_.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break;
            }
        }
        if (threads_.empty()) fallback_ = true;  // no thread at all: the caller builds them all
    }
    ~LiveVoices() { Finish(); }
    LiveVoices(const LiveVoices&) = delete;
    LiveVoices& operator=(const LiveVoices&) = delete;

    // Queues the layer's voice; `passes` is how many pass ends came before.
    void Add(int index, const RenderResult& layer, int passes) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            builds_.push_back({index, passes, layer});
        }
        work_.notify_one();
    }

    // Returns once every voice queued so far is installed (or a quit stopped it).
    void WaitForQueued() {
        std::unique_lock<std::mutex> lock(mutex_);
        const size_t target = builds_.size();
        if (fallback_) {
            lock.unlock();
            RunLeft();
            return;
        }
        settled_.wait(lock, [&] { return finished_ >= target || stopped_; });
    }

    // Every queued voice built (or a quit stopped them), the caller building
    // too, the threads joined.
    void Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closing_) return;
            closing_ = true;
        }
        work_.notify_all();
        RunLeft();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

    // The builds' write-backs into the results with the same ids. A pass end
    // sets pitchShift to the pitch variation again, so only the builds after
    // the last pass end (`passes` of them) keep the pitch their tuning set.
    void TakeWriteBacks(Project& project, int passes) {
        std::unordered_map<int32_t, size_t> byId;
        byId.reserve(project.results.size());
        for (size_t k = 0; k < project.results.size(); ++k) byId.emplace(project.results[k].id, k);
        for (const Build& b : builds_) {
            if (!b.built) continue;
            auto it = byId.find(b.layer.id);
            if (it == byId.end()) continue;
            RenderResult& r = project.results[it->second];
            const RenderResult& from = b.layer;
            r.filepath = from.filepath;
            r.missing = from.missing;
            r.placeholder = from.placeholder;
            r.fillChunks = from.fillChunks;
            r.normGain = from.normGain;
            r.measuredPeak = from.measuredPeak;
            r.measuredLufs = from.measuredLufs;
            r.detectedPitchHz = from.detectedPitchHz;
            r.detectedMidiNote = from.detectedMidiNote;
            r.detectedCents = from.detectedCents;
            r.detectedConfidence = from.detectedConfidence;
            r.scaleCorrection = from.scaleCorrection;
            r.alloyMid = from.alloyMid;
            r.alloyHigh = from.alloyHigh;
            r.alloyEnv = from.alloyEnv;
            if (b.passes == passes) r.pitchShift = from.pitchShift;
        }
    }

private:
    struct Build {
        int index = 0;
        int passes = 0;
        RenderResult layer;
        bool built = false;
    };

    void BuildOne(Build& b) {
        const Project& project = *ctx_.project;
        try {
            BuildPlaybackVoice(*ctx_.engine, b.layer, b.index, ctx_.sampleRate, gains_.empty() ? nullptr : gains_.data(),
                               int(project.events.size()), project.events.empty() ? nullptr : project.events.data(),
                               project.scaleType, project.scaleRoot, false);
            b.built = true;
        } catch (const std::exception& error) {
            std::printf("[Render] A live voice build stopped: %s\n", error.what());
        }
        ctx_.engine->stats.buildProgress.fetch_add(1);
    }

    bool Abandoned() const { return ctx_.app->busyTask.abandoned.load(); }

    void Work() {
        for (;;) {
            Build* b = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                work_.wait(lock, [&] { return next_ < builds_.size() || closing_ || stopped_; });
                if (stopped_ || next_ >= builds_.size()) return;
                if (Abandoned()) {
                    stopped_ = true;
                    settled_.notify_all();
                    return;
                }
                b = &builds_[next_++];
            }
            BuildOne(*b);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                finished_ += 1;
            }
            settled_.notify_all();
        }
    }

    // The caller builds what is left, beside the threads.
    void RunLeft() {
        for (;;) {
            Build* b = nullptr;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (next_ >= builds_.size() || stopped_ || Abandoned()) return;
                b = &builds_[next_++];
            }
            BuildOne(*b);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                finished_ += 1;
            }
            settled_.notify_all();
        }
    }

    const DocumentContext& ctx_;
    const std::vector<float> gains_;
    std::mutex mutex_;
    std::condition_variable work_, settled_;
    std::deque<Build> builds_;  // elements stay where they are while others are added
    size_t next_ = 0;
    size_t finished_ = 0;
    bool closing_ = false;
    bool stopped_ = false;
    bool fallback_ = false;
    std::vector<std::thread> threads_;
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
    engine.stats.buildProgress.store(0);
    LiveVoices live(ctx);
    // A build resolves its layer's file before anything else; the render's
    // used sounds see that path (the builds themselves work on copies).
    for (size_t k = 0; k < project.results.size(); ++k) {
        ResolveLayerFile(project.results[k]);
        live.Add(int(k), project.results[k], 0);
    }

    std::vector<int> events;
    for (int i = 0; i < n; ++i) {
        const Event& e = project.events[size_t(i)];
        if (!e.locked && !OutsideRange(e, rangeOn, t0, t1)) events.push_back(i);
    }
    app.renderEventsTotal.store(int32_t(events.size()));
    app.renderEventsDone.store(0);

    int32_t done = 0;
    FullRenderHooks hooks;
    WorkPace* pace = ctx.observer ? ctx.observer->renderPace : nullptr;
    hooks.stop = [&app, pace] {
        return app.busyTask.cancelRequested.load() || !WaitForWorkStep(pace, &app.busyTask.cancelRequested);
    };
    if (ctx.observer && ctx.observer->renderSeeds) hooks.seeds = ctx.observer->renderSeeds;
    hooks.eventDone = [&](int i, const std::vector<RenderedLayer>& layers) {
        app.renderEventsDone.store(++done);
        // Only this event's layers are new to playback: the Clip and Bed
        // layers the passes rebuild get their voices at the end.
        for (const RenderedLayer& l : layers) {
            ResolveLayerFile(*l.layer);
            live.Add(l.index, *l.layer, done);
        }
        if (ctx.observer && ctx.observer->eventRendered) {
            live.WaitForQueued();
            ctx.observer->eventRendered(i, done);
        }
    };
    RenderEventsInTurn(project, *ctx.library, events, hooks);

    RunPostPasses(ctx);
    CountUsedTracks(project.groups, project.results);
    live.Finish();
    live.TakeWriteBacks(project, done);
    // The designer's cancel stops the events, not the voices of what was
    // rendered; a quit's cancel stops them too.
    ClearStepCancel(app.busyTask);
    // The live voices are this render's own, made at the project's rate from
    // the layers as their passes left them: the rebuild keeps every one whose
    // layer would still build the same samples, and builds only the others
    // (the Clips and Beds, the layers the post passes re-equalised or cut).
    engine.cacheReady.store(1);
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
