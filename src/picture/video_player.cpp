// video_player.cpp — the reference video player, interface-thread side.
//
// Index
//   gVideoPlayer, the clock
//   Threads               start and stop the decoder thread and the audio extraction
//   OpenVideoAside             the container and first picture on a thread a signal stops waiting for
//   LoadReferenceVideo / CloseReferenceVideo
//   Showing pictures      take what is due from the hand-over into `shown`
//   UpdateReferenceVideo  paused: the newest seek picture; playing: the frame at the play clock
//   PlayReferenceVideo / PauseReferenceVideo
//   SeekReferenceVideo    the seek rules, decided here, worked off by the decoder thread
//   WaitForReferenceVideoIdle / WaitForReferenceAudioExtraction
#include "picture/video_player.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "picture/reference_audio.h"
#include "picture/video_player_worker.h"
#include "platform/termination_signals.h"

VideoPlayer gVideoPlayer;

VideoPlayer::VideoPlayer() = default;
VideoPlayer::~VideoPlayer() { CloseReferenceVideo(*this); }

namespace {


double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

constexpr double kSameTime = 0.0001;      // seconds: two times name the same frame
constexpr double kRapidScrub = 0.3;       // seconds between backward seeks that count as scrubbing
constexpr double kShortHop = 5.0;         // seconds a forward seek decodes on without repositioning
constexpr double kDueSlack = 0.0001;      // a frame is due when the clock is this close to it

}  // namespace

double VideoClockSeconds(const VideoPlayer& player) {
    const VideoClockFn clock = player.clock.load(std::memory_order_acquire);
    return clock ? clock() : SteadySeconds();
}

// ---- Threads -------------------------------------------------------------------

namespace {

void StopDecoderThread(VideoPlayerWorker& worker) {
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.stop = true;
    }
    worker.wake.notify_all();
    if (worker.thread.joinable()) worker.thread.join();
}

void StopAudioExtraction(VideoPlayerWorker& worker) {
    worker.extractionCancel.store(true, std::memory_order_relaxed);
    if (worker.extraction.joinable()) worker.extraction.join();
}

// The track is decoded off the interface thread and published from there. A
// close or the next load joins this thread before it empties the slot, so no
// track outlives its video or reaches another one.
// `fd` (owned) is the video file's descriptor: the track is read from the
// file the picture comes from, never from the path again.
void StartAudioExtraction(VideoPlayerWorker& worker, const std::string& path, int fd) {
    PublishReferenceAudio(nullptr);
    worker.extractionCancel.store(false, std::memory_order_relaxed);
    if (fd < 0) {
        std::printf("[Video] no descriptor left for the reference audio (%s)\n", path.c_str());
        return;
    }
    try {
        worker.extraction = std::thread([&worker, path, fd] {
            std::shared_ptr<const VideoRefAudio> audio =
                DecodeReferenceAudioFrom(fd, path, &worker.extractionCancel);
            if (audio && !worker.extractionCancel.load(std::memory_order_relaxed))
                PublishReferenceAudio(std::move(audio));
        });
    } catch (const std::system_error& error) {
        std::printf("[Video] could not start the audio extraction: %s\n", error.what());
        ::close(fd);
    }
}

}  // namespace

// ---- Load and close --------------------------------------------------------------

