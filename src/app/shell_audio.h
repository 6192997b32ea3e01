// shell_audio.h — the audio steps of start-up and shutdown.
//
// Index
//   OpenShellAudioOutput    start-up: engine rate from `projectSampleRate`, the
//                           reverb at that rate, the output stream
//   CloseShellAudioOutput   shutdown: clear the open flag, stop and close the
//                           stream, destroy the audio API object
//
// The audio output and the reverb are not part of the program yet: both
// steps only log, and the program runs silent. This is where they join; the
// shell calls nothing else of the audio output.
#pragma once

struct AppState;

void OpenShellAudioOutput(AppState& app);
void CloseShellAudioOutput();
