// BuildPlaybackVoice: placement, pan and gain laws, event settings, missing
// sources, bounded silence, headroom, loudness normalisation, scale tuning
// and pitch, on small files written for each test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "document/event.h"
#include "document/project.h"
#include "persistence/collect_audio.h"
#include "persistence/event_json.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"
#include "playback/mixer_rig.h"
#include "playback/voice_settings.h"
#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;

RenderResult Placeholder(float duration) {
    RenderResult r;
    r.placeholder = true;
    r.duration = duration;
    return r;
}

// One voice built from `result` on a fresh engine; the engine is returned
// with the voice installed.
std::unique_ptr<AudioEngine> Build(RenderResult& result, bool normalize = false, int scaleType = 0,
                                   bool keepAsIs = false, const std::vector<Event>* events = nullptr,
                                   const float* eventGains = nullptr, int rate = kRate) {
    auto e = std::make_unique<AudioEngine>();
    ResetEngineVoices(*e, rate, 0);
    e->normalizeLoudness = normalize ? 1 : 0;
    const int count = events ? int(events->size()) : 0;
    BuildPlaybackVoice(*e, result, 7, rate, eventGains, count, events ? events->data() : nullptr,
                       scaleType, 0, keepAsIs);
    return e;
}

std::string WriteFile(const TempDir& dir, const std::string& name, AudioSpec spec) {
    spec.format = SampleFormat::Float32;
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteTestAudio(path, spec));
    return path;
}

RenderResult PlainResult(const std::string& path, float seconds) {
    RenderResult r;
    r.filepath = path;
    r.sourceDuration = seconds;
    r.duration = seconds;
    return r;
}

float PeakOf(const PlaybackVoice& v) {
    float p = 0;
    for (float x : v.left) p = std::max(p, std::fabs(x));
    return p;
}

}  // namespace

TEST(VoiceBuild, PlacementPanGainAndEventSettings) {
    struct PanCase {
        int track;
        float weight;
        float pan;
    };
    for (const PanCase& c : {PanCase{0, 0.5f, -0.3f}, PanCase{4, 1.0f, 0.5f}, PanCase{7, 0.9f, 0.16f},
                             PanCase{-1, 0.5f, -0.45f}, PanCase{12, 0.0f, -0.2f}, PanCase{0, -1.0f, -0.8f},
                             PanCase{4, 2.0f, 0.8f}}) {
        RenderResult r = Placeholder(0.5f);
        r.track = c.track;
        r.weight = c.weight;
        auto e = Build(r);
        ASSERT_EQ(e->voices.size(), 1u);
        EXPECT_NEAR(e->voices[0].pan, c.pan, 1e-6) << c.track << " " << c.weight;
    }
    struct GainCase {
        float weight;
        float gain;
    };
    for (const GainCase& c : {GainCase{0.5f, 1.0f}, GainCase{0.7f, 1.0f}, GainCase{0.775f, 0.85f},
                              GainCase{0.85f, 0.7f}, GainCase{1.0f, 0.7f}}) {
        RenderResult r = Placeholder(0.5f);
        r.weight = c.weight;
        r.layerGain = 0.5f;
        r.userVolume = 2.0f;
        auto e = Build(r);
        EXPECT_NEAR(e->voices[0].gain.load(), c.gain, 1e-6) << c.weight;
    }

    std::vector<Event> events(3);
    events[2].reverbSend = 0.6f;
    events[2].muted = true;
    const float eventGains[3] = {1.0f, 1.0f, 0.4f};
    RenderResult r = Placeholder(0.5f);
    r.startTime = 3.0f;
    r.deconOffset = 0.25f;
    r.eventIdx = 2;
    r.group = 1;
    r.fadeIn = 0.02f;
    r.fadeOut = 0.3f;
    auto e = Build(r, false, 0, false, &events, eventGains);
    const PlaybackVoice& v = e->voices[0];
    EXPECT_EQ(v.startTime, 3.25f);
    EXPECT_EQ(v.plainStartTime, 3.0f);
    EXPECT_EQ(v.group, 1);
    EXPECT_EQ(v.eventIndex, 2);
    EXPECT_EQ(v.resultIndex, 7);
    EXPECT_EQ(v.resultId, uint32_t(r.id));
    EXPECT_EQ(v.eventGain.load(), 0.4f);
    EXPECT_EQ(v.reverbSend, 0.6f);
    EXPECT_EQ(v.muted.load(), 1);
    EXPECT_EQ(v.sampleCount, 24000);
    EXPECT_EQ(v.length, 0.5f);
    EXPECT_EQ(e->voiceFadeIn, std::vector<float>{0.02f});
    EXPECT_EQ(e->voiceFadeOut, std::vector<float>{0.3f});
    EXPECT_EQ(e->stats.voiceCount.load(), 1);

    // An event index past the list leaves the event settings alone.
    r.eventIdx = 5;
    e = Build(r, false, 0, false, &events, eventGains);
    EXPECT_EQ(e->voices[0].eventGain.load(), 1.0f);
    EXPECT_EQ(e->voices[0].muted.load(), 0);

    // No file and not a placeholder: no voice at all.
    RenderResult none;
    none.duration = 1;
    e = Build(none);
    EXPECT_TRUE(e->voices.empty());
}

