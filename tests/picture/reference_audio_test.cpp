// Reference audio: extraction through FFmpeg (stereo, mono, 5.1, none, the
// cap), its place against the picture (Opus's pre-skip, damaged stretches,
// the stamps of each frame), the mix at the reference time, the hook's start
// offset, and tracks retired on the interface thread while the audio thread
// mixes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "picture/reference_audio.h"
#include "picture/video_player.h"
#include "picture/video_decoder.h"
#include "picture/video_test_support.h"
#include "playback/block_mixer.h"
#include "playback/transport.h"
#include "support/audio_fixtures.h"
#include "support/clip_fixtures.h"
#include "support/temp_dir.h"

namespace {

struct ChannelStats {
    double rms = 0;
    double frequency = 0;  // from zero crossings
};

// Over frames [from, to) of one channel of the published-format track.
ChannelStats Measure(const VideoRefAudio& audio, int channel, int64_t from, int64_t to) {
    ChannelStats stats;
    double sum = 0;
    int crossings = 0;
    for (int64_t i = from; i < to; ++i) {
        const double x = audio.samples[size_t(2 * i + channel)] / 32768.0;
        sum += x * x;
        if (i > from) {
            const double prev = audio.samples[size_t(2 * (i - 1) + channel)];
            if ((prev < 0) != (x < 0)) ++crossings;
        }
    }
    stats.rms = std::sqrt(sum / double(to - from));
    stats.frequency = crossings / 2.0 / (double(to - from) / 48000.0);
    return stats;
}

double Db(double ratio) { return 20 * std::log10(ratio); }

class ReferenceAudioTest : public ::testing::Test {
protected:
    void SetUp() override { SetReferenceAudioGain(0); }
    void TearDown() override {
        CloseReferenceVideo(player);
        PublishReferenceAudio(nullptr);
        SetReferenceAudioGain(0);
        gVideoPlayer.startOffset = 0;
    }

    // A 2 s video whose sound is a 440 Hz tone of amplitude 0.5 at 44.1 kHz.
    std::string VideoWithTone(int channels, const std::string& name) {
        AudioSpec tone;
        tone.sampleRate = 44100;
        tone.channels = channels;
        tone.seconds = 2;
        tone.amplitude = 0.5;
        tone.format = SampleFormat::Pcm16;
        const std::string wav = dir.File(name + ".wav"), video = dir.File(name + ".mp4");
        EXPECT_TRUE(WriteTestAudio(wav, tone));
        TestVideoSpec spec;
        spec.seconds = 2;
        spec.audioPath = wav;
        EXPECT_TRUE(MakeTestVideo(video, spec));
        return video;
    }

    TempDir dir;
    VideoPlayer player;
};

// ---- Extraction -----------------------------------------------------------------

TEST_F(ReferenceAudioTest, AStereoAacTrackBecomes48kStereoWithItsToneAndLevel) {
    const std::string video = VideoWithTone(2, "stereo");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(LoadReferenceVideo(player, video));
    WaitForReferenceAudioExtraction(player);
    const std::string log = testing::internal::GetCapturedStdout();

    const std::shared_ptr<const VideoRefAudio> audio = gReferenceAudio.Load();
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->sampleRate, 48000);
    EXPECT_EQ(audio->frames * 2, int64_t(audio->samples.size()));
    EXPECT_NEAR(double(audio->frames), 96000.0, 960.0);
    for (int channel = 0; channel < 2; ++channel) {
        const ChannelStats stats = Measure(*audio, channel, 24000, 72000);
        EXPECT_NEAR(stats.frequency, 440.0, 1.0) << channel;
        EXPECT_NEAR(Db(stats.rms / (0.5 / std::sqrt(2.0))), 0.0, 0.5) << channel;
    }
    char line[512];
    std::snprintf(line, sizeof line, "[Video] reference audio: %.1fs stereo 48kHz (%s)\n",
                  double(audio->frames) / 48000.0, video.c_str());
    EXPECT_NE(log.find(line), std::string::npos) << log;
}

TEST_F(ReferenceAudioTest, MonoAndSurroundSourcesComeOutAsStereo) {
    for (int channels : {1, 6}) {
        const std::string video = VideoWithTone(channels, "ch" + std::to_string(channels));
        const std::shared_ptr<VideoRefAudio> audio = DecodeReferenceAudio(video);
        ASSERT_NE(audio, nullptr) << channels;
        EXPECT_NEAR(double(audio->frames), 96000.0, 960.0) << channels;
        const ChannelStats left = Measure(*audio, 0, 24000, 72000);
        const ChannelStats right = Measure(*audio, 1, 24000, 72000);
        EXPECT_NEAR(left.frequency, 440.0, 1.0) << channels;
        EXPECT_NEAR(right.frequency, 440.0, 1.0) << channels;
        EXPECT_GT(left.rms, 0.1) << channels;
        EXPECT_NEAR(Db(left.rms / right.rms), 0.0, 0.1) << channels;
    }
}

