// Voice maintenance: per-event levels and the headroom sweep, the streaming
// window, deleting events, per-event replacement, the integrity check and
// the voice pin.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_streaming.h"
#include "playback/engine_voices.h"
#include "playback/mixer_rig.h"
#include "playback/transport.h"
#include "playback/voice_settings.h"
#include "render/processed_clip_cache.h"
#include "support/audio_fixtures.h"
#include "support/document_records.h"
#include "support/temp_dir.h"
#include "support/voice_streaming_rig.h"
#include "support/wait_until.h"

namespace {

// A silent voice of an event with a given gain, overview peak and placement.
PlaybackVoice LevelVoice(int eventIndex, float gain, float start = 0, float length = 1, float peak = 0.5f,
                         bool muted = false) {
    PlaybackVoice v = ConstantVoice(start, 0.01, 0.0f);
    v.length = length;
    v.eventIndex = eventIndex;
    v.gain = gain;
    v.muted = muted ? 1 : 0;
    v.peakOverview.fill(0);
    v.peakOverview[3] = peak;
    return v;
}

std::unique_ptr<AudioEngine> EngineWith(std::vector<PlaybackVoice> voices) {
    auto e = std::make_unique<AudioEngine>();
    ResetEngineVoices(*e, kRigRate, 0);
    for (PlaybackVoice& v : voices) InstallPlaybackVoice(*e, std::move(v), 0.01f, 0.01f);
    return e;
}

float GainOf(const AudioEngine& e, size_t v) { return e.voices[v].gain.load(); }

// The headroom sum as its definition reads: every grid point, every span.
double BruteGridSum(const std::vector<HeadroomSpan>& spans, double step = 0.02) {
    if (spans.empty()) return 0;
    double t0 = spans[0].start, t1 = spans[0].end;
    for (const HeadroomSpan& s : spans) {
        t0 = std::min(t0, s.start);
        t1 = std::max(t1, s.end);
    }
    double loudest = 0;
    for (int64_t k = 0; t0 + double(k) * step < t1; ++k) {
        const double t = t0 + double(k) * step;
        double sum = 0;
        for (const HeadroomSpan& s : spans)
            if (s.start <= t && t < s.end) sum += s.level;
        loudest = std::max(loudest, sum);
    }
    return loudest;
}

struct DocRig : DocumentRecords {

    // `events` events with `layers` placeholder layers each, every voice built.
    // The last event's layers are fills, whose voices follow its live curve.
    void Build(int events, int layers) {
        for (int e = 0; e < events; ++e) {
            AddEvent(*project, 1.0f + e, kShapeSpot, 0.5f);
            for (int l = 0; l < layers; ++l) {
                RenderResult r;
                r.placeholder = true;
                r.eventIdx = e;
                r.startTime = 1.0f + e;
                r.duration = 0.5f;
                r.group = l % 3;
                r.groupTrack = l;
                r.procMode = e == events - 1 ? 1 : 0;
                project->results.push_back(r);
            }
        }
        ResetEngineVoices(*engine, kRigRate, 0);
        for (size_t i = 0; i < project->results.size(); ++i)
            BuildPlaybackVoice(*engine, project->results[i], int(i), kRigRate, nullptr,
                               int(project->events.size()), project->events.data(), 0, 0, false);
    }
};

}  // namespace

