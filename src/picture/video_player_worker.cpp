// video_player_worker.cpp — the player's decoder thread.
//
// Index
//   Spare buffers             reuse of picture buffers
//   DecoderThreadState        what only the decoder thread knows (position, walk, held frame)
//   HandOver                  convert a frame outside the lock, hand it over under it
//   StartWalk                 take a new seek request: reposition or walk on
//   LandedPastTarget          a seek that came out after its target steps further back
//   SeekStep                  one frame of a seek walk
//   PlayStep / PlayHasWork    one frame of playback; what is due and what is ahead
//   RunVideoDecoderThread     the loop: wait for work, one frame at a time
//
// One frame per turn of the loop, so a new request interrupts a walk after at
// most one decoded frame. The rules of the walks:
//  - A seek shows the first frame whose time + 0.5/fps reaches the target.
//  - Repositioning happens when the interface's seek rules ask for it, and
//    also when this thread knows the decoder is already past the target or
//    5 s or more before it (the interface only knows the shown frame).
//  - The first frame after repositioning is shown at once while scrubbing
//    back fast, unless it is the frame the previous repositioning gave.
//  - Playback converts a frame only when the next frame is not yet due at
//    the play clock: a frame that would be replaced before it is shown is
//    never converted.
#include "picture/video_player_worker.h"

#include <chrono>
#include <cmath>
#include <limits>

extern "C" {
#include <libavutil/frame.h>
}

#include "picture/video_player.h"

// ---- Spare buffers --------------------------------------------------------

std::vector<uint8_t> TakeSparePicture(VideoPlayerWorker& worker) {
    if (worker.spare.empty()) return {};
    std::vector<uint8_t> rgba = std::move(worker.spare.back());
    worker.spare.pop_back();
    return rgba;
}

void ReturnSparePicture(VideoPlayerWorker& worker, std::vector<uint8_t>&& rgba) {
    if (!rgba.empty() && worker.spare.size() < kPlayAheadPictures + 2)
        worker.spare.push_back(std::move(rgba));
}

namespace {

constexpr double kShortHopSeconds = 5.0;
constexpr double kInterimInterval = 0.1;  // seconds between progress pictures of a long forward walk
constexpr int kMaxStepBacks = 8;

struct DecoderThreadState {
    uint64_t serial = 0;
    double position = 0;      // time of the last frame received (an upper bound right after a seek)
    bool atEnd = false;       // the decoder has nothing more to give until it is repositioned
    // Seek walk
    bool walking = false;
    SeekRequest request;
    bool justRepositioned = false;
    double repositionedTo = 0;
    int stepBacks = 0;
    double lastRepositionFrame = -1;
    bool received = false;    // a frame was received in this walk
    double lastInterim = 0;
    // Playback: the last frame received, not yet converted
    AVFrame* held = nullptr;
    double heldTime = 0;
    bool holding = false;
};

double Tolerance(const VideoPlayerWorker& worker) {
    return worker.frameRate > 0 ? 0.5 / worker.frameRate : 0.02;
}

// Converts `frame` and queues it for the interface; drops it when a newer
// request came in meanwhile. `finishesSeek` marks the walk of `serial` done.
void HandOver(VideoPlayer& player, VideoPlayerWorker& worker, const AVFrame* frame, double time,
              uint64_t serial, ReadyPictureKind kind, bool finishesSeek) {
    std::vector<uint8_t> rgba;
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        rgba = TakeSparePicture(worker);
    }
    rgba.resize(size_t(player.width) * size_t(player.height) * 4);
    const bool converted = frame && ConvertVideoFrameFFmpeg(worker.decoder, frame, player.width,
                                                            player.height, rgba.data());
    if (converted) player.stats.picturesConverted.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(worker.mutex);
    if (serial != worker.serial) {
        ReturnSparePicture(worker, std::move(rgba));
        return;
    }
    if (converted) {
        ReadyPicture picture;
        picture.rgba = std::move(rgba);
        picture.time = time;
        picture.serial = serial;
        picture.kind = kind;
        worker.ready.push_back(std::move(picture));
    } else {
        ReturnSparePicture(worker, std::move(rgba));
    }
    if (finishesSeek) worker.seekDone = serial;
}

