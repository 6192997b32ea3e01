// engine_voices.cpp — the voice set: reset, room, install, and the event-list
// swap that keeps voices' curve pointers inside the live document.
//
// Index
//   ResetEngineVoices
//   LockWithVoiceRoom / InstallPlaybackVoice
//   Event list           RelinkVoiceCurves, ReplaceDocumentEvents, AppendDocumentEvents
#include "playback/engine_voices.h"

#include <algorithm>
#include <cmath>

#include "document/event.h"

namespace {

constexpr size_t kDefaultVoiceRoom = 256;

float OnePoleCoefficient(double seconds, int rate) {
    return float(1.0 - std::exp(-1.0 / (seconds * double(std::max(rate, 1)))));
}

}  // namespace

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
        std::lock_guard<std::mutex> lock(engine.mutex);
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
        std::unique_lock<std::mutex> lock(engine.mutex);
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

        lock.lock();
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
