// render_job_rig.h — a private document, library, engine and app state for
// the render job and voice sync tests, and checks that voices match results.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "document/busy_task.h"
#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/voice_settings.h"
#include "support/document_records.h"
#include "support/fake_clock.h"
#include "support/render_fixtures.h"

struct JobRig : DocumentRecords {

    // A pool of sounds that are analysed but not on disk: renders choose from
    // them, and their voices are silent placeholders (nothing to decode).
    explicit JobRig(int sounds = 120) {
        library->libraries.push_back(MakeLibrary("Synth", MakeSyntheticEntries(sounds, 5)));
        project->totalDuration = 60;
    }

    // `count` Spot events 2 s apart from t = 1 s, alternating weights.
    void AddSpots(int count, float first = 1.0f, float spacing = 2.0f) {
        for (int i = 0; i < count; ++i) AddEvent(*project, first + spacing * float(i), kShapeSpot, i % 2 ? 0.3f : 0.7f);
    }

    std::set<int32_t> VoiceResultIds() const {
        std::set<int32_t> ids;
        for (const PlaybackVoice& v : engine->voices) ids.insert(int32_t(v.resultId));
        return ids;
    }
};

// What a voice takes from its result, as a fresh build would give it.
inline void ExpectVoiceMatchesResult(const AudioEngine& engine, size_t v, const Project& project) {
    const PlaybackVoice& voice = engine.voices[v];
    ASSERT_GE(voice.resultIndex, 0) << "voice " << v;
    ASSERT_LT(size_t(voice.resultIndex), project.results.size()) << "voice " << v;
    const RenderResult& r = project.results[size_t(voice.resultIndex)];
    EXPECT_EQ(voice.resultId, uint32_t(r.id)) << "voice " << v;
    EXPECT_EQ(voice.eventIndex, r.eventIdx) << "voice " << v;
    EXPECT_FLOAT_EQ(voice.startTime, r.startTime + r.deconOffset) << "voice " << v;
    EXPECT_EQ(voice.group, r.group) << "voice " << v;
    EXPECT_FLOAT_EQ(voice.pan, VoicePan(r)) << "voice " << v;
    EXPECT_EQ(voice.hasDeconGain != 0, r.hasDeconGain) << "voice " << v;
    if (r.hasDeconGain) {
        EXPECT_EQ(voice.deconGain, r.deconGain) << "voice " << v;
    }
    const bool eventMuted = r.eventIdx >= 0 && size_t(r.eventIdx) < project.events.size() &&
                            project.events[size_t(r.eventIdx)].muted;
    EXPECT_EQ(voice.muted.load() != 0, r.muted || eventMuted) << "voice " << v;
    EXPECT_TRUE(VoiceSamplesHold(voice, r)) << "voice " << v;
    ASSERT_LT(v, engine.voiceFadeIn.size());
    EXPECT_FLOAT_EQ(engine.voiceFadeIn[v], r.fadeIn) << "voice " << v;
    EXPECT_FLOAT_EQ(engine.voiceFadeOut[v], r.fadeOut) << "voice " << v;
}

// Every voice agrees with its result and no result has two voices.
inline void ExpectVoicesMatchResults(const AudioEngine& engine, const Project& project) {
    std::set<uint32_t> seen;
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        EXPECT_TRUE(seen.insert(engine.voices[v].resultId).second) << "two voices for result " << engine.voices[v].resultId;
        ExpectVoiceMatchesResult(engine, v, project);
    }
}

// Runs a queued busy task to its end the way the frame loop does. With a
// fake clock, each frame moves it on a tenth of a second, so the bar's
// linger costs no real time.
inline void PumpUntilFinished(BusyTask& task, FakeInterfaceClock* clock = nullptr) {
    task.snapshotRequested = false;
    for (int i = 0; i < 20000; ++i) {
        if (PumpBusyTask(task) == BusyPump::Finished) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (clock) clock->Advance(0.1);
    }
    FAIL() << "the busy task did not finish";
}

// A stand-in for the audio thread: mixes 512-frame blocks of the engine
// (playing, reverb off) until it is destroyed.
class MixingAudioThread {
public:
    explicit MixingAudioThread(AudioEngine& engine) {
        engine.reverb.enabled = 0;
        engine.playing = 1;
        thread_ = std::thread([this, &engine] {
            std::vector<float> left(512), right(512);
            while (!stop_.load()) {
                MixAudioBlock(engine, left.data(), right.data(), 512);
                blocks_.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
    }
    ~MixingAudioThread() {
        stop_ = true;
        thread_.join();
    }
    MixingAudioThread(const MixingAudioThread&) = delete;
    MixingAudioThread& operator=(const MixingAudioThread&) = delete;
    int Blocks() const { return blocks_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> blocks_{0};
    std::thread thread_;
};