void MarkSeekDone(VideoPlayerWorker& worker, uint64_t serial) {
    std::lock_guard<std::mutex> lock(worker.mutex);
    if (serial == worker.serial) worker.seekDone = serial;
}

void Reposition(VideoPlayerWorker& worker, DecoderThreadState& state, double time) {
    SeekVideoFFmpeg(worker.decoder, time);
    state.justRepositioned = true;
    state.repositionedTo = time;
    state.position = time;  // frames come from the keyframe at or before it
    state.atEnd = false;
}

void DropHeld(DecoderThreadState& state) {
    av_frame_unref(state.held);
    state.holding = false;
}

void StartWalk(VideoPlayer& player, VideoPlayerWorker& worker, DecoderThreadState& state,
               uint64_t serial, const SeekRequest& request) {
    state.serial = serial;
    state.request = request;
    state.walking = !request.cancel;
    state.received = false;
    state.stepBacks = 0;
    state.lastInterim = VideoClockSeconds(player);
    if (request.cancel) {
        MarkSeekDone(worker, serial);
        return;
    }
    // A held playback frame is the decoder's position; a seek forward may
    // still reach its target from there.
    DropHeld(state);
    const double target = request.target;
    const bool past = state.position + Tolerance(worker) >= target;
    const bool far = target - state.position >= kShortHopSeconds;
    if (request.reposition || past || far) {
        Reposition(worker, state, target);
        auto& counter = request.reposition ? player.stats.repositions : player.stats.extraRepositions;
        counter.fetch_add(1, std::memory_order_relaxed);
    }
}

// Containers whose seeks go by decoding time stamps (MPEG-TS with B-frames)
// land after the keyframe before the target, and the decoder then starts at
// the next keyframe, after the target, or gives nothing near the end. Step
// back further, by a doubling margin, until the first frame is at or before
// the target; a step that reaches before the start lands on the first frame.
bool LandedPastTarget(VideoPlayer& player, VideoPlayerWorker& worker, DecoderThreadState& state,
                      double time, double target) {
    if (time <= target + Tolerance(worker) || state.repositionedTo < 0 ||
        state.stepBacks >= kMaxStepBacks)
        return false;
    const double back = std::ldexp(1.0, state.stepBacks);  // 1, 2, 4 ... seconds
    ++state.stepBacks;
    Reposition(worker, state, state.repositionedTo - back);
    player.stats.extraRepositions.fetch_add(1, std::memory_order_relaxed);
    return true;
}

// The first frame after repositioning: step back further when it came out
// late; while scrubbing back fast, show it at once.
bool FirstFrameAfterReposition(VideoPlayer& player, VideoPlayerWorker& worker,
                               DecoderThreadState& state, double time, double target) {
    state.justRepositioned = false;
    if (LandedPastTarget(player, worker, state, time, target)) return true;
    const bool differs = std::fabs(time - state.lastRepositionFrame) > 0.001;
    state.lastRepositionFrame = time;
    if (state.walking && state.request.backward && state.request.rapidScrub && differs &&
        time + Tolerance(worker) < target) {
        HandOver(player, worker, worker.decoder.frame, time, state.serial, ReadyPictureKind::Preview,
                 false);
        player.stats.scrubPreviews.fetch_add(1, std::memory_order_relaxed);
        player.stats.lastScrubPreviewTime.store(time, std::memory_order_relaxed);
    }
    return false;
}

void SeekStep(VideoPlayer& player, VideoPlayerWorker& worker, DecoderThreadState& state) {
    double time = 0;
    const double target = state.request.target;
    if (!ReceiveVideoFrameFFmpeg(worker.decoder, &time)) {
        if (state.justRepositioned &&
            LandedPastTarget(player, worker, state, std::numeric_limits<double>::infinity(), target))
            return;
        // The file ended before the target: the last frame received stands.
        state.atEnd = true;
        state.walking = false;
        if (state.received) {
            HandOver(player, worker, worker.decoder.frame, worker.decoder.lastFrameTime,
                     state.serial, ReadyPictureKind::Seek, true);
        } else {
            MarkSeekDone(worker, state.serial);
        }
        return;
    }
    player.stats.framesReceived.fetch_add(1, std::memory_order_relaxed);
    state.position = time;
    if (state.justRepositioned && FirstFrameAfterReposition(player, worker, state, time, target))
        return;
    state.received = true;
    if (time + Tolerance(worker) >= target) {
        state.walking = false;
        HandOver(player, worker, worker.decoder.frame, time, state.serial, ReadyPictureKind::Seek,
                 true);
        return;
    }
    if (!state.request.backward) {
        const double now = VideoClockSeconds(player);
        if (now - state.lastInterim >= kInterimInterval) {
            state.lastInterim = now;
            HandOver(player, worker, worker.decoder.frame, time, state.serial,
                     ReadyPictureKind::Interim, false);
        }
    }
}

