// mixer_rig.h — engines and hand-made voices for the mixer tests.
#pragma once

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"

constexpr int kRigRate = 48000;

// A heap engine reset at 48 kHz, playing, voices ready, reverb off.
inline std::unique_ptr<AudioEngine> MakePlayingEngine(int rate = kRigRate) {
    auto e = std::make_unique<AudioEngine>();
    ResetEngineVoices(*e, rate, 0);
    e->reverb.enabled = 0;
    e->playing = 1;
    e->cacheReady = 1;
    return e;
}

// A mono voice holding `value` for `seconds`, starting at `start`.
inline PlaybackVoice ConstantVoice(double start, double seconds, float value, int group = 0,
                                   int rate = kRigRate) {
    PlaybackVoice v;
    v.startTime = v.plainStartTime = float(start);
    v.sampleCount = int32_t(std::lround(seconds * rate));
    v.left.assign(size_t(v.sampleCount), value);
    v.length = float(seconds);
    v.group = group;
    return v;
}

// A voice of noise (stereo when asked) with all three gain curves set.
inline PlaybackVoice CurvedNoiseVoice(double start, double seconds, bool stereo, unsigned seed,
                                      float amplitude = 0.3f, int rate = kRigRate) {
    PlaybackVoice v;
    v.startTime = v.plainStartTime = float(start);
    v.sampleCount = int32_t(std::lround(seconds * rate));
    v.length = float(seconds);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-amplitude, amplitude);
    v.left.resize(size_t(v.sampleCount));
    for (float& x : v.left) x = d(rng);
    if (stereo) {
        v.stereo = 1;
        v.right.resize(size_t(v.sampleCount));
        for (float& x : v.right) x = d(rng);
    }
    for (int i = 0; i < kVoiceIntGainPoints; ++i) v.intGain[i] = 0.5f + 0.5f * std::sin(i * 0.05f);
    v.hasIntGain = 1;
    for (int i = 0; i < kVoiceFillGainPoints; ++i) v.fillGain[i] = 1.0f - i / 256.0f;
    v.hasFillGain = 1;
    v.fillGainSpan = float(seconds);
    for (int i = 0; i < kVoiceDeconGainPoints; ++i) v.deconGain[i] = (i % 2) ? 0.6f : 0.9f;
    v.hasDeconGain = 1;
    v.pan = 0.3f;
    return v;
}

// Mixes `frames` frames in blocks of `block` from the engine's playhead.
inline void MixFrames(AudioEngine& e, int frames, std::vector<float>& left,
                      std::vector<float>& right, int block = 512) {
    left.assign(size_t(frames), 0.0f);
    right.assign(size_t(frames), 0.0f);
    for (int at = 0; at < frames; at += block) {
        const int n = std::min(block, frames - at);
        MixAudioBlock(e, left.data() + at, right.data() + at, n);
    }
}

// Equal-power pan gains for pan 0.
inline float CentreGain() { return std::sqrt(0.5f); }