namespace {

// The container opened and its first picture decoded, on a thread of its
// own: the caller waits for it, but a signal that ends the program ends the
// wait (the open is then left to finish, or not, on its own), so that a read
// the disk never answers cannot keep the program from ending.
struct VideoOpening {
    std::unique_ptr<VideoPlayerWorker> worker = std::make_unique<VideoPlayerWorker>();
    std::string refusal;
    double first = 0;
    bool opened = false;
    bool decoded = false;
    std::atomic<bool> done{false};
};

std::shared_ptr<VideoOpening> OpenVideoAside(const std::string& path, int fd, FileFaultHook fault) {
    auto opening = std::make_shared<VideoOpening>();
    auto run = [opening, path, fd, fault] {
        VideoDecoder& decoder = opening->worker->decoder;
        opening->opened = OpenVideoFFmpeg(decoder, path, fd, &opening->refusal, fault);
        opening->decoded = opening->opened && ReceiveVideoFrameFFmpeg(decoder, &opening->first);
        opening->done.store(true, std::memory_order_release);
    };
    std::thread opener;
    try {
        opener = std::thread(run);
    } catch (const std::system_error&) {
        run();  // no thread to be had: opened here
        return opening;
    }
    while (!opening->done.load(std::memory_order_acquire)) {
        if (PendingTerminationSignal() != 0) {
            std::printf("[Video] %s: the open of %s is left unfinished\n", TerminationSignalName(PendingTerminationSignal()),
                        path.c_str());
            opener.detach();
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    opener.join();
    return opening;
}

}  // namespace

bool LoadReferenceVideo(VideoPlayer& player, const std::string& path, int fd, std::string* refusal) {
    CloseReferenceVideo(player);
    const std::shared_ptr<VideoOpening> opening = OpenVideoAside(path, fd, player.fileFault);
    if (!opening || !opening->opened) {
        if (opening && refusal) *refusal = opening->refusal;
        return false;
    }
    std::unique_ptr<VideoPlayerWorker> worker = std::move(opening->worker);
    VideoDecoder& decoder = worker->decoder;
    // The reference audio is read from this same file, through a descriptor of its own.
    const int audioFd = ::dup(LocalMediaDescriptor(decoder.format));
    struct AudioFdCloser {
        int fd;
        ~AudioFdCloser() {
            if (fd >= 0) ::close(fd);
        }
    } audioFdCloser{audioFd};
    const double first = opening->first;
    if (!opening->decoded) {
        std::printf("[Video] FFmpeg: first frame decode failed (%s)\n", path.c_str());
        std::fflush(stdout);
        CloseVideoFFmpeg(decoder);
        return false;
    }
    worker->firstFrameTime = first;
    worker->frameRate = decoder.fps;

    player.width = decoder.width;
    player.height = decoder.height;
    player.fps = float(decoder.fps);
    player.duration = float(decoder.duration);
    player.path = path;
    player.currentTime = float(first);
    player.playing = false;
    player.pendingSeek = -1;
    VideoPicture& shown = player.shown;
    shown.rgba.assign(size_t(decoder.width) * size_t(decoder.height) * 4, 0);
    if (ConvertVideoFrameFFmpeg(decoder, decoder.frame, decoder.width, decoder.height,
                                shown.rgba.data()))
        player.stats.picturesConverted.fetch_add(1, std::memory_order_relaxed);
    shown.width = decoder.width;
    shown.height = decoder.height;
    shown.time = first;
    ++shown.counter;

    // From here on the decoder belongs to the decoder thread.
    const std::string codecName = decoder.codecName;
    VideoPlayerWorker& w = *worker;
    player.impl = std::move(worker);
    player.loaded = true;
    try {
        w.thread = std::thread([&player, &w] { RunVideoDecoderThread(player, w); });
    } catch (const std::system_error& error) {
        std::printf("[Video] could not start the decoder thread: %s (%s)\n", error.what(),
                    path.c_str());
        CloseReferenceVideo(player);
        return false;
    }
    std::printf("[Video] loaded via FFmpeg (%s) %dx%d %.2ffps %.2fs (%s)\n",
                codecName.c_str(), player.width, player.height, double(player.fps),
                double(player.duration), path.c_str());
    std::fflush(stdout);
    audioFdCloser.fd = -1;  // handed over
    StartAudioExtraction(w, path, audioFd);
    return true;
}

void CloseReferenceVideo(VideoPlayer& player) {
    if (player.impl) {
        StopDecoderThread(*player.impl);
        StopAudioExtraction(*player.impl);
        CloseVideoFFmpeg(player.impl->decoder);
        player.impl.reset();
    }
    PublishReferenceAudio(nullptr);
    player.loaded = false;
    player.duration = 0;
    player.fps = 0;
    player.width = 0;
    player.height = 0;
    player.currentTime = -1;
    player.playing = false;
    player.pendingSeek = -1;
    player.path.clear();
    std::vector<uint8_t>().swap(player.shown.rgba);
    player.shown.width = 0;
    player.shown.height = 0;
    player.shown.time = -1;
}

// ---- Showing pictures ---------------------------------------------------------------

namespace {

// Under the worker's mutex: `picture` becomes the shown one; the buffer it
// replaces goes back to the decoder thread.
void Show(VideoPlayer& player, VideoPlayerWorker& worker, ReadyPicture& picture) {
    VideoPicture& shown = player.shown;
    std::swap(shown.rgba, picture.rgba);
    if (!picture.rgba.empty()) ReturnSparePicture(worker, std::move(picture.rgba));
    shown.width = player.width;
    shown.height = player.height;
    shown.time = picture.time;
    ++shown.counter;
    player.currentTime = float(picture.time);
}

void DropFront(VideoPlayerWorker& worker) {
    ReturnSparePicture(worker, std::move(worker.ready.front().rgba));
    worker.ready.pop_front();
}

// Paused: the newest seek, preview or progress picture is shown; playback
// pictures decoded ahead stay for when play resumes.
bool ShowSeekPicture(VideoPlayer& player, VideoPlayerWorker& worker) {
    auto newest = worker.ready.end();
    for (auto it = worker.ready.begin(); it != worker.ready.end(); ++it) {
        if (it->kind != ReadyPictureKind::Play) newest = it;
    }
    const bool shows = newest != worker.ready.end();
    if (shows) Show(player, worker, *newest);
    std::erase_if(worker.ready, [&worker](ReadyPicture& picture) {
        if (picture.kind == ReadyPictureKind::Play) return false;
        ReturnSparePicture(worker, std::move(picture.rgba));
        return true;
    });
    if (worker.seekDone == worker.serial) player.pendingSeek = -1;
    return shows;
}

// Playing: the last picture whose time the play clock has reached; playback
// ends when the clock reaches the end of the video with nothing left to show.
bool ShowPlayPicture(VideoPlayer& player, VideoPlayerWorker& worker, double due) {
    std::deque<ReadyPicture>& ready = worker.ready;
    bool changed = false;
    while (ready.size() >= 2 && ready[1].time <= due + kDueSlack) {
        DropFront(worker);
        changed = true;
    }
    if (!ready.empty() && ready.front().time <= due + kDueSlack) {
        Show(player, worker, ready.front());
        ready.pop_front();
        changed = true;
    }
    const bool nothingDue = ready.empty() || ready.front().time > due + kDueSlack;
    const bool clockAtEnd = due >= double(player.duration) - kDueSlack;
    const double frame = worker.frameRate > 0 ? 1.0 / worker.frameRate : 0.04;
    const bool lastOut = worker.endReached && ready.empty() &&
                         due >= player.shown.time + frame - kDueSlack;
    if ((clockAtEnd && nothingDue && (worker.endReached || !ready.empty())) || lastOut) {
        player.playing = false;
        worker.playing = false;
        changed = true;
    }
    return changed;
}

}  // namespace

float UpdateReferenceVideo(VideoPlayer& player) {
    const float offset = player.startOffset.load(std::memory_order_relaxed);
    if (!player.loaded || !player.impl) return offset + player.currentTime;
    VideoPlayerWorker& worker = *player.impl;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        if (player.playing) {
            const double due = std::min(double(player.duration),
                                        worker.playStart + (VideoClockSeconds(player) - worker.playClock));
            changed = ShowPlayPicture(player, worker, due);
        } else if (player.pendingSeek >= 0 || !worker.ready.empty()) {
            changed = ShowSeekPicture(player, worker);
        }
        if (changed) worker.workerIdle = false;
    }
    if (changed) worker.wake.notify_all();
    return offset + player.currentTime;
}

// ---- Transport ------------------------------------------------------------------------

void PlayReferenceVideo(VideoPlayer& player) {
    if (!player.loaded || !player.impl) return;
    VideoPlayerWorker& worker = *player.impl;
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.playing = true;
        worker.playClock = VideoClockSeconds(player);
        worker.playStart = player.pendingSeek >= 0 ? double(player.pendingSeek)
                                                   : std::max(0.0, double(player.currentTime));
        worker.workerIdle = false;
    }
    player.playing = true;
    player.pendingSeek = -1;
    worker.wake.notify_all();
}