double DueTime(const VideoPlayer& player, double playStart, double playClock) {
    return std::min(double(player.duration), playStart + (VideoClockSeconds(player) - playClock));
}

void PlayStep(VideoPlayer& player, VideoPlayerWorker& worker, DecoderThreadState& state,
              double playStart, double playClock) {
    // Playback takes over from a seek that was still walking.
    state.walking = false;
    double time = 0;
    if (!ReceiveVideoFrameFFmpeg(worker.decoder, &time)) {
        state.atEnd = true;
        if (state.holding) {
            HandOver(player, worker, state.held, state.heldTime, state.serial,
                     ReadyPictureKind::Play, false);
            DropHeld(state);
        }
        std::lock_guard<std::mutex> lock(worker.mutex);
        if (state.serial == worker.serial) worker.endReached = true;
        return;
    }
    player.stats.framesReceived.fetch_add(1, std::memory_order_relaxed);
    state.position = time;
    const double due = DueTime(player, playStart, playClock);
    if (state.justRepositioned &&
        FirstFrameAfterReposition(player, worker, state, time, std::max(0.0, due)))
        return;
    if (state.holding) {
        // The held frame is on screen from its time until this one's; when
        // this one is due already, the held one would never be seen.
        if (time > due) {
            HandOver(player, worker, state.held, state.heldTime, state.serial,
                     ReadyPictureKind::Play, false);
        }
        DropHeld(state);
    }
    av_frame_ref(state.held, worker.decoder.frame);
    state.heldTime = time;
    state.holding = true;
}

// Under `mutex`: pictures that a later queued picture has made stale go
// back to the spare list; playback has work while fewer than
// kPlayAheadPictures wait and the file has frames left.
bool PlayHasWork(const VideoPlayer& player, VideoPlayerWorker& worker,
                 const DecoderThreadState& state) {
    if (state.atEnd) worker.endReached = true;
    if (worker.endReached) return false;
    const double due = DueTime(player, worker.playStart, worker.playClock);
    while (worker.ready.size() >= 2 && worker.ready[1].time <= due) {
        ReturnSparePicture(worker, std::move(worker.ready.front().rgba));
        worker.ready.pop_front();
    }
    return worker.ready.size() < kPlayAheadPictures;
}

}  // namespace

void RunVideoDecoderThread(VideoPlayer& player, VideoPlayerWorker& worker) {
    DecoderThreadState state;
    state.held = av_frame_alloc();
    state.position = worker.firstFrameTime;
    for (;;) {
        enum class Job { Walk, Seek, Play } job;
        SeekRequest request;
        uint64_t serial = 0;
        double playStart = 0, playClock = 0;
        {
            std::unique_lock<std::mutex> lock(worker.mutex);
            for (;;) {
                if (worker.stop) {
                    worker.workerIdle = true;
                    worker.idle.notify_all();
                    av_frame_free(&state.held);
                    return;
                }
                if (worker.serial != state.serial) {
                    job = Job::Walk;
                    request = worker.seek;
                    serial = worker.serial;
                    break;
                }
                if (worker.playing && PlayHasWork(player, worker, state)) {
                    job = Job::Play;
                    playStart = worker.playStart;
                    playClock = worker.playClock;
                    break;
                }
                if (!worker.playing && state.walking) {
                    job = Job::Seek;
                    break;
                }
                worker.workerIdle = true;
                worker.idle.notify_all();
                worker.wake.wait(lock);
            }
            worker.workerIdle = false;
        }
        switch (job) {
            case Job::Walk: StartWalk(player, worker, state, serial, request); break;
            case Job::Seek: SeekStep(player, worker, state); break;
            case Job::Play: PlayStep(player, worker, state, playStart, playClock); break;
        }
    }
}
