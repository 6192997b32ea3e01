// engine_voices.cpp — the voice set: reset, room, install, and the event-list
// swap that keeps voices' curve pointers inside the live document.
//
// Index
//   Pins                 PinEngineVoices, UnpinEngineVoices, LockForVoiceEdit
//   ResetEngineVoices
//   LockWithVoiceRoom / InstallPlaybackVoice
//   RemoveEngineVoices
//   Event list           RelinkVoiceCurves, ReplaceDocumentEvents, AppendDocumentEvents
#include "playback/engine_voices.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "document/event.h"

namespace {

constexpr size_t kDefaultVoiceRoom = 256;

float OnePoleCoefficient(double seconds, int rate) {
    return float(1.0 - std::exp(-1.0 / (seconds * double(std::max(rate, 1)))));
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

        std::vector<PlaybackVoice> voices;
        std::vector<float> fadeIn, fadeOut;
        voices.reserve(want);
        fadeIn.reserve(want);
        fadeOut.reserve(want);

        lock = LockForVoiceEdit(engine);
        // Another installer may have grown the lists meanwhile; the copies
        // below fit whenever the current lists do.
        if (engine.voices.size() + extraVoices <= want && engine.voiceFadeIn.size() <= want &&
            engine.voiceFadeOut.size() <= want) {
            for (PlaybackVoice& v : engine.voices) voices.push_back(std::move(v));
            fadeIn.assign(engine.voiceFadeIn.begin(), engine.voiceFadeIn.end());
            fadeOut.assign(engine.voiceFadeOut.begin(), engine.voiceFadeOut.end());
            engine.voices.swap(voices);
            engine.voiceFadeIn.swap(fadeIn);
            engine.voiceFadeOut.swap(fadeOut);
        }
        lock.unlock();
        // The old lists (moved-from voices) are freed here; then check again.
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
    // Only this thread edits the list, so it may count unlocked and make room
    // for the released sample buffers before it locks.
    size_t count = 0;
    const size_t marked = std::min(drop.size(), engine.voices.size());
    for (size_t i = 0; i < marked; ++i) count += drop[i] ? 1 : 0;
    if (count == 0) return 0;
    std::vector<std::vector<float>> released(2 * count);
    {
        std::unique_lock<std::mutex> lock = LockForVoiceEdit(engine);
        std::vector<PlaybackVoice>& voices = engine.voices;
        std::vector<float>& fadeIn = engine.voiceFadeIn;
        std::vector<float>& fadeOut = engine.voiceFadeOut;
        size_t kept = 0, spare = 0;
        for (size_t i = 0; i < voices.size(); ++i) {
            if (i < drop.size() && drop[i] && spare + 1 < released.size()) {
                released[spare++].swap(voices[i].left);
                released[spare++].swap(voices[i].right);
                continue;
            }
            if (kept != i) {
                // Moves the sample buffers; the overview and curves are copied.
                voices[kept] = std::move(voices[i]);
                if (i < fadeIn.size()) fadeIn[kept] = fadeIn[i];
                if (i < fadeOut.size()) fadeOut[kept] = fadeOut[i];
            }
            ++kept;
        }
        // What lies past `kept` holds no samples any more: nothing is freed here.
        voices.erase(voices.begin() + std::ptrdiff_t(kept), voices.end());
        fadeIn.resize(std::min(fadeIn.size(), kept));
        fadeOut.resize(std::min(fadeOut.size(), kept));
        engine.voiceCount.store(int32_t(kept));
    }
    return count;
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
