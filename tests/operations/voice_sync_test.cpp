// Voice sync after undo and redo, the full cache rebuild and its busy task,
// and the small jobs that rebuild one event's voices.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "document/text_util.h"
#include "library/sound_probe.h"
#include "operations/bed_watch.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/engine_voices.h"
#include "playback/voice_time_index.h"
#include "render/clip_bed_events.h"
#include "render/clip_processing.h"
#include "render/track_assignment.h"
#include "render_job_rig.h"
#include "support/audio_fixtures.h"
#include "support/large_project.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr float kMark = 0.125f;  // a loudness gain no build gives a silent voice

// `events` events, one silent placeholder layer each, every voice built.
void BuildOneLayerEach(JobRig& rig, int events) {
    for (int e = 0; e < events; ++e) {
        AddEvent(*rig.project, 1.0f + 0.5f * float(e), kShapeSpot, 0.5f);
        RenderResult r;
        r.placeholder = true;
        r.eventIdx = e;
        r.startTime = 1.0f + 0.5f * float(e);
        r.duration = 0.4f;
        r.group = 1;
        rig.project->results.push_back(r);
    }
    rig.project->rendered = true;
    AssignTracks(*rig.project);
    RebuildCache(rig.Context(), false);
    for (PlaybackVoice& v : rig.engine->voices) v.normGain = kMark;
}

int RebuiltVoices(const AudioEngine& engine) {
    int rebuilt = 0;
    for (const PlaybackVoice& v : engine.voices) rebuilt += v.normGain != kMark ? 1 : 0;
    return rebuilt;
}

// Drops the voices of the first `count` events, as if undo had brought back
// results whose voices were removed with them.
void DropVoicesOfEvents(JobRig& rig, int count) {
    std::vector<uint8_t> drop(rig.engine->voices.size(), 0);
    for (size_t v = 0; v < drop.size(); ++v) drop[v] = rig.engine->voices[v].eventIndex < count;
    RemoveEngineVoices(*rig.engine, drop);
}

}  // namespace

// Both roads, the sync after an undo and the whole rebuild (which, the set
// playing, takes its voices in at once, each heard voice's new settings in
// the switch's hold, the others' before it): every layer keeps its voice,
// the same record, which takes its result's settings and the level a whole
// pass gives it.
TEST(VoiceSync, KeptVoicesTakeTheirResultsSettings) {
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "rebuild" : "sync");
        JobRig rig;
        BuildOneLayerEach(rig, 6);
        std::map<uint32_t, const PlaybackVoice*> records;
        for (const PlaybackVoice& v : rig.engine->voices) records[v.resultId] = &v;
        // Half of them far from the playhead: their samples released.
        for (size_t v = 0; v < 6; v += 2) {
            std::vector<float> left, right;
            std::lock_guard<EngineMutex> lock(rig.engine->mutex);
            EvictVoiceSamples(rig.engine->voices[v], left, right);
        }
        struct Case {
            float weight;
            int track;
            float gain;
            float pan;
        };
        // Gains by weight (layerGain 0.5 x userVolume 2 = 1); pans by weight and track.
        const Case cases[6] = {{0.7f, 2, 1.0f, 0.08f},  {0.775f, 2, 0.85f, 0.11f}, {0.85f, 2, 0.7f, 0.14f},
                               {0.5f, 0, 1.0f, -0.3f},  {1.0f, 4, 0.7f, 0.5f},    {1.0f, 9, 0.7f, 0.5f}};
        for (int i = 0; i < 6; ++i) {
            RenderResult& r = rig.project->results[size_t(i)];
            r.weight = cases[i].weight;
            r.track = cases[i].track;
            r.layerGain = 0.5f;
            r.userVolume = 2.0f;
            r.startTime += 0.25f;
            r.deconOffset = 0.05f;
            r.fadeIn = 0.02f + 0.01f * float(i);
        }
        // A muted event mutes its voices although its layers are not muted.
        rig.project->events[3].muted = true;
        rig.project->events[4].gain = 0.5f;
        rig.project->events[4].reverbSend = 0.3f;

        if (whole)
            RebuildCache(rig.Context(), false);
        else
            ASSERT_TRUE(SyncVoicesWithResults(rig.Context()));
        EXPECT_EQ(RebuiltVoices(*rig.engine), 0);  // every layer still had its voice
        // The voices are built on several threads: each is found by its result.
        ASSERT_EQ(rig.engine->voices.size(), 6u);
        for (const PlaybackVoice& v : rig.engine->voices) {
            const int i = v.resultIndex;
            ASSERT_TRUE(i >= 0 && i < 6);
            EXPECT_EQ(records[v.resultId], &v) << i;
            EXPECT_NEAR(v.gain.load(), cases[i].gain, 1e-6) << i;
            EXPECT_NEAR(v.pan, cases[i].pan, 1e-6) << i;
            EXPECT_EQ(v.muted.load() != 0, i == 3) << i;
            if (i != 4) continue;
            EXPECT_EQ(v.eventGain.load(), 0.5f);
            EXPECT_EQ(v.reverbSend, 0.3f);
        }
        ExpectVoicesMatchResults(*rig.engine, *rig.project);
        EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
        // The mixer finds each voice where it moved.
        for (size_t v = 0; v < rig.engine->voices.size(); ++v) {
            const VoiceSpan span = VoiceSpanOf(rig.engine->voices[v], rig.engine->sampleRate.load());
            EXPECT_EQ(rig.engine->voiceSpans[v].start, span.start) << v;
            EXPECT_EQ(rig.engine->voiceSpans[v].end, span.end) << v;
        }
        std::vector<float> levels;
        for (const PlaybackVoice& v : rig.engine->voices) levels.insert(levels.end(), {v.gain.load(), v.levelScale});
        RecomputeVoiceLevels(rig.Context());
        for (size_t v = 0; v < rig.engine->voices.size(); ++v) {
            EXPECT_EQ(rig.engine->voices[v].gain.load(), levels[2 * v]) << v;
            EXPECT_EQ(rig.engine->voices[v].levelScale, levels[2 * v + 1]) << v;
        }
    }
}

