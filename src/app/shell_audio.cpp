// shell_audio.cpp — the audio steps of start-up, the frame loop and shutdown.
//
// Index
//   ShellAudioCallback / OpenShellAudioOutput / SwitchShellSampleRate
//   PollShellAudioDevice / CloseShellAudioOutput
#include "app/shell_audio.h"

#include <memory>
#include <string>
#include <utility>

#include "operations/app_state.h"
#include "operations/sample_rate.h"
#include "picture/reference_audio.h"
#include "platform/null_audio_output.h"
#include "platform/rtaudio_backend.h"
#include "playback/audio_engine.h"
#include "playback/audio_output.h"
#include "playback/block_mixer.h"

namespace {

constexpr float kDevicePollSeconds = 2.5f;
constexpr float kDeviceToastSeconds = 5.0f;
float gDevicePollClock = 0;

}  // namespace

void ShellAudioCallback(float* left, float* right, int32_t frames) {
    MixAudioBlock(gAudioEngine, left, right, frames);
}

void OpenShellAudioOutput(AppState& app) {
    // The program's voices hold samples only near the playhead (the frame's
    // voice streamer brings the others back): an hour of layers fits in memory.
    gAudioEngine.streamVoices.store(1);
    AudioOutput& output = gAudioOutput;
    output.api = CreateRtAudioBackend();
    output.nullOutput = std::make_unique<NullAudioOutput>();
    output.onEngineRateChange = [](int32_t rate) { RetimeEngine(gAudioEngine, rate); };
    OpenAudioOutput(output, ShellAudioCallback, &gAudioEngine.playing, app.projectSampleRate);
    SetReferenceAudioHook(gAudioEngine, ReferenceAudioMixHook);  // the video's sound, once per block
    gDevicePollClock = 0;
}

void SwitchShellSampleRate(const AppState& app) {
    if (!gAudioOutput.api) return;  // no output was opened (headless runs)
    SwitchAudioDevice(gAudioOutput, app.projectSampleRate);
}

void PollShellAudioDevice(float frameSeconds) {
    if (!gAudioOutput.api || !(frameSeconds > 0)) return;
    gDevicePollClock += frameSeconds;
    if (gDevicePollClock < kDevicePollSeconds) return;
    gDevicePollClock = 0;
    HandleAudioDeviceLoss(gAudioOutput);
    std::string notice = TakeAudioDeviceNotice(gAudioOutput);
    if (!notice.empty()) {
        gAppState.toastText = std::move(notice);
        gAppState.toastTimer = kDeviceToastSeconds;
    }
}

void CloseShellAudioOutput() { CloseAudioOutput(gAudioOutput); }
