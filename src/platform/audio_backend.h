// audio_backend.h — the seam between the audio output and whatever plays its
// stream: RtAudio (rtaudio_backend.h), the null output that keeps time with
// no device (null_audio_output.h), or the fake of the tests
// (fake_audio_backend.h).
//
// Index
//   AudioStreamCallbackFn   the stream's callback, RtAudio's own signature
//   AudioDeviceInfo         what a back-end says of one device
//   AudioStreamRequest      what the output asks a back-end to open
//   OutputGapSource         how the stream's gaps can be known
//   AudioBackend            device list, default device, stream open/start/stop/close
//
// A back-end runs at most one output stream: 2 channels of interleaved
// 32-bit float. It never throws and never prints to stderr; a failure comes
// back as false with a reason for the log. Its calls are made by one thread
// at a time (the output's mutex serialises them); only the callback runs on
// the stream's own thread, and once StopStream or CloseStream has returned
// the callback is not running and will not run again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// out: interleaved stereo float, frames long; in: unused (output only);
// status: non-zero after an underflow. Returns 0 to keep the stream going.
using AudioStreamCallbackFn = int (*)(void* out, void* in, unsigned int frames, double streamTime,
                                      unsigned int status, void* user);

struct AudioDeviceInfo {
    uint32_t id = 0;
    std::string name;
    uint32_t outputChannels = 0;
    std::vector<uint32_t> sampleRates;  // the rates the device lists, ascending
    uint32_t preferredSampleRate = 0;   // 0: none reported
};

struct AudioStreamRequest {
    uint32_t deviceId = 0;
    int32_t sampleRate = 48000;
    uint32_t periodFrames = 512;  // asked for; the back-end may grant another size
    AudioStreamCallbackFn callback = nullptr;
    void* user = nullptr;
    std::string streamName;
    // Real-time scheduling for the stream's thread, where the system grants
    // it (a back-end that is refused runs the thread as any other).
    bool realtime = true;
};

// How the gaps of a back-end's stream (stretches the device played without
// our frames) can be known (playback/output_gaps.h).
enum class OutputGapSource : uint8_t {
    Flags,  // it flags every underflow in the callback's status
    Clock,  // it flags none: the stream's clock against the frames delivered
    NoGaps,  // nothing plays the frames in real time (the null output): no gap can happen
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // Short name for the log ("pulse", "alsa", "null", "fake").
    virtual std::string Name() const = 0;
    // How the open stream's gaps can be known.
    virtual OutputGapSource GapSource() const { return OutputGapSource::Clock; }
    // Looks again for the best system to play through (a sound server that
    // has started or stopped since); ignored while a stream is open.
    virtual void Reconnect() {}
    // Ids of every device the system lists (some may have no outputs).
    virtual std::vector<uint32_t> DeviceIds() = 0;
    virtual bool GetDeviceInfo(uint32_t id, AudioDeviceInfo& info) = 0;
    virtual uint32_t DefaultOutputDevice() = 0;
    // Opens (does not start) the stream; `grantedFrames` receives the period
    // the callback will be called with.
    virtual bool OpenStream(const AudioStreamRequest& request, uint32_t& grantedFrames,
                            std::string& error) = 0;
    virtual bool StartStream(std::string& error) = 0;
    virtual void StopStream() = 0;
    virtual void CloseStream() = 0;
    virtual bool IsStreamOpen() = 0;
    // A device that was unplugged may stop the stream, or keep reporting it
    // running while the callback no longer comes: callers check both.
    virtual bool IsStreamRunning() = 0;
};
