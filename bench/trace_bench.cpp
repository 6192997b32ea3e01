// Reading the picture: the whole trace of a 10-minute 1080p H.264 video (walk,
// analysis and derivation, as a multiple of real time), and the derivation
// alone on two hours of frames (72,000 samples).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "operations/app_state.h"
#include "operations/trace_job.h"
#include "picture/trace_records.h"
#include "picture/trace_suggestions.h"
#include "picture/video_player.h"
#include "support/clip_fixtures.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

TempDir& TraceBenchDir() {
    static TempDir dir;
    return dir;
}

// 10 minutes of moving test pattern at 1920x1080, 24 fps, x264's own GOP
// (250 frames) with B-frames.
const std::string& TenMinutesFullHd() {
    static const std::string path = [] {
        const std::string p = TraceBenchDir().File("fullhd_ten_minutes.mp4");
        RunTool({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=24:d=600",
                 "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", p});
        return p;
    }();
    return path;
}

void BM_TraceTenMinutesFullHd(benchmark::State& state) {
    VideoPlayer player;
    if (!LoadReferenceVideo(player, TenMinutesFullHd())) {
        state.SkipWithError("no video");
        return;
    }
    WaitForReferenceAudioExtraction(player);
    auto app = std::make_unique<AppState>();
    double seconds = 0;
    for (auto _ : state) {
        CancelTraceAnalysis(*app);
        const Clock::time_point start = Clock::now();
        if (!StartTraceAnalysis(*app, player)) {
            state.SkipWithError("trace not started");
            break;
        }
        while (app->traceRunning.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        JoinTraceWorker(*app);
    }
    state.counters["x_realtime"] = seconds > 0 ? double(player.duration) / seconds : 0;
    state.counters["samples"] = app->opticalTrace.numFrames;
    state.counters["suggestions"] = double(app->opticalTrace.suggestions.size());
    CancelTraceAnalysis(*app);
    CloseReferenceVideo(player);
}
BENCHMARK(BM_TraceTenMinutesFullHd)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// Two hours at 10 samples a second: shots of 2 to 8 s with a cut between
// them, noisy light and motion, bursts of action. With `trend` the whole
// series also brightens and moves more from start to end, so most peaks
// stand on a slope (long prominence walks).
OpticalTrace TwoHoursOfFrames(bool trend) {
    OpticalTrace trace;
    const int n = 72000;
    trace.fps = 10;
    trace.duration = n / 10.0f;
    trace.frames.resize(n);
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int nextCut = 40;
    float shotLuma = 0.5f, motionLevel = 0.1f;
    for (int i = 0; i < n; ++i) {
        TraceFrame& f = trace.frames[size_t(i)];
        f.time = float(i) / 10.0f;
        const float slope = trend ? float(i) / float(n) : 0.0f;
        if (i == nextCut) {
            nextCut += 20 + int(unit(random) * 60);
            shotLuma = 0.2f + 0.6f * unit(random);
            motionLevel = unit(random) < 0.2f ? 0.6f : 0.1f * unit(random);
            f.histDelta = 0.3f + 0.5f * unit(random);
        } else {
            f.histDelta = 0.02f * unit(random);
        }
        f.luma = std::min(1.0f, shotLuma + 0.02f * unit(random) + 0.2f * slope);
        f.lumaDelta = i > 0 ? f.luma - trace.frames[size_t(i) - 1].luma : 0.0f;
        f.motion = motionLevel * (0.7f + 0.6f * unit(random)) + 0.5f * slope;
        f.warmth = 0.2f * unit(random) - 0.1f;
        f.saturation = 0.3f + 0.1f * unit(random);
    }
    trace.analysedCount.store(n);
    return trace;
}

void BM_DeriveSuggestedEvents72k(benchmark::State& state) {
    const OpticalTrace source = TwoHoursOfFrames(state.range(0) != 0);
    TraceDeriveSettings settings;
    settings.sensitivity = 0.9f;
    size_t suggestions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        OpticalTrace trace = source;
        state.ResumeTiming();
        DeriveSuggestedEvents(trace, settings);
        suggestions = trace.suggestions.size();
        benchmark::DoNotOptimize(trace.suggestions.data());
    }
    state.counters["suggestions"] = double(suggestions);
}
BENCHMARK(BM_DeriveSuggestedEvents72k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
