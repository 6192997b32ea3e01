// transport.cpp — the playhead: seeks, settling after work, its time, and the
// interface's frame stepping.
//
// Index
//   PlayheadSampleOf      seconds to a whole project sample at the engine rate
//   SeekPlayback / SettlePlayhead / GetPlaybackTime / RequestReverbClear
//   AdvanceTimeByFrames
#include "playback/transport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// trunc(rate x seconds); 0 for a negative, non-finite or absurd time.
int64_t PlayheadSampleOf(const AudioEngine& engine, double seconds) {
    const double samples = std::trunc(double(engine.sampleRate.load()) * seconds);
    return samples > 0 && samples < 9.0e18 ? int64_t(samples) : 0;
}

}  // namespace

void SeekPlayback(AudioEngine& engine, double seconds) {
    engine.position.exchange(PlayheadSampleOf(engine, seconds));
    RequestReverbClear(engine);
}

void SettlePlayhead(AudioEngine& engine, double seconds) {
    if (engine.playing.load()) return;
    const int64_t position = PlayheadSampleOf(engine, seconds);
    if (engine.position.exchange(position) != position) RequestReverbClear(engine);
}

double GetPlaybackTime(const AudioEngine& engine) {
    const int rate = engine.sampleRate.load();
    return rate > 0 ? double(engine.position.load()) / double(rate) : 0.0;
}

void RequestReverbClear(AudioEngine& engine) { engine.reverbClearRequested.store(1); }

void AdvanceTimeByFrames(float& time, float frameRate, float duration, int frames) {
    if (!(frameRate > 0) || !std::isfinite(frameRate)) return;
    const float upper = std::isfinite(duration) ? std::max(duration, 0.0f) : 0.0f;
    const float next = time + float(frames) / frameRate;
    time = std::isfinite(next) ? std::clamp(next, 0.0f, upper) : 0.0f;
}
