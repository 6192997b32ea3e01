// audio_output.h — the engine's connection to the sound card: the device
// list, the stream and its rate, device loss, the null output that keeps
// time without a device, and the stream callback with its resampler.
//
// Index
//   kOutputPeriodFrames     frames asked of the device per callback
//   kAudioOpenFailedText / kAudioLostText / kAudioSwitchedText   the user's notices
//   OutputDevice            one usable output device
//   AudioRenderFunction     produces engine-rate audio, planar
//   AudioReopenState        why the loss poll tries to open a device again
//   AudioOutput             back-ends, device list, stream state, resampler
//   gAudioOutput            the program's output
//   OpenAudioOutput         start-up
//   OpenAudioStream         open on a device at an engine rate
//   SwitchAudioDevice       reopen at another engine rate, pausing the transport
//   HandleAudioDeviceLoss   the frame loop's poll
//   TakeAudioDeviceNotice   what the poll has to tell the user, once
//   RefreshOutputDevices    the device list anew
//   SelectOutputDevice      open a device the user picked, found again by name
//   ChooseDeviceRate        the rate a device is opened at
//   CloseAudioOutput        shutdown
//   AudioOutputStatus / TryReadAudioOutputStatus   a copy for the interface
//   AudioStreamCallback     the stream's callback (audio_stream_callback.cpp)
//
// Back-ends: the caller installs `api` (RtAudio in the program, the fake in
// tests) and `nullOutput` before OpenAudioOutput. When no device can be
// opened, `errorText` says so, `open` stays clear and the null output pulls
// the same callback at the engine rate, so the transport, its clock and the
// meters still run; the loss poll keeps trying the default device.
//
// Threads:
//   - OpenAudioOutput and CloseAudioOutput: the UI thread, at start-up and
//     shutdown.
//   - OpenAudioStream, SwitchAudioDevice, RefreshOutputDevices: any thread
//     but the audio thread (the settings panel may call them from a worker);
//     they take `mutex`, so they wait for one another.
//   - HandleAudioDeviceLoss: the UI thread. It only tries `mutex` and skips
//     the poll while another thread holds it, so a slow device never stalls
//     a frame.
//   - TryReadAudioOutputStatus: any thread; false while `mutex` is taken.
//   - AudioStreamCallback: the stream's thread (RtAudio's or the null
//     output's). It takes no lock and touches only the render function, the
//     rates and the resampler; those change only under `mutex` while no
//     stream runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio_backend.h"
#include "playback/output_gaps.h"

constexpr int kOutputPeriodFrames = 512;

inline constexpr const char* kAudioOpenFailedText = "Could not open audio device";
inline constexpr const char* kAudioLostText = "Audio device lost \xE2\x80\x94 could not reopen";
inline constexpr const char* kAudioSwitchedText = "Audio device disconnected \xE2\x80\x94 switched to default";

struct OutputDevice {
    uint32_t id = 0;
    std::string name;
    uint8_t isDefault = 0;  // the system's default output device
};

using AudioRenderFunction = std::function<void(float* left, float* right, int32_t frames)>;

enum class AudioReopenState : uint8_t {
    None,          // a device stream is open, or the output was closed on purpose
    AfterFailure,  // the last open failed
    AfterLoss,     // the device went away and no other could be opened
};

struct AudioOutput {
    AudioOutput() = default;
    ~AudioOutput();  // stops every stream before the buffers go
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    std::unique_ptr<AudioBackend> api;         // the sound card
    std::unique_ptr<AudioBackend> nullOutput;  // runs the callback when no device opens
    AudioRenderFunction render;
    std::atomic<uint8_t>* playingFlag = nullptr;  // the engine's `playing`
    // Called under `mutex` while no stream runs, whenever the engine rate is
    // about to change (the first open included): the engine's rate and its
    // reverb follow it here, where the audio thread cannot be mixing.
    std::function<void(int32_t rate)> onEngineRateChange;

