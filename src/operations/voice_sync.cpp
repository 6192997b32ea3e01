// voice_sync.cpp — rebuilding and re-syncing playback voices from the results.
//
// Index
//   Shared starts          EventGainTable, CopyLoudnessTargets, LoadClipPeaks
//   Bringing voices in line   PredictPitchShift, KeepVoice, PlanVoiceWork, BuildOrder, DoVoiceWork
//   RerenderEvents / RerenderEvent
//   Stale voices           SnapshotResultVoiceKeys, EventsWithStaleVoices
//   RebuildCache / RebuildCacheAsync / RebuildCacheAsyncJob   (the build on every core: voice_builds.h;
//                          a playing set's change taken in at once: voice_switch.h)
//   RebuildBedsAsync / RebuildBedsAsyncJob / SyncBedVoices   a Bed change: the voices it reaches
//   SyncVoicesWithResults  RecomputeVoiceLevels (RecomputeLevels), SyncVoicesAsOwner
//   Job bodies             RerenderAfterVariantChange, DrawUIPlaybackRefreshJob
//
// Every rebuild goes one road: a voice whose result would build the very
// samples it holds is kept (its settings and levels refreshed), the others
// are built on every core, and voices of results that are gone are dropped.
// The per-event edits put each new voice in place of its stale one the
// moment it is ready; a whole rebuild of a set that plays builds beside it
// and switches to the finished, levelled set at once. Playback meanwhile
// plays the voices there are: a rebuild never silences the mixer, and a
// voice is never missing between its removal and its replacement.
#include "operations/voice_sync.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <unordered_set>

#include "document/event.h"
#include "document/project.h"
#include "library/file_caches.h"
#include "library/file_registry.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/layer_sounds.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_pitch.h"
#include "operations/voice_streaming.h"
#include "operations/voice_switch.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"
#include "playback/voice_settings.h"
#include "render/clip_bed_events.h"
#include "render/clip_processing.h"
#include "render/scale_tuning.h"
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
// Bringing voices in line (the one road of every rebuild)
// ---------------------------------------------------------------------------

