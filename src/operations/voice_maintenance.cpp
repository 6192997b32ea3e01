// voice_maintenance.cpp — per-event voice edits, levels, the streaming window
// and the integrity check.
//
// Index
//   Small helpers          ResultIndexById, CountUsedTracksOf
//   ReplaceEventVoices
//   RefreshEventVoices
//   RelinkVoicesToResults
//   Levels                 LoudestGridSum, UpdateVoiceLevels
//   Preparing voices       DecodeForVoice, InstallPreparedSamples, PrepareVoice,
//                          PrepareAllVoices, PrepareVoicesAtPlayhead
//   CheckPlaybackCacheIntegrity
//
// Every routine here edits voices on the thread that owns them, so it reads
// the voice list unlocked and takes the engine lock only to change it.
#include "operations/voice_maintenance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/voice_settings.h"
#include "render/clip_processing.h"
#include "render/track_assignment.h"

// ---------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------

namespace {

std::unordered_map<int32_t, int> ResultIndexById(const std::vector<RenderResult>& results) {
    std::unordered_map<int32_t, int> byId;
    byId.reserve(results.size());
    for (size_t i = 0; i < results.size(); ++i) byId.emplace(results[i].id, int(i));
    return byId;
}

}  // namespace

// ---------------------------------------------------------------------------
// ReplaceEventVoices
// ---------------------------------------------------------------------------

void ReplaceEventVoices(AudioEngine& engine, int eventIndex, std::vector<RenderResult>& results,
                        int sampleRate, const float* eventGains, int eventCount, const Event* events,
                        int scaleType, int scaleRoot) {
    engine.cacheReady.store(0);
    engine.sampleRate.store(sampleRate);
    std::vector<uint8_t> drop(engine.voices.size(), 0);
    for (size_t v = 0; v < engine.voices.size(); ++v)
        drop[v] = engine.voices[v].eventIndex == eventIndex ? 1 : 0;
    RemoveEngineVoices(engine, drop);

    for (size_t i = 0; i < results.size(); ++i) {
        if (results[i].eventIdx != eventIndex) continue;
        BuildPlaybackVoice(engine, results[i], int(i), sampleRate, eventGains, eventCount, events,
                           scaleType, scaleRoot, false);
    }
    UpdateVoiceLevels(engine, false);
}

// ---------------------------------------------------------------------------
// RefreshEventVoices
// ---------------------------------------------------------------------------

bool RefreshEventVoices(const DocumentContext& ctx, const std::vector<int>& removedEvents,
                        int oldEventCount) {
    AudioEngine& engine = *ctx.engine;
    Project& project = *ctx.project;
    if (!DocumentMayChange(*ctx.app)) {
        std::printf("[Cache] Voice refresh refused while the document is busy; rebuild deferred\n");
        ctx.app->deferredRebuild.store(true);
        return false;
    }

    // Old event index -> new one, -1 for a deleted event.
    std::vector<int> newIndex(size_t(std::max(oldEventCount, 0)), 0);
    for (int removed : removedEvents)
        if (removed >= 0 && removed < oldEventCount) newIndex[size_t(removed)] = -1;
    int next = 0;
    for (int& n : newIndex) n = n < 0 ? -1 : next++;

    auto mapped = [&](int32_t index) { return index >= 0 && index < oldEventCount ? newIndex[size_t(index)] : index; };
    std::vector<uint8_t> drop(engine.voices.size(), 0);
    for (size_t v = 0; v < engine.voices.size(); ++v) drop[v] = mapped(engine.voices[v].eventIndex) < 0 ? 1 : 0;
    RemoveEngineVoices(engine, drop);
    RelinkVoicesToResults(engine, project.results);

    {
        // A fill's voice follows its event's live curve in the current list,
        // however the deleting code left the pointer.
        std::unique_lock<std::mutex> lock = LockForVoiceEdit(engine);
        for (PlaybackVoice& v : engine.voices) {
            v.eventIndex = mapped(v.eventIndex);
            const bool fill = v.resultIndex >= 0 && project.results[size_t(v.resultIndex)].procMode == 1;
            const bool valid = v.eventIndex >= 0 && size_t(v.eventIndex) < project.events.size();
            v.intensityCurve = fill && valid ? project.events[size_t(v.eventIndex)].intensity.data() : nullptr;
            v.intensityCount = fill && valid ? kVoiceIntGainPoints : 0;
        }
    }

    CountUsedTracks(project.groups, project.results);
    engine.voiceCount.store(int32_t(engine.voices.size()));
    UpdateVoiceLevels(engine, false);
    return true;
}

