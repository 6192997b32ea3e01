// The AAF step of an export (essence files, clip list and session) with its
// peak memory: a 10-minute project of 300 source-region results with 1 s
// handles, and fill results over 5-minute 6-channel sources written whole,
// one file per channel.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "document/project.h"
#include "export/aaf_export.h"
#include "operations/export_job.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/audio_fixtures.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;

struct AafExportBench {
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    TempDir dir;

    // A result of `seconds` at `start` playing `source` from `offset`, with
    // a voice of as many (silent) samples; the export reads the source.
    void Add(const std::string& source, float offset, float seconds, float start, int slot, bool stereo,
             int procMode) {
        PlaybackVoice v;
        v.startTime = v.plainStartTime = start;
        v.length = seconds;
        v.sampleCount = int32_t(seconds * kRate);
        v.left.assign(size_t(v.sampleCount), 0.0f);
        RenderResult r;
        r.name = "Layer " + std::to_string(project->results.size() % 40);
        r.filepath = source;
        r.sourceOffset = offset;
        r.sourceDuration = seconds;
        r.startTime = start;
        r.duration = seconds;
        r.group = 1;
        r.groupTrack = slot;
        r.track = slot;
        r.stereo = stereo;
        r.procMode = procMode;
        r.eventIdx = -1;
        r.hasIntGain = true;
        for (size_t k = 0; k < r.intGain.size(); ++k) r.intGain[k] = 0.5f + 0.5f * float(k) / 255.0f;
        v.resultIndex = int32_t(project->results.size());
        v.resultId = uint32_t(r.id);
        if (procMode == 1) {
            // A grain plan over the whole voice: 3 s grains, 50 ms crossfades.
            int64_t laid = 0;
            for (int j = 0; laid < v.sampleCount && j < kMaxFillChunks; ++j) {
                const int32_t x = j ? 2400 : 0;
                v.chunks[size_t(j)] = {int32_t((j * 7919 * 48) % (200 * kRate)), 3 * kRate, x};
                laid += 3 * kRate - x;
                v.chunkCount = j + 1;
            }
        }
        project->results.push_back(r);
        InstallPlaybackVoice(*engine, std::move(v), 0.01f, 0.05f);
    }

    ExportJob Job(bool sourceChannels) const {
        ExportJob job;
        job.outDir = dir.path() + "/out";
        job.baseName = "Bench";
        job.exportAAF = true;
        job.sampleRate = kRate;
        job.handleSeconds = 1.0f;
        job.volAuto = true;
        job.sourceChannels = sourceChannels;
        job.groupNames = {"BG", "FX A", "FX B"};
        job.reverb.enabled = 0;
        return job;
    }
};

// With `withSession` off the session writer is a stand-in that writes
// nothing, which leaves the essence files and the clip list alone.
void Run(benchmark::State& state, AafExportBench& bench, const ExportJob& job, bool withSession = true) {
    const AafSessionWriter writer = withSession ? ProgramAafSessionWriter()
                                                : [](const std::string&, const AafClipList&, int32_t, bool) { return true; };
    double seconds = 0;
    int64_t peak = 0;
    bool measured = false;
    for (auto _ : state) {
        std::filesystem::remove_all(job.outDir);
        PeakMemoryProbe probe;
        const auto t0 = std::chrono::steady_clock::now();
        if (!WriteAafExport(job, *bench.project, *bench.engine, writer)) state.SkipWithError("the AAF step failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (probe.Available()) {
            peak = std::max(peak, probe.PeakGrowthBytes());
            measured = true;
        }
    }
    std::filesystem::remove_all(job.outDir);
    state.counters["wallSeconds"] = seconds / double(state.iterations());
    if (measured) state.counters["peakGrowthMB"] = double(peak) / (1024.0 * 1024.0);
}

// 300 results of 1 to 5 s over ten minutes on 16 tracks, from 20 source
// files of 20 s (every other one stereo); one lane per source channel, as
// the Export tab asks by default (first argument), with or without the
// session file (second argument).
void BM_AafExport300Results10Min(benchmark::State& state) {
    AafExportBench bench;
    ResetEngineVoices(*bench.engine, kRate, 300);
    std::vector<std::string> sources;
    for (int s = 0; s < 20; ++s) {
        sources.push_back(bench.dir.File("source" + std::to_string(s) + ".wav"));
        AudioSpec spec;
        spec.kind = SignalKind::Noise;
        spec.channels = 1 + s % 2;
        spec.seconds = 20.0;
        spec.seed = unsigned(s + 1);
        WriteTestAudio(sources.back(), spec);
    }
    for (int i = 0; i < 300; ++i) {
        const float seconds = 1.0f + float(i % 5);
        bench.Add(sources[size_t(i % 20)], 2.0f + float(i % 7), seconds, float(i) * 1.98f, i % 16, i % 2 == 1, 0);
    }
    bench.project->totalDuration = 600.0f;
    bench.engine->cacheReady = 1;
    Run(state, bench, bench.Job(state.range(0) != 0), state.range(1) != 0);
}
BENCHMARK(BM_AafExport300Results10Min)
    ->Args({1, 1})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// `state.range(0)` fill results over two 5-minute 6-channel sources: each
// writes its whole source, one file per channel (about 260 MB per result).
void BM_AafExportFills6ChannelSources(benchmark::State& state) {
    AafExportBench bench;
    ResetEngineVoices(*bench.engine, kRate, int(state.range(0)));
    std::vector<std::string> sources;
    for (int s = 0; s < 2; ++s) {
        sources.push_back(bench.dir.File("surround" + std::to_string(s) + ".wav"));
        AudioSpec spec;
        spec.kind = SignalKind::Noise;
        spec.channels = 6;
        spec.seconds = 300.0;
        spec.seed = unsigned(s + 7);
        WriteTestAudio(sources.back(), spec);
    }
    for (int i = 0; i < state.range(0); ++i)
        bench.Add(sources[size_t(i % 2)], 0.0f, 60.0f, float(i) * 15.0f, i % 8, false, 1);
    bench.project->totalDuration = 600.0f;
    bench.engine->cacheReady = 1;
    Run(state, bench, bench.Job(true));
}
BENCHMARK(BM_AafExportFills6ChannelSources)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