TEST_F(ReferenceAudioTest, AVideoWithoutSoundPublishesNothingAndSaysNothingOfIt) {
    // A track of an earlier video must not survive into this one.
    ASSERT_TRUE(LoadReferenceVideo(player, VideoWithTone(2, "earlier")));
    WaitForReferenceAudioExtraction(player);
    ASSERT_NE(gReferenceAudio.Load(), nullptr);

    TestVideoSpec spec;
    spec.seconds = 1;
    const std::string silent = dir.File("silent.mp4");
    ASSERT_TRUE(MakeTestVideo(silent, spec));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(LoadReferenceVideo(player, silent));
    WaitForReferenceAudioExtraction(player);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(gReferenceAudio.Load(), nullptr);
    EXPECT_EQ(log.find("reference audio"), std::string::npos) << log;
}

// A click at 1.0 s of the sound lies at 1.0 s of the picture's time in an
// MP4 and in an MPEG-TS file, whose audio stream starts before its picture.
TEST_F(ReferenceAudioTest, TheTrackSharesTimeZeroWithThePicture) {
    AudioSpec clicks;
    clicks.kind = SignalKind::Clicks;
    clicks.sampleRate = 44100;
    clicks.channels = 2;
    clicks.seconds = 2;
    clicks.clickInterval = 0.5;
    clicks.amplitude = 0.8;
    const std::string wav = dir.File("clicks.wav");
    ASSERT_TRUE(WriteTestAudio(wav, clicks));
    for (const char* name : {"clicks.mp4", "clicks.ts"}) {
        TestVideoSpec spec;
        spec.seconds = 2;
        spec.audioPath = wav;
        const std::string video = dir.File(name);
        ASSERT_TRUE(MakeTestVideo(video, spec));
        const std::shared_ptr<VideoRefAudio> audio = DecodeReferenceAudio(video);
        ASSERT_NE(audio, nullptr) << name;
        int64_t peak = 0;
        int best = -1;
        for (int64_t i = 43200; i < 52800; ++i) {
            const int value = std::abs(int(audio->samples[size_t(2 * i)]));
            if (value > best) best = value, peak = i;
        }
        EXPECT_NEAR(double(peak), 48000.0, 48.0) << name;
    }
}

TEST_F(ReferenceAudioTest, TheCapKeepsTheStartAndSaysSo) {
    const std::string video = VideoWithTone(2, "capped");
    const std::shared_ptr<VideoRefAudio> whole = DecodeReferenceAudio(video);
    ASSERT_NE(whole, nullptr);
    testing::internal::CaptureStdout();
    const std::shared_ptr<VideoRefAudio> capped = DecodeReferenceAudio(video, nullptr, 48000);
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_NE(capped, nullptr);
    EXPECT_EQ(capped->frames, 24000);
    EXPECT_EQ(capped->samples.size(), size_t(48000));
    EXPECT_TRUE(std::equal(capped->samples.begin(), capped->samples.end(), whole->samples.begin()));
    EXPECT_NE(log.find("[Video] reference audio capped at 60 min (" + video + ")\n"), std::string::npos)
        << log;

    // A raised cancel flag gives nothing.
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(DecodeReferenceAudio(video, &cancel), nullptr);
}

// ---- Placement against the picture ----------------------------------------------

// A 50 ms chirp from 500 to 4000 Hz at time T: its correlation has one sharp
// peak, so a beep is found to the sample whatever the codec does to its edges.
std::string Chirp(const std::string& t) {
    return "sin(2*PI*(500*" + t + "+35000*" + t + "*" + t + "))";
}

// Where the chirp starts in the left channel, within 50 ms of `around`.
int64_t FindChirp(const VideoRefAudio& audio, int64_t around) {
    static const std::vector<double> chirp = [] {
        std::vector<double> c(2400);
        for (size_t i = 0; i < c.size(); ++i) c[i] = std::sin(2 * M_PI * (500 * (i / 48000.0) + 35000 * std::pow(i / 48000.0, 2)));
        return c;
    }();
    int64_t best = -1;
    double bestScore = 0;
    for (int64_t lag = std::max<int64_t>(0, around - 2400); lag <= around + 2400 && lag + 2400 <= audio.frames; ++lag) {
        double score = 0;
        for (int i = 0; i < 2400; ++i) score += chirp[size_t(i)] * audio.samples[size_t(2 * (lag + i))];
        if (score > bestScore) bestScore = score, best = lag;
    }
    return best;
}

