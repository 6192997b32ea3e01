// The output a user's sound card gets: the engine plays through RtAudio into
// a private PulseAudio server's null sink, and a recording of the sink's
// monitor equals the offline mix of the same span, sample for sample, with
// no repeated block and no gap, save the stretches where the server itself
// logged that our stream ran dry (CheckRecording). The comparison itself is
// tested on made-up recordings: it must leave out the server's stretches and
// catch ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include "export/bwf_readback.h"
#include "export/export_rig.h"
#include "platform/null_audio_output.h"
#include "platform/rtaudio_backend.h"
#include "playback/audio_output.h"
#include "playback/reverb.h"
#include "playback/transport.h"
#include "support/audio_fixtures.h"
#include "support/pulse_server.h"
#include "support/recording_check.h"

// The PulseAudio client library keeps small allocations until the process
// ends (its device probing); they are not ours, and LeakSanitizer cannot see
// past the library's frames to tell them apart from a leak of our own.
extern "C" const char* __lsan_default_suppressions() { return "leak:libpulse.so\nleak:librtaudio.so\n"; }

namespace {

constexpr double kContentSeconds = 11.0;
constexpr double kComparedSeconds = 10.0;
constexpr float kAudible = 1e-3f;
// Under the race detector one callback may cost more than the whole queue the
// stream keeps (70 ms against about 20): the clock then sees the device wait
// for frames the server bridged from its own buffer, so the gap counts are
// held to the recording in ordinary builds only (the recording itself is
// compared in every build).
#if defined(__SANITIZE_THREAD__)
constexpr bool kGapCountsHold = false;
#else
constexpr bool kGapCountsHold = true;
#endif

// Stretches of at least 2 ms in which both channels are exactly zero, from
// frame `from` on for `frames` frames: what the sink played without our
// stream (the mix itself, with its reverb, is never that quiet once it has
// begun).
std::vector<HeardStretch> ZeroRuns(const std::vector<float>& interleaved, int64_t from, int64_t frames) {
    std::vector<HeardStretch> runs;
    const int64_t end = std::min<int64_t>(from + frames, int64_t(interleaved.size() / 2));
    int64_t start = -1;
    for (int64_t f = std::max<int64_t>(from, 0); f <= end; ++f) {
        const bool zero = f < end && interleaved[size_t(2 * f)] == 0.0f && interleaved[size_t(2 * f + 1)] == 0.0f;
        if (zero && start < 0) start = f;
        if (!zero && start >= 0) {
            if (f - start >= kRigRate / 500) runs.push_back({start, f});
            start = -1;
        }
    }
    return runs;
}

int64_t FirstAudible(const std::vector<float>& interleaved) {
    for (size_t i = 0; i < interleaved.size(); ++i)
        if (std::fabs(interleaved[i]) > kAudible) return int64_t(i / 2);
    return -1;
}

// What the output's thread did, for a failure's message.
std::string OutputFigures(const AudioOutput& o) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "callbacks %llu, longest %.1f ms (%.1f ms of its own CPU), longest wait between callbacks %.1f ms, "
                  "%llu blocked, %llu preempted, real-time thread %d",
                  (unsigned long long)o.callbackCount.load(), double(o.longestCallbackMicros.load()) / 1000.0,
                  double(o.longestCallbackCpuMicros.load()) / 1000.0,
                  double(o.longestCallbackGapMicros.load()) / 1000.0, (unsigned long long)o.callbacksBlocked.load(),
                  (unsigned long long)o.callbacksPreempted.load(), int(o.realtimeThread.load()));
    return text;
}

}  // namespace

