// voice_sync.cpp — rebuilding and re-syncing playback voices from the results.
//
// Index
//   Shared starts          EventGainTable, CopyLoudnessTargets, LoadClipPeaks
//   RerenderEvents / RerenderEvent
//   Stale voices           SnapshotResultVoiceKeys, EventsWithStaleVoices
//   RebuildCache / RebuildCacheAsync / RebuildCacheAsyncJob   ResultsNearestFirst, the build on every core
//                          (PaceVoiceBuild / LetPacedVoice: a test script's hold on it)
//   SyncVoicesWithResults  DropStaleVoices, per-event or full rebuild, RecomputeVoiceLevels
//   Job bodies             RerenderAfterVariantChange, DrawUIPlaybackRefreshJob
#include "operations/voice_sync.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "document/event.h"
#include "document/project.h"
#include "document/work_pace.h"
#include "library/file_caches.h"
#include "operations/app_state.h"
#include "operations/voice_maintenance.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "playback/voice_settings.h"
#include "platform/processor.h"
#include "render/track_assignment.h"

// ---------------------------------------------------------------------------
// Shared starts
// ---------------------------------------------------------------------------

std::vector<float> EventGainTable(const Project& project) {
    std::vector<float> gains;
    gains.reserve(project.events.size());
    for (const Event& e : project.events) gains.push_back(e.gain);
    return gains;
}

void CopyLoudnessTargets(const Project& project, AudioEngine& engine) {
    engine.normalizeLoudness = project.normalizeLUFS ? 1 : 0;
    for (int g = 0; g < 3; ++g) engine.groupTargetLufs[size_t(g)] = project.groups[g].targetLUFS;
}

void LoadClipPeaks(const Project& project, const std::vector<int>* events) {
    std::vector<uint8_t> listed(project.events.size(), events ? 0 : 1);
    if (events)
        for (int i : *events)
            if (i >= 0 && size_t(i) < listed.size()) listed[size_t(i)] = 1;
    for (size_t i = 0; i < project.events.size(); ++i) {
        const Event& e = project.events[i];
        if (listed[i] && e.shape == kShapeClip && e.pinnedFile[0] != '\0') GetWaveformPeaks(e.pinnedFile);
    }
    // The layers' own files: the timeline draws their waveforms from this
    // cache and never reads a file while it draws.
    for (const RenderResult& r : project.results)
        if (r.eventIdx >= 0 && size_t(r.eventIdx) < listed.size() && listed[size_t(r.eventIdx)] && !r.filepath.empty())
            GetWaveformPeaks(r.filepath.c_str());
}

// ---------------------------------------------------------------------------
// RerenderEvents / RerenderEvent
// ---------------------------------------------------------------------------

void RerenderEvents(const DocumentContext& ctx, const std::vector<int>& events) {
    std::vector<int> order;
    for (int e : events)
        if (std::find(order.begin(), order.end(), e) == order.end()) order.push_back(e);
    if (order.empty()) return;
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;

    LoadClipPeaks(project, &order);
    // The track assignment may move or mute other events' layers too (pan
    // and mute follow the track): their voices are refreshed with the rest.
    const ResultVoiceKeys before = SnapshotResultVoiceKeys(project);
    AssignTracks(project);
    for (const RenderResult& r : project.results) {
        if (r.eventIdx < 0 || std::find(order.begin(), order.end(), r.eventIdx) != order.end()) continue;
        auto it = before.find(r.id);
        if (it != before.end() && it->second != ResultVoiceKey(r)) order.push_back(r.eventIdx);
    }
    CountUsedTracks(project.groups, project.results);
    CopyLoudnessTargets(project, engine);

    // ReplaceEventVoices for every listed event at once: one pass drops their
    // voices, their results are built on every core, and the voices are put
    // back in result order.
    engine.cacheReady.store(0);
    engine.sampleRate.store(ctx.sampleRate);
    std::vector<uint8_t> listed(project.events.size(), 0);
    for (int e : order)
        if (e >= 0 && size_t(e) < listed.size()) listed[size_t(e)] = 1;
    auto isListed = [&listed](int32_t e) { return e >= 0 && size_t(e) < listed.size() && listed[size_t(e)]; };
    std::vector<uint8_t> drop(engine.voices.size(), 0);
    for (size_t v = 0; v < engine.voices.size(); ++v) drop[v] = isListed(engine.voices[v].eventIndex) ? 1 : 0;
    RemoveEngineVoices(engine, drop);
    std::vector<size_t> build;
    for (size_t i = 0; i < project.results.size(); ++i)
        if (isListed(project.results[i].eventIdx)) build.push_back(i);
    BuildVoicesOnEveryCore(ctx, build, false, nullptr, nullptr, false);
    RelinkVoicesToResults(ctx);
    OrderEngineVoicesByResult(engine);
    UpdateVoiceLevels(engine, false);
}

