// shell_audio.cpp — the audio steps of start-up and shutdown (not connected yet).
#include "app/shell_audio.h"

#include <cstdio>

#include "app/app_state.h"

void OpenShellAudioOutput(AppState& app) {
    std::printf("[UI] audio output not available: running silent (%d Hz)\n", app.projectSampleRate);
    std::fflush(stdout);
}

void CloseShellAudioOutput() {}
