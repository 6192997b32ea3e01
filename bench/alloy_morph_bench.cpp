// Each alloy algorithm on 10 s of stereo at 48 kHz with all four sources
// present (distinct noise and tone files on disk). The result id is 0, so
// the alloy cache never answers; the sources come from the processed-clip
// cache, warmed before timing, so the figure is the morph itself. Counter "realtime": seconds of morph made per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "document/project.h"
#include "playback/audio_engine.h"
#include "render/alloy_morph.h"
#include "support/alloy_fixtures.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;
constexpr float kSeconds = 10.0f;

std::string StereoFile(const TempDir& dir, const std::string& name, std::vector<float> l, std::vector<float> r) {
    std::vector<float> interleaved(l.size() * 2);
    for (size_t i = 0; i < l.size(); ++i) {
        interleaved[2 * i] = l[i];
        interleaved[2 * i + 1] = r[i];
    }
    return WriteFloatWav(dir, name, interleaved, 2, kRate);
}

// Main, mid, high and env sources of 10 s each, written once per run.
const RenderResult& TenSecondResult() {
    static TempDir dir;
    static const RenderResult result = [] {
        const size_t n = size_t(kRate * kSeconds);
        RenderResult r = MakeAlloyResult(2, kSeconds,
                                         StereoFile(dir, "main.wav", NoiseSamples(n, 1), NoiseSamples(n, 2)), 0);
        SetAlloySource(r.alloyMid, StereoFile(dir, "mid.wav", SineSamples(n, kRate, {220.0, 660.0}, 0.2),
                                              SineSamples(n, kRate, {330.0, 990.0}, 0.2)), kSeconds);
        SetAlloySource(r.alloyHigh, StereoFile(dir, "high.wav", NoiseSamples(n, 3, 0.2f), NoiseSamples(n, 4, 0.2f)),
                       kSeconds);
        SetAlloySource(r.alloyEnv, StereoFile(dir, "env.wav", SineSamples(n, kRate, {2.0}, 0.5),
                                              SineSamples(n, kRate, {3.0}, 0.5)), kSeconds);
        r.hasAlloyCurves = true;
        for (int i = 0; i < 32; ++i) {
            r.alloyWeightCurve[size_t(i)] = float(i) / 31.0f;
            r.alloyIntensityCurve[size_t(i)] = 0.5f + 0.5f * float(i % 4) / 3.0f;
        }
        return r;
    }();
    return result;
}

void RunAlgorithm(benchmark::State& state, int algo) {
    RenderResult r = TenSecondResult();
    r.alloyAlgo = algo;
    AlloyCache cache;
    PlaybackVoice warm;  // decodes the sources into the processed-clip cache
    RenderAlloyResult(cache, r, kRate, true, warm);
    for (auto _ : state) {
        PlaybackVoice voice;
        if (!RenderAlloyResult(cache, r, kRate, true, voice)) state.SkipWithError("morph failed");
        benchmark::DoNotOptimize(voice.left.data());
    }
    state.counters["realtime"] =
        benchmark::Counter(double(kSeconds), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

static void BM_AlloyCrossover(benchmark::State& state) { RunAlgorithm(state, 0); }
static void BM_AlloyEnvelopeTransfer(benchmark::State& state) { RunAlgorithm(state, 1); }
static void BM_AlloyBandMosaic(benchmark::State& state) { RunAlgorithm(state, 2); }
static void BM_AlloyBandBlendTransfer(benchmark::State& state) { RunAlgorithm(state, 3); }
BENCHMARK(BM_AlloyCrossover)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AlloyEnvelopeTransfer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AlloyBandMosaic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AlloyBandBlendTransfer)->Unit(benchmark::kMillisecond)->UseRealTime();