TEST(VoiceLevels, EventLayersNeverSumAboveUnitPower) {
    // Two unmuted layers at 1 each end at 1/sqrt(2); one layer at 1.5 ends at 1;
    // a muted layer is not counted but is scaled with its event's others.
    auto e = EngineWith({LevelVoice(0, 1), LevelVoice(0, 1), LevelVoice(1, 1.5f), LevelVoice(2, 1.2f),
                         LevelVoice(2, 0.9f, 0, 1, 0.5f, true), LevelVoice(3, 0.6f), LevelVoice(3, 0.6f),
                         LevelVoice(-1, 3.0f)});
    const uint32_t generation = e->stats.levelsGeneration.load();
    UpdateVoiceLevels(*e, false);
    EXPECT_NEAR(GainOf(*e, 0), 1 / std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(GainOf(*e, 1), 1 / std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(GainOf(*e, 2), 1.0, 1e-6);
    EXPECT_NEAR(GainOf(*e, 3), 1.0, 1e-6);  // 1.2 / 1.2: the muted layer does not count
    EXPECT_NEAR(GainOf(*e, 4), 0.75, 1e-6);  // ... but it is scaled by the same 1 / 1.2
    EXPECT_FLOAT_EQ(GainOf(*e, 5), 0.6f);   // 0.72 <= 1: untouched
    EXPECT_FLOAT_EQ(GainOf(*e, 7), 3.0f);   // no event: never levelled
    EXPECT_EQ(e->stats.levelsGeneration.load(), generation + 1);
    EXPECT_EQ(e->cacheReady.load(), 1);
}

TEST(VoiceLevels, FullLevellingKeepsTheLoudestMomentUnderTheMasterLimit) {
    // Two layers of different events overlap from 1 s to 2 s: 0.7 each
    // (gain 1 x peak 0.7), so the loudest moment sums to 1.4 at master 1.
    auto make = [] {
        return EngineWith({LevelVoice(0, 1, 0, 2, 0.7f), LevelVoice(1, 1, 1, 2, 0.7f), LevelVoice(2, 1, 5, 1, 0.2f)});
    };
    auto e = make();
    UpdateVoiceLevels(*e, true);
    for (size_t v = 0; v < 3; ++v) EXPECT_NEAR(GainOf(*e, v), 0.5, 1e-6) << v;  // limit 0.7 / 1.4

    // At master 0.05 the limit is 0.7 / 0.1 = 7: nothing to do for 1.4 ...
    e = make();
    e->masterGain = 0.05f;
    UpdateVoiceLevels(*e, true);
    for (size_t v = 0; v < 3; ++v) EXPECT_FLOAT_EQ(GainOf(*e, v), 1.0f) << v;
    // ... but a moment of 14 is brought down to 7.
    e = EngineWith({LevelVoice(0, 1, 0, 2, 7.0f), LevelVoice(1, 1, 1, 2, 7.0f)});
    e->masterGain = 0.05f;
    UpdateVoiceLevels(*e, true);
    EXPECT_NEAR(GainOf(*e, 0), 0.5, 1e-6);

    // Group fader, event gain and loudness gain weigh in; a muted voice does not.
    e = EngineWith({LevelVoice(0, 1, 0, 2, 0.7f), LevelVoice(1, 1, 1, 2, 0.7f), LevelVoice(2, 1, 1, 2, 5.0f, true)});
    e->voices[1].group = 2;
    e->groupGain[2] = 0.5f;
    e->voices[0].normGain = 2.0f;
    e->voices[0].eventGain = 0.5f;
    UpdateVoiceLevels(*e, true);  // 0.7 + 0.35 = 1.05
    EXPECT_NEAR(GainOf(*e, 0), 0.7 / 1.05, 1e-6);
    EXPECT_NEAR(GainOf(*e, 2), 0.7 / 1.05, 1e-6);

    // With nothing unmuted there is no moment to measure: only step 1 runs.
    e = EngineWith({LevelVoice(0, 1, 0, 2, 9.0f, true), LevelVoice(1, 1, 0, 2, 9.0f, true)});
    UpdateVoiceLevels(*e, true);
    EXPECT_FLOAT_EQ(GainOf(*e, 0), 1.0f);
    EXPECT_EQ(e->cacheReady.load(), 1);
}

TEST(VoiceLevels, SortedSweepGivesTheGridWalksLoudestSum) {
    EXPECT_EQ(LoudestGridSum({}), 0.0);
    // A span between two grid points is never heard; one touching a grid
    // point only at its end is not either.
    EXPECT_EQ(LoudestGridSum({{0, 1, 0.1}, {0.501, 0.509, 5}, {0.5, 0.52, 0.3}}), BruteGridSum({{0, 1, 0.1}, {0.501, 0.509, 5}, {0.5, 0.52, 0.3}}));
    EXPECT_NEAR(LoudestGridSum({{0, 1, 0.1}, {0.501, 0.509, 5}, {0.5, 0.52, 0.3}}), 0.4, 1e-12);
    EXPECT_NEAR(LoudestGridSum({{0, 0.5, 1}, {0.5, 1, 1}}), 1.0, 1e-12);  // end excluded
    // Spans that are not numbers are left out.
    EXPECT_NEAR(LoudestGridSum({{0, 1, 0.25}, {NAN, 1, 9}, {0, INFINITY, 9}}), 0.25, 1e-12);

    std::mt19937 rng(11);
    for (int round = 0; round < 12; ++round) {
        std::uniform_real_distribution<double> start(-5, 60), length(0, 3), level(0, 1);
        std::vector<HeadroomSpan> spans(size_t(20 + round * 15));
        for (HeadroomSpan& s : spans) {
            s.start = start(rng);
            s.end = s.start + (round % 3 == 0 ? std::floor(length(rng) * 10) / 10 : length(rng));  // some empty
            s.level = level(rng);
        }
        EXPECT_NEAR(LoudestGridSum(spans), BruteGridSum(spans), 1e-9) << "round " << round;
    }
}

// A few voices changed and levelled alone give the bits a whole pass over
// every voice gives: gains, level scales and the cut, over rounds of longer
// and shorter spans, mutes, gains and event gains, loud enough that the cut
// moves; a change the memo cannot take (the earliest start moves) is
// declined, and the whole pass after it is built on again.
TEST(VoiceLevels, AFewChangedVoicesGiveTheBitsOfAWholePass) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0, 1);
    std::vector<PlaybackVoice> voices;
    std::vector<double> inputs;
    for (int v = 0; v < 300; ++v) {
        const int event = v % 7 == 0 ? -1 : int(rng() % 40);
        voices.push_back(LevelVoice(event, 1, 0.5f + 29 * unit(rng), 0.013f + 3.7f * unit(rng), 0.05f + unit(rng),
                                    v % 11 == 0));
        voices.back().group = int32_t(rng() % 3);
        voices.back().normGain = 0.5f + unit(rng);
        inputs.push_back(0.2 + 1.3 * unit(rng));
    }
    voices.push_back(LevelVoice(3, 1, 0.25f, 2));  // the earliest start
    inputs.push_back(0.8);
    const std::vector<double> scales(voices.size(), 1.0);
    auto changing = EngineWith(voices), whole = EngineWith(voices);
    changing->groupGain[1] = whole->groupGain[1] = 0.6f;
    LevelVoiceGains(*changing, inputs, scales, true);
    float lastCut = 1.0f;
    int cutMoved = 0;
    for (int round = 0; round < 60; ++round) {
        std::vector<VoiceLevelInput> changed;
        const bool moveEarliest = round == 40;
        for (int k = 0; k < (moveEarliest ? 1 : 1 + round % 4); ++k) {
            const size_t v = moveEarliest ? voices.size() - 1 : size_t(rng()) % (voices.size() - 1);
            const float length = 0.007f + 4.1f * unit(rng), eventGain = 0.25f + 2 * unit(rng);
            for (AudioEngine* e : {changing.get(), whole.get()}) {
                PlaybackVoice& voice = e->voices[v];
                if (round % 4 == 0) voice.length = length;
                if (round % 4 == 1) voice.muted = voice.muted.load() ? 0 : 1;
                if (round % 4 == 2) voice.eventGain = eventGain;
                if (moveEarliest) voice.startTime = 12.5f;
            }
            if (round % 4 == 3) inputs[v] = 0.1 + 2.9 * unit(rng);
            changed.push_back({v, inputs[v], 1.0});
        }
        const bool took = LevelChangedVoices(*changing, changed);
        EXPECT_EQ(took, !moveEarliest) << "round " << round << ": only a move of the earliest start is declined";
        if (!took) LevelVoiceGains(*changing, inputs, scales, true);
        LevelVoiceGains(*whole, inputs, scales, true);
        ASSERT_EQ(changing->stats.headroomCut.load(), whole->stats.headroomCut.load()) << "round " << round;
        for (size_t v = 0; v < voices.size(); ++v) {
            ASSERT_EQ(GainOf(*changing, v), GainOf(*whole, v)) << "round " << round << ", voice " << v;
            ASSERT_EQ(changing->voices[v].levelScale, whole->voices[v].levelScale) << "round " << round;
        }
        std::set<int32_t> events;
        int64_t reach = 0;
        for (const VoiceLevelInput& c : changed) {
            if (voices[c.voice].eventIndex < 0) ++reach;
            else events.insert(voices[c.voice].eventIndex);
        }
        for (const PlaybackVoice& v : voices) reach += events.count(v.eventIndex) ? 1 : 0;
        if (took) {
            EXPECT_EQ(changing->levelMemo.levelled, reach) << "the changed voices and their events' others alone";
        }
        cutMoved += whole->stats.headroomCut.load() != lastCut ? 1 : 0;
        lastCut = whole->stats.headroomCut.load();
    }
    EXPECT_LT(lastCut, 1.0f) << "loud enough for a cut";
    EXPECT_GT(cutMoved, 10);
}