// 40 events: max(40 / 4, 10) = 10 events may be rebuilt one by one; past
// that the sync goes through the full rebuild, which keeps every voice that
// still holds, so either way only the missing voices are built.
TEST(VoiceSync, BuildsOnlyTheMissingVoicesPerEventOrThroughTheFullRebuild) {
    struct Case {
        int missing;
        int rebuilt;
    };
    for (const Case& c : {Case{0, 0}, Case{3, 3}, Case{10, 10}, Case{11, 11}}) {
        JobRig rig;
        BuildOneLayerEach(rig, 40);
        DropVoicesOfEvents(rig, c.missing);
        rig.app->currentTime = 2.5f;
        ASSERT_TRUE(SyncVoicesWithResults(rig.Context()));
        EXPECT_EQ(rig.engine->voices.size(), 40u) << c.missing;
        EXPECT_EQ(RebuiltVoices(*rig.engine), c.rebuilt) << c.missing;
        EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context())) << c.missing;
        EXPECT_EQ(rig.engine->position.load(), 120000) << c.missing;
        EXPECT_EQ(rig.engine->cacheReady.load(), 1);
    }
}

TEST(VoiceSync, VoicesWhoseResultsChangedOrVanishedAreReplaced) {
    JobRig rig;
    BuildOneLayerEach(rig, 5);
    // Undo restored other band gains on event 1's layer (same id): its samples
    // are stale. Event 3's layer was replaced by another one.
    rig.project->results[1].hasEqGains = true;
    rig.project->results[1].eqGains = {0.5f, 1, 1, 1, 1};
    RenderResult replacement = rig.project->results[3];
    replacement.id = NextRenderResultId();
    rig.project->results[3] = replacement;
    ASSERT_TRUE(SyncVoicesWithResults(rig.Context()));
    EXPECT_EQ(RebuiltVoices(*rig.engine), 2);
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));

    // While a busy task owns the document nothing is touched.
    rig.app->busyTask.busy = true;
    rig.project->results.pop_back();
    EXPECT_FALSE(SyncVoicesWithResults(rig.Context()));
    EXPECT_EQ(rig.engine->voices.size(), 5u);
    EXPECT_TRUE(rig.app->deferredRebuild.load());
    rig.app->busyTask.busy = false;
}

TEST(VoiceSync, RebuildCacheBuildsEveryVoiceOrStopsOnCancel) {
    JobRig rig;
    BuildOneLayerEach(rig, 8);
    RenderResult empty;  // no file: no voice
    empty.eventIdx = 0;
    rig.project->results.push_back(empty);
    // Loudness normalisation turned off: every voice's loudness gain changes,
    // so every voice is built again.
    rig.project->groups[1].targetLUFS = -20;
    rig.project->normalizeLUFS = false;
    RebuildCache(rig.Context(), false);
    EXPECT_EQ(rig.engine->voices.size(), 8u);
    EXPECT_EQ(rig.engine->stats.buildProgress.load(), 8);
    EXPECT_EQ(RebuiltVoices(*rig.engine), 8);
    EXPECT_EQ(rig.engine->groupTargetLufs[1], -20.0f);
    EXPECT_EQ(rig.engine->normalizeLoudness, 0);
    EXPECT_EQ(rig.project->groups[1].usedTracks, 1);
    EXPECT_EQ(rig.engine->cacheReady.load(), 1);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));

    // Nothing changed since: nothing is built, every voice stays.
    for (PlaybackVoice& v : rig.engine->voices) v.normGain = kMark;
    RebuildCache(rig.Context(), false);
    EXPECT_EQ(rig.engine->stats.buildProgress.load(), 0);
    EXPECT_EQ(RebuiltVoices(*rig.engine), 0);

    // Back on, at another target, but cancelled before any build: the old
    // voices play on and a rebuild is left for later.
    rig.project->normalizeLUFS = true;
    rig.app->busyTask.cancelRequested = true;
    RebuildCache(rig.Context(), false);
    EXPECT_EQ(rig.engine->voices.size(), 8u);
    EXPECT_EQ(RebuiltVoices(*rig.engine), 0);
    EXPECT_TRUE(rig.app->deferredRebuild.load());
    EXPECT_EQ(rig.engine->cacheReady.load(), 1);
}

