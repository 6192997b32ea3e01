// transport_control.cpp — play, stop, seek and settle across the application
// state, the engine and the reference picture.
//
// Index
//   Helpers
//   StartPlayback / StopPlayback / StopAtStart
//   SeekTransport / FollowPlayback / SettleTransport
#include "operations/transport_control.h"

#include "operations/app_state.h"
#include "operations/document_context.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "playback/playback_gaps.h"
#include "playback/transport.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

VideoPlayer* Loaded(VideoPlayer* video) { return video && video->loaded ? video : nullptr; }

bool InsideVideo(const VideoPlayer& video, float time) {
    const float start = video.startOffset.load();
    return time >= start && time < start + video.duration;
}

}  // namespace

// ---------------------------------------------------------------------------
// StartPlayback / StopPlayback
// ---------------------------------------------------------------------------

void StartPlayback(AppState& app, AudioEngine& engine, VideoPlayer* video) {
    app.playing = true;
    if (VideoPlayer* v = Loaded(video)) {
        if (InsideVideo(*v, app.currentTime)) {
            SeekReferenceVideo(*v, app.currentTime);
            PlayReferenceVideo(*v);
        } else {
            PauseReferenceVideo(*v);
        }
    }
    SeekPlayback(engine, app.currentTime);
    engine.playing.store(1);
}

void StopPlayback(AppState& app, AudioEngine& engine, VideoPlayer* video) {
    app.playing = false;
    engine.playing.store(0);
    if (VideoPlayer* v = Loaded(video)) PauseReferenceVideo(*v);
}

void StopAtStart(AppState& app, AudioEngine& engine, VideoPlayer* video) {
    StopPlayback(app, engine, video);
    SeekTransport(app, engine, video, 0.0f);
}

// ---------------------------------------------------------------------------
// SeekTransport / SettleTransport
// ---------------------------------------------------------------------------

void SeekTransport(AppState& app, AudioEngine& engine, VideoPlayer* video, float seconds) {
    app.currentTime = seconds;
    if (VideoPlayer* v = Loaded(video)) SeekReferenceVideo(*v, seconds);
    SeekPlayback(engine, seconds);
}

void FollowPlayback(AppState& app, AudioEngine& engine, VideoPlayer* video, const AudioOutput& output,
                    float duration) {
    VideoPlayer* v = Loaded(video);
    if (app.playing) {
        app.currentTime = static_cast<float>(GetPlaybackTime(engine));
        const bool inside = v && InsideVideo(*v, app.currentTime);
        if (v && inside && !v->playing) {
            SeekReferenceVideo(*v, app.currentTime);
            PlayReferenceVideo(*v);
        } else if (v && !inside && v->playing) {
            PauseReferenceVideo(*v);
        }
    }
    if (app.playing && app.currentTime >= duration) StopAtStart(app, engine, video);
    WatchPlaybackGaps(app.playbackGaps, engine, output);
}

void SettleTransport(const DocumentContext& ctx) { SettlePlayhead(*ctx.engine, ctx.app->currentTime); }