namespace {

// The pitch shift a build at the project's scale settings would give the
// voice, found without decoding from its search for a pitch (its build's,
// or MeasureUnknownVoicePitches'). False when only a new build can tell (no
// search was made, and the shift was made for other settings). `found`: the
// build would write the pitch into the result (ApplyVoicePitch).
bool PredictPitchShift(const PlaybackVoice& voice, const RenderResult& result, const Project& project, bool keepAsIs,
                       float& shift, bool& found) {
    shift = result.pitchShift;
    found = false;
    // Off: the build leaves pitchShift as it is, and so without a clear pitch.
    if (keepAsIs || project.scaleType == kScaleOff) return true;
    if (voice.tuneState == 0) {
        // Kept as stored (an open) for the settings of now: the shift it has.
        const VoiceScale now = VoiceScaleOf(result, project.events.empty() ? nullptr : project.events.data(),
                                            int(project.events.size()), project.scaleType, project.scaleRoot);
        shift = voice.pitchShift;
        return voice.tunedFor == now;
    }
    if (voice.tuneState == 1) return true;
    const bool forcedOff = ValidEvent(project, result.eventIdx) &&
                           project.events[size_t(result.eventIdx)].scaleTuneOverride == kScaleTuneForceOff;
    const float correction = forcedOff ? 0.0f
                                       : ScaleCorrection(voice.tunedPitch.Note(), result.pitchVarShift,
                                                         project.scaleType, project.scaleRoot);
    shift = result.pitchVarShift + correction;
    found = true;
    return true;
}

// Whether a build of `result` now would give the voice the very samples and
// loudness gain it holds. When it would, the result gets the write-backs that
// build makes (the pitch found and its scale correction, loudness gain), so
// the document ends as a full rebuild leaves it.
bool KeepVoice(const AudioEngine& engine, const PlaybackVoice& voice, RenderResult& result, const Project& project,
               int rate, bool keepAsIs) {
    // A layer whose files are not those its sound was measured from is built
    // from what they hold now (a look found them changed or away).
    if (result.missing || result.sound != LayerSound::AsMeasured || !VoiceSamplesHold(voice, result) ||
        voice.buildKey != VoiceBuildKey(engine, rate, result.group))
        return false;
    float shift = 0;
    bool found = false;
    if (!PredictPitchShift(voice, result, project, keepAsIs, shift, found)) return false;
    // Two shifts too small to resample (a note in tune but for its cents)
    // leave the same samples; the voice keeps the one it was built with.
    if (shift != voice.pitchShift && (PitchShiftResamples(shift) || PitchShiftResamples(voice.pitchShift)))
        return false;
    if (found)
        ApplyVoicePitch(result, voice.tunedPitch, project.events.empty() ? nullptr : project.events.data(),
                        int(project.events.size()), project.scaleType, project.scaleRoot);
    result.normGain = voice.normGain;
    // The peak a build measured (or was levelled with while its sound was
    // away); its loudness the result keeps, or, unknown, its loudness gain.
    result.measuredPeak = VoicePeak(voice);
    return true;
}

// What bringing the voices in line will do: the results to build (each
// replacing the voice at its slot, or appended), and the voices to drop.
struct VoiceWork {
    std::vector<size_t> build;
    std::vector<int> slot;      // per result: the voice its new one takes the place of, -1 none
    std::vector<uint8_t> drop;  // per voice
    int expected = 0;           // results in scope that get a voice
};

// `inScope` (per result, null = all) says which results are looked at;
// `force` (per result, may be null) rebuilds a voice whatever its keys.
// Voices of results out of scope are left alone, except that a voice whose
// result is gone, or a second voice of one result, is dropped when every
// result is in scope, or when its event is in `scopeEvents`.
VoiceWork PlanVoiceWork(const DocumentContext& ctx, const std::vector<uint8_t>* inScope,
                        const std::vector<uint8_t>* force, const std::vector<uint8_t>* scopeEvents, bool resolveFiles,
                        bool keepAsIs) {
    Project& project = *ctx.project;
    const AudioEngine& engine = *ctx.engine;
    VoiceWork work;
    work.slot.assign(project.results.size(), -1);
    work.drop.assign(engine.voices.size(), 0);
    auto listed = [](const std::vector<uint8_t>* list, size_t i) { return !list || (i < list->size() && (*list)[i]); };

    std::unordered_map<uint32_t, size_t> voiceOf;
    voiceOf.reserve(engine.voices.size());
    for (size_t v = 0; v < engine.voices.size(); ++v)
        if (!voiceOf.emplace(engine.voices[v].resultId, v).second) work.drop[v] = 1;  // a second voice
    std::unordered_set<uint32_t> alive;
    alive.reserve(project.results.size());
    for (size_t k = 0; k < project.results.size(); ++k) {
        RenderResult& r = project.results[k];
        alive.insert(uint32_t(r.id));
        if (!listed(inScope, k)) continue;
        auto it = voiceOf.find(uint32_t(r.id));
        const int v = it == voiceOf.end() ? -1 : int(it->second);
        if (!ResultGetsVoice(r)) {
            if (v >= 0) work.drop[size_t(v)] = 1;
            continue;
        }
        ++work.expected;
        if (resolveFiles && !r.missing) ResolveResultFiles(r);
        const bool forced = force && k < force->size() && (*force)[k];
        if (v >= 0 && !forced && KeepVoice(engine, engine.voices[size_t(v)], r, project, ctx.sampleRate, keepAsIs))
            continue;
        work.build.push_back(k);
        work.slot[k] = v;
    }
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        const bool inScopeEvent = !inScope || (scopeEvents && voice.eventIndex >= 0 &&
                                               size_t(voice.eventIndex) < scopeEvents->size() &&
                                               (*scopeEvents)[size_t(voice.eventIndex)]);
        if (inScopeEvent && !alive.count(voice.resultId)) work.drop[v] = 1;
    }
    if (!inScope) {
        for (size_t v = 0; v < engine.voices.size(); ++v)
            if (!alive.count(engine.voices[v].resultId)) work.drop[v] = 1;
    }
    return work;
}

// Where playback is: the live playhead while playing, else the context's time.
double PlayheadSeconds(const DocumentContext& ctx) {
    return ctx.engine->playing.load() ? GetPlaybackTime(*ctx.engine) : double(ctx.currentTime);
}