bool RefreshEventVoices(const std::vector<int>& removedEvents, int oldEventCount) {
    return RefreshEventVoices(ProgramDocumentContext(), removedEvents, oldEventCount);
}

// ---------------------------------------------------------------------------
// RelinkVoicesToResults
// ---------------------------------------------------------------------------

void RelinkVoicesToResults(AudioEngine& engine, const std::vector<RenderResult>& results) {
    const std::unordered_map<int32_t, int> byId = ResultIndexById(results);
    std::vector<int32_t> relinked(engine.voices.size(), -1);
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        auto it = byId.find(int32_t(engine.voices[v].resultId));
        if (it != byId.end()) relinked[v] = it->second;
    }
    std::lock_guard<std::mutex> lock(engine.mutex);
    for (size_t v = 0; v < engine.voices.size() && v < relinked.size(); ++v)
        engine.voices[v].resultIndex = relinked[v];
}

void RelinkVoicesToResults(const DocumentContext& ctx) {
    RelinkVoicesToResults(*ctx.engine, ctx.project->results);
}

void RelinkVoicesToResults() { RelinkVoicesToResults(ProgramDocumentContext()); }

// ---------------------------------------------------------------------------
// Levels
// ---------------------------------------------------------------------------

double LoudestGridSum(std::vector<HeadroomSpan> spans, double step) {
    std::erase_if(spans, [](const HeadroomSpan& s) {
        return !std::isfinite(s.start) || !std::isfinite(s.end) || !std::isfinite(s.level);
    });
    if (spans.empty() || !(step > 0)) return 0;
    double t0 = spans[0].start, t1 = spans[0].end;
    for (const HeadroomSpan& s : spans) {
        t0 = std::min(t0, s.start);
        t1 = std::max(t1, s.end);
    }
    auto gridTime = [&](int64_t k) { return t0 + double(k) * step; };
    // The first grid index whose time is at or after `t` (exactly as the
    // times are computed, so the sweep counts what a walk over the grid would).
    auto firstIndexAtOrAfter = [&](double t) {
        double guess = std::ceil((t - t0) / step);
        int64_t k = guess > 0 ? int64_t(std::min(guess, 9.0e15)) : 0;
        // The guess is off by a rounding step at most; the bound keeps a time
        // beyond double precision from looping.
        for (int n = 0; n < 4 && gridTime(k) < t; ++n) ++k;
        for (int n = 0; n < 4 && k > 0 && gridTime(k - 1) >= t; ++n) --k;
        return k;
    };

    // A span plays at the grid indices [first, past).
    struct Interval {
        int64_t first, past;
        double level;
    };
    std::vector<Interval> intervals;
    intervals.reserve(spans.size());
    for (const HeadroomSpan& s : spans) {
        if (!(s.end > s.start)) continue;
        const int64_t first = firstIndexAtOrAfter(s.start);
        const int64_t past = firstIndexAtOrAfter(s.end);  // the span ends before t1's grid point at the latest
        if (past > first) intervals.push_back({first, past, s.level});
    }
    if (intervals.empty()) return 0;

    std::vector<const Interval*> byEnd;
    byEnd.reserve(intervals.size());
    std::sort(intervals.begin(), intervals.end(),
              [](const Interval& a, const Interval& b) { return a.first < b.first; });
    for (const Interval& i : intervals) byEnd.push_back(&i);
    std::sort(byEnd.begin(), byEnd.end(), [](const Interval* a, const Interval* b) { return a->past < b->past; });

    // The sum only grows where a span starts, so the largest value is at one
    // of the spans' first grid points.
    double sum = 0, loudest = 0;
    size_t added = 0, ended = 0;
    while (added < intervals.size()) {
        const int64_t k = intervals[added].first;
        while (added < intervals.size() && intervals[added].first <= k) sum += intervals[added++].level;
        while (ended < byEnd.size() && byEnd[ended]->past <= k) sum -= byEnd[ended++]->level;
        loudest = std::max(loudest, sum);
    }
    return loudest;
}

void LevelEventGains(const std::vector<int32_t>& eventIndex, const std::vector<uint8_t>& muted,
                     std::vector<double>& gains) {
    const size_t n = std::min({eventIndex.size(), muted.size(), gains.size()});
    std::unordered_map<int32_t, double> power;
    for (size_t v = 0; v < n; ++v)
        if (eventIndex[v] >= 0 && !muted[v]) power[eventIndex[v]] += gains[v] * gains[v];
    for (size_t v = 0; v < n; ++v) {
        if (eventIndex[v] < 0) continue;
        auto it = power.find(eventIndex[v]);
        if (it != power.end() && it->second > 1.0) gains[v] /= std::sqrt(it->second);
    }
}

