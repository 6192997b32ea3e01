// video_player.h — the reference video: the exact picture at the playhead.
//
// Index
//   VideoPicture               a converted picture: RGBA bytes, size, video time, counter
//   VideoPlayerStats           counters of the decoder thread's work (tests and benchmarks read them)
//   VideoPlayer / gVideoPlayer the player record and the program's one player
//   LoadReferenceVideo         open a file, show its first picture, start decoding and audio extraction
//   CloseReferenceVideo        stop both threads and reset everything but startOffset
//   UpdateReferenceVideo       once per interface frame: publish the picture that is due
//   PlayReferenceVideo / PauseReferenceVideo / SeekReferenceVideo
//   VideoClockSeconds   the player's play clock (a test gives the player its own)
//   WaitForReferenceVideoIdle / WaitForReferenceAudioExtraction   let a caller catch up
//
// Threads: the interface thread calls everything here and alone writes the
// record's plain fields and `shown`. Decoding and conversion run on a thread
// of the player, which follows seeks and the play clock, converts only
// pictures that will be shown and hands them over whole; no lock is held
// while it decodes. The audio thread reads only `startOffset`. The picture
// trace opens its own decoder on `path` (video_decoder.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_fault.h"

struct VideoPlayerWorker;

struct VideoPicture {
    std::vector<uint8_t> rgba;  // width x height x 4 bytes, rows of width x 4
    int32_t width = 0;
    int32_t height = 0;
    double time = -1;           // video time; -1 when none
    uint64_t counter = 0;       // rises by one for every picture published, never reset
};

struct VideoPlayerStats {
    std::atomic<int64_t> repositions{0};       // decoder seeks the seek rules asked for
    std::atomic<int64_t> extraRepositions{0};  // further seeks: stepping back past a late keyframe, or the decoder already past the target
    std::atomic<int64_t> framesReceived{0};    // frames decoded after the first picture
    std::atomic<int64_t> picturesConverted{0};
    std::atomic<int64_t> scrubPreviews{0};     // first pictures after repositioning shown while scrubbing back
    std::atomic<double> lastScrubPreviewTime{-1};
};

struct VideoPlayer {
    VideoPlayer();
    ~VideoPlayer();
    VideoPlayer(const VideoPlayer&) = delete;
    VideoPlayer& operator=(const VideoPlayer&) = delete;

    bool loaded = false;
    float duration = 0;     // seconds; 0 when closed
    float fps = 0;          // 0 when closed, 24 when the file gives none
    int32_t width = 0;      // picture size, at most 1280 on the longer side; 0 when closed
    int32_t height = 0;
    // Where video time 0 lies on the project timeline (the project's
    // videoStartTime); kept by load and close. The audio thread reads it.
    std::atomic<float> startOffset{0};
    float currentTime = -1; // video time of the shown picture; -1 when none
    bool playing = false;
    float pendingSeek = -1; // video time of a seek not yet shown; -1 when none
    std::string path;       // the open file (UTF-8); empty when closed
    VideoPicture shown;     // the picture to draw
    VideoPlayerStats stats;
    std::unique_ptr<VideoPlayerWorker> impl;  // decoder, its thread, hand-over; null when closed
    // A test's seam that the open of a video's file meets (file_fault.h);
    // null in the program. Kept by load and close.
    FileFaultHook fileFault = nullptr;
    // The play clock of this player and its decoder thread (seconds, read
    // from both); null: the steady clock. A test moves its own by hand.
    std::atomic<double (*)()> clock{nullptr};
};

extern VideoPlayer gVideoPlayer;

// Opens the video at `path`, read through `fd` when given (a regular file
// the caller opened from the path, owned from here: the path is then opened
// no more), shows its first picture and starts decoding and the audio
// extraction. False when it cannot be shown; *refusal (when given) then gets
// the sentence of a file that is refused rather than undecodable.
bool LoadReferenceVideo(VideoPlayer& player, const std::string& path, int fd = -1, std::string* refusal = nullptr);
void CloseReferenceVideo(VideoPlayer& player);
// Returns the project time of the shown picture (startOffset + currentTime).
float UpdateReferenceVideo(VideoPlayer& player);
void PlayReferenceVideo(VideoPlayer& player);
void PauseReferenceVideo(VideoPlayer& player);
void SeekReferenceVideo(VideoPlayer& player, float projectTime);

using VideoClockFn = double (*)();
// The player's play clock (VideoPlayer::clock, else the steady clock).
double VideoClockSeconds(const VideoPlayer& player);

// Waits until the decoder thread has nothing left to do for the current
// requests and play clock; false on timeout.
bool WaitForReferenceVideoIdle(VideoPlayer& player, double timeoutSeconds);
// Joins the audio extraction of the loaded video (returns at once when none runs).
void WaitForReferenceAudioExtraction(VideoPlayer& player);