TEST(VoiceWindow, FarVoicesReleaseSamplesAndComeBackWhenThePlayheadNears) {
    TempDir dir;
    const std::string path = dir.File("tone.wav");
    AudioSpec spec;
    spec.seconds = 1.0;
    spec.channels = 2;
    spec.sampleRate = 44100;  // resampled on the way in
    ASSERT_TRUE(WriteTestAudio(path, spec));

    std::vector<RenderResult> results(2);
    for (RenderResult& r : results) {
        r.filepath = path;
        r.stereo = true;
        r.sourceDuration = r.duration = 1.0f;
    }
    results[1].startTime = 45.0f;
    results[1].hasEqGains = true;
    results[1].eqGains = {1.5f, 1.0f, 0.5f, 1.0f, 1.0f};
    results[1].pitchShift = 3.0f;
    auto e = std::make_unique<AudioEngine>();
    ResetEngineVoices(*e, 48000, 0);
    for (size_t i = 0; i < results.size(); ++i)
        BuildPlaybackVoice(*e, results[i], int(i), 48000, nullptr, 0, nullptr, 0, 0, false);
    ASSERT_EQ(e->voices.size(), 2u);
    const std::vector<float> left = e->voices[1].left, right = e->voices[1].right;
    const float length = e->voices[1].length;
    ASSERT_GT(left.size(), 1000u);

    // A render pass since has reset the layer's stored shift to its pitch
    // variation: the voice still comes back as it was built.
    results[1].pitchShift = 0;

    // Not ready yet, or pinned by an export (which reads the samples of the
    // voices that hold some in place): nothing is released.
    VoiceStreamer streamer(1);
    PrepareVoicesAtPlayhead(streamer, *e, results, 2);
    EXPECT_EQ(e->voices[1].evicted, 0);
    e->cacheReady = 1;
    {
        EngineVoicePin pin(*e);
        PrepareVoicesAtPlayhead(streamer, *e, results, 2);
        EXPECT_EQ(e->voices[1].evicted, 0);
    }

    // Playhead at 0: the voice at 45 s lies outside the 30 s window and is
    // released at once, by the owner's step itself.
    PrepareVoicesAtPlayhead(streamer, *e, results, 2);
    EXPECT_EQ(e->voices[0].evicted, 0);
    EXPECT_EQ(e->voices[1].evicted, 1);
    EXPECT_TRUE(e->voices[1].left.empty());
    EXPECT_TRUE(e->voices[1].right.empty());
    EXPECT_EQ(e->voices[1].left.capacity(), 0u);  // the memory is gone, not just the samples
    EXPECT_FLOAT_EQ(e->voices[1].length, length);
    EXPECT_TRUE(VoiceHoldsTwoChannels(e->voices[1]));

    // At 14 s it is still 31 s away; at 16 s it is within 30 s again and gets
    // the same samples back (band gains and pitch shift included), from the
    // workers.
    SeekPlayback(*e, 14.0);
    ASSERT_TRUE(SettleVoiceStreaming(streamer, *e, results));
    EXPECT_EQ(e->voices[1].evicted, 1);
    SeekPlayback(*e, 16.0);
    ASSERT_TRUE(SettleVoiceStreaming(streamer, *e, results));
    EXPECT_EQ(e->voices[1].evicted, 0);
    EXPECT_EQ(e->voices[1].left, left);
    EXPECT_EQ(e->voices[1].right, right);
    EXPECT_FLOAT_EQ(e->voices[1].length, length);
    EXPECT_EQ(e->voices[0].evicted, 0);  // 0 .. 1 s is 15 s away
    SeekPlayback(*e, 40.0);
    PrepareVoicesAtPlayhead(streamer, *e, results, 2);
    EXPECT_EQ(e->voices[0].evicted, 1);

    // A result index beyond the count it is given is not prepared; the
    // bounce prepares a voice itself.
    SeekPlayback(*e, 0.0);
    for (int step = 0; step < 20; ++step) PrepareVoicesAtPlayhead(streamer, *e, results, 0);
    EXPECT_TRUE(VoiceStreamerIdle(streamer));
    EXPECT_EQ(e->voices[0].evicted, 1);
    EXPECT_TRUE(PrepareVoice(*e, 1, results[1], 48000));
    EXPECT_EQ(e->voices[1].left, left);
    EXPECT_EQ(e->voices[1].right, right);
}

