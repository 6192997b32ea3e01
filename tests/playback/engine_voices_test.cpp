// The voice set: reset, growth without losing voices, and the event-list swap
// that keeps voices' borrowed curves inside live memory.
#include <gtest/gtest.h>

#include <cmath>

#include "document/event.h"
#include "playback/mixer_rig.h"

TEST(EngineVoices, ResetClearsTheSetAndSetsTheLimiter) {
    auto e = std::make_unique<AudioEngine>();
    InstallPlaybackVoice(*e, ConstantVoice(0, 0.1, 0.1f), 0.04f, 0.05f);
    e->cacheReady = 1;
    e->stats.buildProgress = 3;
    e->limiterEnvelope = 0.6f;

    ResetEngineVoices(*e, 48000, 0);
    EXPECT_EQ(e->cacheReady.load(), 0);
    EXPECT_EQ(e->stats.voiceCount.load(), 0);
    EXPECT_EQ(e->stats.buildProgress.load(), 0);
    EXPECT_TRUE(e->voices.empty());
    EXPECT_TRUE(e->voiceFadeIn.empty());
    EXPECT_TRUE(e->voiceFadeOut.empty());
    EXPECT_GE(e->voices.capacity(), 256u);
    EXPECT_GE(e->voiceFadeIn.capacity(), 256u);
    EXPECT_EQ(e->sampleRate.load(), 48000);
    EXPECT_NEAR(e->limiterAttack, 1.0 - std::exp(-1.0 / 96.0), 1e-7);     // 2 ms
    EXPECT_NEAR(e->limiterRelease, 1.0 - std::exp(-1.0 / 9600.0), 1e-9);  // 200 ms
    EXPECT_EQ(e->limiterEnvelope, 0.0f);

    ResetEngineVoices(*e, 96000, 1000);
    EXPECT_GE(e->voices.capacity(), 1000u);
    EXPECT_NEAR(e->limiterAttack, 1.0 - std::exp(-1.0 / 192.0), 1e-7);
}

TEST(EngineVoices, InstallingPastTheReservedRoomKeepsEveryVoice) {
    auto e = std::make_unique<AudioEngine>();
    ResetEngineVoices(*e, 48000, 2);
    const size_t room = e->voices.capacity();
    for (size_t i = 0; i < room + 3; ++i)
        InstallPlaybackVoice(*e, ConstantVoice(double(i), 0.01, float(i) * 0.001f), 0.01f * float(i), 0.2f);
    ASSERT_EQ(e->voices.size(), room + 3);
    EXPECT_EQ(e->stats.voiceCount.load(), int32_t(room + 3));
    ASSERT_EQ(e->voiceFadeIn.size(), room + 3);
    ASSERT_EQ(e->voiceFadeOut.size(), room + 3);
    for (size_t i = 0; i < room + 3; ++i) {
        EXPECT_EQ(e->voices[i].startTime, float(i)) << i;
        ASSERT_EQ(e->voices[i].left.size(), 480u) << i;
        EXPECT_EQ(e->voices[i].left[17], float(i) * 0.001f) << i;
        EXPECT_FLOAT_EQ(e->voiceFadeIn[i], 0.01f * float(i)) << i;
    }
}

namespace {

// An engine playing one fill-like voice that reads events[1]'s intensity.
std::unique_ptr<AudioEngine> EngineWithCurveVoice(std::vector<Event>& events) {
    auto e = MakePlayingEngine();
    PlaybackVoice v = ConstantVoice(0, 1, 0.2f);
    v.eventIndex = 1;
    v.intensityCurve = events[1].intensity.data();
    v.intensityCount = 256;
    InstallPlaybackVoice(*e, std::move(v), 0.02f, 0.02f);
    return e;
}

void MixOneBlock(AudioEngine& e) {
    std::vector<float> l(512), r(512);
    MixAudioBlock(e, l.data(), r.data(), 512);
}

}  // namespace

TEST(EngineVoices, AppendingEventsRepointsCurvesWhenTheListMoves) {
    std::vector<Event> events(2);
    events.shrink_to_fit();
    FillCurve(events[1].intensity, 0.25f);
    auto e = EngineWithCurveVoice(events);

    const Event* before = events.data();
    std::vector<Event> added(3);
    EXPECT_EQ(AppendDocumentEvents(*e, events, added), 2);
    ASSERT_EQ(events.size(), 5u);
    ASSERT_NE(events.data(), before);  // the storage moved
    EXPECT_EQ(e->voices[0].intensityCurve, events[1].intensity.data());
    EXPECT_EQ(e->voices[0].intensityCount, 256);
    MixOneBlock(*e);  // reads the curve: a stale pointer is a use-after-free here

    // With room to spare nothing moves and nothing is relinked.
    events.reserve(64);
    e->voices[0].intensityCurve = events[1].intensity.data();
    const Event* kept = events.data();
    AppendDocumentEvents(*e, events, added);
    EXPECT_EQ(events.data(), kept);
    EXPECT_EQ(e->voices[0].intensityCurve, events[1].intensity.data());
    MixOneBlock(*e);
}

TEST(EngineVoices, ReplacingTheEventListClearsOrRepointsCurves) {
    std::vector<Event> events(3);
    auto e = EngineWithCurveVoice(events);
    PlaybackVoice plain = ConstantVoice(0, 1, 0.1f);
    plain.eventIndex = 2;  // no curve: stays without one
    InstallPlaybackVoice(*e, std::move(plain), 0.02f, 0.02f);

    std::vector<Event> next(events);
    ReplaceDocumentEvents(*e, events, next, VoiceCurveLink::Repoint);
    EXPECT_EQ(e->voices[0].intensityCurve, events[1].intensity.data());
    EXPECT_EQ(e->voices[1].intensityCurve, nullptr);
    EXPECT_EQ(next.size(), 3u);  // the caller holds the old list
    next.clear();
    next.shrink_to_fit();
    MixOneBlock(*e);

    // A shorter list loses the voice's event: its curve goes.
    std::vector<Event> shorter(1);
    ReplaceDocumentEvents(*e, events, shorter, VoiceCurveLink::Repoint);
    EXPECT_EQ(e->voices[0].intensityCurve, nullptr);

    // Loading or undo: every curve is dropped, whatever the indices.
    std::vector<Event> loaded(4);
    e->voices[0].intensityCurve = events[0].intensity.data();
    e->voices[0].intensityCount = 256;
    ReplaceDocumentEvents(*e, events, loaded, VoiceCurveLink::Clear);
    EXPECT_EQ(e->voices[0].intensityCurve, nullptr);
    loaded.clear();
    loaded.shrink_to_fit();
    MixOneBlock(*e);
}