// The results `work` builds, nearest the playhead first.
std::vector<size_t> BuildOrder(const DocumentContext& ctx, const VoiceWork& work) {
    std::vector<size_t> nearest = ResultsNearestFirst(ctx.project->results, PlayheadSeconds(ctx));
    std::vector<uint8_t> wanted(ctx.project->results.size(), 0);
    for (size_t k : work.build) wanted[k] = 1;
    std::vector<size_t> order;
    order.reserve(work.build.size());
    for (size_t k : nearest)
        if (wanted[k]) order.push_back(k);
    return order;
}

// Builds what `work` asks for on every core, nearest the playhead first, each
// new voice in place of its stale one; then drops the voices it marks,
// relinks, and puts the voices in result order. False when the cancel
// stopped the builds (the voices not built yet keep their old ones).
bool DoVoiceWork(const DocumentContext& ctx, VoiceWork& work, bool keepAsIs, const std::atomic<bool>* cancel,
                 std::atomic<float>* bar, bool countProgress) {
    AudioEngine& engine = *ctx.engine;
    const std::vector<size_t> order = BuildOrder(ctx, work);
    engine.stats.buildTotal.store(int32_t(order.size()));
    const bool complete = BuildVoicesOnEveryCore(ctx, order, keepAsIs, cancel, bar, countProgress, &work.slot);
    RemoveEngineVoices(engine, work.drop);
    RelinkVoicesToResults(ctx);
    OrderEngineVoicesByResult(engine);
    return complete;
}

}  // namespace

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
    engine.sampleRate.store(ctx.sampleRate);

    // The listed events' voices are built again, each new voice taking the
    // place of its old one the moment it is ready (the old one plays until
    // then); voices of their results that are gone are dropped after.
    std::vector<uint8_t> listed(project.events.size(), 0);
    for (int e : order)
        if (e >= 0 && size_t(e) < listed.size()) listed[size_t(e)] = 1;
    std::vector<uint8_t> inScope(project.results.size(), 0);
    for (size_t k = 0; k < project.results.size(); ++k) {
        const int32_t e = project.results[k].eventIdx;
        inScope[k] = e >= 0 && size_t(e) < listed.size() && listed[size_t(e)];
    }
    VoiceWork work = PlanVoiceWork(ctx, &inScope, &inScope, &listed, false, false);
    DoVoiceWork(ctx, work, false, nullptr, nullptr, false);
    ReindexEngineVoices(engine);
    // The levels a sync of the new document gives: the headroom is the whole
    // mix's, so re-rendering some events may change every other voice's level.
    RecomputeVoiceLevels(ctx);
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

void RebuildCache(const DocumentContext& ctx, bool quickRebuild, std::atomic<float>* bar) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    LoadClipPeaks(project);
    CountUsedTracks(project.groups, project.results);
    CopyLoudnessTargets(project, engine);
    engine.stats.buildProgress.store(0);
    // Voices at another rate cannot be kept: the set starts again, and what
    // the streaming workers were asked for is of voices that are gone.
    const bool anew = engine.sampleRate.load() != ctx.sampleRate || !engine.cacheReady.load();
    if (anew) {
        if (ctx.app) ForgetStreamedVoices(*ctx.app);
        ResetEngineVoices(engine, ctx.sampleRate, int(project.results.size()));
    }

    // Every voice whose result would build the same samples stays; the
    // others are built on every core, nearest the playhead first. A scale
    // set on voices built without one: their pitches first (a search is far
    // less than a build), so that only the voices it retunes are built.
    const std::atomic<bool>* cancel = ctx.app ? &ctx.app->busyTask.cancelRequested : nullptr;
    bool complete = true;
    size_t toBuild = 0;
    if (anew) {
        // Nothing plays yet: each voice goes in as it is done.
        if (!quickRebuild) MeasureUnknownVoicePitches(ctx, cancel);
        VoiceWork work = PlanVoiceWork(ctx, nullptr, nullptr, nullptr, true, quickRebuild);
        engine.stats.expectedVoices.store(work.expected);
        toBuild = work.build.size();
        complete = DoVoiceWork(ctx, work, quickRebuild, cancel, bar, true);
        RecomputeVoiceLevels(ctx);
        ReindexEngineVoices(engine);
    } else {
        // The set plays: it plays on as it is while the new voices are built
        // beside it (the streaming window kept meanwhile), and the finished
        // set, levelled, takes its place at once. So a change is heard only
        // once it is whole, never half built and at levels the rest of it
        // would change.
        WorkKeepingStreamWindow(ctx, [&] {
            if (!quickRebuild) MeasureUnknownVoicePitches(ctx, cancel);
        });
        VoiceWork work = PlanVoiceWork(ctx, nullptr, nullptr, nullptr, true, quickRebuild);
        engine.stats.expectedVoices.store(work.expected);
        const std::vector<size_t> order = BuildOrder(ctx, work);
        engine.stats.buildTotal.store(int32_t(order.size()));
        toBuild = order.size();
        VoicesBuiltBeside built;
        WorkKeepingStreamWindow(ctx, [&] {
            complete = BuildVoicesBeside(ctx, order, quickRebuild, cancel, bar, true, built);
        });
        SwitchToVoicesBuiltBeside(ctx, built, work.slot, work.drop);
    }
    if (bar) bar->store(1.0f);
    engine.stats.voiceCount.store(int32_t(engine.voices.size()));
    // Some voices are still the old ones: if the program goes on (a quit the
    // designer then declined), the next free frame builds them again.
    if (!complete) {
        std::printf("[Cache] Voice build stopped after %d of %zu voices\n", int(engine.stats.buildProgress.load()),
                    toBuild);
        if (ctx.app) ctx.app->deferredRebuild.store(true);
    }
}

