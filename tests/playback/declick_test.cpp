// Stop, seek and restart fade over 5 ms instead of cutting the output: the
// largest step between output samples stays that of the signal itself, the
// ramps have their stated length and shape, and the playhead stays where the
// transport stopped. Mute and solo switches ramp the same way.
#include <gtest/gtest.h>

#include "playback/mixer_rig.h"
#include "playback/reverb.h"
#include "playback/transport.h"

namespace {

constexpr int kRamp = kRigRate / 200;  // 5 ms at 48 kHz

void ConstantReferenceHook(float* left, float* right, int32_t frames, double, int32_t) {
    for (int i = 0; i < frames; ++i) {
        left[i] += 0.1f;
        right[i] += 0.1f;
    }
}

// A 440 Hz sine of 0.5 for 20 s from the project's start, centred.
std::unique_ptr<AudioEngine> SineEngine(bool reverb) {
    auto e = MakePlayingEngine();
    InitReverb(e->reverbState, kRigRate);
    e->reverb.enabled = reverb;
    PlaybackVoice v = ConstantVoice(0, 20, 0.0f);
    for (size_t i = 0; i < v.left.size(); ++i) v.left[i] = 0.5f * float(std::sin(2 * M_PI * 440 * double(i) / kRigRate));
    v.reverbSend = 0.8f;
    InstallPlaybackVoice(*e, std::move(v), 0.015f, 0.015f);
    return e;
}

// The output as a listener hears it: blocks of `block` frames appended.
struct Stream {
    AudioEngine& e;
    int block;
    std::vector<float> left;

    void Mix(int frames) {
        std::vector<float> l(static_cast<size_t>(block)), r(static_cast<size_t>(block));
        for (int done = 0; done < frames; done += block) {
            MixAudioBlock(e, l.data(), r.data(), block);
            left.insert(left.end(), l.begin(), l.end());
        }
    }
};

}  // namespace

TEST(Declick, StopSeekAndRestartNeverStepBeyondTheSignal) {
    for (bool reverb : {false, true}) {
        for (int block : {512, 64}) {
            auto e = SineEngine(reverb);
            SetReferenceAudioHook(*e, ConstantReferenceHook);
            Stream out{*e, block, {}};
            std::vector<size_t> events;  // where the stream changed course
            auto event = [&] { events.push_back(out.left.size()); };
            event();
            SeekPlayback(*e, 0.5);  // the transport's play: seek, then run
            out.Mix(kRigRate / 2);
            event();
            e->playing = 0;  // stop
            const int64_t stoppedAt = e->position.load();
            out.Mix(4096);
            EXPECT_EQ(e->position.load(), stoppedAt);
            event();
            e->playing = 1;  // restart where it stopped
            out.Mix(kRigRate / 4);
            event();
            SeekPlayback(*e, 7.3);  // seek while playing
            out.Mix(kRigRate / 4);
            event();
            SeekPlayback(*e, 2.0);  // the pause button: seek to the playhead's time, stop
            e->playing = 0;
            out.Mix(2048);
            event();
            SeekPlayback(*e, 4.1);  // play from elsewhere
            e->playing = 1;
            out.Mix(kRigRate / 4);
            SetReferenceAudioHook(*e, nullptr);

            // The signal's own largest step (sine and reverb, with the reference
            // audio) away from the changes, against the largest step at them.
            std::vector<uint8_t> near(out.left.size(), 0);
            for (size_t at : events)
                for (size_t i = at; i < std::min(out.left.size(), at + 2 * kRamp); ++i) near[i] = 1;
            float own = 0, atChanges = 0, peak = 0;
            for (size_t i = 1; i < out.left.size(); ++i) {
                const float step = std::fabs(out.left[i] - out.left[i - 1]);
                (near[i] ? atChanges : own) = std::max(near[i] ? atChanges : own, step);
                peak = std::max(peak, std::fabs(out.left[i]));
            }
            EXPECT_GT(own, 0.015f);
            // A linear 5 ms fade of the peak adds at most 2 x peak / 240 a sample.
            EXPECT_LE(atChanges, own + 2.0f * peak / kRamp + 1e-4f) << reverb << " " << block;
        }
    }
}

