// Region measurements and per-file caches: onset search on a 10 s region,
// level curve and sounding segments of a 10-minute file (time and peak
// resident growth), and cache hits from four threads.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "library/file_caches.h"
#include "library/region_measure.h"
#include "support/audio_fixtures.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

namespace {

// Fixture files made once per process: a 10 s stereo noise-burst file and a
// 10-minute 48 kHz stereo ambience.
struct BenchFiles {
    TempDir dir;
    std::string tenSeconds;
    std::string tenMinutes;
    BenchFiles() {
        tenSeconds = dir.File("ten_seconds.wav");
        std::vector<float> s = MakeSignal({SignalKind::Noise, 48000, 2, 10.0, 0, 0.01});
        for (size_t i = 2 * 7 * 48000; i < s.size(); ++i) s[i] *= 40.0f;  // the sound starts at 7 s
        WriteSamples(tenSeconds, s, 2, 48000, SampleFormat::Pcm24);

        tenMinutes = dir.File("ten_minutes.wav");
        AudioSpec spec{SignalKind::Noise, 48000, 2, 600.0, 0, 0.3};
        spec.format = SampleFormat::Pcm16;
        WriteTestAudio(tenMinutes, spec);
    }
};

BenchFiles& Files() {
    static BenchFiles files;
    return files;
}

void BM_FindOnsetTime10s(benchmark::State& state) {
    const std::string& path = Files().tenSeconds;
    float onset = 0;
    for (auto _ : state) {
        onset = FindOnsetTime(path, 0.0f, 10.0f);
        benchmark::DoNotOptimize(onset);
    }
    state.counters["onset_s"] = onset;
}
BENCHMARK(BM_FindOnsetTime10s)->Unit(benchmark::kMillisecond);

void BM_GetLevelCurve10min(benchmark::State& state) {
    const std::string& path = Files().tenMinutes;
    int64_t peak = 0;
    size_t points = 0;
    for (auto _ : state) {
        LevelCurveCache cache;  // a miss every time
        PeakMemoryProbe probe;
        points = GetLevelCurve(path, 20, cache)->size();
        peak = std::max(peak, probe.PeakGrowthBytes());
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["peak_MiB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
}
BENCHMARK(BM_GetLevelCurve10min)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_GetAmplitudeEnvelope10min(benchmark::State& state) {
    const std::string& path = Files().tenMinutes;
    int64_t peak = 0;
    size_t segments = 0;
    for (auto _ : state) {
        AmplitudeEnvelopeCache cache;
        PeakMemoryProbe probe;
        segments = GetAmplitudeEnvelope(path, 600.0f, 0.05f, cache)->size();
        peak = std::max(peak, probe.PeakGrowthBytes());
    }
    state.counters["segments"] = static_cast<double>(segments);
    state.counters["peak_MiB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
}
BENCHMARK(BM_GetAmplitudeEnvelope10min)->Unit(benchmark::kMillisecond)->Iterations(3);

// 10^6 hits in all: 250000 per thread over 64 cached paths. The cache is
// filled once, before any thread looks (a function-local static).
LevelCurveCache gHitCache;

const std::vector<std::string>& HitPaths() {
    static const std::vector<std::string> paths = [] {
        std::vector<std::string> list;
        for (int i = 0; i < 64; ++i) {
            list.push_back("/sounds/library/folder/file_" + std::to_string(i) + ".wav");
            uint64_t epoch = 0;
            gHitCache.Find(list.back(), &epoch);
            gHitCache.Insert(list.back(), std::make_shared<const LevelCurve>(LevelCurve(200, 0.5f)), epoch);
        }
        return list;
    }();
    return paths;
}

void BM_CacheHits4Threads(benchmark::State& state) {
    const std::vector<std::string>& paths = HitPaths();
    size_t i = static_cast<size_t>(state.thread_index()) * 17;
    for (auto _ : state) {
        LevelCurvePtr curve = GetLevelCurve(paths[i++ & 63], 20, gHitCache);
        benchmark::DoNotOptimize(curve.get());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CacheHits4Threads)->Threads(4)->Iterations(250000)->UseRealTime()->Unit(benchmark::kNanosecond);

}  // namespace