bool RebuildCache(bool quickRebuild) {
    const DocumentContext ctx = ProgramDocumentContext();
    if (!DocumentMayChange(*ctx.app)) return false;
    RebuildCache(ctx, quickRebuild);
    return true;
}

bool RebuildBedsAndWeights(const DocumentContext& ctx, BedChanges* changes) {
    Project& project = *ctx.project;
    const std::atomic<bool>* cancel = ctx.app ? &ctx.app->busyTask.cancelRequested : nullptr;
    // Every Bed against its layer list with one scan of the results (again
    // only after a Bed changed them) and one track assignment, so that a
    // Bed's change costs no pass per Bed, and a quit waits for at most one
    // Bed and that assignment; then the Clips' weights (the Beds are in
    // line by then, and stay so).
    // The record the Beds' repack starts from, for tracks an open or an
    // undo brought (made once for each such set of results).
    KeepTrackMemo(project);
    BedWatch* watch = ctx.app ? &ctx.app->bedWatch : nullptr;
    std::vector<int> beds;
    if (watch && BedsToReadAlone(project, *watch, beds)) {
        // Nothing but Beds changed since the last job: those alone are
        // rebuilt, from the results they had; the Clips' weights are given
        // again only when the probe wrote some since.
        std::vector<std::vector<int>> own = std::move(watch->results.own);
        watch->results.known = false;
        const bool weightsCame = watch->results.probedWeights != project.probedWeightsWritten;
        RebuildListedBedEvents(project, beds, own, cancel, changes);
        if (cancel && cancel->load()) return false;
        if (weightsCame && GiveClipsTheirWeights(project) && changes) changes->tracks.whole = true;
        KeepTrackMemo(project);
        NoteListedBedsRebuilt(project, *watch, beds);
        NoteBedResults(project, *watch, std::move(own));
        ctx.app->bedSync.bedsRead.store(int64_t(beds.size()));
        ctx.app->bedSync.resultsScanned.store(weightsCame);
        return true;
    }
    RebuildBedEvents(project, cancel, changes);
    if (cancel && cancel->load()) return false;
    // A weight given reaches voices the Beds' changes do not name.
    if (ApplyProbedWeights(project) && changes) changes->tracks.whole = true;
    // Again after weights given (they count as a change of the results).
    KeepTrackMemo(project);
    if (watch) {
        NoteBedsRebuilt(project, *watch);
        NoteBedResults(project, *watch, BedResults(project));
        int64_t read = 0;
        for (const Event& e : project.events) read += e.shape == kShapeBed ? 1 : 0;
        ctx.app->bedSync.bedsRead.store(read);
        ctx.app->bedSync.resultsScanned.store(true);
    }
    return true;
}