namespace {

// `count` layers of four seconds of noise at 100 s, 101 s, ..., their voices
// built and then released by a streaming step at 0 s; `built` holds each
// voice's samples as built.
bool MakeReleasedVoices(TempDir& dir, size_t count, std::vector<RenderResult>& results, AudioEngine& e,
                        VoiceStreamer& streamer, std::vector<std::vector<float>>& built) {
    results.assign(count, RenderResult());
    for (size_t i = 0; i < count; ++i) {
        AudioSpec spec;
        spec.kind = SignalKind::Noise;
        spec.seconds = 4.0;
        spec.channels = 2;
        spec.sampleRate = 44100;
        spec.seed = unsigned(i + 1);
        const std::string path = dir.File("n" + std::to_string(i) + ".wav");
        if (!WriteTestAudio(path, spec)) return false;
        results[i].filepath = path;
        results[i].stereo = true;
        results[i].startTime = 100.0f + float(i);
        results[i].sourceDuration = results[i].duration = 4.0f;
    }
    ResetEngineVoices(e, 48000, 0);
    for (size_t i = 0; i < count; ++i)
        BuildPlaybackVoice(e, results[i], int(i), 48000, nullptr, 0, nullptr, 0, 0, false);
    built.clear();
    for (const PlaybackVoice& v : e.voices) built.push_back(v.left);
    e.cacheReady = 1;
    PrepareVoicesAtPlayhead(streamer, e, results, int(count));  // playhead at 0: all released
    for (const PlaybackVoice& v : e.voices)
        if (!v.evicted) return false;
    ClearProcessedClipCache();  // the workers decode again
    return true;
}

// Waits until the workers hold `count` decodes for the owner to install.
bool WaitForDecodes(VoiceStreamer& streamer, size_t count) {
    return WaitUntil(
        [&] {
            std::lock_guard<std::mutex> held(streamer.mutex);
            return streamer.decoded.size() == count;
        },
        std::chrono::seconds(60));
}

}  // namespace

