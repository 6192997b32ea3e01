// Reading the picture: the measurements of hand-made pictures, the walk over
// generated videos with the worker's start, progress, cancel and join, and
// the suggestions derived from a video of three solid-colour shots.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/trace_job.h"
#include "picture/trace_frames.h"
#include "picture/trace_records.h"
#include "picture/trace_suggestions.h"
#include "picture/video_player.h"
#include "picture/video_test_support.h"
#include "support/clip_fixtures.h"
#include "support/temp_dir.h"

namespace {

// ---- Hand-made pictures ---------------------------------------------------------

std::vector<uint8_t> Solid(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgba(size_t(width) * size_t(height) * 4);
    for (size_t p = 0; p < rgba.size(); p += 4) {
        rgba[p] = r;
        rgba[p + 1] = g;
        rgba[p + 2] = b;
        rgba[p + 3] = 255;
    }
    return rgba;
}

// White on the left half, black on the right.
std::vector<uint8_t> HalfWhite(int width, int height) {
    std::vector<uint8_t> rgba = Solid(width, height, 0, 0, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width / 2; ++x)
            for (int c = 0; c < 3; ++c) rgba[(size_t(y) * width + x) * 4 + c] = 255;
    return rgba;
}

OpticalTrace EmptyTrace(int frames) {
    OpticalTrace trace;
    trace.frames.assign(size_t(frames), TraceFrame{});
    return trace;
}

void Analyze(OpticalTrace& trace, int index, const std::vector<uint8_t>& rgba, int width, int height) {
    AnalyzeTraceFrame(trace, index, index * 0.1f, rgba.data(), width, height);
}

// ---- Generated videos -----------------------------------------------------------

TempDir& VideoDir() {
    static TempDir dir;
    return dir;
}

// 25 fps, lossless H.264: 3 s grey, 3 s navy, 3 s orange at 192x108 (so the
// walk scales them to 160x90).
const std::string& ThreeShots() {
    static const std::string path = [] {
        const std::string p = VideoDir().File("three_shots.mp4");
        std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y"};
        for (const char* colour : {"gray", "navy", "orange"})
            argv.insert(argv.end(), {"-f", "lavfi", "-i", std::string("color=c=") + colour + ":s=192x108:r=25:d=3"});
        argv.insert(argv.end(), {"-filter_complex", "[0][1][2]concat=n=3:v=1:a=0,format=yuv420p", "-c:v",
                                 "libx264", "-qp", "0", "-preset", "veryfast", p});
        EXPECT_TRUE(RunTool(argv)) << "ffmpeg could not make the three shots";
        return p;
    }();
    return path;
}

// Ten minutes at one picture a second: a walk of 6000 samples that takes
// seconds, long enough to be caught midway.
const std::string& TenMinutes() {
    static const std::string path = [] {
        const std::string p = VideoDir().File("ten_minutes.mp4");
        EXPECT_TRUE(RunTool({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                             "testsrc=s=160x90:r=1:d=600", "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt",
                             "yuv420p", p}))
            << "ffmpeg could not make the long video";
        return p;
    }();
    return path;
}

bool WaitUntil(const std::function<bool()>& condition, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void ThrowingLauncher(std::thread&, std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

bool SameSuggestion(const SuggestedEvent& a, const SuggestedEvent& b) {
    return a.time == b.time && a.type == b.type && a.confidence == b.confidence && a.tier == b.tier &&
           a.suggestedDuration == b.suggestedDuration && a.suggestedShape == b.suggestedShape &&
           a.intensity == b.intensity && a.suggestedGain == b.suggestedGain &&
           a.suggestedSyncOffset == b.suggestedSyncOffset && a.suggestedWeightCenter == b.suggestedWeightCenter &&
           a.suggestedSpread == b.suggestedSpread && a.intensityCurve == b.intensityCurve &&
           a.hasIntensityCurve == b.hasIntensityCurve && a.accepted == b.accepted && a.peelLayer == b.peelLayer;
}

class TraceScanTest : public ::testing::Test {
protected:
    void TearDown() override {
        CancelTraceAnalysis(*app);
        CloseReferenceVideo(player);
        app->observer = nullptr;
    }

    // Starts a trace and records every progress value seen until it ends.
    void RunTrace() {
        progress.clear();
        ASSERT_TRUE(StartTraceAnalysis(*app, player));
        ASSERT_TRUE(WaitUntil(
            [&] {
                const bool running = app->traceRunning.load();
                progress.push_back(app->traceProgress.load());
                return !running;
            },
            60));
        ASSERT_TRUE(JoinTraceWorker(*app));
    }

    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    JobObserver observer;  // the trace's thread launcher, when a test gives one
    VideoPlayer player;
    std::vector<float> progress;
};

}  // namespace

// ---- Frame analysis ---------------------------------------------------------------

TEST(TraceFrameAnalysis, LightAndColourOfSolidPictures) {
    OpticalTrace trace = EmptyTrace(2);
    Analyze(trace, 0, Solid(16, 8, 0, 0, 0), 16, 8);
    const TraceFrame& black = trace.frames[0];
    EXPECT_EQ(black.luma, 0.0f);
    EXPECT_EQ(black.saturation, 0.0f);
    EXPECT_EQ(black.warmth, 0.0f);
    EXPECT_EQ(black.lumaDelta, 0.0f) << "the first record has no change";
    EXPECT_EQ(black.motion, 0.0f);
    EXPECT_EQ(black.histDelta, 0.0f);
    EXPECT_EQ(trace.analysedCount.load(), 1);

    // Pure red: (1 - 0) / (0.5 x 0 + 0.3) = 3.33, clamped.
    trace = EmptyTrace(1);
    Analyze(trace, 0, Solid(16, 8, 255, 0, 0), 16, 8);
    EXPECT_FLOAT_EQ(trace.frames[0].warmth, 1.0f);
    EXPECT_FLOAT_EQ(trace.frames[0].saturation, 1.0f);
    EXPECT_NEAR(trace.frames[0].luma, 0.2126f, 1e-6);
}

TEST(TraceFrameAnalysis, ChangesAgainstThePreviousPicture) {
    const int w = 160, h = 90;
    OpticalTrace trace = EmptyTrace(6);
    Analyze(trace, 0, Solid(w, h, 0, 0, 0), w, h);
    Analyze(trace, 1, HalfWhite(w, h), w, h);
    const TraceFrame& half = trace.frames[1];
    EXPECT_FLOAT_EQ(half.luma, 0.5f);
    EXPECT_FLOAT_EQ(half.lumaDelta, 0.5f);
    // Each channel moves half its pixels from the lowest bin to the highest.
    EXPECT_FLOAT_EQ(half.histDelta, 0.5f);
    // Half of every fourth pixel went from black to white: ln(1.01 / 0.01) / 3
    // on those, nothing on the others.
    EXPECT_NEAR(half.motion, std::log(1.01 / 0.01) / 6.0, 1e-5);
    EXPECT_NEAR(half.motion, 0.769f, 5e-4);

    Analyze(trace, 2, HalfWhite(w, h), w, h);
    EXPECT_EQ(trace.frames[2].motion, 0.0f) << "a repeated picture";
    EXPECT_EQ(trace.frames[2].histDelta, 0.0f);
    EXPECT_EQ(trace.frames[2].lumaDelta, 0.0f);

    // Another size: no motion can be measured, the histogram still compares.
    Analyze(trace, 3, Solid(w / 2, h, 0, 0, 0), w / 2, h);
    EXPECT_EQ(trace.frames[3].motion, 0.0f);
    EXPECT_FLOAT_EQ(trace.frames[3].histDelta, 0.5f);
    EXPECT_FLOAT_EQ(trace.frames[3].lumaDelta, -0.5f);
    EXPECT_EQ(trace.analysedCount.load(), 4);

    // Outside the frames nothing changes, not even the remembered picture.
    const std::vector<uint8_t> remembered = trace.prevPixels;
    const std::vector<TraceFrame> before = trace.frames;
    Analyze(trace, 6, HalfWhite(w, h), w, h);
    Analyze(trace, -1, HalfWhite(w, h), w, h);
    EXPECT_EQ(trace.analysedCount.load(), 4);
    EXPECT_EQ(trace.prevPixels, remembered);
    EXPECT_EQ(trace.prevWidth, w / 2);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(trace.frames[i].luma, before[i].luma) << i;

    // An empty picture only counts.
    AnalyzeTraceFrame(trace, 4, 0.4f, nullptr, 0, 0);
    EXPECT_EQ(trace.analysedCount.load(), 5);
    EXPECT_FLOAT_EQ(trace.frames[4].time, 0.4f);
    EXPECT_EQ(trace.frames[4].luma, 0.0f);
    EXPECT_EQ(trace.prevPixels, remembered);
}

// ---- The walk and the worker -------------------------------------------------------

TEST_F(TraceScanTest, ThreeShotsGiveChangesExactlyAtTheCutsAndLeaveThePlayerAlone) {
    ScopedTestClock clock(player);
    ASSERT_TRUE(LoadReferenceVideo(player, ThreeShots()));
    ASSERT_FLOAT_EQ(player.duration, 9.0f);
    SeekReferenceVideo(player, 4.0f);
    ASSERT_TRUE(WaitForReferenceVideoIdle(player, 20));
    UpdateReferenceVideo(player);
    const uint64_t shownBefore = player.shown.counter;
    const float timeBefore = player.currentTime;
    ASSERT_NEAR(timeBefore, 4.0, 1e-3);

    RunTrace();
    const OpticalTrace& trace = app->opticalTrace;
    EXPECT_FALSE(app->traceRunning.load());
    EXPECT_TRUE(trace.present.load());
    EXPECT_FLOAT_EQ(trace.duration, 9.0f);
    ASSERT_EQ(trace.analysedCount.load(), 90);
    ASSERT_EQ(trace.frames.size(), 90u);
    EXPECT_EQ(trace.numFrames, 90);
    EXPECT_EQ(trace.prevWidth, 160);
    EXPECT_EQ(trace.prevHeight, 90);
    for (int i = 0; i < 90; ++i) {
        const TraceFrame& f = trace.frames[size_t(i)];
        EXPECT_FLOAT_EQ(f.time, i / 10.0f);
        if (i == 30 || i == 60) {
            EXPECT_GT(f.histDelta, 0.25f) << "cut at sample " << i;
            EXPECT_GT(f.motion, 0.0f) << i;
            EXPECT_NE(f.lumaDelta, 0.0f) << i;
        } else {
            EXPECT_EQ(f.histDelta, 0.0f) << i;
            EXPECT_EQ(f.lumaDelta, 0.0f) << i;
            EXPECT_EQ(f.motion, 0.0f) << i;
        }
    }
    // Progress only rises and ends at 1; it was seen below 1 while running.
    ASSERT_FALSE(progress.empty());
    for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);
    EXPECT_EQ(progress.back(), 1.0f);
    EXPECT_FALSE(app->busyTask.worker.joinable());

    // The player still shows its picture, and plays on from it.
    UpdateReferenceVideo(player);
    EXPECT_EQ(player.shown.counter, shownBefore);
    EXPECT_EQ(player.currentTime, timeBefore);
    PlayReferenceVideo(player);
    TestClock::Advance(1.0);
    ASSERT_TRUE(WaitForReferenceVideoIdle(player, 20));
    UpdateReferenceVideo(player);
    EXPECT_TRUE(player.playing);
    EXPECT_NEAR(player.currentTime, timeBefore + 1.0, 0.041);
}

TEST_F(TraceScanTest, ThreeShotsSuggestScenesAndSpotsAtTheCuts) {
    ASSERT_TRUE(LoadReferenceVideo(player, ThreeShots()));
    RunTrace();
    const OpticalTrace& trace = app->opticalTrace;
    ASSERT_TRUE(trace.present.load());
    const std::vector<SuggestedEvent>& s = trace.suggestions;
    ASSERT_FALSE(s.empty());
    for (size_t i = 1; i < s.size(); ++i) EXPECT_LE(s[i - 1].time, s[i].time) << "sorted by time";

    std::vector<float> sceneTimes;
    const float cuts[] = {3.0f, 6.0f};
    bool spotAtCut[2] = {false, false};
    for (const SuggestedEvent& e : s) {
        EXPECT_EQ(e.keywords[0], '\0');
        EXPECT_EQ(e.presetName[0], '\0');
        EXPECT_TRUE(e.hasIntensityCurve);
        if (e.type == 2) {
            EXPECT_EQ(e.suggestedShape, 3);
            EXPECT_EQ(e.tier, 2);
            EXPECT_FALSE(e.accepted);
            sceneTimes.push_back(e.time);
            continue;
        }
        const float nearest = std::min(std::fabs(e.time - cuts[0]), std::fabs(e.time - cuts[1]));
        EXPECT_LE(nearest, 1.0f) << "type " << e.type << " at " << e.time;
        EXPECT_TRUE(e.accepted);
        for (int c = 0; c < 2; ++c) {
            if (e.type == 0 && e.peelLayer == 0 && std::fabs(e.time - cuts[c]) < 0.5f / 25) {
                spotAtCut[c] = true;
                EXPECT_GT(e.confidence, 0.5f) << "spot at " << e.time;
            }
        }
    }
    ASSERT_EQ(sceneTimes.size(), 3u);
    EXPECT_EQ(sceneTimes[0], 0.0f);
    EXPECT_FLOAT_EQ(sceneTimes[1], 3.0f);
    EXPECT_FLOAT_EQ(sceneTimes[2], 6.0f);
    EXPECT_TRUE(spotAtCut[0]);
    EXPECT_TRUE(spotAtCut[1]);
    EXPECT_GT(trace.maxCompositeEnergy, 0.0f);

    // The same frames derive the same suggestions (on the same frames) and
    // derived values again.
    OpticalTrace again = trace;
    TraceDeriveSettings settings = app->traceDeriveSettings;
    settings.sensitivity = 0.9f;
    DeriveSuggestedEvents(again, settings);
    RefineSuggestionFrames(again, {ThreeShots(), 9.0});
    ASSERT_EQ(again.suggestions.size(), s.size());
    for (size_t i = 0; i < s.size(); ++i) EXPECT_TRUE(SameSuggestion(again.suggestions[i], s[i])) << i;
    for (size_t i = 0; i < trace.frames.size(); ++i) {
        EXPECT_EQ(again.frames[i].composite, trace.frames[i].composite) << i;
        EXPECT_EQ(again.frames[i].threshold, trace.frames[i].threshold) << i;
    }
    EXPECT_EQ(again.maxCompositeEnergy, trace.maxCompositeEnergy);
}

TEST_F(TraceScanTest, CancellingMidWalkStopsTheWorkerWithoutDerivation) {
    ASSERT_TRUE(LoadReferenceVideo(player, TenMinutes()));
    OpticalTrace& trace = app->opticalTrace;

    // CancelTraceAnalysis returns only once the worker has ended.
    ASSERT_TRUE(StartTraceAnalysis(*app, player));
    EXPECT_EQ(trace.frames.size(), 6002u) << "trunc(10 x 600) + 2";
    ASSERT_TRUE(WaitUntil([&] { return trace.analysedCount.load() > 0; }, 30));
    CancelTraceAnalysis(*app);
    EXPECT_FALSE(app->traceRunning.load());
    EXPECT_FALSE(app->busyTask.worker.joinable());
    EXPECT_FALSE(app->busyTask.workerIsTrace);
    EXPECT_FALSE(trace.present.load());
    EXPECT_TRUE(trace.frames.empty());
    EXPECT_TRUE(trace.suggestions.empty());
    EXPECT_EQ(trace.maxCompositeEnergy, 0.0f);
    EXPECT_EQ(trace.numFrames, 0) << "no derivation ran";
    EXPECT_LT(app->traceProgress.load(), 1.0f);
    EXPECT_FALSE(app->busyTask.cancelRequested.load()) << "the shared flag is lowered again";
}

TEST_F(TraceScanTest, StartIsRefusedWhenItMayNotRunAndAFailedThreadLeavesNothingRunning) {
    EXPECT_FALSE(StartTraceAnalysis(*app, player)) << "no video";
    ASSERT_TRUE(LoadReferenceVideo(player, ThreeShots()));

    app->opticalTrace.present.store(true);
    EXPECT_FALSE(StartTraceAnalysis(*app, player)) << "a trace is present";
    app->opticalTrace.present.store(false);
    app->busyTask.busy.store(true);
    EXPECT_FALSE(StartTraceAnalysis(*app, player)) << "a busy task is queued";
    app->busyTask.busy.store(false);
    EXPECT_FALSE(app->traceRunning.load());

    observer.traceLauncher = &ThrowingLauncher;
    app->observer = &observer;
    EXPECT_FALSE(StartTraceAnalysis(*app, player));
    EXPECT_FALSE(app->traceRunning.load());
    EXPECT_FALSE(app->busyTask.worker.joinable());
    EXPECT_FALSE(app->busyTask.workerIsTrace);
    // With nothing running, cancel returns at once.
    CancelTraceAnalysis(*app);
    EXPECT_FALSE(app->opticalTrace.present.load());
}

TEST(TraceScanWalk, SlowVideosHandEachPictureToEverySampleItCovers) {
    // 5 pictures a second sampled 10 times: two samples per picture. Each
    // picture carries its index, read back from what the callback receives.
    TempDir dir;
    const std::string path = dir.File("five.mp4");
    TestVideoSpec spec;
    spec.rate = "5";
    spec.seconds = 2;
    ASSERT_TRUE(MakeTestVideo(path, spec));
    struct Seen {
        std::vector<int> pictures;
        std::vector<float> times;
    } seen;
    const TraceFrameFn record = [](int32_t index, float time, const uint8_t* rgba, int32_t w, int32_t h, void* c) {
        Seen& s = *static_cast<Seen*>(c);
        EXPECT_EQ(index, int32_t(s.pictures.size()));
        s.pictures.push_back(ReadFrameIndex(std::vector<uint8_t>(rgba, rgba + size_t(w) * h * 4), w, h));
        s.times.push_back(time);
    };
    EXPECT_EQ(ScanVideoFrames({path, 2.0}, 160, record, 10.0, nullptr, &seen), 20);
    ASSERT_EQ(seen.pictures.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(seen.pictures[size_t(i)], i / 2) << "sample " << i;
        EXPECT_FLOAT_EQ(seen.times[size_t(i)], i / 10.0f);
    }
    // A progress callback that answers negative ends the walk after the first picture.
    seen = {};
    const TraceProgressFn stop = [](float, void*) { return -1.0f; };
    EXPECT_EQ(ScanVideoFrames({path, 2.0}, 160, record, 10.0, stop, &seen), 2);
    // Nothing to read.
    EXPECT_EQ(ScanVideoFrames({dir.File("missing.mp4"), 2.0}, 160, record, 10.0, nullptr, &seen), 0);
    EXPECT_EQ(ScanVideoFrames({path, 0.05}, 160, record, 10.0, nullptr, &seen), 0) << "shorter than a sample";
}