// The video time of the first picture brighter than mid-grey.
double FirstFlash(const std::string& path) {
    VideoDecoder d;
    double t = -1;
    if (!OpenVideoFFmpeg(d, path)) return t;
    std::vector<uint8_t> rgba(size_t(d.width) * size_t(d.height) * 4);
    while (ReceiveVideoFrameFFmpeg(d, &t) && ConvertVideoFrameFFmpeg(d, d.frame, d.width, d.height, rgba.data()) &&
           rgba[(rgba.size() / 8) * 4 + 1] < 128) {
    }
    CloseVideoFFmpeg(d);
    return t;
}

// Opus's pre-skip is counted once (Matroska's stream start already has it
// moved out, and the decoder drops those samples again): a three-frame flash
// at 2.000 s and its beep meet to the sample, in MP4 as well.
TEST_F(ReferenceAudioTest, OpusBeepsOnItsFlashToTheSampleInWebmMatroskaAndMp4) {
    for (const auto& [name, codec] : {std::pair{"flash.webm", "libvpx"}, {"flash.mkv", "libx264"}, {"flash.mp4", "libx264"}}) {
        const std::string video = dir.File(name);
        ASSERT_TRUE(RunTool({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                             "color=c=black:s=64x36:r=24:d=4,format=yuv420p,geq=lum='if(between(N,48,50),235,16)':cb=128:cr=128",
                             "-f", "lavfi", "-i", "aevalsrc='if(between(t,2,2.05)," + Chirp("(t-2)") + ",0)':s=48000:d=4",
                             "-c:v", codec, "-c:a", "libopus", "-shortest", video}));
        const double flash = FirstFlash(video);
        EXPECT_NEAR(flash, 2.0, 0.5 / 24) << name;
        const std::shared_ptr<VideoRefAudio> audio = DecodeReferenceAudio(video);
        ASSERT_NE(audio, nullptr) << name;
        EXPECT_NEAR(double(FindChirp(*audio, 96000)), flash * 48000, 1.0) << name;
    }
}

// Packets lost in the middle (2.5 s to about 4.6 s): the sound after them
// keeps its time and the gap is silent, for Opus at 48 kHz and for AAC at
// 44.1 kHz, whose resampler is drained at the gap.
TEST_F(ReferenceAudioTest, DamagedPacketsLeaveSilenceAndTheRestKeepsItsTime) {
    // Opus packets are 20 ms, AAC ones 1024 samples (commas escaped for the filter).
    for (const auto& [name, codec, rate, lost] : {std::tuple{"opus.mkv", "libopus", "48000", "between(n\\,125\\,229)"},
                                                  {"aac.mkv", "aac", "44100", "between(n\\,108\\,197)"}}) {
        const std::string video = dir.File(name);
        ASSERT_TRUE(RunTool({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                             "color=c=gray:s=64x36:r=25:d=8", "-f", "lavfi", "-i",
                             "aevalsrc='if(gte(t,1)*lt(mod(t,1),0.05)," + Chirp("mod(t,1)") + ",0)':s=" + rate + ":d=8",
                             "-c:v", "libx264", "-c:a", codec, "-bsf:a", std::string("noise=drop=") + lost, video}));
        const std::shared_ptr<VideoRefAudio> audio = DecodeReferenceAudio(video);
        ASSERT_NE(audio, nullptr) << name;
        for (int second : {1, 2, 5, 6, 7})
            EXPECT_NEAR(double(FindChirp(*audio, second * 48000)), second * 48000.0, 48.0) << name << " " << second;
        // Silence where the beeps of 3 s and 4 s were lost.
        const auto from = audio->samples.begin() + 2 * 120000, to = audio->samples.begin() + 2 * 216000;
        EXPECT_TRUE(std::all_of(from, to, [](int16_t v) { return v == 0; })) << name;
        EXPECT_NEAR(double(audio->frames), 8.0 * 48000, 2400.0) << name;
    }
}