TEST(VoiceSync, RebuildCacheAsyncRunsAsTheBusyTask) {
    JobRig rig;
    BuildOneLayerEach(rig, 4);
    rig.project->normalizeLUFS = false;  // every voice's loudness changes
    rig.app->currentTime = 1.5f;
    rig.app->exportRunning = true;
    EXPECT_FALSE(RebuildCacheAsync(rig.Context(), "Updating audio...", false));
    EXPECT_FALSE(rig.app->busyTask.busy.load());
    rig.app->exportRunning = false;

    ASSERT_TRUE(RebuildCacheAsync(rig.Context(), "Updating audio...", false));
    EXPECT_EQ(BusyStatusText(rig.app->busyTask), "Updating audio...");
    EXPECT_FALSE(rig.app->busyTask.cancellable);
    EXPECT_EQ(rig.app->busyTask.progress.load(), 0.0f) << "the bar counts the voices built";
    // Counted before the worker runs: the earlier build's count is gone.
    EXPECT_EQ(rig.engine->stats.buildProgress.load(), 0);
    EXPECT_EQ(rig.engine->stats.buildTotal.load(), 4);
    EXPECT_FALSE(RebuildCacheAsync(rig.Context(), "Updating scale tuning...", false));
    rig.app->busyTask.snapshotRequested = false;
    BusyPump pump = BusyPump::Waiting;
    for (int i = 0; i < 20000 && pump != BusyPump::Finished; ++i) {
        pump = PumpBusyTask(rig.app->busyTask);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(pump, BusyPump::Finished);
    EXPECT_EQ(RebuiltVoices(*rig.engine), 4);
    EXPECT_EQ(rig.engine->position.load(), 72000);
}

TEST(VoiceSync, VariantAndRefreshJobsRebuildOneEventAndResumePlayback) {
    JobRig rig;
    BuildOneLayerEach(rig, 4);
    rig.app->currentTime = 0.5f;
    rig.engine->position = 999;
    rig.project->results[2].duration = 0.3f;  // another variant of event 2's layer
    RerenderAfterVariantChange(rig.Context(), 2);
    EXPECT_EQ(RebuiltVoices(*rig.engine), 1);
    // The new voice stands where its result does.
    EXPECT_NE(rig.engine->voices[2].normGain, kMark);
    EXPECT_EQ(rig.engine->voices[2].eventIndex, 2);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_EQ(rig.engine->position.load(), 24000);

    rig.app->busyTask.done = false;
    DrawUIPlaybackRefreshJob(rig.Context(), 0);
    EXPECT_EQ(RebuiltVoices(*rig.engine), 2);
    EXPECT_TRUE(rig.app->busyTask.done.load());
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
}

// Opening a rendered project builds its voices on every core, nearest the
// playhead first; a cancel (the window closed, New, Open) stops the build
// within a voice and leaves a rebuild for the next free frame.
TEST(VoiceSync, TheRebuildBuildsEachVoiceOnceInPlayheadOrderAndStopsWhenCancelled) {
    std::vector<RenderResult> spans(5);
    const float starts[5] = {0, 10, 4, 6, 20};
    for (size_t k = 0; k < spans.size(); ++k) {
        spans[k].startTime = starts[k];
        spans[k].duration = 1;
    }
    spans[4].duration = std::nanf("");
    // 5.5 s: inside none; 6..7 is 0.5 s away, 4..5 also 0.5 s (index order), 0..1 4.5 s, 10..11 4.5 s.
    EXPECT_EQ(ResultsNearestFirst(spans, 5.5), (std::vector<size_t>{2, 3, 0, 1, 4}));
    EXPECT_EQ(ResultsNearestFirst(spans, 10.5).front(), 1u);

    JobRig rig;
    const int count = 64;
    for (int e = 0; e < count; ++e) {
        AddEvent(*rig.project, 0.5f * float(e), kShapeSpot, 0.5f);
        RenderResult r;
        r.id = 1000 + e;
        r.placeholder = true;
        r.eventIdx = e;
        r.startTime = 0.5f * float(e);
        r.duration = 0.4f;
        r.group = e % 3;
        rig.project->results.push_back(r);
    }
    rig.project->rendered = true;
    AssignTracks(*rig.project);
    std::atomic<float> bar{0.0f};
    rig.app->currentTime = 20;
    RebuildCache(rig.Context(), false, &bar);
    EXPECT_EQ(rig.engine->voices.size(), size_t(count));
    EXPECT_EQ(rig.engine->stats.buildProgress.load(), count);
    EXPECT_EQ(bar.load(), 1.0f);
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_FALSE(rig.app->deferredRebuild.load());

    // From nothing (an open), cancelled: no voice is built.
    ResetEngineVoices(*rig.engine, 48000, 0);
    rig.app->busyTask.cancelRequested.store(true);
    RebuildCache(rig.Context(), false, &bar);
    EXPECT_TRUE(rig.engine->voices.empty());
    EXPECT_EQ(rig.engine->stats.buildProgress.load(), 0);
    EXPECT_TRUE(rig.app->deferredRebuild.load()) << "the voices are built again once the document is free";
}

namespace {

// A rendered project as a generator that predates consistent Beds left it: a
// Bed whose layers are other files than its pinned one (one of them loud),
// a Clip, and Spots, all of real files, every voice built.
struct ProgramChangeRig : JobRig {
    TempDir dir;
    int bed = -1, clip = -1;

    std::string Sound(const std::string& name, double seconds, float amplitude, int channels = 1) {
        AudioSpec spec;
        spec.kind = SignalKind::Noise;
        spec.seconds = seconds;
        spec.channels = channels;
        spec.amplitude = amplitude;
        spec.seed = unsigned(name.size());
        EXPECT_TRUE(WriteTestAudio(dir.File(name), spec));
        return dir.File(name);
    }

    ProgramChangeRig() {
        const std::string rain = Sound("rain.wav", 3.0, 0.2f, 2), loud = Sound("loud.wav", 2.0, 0.9f);
        const std::string door = Sound("door.wav", 1.0, 0.5f), hit = Sound("hit.wav", 0.5, 0.6f);
        bed = AddEvent(*project, 0.0f, kShapeBed, 0.5f);
        project->events[size_t(bed)].duration = 8.0f;
        project->events[size_t(bed)].pinnedFiles = {rain};
        project->events[size_t(bed)].bedLayerLoop = {1};
        EXPECT_TRUE(RebuildBedEvent(*project, bed));
        // A layer of a file the Bed does not pin: the next Bed rebuild erases it.
        RenderResult stale = project->results.front();
        stale.id = NextRenderResultId();
        stale.filepath = loud;
        stale.name = "loud.wav";
        stale.group = 1;
        project->results.push_back(stale);
        clip = AddEvent(*project, 2.0f, kShapeClip, 0.5f);
        CopyTextField(project->events[size_t(clip)].pinnedFile, door);
        EXPECT_TRUE(RebuildClipEvent(*project, clip));
        for (int i = 0; i < 4; ++i) {
            const int e = AddEvent(*project, 1.0f + 1.5f * float(i), kShapeSpot, 0.5f);
            RenderResult r;
            r.eventIdx = e;
            r.filepath = hit;
            r.name = "hit.wav";
            r.startTime = 1.0f + 1.5f * float(i);
            r.duration = r.sourceDuration = 0.5f;
            r.group = 2;
            r.weight = 0.3f + 0.2f * float(i);
            project->results.push_back(r);
        }
        AssignTracks(*project);
        project->rendered = true;
        RebuildCache(Context(), false);
    }

    std::vector<float> Gains() const {
        std::vector<float> gains;
        for (const PlaybackVoice& v : engine->voices) gains.push_back(v.gain.load());
        return gains;
    }
};

}  // namespace

// The probe's weights arrive after the voices were built: the Bed rebuilds to
// its layer list, the weights move gains and pans, and the sync leaves the
// voices one to one with the layers, with the settings and levels a full
// rebuild of the same document gives, the playhead where it was.
TEST(VoiceSync, AfterProbedWeightsTheVoicesAreWhatAFullRebuildGives) {
    ProgramChangeRig rig;
    ASSERT_EQ(rig.engine->voices.size(), rig.project->results.size());
    rig.project->events[size_t(rig.bed)].bedLayerWeight = {0.9f};
    rig.project->events[size_t(rig.clip)].clipWeight = 0.95f;
    ASSERT_TRUE(ApplyProbedWeights(*rig.project));
    EXPECT_EQ(rig.engine->voices.size(), rig.project->results.size() + 1) << "the erased layer's voice is still there";
    EXPECT_FALSE(CheckPlaybackCacheIntegrity(rig.Context()));
    rig.app->deferredRebuild = false;

    rig.engine->position = 4321;
    ASSERT_TRUE(SyncVoicesWithResults(rig.Context(), false));
    EXPECT_EQ(rig.engine->position.load(), 4321);
    ASSERT_EQ(rig.engine->voices.size(), rig.project->results.size());
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    EXPECT_TRUE(VoicesInResultOrder(*rig.engine));
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_FALSE(rig.app->deferredRebuild.load());
    for (const PlaybackVoice& v : rig.engine->voices) EXPECT_EQ(v.group == 1 && v.eventIndex == rig.bed, false);

    const std::vector<float> synced = rig.Gains();
    RebuildCache(rig.Context(), false);
    const std::vector<float> rebuilt = rig.Gains();
    ASSERT_EQ(synced.size(), rebuilt.size());
    for (size_t v = 0; v < synced.size(); ++v) EXPECT_FLOAT_EQ(synced[v], rebuilt[v]) << "voice " << v;
}

// A looping Bed layer keeps no chunk plan, and its audio owes nothing to its
// seed (the group track): when another change moves that track, its voice
// still holds (the integrity check says so) and the sync only moves it. A
// fill whose excerpt was drawn from the seed is stale on another track and
// built again; a fill replaying a stored plan sounds the same on any track.
TEST(VoiceSync, AFillWithoutAPlanFollowsItsSeedOnlyWhereItDrewFromIt) {
    ProgramChangeRig rig;
    ASSERT_TRUE(ApplyProbedWeights(*rig.project));
    ASSERT_TRUE(SyncVoicesWithResults(rig.Context(), false));
    auto bedLayer = [&]() -> RenderResult& {
        for (RenderResult& r : rig.project->results)
            if (r.eventIdx == rig.bed) return r;
        return rig.project->results.front();
    };
    ASSERT_EQ(bedLayer().eventIdx, rig.bed);
    ASSERT_TRUE(bedLayer().fillChunks.empty());
    auto moveAndSync = [&] {
        for (PlaybackVoice& v : rig.engine->voices) v.normGain = kMark;
        bedLayer().groupTrack += 1;
        const bool held = CheckPlaybackCacheIntegrity(rig.Context());
        rig.app->deferredRebuild = false;
        EXPECT_TRUE(SyncVoicesWithResults(rig.Context(), false));
        EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
        return held;
    };
    // 3 s of rain looped into 8 s.
    EXPECT_TRUE(moveAndSync()) << "a loop sounds the same on any track";
    EXPECT_EQ(RebuiltVoices(*rig.engine), 0);

    // One second of it: an excerpt, placed by the seed.
    rig.project->events[size_t(rig.bed)].duration = 1.0f;
    ASSERT_TRUE(RebuildBedEvent(*rig.project, rig.bed));
    ASSERT_TRUE(SyncVoicesWithResults(rig.Context(), false));
    ASSERT_TRUE(bedLayer().fillChunks.empty());
    EXPECT_FALSE(moveAndSync()) << "another track draws another excerpt";
    EXPECT_EQ(RebuiltVoices(*rig.engine), 1);

    RenderResult& fill = bedLayer();
    fill.fillChunks = {{0, 48000, 0}, {40000, 96000, 4800}, {0, 300000, 9600}};
    const uint64_t planned = VoiceSampleKey(fill);
    fill.groupTrack += 1;
    EXPECT_EQ(VoiceSampleKey(fill), planned) << "a stored plan sounds the same on any track";
    fill.fillChunks[1].x = 4000;
    EXPECT_NE(VoiceSampleKey(fill), planned);
}

// Many voices built on every core into a list with room for one: the threads
// append side by side, and growing the list (which copies it outside the
// lock) would race with the others' appends.
TEST(VoiceSync, AParallelBuildIntoAShortListLosesAndTearsNoVoice) {
    JobRig rig;
    BuildOneLayerEach(rig, 1);
    ASSERT_EQ(rig.engine->voices.capacity(), 1u);
    constexpr int kLayers = 300;
    for (int k = 1; k < kLayers; ++k) {
        RenderResult r = rig.project->results[0];
        r.id = NextRenderResultId();
        r.startTime = 1.0f + 0.01f * float(k);
        rig.project->results.push_back(r);
    }
    for (int round = 0; round < 4; ++round) {
        RerenderEvents(rig.Context(), {0});
        ASSERT_EQ(rig.engine->voices.size(), size_t(kLayers));
        ASSERT_EQ(rig.engine->voiceFadeIn.size(), size_t(kLayers));
        for (int k = 0; k < kLayers; ++k) ASSERT_EQ(rig.engine->voices[size_t(k)].resultIndex, k);
        // Back to a list with room for one voice before the next round.
        ResetEngineVoices(*rig.engine, rig.engine->sampleRate.load(), 1);
    }
}

// A rebuild while the transport plays: the audio thread mixes throughout,
// never finds the voice set short (each voice stays until its replacement
// is in), and the playhead stays where the audio thread has it (no stretch
// is heard twice, the reverb is not cut).
TEST(VoiceSync, ARebuildWhilePlayingKeepsEveryVoiceUntilItsReplacementIsIn) {
    JobRig rig;
    BuildOneLayerEach(rig, 40);
    AudioEngine& engine = *rig.engine;
    engine.playing = 1;
    rig.app->currentTime = 0.5f;  // read when the job was queued; playback has moved on since
    engine.position = 5 * 48000;
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        std::vector<float> l(512), r(512);
        while (!stop.load()) {
            MixAudioBlock(engine, l.data(), r.data(), 512);
            blocks.fetch_add(1);
        }
    });
    // Every install leaves the full set: the new voice took its old one's place.
    std::atomic<int> shortSets{0};
    rig.observer.voiceBuilt = [&] {
        if (engine.stats.voiceCount.load() < 40) shortSets.fetch_add(1);
    };
    rig.project->normalizeLUFS = false;  // every voice's loudness changes: all are built again
    const int64_t before = engine.position.load();
    engine.reverbClearRequested = 0;
    RebuildCacheAsyncJob(rig.Context(), false);
    while (blocks.load() < 20) std::this_thread::yield();
    stop = true;
    audio.join();
    EXPECT_EQ(RebuiltVoices(engine), 40);
    EXPECT_EQ(shortSets.load(), 0);
    EXPECT_EQ(engine.stats.emptyBlocks.load(), 0u) << "the mixer found no voice while playing";
    EXPECT_GE(engine.position.load(), before) << "the rebuild moved the playhead back";
    EXPECT_EQ(engine.reverbClearRequested.load(), 0) << "the reverb was cut without a jump";
    EXPECT_EQ(engine.cacheReady.load(), 1);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    rig.app->busyTask.done = false;
}