void UpdateVoiceLevels(AudioEngine& engine, bool full) {
    const std::vector<PlaybackVoice>& voices = engine.voices;
    std::vector<double> gains(voices.size());
    std::vector<int32_t> events(voices.size());
    std::vector<uint8_t> muted(voices.size());
    for (size_t v = 0; v < voices.size(); ++v) {
        gains[v] = voices[v].gain.load();
        events[v] = voices[v].eventIndex;
        muted[v] = voices[v].muted.load();
    }

    // 1. Equal power within each event.
    LevelEventGains(events, muted, gains);

    // 3. Headroom of the loudest moment.
    if (full) {
        std::vector<HeadroomSpan> spans;
        spans.reserve(voices.size());
        for (size_t v = 0; v < voices.size(); ++v) {
            const PlaybackVoice& voice = voices[v];
            if (voice.muted.load()) continue;
            float peak = 0;
            for (float p : voice.peakOverview) peak = std::max(peak, p);
            const double level = gains[v] * voice.normGain * voice.eventGain.load() *
                                 engine.groupGain[size_t(std::clamp(voice.group, 0, 2))].load() *
                                 std::max(0.001f, peak);
            spans.push_back({voice.startTime, double(voice.startTime) + voice.length, level});
        }
        if (!spans.empty()) {
            const double loudest = LoudestGridSum(std::move(spans));
            const double limit = 0.7 / std::max(double(engine.masterGain.load()), 0.1);
            if (loudest > limit)
                for (double& g : gains) g *= limit / loudest;
        }
    }

    {
        std::lock_guard<std::mutex> lock(engine.mutex);
        for (size_t v = 0; v < engine.voices.size() && v < gains.size(); ++v)
            engine.voices[v].gain.store(float(gains[v]));
    }
    engine.levelsGeneration.fetch_add(1);
    engine.cacheReady.store(1);
}

// ---------------------------------------------------------------------------
// Preparing voices
// ---------------------------------------------------------------------------

namespace {

// The samples of `result` as the voice's build made them, with the pitch
// shift the build applied (scale correction included) instead of a new
// analysis. True when the pitch shift changed the length.
bool DecodeForVoice(const AudioEngine& engine, const RenderResult& result, float pitchShift, int rate,
                    PlaybackVoice& out) {
    RenderResult scratch = result;  // the loaders may write back; the document stays as it is
    if (!LoadResultAudio(scratch, rate, out)) FillVoiceWithSilence(out, rate, result.duration);
    if (!engine.bypassDeconfliction.load()) ApplyResultBandGains(result, out, rate);
    return ApplyVoicePitchShift(out, pitchShift, rate);
}

// Under the lock: the voice must still be the evicted voice of that result.
bool InstallPreparedSamples(AudioEngine& engine, int voiceIndex, uint32_t resultId, PlaybackVoice& fresh,
                            bool pitched, bool refuseWhilePinned) {
    std::lock_guard<std::mutex> lock(engine.mutex);
    if (refuseWhilePinned && engine.voicePins.load() > 0) return false;
    if (voiceIndex < 0 || size_t(voiceIndex) >= engine.voices.size()) return false;
    PlaybackVoice& voice = engine.voices[size_t(voiceIndex)];
    if (!voice.evicted || voice.resultId != resultId) return false;
    voice.left.swap(fresh.left);
    voice.right.swap(fresh.right);
    voice.stereo = fresh.stereo;
    voice.sampleCount = fresh.sampleCount;
    if (pitched) voice.length = fresh.length;
    voice.evicted = 0;
    return true;
    // The voice's old (empty) buffers leave with `fresh`, after the lock.
}

bool PrepareVoiceAt(AudioEngine& engine, int voiceIndex, const RenderResult& result, int rate,
                    bool refuseWhilePinned) {
    if (voiceIndex < 0 || size_t(voiceIndex) >= engine.voices.size()) return false;
    const PlaybackVoice& voice = engine.voices[size_t(voiceIndex)];
    if (!voice.evicted) return false;
    const uint32_t resultId = voice.resultId;
    PlaybackVoice fresh;
    const bool pitched = DecodeForVoice(engine, result, voice.pitchShift, std::max(rate, 1), fresh);
    return InstallPreparedSamples(engine, voiceIndex, resultId, fresh, pitched, refuseWhilePinned);
}

}  // namespace

bool PrepareVoice(AudioEngine& engine, int voiceIndex, const RenderResult& result, int sampleRate) {
    return PrepareVoiceAt(engine, voiceIndex, result, sampleRate, false);
}