    // ---- Guarded by `mutex` ----
    uint32_t deviceId = 0;
    // The open device's name. RtAudio's ids are indices of its last probe, so
    // a device plugged in or out renumbers the others: the name finds the
    // open device again in a new list.
    std::string deviceName;
    std::vector<OutputDevice> devices;
    int32_t selectedDevice = -1;  // index into devices; -1 when not listed
    std::string errorText;        // empty after a successful open
    // What a loss did, for the user once (the frame's toast); errorText stays
    // as the settings panel's status.
    std::string deviceNotice;
    AudioReopenState reopen = AudioReopenState::None;
    uint64_t callbacksAtLastPoll = 0;
    std::mutex mutex;

    std::atomic<int32_t> engineRate{0};  // the rate asked for last, even when it failed
    std::atomic<int32_t> deviceRate{0};  // the running stream's rate (device or null output)
    std::atomic<uint8_t> open{0};        // a device stream is open and started
    std::atomic<uint8_t> nullRunning{0};
    std::atomic<uint64_t> callbackCount{0};  // callbacks so far; a stalled count is a lost device
    // Callbacks the back-end flagged as late (RtAudio's ALSA and JACK flag
    // them; its PulseAudio back-end never does).
    std::atomic<uint64_t> underruns{0};
    // What the stream's thread did, since the stream opened (callback thread
    // writes, anyone reads): the longest callback in wall time and in the
    // thread's own CPU time, the longest time from the end of one callback to
    // the start of the next (the back-end writing and the thread waiting for
    // its turn), callbacks during which the thread blocked (it gave up the
    // CPU itself: a lock, an allocation, a page read from disk) and callbacks
    // during which it was preempted (the scheduler ran something else), and
    // whether the thread runs with real-time scheduling.
    std::atomic<int64_t> longestCallbackMicros{0};
    std::atomic<int64_t> longestCallbackCpuMicros{0};
    std::atomic<int64_t> longestCallbackGapMicros{0};
    std::atomic<uint64_t> callbacksBlocked{0};
    std::atomic<uint64_t> callbacksPreempted{0};
    std::atomic<uint8_t> realtimeThread{0};
    // Stretches of output the device played without our frames (output
    // gaps), found as the back-end allows (gapSource): from its underflow
    // flags, or from the stream's clock against the frames delivered
    // (output_gaps.h), one for each silence however close to the one
    // before; the device frames they lasted (known from the clock only);
    // and the callbacks that came too late for the sound, while the device
    // had nothing of ours. None in a stream that kept up. Counted only while
    // the transport plays (`playingFlag`): a silence while it is stopped
    // leaves out nothing anyone could hear, and counts apart.
    std::atomic<uint64_t> outputGaps{0};
    std::atomic<uint64_t> outputGapFrames{0};
    std::atomic<uint64_t> lateCallbacks{0};
    std::atomic<uint64_t> stoppedOutputGaps{0};
    std::atomic<OutputGapSource> gapSource{OutputGapSource::NoGaps};
    // Set (release) once the callback state below is prepared for the stream
    // being opened; cleared when the last stream closes. A back-end may start
    // its callback thread when the stream opens, before that state is ready,
    // and hand it the start through a flag of its own that orders nothing
    // (RtAudio's PulseAudio thread): the callback reads this first (acquire)
    // and plays silence until it is set.
    std::atomic<uint8_t> buffersReady{0};

    // ---- Callback state (set up under `mutex` while no stream runs) ----
    int64_t lastCallbackEnd = 0;  // steady-clock microseconds; 0 before the stream's first callback
    OutputClockWatch clockWatch;
    // Whether the transport played at any callback of the fall the clock
    // watch is following (the gap it may turn out to be is playback's).
    bool gapWhilePlaying = false;
    double phase = 1.0;  // read position in bufferL/R (>= 1: one frame of history)
    double ratio = 1.0;  // engineRate / deviceRate
    int32_t bufferedFrames = 0;  // engine frames waiting in bufferL/R
    int32_t maxChunkFrames = 0;  // the largest block one pass handles
    std::vector<float> bufferL, bufferR;  // engine-rate frames, sized at open
};

