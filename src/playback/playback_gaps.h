// playback_gaps.h — what playback could not play, by cause, and the log line
// each stop writes.
//
// Index
//   PlaybackGaps / CountPlaybackGaps / DescribePlaybackGaps
//   PlaybackGapWatch / WatchPlaybackGaps
#pragma once

#include <cstdint>
#include <string>

#include "platform/audio_backend.h"

struct AudioEngine;
struct AudioOutput;

// What playback could not play, by cause: blocks the mixer left silent
// because another thread held the engine's lock, in which a voice the
// playhead had reached still waited for its samples, or with no voice at all
// while the document called for some; and stretches the device played
// without our frames (output gaps, with the frames they lasted where the
// stream's clock tells) and the callbacks that came too late for the sound.
// Counted since the program started; a stretch of playback is the
// difference of two counts.
struct PlaybackGaps {
    uint64_t lockedBlocks = 0;
    uint64_t lateVoiceBlocks = 0;
    uint64_t emptyBlocks = 0;
    uint64_t outputGaps = 0;
    uint64_t outputGapFrames = 0;
    uint64_t lateCallbacks = 0;
    int32_t deviceRate = 0;
    OutputGapSource gapSource = OutputGapSource::NoGaps;
    uint64_t SilentBlocks() const { return lockedBlocks + lateVoiceBlocks + emptyBlocks; }
};
PlaybackGaps CountPlaybackGaps(const AudioEngine& engine, const AudioOutput& output);
// "N silent blocks (lock taken a, voice late b, no voices c), g output gaps
// (m ms), d late callbacks" for the stretch from `since` to `now`; the
// milliseconds are "length unknown" where the back-end only flags its gaps.
std::string DescribePlaybackGaps(const PlaybackGaps& since, const PlaybackGaps& now);

// Watches the transport once per frame: when playback starts it takes the
// counts and starts the engine lock's longest hold afresh, when it stops it
// logs what the stretch could not play and the longest hold meanwhile
// ("[Audio] Playback stopped: ..."). Interface thread.
struct PlaybackGapWatch {
    bool playing = false;
    PlaybackGaps atStart;
};
void WatchPlaybackGaps(PlaybackGapWatch& watch, AudioEngine& engine, const AudioOutput& output);