// Frames follow on while their stamps do (rounded stamps jitter by a tick);
// a later stamp leaves a gap, an earlier one overlaps, a wild one is ignored.
TEST(ReferenceAudioPlacement, StampsBeyondTheJitterMoveTheTrack) {
    AudioStampPlacer placer;
    placer.jitterFrames = 96;
    placer.startSlackFrames = 360;  // a first stamp the pre-skip explains is time 0
    const double stamps[] = {-336, 960 - 336 + 48, std::nan(""), 50880 - 336, 51340 - 336, 3600.0 * 48000};
    const bool jumps[] = {true, false, false, true, true, false};
    const int64_t starts[] = {0, 960, 1920, 50880, 51340, 52300};
    for (int i = 0; i < 6; ++i) {
        const AudioFramePlacement at = PlaceAudioFrame(placer, stamps[i], 960);
        EXPECT_EQ(at.jump, jumps[i]) << i;
        EXPECT_EQ(at.start, starts[i]) << i;
    }
    // Audio starting a frame of picture early keeps that; a minute late is not believed.
    AudioStampPlacer early, late;
    EXPECT_EQ(PlaceAudioFrame(early, -2000, 1024).start, -2000);
    EXPECT_EQ(PlaceAudioFrame(late, 61.0 * 48000, 1024).start, 0);
}

// ---- Mixing -----------------------------------------------------------------------

// A track whose left channel counts up by one per frame and whose right
// channel counts down by two.
std::shared_ptr<VideoRefAudio> Ramp(int64_t frames) {
    auto audio = std::make_shared<VideoRefAudio>();
    audio->frames = frames;
    for (int64_t i = 0; i < frames; ++i) {
        audio->samples.push_back(int16_t(i));
        audio->samples.push_back(int16_t(-2 * i));
    }
    return audio;
}

TEST_F(ReferenceAudioTest, MixInterpolatesAtTheReferenceTimeAndGain) {
    PublishReferenceAudio(Ramp(1000));
    std::vector<float> left(16, 0.0f), right(16, 0.0f);

    // Nothing at a gain of 0.0001 or below; something just above it.
    SetReferenceAudioGain(0.0001f);
    MixReferenceAudio(left.data(), right.data(), 16, 0.01, 48000);
    EXPECT_EQ(left, std::vector<float>(16, 0.0f));
    SetReferenceAudioGain(0.00011f);
    MixReferenceAudio(left.data(), right.data(), 16, 0.01, 48000);
    EXPECT_GT(left[0], 0.0f);

    // At the source rate: one sample per frame, added to what is there.
    SetReferenceAudioGain(0.5f);
    std::fill(left.begin(), left.end(), 1.0f);
    std::fill(right.begin(), right.end(), 0.0f);
    MixReferenceAudio(left.data(), right.data(), 16, 0.01, 48000);
    for (int j = 0; j < 16; ++j) {
        EXPECT_FLOAT_EQ(left[size_t(j)], 1.0f + (480 + j) * 0.5f / 32768.0f) << j;
        EXPECT_FLOAT_EQ(right[size_t(j)], -2.0f * (480 + j) * 0.5f / 32768.0f) << j;
    }

    // A 96 kHz engine steps half a sample per frame.
    std::fill(left.begin(), left.end(), 0.0f);
    MixReferenceAudio(left.data(), right.data(), 16, 0.01, 96000);
    for (int j = 0; j < 16; ++j) EXPECT_FLOAT_EQ(left[size_t(j)], (480 + 0.5f * j) * 0.5f / 32768.0f);

    // Before the start and at the very end nothing is added.
    std::fill(left.begin(), left.end(), 0.0f);
    MixReferenceAudio(left.data(), right.data(), 4, -2.5 / 48000.0, 48000);
    EXPECT_EQ(left[0], 0.0f);  // position -2.5
    EXPECT_EQ(left[1], 0.0f);  // position -1.5
    EXPECT_FLOAT_EQ(left[3], 0.5f * 0.5f / 32768.0f);  // position 0.5
    PublishReferenceAudio(Ramp(752));
    std::fill(left.begin(), left.end(), 0.0f);
    MixReferenceAudio(left.data(), right.data(), 4, 749.0 / 64.0 / 750.0, 48000);  // position 749
    EXPECT_FLOAT_EQ(left[0], 749 * 0.5f / 32768.0f);
    EXPECT_FLOAT_EQ(left[1], 750 * 0.5f / 32768.0f);
    EXPECT_EQ(left[2], 0.0f);  // the last frame has no successor
    EXPECT_EQ(left[3], 0.0f);

    // The hook places video time 0 at the video's start offset.
    std::vector<float> viaHook(16, 0.0f), direct(16, 0.0f), scratch(16, 0.0f);
    gVideoPlayer.startOffset = 1.25f;
    ReferenceAudioMixHook(viaHook.data(), scratch.data(), 16, 1.25 + 0.005, 48000);
    MixReferenceAudio(direct.data(), scratch.data(), 16, 0.005, 48000);
    EXPECT_EQ(viaHook, direct);

    // No engine rate, no track: nothing.
    std::fill(left.begin(), left.end(), 0.0f);
    MixReferenceAudio(left.data(), right.data(), 16, 0.01, 0);
    PublishReferenceAudio(nullptr);
    MixReferenceAudio(left.data(), right.data(), 16, 0.01, 48000);
    EXPECT_EQ(left, std::vector<float>(16, 0.0f));
}

