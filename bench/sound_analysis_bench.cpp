// Sound analysis costs: one long file, a library-sized batch of short files,
// the pitch estimate of a voice and the loudness of a minute of stereo; the
// analysis's 2048-point transform and what building its configuration costs.
#include <benchmark/benchmark.h>

#include <kiss_fftr.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "library/loudness_pitch.h"
#include "library/sound_analysis.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kBatchFiles = 1000;

// Files are written once per process and removed at exit.
struct BenchFiles {
    TempDir dir;
    std::string thirtySeconds, fiveMinutes;
    std::vector<std::string> batch;

    BenchFiles() {
        AudioSpec spec;
        spec.kind = SignalKind::Noise;
        spec.channels = 2;
        spec.format = SampleFormat::Pcm24;
        spec.seconds = 30.0;
        thirtySeconds = dir.File("thirty.wav");
        WriteTestAudio(thirtySeconds, spec);
        spec.seconds = 300.0;
        fiveMinutes = dir.File("five_minutes.wav");
        WriteTestAudio(fiveMinutes, spec);
    }

    void MakeBatch() {
        if (!batch.empty()) return;
        AudioSpec spec;
        spec.kind = SignalKind::Sine;
        spec.channels = 1;
        spec.format = SampleFormat::Pcm24;
        spec.seconds = 5.0;
        for (int i = 0; i < kBatchFiles; ++i) {
            spec.frequency = 100.0 + i;
            batch.push_back(dir.File("batch_" + std::to_string(i) + ".wav"));
            WriteTestAudio(batch.back(), spec);
        }
    }
};

BenchFiles& Files() {
    static BenchFiles files;
    return files;
}

void BM_AnalyzeSoundFile_30sStereo24bit48k(benchmark::State& state) {
    const std::string& path = Files().thirtySeconds;
    for (auto _ : state) {
        LibraryEntry e;
        benchmark::DoNotOptimize(AnalyzeSoundFile(path, e));
    }
}
BENCHMARK(BM_AnalyzeSoundFile_30sStereo24bit48k)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AnalyzeSoundFile_5minStereo24bit48k(benchmark::State& state) {
    const std::string& path = Files().fiveMinutes;
    for (auto _ : state) {
        LibraryEntry e;
        benchmark::DoNotOptimize(AnalyzeSoundFile(path, e));
    }
}
BENCHMARK(BM_AnalyzeSoundFile_5minStereo24bit48k)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AnalyzeSoundFile_1000x5sMono24bit48k(benchmark::State& state) {
    Files().MakeBatch();
    const std::vector<std::string>& batch = Files().batch;
    for (auto _ : state) {
        for (const std::string& path : batch) {
            LibraryEntry e;
            benchmark::DoNotOptimize(AnalyzeSoundFile(path, e));
        }
    }
    state.counters["files_per_s"] = benchmark::Counter(kBatchFiles, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AnalyzeSoundFile_1000x5sMono24bit48k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_KissFftr_2048Float(benchmark::State& state) {
    kiss_fftr_cfg cfg = kiss_fftr_alloc(2048, 0, nullptr, nullptr);
    std::vector<float> x(2048);
    std::vector<kiss_fft_cpx> out(1025);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(std::sin(0.37 * static_cast<double>(i)) * 0.5);
    for (auto _ : state) {
        kiss_fftr(cfg, x.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    kiss_fftr_free(cfg);
}
BENCHMARK(BM_KissFftr_2048Float);

// What a configuration costs to build: what a file would pay if the analysis
// built one per file instead of one per thread.
void BM_KissFftrAlloc_2048(benchmark::State& state) {
    for (auto _ : state) {
        kiss_fftr_cfg cfg = kiss_fftr_alloc(2048, 0, nullptr, nullptr);
        benchmark::DoNotOptimize(cfg);
        kiss_fftr_free(cfg);
    }
}
BENCHMARK(BM_KissFftrAlloc_2048);

void BM_EstimatePitch_8192(benchmark::State& state) {
    AudioSpec spec;
    spec.seconds = 8192.0 / 48000.0;
    spec.frequency = 220.0;
    const std::vector<float> tone = MakeSignal(spec);
    for (auto _ : state) {
        float confidence = 0.0f;
        benchmark::DoNotOptimize(EstimatePitch(tone.data(), static_cast<int>(tone.size()), 48000.0f, confidence));
    }
}
BENCHMARK(BM_EstimatePitch_8192)->Unit(benchmark::kMicrosecond);

void BM_MeasureIntegratedLoudness_60sStereo48k(benchmark::State& state) {
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.seconds = 60.0;
    const std::vector<float> left = MakeSignal(spec);
    spec.seed = 2;
    const std::vector<float> right = MakeSignal(spec);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            MeasureIntegratedLoudness(left.data(), right.data(), static_cast<int>(left.size()), 48000));
    }
    state.counters["x_realtime"] = benchmark::Counter(60.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MeasureIntegratedLoudness_60sStereo48k)->Unit(benchmark::kMillisecond);

}  // namespace
