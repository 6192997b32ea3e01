// sample_rate.h — the engine's rate changed: the output reopened at it, or
// the engine alone moved to it.
//
// Index
//   ChangeEngineSampleRate   an engine no stream runs: its rate, reverb and playhead
//   SwitchEngineSampleRate   the output and the engine together
#pragma once

struct AudioEngine;
struct AudioOutput;

// Under the engine mutex: the engine's rate and its reverb, the playhead kept
// at its time. For an engine without an output running it (the output's own
// rate hook does this while no stream runs).
void ChangeEngineSampleRate(AudioEngine& engine, int rate);

// The engine runs at `rate`: a running stream is reopened at it (the playing
// flag paused meanwhile; its rate hook moves the engine's rate and reverb
// while nothing mixes), and an engine still at another rate changes here.
void SwitchEngineSampleRate(AudioEngine& engine, AudioOutput& output, int rate);
