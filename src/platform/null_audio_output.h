// null_audio_output.h — an output with no device: a thread that calls the
// stream's callback at the stream's rate, one period at a time, and throws
// the samples away.
//
// Index
//   kNullOutputDeviceName
//   NullAudioOutput        one device that takes any rate; the pacing thread
//
// It keeps playback, its clock and its meters running on a machine without a
// sound card. The thread sleeps until each period's deadline on the steady
// clock; after a long stall (a suspended machine) it starts counting again
// from the present instead of catching up in a burst.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio_backend.h"

inline constexpr const char* kNullOutputDeviceName = "No audio device";

class NullAudioOutput : public AudioBackend {
public:
    NullAudioOutput() = default;
    ~NullAudioOutput() override;

    std::string Name() const override { return "null"; }
    // Its thread is the clock: it waits for every frame, and nobody hears them.
    OutputGapSource GapSource() const override { return OutputGapSource::NoGaps; }
    std::vector<uint32_t> DeviceIds() override { return {0}; }
    bool GetDeviceInfo(uint32_t id, AudioDeviceInfo& info) override;
    uint32_t DefaultOutputDevice() override { return 0; }
    bool OpenStream(const AudioStreamRequest& request, uint32_t& grantedFrames,
                    std::string& error) override;
    bool StartStream(std::string& error) override;
    void StopStream() override;
    void CloseStream() override;
    bool IsStreamOpen() override { return open_; }
    bool IsStreamRunning() override { return running_.load(); }

    // The rate of the open stream (0 when none), for the log and the tests.
    int32_t StreamRate() const { return open_ ? request_.sampleRate : 0; }

private:
    void Run();

    AudioStreamRequest request_;
    bool open_ = false;
    std::vector<float> buffer_;  // one period, sized at open
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    bool stop_ = false;  // guarded by wakeMutex_
};