// The workers decode without the engine lock (the audio thread may hold it
// for a whole block); only the owner's install takes it, and a decode made
// for a voice that has changed since it was asked for is dropped: another
// sound, or the same sound at another pitch (a change of scale retunes a
// voice without changing what it is made from).
TEST(VoiceWindow, WorkersDecodeWithoutTheEngineLockAndStaleDecodesAreDropped) {
    TempDir dir;
    std::vector<RenderResult> results;
    auto e = std::make_unique<AudioEngine>();
    VoiceStreamer streamer(3);  // room for all six decodes before any install
    ASSERT_GE(StreamBatchLimit(streamer), 6);
    std::vector<std::vector<float>> built;
    ASSERT_TRUE(MakeReleasedVoices(dir, 6, results, *e, streamer, built));

    SeekPlayback(*e, 101.0);
    {
        // Held here as the audio thread might hold it: every decode still
        // happens, and nothing is installed meanwhile.
        std::lock_guard<EngineMutex> lock(e->mutex);
        // The owner's step finds nothing to release or install, so it asks
        // without the engine lock.
        PrepareVoicesAtPlayhead(streamer, *e, results, 6);
        ASSERT_TRUE(WaitForDecodes(streamer, 6)) << "the workers waited for the engine lock";
        for (const PlaybackVoice& v : e->voices) EXPECT_EQ(v.evicted, 1);
    }
    // Voice 2's result changed meanwhile (a new render rebuilt it): its
    // decode is of something else and must not go in.
    results[2].sourceOffset = 0.5f;
    // Voice 4 was retuned: a new voice of the same key, two semitones up.
    {
        std::lock_guard<EngineMutex> lock(e->mutex);
        e->voices[2].sampleKey = VoiceSampleKey(results[2]);
        e->voices[4].pitchShift = 2.0f;
    }
    ASSERT_TRUE(SettleVoiceStreaming(streamer, *e, results));
    for (size_t i = 0; i < e->voices.size(); ++i) {
        EXPECT_EQ(e->voices[i].evicted, 0) << "voice " << i;
        if (i != 2 && i != 4) {
            EXPECT_EQ(e->voices[i].left, built[i]) << "voice " << i;
        }
    }
    // Voice 2 came back from its result as it now is, voice 4 at its pitch.
    PlaybackVoice now, retuned;
    DecodeVoiceSamples(results[2], 0, 48000, true, now);
    DecodeVoiceSamples(results[4], 2.0f, 48000, true, retuned);
    EXPECT_NE(e->voices[2].left, built[2]);
    EXPECT_EQ(e->voices[2].left, now.left);
    EXPECT_NE(e->voices[4].left.size(), built[4].size()) << "the decode made at its old pitch went in";
    EXPECT_EQ(e->voices[4].left, retuned.left);
}

