// voice_sync.cpp — rebuilding and re-syncing playback voices from the results.
//
// Index
//   Shared starts          EventGainTable, CopyLoudnessTargets, LoadClipPeaks
//   RerenderEvents / RerenderEvent
//   Stale voices           SnapshotResultVoiceKeys, EventsWithStaleVoices
//   RebuildCache / RebuildCacheAsync / RebuildCacheAsyncJob   ResultsNearestFirst, the build on every core
//   SyncVoicesWithResults  RefreshKeptVoices, then per-event or full rebuild
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
#include "library/file_caches.h"
#include "operations/app_state.h"
#include "operations/voice_maintenance.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "platform/processor.h"
#include "playback/voice_settings.h"
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
    CopyLoudnessTargets(project, *ctx.engine);
    const std::vector<float> gains = EventGainTable(project);
    const int eventCount = int(project.events.size());
    for (int e : order) {
        ReplaceEventVoices(*ctx.engine, e, project.results, ctx.sampleRate,
                           gains.empty() ? nullptr : gains.data(), eventCount,
                           project.events.empty() ? nullptr : project.events.data(), project.scaleType,
                           project.scaleRoot);
    }
    RelinkVoicesToResults(ctx);
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

void RebuildCache(const DocumentContext& ctx, bool quickRebuild, std::atomic<float>* bar) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    LoadClipPeaks(project);
    CountUsedTracks(project.groups, project.results);
    CopyLoudnessTargets(project, engine);
    const std::vector<float> gains = EventGainTable(project);
    ResetEngineVoices(engine, ctx.sampleRate, int(project.results.size()));

    // Each voice decodes, processes and levels its own result: the voices are
    // built on every core, each thread taking the next result nearest the
    // playhead, each writing back only into its own result.
    const std::vector<size_t> order = ResultsNearestFirst(project.results, ctx.currentTime);
    engine.buildTotal.store(int32_t(order.size()));
    const int eventCount = int(project.events.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> stopped{false};
    const std::atomic<bool>& cancel = ctx.app->busyTask.cancelRequested;
    auto build = [&] {
        try {
            for (;;) {
                if (cancel.load()) {
                    stopped.store(true);
                    return;
                }
                const size_t n = next.fetch_add(1);
                if (n >= order.size()) return;
                const size_t k = order[n];
                BuildPlaybackVoice(engine, project.results[k], int(k), ctx.sampleRate,
                                   gains.empty() ? nullptr : gains.data(), eventCount,
                                   project.events.empty() ? nullptr : project.events.data(), project.scaleType,
                                   project.scaleRoot, quickRebuild);
                const int32_t built = engine.buildProgress.fetch_add(1) + 1;
                if (bar) bar->store(float(built) / float(order.size()));
            }
        } catch (const std::exception& error) {
            std::printf("[Cache] A voice build stopped: %s\n", error.what());
            stopped.store(true);
        }
    };
    const size_t threads = std::min<size_t>(static_cast<size_t>(ProcessorCount()), order.size());
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
    UpdateVoiceLevels(engine, true);
    // The voices are incomplete: if the program goes on (a quit the designer
    // then declined), the next free frame builds them again.
    if (stopped.load()) {
        std::printf("[Cache] Voice build stopped after %d of %zu voices\n", int(engine.buildProgress.load()),
                    order.size());
        ctx.app->deferredRebuild.store(true);
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

// Drops the voices whose result is gone or whose samples were made from
// something else, and gives the others their result's and event's settings
// as a build would: the base gain with the build's headroom cut, levelled
// per event. Everything is worked out unlocked; under the lock only the
// voices whose settings changed are rewritten, and the levels stored.
void RefreshKeptVoices(const DocumentContext& ctx, const std::unordered_map<int32_t, int>& byId) {
    AudioEngine& engine = *ctx.engine;
    Project& project = *ctx.project;
    std::vector<uint8_t> drop(engine.voices.size(), 0);
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        auto it = byId.find(int32_t(engine.voices[v].resultId));
        drop[v] = it == byId.end() || engine.voices[v].sampleKey != VoiceSampleKey(project.results[size_t(it->second)]);
    }
    RemoveEngineVoices(engine, drop);

    const std::vector<float> eventGains = EventGainTable(project);
    const float* gainTable = eventGains.empty() ? nullptr : eventGains.data();
    const int eventCount = int(project.events.size());
    const Event* events = project.events.empty() ? nullptr : project.events.data();
    const size_t n = engine.voices.size();
    std::vector<int> resultOf(n);
    std::vector<uint8_t> changed(n), muted(n);
    std::vector<int32_t> eventOf(n);
    std::vector<float> eventGainOf(n);
    std::vector<double> gains(n);
    for (size_t v = 0; v < n; ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        const int r = byId.at(int32_t(voice.resultId));
        const RenderResult& result = project.results[size_t(r)];
        resultOf[v] = r;
        changed[v] = !VoiceHoldsSettings(voice, result, r, eventCount, events) || v >= engine.voiceFadeIn.size() ||
                     v >= engine.voiceFadeOut.size() || engine.voiceFadeIn[v] != result.fadeIn ||
                     engine.voiceFadeOut[v] != result.fadeOut;
        const VoiceLevelSettings levels = VoiceLevelSettingsFor(result, gainTable, eventCount, events);
        muted[v] = levels.muted;
        eventOf[v] = result.eventIdx;
        eventGainOf[v] = levels.eventGain;
        gains[v] = double(levels.gain) * VoiceHeadroomFactor(voice);
    }
    LevelEventGains(eventOf, muted, gains);

    std::unique_lock<std::mutex> lock = LockForVoiceEdit(engine);
    for (size_t v = 0; v < n; ++v) {
        PlaybackVoice& voice = engine.voices[v];
        if (changed[v]) {
            const RenderResult& result = project.results[size_t(resultOf[v])];
            SetVoiceSettings(voice, result, resultOf[v], gainTable, eventCount, events);
            if (v < engine.voiceFadeIn.size()) engine.voiceFadeIn[v] = result.fadeIn;
            if (v < engine.voiceFadeOut.size()) engine.voiceFadeOut[v] = result.fadeOut;
        }
        voice.gain = float(gains[v]);
        voice.eventGain = eventGainOf[v];
        voice.muted = muted[v];
    }
}

}  // namespace

