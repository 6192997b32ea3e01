// voice_settings.cpp — a voice's settings from its result and event, and the
// keys that compare a voice with its result.
//
// Index
//   ResultGetsVoice / VoiceBaseGain / VoicePan
//   VisitMixSettings / VisitOwnerSettings   the one list of settings, for writing and for comparing
//   LayerMuted / VoiceLevelSettingsFor / SetVoiceSettings / SetVoiceMixSettings / SetVoiceOwnerSettings
//   VoiceHoldsSettings / VoiceHoldsMixSettings
//   VoicePeak / VoiceHeadroomFactor / VoiceGain
//   Keys                 VoiceSampleKey, VoiceSourceKey, VoiceSamplesHold, ResultVoiceKey (of KeyBytes)
#include "playback/voice_settings.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "document/event.h"
#include "document/project.h"
#include "playback/audio_engine.h"
#include "render/alloy_morph.h"
#include "render/key_bytes.h"
#include "render/processed_clip_cache.h"

// ---------------------------------------------------------------------------
// Gain and pan laws
// ---------------------------------------------------------------------------

bool ResultGetsVoice(const RenderResult& result) {
    return result.placeholder || !result.filepath.empty();
}

// Heavy layers are pulled back a little so they do not dominate.
float VoiceBaseGain(const RenderResult& result) {
    float factor = 1.0f;
    if (result.weight > 0.7f) factor = 1.0f - 0.3f * std::clamp((result.weight - 0.7f) / 0.15f, 0.0f, 1.0f);
    return factor * result.layerGain * result.userVolume;
}

// Spreads tracks across the stereo field, nudged by the layer's weight.
float VoicePan(const RenderResult& result) {
    const int lane = result.track % 5;  // truncating remainder
    const float pan = 0.15f * float(lane - 2) + 0.4f * (result.weight - 0.5f);
    return std::isfinite(pan) ? std::clamp(pan, -0.8f, 0.8f) : 0.0f;
}

// ---------------------------------------------------------------------------
// Settings
// ---------------------------------------------------------------------------

namespace {

const Event* EventOf(const RenderResult& result, int eventCount, const Event* events) {
    const bool valid = result.eventIdx >= 0 && result.eventIdx < eventCount;
    return valid && events ? &events[result.eventIdx] : nullptr;
}

// Calls field(voiceField, value) for every setting a result and its event
// give a voice that the mixer reads under the engine lock: one list for
// writing the settings and for checking whether a voice holds them.
template <class Voice, class Field>
void VisitMixSettings(Voice& voice, const RenderResult& result, const Event* event, Field&& field) {
    field(voice.startTime, result.startTime + result.deconOffset);
    field(voice.plainStartTime, result.startTime);
    field(voice.group, result.group);
    field(voice.pan, VoicePan(result));
    field(voice.reverbSend, event ? event->reverbSend : -1.0f);

    field(voice.hasIntGain, uint8_t(result.hasIntGain ? 1 : 0));
    if (result.hasIntGain) field(voice.intGain, result.intGain);
    field(voice.hasFillGain, uint8_t(result.hasFillGain ? 1 : 0));
    if (result.hasFillGain) {
        field(voice.fillGain, result.fillGain);
        field(voice.fillGainSpan, event ? event->duration : result.duration);
    }
    field(voice.hasDeconGain, uint8_t(result.hasDeconGain ? 1 : 0));
    if (result.hasDeconGain) field(voice.deconGain, result.deconGain);

    const bool live = result.procMode == 1 && event;
    field(voice.intensityCount, int32_t(live ? kVoiceIntGainPoints : 0));
    field(voice.intensityScale, live ? event->intensityScale : 1.0f);
    field(voice.intensityIsBed, uint8_t(live && event->shape == kShapeBed ? 1 : 0));
}

// The owner's bookkeeping (never read by the mixer) and the curve link (an
// atomic): the owner of the voices writes these without the lock.
template <class Voice, class Field>
void VisitOwnerSettings(Voice& voice, const RenderResult& result, int resultIndex, const Event* event,
                        Field&& field) {
    field(voice.eventIndex, result.eventIdx);
    field(voice.resultIndex, int32_t(resultIndex));
    field(voice.resultId, uint32_t(result.id));
    const bool live = result.procMode == 1 && event;
    field(voice.intensityCurve, live ? event->intensity.data() : nullptr);
}

}  // namespace

bool LayerMuted(const RenderResult& result, int eventCount, const Event* events) {
    const Event* event = EventOf(result, eventCount, events);
    return result.muted || (event && event->muted);
}

VoiceLevelSettings VoiceLevelSettingsFor(const RenderResult& result, const float* eventGains, int eventCount,
                                         const Event* events) {
    const bool valid = result.eventIdx >= 0 && result.eventIdx < eventCount;
    VoiceLevelSettings levels;
    levels.gain = VoiceBaseGain(result);
    levels.eventGain = valid && eventGains ? eventGains[result.eventIdx] : 1.0f;
    levels.muted = LayerMuted(result, eventCount, events) ? 1 : 0;
    return levels;
}

