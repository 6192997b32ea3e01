// mixer_controls.cpp — the mixer's gains, switches, sends and reverb written
// into the engine.
//
// Index
//   Helpers
//   Faders and switches
//   Reverb settings
//   Reverb space
#include "operations/mixer_controls.h"

#include <algorithm>
#include <cmath>

#include "operations/app_state.h"
#include "picture/reference_audio.h"
#include "playback/audio_engine.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

constexpr auto kRelaxed = std::memory_order_relaxed;

float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }
float FaderGain(float gain) { return std::max(Finite(gain), 0.0f); }
bool ValidGroup(int group) { return group >= 0 && group < 3; }

CopyableAtomic<float>& ReverbParamSlot(ReverbParams& r, int param) {
    switch (param) {
        case 0: return r.size;
        case 1: return r.decay;
        case 2: return r.damping;
        case 3: return r.preDelay;
        case 4: return r.diffusion;
        default: return r.modulation;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Faders and switches
// ---------------------------------------------------------------------------

void SetMasterGain(AudioEngine& engine, float gain) { engine.masterGain.store(FaderGain(gain), kRelaxed); }

void SetGroupGain(AudioEngine& engine, int group, float gain) {
    if (ValidGroup(group)) engine.groupGain[size_t(group)].store(FaderGain(gain), kRelaxed);
}

void SetReferenceGain(AudioEngine& engine, const AppState& app, float gain, bool videoLoaded) {
    gain = FaderGain(gain);
    engine.refGain.store(gain, kRelaxed);
    if (videoLoaded && !app.refMute) SetReferenceAudioGain(gain);
}

float ReferenceAudioGain(const AudioEngine& engine, const AppState& app) {
    return app.refMute ? 0.0f : engine.refGain.load(kRelaxed);
}

void SetMasterMute(AudioEngine& engine, bool muted) { engine.masterMute.store(muted ? 1 : 0, kRelaxed); }

void SetGroupMute(AudioEngine& engine, int group, bool muted) {
    if (ValidGroup(group)) engine.groupMute[size_t(group)].store(muted ? 1 : 0, kRelaxed);
}

void SetReferenceMute(AudioEngine& engine, AppState& app, bool muted, bool videoLoaded) {
    app.refMute = muted;
    if (videoLoaded) SetReferenceAudioGain(ReferenceAudioGain(engine, app));
}

void SetGroupSolo(AudioEngine& engine, int group, bool solo) {
    if (ValidGroup(group)) engine.groupSolo[size_t(group)].store(solo ? 1 : 0, kRelaxed);
}

void SetGroupSend(AudioEngine& engine, int group, float send) {
    if (!ValidGroup(group)) return;
    engine.reverb.groupSends[size_t(group)].store(std::clamp(Finite(send), 0.0f, 1.0f), kRelaxed);
}

// ---------------------------------------------------------------------------
// Reverb settings
// ---------------------------------------------------------------------------

void SetReverbEnabled(ReverbParams& reverb, bool enabled) { reverb.enabled.store(enabled ? 1 : 0, kRelaxed); }

void SetReverbParam(ReverbParams& reverb, int param, float value) {
    ReverbParamSlot(reverb, param).store(value, kRelaxed);
}

float ReverbParamValue(const ReverbParams& reverb, int param) {
    return ReverbParamSlot(const_cast<ReverbParams&>(reverb), param).load(kRelaxed);
}

// ---------------------------------------------------------------------------
// Reverb space
// ---------------------------------------------------------------------------

const std::array<ReverbSpacePreset, 5> kReverbSpacePresets = {{
    {"Booth", {0.0f, 0.0f, 0.0f, 0.0f, 0.4f, 0.0f}},
    {"Room", {0.4f, 0.1f, 0.4f, 0.01f, 0.7f, 0.25f}},
    {"Warehouse", {0.6f, 0.35f, 0.2f, 0.015f, 0.7f, 0.3f}},
    {"Cathedral", {0.75f, 0.65f, 0.45f, 0.026f, 0.8f, 0.5f}},
    {"Sky", {1.0f, 1.0f, 0.08f, 0.06f, 0.9f, 0.8f}},
}};

const char* ReverbSpaceName(float macro) {
    const float m = std::clamp(Finite(macro), 0.0f, 1.0f);
    const int i = std::clamp(int(std::lround(4.0f * m)), 0, 4);
    return kReverbSpacePresets[size_t(i)].name;
}

std::array<float, 6> ReverbSpaceParams(float macro) {
    const float m = std::clamp(Finite(macro), 0.0f, 1.0f);
    const int i = std::min(3, int(std::floor(4.0f * m)));
    const float u = 4.0f * m - float(i);
    const auto& a = kReverbSpacePresets[size_t(i)].params;
    const auto& b = kReverbSpacePresets[size_t(i + 1)].params;
    std::array<float, 6> out{};
    // Written as a weighted sum so that either end gives its preset exactly.
    for (size_t k = 0; k < 6; ++k) out[k] = a[k] * (1.0f - u) + b[k] * u;
    return out;
}

void ApplyReverbSpace(ReverbParams& reverb, float macro) {
    const float m = std::clamp(Finite(macro), 0.0f, 1.0f);
    reverb.macro.store(m, kRelaxed);
    const std::array<float, 6> p = ReverbSpaceParams(m);
    for (int k = 0; k < 6; ++k) SetReverbParam(reverb, k, p[size_t(k)]);
}

void DragReverbSpace(ReverbParams& reverb, float dx, float innerWidth) {
    if (!(innerWidth > 0)) return;
    ApplyReverbSpace(reverb, reverb.macro.load(kRelaxed) + Finite(dx) / (2 * innerWidth));
}