// A private server with a null sink, the offline mix of random layers over
// 11 s with the reverb on (the first sound at 0.5 s), and a recording of the
// sink while the engine plays them through RtAudio.
class PulsePlayback : public testing::Test {
protected:
    void SetUp() override {
        if (!PulseInstalled())
            GTEST_SKIP() << "PulseAudio is not installed (scripts/setup installs pulseaudio and pulseaudio-utils)";
        std::string why;
        ASSERT_TRUE(server.Start("tl_null", kRigRate, why))
            << "PulseAudio is installed but a private server would not start: " << why;
        server.UseInThisProcess();
        rig.project->totalDuration = float(kContentSeconds);
        maker.allowEvicted = false;
        rig.Add(ConstantVoice(0.5, 0.3, 0.2f), "onset", 0, 0.02f, 0.05f);
        for (int i = 0; i < 90; ++i) {
            float fadeIn = 0, fadeOut = 0;
            PlaybackVoice v = maker.Make(fadeIn, fadeOut);
            v.startTime = v.plainStartTime = maker.Uniform(0.9f, float(kContentSeconds) - 0.5f);
            rig.Add(std::move(v), "layer", 0, fadeIn, fadeOut);
        }
        AudioEngine& e = *rig.engine;
        InitReverb(e.reverbState, kRigRate);
        e.reverb.enabled = 1;
        ASSERT_EQ(rig.Pass(rig.Job(true), kWavMixdown), 1);
        mix = ReadBwfFile(rig.OutFile("Mix.wav"));
        ASSERT_TRUE(mix.ok);
        onset = FirstAudible(mix.samples);
        ASSERT_GT(onset, 0);
    }

