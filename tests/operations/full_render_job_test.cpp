// The Render command's full render against the full render as the program
// made it before (a whole pass per event, each event's voices built as soon
// as its pass ended, every voice built again at the end): on a generated
// project of 504 events with its sounds on disk, the same layers field by
// field and the same voices sample by sample; and a render stopped after k
// events by the test script's pacing keeps those k events, passes and tracks
// done over them and every voice built.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <unordered_set>

#include "document/busy_task.h"
#include "document/event.h"
#include "document/project.h"
#include "library/file_caches.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/render_job.h"
#include "operations/render_job_rig.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "operations/work_pace.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"
#include "playback/voice_settings.h"
#include "render/alloy_morph.h"
#include "render/post_passes.h"
#include "render/track_assignment.h"
#include "support/large_project.h"
#include "support/reference_render.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace {

RenderSeeds SeedsOf(int eventIndex) { return FixedRenderSeeds(77u + uint32_t(eventIndex) * 13u, 991u); }

// The job rig over a generated project and its library, the playhead at 3 s.
struct Rig : JobRig {
    explicit Rig(const LargeProject& large) : JobRig(0) {
        *project = large.project;
        library->libraries.assign(1, large.library.index);
        observer.renderSeeds = SeedsOf;
    }
    DocumentContext Context() {
        DocumentContext ctx = JobRig::Context();
        ctx.currentTime = 3.0f;
        return ctx;
    }
};

// The full render as it was: the results that stay, their voices, then for
// each event a whole pass and its layers' voices at once, the post passes
// with the earlier track assignment, and every voice built again.
void ReferenceRenderAllEvents(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    AppState& app = *ctx.app;
    const int n = int(project.events.size());
    ClearAmplitudeEnvelopeCache();
    ClearLevelCurveCache();
    ClearAlloyCache();
    std::vector<RenderResult> kept;
    for (RenderResult& r : project.results)
        if (r.eventIdx >= 0 && r.eventIdx < n && project.events[size_t(r.eventIdx)].locked) kept.push_back(std::move(r));
    project.results = std::move(kept);
    LoadClipPeaks(project);
    CopyLoudnessTargets(project, engine);
    ResetEngineVoices(engine, ctx.sampleRate, n * 8);
    const std::vector<float> gains = EventGainTable(project);
    std::unordered_set<int32_t> voiced;
    int32_t built = 0;
    auto buildVoices = [&](auto wanted) {
        for (size_t j = 0; j < project.results.size(); ++j) {
            RenderResult& r = project.results[j];
            if (!wanted(r) || !voiced.insert(r.id).second) continue;
            BuildPlaybackVoice(engine, r, int(j), ctx.sampleRate, gains.data(), n, project.events.data(),
                               project.scaleType, project.scaleRoot, false);
            engine.stats.buildProgress.store(++built);
        }
    };
    buildVoices([](const RenderResult&) { return true; });
    int done = 0;
    for (int i = 0; i < n; ++i) {
        if (app.busyTask.cancelRequested.load()) break;
        if (project.events[size_t(i)].locked) continue;
        ReferenceRenderPass(project, *ctx.library, i, SeedsOf(i));
        app.renderEventsDone.store(++done);
        buildVoices([i](const RenderResult& r) { return r.eventIdx == i; });
        if (ctx.observer->eventRendered) ctx.observer->eventRendered(i, done);
    }
    if (ctx.protectSilence) ProtectSilencePass(project);
    DeconflictPass(project);
    DensityPass(project);
    if (ctx.destructiveEQ) DestructiveEqPass(project);
    ReferenceAssignTracks(project);
    CountUsedTracks(project.groups, project.results);
    ClearStepCancel(app.busyTask);
    RebuildCache(ctx, false);
    SeekPlayback(engine, ctx.currentTime);
}

RenderRequest FullRender() {
    RenderRequest request;
    request.kind = 1;
    request.all = 1;
    return request;
}

LargeProject Generated(const std::string& folder) {
    LargeProjectSpec spec{.eventCount = 504, .seconds = 504, .soundCount = 16, .soundSeconds = 0.3f, .seed = 4};
    return MakeLargeProject(spec, folder);
}

void ExpectSameResults(const Project& got, const Project& want) {
    ASSERT_EQ(got.results.size(), want.results.size());
    for (size_t k = 0; k < got.results.size(); ++k) {
        RenderResult b = want.results[k];
        b.id = got.results[k].id;
        ASSERT_TRUE(got.results[k] == b) << "result " << k << " of event " << b.eventIdx << " (" << b.name
                                         << ") differs";
    }
    for (int g = 0; g < 3; ++g) EXPECT_EQ(got.groups[g].usedTracks, want.groups[g].usedTracks) << g;
    EXPECT_EQ(got.fillPickCounter, want.fillPickCounter);
}

// Voices in result order, one per result that sounds, with the same samples
// and the same place in the mix.
void ExpectSameVoices(const AudioEngine& got, const AudioEngine& want) {
    ASSERT_EQ(got.voices.size(), want.voices.size());
    for (size_t v = 0; v < got.voices.size(); ++v) {
        const PlaybackVoice& a = got.voices[v];
        const PlaybackVoice& b = want.voices[v];
        ASSERT_EQ(a.resultIndex, b.resultIndex) << v;
        EXPECT_EQ(a.sampleKey, b.sampleKey) << v;
        EXPECT_EQ(a.sampleCount, b.sampleCount) << v;
        EXPECT_TRUE(a.left == b.left && a.right == b.right) << "samples of voice " << v << " differ";
        EXPECT_EQ(a.startTime, b.startTime) << v;
        EXPECT_EQ(a.gain.load(), b.gain.load()) << v;
        EXPECT_EQ(a.pan, b.pan) << v;
        EXPECT_EQ(a.muted.load(), b.muted.load()) << v;
        if (::testing::Test::HasFailure()) return;
    }
}