// A rebuild keeps every voice whose result would build the very samples it
// holds (the same record, not a copy): after a change of one layer's sound
// only that layer's voice is new, in its old place.
TEST(VoiceSync, ARebuildKeepsTheVoicesWhoseSamplesStillHold) {
    JobRig rig;
    BuildOneLayerEach(rig, 12);
    std::vector<const PlaybackVoice*> records;
    for (const PlaybackVoice& v : rig.engine->voices) records.push_back(&v);
    rig.project->results[5].duration = 0.3f;      // its samples change
    rig.project->results[7].startTime += 0.125f;  // only its place does
    RebuildCache(rig.Context(), false);
    ASSERT_EQ(rig.engine->voices.size(), 12u);
    for (size_t v = 0; v < 12; ++v) {
        EXPECT_EQ(&rig.engine->voices[v] == records[v], v != 5) << "voice " << v;
        EXPECT_EQ(rig.engine->voices[v].normGain != kMark, v == 5) << "voice " << v;
    }
    EXPECT_FLOAT_EQ(rig.engine->voices[7].startTime, rig.project->results[7].startTime);
    EXPECT_EQ(rig.engine->stats.buildProgress.load(), 1);
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
}

// Tuning to a scale happens when a voice is built; with the scale "Off" the
// build searches no pitch. The first change of scale searches the voices'
// pitches (their samples made again) and builds none that stay in tune; a
// later change builds again only the voices whose pitch it changes. Voices
// kept as stored (an open) at a scale need no search until the scale changes.
TEST(VoiceSync, AScaleChangeBuildsOnlyTheVoicesWhosePitchItChanges) {
    JobRig rig;
    TempDir dir;
    const double hz[2] = {440.0, 523.25};  // A4 and C5
    for (int k = 0; k < 2; ++k) {
        AudioSpec spec;
        spec.kind = SignalKind::Sine;
        spec.frequency = hz[k];
        spec.seconds = 0.5;
        spec.amplitude = 0.5f;
        const std::string path = dir.File("tone" + std::to_string(k) + ".wav");
        ASSERT_TRUE(WriteTestAudio(path, spec));
        const int e = AddEvent(*rig.project, 1.0f + float(k), kShapeSpot, 0.5f);
        RenderResult r;
        r.eventIdx = e;
        r.filepath = path;
        r.startTime = 1.0f + float(k);
        r.duration = r.sourceDuration = 0.5f;
        rig.project->results.push_back(r);
    }
    rig.project->rendered = true;
    RebuildCache(rig.Context(), false);  // the scale "Off"
    ASSERT_EQ(rig.engine->voices.size(), 2u);
    for (const PlaybackVoice& v : rig.engine->voices) {
        EXPECT_EQ(v.tuneState, 0) << "off, no pitch is searched";
        EXPECT_EQ(v.pitchShift, 0.0f);
    }
    EXPECT_EQ(rig.project->results[0].detectedPitchHz, 0.0f) << "off, the build writes no pitch into the layer";
    const PlaybackVoice* a = &rig.engine->voices[0];
    const PlaybackVoice* c = &rig.engine->voices[1];

    rig.project->scaleType = 1;  // Major
    rig.project->scaleRoot = 0;  // C: both notes are in it
    RebuildCache(rig.Context(), false);
    EXPECT_EQ(&rig.engine->voices[0], a) << "in tune: no voice is built again";
    EXPECT_EQ(&rig.engine->voices[1], c);
    EXPECT_EQ(rig.engine->stats.buildProgress.load(), 0);
    for (const PlaybackVoice& v : rig.engine->voices) EXPECT_EQ(v.tuneState, 2) << "the pitch was searched";
    for (const RenderResult& r : rig.project->results) {
        EXPECT_NEAR(r.detectedPitchHz, r.eventIdx == 0 ? 440.0 : 523.25, 3.0) << "the pitch the search found";
        EXPECT_NEAR(r.scaleCorrection, 0.0f, 0.05f);
    }

    rig.project->scaleRoot = 2;  // D major: A is in it, C is not
    RebuildCache(rig.Context(), false);
    EXPECT_EQ(&rig.engine->voices[0], a) << "the A's pitch did not change: its voice stays";
    EXPECT_NE(&rig.engine->voices[1], c);
    EXPECT_GT(std::fabs(rig.engine->voices[1].pitchShift), 0.9f) << "the C moved to a note of D major";
    EXPECT_EQ(rig.engine->stats.buildProgress.load(), 1);
    EXPECT_FLOAT_EQ(rig.project->results[1].pitchShift, rig.engine->voices[1].pitchShift);
    EXPECT_NEAR(rig.project->results[0].pitchShift, rig.engine->voices[0].pitchShift, 0.01f)
        << "the cents alone: the samples are the same";
    ExpectVoicesMatchResults(*rig.engine, *rig.project);

    // As an open builds them: the stored shifts, no search. A rebuild at the
    // same scale keeps both; back to C major, the C is searched and built.
    const std::vector<float> stored = {rig.project->results[0].pitchShift, rig.project->results[1].pitchShift};
    ResetEngineVoices(*rig.engine, rig.Context().sampleRate, 0);
    RebuildCache(rig.Context(), true);
    a = &rig.engine->voices[0];
    c = &rig.engine->voices[1];
    RebuildCache(rig.Context(), false);
    EXPECT_EQ(&rig.engine->voices[0], a);
    EXPECT_EQ(&rig.engine->voices[1], c);
    EXPECT_EQ(rig.engine->voices[1].tuneState, 0) << "made for the scale of now: nothing to search";
    EXPECT_EQ(rig.engine->voices[1].pitchShift, stored[1]);
    rig.project->scaleRoot = 0;
    RebuildCache(rig.Context(), false);
    EXPECT_EQ(&rig.engine->voices[0], a);
    EXPECT_NE(&rig.engine->voices[1], c);
    EXPECT_NEAR(rig.engine->voices[1].pitchShift, 0.0f, 0.05f) << "the C is in C major again";
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
}