// A job of the busy task owns the voices: the interface's step leaves them
// alone until the job is done and its thread joined (then, while the bar
// lingers, it keeps the window again). Meanwhile the job keeps the window
// itself through a long step: the voices the playhead reaches get their
// samples while the step runs, on a thread of its own.
TEST(VoiceWindow, ABusyJobKeepsTheWindowThroughItsLongStepsAndHandsItBackWhenDone) {
    TempDir dir;
    auto project = std::make_unique<Project>();
    auto library = std::make_unique<SoundLibrary>();
    auto e = std::make_unique<AudioEngine>();
    auto app = std::make_unique<AppState>();
    app->voiceStreamer = std::make_unique<VoiceStreamer>(2);
    std::vector<std::vector<float>> built;
    ASSERT_TRUE(MakeReleasedVoices(dir, 3, project->results, *e, *app->voiceStreamer, built));
    e->streamVoices = 1;
    e->streamWindow = 5.0f;
    const DocumentContext ctx = MakeDocumentContext(*project, *library, *e, *app);
    auto loaded = [&] {
        for (const PlaybackVoice& v : e->voices)
            if (v.evicted) return false;
        return true;
    };

    app->busyTask.busy = true;
    SeekPlayback(*e, 101.0);
    for (int frame = 0; frame < 20; ++frame) {
        PrepareVoicesAtPlayhead(ctx);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(VoiceStreamerIdle(*app)) << "the interface asked for voices the job owns";
    for (const PlaybackVoice& v : e->voices) EXPECT_EQ(v.evicted, 1);

    const std::thread::id job = std::this_thread::get_id();
    std::thread::id worker;
    bool reached = false;
    WorkKeepingStreamWindow(ctx, [&] {
        worker = std::this_thread::get_id();
        reached = WaitUntil(loaded, std::chrono::seconds(60));
    });
    EXPECT_NE(worker, job);
    EXPECT_TRUE(reached) << "the voices at the playhead waited for the job's step to end";
    for (size_t i = 0; i < e->voices.size(); ++i) EXPECT_EQ(e->voices[i].left, built[i]) << "voice " << i;

    // The playhead leaves them; the job still runs: they stay as the job has them.
    SeekPlayback(*e, 0.0);
    PrepareVoicesAtPlayhead(ctx);
    EXPECT_TRUE(loaded());
    // Done, joined, the bar lingering: the window is the interface's again.
    app->busyTask.done = true;
    PrepareVoicesAtPlayhead(ctx);
    for (const PlaybackVoice& v : e->voices) EXPECT_EQ(v.evicted, 1);
    app->busyTask.busy = false;
    app->busyTask.done = false;
}

// While playing, every hold of the engine lock is a chance for the mixer's
// try to meet it: decodes of voices still far ahead wait to go in together,
// and go in, all in one hold, as soon as one of them is wanted soon; a voice
// the playhead left gives its samples up with them, not in a hold of its own.
TEST(VoiceWindow, WhilePlayingTheHoldsAreGatheredUntilAVoiceIsWantedSoon) {
    TempDir dir;
    std::vector<RenderResult> results;
    auto e = std::make_unique<AudioEngine>();
    VoiceStreamer streamer(3);
    streamer.installWait = std::chrono::hours(1);
    std::vector<std::vector<float>> built;
    ASSERT_TRUE(MakeReleasedVoices(dir, 5, results, *e, streamer, built));
    ASSERT_GT(StreamBatchLimit(streamer), 2 * 3) << "three decodes must not fill half the workers' room";
    // Voices 0 (100 to 104 s) and 4 (104 to 108 s) hold their samples.
    ASSERT_TRUE(PrepareVoice(*e, 0, results[0], 48000));
    ASSERT_TRUE(PrepareVoice(*e, 4, results[4], 48000));

    // The playhead at 96 s with a window of 7.5 s: voices 1 to 3 are in it
    // but none starts within 2 s, and voice 4 is outside.
    e->playing = 1;
    e->streamWindow = 7.5f;
    SeekPlayback(*e, 96.0);
    e->mutex.ResetHoldStats();
    PrepareVoicesAtPlayhead(streamer, *e, results, 5);  // asks for voices 1 to 3
    ASSERT_TRUE(WaitForDecodes(streamer, 3));
    PrepareVoicesAtPlayhead(streamer, *e, results, 5);
    EXPECT_EQ(e->mutex.TimedHolds(), 0u);
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(e->voices[i].evicted, 1) << "voice " << i << " went in alone";
    EXPECT_EQ(e->voices[4].evicted, 0) << "a single release took a hold of its own";

    // A window of a second and the playhead at 105.5 s: voice 0 has left
    // it, voice 1 (101 to 105 s) is still in it and wanted now. Every decode
    // goes in and voice 0 gives its samples up, in one hold.
    e->streamWindow = 1.0f;
    SeekPlayback(*e, 105.5);
    e->mutex.ResetHoldStats();
    PrepareVoicesAtPlayhead(streamer, *e, results, 5);
    EXPECT_EQ(e->mutex.TimedHolds(), 1u);
    EXPECT_EQ(e->voices[0].evicted, 1);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(e->voices[i].evicted, 0) << "voice " << i;
        EXPECT_EQ(e->voices[i].left, built[i]) << "voice " << i;
    }
    EXPECT_EQ(e->voices[4].evicted, 0);
}