void RebuildCacheAsyncJob(const DocumentContext& ctx, bool quickRebuild, SoundLook look) {
    // The Beds' layers first (the frame step only noticed they need it), so
    // that the voices follow them in the same job.
    if (!RebuildBedsAndWeights(ctx)) ctx.app->deferredRebuild.store(true);
    if (look == SoundLook::First) LookAtLayerSounds(*ctx.project, FileRegistry::Instance());
    RebuildCache(ctx, quickRebuild, &ctx.app->busyTask.progress);
    SettlePlayhead(*ctx.engine, ctx.currentTime);
    ctx.app->busyTask.done.store(true);
}

bool RebuildCacheAsync(const DocumentContext& ctx, const char* status, bool quickRebuild, SoundLook look) {
    if (!DocumentMayChange(*ctx.app)) return false;
    if (!StartBusyTask(ctx.app->busyTask, status,
                       [ctx, quickRebuild, look] { RebuildCacheAsyncJob(ctx, quickRebuild, look); }, false, 0.0f))
        return false;
    // Counted from the moment the overlay shows, not from when the worker
    // gets its first turn: the count never reads as the last build's.
    ctx.engine->stats.buildProgress.store(0);
    ctx.engine->stats.buildTotal.store(int32_t(ctx.project->results.size()));
    return true;
}

bool RebuildCacheAsync(const char* status, bool quickRebuild, SoundLook look) {
    return RebuildCacheAsync(ProgramDocumentContext(), status, quickRebuild, look);
}

// ---------------------------------------------------------------------------
// RebuildBedsAsync / RebuildBedsAsyncJob / SyncBedVoices
// ---------------------------------------------------------------------------

namespace {

// The voice of result k (voices stand in result order after every rebuild),
// -1 when it has none there.
int VoiceOfResult(const AudioEngine& engine, size_t k, int32_t id) {
    const VoiceList& voices = engine.voices;
    size_t lo = 0, hi = voices.size();
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (voices[mid].resultIndex < int32_t(k)) lo = mid + 1;
        else hi = mid;
    }
    return lo < voices.size() && voices[lo].resultIndex == int32_t(k) && voices[lo].resultId == uint32_t(id)
               ? int(lo)
               : -1;
}

int64_t RecomputeLevels(const DocumentContext& ctx, const std::vector<size_t>* settle, bool levelsHeld);

}  // namespace

