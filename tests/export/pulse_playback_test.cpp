// The output a user's sound card gets: the engine plays through RtAudio into
// a private PulseAudio server's null sink, and a recording of the sink's
// monitor equals the offline mix of the same span, sample for sample, with
// no gap and no repeated block.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "export/bwf_readback.h"
#include "export/export_rig.h"
#include "platform/null_audio_output.h"
#include "platform/rtaudio_backend.h"
#include "playback/audio_output.h"
#include "playback/reverb.h"
#include "support/pulse_server.h"

// The PulseAudio client library keeps small allocations until the process
// ends (its device probing); they are not ours, and LeakSanitizer cannot see
// past the library's frames to tell them apart from a leak of our own.
extern "C" const char* __lsan_default_suppressions() { return "leak:libpulse.so\nleak:librtaudio.so\n"; }

namespace {

constexpr double kContentSeconds = 11.0;
constexpr double kComparedSeconds = 10.0;
constexpr float kAudible = 1e-3f;

int64_t FirstAudible(const std::vector<float>& interleaved) {
    for (size_t i = 0; i < interleaved.size(); ++i)
        if (std::fabs(interleaved[i]) > kAudible) return int64_t(i / 2);
    return -1;
}

// The offset of the recording against the mix near `guess`: the one with the
// smallest largest difference over 4096 frames from `from`.
int64_t Align(const std::vector<float>& recording, const std::vector<float>& mix, int64_t from, int64_t guess,
              int64_t reach) {
    int64_t best = guess;
    double bestError = 1e9;
    for (int64_t d = guess - reach; d <= guess + reach; ++d) {
        double error = 0;
        for (int64_t i = from; i < from + 4096 && error < bestError; ++i) {
            const int64_t r = d + i;
            if (r < 0 || 2 * r + 1 >= int64_t(recording.size()) || 2 * i + 1 >= int64_t(mix.size())) {
                error = 1e9;
                break;
            }
            error = std::max(error, double(std::fabs(recording[size_t(2 * r)] - mix[size_t(2 * i)])));
        }
        if (error < bestError) {
            bestError = error;
            best = d;
        }
    }
    return best;
}

}  // namespace

TEST(PulsePlayback, TheSinkRecordingEqualsTheOfflineMix) {
    if (!PulseInstalled())
        GTEST_SKIP() << "PulseAudio is not installed (scripts/setup installs pulseaudio and pulseaudio-utils)";
    PulseServer server;
    std::string why;
    ASSERT_TRUE(server.Start("tl_null", kRigRate, why))
        << "PulseAudio is installed but a private server would not start: " << why;
    server.UseInThisProcess();

    // Random layers over 11 s with the reverb on; the first sound at 0.5 s.
    ExportRig rig;
    rig.project->totalDuration = float(kContentSeconds);
    RandomVoices maker(41);
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
    const BwfReadBack mix = ReadBwfFile(rig.OutFile("Mix.wav"));
    ASSERT_TRUE(mix.ok);
    const int64_t onset = FirstAudible(mix.samples);
    ASSERT_GT(onset, 0);

    // Record the monitor, then play the project from its start into the sink.
    PulseRecording recording;
    ASSERT_TRUE(recording.Start(server, "tl_null.monitor", kRigRate, rig.dir.File("monitor.raw")));
    // The monitor gives silence while nothing plays: once some has come,
    // nothing the stream plays can be missed.
    const auto recordingDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (recording.Frames() < kRigRate / 10 && std::chrono::steady_clock::now() < recordingDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(recording.Frames(), kRigRate / 10) << "parec records nothing from the sink's monitor";
    AudioOutput output;
    output.api = CreateRtAudioBackend();
    output.nullOutput = std::make_unique<NullAudioOutput>();
    SeekPlayback(e, 0.0);
    e.playing = 1;
    OpenAudioOutput(
        output, [&e](float* l, float* r, int32_t n) { MixAudioBlock(e, l, r, n); }, &e.playing, kRigRate);
    ASSERT_TRUE(output.open.load()) << "RtAudio did not open the PulseAudio stream: " << output.errorText;
    EXPECT_EQ(output.deviceRate.load(), kRigRate);

    // Until the sink has played the compared span (the stream runs ahead of
    // the sink by its buffer, whatever that is).
    const int64_t compared = int64_t(kComparedSeconds * kRigRate);
    std::vector<float> heard;
    int64_t start = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        heard = recording.Samples();
        const int64_t first = FirstAudible(heard);
        if (first >= 0) start = first - onset;
        if (first >= 0 && (start < 0 || int64_t(heard.size() / 2) >= start + compared + kRigRate / 10)) break;
    }
    CloseAudioOutput(output);
    e.playing = 0;
    recording.Stop();
    heard = recording.Samples();
    ASSERT_GE(start, 0) << "the sink's monitor heard nothing, or missed the stream's start";
    ASSERT_GE(int64_t(heard.size() / 2), start + compared) << "the sink played less than 10 s";

    // The stream's latency aligned, every frame of the 10 s agrees. Where
    // they part, either the output reported an underrun, or the server played
    // silence while our stream was late (a loaded machine: the sink does not
    // wait, and the client is not told): then the recording resumes later
    // with nothing of the mix skipped or repeated. The rest is aligned again.
    int64_t offset = Align(heard, mix.samples, onset, start, 64);
    int realigned = 0;
    double largest = 0;
    for (int64_t i = 0; i < compared; ++i) {
        const int64_t r = offset + i;
        float diff = 1;
        if (r >= 0 && 2 * r + 1 < int64_t(heard.size()))
            diff = std::max(std::fabs(heard[size_t(2 * r)] - mix.samples[size_t(2 * i)]),
                            std::fabs(heard[size_t(2 * r + 1)] - mix.samples[size_t(2 * i + 1)]));
        if (diff > 1e-4f) {
            ASSERT_LT(realigned, 50) << "the recording keeps parting from the offline mix";
            const int64_t next = Align(heard, mix.samples, i, offset, kRigRate);
            bool silentGap = next > offset;
            for (int64_t g = offset + i; silentGap && g < next + i; ++g)
                if (2 * g + 1 < int64_t(heard.size()) &&
                    (heard[size_t(2 * g)] != 0.0f || heard[size_t(2 * g + 1)] != 0.0f))
                    silentGap = false;
            if (!silentGap) {
                ASSERT_GT(output.underruns.load(), uint64_t(realigned))
                    << "the recording parts from the offline mix at frame " << i << " (" << double(i) / kRigRate
                    << " s) by " << diff << " and the output reported no underrun: a gap or a repeated block";
            }
            ++realigned;
            offset = next;
            --i;
            continue;
        }
        largest = std::max(largest, double(std::fabs(mix.samples[size_t(2 * i)])));
    }
    EXPECT_GT(largest, 0.05);
}
