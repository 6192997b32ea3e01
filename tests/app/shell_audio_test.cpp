// The shell's audio steps on the program's own engine and output: start-up
// at the project rate, the preferences' rate on the first frame, shutdown.
#include <gtest/gtest.h>

#include <memory>

#include "app/shell_audio.h"
#include "operations/app_state.h"
#include "picture/reference_audio.h"
#include "playback/audio_output.h"
#include "playback/block_mixer.h"
#include "playback/transport.h"

TEST(ShellAudio, TheEngineFollowsTheOutputRateAndKeepsItsPlace) {
    auto app = std::make_unique<AppState>();
    app->projectSampleRate = 44100;
    gAudioEngine.playing = 0;
    OpenShellAudioOutput(*app);
    // Whatever this machine has, something runs the callback at the engine rate.
    AudioOutputStatus status;
    ASSERT_TRUE(TryReadAudioOutputStatus(gAudioOutput, status));
    EXPECT_TRUE(status.open || status.nullRunning);
    EXPECT_EQ(status.engineRate, 44100);
    EXPECT_EQ(gAudioEngine.sampleRate.load(), 44100);
    EXPECT_EQ(gAudioEngine.reverbState.sampleRate, 44100);
    EXPECT_EQ(GetReferenceAudioHook(gAudioEngine), &ReferenceAudioMixHook);

    // The preferences name 96 kHz: the playhead keeps its time, the reverb is
    // set up for the new rate.
    SeekPlayback(gAudioEngine, 2.5);
    app->projectSampleRate = 96000;
    SwitchShellSampleRate(*app);
    EXPECT_EQ(gAudioOutput.engineRate.load(), 96000);
    EXPECT_EQ(gAudioEngine.sampleRate.load(), 96000);
    EXPECT_EQ(gAudioEngine.reverbState.sampleRate, 96000);
    EXPECT_NEAR(GetPlaybackTime(gAudioEngine), 2.5, 1e-4);

    CloseShellAudioOutput();
    EXPECT_EQ(gAudioOutput.api, nullptr);
    EXPECT_EQ(gAudioOutput.open.load(), 0);
    EXPECT_EQ(gAudioOutput.nullRunning.load(), 0);
    // Nothing left to poll or switch.
    PollShellAudioDevice(3.0f);
    SwitchShellSampleRate(*app);
    SetReferenceAudioHook(gAudioEngine, nullptr);
}