bool SyncBedVoices(const DocumentContext& ctx, const BedChanges& changes, bool levelsHeld) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;
    if (changes.tracks.whole || engine.sampleRate.load() != ctx.sampleRate || !engine.cacheReady.load()) return false;
    // In reach: the changed Beds' layers, and the layers placed again.
    std::vector<int> reach = changes.results;
    reach.insert(reach.end(), changes.tracks.placed.begin(), changes.tracks.placed.end());
    std::sort(reach.begin(), reach.end());
    reach.erase(std::unique(reach.begin(), reach.end()), reach.end());
    std::vector<int> voiceAt(reach.size(), -1);
    for (size_t i = 0; i < reach.size(); ++i) {
        const size_t k = size_t(reach[i]);
        if (k >= project.results.size()) return false;
        voiceAt[i] = VoiceOfResult(engine, k, project.results[k].id);
        if ((voiceAt[i] >= 0) != ResultGetsVoice(project.results[k])) return false;
    }

    CopyLoudnessTargets(project, engine);
    if (ctx.app) ForgetStreamedVoices(*ctx.app);
    // As RebuildCache plans every voice: the files found again, a voice
    // whose samples still hold kept, the others built in place.
    std::vector<size_t> build;
    std::vector<int> slots;
    for (size_t i = 0; i < reach.size(); ++i) {
        RenderResult& r = project.results[size_t(reach[i])];
        if (!r.filepath.empty()) GetWaveformPeaks(r.filepath.c_str());
        if (voiceAt[i] < 0) continue;
        if (!r.missing) ResolveResultFiles(r);
        if (KeepVoice(engine, engine.voices[size_t(voiceAt[i])], r, project, ctx.sampleRate, false)) continue;
        build.push_back(size_t(reach[i]));
        if (slots.size() <= size_t(reach[i])) slots.resize(size_t(reach[i]) + 1, -1);
        slots[size_t(reach[i])] = voiceAt[i];
    }
    // Nearest the playhead first.
    const double playhead = PlayheadSeconds(ctx);
    auto distance = [&](size_t k) {
        const RenderResult& r = project.results[k];
        const double start = r.startTime, end = start + std::max(0.0f, r.duration);
        const double d = playhead < start ? start - playhead : playhead > end ? playhead - end : 0.0;
        return std::isfinite(d) ? d : std::numeric_limits<double>::max();
    };
    std::stable_sort(build.begin(), build.end(), [&](size_t a, size_t b) { return distance(a) < distance(b); });
    engine.stats.buildProgress.store(0);
    engine.stats.buildTotal.store(int32_t(build.size()));
    const std::atomic<bool>* cancel = ctx.app ? &ctx.app->busyTask.cancelRequested : nullptr;
    std::atomic<float>* bar = ctx.app ? &ctx.app->busyTask.progress : nullptr;
    const bool complete = BuildVoicesOnEveryCore(ctx, build, false, cancel, bar, true, &slots);
    if (bar) bar->store(1.0f);
    // Each new voice took its old one's place; should one have been appended
    // instead, the voices are put in result order again.
    const size_t voiceCount = engine.voices.size();
    std::vector<size_t> settleList;
    bool inPlace = true;
    for (size_t i = 0; i < reach.size() && inPlace; ++i) {
        const int v = VoiceOfResult(engine, size_t(reach[i]), project.results[size_t(reach[i])].id);
        if (v >= 0) settleList.push_back(size_t(v));
        inPlace = v >= 0 || voiceAt[i] < 0;
    }
    if (!inPlace || engine.voices.size() != voiceCount) {
        RelinkVoicesToResults(ctx);
        OrderEngineVoicesByResult(engine);
        settleList.clear();
        for (int k : reach) {
            const int v = VoiceOfResult(engine, size_t(k), project.results[size_t(k)].id);
            if (v >= 0) settleList.push_back(size_t(v));
        }
        levelsHeld = false;
    }
    // With the last pass's memo still true of every other voice, the levels
    // are worked out again for these voices alone; else over them all.
    const int64_t settled = RecomputeLevels(ctx, &settleList, levelsHeld);
    // A voice whose span changed left the mixer's time index, which looks at
    // it on its own: a new index only once many have.
    ReindexWhenLoose(engine);
    engine.stats.voiceCount.store(int32_t(engine.voices.size()));
    if (ctx.app) {
        ctx.app->bedSync.voicesCompared.store(int64_t(reach.size()));
        ctx.app->bedSync.voicesSettled.store(settled);
        ctx.app->bedSync.voicesLevelled.store(engine.levelMemo.levelled);
        if (!complete) {
            std::printf("[Cache] Voice build stopped after %d of %zu voices\n", int(engine.stats.buildProgress.load()),
                        build.size());
            ctx.app->deferredRebuild.store(true);
        }
    }
    return true;
}

void RebuildBedsAsyncJob(const DocumentContext& ctx) {
    BedChanges changes;
    // Asked before the Beds change the results: whether the last level pass
    // still describes everything but what this job changes.
    const bool levelsHeld = LevelMemoHolds(*ctx.engine, *ctx.project);
    if (!RebuildBedsAndWeights(ctx, &changes)) ctx.app->deferredRebuild.store(true);
    AppState::BedSyncCounts& counts = ctx.app->bedSync;
    counts.layersPacked.store(changes.tracks.visited);
    counts.whole.store(false);
    if (!SyncBedVoices(ctx, changes, levelsHeld)) {
        counts.whole.store(true);
        counts.voicesCompared.store(int64_t(ctx.project->results.size()));
        counts.voicesSettled.store(int64_t(ctx.engine->voices.size()));
        counts.voicesLevelled.store(int64_t(ctx.engine->voices.size()));
        RebuildCache(ctx, false, &ctx.app->busyTask.progress);
    }
    SettlePlayhead(*ctx.engine, ctx.currentTime);
    ctx.app->busyTask.done.store(true);
}