TEST(Declick, RampsLastFiveMillisecondsAndFollowTheSound) {
    // What the same engine plays with no ramp: already playing at `at`.
    auto plain = [](double at, int frames) {
        auto e = SineEngine(false);
        SeekPlayback(*e, at);
        e->declickGain = 1;
        e->declickNext = e->position.load();
        std::vector<float> l, r;
        MixFrames(*e, frames, l, r);
        return l;
    };
    auto e = SineEngine(false);
    std::vector<float> l, r;

    // Start: the sound rises linearly over 240 frames.
    SeekPlayback(*e, 1.0);
    MixFrames(*e, 1024, l, r);
    const std::vector<float> from1 = plain(1.0, 2048);
    for (int i = 0; i < 1024; ++i)
        ASSERT_NEAR(l[size_t(i)], std::min(1.0f, float(i + 1) / kRamp) * from1[size_t(i)], 1e-6) << i;

    // Stop: the sound runs on for 240 frames, falling to silence; the
    // playhead stays where it stopped.
    e->playing = 0;
    MixFrames(*e, 1024, l, r);
    EXPECT_EQ(e->position.load(), int64_t(kRigRate) + 1024);
    for (int i = 0; i < 1024; ++i)
        ASSERT_NEAR(l[size_t(i)], std::max(0.0f, 1.0f - float(i + 1) / kRamp) * from1[size_t(1024 + i)], 1e-6) << i;

    // Seek while playing: the old place fades out under the new one fading in.
    e->playing = 1;
    MixFrames(*e, 2048, l, r);  // back up to full level
    const int64_t before = e->position.load();
    SeekPlayback(*e, 5.0);
    MixFrames(*e, 512, l, r);
    const std::vector<float> at5 = plain(5.0, 512);
    for (int i = 0; i < 512; ++i) {
        const float up = std::min(1.0f, float(i + 1) / kRamp);
        const double t = double(before + i) / kRigRate;  // the sine where the old place runs on
        const float continued = 0.5f * CentreGain() * float(std::sin(2 * M_PI * 440 * t));
        ASSERT_NEAR(l[size_t(i)], up * at5[size_t(i)] + (1.0f - up) * continued, 2e-6) << i;
    }
}

// Each switch turned on and off again while the sine plays: the sine falls
// to silence over 240 frames, stays silent, and comes back over 240 frames,
// against the same engine never switched; ramps cross block edges.
TEST(Declick, MuteAndSoloSwitchesRampOverFiveMilliseconds) {
    struct Case {
        const char* name;
        void (*flip)(AudioEngine&, bool on);
    };
    const Case cases[] = {
        {"voice mute", [](AudioEngine& e, bool on) { e.voices[0].muted = on; }},
        {"another voice soloed", [](AudioEngine& e, bool on) { e.soloVoice = on ? 1 : -1; }},
        {"group mute", [](AudioEngine& e, bool on) { e.groupMute[0] = on; }},
        {"another group soloed", [](AudioEngine& e, bool on) { e.groupSolo[1] = on; }},
        {"master mute", [](AudioEngine& e, bool on) { e.masterMute = on; }},
    };
    for (const Case& c : cases) {
        for (int block : {512, 64}) {
            SCOPED_TRACE(std::string(c.name) + " in blocks of " + std::to_string(block));
            std::unique_ptr<AudioEngine> engines[2] = {SineEngine(false), SineEngine(false)};
            for (auto& e : engines) {
                InstallPlaybackVoice(*e, ConstantVoice(0, 20, 0.0f, 1), 0.015f, 0.015f);  // silent, group "FX A"
                SeekPlayback(*e, 1.0);
            }
            Stream out{*engines[0], block, {}}, plain{*engines[1], block, {}};
            auto mix = [&](int frames) {
                out.Mix(frames);
                plain.Mix(frames);
            };
            mix(kRigRate / 4);
            const size_t off = out.left.size();
            c.flip(*engines[0], true);
            mix(kRigRate / 10);
            const size_t on = out.left.size();
            c.flip(*engines[0], false);
            mix(kRigRate / 10);

            float loudest = 0;
            for (size_t i = 0; i < out.left.size(); ++i) {
                float level = 1;
                if (i >= on) level = std::min(1.0f, float(i - on + 1) / kRamp);
                else if (i >= off) level = std::max(0.0f, 1.0f - float(i - off + 1) / kRamp);
                ASSERT_NEAR(out.left[i], level * plain.left[i], 1e-6) << i;
                loudest = std::max(loudest, std::fabs(plain.left[i]));
            }
            EXPECT_GT(loudest, 0.3f);
        }
    }
}
