// voice_settings.cpp — a voice's settings from its result and event, and the
// keys that compare a voice with its result.
//
// Index
//   ResultGetsVoice / VoiceBaseGain / VoicePan
//   SetVoiceSettings / ApplyVoiceHeadroom
//   Keys                 KeyBytes, VoiceSampleKey, ResultVoiceKey
#include "playback/voice_settings.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "document/event.h"
#include "document/project.h"
#include "playback/audio_engine.h"
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
// SetVoiceSettings / ApplyVoiceHeadroom
// ---------------------------------------------------------------------------

namespace {

void SetVoiceCurves(const RenderResult& result, const Event* event, PlaybackVoice& voice) {
    voice.hasIntGain = result.hasIntGain ? 1 : 0;
    if (result.hasIntGain) voice.intGain = result.intGain;
    voice.hasFillGain = result.hasFillGain ? 1 : 0;
    if (result.hasFillGain) {
        voice.fillGain = result.fillGain;
        voice.fillGainSpan = event ? event->duration : result.duration;
    }
    voice.hasDeconGain = result.hasDeconGain ? 1 : 0;
    if (result.hasDeconGain) voice.deconGain = result.deconGain;

    if (result.procMode == 1 && event) {
        voice.intensityCurve = event->intensity.data();
        voice.intensityCount = kVoiceIntGainPoints;
        voice.intensityScale = event->intensityScale;
        voice.intensityIsBed = event->shape == kShapeBed ? 1 : 0;
    } else {
        voice.intensityCurve = nullptr;
        voice.intensityCount = 0;
        voice.intensityScale = 1.0f;
        voice.intensityIsBed = 0;
    }
}

}  // namespace

void SetVoiceSettings(PlaybackVoice& voice, const RenderResult& result, int resultIndex,
                      const float* eventGains, int eventCount, const Event* events) {
    const bool eventValid = result.eventIdx >= 0 && result.eventIdx < eventCount;
    const Event* event = eventValid && events ? &events[result.eventIdx] : nullptr;

    voice.startTime = result.startTime + result.deconOffset;
    voice.plainStartTime = result.startTime;
    voice.group = result.group;
    voice.muted = (result.muted || (event && event->muted)) ? 1 : 0;
    voice.eventIndex = result.eventIdx;
    voice.resultIndex = resultIndex;
    voice.resultId = uint32_t(result.id);
    voice.pan = VoicePan(result);
    voice.gain = VoiceBaseGain(result);
    voice.eventGain = eventValid && eventGains ? eventGains[result.eventIdx] : 1.0f;
    voice.reverbSend = event ? event->reverbSend : -1.0f;
    SetVoiceCurves(result, event, voice);
}

float ApplyVoiceHeadroom(PlaybackVoice& voice) {
    constexpr float kHeadroomPeak = 0.5f;
    float peak = 0;
    for (float p : voice.peakOverview) peak = std::max(peak, p);
    if (peak > kHeadroomPeak) voice.gain.store(voice.gain.load() * (kHeadroomPeak / peak));
    return peak;
}

// ---------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------

namespace {

// The raw bytes of the fields, hashed at the end. Text is length-prefixed so
// that neighbouring fields cannot trade characters.
struct KeyBytes {
    std::string bytes;

    template <class T>
    void Add(const T& value) {
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    void Add(const std::string& text) {
        Add(text.size());
        bytes.append(text);
    }
    void Add(const AlloySource& source) {
        Add(source.filepath);
        Add(source.offset);
        Add(source.duration);
    }
    uint64_t Hash() const { return HashProcessedClipKey(bytes); }
};

void AddSampleFields(KeyBytes& k, const RenderResult& r) {
    k.Add(r.procMode);
    k.Add(r.placeholder);
    k.Add(r.stereo);
    k.Add(r.filepath);
    k.Add(r.sourceOffset);
    k.Add(r.sourceDuration);
    k.Add(r.duration);
    // The scale correction is derived at build time from the pitch variation.
    k.Add(r.pitchVarShift);
    k.Add(r.hasEqGains);
    if (r.hasEqGains) k.Add(r.eqGains);
    k.Add(r.fillLoop);
    k.Add(r.group);
    if (r.procMode == 3) {
        k.Add(r.alloyMid);
        k.Add(r.alloyHigh);
        k.Add(r.alloyEnv);
        k.Add(r.hasAlloyCurves);
        if (r.hasAlloyCurves) {
            k.Add(r.alloyWeightCurve);
            k.Add(r.alloyIntensityCurve);
        }
        k.Add(r.alloyMorph);
        k.Add(r.alloyAlgo);
        k.Add(r.alloyTransferDepth);
        k.Add(r.alloyAttackGraft);
        k.Add(r.alloyMicroPitch);
        k.Add(r.alloyFilterBands);
    }
}

}  // namespace

uint64_t VoiceSampleKey(const RenderResult& result) {
    KeyBytes k;
    AddSampleFields(k, result);
    return k.Hash();
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
    return k.Hash();
}
