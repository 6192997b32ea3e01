// What plays is what is exported: a project of random voices played from a
// point through the output without a sound card equals the mixdown of the
// same span, with and without the reverb; the AAF session places a layer on
// the sample where playback starts it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "export/aaf_export_rig.h"
#include "export/bwf_readback.h"
#include "export/export_rig.h"
#include "platform/fake_audio_backend.h"
#include "platform/null_audio_output.h"
#include "playback/engine_voices.h"
#include "playback/reverb.h"
#include "playback/audio_output.h"
#include "playback/transport.h"

namespace {

// The first `frames` frames the output's callback pulled from the engine.
struct Capture {
    std::vector<float> left, right;
    std::atomic<int64_t> frames{0};

    explicit Capture(int64_t wanted) {
        left.resize(size_t(wanted));
        right.resize(size_t(wanted));
    }
    void Add(const float* l, const float* r, int32_t n) {
        const int64_t at = frames.load(std::memory_order_relaxed);
        const int64_t take = std::min<int64_t>(n, int64_t(left.size()) - at);
        if (take <= 0) return;
        std::copy_n(l, take, left.begin() + at);
        std::copy_n(r, take, right.begin() + at);
        frames.store(at + take, std::memory_order_release);
    }
};

// Plays the engine from `from` seconds on the machine's no-device output
// (its pacing thread pulls the callback in real time) until `frames` frames
// were mixed.
void PlayThroughNullOutput(AudioEngine& engine, double from, Capture& capture) {
    AudioOutput output;
    output.api = std::make_unique<FakeAudioBackend>();  // lists no device: the null output runs
    output.nullOutput = std::make_unique<NullAudioOutput>();
    SeekPlayback(engine, from);
    engine.playing = 1;
    OpenAudioOutput(
        output,
        [&](float* l, float* r, int32_t n) {
            MixAudioBlock(engine, l, r, n);
            capture.Add(l, r, n);
        },
        &engine.playing, engine.sampleRate.load());
    ASSERT_TRUE(output.nullRunning.load());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (capture.frames.load(std::memory_order_acquire) < int64_t(capture.left.size()) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CloseAudioOutput(output);
    engine.playing = 0;
    ASSERT_EQ(capture.frames.load(), int64_t(capture.left.size()));
}

}  // namespace

TEST(PlaybackEqualsExport, PlayingFromAPointEqualsTheMixdownOfThatSpan) {
    for (bool reverb : {false, true}) {
        ExportRig rig;
        RandomVoices maker(reverb ? 31 : 30);
        maker.allowEvicted = false;
        for (int i = 0; i < 40; ++i) {
            float fadeIn = 0, fadeOut = 0;
            PlaybackVoice v = maker.Make(fadeIn, fadeOut);
            rig.Add(std::move(v), "layer", 0, fadeIn, fadeOut);
        }
        AudioEngine& e = *rig.engine;
        InitReverb(e.reverbState, kRigRate);  // as the program does at start-up
        e.reverb.enabled = reverb;
        e.reverb.size = 0.35f;
        e.reverb.decay = 0.6f;
        e.reverb.groupSends[1] = 0.5f;
        e.masterGain = 0.9f;
        e.groupGain[2] = 0.7f;

        // A span that starts between samples.
        const float from = 0.61237f, to = 1.85f;
        ExportJob job = rig.Job(true);
        job.rangeIn = from;
        job.rangeOut = to;
        ASSERT_EQ(rig.Pass(job, kWavMixdown), 1);
        const BwfReadBack file = ReadBwfFile(rig.OutFile("Mix.wav"));
        ASSERT_TRUE(file.ok);
        ASSERT_EQ(file.frames, int64_t(std::trunc(double(kRigRate) * (double(to) - double(from)))));

        Capture played(file.frames);
        PlayThroughNullOutput(e, double(from), played);

        // Playback fades in over its first 5 ms; from there on the two agree.
        const int ramp = kRigRate / 200;
        double largest = 0;
        for (int64_t i = 0; i < file.frames; ++i) {
            const float gain = i < ramp ? float(i + 1) / float(ramp) : 1.0f;
            const float l = file.samples[size_t(2 * i)], r = file.samples[size_t(2 * i + 1)];
            ASSERT_NEAR(played.left[size_t(i)], gain * l, 1e-6) << reverb << " " << i;
            ASSERT_NEAR(played.right[size_t(i)], gain * r, 1e-6) << reverb << " " << i;
            largest = std::max(largest, double(std::fabs(l)));
        }
        // Audible, and below the limiter, where both are linear.
        EXPECT_GT(largest, 0.05);
        EXPECT_LT(largest, 0.8);
    }
}

TEST(PlaybackEqualsExport, TheAafSessionStartsALayerWherePlaybackStartsIt) {
    // Layers whose starts (with a deconfliction shift) fall between samples;
    // each voice holds a click on its second sample (its first is silent:
    // the fade-in starts at 0).
    AafRig rig;
    const std::string source = rig.Source("tone.wav", 1.0);
    // The last lands one sample apart when the shift is added in double
    // precision rather than as the voice adds it.
    const float starts[] = {0.5000104f, 1.2345678f, 2.0f / 3.0f, 18.514349f};
    const float shifts[] = {0.0f, 0.0123457f, -0.1000001f, -0.138828069f};
    for (int k = 0; k < 4; ++k) {
        const int result = rig.AddSourced(source, 0.0f, 0.2f, starts[k], "click");
        RenderResult& r = rig.project->results[size_t(result)];
        r.deconOffset = shifts[k];
        // The voice starts where its builder puts it: the result's start plus its shift.
        PlaybackVoice& v = rig.VoiceOfResult(result);
        v.startTime = r.startTime + r.deconOffset;
        std::fill(v.left.begin(), v.left.end(), 0.0f);
        v.left[1] = 0.5f;
    }
    ReindexEngineVoices(*rig.engine);  // the voices moved: the mixer's index follows
    ExportJob job = rig.Job();
    job.handles = false;
    job.startSeconds = 0;
    ASSERT_TRUE(rig.Export(job));
    ASSERT_EQ(rig.session.list.positions.size(), 4u);

    AudioEngine& e = *rig.engine;
    std::vector<float> l, r;
    e.playing = 1;
    MixFrames(e, 19 * kRigRate, l, r);
    for (int64_t position : rig.session.list.positions) {
        ASSERT_GE(position, 1);
        EXPECT_NE(l[size_t(position + 1)], 0.0f) << position;
        EXPECT_EQ(l[size_t(position)], 0.0f) << position;
    }
}
