// WAV export of a 10-minute, 300-voice project at 48 kHz: the mixdown dry and
// with the offline reverb, and the clips pass, as multiples of real time with
// their peak memory, and the broadcast WAV writer's throughput.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "document/project.h"
#include "export/bwf_writer.h"
#include "export/wav_export.h"
#include "operations/export_job.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;
constexpr double kProjectSeconds = 600.0;

// 300 voices of 1 to 5 s noise (every other one stereo) spread over ten
// minutes, with gain curves and sends; the reverb on.
struct ExportBench {
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    TempDir dir;

    ExportBench() {
        ResetEngineVoices(*engine, kRate, 300);
        project->totalDuration = float(kProjectSeconds);
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
        for (int i = 0; i < 300; ++i) {
            PlaybackVoice v;
            v.startTime = v.plainStartTime = float(i) * 1.98f;
            v.length = 1.0f + float(i % 5);
            v.sampleCount = int32_t(v.length * kRate);
            v.left.resize(size_t(v.sampleCount));
            for (float& x : v.left) x = noise(rng);
            if (i % 2) {
                v.stereo = 1;
                v.right.resize(size_t(v.sampleCount));
                for (float& x : v.right) x = noise(rng);
            }
            v.group = i % 3;
            v.pan = float(i % 7) / 7.0f - 0.4f;
            for (int k = 0; k < kVoiceIntGainPoints; ++k) v.intGain[size_t(k)] = 0.5f + 0.5f * float(k) / 255.0f;
            v.hasIntGain = 1;
            RenderResult r;
            r.name = "Layer " + std::to_string(i % 40);
            r.startTime = v.startTime;
            r.duration = v.length;
            r.group = v.group;
            r.track = i % 8;
            v.resultIndex = i;
            v.resultId = uint32_t(r.id);
            project->results.push_back(r);
            InstallPlaybackVoice(*engine, std::move(v), 0.02f, 0.05f);
        }
        engine->cacheReady = 1;
        engine->reverb.enabled = 1;
    }

    int32_t Pass(int mode, bool reverb) {
        engine->reverb.enabled = reverb ? 1 : 0;
        ExportJob job;
        job.outDir = dir.path() + "/out";
        job.baseName = "Bench";
        job.sampleRate = kRate;
        job.totalDuration = float(kProjectSeconds);
        job.reverb = engine->reverb;
        WavPassOptions o;
        o.mode = mode;
        o.reverb = reverb ? &job.reverb : nullptr;
        o.baseName = job.baseName;
        return WriteWavExport(job, project->results, *engine, kRate, ExportTrackLayoutOf(*project),
                              job.totalDuration, o, -1, -1);
    }
};

void RunPass(benchmark::State& state, int mode, bool reverb = true) {
    ExportBench bench;
    double seconds = 0;
    int64_t peak = 0;
    bool measured = false;
    for (auto _ : state) {
        std::filesystem::remove_all(bench.dir.path() + "/out");
        PeakMemoryProbe probe;
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(bench.Pass(mode, reverb));
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (probe.Available()) {
            peak = std::max(peak, probe.PeakGrowthBytes());
            measured = true;
        }
    }
    state.counters["xRealtime"] = kProjectSeconds * double(state.iterations()) / seconds;
    if (measured) state.counters["peakGrowthMB"] = double(peak) / (1024.0 * 1024.0);
}

void BM_ExportMixdownWithReverb10Min300Voices(benchmark::State& state) { RunPass(state, kWavMixdown); }
BENCHMARK(BM_ExportMixdownWithReverb10Min300Voices)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ExportMixdownDry10Min300Voices(benchmark::State& state) { RunPass(state, kWavMixdown, false); }
BENCHMARK(BM_ExportMixdownDry10Min300Voices)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ExportClips10Min300Voices(benchmark::State& state) { RunPass(state, kWavClips); }
BENCHMARK(BM_ExportClips10Min300Voices)->Unit(benchmark::kMillisecond)->Iterations(2);

// 60 s of stereo through the writer: MB of file per second.
void BM_WriteBWFStereo60s(benchmark::State& state) {
    TempDir dir;
    const int64_t frames = int64_t(60) * kRate;
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = d(rng);
        right[i] = d(rng);
    }
    const std::string path = dir.File("bench.wav");
    for (auto _ : state) benchmark::DoNotOptimize(WriteBWFStereo(path, left.data(), right.data(), frames, kRate, 0, nullptr));
    const double bytes = double(std::filesystem::file_size(path));
    state.counters["MBps"] =
        benchmark::Counter(bytes * double(state.iterations()) / (1024.0 * 1024.0), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteBWFStereo60s)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