namespace {

// A generated project of about `layers` layers (tonal sounds and noises,
// Beds of looping layers), opened: the first change of scale (from "Off") and a
// later one build again exactly the voices whose tuning changes their
// samples, and leave the layers and the voices sounding as a full rebuild at
// the new scale does; a Bed's length builds exactly that Bed's voices, and
// the layers its track assignment moves to other tracks keep theirs, moved.
void ExpectScaleAndBedChangesBuildOnlyWhatTheyChange(int layers) {
    TempDir dir;
    JobRig rig;
    const int events = layers / 8;
    LargeProjectSpec spec{.eventCount = events, .seconds = 0.6f * float(events), .layers = LargeProjectLayers::Made,
                          .layersPerEvent = 10, .soundCount = 24, .soundSeconds = 0.5f};
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    *rig.project = std::move(large.project);
    rig.library->libraries.assign(1, large.library.index);
    FixProbedWeights(*rig.project);
    // The processed-clip cache keys a region to the millisecond: two layers
    // of one file closer than that share whichever region was decoded first
    // (the threads race for it), and the pitch found in it. Whole
    // milliseconds give each layer the sound of its own region, in every build.
    for (RenderResult& r : rig.project->results) {
        const bool whole = r.duration == r.sourceDuration;
        r.sourceOffset = std::round(r.sourceOffset * 1000.0f) / 1000.0f;
        r.sourceDuration = std::round(r.sourceDuration * 1000.0f) / 1000.0f;
        if (whole) r.duration = r.sourceDuration;
    }
    rig.project->rendered = true;
    ASSERT_GE(rig.project->results.size(), size_t(layers) * 95 / 100);
    const DocumentContext ctx = rig.Context();
    RebuildBedsAndWeights(ctx);
    RebuildCache(ctx, true);  // as an open builds the voices: as stored
    std::atomic<int> built{0};
    rig.observer.voiceBuilt = [&] { ++built; };

    // Every layer's pitch shift as a change leaves it, by result.
    auto shifts = [&] {
        std::vector<float> s;
        for (const RenderResult& r : rig.project->results) s.push_back(r.pitchShift);
        return s;
    };
    // Layers whose samples a change alters: a shift changed, and one of the
    // two resamples (the cents alone leave the samples as they are).
    auto resampledOther = [](float a, float b) { return a != b && (PitchShiftResamples(a) || PitchShiftResamples(b)); };
    auto retuned = [&](const std::vector<float>& a, const std::vector<float>& b) {
        int n = 0;
        for (size_t k = 0; k < a.size(); ++k) n += resampledOther(a[k], b[k]) ? 1 : 0;
        return n;
    };
    // The first change, then the same voices built whole at that scale.
    const std::vector<float> off = shifts();
    rig.project->scaleType = 1;  // C major
    built = 0;
    RebuildCache(ctx, false);
    const std::vector<float> major = shifts();
    int pitched = 0;
    for (const PlaybackVoice& v : rig.engine->voices) pitched += v.tuneState == 2 ? 1 : 0;
    EXPECT_GT(pitched, layers / 100) << "tonal layers, searched";
    EXPECT_GT(retuned(off, major), 0);
    EXPECT_EQ(built.load(), retuned(off, major)) << "the first change builds the voices it retunes, and no other";
    std::vector<float> voiceShifts;
    for (const PlaybackVoice& v : rig.engine->voices) voiceShifts.push_back(v.pitchShift);
    ResetEngineVoices(*rig.engine, ctx.sampleRate, 0);
    RebuildCache(ctx, false);
    const std::vector<float> whole = shifts();
    ASSERT_EQ(rig.engine->voices.size(), voiceShifts.size());
    int differ = 0;
    for (size_t k = 0; k < whole.size(); ++k)
        differ += resampledOther(whole[k], major[k]) || resampledOther(rig.engine->voices[k].pitchShift, voiceShifts[k])
                      ? 1
                      : 0;
    EXPECT_EQ(differ, 0) << "layers or voices that sound unlike a full rebuild's";

    // A later change: D major.
    rig.project->scaleRoot = 2;
    built = 0;
    RebuildCache(ctx, false);
    EXPECT_GT(retuned(major, shifts()), 0);
    EXPECT_EQ(built.load(), retuned(major, shifts()));
    ExpectVoicesMatchResults(*rig.engine, *rig.project);

    // A Bed 0.25 s shorter, a minute in.
    int bed = -1;
    for (size_t e = 0; e < rig.project->events.size() && bed < 0; ++e)
        if (rig.project->events[e].shape == kShapeBed && rig.project->events[e].time > 60) bed = int(e);
    ASSERT_GE(bed, 0);
    std::map<int32_t, std::pair<const PlaybackVoice*, int32_t>> before;  // by result id: the voice, its track
    for (const PlaybackVoice& v : rig.engine->voices)
        before[int32_t(v.resultId)] = {&v, rig.project->results[size_t(v.resultIndex)].track};
    rig.project->events[size_t(bed)].duration -= 0.25f;
    built = 0;
    RebuildBedsAsyncJob(ctx);  // as the frame step's Bed job runs it
    int bedLayers = 0, rebuiltOthers = 0, moved = 0;
    for (const PlaybackVoice& v : rig.engine->voices) {
        const RenderResult& r = rig.project->results[size_t(v.resultIndex)];
        const auto& [voice, track] = before[r.id];
        if (r.eventIdx == bed) {
            ++bedLayers;
            EXPECT_NE(voice, &v) << "a layer of the Bed kept its old length";
        } else {
            rebuiltOthers += voice != &v ? 1 : 0;
            moved += r.track != track ? 1 : 0;
        }
    }
    EXPECT_GT(bedLayers, 0);
    EXPECT_GT(moved, 0) << "the track assignment moved no other layer: the case is not shown";
    EXPECT_EQ(built.load(), bedLayers) << "only the Bed's own voices are built again";
    EXPECT_EQ(rebuiltOthers, 0) << "of " << moved << " layers moved to other tracks";
    ExpectVoicesMatchResults(*rig.engine, *rig.project);
    // What the job read follows the Bed, not the project: its repack read
    // the layers from the Bed's start until every layer it moved, and the
    // Bed, had ended (each twice at most: the last packing replayed beside
    // the new one), and one checkpoint's stride; the voices it compared and
    // settled are the Bed's and those of the layers moved.
    const AppState::BedSyncCounts& counts = rig.app->bedSync;
    EXPECT_FALSE(counts.whole.load()) << "the Bed's change fell back to every track and voice";
    const Event& changed = rig.project->events[size_t(bed)];
    float reachEnd = changed.time + changed.duration + 1.0f;
    for (const PlaybackVoice& v : rig.engine->voices) {
        const RenderResult& r = rig.project->results[size_t(v.resultIndex)];
        if (r.track != before[r.id].second) reachEnd = std::max(reachEnd, r.startTime + r.duration);
    }
    int64_t inReach = 0;
    for (const RenderResult& r : rig.project->results)
        inReach += r.startTime >= changed.time - 1.0f && r.startTime <= reachEnd ? 1 : 0;
    EXPECT_GT(counts.layersPacked.load(), 0);
    EXPECT_LE(counts.layersPacked.load(), 2 * inReach + int64_t(kTrackMemoStride))
        << moved << " layers moved, up to " << reachEnd << " s";
    EXPECT_EQ(counts.voicesCompared.load(), int64_t(bedLayers + moved));
    EXPECT_EQ(counts.voicesSettled.load(), int64_t(bedLayers + moved));
    // Every layer where a whole assignment puts it.
    Project assigned = *rig.project;
    AssignTracks(assigned);
    int otherTracks = 0;
    for (size_t k = 0; k < assigned.results.size(); ++k)
        otherTracks += assigned.results[k].track != rig.project->results[k].track ? 1 : 0;
    EXPECT_EQ(otherTracks, 0);

    // The levels were worked out for the voices in reach (and their events'
    // others) alone, again after a second change, and every voice holds the
    // bits a whole level pass gives.
    rig.project->events[size_t(bed)].duration += 0.5f;
    RebuildBedsAsyncJob(ctx);
    EXPECT_FALSE(counts.whole.load());
    EXPECT_GT(counts.voicesLevelled.load(), 0);
    EXPECT_LE(counts.voicesLevelled.load(), int64_t(spec.layersPerEvent) * counts.voicesSettled.load())
        << "levels of voices neither in reach nor of an event in reach";
    std::vector<float> levels;
    for (const PlaybackVoice& v : rig.engine->voices) levels.insert(levels.end(), {v.gain.load(), v.levelScale});
    const float cut = rig.engine->stats.headroomCut.load();
    RecomputeVoiceLevels(ctx);
    EXPECT_EQ(rig.engine->stats.headroomCut.load(), cut);
    int otherLevels = 0;
    for (size_t v = 0; v < rig.engine->voices.size(); ++v)
        otherLevels += rig.engine->voices[v].gain.load() != levels[2 * v] ||
                       rig.engine->voices[v].levelScale != levels[2 * v + 1];
    EXPECT_EQ(otherLevels, 0) << "voices whose level differs from a whole pass's";
}

}  // namespace