TEST(VoiceBuild, MissingSourceGivesASilentVoiceAndIsReported) {
    TempDir dir;
    for (bool keepAsIs : {false, true}) {
        RenderResult r = PlainResult(dir.File("boom.wav"), 0.75f);
        auto e = Build(r, true, 1, keepAsIs);
        ASSERT_EQ(e->voices.size(), 1u);
        const PlaybackVoice& v = e->voices[0];
        EXPECT_EQ(v.sampleCount, 36000);
        EXPECT_EQ(PeakOf(v), 0.0f);
        EXPECT_TRUE(r.missing);
        // Missing, not a layer that matched no sound: it sounds again once
        // its file is back.
        EXPECT_FALSE(r.placeholder);
        EXPECT_EQ(r.normGain, 1.0f);
    }
    // An id the registry cannot find marks the source missing before loading.
    RenderResult r = PlainResult(dir.File("elsewhere.wav"), 0.1f);
    r.fileId = "00ff00ff00ff00ff";
    auto e = Build(r);
    EXPECT_TRUE(r.missing);
}

TEST(VoiceBuild, AbsurdDurationsGiveBoundedSilentVoices) {
    for (float d : {NAN, -5.0f, INFINITY, 1e9f}) {
        RenderResult r = Placeholder(d);
        auto e = Build(r, true, 0, false, nullptr, nullptr, 8000);
        ASSERT_EQ(e->voices.size(), 1u);
        const PlaybackVoice& v = e->voices[0];
        EXPECT_GE(v.sampleCount, 1) << d;
        EXPECT_LE(v.sampleCount, 600 * 8000) << d;
        EXPECT_TRUE(std::isfinite(v.length)) << d;
        EXPECT_NEAR(v.length, v.sampleCount / 8000.0, 1e-6) << d;
    }
}

TEST(VoiceBuild, HeadroomScalesLoudSourcesToHalfPeak) {
    TempDir dir;
    AudioSpec clicks;
    clicks.kind = SignalKind::Clicks;
    clicks.amplitude = 0.8;
    clicks.seconds = 0.5;
    clicks.clickInterval = 0.1;
    RenderResult r = PlainResult(WriteFile(dir, "clicks.wav", clicks), 0.5f);
    r.layerGain = 0.9f;
    auto e = Build(r);
    ASSERT_EQ(e->voices.size(), 1u);
    EXPECT_NEAR(PeakOf(e->voices[0]), 0.8f, 1e-6);
    EXPECT_NEAR(e->voices[0].gain.load(), 0.9f * 0.625f, 1e-6);
    EXPECT_EQ(e->voices[0].normGain, 1.0f);  // normalisation off
    EXPECT_FALSE(r.placeholder);
    EXPECT_FALSE(r.missing);
}

