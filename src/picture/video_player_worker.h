// video_player_worker.h — the player's decoder thread and what it shares with
// the interface thread. Private to the player (video_player.cpp and
// video_player_worker.cpp).
//
// Index
//   ReadyPictureKind / ReadyPicture   a converted picture waiting to be shown
//   SeekRequest                       one seek as the interface decided it
//   VideoPlayerWorker                 decoder, threads, requests, hand-over
//   kPlayAheadPictures                how many pictures playback converts ahead
//   RunVideoDecoderThread             the decoder thread's body
//   TakeSparePicture / ReturnSparePicture   buffer reuse (callers hold `mutex`)
//
// The interface thread writes the requests and reads the results under
// `mutex`; the decoder thread takes it only to read a request or hand a
// picture over, never while it decodes or converts. Pictures carry the serial
// of the seek they belong to: anything of an older serial is dropped unseen.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "picture/video_decoder.h"

struct VideoPlayer;

enum class ReadyPictureKind {
    Seek,     // the exact frame of a seek (or the last frame when the file ends first)
    Preview,  // first frame after repositioning while scrubbing back
    Interim,  // progress of a long forward walk
    Play,     // a frame of playback, shown when the play clock reaches it
};

struct ReadyPicture {
    std::vector<uint8_t> rgba;
    double time = 0;
    uint64_t serial = 0;
    ReadyPictureKind kind = ReadyPictureKind::Seek;
};

struct SeekRequest {
    double target = -1;      // video time
    bool reposition = false; // the seek rules ask for a decoder seek
    bool backward = false;
    bool rapidScrub = false;
    bool cancel = false;     // stop the pending walk and show nothing new
};

constexpr size_t kPlayAheadPictures = 3;

struct VideoPlayerWorker {
    VideoDecoder decoder;   // the decoder thread's alone once it runs
    double firstFrameTime = 0;
    double frameRate = 24;  // the exact rate (the player's `fps` is a float)
    std::thread thread;

    std::mutex mutex;
    std::condition_variable wake;  // to the decoder thread
    std::condition_variable idle;  // from the decoder thread
    bool stop = false;
    bool workerIdle = false;

    // Requests (interface thread)
    uint64_t serial = 0;    // rises with every seek request
    SeekRequest seek;
    bool playing = false;
    double playClock = 0;   // VideoClockSeconds when play (re)started
    double playStart = 0;   // video time at playClock

    // Results (decoder thread)
    std::deque<ReadyPicture> ready;  // in time order
    uint64_t seekDone = 0;  // the serial whose seek walk has ended
    bool endReached = false;  // playback of the current serial hit the end of the file
    std::vector<std::vector<uint8_t>> spare;

    // Interface-thread bookkeeping of the seek rules
    double lastSeekClock = -1e9;

    // Reference-audio extraction of this video
    std::thread extraction;
    std::atomic<bool> extractionCancel{false};
};

void RunVideoDecoderThread(VideoPlayer& player, VideoPlayerWorker& worker);

std::vector<uint8_t> TakeSparePicture(VideoPlayerWorker& worker);
void ReturnSparePicture(VideoPlayerWorker& worker, std::vector<uint8_t>&& rgba);