TEST(VoiceSync, ScaleAndBedChangesOnAGeneratedProjectBuildOnlyWhatTheyChange) {
    ExpectScaleAndBedChangesBuildOnlyWhatTheyChange(2000);
}

// The same at 20,000 layers: minutes of voice builds under the sanitizers
// (every voice three times, a fifth of them pitched by the windowed-sinc
// resampler), some 20 s optimised. So it runs in the optimised suite
// (scripts/test --release); the 2,000-layer one runs everywhere.
TEST(VoiceSync, ScaleAndBedChangesOnA20000LayerProjectBuildOnlyWhatTheyChange) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "20,000 voices built three times: in the optimised suite (scripts/test --release)";
#endif
    ExpectScaleAndBedChangesBuildOnlyWhatTheyChange(20000);
}

// A generated project's Bed job reads only the Beds that changed, and leaves
// the results, revision and reports of a copy's job that reads every Bed; it
// reads every Bed after another change of the results (a Clip rebuilt, an
// undo), and the Clips' weights after the probe wrote one.
TEST(VoiceSync, ABedJobReadsOnlyTheChangedBedsUntilSomethingElseChangesTheResults) {
    TempDir dir;
    JobRig rig;
    LargeProject large = MakeLargeProject({.eventCount = 160, .seconds = 96.0f, .layers = LargeProjectLayers::Made,
                                           .layersPerEvent = 10, .soundCount = 24, .soundSeconds = 0.5f},
                                          dir.File("Library"));
    *rig.project = std::move(large.project);
    rig.library->libraries.assign(1, large.library.index);
    FixProbedWeights(*rig.project);
    rig.project->rendered = true;
    const DocumentContext ctx = rig.Context();
    ASSERT_TRUE(RebuildBedsAndWeights(ctx));
    Project copy = *rig.project;
    DocumentContext everyBed = ctx;  // no watch: every Bed and Clip read
    everyBed.project = &copy;
    everyBed.app = nullptr;
    std::vector<size_t> beds;
    int clip = -1;
    for (size_t e = 0; e < copy.events.size(); ++e) {
        if (copy.events[e].shape == kShapeBed) beds.push_back(e);
        if (copy.events[e].shape == kShapeClip) clip = int(e);
    }
    ASSERT_TRUE(beds.size() >= 8 && clip >= 0);
    const std::atomic<int64_t>& read = rig.app->bedSync.bedsRead;
    auto both = [&](const std::function<void(Project&)>& edit, const std::string& what) {
        const int32_t mark = NextRenderResultId();
        edit(*rig.project);
        edit(copy);
        BedChanges alone, all;
        ASSERT_TRUE(RebuildBedsAndWeights(ctx, &alone));
        ASSERT_TRUE(RebuildBedsAndWeights(everyBed, &all));
        EXPECT_EQ(DifferingResults(*rig.project, copy, mark), 0) << what;
        EXPECT_EQ(rig.project->resultsRevision, copy.resultsRevision) << what;
        EXPECT_EQ(alone.results, all.results) << what;
    };
    for (size_t k = 0; k < 8; ++k) {
        both([&](Project& p) {
            p.events[beds[k]].duration += k % 2 ? 0.75f : -0.5f;
            p.events[beds[7 - k]].time += k % 3 ? 0.0f : 1.5f;
        }, "step " + std::to_string(k));
        EXPECT_EQ(read.load(), k % 3 ? 1 : 2) << "step " << k;
        EXPECT_FALSE(rig.app->bedSync.resultsScanned.load());
    }
    both([&](Project& p) { ASSERT_TRUE(RebuildClipEvent(p, clip)); }, "after a Clip's rebuild");
    EXPECT_EQ(read.load(), int64_t(beds.size()));
    // A weight the probe found in the library: the Clips are read, the Beds not.
    rig.project->events[size_t(clip)].clipWeight = -1;
    SoundProbe probe;
    ASSERT_TRUE(FinishSoundProbe(probe, *rig.project, *rig.library));
    copy.events[size_t(clip)].clipWeight = rig.project->events[size_t(clip)].clipWeight;
    both([&](Project& p) { p.events[beds[3]].duration -= 0.25f; }, "after a probed weight");
    EXPECT_EQ(read.load(), 1);
    EXPECT_TRUE(rig.app->bedSync.resultsScanned.load());
    // An undo brings other results back.
    ASSERT_TRUE(PushUndoSnapshot(ctx));
    rig.project->events[beds[5]].duration += 2.0f;
    ASSERT_TRUE(RebuildBedsAndWeights(ctx));
    ASSERT_TRUE(Undo(ctx));
    copy = *rig.project;
    both([&](Project& p) { p.events[beds[0]].time += 0.25f; }, "after an undo");
    EXPECT_EQ(read.load(), int64_t(beds.size()));
}
