// engine_voices.cpp — the voice set: reset, room, install, and the event-list
// swap that keeps voices' curve pointers inside the live document.
//
// Index
//   Pins                 PinEngineVoices, UnpinEngineVoices, LockForVoiceEdit
//   ResetEngineVoices
//   LockWithVoiceRoom / InstallPlaybackVoice
//   RemoveEngineVoices
//   OrderEngineVoicesByResult   VoicesInResultOrder, the relist in result order
//   Event list           RelinkVoiceCurves, ReplaceDocumentEvents, AppendDocumentEvents
#include "playback/engine_voices.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <thread>

#include "document/event.h"

namespace {

constexpr size_t kDefaultVoiceRoom = 256;

float OnePoleCoefficient(double seconds, int rate) {
    return float(1.0 - std::exp(-1.0 / (seconds * double(std::max(rate, 1)))));
}

// Everything of a voice but its sample buffers. A new PlaybackVoice field
// must be copied here too.
void CopyVoiceWithoutSamples(const PlaybackVoice& from, PlaybackVoice& to) {
    static_assert(sizeof(PlaybackVoice) == 21056, "PlaybackVoice changed: copy the new field here");
    to.stereo = from.stereo;
    to.startTime = from.startTime;
    to.plainStartTime = from.plainStartTime;
    to.length = from.length;
    to.sampleCount = from.sampleCount;
    to.gain = from.gain;
    to.normGain = from.normGain;
    to.eventGain = from.eventGain;
    to.pan = from.pan;
    to.group = from.group;
    to.muted = from.muted;
    to.eventIndex = from.eventIndex;
    to.peakOverview = from.peakOverview;
    to.rmsOverview = from.rmsOverview;
    to.resultIndex = from.resultIndex;
    to.resultId = from.resultId;
    to.fillGain = from.fillGain;
    to.hasFillGain = from.hasFillGain;
    to.fillGainSpan = from.fillGainSpan;
    to.intGain = from.intGain;
    to.hasIntGain = from.hasIntGain;
    to.deconGain = from.deconGain;
    to.hasDeconGain = from.hasDeconGain;
    to.spliceTimes = from.spliceTimes;
    to.spliceFades = from.spliceFades;
    to.spliceCount = from.spliceCount;
    to.chunks = from.chunks;
    to.chunkCount = from.chunkCount;
    to.intensityCurve = from.intensityCurve;
    to.intensityCount = from.intensityCount;
    to.intensityIsBed = from.intensityIsBed;
    to.intensityScale = from.intensityScale;
    to.reverbSend = from.reverbSend;
    to.switchGain = from.switchGain;
    to.evicted = from.evicted;
    to.pitchShift = from.pitchShift;
    to.sampleKey = from.sampleKey;
}

// Replaces the voice list by the voices at the indices `from`, in that order,
// in lists with room for `room` voices. A voice is some 20 KB of overview and
// curves besides its samples, so moving thousands of them would hold the lock
// for milliseconds: everything but the samples is copied unlocked (this
// thread is the only writer), and under the lock only the sample buffers
// change hands before the lists are swapped. The old lists are freed
// unlocked. False, with nothing changed, when the list changed size
// meanwhile.
bool RelistVoices(AudioEngine& engine, const std::vector<size_t>& from, size_t room) {
    const size_t n = engine.voices.size();
    std::vector<PlaybackVoice> next;
    std::vector<float> fadeIn, fadeOut;
    next.reserve(std::max(room, from.size()));
    fadeIn.reserve(next.capacity());
    fadeOut.reserve(next.capacity());
    for (size_t i : from) {
        next.emplace_back();
        CopyVoiceWithoutSamples(engine.voices[i], next.back());
        fadeIn.push_back(i < engine.voiceFadeIn.size() ? engine.voiceFadeIn[i] : 0.04f);
        fadeOut.push_back(i < engine.voiceFadeOut.size() ? engine.voiceFadeOut[i] : 0.05f);
    }
    std::unique_lock<std::mutex> lock = LockForVoiceEdit(engine);
    if (engine.voices.size() != n) return false;
    for (size_t k = 0; k < from.size(); ++k) {
        PlaybackVoice& source = engine.voices[from[k]];
        next[k].left.swap(source.left);
        next[k].right.swap(source.right);
        // The interface may have moved these since the copy.
        next[k].gain = source.gain;
        next[k].eventGain = source.eventGain;
        next[k].muted = source.muted;
    }
    engine.voices.swap(next);
    engine.voiceFadeIn.swap(fadeIn);
    engine.voiceFadeOut.swap(fadeOut);
    engine.voiceCount.store(int32_t(engine.voices.size()));
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
// Pins
// ---------------------------------------------------------------------------

void PinEngineVoices(AudioEngine& engine) {
    std::lock_guard<std::mutex> lock(engine.mutex);
    engine.voicePins.fetch_add(1);
}

void UnpinEngineVoices(AudioEngine& engine) {
    // No lock: lowering a pin never disturbs an edit, and a reader that is
    // done must not wait for one.
    engine.voicePins.fetch_sub(1);
}

std::unique_lock<std::mutex> LockForVoiceEdit(AudioEngine& engine) {
    for (;;) {
        std::unique_lock<std::mutex> lock(engine.mutex);
        if (engine.voicePins.load() <= 0) return lock;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// ---------------------------------------------------------------------------
// ResetEngineVoices
// ---------------------------------------------------------------------------

void ResetEngineVoices(AudioEngine& engine, int sampleRate, int expectedVoices) {
    engine.cacheReady.store(0);
    engine.voiceCount.store(0);
    engine.buildProgress.store(0);

    const size_t room = expectedVoices < 1 ? kDefaultVoiceRoom : size_t(expectedVoices);
    std::vector<PlaybackVoice> voices;
    std::vector<float> fadeIn, fadeOut;
    voices.reserve(room);
    fadeIn.reserve(room);
    fadeOut.reserve(room);
    {
        std::unique_lock<std::mutex> lock = LockForVoiceEdit(engine);
        engine.sampleRate.store(sampleRate);
        engine.limiterAttack = OnePoleCoefficient(0.002, sampleRate);
        engine.limiterRelease = OnePoleCoefficient(0.2, sampleRate);
        engine.limiterEnvelope = 0;
        engine.voices.swap(voices);
        engine.voiceFadeIn.swap(fadeIn);
        engine.voiceFadeOut.swap(fadeOut);
    }
    engine.missingFiles.clear();
    // The old voices and their samples are freed here, with the lock released.
}

// ---------------------------------------------------------------------------
// LockWithVoiceRoom / InstallPlaybackVoice
// ---------------------------------------------------------------------------

std::unique_lock<std::mutex> LockWithVoiceRoom(AudioEngine& engine, size_t extraVoices) {
    for (;;) {
        std::unique_lock<std::mutex> lock = LockForVoiceEdit(engine);
        const size_t need = engine.voices.size() + extraVoices;
        if (need <= engine.voices.capacity() && need <= engine.voiceFadeIn.capacity() &&
            need <= engine.voiceFadeOut.capacity())
            return lock;
        const size_t want = std::max({need, 2 * engine.voices.capacity(), kDefaultVoiceRoom});
        lock.unlock();
        RelistVoices(engine, KeptVoices(engine.voices.size(), nullptr), want);
        // Then check again.
    }
}

void InstallPlaybackVoice(AudioEngine& engine, PlaybackVoice&& voice, float fadeIn, float fadeOut) {
    std::unique_lock<std::mutex> lock = LockWithVoiceRoom(engine, 1);
    // Keep the fade lists parallel to the voices even if a caller broke it.
    engine.voiceFadeIn.resize(engine.voices.size(), 0.04f);
    engine.voiceFadeOut.resize(engine.voices.size(), 0.05f);
    engine.voiceFadeIn.push_back(fadeIn);
    engine.voiceFadeOut.push_back(fadeOut);
    engine.voices.push_back(std::move(voice));
    engine.voiceCount.store(int32_t(engine.voices.size()));
}

// ---------------------------------------------------------------------------
// RemoveEngineVoices
// ---------------------------------------------------------------------------

size_t RemoveEngineVoices(AudioEngine& engine, const std::vector<uint8_t>& drop) {
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
// Event list
// ---------------------------------------------------------------------------

namespace {

// Caller holds the engine lock.
void RelinkVoiceCurves(AudioEngine& engine, std::vector<Event>& events, VoiceCurveLink link) {
    for (PlaybackVoice& v : engine.voices) {
        const bool hadCurve = v.intensityCurve != nullptr || v.intensityCount > 0;
        const bool valid = v.eventIndex >= 0 && size_t(v.eventIndex) < events.size();
        if (link == VoiceCurveLink::Repoint && hadCurve && valid) {
            v.intensityCurve = events[size_t(v.eventIndex)].intensity.data();
            v.intensityCount = kVoiceIntGainPoints;
        } else {
            v.intensityCurve = nullptr;
            v.intensityCount = 0;
        }
    }
}

}  // namespace

void ReplaceDocumentEvents(AudioEngine& engine, std::vector<Event>& events,
                           std::vector<Event>& replacement, VoiceCurveLink link) {
    std::lock_guard<std::mutex> lock(engine.mutex);
    events.swap(replacement);
    RelinkVoiceCurves(engine, events, link);
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
