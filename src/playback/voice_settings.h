// voice_settings.h — what a playback voice takes from its result and event
// besides its samples, and keys that tell when a voice no longer matches.
//
// Index
//   ResultGetsVoice     whether building the result installs a voice at all
//   VoiceBaseGain       weight factor x layerGain x userVolume
//   VoicePan            the track lane spread plus the weight's own offset
//   LayerMuted          the one mute rule: a layer is silent when it or its event is muted
//   VoiceLevelSettings / VoiceLevelSettingsFor   the three settings the mixer reads as atomics
//   SetVoiceSettings    placement, group, mute, indices, gain, pan, event settings, curves
//   SetVoiceMixSettings / SetVoiceOwnerSettings   the half the mixer reads locked, and the rest
//   VoiceHoldsSettings / VoiceHoldsMixSettings    whether a voice already has them (the atomics aside)
//   VoicePeak / VoiceHeadroomFactor   the build's gain cut for an overview peak above 0.5
//   VoiceGain           the one gain law: base gain, headroom cut, level passes
//   VoiceSampleKey / VoiceSourceKey / VoiceSamplesHold   hash of what shapes a voice's samples (and
//                       loudness gain), of what they are before the pitch shift; whether a voice holds them
//   ResultVoiceKey      hash of everything a voice takes from its result
//
// The voice build and the voice sync share these, so a refreshed voice has
// exactly the settings a fresh build would give it.
#pragma once

#include <cstdint>

struct Event;
struct PlaybackVoice;
struct RenderResult;

// False for a result with no file that is not a placeholder: the build skips it.
bool ResultGetsVoice(const RenderResult& result);

// 1 up to weight 0.7, falling linearly to 0.7 at weight 0.85 and above.
float VoiceBaseGain(const RenderResult& result);

// clamp(0.15 (track rem 5 - 2) + 0.4 (weight - 0.5), -0.8, 0.8), 0 when not finite.
float VoicePan(const RenderResult& result);

// A layer is silent (its voice muted, and it is in no export pass) when it
// is muted or its event is. `events` may be null; an index outside
// 0..eventCount-1 has no event to mute it.
bool LayerMuted(const RenderResult& result, int eventCount, const Event* events);

// Gain (VoiceBaseGain, before headroom), event gain (1 without a gain table)
// and mute (the result's or its event's): the settings that change while the
// audio thread mixes, so they may be stored without the engine lock.
struct VoiceLevelSettings {
    float gain = 1.0f;
    float eventGain = 1.0f;
    uint8_t muted = 0;
};
VoiceLevelSettings VoiceLevelSettingsFor(const RenderResult& result, const float* eventGains, int eventCount,
                                         const Event* events);

// Writes every setting the result and its event give a voice, leaving its
// samples, length, overview, loudness gain, chunks and splices alone:
// startTime (+ deconOffset), plainStartTime, group, muted (result or event),
// eventIndex, resultIndex, resultId, pan, gain := VoiceBaseGain, eventGain
// (1 without a gain table), reverbSend (-1 without an event), the three gain
// curves with their flags (cleared when the result has none), and for a fill
// with a valid event the link to the event's live intensity curve (cleared
// otherwise). eventGains and events may be null; both are indexed by the
// result's eventIdx below eventCount.
void SetVoiceSettings(PlaybackVoice& voice, const RenderResult& result, int resultIndex,
                      const float* eventGains, int eventCount, const Event* events);

// The two halves of SetVoiceSettings (without the levels): what the mixer
// reads under the engine lock (placement, group, pan, send, curves, the
// intensity's count, scale and bed flag) and what only the owner of the
// voices reads or the mixer reads as an atomic (event, result index and id,
// the intensity curve's link), which the owner may write unlocked. Each
// writes only the fields that differ.
void SetVoiceMixSettings(PlaybackVoice& voice, const RenderResult& result, int eventCount, const Event* events);
void SetVoiceOwnerSettings(PlaybackVoice& voice, const RenderResult& result, int resultIndex, int eventCount,
                           const Event* events);

// True when SetVoiceSettings would change nothing but gain, eventGain and muted.
bool VoiceHoldsSettings(const PlaybackVoice& voice, const RenderResult& result, int resultIndex,
                        int eventCount, const Event* events);
// True when SetVoiceMixSettings would change nothing.
bool VoiceHoldsMixSettings(const PlaybackVoice& voice, const RenderResult& result, int eventCount,
                           const Event* events);

// The largest overview peak (overviewPeak, or the overview itself when that
// was never set).
float VoicePeak(const PlaybackVoice& voice);
// 0.5 / peak when the largest overview peak exceeds 0.5, else 1.
float VoiceHeadroomFactor(const PlaybackVoice& voice);

// The gain a voice plays its result at: VoiceBaseGain (weight factor x
// layerGain x userVolume), cut by VoiceHeadroomFactor, times `levels`, the
// factor the level passes found for the voice (its levelScale; 1 before
// any). The build, the level recomputation and a layer's volume all set a
// voice's gain through here.
float VoiceGain(const RenderResult& result, const PlaybackVoice& voice, float levels = 1.0f);

// The fields a voice build turns into samples and loudness gain: mode, file,
// region, duration, placeholder, channels, pitch variation, band gains, fill
// loop, a fill's chunk plan (or, without one, its seed: the group track,
// unless the build found the fill owes nothing to it, `fillSeeded` false),
// group (its loudness target) and the alloy sources and settings.
uint64_t VoiceSampleKey(const RenderResult& result, bool fillSeeded = true);

// What the samples are made from before their pitch shift: VoiceSampleKey
// less the pitch variation and the group (its loudness target). Two layers
// with one source key sound alike until they are pitched.
uint64_t VoiceSourceKey(const RenderResult& result, bool fillSeeded = true);

// Whether a build of `result` would make the samples `voice` holds: its key
// as the voice's own build took it (a looped fill keeps its samples on any
// track; the track assignment only moves it).
bool VoiceSamplesHold(const PlaybackVoice& voice, const RenderResult& result);

// VoiceSampleKey plus every setting: placement, offsets, track, weight,
// gains, mute, fades, event index and the gain curves.
uint64_t ResultVoiceKey(const RenderResult& result);
