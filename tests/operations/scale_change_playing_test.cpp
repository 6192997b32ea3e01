// A change of the musical scale while the project plays. The 2,000-layer
// generated project plays from 20 s, a block every 10.7 ms as a 512-frame
// device at 48 kHz asks, the interface's frames pumping the busy task and
// keeping the streaming window (1.5 s, so that a window left alone for the
// length of a rebuild runs dry) while the first scale is set ("Off" to C
// major, every voice's pitch searched) and, in a second run, another root
// is chosen (D major). Every block the mixer made equals the export of the
// project before the change until the change is heard, and the export after
// it from then on: no block is a blend of the two (new voices heard before
// the levels of the finished set are known, beside old ones at other
// pitches), and the old set is not heard once the job is done. No block
// played with a voice the playhead had reached still waiting for its
// samples, none without voices, at most one silent under another thread's
// hold of the engine lock. Afterwards the voices are those a sync of the
// document gives, at the levels of a whole level pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "document/busy_task.h"
#include "operations/export_job.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_streaming.h"
#include "operations/voice_sync.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "playback/transport.h"
#include "render_job_rig.h"
#include "support/document_records.h"
#include "support/large_project.h"
#include "support/quiet_stdout.h"
#include "support/recording_check.h"
#include "support/temp_dir.h"
#include "support/voice_streaming_rig.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = 512;
// Playback is compared where the export is exact to its 24 bits.
constexpr double kSameSample = 1e-6;
// Under the race detector the streaming workers cannot keep up with real
// time (every decode some ten times slower): there playback stops after a
// shorter span (the change runs to its end without it) and the voices are
// checked, the sound and the late blocks are not.
#if defined(__SANITIZE_THREAD__)
constexpr bool kRealTime = false;
constexpr double kSpanSeconds = 12.0;
#else
constexpr bool kRealTime = true;
constexpr double kSpanSeconds = 60.0;
#endif

// One block as the audio thread made it.
struct HeardBlock {
    int64_t position = 0;  // the playhead's sample when it began
    bool silent = false;   // left silent under another thread's hold of the lock
    std::vector<float> left, right;
};