void PauseReferenceVideo(VideoPlayer& player) {
    if (!player.loaded || !player.impl) return;
    std::lock_guard<std::mutex> lock(player.impl->mutex);
    player.impl->playing = false;
    player.playing = false;
}

namespace {

// Under the worker's mutex: a new request supersedes everything handed over so far.
void PostSeek(VideoPlayerWorker& worker, const SeekRequest& request) {
    ++worker.serial;
    worker.seek = request;
    worker.endReached = false;
    while (!worker.ready.empty()) DropFront(worker);
    worker.workerIdle = false;
}

}  // namespace

void SeekReferenceVideo(VideoPlayer& player, float projectTime) {
    if (!player.loaded || !player.impl) return;
    VideoPlayerWorker& worker = *player.impl;
    const double offset = player.startOffset.load(std::memory_order_relaxed);
    const double local = std::clamp(double(projectTime) - offset, 0.0, double(player.duration));
    const double shownTime = player.shown.time;
    const bool frameShown = player.currentTime >= 0;
    const double rate = worker.frameRate;
    const double snapped = rate > 0 ? std::round(local * rate) / rate : local;
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        if (frameShown && std::fabs(snapped - shownTime) < kSameTime) {
            // Already on that frame. A walk towards another frame would
            // replace it later: stop it.
            if (player.pendingSeek >= 0) {
                SeekRequest cancel;
                cancel.cancel = true;
                PostSeek(worker, cancel);
                player.pendingSeek = -1;
            } else {
                return;
            }
        } else {
            const double now = VideoClockSeconds(player);
            const bool samePending =
                player.pendingSeek >= 0 && std::fabs(double(player.pendingSeek) - local) < kSameTime;
            if (!samePending) {
                SeekRequest request;
                request.target = local;
                request.backward = frameShown && local < shownTime - kSameTime;
                request.rapidScrub = request.backward && now - worker.lastSeekClock < kRapidScrub;
                const bool shortHop =
                    frameShown && local >= shownTime && local - shownTime < kShortHop;
                request.reposition = !shortHop;
                PostSeek(worker, request);
            }
            worker.lastSeekClock = now;
            if (player.playing) {
                worker.playClock = now;
                worker.playStart = local;
            } else {
                player.pendingSeek = float(local);
            }
        }
    }
    worker.wake.notify_all();
}

// ---- Waiting --------------------------------------------------------------------

bool WaitForReferenceVideoIdle(VideoPlayer& player, double timeoutSeconds) {
    if (!player.impl) return true;
    VideoPlayerWorker& worker = *player.impl;
    std::unique_lock<std::mutex> lock(worker.mutex);
    // Let the thread look at the clock again: playback may have moved on.
    worker.workerIdle = false;
    worker.wake.notify_all();
    return worker.idle.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                [&worker] { return worker.workerIdle; });
}

void WaitForReferenceAudioExtraction(VideoPlayer& player) {
    if (player.impl && player.impl->extraction.joinable()) player.impl->extraction.join();
}
