// engine_voices.cpp — the voice set: reset, room, install, removal, order,
// the time index, and the event-list swap that keeps voices' curve pointers
// inside the live document.
//
// Index
//   Pins                 PinEngineVoices, UnpinEngineVoices, LockForVoiceEdit
//   Relists              VoiceTable (a list made beside the live one), RelistVoices
//   ResetEngineVoices
//   LockWithVoiceRoom / InstallPlaybackVoice
//   RemoveEngineVoices
//   OrderEngineVoicesByResult   VoicesInResultOrder, the relist in result order
//   SwitchEngineVoices   a drafted set in place of the live one
//   Spans and index      ReindexEngineVoices, ReindexWhenLoose, SetVoicePlacements,
//                        RefreshVoiceSpanLocked
//   Streaming window     CopyVoiceWithoutSamples, VoiceInStreamWindow, EvictVoiceSamples,
//                        VoiceHoldsTwoChannels, InstallDecodedSamples
//   Event list           RelinkVoiceCurves, ReplaceDocumentEvents, AppendDocumentEvents
#include "playback/engine_voices.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <thread>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"

namespace {

constexpr size_t kDefaultVoiceRoom = 256;

float OnePoleCoefficient(double seconds, int rate) {
    return float(1.0 - std::exp(-1.0 / (seconds * double(std::max(rate, 1)))));
}

}  // namespace

// A new PlaybackVoice field must be copied here too.
void CopyVoiceWithoutSamples(const PlaybackVoice& from, PlaybackVoice& to) {
    static_assert(sizeof(PlaybackVoice) == 21096, "PlaybackVoice changed: copy the new field here");
    to.stereo = from.stereo;
    to.length = from.length;
    to.sampleCount = from.sampleCount;
    to.spliceTimes = from.spliceTimes;
    to.spliceFades = from.spliceFades;
    to.spliceCount = from.spliceCount;
    to.chunks = from.chunks;
    to.chunkCount = from.chunkCount;
    to.fillSeeded = from.fillSeeded;
    to.startTime = from.startTime;
    to.plainStartTime = from.plainStartTime;
    to.gain = from.gain;
    to.levelScale = from.levelScale;
    to.normGain = from.normGain;
    to.eventGain = from.eventGain;
    to.pan = from.pan;
    to.group = from.group;
    to.muted = from.muted;
    to.eventIndex = from.eventIndex;
    to.resultIndex = from.resultIndex;
    to.resultId = from.resultId;
    to.peakOverview = from.peakOverview;
    to.rmsOverview = from.rmsOverview;
    to.overviewPeak = from.overviewPeak;
    to.fillGain = from.fillGain;
    to.hasFillGain = from.hasFillGain;
    to.fillGainSpan = from.fillGainSpan;
    to.intGain = from.intGain;
    to.hasIntGain = from.hasIntGain;
    to.deconGain = from.deconGain;
    to.hasDeconGain = from.hasDeconGain;
    to.intensityCurve = from.intensityCurve;
    to.intensityCount = from.intensityCount;
    to.intensityIsBed = from.intensityIsBed;
    to.intensityScale = from.intensityScale;
    to.reverbSend = from.reverbSend;
    to.switchGain = from.switchGain;
    to.switchPass = from.switchPass;
    to.evicted = from.evicted;
    to.pitchShift = from.pitchShift;
    to.sampleKey = from.sampleKey;
    to.buildKey = from.buildKey;
    to.tuneState = from.tuneState;
    to.tunedPitch = from.tunedPitch;
    to.tunedFor = from.tunedFor;
}

// ---------------------------------------------------------------------------
// Pins
// ---------------------------------------------------------------------------

void PinEngineVoices(AudioEngine& engine) {
    std::lock_guard<EngineMutex> lock(engine.mutex);
    engine.voicePins.fetch_add(1);
}

void UnpinEngineVoices(AudioEngine& engine) {
    // No lock: lowering a pin never disturbs an edit, and a reader that is
    // done must not wait for one.
    engine.voicePins.fetch_sub(1);
}