// A removal while the workers decode (a delete while playing) moves the
// voices after it up the list: their decodes still go in where the voices
// now are, in the first step after they arrive, not thrown away and asked for
// again while the playhead reaches them.
TEST(VoiceWindow, DecodesUnderWayFollowTheirVoicesWhenAnEarlierVoiceIsRemoved) {
    TempDir dir;
    std::vector<RenderResult> results;
    auto e = std::make_unique<AudioEngine>();
    VoiceStreamer streamer(3);
    std::vector<std::vector<float>> built;
    ASSERT_TRUE(MakeReleasedVoices(dir, 5, results, *e, streamer, built));
    SeekPlayback(*e, 101.0);
    PrepareVoicesAtPlayhead(streamer, *e, results, 5);  // asks for all five
    ASSERT_TRUE(WaitForDecodes(streamer, 5)) << "the workers did not decode";
    // The first layer is deleted: its voice goes, the rest move up one place.
    results.erase(results.begin());
    ASSERT_EQ(RemoveEngineVoices(*e, {1}), 1u);
    RelinkVoicesToResults(*e, results);
    PrepareVoicesAtPlayhead(streamer, *e, results, 4);
    for (size_t i = 0; i < e->voices.size(); ++i) {
        EXPECT_EQ(e->voices[i].evicted, 0) << "voice " << i << " waits for a decode made again";
        EXPECT_EQ(e->voices[i].left, built[i + 1]) << "voice " << i;
    }
    EXPECT_TRUE(VoiceStreamerIdle(streamer)) << "a voice was asked for twice";
}

TEST(VoiceMaintenance, DeletingAnEventDropsItsVoicesAndRenumbersTheRest) {
    DocRig rig;
    rig.Build(5, 2);
    for (size_t v = 0; v < rig.engine->voices.size(); ++v) rig.engine->voiceFadeIn[v] = 0.001f * float(v);
    ASSERT_EQ(rig.engine->voices[9].intensityCurve, rig.project->events[4].intensity.data());  // a fill
    ASSERT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));

    // Delete event 3 (index 2) the way an edit does: a new event list swapped in
    // under the engine lock, its results removed and the later ones renumbered.
    std::vector<Event> remaining = rig.project->events;
    remaining.erase(remaining.begin() + 2);
    ReplaceDocumentEvents(*rig.engine, rig.project->events, remaining, VoiceCurveLink::Repoint);
    std::erase_if(rig.project->results, [](const RenderResult& r) { return r.eventIdx == 2; });
    for (RenderResult& r : rig.project->results)
        if (r.eventIdx > 2) --r.eventIdx;

    ASSERT_TRUE(RefreshEventVoices(rig.Context(), {2}, 5));
    ASSERT_EQ(rig.engine->voices.size(), 8u);
    ASSERT_EQ(rig.engine->voiceFadeIn.size(), 8u);
    ASSERT_EQ(rig.engine->voiceFadeOut.size(), 8u);
    const int expectedEvents[8] = {0, 0, 1, 1, 2, 2, 3, 3};
    for (size_t v = 0; v < 8; ++v) {
        EXPECT_EQ(rig.engine->voices[v].eventIndex, expectedEvents[v]) << v;
        EXPECT_EQ(rig.engine->voices[v].resultIndex, int(v)) << v;
        // The fades moved with their voices (voices 4.. were 6..).
        EXPECT_FLOAT_EQ(rig.engine->voiceFadeIn[v], 0.001f * float(v < 4 ? v : v + 2)) << v;
    }
    EXPECT_EQ(rig.engine->voices[7].intensityCurve, rig.project->events[3].intensity.data());
    EXPECT_EQ(rig.engine->stats.voiceCount.load(), 8);
    EXPECT_EQ(rig.engine->cacheReady.load(), 1);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));

    // While a busy task owns the document the refresh is refused and a
    // rebuild is asked for instead.
    rig.app->busyTask.busy = true;
    EXPECT_FALSE(RefreshEventVoices(rig.Context(), {0}, 4));
    EXPECT_EQ(rig.engine->voices.size(), 8u);
    EXPECT_TRUE(rig.app->deferredRebuild.load());
    rig.app->busyTask.busy = false;
}

