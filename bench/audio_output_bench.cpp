// The stream callback per 512-frame device period: its own cost (a render
// function that only copies prepared audio) at equal rates and resampling,
// and the same around the block mixer with 32 voices.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "platform/fake_audio_backend.h"
#include "playback/audio_output.h"
#include "playback/mixer_rig.h"

namespace {

// range(0): device rate (48000 is the engine's, no resampling);
// range(1): 0 copies prepared audio, 1 mixes 32 voices.
void BM_AudioStreamCallback(benchmark::State& state) {
    const uint32_t deviceRate = uint32_t(state.range(0));
    const bool mix = state.range(1) != 0;
    auto engine = MakePlayingEngine(48000);
    for (int i = 0; i < 32 && mix; ++i) {
        PlaybackVoice v = CurvedNoiseVoice(0.001 * i, 10.0, true, unsigned(i), 0.01f);
        v.group = i % 3;
        InstallPlaybackVoice(*engine, std::move(v), 0.05f, 0.2f);
    }
    std::vector<float> source(1 << 16);
    for (size_t i = 0; i < source.size(); ++i) source[i] = float((i * 7919) % 2000) / 2000.0f - 0.5f;
    size_t cursor = 0;

    AudioOutput output;
    auto fake = std::make_unique<FakeAudioBackend>();
    fake->devices = {FakeAudioBackend::MakeDevice(0, "bench", 2, {deviceRate}, 0)};
    output.api = std::move(fake);
    AudioRenderFunction render;
    if (mix) {
        render = [&engine](float* l, float* r, int32_t frames) {
            if (engine->position.load() > 9 * 48000) engine->position = 48000;
            MixAudioBlock(*engine, l, r, frames);
        };
    } else {
        render = [&](float* l, float* r, int32_t frames) {
            for (int32_t i = 0; i < frames; ++i) {
                l[i] = source[cursor];
                r[i] = source[(cursor + 1000) & (source.size() - 1)];
                cursor = (cursor + 1) & (source.size() - 1);
            }
        };
    }
    OpenAudioOutput(output, std::move(render), &engine->playing, 48000);
    if (!output.open.load()) state.SkipWithError("the fake device did not open");
    std::vector<float> out(2 * kOutputPeriodFrames);
    for (auto _ : state) {
        AudioStreamCallback(out.data(), nullptr, kOutputPeriodFrames, 0.0, 0, &output);
        benchmark::DoNotOptimize(out.data());
    }
    // Share of the period's playing time the callback takes.
    state.counters["periodShare"] = benchmark::Counter(
        double(kOutputPeriodFrames) / deviceRate,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_AudioStreamCallback)
    ->Args({48000, 0})
    ->Args({44100, 0})
    ->Args({48000, 1})
    ->Args({44100, 1})
    ->ArgNames({"deviceRate", "mix32"})
    ->Unit(benchmark::kMicrosecond);
