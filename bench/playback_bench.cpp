// The audio thread's block mix with many overlapping voices, the reverb per
// sample, and building one voice (decode, normalise, pitch) on the busy task.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "playback/mixer_rig.h"
#include "playback/reverb.h"
#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"

// The stream callback's work: 512-frame blocks of N overlapping voices, the
// reverb on. Without curves: mono voices with fades only. With curves: stereo
// voices carrying all three gain curves, every fourth following its event's
// intensity. corePercent is the share of one core the callback takes at 48 kHz.
static void BM_MixAudioBlock(benchmark::State& state) {
    const int voices = int(state.range(0));
    const bool curves = state.range(1) != 0;
    auto e = MakePlayingEngine();
    e->reverb.enabled = 1;
    InitReverb(e->reverbState, kRigRate);
    std::vector<Event> events(4);
    for (int i = 0; i < voices; ++i) {
        PlaybackVoice v = CurvedNoiseVoice(0.001 * i, 10.0, curves, unsigned(i), 0.01f);
        v.group = i % 3;
        if (!curves) {
            v.hasIntGain = v.hasFillGain = v.hasDeconGain = 0;
        } else if (i % 4 == 0) {
            v.eventIndex = i % 4;
            v.intensityCurve = events[size_t(i % 4)].intensity.data();
            v.intensityCount = 256;
        }
        InstallPlaybackVoice(*e, std::move(v), 0.05f, 0.2f);
    }
    std::vector<float> l(512), r(512);
    for (auto _ : state) {
        if (e->position.load() > 9 * kRigRate) e->position = kRigRate;
        MixAudioBlock(*e, l.data(), r.data(), 512);
        benchmark::DoNotOptimize(l.data());
    }
    // CPU per block over the 10.67 ms a 512-frame block lasts at 48 kHz.
    state.counters["corePercent"] = benchmark::Counter(
        512.0 / (100.0 * kRigRate), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["nsPerVoiceSample"] = benchmark::Counter(
        1e-9 * 512.0 * voices, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MixAudioBlock)
    ->ArgsProduct({{16, 64, 256, 1024}, {0, 1}})
    ->ArgNames({"voices", "curves"})
    ->Unit(benchmark::kMicrosecond);

static void BM_ProcessReverbBlock(benchmark::State& state) {
    auto s = std::make_unique<ReverbState>();
    InitReverb(*s, 48000);
    ReverbSetParams(*s, {0.5f, 0.5f, 0.3f, 0.015f, 0.7f, 0.5f});
    std::vector<float> inL(512), inR(512), outL(512), outR(512);
    for (size_t i = 0; i < 512; ++i) {
        inL[i] = 0.1f * float((i * 7919) % 200) / 200.0f - 0.05f;
        inR[i] = -inL[i];
    }
    for (auto _ : state) {
        ProcessReverbBlock(*s, inL.data(), inR.data(), outL.data(), outR.data(), 512);
        benchmark::DoNotOptimize(outL.data());
    }
    state.counters["perSample"] = benchmark::Counter(
        512.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ProcessReverbBlock)->Unit(benchmark::kMicrosecond);

// One 5 s stereo layer from a 44.1 kHz file: decode and resample (cold) or
// from the processed-clip cache (warm), then band gains, a 3-semitone pitch
// shift, overview and loudness normalisation.
static void BM_BuildPlaybackVoice(benchmark::State& state) {
    const bool cold = state.range(0) != 0;
    const std::string& path = NoiseFileForRun("five.wav", 44100, 2, 5.0);
    auto e = std::make_unique<AudioEngine>();
    ResetEngineVoices(*e, 48000, 0);
    for (auto _ : state) {
        state.PauseTiming();
        if (cold) ClearProcessedClipCache(gProcessedClipCache);
        ResetEngineVoices(*e, 48000, 0);
        RenderResult r;
        r.filepath = path;
        r.sourceDuration = 5.0f;
        r.duration = 5.0f;
        r.stereo = true;
        r.pitchShift = 3.0f;
        r.hasEqGains = true;
        r.eqGains = {1.2f, 1.0f, 0.8f, 1.0f, 1.1f};
        state.ResumeTiming();
        BuildPlaybackVoice(*e, r, 0, 48000, nullptr, 0, nullptr, 0, 0, false);
    }
    if (e->voices.empty() || e->voices[0].sampleCount < 48000) state.SkipWithError("voice not built");
}
BENCHMARK(BM_BuildPlaybackVoice)->Arg(1)->Arg(0)->ArgName("cold")->Unit(benchmark::kMillisecond)->UseRealTime();