bool RebuildBedsAsync(const DocumentContext& ctx) {
    if (!DocumentMayChange(*ctx.app)) return false;
    if (!StartBusyTask(ctx.app->busyTask, "Updating audio...", [ctx] { RebuildBedsAsyncJob(ctx); }, false, 0.0f))
        return false;
    ctx.engine->stats.buildProgress.store(0);
    ctx.engine->stats.buildTotal.store(0);
    return true;
}

// ---------------------------------------------------------------------------
// SyncVoicesWithResults
// ---------------------------------------------------------------------------

namespace {

// RecomputeVoiceLevels with its settings confined to the voices listed in
// `settle` (null: every voice): the others' settings are taken as they
// stand. With `levelsHeld` (the memo of the last level pass holds for every
// voice but these), only the listed voices' levels are worked out again;
// else every voice's gain is, since the loudest moment is a sum over them
// all. Returns the voices it settled.
int64_t RecomputeLevels(const DocumentContext& ctx, const std::vector<size_t>* settle, bool levelsHeld) {
    AudioEngine& engine = *ctx.engine;
    const Project& project = *ctx.project;
    const int eventCount = int(project.events.size());
    const Event* events = project.events.empty() ? nullptr : project.events.data();
    const size_t n = engine.voices.size();
    auto resultOf = [&](const PlaybackVoice& voice) -> const RenderResult* {
        const int32_t r = voice.resultIndex;
        if (r < 0 || size_t(r) >= project.results.size() || uint32_t(project.results[size_t(r)].id) != voice.resultId)
            return nullptr;
        return &project.results[size_t(r)];
    };
    // Each event's gain, read only where a settled voice needs it: a few
    // settled voices do not read every event of a long project.
    std::vector<float> eventGains;
    if (settle) {
        eventGains.assign(project.events.size(), 1.0f);
        for (size_t v : *settle) {
            const RenderResult* result = v < n ? resultOf(engine.voices[v]) : nullptr;
            if (result && result->eventIdx >= 0 && result->eventIdx < eventCount)
                eventGains[size_t(result->eventIdx)] = project.events[size_t(result->eventIdx)].gain;
        }
    } else {
        eventGains = EventGainTable(project);
    }
    const float* gainTable = eventGains.empty() ? nullptr : eventGains.data();
    std::vector<size_t> every;
    engine.stats.voiceWalks.fetch_add(1, std::memory_order_relaxed);
    if (!settle) {
        every.resize(n);
        for (size_t v = 0; v < n; ++v) every[v] = v;
        settle = &every;
        levelsHeld = false;
    }
    // Worked out unlocked (this thread owns the voices). Under the lock only
    // the voices whose placement or curves changed are rewritten; the gains,
    // event gains and mutes are atomics, stored without it.
    std::vector<size_t> changed;
    std::vector<VoiceLevelInput> inputs;
    int64_t settled = 0;
    for (size_t v : *settle) {
        if (v >= n) continue;
        PlaybackVoice& voice = engine.voices[v];
        const RenderResult* result = resultOf(voice);
        if (!result) continue;
        ++settled;
        // The owner's own fields and the curve's link need no lock.
        SetVoiceOwnerSettings(voice, *result, voice.resultIndex, eventCount, events);
        if (!VoiceHoldsMixSettings(voice, *result, eventCount, events) || v >= engine.voiceFadeIn.size() ||
            v >= engine.voiceFadeOut.size() || engine.voiceFadeIn[v] != result->fadeIn ||
            engine.voiceFadeOut[v] != result->fadeOut)
            changed.push_back(v);
        const VoiceLevelSettings levels = VoiceLevelSettingsFor(*result, gainTable, eventCount, events);
        voice.muted.store(levels.muted);
        voice.eventGain.store(levels.eventGain);
        // The build's gain with its headroom cut, before any levelling.
        inputs.push_back({v, double(VoiceGain(*result, voice)), 1.0});
    }
    // A few dozen voices per hold, so that an edit that moves many (a track
    // assignment that shifts a whole group) never holds the lock for long.
    constexpr size_t kVoicesPerHold = 64;
    for (size_t at = 0; at < changed.size(); at += kVoicesPerHold) {
        EngineLock lock = LockForVoiceEdit(engine);
        for (size_t k = at; k < std::min(changed.size(), at + kVoicesPerHold); ++k) {
            const size_t v = changed[k];
            PlaybackVoice& voice = engine.voices[v];
            const RenderResult& result = project.results[size_t(voice.resultIndex)];
            SetVoiceMixSettings(voice, result, eventCount, events);
            if (v < engine.voiceFadeIn.size()) engine.voiceFadeIn[v] = result.fadeIn;
            if (v < engine.voiceFadeOut.size()) engine.voiceFadeOut[v] = result.fadeOut;
            RefreshVoiceSpanLocked(engine, v);
        }
    }
    if (!levelsHeld || !LevelChangedVoices(engine, inputs)) {
        // Every voice's gain as a build gives it; a voice without its result
        // keeps the gain it has (and the memo is of no use to the next pass).
        // The settled voices' gains were worked out above.
        std::vector<double> gains(n, 0.0), scales(n, 1.0);
        std::vector<uint8_t> known(n, 0);
        for (const VoiceLevelInput& in : inputs) {
            gains[in.voice] = in.gain;
            known[in.voice] = 1;
        }
        bool everyResult = true;
        for (size_t v = 0; v < n; ++v) {
            if (known[v]) continue;
            const PlaybackVoice& voice = engine.voices[v];
            const RenderResult* result = resultOf(voice);
            if (!result) {
                gains[v] = voice.gain.load();
                scales[v] = voice.levelScale;
                everyResult = false;
                continue;
            }
            gains[v] = double(VoiceGain(*result, voice));
        }
        LevelVoiceGains(engine, gains, scales, true);
        if (!everyResult) engine.levelMemo.valid = false;
    }
    NoteLevelMemoDocument(engine, project);
    return settled;
}

}  // namespace

