// voice_maintenance.cpp — per-event voice edits, levels, the streaming window
// and the integrity check.
//
// Index
//   Small helpers          ResultIndexById, CountUsedTracksOf
//   ReplaceEventVoices
//   RefreshEventVoices
//   RelinkVoicesToResults
//   Levels                 LoudestGridSum, LevelVoiceGains (keeps the memo), SwitchToLevelledVoices, LevelMemoHolds,
//                          NoteLevelMemoDocument, LevelChangedVoices, UpdateVoiceLevels
//   PrepareVoice           one evicted voice's samples back, decoded on the calling thread
//   CheckPlaybackCacheIntegrity
//
// Every routine here edits voices on the thread that owns them, so it reads
// the voice list unlocked and takes the engine lock only to change it.
#include "operations/voice_maintenance.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
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
    engine.stats.voiceWalks.fetch_add(1, std::memory_order_relaxed);
    for (PlaybackVoice& v : engine.voices) {
        v.eventIndex = mapped(v.eventIndex);
        const bool fill = v.resultIndex >= 0 && project.results[size_t(v.resultIndex)].procMode == 1;
        const bool valid = ValidEvent(project, v.eventIndex);
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
    engine.stats.voiceWalks.fetch_add(1, std::memory_order_relaxed);
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

double LoudestGridSum(const std::vector<HeadroomSpan>& spans, double step) {
    if (spans.empty() || !(step > 0)) return 0;
    return LoudestOfGrid(BuildHeadroomGrid(spans, step));
}

namespace {

// A layer's gain under its event's equal power: `power` is the sum of the
// squared gains of the event's unmuted layers, in voice order. Above unit
// power every layer of the event is divided by its square root.
double EqualPowerLevel(double gain, double power) { return power > 1.0 ? gain / std::sqrt(power) : gain; }

}  // namespace

void LevelEventGains(const std::vector<int32_t>& eventIndex, const std::vector<uint8_t>& muted,
                     std::vector<double>& gains) {
    const size_t n = std::min({eventIndex.size(), muted.size(), gains.size()});
    std::unordered_map<int32_t, double> power;
    for (size_t v = 0; v < n; ++v)
        if (eventIndex[v] >= 0 && !muted[v]) power[eventIndex[v]] += gains[v] * gains[v];
    for (size_t v = 0; v < n; ++v) {
        if (eventIndex[v] < 0) continue;
        auto it = power.find(eventIndex[v]);
        if (it != power.end()) gains[v] = EqualPowerLevel(gains[v], it->second);
    }
}

namespace {

constexpr double kHeadroomStep = 0.02;

// The level a voice counts with in the headroom sum at its levelled gain.
double HeadroomLevel(const AudioEngine& engine, const PlaybackVoice& voice, double gain) {
    const double groupGain = engine.groupGain[size_t(PlayingGroup(voice.group))].load();
    return PlayingGainOf<double>(gain, voice.normGain, voice.eventGain.load(), groupGain) *
           std::max(0.001f, VoicePeak(voice));
}

// The cut that keeps the loudest moment under the master's limit.
double HeadroomCut(const AudioEngine& engine, double loudest) {
    const double limit = 0.7 / std::max(double(engine.masterGain.load()), 0.1);
    return loudest > limit ? limit / loudest : 1.0;
}

// A voice's gain (the levelled gain with the cut) and level scale.
struct VoiceLevelOut {
    float gain = 0;
    float scale = 1;
};
VoiceLevelOut VoiceLevelOf(double input, double scale, double levelled, double cut) {
    const double gain = cut < 1.0 ? levelled * cut : levelled;
    return {float(gain), input > 0 ? float(scale * (gain / input)) : float(scale)};
}

void StoreVoiceLevel(PlaybackVoice& voice, const VoiceLevelOut& level) {
    voice.levelScale = level.scale;
    if (voice.gain.load() != level.gain) voice.gain.store(level.gain);
}

// Stores the voices' gains and level scales: atomics the mixer reads once per
// block, stored without the lock by the thread that owns the voices. A block
// may mix a few voices at their old level and the rest at the new one, once.
void StoreVoiceLevel(PlaybackVoice& voice, double input, double scale, double levelled, double cut) {
    StoreVoiceLevel(voice, VoiceLevelOf(input, scale, levelled, cut));
}

void FinishLevelPass(AudioEngine& engine) {
    engine.stats.levelsGeneration.fetch_add(1);
    engine.cacheReady.store(1);
}

// Each event's voices, ascending, as offsets into one list.
void IndexEventVoices(VoiceLevelMemo& memo) {
    int32_t events = 0;
    for (int32_t e : memo.event) events = std::max(events, e + 1);
    memo.eventFirst.assign(size_t(events) + 1, 0);
    for (int32_t e : memo.event)
        if (e >= 0) ++memo.eventFirst[size_t(e) + 1];
    for (size_t e = 1; e < memo.eventFirst.size(); ++e) memo.eventFirst[e] += memo.eventFirst[e - 1];
    memo.eventVoices.assign(memo.eventFirst.back(), 0);
    std::vector<uint32_t> next(memo.eventFirst.begin(), memo.eventFirst.end() - 1);
    for (size_t v = 0; v < memo.event.size(); ++v)
        if (memo.event[v] >= 0) memo.eventVoices[next[size_t(memo.event[v])]++] = uint32_t(v);
}

// The level passes over `voices` (the engine's, or a set drafted to take
// their place, each as it will be heard) at the inputs given: each voice's
// gain and level scale, with the memo of a full pass kept for that set.
std::vector<VoiceLevelOut> WorkOutVoiceLevels(AudioEngine& engine, const std::vector<const PlaybackVoice*>& voices,
                                              const std::vector<double>& input, const std::vector<double>& scales,
                                              bool full) {
    const size_t n = std::min({voices.size(), input.size(), scales.size()});
    VoiceLevelMemo& memo = engine.levelMemo;
    memo.valid = false;
    engine.stats.voiceWalks.fetch_add(1, std::memory_order_relaxed);
    std::vector<double> gains(input.begin(), input.begin() + long(n));
    std::vector<int32_t> events(n);
    std::vector<uint8_t> muted(n);
    constexpr size_t kAhead = 16;  // each voice a record of its own, far from the next
    for (size_t v = 0; v < n; ++v) {
        if (v + kAhead < n) PrefetchVoice(*voices[v + kAhead]);
        events[v] = voices[v]->eventIndex;
        muted[v] = voices[v]->muted.load();
    }

    // 1. Equal power within each event.
    LevelEventGains(events, muted, gains);

    // 3. Headroom of the loudest moment, over an exact sum kept for the next
    // pass to change (the memo).
    double cut = 1.0;
    if (full) {
        std::vector<HeadroomSpan> spans, quiet;
        std::vector<size_t> spanOf(n, SIZE_MAX);
        spans.reserve(n);
        for (size_t v = 0; v < n; ++v) {
            if (v + kAhead < n) PrefetchVoice(*voices[v + kAhead]);
            const PlaybackVoice& voice = *voices[v];
            const HeadroomSpan span{voice.startTime, double(voice.startTime) + voice.length, 0};
            if (muted[v]) {
                quiet.push_back(span);
                continue;
            }
            spanOf[v] = spans.size();
            spans.push_back({span.start, span.end, HeadroomLevel(engine, voice, gains[v])});
        }
        std::vector<HeadroomCells> cells;
        std::vector<LevelSum> amounts;
        memo.grid = BuildHeadroomGrid(spans, kHeadroomStep, &cells, &amounts, &quiet);
        if (!spans.empty()) {
            cut = HeadroomCut(engine, LoudestOfGrid(memo.grid));
            engine.stats.headroomCut.store(float(cut));
        }
        memo.input.assign(input.begin(), input.begin() + long(n));
        memo.scale.assign(scales.begin(), scales.begin() + long(n));
        memo.level = gains;
        memo.event = std::move(events);
        memo.muted = std::move(muted);
        memo.finite.assign(n, 0);
        memo.start.assign(n, 0);
        memo.cells.assign(n, HeadroomCells{});
        memo.amount.assign(n, 0);
        for (size_t v = 0; v < n; ++v) {
            memo.start[v] = voices[v]->startTime;
            const size_t s = spanOf[v];
            if (s == SIZE_MAX) continue;
            memo.finite[v] = std::isfinite(spans[s].start) && std::isfinite(spans[s].end) && std::isfinite(spans[s].level);
            memo.cells[v] = cells[s];
            memo.amount[v] = amounts[s];
        }
        IndexEventVoices(memo);
        memo.audible = int64_t(spans.size());
        memo.cut = cut;
        for (int g = 0; g < 3; ++g) memo.groupGain[size_t(g)] = engine.groupGain[size_t(g)].load();
        memo.masterGain = engine.masterGain.load();
        memo.documentKnown = false;
        memo.valid = n == voices.size();
    }
    memo.levelled = int64_t(n);
    std::vector<VoiceLevelOut> levels(n);
    for (size_t v = 0; v < n; ++v) levels[v] = VoiceLevelOf(input[v], scales[v], gains[v], cut);
    return levels;
}

}  // namespace

void LevelVoiceGains(AudioEngine& engine, const std::vector<double>& input, const std::vector<double>& scales,
                     bool full) {
    std::vector<const PlaybackVoice*> voices(engine.voices.size());
    for (size_t v = 0; v < voices.size(); ++v) voices[v] = &engine.voices[v];
    const std::vector<VoiceLevelOut> levels = WorkOutVoiceLevels(engine, voices, input, scales, full);
    for (size_t v = 0; v < levels.size(); ++v) StoreVoiceLevel(engine.voices[v], levels[v]);
    engine.levelMemo.inputEdits = engine.levelInputEdits.load();
    FinishLevelPass(engine);
}

void SwitchToLevelledVoices(AudioEngine& engine, VoiceSetDraft& next, const std::vector<const PlaybackVoice*>& heardAs,
                            const std::vector<uint8_t>& kept, const std::vector<double>& input,
                            const std::vector<double>& scales, const std::function<void()>& settle) {
    std::vector<const PlaybackVoice*> voices(next.voices.size());
    for (size_t v = 0; v < voices.size(); ++v)
        voices[v] = v < heardAs.size() && heardAs[v] ? heardAs[v] : &next.voices[v];
    const std::vector<VoiceLevelOut> levels = WorkOutVoiceLevels(engine, voices, input, scales, true);
    // Nothing hears a new voice yet, nor a kept one whose samples the
    // streaming window released (the mixer passes it by, and only this
    // thread gives samples back): their levels go in now. A kept voice with
    // its samples is heard: its gain goes in with the switch, if it changed
    // (its level scale is the owner's alone). So the hold stores the gains
    // of the voices about the playhead, however many the project has (a
    // change of scale moves the loudest moment's cut, and with it every gain).
    std::vector<std::pair<PlaybackVoice*, float>> heard;
    constexpr size_t kAhead = 16;
    for (size_t v = 0; v < levels.size(); ++v) {
        if (v + kAhead < levels.size()) PrefetchVoicePlace(next.voices[v + kAhead]);
        PlaybackVoice& voice = next.voices[v];
        if (v < kept.size() && kept[v] && !voice.evicted.load()) {
            voice.levelScale = levels[v].scale;
            if (voice.gain.load() != levels[v].gain) heard.emplace_back(&voice, levels[v].gain);
        } else {
            StoreVoiceLevel(voice, levels[v]);
        }
    }
    SwitchEngineVoices(engine, next, [&] {
        if (settle) settle();
        for (auto& [voice, gain] : heard) voice->gain.store(gain);
    });
    engine.levelMemo.inputEdits = engine.levelInputEdits.load();
    FinishLevelPass(engine);
}

bool LevelMemoHolds(const AudioEngine& engine, const Project& project) {
    const VoiceLevelMemo& memo = engine.levelMemo;
    if (!memo.valid || !memo.documentKnown || memo.inputEdits != engine.levelInputEdits.load() ||
        memo.resultsRevision != project.resultsRevision || memo.resultCount != project.results.size() ||
        memo.input.size() != engine.voices.size() || memo.masterGain != engine.masterGain.load())
        return false;
    for (int g = 0; g < 3; ++g)
        if (memo.groupGain[size_t(g)] != engine.groupGain[size_t(g)].load()) return false;
    return true;
}

void NoteLevelMemoDocument(AudioEngine& engine, const Project& project) {
    VoiceLevelMemo& memo = engine.levelMemo;
    memo.documentKnown = memo.valid;
    memo.resultsRevision = project.resultsRevision;
    memo.resultCount = project.results.size();
}

bool LevelChangedVoices(AudioEngine& engine, const std::vector<VoiceLevelInput>& changed) {
    VoiceLevelMemo& memo = engine.levelMemo;
    const VoiceList& voices = engine.voices;
    // Whatever happens below, the memo no longer says what the voices hold
    // until a pass has finished.
    memo.valid = false;
    if (memo.input.size() != voices.size() || memo.grid.finite == 0) return false;

    // The events whose equal power may change, and the voices without one.
    std::vector<int32_t> events;
    std::vector<uint32_t> touched;
    for (const VoiceLevelInput& c : changed) {
        if (c.voice >= voices.size() || voices[c.voice].eventIndex != memo.event[c.voice]) return false;
        memo.input[c.voice] = c.gain;
        memo.scale[c.voice] = c.scale;
        const uint8_t muted = voices[c.voice].muted.load();
        memo.audible += int64_t(!muted) - int64_t(!memo.muted[c.voice]);
        memo.muted[c.voice] = muted;
        if (memo.event[c.voice] >= 0) events.push_back(memo.event[c.voice]);
        else touched.push_back(uint32_t(c.voice));
    }
    std::sort(events.begin(), events.end());
    events.erase(std::unique(events.begin(), events.end()), events.end());
    for (int32_t e : events) {
        if (size_t(e) + 1 >= memo.eventFirst.size()) return false;
        const uint32_t* first = memo.eventVoices.data() + memo.eventFirst[size_t(e)];
        const uint32_t* past = memo.eventVoices.data() + memo.eventFirst[size_t(e) + 1];
        // As LevelEventGains sums: the unmuted voices in voice order.
        double power = 0;
        for (const uint32_t* v = first; v < past; ++v)
            if (!memo.muted[*v]) power += memo.input[*v] * memo.input[*v];
        for (const uint32_t* v = first; v < past; ++v) {
            memo.level[*v] = EqualPowerLevel(memo.input[*v], power);
            touched.push_back(*v);
        }
    }
    for (uint32_t v : touched)
        if (memo.event[v] < 0) memo.level[v] = memo.input[v];

    // Each touched voice's amount out of the sum, its new one in. The grid
    // stays as it is only while its origin (the earliest start) does, and a
    // span starts at one of its moments.
    HeadroomGrid& grid = memo.grid;
    for (uint32_t v : touched) {
        const PlaybackVoice& voice = voices[v];
        if (!AddToHeadroomGrid(grid, memo.cells[v], -memo.amount[v])) return false;
        if (memo.finite[v]) {
            --grid.finite;
            if (memo.start[v] == grid.origin) --grid.atOrigin;
        }
        const HeadroomSpan span{voice.startTime, double(voice.startTime) + voice.length,
                                HeadroomLevel(engine, voice, memo.level[v])};
        memo.start[v] = voice.startTime;
        memo.finite[v] = !memo.muted[v] && std::isfinite(span.start) && std::isfinite(span.end) &&
                         std::isfinite(span.level);
        memo.cells[v] = {};
        memo.amount[v] = 0;
        if (!memo.finite[v]) continue;
        if (span.start < grid.origin) return false;
        ++grid.finite;
        if (span.start == grid.origin) ++grid.atOrigin;
        memo.cells[v] = HeadroomCellsOf(grid, span.start, span.end);
        memo.amount[v] = LevelUnits(span.level);
        if (!AddToHeadroomGrid(grid, memo.cells[v], memo.amount[v])) return false;
    }
    if (grid.finite == 0 || grid.atOrigin == 0) return false;

    double cut = 1.0;
    if (memo.audible > 0) {
        cut = HeadroomCut(engine, LoudestOfGrid(grid));
        engine.stats.headroomCut.store(float(cut));
    }
    // The same cut: only the touched voices' gains move. Another: every
    // voice's does, as it would in a whole pass.
    if (cut == memo.cut) {
        for (uint32_t v : touched) StoreVoiceLevel(engine.voices[v], memo.input[v], memo.scale[v], memo.level[v], cut);
    } else {
        for (size_t v = 0; v < voices.size(); ++v)
            StoreVoiceLevel(engine.voices[v], memo.input[v], memo.scale[v], memo.level[v], cut);
    }
    memo.cut = cut;
    // The cut was worked out at the faders as they are now, and the caller
    // listed every voice of a group whose fader moved: the memo is of them.
    for (int g = 0; g < 3; ++g) memo.groupGain[size_t(g)] = engine.groupGain[size_t(g)].load();
    memo.masterGain = engine.masterGain.load();
    memo.levelled = int64_t(touched.size());
    memo.inputEdits = engine.levelInputEdits.load();
    memo.valid = true;
    FinishLevelPass(engine);
    return true;
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
    engine.stats.voiceWalks.fetch_add(1, std::memory_order_relaxed);
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
