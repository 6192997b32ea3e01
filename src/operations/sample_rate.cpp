// sample_rate.cpp — the engine's rate changed with its output or alone.
//
// Index
//   RetimeEngine / ChangeEngineSampleRate / SwitchEngineSampleRate
#include "operations/sample_rate.h"

#include <mutex>

#include "playback/audio_engine.h"
#include "playback/audio_output.h"
#include "playback/reverb.h"
#include "playback/transport.h"

void RetimeEngine(AudioEngine& engine, int rate) {
    const double seconds = GetPlaybackTime(engine);
    engine.sampleRate.store(rate);
    InitReverb(engine.reverbState, rate);
    SeekPlayback(engine, seconds);
}

void ChangeEngineSampleRate(AudioEngine& engine, int rate) {
    std::lock_guard<EngineMutex> lock(engine.mutex);
    RetimeEngine(engine, rate);
}

void SwitchEngineSampleRate(AudioEngine& engine, AudioOutput& output, int rate) {
    if (output.api) SwitchAudioDevice(output, rate);
    if (engine.sampleRate.load() != rate) ChangeEngineSampleRate(engine, rate);
}
