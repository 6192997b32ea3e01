// Long projects within bounded memory: a generated project opened headless
// with its engine streaming its voices holds, at every step of its voice
// build and of playback across it, no more samples than the window around
// the playhead asks for (and the workers' batch), while every voice is
// measured as if built whole; and the open of a 20-minute project of 2,000
// events peaks under 2 GB (its own process: VmHWM covers only it).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/project_lifecycle.h"
#include "operations/voice_streaming.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"
#include "support/document_records.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/peak_memory.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"
#include "support/voice_streaming_rig.h"

namespace {

// FNV-1a 64 over the bytes of a voice's samples.
uint64_t SamplesHash(const PlaybackVoice& v) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](const std::vector<float>& samples) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(samples.data());
        for (size_t i = 0; i < samples.size() * sizeof(float); ++i) h = (h ^ bytes[i]) * 1099511628211ull;
    };
    mix(v.left);
    mix(v.right);
    return h;
}

// What a voice built whole is, by result id.
struct WholeVoice {
    std::array<float, kVoiceOverviewBins> peak{}, rms{};
    float normGain = 0, gain = 0, length = 0;
    int32_t sampleCount = 0, chunkCount = 0;
    uint64_t samples = 0;
};

struct Rig : DocumentRecords {};

// Voices holding samples, and voices the window around the playhead reaches.
void CountWindow(const AudioEngine& e, int& held, int& inWindow) {
    const double t = GetPlaybackTime(e);
    held = inWindow = 0;
    for (const PlaybackVoice& v : e.voices) {
        held += !v.evicted && !v.left.empty() ? 1 : 0;
        inWindow += VoiceInStreamWindow(e, v, t) ? 1 : 0;
    }
}

}  // namespace

TEST(LongProjectStreaming, BuildAndPlaybackHoldOnlyTheWindowsVoicesMeasuredAsIfWhole) {
    TempDir dir;
    LargeProjectSpec spec{
        .eventCount = 90,
        .seconds = 480,
        .layers = LargeProjectLayers::Made,
        .layersPerEvent = 3,
        .soundCount = 24,
    };
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));

    // Every voice built whole, for reference.
    std::map<uint32_t, WholeVoice> whole;
    {
        Rig rig;
        *rig.project = large.project;
        QuietStdout(true);
        RebuildCache(rig.Context(), true);
        QuietStdout(false);
        for (const PlaybackVoice& v : rig.engine->voices) {
            WholeVoice& w = whole[v.resultId];
            w.peak = v.peakOverview;
            w.rms = v.rmsOverview;
            w.normGain = v.normGain;
            w.gain = v.gain.load();
            w.length = v.length;
            w.sampleCount = v.sampleCount;
            w.chunkCount = v.chunkCount;
            w.samples = SamplesHash(v);
            ASSERT_FALSE(v.evicted);
        }
    }
    ASSERT_GT(whole.size(), 200u);

    // The open's build (RebuildCache, no scale analysis) on a streaming
    // engine with a 20 s window, the playhead where the open leaves it.
    Rig rig;
    *rig.project = large.project;
    AudioEngine& e = *rig.engine;
    e.streamVoices = 1;
    e.streamWindow = 20.0f;
    std::mutex checkMutex;
    int steps = 0, worst = 0, overWindow = 0;
    rig.observer.voiceBuilt = [&] {
        std::lock_guard<EngineMutex> voices(e.mutex);  // installs happen under it
        int held = 0, inWindow = 0;
        CountWindow(e, held, inWindow);
        std::lock_guard<std::mutex> lock(checkMutex);
        ++steps;
        worst = std::max(worst, held);
        if (held > inWindow) ++overWindow;
    };
    QuietStdout(true);
    RebuildCache(rig.Context(), true);
    QuietStdout(false);
    EXPECT_EQ(steps, int(whole.size()));
    EXPECT_EQ(overWindow, 0) << "a build step held samples of voices outside the window";
    int held = 0, inWindow = 0;
    CountWindow(e, held, inWindow);
    EXPECT_GT(held, 0);
    EXPECT_LT(held, int(whole.size()) / 4) << "most voices lie outside a 20 s window of an 8-minute project";

    // Measured whole: overview, loudness, headroom, length and plan equal
    // the whole build's, whether or not the voice kept its samples.
    ASSERT_EQ(e.voices.size(), whole.size());
    for (const PlaybackVoice& v : e.voices) {
        const WholeVoice& w = whole.at(v.resultId);
        EXPECT_EQ(v.peakOverview, w.peak) << "result " << v.resultId;
        EXPECT_EQ(v.rmsOverview, w.rms) << "result " << v.resultId;
        EXPECT_EQ(v.normGain, w.normGain) << "result " << v.resultId;
        EXPECT_EQ(v.gain.load(), w.gain) << "result " << v.resultId;
        EXPECT_EQ(v.length, w.length) << "result " << v.resultId;
        EXPECT_EQ(v.sampleCount, w.sampleCount) << "result " << v.resultId;
        EXPECT_EQ(v.chunkCount, w.chunkCount) << "result " << v.resultId;
        if (!v.evicted) {
            EXPECT_EQ(SamplesHash(v), w.samples) << "result " << v.resultId;
        }
    }

    // Playback across the project: the playhead moves on a second at a
    // time and the frame's step runs a few times at each; every few seconds
    // the workers catch up and the voices in the window hold exactly the
    // samples of the whole build.
    VoiceStreamer streamer(2);
    const int batch = StreamBatchLimit(streamer);
    int breaches = 0;
    auto check = [&] {
        int h = 0, w = 0;
        CountWindow(e, h, w);
        if (h > w || h + StreamedVoicesHeld(streamer) > w + batch) ++breaches;
    };
    int verified = 0;
    for (int second = 0; second <= int(spec.seconds); ++second) {
        SeekPlayback(e, double(second));
        for (int k = 0; k < 3; ++k) {
            PrepareVoicesAtPlayhead(streamer, e, rig.project->results, int(rig.project->results.size()));
            check();
        }
        if (second % 40 != 0) continue;
        ASSERT_TRUE(SettleVoiceStreaming(streamer, e, rig.project->results, check)) << "at " << second << " s";
        const double t = GetPlaybackTime(e);
        for (const PlaybackVoice& v : e.voices) {
            if (!VoiceInStreamWindow(e, v, t)) continue;
            ASSERT_FALSE(v.evicted) << "result " << v.resultId << " at " << second << " s";
            EXPECT_EQ(SamplesHash(v), whole.at(v.resultId).samples) << "result " << v.resultId;
            ++verified;
        }
    }
    EXPECT_EQ(breaches, 0) << "voices held samples beyond the window and the workers' batch";
    EXPECT_GT(verified, 50);
}