TEST(VoiceBuild, LoudnessNormalisationMeetsTheTargetWithinItsLimits) {
    TempDir dir;
    AudioSpec sine;
    sine.frequency = 1000;
    sine.seconds = 2.0;

    // A 1 kHz sine of peak 0.1 reads -23.0 LUFS; "FX B" wants -25.
    sine.amplitude = 0.1;
    RenderResult r = PlainResult(WriteFile(dir, "tone.wav", sine), 2.0f);
    r.group = 2;
    auto e = Build(r, true);
    const float expect = std::pow(10.0f, (-25.0f + 23.01f) / 20.0f);
    EXPECT_NEAR(e->voices[0].normGain, expect, 0.01f);
    EXPECT_EQ(r.normGain, e->voices[0].normGain);

    // Far below "FX A"'s -16: raised by 18 dB and no more.
    sine.amplitude = 0.001;
    r = PlainResult(WriteFile(dir, "quiet.wav", sine), 2.0f);
    r.group = 1;
    e = Build(r, true);
    EXPECT_NEAR(e->voices[0].normGain, std::pow(10.0f, 18.0f / 20.0f), 1e-3);

    // Sparse loud clicks: quiet overall, but the peak may not pass 0.891.
    AudioSpec clicks;
    clicks.kind = SignalKind::Clicks;
    clicks.amplitude = 0.9;
    clicks.seconds = 2.0;
    clicks.clickInterval = 0.25;
    r = PlainResult(WriteFile(dir, "clicks.wav", clicks), 2.0f);
    r.group = 1;
    e = Build(r, true);
    EXPECT_NEAR(e->voices[0].normGain, 0.891f / 0.9f, 1e-5);

    // Silence cannot be measured: 1.0, also in the result.
    AudioSpec silence;
    silence.kind = SignalKind::Silence;
    r = PlainResult(WriteFile(dir, "silence.wav", silence), 1.0f);
    r.normGain = 0.3f;
    e = Build(r, true);
    EXPECT_EQ(e->voices[0].normGain, 1.0f);
    EXPECT_EQ(r.normGain, 1.0f);
}

TEST(VoiceBuild, PitchShiftAndScaleTuning) {
    TempDir dir;
    AudioSpec sine;
    sine.frequency = 450;  // 39 cents above A4
    sine.seconds = 0.5;
    const std::string path = WriteFile(dir, "a450.wav", sine);

    RenderResult r = PlainResult(path, 0.5f);
    r.pitchShift = 12.0f;
    auto e = Build(r);
    EXPECT_EQ(e->voices[0].sampleCount, 12000);
    EXPECT_FLOAT_EQ(e->voices[0].length, 0.25f);

    r = PlainResult(path, 0.5f);
    r.pitchShift = 0.005f;
    e = Build(r);
    EXPECT_EQ(e->voices[0].sampleCount, 24000);
    EXPECT_FLOAT_EQ(e->voices[0].length, 0.5f);

    // C major pulls the note down to A: about -0.39 semitones, and the voice
    // is that much longer.
    r = PlainResult(path, 0.5f);
    e = Build(r, false, 1);
    EXPECT_EQ(r.detectedMidiNote, 69);
    EXPECT_NEAR(r.scaleCorrection, -0.39f, 0.03f);
    EXPECT_EQ(r.pitchShift, r.scaleCorrection);
    EXPECT_NEAR(e->voices[0].sampleCount, 24000 * std::exp2(0.39 / 12), 30);

    // Chromatic: no correction, the random variation alone.
    r = PlainResult(path, 0.5f);
    r.pitchVarShift = 0.7f;
    e = Build(r, false, 10);
    EXPECT_EQ(r.scaleCorrection, 0.0f);
    EXPECT_EQ(r.pitchShift, 0.7f);

    // Kept as is: never retuned.
    r = PlainResult(path, 0.5f);
    e = Build(r, false, 1, true);
    EXPECT_EQ(r.pitchShift, 0.0f);
    EXPECT_EQ(e->voices[0].sampleCount, 24000);
}

TEST(VoiceBuild, CurvesAndTheFillIntensityLink) {
    std::vector<Event> events(2);
    events[1].duration = 4.0f;
    events[1].intensityScale = 0.8f;
    events[1].shape = kShapeBed;
    RenderResult r = Placeholder(2.0f);
    r.eventIdx = 1;
    r.procMode = 1;
    r.hasIntGain = true;
    r.intGain.fill(0.5f);
    r.hasFillGain = true;
    r.fillGain.fill(0.25f);
    r.hasDeconGain = true;
    r.deconGain.fill(0.75f);
    auto e = Build(r, false, 0, false, &events);
    const PlaybackVoice& v = e->voices[0];
    EXPECT_TRUE(v.hasIntGain && v.hasFillGain && v.hasDeconGain);
    EXPECT_EQ(v.intGain[100], 0.5f);
    EXPECT_EQ(v.fillGain[100], 0.25f);
    EXPECT_EQ(v.deconGain[10], 0.75f);
    EXPECT_EQ(v.fillGainSpan, 4.0f);  // the event's duration
    EXPECT_EQ(v.intensityCurve, events[1].intensity.data());
    EXPECT_EQ(v.intensityCount, 256);
    EXPECT_EQ(v.intensityScale, 0.8f);
    EXPECT_EQ(v.intensityIsBed, 1);

    // Plain layers do not borrow the event's curve; without an event the
    // fill curve spans the result.
    r.procMode = 0;
    r.eventIdx = 9;
    e = Build(r, false, 0, false, &events);
    EXPECT_EQ(e->voices[0].intensityCurve, nullptr);
    EXPECT_EQ(e->voices[0].fillGainSpan, 2.0f);
}

