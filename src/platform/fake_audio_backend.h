// fake_audio_backend.h — a scripted audio system for tests: a device list
// the test writes, failures it injects, devices it unplugs, and a call that
// runs the stream's callback directly.
//
// Index
//   FakeAudioBackend
//     MakeDevice           one scripted device
//     Unplug               the device leaves the list; its stream stops, or
//                          keeps saying it runs while no callback comes
//     Pump                 one callback of the open, started stream
//     opens / attempts     what the output asked for
//
// Not thread-safe by itself: the output's mutex serialises the calls, and a
// test pumps only while no other thread reopens the stream.
#pragma once

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/audio_backend.h"

class FakeAudioBackend : public AudioBackend {
public:
    static AudioDeviceInfo MakeDevice(uint32_t id, std::string name, uint32_t outputChannels = 2,
                                      std::vector<uint32_t> rates = {44100, 48000},
                                      uint32_t preferredRate = 48000);

    // ---- The scripted system ----
    std::vector<AudioDeviceInfo> devices;
    uint32_t defaultDevice = 0;
    std::set<uint32_t> failOpenIds;  // opening these devices fails
    bool failEveryOpen = false;
    bool failStart = false;
    uint32_t grantPeriod = 0;  // a period other than the one asked for (0: as asked)
    // How its gaps are known (pumped by hand, it has no clock of its own: by
    // default none), and the status the next Pump hands the callback.
    OutputGapSource gapSource = OutputGapSource::NoGaps;
    unsigned int nextStatus = 0;

    // ---- What the output did ----
    std::vector<AudioStreamRequest> attempts;  // every open asked for, in order
    std::vector<AudioStreamRequest> opens;     // the ones that opened and started
    int reconnects = 0;
    int closes = 0;
    // Runs at every open attempt, before it succeeds or fails.
    std::function<void(const AudioStreamRequest&)> onOpen;

    // ---- Test actions ----
    // Removes the device from the list. A stream open on it stops running,
    // or, with keepsReportingRunning, still says it runs but is never called
    // again (as some Linux streams do after an unplug).
    void Unplug(uint32_t id, bool keepsReportingRunning = false);
    // Calls the callback once for `frames` frames (0: the granted period) and
    // returns the interleaved output; false when no stream runs.
    bool Pump(std::vector<float>& interleaved, uint32_t frames = 0);
    bool StreamRunning() const { return open_ && running_ && !stalled_; }
    const AudioStreamRequest& CurrentStream() const { return stream_; }
    uint32_t GrantedFrames() const { return granted_; }

    // ---- AudioBackend ----
    std::string Name() const override { return "fake"; }
    OutputGapSource GapSource() const override { return gapSource; }
    void Reconnect() override { ++reconnects; }
    std::vector<uint32_t> DeviceIds() override;
    bool GetDeviceInfo(uint32_t id, AudioDeviceInfo& info) override;
    uint32_t DefaultOutputDevice() override { return defaultDevice; }
    bool OpenStream(const AudioStreamRequest& request, uint32_t& grantedFrames,
                    std::string& error) override;
    bool StartStream(std::string& error) override;
    void StopStream() override { running_ = false; }
    void CloseStream() override;
    bool IsStreamOpen() override { return open_; }
    bool IsStreamRunning() override { return open_ && running_; }

private:
    AudioStreamRequest stream_;
    uint32_t granted_ = 0;
    bool open_ = false;
    bool running_ = false;
    bool stalled_ = false;  // says it runs, but the callback no longer comes
};
