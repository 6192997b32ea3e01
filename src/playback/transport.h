// transport.h — the transport's clock: where the playhead is, moving it, and
// the interface's frame stepping.
//
// Index
//   SeekPlayback / SettlePlayhead   move the playhead (any thread but the audio thread)
//   GetPlaybackTime                 the playhead in seconds
//   RequestReverbClear              ask the audio thread to clear the reverb before its next block
//   AdvanceTimeByFrames             the interface's frame stepping
//
// The playhead is the engine's `position`, in samples at the engine rate; the
// audio thread moves it on after each block it mixes (block_mixer.cpp) and
// keeps a seek made while it mixed.
#pragma once

#include "playback/audio_engine.h"

// Moves the playhead to trunc(rate x seconds) (0 for a negative or non-finite
// time) and asks for the reverb's memory to be cleared.
void SeekPlayback(AudioEngine& engine, double seconds);
double GetPlaybackTime(const AudioEngine& engine);
// The interface's frame stepping: time += frames / frameRate, kept in
// [0, max(duration, 0)]. A frame rate that is not positive changes nothing.
void AdvanceTimeByFrames(float& time, float frameRate, float duration, int frames);

void RequestReverbClear(AudioEngine& engine);

// Where the playhead goes when an edit, a sync or a rebuild ends: while
// playback runs it stays where the audio thread has it (the live position;
// going back to a time read before the work would play that stretch twice);
// otherwise to trunc(rate x seconds). The reverb is cleared only when the
// playhead really moves.
void SettlePlayhead(AudioEngine& engine, double seconds);
