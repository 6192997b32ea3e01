// mixer_rig.h — engines and hand-made voices for the mixer tests.
#pragma once

#include <array>
#include <cmath>
#include <deque>
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

// Random voices for comparing one mix with another: starts between samples
// (some before the project's start), data shorter or longer than the length,
// mono and stereo, every gain curve, the event's intensity, pan, groups
// (one out of range), sends, mutes and fades. Intensity curves live here,
// so the maker must outlive the voices.
struct RandomVoices {
    std::mt19937 rng;
    std::deque<std::array<float, 256>> intensities;
    bool allowEvicted = true;  // the export prepares evicted voices; playback skips them

    explicit RandomVoices(unsigned seed) : rng(seed) {}

    float Uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }
    bool Chance(float p) { return Uniform(0, 1) < p; }

    void FillCurve(float* c, int n) {
        const float base = Uniform(0.2f, 1.2f);
        for (int i = 0; i < n; ++i) c[i] = std::max(0.0f, base + Uniform(-0.3f, 0.3f));
    }

    // A voice of noise at most `amplitude`, with its stored fades.
    PlaybackVoice Make(float& fadeIn, float& fadeOut, float amplitude = 0.04f) {
        const float len = Chance(0.2f) ? Uniform(0.005f, 0.05f) : Uniform(0.05f, 1.5f);
        PlaybackVoice v = CurvedNoiseVoice(0, len, Chance(0.5f), rng(), amplitude);
        v.startTime = Uniform(-0.3f, 2.0f);
        v.plainStartTime = v.startTime - (Chance(0.5f) ? Uniform(0, 0.1f) : 0.0f);
        if (Chance(0.2f)) v.sampleCount += int32_t(Uniform(-200, 200));
        if (v.stereo && Chance(0.1f)) v.right.resize(v.right.size() / 2);  // too short: plays mono
        v.gain = Uniform(0.3f, 1.5f);
        v.normGain = Uniform(0.5f, 2.0f);
        v.eventGain = Uniform(0.5f, 1.2f);
        v.pan = Uniform(-0.8f, 0.8f);
        v.group = Chance(0.05f) ? 7 : int(rng() % 3);
        v.reverbSend = Chance(0.5f) ? -1.0f : Uniform(0, 1);
        v.hasIntGain = Chance(0.6f);
        v.hasFillGain = Chance(0.5f);
        v.hasDeconGain = Chance(0.5f);
        FillCurve(v.intGain.data(), 256);
        FillCurve(v.fillGain.data(), 128);
        FillCurve(v.deconGain.data(), 32);
        v.fillGainSpan = Chance(0.3f) ? 0.0f : len * Uniform(0.3f, 2.0f);
        if (Chance(0.25f)) {
            intensities.emplace_back();
            FillCurve(intensities.back().data(), 256);
            v.intensityCurve = intensities.back().data();
            v.intensityCount = 256;
            v.intensityScale = Uniform(0.5f, 1.5f);
            v.intensityIsBed = Chance(0.5f);
        }
        v.muted = Chance(0.1f);
        if (allowEvicted && Chance(0.05f)) v.evicted = 1;
        fadeIn = Uniform(0, 0.4f);
        fadeOut = Uniform(0, 0.4f);
        return v;
    }
};
