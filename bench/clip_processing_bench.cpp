// Region loading through the processed-clip cache (cold decode + resample, warm
// hit) and the resampler on its own.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "render/clip_processing.h"
#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"

namespace {

// A 60 s stereo 44.1 kHz 24-bit noise file, written once per run.
const std::string& SixtySecondStereoFile() { return NoiseFileForRun("sixty.wav", 44100, 2, 60.0); }

}  // namespace

// Reported "realtime" is seconds of source audio processed per second.
static void BM_LoadProcessedClipCold(benchmark::State& state) {
    const std::string& path = SixtySecondStereoFile();
    ProcessedClipCache cache;
    std::vector<float> left, right;
    int rate = 0;
    bool stereo = false;
    for (auto _ : state) {
        state.PauseTiming();
        ClearProcessedClipCache(cache);
        state.ResumeTiming();
        if (!LoadProcessedClip(cache, path, 0, 60, 48000, true, left, right, rate, stereo))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["realtime"] = benchmark::Counter(60.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadProcessedClipCold)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_LoadProcessedClipWarm(benchmark::State& state) {
    const std::string& path = SixtySecondStereoFile();
    ProcessedClipCache cache;
    std::vector<float> left, right;
    int rate = 0;
    bool stereo = false;
    LoadProcessedClip(cache, path, 0, 60, 48000, true, left, right, rate, stereo);
    for (auto _ : state) {
        if (!LoadProcessedClip(cache, path, 0, 60, 48000, true, left, right, rate, stereo))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["realtime"] = benchmark::Counter(60.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadProcessedClipWarm)->Unit(benchmark::kMillisecond)->UseRealTime();

// One channel of one second, 44.1 -> 48 kHz.
static void BM_ResampleSinc(benchmark::State& state) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> source(44100);
    for (float& x : source) x = d(rng);
    for (auto _ : state) {
        std::vector<float> buffer = source;
        ResampleSinc(48000, 44100.0 / 48000.0, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations() * 48000);
}
BENCHMARK(BM_ResampleSinc)->Unit(benchmark::kMicrosecond);
