// engine_stats.h — what the playback engine reports about itself: progress
// of its builds, the streaming window's counts, its meters and the blocks it
// could not play. Kept apart from the engine's state (audio_engine.h): the
// engine and its owners write these, the interface, the logs and the tests
// read them, and nothing the engine plays depends on them.
//
// Index
//   AudioEngineStats   the counters, every one an atomic any thread may read
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

struct AudioEngineStats {
    // ---- The voice set ----
    std::atomic<int32_t> voiceCount{0};       // after the last install or removal
    std::atomic<int32_t> buildProgress{0};    // voices built so far by a rebuild
    std::atomic<int32_t> buildTotal{0};       // voices that rebuild builds in all
    // Voices the document's results call for (set by the rebuilds and syncs):
    // a block played with none while this is above 0 is counted silent.
    std::atomic<int32_t> expectedVoices{0};
    // The streaming window's last count of voices whose samples are loaded, and of
    // voices inside the window still waiting for theirs.
    std::atomic<int32_t> loadedVoices{0};
    std::atomic<int32_t> waitingVoices{0};
    // Walks over the whole voice list by the routines that keep the voices in
    // step with the document (relinks, removals, level passes, checks): the
    // count of an edit's work that tests read, independent of the machine.
    mutable std::atomic<uint64_t> voiceWalks{0};
    // Moves on whenever the level passes changed the voices' gains.
    std::atomic<uint32_t> levelsGeneration{0};
    // What the last full level pass scaled every gain by for the loudest
    // moment's headroom (1: no cut was needed).
    std::atomic<float> headroomCut{1.0f};

    // ---- Meters (written by the audio thread each block) ----
    std::atomic<float> peakL{0}, peakR{0};
    std::array<std::atomic<float>, 3> groupPeakL{}, groupPeakR{};

    // ---- What playback could not play (the audio thread counts) ----
    // Blocks left silent because another thread held the lock; blocks in
    // which a voice the playhead had reached still waited for its samples
    // (the streaming workers fell behind); blocks played with no voice at
    // all while the document called for some. What the device played
    // without our frames is the output's own count (AudioOutput::outputGaps).
    std::atomic<uint64_t> lockedBlocks{0};
    std::atomic<uint64_t> lateVoiceBlocks{0};
    std::atomic<uint64_t> emptyBlocks{0};
};