void RerenderEvent(const DocumentContext& ctx, int eventIndex) { RerenderEvents(ctx, {eventIndex}); }

void RerenderEvent(int eventIndex) { RerenderEvent(ProgramDocumentContext(), eventIndex); }

// ---------------------------------------------------------------------------
// Stale voices
// ---------------------------------------------------------------------------

ResultVoiceKeys SnapshotResultVoiceKeys(const Project& project) {
    ResultVoiceKeys keys;
    keys.reserve(project.results.size());
    for (const RenderResult& r : project.results) keys.emplace(r.id, ResultVoiceKey(r));
    return keys;
}

std::vector<int> EventsWithStaleVoices(const DocumentContext& ctx, const ResultVoiceKeys& before) {
    std::set<int> events;
    std::unordered_set<uint32_t> ids;
    ids.reserve(ctx.project->results.size());
    for (const RenderResult& r : ctx.project->results) {
        ids.insert(uint32_t(r.id));
        if (r.eventIdx < 0) continue;
        auto it = before.find(r.id);
        if (it == before.end() || it->second != ResultVoiceKey(r)) events.insert(r.eventIdx);
    }
    for (const PlaybackVoice& v : ctx.engine->voices)
        if (v.eventIndex >= 0 && !ids.count(v.resultId)) events.insert(v.eventIndex);
    return {events.begin(), events.end()};
}

// ---------------------------------------------------------------------------
// RebuildCache / RebuildCacheAsync / RebuildCacheAsyncJob
// ---------------------------------------------------------------------------

namespace {

WorkPace gVoiceBuildPace;

}  // namespace

void PaceVoiceBuild(bool paced) { SetWorkPaced(gVoiceBuildPace, paced); }

void LetPacedVoice() { LetWorkStep(gVoiceBuildPace); }

std::vector<size_t> ResultsNearestFirst(const std::vector<RenderResult>& results, double seconds) {
    std::vector<double> distance(results.size());
    for (size_t k = 0; k < results.size(); ++k) {
        const double start = results[k].startTime, end = start + std::max(0.0f, results[k].duration);
        const double d = seconds < start ? start - seconds : seconds > end ? seconds - end : 0.0;
        distance[k] = std::isfinite(d) ? d : std::numeric_limits<double>::max();
    }
    std::vector<size_t> order(results.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return distance[a] < distance[b]; });
    return order;
}

bool BuildVoicesOnEveryCore(const DocumentContext& ctx, const std::vector<size_t>& order, bool quickRebuild,
                            const std::atomic<bool>* cancel, std::atomic<float>* bar, bool countProgress) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    if (order.empty()) return true;
    const std::vector<float> gains = EventGainTable(project);
    const int eventCount = int(project.events.size());
    // The threads append their voices side by side, each under the lock.
    // Growing the list copies it outside the lock, which only one thread at
    // a time may do: so the room for every voice is made here, first.
    LockWithVoiceRoom(engine, order.size()).unlock();
    // The test seam: the builds finish in the reverse of their order, one
    // after another, as a race between the threads might finish them.
    const bool reversed = ctx.observer && ctx.observer->reverseVoiceBuilds;
    std::vector<size_t> reversedOrder;
    if (reversed) reversedOrder.assign(order.rbegin(), order.rend());
    const std::vector<size_t>& queue = reversed ? reversedOrder : order;

    // Each voice decodes, processes and levels its own result: each thread
    // takes the next result of the queue and writes back only into it.
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<bool> stopped{false};
    auto build = [&] {
        try {
            for (;;) {
                // While a test script holds the busy task's rebuild (the
                // one build with a bar), each of its voices waits for a let.
                const bool held = bar && next.load() < queue.size() &&
                                  !WaitForWorkStep(gVoiceBuildPace, cancel);
                if (held || (cancel && cancel->load())) {
                    stopped.store(true);
                    return;
                }
                const size_t n = next.fetch_add(1);
                if (n >= queue.size()) return;
                const size_t k = queue[n];
                BuildPlaybackVoice(engine, project.results[k], int(k), ctx.sampleRate,
                                   gains.empty() ? nullptr : gains.data(), eventCount,
                                   project.events.empty() ? nullptr : project.events.data(), project.scaleType,
                                   project.scaleRoot, quickRebuild);
                const size_t built = done.fetch_add(1) + 1;
                if (ctx.observer && ctx.observer->voiceBuilt) ctx.observer->voiceBuilt();
                if (countProgress) engine.buildProgress.fetch_add(1);
                if (bar) bar->store(float(built) / float(queue.size()));
            }
        } catch (const std::exception& error) {
            std::printf("[Cache] A voice build stopped: %s\n", error.what());
            stopped.store(true);
        }
    };
    const size_t threads = reversed ? 1 : std::min<size_t>(size_t(ProcessorCount()), queue.size());
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(build);
        } catch (const std::system_error&) {
            break;  // fewer threads: the others take the rest
        }
    }
    build();
    for (std::thread& t : helpers) t.join();
    return !stopped.load();
}

