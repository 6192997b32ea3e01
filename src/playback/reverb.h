// reverb.h — the engine's algorithmic stereo reverb, run on a ReverbState.
//
// Index
//   ReverbT60Seconds / ReverbBaseLengthMs   the two derived sizes the user sees
//   InitReverb            defaults, smoothing coefficients, oscillators, zeroed memory
//   ReverbSetParams       the six user values -> the target parameter set
//   ReverbSmoothParams    one 32-sample glide step of the delay-type parameters
//   ReverbSettleParams    the glide finished at once: current = target
//   ProcessReverbBlock    send bus in, return bus out
//   ClearMixBuffers       zero the delay memory and filter states and restart the
//                         modulation, keep parameters
//
// Only the thread that mixes (the audio thread, or an export thread with a
// private state) runs these on a given state. Other threads that want the
// memory cleared ask the engine (RequestReverbClear, audio_engine.h).
#pragma once

#include <array>

#include "playback/reverb_state.h"

// The six user values in the order ReverbSetParams reads them:
// size, decay, damping, preDelay (seconds), diffusion, modulation.
using ReverbSixParams = std::array<float, 6>;

// Decay time of the network for a decay setting (nominally 0..1).
double ReverbT60Seconds(float decay);
// Base delay-line length in milliseconds for a size setting at `sampleRate`.
double ReverbBaseLengthMs(float size, int sampleRate);

void InitReverb(ReverbState& state, int sampleRate);
// Each value is taken as 0..1 (preDelay as 0..1 s); a non-finite value counts as 0.
void ReverbSetParams(ReverbState& state, const ReverbSixParams& params);
void ReverbSmoothParams(ReverbState& state);
// Ends every glide: the current parameters become the target ones, as after
// a long stretch of unchanged settings. Used where nothing rings, so the
// jump cannot be heard.
void ReverbSettleParams(ReverbState& state);
// Reads `frames` samples of each input and writes as many of each output;
// nothing happens for frames < 1. The output is always finite.
void ProcessReverbBlock(ReverbState& state, const float* inL, const float* inR, float* outL,
                        float* outR, int frames);
// Also puts the write positions and the modulation oscillators back to
// where InitReverb starts them: a cleared reverb is one state, wherever it
// was cleared, so the same sends give the same return after any seek.
void ClearMixBuffers(ReverbState& state);