// The sounding layers of the events of a shape.
int VoicesOfShape(const Project& project, int32_t shape) {
    int count = 0;
    for (const RenderResult& r : project.results)
        count += project.events[size_t(r.eventIdx)].shape == shape && ResultGetsVoice(r) ? 1 : 0;
    return count;
}

// The final rebuild builds the voices the live build had none of, or whose
// layers changed since: every Clip's (each pass makes its layer anew), at
// most the Beds' besides, and nothing of the other events here (the post
// passes leave their samples alone).
void ExpectOnlyClipsAndBedsRebuilt(const Project& project, int rebuilt) {
    const int clips = VoicesOfShape(project, kShapeClip);
    EXPECT_GT(clips, 0);
    EXPECT_GE(rebuilt, clips);
    EXPECT_LE(rebuilt, clips + VoicesOfShape(project, kShapeBed));
}

}  // namespace

TEST(FullRenderJob, RendersTheLayersAndVoicesOfAPassPerEvent) {
    TempDir dir;
    const LargeProject large = Generated(dir.File("Library"));
    ASSERT_GE(large.project.events.size(), 500u);
    Rig before(large), after(large);
    int fills = 0;
    for (const Event& e : large.project.events) fills += e.shape == kShapeFill ? 1 : 0;
    ASSERT_GT(fills, 0);

    ReferenceRenderAllEvents(before.Context());
    // The final rebuild's builds (the live voices are built elsewhere).
    std::atomic<int> rebuilt{0};
    after.observer.voiceBuilt = [&rebuilt] { rebuilt.fetch_add(1); };
    RunRenderJob(after.Context(), FullRender());

    ExpectSameResults(*after.project, *before.project);
    ExpectSameVoices(*after.engine, *before.engine);
    ExpectOnlyClipsAndBedsRebuilt(*after.project, rebuilt.load());
    EXPECT_LT(rebuilt.load(), int(after.project->results.size()) / 4);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(after.Context()));
    // The fills of the rendered events kept the plans their live voices made.
    int planned = 0;
    for (const RenderResult& r : after.project->results) planned += r.procMode == 1 && !r.fillChunks.empty() ? 1 : 0;
    EXPECT_GT(planned, 0);
    EXPECT_EQ(after.app->renderEventsDone.load(), after.app->renderEventsTotal.load());
}

TEST(FullRenderJob, APacedRenderStoppedAfterSomeEventsKeepsThemFinished) {
    TempDir dir;
    const LargeProject large = Generated(dir.File("Library"));
    const int k = 23;
    Rig before(large), after(large);
    // The earlier render, stopped by its cancel after k events.
    before.observer.eventRendered = [&](int, int done) {
        if (done == k) before.app->busyTask.cancelRequested = true;
    };
    ReferenceRenderAllEvents(before.Context());

    std::vector<PostPass> passes;
    after.observer.postPass = [&](PostPass p) { passes.push_back(p); };
    std::atomic<int> rebuilt{0};
    after.observer.voiceBuilt = [&rebuilt] { rebuilt.fetch_add(1); };
    WorkPace pace;
    after.observer.renderPace = &pace;
    SetWorkPaced(pace, true);
    std::thread job([&] { RunRenderJob(after.Context(), FullRender()); });
    for (int let = 1; let <= k; ++let) {
        LetWorkStep(pace);
        ASSERT_TRUE(WaitUntil([&] { return after.app->renderEventsDone.load() >= let; }));
    }
    // The render waits for the next let; the cancel ends it there.
    after.app->busyTask.cancelRequested = true;
    job.join();

    EXPECT_EQ(after.app->renderEventsDone.load(), k);
    EXPECT_GT(after.app->renderEventsTotal.load(), k);
    ExpectSameResults(*after.project, *before.project);
    ExpectSameVoices(*after.engine, *before.engine);
    // The passes ran, ending with the track assignment, and the tracks are the assignment's.
    ASSERT_FALSE(passes.empty());
    EXPECT_EQ(passes.back(), PostPass::AssignTracks);
    Project assigned = *after.project;
    AssignTracks(assigned);
    for (size_t r = 0; r < assigned.results.size(); ++r) {
        EXPECT_EQ(assigned.results[r].groupTrack, after.project->results[r].groupTrack) << r;
        EXPECT_EQ(assigned.results[r].muteReasons, after.project->results[r].muteReasons) << r;
    }
    // Every layer sounds through its voice; the cancel is cleared.
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(after.Context()));
    // The live voices of the k events were kept; the rebuild built the rest.
    ExpectOnlyClipsAndBedsRebuilt(*after.project, rebuilt.load());
    EXPECT_EQ(after.engine->stats.buildProgress.load(), rebuilt.load());
    EXPECT_FALSE(after.app->busyTask.cancelRequested.load());
    // Only the first k events that render (and the Clips and Beds every pass rebuilds) have layers.
    std::vector<int> rendered;
    for (size_t e = 0; e < after.project->events.size(); ++e) {
        const Event& ev = after.project->events[e];
        if (ev.shape == kShapeClip || ev.shape == kShapeBed) continue;
        bool has = false;
        for (const RenderResult& r : after.project->results) has = has || r.eventIdx == int32_t(e);
        if (has) rendered.push_back(int(e));
    }
    ASSERT_FALSE(rendered.empty());
    EXPECT_LT(rendered.back(), k);
}