void RebuildCache(const DocumentContext& ctx, bool quickRebuild, std::atomic<float>* bar) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    LoadClipPeaks(project);
    CountUsedTracks(project.groups, project.results);
    CopyLoudnessTargets(project, engine);
    ResetEngineVoices(engine, ctx.sampleRate, int(project.results.size()));

    // Built on every core, nearest the playhead first; each build appends
    // its voice when it is done, so the list comes out in finishing order.
    const std::vector<size_t> order = ResultsNearestFirst(project.results, ctx.currentTime);
    engine.buildTotal.store(int32_t(order.size()));
    const bool complete = BuildVoicesOnEveryCore(ctx, order, quickRebuild,
                                                 ctx.app ? &ctx.app->busyTask.cancelRequested : nullptr, bar, true);
    // The voices stand in result order before anything levels, sums or
    // numbers them.
    OrderEngineVoicesByResult(engine);
    UpdateVoiceLevels(engine, true);
    // The voices are incomplete: if the program goes on (a quit the designer
    // then declined), the next free frame builds them again.
    if (!complete) {
        std::printf("[Cache] Voice build stopped after %d of %zu voices\n", int(engine.buildProgress.load()),
                    order.size());
        if (ctx.app) ctx.app->deferredRebuild.store(true);
    }
}

bool RebuildCache(bool quickRebuild) {
    const DocumentContext ctx = ProgramDocumentContext();
    if (!DocumentMayChange(*ctx.app)) return false;
    RebuildCache(ctx, quickRebuild);
    return true;
}

void RebuildCacheAsyncJob(const DocumentContext& ctx, bool quickRebuild) {
    RebuildCache(ctx, quickRebuild, &ctx.app->busyTask.progress);
    SeekPlayback(*ctx.engine, ctx.currentTime);
    ctx.app->busyTask.done.store(true);
}

bool RebuildCacheAsync(const DocumentContext& ctx, const char* status, bool quickRebuild) {
    if (!DocumentMayChange(*ctx.app)) return false;
    if (!StartBusyTask(ctx.app->busyTask, status, [ctx, quickRebuild] { RebuildCacheAsyncJob(ctx, quickRebuild); },
                       false, 0.0f))
        return false;
    // Counted from the moment the overlay shows, not from when the worker
    // gets its first turn: the count never reads as the last build's.
    ctx.engine->buildProgress.store(0);
    ctx.engine->buildTotal.store(int32_t(ctx.project->results.size()));
    return true;
}

bool RebuildCacheAsync(const char* status, bool quickRebuild) {
    return RebuildCacheAsync(ProgramDocumentContext(), status, quickRebuild);
}

// ---------------------------------------------------------------------------
// SyncVoicesWithResults
// ---------------------------------------------------------------------------

namespace {

// Drops every voice whose result is gone, whose samples were made from
// something else than its result now gives, or whose result already has a
// voice before it in the list.
void DropStaleVoices(const DocumentContext& ctx, const std::unordered_map<int32_t, int>& byId) {
    AudioEngine& engine = *ctx.engine;
    const Project& project = *ctx.project;
    std::vector<uint8_t> drop(engine.voices.size(), 0);
    std::unordered_set<uint32_t> seen;
    seen.reserve(engine.voices.size());
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        auto it = byId.find(int32_t(voice.resultId));
        drop[v] = it == byId.end() || voice.sampleKey != VoiceSampleKey(project.results[size_t(it->second)]) ||
                  !seen.insert(voice.resultId).second;
    }
    RemoveEngineVoices(engine, drop);
}

}  // namespace

