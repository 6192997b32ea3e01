// audio_engine.h — the playback engine record and its voices.
//
// Index
//   kDeclickSeconds / kDeclickCapacity   the ramps of stops, seeks and switches
//   ReverbParams          the user's reverb settings, group sends and macro
//   PlaybackVoice         one rendered layer ready to mix: samples plus what the mixer needs
//   PrefetchVoice / PrefetchVoicePlace   the lines a walk over the voices reads, asked for ahead
//   AudioEngine           voices, transport, mixer state, reverb, limiter; its
//                         counters and meters in `stats` (engine_stats.h)
//   gAudioEngine          the process-wide engine
//
// Threads: the voice list, the fade lists, the spans, the time index and the
// limiter state are guarded by `mutex`; the audio thread only tries it, and
// every other holder does work bounded by what it changes (engine_voices.h). Flags, counters, faders, reverb
// settings, meters and the voice levels the interface changes while the audio
// thread mixes are atomics, read once per block. The audition sound is handed
// to the audio thread whole through an AudioHandoff: whoever replaces it waits
// out a read in progress and drops the old buffer itself, so the audio thread
// never waits for it and never frees it.
//
// The engine is large (mix buses, reverb memory): private engines (recipe
// preview, offline export, tests) belong on the heap, not on a stack.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "document/copyable_atomic.h"
#include "document/project.h"
#include "document/voice_audio.h"
#include "playback/audio_handoff.h"
#include "playback/engine_mutex.h"
#include "playback/engine_stats.h"
#include "playback/level_memo.h"
#include "playback/reverb_state.h"
#include "playback/voice_list.h"
#include "playback/voice_time_index.h"
#include "render/scale_tuning.h"
// Stop, seek and restart ramp the output instead of cutting it: this long at
// any rate, and at most kDeclickCapacity frames.
constexpr double kDeclickSeconds = 0.005;
constexpr int kDeclickCapacity = 1024;

// Written by the interface while the audio thread mixes: every value is atomic
// (and the record still copies, for saving and the preferences).
struct ReverbParams {
    // The six values the reverb reads, in this order.
    CopyableAtomic<float> size{0.5f};
    CopyableAtomic<float> decay{0.5f};
    CopyableAtomic<float> damping{0.3f};
    CopyableAtomic<float> preDelay{0.015f};  // seconds
    CopyableAtomic<float> diffusion{0.7f};
    CopyableAtomic<float> modulation{0.5f};
    CopyableAtomic<uint8_t> enabled{1};
    std::array<CopyableAtomic<float>, 3> groupSends{0.2f, 0.2f, 0.2f};
    CopyableAtomic<float> macro{0.65f};  // the mixer panel's one-knob control; the reverb ignores it
};

