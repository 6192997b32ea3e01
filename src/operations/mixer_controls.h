// mixer_controls.h — what the mixer's controls change in the engine: the
// master, group and reference gains, mutes and solos, the reverb sends and
// the reverb itself (its switch, its six settings and the one-knob space).
//
// Index
//   SetMasterGain / SetGroupGain / SetReferenceGain / ReferenceAudioGain   faders
//   SetMasterMute / SetGroupMute / SetReferenceMute / SetGroupSolo         switches
//   SetGroupSend                        a group's reverb send
//   SetReverbEnabled / SetReverbParam / ReverbParamValue   the reverb's switch and settings
//   ReverbSpacePreset / kReverbSpacePresets / ReverbSpaceName / ReverbSpaceParams
//   ApplyReverbSpace / DragReverbSpace  the one-knob space
//
// Threads: the audio thread reads every value written here on its next
// block, so each write is a single relaxed atomic store (no engine mutex).
// Groups are 0..2 ("BG", "FX A", "FX B"); another group changes nothing.
#pragma once

#include <array>

struct AppState;
struct AudioEngine;
struct ReverbParams;

// ---- Faders (a gain that is not finite or below 0 is stored as 0) ----

void SetMasterGain(AudioEngine& engine, float gain);
void SetGroupGain(AudioEngine& engine, int group, float gain);
// The reference gain reaches the picture's audio only while a video is
// loaded and the reference is not muted; muted, the gain is only stored.
void SetReferenceGain(AudioEngine& engine, const AppState& app, float gain, bool videoLoaded);
// What the reference audio plays at: 0 while muted (app.refMute).
float ReferenceAudioGain(const AudioEngine& engine, const AppState& app);

// ---- Switches ----

void SetMasterMute(AudioEngine& engine, bool muted);
void SetGroupMute(AudioEngine& engine, int group, bool muted);
// The reference mute lives in the application state; with a video loaded it
// silences or restores the reference audio at once.
void SetReferenceMute(AudioEngine& engine, AppState& app, bool muted, bool videoLoaded);
void SetGroupSolo(AudioEngine& engine, int group, bool solo);

// A group's reverb send, clamped to 0..1 (not finite: 0).
void SetGroupSend(AudioEngine& engine, int group, float send);

// ---- Reverb ----

void SetReverbEnabled(ReverbParams& reverb, bool enabled);
// The six settings by index: size, decay, damping, preDelay (s), diffusion,
// modulation (another index: modulation).
void SetReverbParam(ReverbParams& reverb, int param, float value);
float ReverbParamValue(const ReverbParams& reverb, int param);

struct ReverbSpacePreset {
    const char* name;
    std::array<float, 6> params;  // size, decay, damping, preDelay (s), diffusion, modulation
};
extern const std::array<ReverbSpacePreset, 5> kReverbSpacePresets;  // Booth .. Sky

// The preset nearest the macro: round(4 m), clamped to 0..4.
const char* ReverbSpaceName(float macro);
// The six parameters at macro m: presets floor(4 m) and the next, mixed.
std::array<float, 6> ReverbSpaceParams(float macro);
// Stores the macro and the six parameters it gives.
void ApplyReverbSpace(ReverbParams& reverb, float macro);
// A horizontal drag of dx points over a control iw points wide (half a
// width per preset step): the new macro, applied.
void DragReverbSpace(ReverbParams& reverb, float dx, float innerWidth);