void RecomputeVoiceLevels(const DocumentContext& ctx) {
    AudioEngine& engine = *ctx.engine;
    const Project& project = *ctx.project;
    const std::vector<float> eventGains = EventGainTable(project);
    const float* gainTable = eventGains.empty() ? nullptr : eventGains.data();
    const int eventCount = int(project.events.size());
    const Event* events = project.events.empty() ? nullptr : project.events.data();
    const size_t n = engine.voices.size();
    auto resultOf = [&](const PlaybackVoice& voice) -> const RenderResult* {
        const int32_t r = voice.resultIndex;
        if (r < 0 || size_t(r) >= project.results.size() || uint32_t(project.results[size_t(r)].id) != voice.resultId)
            return nullptr;
        return &project.results[size_t(r)];
    };
    // Worked out unlocked; under the lock only the voices whose settings
    // changed are rewritten, and the levels stored.
    std::vector<uint8_t> changed(n, 0), muted(n, 0);
    std::vector<float> eventGainOf(n, 1.0f);
    std::vector<double> gains(n, 0.0);
    for (size_t v = 0; v < n; ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        const RenderResult* result = resultOf(voice);
        if (!result) {
            gains[v] = voice.gain.load();
            eventGainOf[v] = voice.eventGain.load();
            muted[v] = voice.muted.load();
            continue;
        }
        changed[v] = !VoiceHoldsSettings(voice, *result, voice.resultIndex, eventCount, events) ||
                     v >= engine.voiceFadeIn.size() || v >= engine.voiceFadeOut.size() ||
                     engine.voiceFadeIn[v] != result->fadeIn || engine.voiceFadeOut[v] != result->fadeOut;
        const VoiceLevelSettings levels = VoiceLevelSettingsFor(*result, gainTable, eventCount, events);
        muted[v] = levels.muted;
        eventGainOf[v] = levels.eventGain;
        // The build's base gain with its headroom cut, before any levelling.
        gains[v] = double(float(levels.gain * VoiceHeadroomFactor(voice)));
    }
    {
        std::unique_lock<std::mutex> lock = LockForVoiceEdit(engine);
        for (size_t v = 0; v < n; ++v) {
            PlaybackVoice& voice = engine.voices[v];
            if (changed[v]) {
                const RenderResult& result = project.results[size_t(voice.resultIndex)];
                SetVoiceSettings(voice, result, voice.resultIndex, gainTable, eventCount, events);
                if (v < engine.voiceFadeIn.size()) engine.voiceFadeIn[v] = result.fadeIn;
                if (v < engine.voiceFadeOut.size()) engine.voiceFadeOut[v] = result.fadeOut;
            }
            voice.gain = float(gains[v]);
            voice.eventGain = eventGainOf[v];
            voice.muted = muted[v];
        }
    }
    UpdateVoiceLevels(engine, true);
}

void SyncVoicesAsOwner(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;

    std::unordered_map<int32_t, int> byId;
    byId.reserve(project.results.size());
    for (size_t i = 0; i < project.results.size(); ++i) byId.emplace(project.results[i].id, int(i));
    DropStaleVoices(ctx, byId);
    RelinkVoicesToResults(ctx);

    std::unordered_set<uint32_t> voiced;
    for (const PlaybackVoice& v : engine.voices) voiced.insert(v.resultId);
    std::set<int> lacking;
    for (const RenderResult& r : project.results)
        if (r.eventIdx >= 0 && ResultGetsVoice(r) && !voiced.count(uint32_t(r.id))) lacking.insert(r.eventIdx);

    const int eventCount = int(project.events.size());
    if (int(lacking.size()) > std::max(eventCount / 4, 10)) {
        RebuildCache(ctx, false);
    } else {
        // Builds what lacks, relinks and puts the voices in result order.
        RerenderEvents(ctx, {lacking.begin(), lacking.end()});
        RelinkVoicesToResults(ctx);
        OrderEngineVoicesByResult(engine);
        CountUsedTracks(project.groups, project.results);
        engine.voiceCount.store(int32_t(engine.voices.size()));
        // Every level as a full rebuild of these voices would leave it.
        RecomputeVoiceLevels(ctx);
        CheckPlaybackCacheIntegrity(ctx);
    }
}

bool SyncVoicesWithResults(const DocumentContext& ctx, bool seekPlayback) {
    if (!DocumentMayChange(*ctx.app)) {
        std::printf("[Cache] Voice sync refused while the document is busy; rebuild deferred\n");
        ctx.app->deferredRebuild.store(true);
        return false;
    }
    SyncVoicesAsOwner(ctx);
    if (seekPlayback) SeekPlayback(*ctx.engine, ctx.currentTime);
    return true;
}

bool SyncVoicesWithResults() { return SyncVoicesWithResults(ProgramDocumentContext(), true); }

// ---------------------------------------------------------------------------
// Job bodies
// ---------------------------------------------------------------------------

void RerenderAfterVariantChange(const DocumentContext& ctx, int resultIndex) {
    const std::vector<RenderResult>& results = ctx.project->results;
    if (resultIndex >= 0 && size_t(resultIndex) < results.size())
        RerenderEvent(ctx, results[size_t(resultIndex)].eventIdx);
    CheckPlaybackCacheIntegrity(ctx);
    SeekPlayback(*ctx.engine, ctx.currentTime);
}

void DrawUIPlaybackRefreshJob(const DocumentContext& ctx, int eventIndex) {
    RerenderEvent(ctx, eventIndex);
    // The Bed rebuild that asked for this job ran the track assignment: the
    // other events' voices follow too.
    SyncVoicesAsOwner(ctx);
    SeekPlayback(*ctx.engine, ctx.currentTime);
    ctx.app->busyTask.done.store(true);
}