// The audio thread of a device of 512-frame periods at 48 kHz: a block every
// 10.7 ms of wall time, each kept with the playhead where it began.
class RecordingAudioThread {
public:
    explicit RecordingAudioThread(AudioEngine& engine) : engine_(engine) {
        thread_ = std::thread([this] {
            auto next = std::chrono::steady_clock::now();
            while (!stop_.load()) {
                HeardBlock b;
                b.left.resize(kBlock);
                b.right.resize(kBlock);
                b.position = engine_.position.load();
                const uint64_t locked = engine_.stats.lockedBlocks.load();
                MixAudioBlock(engine_, b.left.data(), b.right.data(), kBlock);
                b.silent = engine_.stats.lockedBlocks.load() != locked;
                blocks_.push_back(std::move(b));
                next += std::chrono::microseconds(1000000 * kBlock / kRate);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~RecordingAudioThread() { Stop(); }
    RecordingAudioThread(const RecordingAudioThread&) = delete;
    RecordingAudioThread& operator=(const RecordingAudioThread&) = delete;

    // The blocks heard; the thread has ended.
    std::vector<HeardBlock> Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return std::move(blocks_);
    }

private:
    AudioEngine& engine_;
    std::atomic<bool> stop_{false};
    std::vector<HeardBlock> blocks_;
    std::thread thread_;
};

// The generated project, opened (its voices built as stored), streaming.
struct ScaleRig : DocumentRecords {
    TempDir dir;
    int exports = 0;

    ScaleRig() {
        LargeProjectSpec spec{.eventCount = 250, .seconds = 150, .layers = LargeProjectLayers::Made,
                              .layersPerEvent = 10, .soundCount = 24, .soundSeconds = 0.5f};
        LargeProject large = MakeLargeProject(spec, dir.File("Library"));
        *project = std::move(large.project);
        library->libraries.assign(1, large.library.index);
        FixProbedWeights(*project);
        // Whole milliseconds: each layer decodes its own region in every build
        // (the processed-clip cache keys regions to the millisecond).
        for (RenderResult& r : project->results) {
            const bool whole = r.duration == r.sourceDuration;
            r.sourceOffset = std::round(r.sourceOffset * 1000.0f) / 1000.0f;
            r.sourceDuration = std::round(r.sourceDuration * 1000.0f) / 1000.0f;
            if (whole) r.duration = r.sourceDuration;
        }
        project->rendered = true;
        // No reverb: a tail would carry what played before a block into it.
        engine->reverb.enabled = 0;
        engine->streamVoices = 1;
        engine->streamWindow = 1.5f;
        app->exportSettings.exportFormatAAF = false;
        app->exportSettings.exportFormatWAV = app->exportSettings.exportWavMixdown = true;
        ResetEngineVoices(*engine, kRate, 0);
        QuietStdout(true);
        RebuildBedsAndWeights(Ctx());
        RebuildCache(Ctx(), true);
        QuietStdout(false);
    }
    ~ScaleRig() { StopVoiceStreaming(*app); }

    DocumentContext Ctx() {
        DocumentContext ctx = Context();
        ctx.sampleRate = kRate;
        return ctx;
    }

    // The mixdown of [from, to) s as the program exports it, interleaved.
    std::vector<float> Export(double from, double to) {
        ExportJob job = MakeExportJob(*app, *project, *engine, dir.File("E" + std::to_string(exports++)));
        job.rangeIn = float(from);
        job.rangeOut = float(to);
        QuietStdout(true);
        const ExportReport report = RunExportJob(job, ExportContextOf());
        QuietStdout(false);
        EXPECT_TRUE(report.Succeeded()) << report.finalText;
        return ReadStereoFile(job.outDir + "/" + job.baseName + ".wav");
    }
};

// What a run heard, block by block, against the exports before and after.
struct Heard {
    int beforeOnly = 0, afterOnly = 0, neither = 0, silent = 0;
    int64_t lastBefore = -1, firstAfter = -1, firstNeither = -1;
    double neitherFromBefore = 0, neitherFromAfter = 0;
};

double LargestDifference(const HeardBlock& b, const std::vector<float>& mix, int64_t at) {
    double d = 0;
    for (int i = 0; i < kBlock; ++i) {
        const size_t k = size_t(2 * (at + i));
        d = std::max({d, double(std::fabs(b.left[size_t(i)] - mix[k])), double(std::fabs(b.right[size_t(i)] - mix[k + 1]))});
    }
    return d;
}

// `first`: the exports' first sample. The first block fades in from silence,
// as does one after a block left silent: those are not compared.
Heard Compare(const std::vector<HeardBlock>& blocks, const std::vector<float>& before,
              const std::vector<float>& after, int64_t first) {
    Heard h;
    bool fading = true;
    for (const HeardBlock& b : blocks) {
        if (b.silent) {
            ++h.silent;
            fading = true;
            continue;
        }
        if (std::exchange(fading, false)) continue;
        const int64_t at = b.position - first;
        if (at < 0 || size_t(2 * (at + kBlock)) > std::min(before.size(), after.size())) continue;
        const double fromBefore = LargestDifference(b, before, at), fromAfter = LargestDifference(b, after, at);
        const bool isBefore = fromBefore <= kSameSample, isAfter = fromAfter <= kSameSample;
        if (isBefore && !isAfter) {
            ++h.beforeOnly;
            h.lastBefore = b.position;
        } else if (isAfter && !isBefore) {
            ++h.afterOnly;
            if (h.firstAfter < 0) h.firstAfter = b.position;
        } else if (!isBefore && !isAfter && h.neither++ == 0) {
            h.firstNeither = b.position;
            h.neitherFromBefore = fromBefore;
            h.neitherFromAfter = fromAfter;
        }
    }
    return h;
}

}  // namespace

TEST(ScaleChangeWhilePlaying, IsHeardAllAtOnceAndOnlyOnceItIsRight) {
    ScaleRig rig;
    AudioEngine& engine = *rig.engine;
    ASSERT_GE(rig.project->results.size(), 1900u);
    const double from = 20.0, span = kSpanSeconds;
    const int64_t first = int64_t(std::llround(from * kRate)), last = first + int64_t((span - 1) * kRate);
    std::vector<float> before = rig.Export(from, from + span);
    ASSERT_FALSE(before.empty());

    for (int change = 0; change < 2; ++change) {
        SCOPED_TRACE(change == 0 ? "the first scale" : "another root");
        const uint64_t late0 = engine.stats.lateVoiceBlocks.load(), empty0 = engine.stats.emptyBlocks.load();
        const std::vector<float> gains0 = [&] {
            std::vector<float> g;
            for (const PlaybackVoice& v : engine.voices) g.push_back(v.gain.load());
            return g;
        }();
        SeekPlayback(engine, from);
        // The voices about the playhead are loaded before it starts.
        PrepareVoicesAtPlayhead(rig.Ctx());
        ASSERT_TRUE(SettleVoiceStreaming(*rig.app->voiceStreamer, engine, rig.project->results));
        engine.playing = 1;
        int64_t queuedAt = -1, doneAt = -1;
        std::vector<HeardBlock> blocks;
        {
            RecordingAudioThread audio(engine);
            const auto start = std::chrono::steady_clock::now();
            const DocumentContext ctx = rig.Ctx();
            // The interface's frames: the busy task pumped, the window kept.
            for (;;) {
                rig.app->busyTask.snapshotRequested = false;
                PumpBusyTask(rig.app->busyTask);
                PrepareVoicesAtPlayhead(ctx);
                const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (queuedAt < 0 && t > 1.5) {
                    if (change == 0)
                        rig.project->scaleType = 1;  // C major, from "Off"
                    else
                        rig.project->scaleRoot = 2;  // D major
                    queuedAt = engine.position.load();
                    ASSERT_TRUE(RebuildCacheAsync(ctx, "Applying musical scale...", false));
                }
                if (queuedAt >= 0 && doneAt < 0 && rig.app->busyTask.done.load()) doneAt = engine.position.load();
                const bool over = doneAt >= 0 && !rig.app->busyTask.busy.load();
                if (over && engine.position.load() > doneAt + 2 * kRate) break;
                // Past the exports' span, playback stops; the change runs on.
                if (engine.position.load() > last) {
                    if (blocks.empty()) blocks = audio.Stop();
                    if (over) break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (blocks.empty()) blocks = audio.Stop();
        }
        // The transport stops: the audio thread fades out what played.
        engine.playing = 0;
        for (int k = 0; k < 4; ++k) {
            std::vector<float> l(kBlock), r(kBlock);
            MixAudioBlock(engine, l.data(), r.data(), kBlock);
        }
        ASSERT_GE(doneAt, 0);
        const uint64_t late = engine.stats.lateVoiceBlocks.load() - late0;
        const uint64_t empty = engine.stats.emptyBlocks.load() - empty0;

        // The voices are what the document calls for, at a whole pass's levels.
        ExpectVoicesMatchResults(engine, *rig.project);
        EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Ctx()));
        std::vector<float> levels;
        int otherGain = 0;
        for (const PlaybackVoice& v : engine.voices) levels.insert(levels.end(), {v.gain.load(), v.levelScale});
        RecomputeVoiceLevels(rig.Ctx());
        for (size_t v = 0; v < engine.voices.size(); ++v) {
            EXPECT_EQ(engine.voices[v].gain.load(), levels[2 * v]) << v;
            EXPECT_EQ(engine.voices[v].levelScale, levels[2 * v + 1]) << v;
            otherGain += v < gains0.size() && engine.voices[v].gain.load() != gains0[v] ? 1 : 0;
        }

        std::vector<float> after = rig.Export(from, from + span);
        ASSERT_EQ(after.size(), before.size());
        const Heard h = Compare(blocks, before, after, first);
        std::printf("[Scale] change %d: %zu blocks; queued at %.2f s, done at %.2f s; %d blocks as before, %d as "
                    "after, %d neither (the first at %.2f s, %.2g from before, %.2g from after), %d silent; %llu "
                    "late, %llu without voices; %d voices at another gain\n",
                    change, blocks.size(), double(queuedAt) / kRate, double(doneAt) / kRate, h.beforeOnly,
                    h.afterOnly, h.neither, double(h.firstNeither) / kRate, h.neitherFromBefore, h.neitherFromAfter,
                    h.silent, (unsigned long long)late, (unsigned long long)empty, otherGain);
        before = std::move(after);
        if (!kRealTime) continue;

        EXPECT_LE(doneAt, last) << "the change outlasted the exports' span";
        EXPECT_EQ(h.neither, 0) << "blocks that are neither the sound before the change nor after it";
        EXPECT_GT(h.beforeOnly, 0);
        EXPECT_GT(h.afterOnly, 0) << "the change is not heard";
        EXPECT_LT(h.lastBefore, h.firstAfter) << "the sound went back to before the change";
        EXPECT_GE(h.firstAfter, queuedAt) << "the change was heard before it was asked for";
        EXPECT_LT(h.lastBefore, doneAt) << "the sound before the change outlasted the change";
        EXPECT_EQ(late, 0u) << "blocks in which a voice the playhead had reached still waited for its samples";
        EXPECT_EQ(empty, 0u);
        EXPECT_LE(h.silent, 1);
    }
}
