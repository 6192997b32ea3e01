// Fill resynthesis of a 2-minute stereo source into a 5-minute layer at 48 kHz:
// from the file (decode, trim, analysis, grains), from the cached source, and
// the replay of the stored chunk plan that every later voice build does.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "playback/audio_engine.h"
#include "render/fill_resynthesis.h"
#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr float kFillSeconds = 300.0f;

// Stereo noise whose level drifts over a few seconds, 24-bit.
std::string WriteAmbience(const TempDir& dir) {
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.channels = 2;
    spec.seconds = 120.0;
    std::vector<float> samples = MakeSignal(spec);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] *= 0.6f + 0.4f * float(std::sin(double(i / 2) * 2.0 * M_PI / (7.0 * 48000.0)));
    const std::string path = dir.File("ambience.wav");
    WriteSamples(path, samples, 2, 48000);
    return path;
}

const std::string& TwoMinuteStereoFile() {
    static TempDir dir;
    static const std::string path = WriteAmbience(dir);
    return path;
}

void Resynthesize(benchmark::State& state, bool cold) {
    const std::string& path = TwoMinuteStereoFile();
    for (auto _ : state) {
        state.PauseTiming();
        if (cold) ClearProcessedClipCache();
        auto voice = std::make_unique<PlaybackVoice>();
        state.ResumeTiming();
        if (!ResynthesizeFill(path, "bench", 0, kFillSeconds, 48000, true, *voice, 1, false))
            state.SkipWithError("fill failed");
        benchmark::DoNotOptimize(voice->left.data());
    }
    state.counters["realtime"] =
        benchmark::Counter(kFillSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

// "realtime" is seconds of fill produced per second of work.
static void BM_FillResynthesisFromFile(benchmark::State& state) { Resynthesize(state, true); }
BENCHMARK(BM_FillResynthesisFromFile)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_FillResynthesisCachedSource(benchmark::State& state) { Resynthesize(state, false); }
BENCHMARK(BM_FillResynthesisCachedSource)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_FillReplayOfStoredPlan(benchmark::State& state) {
    RenderResult result;
    result.filepath = TwoMinuteStereoFile();
    result.duration = kFillSeconds;
    result.procMode = 1;
    result.stereo = true;
    result.groupTrack = 1;
    {
        auto first = std::make_unique<PlaybackVoice>();
        if (!LoadFillAudio(result, 48000, *first) || result.fillChunks.empty()) {
            state.SkipWithError("no plan to replay");
            return;
        }
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto voice = std::make_unique<PlaybackVoice>();
        state.ResumeTiming();
        if (!ProcessResultClip(result, 48000, *voice)) state.SkipWithError("replay failed");
        benchmark::DoNotOptimize(voice->left.data());
    }
    state.counters["realtime"] =
        benchmark::Counter(kFillSeconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FillReplayOfStoredPlan)->Unit(benchmark::kMillisecond)->UseRealTime();