    // Records the monitor and plays the project from its start into the
    // sink until the compared span is in the recording (the stream runs
    // ahead of the sink by its buffer, whatever that is, and past any
    // silence the server played meanwhile), then compares it, leaving out
    // where the server logged that the stream ran dry. `stallsAt`: the
    // output's thread stops for 300 ms once the engine has mixed past each
    // of these frames, as a starved thread would.
    void PlayAndCompare(std::vector<int64_t> stallsAt = {}) {
        PulseRecording recording;
        ASSERT_TRUE(recording.Start(server, "tl_null.monitor", kRigRate, rig.dir.File("monitor.raw")));
        // The monitor gives silence while nothing plays: once some has come,
        // nothing the stream plays can be missed.
        const auto recordingDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (recording.Frames() < kRigRate / 10 && std::chrono::steady_clock::now() < recordingDeadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_GE(recording.Frames(), kRigRate / 10) << "parec records nothing from the sink's monitor";
        AudioEngine& e = *rig.engine;
        AudioOutput output;
        output.api = CreateRtAudioBackend();
        output.nullOutput = std::make_unique<NullAudioOutput>();
        SeekPlayback(e, 0.0);
        e.playing = 1;
        size_t stalls = 0;  // the callback thread's alone
        OpenAudioOutput(
            output,
            [&e, &stalls, stallsAt](float* l, float* r, int32_t n) {
                MixAudioBlock(e, l, r, n);
                if (stalls < stallsAt.size() && e.position.load() > stallsAt[stalls]) {
                    ++stalls;
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                }
            },
            &e.playing, kRigRate);
        ASSERT_TRUE(output.open.load()) << "RtAudio did not open the PulseAudio stream: " << output.errorText;
        EXPECT_EQ(output.deviceRate.load(), kRigRate);

        const int64_t compared = int64_t(kComparedSeconds * kRigRate);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        while (std::chrono::steady_clock::now() < deadline) {
            // What the recording holds decides; the pause only spares the disk.
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            heard = recording.Samples();
            heardOnset = FirstAudible(heard);
            if (heardOnset < 0) continue;
            if (heardOnset < onset) break;
            if (int64_t(heard.size() / 2) < heardOnset - onset + compared + kRigRate / 10) continue;
            stretches = server.UnderrunStretches(recording);
            check = CheckRecording(heard, mix.samples, onset, compared - onset, heardOnset, stretches, 0, kRigRate);
            if (!check.shortRecording) break;
        }
        CloseAudioOutput(output);
        e.playing = 0;
        recording.Stop();
        figures = OutputFigures(output);
        outputGaps = int(output.outputGaps.load());
        outputGapMs = 1000.0 * double(output.outputGapFrames.load()) / kRigRate;
        lateCallbacks = output.lateCallbacks.load();
        if (heardOnset >= 0) silences = ZeroRuns(heard, heardOnset, int64_t(kComparedSeconds * kRigRate));
        double heardMs = 0;
        for (const HeardStretch& z : silences) heardMs += 1000.0 * double(z.to - z.from) / kRigRate;
        std::printf("[Test] output gaps %d (%.1f ms, %llu late callbacks); the recording's silences %zu (%.1f ms); "
                    "the server's stretches %zu\n",
                    outputGaps, outputGapMs, (unsigned long long)lateCallbacks, silences.size(), heardMs,
                    stretches.size());
        silenceMs = heardMs;
        ASSERT_GE(heardOnset, onset) << "the sink's monitor heard nothing, or missed the stream's start";
        std::printf("[Test] %s (%s)\n", check.Summary().c_str(), figures.c_str());
    }

    PulseServer server;
    ExportRig rig;
    RandomVoices maker{41};  // holds the voices' curves while they play
    BwfReadBack mix;
    int64_t onset = -1;
    // What PlayAndCompare heard and found.
    std::vector<float> heard;
    int64_t heardOnset = -1;
    std::vector<HeardStretch> stretches;
    RecordingCheck check;
    std::string figures;
    // What the program counted of the stream's gaps, and the silences the
    // recording holds.
    int outputGaps = -1;
    double outputGapMs = 0;
    uint64_t lateCallbacks = 0;
    std::vector<HeardStretch> silences;
    double silenceMs = 0;
};

// The stream's latency aligned, every frame up to 10 s agrees, save where
// the server logged that the stream ran dry: a loaded machine may not run
// our thread (or the server's) in time, and the sink does not wait. Nothing
// of the mix may come twice or go missing otherwise, and at least half of
// the span must be compared.
TEST_F(PulsePlayback, TheSinkRecordingEqualsTheOfflineMix) {
    PlayAndCompare();
    EXPECT_TRUE(check.ok) << check.problem << "; the output: " << figures;
    EXPECT_GT(check.largest, 0.05);
    // The program counts the stream's gaps from the stream's clock: as many
    // as the recording holds (none, unless the machine starved the stream).
    if (kGapCountsHold) {
        EXPECT_EQ(size_t(outputGaps), silences.size()) << figures;
        if (silences.empty()) {
            EXPECT_EQ(lateCallbacks, 0u) << figures;
        }
    }
}

// The output's thread held up for 300 ms at 3 s and again at 6 s: the
// server runs dry and logs it, and its log places the stretches in the
// recording, which are left out; the recording agrees everywhere else.
// Without the stretches the comparison fails at the gap. The program counts
// each gap the recording holds, from the stream's clock alone.
TEST_F(PulsePlayback, AStallOfTheOutputIsLeftOutWhereTheServerLoggedIt) {
    PlayAndCompare({3 * kRigRate, 6 * kRigRate});
    // Each stall is a silence of the recording, and the program counted it,
    // gap for gap, about as long as the recording heard it: never longer,
    // and at most a quarter shorter (a loaded server takes a while to play
    // again once it ran dry, which the stream's clock cannot see). A machine
    // that starved the stream besides adds silences of its own.
    EXPECT_GE(silences.size(), 2u) << figures;
    if (kGapCountsHold) {
        EXPECT_EQ(size_t(outputGaps), silences.size()) << figures;
        EXPECT_LE(outputGapMs, silenceMs + 15.0 * double(silences.size())) << figures;
    }
    EXPECT_GE(outputGapMs, 0.75 * silenceMs) << figures;
    EXPECT_GE(lateCallbacks, silences.size());
    EXPECT_TRUE(check.ok) << check.problem << "; the output: " << figures;
    EXPECT_GE(check.skippedStretches, 1);
    EXPECT_GT(check.ComparedShare(), 0.7) << "two stalls of 300 ms and their margins";
    const int64_t stallHeard = heardOnset - onset + 3 * kRigRate;
    bool covered = false;
    for (const HeardStretch& s : stretches) covered = covered || (s.from <= stallHeard + kRigRate / 10 && s.to > stallHeard);
    EXPECT_TRUE(covered) << "a stretch where the stall was";
    const RecordingCheck unexcused =
        CheckRecording(heard, mix.samples, onset, int64_t(kComparedSeconds * kRigRate) - onset, heardOnset, {}, 0);
    EXPECT_FALSE(unexcused.ok) << "the stall shows in the recording";
}

// Two pairs of 300 ms stalls, each pair's second a quarter second after the
// first has passed: four silences in the recording (more if the machine
// starved the stream besides), as many underruns in the server's log at
// least, and one output gap counted per silence, however close to the one
// before.
TEST_F(PulsePlayback, EachOfTwoStallsAQuarterSecondApartIsAGapOfItsOwn) {
    PlayAndCompare({3 * kRigRate, 3 * kRigRate + kRigRate / 4, 6 * kRigRate, 6 * kRigRate + kRigRate / 4});
    EXPECT_GE(silences.size(), 4u) << figures;
    EXPECT_GE(server.Underruns(), int(silences.size())) << figures;
    if (kGapCountsHold) {
        EXPECT_EQ(size_t(outputGaps), silences.size()) << figures;
        EXPECT_LE(outputGapMs, silenceMs + 15.0 * double(silences.size())) << figures;
    }
    EXPECT_GE(outputGapMs, 0.75 * silenceMs) << figures;
    EXPECT_TRUE(check.ok) << check.problem << "; the output: " << figures;
}

// Before the transport plays, a stall of the output is a silence the device
// played while there was nothing to hear: the server logs it, the output
// counts it apart, and no output gap of playback is counted. Once playing,
// the same stall is one (and any other the machine caused is one the server
// logged too).
TEST_F(PulsePlayback, AStallBeforePlayIsNoGapOfPlayback) {
    // The monitor recorded, as in the other tests: the sink runs before the
    // stream opens, at the recording's latency.
    PulseRecording recording;
    ASSERT_TRUE(recording.Start(server, "tl_null.monitor", kRigRate, rig.dir.File("monitor.raw")));
    AudioEngine& e = *rig.engine;
    e.playing = 0;
    std::atomic<int> stallAt{40};  // callbacks; the callback thread's alone to clear
    AudioOutput output;
    output.api = CreateRtAudioBackend();
    output.nullOutput = std::make_unique<NullAudioOutput>();
    OpenAudioOutput(
        output,
        [&](float* l, float* r, int32_t n) {
            MixAudioBlock(e, l, r, n);
            if (int64_t(output.callbackCount.load()) == stallAt.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
        },
        &e.playing, kRigRate);
    ASSERT_TRUE(output.open.load()) << "RtAudio did not open the PulseAudio stream: " << output.errorText;
    // A gap counts once the stream's clock has settled after it, some
    // callbacks later: wait for the server's log and the count, not a time.
    auto waitFor = [&](auto done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return done();
    };
    EXPECT_TRUE(waitFor([&] { return output.stoppedOutputGaps.load() >= 1 && server.Underruns() >= 1; }))
        << OutputFigures(output);
    EXPECT_TRUE(waitFor([&] { return output.callbackCount.load() > 200; }));
    EXPECT_EQ(output.outputGaps.load(), 0u) << "a silence before play counted as a gap of playback";
    EXPECT_EQ(output.outputGapFrames.load(), 0u);
    const uint64_t stopped = output.stoppedOutputGaps.load();
    const int underrunsBeforePlay = server.Underruns();
    if (kGapCountsHold) {
        EXPECT_LE(stopped, uint64_t(underrunsBeforePlay)) << OutputFigures(output);
    }

    SeekPlayback(e, 0.0);
    e.playing = 1;
    stallAt = int(output.callbackCount.load()) + 40;
    EXPECT_TRUE(waitFor([&] { return output.outputGaps.load() >= 1; })) << OutputFigures(output);
    EXPECT_TRUE(waitFor([&] { return output.callbackCount.load() > uint64_t(stallAt.load()) + 100; }));
    e.playing = 0;
    CloseAudioOutput(output);
    recording.Stop();
    EXPECT_EQ(output.stoppedOutputGaps.load(), stopped) << "a silence while playing counted as one while stopped";
    if (kGapCountsHold) {
        EXPECT_LE(output.outputGaps.load(), uint64_t(server.Underruns() - underrunsBeforePlay))
            << OutputFigures(output);
    }
}

// The comparison on made-up recordings of a noise mix: what the server
// played where it logged an underrun (silence, or what it had rendered
// already) is left out, and the mix a little later after it passes; a
// skipped or repeated block, a gap the server did not log, or a span mostly
// left out does not.
TEST(PulseRecordingCheck, LeavesOutTheServersStretchesAndCatchesSkippedOrRepeatedBlocks) {
    const std::vector<float> mix = NoiseSamples(2 * 40000, 7, 0.3f);
    auto part = [&mix](int64_t from, int64_t to) {
        return std::vector<float>(mix.begin() + 2 * from, mix.begin() + 2 * to);
    };
    auto join = [](std::initializer_list<std::vector<float>> parts) {
        std::vector<float> all;
        for (const std::vector<float>& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const std::vector<float> silence(2 * 8000, 0.0f), lead(2 * 1000, 0.0f);
    const std::vector<HeardStretch> none;

    // Clean, behind the stream's latency (and found within a frame or two).
    RecordingCheck c = CheckRecording(join({lead, part(0, 40000)}), mix, 0, 30000, 1002, none, 0);
    EXPECT_TRUE(c.ok) << c.problem;
    EXPECT_EQ(c.comparedFrames, 30000);
    EXPECT_EQ(c.skippedStretches, 0);
    EXPECT_GT(c.largest, 0.2);

    // The server's gap at recording frames 21000..29000: silence, then the
    // mix 800 frames on. Left out where the server's stretch covers it; a
    // gap where it logged nothing (or logged elsewhere) fails.
    const std::vector<float> serverGap = join({lead, part(0, 20000), silence, part(20800, 40000)});
    c = CheckRecording(serverGap, mix, 0, 30000, 1000, {{20500, 29500}}, 0);
    EXPECT_TRUE(c.ok) << c.problem;
    EXPECT_EQ(c.skippedStretches, 1);
    EXPECT_LT(c.comparedFrames, 30000 - 800);
    EXPECT_GT(c.comparedFrames, 30000 - 800 - 2 * 500 - 1);
    c = CheckRecording(serverGap, mix, 0, 30000, 1000, none, 0);
    EXPECT_FALSE(c.ok) << "a gap the server did not log";
    c = CheckRecording(serverGap, mix, 0, 30000, 1000, {{2000, 4000}}, 0);
    EXPECT_FALSE(c.ok) << "an underrun logged elsewhere";

    // Within the stretch the server played the mix's blocks over again and
    // out of place: left out as well, and still a fault outside one.
    std::vector<float> rewound = join({lead, part(0, 20000), part(19500, 20000), part(20000, 40000)});
    c = CheckRecording(rewound, mix, 0, 30000, 1000, {{20800, 21800}}, 0);
    EXPECT_TRUE(c.ok) << c.problem;
    c = CheckRecording(rewound, mix, 0, 30000, 1000, none, 3);
    EXPECT_FALSE(c.ok);

    // The mixer's silent block: silence, then the mix from where it was,
    // faded in over 240 frames; a "fade" louder than the mix is no fade.
    std::vector<float> faded = join({lead, part(0, 20000), silence, part(20000, 40000)});
    const size_t resume = size_t(2 * (1000 + 20000 + 8000));
    for (size_t k = 0; k < 2 * 240; ++k) faded[resume + k] *= float(k / 2) / 240.0f;
    c = CheckRecording(faded, mix, 0, 30000, 1000, none, 1);
    EXPECT_TRUE(c.ok) << c.problem;
    EXPECT_EQ(c.jumps, 1);
    faded[resume + 100] = 0.9f;
    c = CheckRecording(faded, mix, 0, 30000, 1000, none, 1);
    EXPECT_FALSE(c.ok) << "louder than the mix while fading in";

    // Ours: a block skipped, a block repeated, one sample wrong; and after
    // the server's stretch the mix taken up earlier than where it left.
    for (const std::vector<float>& heard :
         {join({lead, part(0, 20000), part(20512, 40000)}), join({lead, part(0, 20512), part(20000, 40000)})}) {
        c = CheckRecording(heard, mix, 0, 30000, 1000, {{2000, 4000}}, 1);
        EXPECT_FALSE(c.ok);
    }
    std::vector<float> wrong = join({lead, part(0, 40000)});
    wrong[2 * 26000 + 1] += 0.01f;
    c = CheckRecording(wrong, mix, 0, 30000, 1000, {{2000, 4000}}, 3);
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.problem.find("differs"), std::string::npos) << c.problem;
    c = CheckRecording(join({lead, part(0, 20000), silence, part(15000, 40000)}), mix, 0, 30000, 1000, {{20500, 29500}},
                       0);
    EXPECT_FALSE(c.ok) << "the mix taken up again before where it left";

    // Most of the span in the server's stretches: too little compared to pass.
    c = CheckRecording(serverGap, mix, 0, 30000, 1000, {{1500, 19000}, {20500, 29500}}, 0);
    EXPECT_FALSE(c.ok);
    EXPECT_LT(c.ComparedShare(), 0.5);
    EXPECT_NE(c.problem.find("too little"), std::string::npos) << c.problem;
}

// Across an edit's stretch the recording may blend the mix before and after
// the edit: there it is not compared, but a silence longer than a block
// where the mix has sound (or no export covers it: NaN) must be one the
// program counted, and after the stretch the recording must hold the mix
// again where its own silences leave it, neither back (heard twice) nor on
// (skipped).
TEST(PulseRecordingCheck, AcrossAnEditsStretchCatchesUncountedSilenceAndMovesOfThePlayhead) {
    const std::vector<float> mix = NoiseSamples(2 * 40000, 7, 0.3f), other = NoiseSamples(2 * 40000, 11, 0.3f);
    auto part = [](const std::vector<float>& v, int64_t from, int64_t to) {
        return std::vector<float>(v.begin() + 2 * from, v.begin() + 2 * to);
    };
    auto join = [](std::initializer_list<std::vector<float>> parts) {
        std::vector<float> all;
        for (const std::vector<float>& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    auto zeros = [](int64_t n) { return std::vector<float>(size_t(2 * n), 0.0f); };
    const std::vector<float> lead = zeros(1000);
    const std::vector<HeardStretch> none;
    const std::vector<MixStretch> edit = {{15000, 18000}};
    auto across = [&](const std::vector<float>& heard, const std::vector<float>& against, int silentBlocks) {
        return CheckRecordingAcrossEdits(heard, against, 0, 30000, 1000, none, silentBlocks, edit, 512);
    };

    const std::vector<float> blended =
        join({lead, part(mix, 0, 15000), part(other, 15000, 18000), part(mix, 18000, 40000)});
    RecordingCheck c = across(blended, mix, 0);
    EXPECT_TRUE(c.ok) << c.problem;
    EXPECT_EQ(c.editFrames, 3000);
    EXPECT_EQ(c.comparedFrames, 27000);
    EXPECT_FALSE(CheckRecording(blended, mix, 0, 30000, 1000, none, 0).ok) << "the blend outside a named stretch";

    // Silent blocks in the stretch (the playhead waited for them): two,
    // counted, pass, the mix taken up 1024 frames later in the recording;
    // uncounted they fail; one block alone is no gap.
    auto gap = [&](int64_t frames) {
        return join({lead, part(mix, 0, 15000), part(other, 15000, 16000), zeros(frames), part(other, 16000, 18000),
                     part(mix, 18000, 40000)});
    };
    c = across(gap(1024), mix, 2);
    EXPECT_TRUE(c.ok) << c.problem;
    EXPECT_EQ(c.jumps, 2);
    c = across(gap(1024), mix, 1);
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.problem.find("silence"), std::string::npos) << c.problem;
    EXPECT_TRUE(across(gap(512), mix, 0).ok);

    // Silence where the mix is silent too is the mix's own; where no export
    // covers the mix (NaN), it counts as a gap.
    std::vector<float> hushed = mix, unknown = mix;
    std::fill(hushed.begin() + 2 * 16000, hushed.begin() + 2 * 17000, 0.0f);
    std::fill(unknown.begin() + 2 * 15000, unknown.begin() + 2 * 18000, std::numeric_limits<float>::quiet_NaN());
    const std::vector<float> quiet =
        join({lead, part(mix, 0, 15000), part(other, 15000, 16000), zeros(1000), part(other, 17000, 18000),
              part(mix, 18000, 40000)});
    c = across(quiet, hushed, 0);
    EXPECT_TRUE(c.ok) << c.problem;
    EXPECT_FALSE(across(quiet, unknown, 0).ok);

    // After the stretch the mix taken up 512 frames back, or 512 frames on.
    c = across(join({lead, part(mix, 0, 15000), part(other, 15000, 18000), part(mix, 17488, 40000)}), mix, 3);
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.problem.find("heard twice"), std::string::npos) << c.problem;
    c = across(join({lead, part(mix, 0, 15000), part(other, 15000, 18000), part(mix, 18512, 40000)}), mix, 3);
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.problem.find("skipped"), std::string::npos) << c.problem;
}
