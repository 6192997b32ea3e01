// playback_gaps.cpp — counting what playback could not play, and the stop's
// log line.
//
// Index
//   CountPlaybackGaps / DescribePlaybackGaps / WatchPlaybackGaps
#include "playback/playback_gaps.h"

#include <cstdio>

#include "playback/audio_engine.h"
#include "playback/audio_output.h"

// ---------------------------------------------------------------------------
// Playback gaps
// ---------------------------------------------------------------------------

PlaybackGaps CountPlaybackGaps(const AudioEngine& engine, const AudioOutput& output) {
    PlaybackGaps g;
    g.lockedBlocks = engine.stats.lockedBlocks.load();
    g.lateVoiceBlocks = engine.stats.lateVoiceBlocks.load();
    g.emptyBlocks = engine.stats.emptyBlocks.load();
    g.outputGaps = output.outputGaps.load();
    g.outputGapFrames = output.outputGapFrames.load();
    g.lateCallbacks = output.lateCallbacks.load();
    g.deviceRate = output.deviceRate.load();
    g.gapSource = output.gapSource.load();
    return g;
}

std::string DescribePlaybackGaps(const PlaybackGaps& since, const PlaybackGaps& now) {
    // A count that went down (the output was reopened) counts from zero.
    auto delta = [](uint64_t a, uint64_t b) { return b >= a ? b - a : b; };
    PlaybackGaps d;
    d.lockedBlocks = delta(since.lockedBlocks, now.lockedBlocks);
    d.lateVoiceBlocks = delta(since.lateVoiceBlocks, now.lateVoiceBlocks);
    d.emptyBlocks = delta(since.emptyBlocks, now.emptyBlocks);
    d.outputGaps = delta(since.outputGaps, now.outputGaps);
    d.outputGapFrames = delta(since.outputGapFrames, now.outputGapFrames);
    d.lateCallbacks = delta(since.lateCallbacks, now.lateCallbacks);
    char length[48] = "length unknown";
    if (now.gapSource != OutputGapSource::Flags && now.deviceRate > 0)
        std::snprintf(length, sizeof length, "%.0f ms", 1000.0 * double(d.outputGapFrames) / double(now.deviceRate));
    char text[256];
    std::snprintf(text, sizeof text,
                  "%llu silent blocks (lock taken %llu, voice late %llu, no voices %llu), %llu output gaps (%s), "
                  "%llu late callbacks",
                  (unsigned long long)d.SilentBlocks(), (unsigned long long)d.lockedBlocks,
                  (unsigned long long)d.lateVoiceBlocks, (unsigned long long)d.emptyBlocks,
                  (unsigned long long)d.outputGaps, length, (unsigned long long)d.lateCallbacks);
    return text;
}

void WatchPlaybackGaps(PlaybackGapWatch& watch, AudioEngine& engine, const AudioOutput& output) {
    const bool playing = engine.playing.load() != 0;
    if (playing == watch.playing) return;
    watch.playing = playing;
    const PlaybackGaps now = CountPlaybackGaps(engine, output);
    if (playing) {
        watch.atStart = now;
        engine.mutex.ResetHoldStats();
        return;
    }
    std::printf("[Audio] Playback stopped: %s; the engine's lock held at most %.3f ms\n",
                DescribePlaybackGaps(watch.atStart, now).c_str(), double(engine.mutex.LongestHoldNanos()) / 1.0e6);
}