void SetVoiceSettings(PlaybackVoice& voice, const RenderResult& result, int resultIndex,
                      const float* eventGains, int eventCount, const Event* events) {
    SetVoiceMixSettings(voice, result, eventCount, events);
    SetVoiceOwnerSettings(voice, result, resultIndex, eventCount, events);
    const VoiceLevelSettings levels = VoiceLevelSettingsFor(result, eventGains, eventCount, events);
    voice.gain = levels.gain;
    voice.eventGain = levels.eventGain;
    voice.muted = levels.muted;
}

void SetVoiceMixSettings(PlaybackVoice& voice, const RenderResult& result, int eventCount, const Event* events) {
    VisitMixSettings(voice, result, EventOf(result, eventCount, events), [](auto& to, const auto& value) {
        if (!(to == value)) to = value;
    });
}

void SetVoiceOwnerSettings(PlaybackVoice& voice, const RenderResult& result, int resultIndex, int eventCount,
                           const Event* events) {
    VisitOwnerSettings(voice, result, resultIndex, EventOf(result, eventCount, events),
                       [](auto& to, const auto& value) {
                           if (!(to == value)) to = value;
                       });
}

bool VoiceHoldsMixSettings(const PlaybackVoice& voice, const RenderResult& result, int eventCount,
                           const Event* events) {
    bool same = true;
    VisitMixSettings(voice, result, EventOf(result, eventCount, events),
                     [&](const auto& kept, const auto& value) { same = same && kept == value; });
    return same;
}

bool VoiceHoldsSettings(const PlaybackVoice& voice, const RenderResult& result, int resultIndex,
                        int eventCount, const Event* events) {
    bool same = VoiceHoldsMixSettings(voice, result, eventCount, events);
    VisitOwnerSettings(voice, result, resultIndex, EventOf(result, eventCount, events),
                       [&](const auto& kept, const auto& value) { same = same && kept == value; });
    return same;
}

float VoicePeak(const PlaybackVoice& voice) {
    if (voice.overviewPeak > 0) return voice.overviewPeak;
    float peak = 0;
    for (float p : voice.peakOverview) peak = std::max(peak, p);
    return peak;
}

float VoiceHeadroomFactor(const PlaybackVoice& voice) {
    constexpr float kHeadroomPeak = 0.5f;
    const float peak = VoicePeak(voice);
    return peak > kHeadroomPeak ? kHeadroomPeak / peak : 1.0f;
}

float VoiceGain(const RenderResult& result, const PlaybackVoice& voice, float levels) {
    return VoiceBaseGain(result) * VoiceHeadroomFactor(voice) * levels;
}

// ---------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------

namespace {

void AddSampleFields(KeyBytes& k, const RenderResult& r, bool fillSeeded = true, bool pitchAndLevel = true) {
    k.Add(r.procMode);
    k.Add(r.placeholder);
    k.Add(r.stereo);
    k.Add(r.filepath);
    k.Add(r.sourceOffset);
    k.Add(r.sourceDuration);
    k.Add(r.duration);
    // The scale correction is derived at build time from the pitch variation.
    if (pitchAndLevel) k.Add(r.pitchVarShift);
    k.Add(r.hasEqGains);
    if (r.hasEqGains) k.Add(r.eqGains);
    k.Add(r.fillLoop);
    if (r.procMode == 1) {
        // A fill replays its stored chunk plan; without one, the build makes
        // its audio from the variation seed, its group track.
        k.Add(r.fillChunks.size());
        for (const FillChunk& c : r.fillChunks) {
            k.Add(c.s);
            k.Add(c.l);
            k.Add(c.x);
        }
        if (r.fillChunks.empty() && fillSeeded) k.Add(r.groupTrack);
    }
    if (pitchAndLevel) k.Add(r.group);
    if (r.procMode == 3) AddAlloySettings(k, r);
}

}  // namespace

uint64_t VoiceSampleKey(const RenderResult& result, bool fillSeeded) {
    KeyBytes k;
    AddSampleFields(k, result, fillSeeded);
    return HashProcessedClipKey(k.bytes);
}

uint64_t VoiceSourceKey(const RenderResult& result, bool fillSeeded) {
    KeyBytes k;
    AddSampleFields(k, result, fillSeeded, false);
    return HashProcessedClipKey(k.bytes);
}

bool VoiceSamplesHold(const PlaybackVoice& voice, const RenderResult& result) {
    return voice.sampleKey == VoiceSampleKey(result, voice.fillSeeded != 0);
}

uint64_t ResultVoiceKey(const RenderResult& r) {
    KeyBytes k;
    AddSampleFields(k, r);
    k.Add(r.startTime);
    k.Add(r.deconOffset);
    k.Add(r.track);
    k.Add(r.weight);
    k.Add(r.layerGain);
    k.Add(r.userVolume);
    k.Add(r.muted);
    k.Add(r.fadeIn);
    k.Add(r.fadeOut);
    k.Add(r.eventIdx);
    k.Add(r.hasIntGain);
    if (r.hasIntGain) k.Add(r.intGain);
    k.Add(r.hasFillGain);
    if (r.hasFillGain) k.Add(r.fillGain);
    k.Add(r.hasDeconGain);
    if (r.hasDeconGain) k.Add(r.deconGain);
    return HashProcessedClipKey(k.bytes);
}
