// shell_audio.h — the audio steps of start-up, the frame loop and shutdown.
//
// Index
//   ShellAudioCallback       the render function: the block mixer on the program's engine
//   OpenShellAudioOutput     start-up: RtAudio and the null output, the engine's
//                            rate and reverb, the default device at `projectSampleRate`,
//                            the reference video's sound in the mix
//   SwitchShellSampleRate    first frame: the preferences' rate, when it differs
//   PollShellAudioDevice     every frame: the device-loss poll each 2.5 s of frame time;
//                            what a loss did becomes a 5 s toast
//   CloseShellAudioOutput    shutdown: stop and close the stream, destroy the back-ends
//
// The engine's sample rate and its reverb change only through the output's
// rate hook, which runs while no stream is mixing. UI thread only; the
// output itself documents which of its calls other threads may make.
#pragma once

#include <cstdint>

struct AppState;

void ShellAudioCallback(float* left, float* right, int32_t frames);
void OpenShellAudioOutput(AppState& app);
void SwitchShellSampleRate(const AppState& app);
void PollShellAudioDevice(float frameSeconds);
void CloseShellAudioOutput();
