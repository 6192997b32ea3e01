// video_test_support.h — shared pieces of the reference-video tests.
//
// Index
//   TestClock              an injectable play clock (seconds, moved by hand)
//   ScopedTestClock        gives it to one player for one test
//   ShownIndex             the index the player's shown picture carries
//   ExpectedFrame          the frame a seek to a video time must show
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>

#include "picture/video_player.h"
#include "support/video_fixtures.h"

struct TestClock {
    static std::atomic<double> now;
    static double Read() { return now.load(); }
    static void Advance(double seconds) { now.store(now.load() + seconds); }
};
inline std::atomic<double> TestClock::now{1000.0};

struct ScopedTestClock {
    explicit ScopedTestClock(VideoPlayer& player) : player(player) { player.clock.store(&TestClock::Read); }
    ~ScopedTestClock() { player.clock.store(nullptr); }
    VideoPlayer& player;
};

inline int ShownIndex(const VideoPlayer& player) {
    return ReadFrameIndex(player.shown.rgba, player.shown.width, player.shown.height);
}

// The first frame whose time + half a frame reaches `videoTime`.
inline int ExpectedFrame(double videoTime, double fps, int frameCount) {
    const int k = int(std::ceil(videoTime * fps - 0.5 - 1e-9));
    return std::clamp(k, 0, frameCount - 1);
}