// Installed in the block mixer, the hook plays the track while the voices are
// rebuilt, placed by the playhead and the video's start offset; like the
// voices, it fades in over the first 5 ms of playback.
TEST_F(ReferenceAudioTest, TheBlockMixerPlaysTheTrackThroughTheHook) {
    auto engine = std::make_unique<AudioEngine>();
    engine->sampleRate.store(48000);
    engine->playing.store(1);
    engine->cacheReady.store(0);
    SeekPlayback(*engine, 2.0);
    PublishReferenceAudio(Ramp(12400));
    SetReferenceAudioGain(1.0f);
    gVideoPlayer.startOffset = 1.75f;  // playhead 2.0 s is video time 0.25 s, frame 12000
    SetReferenceAudioHook(*engine, &ReferenceAudioMixHook);
    std::vector<float> fadeIn(256), fadeInRight(256), left(64), right(64);
    MixAudioBlock(*engine, fadeIn.data(), fadeInRight.data(), 256);
    MixAudioBlock(*engine, left.data(), right.data(), 64);
    SetReferenceAudioHook(*engine, nullptr);
    // The fade starts from silence and never overshoots the track.
    EXPECT_LT(std::fabs(fadeIn[0]), 0.01f);
    for (int j = 0; j < 256; ++j) EXPECT_LE(fadeIn[size_t(j)], (12000 + j) / 32768.0f + 1e-6f) << j;
    for (int j = 0; j < 64; ++j) {
        EXPECT_FLOAT_EQ(left[size_t(j)], (12256 + j) / 32768.0f) << j;
        EXPECT_FLOAT_EQ(right[size_t(j)], -2.0f * (12256 + j) / 32768.0f) << j;
    }
    EXPECT_DOUBLE_EQ(GetPlaybackTime(*engine), 2.0 + 320 / 48000.0);
}

// The audio thread mixes without pause while the interface thread loads,
// seeks, plays and closes: no track may be freed by the mix.
TEST_F(ReferenceAudioTest, MixingWhileTheInterfaceLoadsAndClosesFreesNothingOnTheAudioThread) {
    const std::string video = VideoWithTone(2, "busy");
    SetReferenceAudioGain(1.0f);
    const int64_t freedBefore = gReferenceAudioFreedWhileMixing.load();
    std::vector<std::weak_ptr<const VideoRefAudio>> tracks;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> blocks{0};
    std::thread audioThread([&] {
        std::vector<float> left(256), right(256);
        double time = 0;
        while (!stop.load()) {
            ReferenceAudioMixHook(left.data(), right.data(), 256, time, 48000);
            time = time > 2 ? 0 : time + 256 / 48000.0;
            blocks.fetch_add(1);
        }
    });
    for (int round = 0; round < 6; ++round) {
        ASSERT_TRUE(LoadReferenceVideo(gVideoPlayer, video));
        if (round % 2 == 0) {
            WaitForReferenceAudioExtraction(gVideoPlayer);
            tracks.push_back(gReferenceAudio.Load());
            EXPECT_FALSE(tracks.back().expired());
        }
        gVideoPlayer.startOffset = 0.1f * float(round);
        SeekReferenceVideo(gVideoPlayer, 1.2f);
        UpdateReferenceVideo(gVideoPlayer);
        PlayReferenceVideo(gVideoPlayer);
        for (int frame = 0; frame < 5; ++frame) {
            UpdateReferenceVideo(gVideoPlayer);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        SeekReferenceVideo(gVideoPlayer, 0.3f);
        PauseReferenceVideo(gVideoPlayer);
        UpdateReferenceVideo(gVideoPlayer);
        CloseReferenceVideo(gVideoPlayer);
    }
    stop.store(true);
    audioThread.join();
    EXPECT_GT(blocks.load(), 0);
    EXPECT_EQ(gReferenceAudioFreedWhileMixing.load(), freedBefore);
    EXPECT_EQ(gReferenceAudio.Load(), nullptr);
    for (const auto& track : tracks) EXPECT_TRUE(track.expired()) << "every track was freed";
}

}  // namespace
