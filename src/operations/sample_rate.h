// sample_rate.h — the engine's rate changed: the output reopened at it, or
// the engine alone moved to it.
//
// Index
//   RetimeEngine             its rate, reverb and playhead, while nothing mixes
//   ChangeEngineSampleRate   the same under the engine mutex
//   SwitchEngineSampleRate   the output and the engine together
#pragma once

struct AudioEngine;
struct AudioOutput;

// The engine's rate and its reverb, the playhead kept at its time. Without
// the engine mutex: for the output's own rate hook, which runs while no
// stream mixes and may not wait on the mutex.
void RetimeEngine(AudioEngine& engine, int rate);

// RetimeEngine under the engine mutex. For an engine without an output running it (the output's own
// rate hook does this while no stream runs).
void ChangeEngineSampleRate(AudioEngine& engine, int rate);

// The engine runs at `rate`: a running stream is reopened at it (the playing
// flag paused meanwhile; its rate hook moves the engine's rate and reverb
// while nothing mixes), and an engine still at another rate changes here.
void SwitchEngineSampleRate(AudioEngine& engine, AudioOutput& output, int rate);