int PrepareAllVoices(AudioEngine& engine, const std::vector<RenderResult>& results) {
    const int rate = engine.sampleRate.load();
    int prepared = 0;
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const int32_t r = engine.voices[v].resultIndex;
        if (!engine.voices[v].evicted || r < 0 || size_t(r) >= results.size()) continue;
        prepared += PrepareVoice(engine, int(v), results[size_t(r)], rate) ? 1 : 0;
    }
    return prepared;
}

void PrepareVoicesAtPlayhead(AudioEngine& engine, const std::vector<RenderResult>& results, int resultCount) {
    if (!engine.cacheReady.load() || engine.voicePins.load() > 0) return;
    const int rate = std::max(engine.sampleRate.load(), 1);
    const double t = double(engine.position.load()) / rate;
    const double window = engine.streamWindow;
    const int count = std::min(resultCount, int(results.size()));

    std::vector<int> evict, prepare;
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        const bool inside = double(voice.startTime) + voice.length > t - window && t + window > voice.startTime;
        if (inside && voice.evicted && voice.resultIndex >= 0 && voice.resultIndex < count)
            prepare.push_back(int(v));
        else if (!inside && !voice.evicted)
            evict.push_back(int(v));
    }

    if (!evict.empty()) {
        std::vector<std::vector<float>> released(2 * evict.size());
        std::unique_lock<std::mutex> lock(engine.mutex);
        // An export or bounce that pinned meanwhile reads these samples.
        if (engine.voicePins.load() > 0) return;
        size_t k = 0;
        for (int v : evict) {
            PlaybackVoice& voice = engine.voices[size_t(v)];
            released[k++].swap(voice.left);
            released[k++].swap(voice.right);
            voice.evicted = 1;
        }
        lock.unlock();
        // The released samples are freed here, unlocked.
    }
    for (int v : prepare)
        PrepareVoiceAt(engine, v, results[size_t(engine.voices[size_t(v)].resultIndex)], rate, true);
}

void PrepareVoicesAtPlayhead(const DocumentContext& ctx) {
    // In a frame quiet for the document (at most the pointer or the view
    // moved) neither the playhead nor the voices moved since the last pass,
    // which left every voice prepared or evicted as it should be.
    if (ctx.app->documentQuiet || !DocumentMayChange(*ctx.app)) return;
    PrepareVoicesAtPlayhead(*ctx.engine, ctx.project->results, int(ctx.project->results.size()));
}

// ---------------------------------------------------------------------------
// CheckPlaybackCacheIntegrity
// ---------------------------------------------------------------------------

bool CheckPlaybackCacheIntegrity(const AudioEngine& engine, const Project& project,
                                 std::atomic<bool>* deferredRebuild) {
    const std::vector<RenderResult>& results = project.results;
    const size_t eventCount = project.events.size();
    std::vector<uint8_t> voiced(results.size(), 0);
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        const bool resultOk = voice.resultIndex >= 0 && size_t(voice.resultIndex) < results.size() &&
                              uint32_t(results[size_t(voice.resultIndex)].id) == voice.resultId;
        const bool eventOk = voice.eventIndex >= 0 && size_t(voice.eventIndex) < eventCount;
        // A voice made from what its result no longer is, or a second voice
        // of one result, would play (and export) something the document
        // does not hold.
        const bool samplesOk = resultOk && voice.sampleKey == VoiceSampleKey(results[size_t(voice.resultIndex)]);
        const bool firstOk = resultOk && !voiced[size_t(voice.resultIndex)];
        if (!resultOk || !eventOk || !samplesOk || !firstOk) {
            std::fprintf(stderr, "[Cache] Integrity check failed at block %d, deferring rebuild\n", int(v));
            if (deferredRebuild) deferredRebuild->store(true);
            return false;
        }
        voiced[size_t(voice.resultIndex)] = 1;
    }
    // A result without a file (and not a placeholder) never gets a voice: a
    // rebuild would not give it one either.
    int orphaned = 0;
    for (size_t r = 0; r < results.size(); ++r)
        if (!voiced[r] && ResultGetsVoice(results[r])) ++orphaned;
    if (orphaned > 0) {
        std::fprintf(stderr, "[Cache] %d orphaned results, deferring rebuild\n", orphaned);
        if (deferredRebuild) deferredRebuild->store(true);
        return false;
    }
    return true;
}

bool CheckPlaybackCacheIntegrity(const DocumentContext& ctx) {
    return CheckPlaybackCacheIntegrity(*ctx.engine, *ctx.project, &ctx.app->deferredRebuild);
}

bool CheckPlaybackCacheIntegrity() { return CheckPlaybackCacheIntegrity(ProgramDocumentContext()); }