// The sound (VoiceAudio: samples, channels, length, splices, chunks) plus
// everything the mixer needs to play it without touching the document.
// A new field must also be copied in CopyVoiceWithoutSamples (engine_voices.cpp).
struct PlaybackVoice : VoiceAudio {
    // Where the voice sounds, whether its samples are loaded and its result:
    // with `length` just before them, all a walk of the streaming window
    // reads, in one cache line.
    float startTime = 0;       // seconds: the result's startTime + deconOffset
    float plainStartTime = 0;  // seconds: the result's startTime
    // Samples released by the streaming window. Changed under the lock; an
    // export reads it without (it never reads the samples themselves).
    CopyableAtomic<uint8_t> evicted{0};
    int32_t resultIndex = -1;  // the owner's bookkeeping, never read by the mixer
    // gain, eventGain and muted change while the audio thread mixes.
    CopyableAtomic<float> gain{1.0f};
    // What the level passes multiplied the build's gain by (VoiceGain); the
    // owner's, never read by the mixer.
    float levelScale = 1.0f;
    float normGain = 1.0f;
    CopyableAtomic<float> eventGain{1.0f};
    float pan = 0;  // -0.8 .. 0.8
    int32_t group = 0;
    CopyableAtomic<uint8_t> muted{0};
    // What the mixer reads of every voice it looks at sits here, next to the
    // samples and gains (the curves' presence, the switches, eviction), and
    // the large arrays after it: a block among many voices touches two or
    // three cache lines of each.
    uint8_t hasFillGain = 0;
    uint8_t hasIntGain = 0;
    uint8_t hasDeconGain = 0;
    uint8_t intensityIsBed = 0;
    float fillGainSpan = 0;  // seconds that fillGain spans
    // Borrowed from the owning event (fill results only). Whoever replaces the
    // document's event list repoints it first, and frees the old list only
    // once no block can still be reading it (ReplaceDocumentEvents).
    CopyableAtomic<const float*> intensityCurve{nullptr};
    int32_t intensityCount = 0;
    float intensityScale = 1.0f;
    float reverbSend = -1.0f;  // negative: use the group's send
    // The level the mute and solo switches left this voice at (0..1; negative
    // until first mixed). Only the thread that mixes moves it, toward 0 or 1
    // over the declick time when a switch changes while sound plays.
    CopyableAtomic<float> switchGain{-1.0f};
    // The mixing pass that last looked at this voice (the mixer's count): a
    // voice not looked at in the pass before was silent there, and its
    // switches' ramp starts afresh.
    CopyableAtomic<uint64_t> switchPass{0};
    // The owner's bookkeeping; the mixer never reads these two.
    int32_t eventIndex = -1;
    uint32_t resultId = 0;
    std::array<float, kVoiceOverviewBins> peakOverview{};
    std::array<float, kVoiceOverviewBins> rmsOverview{};
    float overviewPeak = 0;  // the largest value of peakOverview
    std::array<float, kVoiceFillGainPoints> fillGain{};
    std::array<float, kVoiceIntGainPoints> intGain{};
    std::array<float, kVoiceDeconGainPoints> deconGain{};
    // Semitones the samples were shifted by when built. Preparing an evicted
    // voice again uses this, not the result's pitchShift, which every render
    // pass resets to the pitch variation (dropping the scale correction).
    float pitchShift = 0;
    // What the samples were made from (VoiceSampleKey of the result at build
    // time): a voice whose result no longer gives this key is stale.
    uint64_t sampleKey = 0;
    // How the build made them besides (VoiceBuildKey: rate, band gains,
    // loudness target); a rebuild keeps a voice only when both keys hold.
    uint64_t buildKey = 0;
    // The search for a pitch to tune to a scale (made by a build at a scale,
    // or when a scale is set, MeasureUnknownVoicePitches): 0 not made, 1 no
    // clear pitch, 2 found `tunedPitch`. `tunedFor`: the settings the build
    // made `pitchShift` for (a build that keeps the stored shift, as an open
    // does, takes it as made for the settings it found).
    uint8_t tuneState = 0;
    VoicePitch tunedPitch;
    VoiceScale tunedFor;
};

using VoiceList = RecordList<PlaybackVoice>;

// Ask for the cache lines a walk over the voices reads of each: each voice
// is a record of its own some twenty kilobytes from the next, so a walk that
// asks for a later voice's lines while it looks at this one does not wait on
// memory once per voice. PrefetchVoice: what the mixer reads (samples,
// start, gains, switches); PrefetchVoicePlace: where the voice sounds and
// whether its samples are loaded (the streaming window's walk).
inline void PrefetchVoice(const PlaybackVoice& voice) {
    __builtin_prefetch(&voice.left);
    __builtin_prefetch(&voice.startTime);
    __builtin_prefetch(&voice.switchGain);
}
inline void PrefetchVoicePlace(const PlaybackVoice& voice) { __builtin_prefetch(&voice.startTime); }

// Adds the reference video's sound for the block starting at timeSeconds.
using ReferenceAudioHook = void (*)(float* left, float* right, int32_t frames, double timeSeconds,
                                    int32_t sampleRate);

struct AudioEngine {
    AudioEngine() = default;
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // ---- Guarded by `mutex` ----
    VoiceList voices;
    std::vector<float> voiceFadeIn;   // seconds, parallel to voices
    std::vector<float> voiceFadeOut;  // seconds, parallel to voices
    std::vector<VoiceSpan> voiceSpans;  // parallel to voices (engine_voices.h keeps it)
    VoiceTimeIndex voiceIndex;           // by time, over voices [0, voiceIndex.covered), and its loose voices
    std::vector<uint32_t> mixScratch;    // the mixer's list of a block's voices (never resized by it)
    EngineMutex mutex;

    // ---- Levels (the thread that owns the voices) ----
    // Raised by every change of what the level passes read of a voice (its
    // placement, length, mute, event gain, build, removal or order) made
    // outside a level pass: the memo of the last pass holds only while this
    // stays as the pass left it.
    std::atomic<uint64_t> levelInputEdits{0};
    VoiceLevelMemo levelMemo;