extern AudioOutput gAudioOutput;

// Start-up: stores the render function (moved in) and the playing flag, lists
// the devices, takes the default one and opens it at engineRate. On failure
// `errorText` = "Could not open audio device" and the null output runs.
void OpenAudioOutput(AudioOutput& output, AudioRenderFunction render, std::atomic<uint8_t>* playingFlag,
                     int32_t engineRate);

// Closes what runs (device stream or null output), then opens device `id` at
// the rate ChooseDeviceRate gives. True when a device stream runs. On
// failure: `open` is clear, `errorText` = "Could not open audio device",
// `engineRate` = the rate asked for and the null output runs at it.
bool OpenAudioStream(AudioOutput& output, uint32_t id, int32_t engineRate);

// When engineRate differs from the current one: clears the playing flag,
// reopens the current device at that rate and sets the flag again if it was
// set. The same rate opens nothing.
void SwitchAudioDevice(AudioOutput& output, int32_t engineRate);

// The frame loop's poll (every 2.5 s). A device stream that stopped, or whose
// callback has not run since the previous poll, is closed and the default
// device opened: "Audio device disconnected — switched to default", or
// "Audio device lost — could not reopen" with the null output running. While
// no device is open after a failure, each poll tries the default again.
// A loss, and the first reopen after it, also leave their text as the
// one-shot notice (TakeAudioDeviceNotice); quiet retries leave none.
void HandleAudioDeviceLoss(AudioOutput& output);
// The notice the loss poll left, cleared; "" when none or while `mutex` is
// taken (it stays for the next call then). UI thread.
std::string TakeAudioDeviceNotice(AudioOutput& output);

// Lists the devices with at least 2 output channels, flagging the default.
// The open device keeps its place in the new list by name, its id following.
void RefreshOutputDevices(AudioOutput& output);

// The user's pick from a list read earlier: reads the list again, finds the
// device by `name` (the one with `id` among equal names), and unless the
// stream already runs on it, opens it at the current engine rate with the
// playing flag cleared meanwhile. False when the device is gone or did not
// open (the output then keeps its error state and the null output runs).
bool SelectOutputDevice(AudioOutput& output, const std::string& name, uint32_t id);

// The device's rate for an engine rate: the engine rate when listed, else the
// preferred rate when non-zero, else the last listed rate, else the engine rate.
int32_t ChooseDeviceRate(const AudioDeviceInfo& device, int32_t engineRate);

// Shutdown: stops and closes every stream and destroys the back-ends.
void CloseAudioOutput(AudioOutput& output);

struct AudioOutputStatus {
    bool open = false;
    bool nullRunning = false;
    int32_t engineRate = 0;
    int32_t deviceRate = 0;
    std::vector<OutputDevice> devices;
    int32_t selectedDevice = -1;
    std::string deviceName;
    std::string errorText;
};
bool TryReadAudioOutputStatus(AudioOutput& output, AudioOutputStatus& status);

// The stream's callback: userData is the AudioOutput; `out` receives frames
// of interleaved stereo. Pulls engine audio through `render` (zeros without
// one), resampling when the rates differ. Always returns 0.
int AudioStreamCallback(void* outputBuffer, void* inputBuffer, unsigned int frames, double streamTime,
                        unsigned int status, void* userData);

// Sets up the callback state for a stream of `periodFrames` per callback at
// the two rates. Only while no stream runs (audio_stream_callback.cpp).
// `gaps`: how the stream's output gaps can be known (its back-end's).
void PrepareStreamBuffers(AudioOutput& output, int32_t engineRate, int32_t deviceRate,
                          uint32_t periodFrames, OutputGapSource gaps);
