// voice_maintenance.cpp — per-event voice edits, levels, the streaming window
// and the integrity check.
//
// Index
//   Small helpers          ResultIndexById, CountUsedTracksOf
//   ReplaceEventVoices
//   RefreshEventVoices
//   RelinkVoicesToResults
//   Levels                 LoudestGridSum, LevelVoiceGains, UpdateVoiceLevels
//   PrepareVoice           one evicted voice's samples back, decoded on the calling thread
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
#include "playback/playing_gain.h"
#include "playback/voice_list.h"
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
    engine.sampleRate.store(sampleRate);
    // Each new voice takes the place of its result's old one when it is
    // ready; until then the old one plays. The event's voices left over (of
    // results that are gone) go after.
    std::vector<uint8_t> drop(engine.voices.size(), 0);
    std::unordered_map<uint32_t, int> slotOf;
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        if (engine.voices[v].eventIndex != eventIndex) continue;
        drop[v] = 1;
        slotOf.emplace(engine.voices[v].resultId, int(v));
    }
    for (size_t i = 0; i < results.size(); ++i) {
        if (results[i].eventIdx != eventIndex) continue;
        PlaybackVoice voice;
        if (!MakePlaybackVoice(engine, results[i], int(i), sampleRate, eventGains, eventCount, events, scaleType,
                               scaleRoot, false, voice))
            continue;
        auto it = slotOf.find(voice.resultId);
        const int slot = it == slotOf.end() ? -1 : it->second;
        if (slot >= 0) {
            drop[size_t(slot)] = 0;
            slotOf.erase(it);
        }
        InstallPlaybackVoice(engine, std::move(voice), results[i].fadeIn, results[i].fadeOut, slot);
    }
    RemoveEngineVoices(engine, drop);
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

    // A fill's voice follows its event's live curve in the current list,
    // however the deleting code left the pointer. The event index is the
    // owner's own field and the curve an atomic: no lock for either.
    for (PlaybackVoice& v : engine.voices) {
        v.eventIndex = mapped(v.eventIndex);
        const bool fill = v.resultIndex >= 0 && project.results[size_t(v.resultIndex)].procMode == 1;
        const bool valid = v.eventIndex >= 0 && size_t(v.eventIndex) < project.events.size();
        const float* curve = fill && valid ? project.events[size_t(v.eventIndex)].intensity.data() : nullptr;
        if (v.intensityCurve.load() != curve) v.intensityCurve.store(curve);
        if (fill && valid && v.intensityCount != kVoiceIntGainPoints) {
            std::lock_guard<EngineMutex> lock(engine.mutex);
            v.intensityCount = kVoiceIntGainPoints;
        }
    }
    // No block reads a curve of the events that were deleted once the lock
    // has been free.
    { std::lock_guard<EngineMutex> barrier(engine.mutex); }

    CountUsedTracks(project.groups, project.results);
    engine.stats.voiceCount.store(int32_t(engine.voices.size()));
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
    // The result index is the owner's bookkeeping (the mixer never reads
    // it): set without the lock, and only where it changed.
    const std::unordered_map<int32_t, int> byId = ResultIndexById(results);
    for (PlaybackVoice& voice : engine.voices) {
        auto it = byId.find(int32_t(voice.resultId));
        const int32_t index = it != byId.end() ? it->second : -1;
        if (voice.resultIndex != index) voice.resultIndex = index;
    }
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

void LevelVoiceGains(AudioEngine& engine, const std::vector<double>& input, const std::vector<double>& scales,
                     bool full) {
    const VoiceList& voices = engine.voices;
    const size_t n = std::min({voices.size(), input.size(), scales.size()});
    std::vector<double> gains(input.begin(), input.begin() + long(n));
    std::vector<int32_t> events(n);
    std::vector<uint8_t> muted(n);
    for (size_t v = 0; v < n; ++v) {
        events[v] = voices[v].eventIndex;
        muted[v] = voices[v].muted.load();
    }

    // 1. Equal power within each event.
    LevelEventGains(events, muted, gains);

    // 3. Headroom of the loudest moment.
    if (full) {
        std::vector<HeadroomSpan> spans;
        spans.reserve(n);
        for (size_t v = 0; v < n; ++v) {
            const PlaybackVoice& voice = voices[v];
            if (muted[v]) continue;
            const double groupGain = engine.groupGain[size_t(PlayingGroup(voice.group))].load();
            const double level = PlayingGainOf<double>(gains[v], voice.normGain, voice.eventGain.load(), groupGain) *
                                 std::max(0.001f, VoicePeak(voice));
            spans.push_back({voice.startTime, double(voice.startTime) + voice.length, level});
        }
        if (!spans.empty()) {
            const double loudest = LoudestGridSum(std::move(spans));
            const double limit = 0.7 / std::max(double(engine.masterGain.load()), 0.1);
            const double cut = loudest > limit ? limit / loudest : 1.0;
            if (cut < 1.0)
                for (double& g : gains) g *= cut;
            engine.stats.headroomCut.store(float(cut));
        }
    }

    // Atomics the mixer reads once per block: stored without the lock by the
    // thread that owns the voices. A block may mix a few voices at their old
    // level and the rest at the new one, once.
    for (size_t v = 0; v < n; ++v) {
        PlaybackVoice& voice = engine.voices[v];
        const float gain = float(gains[v]);
        voice.levelScale = input[v] > 0 ? float(scales[v] * (gains[v] / input[v])) : float(scales[v]);
        if (voice.gain.load() != gain) voice.gain.store(gain);
    }
    engine.stats.levelsGeneration.fetch_add(1);
    engine.cacheReady.store(1);
}

void UpdateVoiceLevels(AudioEngine& engine, bool full) {
    const size_t n = engine.voices.size();
    std::vector<double> gains(n), scales(n);
    for (size_t v = 0; v < n; ++v) {
        gains[v] = engine.voices[v].gain.load();
        scales[v] = engine.voices[v].levelScale;
    }
    LevelVoiceGains(engine, gains, scales, full);
}

// ---------------------------------------------------------------------------
// PrepareVoice
// ---------------------------------------------------------------------------

bool PrepareVoice(AudioEngine& engine, int voiceIndex, const RenderResult& result, int sampleRate) {
    if (voiceIndex < 0 || size_t(voiceIndex) >= engine.voices.size()) return false;
    const PlaybackVoice& voice = engine.voices[size_t(voiceIndex)];
    if (!voice.evicted) return false;
    const uint32_t resultId = voice.resultId;
    VoiceAudio fresh;
    DecodeVoiceSamples(result, voice.pitchShift, sampleRate, !engine.bypassDeconfliction.load(), fresh);
    // Only the swap under the lock: the voice must still be the evicted voice of that result.
    std::lock_guard<EngineMutex> lock(engine.mutex);
    PlaybackVoice& target = engine.voices[size_t(voiceIndex)];
    if (!target.evicted || target.resultId != resultId) return false;
    InstallDecodedSamples(target, fresh);
    return true;
    // The voice's old (empty) buffers leave with `fresh`, after the lock.
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
        const bool samplesOk = resultOk && VoiceSamplesHold(voice, results[size_t(voice.resultIndex)]);
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