    // ---- Transport and progress ----
    std::atomic<int64_t> position{0};  // playhead in samples at sampleRate
    std::atomic<uint8_t> playing{0};
    // The voice set is complete and levelled. The mixer plays whatever voices
    // there are either way; the streaming window waits for it.
    std::atomic<uint8_t> cacheReady{0};
    // Raised while an export or a bounce reads the voices without the lock.
    // Changed only under `mutex` (PinEngineVoices), so an edit that holds the
    // lock and sees no pin cannot be overtaken by one.
    std::atomic<int32_t> voicePins{0};

    // ---- Mixer (faders and switches move while the audio thread mixes) ----
    std::atomic<float> masterGain{1.0f};
    std::atomic<int32_t> soloVoice{-1};  // >= 0: only this voice plays, even if muted
    std::array<std::atomic<float>, 3> groupGain{1.0f, 1.0f, 1.0f};  // "BG", "FX A", "FX B"
    std::array<std::atomic<uint8_t>, 3> groupMute{};
    std::array<std::atomic<uint8_t>, 3> groupSolo{};
    std::atomic<uint8_t> masterMute{0};
    std::array<float, 3> groupTargetLufs{-52.0f, -16.0f, -25.0f};  // copied before a rebuild
    uint8_t normalizeLoudness = 1;
    std::atomic<float> refGain{1.0f};  // reference-audio fader; the mixer does not read it
    std::atomic<uint8_t> bypassDeconfliction{0};
    std::atomic<float> streamWindow{30.0f};  // half-width in seconds of the streaming window
    // Voices outside the streaming window have no samples loaded: a build releases
    // them as soon as it has measured them, and the frame's voice streamer
    // brings them back as the playhead nears. Set for the program's engine
    // before any voice is built; a private engine (recipe preview, tests)
    // keeps every voice whole unless it asks for this.
    std::atomic<uint8_t> streamVoices{0};

    // ---- Audition (a mono sound played straight to the output) ----
    AudioHandoff<std::vector<float>> auditionSamples;  // immutable once handed over
    std::atomic<int32_t> auditionPosition{0};  // output frames played
    std::atomic<int32_t> auditionLength{0};    // output frames to play; 0 stops it
    std::atomic<int32_t> auditionRate{48000};

    // ---- Reference audio ----
    // The picture's sound, added to each block the engine mixes (null: none;
    // block_mixer.h). Each engine has its own: the program's plays the
    // reference video, a private engine plays only its voices.
    std::atomic<ReferenceAudioHook> referenceAudioHook{nullptr};

    // ---- Reverb ----
    ReverbParams reverb;
    ReverbState reverbState;  // run only by the thread that mixes
    // Other threads ask for the memory to be cleared; the mixer does it before
    // its next block.
    std::atomic<uint8_t> reverbClearRequested{0};
    std::array<float, kMixBlockFrames> sendL{}, sendR{};
    std::array<float, kMixBlockFrames> wetL{}, wetR{};

    // ---- Declick (only the thread that mixes touches these) ----
    // The level the output left off at (0 silent, 1 playing) and the project
    // sample where the last mixed block ended: a block that starts elsewhere
    // while sound plays is a jump, and what played runs on there, fading.
    float declickGain = 0;
    int64_t declickNext = 0;
    std::array<float, kDeclickCapacity> fadeL{}, fadeR{};      // the old sound of a jump
    std::array<float, kDeclickCapacity> fadeRefL{}, fadeRefR{};  // its reference audio
    std::array<float, kDeclickCapacity> keepL{}, keepR{};      // what a ramp must leave alone
    // One voice's first frames while its switches' ramp runs, and its sends.
    std::array<float, kDeclickCapacity> switchRampL{}, switchRampR{};
    std::array<float, kDeclickCapacity> switchRampSendL{}, switchRampSendR{};
    float masterSwitchGain = 1;  // where the master mute's ramp left the output
    uint64_t mixPass = 0;        // spans of up to kMixBlockFrames mixed so far
    // Elementwise peaks of each voice's contribution, per group and side, for
    // the group meters.
    std::array<std::array<float, kMixBlockFrames>, 6> groupPeakFrames{};

    // ---- Master limiter (coefficients stay 0 until the voices are reset) ----
    float limiterEnvelope = 0;
    float limiterThreshold = 0.85f;
    float limiterAttack = 0;
    float limiterRelease = 0;

    // ---- What it reports: progress, counts, meters, blocks it could not play ----
    AudioEngineStats stats;

    std::atomic<int32_t> sampleRate{48000};  // read by the audio thread before it locks
};

// Says that a voice's level inputs changed outside a level pass (levelInputEdits).
inline void NoteLevelInputEdit(AudioEngine& engine) { engine.levelInputEdits.fetch_add(1, std::memory_order_relaxed); }

extern AudioEngine gAudioEngine;
