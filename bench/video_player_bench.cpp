// The reference video: playing 1080p24 H.264 shown at 1280x720 (decoder
// thread per frame, interface thread per update), a 10 s backward seek to the
// exact frame, and extracting 10 minutes of stereo AAC.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>

#include "picture/reference_audio.h"
#include "picture/video_player.h"
#include "support/clip_fixtures.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

TempDir& BenchDir() {
    static TempDir dir;
    return dir;
}

// 20 s of moving test pattern at 1920x1080, 24 fps, x264's own GOP (250
// frames) with B-frames: a long-GOP delivery as editors send them.
const std::string& FullHdVideo() {
    static const std::string path = [] {
        const std::string p = BenchDir().File("fullhd24.mp4");
        RunTool({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                 "testsrc2=s=1920x1080:r=24:d=20", "-c:v", "libx264", "-preset", "veryfast",
                 "-pix_fmt", "yuv420p", p});
        return p;
    }();
    return path;
}

// 10 minutes of a stereo tone as AAC at 44.1 kHz.
const std::string& TenMinutesOfAac() {
    static const std::string path = [] {
        const std::string p = BenchDir().File("ten_minutes.m4a");
        RunTool({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                 "sine=frequency=440:sample_rate=44100:duration=600", "-ac", "2", "-c:a", "aac",
                 "-b:a", "160k", p});
        return p;
    }();
    return path;
}

std::atomic<double> gBenchClock{0};
double BenchClock() { return gBenchClock.load(); }

// Plays from the start with a clock that moves one frame per update and
// waits for the decoder thread each time: the wall time per frame is the
// decoder thread's cost of one shown frame (decode and bilinear RGBA).
void BM_VideoPlayFullHd(benchmark::State& state) {
    VideoPlayer player;
    player.clock.store(&BenchClock);
    if (!LoadReferenceVideo(player, FullHdVideo())) {
        state.SkipWithError("no video");
        return;
    }
    WaitForReferenceAudioExtraction(player);
    const double frame = 1.0 / player.fps;
    double playSeconds = 0, updateSeconds = 0;
    int64_t updates = 0;
    for (auto _ : state) {
        SeekReferenceVideo(player, 0);
        WaitForReferenceVideoIdle(player, 30);
        UpdateReferenceVideo(player);
        const Clock::time_point start = Clock::now();
        PlayReferenceVideo(player);
        while (player.playing) {
            gBenchClock.store(gBenchClock.load() + frame);
            WaitForReferenceVideoIdle(player, 30);
            const Clock::time_point t0 = Clock::now();
            UpdateReferenceVideo(player);
            updateSeconds += Seconds(t0);
            ++updates;
        }
        playSeconds += Seconds(start);
    }
    state.counters["ms_per_frame"] = updates ? playSeconds / double(updates) * 1e3 : 0;
    state.counters["update_us"] = updates ? updateSeconds / double(updates) * 1e6 : 0;
    state.counters["converted"] = double(player.stats.picturesConverted.load());
    state.counters["width"] = player.width;
    CloseReferenceVideo(player);
}
BENCHMARK(BM_VideoPlayFullHd)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// From 15 s back to the frame at 5 s: the walk from the keyframe at 0 s.
void BM_VideoSeekBack10s(benchmark::State& state) {
    VideoPlayer player;
    if (!LoadReferenceVideo(player, FullHdVideo())) {
        state.SkipWithError("no video");
        return;
    }
    WaitForReferenceAudioExtraction(player);
    for (auto _ : state) {
        state.PauseTiming();
        SeekReferenceVideo(player, 15.0f);
        WaitForReferenceVideoIdle(player, 30);
        UpdateReferenceVideo(player);
        state.ResumeTiming();
        SeekReferenceVideo(player, 5.0f);
        while (player.pendingSeek >= 0) {
            WaitForReferenceVideoIdle(player, 30);
            UpdateReferenceVideo(player);
        }
    }
    if (std::fabs(player.shown.time - 5.0) > 0.5 / player.fps) state.SkipWithError("wrong frame");
    CloseReferenceVideo(player);
}
BENCHMARK(BM_VideoSeekBack10s)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExtractTenMinutesOfAac(benchmark::State& state) {
    const std::string& path = TenMinutesOfAac();
    double peakMb = 0;
    for (auto _ : state) {
        PeakMemoryProbe probe;
        std::shared_ptr<VideoRefAudio> audio = DecodeReferenceAudio(path);
        if (!audio || audio->frames < 600 * 48000 - 48000) state.SkipWithError("short track");
        if (probe.Available()) peakMb = double(probe.PeakGrowthBytes()) / (1024.0 * 1024.0);
        benchmark::DoNotOptimize(audio.get());
    }
    state.counters["peak_MB"] = peakMb;
    state.counters["track_MB"] = 600.0 * 48000 * 2 * 2 / (1024.0 * 1024.0);
}
BENCHMARK(BM_ExtractTenMinutesOfAac)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

}  // namespace