TEST(VoiceBuild, AFillLayerSoundsTheSameWhenBuiltAgain) {
    TempDir dir;
    AudioSpec noise;
    noise.kind = SignalKind::Noise;
    noise.seconds = 2.0;
    noise.amplitude = 0.2;
    RenderResult r = PlainResult(WriteFile(dir, "air.wav", noise), 6.0f);
    r.procMode = 1;
    r.groupTrack = 3;
    auto first = Build(r, true);
    ASSERT_EQ(first->voices.size(), 1u);
    ASSERT_FALSE(r.missing);
    EXPECT_FALSE(r.placeholder);
    EXPECT_EQ(first->voices[0].sampleCount, 6 * kRate);

    // The second build goes through whatever the first stored in the result.
    auto second = Build(r, true);
    const PlaybackVoice& a = first->voices[0];
    const PlaybackVoice& b = second->voices[0];
    ASSERT_EQ(a.sampleCount, b.sampleCount);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.normGain, b.normGain);
}

// A layer whose sound goes away keeps the levels its sound was measured
// with: its silent voice has the gain, loudness gain and peak of the voice
// built with the sound, so the level passes weigh it as before. The measures
// are saved with the layer: read back (a reopen with the file gone) they
// give the same. A layer saved before they were kept keeps its loudness gain.
TEST(VoiceBuild, ALayerWhoseSoundIsAwayKeepsTheLevelsItWasMeasuredWith) {
    TempDir dir;
    AudioSpec clicks;
    clicks.kind = SignalKind::Clicks;
    clicks.amplitude = 0.8;
    clicks.seconds = 1.5;
    clicks.clickInterval = 0.05;
    const std::string path = WriteFile(dir, "knock.wav", clicks);
    RenderResult r = PlainResult(path, 1.5f);
    r.group = 1;
    r.layerGain = 0.9f;
    auto with = Build(r, true);
    const PlaybackVoice& heard = with->voices[0];
    ASSERT_NEAR(VoicePeak(heard), 0.8f, 1e-5);
    EXPECT_EQ(r.measuredPeak, VoicePeak(heard));
    EXPECT_GT(r.measuredLufs, -60.0f);

    JsonWriter w;
    JsonBeginObject(w);
    WriteResultJson(w, r, CollectedAudioMap{});
    JsonEndObject(w);
    RenderResult saved;
    ReadResultJson(saved, ParseJsonText(w.out.c_str()), dir.path());
    EXPECT_EQ(saved.measuredPeak, r.measuredPeak);
    EXPECT_EQ(saved.measuredLufs, r.measuredLufs);

    std::remove(path.c_str());
    ClearProcessedClipCache();  // no region decoded before stands in for the file
    for (RenderResult* away : {&r, &saved}) {
        auto without = Build(*away, true);
        const PlaybackVoice& silent = without->voices[0];
        EXPECT_TRUE(away->missing);
        EXPECT_FALSE(away->placeholder);
        EXPECT_EQ(PeakOf(silent), 0.0f);
        EXPECT_EQ(VoicePeak(silent), VoicePeak(heard));
        EXPECT_EQ(silent.gain.load(), heard.gain.load());
        EXPECT_EQ(silent.normGain, heard.normGain);
        EXPECT_EQ(away->normGain, heard.normGain);
        EXPECT_EQ(away->measuredPeak, VoicePeak(heard)) << "the measures stay while the sound is away";
    }

    RenderResult older = saved;
    older.measuredPeak = 0;
    older.measuredLufs = kLoudnessNotMeasured;
    older.normGain = 0.42f;
    auto old = Build(older, true);
    EXPECT_EQ(old->voices[0].normGain, 0.42f);
    EXPECT_EQ(older.normGain, 0.42f);
}