// The open of a project of 20 minutes and 2,000 events (three layers each)
// as the program opens it: its peak resident memory, read from the
// operating system, stays under 2 GB. Alone in its process (one CTest
// entry per test), so nothing before it raised the mark.
TEST(LongProjectMemory, OpeningTwentyMinutesOfTwoThousandEventsPeaksUnderTwoGigabytes) {
    TempDir dir;
    std::string path;
    {
        LargeProjectSpec spec{
            .eventCount = 2000,
            .seconds = 1200,
            .layers = LargeProjectLayers::Made,
            .layersPerEvent = 3,
        };
        const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
        path = WriteLargeProject(large, dir.path(), "Long");
    }
    ASSERT_FALSE(path.empty());
    PeakMemoryProbe probe;
    if (!probe.Available()) GTEST_SKIP() << "the resident high-water mark cannot be reset here";

    LifecycleRig rig;
    rig.engine->streamVoices = 1;
    QuietStdout(true);
    const bool opened = OpenProject(rig.ctx, path);
    // The frame loop's part: the queued voice build runs to its end.
    const bool built = opened && FinishBusyTask(*rig.app);
    QuietStdout(false);
    ASSERT_TRUE(opened && built);
    ASSERT_GE(rig.project->results.size(), 5000u);
    EXPECT_EQ(rig.engine->voices.size(), rig.project->results.size());
    EXPECT_TRUE(rig.engine->cacheReady.load());
    int held = 0;
    for (const PlaybackVoice& v : rig.engine->voices) held += v.left.empty() ? 0 : 1;
    EXPECT_LT(held, 400);
    const int64_t peak = probe.PeakBytes();
    RecordProperty("peakBytes", std::to_string(peak));
    std::printf("peak resident memory of the open: %.0f MB (%d of %zu voices hold samples)\n",
                double(peak) / (1024.0 * 1024.0), held, rig.engine->voices.size());
    EXPECT_LT(peak, int64_t(2) << 30);
}
