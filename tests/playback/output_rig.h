// output_rig.h — an audio output on the fake back-end, with a second fake as
// its null output, a render function that plays a known signal and counts
// the engine frames it was asked for.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/fake_audio_backend.h"
#include "playback/audio_output.h"

// Engine frame n: left a sine of sineHz, right a cosine at half level, so
// a swapped or shifted channel shows.
struct SignalSource {
    double sineHz = 1000.0;
    std::atomic<int64_t> framesRendered{0};

    static double Left(double hz, double n, int32_t rate) { return std::sin(2.0 * M_PI * hz * n / rate); }
    static double Right(double hz, double n, int32_t rate) { return 0.5 * std::cos(2.0 * M_PI * hz * n / rate); }

    void Render(float* l, float* r, int32_t frames, int32_t rate) {
        const int64_t start = framesRendered.load();
        for (int32_t i = 0; i < frames; ++i) {
            l[i] = float(Left(sineHz, double(start + i), rate));
            r[i] = float(Right(sineHz, double(start + i), rate));
        }
        framesRendered.store(start + frames);
    }
};

struct OutputRig {
    FakeAudioBackend* fake = nullptr;      // owned by output.api
    FakeAudioBackend* fakeNull = nullptr;  // owned by output.nullOutput
    std::atomic<uint8_t> playing{0};
    SignalSource signal;
    std::vector<int32_t> rateChanges;
    // Whether a stream ran at any rate change (it must not).
    bool streamRanDuringRateChange = false;
    AudioOutput output;  // last: its streams stop before the rest goes

    explicit OutputRig(std::vector<AudioDeviceInfo> devices, uint32_t defaultDevice = 0) {
        auto api = std::make_unique<FakeAudioBackend>();
        api->devices = std::move(devices);
        api->defaultDevice = defaultDevice;
        fake = api.get();
        output.api = std::move(api);
        auto null = std::make_unique<FakeAudioBackend>();
        null->devices = {FakeAudioBackend::MakeDevice(0, "null", 2, {}, 0)};
        fakeNull = null.get();
        output.nullOutput = std::move(null);
        output.onEngineRateChange = [this](int32_t rate) {
            rateChanges.push_back(rate);
            if (fake->StreamRunning() || fakeNull->StreamRunning()) streamRanDuringRateChange = true;
        };
    }

    void Open(int32_t engineRate, bool withRender = true) {
        AudioRenderFunction render;
        if (withRender) {
            render = [this](float* l, float* r, int32_t frames) {
                signal.Render(l, r, frames, output.engineRate.load());
            };
        }
        OpenAudioOutput(output, std::move(render), &playing, engineRate);
    }

    // Pumps the device stream (or the null output when no device runs) for
    // `total` frames in periods of `period`; the interleaved output joined.
    std::vector<float> Pump(int64_t total, uint32_t period = kOutputPeriodFrames) {
        FakeAudioBackend* stream = fake->StreamRunning() ? fake : fakeNull;
        std::vector<float> all, block;
        all.reserve(size_t(total) * 2);
        for (int64_t done = 0; done < total;) {
            const uint32_t n = uint32_t(std::min<int64_t>(period, total - done));
            if (!stream->Pump(block, n)) break;
            all.insert(all.end(), block.begin(), block.end());
            done += n;
        }
        return all;
    }
};