void RecomputeVoiceLevels(const DocumentContext& ctx) { RecomputeLevels(ctx, nullptr, false); }

void SettleVoiceLevels(const DocumentContext& ctx, const std::vector<size_t>& voices, bool levelsHeld) {
    if (ctx.engine->voices.empty()) return;  // nothing plays yet: the first build levels
    RecomputeLevels(ctx, &voices, levelsHeld);
    // A voice whose place changed left the mixer's time index.
    ReindexWhenLoose(*ctx.engine);
}

void SyncVoicesAsOwner(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    AudioEngine& engine = *ctx.engine;

    // Voices whose result is gone (or that repeat one) are dropped; results
    // without a voice, or whose voice was made from something else than the
    // result now is, get theirs built, each new voice taking the place of
    // its stale one when it is ready.
    VoiceWork work = PlanVoiceWork(ctx, nullptr, nullptr, nullptr, false, false);
    std::set<int> lacking;
    for (size_t k : work.build) lacking.insert(project.results[k].eventIdx);
    const int eventCount = int(project.events.size());
    if (int(lacking.size()) > std::max(eventCount / 4, 10)) {
        RebuildCache(ctx, false);
        return;
    }
    engine.stats.expectedVoices.store(work.expected);
    DoVoiceWork(ctx, work, false, nullptr, nullptr, false);
    CountUsedTracks(project.groups, project.results);
    engine.stats.voiceCount.store(int32_t(engine.voices.size()));
    // Every level as a full rebuild of these voices would leave it.
    RecomputeVoiceLevels(ctx);
    ReindexEngineVoices(engine);
    CheckPlaybackCacheIntegrity(ctx);
}

bool SyncVoicesWithResults(const DocumentContext& ctx, bool seekPlayback) {
    if (!DocumentMayChange(*ctx.app)) {
        std::printf("[Cache] Voice sync refused while the document is busy; rebuild deferred\n");
        ctx.app->deferredRebuild.store(true);
        return false;
    }
    SyncVoicesAsOwner(ctx);
    if (seekPlayback) SettlePlayhead(*ctx.engine, ctx.currentTime);
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
    SettlePlayhead(*ctx.engine, ctx.currentTime);
}

void DrawUIPlaybackRefreshJob(const DocumentContext& ctx, int eventIndex) {
    RerenderEvent(ctx, eventIndex);
    // The Bed rebuild that asked for this job ran the track assignment: the
    // other events' voices follow too.
    SyncVoicesAsOwner(ctx);
    NoteBedsRebuilt(*ctx.project, ctx.app->bedWatch);
    SettlePlayhead(*ctx.engine, ctx.currentTime);
    ctx.app->busyTask.done.store(true);
}
