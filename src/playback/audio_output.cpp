// audio_output.cpp — devices, streams, rate changes and device loss.
//
// Index
//   gAudioOutput / ~AudioOutput
//   Log / SetErrorText     "[Audio]" lines; a notice is logged once when it changes
//   ChooseDeviceRate
//   Locked helpers         device list, index of an id, the stream request, stopping what runs,
//                          the null output, the rate change, the open itself
//   OpenAudioOutput / OpenAudioStream / SwitchAudioDevice
//   HandleAudioDeviceLoss / TakeAudioDeviceNotice / RefreshOutputDevices / SelectOutputDevice
//   CloseAudioOutput / TryReadAudioOutputStatus
//
// Every helper named ...Locked runs with `mutex` held. The order in an open:
// close the device stream; open the new one (not started); stop the null
// output only once the device is open (so a machine without a device keeps
// its clock running through every retry); change the engine rate while
// nothing runs; size the buffers; start.
#include "playback/audio_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>

AudioOutput gAudioOutput;

AudioOutput::~AudioOutput() { CloseAudioOutput(*this); }

namespace {

constexpr const char* kStreamName = "Tessaloom";

// ---------------------------------------------------------------------------
// Log / SetErrorText
// ---------------------------------------------------------------------------

[[gnu::format(printf, 1, 2)]] void Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void SetErrorTextLocked(AudioOutput& o, const char* text, bool log = true) {
    if (o.errorText == text) return;
    o.errorText = text;
    if (log && !o.errorText.empty()) Log("[Audio] %s\n", text);
}

// ---------------------------------------------------------------------------
// Locked helpers
// ---------------------------------------------------------------------------

int32_t IndexOfDevice(const AudioOutput& o, uint32_t id) {
    for (size_t i = 0; i < o.devices.size(); ++i)
        if (o.devices[i].id == id) return int32_t(i);
    return -1;
}

// The device called `name`, the one with `id` first when names repeat.
int32_t IndexOfNamedDevice(const AudioOutput& o, const std::string& name, uint32_t id) {
    int32_t found = -1;
    for (size_t i = 0; i < o.devices.size(); ++i) {
        if (o.devices[i].name != name) continue;
        if (o.devices[i].id == id) return int32_t(i);
        if (found < 0) found = int32_t(i);
    }
    return found;
}

void RefreshDevicesLocked(AudioOutput& o) {
    o.devices.clear();
    if (!o.api) return;
    const uint32_t defaultId = o.api->DefaultOutputDevice();
    for (uint32_t id : o.api->DeviceIds()) {
        AudioDeviceInfo info;
        if (!o.api->GetDeviceInfo(id, info) || info.outputChannels < 2) continue;
        o.devices.push_back(OutputDevice{id, info.name, uint8_t(id == defaultId)});
    }
    if (!o.open.load()) {
        o.selectedDevice = -1;
        return;
    }
    // The probe may have renumbered the devices: the open one keeps its name.
    o.selectedDevice = o.deviceName.empty() ? IndexOfDevice(o, o.deviceId)
                                            : IndexOfNamedDevice(o, o.deviceName, o.deviceId);
    if (o.selectedDevice >= 0) o.deviceId = o.devices[size_t(o.selectedDevice)].id;
}

AudioStreamRequest StreamRequest(AudioOutput& o, uint32_t id, int32_t rate) {
    AudioStreamRequest request;
    request.deviceId = id;
    request.sampleRate = rate;
    request.periodFrames = kOutputPeriodFrames;
    request.callback = AudioStreamCallback;
    request.user = &o;
    request.streamName = kStreamName;
    return request;
}

// A closed stream's thread has ended: the next stream's thread, made after
// this, finds the buffers unprepared until its own open prepares them.
void CloseDeviceStreamLocked(AudioOutput& o) {
    o.open.store(0);
    if (o.api && o.api->IsStreamOpen()) o.api->CloseStream();
    if (!o.nullRunning.load()) o.buffersReady.store(0);
}

void StopNullOutputLocked(AudioOutput& o) {
    if (o.nullOutput && o.nullOutput->IsStreamOpen()) o.nullOutput->CloseStream();
    o.nullRunning.store(0);
    if (!o.api || !o.api->IsStreamOpen()) o.buffersReady.store(0);
}

// Runs the engine's rate-change hook when the rate moves. Nothing may be
// running: the hook re-initialises state the audio thread uses.
void SetEngineRateLocked(AudioOutput& o, int32_t engineRate) {
    if (o.engineRate.load() == engineRate) return;
    if (o.onEngineRateChange) o.onEngineRateChange(engineRate);
    o.engineRate.store(engineRate);
}

// Keeps the clock running without a device: the null output at the engine
// rate (left alone when it already runs at that rate).
void StartNullOutputLocked(AudioOutput& o, int32_t engineRate) {
    if (o.nullRunning.load() && o.deviceRate.load() == engineRate) return;
    StopNullOutputLocked(o);
    SetEngineRateLocked(o, engineRate);
    if (!o.nullOutput) return;
    const AudioStreamRequest request = StreamRequest(o, o.nullOutput->DefaultOutputDevice(), engineRate);
    uint32_t granted = kOutputPeriodFrames;
    std::string error;
    if (!o.nullOutput->OpenStream(request, granted, error)) {
        Log("[Audio] null output did not open: %s\n", error.c_str());
        return;
    }
    PrepareStreamBuffers(o, engineRate, engineRate, granted, o.nullOutput->GapSource());
    o.deviceRate.store(engineRate);
    if (!o.nullOutput->StartStream(error)) {
        o.nullOutput->CloseStream();
        Log("[Audio] null output did not start: %s\n", error.c_str());
        return;
    }
    o.nullRunning.store(1);
    Log("[Audio] no device: the null output keeps time at %d Hz\n", engineRate);
}

// The engine rate has been recorded by then, so the next poll opens at it.
// `noDevice`: the system lists no output device at all, which is no fault
// but a machine without sound (a server, a container): the null output's own
// line says so, and the failure is not logged as an alarm before it.
bool FailOpenLocked(AudioOutput& o, int32_t engineRate, bool noDevice) {
    if (o.reopen == AudioReopenState::None) o.reopen = AudioReopenState::AfterFailure;
    // After a loss the notice keeps saying so while the retries fail.
    if (o.reopen == AudioReopenState::AfterFailure) SetErrorTextLocked(o, kAudioOpenFailedText, !noDevice);
    StartNullOutputLocked(o, engineRate);
    return false;
}

enum class OpenLog { Failures, Quiet };

// Quiet is for the loss poll's retries, which would otherwise log every 2.5 s
// on a machine without a device.
bool OpenStreamLocked(AudioOutput& o, uint32_t id, int32_t engineRate, OpenLog log = OpenLog::Failures) {
    if (engineRate < 1) {
        Log("[Audio] refused to open at %d Hz\n", engineRate);
        return false;
    }
    CloseDeviceStreamLocked(o);
    if (o.engineRate.load() != engineRate) {
        // Nothing may run while the engine's rate changes.
        StopNullOutputLocked(o);
        SetEngineRateLocked(o, engineRate);
    }
    const bool noDevice = !o.api || o.devices.empty();
    if (!o.api) return FailOpenLocked(o, engineRate, noDevice);

    AudioDeviceInfo info;
    if (!o.api->GetDeviceInfo(id, info)) info = AudioDeviceInfo{};
    const int32_t rate = ChooseDeviceRate(info, engineRate);
    const AudioStreamRequest request = StreamRequest(o, id, rate);
    uint32_t granted = kOutputPeriodFrames;
    std::string error;
    if (!o.api->OpenStream(request, granted, error)) {
        if (log == OpenLog::Failures && !noDevice)
            Log("[Audio] could not open device %u at %d Hz through %s: %s\n", id, rate, o.api->Name().c_str(),
                error.c_str());
        return FailOpenLocked(o, engineRate, noDevice);
    }
    StopNullOutputLocked(o);
    PrepareStreamBuffers(o, engineRate, rate, granted, o.api->GapSource());
    o.deviceRate.store(rate);
    if (!o.api->StartStream(error)) {
        o.api->CloseStream();
        if (log == OpenLog::Failures)
            Log("[Audio] could not start device %u through %s: %s\n", id, o.api->Name().c_str(), error.c_str());
        return FailOpenLocked(o, engineRate, false);
    }
    o.deviceId = id;
    o.deviceName = info.name;
    o.selectedDevice = IndexOfDevice(o, id);
    o.reopen = AudioReopenState::None;
    o.callbacksAtLastPoll = o.callbackCount.load();
    o.open.store(1);
    o.errorText.clear();
    Log("[Audio] %s: \"%s\" at %d Hz (engine %d Hz, %u frames per period)\n", o.api->Name().c_str(),
        info.name.c_str(), rate, engineRate, granted);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// ChooseDeviceRate
// ---------------------------------------------------------------------------

int32_t ChooseDeviceRate(const AudioDeviceInfo& device, int32_t engineRate) {
    const auto& rates = device.sampleRates;
    if (engineRate > 0 && std::find(rates.begin(), rates.end(), uint32_t(engineRate)) != rates.end())
        return engineRate;
    if (device.preferredSampleRate != 0) return int32_t(device.preferredSampleRate);
    if (!rates.empty() && rates.back() != 0) return int32_t(rates.back());
    return engineRate;
}

// ---------------------------------------------------------------------------
// OpenAudioOutput / OpenAudioStream / SwitchAudioDevice
// ---------------------------------------------------------------------------

void OpenAudioOutput(AudioOutput& o, AudioRenderFunction render, std::atomic<uint8_t>* playingFlag,
                     int32_t engineRate) {
    std::lock_guard<std::mutex> lock(o.mutex);
    // No stream may run while the render function is replaced.
    CloseDeviceStreamLocked(o);
    StopNullOutputLocked(o);
    o.render = std::move(render);
    o.playingFlag = playingFlag;
    RefreshDevicesLocked(o);
    const uint32_t id = o.api ? o.api->DefaultOutputDevice() : 0;
    o.deviceId = id;
    o.selectedDevice = IndexOfDevice(o, id);
    OpenStreamLocked(o, id, engineRate);
}

bool OpenAudioStream(AudioOutput& o, uint32_t id, int32_t engineRate) {
    std::lock_guard<std::mutex> lock(o.mutex);
    return OpenStreamLocked(o, id, engineRate);
}

void SwitchAudioDevice(AudioOutput& o, int32_t engineRate) {
    std::lock_guard<std::mutex> lock(o.mutex);
    if (engineRate == o.engineRate.load()) return;
    const uint8_t wasPlaying = o.playingFlag ? o.playingFlag->exchange(0) : 0;
    OpenStreamLocked(o, o.deviceId, engineRate);
    if (wasPlaying) o.playingFlag->store(1);
}

// ---------------------------------------------------------------------------
// HandleAudioDeviceLoss / TakeAudioDeviceNotice / RefreshOutputDevices
// ---------------------------------------------------------------------------

void HandleAudioDeviceLoss(AudioOutput& o) {
    std::unique_lock<std::mutex> lock(o.mutex, std::try_to_lock);
    if (!lock.owns_lock() || !o.api) return;
    bool lostNow = false;
    if (o.open.load()) {
        // A stream that still claims to run may be dead: its callback has
        // stopped coming since the previous poll.
        const uint64_t calls = o.callbackCount.load();
        const bool stalled = calls == o.callbacksAtLastPoll;
        o.callbacksAtLastPoll = calls;
        if (o.api->IsStreamRunning() && !stalled) return;
        Log("[Audio] device %u lost (%s)\n", o.deviceId, stalled ? "no callback since the last poll" : "stream stopped");
        CloseDeviceStreamLocked(o);
        o.reopen = AudioReopenState::AfterLoss;
        lostNow = true;
    } else if (o.reopen == AudioReopenState::None) {
        return;
    }
    const bool afterLoss = o.reopen == AudioReopenState::AfterLoss;
    o.api->Reconnect();
    RefreshDevicesLocked(o);
    const uint32_t id = o.api->DefaultOutputDevice();
    if (OpenStreamLocked(o, id, o.engineRate.load(), lostNow ? OpenLog::Failures : OpenLog::Quiet)) {
        if (afterLoss) {
            SetErrorTextLocked(o, kAudioSwitchedText);
            o.deviceNotice = kAudioSwitchedText;
        }
        return;
    }
    if (afterLoss) SetErrorTextLocked(o, kAudioLostText);
    if (lostNow) o.deviceNotice = kAudioLostText;
}

std::string TakeAudioDeviceNotice(AudioOutput& o) {
    std::unique_lock<std::mutex> lock(o.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return std::string();
    return std::exchange(o.deviceNotice, std::string());
}

void RefreshOutputDevices(AudioOutput& o) {
    std::lock_guard<std::mutex> lock(o.mutex);
    RefreshDevicesLocked(o);
}

bool SelectOutputDevice(AudioOutput& o, const std::string& name, uint32_t id) {
    std::lock_guard<std::mutex> lock(o.mutex);
    if (!o.api) return false;
    RefreshDevicesLocked(o);
    const int32_t index = IndexOfNamedDevice(o, name, id);
    if (index < 0) {
        Log("[Audio] device \"%s\" is no longer listed\n", name.c_str());
        return false;
    }
    const uint32_t deviceId = o.devices[size_t(index)].id;
    if (o.open.load() && o.deviceId == deviceId) return true;
    const uint8_t wasPlaying = o.playingFlag ? o.playingFlag->exchange(0) : 0;
    const bool opened = OpenStreamLocked(o, deviceId, o.engineRate.load());
    if (wasPlaying) o.playingFlag->store(1);
    return opened;
}

// ---------------------------------------------------------------------------
// CloseAudioOutput / TryReadAudioOutputStatus
// ---------------------------------------------------------------------------

void CloseAudioOutput(AudioOutput& o) {
    std::lock_guard<std::mutex> lock(o.mutex);
    CloseDeviceStreamLocked(o);
    StopNullOutputLocked(o);
    o.reopen = AudioReopenState::None;
    o.api.reset();
    o.nullOutput.reset();
}

bool TryReadAudioOutputStatus(AudioOutput& o, AudioOutputStatus& status) {
    std::unique_lock<std::mutex> lock(o.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    status.open = o.open.load() != 0;
    status.nullRunning = o.nullRunning.load() != 0;
    status.engineRate = o.engineRate.load();
    status.deviceRate = o.deviceRate.load();
    status.devices = o.devices;
    status.selectedDevice = o.selectedDevice;
    status.deviceName = o.deviceName;
    status.errorText = o.errorText;
    return true;
}

