// fake_audio_backend.cpp — the scripted audio system of the tests.
//
// Index
//   MakeDevice / DeviceIds / GetDeviceInfo
//   OpenStream / StartStream / CloseStream
//   Unplug / Pump
#include "platform/fake_audio_backend.h"

#include <algorithm>
#include <utility>

AudioDeviceInfo FakeAudioBackend::MakeDevice(uint32_t id, std::string name, uint32_t outputChannels,
                                             std::vector<uint32_t> rates, uint32_t preferredRate) {
    AudioDeviceInfo d;
    d.id = id;
    d.name = std::move(name);
    d.outputChannels = outputChannels;
    d.sampleRates = std::move(rates);
    d.preferredSampleRate = preferredRate;
    return d;
}

std::vector<uint32_t> FakeAudioBackend::DeviceIds() {
    std::vector<uint32_t> ids;
    for (const AudioDeviceInfo& d : devices) ids.push_back(d.id);
    return ids;
}

bool FakeAudioBackend::GetDeviceInfo(uint32_t id, AudioDeviceInfo& info) {
    for (const AudioDeviceInfo& d : devices) {
        if (d.id == id) {
            info = d;
            return true;
        }
    }
    return false;
}

bool FakeAudioBackend::OpenStream(const AudioStreamRequest& request, uint32_t& grantedFrames,
                                  std::string& error) {
    attempts.push_back(request);
    if (onOpen) onOpen(request);
    AudioDeviceInfo info;
    if (open_) {
        error = "a stream is already open";
        return false;
    }
    if (failEveryOpen || failOpenIds.count(request.deviceId) || !GetDeviceInfo(request.deviceId, info) ||
        info.outputChannels < 2) {
        error = "injected open failure";
        return false;
    }
    stream_ = request;
    granted_ = grantPeriod ? grantPeriod : request.periodFrames;
    grantedFrames = granted_;
    open_ = true;
    running_ = false;
    stalled_ = false;
    return true;
}

bool FakeAudioBackend::StartStream(std::string& error) {
    if (!open_ || failStart) {
        error = "injected start failure";
        return false;
    }
    running_ = true;
    opens.push_back(stream_);
    return true;
}

void FakeAudioBackend::CloseStream() {
    if (open_) ++closes;
    open_ = false;
    running_ = false;
    stalled_ = false;
}

void FakeAudioBackend::Unplug(uint32_t id, bool keepsReportingRunning) {
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [id](const AudioDeviceInfo& d) { return d.id == id; }),
                  devices.end());
    if (open_ && stream_.deviceId == id) {
        if (keepsReportingRunning) {
            stalled_ = true;
        } else {
            running_ = false;
        }
    }
}

bool FakeAudioBackend::Pump(std::vector<float>& interleaved, uint32_t frames) {
    if (!StreamRunning() || !stream_.callback) return false;
    if (frames == 0) frames = granted_;
    interleaved.assign(size_t(frames) * 2, -99.0f);  // a callback that writes nothing shows
    stream_.callback(interleaved.data(), nullptr, frames, 0.0, std::exchange(nextStatus, 0u), stream_.user);
    return true;
}