// The event's voices are replaced where they stand, each the moment its new
// one is ready (the old one plays until then): the others keep their place
// and fades, and the replaced ones take their results' fades.
TEST(VoiceMaintenance, ReplacingOneEventsVoicesPutsEachInItsOldPlace) {
    DocRig rig;
    rig.Build(3, 2);
    for (size_t v = 0; v < 6; ++v) rig.engine->voiceFadeOut[v] = 0.01f * float(v + 1);
    rig.project->results[2].duration = 0.8f;  // event 1's first layer changed
    rig.engine->cacheReady = 1;
    const PlaybackVoice* kept = &rig.engine->voices[0];
    const PlaybackVoice* replaced = &rig.engine->voices[2];
    ReplaceEventVoices(*rig.engine, 1, rig.project->results, kRigRate, nullptr, 3, rig.project->events.data(), 0, 0);
    ASSERT_EQ(rig.engine->voices.size(), 6u);
    const int events[6] = {0, 0, 1, 1, 2, 2};
    const float fades[6] = {0.01f, 0.02f, rig.project->results[2].fadeOut, rig.project->results[3].fadeOut, 0.05f,
                            0.06f};
    for (size_t v = 0; v < 6; ++v) {
        EXPECT_EQ(rig.engine->voices[v].eventIndex, events[v]) << v;
        EXPECT_FLOAT_EQ(rig.engine->voiceFadeOut[v], fades[v]) << v;
    }
    EXPECT_EQ(&rig.engine->voices[0], kept) << "a voice of another event was moved";
    EXPECT_NE(&rig.engine->voices[2], replaced) << "event 1's voice was not built again";
    EXPECT_EQ(rig.engine->voices[2].resultIndex, 2);
    EXPECT_FLOAT_EQ(rig.engine->voices[2].length, 0.8f);
    EXPECT_EQ(rig.engine->cacheReady.load(), 1);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
}

TEST(VoiceMaintenance, IntegrityCheckReportsTheFirstBadVoiceAndOrphanedResults) {
    DocRig rig;
    rig.Build(3, 1);
    ASSERT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));

    // A layer without a file never gets a voice: it is no orphan.
    RenderResult empty;
    empty.eventIdx = 0;
    rig.project->results.push_back(empty);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_FALSE(rig.app->deferredRebuild.load());

    // A placeholder layer without a voice is.
    rig.project->results.back().placeholder = true;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Cache] 1 orphaned results, deferring rebuild\n");
    EXPECT_TRUE(rig.app->deferredRebuild.exchange(false));
    rig.project->results.pop_back();

    // A voice made from what its result no longer is (another region), and a
    // second voice of one result, fail where they stand.
    rig.project->results[2].duration = 0.75f;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Cache] Integrity check failed at block 2, deferring rebuild\n");
    rig.project->results[2].duration = 0.5f;
    rig.app->deferredRebuild = false;
    PlaybackVoice second = rig.engine->voices[0];
    InstallPlaybackVoice(*rig.engine, std::move(second), 0.01f, 0.01f);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Cache] Integrity check failed at block 3, deferring rebuild\n");
    RemoveEngineVoices(*rig.engine, {0, 0, 0, 1});
    rig.app->deferredRebuild = false;
    ASSERT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));

    // The result of voice 1 is deleted: voice 1 is the first that fails.
    rig.project->results.erase(rig.project->results.begin() + 1);
    RelinkVoicesToResults(rig.Context());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CheckPlaybackCacheIntegrity(rig.Context()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Cache] Integrity check failed at block 1, deferring rebuild\n");
    EXPECT_TRUE(rig.app->deferredRebuild.load());
}

TEST(VoicePins, StructuralEditsWaitWhileTheVoicesArePinned) {
    auto e = EngineWith({LevelVoice(0, 1), LevelVoice(1, 1), LevelVoice(2, 1)});
    std::atomic<bool> removed{false};
    std::thread editor;
    {
        EngineVoicePin pin(*e);
        editor = std::thread([&] {
            RemoveEngineVoices(*e, {0, 1, 0});
            removed = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        EXPECT_FALSE(removed.load());
        EXPECT_EQ(e->voicePins.load(), 1);
        // The audio thread still mixes meanwhile: the lock is free.
        std::unique_lock<EngineMutex> lock(e->mutex, std::try_to_lock);
        EXPECT_TRUE(lock.owns_lock());
    }
    editor.join();
    EXPECT_TRUE(removed.load());
    ASSERT_EQ(e->voices.size(), 2u);
    EXPECT_EQ(e->voices[1].eventIndex, 2);
    EXPECT_EQ(e->voices[1].peakOverview[3], 0.5f);
    EXPECT_EQ(e->voices[1].left.size(), 480u);  // the samples moved with their voice
    EXPECT_EQ(e->voicePins.load(), 0);
}