EngineLock LockForVoiceEdit(AudioEngine& engine) {
    for (;;) {
        // The pins are waited out without the lock: taking it to look, every
        // few milliseconds for as long as an export runs, would be hundreds
        // of holds a second, each a chance for the mixer's try to miss.
        while (engine.voicePins.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EngineLock lock(engine.mutex);
        if (engine.voicePins.load() <= 0) return lock;
    }
}

// ---------------------------------------------------------------------------
// Relists
// ---------------------------------------------------------------------------

namespace {

// Everything that stands parallel to the voices, made beside the live engine.
struct VoiceTable {
    VoiceList voices;
    std::vector<float> fadeIn, fadeOut;
    std::vector<VoiceSpan> spans;
    VoiceTimeIndex index;
    std::vector<uint32_t> scratch;

    explicit VoiceTable(size_t room) {
        voices.reserve(room);
        fadeIn.reserve(room);
        fadeOut.reserve(room);
        spans.reserve(room);
        scratch.assign(room, 0);
    }
    // Indexes what was added; call once the voices are in.
    void Index() {
        index = BuildVoiceTimeIndex(spans);
        if (scratch.size() < voices.capacity()) scratch.assign(voices.capacity(), 0);
    }
    // Caller holds the lock.
    void SwapInto(AudioEngine& engine) {
        engine.voices.swap(voices);
        engine.voiceFadeIn.swap(fadeIn);
        engine.voiceFadeOut.swap(fadeOut);
        engine.voiceSpans.swap(spans);
        std::swap(engine.voiceIndex, index);
        engine.mixScratch.swap(scratch);
        engine.stats.voiceCount.store(int32_t(engine.voices.size()));
    }
};

// Replaces the voice list by the voices at the indices `from`, in that order,
// in lists with room for `room` voices. The new list holds pointers to the
// same voices; it, their fades, spans and the time index are made unlocked
// (this thread is the only writer), and under the lock the lists change
// places in a few swaps. The old lists, and the voices only they held, are
// freed unlocked. False, with nothing changed, when the list changed size
// meanwhile.
bool RelistVoices(AudioEngine& engine, const std::vector<size_t>& from, size_t room) {
    const size_t n = engine.voices.size();
    const int rate = engine.sampleRate.load();
    VoiceTable next(std::max(room, from.size()));
    for (size_t i : from) {
        next.voices.PushRecord(engine.voices.Record(i));
        next.fadeIn.push_back(i < engine.voiceFadeIn.size() ? engine.voiceFadeIn[i] : 0.04f);
        next.fadeOut.push_back(i < engine.voiceFadeOut.size() ? engine.voiceFadeOut[i] : 0.05f);
        next.spans.push_back(VoiceSpanOf(engine.voices[i], rate));
    }
    next.Index();
    EngineLock lock = LockForVoiceEdit(engine);
    if (engine.voices.size() != n) return false;
    next.SwapInto(engine);
    lock.unlock();
    return true;
}

// Every index, or those not marked in `drop` (entries past its end kept).
std::vector<size_t> KeptVoices(size_t count, const std::vector<uint8_t>* drop) {
    std::vector<size_t> from;
    from.reserve(count);
    for (size_t i = 0; i < count; ++i)
        if (!(drop && i < drop->size() && (*drop)[i])) from.push_back(i);
    return from;
}

}  // namespace

// ---------------------------------------------------------------------------
// ResetEngineVoices
// ---------------------------------------------------------------------------

void ResetEngineVoices(AudioEngine& engine, int sampleRate, int expectedVoices) {
    NoteLevelInputEdit(engine);
    engine.cacheReady.store(0);
    engine.stats.voiceCount.store(0);
    engine.stats.buildProgress.store(0);
    // The counts of the streaming window describe the voices that exist.
    engine.stats.loadedVoices.store(0);
    engine.stats.waitingVoices.store(0);

    VoiceTable empty(expectedVoices < 1 ? kDefaultVoiceRoom : size_t(expectedVoices));
    empty.Index();
    {
        EngineLock lock = LockForVoiceEdit(engine);
        engine.sampleRate.store(sampleRate);
        engine.limiterAttack = OnePoleCoefficient(0.002, sampleRate);
        engine.limiterRelease = OnePoleCoefficient(0.2, sampleRate);
        engine.limiterEnvelope = 0;
        empty.SwapInto(engine);
    }
    // The old voices and their samples are freed here, with the lock released.
}

// ---------------------------------------------------------------------------
// LockWithVoiceRoom / InstallPlaybackVoice
// ---------------------------------------------------------------------------

EngineLock LockWithVoiceRoom(AudioEngine& engine, size_t extraVoices) {
    for (;;) {
        EngineLock lock = LockForVoiceEdit(engine);
        const size_t need = engine.voices.size() + extraVoices;
        if (need <= engine.voices.capacity() && need <= engine.voiceFadeIn.capacity() &&
            need <= engine.voiceFadeOut.capacity() && need <= engine.voiceSpans.capacity() &&
            need <= engine.mixScratch.size())
            return lock;
        const size_t want = std::max({need, 2 * engine.voices.capacity(), kDefaultVoiceRoom});
        lock.unlock();
        RelistVoices(engine, KeptVoices(engine.voices.size(), nullptr), want);
        // Then check again.
    }
}

void InstallPlaybackVoice(AudioEngine& engine, PlaybackVoice&& voice, float fadeIn, float fadeOut,
                          int replaceSlot) {
    NoteLevelInputEdit(engine);
    // The record and its span are made before locking.
    const VoiceSpan span = VoiceSpanOf(voice, engine.sampleRate.load());
    auto record = std::make_shared<PlaybackVoice>(std::move(voice));
    EngineLock lock = LockWithVoiceRoom(engine, 1);
    // Keep the parallel lists as long as the voices even if a caller broke it.
    const size_t n = engine.voices.size();
    if (engine.voiceFadeIn.size() != n) engine.voiceFadeIn.resize(n, 0.04f);
    if (engine.voiceFadeOut.size() != n) engine.voiceFadeOut.resize(n, 0.05f);
    if (engine.voiceSpans.size() != n) engine.voiceSpans.resize(n, VoiceSpan{});
    const size_t slot = size_t(replaceSlot);
    if (replaceSlot >= 0 && slot < n && engine.voices[slot].resultId == record->resultId) {
        engine.voices.SwapRecord(slot, record);
        engine.voiceFadeIn[slot] = fadeIn;
        engine.voiceFadeOut[slot] = fadeOut;
        VoiceSpan& stored = engine.voiceSpans[slot];
        const bool moved = stored.start != span.start || stored.end != span.end;
        // A loose voice stays so (and listed) until the next index.
        stored.start = span.start;
        stored.end = span.end;
        if (moved) MarkVoiceLoose(engine.voiceIndex, engine.voiceSpans, slot);
    } else {
        engine.voiceFadeIn.push_back(fadeIn);
        engine.voiceFadeOut.push_back(fadeOut);
        engine.voiceSpans.push_back(span);
        engine.voices.PushRecord(std::move(record));
    }
    engine.stats.voiceCount.store(int32_t(engine.voices.size()));
    lock.unlock();
    // A replaced voice is freed here, unlocked.
}

// ---------------------------------------------------------------------------
// RemoveEngineVoices
// ---------------------------------------------------------------------------

size_t RemoveEngineVoices(AudioEngine& engine, const std::vector<uint8_t>& drop) {
    engine.stats.voiceWalks.fetch_add(1, std::memory_order_relaxed);
    NoteLevelInputEdit(engine);
    for (;;) {
        size_t count = 0;
        const size_t marked = std::min(drop.size(), engine.voices.size());
        for (size_t i = 0; i < marked; ++i) count += drop[i] ? 1 : 0;
        if (count == 0) return 0;
        // Keep the room, so that the voices built next need not grow the list.
        const size_t room = std::max(engine.voices.capacity(), engine.voices.size() - count);
        if (RelistVoices(engine, KeptVoices(engine.voices.size(), &drop), room)) return count;
    }
}

// ---------------------------------------------------------------------------
// OrderEngineVoicesByResult
// ---------------------------------------------------------------------------

bool VoicesInResultOrder(const AudioEngine& engine) {
    // Voices without a result (index < 0) stand after all the others.
    auto key = [](const PlaybackVoice& v) { return v.resultIndex < 0 ? INT64_MAX : int64_t(v.resultIndex); };
    for (size_t i = 1; i < engine.voices.size(); ++i)
        if (key(engine.voices[i - 1]) > key(engine.voices[i])) return false;
    return true;
}

bool OrderEngineVoicesByResult(AudioEngine& engine) {
    NoteLevelInputEdit(engine);
    for (;;) {
        if (VoicesInResultOrder(engine)) return false;
        std::vector<size_t> from = KeptVoices(engine.voices.size(), nullptr);
        std::stable_sort(from.begin(), from.end(), [&engine](size_t a, size_t b) {
            const int32_t ra = engine.voices[a].resultIndex, rb = engine.voices[b].resultIndex;
            return rb < 0 ? ra >= 0 : ra >= 0 && ra < rb;
        });
        if (RelistVoices(engine, from, engine.voices.capacity())) return true;
    }
}

// ---------------------------------------------------------------------------
// SwitchEngineVoices
// ---------------------------------------------------------------------------

void SwitchEngineVoices(AudioEngine& engine, VoiceSetDraft& draft, const std::function<void()>& inHold) {
    NoteLevelInputEdit(engine);
    const int rate = engine.sampleRate.load();
    const size_t n = draft.voices.size();
    VoiceTable next(std::max(n, engine.voices.capacity()));
    next.voices.swap(draft.voices);  // the records move, their list with them
    if (next.voices.capacity() < next.spans.capacity()) next.voices.reserve(next.spans.capacity());
    for (size_t i = 0; i < n; ++i) {
        if (i + 16 < n) PrefetchVoicePlace(next.voices[i + 16]);
        next.fadeIn.push_back(i < draft.fadeIn.size() ? draft.fadeIn[i] : 0.04f);
        next.fadeOut.push_back(i < draft.fadeOut.size() ? draft.fadeOut[i] : 0.05f);
        next.spans.push_back(VoiceSpanOf(next.voices[i], rate));
    }
    next.Index();
    draft = VoiceSetDraft();
    {
        EngineLock lock = LockForVoiceEdit(engine);
        next.SwapInto(engine);
        if (inHold) inHold();
    }
    // The old lists (now in `next`) and the voices only they held go here, unlocked.
}

// ---------------------------------------------------------------------------
// Spans and index
// ---------------------------------------------------------------------------

void ReindexEngineVoices(AudioEngine& engine) {
    for (;;) {
        const size_t n = engine.voices.size();
        const int rate = engine.sampleRate.load();
        std::vector<VoiceSpan> spans;
        spans.reserve(std::max(engine.voices.capacity(), n));
        for (size_t v = 0; v < n; ++v) spans.push_back(VoiceSpanOf(engine.voices[v], rate));
        VoiceTimeIndex index = BuildVoiceTimeIndex(spans);
        std::vector<uint32_t> scratch;
        if (engine.mixScratch.size() < engine.voices.capacity()) scratch.assign(engine.voices.capacity(), 0);
        EngineLock lock = LockForVoiceEdit(engine);
        if (engine.voices.size() != n) continue;
        engine.voiceSpans.swap(spans);
        std::swap(engine.voiceIndex, index);
        if (!scratch.empty()) engine.mixScratch.swap(scratch);
        return;
        // The old spans and index are freed as the lock is released.
    }
}

bool ReindexWhenLoose(AudioEngine& engine) {
    // Read unlocked: only this thread marks voices loose or swaps the index.
    if (!IndexWantsRebuild(engine.voiceIndex, engine.voices.size())) return false;
    ReindexEngineVoices(engine);
    return true;
}

void RefreshVoiceSpanLocked(AudioEngine& engine, size_t v) {
    NoteLevelInputEdit(engine);
    if (v >= engine.voices.size() || v >= engine.voiceSpans.size()) return;
    const VoiceSpan span = VoiceSpanOf(engine.voices[v], engine.sampleRate.load());
    VoiceSpan& stored = engine.voiceSpans[v];
    if (span.start == stored.start && span.end == stored.end) return;
    stored.start = span.start;
    stored.end = span.end;
    MarkVoiceLoose(engine.voiceIndex, engine.voiceSpans, v);
}

void SetVoicePlacements(AudioEngine& engine, const std::vector<VoicePlacement>& placements) {
    NoteLevelInputEdit(engine);
    if (placements.empty()) return;
    EngineLock lock = LockForVoiceEdit(engine);
    for (const VoicePlacement& p : placements) {
        if (p.voice >= engine.voices.size()) continue;
        PlaybackVoice& v = engine.voices[p.voice];
        v.startTime = p.startTime;
        v.plainStartTime = p.plainStartTime;
        RefreshVoiceSpanLocked(engine, p.voice);
    }
}

// ---------------------------------------------------------------------------
// Streaming window
// ---------------------------------------------------------------------------

bool VoiceInStreamWindow(const AudioEngine& engine, const PlaybackVoice& voice, double seconds) {
    const double window = engine.streamWindow.load();
    const double start = voice.startTime;
    return start + double(voice.length) > seconds - window && seconds + window > start;
}

void EvictVoiceSamples(PlaybackVoice& voice, std::vector<float>& left, std::vector<float>& right) {
    left.swap(voice.left);
    right.swap(voice.right);
    std::vector<float>().swap(voice.left);  // no capacity left behind
    std::vector<float>().swap(voice.right);
    voice.evicted = 1;
}

bool VoiceHoldsTwoChannels(const PlaybackVoice& voice) {
    return voice.stereo && (voice.evicted || !voice.right.empty());
}

void InstallDecodedSamples(PlaybackVoice& voice, VoiceAudio& decoded) {
    voice.left.swap(decoded.left);
    voice.right.swap(decoded.right);
    voice.evicted = 0;
}

// ---------------------------------------------------------------------------
// Event list
// ---------------------------------------------------------------------------

namespace {

// By the owner of the voices, without the lock: the pointers are atomics.
void RelinkVoiceCurves(AudioEngine& engine, std::vector<Event>& events, VoiceCurveLink link) {
    for (PlaybackVoice& v : engine.voices) {
        const bool hadCurve = v.intensityCurve.load() != nullptr || v.intensityCount > 0;
        if (!hadCurve) continue;
        const bool valid = v.eventIndex >= 0 && size_t(v.eventIndex) < events.size();
        if (link == VoiceCurveLink::Repoint && valid)
            v.intensityCurve.store(events[size_t(v.eventIndex)].intensity.data());
        else
            v.intensityCurve.store(nullptr);
    }
}

}  // namespace

void ReplaceDocumentEvents(AudioEngine& engine, std::vector<Event>& events, std::vector<Event>& replacement,
                           const std::vector<RenderResult>& results) {
    // Worked out before the swap: the event each curve-following voice's
    // result belongs to in the incoming document.
    std::unordered_map<uint32_t, int32_t> eventOf;
    engine.stats.voiceWalks.fetch_add(1, std::memory_order_relaxed);
    for (const PlaybackVoice& v : engine.voices)
        if (v.intensityCurve.load() != nullptr || v.intensityCount > 0) eventOf.emplace(v.resultId, -1);
    if (!eventOf.empty())
        for (const RenderResult& r : results) {
            auto it = eventOf.find(uint32_t(r.id));
            if (it != eventOf.end()) it->second = r.eventIdx;
        }
    events.swap(replacement);
    for (PlaybackVoice& v : engine.voices) {
        if (v.intensityCurve.load() == nullptr && v.intensityCount <= 0) continue;
        const auto it = eventOf.find(v.resultId);
        const int32_t e = it == eventOf.end() ? -1 : it->second;
        v.intensityCurve.store(e >= 0 && size_t(e) < events.size() ? events[size_t(e)].intensity.data() : nullptr);
    }
    std::lock_guard<EngineMutex> barrier(engine.mutex);
}

void ReplaceDocumentEvents(AudioEngine& engine, std::vector<Event>& events,
                           std::vector<Event>& replacement, VoiceCurveLink link) {
    // The audio thread reads the events only through the voices' curves.
    events.swap(replacement);
    RelinkVoiceCurves(engine, events, link);
    // A block mixes under the lock: once it has been free, no block still
    // reads a curve of the old list, which the caller may then free.
    std::lock_guard<EngineMutex> barrier(engine.mutex);
}

int AppendDocumentEvents(AudioEngine& engine, std::vector<Event>& events,
                         const std::vector<Event>& added) {
    const int first = int(events.size());
    const size_t need = events.size() + added.size();
    if (need <= events.capacity()) {
        // The stored events stay where they are: voices keep valid pointers.
        events.insert(events.end(), added.begin(), added.end());
        return first;
    }
    // The old events stay readable (by the audio thread, through voice
    // curves) until the new list is swapped in.
    std::vector<Event> grown;
    grown.reserve(std::max(need, 2 * events.capacity()));
    grown.insert(grown.end(), events.begin(), events.end());
    grown.insert(grown.end(), added.begin(), added.end());
    ReplaceDocumentEvents(engine, events, grown, VoiceCurveLink::Repoint);
    return first;
}
