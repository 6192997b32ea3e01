// rtaudio_backend.cpp — RtAudio behind the audio back-end seam.
//
// Index
//   SilenceAlsaMessages    process-wide no-op ALSA error handler
//   IgnoreStreamError      the stream's error callback
//   RtAudioBackend         API choice, devices, ALSA's "default" device, stream
//                          calls (each guarded)
//   CreateRtAudioBackend
//
// Why an error callback that does nothing: without one, RtAudio throws from
// its own stream thread when the device goes away, which ends the process.
// With one, it stops the stream instead, and the output's loss poll notices.
#include "platform/rtaudio_backend.h"

#include <RtAudio.h>
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <mutex>

namespace {

// Above ordinary threads, below what a system's own audio threads usually
// take (a sound server's are often 5 to 20 of 99).
constexpr int kStreamThreadPriority = 10;

// ---------------------------------------------------------------------------
// SilenceAlsaMessages
// ---------------------------------------------------------------------------

void QuietAlsaHandler(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsaMessages() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsaHandler); });
}

void IgnoreStreamError(RtAudioError::Type, const std::string&) {}

bool ApiCompiled(RtAudio::Api api) {
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// Creates RtAudio for `api` when it is compiled in and lists at least one
// device; null otherwise.
std::unique_ptr<RtAudio> TryApi(RtAudio::Api api) {
    if (!ApiCompiled(api)) return nullptr;
    try {
        auto rt = std::make_unique<RtAudio>(api);
        rt->showWarnings(false);
        if (rt->getDeviceCount() > 0) return rt;
    } catch (const std::exception&) {
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// RtAudioBackend
// ---------------------------------------------------------------------------

class RtAudioBackend : public AudioBackend {
public:
    RtAudioBackend() {
        SilenceAlsaMessages();
        Reconnect();
    }

    std::string Name() const override {
        if (!rt_) return "rtaudio";
        try {
            return RtAudio::getApiName(rt_->getCurrentApi());
        } catch (const std::exception&) {
            return "rtaudio";
        }
    }

    // RtAudio's PulseAudio stream writes through a blocking call and never
    // flags an underflow; its ALSA and JACK streams flag each one.
    OutputGapSource GapSource() const override {
        if (!rt_) return OutputGapSource::Clock;
        try {
            return rt_->getCurrentApi() == RtAudio::LINUX_PULSE ? OutputGapSource::Clock : OutputGapSource::Flags;
        } catch (const std::exception&) {
            return OutputGapSource::Clock;
        }
    }

    void Reconnect() override {
        if (IsStreamOpen()) return;
        std::unique_ptr<RtAudio> next = TryApi(RtAudio::LINUX_PULSE);
        if (!next) next = TryApi(RtAudio::LINUX_ALSA);
        rt_ = std::move(next);
    }

    std::vector<uint32_t> DeviceIds() override {
        std::vector<uint32_t> ids;
        if (!rt_) return ids;
        try {
            const unsigned int count = rt_->getDeviceCount();
            for (unsigned int i = 0; i < count; ++i) ids.push_back(i);
        } catch (const std::exception&) {
        }
        return ids;
    }

    bool GetDeviceInfo(uint32_t id, AudioDeviceInfo& info) override {
        if (!rt_) return false;
        try {
            RtAudio::DeviceInfo d = rt_->getDeviceInfo(id);
            if (!d.probed) return false;
            info.id = id;
            info.name = d.name;
            info.outputChannels = d.outputChannels;
            info.sampleRates.assign(d.sampleRates.begin(), d.sampleRates.end());
            info.preferredSampleRate = d.preferredSampleRate;
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    // ALSA's first device is the first card; its "default" device goes
    // through the system's mixing and routing, so it is the one to take.
    uint32_t DefaultOutputDevice() override {
        if (!rt_) return 0;
        try {
            if (rt_->getCurrentApi() == RtAudio::LINUX_ALSA) {
                const unsigned int count = rt_->getDeviceCount();
                for (unsigned int i = 0; i < count; ++i) {
                    const RtAudio::DeviceInfo d = rt_->getDeviceInfo(i);
                    if (d.probed && d.name == "default" && d.outputChannels >= 2) return i;
                }
            }
            return rt_->getDefaultOutputDevice();
        } catch (const std::exception&) {
            return 0;
        }
    }

    bool OpenStream(const AudioStreamRequest& request, uint32_t& grantedFrames,
                    std::string& error) override {
        if (!rt_) {
            error = "neither PulseAudio nor ALSA lists a device";
            return false;
        }
        RtAudio::StreamParameters params;
        params.deviceId = request.deviceId;
        params.nChannels = 2;
        params.firstChannel = 0;
        RtAudio::StreamOptions options;
        options.flags = 0;  // interleaved
        // On a loaded machine a thread of ordinary priority can wait for its
        // turn longer than the sound card's buffer lasts, and the card plays
        // silence. RtAudio asks for SCHED_RR and, where that is refused,
        // starts the thread as usual.
        if (request.realtime) {
            options.flags |= RTAUDIO_SCHEDULE_REALTIME;
            options.priority = kStreamThreadPriority;
        }
        options.streamName = request.streamName;
        unsigned int frames = request.periodFrames;
        try {
            rt_->openStream(&params, nullptr, RTAUDIO_FLOAT32, unsigned(request.sampleRate), &frames,
                            request.callback, request.user, &options, IgnoreStreamError);
        } catch (const std::exception& e) {
            error = e.what();
            return false;
        }
        // A failure reported through the error callback returns normally.
        if (!rt_->isStreamOpen()) {
            error = "the stream did not open";
            return false;
        }
        grantedFrames = frames > 0 ? frames : request.periodFrames;
        return true;
    }

    bool StartStream(std::string& error) override {
        if (!rt_) return false;
        try {
            rt_->startStream();
        } catch (const std::exception& e) {
            error = e.what();
            return false;
        }
        if (!rt_->isStreamRunning()) {
            error = "the stream did not start";
            return false;
        }
        return true;
    }

    // Aborts rather than drains: the output stops a stream only to close it,
    // and draining a device that has gone away can wait for ever.
    void StopStream() override {
        if (!rt_) return;
        try {
            if (rt_->isStreamRunning()) rt_->abortStream();
        } catch (const std::exception&) {
        }
    }

    void CloseStream() override {
        if (!rt_) return;
        StopStream();
        try {
            if (rt_->isStreamOpen()) rt_->closeStream();
        } catch (const std::exception&) {
        }
    }

    bool IsStreamOpen() override { return rt_ && rt_->isStreamOpen(); }
    bool IsStreamRunning() override { return rt_ && rt_->isStreamRunning(); }

private:
    std::unique_ptr<RtAudio> rt_;
};

}  // namespace

std::unique_ptr<AudioBackend> CreateRtAudioBackend() { return std::make_unique<RtAudioBackend>(); }