bool SyncVoicesWithResults(const DocumentContext& ctx) {
    if (!DocumentMayChange(*ctx.app)) {
        std::printf("[Cache] Voice sync refused while the document is busy; rebuild deferred\n");
        ctx.app->deferredRebuild.store(true);
        return false;
    }
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;

    std::unordered_map<int32_t, int> byId;
    byId.reserve(project.results.size());
    for (size_t i = 0; i < project.results.size(); ++i) byId.emplace(project.results[i].id, int(i));
    RefreshKeptVoices(ctx, byId);

    std::unordered_set<uint32_t> voiced;
    for (const PlaybackVoice& v : engine.voices) voiced.insert(v.resultId);
    std::set<int> lacking;
    for (const RenderResult& r : project.results)
        if (r.eventIdx >= 0 && ResultGetsVoice(r) && !voiced.count(uint32_t(r.id))) lacking.insert(r.eventIdx);

    const int eventCount = int(project.events.size());
    if (int(lacking.size()) > std::max(eventCount / 4, 10)) {
        RebuildCache(ctx, false);
    } else {
        RerenderEvents(ctx, {lacking.begin(), lacking.end()});
        CountUsedTracks(project.groups, project.results);
        engine.voiceCount.store(int32_t(engine.voices.size()));
        UpdateVoiceLevels(engine, false);
        CheckPlaybackCacheIntegrity(ctx);
    }
    SeekPlayback(engine, ctx.currentTime);
    return true;
}

bool SyncVoicesWithResults() { return SyncVoicesWithResults(ProgramDocumentContext()); }

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
    SeekPlayback(*ctx.engine, ctx.currentTime);
    ctx.app->busyTask.done.store(true);
}
